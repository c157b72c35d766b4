// JudgeDesk's answers and its test faults, through its TCP end, with its cameras in a real archive.

#include "archive/archiveserver.h"
#include "com/com.h"
#include "referee/messagewire.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QtEndian>
#include <QtTest>

#include "testenvironment.h"

#include <cstring>
#include <memory>
#include <vector>

namespace wire = nyx::referee::wire;

namespace {
// One running JudgeDesk and a connection to it.
struct Desk
{
    QProcess process;
    QTcpSocket socket;
    QByteArray buffer;
    qint32 number = 0;
    // What start passes for the address; the desk's own default when empty.
    QStringList listen{"--listen", "127.0.0.1"};
    // From the banner.
    quint16 port = 0;
    QString address;

    // The archive root is <dir>/archive unless env names another; the server is ready at once
    // unless env says otherwise.
    bool start(const QString &dir, const QStringList &extra, const QMap<QString, QString> &env = {})
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(nyx::archive::kRootVariable, dir + "/archive");
        environment.insert(nyx::archive::kStartupVariable, "0");
        for (auto it = env.begin(); it != env.end(); ++it)
            environment.insert(it.key(), it.value());
        process.setProcessEnvironment(environment);
        process.setProgram(tundra::test::binDir() + "/JudgeDesk");
        process.setArguments(QStringList{"--config", dir + "/desk.json", "--port", "0"} + listen + extra);
        process.start();
        if (!process.waitForStarted(5000) || !process.waitForReadyRead(5000))
            return false;
        const auto m = QRegularExpression("listening on port (\\d+) at (\\S+)")
                           .match(QString::fromUtf8(process.readLine()));
        if (!m.hasMatch())
            return false;
        port = quint16(m.captured(1).toUInt());
        address = m.captured(2);
        // Tests reach the desk on loopback only, whatever it listens on.
        const QHostAddress reach(address);
        socket.connectToHost(reach.isLoopback() ? reach : QHostAddress(QHostAddress::LocalHost), port);
        return socket.waitForConnected(5000);
    }
    ~Desk()
    {
        process.kill();
        process.waitForFinished(5000);
    }
    void ask(const QString &text, const QString &target = QStringLiteral("JudgeDesk"))
    {
        socket.write(wire::frame(wire::encodeRequest({++number, target, "TUNDRA2_test", text})));
        socket.flush();
    }
    // The answers that arrive within ms.
    QStringList answers(int ms = 300)
    {
        QStringList list;
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < ms) {
            socket.waitForReadyRead(20);
            buffer += socket.readAll();
            QByteArray payload;
            while (wire::takeFrame(buffer, &payload) == 1) {
                wire::Answer a;
                if (wire::decodeAnswer(payload, &a) && a.queue == "TUNDRA2_test" &&
                    a.sourceQueue == "JudgeDesk")
                    list << a.text;
            }
        }
        return list;
    }
    QString askOne(const QString &text)
    {
        ask(text);
        const QStringList list = answers();
        return list.size() == 1 ? list[0] : QStringLiteral("<%1 answers>").arg(list.size());
    }
    // The first n answers, waiting up to ms for them.
    QStringList firstAnswers(int n, int ms = 10000)
    {
        QStringList list;
        QElapsedTimer timer;
        timer.start();
        while (list.size() < n && timer.elapsed() < ms)
            list += answers(20);
        return list;
    }
    QString askFirst(const QString &text)
    {
        ask(text);
        return firstAnswers(1).value(0, QStringLiteral("<no answer>"));
    }
};

