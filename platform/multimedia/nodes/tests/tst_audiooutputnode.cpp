// AudioOutput takes audio at the session clock's pace: 2 s of 48 kHz PCM, handed out as fast as it
// is asked for, takes about 2 s at rate 1 and about half of that at rate 2, every buffer accounted for.
#include "clipsourcenode.h"
#include "multimedia/mediasession.h"
#include "multimedia/nodes/audiooutputnode.h"
#include "multimedia/nodes/mfframes.h"

#include <QElapsedTimer>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QtTest>

using namespace nyx::multimedia;

class tst_AudioOutputNode : public QObject
{
    Q_OBJECT

    static constexpr int Buffers = 50; // 40 ms each

    // Milliseconds from the start of play until the output took every buffer; -1 on failure.
    qint64 play(double rate, int *played)
    {
        QVector<CComPtr<IMFSample>> samples;
        for (int i = 0; i < Buffers; ++i) {
            QByteArray pcm(1920 * 2 * 2, '\0'); // 1920 stereo 16-bit frames
            for (int k = 0; k < pcm.size(); k += 2)
                pcm[k] = char(i + k);
            samples.append(sampleFromBytes(pcm, i * 400000LL, 400000));
        }
        QQmlEngine engine;
        engine.addImportPath(qEnvironmentVariable("TUNDRA_BIN_DIR") + QStringLiteral("/plugins"));
        QQmlComponent component(&engine);
        component.setData(QByteArray("import QtQml 2.2\nimport Multimedia 1.0\nimport AudioTest 1.0\n"
                                     "MediaSession { autoPlay: true; property alias clip: src; "
                                     "property alias output: out; rate: ") +
                              QByteArray::number(rate) +
                              "\n  ClipSource { id: src }\n  AudioOutput { id: out }\n"
                              "  NodeConnection { from: src.output; to: out.input } }",
                          QUrl());
        std::unique_ptr<QObject> object(component.create());
        if (!object) {
            qWarning() << component.errorString();
            return -1;
        }
        auto *session = qobject_cast<MediaSession *>(object.get());
        auto *output = object->property("output").value<AudioOutputNode *>();
        object->property("clip").value<ClipSourceNode *>()->setClip(pcmMediaType(48000, 2), samples);
        if (!QTest::qWaitFor([&] { return session->isPlaying(); }, 20000))
            return -1;
        QElapsedTimer timer;
        timer.start();
        const bool all = QTest::qWaitFor(
            [&] { return output->buffersPlayed() + output->buffersDropped() >= Buffers; }, 30000);
        const qint64 elapsed = timer.elapsed();
        *played = output->buffersPlayed();
        qInfo() << "rate" << rate << ":" << elapsed << "ms," << *played << "played";
        return all ? elapsed : -1;
    }

private slots:
    void initTestCase() { qmlRegisterType<ClipSourceNode>("AudioTest", 1, 0, "ClipSource"); }

    void consumesAtTheClocksPace()
    {
        int played = 0;
        const qint64 normal = play(1.0, &played);
        QVERIFY2(normal >= 1500 && normal <= 6000, qPrintable(QString::number(normal)));
        // Handed out as asked for, none comes late on an unloaded run; allow a few on a busy machine.
        QVERIFY(played >= Buffers - 5);
        const qint64 doubled = play(2.0, &played);
        QVERIFY2(doubled >= 700 && doubled < normal * 3 / 4, qPrintable(QString::number(doubled)));
    }
};

QTEST_MAIN(tst_AudioOutputNode)
#include "tst_audiooutputnode.moc"
