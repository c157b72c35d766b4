#pragma once
// Serial work queues of the media library: work items pushed onto one queue run one at a time, in
// order, on the queue's own thread. Copies of an MFMessageQueue share one queue, which ends (after
// running what is queued) when the last copy goes.

#include "mf/mf.h"

#include <functional>
#include <memory>

namespace nyx {
class MFMessageQueue
{
public:
    // type 1: a serial queue of its own; any other type: the shared standard queue (work items there
    // may run concurrently). priority is kept for the caller's information only.
    explicit MFMessageQueue(int type = 1, DWORD priority = 0);

    DWORD getQueueId() const;
    HRESULT push(IMFAsyncCallback *callback, IUnknown *state) const;
    // The function runs on the queue; what it captures lives until it has run.
    HRESULT push(std::function<HRESULT()> function) const;
    // Runs the function on the standard queue after delayMs milliseconds.
    static HRESULT schedule(std::function<HRESULT()> function, qint64 delayMs);

private:
    struct Queue;
    std::shared_ptr<Queue> m_queue;
};
} // namespace nyx
