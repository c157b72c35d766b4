#include "textureviewnode.h"

#include "glreadback.h"
#include "textureview.h"

#include <QSGSimpleTextureNode>
#include <QSGTexture>
#include <QSGTextureMaterial>

TextureViewNode::TextureViewNode()
{
    setFlag(QSGNode::UsePreprocess, true);
}

TextureViewNode::~TextureViewNode() = default; // the child node is owned by this node as its parent

QSGTexture *TextureViewNode::textureOf(QSGTextureProvider *provider)
{
    // Views that show each other (directly or through forwarding items) would ask one another for
    // ever; the depth bound turns such a cycle into "no texture".
    static thread_local int depth = 0;
    if (!provider || depth >= TextureView::kMaxProviderChain)
        return nullptr;
    ++depth;
    QSGTexture *texture = provider->texture();
    --depth;
    return texture;
}

QSGTexture *TextureViewNode::texture() const
{
    return textureOf(m_provider);
}

void TextureViewNode::preprocess()
{
    QRectF rect = m_sourceRect;
    QSGTexture *texture = nullptr;
    if (rect.width() != 0 && rect.height() != 0)
        texture = textureOf(m_provider);
    updateDynamicTexture(texture);
    if (!texture) {
        if (m_childNode) {
            removeChildNode(m_childNode);
            delete m_childNode;
            m_childNode = nullptr;
        }
        return;
    }
    if (rect.width() == TextureView::kWholeTexture || rect.height() == TextureView::kWholeTexture)
        rect = QRectF(QPointF(0, 0), texture->textureSize());
    // The child joins the tree only once it has its texture: a renderer (the software one) reads the
    // texture of a textured node as soon as the node is added.
    const bool added = !m_childNode;
    if (added)
        m_childNode = new QSGSimpleTextureNode;
    m_childNode->setTexture(texture);
    m_childNode->setSourceRect(rect);
    m_childNode->setFiltering(texture->filtering());
    static_cast<QSGOpaqueTextureMaterial *>(m_childNode->material())
        ->setMipmapFiltering(texture->mipmapFiltering());
    static_cast<QSGOpaqueTextureMaterial *>(m_childNode->opaqueMaterial())
        ->setMipmapFiltering(texture->mipmapFiltering());
    m_childNode->setRect(m_targetRect);
    if (added)
        appendChildNode(m_childNode);
}
