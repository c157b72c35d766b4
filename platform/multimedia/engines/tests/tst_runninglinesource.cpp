// The running-line source: frames of the asked size at the asked rate, stamped from the clock, the
// line moving across the picture.
#include "multimedia/engines/runninglinesource.h"

#include <QtTest>

#include <mutex>

using namespace nyx::multimedia;

class tst_RunningLineSource : public QObject
{
    Q_OBJECT
private slots:
    void frames_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<int>("num");
        QTest::addColumn<int>("den");
        QTest::addColumn<qint64>("duration");
        QTest::newRow("1080p25") << 1920 << 1080 << 25 << 1 << qint64(400000);
        QTest::newRow("720p50") << 1280 << 720 << 50 << 1 << qint64(200000);
        QTest::newRow("NTSC") << 720 << 480 << 30000 << 1001 << qint64(333666);
    }
    void frames()
    {
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(int, num);
        QFETCH(int, den);
        QFETCH(qint64, duration);
        const qint64 origin = 5000000;
        VirtualMediaClock clock(origin);
        RunningLineSource source(width, height, num, den, &clock);
        QVERIFY(source.isValid());
        std::mutex mutex;
        QVector<qint64> times;
        QVector<int> lineAt;
        QVector<QSize> sizes;
        const qint64 end = origin + 4 * 10000000LL;
        QVERIFY(source.start([&](const Nv12Frame &f) {
            if (f.time >= end)
                return;
            // Where the line is: the brightest column of the middle row.
            const uchar *row = f.y() + qsizetype(f.height / 2) * f.width;
            const int x = int(std::max_element(row, row + f.width) - row);
            std::lock_guard<std::mutex> lock(mutex);
            sizes.append(QSize(f.width, f.height));
            times.append(f.time);
            lineAt.append(x);
        }));
        QTRY_VERIFY_WITH_TIMEOUT(clock.now() > end, 60000);
        source.stop();
        std::lock_guard<std::mutex> lock(mutex);
        QCOMPARE(times.size(), int((end - origin + duration - 1) / duration));
        for (int i = 0; i < times.size(); ++i) {
            QCOMPARE(times[i], origin + i * duration);
            QCOMPARE(sizes[i], QSize(width, height));
            QCOMPARE(lineAt[i], source.line().lineX(i));
        }
        // The line crosses the picture in two seconds: it covers most of the width.
        QVERIFY(*std::max_element(lineAt.begin(), lineAt.end()) > width * 9 / 10);
        QCOMPARE(source.pacer().framesSkipped(), 0);
    }

    void invalid()
    {
        RunningLineSource bad(1921, 1080, 25, 1);
        QVERIFY(!bad.isValid());
        QVERIFY(!bad.start([](const Nv12Frame &) {}));
        RunningLineSource noRate(1920, 1080, 0, 1);
        QVERIFY(!noRate.start([](const Nv12Frame &) {}));
    }
};

QTEST_APPLESS_MAIN(tst_RunningLineSource)
#include "tst_runninglinesource.moc"
