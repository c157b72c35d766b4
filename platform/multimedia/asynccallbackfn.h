#pragma once
// Callbacks for work queues and asynchronous results.

#include "com/comptr.h"
#include "mf/mf.h"

#include <functional>

namespace nyx {
// An IMFAsyncCallback that runs a function on a given work queue. It lives inside its owner and
// counts its references on the owner, so a queued callback keeps the owner alive until it has run.
class AsyncCallbackFn : public IMFAsyncCallback
{
public:
    using Function = std::function<HRESULT(IMFAsyncResult *)>;

    AsyncCallbackFn(IUnknown *owner, Function function, DWORD queueId, DWORD flags);

    HRESULT QueryInterface(REFIID riid, void **object) override;
    ULONG AddRef() override { return m_owner->AddRef(); }
    ULONG Release() override { return m_owner->Release(); }
    HRESULT GetParameters(DWORD *flags, DWORD *queue) override;
    HRESULT Invoke(IMFAsyncResult *result) override;

private:
    IUnknown *m_owner;
    Function m_function;
    DWORD m_queueId;
    DWORD m_flags;
};

// A free-standing reference-counted callback that runs a function (on the given queue).
CComPtr<IMFAsyncCallback> createCallback(std::function<HRESULT(IMFAsyncResult *)> function,
                                         DWORD queueId = MFASYNC_CALLBACK_QUEUE_STANDARD);
} // namespace nyx
