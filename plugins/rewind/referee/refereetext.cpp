#include "refereetext.h"

void replaceAll(QString &text, const QString &pattern, const QString &replacement)
{
    if (text.isEmpty() || pattern.isEmpty())
        return;
    int from = 0;
    for (;;) {
        const int at = text.indexOf(pattern, from);
        if (at < 0)
            return;
        text.replace(at, pattern.size(), replacement);
        from = at + replacement.size();
    }
}

std::int32_t parseDecimalText(const QString &text)
{
    std::uint32_t value = 0;
    for (const QChar c : text) {
        if (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
            value = value * 10u + static_cast<std::uint32_t>(c.unicode() - '0');
    }
    return static_cast<std::int32_t>(value);
}

std::uint32_t parseHexText(const QString &text)
{
    const QString lower = text.toLower();
    std::uint32_t value = 0;
    std::uint32_t weight = 1;
    for (int i = lower.size() - 1; i >= 0; --i) {
        const ushort c = lower.at(i).unicode();
        std::uint32_t digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else
            continue;
        value += digit * weight;
        weight *= 16u;
    }
    return value;
}

std::int64_t parseBoardTime(const QString &text, bool *ok)
{
    if (ok)
        *ok = false;
    if (text.isEmpty() || text.at(0).unicode() < '0' || text.at(0).unicode() > '9')
        return kNoBoardTime;
    std::int64_t fields[3] = {0, 0, 0};
    int count = 1;
    std::int64_t tenths = 0;
    for (int i = 0; i < text.size(); ++i) {
        const ushort c = text.at(i).unicode();
        if (c >= '0' && c <= '9') {
            std::int64_t &field = fields[count - 1];
            field = field * 10 + (c - '0');
            if (field > kMaxBoardTime)
                return kNoBoardTime; // no field of a day is that large
        } else if (c == ':') {
            if (++count > 3)
                return kNoBoardTime;
        } else {
            if (c == '.' && i + 1 < text.size()) {
                const ushort d = text.at(i + 1).unicode();
                if (d >= '0' && d <= '9')
                    tenths = (d - '0') * 100;
            }
            break;
        }
    }
    std::int64_t ms;
    if (count == 1)
        ms = fields[0] * 1000;
    else if (count == 2)
        ms = fields[0] * 60000 + fields[1] * 1000;
    else
        ms = (fields[0] * 3600 + fields[1] * 60 + fields[2]) * 1000;
    ms += tenths;
    if (ms < 0 || ms > kMaxBoardTime)
        return kNoBoardTime;
    if (ok)
        *ok = true;
    return ms;
}

QString cleanEventComment(const QString &comment)
{
    int end = comment.size();
    while (end > 0 && comment.at(end - 1).isSpace())
        --end;
    int begin = 0;
    while (begin < end && comment.at(begin).isSpace())
        ++begin;
    QString result = comment.mid(begin, end - begin);
    result.replace(QLatin1Char('_'), QLatin1Char(' '));
    result.replace(QLatin1Char('('), QLatin1Char('{'));
    result.replace(QLatin1Char(')'), QLatin1Char('}'));
    return result;
}
