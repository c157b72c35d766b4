#pragma once

#include <QPointer>
#include <QRectF>
#include <QSGNode>
#include <QSGTextureProvider>

class QSGSimpleTextureNode;

// The scene-graph side of a TextureView. It lives on the render thread and is owned by the scene
// graph like any paint node; what it draws is copied from its view at every synchronisation, so the
// render pass never reads the view itself. An (identity) transform node rather than a plain one: the
// software renderer keeps state only for such nodes, and a child added to a plain node later, once a
// texture has come, would be drawn without the item's transform.
class TextureViewNode : public QSGTextureProvider, public QSGTransformNode
{
    Q_OBJECT
public:
    TextureViewNode();
    ~TextureViewNode() override;

    QSGTexture *texture() const override;
    void preprocess() override;

    // Synchronisation (the GUI thread is blocked meanwhile).
    void setSourceProvider(QSGTextureProvider *provider) { m_provider = provider; }
    void setSourceRect(const QRectF &rect) { m_sourceRect = rect; }
    void setTargetRect(const QRectF &rect) { m_targetRect = rect; }
    QRectF targetRect() const { return m_targetRect; }
    bool hasChildNode() const { return m_childNode != nullptr; }

    // The texture of a provider; a cycle of views showing each other gives none.
    static QSGTexture *textureOf(QSGTextureProvider *provider);

private:
    QRectF m_targetRect;
    QRectF m_sourceRect{0, 0, 0, 0};
    QPointer<QSGTextureProvider> m_provider;
    QSGSimpleTextureNode *m_childNode = nullptr;
};
