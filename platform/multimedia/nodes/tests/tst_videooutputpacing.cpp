// VideoOutput paces a replay by the session's clock: a 2 s clip (50 frames, 40 ms apart, handed out
// as fast as the output asks, like a recording read from the archive) takes about 2 s at rate 1 and
// about half of that at rate 2, and every frame reaches the item.
#include "clipsourcenode.h"
#include "multimedia/mediasession.h"
#include "multimedia/nodes/mfframes.h"
#include "multimedia/nodes/videooutputnode.h"

#include <QElapsedTimer>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickView>
#include <QtTest>

using namespace nyx::multimedia;

class tst_VideoOutputPacing : public QObject
{
    Q_OBJECT

    // Milliseconds from the start of play until every frame of the clip reached the item.
    qint64 playClip(double rate)
    {
        constexpr int Frames = 50;
        QVector<CComPtr<IMFSample>> samples;
        for (int i = 0; i < Frames; ++i) {
            Nv12Frame frame = Nv12Frame::create(320, 240);
            frame.fill(uchar(16 + i * 4), 128, 128);
            frame.time = i * 400000LL;
            frame.duration = 400000;
            samples.append(sampleFromFrame(frame));
        }
        QQuickView view;
        view.engine()->addImportPath(qEnvironmentVariable("TUNDRA_BIN_DIR") + QStringLiteral("/plugins"));
        view.setResizeMode(QQuickView::SizeRootObjectToView);
        view.resize(320, 240);
        view.setSource(QUrl(QStringLiteral("data:")));
        QQmlComponent component(view.engine());
        component.setData(QByteArray("import QtQuick 2.12\nimport Multimedia 1.0\nimport PacingTest 1.0\n"
                                     "Item { anchors.fill: parent\n"
                                     "  property alias session: session; property alias clip: src; "
                                     "property alias output: out\n"
                                     "  VideoOutput { id: out; anchors.fill: parent }\n"
                                     "  MediaSession { id: session; autoPlay: true; rate: ") +
                              QByteArray::number(rate) +
                              "\n    ClipSource { id: src }\n"
                              "    NodeConnection { from: src.output; to: out.videoInput } } }",
                          QUrl());
        QQuickItem *root = qobject_cast<QQuickItem *>(component.create());
        if (!root) {
            qWarning() << component.errorString();
            return -1;
        }
        root->setParentItem(view.contentItem());
        view.show();
        if (!QTest::qWaitForWindowExposed(&view))
            return -1;
        auto *session = root->property("session").value<MediaSession *>();
        auto *output = root->property("output").value<VideoOutputNodeItem *>();
        QElapsedTimer timer;
        root->property("clip").value<ClipSourceNode *>()->setClip(nv12MediaType(320, 240, 25, 1), samples);
        // Playing begins once the clip's output is bound.
        if (!QTest::qWaitFor([&] { return session->isPlaying(); }, 20000))
            return -1;
        timer.start();
        const bool all = QTest::qWaitFor(
            [&] { return output->framesPresented() + output->framesDropped() >= Frames; }, 30000);
        const qint64 elapsed = timer.elapsed();
        qInfo() << "rate" << rate << ":" << elapsed << "ms," << output->framesPresented() << "shown,"
                << output->framesDropped() << "dropped";
        delete root;
        return all ? elapsed : -1;
    }

private slots:
    void initTestCase() { qmlRegisterType<ClipSourceNode>("PacingTest", 1, 0, "ClipSource"); }

    void playsAtTheClocksRate()
    {
        const qint64 normal = playClip(1.0);
        QVERIFY2(normal >= 1500 && normal <= 6000, qPrintable(QString::number(normal)));
        const qint64 doubled = playClip(2.0);
        QVERIFY2(doubled >= 700 && doubled < normal * 3 / 4, qPrintable(QString::number(doubled)));
    }
};

QTEST_MAIN(tst_VideoOutputPacing)
#include "tst_videooutputpacing.moc"
