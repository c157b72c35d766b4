// The request manager: RequestSample queues a request, and one serve pass at a time on the stream's
// queue asks the stream for samples while requests are outstanding.

#include "multimedia/source/isource.h"

#include <deque>
#include <mutex>

namespace nyx {
namespace {
// A failing ProduceData is tried again; a failure that lasts this many tries raises MEError.
constexpr int kFailureLimit = 10;
constexpr qint64 kRetryDelayMs = 50;

class SampleRequestManager : public ISampleRequestManager,
                             public std::enable_shared_from_this<SampleRequestManager>
{
public:
    SampleRequestManager(ISourceStream *stream, MFMessageQueue queue)
        : m_stream(stream), m_queue(std::move(queue))
    {
    }

    HRESULT RequestSample(IUnknown *token) override
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_shutdown)
                return MF_E_SHUTDOWN;
            m_requests.emplace_back(token);
        }
        return schedule();
    }

    HRESULT ServeRequests() override { return schedule(); }

    HRESULT ServeRequestsLater(qint64 delayMs) override
    {
        std::weak_ptr<SampleRequestManager> weak = shared_from_this();
        return MFMessageQueue::schedule(
            [weak]() {
                if (auto self = weak.lock())
                    self->schedule();
                return S_OK;
            },
            delayMs);
    }

    HRESULT SetMediaType(IMFMediaType *type) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_shutdown)
            return MF_E_SHUTDOWN;
        return m_stream->applyMediaType(type);
    }

    void Clear() override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_requests.clear();
        m_failures = 0;
    }

    int outstanding() const override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return static_cast<int>(m_requests.size());
    }

    void Shutdown() override
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_shutdown = true;
            m_requests.clear();
        }
        // Waits for a serve pass that is running: the stream may be going away.
        std::lock_guard<std::recursive_mutex> serving(m_serveMutex);
    }

    const MFMessageQueue &queue() const override { return m_queue; }

private:
    HRESULT schedule()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_shutdown)
                return MF_E_SHUTDOWN;
            if (m_scheduled)
                return S_OK;
            m_scheduled = true;
        }
        // The work item holds the manager, not the stream: the stream shuts the manager down
        // before it goes, and a pass that finds it shut down touches nothing.
        auto self = shared_from_this();
        const HRESULT hr = m_queue.push([self]() {
            self->serve();
            return S_OK;
        });
        if (FAILED(hr)) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_scheduled = false;
        }
        return hr;
    }

    void serve()
    {
        std::lock_guard<std::recursive_mutex> serving(m_serveMutex);
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_scheduled = false;
        }
        for (;;) {
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                if (m_shutdown || m_requests.empty())
                    return;
            }
            if (!m_stream->canProduce())
                return;
            CComPtr<IMFSample> sample;
            const HRESULT hr = m_stream->ProduceData(&sample);
            if (sample) {
                CComPtr<IUnknown> token;
                {
                    std::lock_guard<std::mutex> lock(m_mutex);
                    m_failures = 0;
                    if (m_requests.empty())
                        return; // cleared while producing (stop, seek): the sample goes back
                    token = m_requests.front();
                    m_requests.pop_front();
                }
                m_stream->deliverSample(sample, token);
                continue;
            }
            if (SUCCEEDED(hr) || hr == E_PENDING || hr == MF_E_SAMPLEALLOCATOR_EMPTY)
                return; // end of stream, a gap or an empty pool: the stream or the pool wakes us
            failed(hr);
            return;
        }
    }

    void failed(HRESULT hr)
    {
        bool raise = false;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (++m_failures >= kFailureLimit) {
                raise = true;
                m_requests.clear();
                m_failures = 0;
            }
        }
        if (raise) {
            m_stream->queueStreamEvent(MEError, hr, nullptr);
            return;
        }
        ServeRequestsLater(kRetryDelayMs);
    }

    ISourceStream *m_stream;
    MFMessageQueue m_queue;
    mutable std::mutex m_mutex;
    // Held while a serve pass runs.
    std::recursive_mutex m_serveMutex;
    std::deque<CComPtr<IUnknown>> m_requests;
    bool m_scheduled = false;
    bool m_shutdown = false;
    int m_failures = 0;
};
} // namespace

std::shared_ptr<ISampleRequestManager>
createSampleRequestManager(ISourceStream *stream, const MFMessageQueue *queue, IUnknown *reserved)
{
    if (!stream || reserved)
        return nullptr;
    return std::make_shared<SampleRequestManager>(stream, queue ? *queue : MFMessageQueue(1, 5));
}
} // namespace nyx
