#include "multimedia/nodepin.h"

#include "multimedia/nodeconnection.h"

#include "multimedia/medianode.h"

NodePin::NodePin(MediaNode *node, int index) : QObject(node), m_node(node), m_index(index) {}

NodePin::NodePin(QObject *parent) : QObject(parent) {}

NodePin::~NodePin() = default;

void NodePin::setMfNode(IMFTopologyNode *node, DWORD index)
{
    if (m_mfNode.p == node && m_mfIndex == index)
        return;
    m_mfNode = node;
    m_mfIndex = index;
    emit mfNodeChanged();
}

namespace {
template <class T> CComPtr<T> unknownAttribute(IMFTopologyNode *node, REFGUID key)
{
    CComPtr<T> object;
    if (node)
        node->GetUnknown(key, nyx::com::uuidOf<T>(), reinterpret_cast<void **>(&object));
    return object;
}
} // namespace

CComPtr<IMFMediaSource> NodeOutput::mediaSource() const
{
    return unknownAttribute<IMFMediaSource>(mfNode(), MF_TOPONODE_SOURCE);
}

CComPtr<IMFPresentationDescriptor> NodeOutput::presentationDescriptor() const
{
    return unknownAttribute<IMFPresentationDescriptor>(mfNode(), MF_TOPONODE_PRESENTATION_DESCRIPTOR);
}

CComPtr<IMFStreamDescriptor> NodeOutput::streamDescriptor() const
{
    return unknownAttribute<IMFStreamDescriptor>(mfNode(), MF_TOPONODE_STREAM_DESCRIPTOR);
}

CComPtr<IMFMediaType> NodeOutput::getMfMediaType() const
{
    CComPtr<IMFMediaType> type;
    CComPtr<IMFMediaTypeHandler> handler;
    if (auto descriptor = streamDescriptor();
        descriptor && SUCCEEDED(descriptor->GetMediaTypeHandler(&handler)))
        handler->GetCurrentMediaType(&type);
    return type;
}

CComPtr<IMFStreamSink> NodeInput::streamSink() const
{
    CComPtr<IUnknown> object;
    CComPtr<IMFStreamSink> sink;
    if (mfNode() && SUCCEEDED(mfNode()->GetObject(&object)) && object)
        object.QueryInterface(&sink);
    return sink;
}

NodeConnection *NodeInput::connection() const
{
    return m_connection.data();
}

void NodeInput::setConnection(NodeConnection *connection, IMFMediaType *type)
{
    // A source made anew for a new range (a click on an event) brings a type object of its own with
    // the same format: the node behind this input keeps what it made for it instead of making it
    // all again, and the replay starts that much sooner.
    DWORD flags = 0;
    const bool sameType = m_connectedType.p == type ||
                          (m_connectedType && type && m_connectedType->IsEqual(type, &flags) == S_OK);
    const bool changed = m_connection.data() != connection || !sameType;
    m_connection = connection;
    if (!sameType)
        m_connectedType = type;
    if (changed)
        emit connectedMediaTypeChanged();
}
