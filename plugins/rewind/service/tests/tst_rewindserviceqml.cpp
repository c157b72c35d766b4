// RewindService as QML sees it: the singleton of the built Rewind module in a real engine, its
// properties and notifications, the Status enumeration, and the invokables called from JavaScript.
// The module brings its own copy of the service; the test reaches it only through QML and the
// meta-object system.

#include "servicefixture.h"

#include <QPointer>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QtTest>
#include <memory>
#include <testenvironment.h>

using namespace svc;

namespace {
const char kQml[] =
    "import QtQml 2.15\n"
    "import Rewind 1.0\n"
    "QtObject {\n"
    "  property QtObject service: RewindService\n"
    "  property int status: RewindService.status\n"
    "  property bool enumValues: RewindService.Reading === 0 && RewindService.Writing === 1"
    " && RewindService.Closing === 2\n"
    "  property int storageCount: RewindService.storages.length\n"
    "  property int driveCount: RewindService.drives.length\n"
    "  property string firstStorage: RewindService.storages.length > 0 ?"
    " RewindService.storages[0].name : ''\n"
    "  property var version: RewindService.version\n"
    "  property var startTime: RewindService.startTime\n"
    "  property real diskSize: RewindService.diskSize\n"
    "  property real duration: RewindService.duration\n"
    "  property int typeCount: RewindService.eventTypes.length\n"
    "  property int eventCount: RewindService.eventList.length\n"
    "  property bool hasStats: RewindService.memoryStats !== null\n"
    "  property int archiveSignals: 0\n"
    "  property Connections watcher: Connections {\n"
    "    target: RewindService\n"
    "    function onArchiveChanged() { archiveSignals++ }\n"
    "  }\n"
    "  function createAndDelete() {\n"
    "    var s = RewindService.createStorage('FromQml', RewindService.drives[0], 4096)\n"
    "    if (!s) return 'null'\n"
    "    return s.name + ':' + RewindService.deleteStorage(s) + ':' + RewindService.deleteStorage(null)\n"
    "  }\n"
    "  function lookup() {\n"
    "    var st = RewindService.getStreamByName('kx:///KX788 Board 1 Input 1')\n"
    "    return st ? st.name : ''\n"
    "  }\n"
    "  function archives() { return RewindService.getArchiveCollection().archives.length }\n"
    "  function firstType() { var t = RewindService.getAvailableTypes()[0]; return t.name + ' ' + t.color }\n"
    "  function videos() { return RewindService.getAvailableVideos().map(function(v) { return v.name "
    "}).join(',') }\n"
    "  function audios() { return RewindService.getAvailableAudios()[0].source.toString() }\n"
    "  function writeStatus() { RewindService.status = RewindService.Writing }\n"
    "  function addEvent() { RewindService.setEvent({type: 'Goal', comment: 'from qml', time: 2500}) }\n"
    "}\n";

QString pluginDir()
{
    return tundra::test::binDir() + QStringLiteral("/plugins");
}

QObject *serviceOf(QObject *face)
{
    return face->property("service").value<QObject *>();
}

QObject *streamByGuid(QObject *service, const QUuid &id)
{
    QObject *stream = nullptr;
    QMetaObject::invokeMethod(service, "getStreamByGuid", QReturnArgument<QObject *>("Stream*", stream),
                              Q_ARG(QUuid, id));
    return stream;
}

// A QML engine that finds the built module.
struct Engine : QQmlEngine
{
    Engine() { addImportPath(pluginDir()); }
};
} // namespace

class TestRewindServiceQml : public QObject
{
    Q_OBJECT

    std::unique_ptr<FakeClock> m_clock;
    std::unique_ptr<DebugCapture> m_debug;
    std::unique_ptr<ScriptedReferee> m_referee;
    std::unique_ptr<ArchiveRegistration> m_archive;
    std::unique_ptr<fake::AttributeStoreRegistration> m_store;
    QUuid m_cam1;

private slots:
    void initTestCase()
    {
        // The module registers the real archive and message-queue servers as it loads; the
        // scripted ones each test registers later hide them.
        Engine engine;
        QQmlComponent component(&engine);
        component.setData("import QtQml 2.15\nimport Rewind 1.0\nQtObject {}\n",
                          QUrl(QStringLiteral("file:///load.qml")));
        std::unique_ptr<QObject> object(component.create());
        QVERIFY2(object, qPrintable(component.errorString()));
    }

