// Storage, StorageUpdater and StorageStats against a scripted server.

#include "drive.h"
#include "driveinfoupdater.h"
#include "fakerewindserver.h"
#include "objectdeleter.h"
#include "signalrecorder.h"
#include "storage.h"
#include "storagestats.h"
#include "storageupdater.h"
#include "stream.h"
#include "streamupdater.h"
#include "workerharness.h"

#include <QSignalSpy>
#include <QtTest>
#include <cmath>
#include <cstring>
#include <limits>

namespace {
QList<Stream *> raw(const QList<QSharedPointer<Stream>> &list)
{
    QList<Stream *> out;
    for (const auto &s : list)
        out << s.data();
    return out;
}

template <class T> T readAt(const QByteArray &bytes, int offset)
{
    T value;
    std::memcpy(&value, bytes.constData() + offset, sizeof value);
    return value;
}
} // namespace

class TestStorage : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        server.Attach(fake::Server::create().Detach());
        storageId = server->addStorage("Match");
        server->setDriveMask(0b111);
        server->setStoragePart(storageId, 0, {100, "C:"});
        server->setStoragePart(storageId, 1, {0, "D:"});
        server->setStoragePart(storageId, 2, {50, "E:"});
    }
    void cleanup() { server.Release(); }

    void constructionReadsDrivesAndStreams()
    {
        WorkerHarness h;
        const QUuid cam1 = server->addStream(storageId, "Cam1");
        const QUuid cam2 = server->addStream(storageId, "Cam2");
        CRewindStorageStats stats{};
        stats.dataSizeOnDisk = 1234;
        server->setStorageStats(storageId, stats);
        const auto text = [](const QUuid &id) { return id.toString(QUuid::WithoutBraces).toUpper(); };
        QTest::ignoreMessage(QtInfoMsg,
                             qPrintable("StorageUpdater::updateStreams() : ADD Storage=" + text(storageId) +
                                        ", Stream=" + text(cam1) + ", name=Cam1"));
        QTest::ignoreMessage(QtInfoMsg,
                             qPrintable("StorageUpdater::updateStreams() : ADD Storage=" + text(storageId) +
                                        ", Stream=" + text(cam2) + ", name=Cam2"));
        QTest::ignoreMessage(QtInfoMsg,
                             qPrintable("Storage::Storage() : Storage=" + text(storageId) + ", name=Match"));
        Storage storage(server, storageId, "Match", h.timer, h.thread);
        QCOMPARE(storage.guid(), storageId);
        QCOMPARE(storage.name(), QStringLiteral("Match"));
        QCOMPARE(storage.driveName(), QStringLiteral("C:E:"));
        QCOMPARE(storage.size(), qulonglong(150));
        QCOMPARE(storage.updater()->thread(), h.thread.data());
        // Video object first, then its audio twin, in the server's order.
        const auto streams = storage.streamList();
        QCOMPARE(streams.size(), 4);
        QCOMPARE(streams[0]->guid(), cam1);
        QVERIFY(!streams[0]->isAudio());
        QCOMPARE(streams[1]->guid(), cam1);
        QVERIFY(streams[1]->isAudio());
        QCOMPARE(streams[2]->guid(), cam2);
        QCOMPARE(streams[3]->name(), QStringLiteral("Cam2"));
        QCOMPARE(streams[0]->storageGuid(), storageId);
        // Statistics read during construction arrive with the next tick.
        QCOMPARE(storage.dataSizeOnDisk(), qulonglong(0));
        h.tick();
        QCOMPARE(storage.dataSizeOnDisk(), qulonglong(1234));

        QTest::ignoreMessage(QtInfoMsg, QRegularExpression("^Storage::getStreamByName\\(\\) : Storage=Match, "
                                                           "stream name=Cam2 Stream\\(0x[0-9a-f]+"));
        QCOMPARE(storage.getStreamByName("Cam2"), streams[2].data());
        QVERIFY(!storage.getStreamByName("cam2"));
        QVERIFY(!storage.getOrCreateStreamByName("Cam3"));
        QVERIFY(!storage.createStream("Cam3"));
        QVERIFY(!storage.deleteStream(streams[0].data()));
        QCOMPARE(server->calls(fake::Op::CreateStream), 0);
    }

    void drivesFollowTheServer()
    {
        WorkerHarness h;
        Storage storage(server, storageId, "Match", h.timer, h.thread);
        QSignalSpy names(&storage, &Storage::driveNameChanged);
        QSignalSpy sizes(&storage, &Storage::sizeChanged);
        h.tick();
        QCOMPARE(names.count() + sizes.count(), 0);

        server->setStoragePart(storageId, 1, {25, "D:"});
        QTest::ignoreMessage(QtInfoMsg, "Storage::setDriveName() name=C:D:E:");
        QTest::ignoreMessage(QtInfoMsg, "Storage::setSize() size=175");
        h.tick();
        QCOMPARE(storage.driveName(), QStringLiteral("C:D:E:"));
        QCOMPARE(storage.size(), qulonglong(175));
        QCOMPARE(names.count(), 1);
        QCOMPARE(sizes.count(), 1);

        // A failing mask keeps the figures.
        server->fail(fake::Op::DriveMask, E_FAIL);
        h.tick();
        QCOMPARE(storage.driveName(), QStringLiteral("C:D:E:"));
        QCOMPARE(names.count(), 1);
        // A failing part is skipped, not fatal.
        server->clearFailures();
        server->setDriveMask(0b101);
        h.tick();
        QCOMPARE(storage.driveName(), QStringLiteral("C:E:"));
        QCOMPARE(storage.size(), qulonglong(150));
    }

    void sameIdentifiersEmitNothingEvenAfterARename()
    {
        WorkerHarness h;
        const QUuid cam1 = server->addStream(storageId, "Cam1");
        Storage storage(server, storageId, "Match", h.timer, h.thread);
        const auto before = raw(storage.streamList());
        QSignalSpy spy(&storage, &Storage::streamsChanged);
        server->renameStream(cam1, "Renamed");
        h.tick();
        h.tick();
        QCOMPARE(spy.count(), 0);
        QCOMPARE(raw(storage.streamList()), before);
        QCOMPARE(storage.streamList().at(0)->name(), QStringLiteral("Cam1"));
    }

    void additionsKeepObjectsAndRemovalsDropTwins()
    {
        WorkerHarness h;
        const QUuid cam1 = server->addStream(storageId, "Cam1");
        const QUuid cam3 = server->addStream(storageId, "Cam3");
        Storage storage(server, storageId, "Match", h.timer, h.thread);
        QSignalSpy spy(&storage, &Storage::streamsChanged);
        const auto before = raw(storage.streamList());
        const qint64 firstRevision = storage.updater()->streams().revision;

        // A new stream, listed between the two existing ones.
        server->removeStream(cam3);
        const QUuid cam2 = server->addStream(storageId, "Cam2");
        server->addStream(storageId, "Cam3", cam3);
        h.tick();
        QCOMPARE(spy.count(), 1);
        auto added = storage.streamList();
        QCOMPARE(added.size(), 6);
        QCOMPARE(added[0].data(), before[0]);
        QCOMPARE(added[1].data(), before[1]);
        QCOMPARE(added[2]->guid(), cam2);
        QVERIFY(!added[2]->isAudio());
        QVERIFY(added[3]->isAudio());
        QCOMPARE(added[4].data(), before[2]);
        QCOMPARE(added[5].data(), before[3]);
        QCOMPARE(storage.streamsRevision(), firstRevision + 1);

        // A removal drops both objects of the stream; the rest stay in order.
        QPointer<Stream> video = added[0].data();
        QPointer<Stream> audio = added[1].data();
        const QList<Stream *> remaining{added[2].data(), added[3].data(), added[4].data(), added[5].data()};
        added.clear();
        bool aliveInHandler = false;
        connect(&storage, &Storage::streamsChanged, this, [&] { aliveInHandler = video && audio; });
        server->removeStream(cam1);
        h.tick();
        QCOMPARE(spy.count(), 2);
        QVERIFY(aliveInHandler);
        QCOMPARE(raw(storage.streamList()), remaining);
        QCOMPARE(storage.streamsRevision(), firstRevision + 2);
        // Released once the worker's copy and the in-flight lists are gone.
        QTRY_VERIFY(video.isNull() && audio.isNull());
    }

    void olderOrEqualRevisionsAreIgnored()
    {
        WorkerHarness h;
        server->addStream(storageId, "Cam1");
        Storage storage(server, storageId, "Match", h.timer, h.thread);
        const qint64 revision = storage.updater()->streams().revision;
        server->addStream(storageId, "Cam2");
        h.tick();
        QCOMPARE(storage.streamsRevision(), revision + 1);
        QSignalSpy spy(&storage, &Storage::streamsChanged);
        StreamList stale;
        stale.revision = revision + 1;
        QMetaObject::invokeMethod(&storage, "updateStreams", Q_ARG(StreamList, stale));
        stale.revision = revision;
        QMetaObject::invokeMethod(&storage, "updateStreams", Q_ARG(StreamList, stale));
        QCOMPARE(spy.count(), 0);
        QCOMPARE(storage.streamList().size(), 4);
    }

    void shortAndBrokenListsMakeNoPhantoms()
    {
        WorkerHarness h;
        server->addStream(storageId, "Cam1");
        server->addStream(storageId, "Cam2");
        server->addStream(storageId, "Cam3");
        server->setShortLists(1);
        Storage storage(server, storageId, "Match", h.timer, h.thread);
        QCOMPARE(storage.streamList().size(), 2);
        for (const auto &s : storage.streamList())
            QVERIFY(!s->guid().isNull());

        server->setShortLists(-1);
        server->setCountOverride(0x80000000LL);
        QSignalSpy spy(&storage, &Storage::streamsChanged);
        h.tick();
        QCOMPARE(spy.count(), 0);
        QCOMPARE(storage.streamList().size(), 2);
        QCOMPARE(server->calls(fake::Op::Streams), 1);
        server->setCountOverride(-1);
        h.tick();
        QCOMPARE(storage.streamList().size(), 6);
    }

    void namesAreReadWithinTheirField()
    {
        WorkerHarness h;
        // 256 units: the field is full and has no terminating zero.
        const QString full(256, QChar('n'));
        server->addStream(storageId, full);
        Storage storage(server, storageId, "Match", h.timer, h.thread);
        QCOMPARE(storage.streamList().at(0)->name(), full);
    }

    void createStreamWritesTheRecord()
    {
        WorkerHarness h;
        fake::AttributeStoreRegistration store;
        Storage storage(server, storageId, "Match", h.timer, h.thread);
        StorageUpdater *updater = storage.updater().data();
        QSignalSpy spy(&storage, &Storage::streamsChanged);

        const QString name255(255, QChar(0x263A));
        CreateStreamResult result;
        QVERIFY(QMetaObject::invokeMethod(updater, "createStream", Qt::BlockingQueuedConnection,
                                          Q_RETURN_ARG(CreateStreamResult, result), Q_ARG(QString, name255)));
        QVERIFY(result.second);
        QCOMPARE(result.second->name(), name255);
        QVERIFY(!result.second->isAudio());
        QCOMPARE(result.first.streams.size(), 1);
        QCOMPARE(result.first.revision, qint64(1));
        // Stream::thread() is the worker the stream is polled on; the object itself lives here.
        QCOMPARE(static_cast<QObject *>(result.second.data())->thread(), QThread::currentThread());
        QCOMPARE(result.second->thread(), h.thread);

        const QByteArray record = server->lastCreateStreamRecord();
        QCOMPARE(record.size(), 5156);
        QCOMPARE(nyx::com::toQUuid(readAt<GUID>(record, 0)), storageId);
        QCOMPARE(record.mid(16, 512), QByteArray(512, '\0'));
        QCOMPARE(record.mid(528, 16), QByteArray(16, '\0'));
        QCOMPARE(QString::fromUtf16(reinterpret_cast<const char16_t *>(record.constData() + 544), 255),
                 name255);
        QCOMPARE(readAt<char16_t>(record, 544 + 510), char16_t(0));
        QCOMPARE(readAt<quint32>(record, 1056), quint32(3));
        QCOMPARE(record.mid(1060, int(sizeof fake::kAttributeMark)),
                 QByteArray(fake::kAttributeMark, int(sizeof fake::kAttributeMark)));
        QCOMPARE(store.binds.load(), 1);

        // The direct result and the queued signal carry one revision: the Storage takes it once.
        QMetaObject::invokeMethod(&storage, "updateStreams", Q_ARG(StreamList, result.first));
        h.flush();
        QCOMPARE(spy.count(), 1);
        QCOMPARE(storage.streamList().size(), 1);
        // Known now: the next read of the server's list changes nothing.
        h.tick();
        QCOMPARE(spy.count(), 1);

        // 256 units are refused before the server is asked.
        const int creates = server->calls(fake::Op::CreateStream);
        QTest::ignoreMessage(QtCriticalMsg,
                             QRegularExpression("Rewind failed to create stream: Name is too long"));
        QVERIFY(QMetaObject::invokeMethod(updater, "createStream", Qt::BlockingQueuedConnection,
                                          Q_RETURN_ARG(CreateStreamResult, result),
                                          Q_ARG(QString, QString(256, QChar('x')))));
        QVERIFY(!result.second);
        QCOMPARE(result.first.revision, qint64(1));
        QCOMPARE(server->calls(fake::Op::CreateStream), creates);

        // A refused creation returns the list as it was.
        server->fail(fake::Op::CreateStream, E_ACCESSDENIED);
        QVERIFY(QMetaObject::invokeMethod(updater, "createStream", Qt::BlockingQueuedConnection,
                                          Q_RETURN_ARG(CreateStreamResult, result), Q_ARG(QString, "Cam9")));
        QVERIFY(!result.second);
        QCOMPARE(result.first.revision, qint64(1));
    }

    void refusedDeleteComesBackAsNewObjects()
    {
        WorkerHarness h;
        const QUuid cam1 = server->addStream(storageId, "Cam1");
        server->addStream(storageId, "Cam2");
        Storage storage(server, storageId, "Match", h.timer, h.thread);
        StorageUpdater *updater = storage.updater().data();
        const auto before = raw(storage.streamList());
        QPointer<Stream> oldVideo = before[0];
        const qint64 revision = storage.updater()->streams().revision;

        server->fail(fake::Op::DeleteStream, HRESULT_FROM_WIN32(32));
        StreamList list;
        QVERIFY(QMetaObject::invokeMethod(updater, "deleteStream", Qt::BlockingQueuedConnection,
                                          Q_RETURN_ARG(StreamList, list), Q_ARG(QUuid, cam1)));
        QCOMPARE(list.revision, revision + 1);
        QCOMPARE(list.streams.size(), 2);
        QCOMPARE(server->deletedStreams(), QList<QUuid>{cam1});
        h.flush();
        QCOMPARE(storage.streamList().size(), 2);

        // The server still lists it: back as two new objects.
        h.tick();
        const auto after = storage.streamList();
        QCOMPARE(after.size(), 4);
        QCOMPARE(after[0]->guid(), cam1);
        QTRY_VERIFY(oldVideo.isNull());
        QVERIFY(after[0]);
        QCOMPARE(after[2].data(), before[2]);
        QCOMPARE(storage.streamsRevision(), revision + 2);

        // An unknown identifier: the revision still rises and the server is still asked.
        server->clearFailures();
        const QUuid unknown = QUuid::createUuid();
        QVERIFY(QMetaObject::invokeMethod(updater, "deleteStream", Qt::BlockingQueuedConnection,
                                          Q_RETURN_ARG(StreamList, list), Q_ARG(QUuid, unknown)));
        QCOMPARE(list.revision, revision + 3);
        QCOMPARE(list.streams.size(), 4);
        QCOMPARE(server->deletedStreams().last(), unknown);
    }

    void statsEmitPerChangedField()
    {
        StorageStats stats;
        SignalRecorder recorder(&stats);
        CRewindStorageStats record{};
        stats.update(record);
        QVERIFY(recorder.names.isEmpty());

        record.currReadBytesRate = 2.5;
        stats.update(record);
        QCOMPARE(recorder.names, QStringList{"currReadBytesRateChanged"});
        QCOMPARE(stats.currReadBytesRate(), 2.5);

        recorder.names.clear();
        CRewindStorageStats all;
        all.dataSizeOnDisk = 1;
        all.lockedDataSizeOnDisk = 2;
        all.totalFramesWritten = 3;
        all.totalBytesWritten = 4;
        all.currWriteFramesRate = 5;
        all.currWriteBytesRate = 6;
        all.totalFramesReaded = 7;
        all.totalBytesReaded = 8;
        all.currReadFramesRate = 9;
        all.currReadBytesRate = 10;
        all.totalFATPagesWritten = 11;
        all.currWriteFATPagesRate = 12;
        stats.update(all);
        QCOMPARE(
            recorder.names,
            (QStringList{"dataSizeOnDiskChanged", "lockedDataSizeOnDiskChanged", "totalFramesWrittenChanged",
                         "totalBytesWrittenChanged", "currWriteFramesRateChanged",
                         "currWriteBytesRateChanged", "totalFramesReadedChanged", "totalBytesReadedChanged",
                         "currReadFramesRateChanged", "currReadBytesRateChanged",
                         "totalFATPagesWrittenChanged", "currWriteFATPagesRateChanged"}));
        QCOMPARE(stats.totalFATPagesWritten(), qulonglong(11));

        // A NaN rate counts as a change on every update.
        recorder.names.clear();
        all.currWriteBytesRate = std::numeric_limits<double>::quiet_NaN();
        stats.update(all);
        stats.update(all);
        QCOMPARE(recorder.names, (QStringList{"currWriteBytesRateChanged", "currWriteBytesRateChanged"}));
        QVERIFY(std::isnan(stats.currWriteBytesRate()));
    }

    void statsArriveEveryTickThroughTheStorage()
    {
        WorkerHarness h;
        Storage storage(server, storageId, "Match", h.timer, h.thread);
        StorageStats *stats = storage.stats();
        QVERIFY(stats);
        QCOMPARE(stats->parent(), &storage);
        QCOMPARE(stats->totalBytesWritten(), qulonglong(0));
        SignalRecorder recorder(stats);
        CRewindStorageStats record{};
        record.totalBytesWritten = 99;
        record.currWriteFramesRate = std::numeric_limits<double>::quiet_NaN();
        server->setStorageStats(storageId, record);
        h.tick();
        QCOMPARE(recorder.names, (QStringList{"totalBytesWrittenChanged", "currWriteFramesRateChanged"}));
        h.tick();
        QCOMPARE(recorder.names.size(), 3);

        // A failing read sends nothing; the values stay.
        server->fail(fake::Op::StorageStats, E_FAIL);
        h.tick();
        QCOMPARE(recorder.names.size(), 3);
        QCOMPARE(stats->totalBytesWritten(), qulonglong(99));
    }

    // As in production: the QML objects are built on the worker thread and handed to this one, which
    // drops them while the timer ticks; their updaters go on the worker thread, never here.
    void updatersAreDeletedOnTheWorkerThread_data()
    {
        QTest::addColumn<bool>("storage");
        QTest::newRow("Storage with its streams") << true;
        QTest::newRow("Drive") << false;
    }
    void updatersAreDeletedOnTheWorkerThread()
    {
        QFETCH(bool, storage);
        server->addStream(storageId, "Cam1");
        WorkerHarness h;
        QSharedPointer<QObject> object;
        QList<QObject *> updaters;
        h.run([&] {
            if (storage) {
                auto built = makeThreadShared(new Storage(server, storageId, "Match", h.timer, h.thread));
                updaters << built->updater().data();
                for (const auto &stream : built->streamList())
                    updaters << stream->updater().data();
                object = built;
            } else {
                auto built = makeThreadShared(new Drive(server, 0, h.timer, h.thread));
                updaters << built->updater().data();
                object = built;
            }
            object->moveToThread(QCoreApplication::instance()->thread());
        });
        QCOMPARE(updaters.size(), storage ? 3 : 1);
        QList<QThread *> deletedOn;
        QObject watcher; // ends the watch before deletedOn goes
        for (QObject *updater : qAsConst(updaters)) {
            QCOMPARE(updater->thread(), h.thread.data());
            connect(
                updater, &QObject::destroyed, &watcher,
                [&deletedOn] { deletedOn << QThread::currentThread(); }, Qt::DirectConnection);
        }
        h.start(1);
        QTest::qWait(20);
        object.reset(); // here, on the application thread
        QTRY_COMPARE(deletedOn.size(), updaters.size());
        QCOMPARE(deletedOn.count(h.thread.data()), updaters.size());
    }

private:
    CComPtr<fake::Server> server;
    QUuid storageId;
};

QTEST_GUILESS_MAIN(TestStorage)
#include "tst_storageupdater.moc"
