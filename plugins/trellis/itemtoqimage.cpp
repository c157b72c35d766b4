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
    Luster::makeCurrent();
    QSGTexture *texture = nullptr;
    if (m_source) {
        if (m_source->isTextureProvider())
            texture = providerTexture(m_source);
        else
            qCWarning(lcTrellis) << "ItemToQImage: source should be textureProvider.";
    }
    updateDynamicTexture(texture);
    m_image = readTextureImage(texture);
    emit imageChanged();
    checkGlErrors("ItemToQImage::update");
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
