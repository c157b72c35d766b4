// The frame pacer on a clock the test moves: a thread held up inside a slot makes up the slots it
// missed afterwards, each stamped with its own time, up to the catch-up window; older ones are
// skipped and counted, once per stall.
#include "multimedia/engines/framepacer.h"

#include <QtTest>

#include <mutex>

using namespace nyx::multimedia;

namespace {
constexpr qint64 kDuration = 400000; // 25 fps
constexpr qint64 kOrigin = 638000000000000000;
constexpr int kSlots = 400;
// Stalls as {slot whose making is held up, ms held up}.
using Stalls = QList<QPair<int, int>>;
} // namespace

class tst_FramePacer : public QObject
{
    Q_OBJECT
private slots:
    void catchUp_data()
    {
        QTest::addColumn<Stalls>("stalls");
        QTest::addColumn<QList<int>>("lost");
        QTest::addColumn<int>("stallsCounted");
        QTest::newRow("none") << Stalls{} << QList<int>{} << 0;
        QTest::newRow("a frame late") << Stalls{{10, 50}} << QList<int>{} << 0;
        QTest::newRow("a second") << Stalls{{10, 1000}} << QList<int>{} << 0;
        // Slot 10 ends 51 slots after its own time: slot 11 is then exactly the window behind.
        QTest::newRow("the window") << Stalls{{10, 2040}} << QList<int>{} << 0;
        // Held up a frame more: the oldest slot after the stall is the one given up.
        QTest::newRow("a frame beyond") << Stalls{{10, 2080}} << QList<int>{11} << 1;
        QTest::newRow("three seconds")
            << Stalls{{10, 3000}} << QList<int>{11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22,
                                                23, 24, 25, 26, 27, 28, 29, 30, 31, 32, 33, 34}
            << 1;
        // Two stalls, the second while the first is still being made up: one stall, counted once.
        QTest::newRow("stall during catch-up")
            << Stalls{{10, 2080}, {30, 1000}} << QList<int>{11, 31, 32, 33, 34, 35, 36} << 1;
        QTest::newRow("two stalls") << Stalls{{10, 2120}, {200, 2120}} << QList<int>{11, 12, 201, 202} << 2;
    }
    void catchUp()
    {
        QFETCH(Stalls, stalls);
        QFETCH(QList<int>, lost);
        QFETCH(int, stallsCounted);
        VirtualMediaClock clock(kOrigin);
        FramePacer pacer(&clock, kDuration);
        std::mutex mutex;
        QVector<qint64> times;
        QVector<qint64> madeAt;    // the clock's time when each frame was made
        QVector<qint64> durations; // stamped durations other than the frame duration
        QVERIFY(pacer.start(
            [&](qint64 slot, qint64 time) {
                if (slot >= kSlots) {
                    clock.wake();
                    return Nv12Frame();
                }
                Nv12Frame frame = Nv12Frame::create(16, 16);
                frame.time = time + 1; // the pacer stamps it, whatever the producer says
                {
                    std::lock_guard<std::mutex> lock(mutex);
                    madeAt.append(clock.now());
                }
                for (const auto &stall : stalls)
                    if (slot == stall.first)
                        clock.advance(stall.second * 10000LL);
                return frame;
            },
            [&](const Nv12Frame &frame) {
                std::lock_guard<std::mutex> lock(mutex);
                times.append(frame.time);
                if (frame.duration != kDuration)
                    durations.append(frame.duration);
            }));
        QTRY_VERIFY_WITH_TIMEOUT(times.size() + pacer.framesSkipped() >= kSlots, 60000);
        pacer.stop();

        QVector<qint64> expected;
        for (int slot = 0; slot < kSlots; ++slot)
            if (!lost.contains(slot))
                expected.append(kOrigin + slot * kDuration);
        QCOMPARE(times, expected);
        QCOMPARE(pacer.framesSkipped(), qint64(lost.size()));
        QCOMPARE(pacer.framesDelivered(), qint64(expected.size()));
        QCOMPARE(pacer.stalls(), qint64(stallsCounted));
        // No frame is made before its slot is due; after a stall the missed ones come at once.
        for (int i = 0; i < times.size(); ++i)
            QVERIFY(madeAt[i] >= times[i]);
        QVERIFY(durations.isEmpty());
    }
};

QTEST_GUILESS_MAIN(tst_FramePacer)
#include "tst_framepacer.moc"
