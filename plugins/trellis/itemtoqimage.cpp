#include "itemtoqimage.h"

#include "glreadback.h"
#include "luster/luster.h"
#include "trellislogging.h"

#include <QSGTexture>

ItemToQImage::ItemToQImage(QObject *parent) : QObject(parent) {}

void ItemToQImage::setSource(QQuickItem *source)
{
    if (source == m_source)
        return;
    m_source = source;
    emit sourceChanged();
}

void ItemToQImage::update()
{
    QImage image;
    QVector<unsigned int> errors;
    if (m_source && m_source->isTextureProvider()) {
        QQuickItem *source = m_source;
        readInSceneGraph(source, [&] {
            QSGTexture *texture = providerTexture(source);
            updateDynamicTexture(texture);
            image = readTextureImage(texture);
            errors = takeGlErrors();
        });
    } else {
        if (m_source)
            qCWarning(lcTrellis) << "ItemToQImage: source should be textureProvider.";
        Luster::makeCurrent();
    }
    m_image = image;
    emit imageChanged();
    // Errors are reported once the image has been announced; those of this thread's context too.
    errors += takeGlErrors();
    reportGlErrors(errors, "ItemToQImage::update");
}

QColor ItemToQImage::getPixel(int x, int y) const
{
    if (!m_image.valid(x, y)) {
        qCWarning(lcTrellis) << "ItemToQImage: pixel" << x << y << "lies outside the image of size"
                             << m_image.size();
        return QColor(Qt::transparent);
    }
    return QColor::fromRgba(m_image.pixel(x, y));
}
