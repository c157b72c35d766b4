// Work queues: serial queues with a thread each, the standard pool, and scheduled items.

#include "src/asyncresult.h"

#include "mf/mfapi.h"
#include "src/query.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <pthread.h>
#include <thread>

namespace nyx::mf {
namespace {
using Clock = std::chrono::steady_clock;
constexpr DWORD kFirstSerialQueue = 0x00010000;

bool isStandardQueue(DWORD queue)
{
    return queue <= MFASYNC_CALLBACK_QUEUE_LONG_FUNCTION;
}

void invoke(IMFAsyncResult *result)
{
    CComPtr<IAsyncResultInternal> internal;
    if (FAILED(nyx::mf::queryInto(result, internal)))
        return;
    if (CComPtr<IMFAsyncCallback> callback = internal->callback()) {
        try {
            callback->Invoke(result);
        } catch (...) {
            // A callback that throws must not end a worker that other callers share.
        }
    }
}

void nameThread(const char *name)
{
    pthread_setname_np(pthread_self(), name);
}

struct SerialQueue
{
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<CComPtr<IMFAsyncResult>> items;
    int locks = 1;
};

class WorkQueues
{
public:
    // Never destroyed: work items may still be queued while the process exits.
    static WorkQueues &instance()
    {
        static WorkQueues *queues = new WorkQueues;
        return *queues;
    }

    HRESULT allocate(DWORD *id)
    {
        if (!id)
            return E_POINTER;
        auto queue = std::make_shared<SerialQueue>();
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            *id = m_nextSerial++;
            m_serial[*id] = queue;
        }
        const DWORD queueId = *id;
        std::thread([this, queue, queueId] { runSerial(queue, queueId); }).detach();
        return S_OK;
    }

    HRESULT lock(DWORD id)
    {
        if (isStandardQueue(id))
            return S_OK;
        std::shared_ptr<SerialQueue> queue = find(id);
        if (!queue)
            return MF_E_INVALID_WORKQUEUE;
        std::lock_guard<std::mutex> lock(queue->mutex);
        if (queue->locks == 0)
            return MF_E_INVALID_WORKQUEUE;
        ++queue->locks;
        return S_OK;
    }

    HRESULT unlock(DWORD id)
    {
        if (isStandardQueue(id))
            return S_OK;
        std::shared_ptr<SerialQueue> queue = find(id);
        if (!queue)
            return MF_E_INVALID_WORKQUEUE;
        {
            std::lock_guard<std::mutex> lock(queue->mutex);
            if (queue->locks == 0)
                return MF_E_INVALID_WORKQUEUE;
            --queue->locks;
        }
        queue->wake.notify_all();
        return S_OK;
    }

    HRESULT put(DWORD id, IMFAsyncResult *result)
    {
        if (!result)
            return E_POINTER;
        CComPtr<IAsyncResultInternal> internal;
        if (FAILED(nyx::mf::queryInto(result, internal)) || !internal->callback())
            return E_INVALIDARG;
        if (isStandardQueue(id)) {
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                startPool();
                m_standard.emplace_back(result);
            }
            m_standardWake.notify_one();
            return S_OK;
        }
        std::shared_ptr<SerialQueue> queue = find(id);
        if (!queue)
            return MF_E_INVALID_WORKQUEUE;
        {
            std::lock_guard<std::mutex> lock(queue->mutex);
            if (queue->locks == 0)
                return MF_E_INVALID_WORKQUEUE;
            queue->items.emplace_back(result);
        }
        queue->wake.notify_one();
        return S_OK;
    }

    HRESULT schedule(IMFAsyncResult *result, INT64 timeout, MFWORKITEM_KEY *key)
    {
        if (!result)
            return E_POINTER;
        CComPtr<IAsyncResultInternal> internal;
        if (FAILED(nyx::mf::queryInto(result, internal)) || !internal->callback())
            return E_INVALIDARG;
        const INT64 delayMs = timeout < 0 ? -timeout : timeout;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            startTimer();
            const MFWORKITEM_KEY itemKey = m_nextKey++;
            m_scheduled[itemKey] = Scheduled{Clock::now() + std::chrono::milliseconds(delayMs), result};
            if (key)
                *key = itemKey;
        }
        m_timerWake.notify_one();
        return S_OK;
    }

    HRESULT cancel(MFWORKITEM_KEY key)
    {
        CComPtr<IMFAsyncResult> cancelled;
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_scheduled.find(key);
        if (it == m_scheduled.end())
            return MF_E_NOT_FOUND;
        cancelled = it->second.result;
        m_scheduled.erase(it);
        return S_OK;
    }

