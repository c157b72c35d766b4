// The archive media sink against the real archive server in a temporary folder, with H.264 from
// libx264 and PCM and float audio.
#include "archive/archivefaults.h"
#include "multimedia/hnstime.h"
#include "sinktesthelpers.h"

#include <QMutex>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <functional>
#include <thread>

using namespace mediatest;
namespace faults = nyx::archive::faults;

using SinkCall = std::function<HRESULT(mediatest::Sink &)>;
Q_DECLARE_METATYPE(faults::Operation)
Q_DECLARE_METATYPE(CComPtr<IMFMediaType>)
Q_DECLARE_METATYPE(SinkCall)

namespace {
UINT64 attribute64(IMFAttributes *attributes, const GUID &key)
{
    UINT64 value = 0;
    return attributes && SUCCEEDED(attributes->GetUINT64(key, &value)) ? value : ~0ULL;
}

int countEvents(const QVector<Event> &events, MediaEventType type, HRESULT status)
{
    return static_cast<int>(std::count_if(
        events.begin(), events.end(), [&](const Event &e) { return e.type == type && e.status == status; }));
}

} // namespace

class TestRewindSinkMF : public QObject
{
    Q_OBJECT
    QTemporaryDir m_root;
    QVector<EncodedFrame> m_frames;
    int m_streams = 0;

    ArchiveStream newStream() { return makeArchiveStream(QStringLiteral("Camera %1").arg(++m_streams)); }

