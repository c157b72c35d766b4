#pragma once
// GUID with the Windows memory layout (Data1..Data3 little-endian, as on x86).

#include "win32/winerror.h"

#include <QUuid>
#include <cstring>
#include <functional>

struct GUID
{
    std::uint32_t Data1;
    std::uint16_t Data2;
    std::uint16_t Data3;
    std::uint8_t Data4[8];
};
static_assert(sizeof(GUID) == 16, "GUID has the Windows size");

using IID = GUID;
using CLSID = GUID;
using REFGUID = const GUID &;
using REFIID = const IID &;
using REFCLSID = const CLSID &;
using OLECHAR = char16_t;
using LPOLESTR = OLECHAR *;
using LPCOLESTR = const OLECHAR *;

inline bool operator==(const GUID &a, const GUID &b)
{
    return std::memcmp(&a, &b, sizeof(GUID)) == 0;
}
inline bool operator!=(const GUID &a, const GUID &b)
{
    return !(a == b);
}
inline bool operator<(const GUID &a, const GUID &b)
{
    return std::memcmp(&a, &b, sizeof(GUID)) < 0;
}
inline bool IsEqualGUID(REFGUID a, REFGUID b)
{
    return a == b;
}

constexpr GUID GUID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};

// Strict: only the braced form "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}"; CO_E_CLASSSTRING otherwise.
HRESULT CLSIDFromString(LPCOLESTR text, CLSID *clsid);
HRESULT IIDFromString(LPCOLESTR text, IID *iid);
// Writes the braced form (38 units plus NUL); returns the units written with the NUL, 0 if too small.
int StringFromGUID2(REFGUID guid, LPOLESTR buffer, int capacity);

namespace nyx::com {
QUuid toQUuid(const GUID &guid);
GUID fromQUuid(const QUuid &uuid);
// The braced upper-case text, as Windows prints it.
QString toString(const GUID &guid);
// Parses the braced form; false for anything else.
bool parseGuid(const QString &text, GUID *guid);
} // namespace nyx::com

namespace std {
template <> struct hash<GUID>
{
    size_t operator()(const GUID &g) const noexcept
    {
        std::uint64_t a, b;
        std::memcpy(&a, &g, 8);
        std::memcpy(&b, reinterpret_cast<const char *>(&g) + 8, 8);
        return std::hash<std::uint64_t>()(a ^ (b * 0x9E3779B97F4A7C15ULL));
    }
};
} // namespace std
