#pragma once
// The layout of an attribute block: a 16-byte header ("NYXA", version, entry count, bytes used)
// followed by entries {type u8, 0 u8, name units u16, value size u32, name (UTF-16), value}.
// Every access validates the whole block first, since the caller owns and may change the memory.

#include "win32/winerror.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace nyx::archive {
enum class AttributeType : std::uint8_t
{
    Guid = 1,
    Double = 2,
    Blob = 3
};

struct AttributeEntry
{
    AttributeType type;
    std::size_t valueOffset;
    std::uint32_t valueSize;
};

class AttributeBlock
{
public:
    static constexpr std::size_t kHeaderSize = 16;

    AttributeBlock(std::uint8_t *block, std::size_t size) : m_block(block), m_size(size) {}

    void format();
    // S_OK for a well-formed block or an all-zero one (which reads as empty); E_INVALIDARG otherwise.
    HRESULT validate() const;
    // ERROR_NOT_FOUND as HRESULT when missing.
    HRESULT find(const char16_t *name, std::size_t nameUnits, AttributeEntry *entry) const;
    HRESULT set(const char16_t *name, std::size_t nameUnits, AttributeType type, const void *value,
                std::uint32_t size);
    HRESULT count(std::uint32_t *count) const;

private:
    bool isZero() const;
    std::uint32_t used() const;
    std::uint16_t entries() const;

    std::uint8_t *m_block;
    std::size_t m_size;
};
} // namespace nyx::archive
