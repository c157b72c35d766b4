#pragma once

#include <QImage>
#include <QSharedPointer>
#include <private/qquickshadereffectsource_p.h>

// Renders its QML children, held in an inner item, into its texture without showing them.
class OffscreenItem : public QQuickShaderEffectSource
{
    Q_OBJECT
    Q_PROPERTY(QQmlListProperty<QObject> data READ data)
public:
    explicit OffscreenItem(QQuickItem *parent = nullptr);
    ~OffscreenItem() override;

    QQmlListProperty<QObject> data();
    QQuickItem *innerItem() const { return m_innerItem.data(); }

    Q_INVOKABLE void forceUpdate();
    Q_INVOKABLE QImage grabToImage();

public slots:
    void onWidthChanged();
    void onHeightChanged();

private:
    QSharedPointer<QQuickItem> m_innerItem;
};
