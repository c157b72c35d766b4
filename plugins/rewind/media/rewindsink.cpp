#include "rewindsink.h"

#include "multimedia/activator.h"
#include "rewindsinklogging.h"
#include "rewindsinkmf.h"
#include "stream.h"
#include "streamupdater.h"

#include <QThread>

namespace {
// The build step; runs on the stream's worker thread. A failure reaches onActivated through the
// Activator with its own HRESULT and words and is logged there, once.
CComPtr<IUnknown> createRewindSink(const QSharedPointer<StreamUpdater> &updater,
                                   const CComPtr<IMFMediaType> &type)
{
    CComPtr<IRewindServer> server;
    if (updater)
        server.Attach(updater->server());
    if (!server)
        throw ComException(E_POINTER, QStringLiteral("Null pointer"));
    const GUID streamId = nyx::com::fromQUuid(updater->guid());
    CComPtr<IArchiveStream> stream;
    HRESULT hr = server->OpenStream(streamId, &stream);
    if (FAILED(hr))
        throw ComException(hr, QStringLiteral("Error"));
    CComPtr<IMFMediaSink> sink;
    hr = createRewindSinkMF(streamId, type, server, stream, &sink);
    if (hr == MF_E_INVALIDTYPE)
        throw ComException(hr, refusedMediaTypeText(stream, type));
    if (FAILED(hr))
        throw ComException(hr, QStringLiteral("Error"));
    if (!sink)
        throw ComException(E_POINTER, QStringLiteral("Null pointer"));
    CComPtr<IMFStreamSink> streamSink;
    hr = sink->GetStreamSinkByIndex(0, &streamSink);
    if (FAILED(hr))
        throw ComException(hr, QStringLiteral("Error"));
    // The stream sink keeps its media sink alive.
    return CComPtr<IUnknown>(streamSink.p);
}
} // namespace

RewindSink::RewindSink(QObject *parent) : MediaNode(parent)
{
    setInputCount(1);
}

RewindSink::~RewindSink()
{
    clearMfNodes();
    releaseSink();
    delete m_activator;
    m_stream.clear();
}

void RewindSink::setStream(Stream *stream)
{
    if (m_stream.data() == stream)
        return;
    m_stream = stream;
    requestCreate();
    emit streamChanged();
}

void RewindSink::cancel()
{
    if (m_activator)
        m_activator->cancel();
}

void RewindSink::releaseSink()
{
    if (m_mediaSink) {
        m_mediaSink->Shutdown();
        m_mediaSink = nullptr;
    }
}

void RewindSink::create()
{
    if (!m_stream) {
        cancel();
        clearMfNodes();
        releaseSink();
        setStatus(StatusNone);
        return;
    }
    CComPtr<IMFMediaType> type = input()->getConnectedMfMediaType();
    if (!type)
        return;
    if (!m_activator) {
        m_activator = new Activator(m_stream->thread().data());
        connect(m_activator, &Activator::activated, this, &RewindSink::onActivated);
    }
    // A new build replaces the sink of the previous one, which must let go of the stream first.
    clearMfNodes();
    releaseSink();
    QSharedPointer<StreamUpdater> updater = m_stream->updater();
    setStatus(StatusCreating);
    m_activator->activate(createActivate([updater, type]() { return createRewindSink(updater, type); }));
}

void RewindSink::onActivated(CComPtr<IUnknown> object, ComException error)
{
    try {
        if (error.getErrorCode() < 0)
            throw error;
        CComPtr<IMFStreamSink> streamSink;
        if (!object || FAILED(object.QueryInterface(&streamSink)) || !streamSink)
            throw ComException(E_POINTER, QStringLiteral("Null pointer"));
        CComPtr<IMFTopologyNode> node;
        HRESULT hr = MFCreateTopologyNode(MF_TOPOLOGY_OUTPUT_NODE, &node);
        if (SUCCEEDED(hr))
            hr = node->SetObject(streamSink);
        if (FAILED(hr))
            throw ComException(hr, QStringLiteral("Error"));
        streamSink->GetMediaSink(&m_mediaSink);
        addMfNode(node);
        input()->setMfNode(node, 0);
        setStatus(StatusReady);
    } catch (const ComException &e) {
        qCCritical(lcRewindSink) << "RewindSink:" << e;
        setStatus(StatusError);
    }
}
