// The time strip: values round-trip through the picture, and pictures without one read as nothing.
#include "multimedia/engines/runningline.h"
#include "multimedia/engines/timestrip.h"

#include <QtTest>

using namespace nyx::multimedia;

class tst_TimeStrip : public QObject
{
    Q_OBJECT
private slots:
    void roundTrip_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<quint64>("value");
        QTest::newRow("1080p zero") << 1920 << 1080 << quint64(0);
        QTest::newRow("1080p all ones") << 1920 << 1080 << ~quint64(0);
        QTest::newRow("1080p alternating") << 1920 << 1080 << quint64(0xAAAA5555AAAA5555ull);
        QTest::newRow("1080p time") << 1920 << 1080 << quint64(135000000000000000ull);
        QTest::newRow("360p msb") << 640 << 360 << (quint64(1) << 63);
        QTest::newRow("smallest") << 256 << 64 << quint64(0x0123456789abcdefull);
        QTest::newRow("odd block width") << 1000 << 200 << quint64(0xfedcba9876543210ull);
    }
    void roundTrip()
    {
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(quint64, value);
        // Drawn over a busy picture, not a blank one: the running line crosses the strip.
        RunningLine line(width, height, 25, 1);
        Nv12Frame frame = line.frame(7);
        TimeStrip::draw(frame, value);
        const auto read = TimeStrip::read(frame);
        QVERIFY(read.has_value());
        QCOMPARE(*read, value);
        // The strip stays inside the picture, and its chroma is neutral.
        const QRect area = TimeStrip::area(width, height);
        QVERIFY(QRect(0, 0, width, height).contains(area));
        QCOMPARE(int(frame.uv()[area.left()]), 128);
    }

    void noStrip_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<int>("luma");
        QTest::newRow("mid grey") << 1920 << 1080 << 128;
        QTest::newRow("dark grey") << 1920 << 1080 << 40;
        QTest::newRow("light grey") << 1920 << 1080 << 190;
        QTest::newRow("too small") << 200 << 64 << 16;
        QTest::newRow("too flat") << 640 << 40 << 16;
    }
    void noStrip()
    {
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(int, luma);
        Nv12Frame frame = Nv12Frame::create(width, height);
        frame.fill(uchar(luma), 128, 128);
        QVERIFY(!TimeStrip::read(frame).has_value());
    }
};

QTEST_APPLESS_MAIN(tst_TimeStrip)
#include "tst_timestrip.moc"
