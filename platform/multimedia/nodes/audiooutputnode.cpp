#include "multimedia/nodes/audiooutputnode.h"

#include "multimedia/nodes/livesink.h"

#include <QLoggingCategory>
#include <QPointer>

Q_LOGGING_CATEGORY(lcAudioOutput, "Multimedia.AudioOutput")

using namespace nyx::multimedia;

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
    spec.consume = [counts, changed](IMFSample *, IMFMediaType *) {
        ++counts->played;
        changed();
        return S_OK;
    };
    spec.lateDropped = [counts, changed] {
        ++counts->dropped;
        changed();
    };
    m_sink = createLiveSink(spec);
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
