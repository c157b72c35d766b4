// Any bytes as a segment file: the frame walk that recovery and the index rebuild use, and the
// frame reader and record lookup of readers, give a result or an error code, never a crash, a hang
// or a read outside the file.

#include "src/segmentformat.h"

#include <cstdint>
#include <cstring>
#include <sys/mman.h>
#include <unistd.h>

using namespace nyx::archive;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const int fd = ::memfd_create("segment", MFD_CLOEXEC);
    if (fd < 0)
        return 0;
    if (::write(fd, data, size) != static_cast<ssize_t>(size)) {
        ::close(fd);
        return 0;
    }
    std::int64_t frames = 0;
    const segment::ScanResult scanned = segment::scan(
        fd, [&](const segment::FrameHeader &header, std::int64_t, const std::vector<std::uint8_t> &frame) {
            // An intact frame is whole, inside the file, and its records can be looked up.
            if (frame.size() != segment::kHeaderSize + header.length)
                __builtin_trap();
            const std::uint8_t *bytes = nullptr;
            std::uint32_t length = 0;
            for (std::uint32_t channel = 0; channel < 4; ++channel) {
                for (std::uint8_t kind : {segment::kData, segment::kBlob}) {
                    if (segment::findRecord(frame.data() + segment::kHeaderSize, header.length, channel, kind,
                                            &bytes, &length) &&
                        (bytes < frame.data() || bytes + length > frame.data() + frame.size()))
                        __builtin_trap();
                }
            }
            segment::forEachRecord(frame.data() + segment::kHeaderSize, header.length,
                                   [](std::uint32_t, std::uint8_t) {});
            ++frames;
            return true;
        });
    // The walk ends inside the file, and before its end only at bytes that are not a frame.
    if (scanned.end > scanned.size ||
        (SUCCEEDED(scanned.error) && scanned.end < scanned.size && !scanned.damaged))
        __builtin_trap();
    // A read at any offset, as a reader does from an index row, stays inside the file.
    if (size >= 8) {
        std::uint64_t offset = 0;
        std::memcpy(&offset, data, sizeof offset);
        segment::FrameHeader header;
        std::vector<std::uint8_t> frame;
        const HRESULT hr = segment::readFrame(fd, static_cast<std::int64_t>(offset % (size + 64)), &header,
                                              &frame, static_cast<std::int64_t>(size));
        if (hr == S_OK && frame.size() > size)
            __builtin_trap();
    }
    // The record lookup on raw bytes never reads past them.
    const std::uint8_t *bytes = nullptr;
    std::uint32_t length = 0;
    segment::findRecord(data, size, 1, segment::kData, &bytes, &length);
    ::close(fd);
    return 0;
}
