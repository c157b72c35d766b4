// Range and RangeUpdater: measuring through a stream's updater on the worker thread.

#include "archivetime.h"
#include "fakerewindserver.h"
#include "range.h"
#include "rangeupdater.h"
#include "stream.h"
#include "streamupdater.h"
#include "workerharness.h"

#include <QSignalSpy>
#include <QtTest>
#include <memory>

namespace {
constexpr quint64 kSecond = 10000000ULL;
constexpr quint64 k2020 = 132223104000000000ULL;

QDateTime at(quint64 seconds)
{
    return fromWin32FileTime(k2020 + seconds * kSecond);
}

int rangeCount(WorkerHarness &h, Stream &stream)
{
    int n = -1;
    StreamUpdater *u = stream.updater().data();
    h.run([&] { n = u->rangeCount(); });
    return n;
}
} // namespace

class TestRange : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        server.Attach(fake::Server::create().Detach());
        storageId = server->addStorage("S");
        streamA = server->addStream(storageId, "A");
        streamB = server->addStream(storageId, "B");
        for (const QUuid &id : {streamA, streamB}) {
            ArchiveStreamInfo info = server->streamInfo(id);
            info.startTime = k2020;
            info.endTime = k2020 + 30 * kSecond;
            server->setStreamInfo(id, info);
        }
    }
    void cleanup() { server.Release(); }

    void newRangeAndNoOpSetters()
    {
        WorkerHarness h;
        Stream stream(server, storageId, streamA, false, "A", h.timer, h.thread);
        Range range;
        QCOMPARE(range.size(), qlonglong(-1));
        QVERIFY(range.from().isNull());
        QVERIFY(range.to().isNull());
        QVERIFY(!range.stream());

        QSignalSpy streamSpy(&range, &Range::streamChanged);
        QSignalSpy fromSpy(&range, &Range::timeFromChanged);
        QSignalSpy sizeSpy(&range, &Range::sizeChanged);
        range.setStream(nullptr);
        range.setFrom(QDateTime());
        QCOMPARE(streamSpy.count() + fromSpy.count() + sizeSpy.count(), 0);

        range.setFrom(at(1));
        range.setStream(&stream);
        range.setStream(&stream);
        range.setFrom(at(1));
        QCOMPARE(streamSpy.count(), 1);
        QCOMPARE(fromSpy.count(), 1);
        h.flush();
        QCOMPARE(rangeCount(h, stream), 1);
    }

    void sizeIsUnknownEmptyOrPositive()
    {
        WorkerHarness h;
        Stream stream(server, storageId, streamA, false, "A", h.timer, h.thread);
        server->setRangeSize(streamA, 4096);
        Range range;
        range.setFrom(at(5));
        range.setTo(at(10));
        range.setStream(&stream);
        QCOMPARE(range.size(), qlonglong(-1));
        QTRY_COMPARE(range.size(), qlonglong(4096));
        const fake::RangeQuery q = server->rangeQueries().last();
        QCOMPARE(q.stream, streamA);
        QCOMPARE(q.from, k2020 + 5 * kSecond);
        QCOMPARE(q.to, k2020 + 10 * kSecond);

        // A part without data reports 0, which is not "unknown".
        server->setRangeSize(streamA, 0);
        range.setTo(at(11));
        QCOMPARE(range.size(), qlonglong(-1));
        QTRY_COMPARE(range.size(), qlonglong(0));
    }

    void openBoundsCoverTheWholeStream()
    {
        WorkerHarness h;
        Stream stream(server, storageId, streamA, false, "A", h.timer, h.thread);
        server->setRangeSize(streamA, 77);
        Range range;
        range.setStream(&stream);
        QTRY_COMPARE(range.size(), qlonglong(77));
        QCOMPARE(server->rangeQueries().last().from, quint64(0));
        QCOMPARE(server->rangeQueries().last().to, kOpenFileTimeEnd);

        // An open end is measured again whenever the stream grows.
        const int before = server->rangeQueries().size();
        ArchiveStreamInfo info = server->streamInfo(streamA);
        info.endTime += kSecond;
        server->setStreamInfo(streamA, info);
        server->setRangeSize(streamA, 78);
        // The refresh of the growing tick still sees the interval before it (nothing to do);
        // the one after sees the growth and measures.
        h.tick();
        h.flush();
        QCOMPARE(server->rangeQueries().size(), before);
        h.tick();
        h.flush();
        QCOMPARE(server->rangeQueries().size(), before + 1);
        QTRY_COMPARE(range.size(), qlonglong(78));
        // Then it stays quiet while the stream does.
        h.tick();
        h.tick();
        h.flush();
        QCOMPARE(server->rangeQueries().size(), before + 1);
    }

    void staleReportAfterABoundChangeIsDropped()
    {
        Range range;
        range.setFrom(at(1));
        range.setTo(at(2));
        range.setFrom(at(3));
        // A measurement made for the earlier bounds arrives late.
        emit range.updater()->sizeChanged(500, at(1), at(2));
        QCOMPARE(range.size(), qlonglong(-1));
        emit range.updater()->sizeChanged(600, at(3), at(2));
        QCOMPARE(range.size(), qlonglong(600));
        // Not from its updater: not a measurement of this range.
        QMetaObject::invokeMethod(&range, "onSizeChanged", Q_ARG(qlonglong, 700), Q_ARG(QDateTime, at(3)),
                                  Q_ARG(QDateTime, at(2)));
        QCOMPARE(range.size(), qlonglong(600));

        // End to end: the new bounds bring their own measurement.
        WorkerHarness h;
        Stream stream(server, storageId, streamA, false, "A", h.timer, h.thread);
        server->setRangeSize(streamA, 10);
        Range measured;
        measured.setFrom(at(1));
        measured.setTo(at(2));
        measured.setStream(&stream);
        QTRY_COMPARE(measured.size(), qlonglong(10));
        server->setRangeSize(streamA, 20);
        measured.setFrom(at(0));
        QCOMPARE(measured.size(), qlonglong(-1));
        QTRY_COMPARE(measured.size(), qlonglong(20));
        QCOMPARE(server->rangeQueries().last().from, k2020);
    }

    void failedMeasurementOnAFinishedStreamIsRetried()
    {
        WorkerHarness h;
        Stream stream(server, storageId, streamA, false, "A", h.timer, h.thread);
        server->setRangeSize(streamA, 300);
        server->fail(fake::Op::RangeSize, E_FAIL);
        Range range;
        range.setFrom(at(1));
        range.setTo(at(2));
        range.setStream(&stream);
        h.flush();
        QVERIFY(!server->rangeQueries().isEmpty());
        QCOMPARE(range.size(), qlonglong(-1));
        // The stream no longer changes; the next ticks still ask again.
        server->clearFailures();
        h.tick();
        h.flush();
        QTRY_COMPARE(range.size(), qlonglong(300));

        // Without a range-size interface the size stays unknown, and is retried too.
        server->setRangeInfoOffered(false);
        range.setTo(at(3));
        h.flush();
        QCOMPARE(range.size(), qlonglong(-1));
        server->setRangeInfoOffered(true);
        h.tick();
        QTRY_COMPARE(range.size(), qlonglong(300));
    }

    // A measurement that failed after the bounds last changed leaves the range unknown, not dirty: it
    // must still be asked again once the stream has come to enclose it.
    void failedMeasurementOfARangeNowInsideIsRetried()
    {
        WorkerHarness h;
        Stream stream(server, storageId, streamA, false, "A", h.timer, h.thread);
        server->setRangeSize(streamA, 700);
        Range range;
        range.setFrom(at(10));
        range.setTo(at(35));
        range.setStream(&stream);
        QTRY_COMPARE(range.size(), qlonglong(700));

        // The stream grows, still short of the range's end: the range is measured, and that fails.
        server->fail(fake::Op::RangeSize, E_FAIL);
        ArchiveStreamInfo info = server->streamInfo(streamA);
        info.endTime = k2020 + 33 * kSecond;
        server->setStreamInfo(streamA, info);
        h.tick();
        h.tick();
        h.flush();
        QCOMPARE(range.size(), qlonglong(-1));

        // Then it grows past the range, which now lies inside it: still measured until it has a size.
        server->clearFailures();
        server->setRangeSize(streamA, 900);
        info.endTime = k2020 + 40 * kSecond;
        server->setStreamInfo(streamA, info);
        for (int i = 0; i < 3; ++i)
            h.tick();
        h.flush();
        QTRY_COMPARE(range.size(), qlonglong(900));
    }

    void rangeInsideTheStreamIsNotMeasuredAgain()
    {
        WorkerHarness h;
        Stream stream(server, storageId, streamA, false, "A", h.timer, h.thread);
        server->setRangeSize(streamA, 1000);
        Range range;
        range.setFrom(at(10));
        range.setTo(at(20));
        range.setStream(&stream);
        QTRY_COMPARE(range.size(), qlonglong(1000));
        const int measured = server->rangeQueries().size();
        ArchiveStreamInfo info = server->streamInfo(streamA);
        for (int i = 1; i <= 3; ++i) {
            info.endTime = k2020 + (30 + i) * kSecond;
            server->setStreamInfo(streamA, info);
            h.tick();
        }
        h.flush();
        QCOMPARE(server->rangeQueries().size(), measured);
        // A bound change measures again.
        range.setTo(at(25));
        QTRY_COMPARE(server->rangeQueries().size(), measured + 1);
        QTRY_COMPARE(range.size(), qlonglong(1000));
    }

    void emptyRangeInsideTheStreamIsMeasuredUntilItHoldsData()
    {
        WorkerHarness h;
        Stream stream(server, storageId, streamA, false, "A", h.timer, h.thread);
        server->setRangeSize(streamA, 0);
        Range range;
        range.setFrom(at(10));
        range.setTo(at(20));
        range.setStream(&stream);
        QTRY_COMPARE(range.size(), qlonglong(0));
        ArchiveStreamInfo info = server->streamInfo(streamA);
        info.endTime = k2020 + 31 * kSecond;
        server->setStreamInfo(streamA, info);
        h.tick();
        h.tick();
        h.flush();
        QCOMPARE(range.size(), qlonglong(0));

        // The frames become visible after the stream's end has passed the range; recording goes on.
        server->setRangeSize(streamA, 400);
        info.endTime = k2020 + 32 * kSecond;
        server->setStreamInfo(streamA, info);
        h.tick();
        h.flush();
        QTRY_COMPARE(range.size(), qlonglong(400));
    }

    void rangeMovedToAnotherStreamIsMeasuredAnew()
    {
        WorkerHarness h;
        Stream a(server, storageId, streamA, false, "A", h.timer, h.thread);
        Stream b(server, storageId, streamB, false, "B", h.timer, h.thread);
        // Both streams hold the same amount over the same interval.
        server->setRangeSize(streamA, 512);
        server->setRangeSize(streamB, 512);
        Range range;
        range.setFrom(at(1));
        range.setTo(at(2));
        range.setStream(&a);
        QTRY_COMPARE(range.size(), qlonglong(512));

        QSignalSpy sizes(&range, &Range::sizeChanged);
        range.setStream(&b);
        QCOMPARE(range.size(), qlonglong(-1));
        QTRY_COMPARE(range.size(), qlonglong(512));
        QCOMPARE(server->rangeQueries().last().stream, streamB);
        QCOMPARE(rangeCount(h, a), 0);
        QCOMPARE(rangeCount(h, b), 1);

        // And back, to the very interval it had there.
        range.setStream(&a);
        QTRY_COMPARE(range.size(), qlonglong(512));
        QCOMPARE(server->rangeQueries().last().stream, streamA);
        QCOMPARE(sizes.count(), 4);
    }

    void reportOfThePreviousStreamIsDropped()
    {
        WorkerHarness h;
        Stream a(server, storageId, streamA, false, "A", h.timer, h.thread);
        Stream b(server, storageId, streamB, false, "B", h.timer, h.thread);
        server->setRangeSize(streamA, 512);
        Range range;
        range.setFrom(at(1));
        range.setTo(at(2));
        range.setStream(&a);
        QTRY_COMPARE(range.size(), qlonglong(512));

        // Stream A measures new bounds; its report is still queued here when the range moves to B,
        // which cannot be measured.
        server->setRangeSize(streamA, 999);
        range.setTo(at(3));
        h.run([] {}); // the new bound, which requests a refresh
        h.run([] {}); // the refresh: A's report is posted to this thread
        QCOMPARE(server->rangeQueries().last().stream, streamA);
        server->setRangeInfoOffered(false);
        range.setStream(&b);
        h.flush();
        h.tick();
        QCOMPARE(range.size(), qlonglong(-1));

        server->setRangeInfoOffered(true);
        server->setRangeSize(streamB, 64);
        h.tick();
        QTRY_COMPARE(range.size(), qlonglong(64));
        QCOMPARE(rangeCount(h, a), 0);
        QCOMPARE(rangeCount(h, b), 1);
    }

    void rangeMovesBetweenWorkerThreads()
    {
        WorkerHarness h1;
        WorkerHarness h2;
        Stream a(server, storageId, streamA, false, "A", h1.timer, h1.thread);
        Stream b(server, storageId, streamB, false, "B", h2.timer, h2.thread);
        server->setRangeSize(streamA, 1);
        server->setRangeSize(streamB, 2);
        Range range;
        range.setStream(&a);
        QCOMPARE(range.updater()->thread(), h1.thread.data());
        QTRY_COMPARE(range.size(), qlonglong(1));
        range.setStream(&b);
        QCOMPARE(range.updater()->thread(), h2.thread.data());
        QTRY_COMPARE(range.size(), qlonglong(2));
        // Bounds set now reach the updater on its new thread.
        server->setRangeSize(streamB, 3);
        range.setFrom(at(1));
        QTRY_COMPARE(range.size(), qlonglong(3));
        QCOMPARE(server->rangeQueries().last().from, k2020 + kSecond);
        QCOMPARE(rangeCount(h1, a), 0);
        QCOMPARE(rangeCount(h2, b), 1);
    }

    void destroyedRangeLeavesTheStream()
    {
        WorkerHarness h;
        Stream stream(server, storageId, streamA, false, "A", h.timer, h.thread);
        QPointer<RangeUpdater> updater;
        {
            Range range;
            range.setStream(&stream);
            updater = range.updater().data();
            h.flush();
            QCOMPARE(rangeCount(h, stream), 1);
        }
        h.flush();
        QCOMPARE(rangeCount(h, stream), 0);
        // Deleted on its own thread once nobody holds it.
        QTRY_VERIFY(updater.isNull());
    }

    void destroyedStreamReadsNull()
    {
        WorkerHarness h;
        Range range;
        auto stream = std::make_unique<Stream>(server, storageId, streamA, false, "A", h.timer, h.thread);
        range.setStream(stream.get());
        stream.reset();
        QVERIFY(!range.stream());
        range.setStream(nullptr); // nothing held: no signal, no call
    }

private:
    CComPtr<fake::Server> server;
    QUuid storageId;
    QUuid streamA;
    QUuid streamB;
};

QTEST_GUILESS_MAIN(TestRange)
#include "tst_rangeupdater.moc"
