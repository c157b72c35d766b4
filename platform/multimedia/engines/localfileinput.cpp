#include "multimedia/engines/localfileinput.h"

extern "C" {
#include <libavformat/avio.h>
#include <libavutil/error.h>
#include <libavutil/mem.h>
}

#include <QFile>

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace nyx::multimedia {

namespace {
constexpr int kBufferSize = 64 * 1024;

QString describe(mode_t mode)
{
    if (S_ISFIFO(mode))
        return QStringLiteral("a named pipe");
    if (S_ISDIR(mode))
        return QStringLiteral("a folder");
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return QStringLiteral("a device");
    if (S_ISSOCK(mode))
        return QStringLiteral("a socket");
    return QStringLiteral("not a regular file");
}
} // namespace

LocalFileInput::~LocalFileInput()
{
    close();
}

int LocalFileInput::open(const QString &path, QString *refusal)
{
    close();
    refusal->clear();
    // O_NONBLOCK only matters for what is refused below: a named pipe opens at once instead of
    // waiting for a writer. Regular files ignore it.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return AVERROR(errno);
    struct stat status;
    if (::fstat(fd, &status) != 0) {
        const int error = errno;
        ::close(fd);
        return AVERROR(error);
    }
    if (!S_ISREG(status.st_mode)) {
        ::close(fd);
        *refusal = describe(status.st_mode);
        return AVERROR(EINVAL);
    }
    auto *buffer = static_cast<std::uint8_t *>(av_malloc(kBufferSize));
    m_io = buffer ? avio_alloc_context(buffer, kBufferSize, 0, this, &LocalFileInput::readPacket, nullptr,
                                       &LocalFileInput::seek)
                  : nullptr;
    if (!m_io) {
        av_free(buffer);
        ::close(fd);
        return AVERROR(ENOMEM);
    }
    m_fd = fd;
    return 0;
}

void LocalFileInput::close()
{
    if (m_io) {
        av_freep(&m_io->buffer);
        avio_context_free(&m_io);
    }
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

int LocalFileInput::readPacket(void *opaque, std::uint8_t *buffer, int size)
{
    const int fd = static_cast<LocalFileInput *>(opaque)->m_fd;
    for (;;) {
        const ssize_t n = ::read(fd, buffer, static_cast<size_t>(size));
        if (n > 0)
            return static_cast<int>(n);
        if (n == 0)
            return AVERROR_EOF;
        if (errno != EINTR)
            return AVERROR(errno);
    }
}

std::int64_t LocalFileInput::seek(void *opaque, std::int64_t offset, int whence)
{
    const int fd = static_cast<LocalFileInput *>(opaque)->m_fd;
    if (whence & AVSEEK_SIZE) {
        struct stat status;
        return ::fstat(fd, &status) == 0 ? static_cast<std::int64_t>(status.st_size) : AVERROR(errno);
    }
    const off_t at = ::lseek(fd, static_cast<off_t>(offset), whence & ~AVSEEK_FORCE);
    return at < 0 ? AVERROR(errno) : static_cast<std::int64_t>(at);
}

} // namespace nyx::multimedia
