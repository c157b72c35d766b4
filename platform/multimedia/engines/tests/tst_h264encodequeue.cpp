// The encoder behind its queue, with real libx264: pictures handed over while the encoder is held up
// come out afterwards, in order, each with its own time and decodable; beyond the queue's limit they
// are dropped and counted; a reset starts the stream over with a key frame.
#include "h264testdecoder.h"
#include "multimedia/engines/h264encodequeue.h"
#include "multimedia/engines/runningline.h"

#include <QtTest>

#include <condition_variable>
#include <mutex>

using namespace nyx::multimedia;
using nyx::multimedia::test::H264TestDecoder;

namespace {
constexpr int kWidth = 320;
constexpr int kHeight = 180;

// The delivered packets, and a gate that holds the encoder's thread inside a delivery.
struct Collector
{
    std::mutex mutex;
    std::condition_variable changed;
    QVector<H264Packet> packets;
    bool gateClosed = false;
    bool waitingAtGate = false;

    H264EncodeQueue::Deliver deliver()
    {
        return [this](const QVector<H264Packet> &delivered) {
            std::unique_lock<std::mutex> lock(mutex);
            packets += delivered;
            waitingAtGate = gateClosed;
            changed.notify_all();
            changed.wait(lock, [this] { return !gateClosed; });
            waitingAtGate = false;
        };
    }
    void open()
    {
        std::lock_guard<std::mutex> lock(mutex);
        gateClosed = false;
        changed.notify_all();
    }
    bool waitFor(const std::function<bool()> &done)
    {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(60), done);
    }
};

H264EncoderSettings settings()
{
    H264EncoderSettings s;
    s.width = kWidth;
    s.height = kHeight;
    s.preset = QStringLiteral("ultrafast");
    s.bitRate = 1000000;
    return s;
}

Nv12Frame frame(RunningLine &line, int index)
{
    Nv12Frame f = line.frame(index);
    f.time = 1000000 + qint64(index) * 400000;
    f.duration = 400000;
    return f;
}
} // namespace

class tst_H264EncodeQueue : public QObject
{
    Q_OBJECT
private slots:
    void heldUp_data()
    {
        QTest::addColumn<int>("limit");
        QTest::addColumn<int>("handedOver"); // while the encoder is held up
        QTest::newRow("within the limit") << 50 << 40;
        QTest::newRow("exactly the limit") << 10 << 10;
        QTest::newRow("beyond the limit") << 10 << 16;
    }
    void heldUp()
    {
        QFETCH(int, limit);
        QFETCH(int, handedOver);
        RunningLine line(kWidth, kHeight, 25, 1);
        Collector collector;
        collector.gateClosed = true;
        H264EncodeQueue queue(settings(), limit, collector.deliver());
        // Picture 0 is encoded and its delivery held: the encoder's thread is busy with nothing waiting.
        QCOMPARE(queue.push(frame(line, 0)), H264EncodeQueue::Result::Queued);
        QVERIFY(collector.waitFor([&] { return collector.waitingAtGate; }));
        QVector<qint64> expected{frame(line, 0).time};
        for (int i = 1; i <= handedOver; ++i) {
            const bool fits = i <= limit;
            QCOMPARE(queue.push(frame(line, i)),
                     fits ? H264EncodeQueue::Result::Queued : H264EncodeQueue::Result::Dropped);
            if (fits)
                expected.append(frame(line, i).time);
        }
        QCOMPARE(queue.waiting(), qMin(limit, handedOver));
        QCOMPARE(queue.dropped(), qint64(qMax(0, handedOver - limit)));
        collector.open();
        QVERIFY(collector.waitFor([&] { return collector.packets.size() == expected.size(); }));
        QCOMPARE(queue.mostWaiting(), qMin(limit, handedOver));

        // Every kept picture, in order, with its own time, decoding to its own content.
        H264TestDecoder decoder;
        QVector<qint64> times;
        int decoded = 0;
        for (const H264Packet &p : collector.packets) {
            times.append(p.time);
            decoded += decoder.decode(p).size();
        }
        decoded += decoder.flush().size();
        QCOMPARE(times, expected);
        QCOMPARE(decoded, expected.size());
        QVERIFY(collector.packets.first().keyFrame);
    }

    // A reset forgets what waits (counted) and starts the stream over with a key frame.
    void reset()
    {
        RunningLine line(kWidth, kHeight, 25, 1);
        Collector collector;
        H264EncodeQueue queue(settings(), 50, collector.deliver());
        for (int i = 0; i < 5; ++i)
            QCOMPARE(queue.push(frame(line, i)), H264EncodeQueue::Result::Queued);
        QVERIFY(collector.waitFor([&] { return collector.packets.size() == 5; }));
        {
            std::lock_guard<std::mutex> lock(collector.mutex);
            collector.gateClosed = true;
        }
        QCOMPARE(queue.push(frame(line, 5)), H264EncodeQueue::Result::Queued);
        QVERIFY(collector.waitFor([&] { return collector.waitingAtGate; }));
        QCOMPARE(queue.push(frame(line, 6)), H264EncodeQueue::Result::Queued); // waits, then is forgotten
        // The gate opens once the reset has forgotten picture 6 (the thread cannot take it meanwhile).
        std::thread opener([&] {
            while (queue.waiting() != 0)
                QThread::msleep(1);
            collector.open();
        });
        queue.reset(); // returns once picture 5 is through
        opener.join();
        QCOMPARE(queue.waiting(), 0);
        QCOMPARE(queue.push(frame(line, 7)), H264EncodeQueue::Result::Queued);
        QVERIFY(collector.waitFor([&] { return collector.packets.size() == 7; }));
        QCOMPARE(collector.packets[5].time, frame(line, 5).time);
        QVERIFY(!collector.packets[5].keyFrame);
        QCOMPARE(collector.packets[6].time, frame(line, 7).time);
        QVERIFY(collector.packets[6].keyFrame);
        QCOMPARE(queue.dropped(), qint64(1)); // picture 6
    }

    // A picture the encoder cannot take fails the queue until a reset.
    void failure()
    {
        Collector collector;
        H264EncodeQueue queue(settings(), 4, collector.deliver());
        RunningLine wrong(kWidth / 2, kHeight / 2, 25, 1);
        QCOMPARE(queue.push(frame(wrong, 0)), H264EncodeQueue::Result::Queued);
        QTRY_VERIFY_WITH_TIMEOUT(!queue.errorString().isEmpty(), 30000);
        RunningLine line(kWidth, kHeight, 25, 1);
        QCOMPARE(queue.push(frame(line, 1)), H264EncodeQueue::Result::Failed);
        queue.reset();
        QCOMPARE(queue.push(frame(line, 2)), H264EncodeQueue::Result::Queued);
        QVERIFY(collector.waitFor([&] { return collector.packets.size() == 1; }));
        QVERIFY(collector.packets.first().keyFrame);
    }
};

QTEST_GUILESS_MAIN(tst_H264EncodeQueue)
#include "tst_h264encodequeue.moc"
