#pragma once

#include <QImage>
#include <QObject>
#include <QSize>
#include <QUrl>

// Image-file functions for QML.
class ImageUtils : public QObject
{
    Q_OBJECT
public:
    explicit ImageUtils(QObject *parent = nullptr);

    Q_INVOKABLE QSize getImageSize(const QUrl &url) const;
    Q_INVOKABLE QImage loadImage(const QUrl &url) const;
    Q_INVOKABLE bool saveImage(const QUrl &url, const QImage &image) const;
    // Mean squared RGB difference per pixel; 1000000 for images of different sizes.
    Q_INVOKABLE double getImageDifference(const QImage &image1, const QImage &image2) const;
};
