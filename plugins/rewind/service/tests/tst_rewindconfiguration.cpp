// rewind.ini and available_videos.json: defaults written when missing, files read back, bad and
// partial files, and the settings reaching the referee link and the playback limits.

#include "rewindconfiguration.h"
#include "servicefixture.h"

#include <QFile>
#include <QtTest>
#include <testenvironment.h>

namespace {
void writeFile(const QString &path, const QByteArray &content)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(content);
}

// The warnings logged while it lives.
class WarningCapture
{
public:
    WarningCapture()
    {
        s_warnings.clear();
        s_previous = qInstallMessageHandler(&WarningCapture::keep);
    }
    ~WarningCapture() { qInstallMessageHandler(s_previous); }
    WarningCapture(const WarningCapture &) = delete;
    WarningCapture &operator=(const WarningCapture &) = delete;
    QStringList warnings() const { return s_warnings; }

private:
    static void keep(QtMsgType type, const QMessageLogContext &, const QString &text)
    {
        if (type == QtWarningMsg)
            s_warnings.append(text);
    }
    static inline QtMessageHandler s_previous = nullptr;
    static inline QStringList s_warnings;
};

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

const char kTemplate[] =
    "// remote PC with recorder\nZEMBLA=localhost\n// turn on/off ZEMBLA command's trace\nTrace=0\n"
    "// read events - N events per one reading loop\nReadEventCount=5\n"
    "// read events - N events per one request\nReadEventSize=10\n"
    "// quality in %, skip=0,1,2...20\nDefQuality=0\nSkip4Full=0\nQuality4Full=51\nSkip4View=1\n"
    "Quality4View=10\nSkip4Preview=3\nSD2HDQulityRatio=2\n"
    "// decode AVC storage to I-frame only above speed limit or for preview\nIFrameOnlySpeedLimit=1.5\n"
    "Force2IFrame4Preview=1\n";
} // namespace

class TestRewindConfiguration : public QObject
{
    Q_OBJECT

    QString m_dir;

    QString file(const char *name) const { return m_dir + QStringLiteral("/") + QLatin1String(name); }

private slots:
    void init()
    {
        const QString data = tundra::test::freshDir(QString::fromLatin1(QTest::currentTestFunction()));
        qputenv("XDG_DATA_HOME", data.toLocal8Bit());
        m_dir = RewindConfiguration::folder();
        QVERIFY(m_dir.startsWith(data));
        QVERIFY(m_dir.endsWith(QStringLiteral("/Nyx/") + QCoreApplication::applicationName()));
        PlaybackTuning::current() = PlaybackTuning();
    }

    // --- rewind.ini -----------------------------------------------------------------------

    void settingsLinesKeysAndConversions()
    {
        writeFile(file("rewind.ini"), "// Trace=1\n"
                                      "=5\n"
                                      "ReadEventSize 7\n"
                                      "readeventcount = 3\n"
                                      "  ZEMBLA =  referee-pc:4711  \n"
                                      "Trace=2\n"
                                      "Force2IFrame4Preview=-1\n"
                                      "Quality4Full=51\n"
                                      "DefQuality=0\n"
                                      "Quality4View=abc\n"
                                      "Skip4View=x1\n"
                                      "Skip4Preview=12\n"
                                      "Skip4Preview=4\n"
                                      "SD2HDQulityRatio=2.5\n"
                                      "IFrameOnlySpeedLimit=not a number\n"
                                      "Unknown=9\n");
        RewindSettings s;
        QVERIFY(RewindConfiguration::readSettings(file("rewind.ini"), s));
        QCOMPARE(s.host, QStringLiteral("referee-pc:4711"));
        QCOMPARE(s.trace, true);
        QCOMPARE(s.readEventCount, 3);
        QCOMPARE(s.readEventSize, 10); // "ReadEventSize 7" has no '='
        QCOMPARE(s.tuning.Force2IFrame4Preview, false);
        QCOMPARE(s.tuning.Quality4Full, 0.511f);
        QCOMPARE(s.tuning.DefQuality, 0.001f);
        QCOMPARE(s.tuning.Quality4View, 0.001f); // unparsable percentage reads as 0 %
        QCOMPARE(s.tuning.Skip4View, 0);
        QCOMPARE(s.tuning.Skip4Preview, 4); // a later line wins
        QCOMPARE(s.tuning.SD2HDQulityRatio, 2.5f);
        QCOMPARE(s.tuning.IFrameOnlySpeedLimit, 0.0f);
        QCOMPARE(s.tuning.Skip4Full, 0);
    }

