#include "textureprovideritem.h"

#include "textureview.h"
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
    // Items that forward to each other would ask one another for ever; a cycle has no provider.
    static thread_local int depth = 0;
    if (!m_textureProvider || depth >= TextureView::kMaxProviderChain)
        return nullptr;
    ++depth;
    QSGTextureProvider *provider = m_textureProvider->textureProvider();
    --depth;
    return provider;
}
