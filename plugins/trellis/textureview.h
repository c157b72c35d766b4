#pragma once

#include <QPointer>
#include <QQuickItem>
#include <QRectF>

class QSGTextureProvider;
class QSGTexture;
class TextureViewNode;

// Draws another provider's texture (or a texel sub-rectangle of it) over its bounds, and passes the
// whole source texture on as a provider itself.
class TextureView : public QQuickItem
{
    Q_OBJECT
    Q_PROPERTY(QObject *source READ source WRITE setSource NOTIFY sourceChanged)
    Q_PROPERTY(QRectF sourceRect READ sourceRect WRITE setSourceRect NOTIFY sourceRectChanged)
public:
    // A width or height of exactly this value selects the whole texture.
    static constexpr qreal kWholeTexture = -9999999;
    // Longest chain of views and forwarding items followed to a texture.
    static constexpr int kMaxProviderChain = 64;

    explicit TextureView(QQuickItem *parent = nullptr);
    ~TextureView() override;

    QObject *source() const { return m_source; }
    void setSource(QObject *source);
    QRectF sourceRect() const { return m_sourceRect; }
    void setSourceRect(const QRectF &rect);

    QSGTexture *sourceTexture() const;

    bool isTextureProvider() const override { return true; }
    QSGTextureProvider *textureProvider() const override;

public slots:
    void onSourceTextureChanged();

signals:
    void sourceChanged();
    void sourceRectChanged();

protected:
    QSGNode *updatePaintNode(QSGNode *oldNode, UpdatePaintNodeData *data) override;

private:
    static QSGTextureProvider *providerOf(QObject *source);
    void setTextureProvider(QSGTextureProvider *provider);
    void updateImplicitSize();
    TextureViewNode *textureNode() const;
    void markNodeDirty();

    QPointer<QObject> m_source;
    QPointer<QSGTextureProvider> m_sourceProvider;
    mutable QPointer<TextureViewNode> m_node;
    QRectF m_sourceRect{0, 0, kWholeTexture, kWholeTexture};
    bool m_forwardingTextureChange = false;
    bool m_materialDirty = false;
};
