#include "textureview.h"

#include "textureviewnode.h"
#include "trellislogging.h"

#include <QQuickWindow>
#include <QSGTextureProvider>
#include <QScopedValueRollback>

TextureView::TextureView(QQuickItem *parent) : QQuickItem(parent)
{
    setFlag(QQuickItem::ItemHasContents);
}

TextureView::~TextureView() = default;

QSGTextureProvider *TextureView::providerOf(QObject *source)
{
    if (!source)
        return nullptr;
    if (auto *provider = qobject_cast<QSGTextureProvider *>(source))
        return provider;
    auto *item = qobject_cast<QQuickItem *>(source);
    if (item && item->isTextureProvider() && item->window())
        return item->textureProvider();
    return nullptr;
}

void TextureView::setTextureProvider(QSGTextureProvider *provider)
{
    if (provider == m_sourceProvider)
        return;
    if (m_sourceProvider)
        disconnect(m_sourceProvider, &QSGTextureProvider::textureChanged, this,
                   &TextureView::onSourceTextureChanged);
    m_sourceProvider = provider;
    if (provider)
        connect(provider, &QSGTextureProvider::textureChanged, this, &TextureView::onSourceTextureChanged);
    onSourceTextureChanged();
}

void TextureView::setSource(QObject *source)
{
    if (source == m_source)
        return;
    if (source == this) {
        qCWarning(lcTrellis) << "TextureView: a view cannot show itself.";
        return;
    }
    setTextureProvider(nullptr);
    m_source = source;
    setTextureProvider(providerOf(source));
    update();
    emit sourceChanged();
}

void TextureView::setSourceRect(const QRectF &rect)
{
    if (rect == m_sourceRect)
        return;
    m_sourceRect = rect;
    updateImplicitSize();
    update();
    markNodeDirty();
    emit sourceRectChanged();
}

void TextureView::onSourceTextureChanged()
{
    // Views that show each other would pass the change round for ever.
    if (m_forwardingTextureChange)
        return;
    const QScopedValueRollback<bool> forwarding(m_forwardingTextureChange, true);
    updateImplicitSize();
    update();
    markNodeDirty();
    if (m_node)
        emit m_node->textureChanged();
}

QSGTexture *TextureView::sourceTexture() const
{
    // Views that show each other (directly or through forwarding items) would ask one another for
    // ever; the depth bound turns such a cycle into "no texture".
    static thread_local int depth = 0;
    if (!m_sourceProvider || depth >= kMaxProviderChain)
        return nullptr;
    ++depth;
    QSGTexture *texture = m_sourceProvider->texture();
    --depth;
    return texture;
}

void TextureView::updateImplicitSize()
{
    if (m_sourceRect.width() != kWholeTexture && m_sourceRect.height() != kWholeTexture) {
        setImplicitSize(qreal(float(qAbs(m_sourceRect.width()))), qreal(float(qAbs(m_sourceRect.height()))));
        return;
    }
    QSGTexture *texture = sourceTexture();
    const QSize size = texture ? texture->textureSize() : QSize(0, 0);
    setImplicitSize(qMax(0, size.width()), qMax(0, size.height()));
}

TextureViewNode *TextureView::textureNode() const
{
    if (!m_node)
        m_node = new TextureViewNode(const_cast<TextureView *>(this));
    return m_node;
}

void TextureView::markNodeDirty()
{
    if (m_node)
        m_node->markDirty(QSGNode::DirtyMaterial);
}

QSGTextureProvider *TextureView::textureProvider() const
{
    if (QQuickItem::isTextureProvider())
        return QQuickItem::textureProvider();
    return textureNode();
}

QSGNode *TextureView::updatePaintNode(QSGNode *, UpdatePaintNodeData *)
{
    // An item source that has only now been put into a window gets its provider here.
    setTextureProvider(providerOf(m_source));
    TextureViewNode *node = textureNode();
    node->setTargetRect(boundingRect());
    return node;
}
