#include "multimedia/video/videooutputitem.h"

#include <QGuiApplication>
#include <QMutexLocker>
#include <QQuickWindow>
#include <QSGSimpleTextureNode>
#include <QtMath>

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

// Below this a picture says nothing; it also keeps libswscale's scaling factors sane.
constexpr int kMinimumSide = 16;
} // namespace

VideoOutputItem::VideoOutputItem(QQuickItem *parent) : QQuickItem(parent)
{
    setFlag(ItemHasContents, true);
}

VideoOutputItem::~VideoOutputItem()
{
    sws_freeContext(m_sws);
}

void VideoOutputItem::present(const Nv12Frame &frame, double recordedTime)
{
    if (frame.isNull())
        return;
    QSizeF viewSize;
    quint64 generation = 0;
    {
        QMutexLocker lock(&m_mutex);
        if (const int rate = m_maxFrameRate) {
            // Frames are due one interval apart on average; a frame far from the due time (a new
            // range, a jump back, a gap) starts the count again.
            const qint64 interval = 10000000 / rate;
            if (m_haveDue && frame.time < m_nextDue && frame.time > m_nextDue - 2 * interval)
                return;
            m_nextDue = m_haveDue && frame.time >= m_nextDue && frame.time < m_nextDue + interval
                            ? m_nextDue + interval
                            : frame.time + interval;
            m_haveDue = true;
        }
        viewSize = m_viewSize;
        generation = m_generation;
    }
    // The expensive part, on the caller's thread and outside m_mutex, so that drawing never waits for it.
    const QImage image = convert(frame, viewSize);
    bool sizeChanged = false;
    {
        QMutexLocker lock(&m_mutex);
        if (generation != m_generation)
            return; // cleared while converting: the frame belongs to what was cleared
        if (image.isNull() || !m_pending.isNull())
            ++m_dropped;
        if (image.isNull())
            return;
        m_pending = image;
        m_pendingTime = recordedTime;
        m_last = frame;
        m_cleared = false;
        sizeChanged = m_frameSize != QSize(frame.width, frame.height);
        m_frameSize = QSize(frame.width, frame.height);
    }
    if (sizeChanged)
        QMetaObject::invokeMethod(this, &VideoOutputItem::frameSizeChanged, Qt::QueuedConnection);
    scheduleUpdate();
}

void VideoOutputItem::setMaxFrameRate(int rate)
{
    rate = qMax(0, rate);
    if (m_maxFrameRate.exchange(rate) == rate)
        return;
    {
        QMutexLocker lock(&m_mutex);
        m_haveDue = false;
    }
    emit maxFrameRateChanged();
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
        m_pending = QImage();
        m_last = Nv12Frame();
        m_cleared = true;
        m_haveDue = false;
        ++m_generation;
        m_pendingTime = qQNaN();
        m_shownTime = qQNaN();
    }
    QMetaObject::invokeMethod(this, &VideoOutputItem::frameTimeChanged, Qt::QueuedConnection);
    scheduleUpdate();
}

