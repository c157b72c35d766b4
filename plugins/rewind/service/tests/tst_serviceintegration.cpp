// The model against the real archive server on a temporary root: storages, streams written by
// the server's writer, sequences, ranges, drives and statistics, all polled on the worker thread.

#include "archivechannel.h"
#include "archivetime.h"
#include "drive.h"
#include "drivesupdater.h"
#include "objectdeleter.h"
#include "range.h"
#include "rewindstats.h"
#include "rewindstatsupdater.h"
#include "storage.h"
#include "storagestats.h"
#include "storagesupdater.h"
#include "storageupdater.h"
#include "stream.h"
#include "workerharness.h"

#include "archive/archiveserver.h"
#include "com/com.h"
#include "win32/filetime.h"

#include <QtTest>
#include <testenvironment.h>

namespace {
constexpr LONGLONG kSecond = 10000000;
constexpr LONGLONG kFrame = kSecond / 25;
constexpr int kWait = 15000;

// The three list updaters wired as the service wires them.
struct Service
{
    explicit Service(WorkerHarness &h)
        : stats(new RewindStatsUpdater(nullptr)), storages(new StoragesUpdater(nullptr, h.timer, h.thread)),
          drives(new DrivesUpdater(nullptr, h.timer, h.thread))
    {
        QObject::connect(stats, &RewindStatsUpdater::statsUpdated, &memory, &RewindStats::update);
        QObject::connect(h.timer.data(), &QTimer::timeout, stats, &RewindStatsUpdater::updateMemoryStatus);
        QObject::connect(storages, &StoragesUpdater::storagesChanged, &memory, [this](StorageList list) {
            if (list.revision > storageList.revision)
                storageList = list;
        });
        QObject::connect(h.timer.data(), &QTimer::timeout, storages, &StoragesUpdater::updateStorages);
        QObject::connect(drives, &DrivesUpdater::drivesChanged, &memory,
                         [this](QList<QSharedPointer<Drive>> list) { driveList = list; });
        QObject::connect(h.timer.data(), &QTimer::timeout, drives, &DrivesUpdater::updateDrives);
        for (QObject *o : {static_cast<QObject *>(stats), static_cast<QObject *>(storages),
                           static_cast<QObject *>(drives)})
            h.adopt(o);
    }
    ~Service()
    {
        storageList = StorageList();
        driveList.clear();
        deleteOnOwnThread(stats);
        deleteOnOwnThread(storages);
        deleteOnOwnThread(drives);
    }
    void reset(IRewindServer *server)
    {
        for (QObject *o : {static_cast<QObject *>(stats), static_cast<QObject *>(storages),
                           static_cast<QObject *>(drives)})
            QMetaObject::invokeMethod(o, "ResetRewind", Qt::BlockingQueuedConnection,
                                      Q_ARG(IRewindServer *, server));
    }
    Storage *storage(const QString &name) const
    {
        for (const auto &s : storageList.storages)
            if (s->name() == name)
                return s.data();
        return nullptr;
    }

    RewindStatsUpdater *stats;
    StoragesUpdater *storages;
    DrivesUpdater *drives;
    RewindStats memory;
    StorageList storageList;
    QList<QSharedPointer<Drive>> driveList;
};

int countByName(Storage *storage, const QString &name)
{
    int n = 0;
    for (const auto &s : storage->streamList())
        n += s->name() == name ? 1 : 0;
    return n;
}
} // namespace

