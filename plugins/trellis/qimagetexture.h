#pragma once

#include <QImage>
#include <QSGTextureProvider>

class QSGPlainTexture;

// A texture provider whose texture is made from an image set from QML.
class QImageTexture : public QSGTextureProvider
{
    Q_OBJECT
    Q_PROPERTY(QImage source READ source WRITE setSource NOTIFY sourceChanged)
public:
    QImageTexture();
    explicit QImageTexture(const QImage &image);
    ~QImageTexture() override;

    QImage source() const { return m_source; }
    void setSource(const QImage &image);

    QSGTexture *texture() const override;

signals:
    void sourceChanged();

private:
    void applyImage();

    QSGPlainTexture *m_plainTexture;
    QImage m_source;
};
