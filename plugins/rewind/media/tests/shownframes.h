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
#include <thread>

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
            // How far the session's clock had gone past the frame's time when it was shown.
            LONGLONG time = 0, now = 0;
            sample->GetSampleTime(&time);
            std::lock_guard<std::mutex> lock(state->mutex);
            CComPtr<IMFPresentationClock> clock;
            if (state->sink && SUCCEEDED(state->sink->GetPresentationClock(&clock)))
                clock->GetTime(&now);
            if (state->shown.isEmpty())
                state->firstShown = std::chrono::steady_clock::now();
            state->shown.append(strip ? int(*strip) : -1);
            state->lateMs.append(clock ? (now - time) / 10000 : 0);
            return S_OK;
        };
        spec.prerollDropped = [state] {
            int cost = 0;
            {
                std::lock_guard<std::mutex> lock(state->mutex);
                ++state->prerolled;
                cost = state->prerollCostMs;
            }
            // A slower decoder: the output is busy this long with each frame it passes over.
            std::this_thread::sleep_for(std::chrono::milliseconds(cost));
        };
        spec.lateDropped = [state] {
            std::lock_guard<std::mutex> lock(state->mutex);
            ++state->late;
        };
        m_sink = nyx::multimedia::createLiveSink(spec);
        {
            std::lock_guard<std::mutex> lock(state->mutex);
            state->sink = m_sink; // consumption ends before the sink's shutdown returns
        }
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
        QVector<qint64> lateMs;                           // of each shown frame against the clock
    };
    Counts counts() const
    {
        std::lock_guard<std::mutex> lock(m_state->mutex);
        return {m_state->shown, m_state->prerolled, m_state->late, m_state->firstShown, m_state->lateMs};
    }
    void setPrerollCost(int ms)
    {
        std::lock_guard<std::mutex> lock(m_state->mutex);
        m_state->prerollCostMs = ms;
    }
    void reset()
    {
        std::lock_guard<std::mutex> lock(m_state->mutex);
        m_state->shown.clear();
        m_state->lateMs.clear();
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
        int prerollCostMs = 0;
        QVector<qint64> lateMs;
        IMFMediaSink *sink = nullptr;
    };
    std::shared_ptr<State> m_state = std::make_shared<State>();
    CComPtr<IMFMediaSink> m_sink;
};
