#pragma once
// The output as a view sees it: a paced sink (as VideoOutput's) that keeps the strip of every frame
// it shows and when it showed the first, and counts the frames it passes over.

#include "multimedia/engines/timestrip.h"
#include "multimedia/medianode.h"
#include "multimedia/nodes/livesink.h"
#include "multimedia/nodes/mfframes.h"

#include <chrono>
#include <memory>
#include <mutex>

class ShownFrames : public MediaNode
{
    Q_OBJECT
    Q_PROPERTY(NodeInput *videoInput READ videoInput CONSTANT)
public:
    explicit ShownFrames(QObject *parent = nullptr) : MediaNode(parent)
    {
        setInputCount(1);
        connect(videoInput(), &NodeInput::connectedMediaTypeChanged, this, &MediaNode::requestCreate);
    }
    ~ShownFrames() override
    {
        clearMfNodes();
        if (m_sink)
            m_sink->Shutdown();
    }
    NodeInput *videoInput() const { return getInput(0); }
    void cancel() override {}
    void create() override
    {
        if (m_sink || !videoInput()->getConnectedMfMediaType())
            return;
        nyx::multimedia::LiveSinkSpec spec;
        spec.subtype = MFVideoFormat_NV12;
        spec.paced = true;
        auto state = m_state;
        spec.consume = [state](IMFSample *sample, IMFMediaType *type) {
            const nyx::multimedia::Nv12Frame frame = nyx::multimedia::frameFromSample(sample, type);
            const std::optional<quint64> strip = nyx::multimedia::TimeStrip::read(frame);
            std::lock_guard<std::mutex> lock(state->mutex);
            if (state->shown.isEmpty())
                state->firstShown = std::chrono::steady_clock::now();
            state->shown.append(strip ? int(*strip) : -1);
            return S_OK;
        };
        spec.prerollDropped = [state] {
            std::lock_guard<std::mutex> lock(state->mutex);
            ++state->prerolled;
        };
        spec.lateDropped = [state] {
            std::lock_guard<std::mutex> lock(state->mutex);
            ++state->late;
        };
        m_sink = nyx::multimedia::createLiveSink(spec);
        CComPtr<IMFStreamSink> stream;
        CComPtr<IMFTopologyNode> node;
        m_sink->GetStreamSinkByIndex(0, &stream);
        MFCreateTopologyNode(MF_TOPOLOGY_OUTPUT_NODE, &node);
        node->SetObject(stream);
        addMfNode(node);
        videoInput()->setMfNode(node, 0);
        setStatus(StatusReady);
    }
    struct Counts
    {
        QVector<int> shown; // strip values, -1 for a frame without a readable strip
        int prerolled = 0;
        int late = 0;
        std::chrono::steady_clock::time_point firstShown; // when shown[0] was handed over
    };
    Counts counts() const
    {
        std::lock_guard<std::mutex> lock(m_state->mutex);
        return {m_state->shown, m_state->prerolled, m_state->late, m_state->firstShown};
    }
    void reset()
    {
        std::lock_guard<std::mutex> lock(m_state->mutex);
        m_state->shown.clear();
        m_state->prerolled = m_state->late = 0;
    }

private:
    struct State
    {
        std::mutex mutex;
        QVector<int> shown;
        int prerolled = 0;
        int late = 0;
        std::chrono::steady_clock::time_point firstShown;
    };
    std::shared_ptr<State> m_state = std::make_shared<State>();
    CComPtr<IMFMediaSink> m_sink;
};
