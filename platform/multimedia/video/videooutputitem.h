#pragma once
// A Qt Quick item that shows NV12 frames handed to it from any thread. The newest frame wins: a frame
// replaced before it was drawn is dropped and counted, so a slow window never queues frames. Each shown
// frame is converted to RGB with libswscale and uploaded as a texture through the scene graph (OpenGL
// or software back end, basic or threaded render loop), fitted into the item with its aspect kept.

#include "multimedia/engines/nv12frame.h"

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

public:
    explicit VideoOutputItem(QQuickItem *parent = nullptr);
    ~VideoOutputItem() override;

    // Thread-safe. The frame's bytes are shared, not copied.
    void present(const Nv12Frame &frame);
    // Thread-safe: a frame that came too late to be shown (counted among the dropped ones).
    void countLate();
    // Thread-safe: a frame before a seek's position, passed over (not among the dropped ones).
    void countPrerolled();
    // Thread-safe: shows nothing until the next frame.
    void clear();

    QSize frameSize() const;
    int framesPresented() const { return m_presented; }
    int framesDropped() const { return m_dropped; }
    int framesPrerolled() const { return m_prerolled; }
    // Where a frame of frameSize is drawn in an item of itemSize.
    static QRectF fittedRect(const QSizeF &itemSize, const QSize &frameSize);

signals:
    void frameSizeChanged();
    void statisticsChanged();

protected:
    QSGNode *updatePaintNode(QSGNode *old, UpdatePaintNodeData *) override;
    void geometryChanged(const QRectF &newGeometry, const QRectF &oldGeometry) override;

private:
    void scheduleUpdate();
    QImage toImage(const Nv12Frame &frame);

    mutable QMutex m_mutex;
    Nv12Frame m_pending; // guarded by m_mutex
    bool m_hasPending = false;
    bool m_cleared = false;
    QSize m_frameSize; // guarded by m_mutex
    std::atomic<bool> m_updateQueued{false};
    std::atomic<int> m_presented{0};
    std::atomic<int> m_dropped{0};
    std::atomic<int> m_prerolled{0};
    SwsContext *m_sws = nullptr; // render thread only
};

} // namespace nyx::multimedia
