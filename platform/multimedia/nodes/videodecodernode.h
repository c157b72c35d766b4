#pragma once
// The video decoder as a graph node (QML: VideoDecoder): compressed H.264 samples (Annex-B) on
// videoInput, NV12 samples on output, each decoded picture keeping its compressed sample's time,
// duration and attributes (a recording's sample position, for instance). NV12 on the input passes
// straight through, so a replay chain works for recorded and raw streams alike. The output exists
// once the input's type is known; a new input type renews the decoder.

#include "multimedia/medianode.h"

class VideoDecoderNode : public MediaNode
{
    Q_OBJECT
    Q_PROPERTY(NodeInput *videoInput READ videoInput CONSTANT)
    Q_PROPERTY(NodeOutput *output READ output CONSTANT)

public:
    explicit VideoDecoderNode(QObject *parent = nullptr);
    ~VideoDecoderNode() override;

    NodeInput *videoInput() const { return getInput(0); }
    NodeOutput *output() const { return getOutput(0); }

    void cancel() override {}
    void create() override;

private:
    void release();

    CComPtr<IMFMediaSink> m_sink;
    CComPtr<IMFMediaSource> m_source;
};
