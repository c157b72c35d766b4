// The media library's helpers: times, locks, work queues, callbacks, markers, events, buffers,
// the Activator.
#include "com/comobject.h"
#include "mf/mf.h"
#include "multimedia/activator.h"
#include "multimedia/asynccallbackfn.h"
#include "multimedia/baseeventgenerator.h"
#include "multimedia/cmarker.h"
#include "multimedia/criticalsection.h"
#include "multimedia/framehistory.h"
#include "multimedia/hnstime.h"
#include "multimedia/mediabuffermapping.h"
#include "multimedia/mfmessagequeue.h"

#include <QSemaphore>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <atomic>
#include <mutex>
#include <set>
#include <thread>

namespace {
// A COM object that only counts references.
class Counted : public nyx::com::ComObject<IUnknown>
{
};
} // namespace

class TestNyxHelpers : public QObject
{
    Q_OBJECT
private slots:
    void readableTime_data()
    {
        QTest::addColumn<qint64>("hns");
        QTest::addColumn<QString>("text");
        QTest::newRow("zero") << qint64(0) << "0:00:00.000";
        QTest::newRow("below a millisecond") << qint64(9999) << "0:00:00.000";
        QTest::newRow("h m s ms") << (HnsTime::seconds(3723).value() + HnsTime::milliseconds(456).value())
                                  << "1:02:03.456";
        QTest::newRow("over a day") << HnsTime::seconds(90000).value() << "25:00:00.000";
        QTest::newRow("negative") << -HnsTime::milliseconds(1500).value() << "-0:00:01.500";
        QTest::newRow("most negative") << std::numeric_limits<qint64>::min() << "-256204778:48:05.477";
    }
    void readableTime()
    {
        QFETCH(qint64, hns);
        QFETCH(QString, text);
        QCOMPARE(HnsTime(hns).toReadableString(), text);
    }

    void fileTimeConversions_data()
    {
        QTest::addColumn<quint64>("fileTime");
        QTest::addColumn<qint64>("unixMs");
        QTest::addColumn<quint64>("back");
        const quint64 epoch = 116444736000000000ULL;
        QTest::newRow("epoch") << epoch << qint64(0) << epoch;
        QTest::newRow("remainder dropped") << epoch + 12345678 << qint64(1234) << epoch + 12340000;
        QTest::newRow("before 1970") << epoch - 10000 << qint64(-1) << epoch - 10000;
        QTest::newRow("below a ms before 1970") << epoch - 1 << qint64(-1) << epoch - 10000;
        QTest::newRow("1601") << quint64(0) << -qint64(epoch / 10000) << quint64(0);
    }
    void fileTimeConversions()
    {
        QFETCH(quint64, fileTime);
        QFETCH(qint64, unixMs);
        QFETCH(quint64, back);
        QCOMPARE(win32filetimeToUnixMs(fileTime), unixMs);
        QCOMPARE(UnixMsToWin32filetime(unixMs), back);
    }

    void beforeFileTimesBegin() { QCOMPARE(UnixMsToWin32filetime(-11644473600001LL), quint64(0)); }

    void clockConverterMapsSteadyToWallClock()
    {
        const HnsTime wall = HnsTime::systemTime();
        const HnsTime steady = HnsTime::QPCTime();
        ClockConverter converter(wall, steady);
        QCOMPARE(converter.getBaseTime(steady), wall.value());
        QCOMPARE(converter.getBaseTime(steady + 400000), wall.value() + 400000);
        // The steady clock is the one the presentation clock runs on.
        const qint64 drift = HnsTime::QPCTime() - MFGetSystemTime();
        QVERIFY(qAbs(drift) < HnsTime::seconds(1));
        // Wall clock and steady clock tell the same time span.
        QVERIFY(qAbs(HnsTime::systemTime() - converter.getBaseTime(HnsTime::QPCTime())) <
                HnsTime::seconds(1));
    }

    void frameHistoryKeepsItsWindow()
    {
        FrameHistory history(2, 3, 100, 1000);
        QCOMPARE(history.backLimit(), 2);
        QCOMPARE(history.forwardLimit(), 3);
        for (qint64 t = 100; t <= 900; t += 100)
            history.pushBack({HnsTime(t - 100), HnsTime(t)});
        QVector<qint64> times;
        for (const auto &frame : history.frames())
            times << frame.frameTime.value();
        QCOMPARE(times, (QVector<qint64>{400, 500, 600, 700, 800, 900}));
        history.pushBack({HnsTime(0), HnsTime(2000)}); // beyond the end: ignored
        history.pushFront({HnsTime(0), HnsTime(300)}); // window full: ignored
        QCOMPARE(history.frames().size(), 6);
        history.setBounds(500, 800);
        QCOMPARE(history.frames().size(), 4);
        history.clear();
        history.pushFront({HnsTime(0), HnsTime(600)});
        history.pushFront({HnsTime(0), HnsTime(550)});
        QCOMPARE(history.frames().first().frameTime.value(), qint64(550));
    }

