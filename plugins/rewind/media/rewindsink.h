#pragma once
// The graph node that records the media at its one input into an archive stream. With a stream
// and a connected input it has the archive media sink built on the stream's worker thread and
// binds the sink's stream sink to its input. A sink that cannot record (the archive refuses the
// stream or its writes) reports why in `error` and tries again on its own every few seconds.

#include "com/comptr.h"
#include "multimedia/comexception.h"
#include "multimedia/medianode.h"
#include "stream.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>

class Activator;

class RewindSink : public MediaNode
{
    Q_OBJECT
    Q_PROPERTY(Stream *stream READ stream WRITE setStream NOTIFY streamChanged)
    Q_PROPERTY(NodeInput *input READ input CONSTANT)
    // The HRESULT of the failure that keeps the sink from recording, 0 while it records or waits.
    Q_PROPERTY(int error READ error NOTIFY errorChanged)

public:
    explicit RewindSink(QObject *parent = nullptr);
    ~RewindSink() override;

    Stream *stream() const { return m_stream.data(); }
    void setStream(Stream *stream);
    NodeInput *input() const { return getInput(0); }
    int error() const { return m_error; }

    // Between the tries of a sink whose build or writer failed.
    static constexpr int kRetryIntervalMs = 2000;

    void cancel() override;
    void create() override;

signals:
    void streamChanged();
    void errorChanged();

public slots:
    void onActivated(CComPtr<IUnknown> object, ComException error);

private:
    // Drops the sink built before: it stops writing and lets go of the archive stream.
    void releaseSink();
    // The stream sink of build `build` failed (hr) or records again (S_OK).
    void onRecordingChanged(quint64 build, HRESULT hr);
    void setError(HRESULT hr);
    // Logs a failure, but the same one again at most once a minute: a sink that retries every few
    // seconds must not fill the log.
    void logFailure(const ComException &error);

    QPointer<Stream> m_stream;
    Activator *m_activator = nullptr;
    CComPtr<IMFMediaSink> m_mediaSink;
    HRESULT m_error = S_OK;
    quint64 m_build = 0;
    QTimer m_retryTimer;
    HRESULT m_loggedError = S_OK;
    QElapsedTimer m_loggedAt;
    int m_unlogged = 0;
};
