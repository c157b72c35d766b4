#include "segmentformat.h"

#include "archiveerrors.h"
#include "crc32c.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace nyx::archive::segment {
namespace {
template <class T> void put(std::uint8_t *p, T v)
{
    std::memcpy(p, &v, sizeof v);
}
template <class T> T get(const std::uint8_t *p)
{
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

constexpr HRESULT kEndOfFile = HRESULT_FROM_WIN32(38); // ERROR_HANDLE_EOF

// Reads up to size bytes at offset; the count read.
std::size_t readAt(int fd, std::uint8_t *data, std::size_t size, std::int64_t offset, bool *failed)
{
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pread(fd, data + done, size - done, offset + static_cast<std::int64_t>(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            *failed = true;
        if (n <= 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    return done;
}
} // namespace

void writeHeader(const FrameHeader &header, std::uint8_t *out)
{
    put<std::uint32_t>(out, kMagic);
    put<std::uint32_t>(out + 4, header.length);
    put<std::int64_t>(out + 8, header.time);
    put<std::int64_t>(out + 16, header.fno);
    put<std::uint32_t>(out + 24, header.crc);
    put<std::uint32_t>(out + 28, header.records);
}

bool readHeader(const std::uint8_t *bytes, std::size_t size, FrameHeader *header)
{
    if (size < kHeaderSize || get<std::uint32_t>(bytes) != kMagic)
        return false;
    header->length = get<std::uint32_t>(bytes + 4);
    header->time = get<std::int64_t>(bytes + 8);
    header->fno = get<std::int64_t>(bytes + 16);
    header->crc = get<std::uint32_t>(bytes + 24);
    header->records = get<std::uint32_t>(bytes + 28);
    return header->length <= kMaxFrame - kHeaderSize && header->fno > 0 && header->time >= 0;
}

bool checkPayload(const FrameHeader &header, const std::uint8_t *payload, std::size_t size)
{
    if (size != header.length || crc32c(payload, size) != header.crc)
        return false;
    std::size_t pos = 0;
    std::uint32_t count = 0;
    while (pos < size) {
        if (size - pos < kRecordHead)
            return false;
        const std::uint8_t kind = payload[pos + 4];
        const std::uint32_t length = get<std::uint32_t>(payload + pos + 8);
        if ((kind != kData && kind != kBlob) || size - pos - kRecordHead < length)
            return false;
        pos += kRecordHead + length;
        ++count;
    }
    return count == header.records;
}

bool findRecord(const std::uint8_t *payload, std::size_t size, std::uint32_t channel, std::uint8_t kind,
                const std::uint8_t **bytes, std::uint32_t *length)
{
    std::size_t pos = 0;
    while (size - pos >= kRecordHead) {
        const std::uint32_t c = get<std::uint32_t>(payload + pos);
        const std::uint8_t k = payload[pos + 4];
        const std::uint32_t n = get<std::uint32_t>(payload + pos + 8);
        if (size - pos - kRecordHead < n)
            return false;
        if (c == channel && k == kind) {
            *bytes = payload + pos + kRecordHead;
            *length = n;
            return true;
        }
        pos += kRecordHead + n;
    }
    return false;
}

void forEachRecord(const std::uint8_t *payload, std::size_t size,
                   const std::function<void(std::uint32_t, std::uint8_t)> &visit)
{
    std::size_t pos = 0;
    while (size - pos >= kRecordHead) {
        const std::uint32_t n = get<std::uint32_t>(payload + pos + 8);
        if (size - pos - kRecordHead < n)
            return;
        visit(get<std::uint32_t>(payload + pos), payload[pos + 4]);
        pos += kRecordHead + n;
    }
}

HRESULT readFrame(int fd, std::int64_t offset, FrameHeader *header, std::vector<std::uint8_t> *frame,
                  std::int64_t fileSize)
{
    frame->resize(kHeaderSize);
    bool failed = false;
    const std::size_t got = readAt(fd, frame->data(), kHeaderSize, offset, &failed);
    if (failed)
        return kReadFault;
    if (got == 0)
        return kEndOfFile;
    if (got < kHeaderSize || !readHeader(frame->data(), got, header))
        return kFileCorrupt;
    if (fileSize >= 0 && fileSize - offset < static_cast<std::int64_t>(kHeaderSize + header->length))
        return kFileCorrupt;
    frame->resize(kHeaderSize + header->length);
    const std::size_t body =
        readAt(fd, frame->data() + kHeaderSize, header->length, offset + std::int64_t(kHeaderSize), &failed);
    if (failed)
        return kReadFault;
    if (body != header->length || !checkPayload(*header, frame->data() + kHeaderSize, header->length))
        return kFileCorrupt;
    return S_OK;
}

ScanResult scan(int fd, const std::function<bool(const FrameHeader &, std::int64_t offset,
                                                 const std::vector<std::uint8_t> &frame)> &visit)
{
    ScanResult result;
    struct stat st
    {
    };
    if (::fstat(fd, &st) != 0) {
        result.error = kReadFault;
        return result;
    }
    result.size = st.st_size;
    std::vector<std::uint8_t> frame;
    while (result.end < result.size) {
        FrameHeader header;
        const HRESULT hr = readFrame(fd, result.end, &header, &frame, result.size);
        if (hr == kFileCorrupt || hr == kEndOfFile) {
            result.damaged = hr == kFileCorrupt;
            break;
        }
        if (FAILED(hr)) {
            result.error = hr;
            break;
        }
        if (!visit(header, result.end, frame))
            break;
        result.end += static_cast<std::int64_t>(frame.size());
    }
    return result;
}
} // namespace nyx::archive::segment