    void criticalSectionIsReentrantAndExclusive()
    {
        CriticalSection section;
        AutoLock outer(section);
        {
            AutoLock inner(section); // the same thread may take it again
        }
        std::atomic<bool> taken{false};
        std::thread other([&] { taken = section.TryLock(); });
        other.join();
        QVERIFY(!taken);
    }

    void messageQueueCopiesShareOneSerialWorker()
    {
        nyx::MFMessageQueue first(1, 0);
        const nyx::MFMessageQueue second = first;
        QCOMPARE(second.getQueueId(), first.getQueueId());
        std::mutex mutex;
        QVector<int> order;
        std::set<std::thread::id> threads;
        std::atomic<int> running{0};
        std::atomic<bool> overlapped{false};
        QSemaphore done;
        for (int i = 0; i < 200; ++i) {
            const nyx::MFMessageQueue &queue = i % 2 ? first : second;
            QCOMPARE(queue.push([&, i]() -> HRESULT {
                if (++running > 1)
                    overlapped = true;
                {
                    std::lock_guard<std::mutex> lock(mutex);
                    order << i;
                    threads.insert(std::this_thread::get_id());
                }
                --running;
                done.release();
                return S_OK;
            }),
                     S_OK);
        }
        QVERIFY(done.tryAcquire(200, 10000));
        QVERIFY(!overlapped);
        QCOMPARE(threads.size(), std::size_t(1));
        for (int i = 0; i < order.size(); ++i)
            QCOMPARE(order[i], i);
    }

    void scheduledWorkRunsLater()
    {
        QSemaphore done;
        const qint64 start = HnsTime::QPCTime();
        std::atomic<qint64> ranAt{0};
        QCOMPARE(nyx::MFMessageQueue::schedule(
                     [&]() {
                         ranAt = HnsTime::QPCTime();
                         done.release();
                         return S_OK;
                     },
                     50),
                 S_OK);
        QVERIFY(done.tryAcquire(1, 10000));
        QVERIFY(ranAt - start >= HnsTime::milliseconds(50));
    }

    void asyncCallbackKeepsItsOwnerWhileQueued()
    {
        CComPtr<Counted> owner;
        owner.Attach(new Counted);
        nyx::MFMessageQueue queue;
        QSemaphore release;
        QSemaphore ran;
        // Hold the queue so the callback below stays queued.
        queue.push([&]() {
            release.acquire();
            return S_OK;
        });
        nyx::AsyncCallbackFn callback(
            owner,
            [&](IMFAsyncResult *) {
                ran.release();
                return S_OK;
            },
            queue.getQueueId(), 0);
        DWORD flags = 1, id = 0;
        QCOMPARE(callback.GetParameters(&flags, &id), S_OK);
        QCOMPARE(id, queue.getQueueId());
        QCOMPARE(queue.push(&callback, nullptr), S_OK);
        QVERIFY(owner->refCount() > 1);
        release.release();
        QVERIFY(ran.tryAcquire(1, 10000));
        QTRY_COMPARE(owner->refCount(), ULONG(1));
    }

    void markerGivesItsContextBack()
    {
        PROPVARIANT context;
        PropVariantInit(&context);
        context.vt = VT_UI4;
        context.ulVal = 77;
        CComPtr<nyx::IMarker> marker;
        QCOMPARE(nyx::CMarker::Create(MFSTREAMSINK_MARKER_TICK, nullptr, &context, &marker), S_OK);
        MFSTREAMSINK_MARKER_TYPE type = MFSTREAMSINK_MARKER_DEFAULT;
        QCOMPARE(marker->GetMarkerType(&type), S_OK);
        QCOMPARE(type, MFSTREAMSINK_MARKER_TICK);
        PROPVARIANT back;
        PropVariantInit(&back);
        QCOMPARE(marker->GetContext(&back), S_OK);
        QCOMPARE(back.vt, VARTYPE(VT_UI4));
        QCOMPARE(back.ulVal, ULONG(77));
        CComPtr<IUnknown> unknown;
        QCOMPARE(marker.QueryInterface(&unknown), S_OK);
        CComPtr<nyx::IMarker> again;
        QCOMPARE(unknown.QueryInterface(&again), S_OK);
        QCOMPARE(again.p, marker.p);
        CComPtr<IMFSample> notASample;
        QCOMPARE(unknown.QueryInterface(&notASample), E_NOINTERFACE);
    }

