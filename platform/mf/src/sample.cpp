// Memory buffers and samples.

#include "mf/attributesimpl.h"
#include "mf/mfapi.h"

#include "com/comptr.h"

#include <atomic>
#include <cstring>
#include <memory>
#include <new>

namespace nyx::mf {
namespace {
class MemoryBuffer final : public com::ComObject<IMFMediaBuffer>
{
public:
    // alignment: bytes minus one (a power of two minus one).
    static HRESULT create(DWORD maxLength, DWORD alignment, IMFMediaBuffer **buffer)
    {
        if (!buffer)
            return E_POINTER;
        *buffer = nullptr;
        if ((alignment & (alignment + 1)) != 0)
            return E_INVALIDARG;
        std::unique_ptr<BYTE[]> storage(new (std::nothrow) BYTE[std::size_t(maxLength) + alignment + 1]);
        if (!storage)
            return E_OUTOFMEMORY;
        *buffer = new MemoryBuffer(std::move(storage), maxLength, alignment);
        return S_OK;
    }

    HRESULT Lock(BYTE **buffer, DWORD *maxLength, DWORD *currentLength) override
    {
        if (!buffer)
            return E_POINTER;
        ++m_locks;
        *buffer = m_data;
        if (maxLength)
            *maxLength = m_maxLength;
        if (currentLength)
            *currentLength = m_currentLength;
        return S_OK;
    }
    HRESULT Unlock() override
    {
        int locks = m_locks.load();
        do {
            if (locks <= 0)
                return MF_E_INVALIDREQUEST;
        } while (!m_locks.compare_exchange_weak(locks, locks - 1));
        return S_OK;
    }
    HRESULT GetCurrentLength(DWORD *length) override
    {
        if (!length)
            return E_POINTER;
        *length = m_currentLength;
        return S_OK;
    }
    HRESULT SetCurrentLength(DWORD length) override
    {
        if (length > m_maxLength)
            return E_INVALIDARG;
        m_currentLength = length;
        return S_OK;
    }
    HRESULT GetMaxLength(DWORD *length) override
    {
        if (!length)
            return E_POINTER;
        *length = m_maxLength;
        return S_OK;
    }

private:
    MemoryBuffer(std::unique_ptr<BYTE[]> storage, DWORD maxLength, DWORD alignment)
        : m_storage(std::move(storage)), m_maxLength(maxLength)
    {
        const auto address = reinterpret_cast<std::uintptr_t>(m_storage.get());
        m_data = m_storage.get() + (((address + alignment) & ~std::uintptr_t(alignment)) - address);
    }