    void settingsMissingFileIsNotRead()
    {
        RewindSettings s;
        QVERIFY(!RewindConfiguration::readSettings(file("rewind.ini"), s));
        QCOMPARE(s.readEventCount, 5);
        QCOMPARE(s.tuning.Quality4Full, 0.51f);
    }

    void templateIsWrittenAndReadsBack()
    {
        QVERIFY(RewindConfiguration::createSettings(file("rewind.ini")));
        QCOMPARE(readFile(file("rewind.ini")), QByteArray(kTemplate));
        RewindSettings s;
        QVERIFY(RewindConfiguration::readSettings(file("rewind.ini"), s));
        QCOMPARE(s.host, QStringLiteral("localhost"));
        QCOMPARE(s.trace, false);
        QCOMPARE(s.readEventCount, 5);
        QCOMPARE(s.readEventSize, 10);
        QCOMPARE(s.tuning.DefQuality, 0.001f);
        QCOMPARE(s.tuning.Quality4Full, 0.511f);
        QCOMPARE(s.tuning.Quality4View, 0.101f);
        QCOMPARE(s.tuning.Skip4Full, 0);
        QCOMPARE(s.tuning.Skip4View, 1);
        QCOMPARE(s.tuning.Skip4Preview, 3);
        QCOMPARE(s.tuning.SD2HDQulityRatio, 2.0f);
        QCOMPARE(s.tuning.IFrameOnlySpeedLimit, 1.5f);
        QCOMPARE(s.tuning.Force2IFrame4Preview, true);
    }

    void summaryText()
    {
        PlaybackTuning t;
        t.Quality4Full = 0.511f;
        t.IFrameOnlySpeedLimit = 1234.5f;
        QCOMPARE(
            RewindConfiguration::settingsSummary(t),
            QStringLiteral("\n---------- rewind.ini info: ---------------\n  DefQuality=0\n  Skip4Full=0\n"
                           "  Quality4Full=0.511\n  Skip4View=1\n  Quality4View=0.1\n  Skip4Preview=3\n"
                           "  SD2HDQulityRatio=2\n  IFrameOnlySpeedLimit=1.23e+03\n"
                           "  Force2IFrame4Preview=false\n"));
    }

    // --- available_videos.json ------------------------------------------------------------

