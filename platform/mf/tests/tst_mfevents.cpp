#include "mftesthelpers.h"

#include <QtTest>

#include <atomic>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

using mftest::FunctionCallback;

namespace {
CComPtr<IMFMediaEventQueue> newQueue()
{
    CComPtr<IMFMediaEventQueue> queue;
    if (FAILED(MFCreateEventQueue(&queue)))
        qFatal("MFCreateEventQueue failed");
    return queue;
}

// Reads a queue by BeginGetEvent/EndGetEvent, asking again from each callback as a session does.
class Reader
{
public:
    explicit Reader(IMFMediaEventQueue *queue) : m_queue(queue)
    {
        m_callback = FunctionCallback::create([this](IMFAsyncResult *result) { onEvent(result); });
    }
    HRESULT begin() { return m_queue->BeginGetEvent(m_callback, nullptr); }
    int errorCount()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return int(endErrors.size());
    }

    std::mutex mutex;
    std::vector<std::pair<MediaEventType, LONGLONG>> events; // type and VT_I8 value
    std::vector<HRESULT> endErrors;
    std::atomic<int> concurrent{0}, overlaps{0};

private:
    void onEvent(IMFAsyncResult *result)
    {
        if (++concurrent > 1)
            ++overlaps;
        CComPtr<IMFMediaEvent> event;
        const HRESULT hr = m_queue->EndGetEvent(result, &event);
        --concurrent;
        // After an error the test may destroy the reader as soon as it is recorded.
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (FAILED(hr)) {
                endErrors.push_back(hr);
            } else {
                MediaEventType type = 0;
                event->GetType(&type);
                nyx::mf::PropVariant value;
                event->GetValue(&value);
                events.emplace_back(type, value.vt == VT_I8 ? value.hVal.QuadPart : -1);
            }
        }
        // A reader that can no longer ask has ended too (the queue shut down meanwhile).
        if (SUCCEEDED(hr)) {
            const HRESULT again = begin();
            if (FAILED(again)) {
                std::lock_guard<std::mutex> lock(mutex);
                endErrors.push_back(again);
            }
        }
    }

    CComPtr<IMFMediaEventQueue> m_queue;
    CComPtr<IMFAsyncCallback> m_callback;
};
} // namespace

class tst_MfEvents : public QObject
{
    Q_OBJECT

private slots:
    void eventCarriesItsFields();
    void getEventWaitsOrNot();
    void oneReaderAtATime();
    void callbacksDeliverEveryEventInOrder();
    void shutdownReleasesReaders();
    void shutdownRacesDelivery();
};

void tst_MfEvents::eventCarriesItsFields()
{
    const auto value = nyx::mf::PropVariant::fromInt64(-4200);
    CComPtr<IMFMediaEvent> event;
    QCOMPARE(MFCreateMediaEvent(MEQualityNotify, MF_QUALITY_NOTIFY_SAMPLE_LAG, E_ABORT, &value, &event),
             S_OK);
    MediaEventType type = 0;
    GUID extended = GUID_NULL;
    HRESULT status = S_OK;
    nyx::mf::PropVariant got;
    QCOMPARE(event->GetType(&type), S_OK);
    QCOMPARE(event->GetExtendedType(&extended), S_OK);
    QCOMPARE(event->GetStatus(&status), S_OK);
    QCOMPARE(event->GetValue(&got), S_OK);
    QCOMPARE(type, MediaEventType(311));
    QCOMPARE(extended, MF_QUALITY_NOTIFY_SAMPLE_LAG);
    QCOMPARE(status, E_ABORT);
    QCOMPARE(got.vt, VARTYPE(VT_I8));
    QCOMPARE(got.hVal.QuadPart, -4200LL);
    // Events are attribute stores too.
    QCOMPARE(event->SetUINT32(MF_MT_INTERLACE_MODE, 2), S_OK);
    CComPtr<IMFMediaEvent> empty;
    QCOMPARE(MFCreateMediaEvent(MEStreamSinkStarted, GUID_NULL, S_OK, nullptr, &empty), S_OK);
    nyx::mf::PropVariant none;
    QCOMPARE(empty->GetValue(&none), S_OK);
    QCOMPARE(none.vt, VARTYPE(VT_EMPTY));
}

void tst_MfEvents::getEventWaitsOrNot()
{
    CComPtr<IMFMediaEventQueue> queue = newQueue();
    CComPtr<IMFMediaEvent> event;
    QCOMPARE(queue->GetEvent(MF_EVENT_FLAG_NO_WAIT, &event), MF_E_NO_EVENTS_AVAILABLE);
    std::thread producer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        queue->QueueEventParamVar(MEStreamSinkStopped, GUID_NULL, S_OK, nullptr);
    });
    QCOMPARE(queue->GetEvent(0, &event), S_OK); // waits for the producer
    producer.join();
    MediaEventType type = 0;
    event->GetType(&type);
    QCOMPARE(type, MediaEventType(MEStreamSinkStopped));
}

