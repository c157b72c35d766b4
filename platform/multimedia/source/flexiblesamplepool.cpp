// The flexible sample pool. A pool sample is an IMFSample of our own over a plain sample; when its
// last reference goes it comes back to the pool, which keeps its buffer and gives it a fresh plain
// sample (no attributes, time or duration) for its next use.

#include "multimedia/source/isource.h"

#include <atomic>
#include <mutex>

namespace nyx {
namespace {
struct PoolState;

class PoolSample : public IMFSample
{
public:
    PoolSample(std::shared_ptr<PoolState> pool, CComPtr<IMFSample> inner, CComPtr<IMFMediaBuffer> buffer)
        : m_pool(std::move(pool)), m_inner(std::move(inner)), m_buffer(std::move(buffer))
    {
    }

    HRESULT QueryInterface(REFIID riid, void **object) override
    {
        if (!object)
            return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IMFAttributes || riid == IID_IMFSample) {
            *object = static_cast<IMFSample *>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++m_refs; }
    ULONG Release() override;

    // IMFAttributes
    HRESULT GetItem(REFGUID k, PROPVARIANT *v) override { return m_inner->GetItem(k, v); }
    HRESULT GetItemType(REFGUID k, MF_ATTRIBUTE_TYPE *t) override { return m_inner->GetItemType(k, t); }
    HRESULT CompareItem(REFGUID k, REFPROPVARIANT v, BOOL *r) override
    {
        return m_inner->CompareItem(k, v, r);
    }
    HRESULT Compare(IMFAttributes *a, MF_ATTRIBUTES_MATCH_TYPE m, BOOL *r) override
    {
        return m_inner->Compare(a, m, r);
    }
    HRESULT GetUINT32(REFGUID k, UINT32 *v) override { return m_inner->GetUINT32(k, v); }
    HRESULT GetUINT64(REFGUID k, UINT64 *v) override { return m_inner->GetUINT64(k, v); }
    HRESULT GetDouble(REFGUID k, double *v) override { return m_inner->GetDouble(k, v); }
    HRESULT GetGUID(REFGUID k, GUID *v) override { return m_inner->GetGUID(k, v); }
    HRESULT GetStringLength(REFGUID k, UINT32 *l) override { return m_inner->GetStringLength(k, l); }
    HRESULT GetString(REFGUID k, LPWSTR b, UINT32 c, UINT32 *l) override
    {
        return m_inner->GetString(k, b, c, l);
    }
    HRESULT GetAllocatedString(REFGUID k, LPWSTR *v, UINT32 *l) override
    {
        return m_inner->GetAllocatedString(k, v, l);
    }
    HRESULT GetBlobSize(REFGUID k, UINT32 *s) override { return m_inner->GetBlobSize(k, s); }
    HRESULT GetBlob(REFGUID k, UINT8 *b, UINT32 c, UINT32 *s) override
    {
        return m_inner->GetBlob(k, b, c, s);
    }
    HRESULT GetAllocatedBlob(REFGUID k, UINT8 **b, UINT32 *s) override
    {
        return m_inner->GetAllocatedBlob(k, b, s);
    }
    HRESULT GetUnknown(REFGUID k, REFIID i, LPVOID *o) override { return m_inner->GetUnknown(k, i, o); }
    HRESULT SetItem(REFGUID k, REFPROPVARIANT v) override { return m_inner->SetItem(k, v); }
    HRESULT DeleteItem(REFGUID k) override { return m_inner->DeleteItem(k); }
    HRESULT DeleteAllItems() override { return m_inner->DeleteAllItems(); }
    HRESULT SetUINT32(REFGUID k, UINT32 v) override { return m_inner->SetUINT32(k, v); }
    HRESULT SetUINT64(REFGUID k, UINT64 v) override { return m_inner->SetUINT64(k, v); }
    HRESULT SetDouble(REFGUID k, double v) override { return m_inner->SetDouble(k, v); }
    HRESULT SetGUID(REFGUID k, REFGUID v) override { return m_inner->SetGUID(k, v); }
    HRESULT SetString(REFGUID k, LPCWSTR v) override { return m_inner->SetString(k, v); }
    HRESULT SetBlob(REFGUID k, const UINT8 *b, UINT32 s) override { return m_inner->SetBlob(k, b, s); }
    HRESULT SetUnknown(REFGUID k, IUnknown *o) override { return m_inner->SetUnknown(k, o); }
    HRESULT LockStore() override { return m_inner->LockStore(); }
    HRESULT UnlockStore() override { return m_inner->UnlockStore(); }
    HRESULT GetCount(UINT32 *c) override { return m_inner->GetCount(c); }
    HRESULT GetItemByIndex(UINT32 i, GUID *k, PROPVARIANT *v) override
    {
        return m_inner->GetItemByIndex(i, k, v);
    }
    HRESULT CopyAllItems(IMFAttributes *d) override { return m_inner->CopyAllItems(d); }