// The local addresses of the listening TCP sockets on a port, as the kernel reports them.
QStringList listeningAddresses(quint16 port)
{
    QStringList found;
    for (const QString &table : {QStringLiteral("/proc/net/tcp"), QStringLiteral("/proc/net/tcp6")}) {
        QFile file(table);
        if (!file.open(QIODevice::ReadOnly))
            continue;
        file.readLine(); // header
        while (!file.atEnd()) {
            const QStringList fields =
                QString::fromLatin1(file.readLine()).split(QLatin1Char(' '), Qt::SkipEmptyParts);
            if (fields.size() < 4 || fields[3] != QLatin1String("0A")) // 0A: LISTEN
                continue;
            const QStringList local = fields[1].split(QLatin1Char(':'));
            if (local.size() != 2 || local[1].toUShort(nullptr, 16) != port)
                continue;
            const QByteArray raw = QByteArray::fromHex(local[0].toLatin1());
            if (raw.size() == 4) { // IPv4, in host (little-endian) order
                found << QHostAddress(qFromLittleEndian<quint32>(raw.constData())).toString();
            } else if (raw.size() == 16) { // IPv6, four host-order words
                QByteArray bytes;
                for (int i = 0; i < 16; i += 4) {
                    const quint32 word = qFromLittleEndian<quint32>(raw.constData() + i);
                    char be[4];
                    qToBigEndian(word, be);
                    bytes.append(be, 4);
                }
                found << QHostAddress(reinterpret_cast<const quint8 *>(bytes.constData())).toString();
            }
        }
    }
    return found;
}

// One "Cam" element of a camera answer.
struct Cam
{
    QString name;
    QString id;
    quint64 begin = 0;
    quint64 end = 0;
};

QVector<Cam> cams(const QString &answer)
{
    static const QRegularExpression cam(
        "<Cam Num=\"(\\d+)\" Name=\"([^\"]*)\" Id=\"([^\"]*)\" TBeginHi=\"([0-9A-F]{8})\" "
        "TBeginLo=\"([0-9A-F]{8})\" TEndHi=\"([0-9A-F]{8})\" TEndLo=\"([0-9A-F]{8})\"/>");
    QVector<Cam> list;
    auto it = cam.globalMatch(answer);
    while (it.hasNext()) {
        const auto m = it.next();
        if (m.captured(1).toInt() != list.size() + 1)
            return {};
        const auto time = [&m](int hi) {
            return (m.captured(hi).toULongLong(nullptr, 16) << 32) |
                   m.captured(hi + 1).toULongLong(nullptr, 16);
        };
        list.push_back(Cam{m.captured(2), m.captured(3), time(4), time(6)});
    }
    return list;
}

// The test's own way into the archive that JudgeDesk uses.
constexpr ULONGLONG kBase = 133000000000000000ULL; // a FILETIME in 2022
constexpr ULONGLONG kFrame = 200000;               // 20 ms

QString fromField(const WCHAR *field)
{
    int n = 0;
    while (n < nyx::archive::kNameUnits && field[n])
        ++n;
    return QString::fromUtf16(field, n);
}

void toField(const QString &name, WCHAR *field)
{
    std::memset(field, 0, nyx::archive::kNameUnits * sizeof(WCHAR));
    std::memcpy(field, name.utf16(), std::size_t(name.size()) * sizeof(WCHAR));
}

CComPtr<IRewindServer> openArchive(const QString &root)
{
    qputenv(nyx::archive::kRootVariable, root.toLocal8Bit());
    qputenv(nyx::archive::kStartupVariable, "0");
    CComPtr<IRewindServer> server;
    server.CoCreateInstance(CLSID_RewindServer);
    return server;
}

// Storage name -> id.
QMap<QString, GUID> storagesOf(IRewindServer *server)
{
    QMap<QString, GUID> map;
    std::vector<ArchiveStorageRecord> list(64);
    DWORD n = 0;
    if (SUCCEEDED(server->GetStorages(list.data(), DWORD(list.size()), &n)))
        for (DWORD i = 0; i < n; ++i)
            map.insert(fromField(list[i].name), list[i].storageId);
    return map;
}

