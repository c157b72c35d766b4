#pragma once
// Small fakes shared by the media foundation tests.

#include "mf/mfapi.h"

#include "com/comobject.h"
#include "com/comptr.h"

#include <functional>

namespace mftest {
// An IMFAsyncCallback that runs a function, on the queue it names.
class FunctionCallback final : public nyx::com::ComObject<IMFAsyncCallback>
{
public:
    static CComPtr<IMFAsyncCallback> create(std::function<void(IMFAsyncResult *)> function,
                                            DWORD queue = MFASYNC_CALLBACK_QUEUE_STANDARD)
    {
        CComPtr<IMFAsyncCallback> callback;
        callback.Attach(new FunctionCallback(std::move(function), queue));
        return callback;
    }
    HRESULT GetParameters(DWORD *flags, DWORD *queue) override
    {
        *flags = 0;
        *queue = m_queue;
        return S_OK;
    }
    HRESULT Invoke(IMFAsyncResult *result) override
    {
        m_function(result);
        return S_OK;
    }

private:
    FunctionCallback(std::function<void(IMFAsyncResult *)> function, DWORD queue)
        : m_function(std::move(function)), m_queue(queue)
    {
    }
    std::function<void(IMFAsyncResult *)> m_function;
    DWORD m_queue;
};

template <class Q> CComPtr<Q> query(IUnknown *object)
{
    CComPtr<Q> out;
    if (object)
        object->QueryInterface(nyx::com::uuidOf<Q>(), reinterpret_cast<void **>(&out));
    return out;
}
} // namespace mftest