void tst_MfEvents::oneReaderAtATime()
{
    CComPtr<IMFMediaEventQueue> queue = newQueue();
    auto callback = FunctionCallback::create([](IMFAsyncResult *) {});
    QCOMPARE(queue->BeginGetEvent(callback, nullptr), S_OK);
    QCOMPARE(queue->BeginGetEvent(callback, nullptr), MF_E_MULTIPLE_BEGIN);
    CComPtr<IMFMediaEvent> event;
    QCOMPARE(queue->GetEvent(MF_EVENT_FLAG_NO_WAIT, &event), MF_E_MULTIPLE_SUBSCRIBERS);
    queue->Shutdown();
}

// Producers on several threads: every event reaches the reader exactly once, each producer's in
// its order, and the callbacks never overlap.
void tst_MfEvents::callbacksDeliverEveryEventInOrder()
{
    CComPtr<IMFMediaEventQueue> queue = newQueue();
    Reader reader(queue);
    QCOMPARE(reader.begin(), S_OK);
    constexpr int kThreads = 4, kEvents = 300;
    std::vector<std::thread> producers;
    for (int t = 0; t < kThreads; ++t) {
        producers.emplace_back([&, t] {
            for (int i = 0; i < kEvents; ++i) {
                const auto value = nyx::mf::PropVariant::fromInt64(i);
                queue->QueueEventParamVar(MEStreamSinkRequestSample + t, GUID_NULL, S_OK, &value);
            }
        });
    }
    for (auto &p : producers)
        p.join();
    auto count = [&] {
        std::lock_guard<std::mutex> lock(reader.mutex);
        return int(reader.events.size());
    };
    QTRY_COMPARE_WITH_TIMEOUT(count(), kThreads * kEvents, 20000);
    std::map<MediaEventType, LONGLONG> next;
    for (const auto &[type, value] : reader.events) {
        QCOMPARE(value, next[type]);
        next[type] = value + 1;
    }
    QCOMPARE(int(next.size()), kThreads);
    QCOMPARE(reader.overlaps.load(), 0);
    // The reader asked again; it must hear the end before it goes away.
    queue->Shutdown();
    QTRY_COMPARE_WITH_TIMEOUT(reader.errorCount(), 1, 10000);
}

void tst_MfEvents::shutdownReleasesReaders()
{
    // A waiting GetEvent returns.
    CComPtr<IMFMediaEventQueue> queue = newQueue();
    std::atomic<HRESULT> waited{S_OK};
    std::thread waiter([&] {
        CComPtr<IMFMediaEvent> event;
        waited = queue->GetEvent(0, &event);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    QCOMPARE(queue->Shutdown(), S_OK);
    waiter.join();
    QCOMPARE(waited.load(), MF_E_SHUTDOWN);

    // An outstanding BeginGetEvent hears of it once; every call then fails.
    CComPtr<IMFMediaEventQueue> second = newQueue();
    Reader reader(second);
    QCOMPARE(reader.begin(), S_OK);
    QCOMPARE(second->Shutdown(), S_OK);
    QTRY_COMPARE_WITH_TIMEOUT(reader.errorCount(), 1, 10000);
    QCOMPARE(reader.endErrors.front(), MF_E_SHUTDOWN);
    QCOMPARE(second->QueueEventParamVar(MEError, GUID_NULL, E_FAIL, nullptr), MF_E_SHUTDOWN);
    QCOMPARE(reader.begin(), MF_E_SHUTDOWN);
    CComPtr<IMFMediaEvent> event;
    QCOMPARE(second->GetEvent(MF_EVENT_FLAG_NO_WAIT, &event), MF_E_SHUTDOWN);
    QCOMPARE(second->Shutdown(), S_OK);
    QVERIFY(reader.events.empty());
}

// Shutdown at any moment of a running delivery: the reader always hears of the end exactly once
// (from its callback or from its next BeginGetEvent), so a session never waits forever.
void tst_MfEvents::shutdownRacesDelivery()
{
    for (int round = 0; round < 200; ++round) {
        CComPtr<IMFMediaEventQueue> queue = newQueue();
        Reader reader(queue);
        QCOMPARE(reader.begin(), S_OK);
        std::thread producer([&] {
            while (SUCCEEDED(queue->QueueEventParamVar(MEMediaSample, GUID_NULL, S_OK, nullptr))) {
            }
        });
        std::this_thread::sleep_for(std::chrono::microseconds(round * 10));
        QCOMPARE(queue->Shutdown(), S_OK);
        producer.join();
        QTRY_COMPARE_WITH_TIMEOUT(reader.errorCount(), 1, 10000);
        QCOMPARE(reader.endErrors.front(), MF_E_SHUTDOWN);
    }
}

QTEST_GUILESS_MAIN(tst_MfEvents)
#include "tst_mfevents.moc"
