#pragma once

#include <QPointer>
#include <QRectF>
#include <QSGNode>
#include <QSGTextureProvider>

class QSGSimpleTextureNode;
class TextureView;

// The scene-graph side of a TextureView; owned by the view, never by its parent node.
class TextureViewNode : public QSGTextureProvider, public QSGNode
{
    Q_OBJECT
public:
    explicit TextureViewNode(TextureView *view);
    ~TextureViewNode() override;

    QSGTexture *texture() const override;
    void preprocess() override;

    void setTargetRect(const QRectF &rect) { m_targetRect = rect; }
    QRectF targetRect() const { return m_targetRect; }
    bool hasChildNode() const { return m_childNode != nullptr; }

private:
    QRectF m_targetRect;
    QPointer<TextureView> m_view;
    QSGSimpleTextureNode *m_childNode = nullptr;
};
