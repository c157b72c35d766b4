#include "multimedia/nodes/networksourcenode.h"

#include "multimedia/engines/networksource.h"
#include "multimedia/mediasourcenode.h"
#include "multimedia/nodes/livesource.h"
#include "multimedia/nodes/mfframes.h"

#include <QLoggingCategory>

#include <atomic>
#include <mutex>
#include <thread>

Q_LOGGING_CATEGORY(lcNetworkSource, "Multimedia.NetworkSource")

using namespace nyx::multimedia;

// What the engine's thread and the node share.
struct NetworkSourceNode::Shared
{
    std::atomic<bool> halt{false};
    std::mutex mutex;
    std::weak_ptr<LiveFeed> feed; // set once the output exists
    qint64 firstTime = -1;        // of a clip: its first picture's time

    std::shared_ptr<LiveFeed> currentFeed()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return feed.lock();
    }
};

NetworkSourceNode::NetworkSourceNode(QObject *parent) : MediaNode(parent)
{
    setOutputCount(1);
}

NetworkSourceNode::~NetworkSourceNode()
{
    release();
}

void NetworkSourceNode::setUrl(const QUrl &url)
{
    if (m_url == url)
        return;
    m_url = url;
    requestCreate();
    emit urlChanged();
}

void NetworkSourceNode::release()
{
    if (m_shared)
        m_shared->halt = true;
    m_engine.reset(); // interrupts the network and joins the engine's thread
    m_shared.reset();
    clearMfNodes();
    if (m_source) {
        m_source->Shutdown();
        m_source = nullptr;
    }
}

void NetworkSourceNode::create()
{
    release();
    if (m_url.isEmpty()) {
        setStatus(StatusNone);
        return;
    }
    if (!NetworkSource::isSupported(m_url)) {
        qCWarning(lcNetworkSource) << "NetworkSource: unsupported URL" << m_url.toDisplayString();
        setStatus(StatusError);
        return;
    }
    setStatus(StatusCreating);
    auto shared = std::make_shared<Shared>();
    m_shared = shared;
    const bool clip = m_url.isLocalFile();
    NetworkSource::Callbacks callbacks;
    callbacks.format = [this, shared](const NetworkSource::Format &format) {
        QMetaObject::invokeMethod(
            this,
            [this, shared, format] {
                if (m_shared == shared && !m_source)
                    bindOutput(format.size.width(), format.size.height(), format.frameRateNumerator,
                               format.frameRateDenominator);
            },
            Qt::QueuedConnection);
    };
    callbacks.status = [this, shared](NetworkSource::Status status, const QString &) {
        // The end of a clip ends the stream (its sinks get the end of the segment).
        if (status == NetworkSource::Status::Ended) {
            if (auto feed = shared->currentFeed())
                feed->endOfStream();
            return;
        }
        if (status != NetworkSource::Status::Failed)
            return;
        QMetaObject::invokeMethod(
            this,
            [this, shared] {
                if (m_shared == shared)
                    setStatus(StatusError);
            },
            Qt::QueuedConnection);
    };
    callbacks.packet = [shared, clip](const H264Packet &packet, bool discontinuity) {
        CComPtr<IMFSample> sample = sampleFromPacket(packet);
        if (!clip) {
            if (auto feed = shared->currentFeed())
                feed->deliver(sample, MFGetSystemTime());
            return;
        }
        // A clip waits for its consumer: every picture is delivered, at its time in the clip.
        if (discontinuity || shared->firstTime < 0)
            shared->firstTime = packet.time;
        while (!shared->halt) {
            auto feed = shared->currentFeed();
            if (feed && feed->waitForRequest(100)) {
                sample->SetSampleTime(packet.time - shared->firstTime);
                if (feed->deliverStamped(sample))
                    return;
            } else if (!feed) {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        }
    };
    m_engine = std::make_unique<NetworkSource>(m_url, callbacks);
    m_engine->start();
}

void NetworkSourceNode::bindOutput(int width, int height, int rateNum, int rateDen)
{
    if (rateNum <= 0 || rateDen <= 0) {
        rateNum = 25;
        rateDen = 1;
    }
    LiveSourceParts parts = createLiveSource(h264MediaType(width, height, rateNum, rateDen), {});
    auto descriptor = getCleanPresentationDescriptor(parts.source);
    DWORD index = 0;
    auto node = createMediaSourceNode(parts.source, descriptor, MFMediaType_Video, &index);
    if (!node) {
        parts.source->Shutdown();
        setStatus(StatusError);
        return;
    }
    m_source = parts.source;
    {
        std::lock_guard<std::mutex> lock(m_shared->mutex);
        m_shared->feed = parts.feed;
    }
    addMfNode(node);
    output()->setMfNode(node, index);
    setStatus(StatusReady);
}
