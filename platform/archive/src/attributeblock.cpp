#include "attributeblock.h"

#include "archiveerrors.h"

#include <algorithm>
#include <cstring>

namespace nyx::archive {
namespace {
constexpr std::uint8_t kMagic[4] = {'N', 'Y', 'X', 'A'};
constexpr std::uint16_t kVersion = 1;
constexpr std::size_t kEntryHead = 8;
constexpr std::size_t kMaxNameUnits = 255;

template <class T> T load(const std::uint8_t *p)
{
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
template <class T> void store(std::uint8_t *p, T v)
{
    std::memcpy(p, &v, sizeof v);
}
} // namespace

void AttributeBlock::format()
{
    std::memset(m_block, 0, m_size);
    std::memcpy(m_block, kMagic, 4);
    store<std::uint16_t>(m_block + 4, kVersion);
    store<std::uint16_t>(m_block + 6, 0);
    store<std::uint32_t>(m_block + 8, kHeaderSize);
}

bool AttributeBlock::isZero() const
{
    return std::all_of(m_block, m_block + m_size, [](std::uint8_t b) { return b == 0; });
}

std::uint32_t AttributeBlock::used() const
{
    return load<std::uint32_t>(m_block + 8);
}

std::uint16_t AttributeBlock::entries() const
{
    return load<std::uint16_t>(m_block + 6);
}

HRESULT AttributeBlock::validate() const
{
    if (m_size < kHeaderSize)
        return E_INVALIDARG;
    if (std::memcmp(m_block, kMagic, 4) != 0)
        return isZero() ? S_OK : E_INVALIDARG;
    if (load<std::uint16_t>(m_block + 4) != kVersion)
        return E_INVALIDARG;
    const std::size_t end = used();
    if (end < kHeaderSize || end > m_size)
        return E_INVALIDARG;
    std::size_t pos = kHeaderSize;
    for (std::uint16_t i = 0; i < entries(); ++i) {
        if (end - pos < kEntryHead)
            return E_INVALIDARG;
        const auto type = m_block[pos];
        const std::size_t units = load<std::uint16_t>(m_block + pos + 2);
        const std::size_t value = load<std::uint32_t>(m_block + pos + 4);
        if (type < 1 || type > 3 || m_block[pos + 1] != 0 || units == 0 || units > kMaxNameUnits)
            return E_INVALIDARG;
        if ((type == 1 && value != 16) || (type == 2 && value != 8))
            return E_INVALIDARG;
        const std::size_t length = kEntryHead + units * 2;
        if (end - pos < length || end - pos - length < value)
            return E_INVALIDARG;
        pos += length + value;
    }
    return pos == end ? S_OK : E_INVALIDARG;
}

HRESULT AttributeBlock::find(const char16_t *name, std::size_t nameUnits, AttributeEntry *entry) const
{
    const HRESULT valid = validate();
    if (FAILED(valid))
        return valid;
    if (std::memcmp(m_block, kMagic, 4) != 0)
        return kNotFound; // empty: ERROR_NOT_FOUND
    std::size_t pos = kHeaderSize;
    for (std::uint16_t i = 0; i < entries(); ++i) {
        const std::size_t units = load<std::uint16_t>(m_block + pos + 2);
        const std::uint32_t value = load<std::uint32_t>(m_block + pos + 4);
        const std::size_t length = kEntryHead + units * 2;
        if (units == nameUnits && std::memcmp(m_block + pos + kEntryHead, name, units * 2) == 0) {
            entry->type = static_cast<AttributeType>(m_block[pos]);
            entry->valueOffset = pos + length;
            entry->valueSize = value;
            return S_OK;
        }
        pos += length + value;
    }
    return kNotFound;
}

HRESULT AttributeBlock::set(const char16_t *name, std::size_t nameUnits, AttributeType type,
                            const void *value, std::uint32_t size)
{
    if (nameUnits == 0 || nameUnits > kMaxNameUnits)
        return E_INVALIDARG;
    const HRESULT valid = validate();
    if (FAILED(valid))
        return valid;
    if (std::memcmp(m_block, kMagic, 4) != 0)
        format();
    // Build the new contents aside so that a block too small for the value stays untouched.
    std::vector<std::uint8_t> out(m_block, m_block + kHeaderSize);
    std::uint16_t count = 0;
    std::size_t pos = kHeaderSize;
    for (std::uint16_t i = 0; i < entries(); ++i) {
        const std::size_t units = load<std::uint16_t>(m_block + pos + 2);
        const std::uint32_t length = load<std::uint32_t>(m_block + pos + 4);
        const std::size_t total = kEntryHead + units * 2 + length;
        const bool same = units == nameUnits && std::memcmp(m_block + pos + kEntryHead, name, units * 2) == 0;
        if (!same) {
            out.insert(out.end(), m_block + pos, m_block + pos + total);
            ++count;
        }
        pos += total;
    }
    const std::size_t need = kEntryHead + nameUnits * 2 + size;
    if (out.size() + need > m_size)
        return E_NOT_SUFFICIENT_BUFFER;
    std::uint8_t head[kEntryHead] = {static_cast<std::uint8_t>(type), 0};
    store<std::uint16_t>(head + 2, static_cast<std::uint16_t>(nameUnits));
    store<std::uint32_t>(head + 4, size);
    out.insert(out.end(), head, head + kEntryHead);
    const auto *n = reinterpret_cast<const std::uint8_t *>(name);
    out.insert(out.end(), n, n + nameUnits * 2);
    const auto *v = static_cast<const std::uint8_t *>(value);
    if (size)
        out.insert(out.end(), v, v + size);
    ++count;
    store<std::uint16_t>(out.data() + 6, count);
    store<std::uint32_t>(out.data() + 8, static_cast<std::uint32_t>(out.size()));
    std::memcpy(m_block, out.data(), out.size());
    std::memset(m_block + out.size(), 0, m_size - out.size());
    return S_OK;
}

HRESULT AttributeBlock::count(std::uint32_t *count) const
{
    const HRESULT valid = validate();
    if (FAILED(valid))
        return valid;
    *count = std::memcmp(m_block, kMagic, 4) == 0 ? entries() : 0;
    return S_OK;
}
} // namespace nyx::archive
