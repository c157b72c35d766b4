#pragma once

#include <QColor>
#include <QImage>
#include <QObject>
#include <QPointer>
#include <QQuickItem>

// Reads a texture-provider item's texture into an image.
class ItemToQImage : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QQuickItem *source READ source WRITE setSource NOTIFY sourceChanged)
    Q_PROPERTY(QImage image READ image NOTIFY imageChanged)
public:
    explicit ItemToQImage(QObject *parent = nullptr);

    QQuickItem *source() const { return m_source; }
    void setSource(QQuickItem *source);
    QImage image() const { return m_image; }

    Q_INVOKABLE void update();
    Q_INVOKABLE QColor getPixel(int x, int y) const;

signals:
    void sourceChanged();
    void imageChanged();

private:
    QPointer<QQuickItem> m_source;
    QImage m_image;
};