    void eventGeneratorQueuesUntilShutdown()
    {
        CComPtr<nyx::CBaseEventGenerator> events;
        QCOMPARE(nyx::CBaseEventGenerator::Create(&events), S_OK);
        PROPVARIANT value;
        PropVariantInit(&value);
        value.vt = VT_I8;
        value.hVal.QuadPart = -5;
        QCOMPARE(events->QueueEvent(MEQualityNotify, MF_QUALITY_NOTIFY_SAMPLE_LAG, S_OK, &value), S_OK);
        CComPtr<IMFMediaEvent> event;
        QCOMPARE(events->GetEvent(MF_EVENT_FLAG_NO_WAIT, &event), S_OK);
        MediaEventType type = MEUnknown;
        GUID extended = GUID_NULL;
        event->GetType(&type);
        event->GetExtendedType(&extended);
        QCOMPARE(type, MediaEventType(MEQualityNotify));
        QVERIFY(extended == MF_QUALITY_NOTIFY_SAMPLE_LAG);
        QCOMPARE(events->Shutdown(), S_OK);
        QCOMPARE(events->QueueEvent(MEError, GUID_NULL, E_FAIL, nullptr), MF_E_SHUTDOWN);
        CComPtr<IMFMediaEvent> none;
        QCOMPARE(events->GetEvent(MF_EVENT_FLAG_NO_WAIT, &none), MF_E_SHUTDOWN);
    }

    void bufferMappingLocksForItsLifetime()
    {
        CComPtr<IMFMediaBuffer> buffer;
        QCOMPARE(MFCreateMemoryBuffer(16, &buffer), S_OK);
        {
            MediaBufferMapping mapping(buffer);
            QCOMPARE(mapping.maxLength(), DWORD(16));
            QCOMPARE(mapping.currentLength(), DWORD(0));
            std::memcpy(mapping.buffer(), "abcd", 4);
            mapping.setCurrentLength(4);
            QVERIFY_EXCEPTION_THROWN(mapping.setCurrentLength(17), ComException);
        }
        DWORD length = 0;
        QCOMPARE(buffer->GetCurrentLength(&length), S_OK);
        QCOMPARE(length, DWORD(4));
        BYTE *bytes = nullptr;
        QCOMPARE(buffer->Lock(&bytes, nullptr, nullptr), S_OK);
        QCOMPARE(QByteArray(reinterpret_cast<char *>(bytes), 4), QByteArray("abcd"));
        buffer->Unlock();
        QVERIFY_EXCEPTION_THROWN(MediaBufferMapping(nullptr), ComException);
    }

    void activatorBuildsOnTheGivenThread_data()
    {
        QTest::addColumn<int>("step"); // 0 object, 1 null, 2 throws, 3 throws with words
        QTest::addColumn<HRESULT>("code");
        QTest::addColumn<QString>("text");
        QTest::newRow("object") << 0 << S_OK << "Error";
        QTest::newRow("null is an error") << 1 << E_POINTER << "Null pointer";
        QTest::newRow("exception") << 2 << HRESULT(MF_E_INVALIDTYPE) << "Error";
        // The build step's explanation reaches the caller with the code.
        QTest::newRow("exception with words") << 3 << HRESULT(MF_E_INVALIDTYPE) << "The input is audio";
    }
    void activatorBuildsOnTheGivenThread()
    {
        QFETCH(int, step);
        QFETCH(HRESULT, code);
        QFETCH(QString, text);
        QThread worker;
        worker.start();
        Activator activator(&worker);
        QSignalSpy spy(&activator, &Activator::activated);
        std::atomic<QThread *> ranOn{nullptr};
        activator.activate(createActivate([&]() -> CComPtr<IUnknown> {
            ranOn = QThread::currentThread();
            if (step >= 2)
                throw ComException(MF_E_INVALIDTYPE,
                                   step == 3 ? QStringLiteral("The input is audio") : QString());
            if (step == 1)
                return nullptr;
            CComPtr<IUnknown> made;
            made.Attach(new Counted);
            return made;
        }));
        QVERIFY(spy.wait(10000));
        QCOMPARE(ranOn.load(), &worker);
        const auto object = spy.first().at(0).value<CComPtr<IUnknown>>();
        const auto error = spy.first().at(1).value<ComException>();
        QCOMPARE(error.getErrorCode(), code);
        QCOMPARE(error.text(), text);
        QCOMPARE(object != nullptr, code == S_OK);
        worker.quit();
        worker.wait();
    }

    void cancelledActivationIsDropped()
    {
        QThread worker;
        worker.start();
        Activator activator(&worker);
        QSignalSpy spy(&activator, &Activator::activated);
        QSemaphore gate;
        activator.activate(createActivate([&]() -> CComPtr<IUnknown> {
            gate.acquire();
            CComPtr<IUnknown> made;
            made.Attach(new Counted);
            return made;
        }));
        activator.cancel();
        gate.release();
        // A second activation after the cancelled one still arrives, alone.
        activator.activate(createActivate([]() { return CComPtr<IUnknown>(); }));
        QVERIFY(spy.wait(10000));
        QTest::qWait(50);
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.first().at(1).value<ComException>().getErrorCode(), E_POINTER);
        worker.quit();
        worker.wait();
    }
};

QTEST_GUILESS_MAIN(TestNyxHelpers)
#include "tst_nyxhelpers.moc"
