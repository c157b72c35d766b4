#pragma once
// Helpers that are safe to call from a signal handler: no allocation, no locks, no stdio; only
// async-signal-safe system calls.

#include <cstddef>
#include <cstdint>

namespace nyx::crash::safe {

// Text in a fixed buffer; what does not fit is cut off, the text stays zero-terminated.
class TextBuffer
{
public:
    TextBuffer(char *data, std::size_t capacity);
    TextBuffer &append(const char *text);
    TextBuffer &append(const char *text, std::size_t length);
    TextBuffer &appendChar(char c);
    TextBuffer &appendDecimal(std::int64_t value, int minDigits = 1);
    TextBuffer &appendHex(std::uint64_t value);
    void truncate(std::size_t length);
    const char *text() const { return m_data; }
    std::size_t length() const { return m_length; }
    bool overflowed() const { return m_overflowed; }

private:
    char *m_data;
    std::size_t m_capacity;
    std::size_t m_length = 0;
    bool m_overflowed = false;
};

std::size_t length(const char *text);
bool equal(const char *a, const char *b);
// '*' matches any run of characters, '?' any one character.
bool globMatch(const char *pattern, const char *name);
// Writes everything, retrying on EINTR and short writes.
bool writeAll(int fd, const char *data, std::size_t size);
bool writeText(int fd, const char *text);
// Creates the directory and its missing parents (path is absolute).
bool makeDirectories(const char *path);
// Copies a regular file through the given buffer.
bool copyFile(const char *source, const char *target, char *buffer, std::size_t bufferSize);
// Calls visit(name, context) for each regular file in the directory; false if it cannot be read.
bool forEachFile(const char *directory, void (*visit)(const char *name, void *context), void *context);
// "yyyyMMdd_hhmmss" (compact) or "yyyy-MM-dd hh:mm:ss" of seconds since the Unix epoch, UTC.
void appendUtcTime(TextBuffer &out, std::int64_t secondsSinceEpoch, bool compact);

} // namespace nyx::crash::safe
