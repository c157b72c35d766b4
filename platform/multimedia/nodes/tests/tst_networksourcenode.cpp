// The network source node in a media session: a file:// MP4 written here with libavformat plays
// into a sink picture for picture (the encoder's own NAL units, key frames as clean points, times
// from the clip's start); an unusable URL or a named pipe is an error status.
#include "cliptools.h"
#include "collectornode.h"
#include "h264testdecoder.h"
#include "multimedia/mediasession.h"

#include "testenvironment.h"

#include <QElapsedTimer>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QtTest>

#include <sys/stat.h>

using namespace nyx::multimedia;

class tst_NetworkSourceNode : public QObject
{
    Q_OBJECT
private:
    QQmlEngine *m_engine = nullptr;

    QObject *create(const QByteArray &qml)
    {
        QQmlComponent component(m_engine);
        component.setData("import QtQml 2.2\nimport Multimedia 1.0\nimport NetworkTest 1.0\n" + qml, QUrl());
        QObject *object = component.create();
        if (!object)
            qWarning().noquote() << component.errorString();
        return object;
    }

private slots:
    void initTestCase()
    {
        qmlRegisterType<CollectorNode>("NetworkTest", 1, 0, "Collector");
        m_engine = new QQmlEngine(this);
        m_engine->addImportPath(qEnvironmentVariable("TUNDRA_BIN_DIR") + QStringLiteral("/plugins"));
    }

    void clipFrameForFrame()
    {
        const QVector<H264Packet> clip = test::encodeClip(60);
        QCOMPARE(clip.size(), 60);
        const QString path =
            tundra::test::freshDir(QStringLiteral("clips")) + QStringLiteral("/camera 1.mp4");
        QVERIFY(test::writeClip(path, "mp4", clip));
        std::unique_ptr<QObject> session(create(
            "MediaSession { autoPlay: true; property alias collector: sink; property alias source: src\n"
            "  NetworkSource { id: src; url: \"" +
            QUrl::fromLocalFile(path).toEncoded() +
            "\" }\n"
            "  Collector { id: sink }\n"
            "  NodeConnection { from: src.output; to: sink.input } }"));
        QVERIFY(session);
        auto *collector = session->property("collector").value<CollectorNode *>();
        QTRY_VERIFY_WITH_TIMEOUT(collector->received().size() >= clip.size(), 30000);
        QTest::qWait(200); // nothing beyond the clip arrives
        const QVector<CollectorNode::Received> got = collector->received();
        QCOMPARE(got.size(), clip.size());
        // The clip's end ends the segment.
        QTRY_COMPARE_WITH_TIMEOUT(collector->segmentEnds(), 1, 10000);
        for (int i = 0; i < got.size(); ++i) {
            QVERIFY2(test::nalUnits(got[i].bytes) == test::nalUnits(clip[i].data),
                     qPrintable(QStringLiteral("picture %1").arg(i)));
            QCOMPARE(got[i].cleanPoint, clip[i].keyFrame);
            QVERIFY(qAbs(got[i].time - (clip[i].time - clip[0].time)) <= 10000);
        }
    }

    void badUrl()
    {
        std::unique_ptr<QObject> session(create("MediaSession { property alias source: src\n"
                                                "  NetworkSource { id: src; url: \"ftp://127.0.0.1/x\" } }"));
        QVERIFY(session);
        auto *source = session->property("source").value<QObject *>();
        QTRY_COMPARE_WITH_TIMEOUT(source->property("status").toInt(), 4, 10000);
    }

    // Opening a named pipe would hold the engine's thread until a writer came, and the node's
    // teardown with it: the node says why it fails and its session goes at once.
    void namedPipe()
    {
        const QString path = tundra::test::freshDir(QStringLiteral("pipe")) + QStringLiteral("/camera 2");
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression(QStringLiteral("camera 2 is a named pipe, not a "
                                                               "regular file")));
        std::unique_ptr<QObject> session(create("MediaSession { autoPlay: true; property alias source: src\n"
                                                "  NetworkSource { id: src; url: \"" +
                                                QUrl::fromLocalFile(path).toEncoded() + "\" } }"));
        QVERIFY(session);
        auto *source = session->property("source").value<QObject *>();
        QTRY_COMPARE_WITH_TIMEOUT(source->property("status").toInt(), 4, 10000);
        QElapsedTimer timer;
        timer.start();
        session.reset();
        QVERIFY2(timer.elapsed() < 5000, qPrintable(QString::number(timer.elapsed())));
    }
};

QTEST_MAIN(tst_NetworkSourceNode)
#include "tst_networksourcenode.moc"
