#include "multimedia/mfmessagequeue.h"

#include "multimedia/asynccallbackfn.h"
#include "multimedia/comexception.h"

namespace nyx {
struct MFMessageQueue::Queue
{
    DWORD id = MFASYNC_CALLBACK_QUEUE_STANDARD;
    bool owned = false;
    ~Queue()
    {
        if (owned)
            MFUnlockWorkQueue(id);
    }
};

MFMessageQueue::MFMessageQueue(int type, DWORD /*priority*/) : m_queue(std::make_shared<Queue>())
{
    if (type == 1) {
        throwIfFailed(MFAllocateWorkQueue(&m_queue->id));
        m_queue->owned = true;
    }
}

DWORD MFMessageQueue::getQueueId() const
{
    return m_queue->id;
}

HRESULT MFMessageQueue::push(IMFAsyncCallback *callback, IUnknown *state) const
{
    if (!callback)
        return E_POINTER;
    return MFPutWorkItem(m_queue->id, callback, state);
}

HRESULT MFMessageQueue::push(std::function<HRESULT()> function) const
{
    if (!function)
        return E_POINTER;
    auto callback = createCallback([function = std::move(function)](IMFAsyncResult *) { return function(); },
                                   m_queue->id);
    return MFPutWorkItem(m_queue->id, callback, nullptr);
}

HRESULT MFMessageQueue::schedule(std::function<HRESULT()> function, qint64 delayMs)
{
    if (!function)
        return E_POINTER;
    auto callback = createCallback([function = std::move(function)](IMFAsyncResult *) { return function(); });
    MFWORKITEM_KEY key = 0;
    return MFScheduleWorkItem(callback, nullptr, -delayMs, &key);
}
} // namespace nyx