private:
    struct Scheduled
    {
        Clock::time_point due;
        CComPtr<IMFAsyncResult> result;
    };

    std::shared_ptr<SerialQueue> find(DWORD id)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_serial.find(id);
        return it == m_serial.end() ? nullptr : it->second;
    }

    void runSerial(std::shared_ptr<SerialQueue> queue, DWORD id)
    {
        nameThread("mf-serial");
        for (;;) {
            CComPtr<IMFAsyncResult> item;
            {
                std::unique_lock<std::mutex> lock(queue->mutex);
                queue->wake.wait(lock, [&] { return !queue->items.empty() || queue->locks == 0; });
                if (queue->items.empty())
                    break; // unlocked and drained
                item = std::move(queue->items.front());
                queue->items.pop_front();
            }
            invoke(item);
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        m_serial.erase(id);
    }

    // Under m_mutex.
    void startPool()
    {
        if (m_poolStarted)
            return;
        m_poolStarted = true;
        const unsigned count = std::clamp(std::thread::hardware_concurrency(), 4u, 16u);
        for (unsigned i = 0; i < count; ++i)
            std::thread([this] { runStandard(); }).detach();
    }

    void runStandard()
    {
        nameThread("mf-standard");
        for (;;) {
            CComPtr<IMFAsyncResult> item;
            {
                std::unique_lock<std::mutex> lock(m_mutex);
                m_standardWake.wait(lock, [&] { return !m_standard.empty(); });
                item = std::move(m_standard.front());
                m_standard.pop_front();
            }
            invoke(item);
        }
    }

    // Under m_mutex.
    void startTimer()
    {
        if (m_timerStarted)
            return;
        m_timerStarted = true;
        std::thread([this] { runTimer(); }).detach();
    }

    void runTimer()
    {
        nameThread("mf-timer");
        std::unique_lock<std::mutex> lock(m_mutex);
        for (;;) {
            if (m_scheduled.empty()) {
                m_timerWake.wait(lock);
                continue;
            }
            auto next =
                std::min_element(m_scheduled.begin(), m_scheduled.end(),
                                 [](const auto &a, const auto &b) { return a.second.due < b.second.due; });
            // A copy: the item may be cancelled (and freed) while the timer waits.
            const Clock::time_point due = next->second.due;
            if (due > Clock::now()) {
                m_timerWake.wait_until(lock, due);
                continue;
            }
            m_standard.push_back(std::move(next->second.result));
            m_scheduled.erase(next);
            startPool();
            m_standardWake.notify_one();
        }
    }

    std::mutex m_mutex;
    DWORD m_nextSerial = kFirstSerialQueue;
    std::map<DWORD, std::shared_ptr<SerialQueue>> m_serial;
    bool m_poolStarted = false;
    std::condition_variable m_standardWake;
    std::deque<CComPtr<IMFAsyncResult>> m_standard;
    bool m_timerStarted = false;
    std::condition_variable m_timerWake;
    MFWORKITEM_KEY m_nextKey = 1;
    std::map<MFWORKITEM_KEY, Scheduled> m_scheduled;
};
} // namespace
} // namespace nyx::mf

using nyx::mf::WorkQueues;

HRESULT MFCreateAsyncResult(IUnknown *object, IMFAsyncCallback *callback, IUnknown *state,
                            IMFAsyncResult **result)
{
    if (!result)
        return E_POINTER;
    *result = new nyx::mf::AsyncResult(object, callback, state);
    return S_OK;
}

HRESULT MFInvokeCallback(IMFAsyncResult *result)
{
    if (!result)
        return E_POINTER;
    CComPtr<nyx::mf::IAsyncResultInternal> internal;
    if (FAILED(nyx::mf::queryInto(result, internal)))
        return E_INVALIDARG;
    CComPtr<IMFAsyncCallback> callback = internal->callback();
    if (!callback)
        return E_INVALIDARG;
    DWORD flags = 0, queue = MFASYNC_CALLBACK_QUEUE_STANDARD;
    if (FAILED(callback->GetParameters(&flags, &queue)))
        queue = MFASYNC_CALLBACK_QUEUE_STANDARD;
    return WorkQueues::instance().put(queue, result);
}

HRESULT MFAllocateWorkQueue(DWORD *queue)
{
    return WorkQueues::instance().allocate(queue);
}

HRESULT MFLockWorkQueue(DWORD queue)
{
    return WorkQueues::instance().lock(queue);
}

HRESULT MFUnlockWorkQueue(DWORD queue)
{
    return WorkQueues::instance().unlock(queue);
}

HRESULT MFPutWorkItem(DWORD queue, IMFAsyncCallback *callback, IUnknown *state)
{
    if (!callback)
        return E_POINTER;
    CComPtr<IMFAsyncResult> result;
    MFCreateAsyncResult(nullptr, callback, state, &result);
    return WorkQueues::instance().put(queue, result);
}

HRESULT MFPutWorkItemEx(DWORD queue, IMFAsyncResult *result)
{
    return WorkQueues::instance().put(queue, result);
}

HRESULT MFScheduleWorkItem(IMFAsyncCallback *callback, IUnknown *state, INT64 timeout, MFWORKITEM_KEY *key)
{
    if (!callback)
        return E_POINTER;
    CComPtr<IMFAsyncResult> result;
    MFCreateAsyncResult(nullptr, callback, state, &result);
    return WorkQueues::instance().schedule(result, timeout, key);
}

HRESULT MFScheduleWorkItemEx(IMFAsyncResult *result, INT64 timeout, MFWORKITEM_KEY *key)
{
    return WorkQueues::instance().schedule(result, timeout, key);
}

HRESULT MFCancelWorkItem(MFWORKITEM_KEY key)
{
    return WorkQueues::instance().cancel(key);
}
