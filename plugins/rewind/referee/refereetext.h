#pragma once
// Text helpers of the referee answers and requests.

#include <QString>
#include <cstdint>

// Replaces every occurrence of pattern; the search goes on after each inserted replacement.
void replaceAll(QString &text, const QString &pattern, const QString &replacement);
// The decimal digits of text alone, every other character skipped ("-5" reads 5), wrapping at 32 bits.
std::int32_t parseDecimalText(const QString &text);
// Hexadecimal digits read from the last character to the first, others skipped ("0x1f" reads 31).
std::uint32_t parseHexText(const QString &text);

constexpr std::int64_t kNoBoardTime = -1;
constexpr std::int64_t kMaxBoardTime = 86399999; // one day less a millisecond
// "h:m:s.t", "m:s", "s" (tenths optional) in milliseconds; kNoBoardTime for a bad text, one that does
// not start with a digit, or one outside a day. ok tells a bad format from a valid text.
std::int64_t parseBoardTime(const QString &text, bool *ok = nullptr);
// Comment of a created event as the request carries it: trimmed, '_' to ' ', parentheses to braces.
QString cleanEventComment(const QString &comment);
