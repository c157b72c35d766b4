#pragma once
// The frames of a segment file: a 32-byte header (magic, payload length, time, frame number,
// CRC-32C of the payload, record count) and the records of the payload, each {channel u32,
// kind u8, 3 zero bytes, length u32, bytes}. Readers, recovery and the index rebuild take frames
// only through these checks: a damaged or foreign file gives an error, never an over-read.

#include "win32/winerror.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace nyx::archive::segment {
constexpr std::uint32_t kMagic = 0x4658594E; // "NYXF"
constexpr std::size_t kHeaderSize = 32;
constexpr std::size_t kRecordHead = 12;
constexpr std::size_t kMaxFrame = 64u * 1024 * 1024;
constexpr std::uint8_t kData = 1;
constexpr std::uint8_t kBlob = 2;

struct FrameHeader
{
    std::uint32_t length = 0; // payload bytes after the header
    std::int64_t time = 0;
    std::int64_t fno = 0;
    std::uint32_t crc = 0;
    std::uint32_t records = 0;
};

void writeHeader(const FrameHeader &header, std::uint8_t *out);
// False unless the magic is right and the payload length is within the frame limit.
bool readHeader(const std::uint8_t *bytes, std::size_t size, FrameHeader *header);
// True when the payload holds exactly `records` well-formed records and matches the CRC.
bool checkPayload(const FrameHeader &header, const std::uint8_t *payload, std::size_t size);
// The record of channel and kind in a checked payload; false when there is none or it is malformed.
bool findRecord(const std::uint8_t *payload, std::size_t size, std::uint32_t channel, std::uint8_t kind,
                const std::uint8_t **bytes, std::uint32_t *length);
// Calls visit(channel, kind) for each record of a checked payload.
void forEachRecord(const std::uint8_t *payload, std::size_t size,
                   const std::function<void(std::uint32_t, std::uint8_t)> &visit);

// Reads the whole frame (header and payload) at offset of an open segment file and checks it.
// S_OK, ERROR_HANDLE_EOF when no frame starts there (end of the written data), ERROR_FILE_CORRUPT
// when the bytes there are not a whole, intact frame, ERROR_READ_FAULT when reading fails.
// fileSize, when known, refuses a frame that would reach past the file before reading it.
HRESULT readFrame(int fd, std::int64_t offset, FrameHeader *header, std::vector<std::uint8_t> *frame,
                  std::int64_t fileSize = -1);

struct ScanResult
{
    std::int64_t end = 0;  // offset just past the last intact frame
    std::int64_t size = 0; // size of the file
    bool damaged = false;  // stopped at bytes that are not an intact frame
    HRESULT error = S_OK;  // a read failure
};
// Walks the frames of a segment from its start, in order, to the end of the file or the first
// frame that fails its checks. visit gets each intact frame; returning false stops the walk.
ScanResult scan(int fd, const std::function<bool(const FrameHeader &, std::int64_t offset,
                                                 const std::vector<std::uint8_t> &frame)> &visit);
} // namespace nyx::archive::segment
