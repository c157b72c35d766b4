#pragma once
// A Qt Quick item that shows NV12 frames handed to it from any thread. The newest frame wins: a frame
// replaced before it was drawn is dropped and counted, so a slow window never queues frames. Each frame
// is converted to RGB with libswscale on the thread that hands it over, scaled to the size the item
// draws it at, so the thread that draws (the GUI thread on the basic render loop) only uploads a small
// image as a texture (OpenGL or software back end, basic or threaded render loop), fitted into the item
// with its aspect kept.

#include "multimedia/engines/nv12frame.h"

#include <QImage>
#include <QMutex>
#include <QQuickItem>
#include <QSize>

#include <atomic>

struct SwsContext;

namespace nyx::multimedia {

class VideoOutputItem : public QQuickItem
{
    Q_OBJECT
    Q_PROPERTY(QSize frameSize READ frameSize NOTIFY frameSizeChanged)
    Q_PROPERTY(int framesPresented READ framesPresented NOTIFY statisticsChanged)
    Q_PROPERTY(int framesDropped READ framesDropped NOTIFY statisticsChanged)
    // Frames decoded after a seek only to reach the frame at its position, never meant to show.
    Q_PROPERTY(int framesPrerolled READ framesPrerolled NOTIFY statisticsChanged)
    // The recording time of the frame on screen, in milliseconds since the epoch (NaN while the
    // frame shown carries none): what a replay's position clock shows and a step starts from.
    Q_PROPERTY(double frameTime READ frameTime NOTIFY frameTimeChanged)
    // At most this many frames a second (by the frames' times) are converted and shown; the others
    // are passed over before any work is done on them. 0: every frame. A preview need not show a
    // camera's every frame, and converting fewer saves most of its cost.
    Q_PROPERTY(int maxFrameRate READ maxFrameRate WRITE setMaxFrameRate NOTIFY maxFrameRateChanged)

public:
    explicit VideoOutputItem(QQuickItem *parent = nullptr);
    ~VideoOutputItem() override;

    // Thread-safe. Converts the frame on the calling thread; the frame's bytes are shared, not copied.
    // recordedTime: the frame's recording time in milliseconds since the epoch, NaN when unknown.
    void present(const Nv12Frame &frame, double recordedTime = qQNaN());
    // Thread-safe: a frame that came too late to be shown (counted among the dropped ones).
    void countLate();
    // Thread-safe: a frame before a seek's position, passed over (not among the dropped ones).
    void countPrerolled();
    // Thread-safe: shows nothing until the next frame.
    void clear();

    // The size of the frames shown, not of the picture drawn.
    QSize frameSize() const;
    int framesPresented() const { return m_presented; }
    int framesDropped() const { return m_dropped; }
    int framesPrerolled() const { return m_prerolled; }
    double frameTime() const;
    int maxFrameRate() const { return m_maxFrameRate; }
    void setMaxFrameRate(int rate);
    // Where a frame of frameSize is drawn in an item of itemSize.
    static QRectF fittedRect(const QSizeF &itemSize, const QSize &frameSize);
    // The size, in pixels, a frame of frameSize is converted to for an item of viewSize device pixels:
    // the fitted rectangle, never larger than the frame nor smaller than a few pixels.
    static QSize pictureSize(const QSizeF &viewSize, const QSize &frameSize);

signals:
    void frameSizeChanged();
    void statisticsChanged();
    void frameTimeChanged();
    void maxFrameRateChanged();

protected:
    QSGNode *updatePaintNode(QSGNode *old, UpdatePaintNodeData *) override;
    void geometryChanged(const QRectF &newGeometry, const QRectF &oldGeometry) override;
    void itemChange(ItemChange change, const ItemChangeData &value) override;

private:
    void scheduleUpdate();
    void updateViewSize();
    // Converts frame to pictureSize(viewSize); serialised by m_convertMutex.
    QImage convert(const Nv12Frame &frame, const QSizeF &viewSize);

    mutable QMutex m_mutex;
    // All guarded by m_mutex.
    QImage m_pending;               // converted, not yet drawn
    double m_pendingTime = qQNaN(); // its recording time
    double m_shownTime = qQNaN();   // the recording time of the picture drawn last
    Nv12Frame m_last;               // the newest frame, converted again when the view's size changes
    QSizeF m_viewSize;              // the item's size in device pixels
    QSize m_frameSize;
    quint64 m_generation = 0; // counts clear(): a conversion begun before it is not shown
    bool m_cleared = false;
    qint64 m_nextDue = 0; // the earliest frame time shown next under maxFrameRate
    bool m_haveDue = false;

    QMutex m_convertMutex;
    SwsContext *m_sws = nullptr; // guarded by m_convertMutex
    QImage m_buffers[2];         // guarded by m_convertMutex; reused once the drawing side let go

    QSize m_shownFrameSize; // drawing side only: the frame size of the picture in the node

    std::atomic<bool> m_updateQueued{false};
    std::atomic<int> m_presented{0};
    std::atomic<int> m_dropped{0};
    std::atomic<int> m_prerolled{0};
    std::atomic<int> m_maxFrameRate{0};
};

} // namespace nyx::multimedia
