#pragma once
// The asynchronous result of MFCreateAsyncResult, with what the work queues and event queues
// need from it beyond IMFAsyncResult: its callback, and the object they hand back.

#include "com/comobject.h"
#include "com/comptr.h"
#include "mf/mfobjects.h"

#include <mutex>

namespace nyx::mf {
// {5E3A1C2B-7D4F-4B8E-9A61-2C0F83D4E715}
constexpr IID IID_IAsyncResultInternal = {
    0x5E3A1C2B, 0x7D4F, 0x4B8E, {0x9A, 0x61, 0x2C, 0x0F, 0x83, 0xD4, 0xE7, 0x15}};

struct IAsyncResultInternal : public IUnknown
{
    virtual CComPtr<IMFAsyncCallback> callback() = 0;
    virtual void setObject(IUnknown *object) = 0;
};
} // namespace nyx::mf
NYX_DECLARE_IID(nyx::mf::IAsyncResultInternal, nyx::mf::IID_IAsyncResultInternal)

namespace nyx::mf {
class AsyncResult final : public com::ComObject<IMFAsyncResult, IAsyncResultInternal>
{
public:
    AsyncResult(IUnknown *object, IMFAsyncCallback *callback, IUnknown *state)
        : m_object(object), m_callback(callback), m_state(state)
    {
    }

    HRESULT GetState(IUnknown **state) override
    {
        if (!state)
            return E_POINTER;
        *state = nullptr;
        if (!m_state)
            return E_POINTER;
        return m_state.CopyTo(state);
    }
    HRESULT GetStatus() override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_status;
    }
    HRESULT SetStatus(HRESULT status) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_status = status;
        return S_OK;
    }
    HRESULT GetObject(IUnknown **object) override
    {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_object)
            return E_POINTER;
        return m_object.CopyTo(object);
    }
    IUnknown *GetStateNoAddRef() override { return m_state; }

    CComPtr<IMFAsyncCallback> callback() override { return m_callback; }
    void setObject(IUnknown *object) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_object = object;
    }

private:
    std::mutex m_mutex;
    CComPtr<IUnknown> m_object;
    const CComPtr<IMFAsyncCallback> m_callback;
    const CComPtr<IUnknown> m_state;
    HRESULT m_status = S_OK;
};
} // namespace nyx::mf
