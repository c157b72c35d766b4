#pragma once
// CRC-32C (Castagnoli) of the frame payloads: the SSE4.2 instruction where the CPU has it, a table otherwise.

#include <cstddef>
#include <cstdint>

namespace nyx::archive {
std::uint32_t crc32c(const std::uint8_t *data, std::size_t size, std::uint32_t crc = 0);
}
