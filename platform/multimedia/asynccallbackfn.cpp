#include "multimedia/asynccallbackfn.h"

#include "com/comobject.h"

namespace nyx {
AsyncCallbackFn::AsyncCallbackFn(IUnknown *owner, Function function, DWORD queueId, DWORD flags)
    : m_owner(owner), m_function(std::move(function)), m_queueId(queueId), m_flags(flags)
{
}

HRESULT AsyncCallbackFn::QueryInterface(REFIID riid, void **object)
{
    if (!object)
        return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IMFAsyncCallback) {
        *object = static_cast<IMFAsyncCallback *>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

HRESULT AsyncCallbackFn::GetParameters(DWORD *flags, DWORD *queue)
{
    if (!flags || !queue)
        return E_POINTER;
    *flags = m_flags;
    *queue = m_queueId;
    return S_OK;
}

HRESULT AsyncCallbackFn::Invoke(IMFAsyncResult *result)
{
    return m_function ? m_function(result) : S_OK;
}

namespace {
class FunctionCallback : public com::ComObject<IMFAsyncCallback>
{
public:
    FunctionCallback(std::function<HRESULT(IMFAsyncResult *)> function, DWORD queueId)
        : m_function(std::move(function)), m_queueId(queueId)
    {
    }
    HRESULT GetParameters(DWORD *flags, DWORD *queue) override
    {
        if (!flags || !queue)
            return E_POINTER;
        *flags = 0;
        *queue = m_queueId;
        return S_OK;
    }
    HRESULT Invoke(IMFAsyncResult *result) override
    {
        // Whatever the function captured is released once it has run, not with the last reference.
        auto function = std::move(m_function);
        return function ? function(result) : S_OK;
    }

private:
    std::function<HRESULT(IMFAsyncResult *)> m_function;
    DWORD m_queueId;
};
} // namespace

CComPtr<IMFAsyncCallback> createCallback(std::function<HRESULT(IMFAsyncResult *)> function, DWORD queueId)
{
    CComPtr<IMFAsyncCallback> callback;
    callback.Attach(new FunctionCallback(std::move(function), queueId));
    return callback;
}
} // namespace nyx
