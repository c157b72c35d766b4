#include "multimedia/nodes/audiooutputnode.h"

#include "com/comobject.h"
#include "multimedia/nodes/audioplayback.h"
#include "multimedia/nodes/livesink.h"
#include "multimedia/nodes/mfframes.h"

#include <QPointer>

#include <mutex>

using namespace nyx::multimedia;

namespace {

// Tells the sound device what the presentation clock does. The clock may call it after it was
// removed (it calls its sinks outside its lock), so it holds the playback weakly.
class ClockWatch : public nyx::com::ComObject<IMFClockStateSink>
{
public:
    explicit ClockWatch(std::weak_ptr<AudioPlayback> playback) : m_playback(std::move(playback)) {}

    HRESULT OnClockStart(MFTIME, LONGLONG) override { return call(&AudioPlayback::start); }
    HRESULT OnClockStop(MFTIME) override { return call(&AudioPlayback::stop); }
    HRESULT OnClockPause(MFTIME) override { return call(&AudioPlayback::pause); }
    HRESULT OnClockRestart(MFTIME) override { return call(&AudioPlayback::start); }
    HRESULT OnClockSetRate(MFTIME, float rate) override
    {
        if (auto playback = m_playback.lock())
            playback->setRate(rate);
        return S_OK;
    }

private:
    HRESULT call(void (AudioPlayback::*what)())
    {
        if (auto playback = m_playback.lock())
            (playback.get()->*what)();
        return S_OK;
    }

    std::weak_ptr<AudioPlayback> m_playback;
};

// The stream's format as the sound device takes it; invalid when it is neither 16-bit PCM nor
// 32-bit float.
QAudioFormat audioFormat(IMFMediaType *type, const GUID &subtype)
{
    const bool isFloat = subtype == MFAudioFormat_Float;
    QAudioFormat format;
    format.setCodec(QStringLiteral("audio/pcm"));
    format.setByteOrder(QAudioFormat::LittleEndian);
    format.setSampleRate(int(MFGetAttributeUINT32(type, MF_MT_AUDIO_SAMPLES_PER_SECOND, 48000)));
    format.setChannelCount(int(MFGetAttributeUINT32(type, MF_MT_AUDIO_NUM_CHANNELS, 2)));
    const int bits = int(MFGetAttributeUINT32(type, MF_MT_AUDIO_BITS_PER_SAMPLE, isFloat ? 32 : 16));
    if (bits != (isFloat ? 32 : 16))
        return QAudioFormat();
    format.setSampleSize(bits);
    format.setSampleType(isFloat ? QAudioFormat::Float : QAudioFormat::SignedInt);
    return format;
}

} // namespace

// What renders the node's audio: the sound device and the clock it follows. The clock is the one
// the session gave the media sink; it is taken up when the first buffer is rendered.
struct AudioOutputNode::Renderer
{
    std::mutex mutex;
    IMFMediaSink *sink = nullptr; // the node's, not counted
    std::shared_ptr<AudioPlayback> playback;
    CComPtr<IMFPresentationClock> clock;
    CComPtr<ClockWatch> watch;

    // On the sink's presenter thread, before each buffer is played.
    void followClock()
    {
        std::lock_guard<std::mutex> lock(mutex);
        CComPtr<IMFPresentationClock> current;
        if (!sink || FAILED(sink->GetPresentationClock(&current)) || current == clock)
            return;
        unwatch();
        clock = current;
        watch.Attach(new ClockWatch(playback));
        clock->AddClockStateSink(watch);
        // The clock's state now, since its start has come before this.
        MFCLOCK_STATE state = MFCLOCK_STATE_INVALID;
        clock->GetState(0, &state);
        CComPtr<IMFRateControl> rateControl;
        float rate = 1.0f;
        if (SUCCEEDED(clock->QueryInterface(IID_IMFRateControl, reinterpret_cast<void **>(&rateControl))))
            rateControl->GetRate(nullptr, &rate);
        playback->setRate(rate);
        if (state == MFCLOCK_STATE_RUNNING)
            playback->start();
        else if (state == MFCLOCK_STATE_PAUSED)
            playback->pause();
    }
    void unwatch()
    {
        if (clock && watch)
            clock->RemoveClockStateSink(watch);
        clock = nullptr;
        watch = nullptr;
    }
    // After the sink's shutdown: no buffer comes any more.
    void end()
    {
        std::lock_guard<std::mutex> lock(mutex);
        unwatch();
        sink = nullptr;
        playback.reset();
    }
};

