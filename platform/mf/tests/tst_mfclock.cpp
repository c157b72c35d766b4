#include "mftesthelpers.h"

#include <QtTest>

#include <atomic>
#include <mutex>
#include <thread>

namespace {
// A time source the test moves by hand.
class ManualTimeSource final : public nyx::com::ComObject<IMFPresentationTimeSource>
{
public:
    std::atomic<MFTIME> now{1000000};

    HRESULT GetClockCharacteristics(DWORD *c) override { return *c = 0, S_OK; }
    HRESULT GetCorrelatedTime(DWORD, LONGLONG *clockTime, MFTIME *systemTime) override
    {
        *clockTime = *systemTime = now;
        return S_OK;
    }
    HRESULT GetContinuityKey(DWORD *key) override { return *key = 0, S_OK; }
    HRESULT GetState(DWORD, MFCLOCK_STATE *state) override { return *state = MFCLOCK_STATE_RUNNING, S_OK; }
    HRESULT GetUnderlyingClock(IMFClock **) override { return MF_E_NO_CLOCK; }
};

// Writes each call as text, with the system time relative to the source's start.
class RecordingSink final : public nyx::com::ComObject<IMFClockStateSink>
{
public:
    QStringList calls;
    IMFPresentationClock *clock = nullptr; // read from inside the calls, as sinks do

    HRESULT OnClockStart(MFTIME t, LONGLONG offset) override
    {
        const QString o = offset == PRESENTATION_CURRENT_POSITION ? "current" : QString::number(offset);
        return record(QString("start %1 %2").arg(t - 1000000).arg(o));
    }
    HRESULT OnClockStop(MFTIME t) override { return record(QString("stop %1").arg(t - 1000000)); }
    HRESULT OnClockPause(MFTIME t) override { return record(QString("pause %1").arg(t - 1000000)); }
    HRESULT OnClockRestart(MFTIME t) override { return record(QString("restart %1").arg(t - 1000000)); }
    HRESULT OnClockSetRate(MFTIME t, float rate) override
    {
        return record(QString("rate %1 %2").arg(t - 1000000).arg(double(rate)));
    }

private:
    HRESULT record(QString call)
    {
        MFTIME time = -1;
        if (clock)
            clock->GetTime(&time); // the new state is visible to the sink
        calls << call + QString(" @%1").arg(time);
        return S_OK;
    }
};
} // namespace

class tst_MfClock : public QObject
{
    Q_OBJECT

private slots:
    void script_data();
    void script();
    void needsTimeSource();
    void removedSinkHearsNothing();
    void systemClockAdvances();
    void sinkLockAgainstClockTime();
};

void tst_MfClock::script_data()
{
    // Steps: "+N" moves the source by N, "start X" (X or "current"), "stop", "pause", "rate R",
    // "=T" checks GetTime, "!E" checks that the previous step failed with error E (hex).
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("calls");
    QTest::newRow("start, run, stop")
        << QStringList{"=0", "start 5000", "=5000", "+300", "=5300", "stop", "=0"}
        << QStringList{"start 0 5000 @5000", "stop 300 @0"};
    QTest::newRow("pause freezes, current position resumes")
        << QStringList{"start 0", "+100", "pause", "+900", "=100", "start current", "+50", "=150"}
        << QStringList{"start 0 0 @0", "pause 100 @100", "restart 1000 @100"};
    QTest::newRow("restart at a position")
        << QStringList{"start 0", "+100", "pause", "start 7000", "+10", "=7010"}
        << QStringList{"start 0 0 @0", "pause 100 @100", "start 100 7000 @7000"};
    QTest::newRow("rate counts from its change")
        << QStringList{"start 0", "+100", "rate 2", "+100", "=300", "rate 0.5", "+100", "=350"}
        << QStringList{"start 0 0 @0", "rate 100 2 @100", "rate 200 0.5 @300"};
    QTest::newRow("current position while running goes on")
        << QStringList{"start 1000", "+40", "start current", "+10", "=1050"}
        << QStringList{"start 0 1000 @1000", "start 40 current @1040"};
    QTest::newRow("state errors") << QStringList{"stop",    "!C00D9C42", "pause", "!C00D36B2",
                                                 "start 0", "pause",     "pause", "!C00D9C42"}
                                  << QStringList{"start 0 0 @0", "pause 0 @0"};
}

void tst_MfClock::script()
{
    QFETCH(QStringList, steps);
    QFETCH(QStringList, calls);
    CComPtr<IMFPresentationClock> clock;
    QCOMPARE(MFCreatePresentationClock(&clock), S_OK);
    CComPtr<ManualTimeSource> source;
    source.Attach(new ManualTimeSource);
    QCOMPARE(clock->SetTimeSource(source), S_OK);
    CComPtr<RecordingSink> sink;
    sink.Attach(new RecordingSink);
    sink->clock = clock;
    QCOMPARE(clock->AddClockStateSink(sink), S_OK);
    CComPtr<IMFRateControl> rate = mftest::query<IMFRateControl>(clock);
    QVERIFY(rate);

    HRESULT last = S_OK;
    for (const QString &step : steps) {
        const QString arg = step.section(' ', 1);
        if (step.startsWith('+')) {
            source->now += step.mid(1).toLongLong();
        } else if (step.startsWith('=')) {
            MFTIME time = -1;
            QCOMPARE(clock->GetTime(&time), S_OK);
            QCOMPARE(time, step.mid(1).toLongLong());
        } else if (step.startsWith('!')) {
            QCOMPARE(quint32(last), step.mid(1).toUInt(nullptr, 16));
        } else if (step.startsWith("start")) {
            last = clock->Start(arg == "current" ? PRESENTATION_CURRENT_POSITION : arg.toLongLong());
        } else if (step == "stop") {
            last = clock->Stop();
        } else if (step == "pause") {
            last = clock->Pause();
        } else if (step.startsWith("rate")) {
            last = rate->SetRate(FALSE, arg.toFloat());
        }
    }
    QCOMPARE(sink->calls, calls);
    clock->RemoveClockStateSink(sink);
}

