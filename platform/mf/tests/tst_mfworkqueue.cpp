#include "mftesthelpers.h"

#include <QtTest>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

using mftest::FunctionCallback;

namespace {
// Counts down from the work items; the test thread waits with a generous limit.
class Latch
{
public:
    explicit Latch(int count) : m_count(count) {}
    void countDown()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (--m_count <= 0)
            m_done.notify_all();
    }
    bool wait(int ms = 10000)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_done.wait_for(lock, std::chrono::milliseconds(ms), [&] { return m_count <= 0; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_done;
    int m_count;
};
} // namespace

class tst_MfWorkQueue : public QObject
{
    Q_OBJECT

private slots:
    void serialQueueKeepsOrderAndRunsOneAtATime();
    void standardQueueRunsConcurrently();
    void unlockDrainsThenRefuses();
    void stateAndObjectReachTheCallback();
    void invokeCallbackUsesItsQueue();
    void scheduledItemWaitsItsDelay();
    void cancelledItemNeverRuns();
};

// Items put from several threads run one at a time, each thread's in its order, all on one thread.
void tst_MfWorkQueue::serialQueueKeepsOrderAndRunsOneAtATime()
{
    DWORD queue = 0;
    QCOMPARE(MFAllocateWorkQueue(&queue), S_OK);
    constexpr int kThreads = 4, kItems = 250;
    std::atomic<int> active{0}, overlaps{0}, putFailures{0};
    std::mutex mutex;
    std::vector<std::vector<int>> seen(kThreads);
    std::vector<std::thread::id> threads;
    Latch done(kThreads * kItems);
    std::vector<std::thread> producers;
    for (int t = 0; t < kThreads; ++t) {
        producers.emplace_back([&, t] {
            for (int i = 0; i < kItems; ++i) {
                auto callback = FunctionCallback::create([&, t, i](IMFAsyncResult *) {
                    if (++active > 1)
                        ++overlaps;
                    {
                        std::lock_guard<std::mutex> lock(mutex);
                        seen[t].push_back(i);
                        threads.push_back(std::this_thread::get_id());
                    }
                    --active;
                    done.countDown();
                });
                if (FAILED(MFPutWorkItem(queue, callback, nullptr)))
                    ++putFailures;
            }
        });
    }
    for (auto &p : producers)
        p.join();
    QCOMPARE(putFailures.load(), 0);
    QVERIFY(done.wait());
    QCOMPARE(overlaps.load(), 0);
    for (int t = 0; t < kThreads; ++t) {
        QCOMPARE(int(seen[t].size()), kItems);
        QVERIFY(std::is_sorted(seen[t].begin(), seen[t].end()));
    }
    QVERIFY(std::all_of(threads.begin(), threads.end(), [&](auto id) { return id == threads.front(); }));
    QCOMPARE(MFUnlockWorkQueue(queue), S_OK);
}

// Two items on the standard queue each wait for the other to start: only concurrency ends them.
void tst_MfWorkQueue::standardQueueRunsConcurrently()
{
    Latch started(2), done(2);
    auto callback = FunctionCallback::create([&](IMFAsyncResult *) {
        started.countDown();
        if (started.wait())
            done.countDown();
    });
    QCOMPARE(MFPutWorkItem(MFASYNC_CALLBACK_QUEUE_STANDARD, callback, nullptr), S_OK);
    QCOMPARE(MFPutWorkItem(MFASYNC_CALLBACK_QUEUE_MULTITHREADED, callback, nullptr), S_OK);
    QVERIFY(done.wait(20000));
}

// The queue ends only when its last lock goes, after the items it already holds.
void tst_MfWorkQueue::unlockDrainsThenRefuses()
{
    DWORD queue = 0;
    QCOMPARE(MFAllocateWorkQueue(&queue), S_OK);
    QCOMPARE(MFLockWorkQueue(queue), S_OK); // count 2
    std::mutex gate;
    gate.lock(); // holds the first item, so the rest stay queued
    std::atomic<int> ran{0};
    auto blocker = FunctionCallback::create([&](IMFAsyncResult *) {
        std::lock_guard<std::mutex> lock(gate);
        ++ran;
    });
    auto counter = FunctionCallback::create([&](IMFAsyncResult *) { ++ran; });
    QCOMPARE(MFPutWorkItem(queue, blocker, nullptr), S_OK);
    for (int i = 0; i < 50; ++i)
        QCOMPARE(MFPutWorkItem(queue, counter, nullptr), S_OK);
    QCOMPARE(MFUnlockWorkQueue(queue), S_OK);
    QCOMPARE(MFPutWorkItem(queue, counter, nullptr), S_OK); // still locked once
    QCOMPARE(MFUnlockWorkQueue(queue), S_OK);
    QCOMPARE(MFPutWorkItem(queue, counter, nullptr), MF_E_INVALID_WORKQUEUE);
    QCOMPARE(MFLockWorkQueue(queue), MF_E_INVALID_WORKQUEUE);
    gate.unlock();
    QTRY_COMPARE_WITH_TIMEOUT(ran.load(), 52, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(MFUnlockWorkQueue(queue), MF_E_INVALID_WORKQUEUE, 10000);
    QCOMPARE(MFPutWorkItem(0x7FFFFFFF, counter, nullptr), MF_E_INVALID_WORKQUEUE);
}

void tst_MfWorkQueue::stateAndObjectReachTheCallback()
{
    CComPtr<IMFAttributes> state, object;
    MFCreateAttributes(&state, 0);
    MFCreateAttributes(&object, 0);
    std::atomic<IUnknown *> gotState{nullptr}, gotObject{nullptr};
    std::atomic<HRESULT> gotStatus{S_OK};
    Latch done(1);
    auto callback = FunctionCallback::create([&](IMFAsyncResult *result) {
        CComPtr<IUnknown> s, o;
        result->GetState(&s);
        result->GetObject(&o);
        gotState = s.p;
        gotObject = o.p;
        gotStatus = result->GetStatus();
        done.countDown();
    });
    CComPtr<IMFAsyncResult> result;
    QCOMPARE(MFCreateAsyncResult(object, callback, state, &result), S_OK);
    result->SetStatus(E_ABORT);
    QCOMPARE(MFPutWorkItemEx(MFASYNC_CALLBACK_QUEUE_STANDARD, result), S_OK);
    QVERIFY(done.wait());
    QCOMPARE(gotState.load(), static_cast<IUnknown *>(state.p));
    QCOMPARE(gotObject.load(), static_cast<IUnknown *>(object.p));
    QCOMPARE(gotStatus.load(), E_ABORT);
}

void tst_MfWorkQueue::invokeCallbackUsesItsQueue()
{
    DWORD queue = 0;
    QCOMPARE(MFAllocateWorkQueue(&queue), S_OK);
    std::thread::id queueThread, invokedOn;
    Latch first(1), second(1);
    auto probe = FunctionCallback::create([&](IMFAsyncResult *) {
        queueThread = std::this_thread::get_id();
        first.countDown();
    });
    QCOMPARE(MFPutWorkItem(queue, probe, nullptr), S_OK);
    QVERIFY(first.wait());
    auto callback = FunctionCallback::create(
        [&](IMFAsyncResult *) {
            invokedOn = std::this_thread::get_id();
            second.countDown();
        },
        queue);
    CComPtr<IMFAsyncResult> result;
    MFCreateAsyncResult(nullptr, callback, nullptr, &result);
    QCOMPARE(MFInvokeCallback(result), S_OK);
    QVERIFY(second.wait());
    QCOMPARE(invokedOn, queueThread);
    MFUnlockWorkQueue(queue);
}

void tst_MfWorkQueue::scheduledItemWaitsItsDelay()
{
    std::atomic<qint64> ranAt{0};
    Latch done(1);
    auto callback = FunctionCallback::create([&](IMFAsyncResult *) {
        ranAt = MFGetSystemTime();
        done.countDown();
    });
    const MFTIME start = MFGetSystemTime();
    MFWORKITEM_KEY key = 0;
    QCOMPARE(MFScheduleWorkItem(callback, nullptr, -150, &key), S_OK);
    QVERIFY(key != 0);
    QVERIFY(done.wait());
    QVERIFY2(ranAt - start >= 150 * 10000, qPrintable(QString::number(ranAt - start)));
    QCOMPARE(MFCancelWorkItem(key), MF_E_NOT_FOUND); // it has run
}

void tst_MfWorkQueue::cancelledItemNeverRuns()
{
    std::atomic<int> cancelledRuns{0};
    Latch later(1);
    auto cancelled = FunctionCallback::create([&](IMFAsyncResult *) { ++cancelledRuns; });
    auto marker = FunctionCallback::create([&](IMFAsyncResult *) { later.countDown(); });
    MFWORKITEM_KEY key = 0, markerKey = 0;
    QCOMPARE(MFScheduleWorkItem(cancelled, nullptr, -100, &key), S_OK);
    QCOMPARE(MFScheduleWorkItem(marker, nullptr, -300, &markerKey), S_OK);
    QCOMPARE(MFCancelWorkItem(key), S_OK);
    QCOMPARE(MFCancelWorkItem(key), MF_E_NOT_FOUND);
    QVERIFY(later.wait()); // the later item ran, so the cancelled one's time has passed
    QCOMPARE(cancelledRuns.load(), 0);
}

QTEST_GUILESS_MAIN(tst_MfWorkQueue)
#include "tst_mfworkqueue.moc"
