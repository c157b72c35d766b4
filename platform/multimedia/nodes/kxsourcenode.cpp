#include "multimedia/nodes/kxsourcenode.h"

#include "multimedia/engines/framepacer.h"
#include "multimedia/kx/kxaddress.h"
#include "multimedia/kx/kxstereoinput.h"
#include "multimedia/kx/kxvideoinput.h"
#include "multimedia/kx/tonegenerator.h"
#include "multimedia/mediasourcenode.h"
#include "multimedia/nodes/livesource.h"
#include "multimedia/nodes/mfframes.h"

#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcKXSource, "Multimedia.KXSource")

using namespace nyx::multimedia;

KXSourceNode::KXSourceNode(QObject *parent) : MediaNode(parent)
{
    setOutputCount(1);
}

KXSourceNode::~KXSourceNode()
{
    release();
}

void KXSourceNode::setUrl(const QUrl &url)
{
    if (m_url == url)
        return;
    m_url = url;
    requestCreate();
    emit urlChanged();
}

void KXSourceNode::release()
{
    clearMfNodes();
    if (m_source) {
        m_source->Shutdown();
        m_source = nullptr;
    }
}

void KXSourceNode::create()
{
    release();
    if (m_url.isEmpty()) {
        setStatus(StatusNone);
        return;
    }
    QString error;
    const auto address = KXAddress::parse(m_url, &error);
    if (!address) {
        qCWarning(lcKXSource).noquote() << "KXSource:" << error;
        setStatus(StatusError);
        return;
    }
    setStatus(StatusCreating);
    auto feedHolder = std::make_shared<std::weak_ptr<LiveFeed>>();
    LiveSourceCallbacks callbacks;
    CComPtr<IMFMediaType> type;
    GUID major = MFMediaType_Video;
    if (address->kind == KXAddress::Kind::Video) {
        type = nv12MediaType(KXVideoInput::Width, KXVideoInput::Height, KXVideoInput::FrameRate, 1);
        auto input = std::make_shared<KXVideoInput>(*address);
        callbacks.started = [input, feedHolder] {
            input->stop();
            std::weak_ptr<LiveFeed> weak = *feedHolder;
            input->start([weak](const Nv12Frame &frame) {
                if (auto feed = weak.lock())
                    feed->deliver(sampleFromFrame(frame), frame.time);
            });
        };
        callbacks.stopped = [input] { input->stop(); };
    } else {
        major = MFMediaType_Audio;
        type = pcmMediaType(ToneGenerator::SampleRate, ToneGenerator::Channels);
        auto input = std::make_shared<KXStereoInput>(*address);
        callbacks.started = [input, feedHolder] {
            input->stop();
            std::weak_ptr<LiveFeed> weak = *feedHolder;
            input->start([weak](const PcmBlock &block) {
                if (auto feed = weak.lock()) {
                    auto sample = sampleFromBytes(block.data, block.time, block.duration);
                    if (sample)
                        sample->SetUINT32(MFSampleExtension_CleanPoint, 1);
                    feed->deliver(sample, block.time);
                }
            });
        };
        callbacks.stopped = [input] { input->stop(); };
    }
    // After a stall the board's inputs make up to their catch-up window of missed frames or blocks at once;
    // the source holds all of them for a consumer that is itself only getting going again (an encoder
    // starting up on a busy machine), rather than dropping half of the burst it was just given.
    const std::size_t backlog = address->kind == KXAddress::Kind::Video
                                    ? std::size_t(FramePacer::DefaultCatchUp / KXVideoInput::FrameDuration)
                                    : std::size_t(KXStereoInput::DefaultCatchUp /
                                                  ToneGenerator::sampleTime(KXStereoInput::BlockFrames));
    LiveSourceParts parts = createLiveSource(type, callbacks, backlog);
    *feedHolder = parts.feed;
    m_source = parts.source;
    auto descriptor = getCleanPresentationDescriptor(m_source);
    DWORD index = 0;
    auto node = createMediaSourceNode(m_source, descriptor, major, &index);
    if (!node) {
        release();
        setStatus(StatusError);
        return;
    }
    addMfNode(node);
    output()->setMfNode(node, index);
    setStatus(StatusReady);
}