AudioOutputNode::AudioOutputNode(QObject *parent) : MediaNode(parent)
{
    setInputCount(1);
    connect(input(), &NodeInput::connectedMediaTypeChanged, this, &MediaNode::requestCreate);
}

AudioOutputNode::~AudioOutputNode()
{
    release();
}

void AudioOutputNode::release()
{
    clearMfNodes();
    if (m_sink) {
        m_sink->Shutdown();
        m_sink = nullptr;
    }
    if (m_renderer) {
        m_renderer->end();
        m_renderer = nullptr;
    }
}

QString AudioOutputNode::deviceName() const
{
    return m_renderer && m_renderer->playback ? m_renderer->playback->deviceName() : QString();
}

qint64 AudioOutputNode::deviceBytesWritten() const
{
    return m_renderer && m_renderer->playback ? m_renderer->playback->bytesWritten() : 0;
}

qint64 AudioOutputNode::deviceProcessedUSecs() const
{
    return m_renderer && m_renderer->playback ? m_renderer->playback->processedUSecs() : 0;
}

void AudioOutputNode::create()
{
    release();
    CComPtr<IMFMediaType> type = input()->getConnectedMfMediaType();
    if (!type) {
        setStatus(StatusNone);
        return;
    }
    GUID major = GUID_NULL, subtype = GUID_NULL;
    type->GetGUID(MF_MT_MAJOR_TYPE, &major);
    type->GetGUID(MF_MT_SUBTYPE, &subtype);
    if (major != MFMediaType_Audio || (subtype != MFAudioFormat_PCM && subtype != MFAudioFormat_Float)) {
        qCWarning(lcAudioOutput) << "AudioOutput: only PCM or float audio can be played";
        setStatus(StatusError);
        return;
    }
    auto renderer = std::make_shared<Renderer>();
    const QAudioFormat format = audioFormat(type, subtype);
    if (format.isValid())
        renderer->playback = std::make_shared<AudioPlayback>(format);
    else
        qCWarning(lcAudioOutput) << "AudioOutput: only 16-bit PCM or 32-bit float audio is played to a "
                                    "sound device; this stream is consumed at the clock's pace without sound";
    auto counts = m_counts;
    QPointer<AudioOutputNode> self(this);
    auto changed = [self] {
        QMetaObject::invokeMethod(
            self,
            [self] {
                if (self)
                    emit self->statisticsChanged();
            },
            Qt::QueuedConnection);
    };
    LiveSinkSpec spec;
    spec.majorType = MFMediaType_Audio;
    spec.subtype = subtype;
    spec.paced = true;
    spec.consume = [renderer, counts, changed](IMFSample *sample, IMFMediaType *) {
        bool taken = true;
        if (renderer->playback) {
            renderer->followClock();
            taken = renderer->playback->write(sampleBytes(sample));
        }
        ++(taken ? counts->played : counts->dropped);
        changed();
        return S_OK;
    };
    spec.lateDropped = [counts, changed] {
        ++counts->dropped;
        changed();
    };
    m_sink = createLiveSink(spec);
    renderer->sink = m_sink;
    m_renderer = renderer;
    CComPtr<IMFStreamSink> streamSink;
    CComPtr<IMFTopologyNode> node;
    HRESULT hr = m_sink->GetStreamSinkByIndex(0, &streamSink);
    if (SUCCEEDED(hr))
        hr = MFCreateTopologyNode(MF_TOPOLOGY_OUTPUT_NODE, &node);
    if (SUCCEEDED(hr))
        hr = node->SetObject(streamSink);
    if (FAILED(hr)) {
        release();
        setStatus(StatusError);
        return;
    }
    addMfNode(node);
    input()->setMfNode(node, 0);
    setStatus(StatusReady);
}
