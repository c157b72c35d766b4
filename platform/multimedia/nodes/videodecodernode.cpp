#include "multimedia/nodes/videodecodernode.h"

#include "multimedia/engines/h264decoder.h"
#include "multimedia/mediasourcenode.h"
#include "multimedia/nodes/livesink.h"
#include "multimedia/nodes/livesource.h"
#include "multimedia/nodes/mfframes.h"

#include <QLoggingCategory>
#include <QSize>

#include <atomic>
#include <map>
#include <mutex>

Q_LOGGING_CATEGORY(lcDecoder, "Multimedia.VideoDecoder")

using namespace nyx::multimedia;

namespace nyx::multimedia {
struct DecoderThinning
{
    std::atomic<float> fromRate{0.0f};
    std::atomic<bool> always{false};
    std::atomic<float> rate{1.0f};

    // Whether a compressed picture at the clock's current rate is decoded or dropped.
    bool keysOnly() const
    {
        const float r = rate.load();
        const float from = fromRate.load();
        // A slightly rounded 1 still counts as normal play; frame steps (rate 0) decode everything.
        return r >= 0.999f && ((from > 0.0f && r >= from) || always.load());
    }
};
} // namespace nyx::multimedia

namespace {

// How long a decoded picture waits for its consumer to ask for it. A paced consumer asks once a
// picture's time has come, so this only runs out when the consumer has paused. A stopped output
// ends the wait at once: the session's stop waits for this hand-over, and the next start with it.
constexpr int DeliveryWaitMs = 2000;

struct DecoderState
{
    std::mutex mutex;
    H264Decoder decoder;
    // The compressed samples under way by their tag, for their attributes.
    std::map<quint64, CComPtr<IMFSample>> pending;
    quint64 nextTag = 1;
    // Counts flushes (a stop, a seek): a picture decoded before one is stale and never delivered
    // after it, even when it was waiting for its consumer meanwhile.
    quint64 epoch = 0;
    // A picture was dropped at a fast rate: the pictures after it until the next key frame refer to
    // what was never decoded.
    bool awaitingKey = false;
};

// The decoded picture as a sample with the attributes of the compressed sample it came from.
CComPtr<IMFSample> decodedSample(const DecodedFrame &decoded, IMFSample *origin)
{
    CComPtr<IMFSample> sample = sampleFromFrame(decoded.frame);
    if (!sample)
        return nullptr;
    if (origin) {
        origin->CopyAllItems(sample);
        LONGLONG duration = 0;
        if (SUCCEEDED(origin->GetSampleDuration(&duration)))
            sample->SetSampleDuration(duration);
    }
    // Every decoded picture stands on its own.
    sample->SetUINT32(MFSampleExtension_CleanPoint, 1);
    return sample;
}

void deliver(const std::weak_ptr<LiveFeed> &feed, IMFSample *sample)
{
    auto target = feed.lock();
    if (!target || !sample)
        return;
    target->waitForRequestWhileStarted(DeliveryWaitMs);
    target->deliverStamped(sample);
}

// A decoded picture, unless the decoder was flushed while it waited for its consumer.
void deliverCurrent(const std::shared_ptr<DecoderState> &state, quint64 epoch,
                    const std::weak_ptr<LiveFeed> &feed, IMFSample *sample)
{
    auto target = feed.lock();
    if (!target || !sample)
        return;
    target->waitForRequestWhileStarted(DeliveryWaitMs);
    // Under the lock: a stop in between would flush after this picture went, never before.
    std::lock_guard<std::mutex> lock(state->mutex);
    if (state->epoch == epoch)
        target->deliverStamped(sample);
}

} // namespace

VideoDecoderNode::VideoDecoderNode(QObject *parent)
    : MediaNode(parent), m_thinning(std::make_shared<DecoderThinning>())
{
    setInputCount(1);
    setOutputCount(1);
    connect(videoInput(), &NodeInput::connectedMediaTypeChanged, this, &MediaNode::requestCreate);
}

