#include "textureprovideritem.h"

#include "trellislogging.h"

TextureProviderItem::TextureProviderItem(QQuickItem *parent) : QQuickItem(parent) {}

void TextureProviderItem::setProviderItem(QQuickItem *item)
{
    if (item == m_textureProvider)
        return;
    if (item == this) {
        qCWarning(lcTrellis) << "TextureProviderItem: an item cannot provide for itself.";
        return;
    }
    m_textureProvider = item;
    emit textureProviderChanged();
}

QSGTextureProvider *TextureProviderItem::textureProvider() const
{
    if (QQuickItem::isTextureProvider())
        return QQuickItem::textureProvider();
    return m_textureProvider ? m_textureProvider->textureProvider() : nullptr;
}