    std::unique_ptr<BYTE[]> m_storage;
    BYTE *m_data = nullptr;
    const DWORD m_maxLength;
    std::atomic<DWORD> m_currentLength{0};
    std::atomic<int> m_locks{0};
};

class Sample final : public AttributesImpl<com::ComObject<IMFSample>>
{
public:
    HRESULT GetSampleFlags(DWORD *flags) override
    {
        if (!flags)
            return E_POINTER;
        std::lock_guard<std::mutex> lock(m_mutex);
        *flags = m_flags;
        return S_OK;
    }
    HRESULT SetSampleFlags(DWORD flags) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_flags = flags;
        return S_OK;
    }
    HRESULT GetSampleTime(LONGLONG *time) override
    {
        if (!time)
            return E_POINTER;
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_hasTime)
            return MF_E_NO_SAMPLE_TIMESTAMP;
        *time = m_time;
        return S_OK;
    }
    HRESULT SetSampleTime(LONGLONG time) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_time = time;
        m_hasTime = true;
        return S_OK;
    }
    HRESULT GetSampleDuration(LONGLONG *duration) override
    {
        if (!duration)
            return E_POINTER;
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_hasDuration)
            return MF_E_NO_SAMPLE_DURATION;
        *duration = m_duration;
        return S_OK;
    }
    HRESULT SetSampleDuration(LONGLONG duration) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_duration = duration;
        m_hasDuration = true;
        return S_OK;
    }
    HRESULT GetBufferCount(DWORD *count) override
    {
        if (!count)
            return E_POINTER;
        std::lock_guard<std::mutex> lock(m_mutex);
        *count = DWORD(m_buffers.size());
        return S_OK;
    }
    HRESULT GetBufferByIndex(DWORD index, IMFMediaBuffer **buffer) override
    {
        if (!buffer)
            return E_POINTER;
        std::lock_guard<std::mutex> lock(m_mutex);
        if (index >= m_buffers.size())
            return E_INVALIDARG;
        return m_buffers[index].CopyTo(buffer);
    }
    HRESULT ConvertToContiguousBuffer(IMFMediaBuffer **buffer) override
    {
        if (!buffer)
            return E_POINTER;
        *buffer = nullptr;
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_buffers.empty())
            return E_UNEXPECTED;
        if (m_buffers.size() == 1)
            return m_buffers.front().CopyTo(buffer);
        DWORD total = 0;
        HRESULT hr = totalLength(&total);
        if (FAILED(hr))
            return hr;
        CComPtr<IMFMediaBuffer> joined;
        hr = MFCreateMemoryBuffer(total, &joined);
        if (SUCCEEDED(hr))
            hr = copyTo(joined);
        if (FAILED(hr))
            return hr;
        m_buffers.clear();
        m_buffers.push_back(joined);
        return joined.CopyTo(buffer);
    }
    HRESULT AddBuffer(IMFMediaBuffer *buffer) override
    {
        if (!buffer)
            return E_POINTER;
        std::lock_guard<std::mutex> lock(m_mutex);
        m_buffers.emplace_back(buffer);
        return S_OK;
    }
    HRESULT RemoveBufferByIndex(DWORD index) override
    {
        CComPtr<IMFMediaBuffer> removed;
        std::lock_guard<std::mutex> lock(m_mutex);
        if (index >= m_buffers.size())
            return E_INVALIDARG;
        removed = m_buffers[index];
        m_buffers.erase(m_buffers.begin() + index);
        return S_OK;
    }
    HRESULT RemoveAllBuffers() override
    {
        std::vector<CComPtr<IMFMediaBuffer>> removed;
        std::lock_guard<std::mutex> lock(m_mutex);
        removed.swap(m_buffers);
        return S_OK;
    }
    HRESULT GetTotalLength(DWORD *length) override
    {
        if (!length)
            return E_POINTER;
        std::lock_guard<std::mutex> lock(m_mutex);
        return totalLength(length);
    }
    HRESULT CopyToBuffer(IMFMediaBuffer *destination) override
    {
        if (!destination)
            return E_POINTER;
        std::lock_guard<std::mutex> lock(m_mutex);
        return copyTo(destination);
    }

private:
    // Under m_mutex.
    HRESULT totalLength(DWORD *length)
    {
        UINT64 total = 0;
        for (const auto &buffer : m_buffers) {
            DWORD current = 0;
            const HRESULT hr = buffer->GetCurrentLength(&current);
            if (FAILED(hr))
                return hr;
            total += current;
        }
        if (total > 0xFFFFFFFFu)
            return E_OUTOFMEMORY;
        *length = DWORD(total);
        return S_OK;
    }
    HRESULT copyTo(IMFMediaBuffer *destination)
    {
        DWORD total = 0;
        HRESULT hr = totalLength(&total);
        if (FAILED(hr))
            return hr;
        BYTE *target = nullptr;
        DWORD maxLength = 0;
        hr = destination->Lock(&target, &maxLength, nullptr);
        if (FAILED(hr))
            return hr;
        if (maxLength < total) {
            destination->Unlock();
            return MF_E_BUFFERTOOSMALL;
        }
        DWORD offset = 0;
        for (const auto &buffer : m_buffers) {
            BYTE *source = nullptr;
            DWORD current = 0;
            hr = buffer->Lock(&source, nullptr, &current);
            if (FAILED(hr))
                break;
            // The length may have changed since it was summed; never write past the total.
            current = std::min(current, total - offset);
            if (current)
                std::memcpy(target + offset, source, current);
            offset += current;
            buffer->Unlock();
        }
        destination->Unlock();
        if (SUCCEEDED(hr))
            hr = destination->SetCurrentLength(offset);
        return hr;
    }

    std::mutex m_mutex;
    std::vector<CComPtr<IMFMediaBuffer>> m_buffers;
    DWORD m_flags = 0;
    LONGLONG m_time = 0;
    LONGLONG m_duration = 0;
    bool m_hasTime = false;
    bool m_hasDuration = false;
};
} // namespace
} // namespace nyx::mf

HRESULT MFCreateSample(IMFSample **sample)
{
    if (!sample)
        return E_POINTER;
    *sample = new nyx::mf::Sample;
    return S_OK;
}

HRESULT MFCreateMemoryBuffer(DWORD maxLength, IMFMediaBuffer **buffer)
{
    return nyx::mf::MemoryBuffer::create(maxLength, MF_16_BYTE_ALIGNMENT, buffer);
}

HRESULT MFCreateAlignedMemoryBuffer(DWORD maxLength, DWORD alignment, IMFMediaBuffer **buffer)
{
    return nyx::mf::MemoryBuffer::create(maxLength, alignment, buffer);
}