void tst_MfClock::needsTimeSource()
{
    CComPtr<IMFPresentationClock> clock;
    MFCreatePresentationClock(&clock);
    MFTIME time = 0;
    QCOMPARE(clock->Start(0), MF_E_CLOCK_NO_TIME_SOURCE);
    QCOMPARE(clock->GetTime(&time), MF_E_CLOCK_NO_TIME_SOURCE);
    CComPtr<IMFPresentationTimeSource> source;
    QCOMPARE(clock->GetTimeSource(&source), MF_E_CLOCK_NO_TIME_SOURCE);
}

void tst_MfClock::removedSinkHearsNothing()
{
    CComPtr<IMFPresentationClock> clock;
    MFCreatePresentationClock(&clock);
    CComPtr<ManualTimeSource> source;
    source.Attach(new ManualTimeSource);
    clock->SetTimeSource(source);
    CComPtr<RecordingSink> kept, removed;
    kept.Attach(new RecordingSink);
    removed.Attach(new RecordingSink);
    clock->AddClockStateSink(kept);
    clock->AddClockStateSink(removed);
    clock->AddClockStateSink(kept); // once only
    clock->RemoveClockStateSink(removed);
    clock->Start(0);
    QCOMPARE(kept->calls.size(), 1);
    QVERIFY(removed->calls.isEmpty());
    clock->RemoveClockStateSink(kept);
}

void tst_MfClock::systemClockAdvances()
{
    CComPtr<IMFPresentationClock> clock;
    CComPtr<IMFPresentationTimeSource> source;
    QCOMPARE(MFCreatePresentationClock(&clock), S_OK);
    QCOMPARE(MFCreateSystemTimeSource(&source), S_OK);
    QCOMPARE(clock->SetTimeSource(source), S_OK);
    QCOMPARE(clock->Start(0), S_OK);
    MFTIME first = 0, later = 0, system = 0;
    clock->GetTime(&first);
    QTest::qWait(20);
    QCOMPARE(clock->GetCorrelatedTime(0, &later, &system), S_OK);
    QVERIFY(later >= first + 20 * 10000);
    QVERIFY(system > 0);
    MFCLOCK_STATE state;
    clock->GetState(0, &state);
    QCOMPARE(state, MFCLOCK_STATE_RUNNING);
    clock->Stop();
}

namespace {
// A sink with a lock of its own, taken in its clock calls, as media sinks have.
class LockingSink final : public nyx::com::ComObject<IMFClockStateSink>
{
public:
    std::mutex mutex;
    std::atomic<int> starts{0};
    HRESULT OnClockStart(MFTIME, LONGLONG) override
    {
        return locked([&] { ++starts; });
    }
    HRESULT OnClockStop(MFTIME) override
    {
        return locked([] {});
    }
    HRESULT OnClockPause(MFTIME) override
    {
        return locked([] {});
    }
    HRESULT OnClockRestart(MFTIME) override
    {
        return locked([] {});
    }
    HRESULT OnClockSetRate(MFTIME, float) override
    {
        return locked([] {});
    }

private:
    template <class F> HRESULT locked(F f)
    {
        std::lock_guard<std::mutex> lock(mutex);
        f();
        return S_OK;
    }
};
} // namespace

// A sink that reads the clock's time under its own lock (as a stream sink does for quality
// reports) while another thread changes the clock's state: no deadlock.
void tst_MfClock::sinkLockAgainstClockTime()
{
    CComPtr<IMFPresentationClock> clock;
    CComPtr<IMFPresentationTimeSource> source;
    MFCreatePresentationClock(&clock);
    MFCreateSystemTimeSource(&source);
    clock->SetTimeSource(source);
    CComPtr<LockingSink> sink;
    sink.Attach(new LockingSink);
    clock->AddClockStateSink(sink);
    std::atomic<bool> stop{false};
    std::thread reader([&] {
        while (!stop) {
            std::lock_guard<std::mutex> lock(sink->mutex);
            MFTIME time;
            clock->GetTime(&time);
        }
    });
    for (int i = 0; i < 2000; ++i) {
        clock->Start(i);
        clock->Pause();
        clock->Stop();
    }
    stop = true;
    reader.join();
    QCOMPARE(sink->starts.load(), 2000);
    clock->RemoveClockStateSink(sink);
}

QTEST_GUILESS_MAIN(tst_MfClock)
#include "tst_mfclock.moc"
