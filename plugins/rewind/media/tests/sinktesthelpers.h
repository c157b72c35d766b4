#pragma once
// Steps shared by the recording tests: an archive in a temporary folder, the sink with a clock,
// its events, and the frames read back with the archive reader.

#include "archivetesthelpers.h"
#include "com/comptr.h"
#include "h264testsamples.h"
#include "mf/mf.h"
#include "rewindchannels.h"
#include "rewindsinkmf.h"
#include "rewindsinkstream.h"

#include <QElapsedTimer>
#include <QSemaphore>
#include <QThread>
#include <QVector>
#include <atomic>
#include <memory>

namespace mediatest {
struct ArchiveStream
{
    CComPtr<IRewindServer> server;
    GUID storage = GUID_NULL;
    GUID id = GUID_NULL;
    CComPtr<IArchiveStream> stream;
};

inline ArchiveStream makeArchiveStream(const QString &name)
{
    ArchiveStream s;
    s.server = archivetest::server();
    if (!s.server)
        return s;
    if (FAILED(s.server->IsReady()))
        QThread::msleep(10);
    if (FAILED(archivetest::createStorage(s.server, QStringLiteral("Storage-") + name, &s.storage)) ||
        FAILED(archivetest::createStream(s.server, s.storage, name, &s.id)) ||
        FAILED(s.server->OpenStream(s.id, &s.stream)))
        s.stream = nullptr;
    return s;
}

struct Event
{
    MediaEventType type = MEUnknown;
    HRESULT status = S_OK;
    GUID extended = GUID_NULL;
    PROPVARIANT value{};
};

// Takes the next event of a generator, waiting up to timeoutMs.
inline bool nextEvent(IMFMediaEventGenerator *generator, Event *event, int timeoutMs = 10000)
{
    QElapsedTimer timer;
    timer.start();
    for (;;) {
        CComPtr<IMFMediaEvent> e;
        const HRESULT hr = generator->GetEvent(MF_EVENT_FLAG_NO_WAIT, &e);
        if (SUCCEEDED(hr) && e) {
            e->GetType(&event->type);
            e->GetStatus(&event->status);
            e->GetExtendedType(&event->extended);
            PropVariantInit(&event->value);
            e->GetValue(&event->value);
            return true;
        }
        if (hr != MF_E_NO_EVENTS_AVAILABLE || timer.elapsed() > timeoutMs)
            return false;
        QThread::usleep(200);
    }
}

// Skips events up to the first of the type; the skipped ones go to skipped (may be null).
inline bool waitEvent(IMFMediaEventGenerator *generator, MediaEventType type, Event *found = nullptr,
                      QVector<Event> *skipped = nullptr, int timeoutMs = 10000)
{
    Event event;
    while (nextEvent(generator, &event, timeoutMs)) {
        if (event.type == type) {
            if (found)
                *found = event;
            else
                PropVariantClear(&event.value);
            return true;
        }
        if (skipped)
            skipped->append(event);
        else
            PropVariantClear(&event.value);
    }
    return false;
}

struct Sink
{
    CComPtr<IMFMediaSink> sink;
    CComPtr<IMFStreamSink> streamSink;
    CComPtr<IMFPresentationClock> clock;
    RewindSinkStream *stream() const { return static_cast<RewindSinkMF *>(sink.p)->stream(); }

    // The clock and the sink hold each other until the sink shuts down.
    ~Sink()
    {
        if (sink)
            sink->Shutdown();
    }

