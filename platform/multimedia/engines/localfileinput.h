#pragma once
// A local clip for libavformat, read through a file descriptor of our own. The file is opened
// without blocking and refused unless it is a regular file: opening a named pipe waits for a
// writer, and reading a pipe, a terminal or a socket waits for data, both inside a system call
// that libavformat's interrupt callback cannot end, so the engine could never be stopped.

#include <QString>

#include <cstdint>

struct AVIOContext;

namespace nyx::multimedia {

class LocalFileInput
{
public:
    LocalFileInput() = default;
    ~LocalFileInput();
    LocalFileInput(const LocalFileInput &) = delete;
    LocalFileInput &operator=(const LocalFileInput &) = delete;

    // Opens path: 0 when open, an FFmpeg error code otherwise. A file that exists but is not a
    // regular one is refused and *refusal says what it is ("a named pipe"); other failures (a
    // missing file) leave it empty.
    int open(const QString &path, QString *refusal);
    // The reader for AVFormatContext::pb (with AVFMT_FLAG_CUSTOM_IO); null when not open.
    AVIOContext *io() const { return m_io; }
    void close();

private:
    static int readPacket(void *opaque, std::uint8_t *buffer, int size);
    static std::int64_t seek(void *opaque, std::int64_t offset, int whence);

    int m_fd = -1;
    AVIOContext *m_io = nullptr;
};

} // namespace nyx::multimedia