VideoDecoderNode::~VideoDecoderNode()
{
    release();
}

double VideoDecoderNode::keyFrameOnlyRate() const
{
    return m_thinning->fromRate.load();
}

void VideoDecoderNode::setKeyFrameOnlyRate(double rate)
{
    if (qFuzzyCompare(float(rate) + 1.0f, m_thinning->fromRate.load() + 1.0f))
        return;
    m_thinning->fromRate = float(qMax(0.0, rate));
    emit keyFrameOnlyRateChanged();
}

bool VideoDecoderNode::keyFramesOnly() const
{
    return m_thinning->always.load();
}

void VideoDecoderNode::setKeyFramesOnly(bool only)
{
    if (m_thinning->always.exchange(only) != only)
        emit keyFramesOnlyChanged();
}

void VideoDecoderNode::release()
{
    clearMfNodes();
    if (m_sink) {
        m_sink->Shutdown();
        m_sink = nullptr;
    }
    if (m_source) {
        m_source->Shutdown();
        m_source = nullptr;
    }
}

void VideoDecoderNode::create()
{
    release();
    CComPtr<IMFMediaType> type = videoInput()->getConnectedMfMediaType();
    if (!type) {
        setStatus(StatusNone);
        return;
    }
    GUID major = GUID_NULL, subtype = GUID_NULL;
    UINT32 width = 0, height = 0, num = 0, den = 0;
    type->GetGUID(MF_MT_MAJOR_TYPE, &major);
    type->GetGUID(MF_MT_SUBTYPE, &subtype);
    MFGetAttributeSize(type, MF_MT_FRAME_SIZE, &width, &height);
    if (FAILED(MFGetAttributeRatio(type, MF_MT_FRAME_RATE, &num, &den)) || !num || !den) {
        num = 25;
        den = 1;
    }
    const bool passThrough = subtype == MFVideoFormat_NV12;
    if (major != MFMediaType_Video || (!passThrough && subtype != MFVideoFormat_H264)) {
        qCWarning(lcDecoder) << "VideoDecoder: the connected stream is neither H.264 nor NV12 video";
        setStatus(StatusError);
        return;
    }
    if (!passThrough && Nv12Frame::byteSize(int(width), int(height)) <= 0) {
        qCWarning(lcDecoder) << "VideoDecoder: the connected H.264 stream has no usable frame size" << width
                             << height;
        setStatus(StatusError);
        return;
    }
    setStatus(StatusCreating);
    CComPtr<IMFMediaType> outputType =
        passThrough ? type : nv12MediaType(int(width), int(height), int(num), int(den));
    LiveSourceParts parts = createLiveSource(outputType, {});
    m_source = parts.source;
    std::weak_ptr<LiveFeed> feed = parts.feed;

    LiveSinkSpec spec;
    spec.subtype = subtype;
    if (passThrough) {
        spec.consume = [feed](IMFSample *sample, IMFMediaType *) {
            deliver(feed, sample);
            return S_OK;
        };
        spec.endOfSegment = [feed] {
            if (auto target = feed.lock())
                target->endOfStream();
        };
    } else {
        // The session may stop the decoder on its clock's thread while a unit is decoding.
        auto state = std::make_shared<DecoderState>();
        const QSize size{int(width), int(height)};
        std::shared_ptr<DecoderThinning> thinning = m_thinning;
        spec.rateChanged = [thinning](float rate) { thinning->rate = rate; };
        spec.consume = [state, feed, size, thinning](IMFSample *sample, IMFMediaType *) -> HRESULT {
            QVector<std::pair<DecodedFrame, CComPtr<IMFSample>>> ready;
            quint64 epoch = 0;
            {
                std::lock_guard<std::mutex> lock(state->mutex);
                UINT32 discontinuity = 0;
                if (SUCCEEDED(sample->GetUINT32(MFSampleExtension_Discontinuity, &discontinuity)) &&
                    discontinuity) {
                    // A seek or a gap: nothing decoded before it belongs after it.
                    state->decoder.flush();
                    state->pending.clear();
                    ++state->epoch;
                }
                epoch = state->epoch;
                if (!state->decoder.isOpen() && !state->decoder.open()) {
                    qCWarning(lcDecoder).noquote() << "VideoDecoder:" << state->decoder.errorString();
                    return E_FAIL;
                }
                const QByteArray bytes = sampleBytes(sample);
                if (H264Decoder::isKeyFrame(bytes)) {
                    state->awaitingKey = false;
                } else if (state->awaitingKey || thinning->keysOnly()) {
                    state->awaitingKey = true;
                    return S_OK;
                }
                LONGLONG time = 0, duration = 0;
                sample->GetSampleTime(&time);
                sample->GetSampleDuration(&duration);
                const quint64 tag = state->nextTag++;
                state->pending[tag] = sample;
                const QVector<DecodedFrame> frames = state->decoder.decode(bytes, time, duration, tag);
                if (!state->decoder.errorString().isEmpty())
                    qCDebug(lcDecoder).noquote() << "VideoDecoder:" << state->decoder.errorString();
                for (const DecodedFrame &decoded : frames) {
                    if (decoded.frame.width != size.width() || decoded.frame.height != size.height()) {
                        qCWarning(lcDecoder) << "VideoDecoder: a picture of" << decoded.frame.width << "x"
                                             << decoded.frame.height << "in a stream of" << size;
                        continue;
                    }
                    auto origin = state->pending.find(decoded.tag);
                    ready.append({decoded, origin != state->pending.end() ? origin->second : nullptr});
                    // Samples before the one just shown will never give a picture.
                    if (origin != state->pending.end())
                        state->pending.erase(state->pending.begin(), std::next(origin));
                }
                while (state->pending.size() > 32)
                    state->pending.erase(state->pending.begin());
            }
            for (const auto &entry : ready)
                deliverCurrent(state, epoch, feed, decodedSample(entry.first, entry.second));
            return S_OK;
        };
        spec.stopped = [state] {
            std::lock_guard<std::mutex> lock(state->mutex);
            state->decoder.flush();
            state->pending.clear();
            ++state->epoch;
        };
        spec.endOfSegment = [state, feed] {
            QVector<std::pair<DecodedFrame, CComPtr<IMFSample>>> ready;
            {
                std::lock_guard<std::mutex> lock(state->mutex);
                for (const DecodedFrame &decoded : state->decoder.drain()) {
                    auto origin = state->pending.find(decoded.tag);
                    ready.append({decoded, origin != state->pending.end() ? origin->second : nullptr});
                }
                state->pending.clear();
            }
            for (const auto &entry : ready)
                deliver(feed, decodedSample(entry.first, entry.second));
            if (auto target = feed.lock())
                target->endOfStream();
        };
    }
    m_sink = createLiveSink(spec);

    CComPtr<IMFStreamSink> streamSink;
    CComPtr<IMFTopologyNode> inputNode;
    HRESULT hr = m_sink->GetStreamSinkByIndex(0, &streamSink);
    if (SUCCEEDED(hr))
        hr = MFCreateTopologyNode(MF_TOPOLOGY_OUTPUT_NODE, &inputNode);
    if (SUCCEEDED(hr))
        hr = inputNode->SetObject(streamSink);
    auto descriptor = getCleanPresentationDescriptor(m_source);
    DWORD index = 0;
    auto outputNode = createMediaSourceNode(m_source, descriptor, MFMediaType_Video, &index);
    if (FAILED(hr) || !outputNode) {
        release();
        setStatus(StatusError);
        return;
    }
    addMfNode(inputNode);
    addMfNode(outputNode);
    videoInput()->setMfNode(inputNode, 0);
    output()->setMfNode(outputNode, index);
    setStatus(StatusReady);
}
