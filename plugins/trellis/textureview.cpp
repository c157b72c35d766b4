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

TextureView::~TextureView()
{
    // A node that never reached the scene graph (made for a consumer asking for the provider) is ours;
    // once in the scene graph it is deleted there, on the render thread.
    if (m_node && !m_node->QSGNode::parent())
        delete m_node.data();
}

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
    return TextureViewNode::textureOf(m_sourceProvider);
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
        m_node = new TextureViewNode;
    // Not in the scene graph yet (asked for before the first frame): nobody renders it, so it follows
    // the view here; once drawn, it follows at each synchronisation.
    if (!m_node->QSGNode::parent()) {
        m_node->setSourceProvider(m_sourceProvider);
        m_node->setSourceRect(m_sourceRect);
    }
    return m_node;
}

void TextureView::markNodeDirty()
{
    // The node belongs to the render thread: it is marked at the next synchronisation.
    m_materialDirty = true;
}

QSGTextureProvider *TextureView::textureProvider() const
{
    if (QQuickItem::isTextureProvider())
        return QQuickItem::textureProvider();
    return textureNode();
}

QSGNode *TextureView::updatePaintNode(QSGNode *oldNode, UpdatePaintNodeData *)
{
    // An item source that has only now been put into a window gets its provider here.
    setTextureProvider(providerOf(m_source));
    // The scene graph owns the node it was given; a node made earlier for a consumer joins it now.
    auto *node = static_cast<TextureViewNode *>(oldNode);
    if (!node)
        node = textureNode();
    m_node = node;
    node->setSourceProvider(m_sourceProvider);
    node->setSourceRect(m_sourceRect);
    node->setTargetRect(boundingRect());
    if (m_materialDirty) {
        m_materialDirty = false;
        node->markDirty(QSGNode::DirtyMaterial);
    }
    return node;
}
