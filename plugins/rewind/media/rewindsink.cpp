#include "rewindsink.h"

#include "multimedia/activator.h"
#include "rewindsinklogging.h"
#include "rewindsinkmf.h"
#include "rewindsinkstream.h"
#include "stream.h"
#include "streamupdater.h"

#include <QCoreApplication>
#include <QThread>

namespace {
// The same failure is logged again at most this often: a sink that retries every few seconds
// must not fill the log.
constexpr qint64 kRepeatLogMs = 60000;

// The build step; runs on the stream's worker thread. A failure reaches onActivated through the
// Activator with its own HRESULT and words and is logged there, once.
CComPtr<IUnknown> createRewindSink(const QSharedPointer<StreamUpdater> &updater,
                                   const CComPtr<IMFMediaType> &type,
                                   const std::function<void(HRESULT)> &onRecordingChanged)
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
    // Made by createRewindSinkMF, so it is ours.
    if (RewindSinkStream *recording = static_cast<RewindSinkMF *>(sink.p)->stream())
        recording->setFailureHandler(onRecordingChanged);
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
    m_retryTimer.setSingleShot(true);
    m_retryTimer.setInterval(kRetryIntervalMs);
    connect(&m_retryTimer, &QTimer::timeout, this, &RewindSink::requestCreate);
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
    m_retryTimer.stop();
    if (!m_stream) {
        cancel();
        clearMfNodes();
        releaseSink();
        setError(S_OK);
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
    // The stream sink tells of its failures on its work queue; they count for this build only.
    const quint64 build = ++m_build;
    QPointer<RewindSink> self(this);
    std::function<void(HRESULT)> onRecordingChanged = [self, build](HRESULT hr) {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, build, hr]() {
                if (self)
                    self->onRecordingChanged(build, hr);
            },
            Qt::QueuedConnection);
    };
    setStatus(StatusCreating);
    m_activator->activate(createActivate([updater, type, onRecordingChanged]() {
        return createRewindSink(updater, type, onRecordingChanged);
    }));
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
        setError(S_OK);
        setStatus(StatusReady);
    } catch (const ComException &e) {
        logFailure(e);
        setError(e.getErrorCode());
        setStatus(StatusError);
        // The archive may let the sink record later (a read-only root made writable, a stream
        // another sink held let go): it is built again while it has a stream.
        if (m_stream)
            m_retryTimer.start();
    }
}

void RewindSink::onRecordingChanged(quint64 build, HRESULT hr)
{
    if (build != m_build || !m_mediaSink)
        return;
    if (FAILED(hr)) {
        logFailure(ComException(hr, QStringLiteral("recording into %1 failed, trying again every %2 s")
                                        .arg(m_stream ? m_stream->name() : QString())
                                        .arg(kRetryIntervalMs / 1000)));
        setError(hr);
        setStatus(StatusError);
        return;
    }
    if (FAILED(m_error))
        qCInfo(lcRewindSink).noquote()
            << "RewindSink: recording into" << (m_stream ? m_stream->name() : QString()) << "again";
    setError(S_OK);
    setStatus(StatusReady);
}

void RewindSink::setError(HRESULT hr)
{
    if (m_error == hr)
        return;
    m_error = hr;
    emit errorChanged();
}

void RewindSink::logFailure(const ComException &error)
{
    const HRESULT hr = error.getErrorCode();
    if (hr == m_loggedError && m_loggedAt.isValid() && m_loggedAt.elapsed() < kRepeatLogMs) {
        ++m_unlogged;
        return;
    }
    if (m_unlogged > 0)
        qCCritical(lcRewindSink).nospace()
            << "RewindSink: " << error << " (and " << m_unlogged << " times more in the last minute)";
    else
        qCCritical(lcRewindSink) << "RewindSink:" << error;
    m_loggedError = hr;
    m_loggedAt.start();
    m_unlogged = 0;
}
