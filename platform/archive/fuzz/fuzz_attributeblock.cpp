// Any bytes as a stream's 4096-byte attribute block: validation, lookups and updates give a result
// or an error code, never a crash or an access outside the block; an update keeps the block valid.

#include "src/attributeblock.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

using namespace nyx::archive;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    // The block is exactly as large as the caller's memory: no slack that would hide an over-read.
    std::vector<std::uint8_t> block(data, data + std::min<std::size_t>(size, 4096));
    block.resize(4096);
    AttributeBlock view(block.data(), block.size());
    const bool valid = view.validate() == S_OK;
    std::uint32_t count = 0;
    if ((view.count(&count) == S_OK) != valid)
        __builtin_trap();
    static const char16_t *const kNames[] = {u"MediaType_MajorType", u"MediaType_Subtype", u"A", u"Video_1"};
    for (const char16_t *name : kNames) {
        const std::size_t units = std::char_traits<char16_t>::length(name);
        AttributeEntry entry{};
        if (view.find(name, units, &entry) == S_OK &&
            (entry.valueOffset > block.size() || block.size() - entry.valueOffset < entry.valueSize))
            __builtin_trap();
    }
    if (valid) {
        const std::uint8_t guid[16] = {1, 2, 3};
        const HRESULT hr = view.set(u"MediaType_Subtype", 17, AttributeType::Guid, guid, sizeof guid);
        if (view.validate() != S_OK)
            __builtin_trap();
        AttributeEntry entry{};
        if (hr == S_OK && (view.find(u"MediaType_Subtype", 17, &entry) != S_OK || entry.valueSize != 16 ||
                           std::memcmp(block.data() + entry.valueOffset, guid, 16) != 0))
            __builtin_trap();
    }
    return 0;
}