    // IMFSample
    HRESULT GetSampleFlags(DWORD *f) override { return m_inner->GetSampleFlags(f); }
    HRESULT SetSampleFlags(DWORD f) override { return m_inner->SetSampleFlags(f); }
    HRESULT GetSampleTime(LONGLONG *t) override { return m_inner->GetSampleTime(t); }
    HRESULT SetSampleTime(LONGLONG t) override { return m_inner->SetSampleTime(t); }
    HRESULT GetSampleDuration(LONGLONG *d) override { return m_inner->GetSampleDuration(d); }
    HRESULT SetSampleDuration(LONGLONG d) override { return m_inner->SetSampleDuration(d); }
    HRESULT GetBufferCount(DWORD *c) override { return m_inner->GetBufferCount(c); }
    HRESULT GetBufferByIndex(DWORD i, IMFMediaBuffer **b) override { return m_inner->GetBufferByIndex(i, b); }
    HRESULT ConvertToContiguousBuffer(IMFMediaBuffer **b) override
    {
        return m_inner->ConvertToContiguousBuffer(b);
    }
    HRESULT AddBuffer(IMFMediaBuffer *b) override { return m_inner->AddBuffer(b); }
    HRESULT RemoveBufferByIndex(DWORD i) override { return m_inner->RemoveBufferByIndex(i); }
    HRESULT RemoveAllBuffers() override { return m_inner->RemoveAllBuffers(); }
    HRESULT GetTotalLength(DWORD *l) override { return m_inner->GetTotalLength(l); }
    HRESULT CopyToBuffer(IMFMediaBuffer *d) override { return m_inner->CopyToBuffer(d); }

    // Pool side, under the pool's lock.
    CComPtr<IMFMediaBuffer> &buffer() { return m_buffer; }
    CComPtr<IMFSample> &inner() { return m_inner; }
    void setPool(std::shared_ptr<PoolState> pool) { m_pool = std::move(pool); }

    ~PoolSample() override = default;

private:
    friend struct PoolState;

    std::atomic<ULONG> m_refs{0};
    std::shared_ptr<PoolState> m_pool;
    CComPtr<IMFSample> m_inner;
    CComPtr<IMFMediaBuffer> m_buffer;
};

struct PoolState
{
    std::mutex mutex;
    std::vector<PoolSample *> free;
    DWORD made = 0;
    DWORD count = 0;
    bool closed = false;
    int out = 0;
    // The callback runs under its own lock, so that once the pool is gone no callback is running
    // or will run: whoever the callback calls into may be destroyed right after the pool.
    std::mutex callbackMutex;
    std::function<void()> callback;

    // A sample's last reference went: it is recycled, or deleted when the pool is gone.
    void recycle(PoolSample *sample)
    {
        CComPtr<IMFSample> fresh;
        if (SUCCEEDED(MFCreateSample(&fresh)) && sample->m_buffer)
            fresh->AddBuffer(sample->m_buffer);
        {
            std::lock_guard<std::mutex> lock(mutex);
            --out;
            if (closed || !fresh) {
                --made;
                delete sample;
                return;
            }
            sample->m_inner = fresh;
            sample->m_pool.reset(); // no cycle while it waits in the free list
            free.push_back(sample);
        }
        std::lock_guard<std::mutex> lock(callbackMutex);
        if (callback)
            callback();
    }

    ~PoolState()
    {
        for (PoolSample *s : free)
            delete s;
    }
};

ULONG PoolSample::Release()
{
    const ULONG count = --m_refs;
    if (count == 0) {
        std::shared_ptr<PoolState> pool = std::move(m_pool);
        if (pool)
            pool->recycle(this);
        else
            delete this;
    }
    return count;
}

class FlexibleSamplePool : public IFlexibleSamplePool
{
public:
    FlexibleSamplePool(std::function<void()> callback, DWORD count) : m_state(std::make_shared<PoolState>())
    {
        m_state->count = count;
        m_state->callback = std::move(callback);
    }

    ~FlexibleSamplePool() override
    {
        {
            std::lock_guard<std::mutex> lock(m_state->mutex);
            m_state->closed = true;
        }
        std::lock_guard<std::mutex> lock(m_state->callbackMutex);
        m_state->callback = nullptr;
    }

    HRESULT GetSample(DWORD size, IMFSample **out) override
    {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        PoolSample *sample = nullptr;
        {
            std::lock_guard<std::mutex> lock(m_state->mutex);
            if (!m_state->free.empty()) {
                sample = m_state->free.back();
                m_state->free.pop_back();
            } else if (m_state->made >= m_state->count) {
                return MF_E_SAMPLEALLOCATOR_EMPTY;
            } else {
                ++m_state->made;
            }
            ++m_state->out;
        }
        HRESULT hr = S_OK;
        if (!sample) {
            CComPtr<IMFSample> inner;
            hr = MFCreateSample(&inner);
            if (SUCCEEDED(hr))
                sample = new PoolSample(nullptr, inner, nullptr);
        }
        if (SUCCEEDED(hr)) {
            DWORD maxLength = 0;
            if (sample->buffer())
                sample->buffer()->GetMaxLength(&maxLength);
            if (!sample->buffer() || maxLength < size) {
                CComPtr<IMFMediaBuffer> buffer;
                hr = MFCreateMemoryBuffer(size, &buffer);
                if (SUCCEEDED(hr)) {
                    sample->inner()->RemoveAllBuffers();
                    hr = sample->inner()->AddBuffer(buffer);
                    sample->buffer() = buffer;
                }
            }
        }
        if (SUCCEEDED(hr))
            hr = sample->buffer()->SetCurrentLength(0);
        if (FAILED(hr)) {
            std::lock_guard<std::mutex> lock(m_state->mutex);
            --m_state->out;
            --m_state->made;
            delete sample;
            return hr;
        }
        sample->setPool(m_state);
        sample->AddRef();
        *out = sample;
        return S_OK;
    }

    int outstanding() const override
    {
        std::lock_guard<std::mutex> lock(m_state->mutex);
        return m_state->out;
    }

private:
    std::shared_ptr<PoolState> m_state;
};
} // namespace

std::unique_ptr<IFlexibleSamplePool> createFlexibleSamplePool(IUnknown *owner, std::function<void()> callback,
                                                              DWORD count)
{
    // The samples keep no reference on the owner: a sample may outlive its source and stream, and
    // then is simply freed when it comes back.
    (void)owner;
    return std::make_unique<FlexibleSamplePool>(std::move(callback), count);
}
} // namespace nyx
