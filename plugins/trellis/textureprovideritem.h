#pragma once

#include <QPointer>
#include <QQuickItem>

// An item that acts as the texture provider of another item.
class TextureProviderItem : public QQuickItem
{
    Q_OBJECT
    Q_PROPERTY(
        QQuickItem *textureProvider READ providerItem WRITE setProviderItem NOTIFY textureProviderChanged)
public:
    explicit TextureProviderItem(QQuickItem *parent = nullptr);

    QQuickItem *providerItem() const { return m_textureProvider; }
    void setProviderItem(QQuickItem *item);

    bool isTextureProvider() const override { return true; }
    QSGTextureProvider *textureProvider() const override;

signals:
    void textureProviderChanged();

private:
    QPointer<QQuickItem> m_textureProvider;
};
