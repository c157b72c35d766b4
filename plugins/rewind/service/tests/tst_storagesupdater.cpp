// StoragesUpdater: the storage list, creation and deletion, hand-over of the server, and the
// whole model torn down while the worker ticks.

#include "drivesupdater.h"
#include "fakerewindserver.h"
#include "objectdeleter.h"
#include "range.h"
#include "rewindstatsupdater.h"
#include "storage.h"
#include "storagesupdater.h"
#include "storageupdater.h"
#include "stream.h"
#include "workerharness.h"

#include "win32/debugoutput.h"

#include <QElapsedTimer>
#include <QMutex>
#include <QRandomGenerator>
#include <QtTest>
#include <cstring>

namespace {
template <class T> T readAt(const QByteArray &bytes, int offset)
{
    T value;
    std::memcpy(&value, bytes.constData() + offset, sizeof value);
    return value;
}

// The storages updater as the service wires it, with the service's revision rule on this side.
struct StoragesRig
{
    explicit StoragesRig(WorkerHarness &h) : updater(new StoragesUpdater(nullptr, h.timer, h.thread))
    {
        taken.storages = updater->storages();
        QObject::connect(updater, &StoragesUpdater::storagesChanged, &receiver, [this](StorageList list) {
            ++emissions;
            revisions << list.revision;
            take(list);
        });
        QObject::connect(h.timer.data(), &QTimer::timeout, updater, &StoragesUpdater::updateStorages);
        h.adopt(updater);
    }
    ~StoragesRig()
    {
        taken = StorageList();
        deleteOnOwnThread(updater);
    }
    bool take(const StorageList &list)
    {
        if (list.revision <= taken.revision)
            return false;
        taken = list;
        ++takes;
        return true;
    }
    void reset(IRewindServer *server)
    {
        QMetaObject::invokeMethod(updater, "ResetRewind", Qt::BlockingQueuedConnection,
                                  Q_ARG(IRewindServer *, server));
        WorkerHarness::deliver();
    }
    CreateStorageResult create(const QString &name, int drive, qlonglong size)
    {
        CreateStorageResult result;
        QMetaObject::invokeMethod(updater, "createStorage", Qt::BlockingQueuedConnection,
                                  Q_RETURN_ARG(CreateStorageResult, result), Q_ARG(QString, name),
                                  Q_ARG(int, drive), Q_ARG(qlonglong, size));
        return result;
    }
    DeleteStorageResult remove(const QUuid &id)
    {
        DeleteStorageResult result;
        QMetaObject::invokeMethod(updater, "deleteStorage", Qt::BlockingQueuedConnection,
                                  Q_RETURN_ARG(DeleteStorageResult, result), Q_ARG(QUuid, id));
        return result;
    }
    QList<QUuid> ids() const
    {
        QList<QUuid> out;
        for (const auto &s : taken.storages)
            out << s->guid();
        return out;
    }

    StoragesUpdater *updater;
    QObject receiver;
    StorageList taken;
    QList<qint64> revisions;
    int emissions = 0;
    int takes = 0;
};

class DebugCapture
{
public:
    DebugCapture()
    {
        nyx::win32::setDebugOutputSink([this](const std::string &text) {
            QMutexLocker lock(&mutex);
            texts << QString::fromStdString(text);
        });
    }
    ~DebugCapture() { nyx::win32::setDebugOutputSink({}); }
    QStringList all()
    {
        QMutexLocker lock(&mutex);
        return texts;
    }

private:
    QMutex mutex;
    QStringList texts;
};
} // namespace

