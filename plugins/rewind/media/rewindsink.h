#pragma once
// The graph node that records the media at its one input into an archive stream. With a stream
// and a connected input it has the archive media sink built on the stream's worker thread and
// binds the sink's stream sink to its input.

#include "com/comptr.h"
#include "multimedia/comexception.h"
#include "multimedia/medianode.h"
#include "stream.h"

#include <QPointer>

class Activator;

class RewindSink : public MediaNode
{
    Q_OBJECT
    Q_PROPERTY(Stream *stream READ stream WRITE setStream NOTIFY streamChanged)
    Q_PROPERTY(NodeInput *input READ input CONSTANT)

public:
    explicit RewindSink(QObject *parent = nullptr);
    ~RewindSink() override;

    Stream *stream() const { return m_stream.data(); }
    void setStream(Stream *stream);
    NodeInput *input() const { return getInput(0); }

    void cancel() override;
    void create() override;

signals:
    void streamChanged();

public slots:
    void onActivated(CComPtr<IUnknown> object, ComException error);

private:
    // Drops the sink built before: it stops writing and lets go of the archive stream.
    void releaseSink();

    QPointer<Stream> m_stream;
    Activator *m_activator = nullptr;
    CComPtr<IMFMediaSink> m_mediaSink;
};
