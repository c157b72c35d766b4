// Stream and StreamUpdater against a scripted server; the time helpers and findOrCreateChannel.

#include "archivechannel.h"
#include "archivetime.h"
#include "fakerewindserver.h"
#include "objectdeleter.h"
#include "range.h"
#include "storage.h"
#include "stream.h"
#include "streamupdater.h"
#include "workerharness.h"

#include <QQmlComponent>
#include <QQmlEngine>
#include <QSignalSpy>
#include <QtTest>
#include <memory>

namespace {
constexpr quint64 kEpoch = 116444736000000000ULL;
constexpr quint64 kMs = 10000;
// 2020-01-01T00:00:00Z
constexpr quint64 k2020 = 132223104000000000ULL;

ArchiveSequenceRecord sequence(quint64 begin, quint64 last)
{
    ArchiveSequenceRecord r{};
    r.startTime = begin;
    r.beginTime = begin;
    r.firstFrameTime = begin;
    r.lastFrameTime = last;
    r.subsequenceCount = 1;
    return r;
}
} // namespace

Q_DECLARE_METATYPE(QVector<QVector<qint64>>)

class TestStream : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        qmlRegisterUncreatableType<Stream>("Rewind", 1, 0, "Stream", QStringLiteral("from the service"));
        qmlRegisterType<Range>("Rewind", 1, 0, "Range");
    }
    void init()
    {
        server.Attach(fake::Server::create().Detach());
        storageId = server->addStorage("S");
        streamId = server->addStream(storageId, "Cam1");
    }
    void cleanup() { server.Release(); }

    void fileTimeZeroAndNullStandForEachOther()
    {
        QVERIFY(fromWin32FileTime(0).isNull());
        QCOMPARE(toWin32FileTime(QDateTime(), 0), quint64(0));
        QCOMPARE(toWin32FileTime(QDateTime(), kOpenFileTimeEnd), kOpenFileTimeEnd);
        QCOMPARE(toWin32FileTime(QDateTime(), quint64(0x7FFFFFFFFFFFFFFFULL)),
                 quint64(0x7FFFFFFFFFFFFFFFULL));
        // The smallest time that is not "none" is a real time in 1601.
        const QDateTime first = fromWin32FileTime(1);
        QVERIFY(first.isValid());
        QCOMPARE(first.toUTC().date(), QDate(1601, 1, 1));
    }

    void unixEpochAndKnownDates()
    {
        QCOMPARE(fromWin32FileTime(kEpoch).toMSecsSinceEpoch(), qint64(0));
        QCOMPARE(toWin32FileTime(QDateTime::fromMSecsSinceEpoch(0, Qt::UTC), 0), kEpoch);
        const QDateTime newYear(QDate(2020, 1, 1), QTime(0, 0), Qt::UTC);
        QCOMPARE(fromWin32FileTime(k2020), newYear);
        QCOMPARE(toWin32FileTime(newYear, 0), k2020);
        // A local-time QDateTime names the same instant.
        QCOMPARE(toWin32FileTime(newYear.toLocalTime(), 0), k2020);
        QCOMPARE(fromWin32FileTime(k2020).timeSpec(), Qt::LocalTime);
    }

    void subMillisecondPartIsDropped()
    {
        const QDateTime t = fromWin32FileTime(k2020 + 1234 * kMs + 5678);
        QCOMPARE(t.toMSecsSinceEpoch() - fromWin32FileTime(k2020).toMSecsSinceEpoch(), qint64(1234));
        QCOMPARE(toWin32FileTime(t, 0), k2020 + 1234 * kMs);
        QCOMPARE(fromWin32FileTime(k2020 + 9999), fromWin32FileTime(k2020));
        // Before 1970 the remainder is dropped towards the earlier millisecond as well.
        QCOMPARE(fromWin32FileTime(kEpoch - 5).toMSecsSinceEpoch(), qint64(-1));
        QCOMPARE(toWin32FileTime(fromWin32FileTime(kEpoch - 5), 0), kEpoch - kMs);
    }

    void timesOutsideTheFileTimeRangeFallBack()
    {
        const QDateTime medieval(QDate(1500, 6, 1), QTime(12, 0), Qt::UTC);
        QCOMPARE(toWin32FileTime(medieval, 77), quint64(77));
        QCOMPARE(toWin32FileTime(QDateTime(QDate(2020, 13, 40), QTime(0, 0)), 78), quint64(78));
        QCOMPARE(toWin32FileTime(QDateTime(QDate(1601, 1, 1), QTime(0, 0), Qt::UTC), 5), quint64(0));
        QCOMPARE(rewindservice::UnixMsToWin32filetime(-11644473600001LL), quint64(0));
    }

    void findOrCreateChannelReportsFlagMismatch()
    {
        DWORD id = 99;
        QCOMPARE(findOrCreateChannel(nullptr, "Video_H264", true, &id), E_POINTER);

        CComPtr<IArchiveStream> stream;
        QCOMPARE(server->OpenStream(nyx::com::fromQUuid(streamId), &stream), S_OK);
        server->setChannel(streamId, "KeyFrame", 1, 4);
        QCOMPARE(findOrCreateChannel(stream, "KeyFrame", true, &id), S_OK);
        QCOMPARE(id, DWORD(4));
        id = 0;
        QCOMPARE(findOrCreateChannel(stream, "KeyFrame", false, &id), S_FALSE);
        QCOMPARE(id, DWORD(4));
        QVERIFY(server->createdChannels().isEmpty());

        // Missing: the create result, with the flag passed on.
        QCOMPARE(findOrCreateChannel(stream, "Audio_RAW", true, &id), S_OK);
        QCOMPARE(server->createdChannels().size(), 1);
        QCOMPARE(server->createdChannels().at(0).flag, BYTE(1));
        QCOMPARE(id, server->createdChannels().at(0).id);

        server->fail(fake::Op::CreateChannel, E_ACCESSDENIED);
        QCOMPARE(findOrCreateChannel(stream, "Audio_MediaType", false, &id), E_ACCESSDENIED);
    }

    void zeroTimesAreNullAndTimesKeepMilliseconds()
    {
        WorkerHarness h;
        Stream stream(server, storageId, streamId, false, "Cam1", h.timer, h.thread);
        QVERIFY(stream.startTime().isNull());
        QVERIFY(stream.endTime().isNull());
        QCOMPARE(stream.updater()->thread(), h.thread.data());
        QCOMPARE(stream.guid(), streamId);
        QCOMPARE(stream.storageGuid(), storageId);
        QCOMPARE(stream.decoderKind(), -1);
        QCOMPARE(stream.decoderIndex(), 0);

        QSignalSpy starts(&stream, &Stream::startTimeChanged);
        QSignalSpy ends(&stream, &Stream::endTimeChanged);
        QSignalSpy rawEnds(stream.updater().data(), &StreamUpdater::endTimeChanged);
        ArchiveStreamInfo info = server->streamInfo(streamId);
        info.startTime = k2020;
        info.endTime = k2020 + 1000 * kMs;
        server->setStreamInfo(streamId, info);
        h.tick();
        QCOMPARE(starts.count(), 1);
        QCOMPARE(ends.count(), 1);
        QCOMPARE(stream.startTime(), fromWin32FileTime(k2020));
        QCOMPARE(stream.endTime().toMSecsSinceEpoch() - stream.startTime().toMSecsSinceEpoch(), qint64(1000));

        // Below a millisecond: the updater sees a new value, the Stream the same time.
        info.endTime += 300;
        server->setStreamInfo(streamId, info);
        h.tick();
        QCOMPARE(rawEnds.count(), 2);
        QCOMPARE(ends.count(), 1);

        // Back to no data.
        info.startTime = info.endTime = 0;
        server->setStreamInfo(streamId, info);
        h.tick();
        QVERIFY(stream.startTime().isNull());
        QVERIFY(stream.endTime().isNull());
        QCOMPARE(starts.count(), 2);
    }

    void sequencesFollowTheChangeCounterOnly()
    {
        WorkerHarness h;
        // Counter 0 on the first update: the sequences are still read.
        server->setSequences(streamId, {sequence(k2020, k2020 + 100 * kMs), sequence(k2020 + 500 * kMs, 0)});
        Stream stream(server, storageId, streamId, true, "Cam1", h.timer, h.thread);
        QVERIFY(stream.isAudio());
        QCOMPARE(stream.sequenceRanges().size(), 2);
        const auto first = stream.sequenceRanges().at(0);
        QCOMPARE(first->from(), fromWin32FileTime(k2020));
        QCOMPARE(first->to(), fromWin32FileTime(k2020 + 100 * kMs));
        QCOMPARE(first->size(), qlonglong(-1));
        QVERIFY(!first->stream());
        QVERIFY(stream.sequenceRanges().at(1)->to().isNull());

        QSignalSpy spy(&stream, &Stream::sequencesChanged);
        server->resetCalls();
        // Sequences change on the server, the counter does not: nothing is read.
        server->setSequences(streamId, {sequence(k2020, k2020 + 200 * kMs)});
        h.tick();
        h.tick();
        QCOMPARE(spy.count(), 0);
        QCOMPARE(server->calls(fake::Op::SequenceCount), 0);
        QCOMPARE(stream.sequenceRanges().size(), 2);

        ArchiveStreamInfo info = server->streamInfo(streamId);
        info.sequenceChangeCounter = 5;
        server->setStreamInfo(streamId, info);
        h.tick();
        QCOMPARE(spy.count(), 1);
        QCOMPARE(stream.sequenceRanges().size(), 1);
        QCOMPARE(stream.sequenceRanges().at(0)->to(), fromWin32FileTime(k2020 + 200 * kMs));

        // An empty list is published once.
        server->setSequences(streamId, {});
        info.sequenceChangeCounter = 6;
        server->setStreamInfo(streamId, info);
        h.tick();
        QCOMPARE(spy.count(), 2);
        QCOMPARE(stream.sequenceRanges().size(), 0);
    }

    // Stored frames are what the archive counts; lost ones are the frame times at 25 per second
    // that the sequences (from `since` on) do not hold, inside them and between them.
    void framesStoredAndLostFromTheSequences_data()
    {
        QTest::addColumn<QVector<QVector<qint64>>>("sequences"); // first ms, last ms, frames
        QTest::addColumn<qint64>("sinceMs");                     // -1: every sequence
        QTest::addColumn<qulonglong>("stored");
        QTest::addColumn<qlonglong>("lost");
        using S = QVector<QVector<qint64>>;
        QTest::newRow("none") << S{} << qint64(-1) << qulonglong(0) << qlonglong(0);
        QTest::newRow("whole") << S{{0, 3960, 100}} << qint64(-1) << qulonglong(100) << qlonglong(0);
        QTest::newRow("holes inside") << S{{0, 3960, 97}} << qint64(-1) << qulonglong(97) << qlonglong(3);
        QTest::newRow("one frame") << S{{1000, 1000, 1}} << qint64(-1) << qulonglong(1) << qlonglong(0);
        // 40 ms after the last frame the next one is due: no gap; 2 s later, 49 frames are missing.
        QTest::newRow("back to back")
            << S{{0, 960, 25}, {1000, 1960, 25}} << qint64(-1) << qulonglong(50) << qlonglong(0);
        QTest::newRow("gap between") << S{{0, 960, 25}, {2960, 3920, 25}} << qint64(-1) << qulonglong(50)
                                     << qlonglong(49);
        QTest::newRow("older ones left out") << S{{0, 960, 20}, {60000, 60960, 25}, {62960, 63920, 24}}
                                             << qint64(60000) << qulonglong(69) << qlonglong(49 + 1);
        QTest::newRow("empty sequence") << S{{0, 960, 25}, {1000, 0, 0}, {2000, 2960, 25}} << qint64(-1)
                                        << qulonglong(50) << qlonglong(25);
    }
    void framesStoredAndLostFromTheSequences()
    {
        QFETCH(QVector<QVector<qint64>>, sequences);
        QFETCH(qint64, sinceMs);
        QFETCH(qulonglong, stored);
        QFETCH(qlonglong, lost);
        std::vector<ArchiveSequenceRecord> records;
        for (const auto &s : sequences) {
            records.push_back(sequence(k2020 + quint64(s[0]) * kMs, s[1] ? k2020 + quint64(s[1]) * kMs : 0));
            records.back().frameCount = quint64(s[2]);
        }
        server->setSequences(streamId, records);
        WorkerHarness h;
        Stream stream(server, storageId, streamId, false, "Cam1", h.timer, h.thread);
        QCOMPARE(stream.frameCount(), stored);
        const QDateTime since = sinceMs < 0 ? QDateTime() : fromWin32FileTime(k2020 + quint64(sinceMs) * kMs);
        QCOMPARE(stream.lostFrames(25, since), lost);
    }

    void sequenceFailuresAndBrokenCounts()
    {
        WorkerHarness h;
        server->setSequences(streamId,
                             {sequence(k2020, k2020 + kMs), sequence(k2020 + 2 * kMs, k2020 + 3 * kMs),
                              sequence(k2020 + 4 * kMs, k2020 + 5 * kMs)});
        Stream stream(server, storageId, streamId, false, "Cam1", h.timer, h.thread);
        QCOMPARE(stream.sequenceRanges().size(), 3);
        QSignalSpy spy(&stream, &Stream::sequencesChanged);
        ArchiveStreamInfo info = server->streamInfo(streamId);

        // The stream object cannot be opened: the sequences stay, and the new counter is kept.
        server->fail(fake::Op::OpenStream, E_FAIL);
        info.sequenceChangeCounter = 1;
        server->setStreamInfo(streamId, info);
        h.tick();
        server->clearFailures();
        h.tick();
        QCOMPARE(spy.count(), 0);
        QCOMPARE(stream.sequenceRanges().size(), 3);

        // A short answer: only the records the server filled, no zero-filled phantoms.
        server->setShortLists(1);
        info.sequenceChangeCounter = 2;
        server->setStreamInfo(streamId, info);
        h.tick();
        QCOMPARE(spy.count(), 1);
        QCOMPARE(stream.sequenceRanges().size(), 1);
        server->setShortLists(-1);

        // An absurd count is refused rather than allocated.
        server->resetCalls();
        server->setCountOverride(0xFFFFFFF0LL);
        info.sequenceChangeCounter = 3;
        server->setStreamInfo(streamId, info);
        h.tick();
        QCOMPARE(spy.count(), 2);
        QCOMPARE(stream.sequenceRanges().size(), 0);
        QCOMPARE(server->calls(fake::Op::Sequences), 0);
        server->setCountOverride(-1);

        // A failing count publishes an empty list.
        server->fail(fake::Op::SequenceCount, E_FAIL);
        info.sequenceChangeCounter = 4;
        server->setStreamInfo(streamId, info);
        h.tick();
        QCOMPARE(spy.count(), 3);
        QCOMPARE(stream.sequenceRanges().size(), 0);
    }

    void failingInfoKeepsTheLastGoodRecord()
    {
        WorkerHarness h;
        ArchiveStreamInfo info = server->streamInfo(streamId);
        info.startTime = k2020;
        info.endTime = k2020 + kMs;
        server->setStreamInfo(streamId, info);
        Stream stream(server, storageId, streamId, false, "Cam1", h.timer, h.thread);
        QSignalSpy ends(&stream, &Stream::endTimeChanged);
        server->fail(fake::Op::StreamInfo, E_FAIL);
        info.endTime = k2020 + 2 * kMs;
        server->setStreamInfo(streamId, info);
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression("Failed to update stream info: Error"));
        h.tick();
        QCOMPARE(ends.count(), 0);
        server->clearFailures();
        h.tick();
        QCOMPARE(ends.count(), 1);
        QCOMPARE(stream.endTime(), fromWin32FileTime(k2020 + 2 * kMs));
    }

    void requestsAreCoalesced()
    {
        WorkerHarness h;
        Stream stream(server, storageId, streamId, false, "Cam1", h.timer, h.thread);
        h.tick(); // clears the pending flag of construction
        server->resetCalls();
        StreamUpdater *updater = stream.updater().data();
        h.run([updater] {
            updater->requestUpdate();
            updater->requestUpdate();
            updater->requestUpdate();
        });
        h.flush();
        QCOMPARE(server->calls(fake::Op::StreamInfo), 1);
        h.run([updater] { updater->requestUpdate(); });
        h.flush();
        QCOMPARE(server->calls(fake::Op::StreamInfo), 2);
    }

    void serverAndGuidForThePipeline()
    {
        WorkerHarness h;
        Stream stream(server, storageId, streamId, false, "Cam1", h.timer, h.thread);
        IRewindServer *s = stream.updater()->server();
        QCOMPARE(s, static_cast<IRewindServer *>(server.p));
        const ULONG before = server->refCount();
        s->Release();
        QCOMPARE(server->refCount(), before - 1);
        QCOMPARE(stream.updater()->guid(), streamId);
        QCOMPARE(stream.thread(), h.thread);

        StreamUpdater orphan(nullptr, streamId);
        QVERIFY(!orphan.server());
    }

    // As in production: the Storage and its streams are made by the updaters on the worker thread and
    // handed to this thread, and QML binds to the sequences' bounds while the server keeps changing.
    void sequencesBoundInQmlFollowRefreshes()
    {
        WorkerHarness h;
        server->setSequences(streamId, {sequence(k2020, k2020 + 100 * kMs)});
        QSharedPointer<Storage> storage;
        h.run([&] {
            storage = makeThreadShared(new Storage(server, storageId, "S", h.timer, h.thread));
            storage->moveToThread(QCoreApplication::instance()->thread());
        });
        QCOMPARE(storage->streamList().size(), 2);
        Stream *stream = storage->streamList().at(0).data();
        QCOMPARE(stream->thread(), h.thread);
        QCOMPARE(stream->QObject::thread(), QThread::currentThread());

        QQmlEngine engine;
        QQmlComponent component(&engine);
        component.setData("import QtQml 2.15\n"
                          "import Rewind 1.0\n"
                          "QtObject {\n"
                          "  property QtObject stream\n"
                          "  property int count: stream ? stream.sequences.length : -1\n"
                          "  property var from0: count > 0 ? stream.sequences[0].from : null\n"
                          "  property var to0: count > 0 ? stream.sequences[0].to : null\n"
                          "  property var toLast: count > 0 ? stream.sequences[count - 1].to : null\n"
                          "}\n",
                          QUrl());
        std::unique_ptr<QObject> view(component.create());
        QVERIFY2(view, qPrintable(component.errorString()));
        view->setProperty("stream", QVariant::fromValue<QObject *>(stream));

        QList<QThread *> deletedOn;
        QObject watcher; // ends the watch before deletedOn goes
        auto watchRanges = [&] {
            for (const auto &range : stream->sequenceRanges())
                connect(
                    range.data(), &QObject::destroyed, &watcher,
                    [&deletedOn] { deletedOn.append(QThread::currentThread()); }, Qt::DirectConnection);
        };
        watchRanges();
        QCOMPARE(view->property("count").toInt(), 1);
        QCOMPARE(view->property("from0").toDateTime(), fromWin32FileTime(k2020));
        QCOMPARE(view->property("to0").toDateTime(), fromWin32FileTime(k2020 + 100 * kMs));

        ArchiveStreamInfo info = server->streamInfo(streamId);
        for (int refresh = 1; refresh <= 3; ++refresh) {
            std::vector<ArchiveSequenceRecord> sequences;
            for (int i = 0; i <= refresh; ++i)
                sequences.push_back(sequence(k2020 + i * 1000 * kMs, k2020 + (i * 1000 + refresh) * kMs));
            server->setSequences(streamId, sequences);
            info.sequenceChangeCounter = quint64(10 + refresh);
            server->setStreamInfo(streamId, info);
            h.tick();
            QTRY_COMPARE(view->property("count").toInt(), refresh + 1);
            QCOMPARE(view->property("from0").toDateTime(), fromWin32FileTime(k2020));
            QCOMPARE(view->property("to0").toDateTime(), fromWin32FileTime(k2020 + refresh * kMs));
            QCOMPARE(view->property("toLast").toDateTime(),
                     fromWin32FileTime(k2020 + (refresh * 1000 + refresh) * kMs));
            for (const auto &range : stream->sequenceRanges())
                QCOMPARE(range->thread(), QThread::currentThread());
            watchRanges();
        }
        // The replaced ranges were deleted here, where QML reads them, never on the worker.
        QTRY_COMPARE(deletedOn.size(), 1 + 2 + 3);
        QCOMPARE(deletedOn.count(QThread::currentThread()), deletedOn.size());

        view.reset();
        h.run([&] { storage.reset(); });
        h.flush();
    }

    void updaterIsDeletedOnTheWorkerThread()
    {
        WorkerHarness h;
        h.start(1);
        QThread *deletedOn = nullptr;
        QPointer<StreamUpdater> watched;
        {
            auto stream =
                std::make_unique<Stream>(server, storageId, streamId, false, "Cam1", h.timer, h.thread);
            watched = stream->updater().data();
            connect(
                watched.data(), &QObject::destroyed, watched.data(),
                [&deletedOn] { deletedOn = QThread::currentThread(); }, Qt::DirectConnection);
            QTest::qWait(20);
        }
        QTRY_VERIFY(watched.isNull());
        QCOMPARE(deletedOn, h.thread.data());

        // A copy held elsewhere (as the media pipeline does) keeps it polling after the Stream is gone.
        QSharedPointer<StreamUpdater> kept;
        {
            Stream stream(server, storageId, streamId, false, "Cam1", h.timer, h.thread);
            kept = stream.updater();
        }
        server->resetCalls();
        QTRY_VERIFY(server->calls(fake::Op::StreamInfo) > 0);
        kept.reset();
    }

private:
    CComPtr<fake::Server> server;
    QUuid storageId;
    QUuid streamId;
};

QTEST_GUILESS_MAIN(TestStream)
#include "tst_streamupdater.moc"