class TestStoragesUpdater : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        server.Attach(fake::Server::create().Detach());
        server->setDriveMask(0b1);
    }
    void cleanup() { server.Release(); }

    void emptyArchiveStillDeliversAListAfterEveryReset()
    {
        WorkerHarness h;
        StoragesRig rig(h);
        QCOMPARE(rig.updater->revision(), qint64(1));
        // The service starts over at revision 0 after a close and waits for a list.
        rig.taken.revision = 0;
        rig.reset(server);
        QCOMPARE(rig.emissions, 1);
        QCOMPARE(rig.takes, 1);
        QVERIFY(rig.taken.storages.isEmpty());
        h.tick();
        QCOMPARE(rig.emissions, 1);
        rig.taken.revision = 0;
        rig.reset(nullptr);
        QCOMPARE(rig.emissions, 2);
        QCOMPARE(rig.takes, 2);
        QVERIFY(rig.revisions[1] > rig.revisions[0]);
    }

    void identityAndRevisions()
    {
        WorkerHarness h;
        DebugCapture debug;
        StoragesRig rig(h);
        const QUuid a = server->addStorage("A");
        const QUuid b = server->addStorage("B");
        server->setStoragePart(a, 0, {150, "C:"});
        server->addStream(a, "Cam1");
        rig.reset(server);
        QCOMPARE(rig.ids(), (QList<QUuid>{a, b}));
        QCOMPARE(rig.taken.storages[0]->name(), QStringLiteral("A"));
        QCOMPARE(static_cast<QObject *>(rig.taken.storages[0].data())->thread(), QThread::currentThread());
        const QList<QSharedPointer<Storage>> first = rig.taken.storages;
        const qint64 revision = rig.taken.revision;

        // The listing comes from the worker's own figures.
        const QString listing = debug.all().filter("New Storage List").join(QString());
        QVERIFY(listing.contains(
            QStringLiteral("Storage[%1]='A', size=150.").arg(a.toString(QUuid::WithBraces))));
        QVERIFY(listing.contains("Stream["));
        QVERIFY(listing.contains("]='Cam1'"));
        QVERIFY(listing.endsWith("END.\n"));

        // Same identifiers, even renamed: nothing.
        server->renameStorage(a, "A2");
        h.tick();
        QCOMPARE(rig.emissions, 1);

        // Additions keep the existing objects and the server's order.
        const QUuid c = server->addStorage("C");
        h.tick();
        QCOMPARE(rig.emissions, 2);
        QCOMPARE(rig.taken.revision, revision + 1);
        QCOMPARE(rig.ids(), (QList<QUuid>{a, b, c}));
        QCOMPARE(rig.taken.storages[0], first[0]);
        QCOMPARE(rig.taken.storages[1], first[1]);
        QCOMPARE(rig.taken.storages[0]->name(), QStringLiteral("A"));

        server->removeStorage(b);
        h.tick();
        QCOMPARE(rig.ids(), (QList<QUuid>{a, c}));
        QCOMPARE(rig.taken.revision, revision + 2);

        // Close, then a new server: the first list is above every earlier revision.
        rig.reset(nullptr);
        QVERIFY(rig.taken.storages.isEmpty());
        QVERIFY(debug.all().join(QString()).contains("Reset all storages because of disconnect"));
        auto other = fake::Server::create();
        other->addStorage("Z");
        rig.taken.revision = 0;
        rig.reset(other);
        QCOMPARE(rig.taken.storages.size(), 1);
        QVERIFY(rig.taken.revision > revision + 3);
        for (int i = 1; i < rig.revisions.size(); ++i)
            QVERIFY(rig.revisions[i] > rig.revisions[i - 1]);
        rig.reset(nullptr);
    }

    void shortAndBrokenListsMakeNoPhantoms()
    {
        WorkerHarness h;
        StoragesRig rig(h);
        server->addStorage("A");
        server->addStorage("B");
        server->addStorage(QString(256, QChar('w')));
        server->setShortLists(2);
        rig.reset(server);
        QCOMPARE(rig.taken.storages.size(), 2);
        for (const auto &s : rig.taken.storages)
            QVERIFY(!s->guid().isNull());

        server->setShortLists(-1);
        server->setCountOverride(0xFFFFFFFFLL);
        QTest::ignoreMessage(QtCriticalMsg,
                             QRegularExpression("Failed to update storages info: Storage count"));
        h.tick();
        QCOMPARE(rig.taken.storages.size(), 2);
        QCOMPARE(server->calls(fake::Op::Storages), 1);

        server->setCountOverride(-1);
        h.tick();
        QCOMPARE(rig.taken.storages.size(), 3);
        QCOMPARE(rig.taken.storages[2]->name(), QString(256, QChar('w')));
    }

    void failingReadsKeepTheList()
    {
        WorkerHarness h;
        StoragesRig rig(h);
        server->addStorage("A");
        rig.reset(server);
        server->addStorage("B");
        server->fail(fake::Op::Storages, E_FAIL);
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression("Failed to update storages info: Error"));
        h.tick();
        QCOMPARE(rig.taken.storages.size(), 1);
        server->clearFailures();
        h.tick();
        QCOMPARE(rig.taken.storages.size(), 2);
    }

    void createStorageWritesTheBlock()
    {
        WorkerHarness h;
        fake::AttributeStoreRegistration store;
        StoragesRig rig(h);
        rig.reset(server);
        const qint64 revision = rig.taken.revision;

        const QString name(255, QChar('s'));
        const CreateStorageResult result = rig.create(name, 3, 5LL << 30);
        QVERIFY(result.second);
        QCOMPARE(result.second->name(), name);
        QCOMPARE(result.first.revision, revision + 1);
        QCOMPARE(result.first.storages.size(), 1);
        // Taken once, directly; the queued copy of the same revision is ignored.
        QVERIFY(rig.take(result.first));
        h.flush();
        QCOMPARE(rig.emissions, 2);
        QCOMPARE(rig.takes, 2);

        const QByteArray block = server->lastCreateStorageBlock();
        QCOMPARE(block.size(), 11796);
        QCOMPARE(block.left(16), QByteArray(16, '\0'));
        QCOMPARE(QString::fromUtf16(reinterpret_cast<const char16_t *>(block.constData() + 16), 255), name);
        QCOMPARE(readAt<char16_t>(block, 16 + 510), char16_t(0));
        QCOMPARE(readAt<quint32>(block, 528), quint32(1));
        QCOMPARE(readAt<quint32>(block, 532), quint32(3));
        QCOMPARE(block.mid(536, 16), QByteArray(16, '\0'));
        QCOMPARE(readAt<qint64>(block, 552), qint64(5LL << 30));
        QCOMPARE(block.mid(560, 7140), QByteArray(7140, '\0'));
        QCOMPARE(block.mid(7700, int(sizeof fake::kAttributeMark)),
                 QByteArray(fake::kAttributeMark, int(sizeof fake::kAttributeMark)));

        // Known now: the next read changes nothing.
        h.tick();
        QCOMPARE(rig.emissions, 2);

        QTest::ignoreMessage(QtCriticalMsg,
                             QRegularExpression("Rewind failed to create storage: Name is too long"));
        CreateStorageResult refused = rig.create(QString(256, QChar('s')), 0, 1);
        QVERIFY(!refused.second);
        QCOMPARE(refused.first.revision, revision + 1);

        store.failBind = true;
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression("Rewind failed to create storage: Error"));
        refused = rig.create("B", 0, 1);
        QVERIFY(!refused.second);
        QCOMPARE(server->calls(fake::Op::CreateStorage), 1);

        // Without a server: refused, nothing changes.
        rig.reset(nullptr);
        const qint64 closed = rig.updater->revision();
        QTest::ignoreMessage(QtCriticalMsg,
                             QRegularExpression("Rewind failed to create storage: Null pointer"));
        refused = rig.create("C", 0, 1);
        QVERIFY(!refused.second);
        QCOMPARE(refused.first.revision, closed);
    }

    void deleteAsksTheServerFirst_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<HRESULT>("failure");
        QTest::addColumn<bool>("deleted");
        QTest::newRow("accepted") << "A" << S_OK << true;
        QTest::newRow("being recorded") << "A" << HRESULT_FROM_WIN32(32) << false;
        QTest::newRow("unknown id") << "unknown" << S_OK << false;
    }
    void deleteAsksTheServerFirst()
    {
        QFETCH(QString, target);
        QFETCH(HRESULT, failure);
        QFETCH(bool, deleted);
        WorkerHarness h;
        StoragesRig rig(h);
        const QUuid a = server->addStorage("A");
        const QUuid b = server->addStorage("B");
        rig.reset(server);
        QPointer<Storage> oldA = rig.taken.storages[0].data();
        const qint64 revision = rig.taken.revision;
        const QUuid id = target == QLatin1String("A") ? a : QUuid::createUuid();
        if (FAILED(failure))
            server->fail(fake::Op::DeleteStorage, failure);
        if (!deleted)
            QTest::ignoreMessage(QtWarningMsg,
                                 QRegularExpression(QStringLiteral("failed to delete storage")));

        const DeleteStorageResult result = rig.remove(id);
        QCOMPARE(result.first, deleted);
        QCOMPARE(server->deletedStorages(), QList<QUuid>{id});
        const QList<QUuid> left = deleted ? QList<QUuid>{b} : QList<QUuid>{a, b};
        QCOMPARE(result.second.revision, deleted ? revision + 1 : revision);
        QCOMPARE(result.second.storages.size(), left.size());
        h.flush();
        QCOMPARE(rig.ids(), left);
        // A refused storage is the same object, and the next ticks keep it.
        server->clearFailures();
        h.tick();
        QCOMPARE(rig.ids(), left);
        if (deleted)
            QTRY_VERIFY(oldA.isNull());
        else
            QCOMPARE(rig.taken.storages[0].data(), oldA.data());
    }

    void oneTickRunsTheUpdatersInServiceOrder()
    {
        WorkerHarness h;
        // Wired in the service's order: statistics, storages, drives; per-object updaters after.
        auto *stats = new RewindStatsUpdater(nullptr);
        connect(h.timer.data(), &QTimer::timeout, stats, &RewindStatsUpdater::updateMemoryStatus);
        h.adopt(stats);
        StoragesRig rig(h);
        auto *drives = new DrivesUpdater(nullptr, h.timer, h.thread);
        connect(h.timer.data(), &QTimer::timeout, drives, &DrivesUpdater::updateDrives);
        h.adopt(drives);

        const QUuid storage = server->addStorage("A");
        server->addStream(storage, "Cam1");
        for (QObject *o : {static_cast<QObject *>(stats), static_cast<QObject *>(rig.updater),
                           static_cast<QObject *>(drives)})
            QMetaObject::invokeMethod(o, "ResetRewind", Qt::BlockingQueuedConnection,
                                      Q_ARG(IRewindServer *, server.p));
        WorkerHarness::deliver();
        QCOMPARE(rig.taken.storages.size(), 1);

        server->resetCalls();
        h.tick();
        using fake::Op;
        // The list updaters first; then the per-object updaters in the order they were made: the
        // storage's streams (video, audio) come to life inside the storage's first update, before
        // the storage's own updater is connected, and the drive after the storages.
        const QList<Op> expected{Op::MemoryStatus, Op::StorageCount, Op::Storages,     Op::DriveMask,
                                 Op::StreamInfo,   Op::StreamInfo,   Op::DriveMask,    Op::StoragePart,
                                 Op::StreamCount,  Op::Streams,      Op::StorageStats, Op::DriveInfo};
        QList<int> actual;
        for (Op op : server->callLog())
            actual << int(op);
        QList<int> wanted;
        for (Op op : expected)
            wanted << int(op);
        QCOMPARE(actual, wanted);
        deleteOnOwnThread(stats);
        deleteOnOwnThread(drives);
    }

    void modelSurvivesTeardownWhileTheWorkerTicks()
    {
        WorkerHarness h;
        StoragesRig rig(h);
        QList<QUuid> storages;
        for (int i = 0; i < 3; ++i) {
            storages << server->addStorage(QStringLiteral("S%1").arg(i));
            for (int j = 0; j < 3; ++j)
                server->addStream(storages.last(), QStringLiteral("Cam%1").arg(j));
        }
        rig.reset(server);
        h.start(1);

        QRandomGenerator random(7);
        QList<QSharedPointer<Range>> ranges;
        QElapsedTimer clock;
        clock.start();
        int rounds = 0;
        while (clock.elapsed() < 1500) {
            ++rounds;
            const int action = random.bounded(6);
            if (action == 0) {
                const QUuid id = server->addStorage("N");
                server->addStream(id, "X");
                storages << id;
            } else if (action == 1 && !storages.isEmpty()) {
                server->removeStorage(storages.takeAt(random.bounded(storages.size())));
            } else if (action == 2 && !storages.isEmpty()) {
                server->addStream(storages[random.bounded(storages.size())], "Y");
            } else if (action == 3) {
                // Ranges on whatever streams the GUI side holds now, measured on the worker.
                for (const auto &storage : rig.taken.storages) {
                    for (const auto &stream : storage->streamList()) {
                        auto range = QSharedPointer<Range>::create();
                        range->setStream(stream.data());
                        ranges << range;
                    }
                }
            } else if (action == 4) {
                ranges.clear();
                // Drop the GUI side's hold on every storage and stream at once.
                rig.taken.storages.clear();
            } else {
                rig.reset(random.bounded(2) ? static_cast<IRewindServer *>(server.p) : nullptr);
                rig.taken.revision = 0;
            }
            QTest::qWait(random.bounded(5));
        }
        QVERIFY(rounds > 50);
        rig.reset(server);
        ranges.clear();
        rig.taken = StorageList();
        h.shutDown();
    }

private:
    CComPtr<fake::Server> server;
};

QTEST_GUILESS_MAIN(TestStoragesUpdater)
#include "tst_storagesupdater.moc"