    // A video sink with its type and clock set, started.
    bool startedVideoSink(const ArchiveStream &archive, Sink *sink)
    {
        auto type = h264Type(320, 240);
        return SUCCEEDED(sink->create(archive, type)) && SUCCEEDED(sink->setType(type)) &&
               SUCCEEDED(sink->attachClock()) && sink->start();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_root.isValid());
        archivetest::useRoot(m_root.path());
        m_frames = encodeH264(320, 240, 50);
        QCOMPARE(m_frames.size(), 50);
        for (int n = 0; n < m_frames.size(); ++n)
            QCOMPARE(m_frames[n].key, n % 25 == 0);
    }
    void cleanup() { faults::clear(); }

    void recordsH264_data()
    {
        QTest::addColumn<LONGLONG>("firstSampleTime");
        QTest::addColumn<LONGLONG>("clockOffset");
        QTest::newRow("from zero") << LONGLONG(0) << LONGLONG(0);
        QTest::newRow("clock started at 10 s") << LONGLONG(100000000) << LONGLONG(100000000);
        QTest::newRow("samples 2 s after the start") << LONGLONG(20000000) << LONGLONG(0);
    }
    void recordsH264()
    {
        QFETCH(LONGLONG, firstSampleTime);
        QFETCH(LONGLONG, clockOffset);
        auto archive = newStream();
        QVERIFY(archive.stream);
        auto type = h264Type(320, 240);
        Sink sink;
        QCOMPARE(sink.create(archive, type), S_OK);
        QCOMPARE(sink.setType(type), S_OK);
        QCOMPARE(sink.attachClock(), S_OK);
        const qint64 before = HnsTime::systemTime();
        QVERIFY(sink.start(clockOffset));
        const qint64 after = HnsTime::systemTime();
        QVector<Event> events;
        for (int n = 0; n < m_frames.size(); ++n) {
            auto sample = makeSample(m_frames[n].bytes, firstSampleTime + n * kFrameDuration, kFrameDuration,
                                     m_frames[n].key);
            QCOMPARE(sink.feed(sample, &events), S_OK);
        }
        QVERIFY(sink.stop(&events));
        QCOMPARE(countEvents(events, MEError, events.isEmpty() ? S_OK : events.first().status), 0);
        for (const Event &e : events)
            QVERIFY2(e.type != MEError, qPrintable(QString::number(e.status, 16)));
        // The sink tells how late each sample is against the clock.
        auto lag = std::find_if(events.begin(), events.end(),
                                [](const Event &e) { return e.type == MEQualityNotify; });
        QVERIFY(lag != events.end());
        QVERIFY(lag->extended == MF_QUALITY_NOTIFY_SAMPLE_LAG);
        QCOMPARE(lag->value.vt, VARTYPE(VT_I8));

        const auto frames =
            readBack(archive, rewindchannels::kVideoDataChannel, rewindchannels::kVideoMediaTypeChannel);
        QCOMPARE(frames.size(), m_frames.size());
        // The wall-clock time of the clock start plus the sample's place on the clock.
        const LONGLONG first = frames.first().time;
        QVERIFY(first - (firstSampleTime - clockOffset) >= before - 10000);
        QVERIFY(first - (firstSampleTime - clockOffset) <= after + 10000);
        int marks = 0;
        for (int n = 0; n < frames.size(); ++n) {
            const StoredFrame &frame = frames[n];
            QCOMPARE(frame.data, m_frames[n].bytes);
            QCOMPARE(frame.time, first + n * kFrameDuration);
            auto attributes = fromBlob(frame.attributes);
            QVERIFY(attributes);
            QCOMPARE(attribute64(attributes, SampleArchiveTime), UINT64(frame.time));
            QCOMPARE(attribute64(attributes, SampleArchiveDuration), UINT64(kFrameDuration));
            QCOMPARE(MFGetAttributeUINT32(attributes, MFSampleExtension_CleanPoint, 0) != 0, m_frames[n].key);
            QCOMPARE(frame.hasMark, m_frames[n].key);
            QCOMPARE(frame.hasType, m_frames[n].key);
            marks += frame.hasMark;
            if (frame.hasType) {
                auto stored = fromBlob(frame.typeBlob);
                BOOL same = FALSE;
                QCOMPARE(stored->Compare(type, MF_ATTRIBUTES_MATCH_ALL_ITEMS, &same), S_OK);
                QVERIFY(same);
            }
        }
        QCOMPARE(marks, 2);

        // The stream keeps the recorded type for the players.
        auto record = std::make_unique<ArchiveStreamRecord>();
        QCOMPARE(archive.stream->ReadRecord(record.get()), S_OK);
        CComPtr<IAttributeStore> store;
        QCOMPARE(store.CoCreateInstance(CLSID_AttributeStore), S_OK);
        QCOMPARE(store->Bind(record->attributes, 4096, FALSE), S_OK);
        GUID major = GUID_NULL, subtype = GUID_NULL;
        QCOMPARE(store->GetGUID(reinterpret_cast<LPCWSTR>(u"MediaType_MajorType"), &major), S_OK);
        QCOMPARE(store->GetGUID(reinterpret_cast<LPCWSTR>(u"MediaType_Subtype"), &subtype), S_OK);
        QVERIFY(major == MFMediaType_Video);
        QVERIFY(subtype == MFVideoFormat_H264);
    }

    void recordsAudio_data()
    {
        QTest::addColumn<bool>("isFloat");
        QTest::newRow("PCM") << false;
        QTest::newRow("float") << true;
    }
    void recordsAudio()
    {
        QFETCH(bool, isFloat);
        auto archive = newStream();
        auto type = audioType(isFloat);
        Sink sink;
        QCOMPARE(sink.create(archive, type), S_OK);
        // The audio stream sink is number 2 and is reached by index only.
        DWORD identifier = 0;
        QCOMPARE(sink.streamSink->GetIdentifier(&identifier), S_OK);
        QCOMPARE(identifier, DWORD(2));
        CComPtr<IMFStreamSink> byId;
        QCOMPARE(sink.sink->GetStreamSinkById(2, &byId), MF_E_INVALIDSTREAMNUMBER);
        QCOMPARE(sink.setType(type), S_OK);
        QCOMPARE(sink.attachClock(), S_OK);
        QVERIFY(sink.start());
        const LONGLONG block = 200000; // 20 ms
        for (int n = 0; n < 30; ++n)
            QCOMPARE(sink.feed(makeSample(audioBlock(n, isFloat), n * block, block, false)), S_OK);
        QVERIFY(sink.stop());
        const auto frames =
            readBack(archive, rewindchannels::kAudioDataChannel, rewindchannels::kAudioMediaTypeChannel);
        QCOMPARE(frames.size(), 30);
        for (int n = 0; n < frames.size(); ++n) {
            QCOMPARE(frames[n].data, audioBlock(n, isFloat));
            QCOMPARE(frames[n].time, frames.first().time + n * block);
            // Every audio sample is independent: a type record and a key-frame mark each.
            QVERIFY(frames[n].hasMark);
            QVERIFY(frames[n].hasType);
        }
        GUID subtype = GUID_NULL;
        QCOMPARE(fromBlob(frames.last().typeBlob)->GetGUID(MF_MT_SUBTYPE, &subtype), S_OK);
        QVERIFY(subtype == (isFloat ? MFAudioFormat_Float : MFAudioFormat_PCM));
    }

    void storedTypeDecidesTheNextRecording_data()
    {
        QTest::addColumn<CComPtr<IMFMediaType>>("first");
        QTest::addColumn<CComPtr<IMFMediaType>>("second");
        QTest::addColumn<HRESULT>("result");
        QTest::addColumn<QString>("secondDataChannel");
        QTest::addColumn<QString>("refusal"); // what the operator reads instead of the bare code
        QTest::newRow("audio into video")
            << h264Type(320, 240) << audioType(false) << HRESULT(MF_E_INVALIDTYPE)
            << rewindchannels::kAudioDataChannel
            << "The archive stream records H.264 video; this PCM audio input cannot be recorded into it";
        QTest::newRow("video into audio")
            << audioType(false) << h264Type(320, 240) << HRESULT(MF_E_INVALIDTYPE)
            << rewindchannels::kVideoDataChannel
            << "The archive stream records PCM audio; this H.264 video input cannot be recorded into it";
        QTest::newRow("float into PCM")
            << audioType(false) << audioType(true) << HRESULT(MF_E_INVALIDTYPE)
            << rewindchannels::kAudioDataChannel
            << "The archive stream records PCM audio; this float audio input cannot be recorded into it";
        QTest::newRow("new resolution")
            << h264Type(320, 240) << h264Type(1920, 1080) << S_OK << rewindchannels::kVideoDataChannel << "";
    }
    void storedTypeDecidesTheNextRecording()
    {
        QFETCH(CComPtr<IMFMediaType>, first);
        QFETCH(CComPtr<IMFMediaType>, second);
        QFETCH(HRESULT, result);
        QFETCH(QString, secondDataChannel);
        QFETCH(QString, refusal);
        auto archive = newStream();
        {
            Sink sink;
            QCOMPARE(sink.create(archive, first), S_OK);
            QCOMPARE(sink.sink->Shutdown(), S_OK);
        }
        const bool hadChannel = channelId(archive.stream, secondDataChannel) != 0;
        Sink sink;
        QCOMPARE(sink.create(archive, second), result);
        // A refused sink creates no channel.
        if (FAILED(result)) {
            QCOMPARE(channelId(archive.stream, secondDataChannel) != 0, hadChannel);
            QCOMPARE(refusedMediaTypeText(archive.stream, second), refusal);
        }
    }

    void channelStoredWithAnotherFlagIsUsed()
    {
        auto archive = newStream();
        const DWORD existing = archivetest::channel(archive.stream, rewindchannels::kKeyFrameChannel, 0);
        QVERIFY(existing);
        Sink sink;
        QVERIFY(startedVideoSink(archive, &sink));
        QCOMPARE(sink.feed(makeSample(m_frames[0].bytes, 0, kFrameDuration, true)), S_OK);
        QVERIFY(sink.stop());
        QCOMPARE(channelId(archive.stream, rewindchannels::kKeyFrameChannel), existing);
        const auto frames =
            readBack(archive, rewindchannels::kVideoDataChannel, rewindchannels::kVideoMediaTypeChannel);
        QCOMPARE(frames.size(), 1);
        QVERIFY(frames[0].hasMark);
    }

    void unsupportedInputStoresNothing()
    {
        auto archive = newStream();
        auto nv12 = h264Type(320, 240);
        nv12->SetGUID(MF_MT_SUBTYPE, MFVideoFormat_NV12);
        Sink sink;
        QCOMPARE(sink.create(archive, nv12), MF_E_INVALIDTYPE);
        QCOMPARE(
            refusedMediaTypeText(archive.stream, nv12),
            QStringLiteral("This uncompressed video input cannot be recorded: the archive takes H.264 video, "
                           "PCM audio or float audio"));
        // The stream still takes H.264: nothing was stored for the refused type.
        Sink h264;
        QCOMPARE(h264.create(archive, h264Type(320, 240)), S_OK);
    }

    void storedTypeFailuresFailTheSink_data()
    {
        QTest::addColumn<faults::Operation>("operation");
        QTest::newRow("record read") << faults::Operation::StreamReadRecord;
        QTest::newRow("record write-back") << faults::Operation::StreamWriteRecord;
        QTest::newRow("store bind") << faults::Operation::StoreBind;
        QTest::newRow("channel") << faults::Operation::StreamCreateChannel;
        QTest::newRow("writer") << faults::Operation::CreateWriter;
    }
    void storedTypeFailuresFailTheSink()
    {
        QFETCH(faults::Operation, operation);
        auto archive = newStream();
        faults::fail(operation, E_ACCESSDENIED);
        Sink sink;
        QCOMPARE(sink.create(archive, h264Type(320, 240)), E_ACCESSDENIED);
        QVERIFY(!sink.sink);
    }

    void clockStartBeforeTypeFails()
    {
        auto archive = newStream();
        Sink sink;
        QCOMPARE(sink.create(archive, h264Type(320, 240)), S_OK);
        CComPtr<IMFClockStateSink> stateSink;
        QCOMPARE(sink.sink.QueryInterface(&stateSink), S_OK);
        QCOMPARE(stateSink->OnClockStart(MFGetSystemTime(), 0), E_FAIL);
        Event event;
        QVERIFY(nextEvent(sink.streamSink, &event));
        QCOMPARE(event.type, MediaEventType(MEStreamSinkFormatChanged));
        CComPtr<IMFMediaTypeHandler> handler;
        QCOMPARE(sink.streamSink->GetMediaTypeHandler(&handler), S_OK);
        CComPtr<IMFMediaType> current;
        QCOMPARE(handler->GetCurrentMediaType(&current), MF_E_NOT_INITIALIZED);
    }

    void sampleWithoutRequestIsRefused()
    {
        auto archive = newStream();
        Sink sink;
        auto sample = makeSample(m_frames[0].bytes, 0, kFrameDuration, true);
        QCOMPARE(sink.create(archive, h264Type(320, 240)), S_OK);
        QCOMPARE(sink.setType(h264Type(320, 240)), S_OK);
        QCOMPARE(sink.streamSink->ProcessSample(sample), MF_E_INVALIDREQUEST); // not started
        QCOMPARE(sink.attachClock(), S_OK);
        QVERIFY(sink.start());
        QCOMPARE(sink.feed(sample), S_OK);
        QVERIFY(sink.stop());
        QCOMPARE(sink.streamSink->ProcessSample(sample), MF_E_INVALIDREQUEST); // stopped
        QCOMPARE(sink.stream()->queuedItems(), 0);
    }

    void backPressureStopsRequestsAboveTenItems()
    {
        auto archive = newStream();
        Sink sink;
        QVERIFY(startedVideoSink(archive, &sink));
        QueueBlocker blocker(sink.stream());
        for (int n = 0; n < 11; ++n) {
            QCOMPARE(sink.stream()->outstandingRequests(), 1);
            QCOMPARE(
                sink.feed(makeSample(m_frames[n].bytes, n * kFrameDuration, kFrameDuration, m_frames[n].key)),
                S_OK);
        }
        // Eleven items wait: no request is outstanding and none is raised.
        QCOMPARE(sink.stream()->queuedItems(), 11);
        QCOMPARE(sink.stream()->outstandingRequests(), 0);
        QCOMPARE(sink.streamSink->ProcessSample(makeSample(m_frames[11].bytes, 0, kFrameDuration, false)),
                 MF_E_INVALIDREQUEST);
        QCOMPARE(sink.stream()->queuedItems(), 11);
        Event event;
        QVERIFY(!nextEvent(sink.streamSink, &event, 0) || event.type != MEStreamSinkRequestSample);
        blocker.release();
        // Writing one item brings the next request.
        QVERIFY(waitEvent(sink.streamSink, MEStreamSinkRequestSample));
        QVERIFY(sink.stream()->queuedItems() <= 10);
        QCOMPARE(sink.streamSink->ProcessSample(
                     makeSample(m_frames[11].bytes, 11 * kFrameDuration, kFrameDuration, false)),
                 S_OK);
        QVERIFY(sink.stop());
        QCOMPARE(readBack(archive, rewindchannels::kVideoDataChannel, rewindchannels::kVideoMediaTypeChannel)
                     .size(),
                 12);
    }

    void flushAbortsQueuedMarkersInOrder()
    {
        auto archive = newStream();
        Sink sink;
        QVERIFY(startedVideoSink(archive, &sink));
        QVERIFY(waitEvent(sink.streamSink, MEStreamSinkRequestSample));
        PROPVARIANT context;
        PropVariantInit(&context);
        context.vt = VT_UI4;
        {
            QueueBlocker blocker(sink.stream());
            context.ulVal = 1;
            QCOMPARE(sink.streamSink->PlaceMarker(MFSTREAMSINK_MARKER_DEFAULT, nullptr, &context), S_OK);
            QCOMPARE(sink.streamSink->ProcessSample(makeSample(m_frames[0].bytes, 0, kFrameDuration, true)),
                     S_OK);
            context.ulVal = 2;
            QCOMPARE(sink.streamSink->PlaceMarker(MFSTREAMSINK_MARKER_ENDOFSEGMENT, nullptr, &context), S_OK);
            QCOMPARE(sink.streamSink->Flush(), S_OK);
            QCOMPARE(sink.stream()->queuedItems(), 0);
        }
        // The queue runs on: a later marker is reached with S_OK after the two aborted ones.
        context.ulVal = 3;
        QCOMPARE(sink.streamSink->PlaceMarker(MFSTREAMSINK_MARKER_DEFAULT, nullptr, &context), S_OK);
        QVector<ULONG> contexts;
        QVector<HRESULT> statuses;
        Event event;
        while (contexts.size() < 3 && nextEvent(sink.streamSink, &event)) {
            if (event.type == MEStreamSinkMarker) {
                contexts << event.value.ulVal;
                statuses << event.status;
            }
        }
        QCOMPARE(contexts, (QVector<ULONG>{1, 2, 3}));
        QCOMPARE(statuses, (QVector<HRESULT>{E_ABORT, E_ABORT, S_OK}));
        // The request outstanding before the flush still stands.
        QCOMPARE(sink.stream()->outstandingRequests(), 1);
    }

    void writerFailureIsAnEventAndRecordingGoesOn_data()
    {
        QTest::addColumn<faults::Operation>("operation");
        QTest::newRow("begin") << faults::Operation::WriterBeginSample;
        QTest::newRow("data") << faults::Operation::WriterData;
        QTest::newRow("blob") << faults::Operation::WriterBlob;
    }
    void writerFailureIsAnEventAndRecordingGoesOn()
    {
        QFETCH(faults::Operation, operation);
        auto archive = newStream();
        Sink sink;
        QVERIFY(startedVideoSink(archive, &sink));
        faults::fail(operation, E_ACCESSDENIED, 1);
        QVector<Event> events;
        for (int n = 0; n < 3; ++n)
            QCOMPARE(
                sink.feed(makeSample(m_frames[n].bytes, n * kFrameDuration, kFrameDuration, m_frames[n].key),
                          &events),
                S_OK);
        QVERIFY(sink.stop(&events));
        QCOMPARE(countEvents(events, MEError, E_ACCESSDENIED), 1);
        QCOMPARE(countEvents(events, MEError, HRESULT(E_NOT_VALID_STATE)), 0);
        const auto frames =
            readBack(archive, rewindchannels::kVideoDataChannel, rewindchannels::kVideoMediaTypeChannel);
        QVERIFY(frames.size() >= 2);
        QCOMPARE(frames[frames.size() - 2].data, m_frames[1].bytes);
        QCOMPARE(frames.last().data, m_frames[2].bytes);
    }

    // A writer that fails (a read-only archive, a full disk, a stream another writer holds, a
    // write fault) is one error event and one call of the handler, however many samples fail; the
    // sink goes on taking samples and, once the archive lets it, records again in a new sequence
    // from the next key frame.
    void failingWriterRecordsAgainInANewSequence_data()
    {
        QTest::addColumn<faults::Operation>("operation");
        QTest::addColumn<HRESULT>("hr");
        QTest::addColumn<bool>("atStart");
        QTest::newRow("read-only at start") << faults::Operation::WriterStart << E_ACCESSDENIED << true;
        QTest::newRow("stream taken at start")
            << faults::Operation::WriterStart << HRESULT_FROM_WIN32(32) << true;
        QTest::newRow("disk full") << faults::Operation::WriterData << HRESULT_FROM_WIN32(112) << false;
        QTest::newRow("write fault") << faults::Operation::WriterEndSample << HRESULT_FROM_WIN32(29) << false;
    }
    void failingWriterRecordsAgainInANewSequence()
    {
        QFETCH(faults::Operation, operation);
        QFETCH(HRESULT, hr);
        QFETCH(bool, atStart);
        auto archive = newStream();
        Sink sink;
        auto type = h264Type(320, 240);
        QCOMPARE(sink.create(archive, type), S_OK);
        QCOMPARE(sink.setType(type), S_OK);
        QCOMPARE(sink.attachClock(), S_OK);
        QMutex mutex;
        QVector<HRESULT> told;
        sink.stream()->setRetryInterval(std::chrono::milliseconds(100));
        sink.stream()->setFailureHandler([&](HRESULT h) {
            QMutexLocker lock(&mutex);
            told.append(h);
        });
        const auto toldNow = [&]() {
            QMutexLocker lock(&mutex);
            return told;
        };
        if (atStart)
            faults::fail(operation, hr);
        QVector<Event> events;
        QCOMPARE(sink.clock->Start(0), S_OK);
        QVERIFY(waitEvent(sink.streamSink, MEStreamSinkStarted, nullptr, &events));
        const int before = atStart ? 0 : 5;
        for (int n = 0; n < before; ++n)
            QCOMPARE(
                sink.feed(makeSample(m_frames[n].bytes, n * kFrameDuration, kFrameDuration, m_frames[n].key),
                          &events),
                S_OK);
        if (!atStart) {
            QTRY_COMPARE(
                readBack(archive, rewindchannels::kVideoDataChannel, rewindchannels::kVideoMediaTypeChannel)
                    .size(),
                before);
            faults::fail(operation, hr);
        }
        // Every sample fails while the fault lasts, also after the retries it waits for.
        for (int n = before; n < before + 8; ++n) {
            QCOMPARE(
                sink.feed(makeSample(m_frames[n].bytes, n * kFrameDuration, kFrameDuration, m_frames[n].key),
                          &events),
                S_OK);
            QThread::msleep(30);
        }
        QTRY_COMPARE(toldNow(), QVector<HRESULT>{hr});
        QCOMPARE(sink.stream()->failure(), hr);
        // Every one of them was taken while the fault lasted.
        QTRY_COMPARE(sink.stream()->droppedSamples(), qint64(8));
        faults::clear();
        QThread::msleep(300);
        // Up to the next key frame nothing is stored; from it on a new sequence holds every frame.
        for (int n = before + 8; n < 35; ++n)
            QCOMPARE(
                sink.feed(makeSample(m_frames[n].bytes, n * kFrameDuration, kFrameDuration, m_frames[n].key),
                          &events),
                S_OK);
        QTRY_COMPARE(toldNow(), (QVector<HRESULT>{hr, S_OK}));
        QVERIFY(sink.stop(&events));
        QCOMPARE(countEvents(events, MEError, hr), 1);
        QCOMPARE(sink.stream()->failure(), S_OK);
        // (A sample whose data the fault refused may still be indexed, empty.)
        auto frames =
            readBack(archive, rewindchannels::kVideoDataChannel, rewindchannels::kVideoMediaTypeChannel);
        frames.erase(std::remove_if(frames.begin(), frames.end(),
                                    [](const StoredFrame &f) { return f.data.isEmpty(); }),
                     frames.end());
        QCOMPARE(frames.size(), before + 10);
        for (int n = 0; n < before; ++n)
            QCOMPARE(frames[n].data, m_frames[n].bytes);
        for (int n = 25; n < 35; ++n)
            QCOMPARE(frames[before + n - 25].data, m_frames[n].bytes);
        QVERIFY(frames[before].hasType && frames[before].hasMark);
        DWORD sequences = 0;
        QCOMPARE(archive.stream->GetSequenceCount(&sequences), S_OK);
        QCOMPARE(int(sequences), atStart ? 1 : 2);
        QCOMPARE(sink.stream()->droppedSamples(), qint64(25 - before));
    }

    void failedWriterStopStillStops()
    {
        auto archive = newStream();
        Sink sink;
        QVERIFY(startedVideoSink(archive, &sink));
        QCOMPARE(sink.feed(makeSample(m_frames[0].bytes, 0, kFrameDuration, true)), S_OK);
        faults::fail(faults::Operation::WriterStop, E_ACCESSDENIED, 1);
        QVector<Event> events;
        QVERIFY(sink.stop(&events));
        QCOMPARE(countEvents(events, MEError, E_ACCESSDENIED), 1);
        QCOMPARE(sink.stream()->state(), int(RewindSinkStream::Stopped));
        QCOMPARE(sink.streamSink->ProcessSample(
                     makeSample(m_frames[1].bytes, kFrameDuration, kFrameDuration, false)),
                 MF_E_INVALIDREQUEST);
        // The sample accepted before the stop was written (committed in the background: the
        // failed stop did not wait for it).
        QTRY_COMPARE(
            readBack(archive, rewindchannels::kVideoDataChannel, rewindchannels::kVideoMediaTypeChannel)
                .size(),
            1);
    }

    void startAndStopAtOnce()
    {
        auto archive = newStream();
        Sink sink;
        auto type = h264Type(320, 240);
        QCOMPARE(sink.create(archive, type), S_OK);
        QCOMPARE(sink.setType(type), S_OK);
        QCOMPARE(sink.attachClock(), S_OK);
        const int cycles = 20;
        for (int n = 0; n < cycles; ++n) {
            QCOMPARE(sink.clock->Start(0), S_OK);
            QCOMPARE(sink.clock->Stop(), S_OK);
        }
        // Every start and stop is reported, in order, and the stream ends stopped.
        QVector<MediaEventType> order;
        Event event;
        while (order.count(MEStreamSinkStopped) < cycles && nextEvent(sink.streamSink, &event)) {
            if (event.type == MEStreamSinkStarted || event.type == MEStreamSinkStopped ||
                event.type == MEError)
                order << event.type;
        }
        QCOMPARE(order.size(), 2 * cycles);
        for (int n = 0; n < order.size(); ++n)
            QCOMPARE(order[n],
                     n % 2 ? MediaEventType(MEStreamSinkStopped) : MediaEventType(MEStreamSinkStarted));
        QCOMPARE(sink.stream()->state(), int(RewindSinkStream::Stopped));
        QCOMPARE(sink.streamSink->ProcessSample(makeSample(m_frames[0].bytes, 0, kFrameDuration, true)),
                 MF_E_INVALIDREQUEST);
    }

    void restartAtCurrentPositionIsIgnored()
    {
        auto archive = newStream();
        Sink sink;
        QVERIFY(startedVideoSink(archive, &sink));
        CComPtr<IMFClockStateSink> stateSink;
        QCOMPARE(sink.sink.QueryInterface(&stateSink), S_OK);
        QCOMPARE(stateSink->OnClockStart(MFGetSystemTime(), PRESENTATION_CURRENT_POSITION), S_OK);
        PROPVARIANT context;
        PropVariantInit(&context);
        QCOMPARE(sink.streamSink->PlaceMarker(MFSTREAMSINK_MARKER_DEFAULT, nullptr, &context), S_OK);
        QVector<Event> skipped;
        QVERIFY(waitEvent(sink.streamSink, MEStreamSinkMarker, nullptr, &skipped));
        QCOMPARE(countEvents(skipped, MEStreamSinkStarted, S_OK), 0);
    }

    void resolutionChangeIsRecordedBeforeItsFirstSample()
    {
        auto archive = newStream();
        Sink sink;
        QVERIFY(startedVideoSink(archive, &sink));
        const auto large = encodeH264(640, 480, 3);
        QCOMPARE(large.size(), 3);
        for (int n = 0; n < 5; ++n)
            QCOMPARE(
                sink.feed(makeSample(m_frames[n].bytes, n * kFrameDuration, kFrameDuration, m_frames[n].key)),
                S_OK);
        QCOMPARE(sink.setType(h264Type(640, 480)), S_OK);
        QCOMPARE(sink.stream()->state(), int(RewindSinkStream::Started));
        // The first sample of the new size is deliberately no clean point.
        for (int n = 0; n < 3; ++n)
            QCOMPARE(sink.feed(makeSample(large[n].bytes, (5 + n) * kFrameDuration, kFrameDuration, false)),
                     S_OK);
        QVERIFY(sink.stop());
        const auto frames =
            readBack(archive, rewindchannels::kVideoDataChannel, rewindchannels::kVideoMediaTypeChannel);
        QCOMPARE(frames.size(), 8);
        QVERIFY(!frames[4].hasType);
        QVERIFY(frames[5].hasType);
        QVERIFY(!frames[5].hasMark);
        UINT32 width = 0, height = 0;
        QCOMPARE(MFGetAttributeSize(fromBlob(frames[5].typeBlob), MF_MT_FRAME_SIZE, &width, &height), S_OK);
        QCOMPARE(width, UINT32(640));
        QVERIFY(!frames[6].hasType);
        QCOMPARE(frames[5].data, large[0].bytes);
    }

    void shutdownAnswers_data()
    {
        using Call = std::function<HRESULT(Sink &)>;
        QTest::addColumn<Call>("call");
        QTest::addColumn<HRESULT>("result");
        QTest::newRow("characteristics") << Call([](Sink &s) {
            DWORD c;
            return s.sink->GetCharacteristics(&c);
        }) << HRESULT(MF_E_SHUTDOWN);
        QTest::newRow("by index") << Call([](Sink &s) {
            CComPtr<IMFStreamSink> x;
            return s.sink->GetStreamSinkByIndex(0, &x);
        }) << HRESULT(MF_E_SHUTDOWN);
        QTest::newRow("by id") << Call([](Sink &s) {
            CComPtr<IMFStreamSink> x;
            return s.sink->GetStreamSinkById(1, &x);
        }) << HRESULT(MF_E_SHUTDOWN);
        QTest::newRow("set clock") << Call([](Sink &s) { return s.sink->SetPresentationClock(nullptr); })
                                   << HRESULT(MF_E_SHUTDOWN);
        QTest::newRow("get clock") << Call([](Sink &s) {
            CComPtr<IMFPresentationClock> c;
            return s.sink->GetPresentationClock(&c);
        }) << HRESULT(MF_E_SHUTDOWN);
        QTest::newRow("shutdown") << Call([](Sink &s) { return s.sink->Shutdown(); })
                                  << HRESULT(MF_E_SHUTDOWN);
        QTest::newRow("clock start") << Call([](Sink &s) {
            CComPtr<IMFClockStateSink> c;
            s.sink.QueryInterface(&c);
            return c->OnClockStart(0, 0);
        }) << HRESULT(MF_E_SHUTDOWN);
        QTest::newRow("clock stop") << Call([](Sink &s) {
            CComPtr<IMFClockStateSink> c;
            s.sink.QueryInterface(&c);
            return c->OnClockStop(0);
        }) << HRESULT(MF_E_SHUTDOWN);
        QTest::newRow("count") << Call([](Sink &s) {
            DWORD c = 0;
            HRESULT hr = s.sink->GetStreamSinkCount(&c);
            return c == 1 ? hr : E_FAIL;
        }) << S_OK;
        QTest::newRow("add") << Call([](Sink &s) {
            CComPtr<IMFStreamSink> x;
            return s.sink->AddStreamSink(2, nullptr, &x);
        }) << HRESULT(MF_E_STREAMSINKS_FIXED);
        QTest::newRow("remove") << Call([](Sink &s) { return s.sink->RemoveStreamSink(1); })
                                << HRESULT(MF_E_STREAMSINKS_FIXED);
        QTest::newRow("stream's media sink") << Call([](Sink &s) {
            CComPtr<IMFMediaSink> m;
            return s.streamSink->GetMediaSink(&m);
        }) << E_POINTER;
        QTest::newRow("stream's sample") << Call([](Sink &s) {
            return s.streamSink->ProcessSample(makeSample(QByteArray(4, 'x'), 0, 1, true));
        }) << HRESULT(MF_E_SHUTDOWN);
    }
    void shutdownAnswers()
    {
        QFETCH(SinkCall, call);
        QFETCH(HRESULT, result);
        auto archive = newStream();
        Sink sink;
        QVERIFY(startedVideoSink(archive, &sink));
        QCOMPARE(sink.sink->Shutdown(), S_OK);
        QCOMPARE(call(sink), result);
    }

    void streamSinkKeepsItsMediaSinkAlive()
    {
        auto archive = newStream();
        CComPtr<IMFStreamSink> streamSink;
        {
            Sink sink;
            QVERIFY(startedVideoSink(archive, &sink));
            streamSink = sink.streamSink;
            sink.sink.Release();
        }
        // Only the stream sink is held now.
        CComPtr<IMFMediaSink> owner;
        QCOMPARE(streamSink->GetMediaSink(&owner), S_OK);
        QVERIFY(waitEvent(streamSink, MEStreamSinkRequestSample));
        QCOMPARE(streamSink->ProcessSample(makeSample(m_frames[0].bytes, 0, kFrameDuration, true)), S_OK);
        CComPtr<IMFPresentationClock> clock;
        QCOMPARE(owner->GetPresentationClock(&clock), S_OK);
        QCOMPARE(clock->Stop(), S_OK);
        QVERIFY(waitEvent(streamSink, MEStreamSinkStopped));
        QCOMPARE(owner->Shutdown(), S_OK);
        owner = nullptr;
        clock = nullptr;
        DWORD identifier = 0;
        QCOMPARE(streamSink->GetIdentifier(&identifier), S_OK);
        streamSink = nullptr;
        QCOMPARE(readBack(archive, rewindchannels::kVideoDataChannel, rewindchannels::kVideoMediaTypeChannel)
                     .size(),
                 1);
    }

    void shutdownLetsGoOfTheStream()
    {
        auto archive = newStream();
        Sink first;
        QVERIFY(startedVideoSink(archive, &first));
        QCOMPARE(first.feed(makeSample(m_frames[0].bytes, 0, kFrameDuration, true)), S_OK);
        QSemaphore drained;
        const auto drain = [&] {
            first.stream()->workQueue().push([&drained]() {
                drained.release();
                return S_OK;
            });
            return drained.tryAcquire(1, 10000);
        };
        QVERIFY(drain()); // the sample is written
        // Shut down while started and still held: its writer stops on its queue.
        QCOMPARE(first.sink->Shutdown(), S_OK);
        QVERIFY(drain());
        Sink second;
        QVERIFY(startedVideoSink(archive, &second));
        QCOMPARE(second.feed(makeSample(m_frames[1].bytes, 0, kFrameDuration, false)), S_OK);
        QVERIFY(second.stop());
        QCOMPARE(readBack(archive, rewindchannels::kVideoDataChannel, rewindchannels::kVideoMediaTypeChannel)
                     .size(),
                 2);
    }

    // The clock stops while the work queue writes; the archive refuses a sample begun inside
    // another, so interleaved records would show as errors.
    void clockStopWhileWriting()
    {
        auto archive = newStream();
        Sink sink;
        auto type = h264Type(320, 240);
        QCOMPARE(sink.create(archive, type), S_OK);
        QCOMPARE(sink.setType(type), S_OK);
        QCOMPARE(sink.attachClock(), S_OK);
        std::atomic<bool> done{false};
        std::atomic<int> accepted{0}, stopped{0}, errors{0}, started{0};
        std::thread feeder([&] {
            Event event;
            int n = 0;
            while (!done) {
                if (!nextEvent(sink.streamSink, &event, 20))
                    continue;
                if (event.type == MEStreamSinkRequestSample) {
                    const auto &frame = m_frames[n % m_frames.size()];
                    auto sample =
                        makeSample(frame.bytes, LONGLONG(n) * kFrameDuration, kFrameDuration, frame.key);
                    ++n;
                    if (SUCCEEDED(sink.streamSink->ProcessSample(sample)))
                        ++accepted;
                } else if (event.type == MEStreamSinkStopped) {
                    ++stopped;
                } else if (event.type == MEStreamSinkStarted) {
                    ++started;
                } else if (event.type == MEError) {
                    ++errors;
                }
                PropVariantClear(&event.value);
            }
        });
        const int cycles = 20;
        for (int cycle = 0; cycle < cycles; ++cycle) {
            const int before = accepted;
            QCOMPARE(sink.clock->Start(0), S_OK);
            QTRY_VERIFY_WITH_TIMEOUT(accepted >= before + 2 + cycle % 5, 20000);
            QCOMPARE(sink.clock->Stop(), S_OK);
            QTRY_COMPARE_WITH_TIMEOUT(stopped.load(), cycle + 1, 20000);
        }
        done = true;
        feeder.join();
        QCOMPARE(errors.load(), 0);
        QCOMPARE(started.load(), cycles);
        // Every sample accepted before a stop was written before the writer stopped.
        QCOMPARE(readBack(archive, rewindchannels::kVideoDataChannel, rewindchannels::kVideoMediaTypeChannel)
                     .size(),
                 accepted.load());
    }
};

QTEST_GUILESS_MAIN(TestRewindSinkMF)
#include "tst_rewindsinkmf.moc"
