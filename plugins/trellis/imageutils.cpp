#include "imageutils.h"

#include <QImageReader>
#include <QQmlFile>

ImageUtils::ImageUtils(QObject *parent) : QObject(parent) {}

QSize ImageUtils::getImageSize(const QUrl &url) const
{
    if (url.isEmpty())
        return QSize(0, 0);
    QImageReader reader(QQmlFile::urlToLocalFileOrQrc(url));
    return reader.size();
}

QImage ImageUtils::loadImage(const QUrl &url) const
{
    if (url.isEmpty())
        return QImage();
    QImage image(QQmlFile::urlToLocalFileOrQrc(url));
    if (image.isNull())
        return image;
    return image.convertToFormat(QImage::Format_RGBA8888);
}

bool ImageUtils::saveImage(const QUrl &url, const QImage &image) const
{
    if (url.isEmpty() || image.isNull())
        return false;
    return image.save(url.toLocalFile());
}

double ImageUtils::getImageDifference(const QImage &image1, const QImage &image2) const
{
    if (image1.isNull() && image2.isNull())
        return 0;
    if (image1.size() != image2.size())
        return 1000000.0;
    // 64-bit sum: 3 * 255^2 per pixel stays exact for any image size.
    quint64 sum = 0;
    for (int y = 0; y < image1.height(); ++y) {
        for (int x = 0; x < image1.width(); ++x) {
            const QRgb a = image1.pixel(x, y);
            const QRgb b = image2.pixel(x, y);
            if (a == b)
                continue;
            const qint64 dr = qRed(a) - qRed(b);
            const qint64 dg = qGreen(a) - qGreen(b);
            const qint64 db = qBlue(a) - qBlue(b);
            sum += quint64(dr * dr + dg * dg + db * db);
        }
    }
    return double(sum) / image1.width() / image1.height();
}
