// Feeds arbitrary bytes to the events-file line parser. Whatever it accepts must write back to a
// line that parses again to the same event.

#include "eventrecord.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace {
bool sameNumber(double a, double b)
{
    return a == b || (std::isnan(a) && std::isnan(b));
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray line = QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(size));
    EventRecord record;
    if (!EventRecord::fromLine(line, &record))
        return 0;

    const QByteArray written = record.toLine();
    if (written.contains('\n'))
        std::abort();
    EventRecord again;
    if (!EventRecord::fromLine(written, &again))
        std::abort();
    if (std::isfinite(record.time) && !sameNumber(record.time, again.time))
        std::abort();
    if (std::isfinite(record.boardTime) && !sameNumber(record.boardTime, again.boardTime))
        std::abort();
    if (record.type.isValidUtf16() && record.type != again.type)
        std::abort();
    if (record.comment.isValidUtf16() && record.comment != again.comment)
        std::abort();
    return 0;
}
