#include "xml/objidl.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

namespace {
// Streams larger than this are refused: the answers it carries are small texts.
constexpr ULONGLONG kMaxStreamSize = 256ull * 1024 * 1024;

class MemoryStream : public nyx::com::ComObject<IStream>
{
public:
    HRESULT Read(void *buffer, ULONG size, ULONG *read) override
    {
        if (!buffer && size)
            return E_POINTER;
        const std::size_t available = m_position < m_data.size() ? m_data.size() - m_position : 0;
        const std::size_t n = std::min<std::size_t>(available, size);
        if (n)
            std::memcpy(buffer, m_data.data() + m_position, n);
        m_position += n;
        if (read)
            *read = static_cast<ULONG>(n);
        return n < size ? S_FALSE : S_OK;
    }
    HRESULT Write(const void *buffer, ULONG size, ULONG *written) override
    {
        if (!buffer && size)
            return E_POINTER;
        if (m_position + size > kMaxStreamSize)
            return STG_E_MEDIUMFULL;
        if (m_position + size > m_data.size())
            m_data.resize(m_position + size);
        if (size)
            std::memcpy(m_data.data() + m_position, buffer, size);
        m_position += size;
        if (written)
            *written = size;
        return S_OK;
    }
    HRESULT Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER *newPosition) override
    {
        LONGLONG base = 0;
        if (origin == STREAM_SEEK_CUR)
            base = static_cast<LONGLONG>(m_position);
        else if (origin == STREAM_SEEK_END)
            base = static_cast<LONGLONG>(m_data.size());
        else if (origin != STREAM_SEEK_SET)
            return STG_E_INVALIDFUNCTION;
        const LONGLONG target = base + move.QuadPart;
        if (target < 0 || static_cast<ULONGLONG>(target) > kMaxStreamSize)
            return STG_E_INVALIDFUNCTION;
        m_position = static_cast<std::size_t>(target);
        if (newPosition)
            newPosition->QuadPart = m_position;
        return S_OK;
    }
    HRESULT SetSize(ULARGE_INTEGER size) override
    {
        if (size.QuadPart > kMaxStreamSize)
            return STG_E_MEDIUMFULL;
        m_data.resize(static_cast<std::size_t>(size.QuadPart));
        return S_OK;
    }

private:
    std::vector<unsigned char> m_data;
    std::size_t m_position = 0;
};
} // namespace

HRESULT CreateStreamOnHGlobal(HGLOBAL global, BOOL, IStream **stream)
{
    if (!stream)
        return E_POINTER;
    *stream = nullptr;
    if (global)
        return E_INVALIDARG;
    *stream = new MemoryStream;
    return S_OK;
}
