#pragma once
// A test-only graph node that plays a list of prepared samples the way a recording's playback does:
// each one when its consumer asks, with its own time, then the end of the stream.

#include "multimedia/medianode.h"
#include "multimedia/mediasourcenode.h"
#include "multimedia/nodes/livesource.h"

#include <atomic>
#include <thread>

class ClipSourceNode : public MediaNode
{
    Q_OBJECT
    Q_PROPERTY(NodeOutput *output READ output CONSTANT)
public:
    explicit ClipSourceNode(QObject *parent = nullptr) : MediaNode(parent) { setOutputCount(1); }
    ~ClipSourceNode() override
    {
        m_halt = true;
        if (m_thread.joinable())
            m_thread.join();
        clearMfNodes();
        if (m_source)
            m_source->Shutdown();
    }
    NodeOutput *output() const { return getOutput(0); }
    void setClip(IMFMediaType *type, const QVector<CComPtr<IMFSample>> &samples)
    {
        m_type = type;
        m_samples = samples;
        requestCreate();
    }
    void cancel() override {}
    void create() override
    {
        if (m_source || !m_type)
            return;
        nyx::multimedia::LiveSourceParts parts = nyx::multimedia::createLiveSource(m_type, {});
        m_source = parts.source;
        auto descriptor = getCleanPresentationDescriptor(m_source);
        DWORD index = 0;
        GUID major = MFMediaType_Video;
        m_type->GetGUID(MF_MT_MAJOR_TYPE, &major);
        auto node = createMediaSourceNode(m_source, descriptor, major, &index);
        addMfNode(node);
        output()->setMfNode(node, index);
        std::shared_ptr<nyx::multimedia::LiveFeed> feed = parts.feed;
        m_thread = std::thread([this, feed] {
            for (const CComPtr<IMFSample> &sample : m_samples) {
                while (!m_halt && !(feed->waitForRequest(100) && feed->deliverStamped(sample))) {
                }
            }
            if (!m_halt)
                feed->endOfStream();
        });
        setStatus(StatusReady);
    }

private:
    CComPtr<IMFMediaType> m_type;
    QVector<CComPtr<IMFSample>> m_samples;
    CComPtr<IMFMediaSource> m_source;
    std::atomic_bool m_halt{false};
    std::thread m_thread;
};
