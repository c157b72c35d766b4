#pragma once
// The audio output as a graph node (QML: AudioOutput { id: a } with NodeConnection { to: a.input }):
// it takes PCM or float audio at the pace of the session's clock, each buffer when the clock reaches
// its time, so that a session with audio plays at its rate, and plays it through the sound device
// (see AudioPlayback) where there is one. The device follows the clock: a pause suspends it, a stop
// closes it, another rate than 1 mutes it. Without a device the buffers are consumed and counted,
// not heard.

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
    // Buffers rendered at their time; dropped: late ones and those the sound device had no room for.
    int buffersPlayed() const { return m_counts->played; }
    int buffersDropped() const { return m_counts->dropped; }

    // What reached the sound device since the node was built: its name (empty when there is none),
    // the stream's bytes written to it and the time it reports as processed.
    QString deviceName() const;
    qint64 deviceBytesWritten() const;
    qint64 deviceProcessedUSecs() const;

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
    struct Renderer;
    std::shared_ptr<Counts> m_counts = std::make_shared<Counts>();
    std::shared_ptr<Renderer> m_renderer;
    CComPtr<IMFMediaSink> m_sink;
};
