#pragma once

#include <QColor>
#include <QObject>
#include <QRect>
#include <QRectF>
#include <QVariantList>
#include <QVector2D>
#include <QVector>

class QQuickItem;
class QSGTexture;

// Reads texels of a texture-provider item: raw pixels, their average colour, or where a hue lies.
class ColorPicker : public QObject
{
    Q_OBJECT
public:
    explicit ColorPicker(QObject *parent = nullptr);

    Q_INVOKABLE QColor pick(QQuickItem *item, float x, float y);
    Q_INVOKABLE QVariantList pick(QQuickItem *item, const QRectF &rect);
    Q_INVOKABLE QColor pickAverage(QQuickItem *item, const QRectF &rect);
    Q_INVOKABLE QVector2D pickColor(QQuickItem *item, const QColor &color, const QRectF &rect);

    QRect lastRect() const { return m_lastRect; }
    const QVector<uint> &pixels() const { return m_pixels; }

    // Texel rectangle of an item rectangle; empty when it lies outside the texture or cannot be mapped.
    static QRect textureRectForItemRect(const QQuickItem *item, const QSGTexture *texture,
                                        const QRectF &rect);

private:
    QSGTexture *textureOfItem(QQuickItem *item) const;
    bool readTextureData(QQuickItem *item, const QRectF &rect);

    QRect m_lastRect;
    QVector<uint> m_pixels;
};
