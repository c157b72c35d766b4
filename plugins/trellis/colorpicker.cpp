#include "colorpicker.h"

#include "glreadback.h"
#include "luster/luster.h"
#include "trellislogging.h"

#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QQuickItem>
#include <QSGTexture>
#include <QSGTextureProvider>

#include <cmath>
#include <cstdlib>

#ifndef GL_BGRA
#define GL_BGRA 0x80E1
#endif

namespace {
// Bound for texel coordinates before they become integers: far beyond any texture, far below overflow.
constexpr double kCoordinateLimit = 1 << 28;

bool toTexel(double value, int *out)
{
    if (!std::isfinite(value))
        return false;
    *out = int(qBound(-kCoordinateLimit, value, kCoordinateLimit));
    return true;
}

// Start and length of a span; a huge span keeps its clamped far edge, so it still covers the texture.
bool toTexelSpan(double start, double length, int *outStart, int *outLength)
{
    if (!toTexel(start, outStart) || !toTexel(length, outLength) || !std::isfinite(start + length))
        return false;
    if (qAbs(start) >= kCoordinateLimit || qAbs(length) >= kCoordinateLimit)
        *outLength = int(qBound(-kCoordinateLimit, start + length, kCoordinateLimit)) - *outStart;
    return true;
}

int channel(uint word, int shift)
{
    return int((word >> shift) & 0xff);
}
} // namespace

ColorPicker::ColorPicker(QObject *parent) : QObject(parent) {}

QSGTexture *ColorPicker::textureOfItem(QQuickItem *item) const
{
    if (!item)
        return nullptr;
    if (!item->isTextureProvider()) {
        qCWarning(lcTrellis) << "ColorPicker: item should be textureProvider.";
        return nullptr;
    }
    QSGTextureProvider *provider = item->textureProvider();
    return provider ? provider->texture() : nullptr;
}

QRect ColorPicker::textureRectForItemRect(const QQuickItem *item, const QSGTexture *texture,
                                          const QRectF &rect)
{
    if (!item || !texture || !(item->width() > 0) || !(item->height() > 0))
        return QRect();
    const QSize textureSize = texture->textureSize();
    if (textureSize.isEmpty())
        return QRect();
    int iw = 0;
    int ih = 0;
    if (!toTexel(item->width(), &iw) || !toTexel(item->height(), &ih) || iw <= 0 || ih <= 0)
        return QRect(); // a sub-pixel item has no texel scale
    const double tw = textureSize.width();
    const double th = textureSize.height();
    int x = 0, y = 0, w = 0, h = 0;
    if (!toTexelSpan(rect.x() / iw * tw, rect.width() / iw * tw, &x, &w) ||
        !toTexelSpan(rect.y() / ih * th, rect.height() / ih * th, &y, &h))
        return QRect();
    return QRect(x, y, qMax(w, 1), qMax(h, 1)) & QRect(QPoint(0, 0), textureSize);
}

bool ColorPicker::readTextureData(QQuickItem *item, const QRectF &rect)
{
    m_pixels.clear();
    if (!item || !item->isTextureProvider()) {
        Luster::makeCurrent();
        textureOfItem(item); // says why nothing is read
        return false;
    }
    bool read = false;
    QVector<unsigned int> errors;
    readInSceneGraph(item, [&] {
        QSGTexture *texture = textureOfItem(item);
        if (!texture)
            return;
        updateDynamicTexture(texture);
        m_lastRect = textureRectForItemRect(item, texture, rect);
        if (m_lastRect.isEmpty())
            return;
        QOpenGLContext *context = QOpenGLContext::currentContext();
        if (!context || !Luster::setRenderTarget(texture, 0)) {
            errors = takeGlErrors();
            return;
        }
        m_pixels.resize(m_lastRect.width() * m_lastRect.height());
        QOpenGLFunctions *f = context->functions();
        f->glPixelStorei(GL_PACK_ALIGNMENT, 4);
        f->glReadPixels(m_lastRect.x(), m_lastRect.y(), m_lastRect.width(), m_lastRect.height(), GL_BGRA,
                        GL_UNSIGNED_BYTE, m_pixels.data());
        Luster::disableRenderTarget();
        errors = takeGlErrors();
        read = true;
    });
    reportGlErrors(errors, "ColorPicker::readTextureData");
    return read;
}

QColor ColorPicker::pick(QQuickItem *item, float x, float y)
{
    return pickAverage(item, QRectF(qreal(x), qreal(y), 0, 0));
}

QVariantList ColorPicker::pick(QQuickItem *item, const QRectF &rect)
{
    QVariantList result;
    if (!readTextureData(item, rect))
        return result;
    result.reserve(m_pixels.size());
    for (uint word : qAsConst(m_pixels))
        result.append(int(word));
    return result;
}

QColor ColorPicker::pickAverage(QQuickItem *item, const QRectF &rect)
{
    const QColor black(0, 0, 0, 255);
    if (!readTextureData(item, rect) || m_pixels.isEmpty())
        return black;
    // Integer sums stay exact however large the area is.
    quint64 r = 0, g = 0, b = 0, a = 0;
    for (uint word : qAsConst(m_pixels)) {
        r += quint64(channel(word, 16));
        g += quint64(channel(word, 8));
        b += quint64(channel(word, 0));
        a += quint64(channel(word, 24));
    }
    const double count = m_pixels.size();
    const double avgA = double(a) / count;
    if (avgA < 1)
        return black;
    // Scene-graph textures are premultiplied: dividing by the average alpha undoes it.
    const double k = 255.0 / avgA;
    auto scaled = [&](quint64 sum) { return qBound(0, int(double(sum) / count * k), 255); };
    return QColor(scaled(r), scaled(g), scaled(b), 255);
}

QVector2D ColorPicker::pickColor(QQuickItem *item, const QColor &color, const QRectF &rect)
{
    const QVector2D none(-1, -1);
    if (!readTextureData(item, rect) || m_lastRect.isEmpty())
        return none;
    int tR = color.red(), tG = color.green(), tB = color.blue();
    const int s = tR + tG + tB;
    if (s != 0) {
        tR = tR * 255 / s;
        tG = tG * 255 / s;
        tB = tB * 255 / s;
    }
    int best = -1;
    int bestDistance = 0;
    for (int i = 0; i < m_pixels.size(); ++i) {
        const uint word = m_pixels.at(i);
        const int R = channel(word, 16), G = channel(word, 8), B = channel(word, 0);
        const int l = R + G + B;
        if (l < s)
            continue;
        // A black pixel (l == 0, only with a black target) has chromaticity 0, 0, 0.
        const int cB = l ? B * 255 / l : 0;
        const int cG = l ? G * 255 / l : 0;
        const int cR = l ? R * 255 / l : 0;
        const int distance = std::abs(cB - tB) + std::abs(cG - tG) + std::abs(cR - tR);
        if (best < 0 || distance < bestDistance) {
            best = i;
            bestDistance = distance;
        }
    }
    if (best < 0)
        return none;
    const qint64 w = m_lastRect.width();
    const qint64 h = m_lastRect.height();
    const qint64 column = best % w;
    const qint64 row = best / w;
    // The read succeeded, so the item's size is finite; the clamp keeps a huge one a valid integer.
    int iw = 0, ih = 0;
    toTexel(item->width(), &iw);
    toTexel(item->height(), &ih);
    return QVector2D(float(column * iw / w), float(row * ih / h));
}
