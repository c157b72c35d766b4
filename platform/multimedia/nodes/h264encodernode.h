#pragma once
// The H.264 encoder as a graph node (QML: H264Encoder): NV12 on videoInput, H.264 (Annex-B, SPS/PPS
// in front of every IDR picture, clean-point flags, one key frame a second) on output, each picture
// with its input frame's time. The output exists once the input's type is known.

#include "multimedia/medianode.h"

#include <memory>

namespace nyx::multimedia {
class H264EncodeQueue;
}

class H264EncoderNode : public MediaNode
{
    Q_OBJECT
    Q_PROPERTY(NodeInput *videoInput READ videoInput CONSTANT)
    Q_PROPERTY(NodeOutput *output READ output CONSTANT)
    Q_PROPERTY(QString preset READ preset WRITE setPreset NOTIFY presetChanged)
    Q_PROPERTY(int bitRate READ bitRate WRITE setBitRate NOTIFY bitRateChanged)

public:
    explicit H264EncoderNode(QObject *parent = nullptr);
    ~H264EncoderNode() override;

    NodeInput *videoInput() const { return getInput(0); }
    NodeOutput *output() const { return getOutput(0); }
    QString preset() const { return m_preset; }
    void setPreset(const QString &preset);
    int bitRate() const { return m_bitRate; }
    void setBitRate(int bitRate);

    // Pictures dropped because the encoder was more than its queue behind (also warned about).
    Q_INVOKABLE qint64 framesDropped() const;

    // What the node holds while something is held up: raw pictures waiting for the encoder (up to
    // InputHoldBytes, and at least two seconds of them: 86 pictures of 1080p NV12, 3.4 s at 25 fps),
    // and encoded ones waiting for the consumer to ask (ten seconds, about 10 MB at 8 Mbit/s).
    static constexpr qint64 InputHoldBytes = 256LL * 1024 * 1024;
    static constexpr int InputHoldMinSeconds = 2;
    static constexpr int OutputHoldSeconds = 10;
    // The number of raw pictures held for a picture size and frame rate.
    static int inputHold(int width, int height, int framesPerSecond);

    void cancel() override {}
    void create() override;

signals:
    void presetChanged();
    void bitRateChanged();

private:
    void release();

    QString m_preset = QStringLiteral("superfast");
    int m_bitRate = 8000000;
    CComPtr<IMFMediaSink> m_sink;
    CComPtr<IMFMediaSource> m_source;
    std::shared_ptr<nyx::multimedia::H264EncodeQueue> m_queue;
    qint64 m_droppedBefore = 0;
};
