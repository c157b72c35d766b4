#pragma once
// CRC-32C (Castagnoli) of the frame payloads: the SSE4.2 instruction where the CPU has it, a table otherwise.

#include <cstddef>
#include <cstdint>

namespace nyx::archive {
std::uint32_t crc32c(const std::uint8_t *data, std::size_t size, std::uint32_t crc = 0);
// The same CRC, copying the bytes to out (size bytes, not overlapping data) in the same pass.
std::uint32_t crc32cCopy(std::uint8_t *out, const std::uint8_t *data, std::size_t size,
                         std::uint32_t crc = 0);
// The table path alone, whatever the CPU, and whether crc32c takes the CPU's instruction.
std::uint32_t crc32cSoftware(const std::uint8_t *data, std::size_t size, std::uint32_t crc = 0);
bool crc32cHardware();
} // namespace nyx::archive
