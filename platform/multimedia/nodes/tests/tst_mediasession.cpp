// A media session that feeds one live output to two sinks: a sink held up now and then (a recorder
// on a busy machine) beside an eager one (a preview) gets every sample, in order, when it asks
// again, and what it still held at a stop is counted as missed. A sample that reaches a sink before
// the clock has started it waits for the sink's own request.
#include "collectornode.h"
#include "latestartsink.h"
#include "multimedia/mediasession.h"
#include "multimedia/mediasourcenode.h"
#include "multimedia/nodes/livesource.h"
#include "multimedia/nodes/mfframes.h"
#include "multimedia/sessioncore.h"

#include <QQmlComponent>
#include <QQmlEngine>
#include <QtTest>

using namespace nyx::multimedia;

namespace {
QVector<qint64> times(const QVector<CollectorNode::Received> &received)
{
    QVector<qint64> out;
    for (const auto &r : received)
        out.append(r.time);
    return out;
}
} // namespace

class tst_MediaSession : public QObject
{
    Q_OBJECT

    std::unique_ptr<QQmlEngine> m_engine;

    std::unique_ptr<QObject> makeSession()
    {
        QQmlComponent component(m_engine.get());
        component.setData(
            "import QtQml 2.2\nimport Multimedia 1.0\nimport SessionTest 1.0\n"
            "MediaSession { autoPlay: true; property alias eager: eager; property alias held: held\n"
            "  RunningLineSource { id: src; frameSize: Qt.size(64, 36); frameRateNumerator: 25 }\n"
            "  Collector { id: eager }\n"
            "  Collector { id: held }\n"
            "  NodeConnection { from: src.output; to: eager.input }\n"
            "  NodeConnection { from: src.output; to: held.input } }",
            QUrl());
        std::unique_ptr<QObject> object(component.create());
        if (!object)
            qWarning() << component.errorString();
        return object;
    }

    // The one stream of a live source to a sink; no descriptor when the source has none.
    static SessionCore::Route routeTo(IMFMediaSource *source, IMFStreamSink *sink, IMFMediaType *type)
    {
        SessionCore::Route route;
        route.source = source;
        route.descriptor = getCleanPresentationDescriptor(source);
        CComPtr<IMFStreamDescriptor> stream;
        BOOL selected = FALSE;
        if (!route.descriptor ||
            FAILED(route.descriptor->GetStreamDescriptorByIndex(0, &selected, &stream)) ||
            FAILED(stream->GetStreamIdentifier(&route.streamId)))
            route.descriptor.Release();
        route.sink = sink;
        route.type = type;
        return route;
    }

private slots:
    void initTestCase()
    {
        qmlRegisterType<CollectorNode>("SessionTest", 1, 0, "Collector");
        m_engine = std::make_unique<QQmlEngine>();
        m_engine->addImportPath(qEnvironmentVariable("TUNDRA_BIN_DIR") + QStringLiteral("/plugins"));
    }

    void fanOut_data()
    {
        QTest::addColumn<int>("every");
        QTest::addColumn<int>("ms");
        // Held up for one to three frames now and then: it catches up and loses nothing.
        QTest::newRow("hiccups of 60 ms") << 10 << 60;
        QTest::newRow("hiccups of 100 ms") << 20 << 100;
    }
    void fanOut()
    {
        QFETCH(int, every);
        QFETCH(int, ms);
        std::unique_ptr<QObject> object = makeSession();
        QVERIFY(object);
        auto *session = qobject_cast<MediaSession *>(object.get());
        auto *eager = session->property("eager").value<CollectorNode *>();
        auto *held = session->property("held").value<CollectorNode *>();
        held->setHiccup(every, ms);
        QTRY_VERIFY_WITH_TIMEOUT(session->isPlaying(), 20000);
        QTRY_VERIFY_WITH_TIMEOUT(held->received().size() >= 90, 60000);
        session->stop();
        const QVector<qint64> eagerTimes = times(eager->received());
        const QVector<qint64> heldTimes = times(held->received());
        // Every sample that one sink got and the other did not is counted as missed.
        QSet<qint64> all;
        for (const QVector<qint64> &t : {eagerTimes, heldTimes})
            for (qint64 time : t)
                all.insert(time);
        QVERIFY(2 * all.size() - eagerTimes.size() - heldTimes.size() <= session->missedSamples());
        // Every frame of the source reached both sinks, in order, one after another; only what a
        // sink still held when the session stopped never reached it.
        for (const QVector<qint64> &t : {eagerTimes, heldTimes})
            for (int i = 1; i < t.size(); ++i)
                QVERIFY2(
                    t[i] - t[i - 1] == 400000,
                    qPrintable(QStringLiteral("sample %1 after a gap of %2").arg(i).arg(t[i] - t[i - 1])));
        QCOMPARE(heldTimes, eagerTimes.mid(0, heldTimes.size()));
        QVERIFY(session->missedSamples() <= 2 * 8);
    }

