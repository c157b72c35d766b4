#include "multimedia/nodes/kxsinknode.h"

#include "multimedia/kx/kxaddress.h"
#include "multimedia/kx/kxloopback.h"
#include "multimedia/nodes/livesink.h"
#include "multimedia/nodes/mfframes.h"

#include <QLoggingCategory>

#include <memory>
#include <mutex>

Q_LOGGING_CATEGORY(lcKXSink, "Multimedia.KXSink")

using namespace nyx::multimedia;

namespace {
// The output the sink writes to, open while frames flow: closing it unplugs the output at once.
struct OutputPort
{
    QString name;
    std::mutex mutex;
    std::unique_ptr<KXLoopbackWriter> writer;

    HRESULT write(const Nv12Frame &frame)
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (!writer)
            writer = std::make_unique<KXLoopbackWriter>(name);
        return writer->write(frame) ? S_OK : MF_E_INVALIDMEDIATYPE;
    }
    void close()
    {
        std::lock_guard<std::mutex> lock(mutex);
        writer.reset();
    }
};
} // namespace

KXSinkNode::KXSinkNode(QObject *parent) : MediaNode(parent)
{
    setInputCount(1);
    connect(videoInput(), &NodeInput::connectedMediaTypeChanged, this, &MediaNode::requestCreate);
}

KXSinkNode::~KXSinkNode()
{
    release();
}

void KXSinkNode::setOutput(const QVariant &output)
{
    if (m_output == output)
        return;
    m_output = output;
    requestCreate();
    emit outputChanged();
}

QString KXSinkNode::outputName() const
{
    if (auto *object = m_output.value<QObject *>())
        return object->property("name").toString();
    if (m_output.canConvert<QVariantMap>() && m_output.toMap().contains(QStringLiteral("name")))
        return m_output.toMap().value(QStringLiteral("name")).toString();
    return m_output.toString();
}

void KXSinkNode::release()
{
    clearMfNodes();
    if (m_sink) {
        m_sink->Shutdown();
        m_sink = nullptr;
    }
}

void KXSinkNode::create()
{
    release();
    const QString name = outputName();
    CComPtr<IMFMediaType> type = videoInput()->getConnectedMfMediaType();
    if (name.isEmpty() || !type) {
        setStatus(StatusNone);
        return;
    }
    QString error;
    if (!KXAddress::parseOutput(name, &error)) {
        qCWarning(lcKXSink).noquote() << "KXSink:" << error;
        setStatus(StatusError);
        return;
    }
    GUID subtype = GUID_NULL;
    type->GetGUID(MF_MT_SUBTYPE, &subtype);
    if (subtype != MFVideoFormat_NV12) {
        qCWarning(lcKXSink) << "KXSink: the board's outputs take NV12 video only";
        setStatus(StatusError);
        return;
    }
    auto port = std::make_shared<OutputPort>();
    port->name = name;
    LiveSinkSpec spec;
    spec.majorType = MFMediaType_Video;
    spec.subtype = MFVideoFormat_NV12;
    spec.consume = [port](IMFSample *sample, IMFMediaType *current) {
        const Nv12Frame frame = frameFromSample(sample, current);
        return frame.isNull() ? MF_E_INVALIDMEDIATYPE : port->write(frame);
    };
    spec.stopped = [port] { port->close(); };
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
    videoInput()->setMfNode(node, 0);
    setStatus(StatusReady);
}
