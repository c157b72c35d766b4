// VideoOutput in a real window under a media session: the running line shows up on screen (its
// pixels in the grabbed window, letterboxed to the frame's aspect), and keeps moving.
#include "multimedia/engines/runningline.h"
#include "multimedia/mediasession.h"
#include "multimedia/nodes/videooutputnode.h"

#include <QQmlEngine>
#include <QQuickView>
#include <QtTest>

using namespace nyx::multimedia;

namespace {
// Column of the brightest pixel in a row, and whether the rest of the row is the line's dark
// background (luma 40 is about 28 in full-range RGB).
struct Row
{
    int brightest = -1;
    bool backgroundElsewhere = false;
};

Row inspect(const QImage &image, int y, int left, int right)
{
    Row r;
    int best = -1, dark = 0, count = 0;
    for (int x = left; x < right; ++x, ++count) {
        const int g = qGreen(image.pixel(x, y));
        if (g > best) {
            best = g;
            r.brightest = x;
        }
        dark += qAbs(g - 28) <= 8;
    }
    r.backgroundElsewhere = best > 200 && dark >= count - 12;
    return r;
}
} // namespace

class tst_VideoOutputNode : public QObject
{
    Q_OBJECT
private slots:
    void showsTheSessionsVideo()
    {
        QQuickView view;
        view.engine()->addImportPath(qEnvironmentVariable("TUNDRA_BIN_DIR") + QStringLiteral("/plugins"));
        view.setColor(Qt::black);
        QQmlComponent component(view.engine());
        component.setData("import QtQuick 2.0\nimport Multimedia 1.0\n"
                          "Item { width: 640; height: 480\n"
                          "  property alias video: video\n  property alias session: session\n"
                          "  VideoOutput { id: video; anchors.fill: parent }\n"
                          "  MediaSession { id: session; autoPlay: true\n"
                          "    RunningLineSource { id: src; frameSize: Qt.size(320, 180) }\n"
                          "    NodeConnection { from: src.output; to: video.videoInput } } }",
                          QUrl());
        QObject *root = component.create();
        QVERIFY2(root, qPrintable(component.errorString()));
        auto *rootItem = qobject_cast<QQuickItem *>(root);
        rootItem->setParentItem(view.contentItem());
        view.resize(640, 480);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        auto *video = root->property("video").value<VideoOutputNodeItem *>();
        auto *session = root->property("session").value<MediaSession *>();
        QVERIFY(video && session);
        QTRY_VERIFY_WITH_TIMEOUT(session->isPlaying(), 20000);
        QTRY_VERIFY_WITH_TIMEOUT(video->framesPresented() >= 10, 20000);
        QCOMPARE(video->frameSize(), QSize(320, 180));

        // 16:9 in 640x480: rows 60..419 carry the picture, the bands above and below stay black.
        QList<int> positions;
        for (int shot = 0; shot < 3; ++shot) {
            const QImage image = view.grabWindow();
            const Row row = inspect(image, image.height() / 2, 0, image.width());
            QVERIFY2(row.backgroundElsewhere,
                     qPrintable(QStringLiteral("shot %1: no running line").arg(shot)));
            QCOMPARE(qGreen(image.pixel(320, 20)), 0);
            QCOMPARE(qGreen(image.pixel(320, 460)), 0);
            positions << row.brightest;
            const int presented = video->framesPresented();
            QTRY_VERIFY_WITH_TIMEOUT(video->framesPresented() >= presented + 3, 20000);
        }
        // The line moves (the source crosses the picture every two seconds).
        QVERIFY2(
            positions[0] != positions[1] || positions[1] != positions[2],
            qPrintable(QStringLiteral("%1 %2 %3").arg(positions[0]).arg(positions[1]).arg(positions[2])));
        session->stop();
        delete root;
    }
};

QTEST_MAIN(tst_VideoOutputNode)
#include "tst_videooutputnode.moc"
