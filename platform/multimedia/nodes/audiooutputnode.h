#pragma once
// The audio output as a graph node (QML: AudioOutput { id: a } with NodeConnection { to: a.input }):
// it takes PCM or float audio at the pace of the session's clock, each buffer when the clock reaches
// its time, so that a session with audio plays at its rate. This station has no sound device to play
// to: the buffers are consumed and counted, not heard.

#include "multimedia/medianode.h"

#include <atomic>
#include <memory>

class AudioOutputNode : public MediaNode
{
    Q_OBJECT
    Q_PROPERTY(NodeInput *input READ input CONSTANT)
    Q_PROPERTY(int buffersPlayed READ buffersPlayed NOTIFY statisticsChanged)
    Q_PROPERTY(int buffersDropped READ buffersDropped NOTIFY statisticsChanged)

public:
    explicit AudioOutputNode(QObject *parent = nullptr);
    ~AudioOutputNode() override;

    NodeInput *input() const { return getInput(0); }
    int buffersPlayed() const { return m_counts->played; }
    int buffersDropped() const { return m_counts->dropped; }

    void cancel() override {}
    void create() override;

signals:
    void statisticsChanged();

private:
    void release();

    struct Counts
    {
        std::atomic<int> played{0};
        std::atomic<int> dropped{0};
    };
    std::shared_ptr<Counts> m_counts = std::make_shared<Counts>();
    CComPtr<IMFMediaSink> m_sink;
};
