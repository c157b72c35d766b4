// Drives and memory statistics: DrivesUpdater, Drive, DriveInfoUpdater, RewindStats(Updater).

#include "archivemetatypes.h"
#include "drive.h"
#include "driveinfoupdater.h"
#include "drivesupdater.h"
#include "fakerewindserver.h"
#include "objectdeleter.h"
#include "rewindstats.h"
#include "rewindstatsupdater.h"
#include "signalrecorder.h"
#include "workerharness.h"

#include <QSignalSpy>
#include <QtTest>

namespace {
// The drives updater as the service wires it: made here, ticked and reset on the worker.
struct DrivesRig
{
    explicit DrivesRig(WorkerHarness &h) : h(h), updater(new DrivesUpdater(nullptr, h.timer, h.thread))
    {
        QObject::connect(updater, &DrivesUpdater::drivesChanged, &receiver,
                         [this](QList<QSharedPointer<Drive>> list) {
                             drives = list;
                             ++emissions;
                         });
        QObject::connect(h.timer.data(), &QTimer::timeout, updater, &DrivesUpdater::updateDrives);
        h.adopt(updater);
    }
    ~DrivesRig()
    {
        drives.clear();
        deleteOnOwnThread(updater);
    }
    void reset(IRewindServer *server)
    {
        QMetaObject::invokeMethod(updater, "ResetRewind", Qt::BlockingQueuedConnection,
                                  Q_ARG(IRewindServer *, server));
        WorkerHarness::deliver();
    }
    QList<int> indexes() const
    {
        QList<int> out;
        for (const auto &d : drives)
            out << d->index();
        return out;
    }

    WorkerHarness &h;
    DrivesUpdater *updater;
    QObject receiver;
    QList<QSharedPointer<Drive>> drives;
    int emissions = 0;
};
} // namespace

