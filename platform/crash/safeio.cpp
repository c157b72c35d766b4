#include "crash/safeio.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace nyx::crash::safe {

TextBuffer::TextBuffer(char *data, std::size_t capacity) : m_data(data), m_capacity(capacity)
{
    if (m_capacity > 0)
        m_data[0] = '\0';
}

TextBuffer &TextBuffer::append(const char *text)
{
    return append(text, safe::length(text));
}

TextBuffer &TextBuffer::append(const char *text, std::size_t length)
{
    for (std::size_t i = 0; i < length; ++i)
        appendChar(text[i]);
    return *this;
}

TextBuffer &TextBuffer::appendChar(char c)
{
    if (m_length + 1 >= m_capacity) {
        m_overflowed = true;
        return *this;
    }
    m_data[m_length++] = c;
    m_data[m_length] = '\0';
    return *this;
}

TextBuffer &TextBuffer::appendDecimal(std::int64_t value, int minDigits)
{
    char digits[24];
    int count = 0;
    const bool negative = value < 0;
    std::uint64_t magnitude =
        negative ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
    do {
        digits[count++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0 && count < 20);
    while (count < minDigits && count < 20)
        digits[count++] = '0';
    if (negative)
        appendChar('-');
    while (count > 0)
        appendChar(digits[--count]);
    return *this;
}

TextBuffer &TextBuffer::appendHex(std::uint64_t value)
{
    static const char kDigits[] = "0123456789abcdef";
    char digits[16];
    int count = 0;
    do {
        digits[count++] = kDigits[value & 0xF];
        value >>= 4;
    } while (value != 0);
    append("0x");
    while (count > 0)
        appendChar(digits[--count]);
    return *this;
}

void TextBuffer::truncate(std::size_t length)
{
    if (length < m_length) {
        m_length = length;
        m_data[m_length] = '\0';
    }
}

std::size_t length(const char *text)
{
    std::size_t n = 0;
    if (text)
        while (text[n] != '\0')
            ++n;
    return n;
}

bool equal(const char *a, const char *b)
{
    while (*a != '\0' && *a == *b) {
        ++a;
        ++b;
    }
    return *a == *b;
}

bool globMatch(const char *pattern, const char *name)
{
    // Iterative matcher with one backtrack point for the latest '*'.
    const char *star = nullptr;
    const char *resume = nullptr;
    while (*name != '\0') {
        if (*pattern == '*') {
            star = pattern++;
            resume = name;
        } else if (*pattern == '?' || *pattern == *name) {
            ++pattern;
            ++name;
        } else if (star) {
            pattern = star + 1;
            name = ++resume;
        } else {
            return false;
        }
    }
    while (*pattern == '*')
        ++pattern;
    return *pattern == '\0';
}

bool writeAll(int fd, const char *data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool writeText(int fd, const char *text)
{
    return writeAll(fd, text, length(text));
}

bool makeDirectories(const char *path)
{
    char buffer[4096];
    TextBuffer partial(buffer, sizeof buffer);
    partial.append(path);
    if (partial.overflowed() || partial.length() == 0)
        return false;
    for (std::size_t i = 1; i <= partial.length(); ++i) {
        if (buffer[i] != '/' && buffer[i] != '\0')
            continue;
        const char saved = buffer[i];
        buffer[i] = '\0';
        if (::mkdir(buffer, 0755) != 0 && errno != EEXIST) {
            buffer[i] = saved;
            return false;
        }
        buffer[i] = saved;
    }
    struct stat info;
    return ::stat(path, &info) == 0 && S_ISDIR(info.st_mode);
}

bool copyFile(const char *source, const char *target, char *buffer, std::size_t bufferSize)
{
    const int in = ::open(source, O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return false;
    const int out = ::open(target, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (out < 0) {
        ::close(in);
        return false;
    }
    bool ok = true;
    for (;;) {
        const ssize_t n = ::read(in, buffer, bufferSize);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            ok = false;
        if (n <= 0)
            break;
        if (!writeAll(out, buffer, static_cast<std::size_t>(n))) {
            ok = false;
            break;
        }
    }
    ::close(out);
    ::close(in);
    return ok;
}

namespace {
// The kernel's record for getdents64.
struct DirectoryEntry
{
    std::uint64_t inode;
    std::int64_t offset;
    unsigned short recordLength;
    unsigned char type;
    char name[1];
};
constexpr unsigned char kTypeUnknown = 0;
constexpr unsigned char kTypeRegular = 8;
} // namespace

bool forEachFile(const char *directory, void (*visit)(const char *name, void *context), void *context)
{
    const int fd = ::open(directory, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    alignas(8) char buffer[4096];
    for (;;) {
        const long n = ::syscall(SYS_getdents64, fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        for (long pos = 0; pos < n;) {
            const auto *entry = reinterpret_cast<const DirectoryEntry *>(buffer + pos);
            pos += entry->recordLength;
            bool regular = entry->type == kTypeRegular;
            if (entry->type == kTypeUnknown) {
                struct stat info;
                regular = ::fstatat(fd, entry->name, &info, 0) == 0 && S_ISREG(info.st_mode);
            }
            if (regular)
                visit(entry->name, context);
        }
    }
    ::close(fd);
    return true;
}

void appendUtcTime(TextBuffer &out, std::int64_t secondsSinceEpoch, bool compact)
{
    // Civil date from a day count (proleptic Gregorian calendar).
    std::int64_t days = secondsSinceEpoch / 86400;
    std::int64_t secondsOfDay = secondsSinceEpoch % 86400;
    if (secondsOfDay < 0) {
        secondsOfDay += 86400;
        --days;
    }
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const std::int64_t dayOfEra = days - era * 146097;
    const std::int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t mp = (5 * dayOfYear + 2) / 153;
    const std::int64_t day = dayOfYear - (153 * mp + 2) / 5 + 1;
    const std::int64_t month = mp < 10 ? mp + 3 : mp - 9;
    const std::int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);

    out.appendDecimal(year, 4);
    if (!compact)
        out.appendChar('-');
    out.appendDecimal(month, 2);
    if (!compact)
        out.appendChar('-');
    out.appendDecimal(day, 2);
    out.appendChar(compact ? '_' : ' ');
    out.appendDecimal(secondsOfDay / 3600, 2);
    if (!compact)
        out.appendChar(':');
    out.appendDecimal(secondsOfDay / 60 % 60, 2);
    if (!compact)
        out.appendChar(':');
    out.appendDecimal(secondsOfDay % 60, 2);
}

} // namespace nyx::crash::safe
