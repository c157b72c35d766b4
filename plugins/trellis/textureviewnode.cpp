#include "textureviewnode.h"

#include "glreadback.h"
#include "textureview.h"

#include <QSGSimpleTextureNode>
#include <QSGTexture>
#include <QSGTextureMaterial>

TextureViewNode::TextureViewNode(TextureView *view) : m_view(view)
{
    setParent(view);
    setFlag(QSGNode::OwnedByParent, false);
    setFlag(QSGNode::UsePreprocess, true);
}

TextureViewNode::~TextureViewNode() = default; // the child node is owned by this node as its parent

QSGTexture *TextureViewNode::texture() const
{
    return m_view ? m_view->sourceTexture() : nullptr;
}

void TextureViewNode::preprocess()
{
    QRectF rect = m_view ? m_view->sourceRect() : QRectF(0, 0, 0, 0);
    QSGTexture *texture = nullptr;
    if (m_view && rect.width() != 0 && rect.height() != 0)
        texture = m_view->sourceTexture();
    updateDynamicTexture(texture);
    if (!texture) {
        if (m_childNode) {
            removeChildNode(m_childNode);
            delete m_childNode;
            m_childNode = nullptr;
        }
        return;
    }
    if (!m_childNode) {
        m_childNode = new QSGSimpleTextureNode;
        appendChildNode(m_childNode);
    }
    if (rect.width() == TextureView::kWholeTexture || rect.height() == TextureView::kWholeTexture)
        rect = QRectF(QPointF(0, 0), texture->textureSize());
    m_childNode->setTexture(texture);
    m_childNode->setSourceRect(rect);
    m_childNode->setFiltering(texture->filtering());
    static_cast<QSGOpaqueTextureMaterial *>(m_childNode->material())
        ->setMipmapFiltering(texture->mipmapFiltering());
    static_cast<QSGOpaqueTextureMaterial *>(m_childNode->opaqueMaterial())
        ->setMipmapFiltering(texture->mipmapFiltering());
    m_childNode->setRect(m_targetRect);
}