    void decoderNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("index");
        QTest::newRow("Soft") << "Soft" << 2 << 1;
        QTest::newRow("iqs") << "iqs" << 0 << 2;
        QTest::newRow("NV1") << "NV1" << 1 << 3;
        QTest::newRow("nv2") << "nv2" << 1 << 4;
        QTest::newRow("Nv3") << "Nv3" << 1 << 5;
        QTest::newRow("NV4") << "NV4" << 1 << 6;
        QTest::newRow("NV5") << "NV5" << -1 << 0;
        QTest::newRow("empty") << "" << -1 << 0;
        QTest::newRow("prefix") << "Softer" << -1 << 0;
    }
    void decoderNames()
    {
        QFETCH(QString, name);
        QFETCH(int, kind);
        QFETCH(int, index);
        const QPair<int, int> d = ParseDecoderName(name);
        QCOMPARE(d.first, kind);
        QCOMPARE(d.second, index);
    }

    void sourcesAreRead()
    {
        writeFile(file("available_videos.json"),
                  "{\"Audio\": [{\"name\":\"Mic\",\"source\":\"@url kx:///KX322 Board 2 Stereo "
                  "1\",\"rewind\":\"A7\"},"
                  "{\"name\":\"Second\",\"source\":\"kx:///x\",\"rewind\":\"A8\"}],"
                  "\"VIDEO\": [17, \"text\","
                  "{\"NAME\":\"Left\",\"Source\":\"@url kx:///KX788 Board 1 Input "
                  "3\",\"REWIND\":\"CamL\",\"decoder\":\"nv2\"},"
                  "{\"name\":\"Dropped\",\"source\":\"kx:///none\"},"
                  "{\"name\":\"Empty\",\"source\":\"kx:///empty\",\"rewind\":\"\"},"
                  "{\"name\":\"Right\",\"source\":\"rtmp://10.0.0.5:554/"
                  "s\",\"rewind\":\"CamR\",\"decoder\":\"Other\",\"extra\":1}],"
                  "\"other\": [{\"name\":\"x\",\"rewind\":\"y\"}]}");
        std::vector<AvailableSource> videos(1);
        AvailableSource audio;
        QVERIFY(RewindConfiguration::loadAvailableSources(file("available_videos.json"), videos, audio));
        QCOMPARE(audio.name, QStringLiteral("Mic"));
        QCOMPARE(audio.stream, QStringLiteral("A7"));
        QCOMPARE(audio.source, QUrl(QStringLiteral("kx:///KX322 Board 2 Stereo 1")));
        QCOMPARE(int(videos.size()), 2);
        QCOMPARE(videos[0].name, QStringLiteral("Left"));
        QCOMPARE(videos[0].stream, QStringLiteral("CamL"));
        QCOMPARE(videos[0].source.toString(), QStringLiteral("kx:///KX788 Board 1 Input 3"));
        QCOMPARE(videos[0].decoderKind, 1);
        QCOMPARE(videos[0].decoderIndex, 4);
        QCOMPARE(videos[1].stream, QStringLiteral("CamR"));
        QCOMPARE(videos[1].source, QUrl(QStringLiteral("rtmp://10.0.0.5:554/s")));
        QCOMPARE(videos[1].decoderKind, -1);
        QCOMPARE(videos[1].decoderIndex, 0);
    }

    void sourcesWithoutUsableElementsChangeNothing()
    {
        writeFile(file("available_videos.json"),
                  "{\"video\": [{\"name\":\"a\",\"source\":\"kx:///a\"}, {\"name\":\"b\"}], \"audio\": []}");
        std::vector<AvailableSource> videos(4);
        videos[2].stream = QStringLiteral("Cam3");
        AvailableSource audio;
        audio.name = QStringLiteral("Audio");
        QVERIFY(RewindConfiguration::loadAvailableSources(file("available_videos.json"), videos, audio));
        QCOMPARE(int(videos.size()), 4);
        QCOMPARE(videos[2].stream, QStringLiteral("Cam3"));
        QCOMPARE(audio.name, QStringLiteral("Audio"));
    }

    void badSourceFiles_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("not JSON") << QByteArray("{\"video\": [");
        QTest::newRow("array") << QByteArray("[{\"name\":\"a\",\"rewind\":\"b\"}]");
        QTest::newRow("empty object") << QByteArray("{}");
        QTest::newRow("empty file") << QByteArray();
        QTest::newRow("binary") << QByteArray("\xff\xfe\x00\x01garbage", 12);
    }
    void badSourceFiles()
    {
        QFETCH(QByteArray, content);
        writeFile(file("available_videos.json"), content);
        std::vector<AvailableSource> videos(4);
        AvailableSource audio;
        QVERIFY(!RewindConfiguration::loadAvailableSources(file("available_videos.json"), videos, audio));
        QCOMPARE(int(videos.size()), 4);
        QVERIFY(!RewindConfiguration::loadAvailableSources(file("missing.json"), videos, audio));
    }

    // A list the user wrote that cannot be used says so once, in words, and names what is used
    // instead; a missing list (the first start) and a good one say nothing.
    void sourceListMistakesAreNamed_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("loaded");
        QTest::addColumn<QStringList>("warnings");
        const QString builtIn = QStringLiteral("; the built-in sources are used");
        QTest::newRow("wrong types")
            << QByteArray("{\"video\":\"not a list\",\"audio\":5}") << true
            << QStringList{
                   ": \"audio\" is a number, not a list of sources; the built-in audio source is used",
                   ": \"video\" is a text, not a list of sources; the built-in video sources are used"};
        QTest::newRow("no stream named")
            << QByteArray("{\"Video\":[{\"name\":\"a\"}, 3],\"audio\":[{\"rewind\":\"A1\"}]}") << true
            << QStringList{
                   ": no entry of \"Video\" names its archive stream (\"rewind\"); the built-in video "
                   "sources are used"};
        QTest::newRow("not JSON") << QByteArray("{\"video\": [") << false
                                  << QStringList{" is not valid JSON (unterminated array at byte 11)" +
                                                 builtIn};
        QTest::newRow("list") << QByteArray("[{\"rewind\":\"b\"}]") << false
                              << QStringList{" holds a list, not an object with \"video\" and \"audio\"" +
                                             builtIn};
        QTest::newRow("empty object")
            << QByteArray("{}") << false << QStringList{" is an empty object" + builtIn};
        QTest::newRow("empty file") << QByteArray(" \n") << false << QStringList{" is empty" + builtIn};
        QTest::newRow("folder") << QByteArray() << false
                                << QStringList{" cannot be read (file to open is a directory)" + builtIn};
        QTest::newRow("missing") << QByteArray() << false << QStringList();
        QTest::newRow("good") << QByteArray("{\"video\":[{\"rewind\":\"C\"}]}") << true << QStringList();
    }
    void sourceListMistakesAreNamed()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, loaded);
        QFETCH(QStringList, warnings);
        const QString path = file("available_videos.json");
        if (QTest::currentDataTag() == QLatin1String("folder"))
            QVERIFY(QDir().mkpath(path));
        else if (QTest::currentDataTag() != QLatin1String("missing"))
            writeFile(path, content);
        for (QString &warning : warnings)
            warning.prepend(QStringLiteral("Source list ") + path);
        std::vector<AvailableSource> videos(4);
        AvailableSource audio;
        WarningCapture capture;
        QCOMPARE(RewindConfiguration::loadAvailableSources(path, videos, audio), loaded);
        QCOMPARE(capture.warnings(), warnings);
    }

    void defaultSourceFileReadsBack()
    {
        RewindConfiguration::writeDefaultAvailableSources(file("available_videos.json"));
        std::vector<AvailableSource> videos;
        AvailableSource audio;
        QVERIFY(RewindConfiguration::loadAvailableSources(file("available_videos.json"), videos, audio));
        QCOMPARE(audio.stream, QStringLiteral("Audio1"));
        QCOMPARE(audio.source.toString(), QStringLiteral("kx:///KX322 Board 1 Input 1 Stereo"));
        // The second video entry names no stream and is dropped.
        QCOMPARE(int(videos.size()), 2);
        QCOMPARE(videos[0].stream, QStringLiteral("Cam1"));
        QCOMPARE(videos[0].source.toString(), QStringLiteral("kx:///KX788 Board 1 Input 1"));
        QCOMPARE(videos[1].name, QStringLiteral("IPCamera-RTSP"));
        QCOMPARE(videos[1].stream, QStringLiteral("Cam2"));
        QVERIFY(videos[1].source.toString().startsWith(QStringLiteral("rtmp://")));
        QVERIFY(videos[1].source.toString().endsWith(QStringLiteral(":554/stream/main")));
    }

    // --- through the service --------------------------------------------------------------

    void serviceWritesDefaultsWhenMissing()
    {
        DebugCapture debug;
        FakeReferee offline; // no referee answers
        offline.setAvailable(false);
        {
            RewindService service(svc::fastTiming());
            QCOMPARE(readFile(file("rewind.ini")), QByteArray(kTemplate));
            QVERIFY(readFile(file("available_videos.json")).contains("IPCamera-RTSP"));
            // Neither written file is read back in the same run.
            QCOMPARE(PlaybackTuning::current().IFrameOnlySpeedLimit, 1.9f);
            QCOMPARE(PlaybackTuning::current().Force2IFrame4Preview, false);
            QCOMPARE(PlaybackTuning::current().Quality4Full, 0.51f);
            const QVariantList videos = service.getAvailableVideos();
            QCOMPARE(videos.size(), 4);
            for (int i = 0; i < 4; ++i) {
                const QVariantMap v = videos[i].toMap();
                QCOMPARE(v["name"].toString(), QStringLiteral("KX788 Board 1 Input %1").arg(i + 1));
                QCOMPARE(v["source"].toUrl(),
                         QUrl(QStringLiteral("kx:///KX788 Board 1 Input %1").arg(i + 1)));
                QCOMPARE(service.videos()[i].stream, QStringLiteral("Cam%1").arg(i + 1));
            }
            const QVariantList audios = service.getAvailableAudios();
            QCOMPARE(audios.size(), 1);
            QCOMPARE(audios[0].toMap()["name"].toString(), QStringLiteral("Audio"));
            QCOMPARE(audios[0].toMap()["source"].toUrl(),
                     QUrl(QStringLiteral("kx:///KX322 Board 1 Stereo 1")));
            QCOMPARE(service.audio().stream, QStringLiteral("Audio1"));
        }
        QVERIFY(!debug.text().contains(QStringLiteral("rewind.ini info")));
        // The next start reads both files.
        RewindService second(svc::fastTiming());
        QVERIFY(debug.text().contains(QStringLiteral("rewind.ini info")));
        QCOMPARE(PlaybackTuning::current().IFrameOnlySpeedLimit, 1.5f);
        QCOMPARE(PlaybackTuning::current().Force2IFrame4Preview, true);
        QCOMPARE(second.getAvailableVideos().size(), 2);
        QCOMPARE(second.audio().stream, QStringLiteral("Audio1"));
    }

    void serviceConfiguresTheLink()
    {
        writeFile(file("rewind.ini"), "ZEMBLA=referee-pc:4711\nReadEventCount=1\nReadEventSize=3\nTrace=1\n"
                                      "Skip4Preview=7\n");
        writeFile(file("available_videos.json"), "{\"video\":[{\"name\":\"V\",\"source\":\"kx:///KX788 Board "
                                                 "2 Input 1\",\"rewind\":\"CamX\",\"decoder\":\"Soft\"}]}");
        DebugCapture debug;
        svc::ScriptedReferee referee;
        referee.setTypes({QStringLiteral("Goal")});
        QList<svc::Event> events;
        for (int i = 0; i < 7; ++i)
            events << svc::Event{QStringLiteral("Goal"), QString::number(i),
                                 svc::kT0 + quint64(i) * svc::kMs};
        referee.setEvents(events);
        RewindService service(svc::fastTiming());
        QCOMPARE(PlaybackTuning::current().Skip4Preview, 7);
        QVERIFY(referee.referee.waitForTotal(3));
        QCOMPARE(referee.referee.request(0).host, QStringLiteral("referee-pc:4711"));
        // One request of three events in flight at a time.
        QTRY_VERIFY_WITH_TIMEOUT(referee.requests(QStringLiteral("EventRange")).size() >= 2, svc::kWait);
        QCOMPARE(referee.requests(QStringLiteral("EventRange")).mid(0, 2),
                 QStringList({"EventRange(0)(3)", "EventRange(3)(3)"}));
        QTRY_VERIFY(debug.text().contains(QStringLiteral("to JudgeDesk successfully")));

        bool isAudio = true;
        int kind = 0, index = 0;
        QCOMPARE(service.streamNameForUrl(QUrl(QStringLiteral("kx:///KX788 Board 2 Input 1")), isAudio, kind,
                                          index),
                 QStringLiteral("CamX"));
        QVERIFY(!isAudio);
        QCOMPARE(kind, 2);
        QCOMPARE(index, 1);
        QCOMPARE(service.streamNameForUrl(QUrl(QStringLiteral("kx:///KX788 Board 1 Input 1")), isAudio, kind,
                                          index),
                 QStringLiteral("kx:///KX788 Board 1 Input 1"));
        QCOMPARE(kind, -1);
        QCOMPARE(index, 0);
        QCOMPARE(service.streamNameForUrl(QUrl(QStringLiteral("kx:///KX322 Board 1 Stereo 1 (Audio)")),
                                          isAudio, kind, index),
                 QStringLiteral("Audio"));
        QVERIFY(isAudio);
        // Only after the first character.
        QCOMPARE(service.streamNameForUrl(QUrl(QStringLiteral(" (Audio)")), isAudio, kind, index),
                 QStringLiteral(" (Audio)"));
        QVERIFY(!isAudio);
        QCOMPARE(service.urlForStreamName(QStringLiteral("CamX"), false),
                 QUrl(QStringLiteral("kx:///KX788 Board 2 Input 1")));
        QCOMPARE(service.urlForStreamName(QStringLiteral("camx"), false), QUrl(QStringLiteral("camx")));
        QCOMPARE(service.urlForStreamName(QStringLiteral("CamX"), true),
                 QUrl(QStringLiteral("kx:///KX322 Board 1 Stereo 1")));
    }

    void unusableSourceListIsKept_data()
    {
        QTest::addColumn<bool>("asideBlocked");
        QTest::newRow("kept aside") << false;
        QTest::newRow("cannot be kept aside") << true;
    }
    void unusableSourceListIsKept()
    {
        QFETCH(bool, asideBlocked);
        const QByteArray broken("{\"video\": [{\"name\":\"Mine\", \"rewind\":\"CamM\" ");
        writeFile(file("available_videos.json"), broken);
        QTest::ignoreMessage(
            QtWarningMsg,
            QRegularExpression(QStringLiteral("available_videos.json is not valid JSON .*built-in sources")));
        if (asideBlocked) {
            // A folder with content where the copy would go: neither removed nor replaced.
            QVERIFY(QDir().mkpath(file("available_videos.json.bak/inside")));
            QTest::ignoreMessage(QtWarningMsg,
                                 QRegularExpression(QStringLiteral("could not be kept as .* left in place")));
        } else {
            QTest::ignoreMessage(QtWarningMsg,
                                 QRegularExpression(QStringLiteral(
                                     "Unusable source list kept as .*available_videos.json.bak")));
        }
        FakeReferee offline;
        offline.setAvailable(false);
        RewindService service(svc::fastTiming());
        if (asideBlocked) {
            QCOMPARE(readFile(file("available_videos.json")), broken);
        } else {
            QCOMPARE(readFile(file("available_videos.json.bak")), broken);
            QVERIFY(readFile(file("available_videos.json")).contains("IPCamera-RTSP"));
        }
        QCOMPARE(service.getAvailableVideos().size(), 4);
    }

    void unusableReadSizesFallBack()
    {
        writeFile(file("rewind.ini"), "ReadEventCount=0\nReadEventSize=-4\n");
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression(QStringLiteral("Ignoring event read sizes 0 -4")));
        svc::ScriptedReferee referee;
        referee.setTypes({QStringLiteral("Goal")});
        QList<svc::Event> events;
        for (int i = 0; i < 12; ++i)
            events << svc::Event{QStringLiteral("Goal"), QString::number(i),
                                 svc::kT0 + quint64(i) * svc::kMs};
        referee.setEvents(events);
        RewindService service(svc::fastTiming());
        QTRY_VERIFY_WITH_TIMEOUT(service.link().eventsReceived.load() == 1, svc::kWait);
        QCOMPARE(int(service.link().GetEvents().size()), 12);
        QCOMPARE(referee.requests(QStringLiteral("EventRange")).value(0),
                 QStringLiteral("EventRange(0)(10)"));
    }

    void settingsThatCannotBeCreated()
    {
        QVERIFY(QDir().mkpath(file("rewind.ini")));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral(
                                               "Failed to create rewind configuration file .*rewind.ini")));
        FakeReferee offline;
        offline.setAvailable(false);
        RewindService service(svc::fastTiming());
        QCOMPARE(PlaybackTuning::current().Quality4Full, 0.51f);
        QCOMPARE(service.getAvailableVideos().size(), 4);
    }
};

QTEST_MAIN(TestRewindConfiguration)
#include "tst_rewindconfiguration.moc"
