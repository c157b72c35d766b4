#include "crc32c.h"

#include <array>
#include <cstring>

namespace nyx::archive {
namespace {
constexpr std::uint32_t kPolynomial = 0x82F63B78u;

std::array<std::uint32_t, 256> makeTable()
{
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? (c >> 1) ^ kPolynomial : c >> 1;
        table[i] = c;
    }
    return table;
}

std::uint32_t software(const std::uint8_t *data, std::size_t size, std::uint32_t crc)
{
    static const std::array<std::uint32_t, 256> table = makeTable();
    crc = ~crc;
    for (std::size_t i = 0; i < size; ++i)
        crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

#if defined(__x86_64__)
__attribute__((target("sse4.2"))) std::uint32_t hardware(const std::uint8_t *data, std::size_t size,
                                                         std::uint32_t crc)
{
    std::uint64_t c = ~crc;
    while (size >= 8) {
        std::uint64_t word;
        std::memcpy(&word, data, 8);
        c = __builtin_ia32_crc32di(c, word);
        data += 8;
        size -= 8;
    }
    auto c32 = static_cast<std::uint32_t>(c);
    while (size--)
        c32 = __builtin_ia32_crc32qi(c32, *data++);
    return ~c32;
}
#endif
} // namespace

std::uint32_t crc32c(const std::uint8_t *data, std::size_t size, std::uint32_t crc)
{
#if defined(__x86_64__)
    static const bool hasSse42 = __builtin_cpu_supports("sse4.2");
    if (hasSse42)
        return hardware(data, size, crc);
#endif
    return software(data, size, crc);
}
} // namespace nyx::archive