class TestServiceIntegration : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        nyx::archive::registerArchiveServer();
        qputenv(nyx::archive::kRootVariable, tundra::test::freshDir("archive").toLocal8Bit());
        qputenv(nyx::archive::kStartupVariable, "0");
        QVERIFY(SUCCEEDED(server.CoCreateInstance(CLSID_RewindServer)));
        QVERIFY(server);
        QTRY_VERIFY_WITH_TIMEOUT(server->IsReady() == S_OK, kWait);
    }
    void cleanupTestCase() { server.Release(); }

    void recordedStreamAppearsAndFollowsTheRecording()
    {
        WorkerHarness h;
        Service service(h);
        service.reset(server);
        h.start(40);

        // Drives and memory figures from the server.
        QTRY_VERIFY_WITH_TIMEOUT(!service.driveList.isEmpty(), kWait);
        QCOMPARE(service.driveList[0]->index(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(service.driveList[0]->size() > 0, kWait);
        QVERIFY(!service.driveList[0]->name().isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(service.memory.totalPhysMemory() > 0, kWait);

        // A storage made through the updater, with the library's attribute store.
        CreateStorageResult created;
        QVERIFY(QMetaObject::invokeMethod(service.storages, "createStorage", Qt::BlockingQueuedConnection,
                                          Q_RETURN_ARG(CreateStorageResult, created), Q_ARG(QString, "Match"),
                                          Q_ARG(int, 0), Q_ARG(qlonglong, 1LL << 30)));
        QVERIFY(created.second);
        QTRY_VERIFY_WITH_TIMEOUT(service.storage("Match"), kWait);
        Storage *storage = service.storage("Match");
        QCOMPARE(storage, created.second.data());
        created = CreateStorageResult();

        // A stream made by another party (as the referee application does) appears as two objects.
        auto record = std::make_unique<ArchiveStreamRecord>();
        std::memset(record.get(), 0, sizeof *record);
        record->head.storageId = nyx::com::fromQUuid(storage->guid());
        const QString name = QStringLiteral("Cam1");
        std::memcpy(record->head.name, name.utf16(), size_t(name.size()) * 2);
        record->head.streamType = 3;
        CComPtr<IAttributeStore> store;
        QVERIFY(SUCCEEDED(store.CoCreateInstance(CLSID_AttributeStore)));
        QCOMPARE(store->Bind(record->attributes, 4096, TRUE), S_OK);
        CComPtr<IUnknown> createdStream;
        QCOMPARE(server->CreateStream(record.get(), &createdStream), S_OK);
        const QUuid streamId = nyx::com::toQUuid(record->head.streamId);
        QTRY_COMPARE_WITH_TIMEOUT(countByName(storage, name), 2, kWait);
        Stream *video = storage->getStreamByName(name);
        QVERIFY(video && !video->isAudio());
        QCOMPARE(video->guid(), streamId);
        QCOMPARE(storage->streamList().at(1)->guid(), streamId);
        QVERIFY(storage->streamList().at(1)->isAudio());
        QVERIFY(video->startTime().isNull());
        QCOMPARE(video->sequenceRanges().size(), 0);

        // Channels through the helper the media pipeline uses.
        CComPtr<IArchiveStream> stream;
        QCOMPARE(server->OpenStream(record->head.streamId, &stream), S_OK);
        DWORD channel = 0;
        QVERIFY(SUCCEEDED(findOrCreateChannel(stream, "Video_H264", false, &channel)));
        QVERIFY(channel > 0);
        DWORD again = 0;
        QCOMPARE(findOrCreateChannel(stream, "Video_H264", false, &again), S_OK);
        QCOMPARE(again, channel);
        QCOMPARE(findOrCreateChannel(stream, "Video_H264", true, &again), S_FALSE);

        // A range over the time to be recorded: nothing there yet.
        const LONGLONG base = LONGLONG(nyx::win32::systemTimeAsFileTime()) - 60 * kSecond;
        Range range;
        range.setFrom(fromWin32FileTime(quint64(base)));
        range.setTo(fromWin32FileTime(quint64(base + 10 * kSecond)));
        range.setStream(video);
        QTRY_COMPARE_WITH_TIMEOUT(range.size(), qlonglong(0), kWait);

        // Record one sequence of 25 frames.
        CComPtr<IArchiveWriter> writer;
        QCOMPARE(server->CreateWriter(record->head.streamId, &writer), S_OK);
        QCOMPARE(writer->Start(ULONGLONG(base)), S_OK);
        const QByteArray payload(2000, 'v');
        for (int i = 0; i < 25; ++i) {
            const LONGLONG t = base + i * kFrame;
            QCOMPARE(writer->BeginSample(t, t, 0), S_OK);
            QCOMPARE(writer->Data(int(channel), reinterpret_cast<const BYTE *>(payload.constData()),
                                  DWORD(payload.size())),
                     S_OK);
            QCOMPARE(writer->EndSample(), S_OK);
        }
        QTRY_COMPARE_WITH_TIMEOUT(video->sequenceRanges().size(), 1, kWait);
        QTRY_COMPARE_WITH_TIMEOUT(video->endTime(), fromWin32FileTime(quint64(base + 24 * kFrame)), kWait);
        QCOMPARE(video->startTime(), fromWin32FileTime(quint64(base)));
        QTRY_VERIFY_WITH_TIMEOUT(range.size() > 0, kWait);
        const qlonglong firstSize = range.size();

        // The sequence's range follows the recording; it has no stream, so no size.
        QTRY_COMPARE_WITH_TIMEOUT(video->sequenceRanges().at(0)->to(),
                                  fromWin32FileTime(quint64(base + 24 * kFrame)), kWait);
        QCOMPARE(video->sequenceRanges().at(0)->from(), fromWin32FileTime(quint64(base)));
        QCOMPARE(video->sequenceRanges().at(0)->size(), qlonglong(-1));

        // A second sequence after a stop; the range grows with the frames inside it.
        QCOMPARE(writer->Stop(), S_OK);
        const LONGLONG second = base + 5 * kSecond;
        QCOMPARE(writer->Start(ULONGLONG(second)), S_OK);
        for (int i = 0; i < 10; ++i) {
            const LONGLONG t = second + i * kFrame;
            QCOMPARE(writer->BeginSample(t, t, 0), S_OK);
            QCOMPARE(writer->Data(int(channel), reinterpret_cast<const BYTE *>(payload.constData()),
                                  DWORD(payload.size())),
                     S_OK);
            QCOMPARE(writer->EndSample(), S_OK);
        }
        QCOMPARE(writer->Stop(), S_OK);
        QTRY_COMPARE_WITH_TIMEOUT(video->sequenceRanges().size(), 2, kWait);
        QTRY_VERIFY_WITH_TIMEOUT(range.size() > firstSize, kWait);
        // A range before any data stays empty.
        Range before;
        before.setTo(fromWin32FileTime(quint64(base - kSecond)));
        before.setStream(video);
        QTRY_COMPARE_WITH_TIMEOUT(before.size(), qlonglong(0), kWait);

        // The storage's statistics and size follow.
        QTRY_VERIFY_WITH_TIMEOUT(storage->stats()->totalFramesWritten() >= 35, kWait);
        QTRY_VERIFY_WITH_TIMEOUT(storage->dataSizeOnDisk() > 0, kWait);

        // A stream made through the storage's updater: its video object only.
        CreateStreamResult made;
        QVERIFY(QMetaObject::invokeMethod(storage->updater().data(), "createStream",
                                          Qt::BlockingQueuedConnection,
                                          Q_RETURN_ARG(CreateStreamResult, made), Q_ARG(QString, "Cam2")));
        QVERIFY(made.second);
        QTRY_COMPARE_WITH_TIMEOUT(countByName(storage, "Cam2"), 1, kWait);
        made = CreateStreamResult();

        // Deleting the storage through the updater takes it out at once.
        writer.Release();
        stream.Release();
        createdStream.Release();
        const QUuid storageId = storage->guid();
        range.setStream(nullptr);
        before.setStream(nullptr);
        DeleteStorageResult left;
        QVERIFY(QMetaObject::invokeMethod(service.storages, "deleteStorage", Qt::BlockingQueuedConnection,
                                          Q_RETURN_ARG(DeleteStorageResult, left), Q_ARG(QUuid, storageId)));
        QVERIFY(left.first);
        QVERIFY(left.second.storages.isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(!service.storage("Match"), kWait);
        DWORD count = 99;
        QCOMPARE(server->GetStorageCount(&count), S_OK);
        QCOMPARE(count, DWORD(0));

        // Closing hands null to every updater: the lists empty.
        service.reset(nullptr);
        QTRY_VERIFY_WITH_TIMEOUT(service.storageList.storages.isEmpty() && service.driveList.isEmpty(),
                                 kWait);
        h.shutDown();
    }

private:
    CComPtr<IRewindServer> server;
};

QTEST_GUILESS_MAIN(TestServiceIntegration)
#include "tst_serviceintegration.moc"
