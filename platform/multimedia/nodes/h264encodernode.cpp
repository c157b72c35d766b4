#include "multimedia/nodes/h264encodernode.h"

#include "multimedia/engines/h264encodequeue.h"
#include "multimedia/mediasourcenode.h"
#include "multimedia/nodes/livesink.h"
#include "multimedia/nodes/livesource.h"
#include "multimedia/nodes/mfframes.h"

#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcEncoder, "Multimedia.H264Encoder")

using namespace nyx::multimedia;

H264EncoderNode::H264EncoderNode(QObject *parent) : MediaNode(parent)
{
    setInputCount(1);
    setOutputCount(1);
    connect(videoInput(), &NodeInput::connectedMediaTypeChanged, this, &MediaNode::requestCreate);
}

H264EncoderNode::~H264EncoderNode()
{
    release();
}

void H264EncoderNode::setPreset(const QString &preset)
{
    if (m_preset == preset)
        return;
    m_preset = preset;
    requestCreate();
    emit presetChanged();
}

void H264EncoderNode::setBitRate(int bitRate)
{
    if (m_bitRate == bitRate)
        return;
    m_bitRate = bitRate;
    requestCreate();
    emit bitRateChanged();
}

void H264EncoderNode::release()
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
    if (m_queue) {
        m_droppedBefore += m_queue->dropped();
        m_queue = nullptr;
    }
}

int H264EncoderNode::inputHold(int width, int height, int framesPerSecond)
{
    const qint64 picture = qMax<qint64>(1, Nv12Frame::byteSize(width, height));
    return int(qMax<qint64>(InputHoldMinSeconds * qMax(1, framesPerSecond), InputHoldBytes / picture));
}

qint64 H264EncoderNode::framesDropped() const
{
    return m_droppedBefore + (m_queue ? m_queue->dropped() : 0);
}

void H264EncoderNode::create()
{
    release();
    CComPtr<IMFMediaType> type = videoInput()->getConnectedMfMediaType();
    if (!type) {
        setStatus(StatusNone);
        return;
    }
    GUID subtype = GUID_NULL;
    UINT32 width = 0, height = 0, num = 0, den = 0;
    type->GetGUID(MF_MT_SUBTYPE, &subtype);
    MFGetAttributeSize(type, MF_MT_FRAME_SIZE, &width, &height);
    if (FAILED(MFGetAttributeRatio(type, MF_MT_FRAME_RATE, &num, &den)) || !num || !den) {
        num = 25;
        den = 1;
    }
    H264EncoderSettings settings;
    settings.width = int(width);
    settings.height = int(height);
    settings.frameRateNumerator = int(num);
    settings.frameRateDenominator = int(den);
    settings.preset = m_preset;
    settings.bitRate = m_bitRate;
    {
        H264Encoder probe;
        if (subtype != MFVideoFormat_NV12 || !probe.open(settings)) {
            qCWarning(lcEncoder).noquote()
                << "H264Encoder: cannot encode the connected video:"
                << (subtype != MFVideoFormat_NV12 ? QStringLiteral("not NV12") : probe.errorString());
            setStatus(StatusError);
            return;
        }
    }
    setStatus(StatusCreating);
    // Output: a live source fed with the encoded pictures, which keep their input frames' times. It
    // holds what its consumer (the archive) has not asked for yet, compressed: ten seconds.
    const int framesPerSecond = qMax(1, int((num + den - 1) / den));
    LiveSourceParts parts =
        createLiveSource(h264MediaType(settings.width, settings.height, int(num), int(den)), {},
                         std::size_t(OutputHoldSeconds * framesPerSecond));
    m_source = parts.source;
    std::weak_ptr<LiveFeed> feed = parts.feed;
    // The pictures are encoded on a thread of the node's own, behind a queue of a few seconds: the
    // session's thread only hands them over, so the input asks for the next picture at once and an
    // encoder held up on a busy machine catches up afterwards.
    m_queue = std::make_shared<H264EncodeQueue>(settings,
                                                inputHold(settings.width, settings.height, framesPerSecond),
                                                [feed](const QVector<H264Packet> &packets) {
                                                    auto target = feed.lock();
                                                    for (const H264Packet &packet : packets)
                                                        if (target)
                                                            target->deliverStamped(sampleFromPacket(packet));
                                                });
    std::weak_ptr<H264EncodeQueue> queue = m_queue;
    // Input: a sink that hands each frame to the queue. The stream starts over with a key frame after
    // every stop, so that a recording can begin there.
    LiveSinkSpec spec;
    spec.subtype = MFVideoFormat_NV12;
    spec.consume = [queue](IMFSample *sample, IMFMediaType *current) -> HRESULT {
        const Nv12Frame frame = frameFromSample(sample, current);
        if (frame.isNull())
            return MF_E_INVALIDMEDIATYPE;
        auto target = queue.lock();
        if (!target)
            return MF_E_SHUTDOWN;
        return target->push(frame) == H264EncodeQueue::Result::Failed ? E_FAIL : S_OK;
    };
    spec.stopped = [queue] {
        if (auto target = queue.lock())
            target->reset();
    };
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
