#include "com/bstr.h"

#include <cstdlib>
#include <limits>

namespace {
constexpr UINT kMaxUnits = (std::numeric_limits<std::uint32_t>::max() - 16) / 2;

std::uint32_t *header(BSTR text)
{
    return reinterpret_cast<std::uint32_t *>(text) - 1;
}

BSTR allocate(UINT byteLength)
{
    // Prefix, payload, and a two-byte NUL (an odd byte length still ends in a whole unit).
    auto *block = static_cast<std::uint32_t *>(std::calloc(1, sizeof(std::uint32_t) + byteLength + 2 + 1));
    if (!block)
        return nullptr;
    block[0] = byteLength;
    return reinterpret_cast<BSTR>(block + 1);
}
} // namespace

BSTR SysAllocStringLen(const OLECHAR *text, UINT length)
{
    if (length > kMaxUnits)
        return nullptr;
    BSTR s = allocate(length * 2);
    if (s && text)
        std::memcpy(s, text, length * sizeof(OLECHAR));
    return s;
}

BSTR SysAllocString(LPCOLESTR text)
{
    if (!text)
        return nullptr;
    UINT length = 0;
    while (text[length])
        ++length;
    return SysAllocStringLen(text, length);
}

BSTR SysAllocStringByteLen(const char *bytes, UINT length)
{
    if (length > kMaxUnits * 2)
        return nullptr;
    BSTR s = allocate(length);
    if (s && bytes)
        std::memcpy(s, bytes, length);
    return s;
}

UINT SysStringLen(BSTR text)
{
    return text ? *header(text) / 2 : 0;
}

UINT SysStringByteLen(BSTR text)
{
    return text ? *header(text) : 0;
}

void SysFreeString(BSTR text)
{
    if (text)
        std::free(header(text));
}

namespace nyx::com {
BSTR toBstr(const QString &text)
{
    return SysAllocStringLen(reinterpret_cast<const OLECHAR *>(text.utf16()), static_cast<UINT>(text.size()));
}

QString fromBstr(BSTR text)
{
    if (!text)
        return QString();
    return QString::fromUtf16(text, static_cast<int>(SysStringLen(text)));
}
} // namespace nyx::com
