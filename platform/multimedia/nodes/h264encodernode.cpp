#include "multimedia/nodes/h264encodernode.h"

#include "multimedia/engines/h264encoder.h"
#include "multimedia/mediasourcenode.h"
#include "multimedia/nodes/livesink.h"
#include "multimedia/nodes/livesource.h"
#include "multimedia/nodes/mfframes.h"

#include <QLoggingCategory>

#include <mutex>

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
    // The session stops the encoder on its clock's thread while a frame may be encoding on a work queue.
    struct Guarded
    {
        std::mutex mutex;
        H264Encoder encoder;
    };
    auto guarded = std::make_shared<Guarded>();
    H264Encoder *encoder = &guarded->encoder;
    if (subtype != MFVideoFormat_NV12 || !encoder->open(settings)) {
        qCWarning(lcEncoder).noquote()
            << "H264Encoder: cannot encode the connected video:"
            << (subtype != MFVideoFormat_NV12 ? QStringLiteral("not NV12") : encoder->errorString());
        setStatus(StatusError);
        return;
    }
    setStatus(StatusCreating);
    // Output: a live source fed with the encoded pictures, which keep their input frames' times.
    LiveSourceParts parts =
        createLiveSource(h264MediaType(settings.width, settings.height, int(num), int(den)), {});
    m_source = parts.source;
    std::weak_ptr<LiveFeed> feed = parts.feed;
    // Input: a sink that encodes each frame it gets, on the session's thread, one at a time. The
    // stream starts over with a key frame after every stop, so that a recording can begin there.
    LiveSinkSpec spec;
    spec.subtype = MFVideoFormat_NV12;
    spec.consume = [guarded, settings, feed](IMFSample *sample, IMFMediaType *current) -> HRESULT {
        const Nv12Frame frame = frameFromSample(sample, current);
        if (frame.isNull())
            return MF_E_INVALIDMEDIATYPE;
        QVector<H264Packet> packets;
        {
            std::lock_guard<std::mutex> lock(guarded->mutex);
            if (!guarded->encoder.isOpen() && !guarded->encoder.open(settings))
                return E_FAIL;
            packets = guarded->encoder.encode(frame);
            if (packets.isEmpty() && !guarded->encoder.errorString().isEmpty())
                return E_FAIL;
        }
        auto target = feed.lock();
        for (const H264Packet &packet : packets)
            if (target)
                target->deliverStamped(sampleFromPacket(packet));
        return S_OK;
    };
    spec.stopped = [guarded] {
        std::lock_guard<std::mutex> lock(guarded->mutex);
        guarded->encoder.close();
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