class TestDrives : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        server.Attach(fake::Server::create().Detach());
        server->setDrive(0, {1000, 400, 600, "C:"});
        server->setDrive(2, {2000, 1500, 500, "E:"});
        server->setDrive(63, {1, 1, 0, "Last"});
    }
    void cleanup() { server.Release(); }

    void drivesAreAddedAndRemovedKeepingObjects()
    {
        WorkerHarness h;
        DrivesRig rig(h);
        QVERIFY(rig.updater->drives().isEmpty());
        server->setDriveMask(0b1);
        rig.reset(server);
        QCOMPARE(rig.emissions, 1);
        QCOMPARE(rig.indexes(), QList<int>{0});
        Drive *c = rig.drives[0].data();
        QCOMPARE(c->name(), QStringLiteral("C:"));
        QCOMPARE(c->size(), qlonglong(1000));
        QCOMPARE(c->freeSize(), qlonglong(400));
        QCOMPARE(c->usedSize(), qlonglong(600));
        QCOMPARE(c->thread(), QThread::currentThread());

        server->setDriveMask(0b101);
        h.tick();
        QCOMPARE(rig.emissions, 2);
        QCOMPARE(rig.indexes(), (QList<int>{0, 2}));
        QCOMPARE(rig.drives[0].data(), c);
        QCOMPARE(rig.drives[1]->name(), QStringLiteral("E:"));

        QPointer<Drive> gone = c;
        Drive *e = rig.drives[1].data();
        server->setDriveMask(0b100);
        h.tick();
        QCOMPARE(rig.emissions, 3);
        QCOMPARE(rig.indexes(), QList<int>{2});
        QCOMPARE(rig.drives[0].data(), e);
        QTRY_VERIFY(gone.isNull());
    }

    void bit63AndUnchangedMask()
    {
        WorkerHarness h;
        DrivesRig rig(h);
        server->setDriveMask((1ULL << 63) | 1ULL);
        rig.reset(server);
        QCOMPARE(rig.indexes(), (QList<int>{0, 63}));
        QCOMPARE(rig.drives[1]->name(), QStringLiteral("Last"));

        // Same mask, new figures: no new list, but the Drive follows.
        QSignalSpy free(rig.drives[0].data(), &Drive::freeSizeChanged);
        QSignalSpy names(rig.drives[0].data(), &Drive::nameChanged);
        server->setDrive(0, {1000, 300, 700, "C:"});
        h.tick();
        QCOMPARE(rig.emissions, 1);
        QCOMPARE(free.count(), 1);
        QCOMPARE(names.count(), 0);
        QCOMPARE(rig.drives[0]->freeSize(), qlonglong(300));
        QCOMPARE(rig.drives[0]->usedSize(), qlonglong(700));
    }

    void failingMaskKeepsTheList()
    {
        WorkerHarness h;
        DrivesRig rig(h);
        server->setDriveMask(0b101);
        rig.reset(server);
        const auto before = rig.drives;
        server->fail(fake::Op::DriveMask, E_FAIL);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("Failed to update drives info: Error"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("Failed to update drives info: Error"));
        h.tick();
        h.tick();
        QCOMPARE(rig.emissions, 1);
        QCOMPARE(rig.updater->drives(), before);
        // Recovery with the same mask: still the same objects, nothing emitted.
        server->clearFailures();
        h.tick();
        QCOMPARE(rig.emissions, 1);
    }

    void nullServerEmptiesTheListOnce()
    {
        WorkerHarness h;
        DrivesRig rig(h);
        server->setDriveMask(0b1);
        rig.reset(server);
        QCOMPARE(rig.drives.size(), 1);
        rig.reset(nullptr);
        QCOMPARE(rig.emissions, 2);
        QVERIFY(rig.drives.isEmpty());
        rig.reset(nullptr);
        h.tick();
        QCOMPARE(rig.emissions, 2);
        // A new binding with the old mask builds the list again.
        rig.reset(server);
        QCOMPARE(rig.emissions, 3);
        QCOMPARE(rig.drives.size(), 1);
    }

    void driveInfoEdges()
    {
        server->setDrive(5, {10, 5, 5, QString()});
        DriveInfoUpdater unnamed(server, 5);
        QCOMPARE(unnamed.name(), QString());
        QCOMPARE(unnamed.size(), qlonglong(10));

        DriveInfoUpdater info(server, 0);
        QSignalSpy sizes(&info, &DriveInfoUpdater::sizeChanged);
        server->fail(fake::Op::DriveInfo, E_FAIL);
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression("Failed to update drive info: Error"));
        info.updateInfo();
        QCOMPARE(info.size(), qlonglong(1000));
        QCOMPARE(sizes.count(), 0);

        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression("Failed to update drive info: Null pointer"));
        DriveInfoUpdater unbound(nullptr, 0);
        QCOMPARE(unbound.size(), qlonglong(0));
    }

    void memoryStatsEmitOnlyChanges()
    {
        WorkerHarness h;
        CRewindMemoryStatus status{};
        status.totalPhysMemory = 16;
        status.availPhysMemory = 8;
        server->setMemoryStatus(status);

        auto *updater = new RewindStatsUpdater(nullptr);
        QCOMPARE(updater->stats().totalPhysMemory, qulonglong(0));
        RewindStats stats;
        stats.update(updater->stats());
        QCOMPARE(stats.totalPhysMemory(), qulonglong(0));
        connect(updater, &RewindStatsUpdater::statsUpdated, &stats, &RewindStats::update);
        connect(h.timer.data(), &QTimer::timeout, updater, &RewindStatsUpdater::updateMemoryStatus);
        QSignalSpy updates(updater, &RewindStatsUpdater::statsUpdated);
        SignalRecorder recorder(&stats);
        h.adopt(updater);

        QMetaObject::invokeMethod(updater, "ResetRewind", Qt::BlockingQueuedConnection,
                                  Q_ARG(IRewindServer *, server.p));
        WorkerHarness::deliver();
        QCOMPARE(updates.count(), 1);
        QCOMPARE(recorder.names, (QStringList{"totalPhysMemoryChanged", "availPhysMemoryChanged"}));

        h.tick();
        QCOMPARE(updates.count(), 1);

        recorder.names.clear();
        status.availProcessAddressSpace = 77;
        server->setMemoryStatus(status);
        h.tick();
        QCOMPARE(updates.count(), 2);
        QCOMPARE(recorder.names, QStringList{"availProcessAddressSpaceChanged"});
        QCOMPARE(stats.availProcessAddressSpace(), qulonglong(77));

        // Unbound: the record keeps its last values.
        QMetaObject::invokeMethod(updater, "ResetRewind", Qt::BlockingQueuedConnection,
                                  Q_ARG(IRewindServer *, nullptr));
        h.tick();
        QCOMPARE(updates.count(), 2);
        QCOMPARE(stats.availProcessAddressSpace(), qulonglong(77));
        deleteOnOwnThread(updater);
    }

private:
    CComPtr<fake::Server> server;
};

QTEST_GUILESS_MAIN(TestDrives)
#include "tst_drivesupdater.moc"