double VideoOutputItem::frameTime() const
{
    QMutexLocker lock(&m_mutex);
    return m_shownTime;
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

void VideoOutputItem::updateViewSize()
{
    const qreal dpr = window() ? window()->effectiveDevicePixelRatio() : qApp->devicePixelRatio();
    const QSizeF viewSize = size() * dpr;
    QMutexLocker lock(&m_mutex);
    m_viewSize = viewSize;
}

void VideoOutputItem::geometryChanged(const QRectF &newGeometry, const QRectF &oldGeometry)
{
    QQuickItem::geometryChanged(newGeometry, oldGeometry);
    updateViewSize();
    update();
}

void VideoOutputItem::itemChange(ItemChange change, const ItemChangeData &value)
{
    QQuickItem::itemChange(change, value);
    if (change == ItemSceneChange || change == ItemDevicePixelRatioHasChanged) {
        updateViewSize();
        update();
    }
}

QRectF VideoOutputItem::fittedRect(const QSizeF &itemSize, const QSize &frameSize)
{
    if (frameSize.isEmpty() || itemSize.isEmpty())
        return {};
    const QSizeF fitted = QSizeF(frameSize).scaled(itemSize, Qt::KeepAspectRatio);
    return QRectF(QPointF((itemSize.width() - fitted.width()) / 2, (itemSize.height() - fitted.height()) / 2),
                  fitted);
}

QSize VideoOutputItem::pictureSize(const QSizeF &viewSize, const QSize &frameSize)
{
    if (frameSize.isEmpty())
        return {};
    const QSizeF fitted = fittedRect(viewSize, frameSize).size();
    // Rounded up, less a hair so that an exact fit from floating point does not gain a pixel.
    const int w =
        qBound(qMin(kMinimumSide, frameSize.width()), qCeil(fitted.width() - 0.01), frameSize.width());
    const int h =
        qBound(qMin(kMinimumSide, frameSize.height()), qCeil(fitted.height() - 0.01), frameSize.height());
    return {w, h};
}

QImage VideoOutputItem::convert(const Nv12Frame &frame, const QSizeF &viewSize)
{
    const QSize size = pictureSize(viewSize, QSize(frame.width, frame.height));
    QMutexLocker lock(&m_convertMutex);
    m_sws = sws_getCachedContext(m_sws, frame.width, frame.height, AV_PIX_FMT_NV12, size.width(),
                                 size.height(), AV_PIX_FMT_RGB32, SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (!m_sws)
        return {};
    // The station's pictures are BT.709 with video range; the screen wants full-range RGB.
    sws_setColorspaceDetails(m_sws, sws_getCoefficients(SWS_CS_ITU709), 0,
                             sws_getCoefficients(SWS_CS_DEFAULT), 1, 0, 1 << 16, 1 << 16);
    // A buffer of this size that nobody else holds any more (the picture drawn from it is uploaded and
    // let go) is written again; otherwise a new one takes the place of the other.
    QImage *buffer = nullptr;
    for (QImage &b : m_buffers)
        if (b.size() == size && b.isDetached())
            buffer = &b;
    if (buffer) {
        // Pairs with the release of the last other holder's reference: its reads are done.
        std::atomic_thread_fence(std::memory_order_acquire);
    } else {
        buffer = m_buffers[0].isDetached() || m_buffers[0].isNull() ? &m_buffers[0] : &m_buffers[1];
        *buffer = QImage(size, QImage::Format_RGB32);
        if (buffer->isNull())
            return {};
    }
    const uint8_t *src[2] = {frame.y(), frame.uv()};
    const int srcStride[2] = {frame.width, frame.width};
    uint8_t *dst[1] = {buffer->bits()};
    const int dstStride[1] = {int(buffer->bytesPerLine())};
    if (sws_scale(m_sws, src, srcStride, 0, frame.height, dst, dstStride) != size.height())
        return {};
    return *buffer;
}

QSGNode *VideoOutputItem::updatePaintNode(QSGNode *old, UpdatePaintNodeData *)
{
    auto *node = static_cast<FrameNode *>(old);
    QImage image;
    Nv12Frame last;
    QSizeF viewSize;
    bool cleared = false;
    double time = qQNaN();
    {
        QMutexLocker lock(&m_mutex);
        image = std::move(m_pending);
        m_pending = QImage();
        time = m_pendingTime;
        last = m_last;
        viewSize = m_viewSize;
        cleared = m_cleared;
    }
    const bool fresh = !image.isNull();
    if (cleared && !fresh) {
        delete node;
        m_shownFrameSize = {};
        return nullptr;
    }
    // The view changed size since the picture was made (a resize, also while paused): make it again
    // from the frame it came from, once, rather than stretching it.
    if (!last.isNull() && (fresh || node)) {
        const QSize want = pictureSize(viewSize, QSize(last.width, last.height));
        const QSize have = fresh ? image.size() : node->texture()->textureSize();
        if (want != have) {
            const QImage again = convert(last, viewSize);
            if (!again.isNull())
                image = again;
        }
    }
    if (!image.isNull()) {
        QSGTexture *texture = window()->createTextureFromImage(image);
        if (texture) {
            if (!node) {
                node = new FrameNode;
                node->setFiltering(QSGTexture::Linear);
            }
            node->replaceTexture(texture);
            m_shownFrameSize = QSize(last.width, last.height);
            if (fresh) {
                ++m_presented;
                bool timeChanged = false;
                {
                    // The picture now on screen: its time is the one to report, not that of a
                    // newer frame still being converted.
                    QMutexLocker lock(&m_mutex);
                    timeChanged = !(m_shownTime == time || (qIsNaN(m_shownTime) && qIsNaN(time)));
                    m_shownTime = time;
                }
                if (timeChanged)
                    QMetaObject::invokeMethod(this, &VideoOutputItem::frameTimeChanged, Qt::QueuedConnection);
                QMetaObject::invokeMethod(this, &VideoOutputItem::statisticsChanged, Qt::QueuedConnection);
            }
        }
    }
    if (node)
        node->setRect(fittedRect(size(), m_shownFrameSize));
    return node;
}

} // namespace nyx::multimedia