    void init()
    {
        const QString data = tundra::test::freshDir(QString::fromLatin1(QTest::currentTestFunction()));
        qputenv("XDG_DATA_HOME", data.toLocal8Bit());
        m_clock = std::make_unique<FakeClock>();
        m_debug = std::make_unique<DebugCapture>();
        m_referee = std::make_unique<ScriptedReferee>();
        m_archive = std::make_unique<ArchiveRegistration>();
        m_store = std::make_unique<fake::AttributeStoreRegistration>();
        fake::Server &server = *m_archive->server.p;
        server.setDriveMask(1);
        server.setDrive(0, fake::DriveInfo{1000000, 600000, 400000, QStringLiteral("D0")});
        const QUuid station = server.addStorage(QStringLiteral("Station"));
        m_cam1 = server.addStream(station, QStringLiteral("Cam1"));
        CRewindStorageStats stats{};
        stats.dataSizeOnDisk = 4321;
        server.setStorageStats(station, stats);
        m_referee->setCameras({Camera{QStringLiteral("A"), m_cam1, kT0, kT0 + 8000 * kMs}});
        m_referee->setTypes({QStringLiteral("Goal"), QStringLiteral("Foul")});
        m_referee->setEvents({Event{QStringLiteral("Goal"), QStringLiteral("one"), kT0 + 1000 * kMs}});
    }
    void cleanup()
    {
        m_store.reset();
        m_archive.reset();
        m_referee.reset();
        m_debug.reset();
        m_clock.reset();
    }

