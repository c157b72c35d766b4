// JudgeDesk's binding of its cameras to the archive when archive calls fail.

#include "cameraarchive.h"

#include "archive/archivefaults.h"
#include "archive/archiveserver.h"
#include "com/com.h"

#include <QSignalSpy>
#include <QtTest>

#include "testenvironment.h"

namespace faults = nyx::archive::faults;

namespace {
QVector<DeskCamera> twoCameras()
{
    DeskCamera named;
    named.name = QStringLiteral("Main");
    named.streamName = QStringLiteral("Camera 1");
    DeskCamera byId;
    byId.name = QStringLiteral("Old");
    byId.streamId = QUuid(QStringLiteral("{0A1B2C3D-0000-4000-8000-000000000001}"));
    return {named, byId};
}
} // namespace

class tst_CameraArchive : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        faults::clear();
        qputenv(nyx::archive::kRootVariable,
                tundra::test::freshDir(QStringLiteral("cameras_%1").arg(QTest::currentTestFunction()))
                    .toLocal8Bit());
        qputenv(nyx::archive::kStartupVariable, "0");
    }
    void cleanup() { faults::clear(); }

    void aFailedCreationFallsBackAndTheNextOpenRetries()
    {
        CameraArchive archive(QStringLiteral("Station"), twoCameras());
        QSignalSpy settled(&archive, &CameraArchive::settled);
        faults::fail(faults::Operation::CreateStream, E_FAIL, 1);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("creating the stream 'Camera 1'.*0x80004005"));
        archive.open();
        QCOMPARE(settled.count(), 1);
        QVERIFY(!archive.isOpen() && !archive.isOpening());
        QVector<CameraTimes> cameras;
        QVERIFY(!archive.readCameras(&cameras));
        QCOMPARE(cameras.size(), 2);
        QVERIFY(!cameras[0].fromArchive && !cameras[1].fromArchive);
        QVERIFY(cameras[0].id.isNull()); // never learnt
        QCOMPARE(cameras[1].id, QUuid(QStringLiteral("{0A1B2C3D-0000-4000-8000-000000000001}")));

        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("not in the archive"));
        archive.open();
        QCOMPARE(settled.count(), 2);
        QVERIFY(archive.isOpen());
        QVERIFY(archive.readCameras(&cameras));
        QVERIFY(!cameras[0].id.isNull());
        QVERIFY(cameras[0].fromArchive);
        QCOMPARE(cameras[0].begin, 0ULL);
        QCOMPARE(cameras[0].end, 0ULL);
        QVERIFY(!cameras[1].fromArchive);
    }

    void aFailingReadKeepsTheKnownIdsAndClosesTheBinding()
    {
        CameraArchive archive(QStringLiteral("Station"), twoCameras());
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("not in the archive"));
        archive.open();
        QVERIFY(archive.isOpen());
        QVector<CameraTimes> cameras;
        QVERIFY(archive.readCameras(&cameras));
        const QUuid id = cameras[0].id;
        QVERIFY(!id.isNull());

        faults::fail(faults::Operation::GetStreamInfo, HRESULT_FROM_WIN32(30), 1);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("reading the stream .* failed"));
        QVERIFY(!archive.readCameras(&cameras));
        QCOMPARE(cameras[0].id, id);
        QVERIFY(!archive.isOpen());

        // Bound again, the same stream, not a second one.
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("not in the archive"));
        archive.open();
        QVERIFY(archive.readCameras(&cameras));
        QCOMPARE(cameras[0].id, id);
        CComPtr<IRewindServer> server;
        QCOMPARE(server.CoCreateInstance(CLSID_RewindServer), S_OK);
        ArchiveStreamInfo info{};
        QCOMPARE(server->GetStreamInfo(nyx::com::fromQUuid(id), &info), S_OK);
        DWORD count = 0;
        QCOMPARE(server->GetStreamCount(info.storageId, &count), S_OK);
        QCOMPARE(count, DWORD(1));
    }

    void aServerThatStaysBusyIsWaitedForOnTheEventLoop()
    {
        qputenv(nyx::archive::kStartupVariable, "300");
        CameraArchive archive(QStringLiteral("Station"), twoCameras());
        QSignalSpy settled(&archive, &CameraArchive::settled);
        archive.open();
        QVERIFY(archive.isOpening()); // open() came back at once
        QVector<CameraTimes> cameras;
        QVERIFY(!archive.readCameras(&cameras));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("not in the archive"));
        QVERIFY(settled.wait(5000));
        QVERIFY(archive.isOpen());
        QVERIFY(archive.readCameras(&cameras));
        QVERIFY(!cameras[0].id.isNull());
    }
};

QTEST_GUILESS_MAIN(tst_CameraArchive)
#include "tst_cameraarchive.moc"
