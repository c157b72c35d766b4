#pragma once
// Reading the events of sources and streams in tests: a collector drains an event generator
// without waiting, and waits (generously) for what a test expects.

#include "com/comptr.h"
#include "mf/mfapi.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QThread>
#include <QVector>
#include <functional>

namespace sourcetest {
struct Event
{
    MediaEventType type = MEUnknown;
    HRESULT status = S_OK;
    CComPtr<IUnknown> object; // VT_UNKNOWN value
    LONGLONG i8 = 0;          // VT_I8 value
    double r8 = 0;
};

class EventLog
{
public:
    explicit EventLog(IMFMediaEventGenerator *generator) : m_generator(generator) {}

    // Takes every event queued so far.
    void drain()
    {
        for (;;) {
            CComPtr<IMFMediaEvent> event;
            if (FAILED(m_generator->GetEvent(MF_EVENT_FLAG_NO_WAIT, &event)) || !event)
                return;
            Event e;
            event->GetType(&e.type);
            event->GetStatus(&e.status);
            PROPVARIANT value;
            PropVariantInit(&value);
            event->GetValue(&value);
            if (value.vt == VT_UNKNOWN)
                e.object = value.punkVal;
            else if (value.vt == VT_I8)
                e.i8 = value.hVal.QuadPart;
            else if (value.vt == VT_R8)
                e.r8 = value.dblVal;
            PropVariantClear(&value);
            events.append(e);
            if (onEvent)
                onEvent(events.last());
        }
    }
    int count(MediaEventType type) const
    {
        int n = 0;
        for (const auto &e : events)
            n += e.type == type;
        return n;
    }
    int indexOf(MediaEventType type, int from = 0) const
    {
        for (int i = from; i < events.size(); ++i)
            if (events[i].type == type)
                return i;
        return -1;
    }
    // Drains until done() holds; false after timeoutMs.
    bool waitFor(const std::function<bool()> &done, int timeoutMs = 20000)
    {
        QElapsedTimer timer;
        timer.start();
        for (;;) {
            drain();
            if (done())
                return true;
            if (timer.elapsed() > timeoutMs)
                return false;
            QThread::msleep(2);
        }
    }
    bool waitForType(MediaEventType type, int count = 1, int timeoutMs = 20000)
    {
        return waitFor([&] { return this->count(type) >= count; }, timeoutMs);
    }

    QVector<Event> events;
    std::function<void(Event &)> onEvent;

private:
    CComPtr<IMFMediaEventGenerator> m_generator;
};

inline QByteArray sampleBytes(IMFSample *sample)
{
    CComPtr<IMFMediaBuffer> buffer;
    if (!sample || FAILED(sample->ConvertToContiguousBuffer(&buffer)))
        return {};
    BYTE *bytes = nullptr;
    DWORD length = 0;
    if (FAILED(buffer->Lock(&bytes, nullptr, &length)))
        return {};
    QByteArray copy(reinterpret_cast<const char *>(bytes), static_cast<int>(length));
    buffer->Unlock();
    return copy;
}
} // namespace sourcetest
