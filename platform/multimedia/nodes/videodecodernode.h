#pragma once
// The video decoder as a graph node (QML: VideoDecoder): compressed H.264 samples (Annex-B) on
// videoInput, NV12 samples on output, each decoded picture keeping its compressed sample's time,
// duration and attributes (a recording's sample position, for instance). NV12 on the input passes
// straight through, so a replay chain works for recorded and raw streams alike. The output exists
// once the input's type is known; a new input type renews the decoder.
//
// At a fast forward rate four 1080p decoders cannot decode every frame in time, and the pictures
// would fall behind the clock: from keyFrameOnlyRate on (and at any forward rate of 1 or more while
// keyFramesOnly is set, as for previews) only key frames are decoded; the others are dropped before
// decoding, and after such a run until the next key frame, whose references they lack.

#include "multimedia/medianode.h"

#include <memory>

namespace nyx::multimedia {
struct DecoderThinning;
}

class VideoDecoderNode : public MediaNode
{
    Q_OBJECT
    Q_PROPERTY(NodeInput *videoInput READ videoInput CONSTANT)
    Q_PROPERTY(NodeOutput *output READ output CONSTANT)
    // The forward rate from which only key frames are decoded; 0: every frame at every rate.
    Q_PROPERTY(double keyFrameOnlyRate READ keyFrameOnlyRate WRITE setKeyFrameOnlyRate NOTIFY
                   keyFrameOnlyRateChanged)
    Q_PROPERTY(bool keyFramesOnly READ keyFramesOnly WRITE setKeyFramesOnly NOTIFY keyFramesOnlyChanged)

public:
    explicit VideoDecoderNode(QObject *parent = nullptr);
    ~VideoDecoderNode() override;

    NodeInput *videoInput() const { return getInput(0); }
    NodeOutput *output() const { return getOutput(0); }
    double keyFrameOnlyRate() const;
    void setKeyFrameOnlyRate(double rate);
    bool keyFramesOnly() const;
    void setKeyFramesOnly(bool only);

    void cancel() override {}
    void create() override;

signals:
    void keyFrameOnlyRateChanged();
    void keyFramesOnlyChanged();

private:
    void release();

    // Shared with the decoding thread, which reads it for every sample.
    std::shared_ptr<nyx::multimedia::DecoderThinning> m_thinning;

    CComPtr<IMFMediaSink> m_sink;
    CComPtr<IMFMediaSource> m_source;
};
