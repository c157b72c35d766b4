#include "qimagetexture.h"

#include <private/qsgplaintexture_p.h>

QImageTexture::QImageTexture() : QImageTexture(QImage()) {}

QImageTexture::QImageTexture(const QImage &image) : m_plainTexture(new QSGPlainTexture), m_source(image)
{
    m_plainTexture->setMipmapFiltering(QSGTexture::Linear);
    applyImage();
}

QImageTexture::~QImageTexture()
{
    delete m_plainTexture;
}

void QImageTexture::setSource(const QImage &image)
{
    m_source = image;
    applyImage();
    emit sourceChanged();
}

QSGTexture *QImageTexture::texture() const
{
    return m_plainTexture;
}

void QImageTexture::applyImage()
{
    m_plainTexture->setImage(m_source);
    emit textureChanged();
}
