#pragma once
// The video item as a graph node's face (QML: VideoOutput { id: v } with
// NodeConnection { to: v.videoInput }): it shows the NV12 frames that reach its input while the
// session plays, each when the session's clock reaches its time (late ones are dropped and counted).

#include "multimedia/medianode.h"
#include "multimedia/video/videooutputitem.h"

class VideoRendererNode;

class VideoOutputNodeItem : public nyx::multimedia::VideoOutputItem
{
    Q_OBJECT
    Q_PROPERTY(NodeInput *videoInput READ videoInput CONSTANT)
    Q_PROPERTY(int status READ status NOTIFY statusChanged)

public:
    explicit VideoOutputNodeItem(QQuickItem *parent = nullptr);
    ~VideoOutputNodeItem() override;

    NodeInput *videoInput() const;
    int status() const;
    MediaNode *node() const;

signals:
    void statusChanged();

private:
    VideoRendererNode *m_node;
};

// The node behind a VideoOutput: one NV12 input whose frames go to the item.
class VideoRendererNode : public MediaNode
{
    Q_OBJECT
public:
    explicit VideoRendererNode(VideoOutputNodeItem *item);
    ~VideoRendererNode() override;

    void cancel() override {}
    void create() override;
    // Stops handing frames to the item (before the item goes away).
    void release();

private:
    VideoOutputNodeItem *m_item;
    CComPtr<IMFMediaSink> m_sink;
};