    HRESULT create(const ArchiveStream &archive, IMFMediaType *type)
    {
        HRESULT hr = createRewindSinkMF(archive.id, type, archive.server, archive.stream, &sink);
        if (SUCCEEDED(hr))
            hr = sink->GetStreamSinkByIndex(0, &streamSink);
        return hr;
    }
    HRESULT setType(IMFMediaType *type)
    {
        CComPtr<IMFMediaTypeHandler> handler;
        HRESULT hr = streamSink->GetMediaTypeHandler(&handler);
        return SUCCEEDED(hr) ? handler->SetCurrentMediaType(type) : hr;
    }
    HRESULT attachClock()
    {
        CComPtr<IMFPresentationTimeSource> source;
        HRESULT hr = MFCreatePresentationClock(&clock);
        if (SUCCEEDED(hr))
            hr = MFCreateSystemTimeSource(&source);
        if (SUCCEEDED(hr))
            hr = clock->SetTimeSource(source);
        if (SUCCEEDED(hr))
            hr = sink->SetPresentationClock(clock);
        return hr;
    }
    // Starts the clock and waits until the stream sink has started.
    bool start(LONGLONG offset = 0)
    {
        return SUCCEEDED(clock->Start(offset)) && waitEvent(streamSink, MEStreamSinkStarted);
    }
    // Answers the next request with the sample.
    HRESULT feed(IMFSample *sample, QVector<Event> *skipped = nullptr)
    {
        if (!waitEvent(streamSink, MEStreamSinkRequestSample, nullptr, skipped))
            return E_FAIL;
        return streamSink->ProcessSample(sample);
    }
    bool stop(QVector<Event> *skipped = nullptr)
    {
        return SUCCEEDED(clock->Stop()) && waitEvent(streamSink, MEStreamSinkStopped, nullptr, skipped);
    }
};

// Holds a stream sink's work queue until released, so that items wait in the sink's queue.
class QueueBlocker
{
public:
    // Returns once the queue is held.
    explicit QueueBlocker(RewindSinkStream *stream) : m_state(std::make_shared<State>())
    {
        // The state outlives the blocker: the queue thread may still be leaving the semaphore.
        stream->workQueue().push([state = m_state]() {
            state->entered.release();
            state->gate.acquire();
            return S_OK;
        });
        m_state->entered.acquire();
    }
    ~QueueBlocker() { release(); }
    void release()
    {
        if (!m_state->released.exchange(true))
            m_state->gate.release();
    }

private:
    struct State
    {
        QSemaphore entered;
        QSemaphore gate;
        std::atomic<bool> released{false};
    };
    std::shared_ptr<State> m_state;
};

struct StoredFrame
{
    LONGLONG time = 0;
    QByteArray data;
    QByteArray attributes;
    QByteArray typeBlob;
    bool hasType = false;
    bool hasMark = false;
};

inline DWORD channelId(IArchiveStream *stream, const QString &name)
{
    CComBSTR text(name);
    BYTE flag = 0;
    DWORD id = 0;
    return SUCCEEDED(stream->FindChannel(text, &flag, &id)) ? id : 0;
}

// Every frame of the stream, in time order.
inline QVector<StoredFrame> readBack(const ArchiveStream &archive, const QString &dataName,
                                     const QString &typeName)
{
    QVector<StoredFrame> frames;
    const DWORD data = channelId(archive.stream, dataName);
    const DWORD type = channelId(archive.stream, typeName);
    const DWORD mark = channelId(archive.stream, rewindchannels::kKeyFrameChannel);
    auto reader = archivetest::openReader(archive.server, archive.id);
    if (!reader || !data)
        return frames;
    LONGLONG from = 0;
    for (;;) {
        StoredFrame frame;
        if (FAILED(reader->FindFrame(from, nyx::archive::FindAtOrAfter, &frame.time, nullptr, nullptr,
                                     nullptr, 0)))
            break;
        const BYTE *bytes = nullptr;
        DWORD length = 0;
        if (SUCCEEDED(reader->ReadChannelData(data, &bytes, &length)))
            frame.data = QByteArray(reinterpret_cast<const char *>(bytes), static_cast<int>(length));
        if (SUCCEEDED(reader->ReadChannelBlob(data, &bytes, &length)))
            frame.attributes = QByteArray(reinterpret_cast<const char *>(bytes), static_cast<int>(length));
        frame.hasType = type && SUCCEEDED(reader->ReadChannelBlob(type, &bytes, &length));
        if (frame.hasType)
            frame.typeBlob = QByteArray(reinterpret_cast<const char *>(bytes), static_cast<int>(length));
        frame.hasMark = mark && SUCCEEDED(reader->ReadChannelBlob(mark, &bytes, &length)) && length == 0;
        reader->ReleaseFrame();
        frames.append(frame);
        from = frame.time + 1;
    }
    return frames;
}

inline CComPtr<IMFAttributes> fromBlob(const QByteArray &blob)
{
    CComPtr<IMFAttributes> attributes;
    MFCreateAttributes(&attributes, 0);
    if (FAILED(MFInitAttributesFromBlob(attributes, reinterpret_cast<const UINT8 *>(blob.constData()),
                                        static_cast<UINT>(blob.size()))))
        return nullptr;
    return attributes;
}
} // namespace mediatest