    // A request a sink made before a stop reaches the session only after the next start (its event
    // loop was behind), before the clock started the sink. The sample that answers it, the first
    // of the start (after a seek: the key frame a decoder needs), must not be lost to the refusal.
    void keepsTheSampleASinkRefusesBeforeItStarts()
    {
        CComPtr<IMFMediaType> type = nv12MediaType(64, 36, 25, 1);
        LiveSourceParts parts = createLiveSource(type, {});
        CComPtr<LateStartSink> sink;
        sink.Attach(new LateStartSink);
        SessionCore::Route route = routeTo(parts.source, sink, type);
        QVERIFY(route.descriptor);

        auto core = std::make_shared<SessionCore>();
        sink->raiseStaleRequest();
        QCOMPARE(core->start({route}, 0, true, 1.0f), S_OK);
        QVector<LONGLONG> delivered;
        for (int i = 0; i < 3; ++i) {
            CComPtr<IMFSample> sample = sampleFromFrame(Nv12Frame::create(64, 36));
            QVERIFY(sample);
            sample->SetSampleTime(i * 400000);
            QVERIFY(parts.feed->deliverStamped(sample));
            delivered.append(i * 400000);
            if (i == 0)
                QTRY_COMPARE_WITH_TIMEOUT(sink->refused(), 1, 20000);
        }
        sink->letStart();
        QTRY_COMPARE_WITH_TIMEOUT(sink->accepted().size(), 3, 20000);
        QCOMPARE(sink->accepted(), delivered);
        QCOMPARE(core->missedSamples(), 0);
        core->shutdown();
        parts.source->Shutdown();
        sink->Shutdown();
    }

    // A sink that fails every sample (a full disk under a recorder): every error reaches the handler
    // and the count, but the log gets the first at once and then one line a second with the count.
    void repeatedSinkErrorsAreCountedAndLoggedOnceASecond()
    {
        static QStringList warnings;
        warnings.clear();
        const QtMessageHandler previous =
            qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &text) {
                if (type == QtWarningMsg && text.startsWith(QLatin1String("Media error")))
                    warnings << text;
            });
        const auto restore = qScopeGuard([previous] { qInstallMessageHandler(previous); });
        CComPtr<IMFMediaType> type = nv12MediaType(64, 36, 25, 1);
        LiveSourceParts parts = createLiveSource(type, {});
        CComPtr<LateStartSink> sink;
        sink.Attach(new LateStartSink);
        SessionCore::Route route = routeTo(parts.source, sink, type);
        QVERIFY(route.descriptor);
        auto core = std::make_shared<SessionCore>();
        std::atomic<int> handled{0};
        core->setErrorHandler([&handled](HRESULT hr) {
            if (hr == HRESULT(0x80070070))
                ++handled;
        });
        QCOMPARE(core->start({route}, 0, true, 1.0f), S_OK);
        QElapsedTimer timer;
        timer.start();
        constexpr int Errors = 250; // 2.5 s of frames refused at 100 a second
        for (int i = 0; i < Errors; ++i) {
            sink->QueueEvent(MEError, GUID_NULL, HRESULT(0x80070070), nullptr);
            QTest::qWait(10);
        }
        QTRY_COMPARE_WITH_TIMEOUT(core->sinkErrors(), Errors, 20000);
        QCOMPARE(handled.load(), Errors);
        const qint64 seconds = timer.elapsed() / 1000;
        QCoreApplication::processEvents();
        QVERIFY2(!warnings.isEmpty() && warnings.size() <= seconds + 2, qPrintable(warnings.join('\n')));
        QVERIFY2(warnings.first().contains(QLatin1String("80070070")), qPrintable(warnings.first()));
        // The lines after the first say how many errors they stand for; together with the first,
        // every error is accounted for.
        int accounted = 1;
        for (const QString &line : warnings.mid(1)) {
            const QRegularExpressionMatch m =
                QRegularExpression(QStringLiteral("(\\d+) errors since")).match(line);
            QVERIFY2(m.hasMatch(), qPrintable(line));
            accounted += m.captured(1).toInt();
        }
        QVERIFY2(warnings.size() >= 2, "2.5 s of errors give a second line");
        QVERIFY(accounted <= Errors && accounted > Errors - 120);
        core->shutdown();
        parts.source->Shutdown();
        sink->Shutdown();
    }
};

QTEST_GUILESS_MAIN(tst_MediaSession)
#include "tst_mediasession.moc"