    void propertiesAndInvokables()
    {
        m_referee->setSilent(true);
        Engine engine;
        QQmlComponent component(&engine);
        component.setData(kQml, QUrl(QStringLiteral("qrc:/face.qml")));
        std::unique_ptr<QObject> face(component.create());
        QVERIFY2(face, qPrintable(component.errorString()));
        QPointer<QObject> service = serviceOf(face.get());
        QVERIFY(service);

        QCOMPARE(face->property("status").toInt(), int(RewindService::Closing));
        QVERIFY(face->property("enumValues").toBool());
        QCOMPARE(face->property("version").toULongLong(), 1000ULL);
        QVERIFY(face->property("hasStats").toBool());
        QCOMPARE(face->property("storageCount").toInt(), 0);
        QCOMPARE(face->property("typeCount").toInt(), 4);
        QCOMPARE(face->property("eventCount").toInt(), 0);
        QCOMPARE(face->property("diskSize").toDouble(), 0.0);
        QCOMPARE(service->property("minimumStorageSize").toULongLong(), 0ULL);
        QVariant result;
        QVERIFY(QMetaObject::invokeMethod(face.get(), "archives", Q_RETURN_ARG(QVariant, result)));
        QCOMPARE(result.toInt(), 0);
        QVERIFY(QMetaObject::invokeMethod(face.get(), "firstType", Q_RETURN_ARG(QVariant, result)));
        QCOMPARE(result.toString(), QStringLiteral("Type 1 #000000"));
        QVERIFY(QMetaObject::invokeMethod(face.get(), "videos", Q_RETURN_ARG(QVariant, result)));
        QCOMPARE(result.toString(), QStringLiteral("KX788 Board 1 Input 1,KX788 Board 1 Input 2,"
                                                   "KX788 Board 1 Input 3,KX788 Board 1 Input 4"));
        QVERIFY(QMetaObject::invokeMethod(face.get(), "audios", Q_RETURN_ARG(QVariant, result)));
        QCOMPARE(result.toString(), QStringLiteral("kx:///KX322 Board 1 Stereo 1"));

        // The referee answers: the bindings follow the notifications.
        m_referee->setSilent(false);
        QTRY_COMPARE_WITH_TIMEOUT(face->property("status").toInt(), int(RewindService::Reading), kWait);
        QTRY_COMPARE_WITH_TIMEOUT(face->property("diskSize").toDouble(), 4321.0, kWait);
        QCOMPARE(face->property("storageCount").toInt(), 1);
        QCOMPARE(face->property("firstStorage").toString(), QStringLiteral("Station"));
        QCOMPARE(face->property("driveCount").toInt(), 1);
        QCOMPARE(face->property("startTime").toDateTime(), service->property("startTime").toDateTime());
        QVERIFY(service->property("startTime").toDateTime().isValid());
        QCOMPARE(face->property("duration").toDouble(), 8000.0);
        QTRY_COMPARE_WITH_TIMEOUT(face->property("typeCount").toInt(), 2, kWait);
        QTRY_COMPARE_WITH_TIMEOUT(face->property("eventCount").toInt(), 1, kWait);
        QTRY_VERIFY(face->property("archiveSignals").toInt() >= 1);
        QVERIFY(QMetaObject::invokeMethod(face.get(), "archives", Q_RETURN_ARG(QVariant, result)));
        QCOMPARE(result.toInt(), 1);
        QVERIFY(QMetaObject::invokeMethod(face.get(), "firstType", Q_RETURN_ARG(QVariant, result)));
        QCOMPARE(result.toString(), QStringLiteral("Goal #1f0000"));

        // Objects handed to QML stay the service's, through garbage collection too.
        QTRY_VERIFY_WITH_TIMEOUT(streamByGuid(service, m_cam1), kWait);
        QVERIFY(QMetaObject::invokeMethod(face.get(), "lookup", Q_RETURN_ARG(QVariant, result)));
        QCOMPARE(result.toString(), QStringLiteral("Cam1"));
        QPointer<QObject> stream = streamByGuid(service, m_cam1);
        engine.collectGarbage();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(stream);

        QTest::ignoreMessage(QtCriticalMsg, "Failed to delete 'null' storage");
        QVERIFY(QMetaObject::invokeMethod(face.get(), "createAndDelete", Q_RETURN_ARG(QVariant, result)));
        QCOMPARE(result.toString(), QStringLiteral("FromQml:true:false"));
        QCOMPARE(m_archive->server->deletedStorages().size(), 1);
        QCOMPARE(face->property("storageCount").toInt(), 1);

        QVERIFY(QMetaObject::invokeMethod(face.get(), "addEvent"));
        QTRY_VERIFY_WITH_TIMEOUT(!m_referee->requests(QStringLiteral("CreateEvent1_Goal")).isEmpty(), kWait);
        QVERIFY(
            m_referee->requests(QStringLiteral("CreateEvent1_Goal"))[0].endsWith(QStringLiteral("from qml")));

        // A status written from QML holds until the next poll corrects it.
        QSignalSpy status(service.data(), SIGNAL(statusChanged()));
        QVERIFY(QMetaObject::invokeMethod(face.get(), "writeStatus"));
        QCOMPARE(status.count(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(face->property("status").toInt(), int(RewindService::Reading), kWait);

        face.reset();
    }

    void theEngineOwnsTheSingleton()
    {
        QPointer<QObject> service;
        {
            Engine engine;
            QQmlComponent component(&engine);
            component.setData(kQml, QUrl(QStringLiteral("qrc:/face.qml")));
            std::unique_ptr<QObject> face(component.create());
            QVERIFY2(face, qPrintable(component.errorString()));
            QTRY_COMPARE_WITH_TIMEOUT(face->property("storageCount").toInt(), 1, kWait);
            service = serviceOf(face.get());
            QVERIFY(service);
        }
        QVERIFY(!service);
    }

    void twoEnginesTwoServices()
    {
        Engine first, second;
        QQmlComponent a(&first), b(&second);
        a.setData(kQml, QUrl(QStringLiteral("qrc:/face.qml")));
        b.setData(kQml, QUrl(QStringLiteral("qrc:/face.qml")));
        std::unique_ptr<QObject> fa(a.create());
        std::unique_ptr<QObject> fb(b.create());
        QVERIFY(fa && fb);
        QVERIFY(serviceOf(fa.get()) && serviceOf(fb.get()) && serviceOf(fa.get()) != serviceOf(fb.get()));
        // Each service binds through its own link.
        QTRY_COMPARE_WITH_TIMEOUT(fa->property("diskSize").toDouble(), 4321.0, kWait);
        QTRY_COMPARE_WITH_TIMEOUT(fb->property("diskSize").toDouble(), 4321.0, kWait);
    }
};

QTEST_MAIN(TestRewindServiceQml)
#include "tst_rewindserviceqml.moc"
