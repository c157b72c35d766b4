#pragma once
// A test-only graph node that keeps every sample reaching its input (as a rendering sink asks: one
// at a time), with its bytes, time and clean-point flag.

#include "multimedia/medianode.h"
#include "multimedia/nodes/livesink.h"
#include "multimedia/nodes/mfframes.h"

#include <chrono>
#include <mutex>
#include <thread>

class CollectorNode : public MediaNode
{
    Q_OBJECT
    Q_PROPERTY(NodeInput *input READ input CONSTANT)
public:
    struct Received
    {
        QByteArray bytes;
        qint64 time = 0;
        bool cleanPoint = false;
        CComPtr<IMFSample> sample; // for its attributes
    };

    explicit CollectorNode(QObject *parent = nullptr) : MediaNode(parent)
    {
        setInputCount(1);
        connect(input(), &NodeInput::connectedMediaTypeChanged, this, &MediaNode::requestCreate);
    }
    ~CollectorNode() override
    {
        clearMfNodes();
        if (m_sink)
            m_sink->Shutdown();
    }
    NodeInput *input() const { return getInput(0); }
    QVector<Received> received() const
    {
        std::lock_guard<std::mutex> lock(m_state->mutex);
        return m_state->received;
    }
    int segmentEnds() const
    {
        std::lock_guard<std::mutex> lock(m_state->mutex);
        return m_state->segmentEnds;
    }
    // Makes the consumer slow now and then: every nth sample takes ms longer (as a busy thread would).
    void setHiccup(int every, int ms)
    {
        std::lock_guard<std::mutex> lock(m_state->mutex);
        m_state->hiccupEvery = every;
        m_state->hiccupMs = ms;
    }
    void cancel() override {}
    void create() override
    {
        if (m_sink || !input()->getConnectedMfMediaType())
            return;
        nyx::multimedia::LiveSinkSpec spec;
        GUID major = GUID_NULL;
        input()->getConnectedMfMediaType()->GetGUID(MF_MT_MAJOR_TYPE, &major);
        spec.majorType = major;
        auto state = m_state;
        spec.consume = [state](IMFSample *sample, IMFMediaType *) {
            Received r;
            r.bytes = nyx::multimedia::sampleBytes(sample);
            LONGLONG time = 0;
            sample->GetSampleTime(&time);
            r.time = time;
            UINT32 clean = 0;
            r.cleanPoint = SUCCEEDED(sample->GetUINT32(MFSampleExtension_CleanPoint, &clean)) && clean;
            r.sample = sample;
            int hiccup = 0;
            {
                std::lock_guard<std::mutex> lock(state->mutex);
                state->received.append(r);
                if (state->hiccupEvery > 0 && state->received.size() % state->hiccupEvery == 0)
                    hiccup = state->hiccupMs;
            }
            if (hiccup > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(hiccup));
            return S_OK;
        };
        spec.endOfSegment = [state] {
            std::lock_guard<std::mutex> lock(state->mutex);
            ++state->segmentEnds;
        };
        m_sink = nyx::multimedia::createLiveSink(spec);
        CComPtr<IMFStreamSink> stream;
        CComPtr<IMFTopologyNode> node;
        m_sink->GetStreamSinkByIndex(0, &stream);
        MFCreateTopologyNode(MF_TOPOLOGY_OUTPUT_NODE, &node);
        node->SetObject(stream);
        addMfNode(node);
        input()->setMfNode(node, 0);
        setStatus(StatusReady);
    }

private:
    struct State
    {
        mutable std::mutex mutex;
        QVector<Received> received;
        int segmentEnds = 0;
        int hiccupEvery = 0;
        int hiccupMs = 0;
    };
    std::shared_ptr<State> m_state = std::make_shared<State>();
    CComPtr<IMFMediaSink> m_sink;
};
