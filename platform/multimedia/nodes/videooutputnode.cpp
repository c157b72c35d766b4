#include "multimedia/nodes/videooutputnode.h"

#include "multimedia/nodes/livesink.h"
#include "multimedia/nodes/mfframes.h"
#include "multimedia/sampleattributes.h"
#include "win32/filetime.h"

using namespace nyx::multimedia;

VideoOutputNodeItem::VideoOutputNodeItem(QQuickItem *parent)
    : VideoOutputItem(parent), m_node(new VideoRendererNode(this))
{
    connect(m_node, &MediaNode::statusChanged, this, &VideoOutputNodeItem::statusChanged);
}

VideoOutputNodeItem::~VideoOutputNodeItem()
{
    // The node's sink must stop calling present() before this item is gone.
    delete m_node;
}

NodeInput *VideoOutputNodeItem::videoInput() const
{
    return m_node->getInput(0);
}

int VideoOutputNodeItem::status() const
{
    return m_node->status();
}

MediaNode *VideoOutputNodeItem::node() const
{
    return m_node;
}

VideoRendererNode::VideoRendererNode(VideoOutputNodeItem *item) : MediaNode(item), m_item(item)
{
    setInputCount(1);
    connect(getInput(0), &NodeInput::connectedMediaTypeChanged, this, &MediaNode::requestCreate);
}

VideoRendererNode::~VideoRendererNode()
{
    release();
}

void VideoRendererNode::release()
{
    clearMfNodes();
    if (m_sink) {
        m_sink->Shutdown();
        m_sink = nullptr;
    }
}

void VideoRendererNode::create()
{
    release();
    CComPtr<IMFMediaType> type = getInput(0)->getConnectedMfMediaType();
    if (!type) {
        setStatus(StatusNone);
        return;
    }
    GUID subtype = GUID_NULL;
    type->GetGUID(MF_MT_SUBTYPE, &subtype);
    if (subtype != MFVideoFormat_NV12) {
        qWarning("VideoOutput: only NV12 video can be shown");
        setStatus(StatusError);
        return;
    }
    VideoOutputNodeItem *item = m_item;
    LiveSinkSpec spec;
    spec.subtype = MFVideoFormat_NV12;
    // Frames show when the session's clock reaches their time: a replay plays at its rate, never
    // as fast as it can be read.
    spec.paced = true;
    spec.lateDropped = [item] { item->countLate(); };
    spec.prerollDropped = [item] { item->countPrerolled(); };
    spec.consume = [item](IMFSample *sample, IMFMediaType *current) {
        const Nv12Frame frame = frameFromSample(sample, current);
        if (frame.isNull())
            return MF_E_INVALIDMEDIATYPE;
        UINT64 recorded = 0;
        const double time = SUCCEEDED(sample->GetUINT64(RecordedTimeAttribute, &recorded))
                                ? double(qint64(recorded) - qint64(nyx::win32::kUnixEpochFileTime)) / 10000.0
                                : qQNaN();
        item->present(frame, time);
        return S_OK;
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
    getInput(0)->setMfNode(node, 0);
    setStatus(StatusReady);
}
