#include "multimedia/video/videooutputitem.h"

#include <QMutexLocker>
#include <QQuickWindow>
#include <QSGSimpleTextureNode>

extern "C" {
#include <libswscale/swscale.h>
}

namespace nyx::multimedia {

namespace {
// A texture node that owns the texture of the frame it shows and frees it when the next one arrives.
class FrameNode : public QSGSimpleTextureNode
{
public:
    ~FrameNode() override { delete texture(); }
    void replaceTexture(QSGTexture *t)
    {
        QSGTexture *old = texture();
        setTexture(t);
        delete old;
    }
};
} // namespace

VideoOutputItem::VideoOutputItem(QQuickItem *parent) : QQuickItem(parent)
{
    setFlag(ItemHasContents, true);
}

VideoOutputItem::~VideoOutputItem()
{
    sws_freeContext(m_sws);
}

void VideoOutputItem::present(const Nv12Frame &frame)
{
    if (frame.isNull())
        return;
    bool sizeChanged = false;
    {
        QMutexLocker lock(&m_mutex);
        if (m_hasPending)
            ++m_dropped;
        m_pending = frame;
        m_hasPending = true;
        m_cleared = false;
        sizeChanged = m_frameSize != QSize(frame.width, frame.height);
        m_frameSize = QSize(frame.width, frame.height);
    }
    if (sizeChanged)
        QMetaObject::invokeMethod(this, &VideoOutputItem::frameSizeChanged, Qt::QueuedConnection);
    scheduleUpdate();
}

void VideoOutputItem::countLate()
{
    ++m_dropped;
    QMetaObject::invokeMethod(this, &VideoOutputItem::statisticsChanged, Qt::QueuedConnection);
}

void VideoOutputItem::countPrerolled()
{
    ++m_prerolled;
    QMetaObject::invokeMethod(this, &VideoOutputItem::statisticsChanged, Qt::QueuedConnection);
}

void VideoOutputItem::clear()
{
    {
        QMutexLocker lock(&m_mutex);
        m_pending = Nv12Frame();
        m_hasPending = false;
        m_cleared = true;
    }
    scheduleUpdate();
}

QSize VideoOutputItem::frameSize() const
{
    QMutexLocker lock(&m_mutex);
    return m_frameSize;
}

void VideoOutputItem::scheduleUpdate()
{
    // One queued update at a time, however fast frames come.
    if (m_updateQueued.exchange(true))
        return;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_updateQueued = false;
            update();
        },
        Qt::QueuedConnection);
}

void VideoOutputItem::geometryChanged(const QRectF &newGeometry, const QRectF &oldGeometry)
{
    QQuickItem::geometryChanged(newGeometry, oldGeometry);
    update();
}

QRectF VideoOutputItem::fittedRect(const QSizeF &itemSize, const QSize &frameSize)
{
    if (frameSize.isEmpty() || itemSize.isEmpty())
        return {};
    const QSizeF fitted = QSizeF(frameSize).scaled(itemSize, Qt::KeepAspectRatio);
    return QRectF(QPointF((itemSize.width() - fitted.width()) / 2, (itemSize.height() - fitted.height()) / 2),
                  fitted);
}

QImage VideoOutputItem::toImage(const Nv12Frame &frame)
{
    m_sws = sws_getCachedContext(m_sws, frame.width, frame.height, AV_PIX_FMT_NV12, frame.width, frame.height,
                                 AV_PIX_FMT_RGB32, SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (!m_sws)
        return {};
    // The station's pictures are BT.709 with video range; the screen wants full-range RGB.
    sws_setColorspaceDetails(m_sws, sws_getCoefficients(SWS_CS_ITU709), 0,
                             sws_getCoefficients(SWS_CS_DEFAULT), 1, 0, 1 << 16, 1 << 16);
    QImage image(frame.width, frame.height, QImage::Format_RGB32);
    const uint8_t *src[2] = {frame.y(), frame.uv()};
    const int srcStride[2] = {frame.width, frame.width};
    uint8_t *dst[1] = {image.bits()};
    const int dstStride[1] = {int(image.bytesPerLine())};
    if (sws_scale(m_sws, src, srcStride, 0, frame.height, dst, dstStride) != frame.height)
        return {};
    return image;
}

QSGNode *VideoOutputItem::updatePaintNode(QSGNode *old, UpdatePaintNodeData *)
{
    auto *node = static_cast<FrameNode *>(old);
    Nv12Frame frame;
    bool hasFrame = false, cleared = false;
    {
        QMutexLocker lock(&m_mutex);
        hasFrame = m_hasPending;
        frame = m_pending;
        m_pending = Nv12Frame();
        m_hasPending = false;
        cleared = m_cleared;
    }
    if (cleared && !hasFrame) {
        delete node;
        return nullptr;
    }
    if (hasFrame) {
        const QImage image = toImage(frame);
        QSGTexture *texture = image.isNull() ? nullptr : window()->createTextureFromImage(image);
        if (texture) {
            if (!node) {
                node = new FrameNode;
                node->setFiltering(QSGTexture::Linear);
            }
            node->replaceTexture(texture);
            ++m_presented;
            QMetaObject::invokeMethod(this, &VideoOutputItem::statisticsChanged, Qt::QueuedConnection);
        }
    }
    if (node)
        node->setRect(fittedRect(size(), node->texture()->textureSize()));
    return node;
}

} // namespace nyx::multimedia