// Stream name -> id, with every stream's type checked to be 3.
QMap<QString, QString> streamsOf(IRewindServer *server, const GUID &storage)
{
    QMap<QString, QString> map;
    std::vector<ArchiveStreamHead> list(64);
    DWORD n = 0;
    if (SUCCEEDED(server->GetStreams(storage, list.data(), DWORD(list.size()), &n)))
        for (DWORD i = 0; i < n; ++i)
            map.insert(fromField(list[i].name), list[i].streamType == 3
                                                    ? nyx::com::toString(list[i].streamId)
                                                    : QStringLiteral("type %1").arg(list[i].streamType));
    return map;
}

GUID createStorage(IRewindServer *server, const QString &name)
{
    auto block = std::make_unique<CreateStorageBlock>();
    std::memset(block.get(), 0, sizeof *block);
    toField(name, block->name);
    block->version = 1;
    block->size = 1LL << 30;
    return SUCCEEDED(server->CreateStorage(block.get(), nullptr)) ? block->storageId : GUID_NULL;
}

GUID createStream(IRewindServer *server, const GUID &storage, const QString &name)
{
    auto record = std::make_unique<ArchiveStreamRecord>();
    std::memset(record.get(), 0, sizeof *record);
    record->head.storageId = storage;
    toField(name, record->head.name);
    record->head.streamType = 3;
    return SUCCEEDED(server->CreateStream(record.get(), nullptr)) ? record->head.streamId : GUID_NULL;
}

// Opens a writer on the stream and starts a sequence at kBase.
CComPtr<IArchiveWriter> startWriter(IRewindServer *server, const GUID &stream, DWORD *channel)
{
    CComPtr<IArchiveStream> object;
    CComPtr<IArchiveWriter> writer;
    CComBSTR name(QStringLiteral("Video_H264"));
    if (FAILED(server->OpenStream(stream, &object)) || FAILED(object->CreateChannel(name, 0, channel)) ||
        FAILED(server->CreateWriter(stream, &writer)) || FAILED(writer->Start(kBase)))
        return {};
    return writer;
}

// Frames first .. first+count-1, at kBase + n * kFrame.
bool writeFrames(IArchiveWriter *writer, DWORD channel, int first, int count)
{
    const QByteArray bytes(100, 'x');
    for (int n = first; n < first + count; ++n) {
        const LONGLONG t = LONGLONG(kBase + ULONGLONG(n) * kFrame);
        if (FAILED(writer->BeginSample(t, t, 0)) ||
            FAILED(writer->Data(int(channel), reinterpret_cast<const BYTE *>(bytes.data()),
                                DWORD(bytes.size()))) ||
            FAILED(writer->EndSample()))
            return false;
    }
    return true;
}

void writeConfig(const QString &dir, const QJsonObject &config)
{
    QFile file(dir + "/desk.json");
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QJsonDocument(config).toJson());
}

const QString kNullId = QStringLiteral("{00000000-0000-0000-0000-000000000000}");
// StateChange and Count of an "Events" header, {-1, -1} for any other text.
QPair<qint64, int> header(const QString &text)
{
    const auto m =
        QRegularExpression(
            QStringLiteral("^<JudgeDesk><Events StateChange=\"(\\d+)\" Count=\"(\\d+)\"/></JudgeDesk>$"))
            .match(text);
    return m.hasMatch() ? qMakePair(m.captured(1).toLongLong(), m.captured(2).toInt()) : qMakePair(-1LL, -1);
}
} // namespace

