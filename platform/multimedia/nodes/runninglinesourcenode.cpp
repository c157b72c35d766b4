#include "multimedia/nodes/runninglinesourcenode.h"

#include "multimedia/engines/runninglinesource.h"
#include "multimedia/mediasourcenode.h"
#include "multimedia/nodes/livesource.h"
#include "multimedia/nodes/mfframes.h"

#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcRunningLine, "Multimedia.RunningLineSource")

using namespace nyx::multimedia;

RunningLineSourceNode::RunningLineSourceNode(QObject *parent) : MediaNode(parent)
{
    setOutputCount(1);
    requestCreate();
}

RunningLineSourceNode::~RunningLineSourceNode()
{
    release();
}

void RunningLineSourceNode::setFrameSize(const QSize &size)
{
    if (m_frameSize == size)
        return;
    m_frameSize = size;
    requestCreate();
    emit frameSizeChanged();
}

void RunningLineSourceNode::setFrameRateNumerator(int value)
{
    if (m_rateNum == value)
        return;
    m_rateNum = value;
    requestCreate();
    emit frameRateChanged();
}

void RunningLineSourceNode::setFrameRateDenominator(int value)
{
    if (m_rateDen == value)
        return;
    m_rateDen = value;
    requestCreate();
    emit frameRateChanged();
}

void RunningLineSourceNode::release()
{
    clearMfNodes();
    if (m_source) {
        m_source->Shutdown();
        m_source = nullptr;
    }
}

void RunningLineSourceNode::create()
{
    release();
    auto engine =
        std::make_shared<RunningLineSource>(m_frameSize.width(), m_frameSize.height(), m_rateNum, m_rateDen);
    if (!engine->isValid()) {
        qCWarning(lcRunningLine) << "RunningLineSource: unusable frame size or rate" << m_frameSize
                                 << m_rateNum << m_rateDen;
        setStatus(StatusError);
        return;
    }
    setStatus(StatusCreating);
    auto type = nv12MediaType(m_frameSize.width(), m_frameSize.height(), m_rateNum, m_rateDen);
    auto feedHolder = std::make_shared<std::weak_ptr<LiveFeed>>();
    LiveSourceCallbacks callbacks;
    callbacks.started = [engine, feedHolder] {
        engine->stop();
        std::weak_ptr<LiveFeed> weak = *feedHolder;
        // The engine stamps frames on its own steady clock, the time base the source expects.
        engine->start([weak](const Nv12Frame &frame) {
            if (auto feed = weak.lock())
                feed->deliver(sampleFromFrame(frame), frame.time);
        });
    };
    callbacks.stopped = [engine] { engine->stop(); };
    LiveSourceParts parts = createLiveSource(type, callbacks);
    *feedHolder = parts.feed;
    m_source = parts.source;
    auto descriptor = getCleanPresentationDescriptor(m_source);
    DWORD index = 0;
    auto node = createMediaSourceNode(m_source, descriptor, MFMediaType_Video, &index);
    if (!node) {
        release();
        setStatus(StatusError);
        return;
    }
    addMfNode(node);
    output()->setMfNode(node, index);
    setStatus(StatusReady);
}
