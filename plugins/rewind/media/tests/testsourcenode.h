#pragma once
// A test-only graph node whose output is a one-stream media source of given H.264 frames
// (sample times from 0 at 25 fps, clean points on key frames), produced as fast as requested.

#include "h264testsamples.h"
#include "multimedia/medianode.h"

#include <QThread>
#include <atomic>

class TestSourceNode : public MediaNode
{
    Q_OBJECT
    Q_PROPERTY(NodeOutput *output READ output CONSTANT)
    Q_PROPERTY(int width READ width WRITE setWidth)

public:
    explicit TestSourceNode(QObject *parent = nullptr);
    ~TestSourceNode() override;

    NodeOutput *output() const { return getOutput(0); }
    int width() const { return m_width; }
    void setWidth(int width) { m_width = width; }

    // The frames the source plays; set before the node is created.
    static void setFrames(const QVector<mediatest::EncodedFrame> &frames);
    static QVector<mediatest::EncodedFrame> frames();
    // Whether any sample was asked for on the GUI thread.
    static bool requestedOnGuiThread();

    void cancel() override {}
    void create() override;

private:
    int m_width = 320;
    CComPtr<IMFMediaSource> m_source;
};