class tst_JudgeDesk : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_dir = tundra::test::freshDir(QStringLiteral("desk_%1").arg(QTest::currentTestFunction()));
        QJsonObject config{
            {"cameras", QJsonArray{QJsonObject{{"name", "Main & <1>"},
                                               {"stream", "{0A1B2C3D-0000-4000-8000-000000000001}"},
                                               {"begin", "2026-01-01T00:00:00Z"},
                                               {"end", "2026-01-01T00:00:01Z"}},
                                   QJsonObject{{"name", "Two"},
                                               {"stream", "{0A1B2C3D-0000-4000-8000-000000000002}"},
                                               {"playAudio", true}}}},
            {"eventTypes", QJsonArray{QJsonObject{{"name", "Goal"}, {"background", "FF"}}}},
        };
        QFile file(m_dir + "/desk.json");
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QJsonDocument(config).toJson());
        file.close();
        QFile events(m_dir + "/events.jsonl");
        QVERIFY(events.open(QIODevice::WriteOnly));
        for (int i = 0; i < 5; ++i)
            events.write(
                QStringLiteral("{\"type\":\"Goal\",\"comment\":\"e%1\",\"time\":\"%2\",\"boardTime\":%3}\n")
                    .arg(i)
                    .arg(130000000000000000ULL + quint64(i))
                    .arg(i == 0 ? 3723400 : -1)
                    .toUtf8());
    }

    void answersInTheLinksForms()
    {
        Desk desk;
        QVERIFY(desk.start(m_dir, {}));
        QVERIFY(desk.askOne("TimeInfo").startsWith("<JudgeDesk><TimeInfo "));
        QCOMPARE(desk.askOne("EventTypes"),
                 QStringLiteral("<JudgeDesk><EventTypes><Type Name=\"Goal\" Txt=\"FFFFFF\" "
                                "Bg=\"FF\"/></EventTypes></JudgeDesk>"));
        // The configured ids are not in the archive: the configured times, or JudgeDesk's start and now.
        const QString cams = desk.askFirst("CameraInfo");
        QVERIFY2(
            cams.startsWith(
                "<JudgeDesk><Cameras PlayAudioCam=\"2\"><Cam Num=\"1\" Name=\"Main &amp; &lt;1&gt;\" "
                "Id=\"{0A1B2C3D-0000-4000-8000-000000000001}\" TBeginHi=\"01DC7AB1\" TBeginLo=\"92810000\" "
                "TEndHi=\"01DC7AB1\" TEndLo=\"93199680\"/><Cam Num=\"2\" Name=\"Two\" "
                "Id=\"{0A1B2C3D-0000-4000-8000-000000000002}\""),
            qPrintable(cams));
        const auto first = header(desk.askOne("EventCount"));
        QVERIFY(first.first > 0);
        QCOMPARE(first.second, 5);
        QCOMPARE(desk.askOne("EventInfo0"),
                 QStringLiteral(
                     "<JudgeDesk><Event Index=\"0\" Name=\"Goal\" Comment=\"e0\"><Time THi=\"01CDDA4F\" "
                     "TLo=\"ACCD0000\"/><FromStart>1:02:03.4</FromStart></Event></JudgeDesk>"));
        desk.ask("EventRange(3)(10)");
        const QStringList range = desk.answers();
        QCOMPARE(range.size(), 1);
        QCOMPARE(range[0].count("<Event "), 2);
        QCOMPARE(desk.askOne("EventRange(9)(2)"), QStringLiteral("<0 answers>"));
        QCOMPARE(desk.askOne("Nonsense"), QStringLiteral("<0 answers>"));
        desk.ask("TimeInfo", "SomeoneElse");
        QVERIFY(desk.answers().isEmpty());

        // A created event joins the list and the file, and the answer is the new header.
        QCOMPARE(header(desk.askOne("CreateEvent1_Goal(Hi01CDDA4F)(LoACCD0007)made {here}")),
                 qMakePair(first.first + 1, 6));
        QVERIFY(desk.askOne("EventInfo5").contains("Comment=\"made {here}\""));
        QFile file(m_dir + "/events.jsonl");
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll().count('\n'), 6);

        // An event typed on the console.
        desk.process.write("goal by hand\nOffside nope\n");
        QTRY_COMPARE(header(desk.askOne("EventCount")), qMakePair(first.first + 2, 7));
        QVERIFY(desk.askOne("EventInfo6").contains("Comment=\"by hand\""));
    }

    void listensOnLoopbackUnlessTold_data()
    {
        QTest::addColumn<QStringList>("listen");
        QTest::addColumn<QString>("expected");
        QTest::newRow("default") << QStringList() << "127.0.0.1";
        QTest::newRow("another loopback address") << QStringList{"--listen", "127.0.0.2"} << "127.0.0.2";
    }

    void listensOnLoopbackUnlessTold()
    {
        QFETCH(QStringList, listen);
        QFETCH(QString, expected);
        Desk desk;
        desk.listen = listen;
        QVERIFY(desk.start(m_dir, {}));
        QCOMPARE(desk.address, expected);
        // The socket itself, not only the banner: one listening socket on the port, bound to that address.
        QCOMPARE(listeningAddresses(desk.port), QStringList(expected));
        QVERIFY(desk.askOne("TimeInfo").startsWith("<JudgeDesk><TimeInfo "));
    }

    void faultsFromTheCommandLine()
    {
        Desk desk;
        QVERIFY(desk.start(m_dir, {"--split", "2", "--drop", "EventCount", "--malformed", "CameraInfo",
                                   "--truncate", "EventTypes", "--delay", "TimeInfo", "--delay-ms", "400"}));
        desk.ask("EventRange(0)(5)");
        const QStringList parts = desk.answers();
        QCOMPARE(parts.size(), 3);
        QVERIFY(parts[0].contains("Index=\"0\"") && parts[0].contains("Index=\"1\""));
        QVERIFY(parts[2].contains("Index=\"4\""));
        QCOMPARE(desk.askOne("EventCount"), QStringLiteral("<0 answers>"));
        QVERIFY(desk.askOne("CameraInfo").endsWith("</JudgeDesks>"));
        QVERIFY(!desk.askOne("EventTypes").endsWith("</JudgeDesk>"));
        desk.ask("TimeInfo");
        QVERIFY(desk.answers(200).isEmpty());
        QCOMPARE(desk.answers(1000).size(), 1);
    }

    void controlFileSwitchesFaultsWhileRunning()
    {
        const QString control = m_dir + "/faults.json";
        Desk desk;
        QVERIFY(desk.start(m_dir, {"--control", control}));
        QCOMPARE(desk.answers(0).size(), 0);
        QVERIFY(desk.askOne("TimeInfo").startsWith("<JudgeDesk>"));
        const qint64 stateChange = header(desk.askOne("EventCount")).first;
        QVERIFY(stateChange > 0);
        QFile file(control);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("{\"silent\": true}");
        file.close();
        QCOMPARE(desk.askOne("TimeInfo"), QStringLiteral("<0 answers>"));
        // Requests still take effect while silent.
        desk.ask("CreateEvent1_Goal(Hi01CDDA4F)(LoACCD0009)quiet");
        QVERIFY(desk.answers().isEmpty());
        QTest::qWait(1100); // a new modification time
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("{\"silent\": false, \"split\": 1}");
        file.close();
        QCOMPARE(header(desk.askOne("EventCount")), qMakePair(stateChange + 1, 6));
        desk.ask("EventRange(0)(3)");
        QCOMPARE(desk.answers().size(), 3);
    }

    void aRestartedDeskDoesNotRepeatItsStateChange()
    {
        qint64 before = 0;
        {
            Desk desk;
            QVERIFY(desk.start(m_dir, {}));
            desk.ask("CreateEvent1_Goal(Hi01CDDA4F)(LoACCD0011)one");
            desk.ask("CreateEvent1_Goal(Hi01CDDA4F)(LoACCD0012)two");
            QCOMPARE(desk.answers().size(), 2);
            before = header(desk.askOne("EventCount")).first;
            QVERIFY(before > 0);
        }
        // The number counts on from the clock in seconds: two changes, then a restart seconds later.
        QTest::qWait(2600);
        Desk desk;
        QVERIFY(desk.start(m_dir, {}));
        const auto after = header(desk.askOne("EventCount"));
        QCOMPARE(after.second, 7);
        QVERIFY2(after.first > before,
                 qPrintable(QStringLiteral("%1 after %2").arg(after.first).arg(before)));
    }

    void camerasLiveInTheArchive()
    {
        writeConfig(m_dir, QJsonObject{
                               {"cameras", QJsonArray{QJsonObject{{"name", "Main"}, {"stream", "Camera 1"}},
                                                      QJsonObject{{"name", "Wide"},
                                                                  {"stream", "Camera 2"},
                                                                  {"begin", "2026-01-01T00:00:00Z"}}}},
                           });
        Desk desk;
        QVERIFY(desk.start(m_dir, {}));
        auto list = cams(desk.askFirst("CameraInfo"));
        QCOMPARE(list.size(), 2);

        // JudgeDesk made the storage and both streams; the answer carries their ids and, with
        // nothing recorded yet, 0 for the times.
        const auto archive = openArchive(m_dir + "/archive");
        QVERIFY(archive);
        const auto storages = storagesOf(archive);
        QCOMPARE(storages.keys(), QStringList{"Station"});
        const auto streams = streamsOf(archive, storages["Station"]);
        QCOMPARE(streams.keys(), (QStringList{"Camera 1", "Camera 2"}));
        QCOMPARE(list[0].id, streams["Camera 1"]);
        QCOMPARE(list[1].id, streams["Camera 2"]);
        QVERIFY(list[0].id != list[1].id);
        for (const Cam &c : list) {
            QCOMPARE(c.begin, 0ULL);
            QCOMPARE(c.end, 0ULL);
        }

        // Frames written into Camera 1 show up in the next answers, the end growing while recording.
        GUID stream{};
        QVERIFY(nyx::com::parseGuid(streams["Camera 1"], &stream));
        DWORD channel = 0;
        const auto writer = startWriter(archive, stream, &channel);
        QVERIFY(writer);
        QVERIFY(writeFrames(writer, channel, 0, 3));
        QTRY_COMPARE(cams(desk.askFirst("CameraInfo")).value(0).end, kBase + 2 * kFrame);
        QVERIFY(writeFrames(writer, channel, 3, 2));
        QTRY_COMPARE(cams(desk.askFirst("CameraInfo")).value(0).end, kBase + 4 * kFrame);
        QCOMPARE(writer->Stop(), S_OK);
        list = cams(desk.askFirst("CameraInfo"));
        QCOMPARE(list.size(), 2);
        QCOMPARE(list[0].id, streams["Camera 1"]);
        QCOMPARE(list[0].begin, kBase);
        QCOMPARE(list[0].end, kBase + 4 * kFrame);
        QCOMPARE(list[1].begin, 0ULL);
        QCOMPARE(list[1].end, 0ULL);
        QVERIFY2(desk.process.readAllStandardError().isEmpty(), "no warnings with a working archive");
    }

    void existingStreamsAreTakenNotDuplicated()
    {
        const QString root = m_dir + "/archive";
        const auto archive = openArchive(root);
        const GUID yard = createStorage(archive, "Yard");
        const QString existing = nyx::com::toString(createStream(archive, yard, "Camera 1"));
        QVERIFY(existing != kNullId);
        writeConfig(m_dir, QJsonObject{
                               {"storage", "Yard"},
                               {"cameras", QJsonArray{QJsonObject{{"name", "Main"}, {"stream", "Camera 1"}},
                                                      QJsonObject{{"name", "Wide"}, {"stream", "Camera 2"}}}},
                           });
        QVector<Cam> first;
        {
            Desk desk;
            QVERIFY(desk.start(m_dir, {}));
            first = cams(desk.askFirst("CameraInfo"));
        }
        QCOMPARE(first.size(), 2);
        QCOMPARE(first[0].id, existing);
        QCOMPARE(storagesOf(archive).keys(), QStringList{"Yard"});
        auto streams = streamsOf(archive, yard);
        QCOMPARE(streams.keys(), (QStringList{"Camera 1", "Camera 2"}));
        QCOMPARE(first[1].id, streams["Camera 2"]);

        // A restarted desk finds the same streams; one deleted while it runs is made again.
        Desk desk;
        QVERIFY(desk.start(m_dir, {}));
        auto again = cams(desk.askFirst("CameraInfo"));
        QCOMPARE(again.size(), 2);
        QCOMPARE(again[0].id, first[0].id);
        QCOMPARE(again[1].id, first[1].id);
        GUID second{};
        QVERIFY(nyx::com::parseGuid(first[1].id, &second));
        QCOMPARE(archive->DeleteStream(second), S_OK);
        again = cams(desk.askFirst("CameraInfo"));
        QCOMPARE(again.size(), 2);
        QCOMPARE(again[0].id, first[0].id);
        streams = streamsOf(archive, yard);
        QCOMPARE(streams.keys(), (QStringList{"Camera 1", "Camera 2"}));
        QCOMPARE(again[1].id, streams["Camera 2"]);
        QVERIFY(again[1].id != first[1].id);
    }

    void aBracedGuidNamesAStreamById()
    {
        const auto archive = openArchive(m_dir + "/archive");
        const GUID other = createStorage(archive, "Other");
        const GUID legacy = createStream(archive, other, "Legacy");
        DWORD channel = 0;
        const auto writer = startWriter(archive, legacy, &channel);
        QVERIFY(writer);
        QVERIFY(writeFrames(writer, channel, 10, 2));
        QCOMPARE(writer->Stop(), S_OK);
        const QString missing = "{0A1B2C3D-0000-4000-8000-000000000009}";
        writeConfig(
            m_dir,
            QJsonObject{
                {"cameras",
                 QJsonArray{
                     QJsonObject{{"name", "Old"}, {"stream", nyx::com::toString(legacy)}},
                     QJsonObject{{"name", "Gone"}, {"stream", missing}, {"begin", "2026-01-01T00:00:00Z"}}}},
            });
        Desk desk;
        QVERIFY(desk.start(m_dir, {}));
        const auto list = cams(desk.askFirst("CameraInfo"));
        QCOMPARE(list.size(), 2);
        QCOMPARE(list[0].id, nyx::com::toString(legacy));
        QCOMPARE(list[0].begin, kBase + 10 * kFrame);
        QCOMPARE(list[0].end, kBase + 11 * kFrame);
        // An id that is not in the archive keeps the configured begin; its end is now.
        QCOMPARE(list[1].id, missing);
        QCOMPARE(list[1].begin, 0x01DC7AB192810000ULL);
        QVERIFY(list[1].end > 0x01DC7AB192810000ULL);
        // Streams named by id need no storage of JudgeDesk's own.
        QCOMPARE(storagesOf(archive).keys(), QStringList{"Other"});
        QByteArray errors;
        QTRY_VERIFY((errors += desk.process.readAllStandardError()).contains("not in the archive"));
    }

    void withoutAnArchiveTheConfiguredTimesAreReported()
    {
        // A root that is a file cannot be opened.
        QFile blocker(m_dir + "/not-a-folder");
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        QJsonObject config = QJsonDocument::fromJson([this] {
                                 QFile f(m_dir + "/desk.json");
                                 return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
                             }())
                                 .object();
        QJsonArray cameras = config["cameras"].toArray();
        cameras.append(QJsonObject{{"name", "Named"}, {"stream", "Camera 3"}});
        config["cameras"] = cameras;
        writeConfig(m_dir, config);
        Desk desk;
        QVERIFY(desk.start(m_dir, {}, {{nyx::archive::kRootVariable, blocker.fileName()}}));
        const QString answer = desk.askFirst("CameraInfo");
        QVERIFY2(
            answer.startsWith(
                "<JudgeDesk><Cameras PlayAudioCam=\"2\"><Cam Num=\"1\" Name=\"Main &amp; &lt;1&gt;\" "
                "Id=\"{0A1B2C3D-0000-4000-8000-000000000001}\" TBeginHi=\"01DC7AB1\" TBeginLo=\"92810000\" "
                "TEndHi=\"01DC7AB1\" TEndLo=\"93199680\"/><Cam Num=\"2\""),
            qPrintable(answer));
        const auto list = cams(answer);
        QCOMPARE(list.size(), 3);
        QCOMPARE(list[2].id, kNullId);
        QVERIFY(list[2].begin > 0 && list[2].begin <= list[2].end);
        QByteArray errors;
        QTRY_VERIFY((errors += desk.process.readAllStandardError()).contains("configured times"));
        // Still answering, still falling back.
        QCOMPARE(cams(desk.askFirst("CameraInfo")).value(0).begin, list[0].begin);
    }

    void camerasWaitForTheArchiveWithoutHoldingOtherAnswers()
    {
        writeConfig(m_dir, QJsonObject{{"cameras",
                                        QJsonArray{QJsonObject{{"name", "Main"}, {"stream", "Camera 1"}}}}});
        Desk desk;
        QVERIFY(desk.start(m_dir, {}, {{nyx::archive::kStartupVariable, "1500"}}));
        desk.ask("CameraInfo");
        desk.ask("TimeInfo");
        const QStringList answers = desk.firstAnswers(2);
        QCOMPARE(answers.size(), 2);
        QVERIFY2(answers[0].startsWith("<JudgeDesk><TimeInfo "), qPrintable(answers[0]));
        const auto list = cams(answers[1]);
        QCOMPARE(list.size(), 1);
        const auto archive = openArchive(m_dir + "/archive");
        QCOMPARE(list[0].id, streamsOf(archive, storagesOf(archive)["Station"])["Camera 1"]);
        QCOMPARE(list[0].begin, 0ULL);
    }

    void badConfigurationIsRefused_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QByteArray>("message");
        QTest::newRow("bad guid") << QByteArray(
                                         "{\"cameras\": [{\"name\": \"x\", \"stream\": \"{not a guid}\"}]}")
                                  << QByteArray("camera 1");
        QTest::newRow("no stream") << QByteArray("{\"cameras\": [{\"name\": \"x\"}]}")
                                   << QByteArray("camera 1");
        QTest::newRow("empty stream")
            << QByteArray("{\"cameras\": [{\"name\": \"x\", \"stream\": \"\"}]}") << QByteArray("camera 1");
        QTest::newRow("long stream") << QByteArray("{\"cameras\": [{\"name\": \"x\", \"stream\": \"" +
                                                   QByteArray(256, 's') + "\"}]}")
                                     << QByteArray("camera 1");
        QTest::newRow("empty storage")
            << QByteArray("{\"storage\": \"\", \"cameras\": []}") << QByteArray("storage");
        QTest::newRow("storage not a text") << QByteArray("{\"storage\": 5}") << QByteArray("storage");
    }

    void badConfigurationIsRefused()
    {
        QFETCH(QByteArray, json);
        QFETCH(QByteArray, message);
        QFile file(m_dir + "/desk.json");
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(json);
        file.close();
        QProcess p;
        p.start(tundra::test::binDir() + "/JudgeDesk", {"--config", m_dir + "/desk.json", "--port", "0"});
        QVERIFY(p.waitForFinished(5000));
        QCOMPARE(p.exitCode(), 2);
        QVERIFY(p.readAllStandardError().contains(message));
    }

private:
    QString m_dir;
};

QTEST_GUILESS_MAIN(tst_JudgeDesk)
#include "tst_judgedesk.moc"
