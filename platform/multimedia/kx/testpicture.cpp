#include "multimedia/kx/testpicture.h"
#include "multimedia/engines/timestrip.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>

#include <cmath>
#include <cstring>
#include <map>
#include <mutex>

namespace nyx::multimedia {

namespace {
struct Yuv
{
    uchar y, u, v;
};

// BT.709, limited range: what the encoder declares.
Yuv toYuv(int r, int g, int b)
{
    const double y = 16 + (0.1826 * r + 0.6142 * g + 0.0620 * b);
    const double u = 128 + (-0.1006 * r - 0.3386 * g + 0.4392 * b);
    const double v = 128 + (0.4392 * r - 0.3989 * g - 0.0403 * b);
    auto clamp = [](double x) { return uchar(qBound(0, int(std::lround(x)), 255)); };
    return {clamp(y), clamp(u), clamp(v)};
}

void fillRect(Nv12Frame &f, QRect r, Yuv c)
{
    r = r.intersected(QRect(0, 0, f.width, f.height));
    r.setLeft(r.left() & ~1);
    r.setTop(r.top() & ~1);
    if (r.width() % 2)
        r.setWidth(r.width() - 1);
    if (r.height() % 2)
        r.setHeight(r.height() - 1);
    if (r.isEmpty())
        return;
    for (int row = r.top(); row <= r.bottom(); ++row)
        std::memset(f.y() + qsizetype(row) * f.width + r.left(), c.y, r.width());
    for (int row = r.top() / 2; row <= r.bottom() / 2; ++row) {
        uchar *p = f.uv() + qsizetype(row) * f.width + r.left();
        for (int x = 0; x < r.width(); x += 2) {
            p[x] = c.u;
            p[x + 1] = c.v;
        }
    }
}
} // namespace

namespace {
// The dark ground with 75% colour bars over the lower half.
Nv12Frame bars(int width, int height)
{
    Nv12Frame frame = Nv12Frame::create(width, height);
    if (frame.isNull())
        return frame;
    frame.fill(toYuv(32, 32, 48).y, toYuv(32, 32, 48).u, toYuv(32, 32, 48).v);
    static const int colours[7][3] = {{191, 191, 191}, {191, 191, 0}, {0, 191, 191}, {0, 191, 0},
                                      {191, 0, 191},   {191, 0, 0},   {0, 0, 191}};
    const int top = height / 2 + height / 20;
    for (int i = 0; i < 7; ++i)
        fillRect(frame, QRect(i * width / 7, top, (i + 1) * width / 7 - i * width / 7 + 1, height - top),
                 toYuv(colours[i][0], colours[i][1], colours[i][2]));
    return frame;
}

// How far the camera style's view pans from the middle, in pixels (even).
constexpr int kPan = 64;
// Grain patterns taken in turn: each frame's grain differs from the one before, as a sensor's does.
constexpr int kGrains = 4;
} // namespace

// The camera style's scene: the bars, larger than the picture by the pan on every side, under
// kGrains different grains. Shared by every picture of its size (immutable once made).
struct TestPicture::Scene
{
    int width = 0;
    int height = 0;
    Nv12Frame grained[kGrains];
};

std::shared_ptr<const TestPicture::Scene> TestPicture::sceneFor(int width, int height)
{
    static std::mutex mutex;
    static std::map<std::pair<int, int>, std::shared_ptr<const Scene>> scenes;
    std::lock_guard<std::mutex> lock(mutex);
    auto &scene = scenes[{width, height}];
    if (scene)
        return scene;
    auto made = std::make_shared<Scene>();
    made->width = width + 2 * kPan;
    made->height = height + 2 * kPan;
    const Nv12Frame ground = bars(made->width, made->height);
    if (ground.isNull())
        return nullptr;
    quint32 state = 0x9e3779b9u; // xorshift: the same scene in every run
    const auto next = [&state] {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    };
    for (Nv12Frame &frame : made->grained) {
        frame = ground;
        uchar *p = frame.y();
        const qsizetype size = frame.data.size();
        for (qsizetype i = 0; i < size; ++i) {
            // Luma grain of +-20, chroma grain of +-6.
            const int amount =
                i < qsizetype(made->width) * made->height ? int(next() % 41) - 20 : int(next() % 13) - 6;
            p[i] = uchar(qBound(16, p[i] + amount, 240));
        }
    }
    scene = made;
    return scene;
}

TestPicture::Style TestPicture::styleFromName(const QString &name, bool *ok)
{
    const bool camera = name == QLatin1String("camera");
    if (ok)
        *ok = camera || name == QLatin1String("test");
    return camera ? Style::Camera : Style::Test;
}

TestPicture::Style TestPicture::boardStyle()
{
    return styleFromName(qEnvironmentVariable("NYX_KX_PICTURE"));
}

TestPicture::TestPicture(const QString &name, int width, int height, int framesPerSecond, Style style)
    : m_name(name), m_width(width), m_height(height), m_fps(qMax(1, framesPerSecond)), m_style(style)
{
    m_background = bars(width, height);
    if (m_background.isNull())
        return;
    if (style == Style::Camera)
        m_scene = sceneFor(width, height);

    const int textHeight = height / 10;
    m_title = renderText(name, textHeight * 2 / 3, width * 3 / 4, textHeight);
    blit(m_background, m_title, width / 16, height / 10);
    m_clockWidth = width / 4;
    m_digitWidth = textHeight / 2;
    if (!qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        return;
    QFont font(QStringLiteral("DejaVu Sans Mono"));
    font.setPixelSize(qMax(8, textHeight * 2 / 3));
    font.setBold(true);
    m_clockWidth = (QFontMetrics(font).horizontalAdvance(QStringLiteral("00:00:00:")) + 3) & ~1;
    m_digitWidth = (QFontMetrics(font).horizontalAdvance(QLatin1Char('0')) + 1) & ~1;
    for (int d = 0; d < 10; ++d)
        m_digits[d] = renderText(QString::number(d), textHeight * 2 / 3, m_digitWidth, textHeight);
}

TestPicture::Patch TestPicture::renderText(const QString &text, int pixelSize, int width, int height) const
{
    QImage image((width + 1) & ~1, (height + 1) & ~1, QImage::Format_RGB32);
    image.fill(QColor(32, 32, 48));
    // Fonts need the GUI application; a program without one gets the picture without its texts.
    if (!qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        return toPatch(image);
    QPainter painter(&image);
    QFont font(QStringLiteral("DejaVu Sans Mono"));
    font.setPixelSize(qMax(8, pixelSize));
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(QColor(235, 235, 235));
    painter.drawText(image.rect(), Qt::AlignLeft | Qt::AlignVCenter, text);
    painter.end();
    return toPatch(image);
}

TestPicture::Patch TestPicture::toPatch(const QImage &image)
{
    Patch p;
    p.width = image.width();
    p.height = image.height();
    p.y.resize(p.width * p.height);
    p.uv.resize(p.width * p.height / 2);
    for (int row = 0; row < p.height; ++row) {
        const QRgb *line = reinterpret_cast<const QRgb *>(image.constScanLine(row));
        for (int x = 0; x < p.width; ++x)
            p.y[row * p.width + x] = char(toYuv(qRed(line[x]), qGreen(line[x]), qBlue(line[x])).y);
    }
    for (int row = 0; row < p.height / 2; ++row) {
        const QRgb *a = reinterpret_cast<const QRgb *>(image.constScanLine(2 * row));
        const QRgb *b = reinterpret_cast<const QRgb *>(image.constScanLine(2 * row + 1));
        for (int x = 0; x < p.width; x += 2) {
            const int r = (qRed(a[x]) + qRed(a[x + 1]) + qRed(b[x]) + qRed(b[x + 1])) / 4;
            const int g = (qGreen(a[x]) + qGreen(a[x + 1]) + qGreen(b[x]) + qGreen(b[x + 1])) / 4;
            const int bl = (qBlue(a[x]) + qBlue(a[x + 1]) + qBlue(b[x]) + qBlue(b[x + 1])) / 4;
            const Yuv c = toYuv(r, g, bl);
            p.uv[row * p.width + x] = char(c.u);
            p.uv[row * p.width + x + 1] = char(c.v);
        }
    }
    return p;
}

void TestPicture::blit(Nv12Frame &frame, const Patch &patch, int x, int y)
{
    x &= ~1;
    y &= ~1;
    const int w = qMin(patch.width, frame.width - x);
    const int h = qMin(patch.height, frame.height - y);
    if (w <= 0 || h <= 0 || x < 0 || y < 0)
        return;
    for (int row = 0; row < h; ++row)
        std::memcpy(frame.y() + qsizetype(y + row) * frame.width + x, patch.y.constData() + row * patch.width,
                    w);
    for (int row = 0; row < h / 2; ++row)
        std::memcpy(frame.uv() + qsizetype(y / 2 + row) * frame.width + x,
                    patch.uv.constData() + row * patch.width, w & ~1);
}

QRect TestPicture::clockRect() const
{
    const int textHeight = m_height / 10;
    return QRect(m_width / 16 & ~1, (m_height / 10 + textHeight + textHeight / 4) & ~1,
                 m_clockWidth + 2 * m_digitWidth, textHeight);
}

QRect TestPicture::frameDigitsRect() const
{
    QRect digits = clockRect();
    digits.setLeft(digits.left() + m_clockWidth);
    return digits;
}

int TestPicture::boxX(qint64 index) const
{
    const int box = m_height / 9;
    const int travel = qMax(2, m_width - box);
    // Back and forth across the picture, 16 lines per frame at 1080p.
    const qint64 step = qMax(2, m_height / 68);
    const qint64 pos = (index * step) % (2 * travel);
    return int(pos < travel ? pos : 2 * travel - pos) & ~1;
}

QRect TestPicture::boxRect(qint64 index) const
{
    const int box = (m_height / 9) & ~1;
    return QRect(boxX(index), m_height * 4 / 10, box, box);
}

Nv12Frame TestPicture::render(qint64 index, qint64 time, const QDateTime &wallClock)
{
    if (m_background.isNull())
        return {};
    Nv12Frame frame;
    if (m_scene) {
        // The view of the scene this frame shows: its grain, panned along a slow ellipse.
        const Nv12Frame &scene = m_scene->grained[index % kGrains];
        const double phase = 2 * M_PI * double(index);
        const int dx = (kPan + int(std::lround(kPan * std::sin(phase / 250)))) & ~1;
        const int dy = (kPan + int(std::lround(kPan * std::cos(phase / 170)))) & ~1;
        frame = Nv12Frame::create(m_width, m_height);
        for (int row = 0; row < m_height; ++row)
            std::memcpy(frame.y() + qsizetype(row) * m_width,
                        scene.y() + qsizetype(row + dy) * scene.width + dx, m_width);
        for (int row = 0; row < m_height / 2; ++row)
            std::memcpy(frame.uv() + qsizetype(row) * m_width,
                        scene.uv() + qsizetype(row + dy / 2) * scene.width + dx, m_width);
        blit(frame, m_title, m_width / 16, m_height / 10);
    } else {
        frame = m_background; // copied on the first write below
        frame.data.detach();
    }
    const qint64 second = wallClock.toSecsSinceEpoch();
    const int textHeight = m_height / 10;
    if (second != m_clockSecond) {
        m_clockSecond = second;
        m_clock = renderText(wallClock.toString(QStringLiteral("HH:mm:ss:")), textHeight * 2 / 3,
                             m_clockWidth, textHeight);
    }
    const int clockY = m_height / 10 + textHeight + textHeight / 4;
    blit(frame, m_clock, m_width / 16, clockY);
    // Frame within the second, two digits after the clock, from the same time as its seconds: a
    // count of frames since the input started would roll over anywhere within the second.
    const int inSecond = int(qint64(wallClock.time().msec()) * m_fps / 1000);
    const int digitsX = m_width / 16 + m_clockWidth;
    blit(frame, m_digits[(inSecond / 10) % 10], digitsX, clockY);
    blit(frame, m_digits[inSecond % 10], digitsX + m_digitWidth, clockY);
    fillRect(frame, boxRect(index), toYuv(255, 255, 255));
    TimeStrip::draw(frame, quint64(time));
    return frame;
}

} // namespace nyx::multimedia
