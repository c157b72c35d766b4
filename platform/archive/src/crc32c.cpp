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
// The CRC instruction has a latency of three cycles and a throughput of one: three blocks are run at
// once and joined. Joining shifts a CRC state over a block of zeros, a linear map kept as four tables.
constexpr std::size_t kBlock = 4096;

// With a destination, the bytes are copied on the way: each word is stored once it is loaded for the CRC.
template <bool Copy>
__attribute__((target("sse4.2"))) std::uint64_t run(std::uint64_t c, const std::uint8_t *data,
                                                    std::size_t size, std::uint8_t *out = nullptr)
{
    while (size >= 8) {
        std::uint64_t word;
        std::memcpy(&word, data, 8);
        if (Copy) {
            std::memcpy(out, &word, 8);
            out += 8;
        }
        c = __builtin_ia32_crc32di(c, word);
        data += 8;
        size -= 8;
    }
    auto c32 = static_cast<std::uint32_t>(c);
    while (size--) {
        if (Copy)
            *out++ = *data;
        c32 = __builtin_ia32_crc32qi(c32, *data++);
    }
    return c32;
}

struct ShiftTables
{
    std::uint32_t t[4][256];
};

// The state after kBlock zero bytes, as a function of the state before, by bytes of the state.
ShiftTables makeShift()
{
    ShiftTables shift{};
    static const std::uint8_t zeros[kBlock] = {};
    std::uint32_t basis[32];
    for (int bit = 0; bit < 32; ++bit)
        basis[bit] = static_cast<std::uint32_t>(run<false>(std::uint64_t(1) << bit, zeros, kBlock));
    for (int byte = 0; byte < 4; ++byte) {
        for (std::uint32_t v = 0; v < 256; ++v) {
            std::uint32_t r = 0;
            for (int bit = 0; bit < 8; ++bit) {
                if (v & (1u << bit))
                    r ^= basis[byte * 8 + bit];
            }
            shift.t[byte][v] = r;
        }
    }
    return shift;
}

std::uint32_t shifted(const ShiftTables &s, std::uint32_t c)
{
    return s.t[0][c & 0xFF] ^ s.t[1][(c >> 8) & 0xFF] ^ s.t[2][(c >> 16) & 0xFF] ^ s.t[3][c >> 24];
}

template <bool Copy>
__attribute__((target("sse4.2"))) std::uint32_t hardware(const std::uint8_t *data, std::size_t size,
                                                         std::uint32_t crc, std::uint8_t *out = nullptr)
{
    static const ShiftTables shift = makeShift();
    std::uint64_t c = static_cast<std::uint32_t>(~crc);
    while (size >= 3 * kBlock) {
        std::uint64_t a = c, b = 0, d = 0;
        const std::uint8_t *p = data;
        for (std::size_t i = 0; i < kBlock; i += 8) {
            std::uint64_t wa, wb, wd;
            std::memcpy(&wa, p + i, 8);
            std::memcpy(&wb, p + kBlock + i, 8);
            std::memcpy(&wd, p + 2 * kBlock + i, 8);
            if (Copy) {
                std::memcpy(out + i, &wa, 8);
                std::memcpy(out + kBlock + i, &wb, 8);
                std::memcpy(out + 2 * kBlock + i, &wd, 8);
            }
            a = __builtin_ia32_crc32di(a, wa);
            b = __builtin_ia32_crc32di(b, wb);
            d = __builtin_ia32_crc32di(d, wd);
        }
        c = shifted(shift, shifted(shift, static_cast<std::uint32_t>(a)) ^ static_cast<std::uint32_t>(b)) ^
            static_cast<std::uint32_t>(d);
        data += 3 * kBlock;
        size -= 3 * kBlock;
        if (Copy)
            out += 3 * kBlock;
    }
    return ~static_cast<std::uint32_t>(run<Copy>(c, data, size, out));
}
#endif
} // namespace

namespace {
#if defined(__x86_64__)
const bool g_hasSse42 = __builtin_cpu_supports("sse4.2");
#else
const bool g_hasSse42 = false;
#endif
} // namespace

std::uint32_t crc32c(const std::uint8_t *data, std::size_t size, std::uint32_t crc)
{
#if defined(__x86_64__)
    if (g_hasSse42)
        return hardware<false>(data, size, crc);
#endif
    return software(data, size, crc);
}

std::uint32_t crc32cCopy(std::uint8_t *out, const std::uint8_t *data, std::size_t size, std::uint32_t crc)
{
#if defined(__x86_64__)
    if (g_hasSse42)
        return hardware<true>(data, size, crc, out);
#endif
    if (size)
        std::memcpy(out, data, size);
    return software(data, size, crc);
}

std::uint32_t crc32cSoftware(const std::uint8_t *data, std::size_t size, std::uint32_t crc)
{
    return software(data, size, crc);
}

bool crc32cHardware()
{
    return g_hasSse42;
}
} // namespace nyx::archive
