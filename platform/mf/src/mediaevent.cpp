// Media events and the event queue behind event generators.

#include "src/asyncresult.h"

#include "mf/attributesimpl.h"
#include "mf/mfapi.h"
#include "src/query.h"

#include <condition_variable>
#include <deque>

namespace nyx::mf {
namespace {
class MediaEvent final : public AttributesImpl<com::ComObject<IMFMediaEvent>>
{
public:
    MediaEvent(MediaEventType type, REFGUID extendedType, HRESULT status, const PROPVARIANT *value)
        : m_type(type), m_extendedType(extendedType), m_status(status)
    {
        if (value)
            m_value = PropVariant(*value);
    }

    HRESULT GetType(MediaEventType *type) override
    {
        if (!type)
            return E_POINTER;
        *type = m_type;
        return S_OK;
    }
    HRESULT GetExtendedType(GUID *extendedType) override
    {
        if (!extendedType)
            return E_POINTER;
        *extendedType = m_extendedType;
        return S_OK;
    }
    HRESULT GetStatus(HRESULT *status) override
    {
        if (!status)
            return E_POINTER;
        *status = m_status;
        return S_OK;
    }
    HRESULT GetValue(PROPVARIANT *value) override
    {
        if (!value)
            return E_POINTER;
        return PropVariantCopy(value, &m_value);
    }

private:
    const MediaEventType m_type;
    const GUID m_extendedType;
    const HRESULT m_status;
    PropVariant m_value; // set once at construction
};

class EventQueue final : public com::ComObject<IMFMediaEventQueue>
{
public:
    HRESULT GetEvent(DWORD flags, IMFMediaEvent **event) override
    {
        if (!event)
            return E_POINTER;
        *event = nullptr;
        std::unique_lock<std::mutex> lock(m_mutex);
        if (m_shutdown)
            return MF_E_SHUTDOWN;
        if (m_pending || m_waiting)
            return MF_E_MULTIPLE_SUBSCRIBERS;
        if (m_events.empty()) {
            if (flags & MF_EVENT_FLAG_NO_WAIT)
                return MF_E_NO_EVENTS_AVAILABLE;
            m_waiting = true;
            m_wake.wait(lock, [&] { return m_shutdown || !m_events.empty(); });
            m_waiting = false;
            if (m_events.empty())
                return MF_E_SHUTDOWN;
        }
        *event = m_events.front().Detach();
        m_events.pop_front();
        return S_OK;
    }

    HRESULT BeginGetEvent(IMFAsyncCallback *callback, IUnknown *state) override
    {
        if (!callback)
            return E_POINTER;
        CComPtr<IMFAsyncResult> ready;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_shutdown)
                return MF_E_SHUTDOWN;
            if (m_pending)
                return MF_E_MULTIPLE_BEGIN;
            if (m_waiting)
                return MF_E_MULTIPLE_SUBSCRIBERS;
            MFCreateAsyncResult(nullptr, callback, state, &m_pending);
            ready = takeReadyLocked();
        }
        return deliver(ready);
    }

    HRESULT EndGetEvent(IMFAsyncResult *result, IMFMediaEvent **event) override
    {
        if (!result || !event)
            return E_POINTER;
        *event = nullptr;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_shutdown)
                return MF_E_SHUTDOWN;
        }
        const HRESULT status = result->GetStatus();
        if (FAILED(status))
            return status;
        CComPtr<IUnknown> object;
        HRESULT hr = result->GetObject(&object);
        if (FAILED(hr))
            return E_INVALIDARG;
        return object->QueryInterface(IID_IMFMediaEvent, reinterpret_cast<void **>(event));
    }

    HRESULT QueueEvent(IMFMediaEvent *event) override
    {
        if (!event)
            return E_POINTER;
        CComPtr<IMFAsyncResult> ready;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_shutdown)
                return MF_E_SHUTDOWN;
            m_events.emplace_back(event);
            ready = takeReadyLocked();
        }
        m_wake.notify_all();
        return deliver(ready);
    }

    HRESULT QueueEventParamVar(MediaEventType type, REFGUID extendedType, HRESULT status,
                               const PROPVARIANT *value) override
    {
        CComPtr<IMFMediaEvent> event;
        const HRESULT hr = MFCreateMediaEvent(type, extendedType, status, value, &event);
        if (FAILED(hr))
            return hr;
        return QueueEvent(event);
    }

    HRESULT QueueEventParamUnk(MediaEventType type, REFGUID extendedType, HRESULT status,
                               IUnknown *object) override
    {
        const PropVariant value = PropVariant::fromUnknown(object);
        return QueueEventParamVar(type, extendedType, status, &value);
    }

    HRESULT Shutdown() override
    {
        CComPtr<IMFAsyncResult> pending;
        std::deque<CComPtr<IMFMediaEvent>> dropped;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_shutdown)
                return S_OK;
            m_shutdown = true;
            pending = std::move(m_pending);
            dropped.swap(m_events);
        }
        m_wake.notify_all();
        // The reader waiting for an event hears of the end once, so that it can let go.
        if (pending) {
            pending->SetStatus(MF_E_SHUTDOWN);
            MFInvokeCallback(pending);
        }
        return S_OK;
    }

private:
    // Under m_mutex: the outstanding request with the next event in it, when both exist.
    CComPtr<IMFAsyncResult> takeReadyLocked()
    {
        if (!m_pending || m_events.empty())
            return nullptr;
        CComPtr<IAsyncResultInternal> internal;
        nyx::mf::queryInto(m_pending, internal);
        internal->setObject(m_events.front());
        m_events.pop_front();
        return std::move(m_pending);
    }

    static HRESULT deliver(IMFAsyncResult *ready)
    {
        if (!ready)
            return S_OK;
        // A callback naming a queue that has ended still gets its event, on the standard queue.
        if (FAILED(MFInvokeCallback(ready)))
            return MFPutWorkItemEx(MFASYNC_CALLBACK_QUEUE_STANDARD, ready);
        return S_OK;
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<CComPtr<IMFMediaEvent>> m_events;
    CComPtr<IMFAsyncResult> m_pending;
    bool m_waiting = false;
    bool m_shutdown = false;
};
} // namespace
} // namespace nyx::mf

HRESULT MFCreateMediaEvent(MediaEventType type, REFGUID extendedType, HRESULT status,
                           const PROPVARIANT *value, IMFMediaEvent **event)
{
    if (!event)
        return E_POINTER;
    *event = new nyx::mf::MediaEvent(type, extendedType, status, value);
    return S_OK;
}

HRESULT MFCreateEventQueue(IMFMediaEventQueue **queue)
{
    if (!queue)
        return E_POINTER;
    *queue = new nyx::mf::EventQueue;
    return S_OK;
}
