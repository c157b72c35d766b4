#include "availablesource.h"

QPair<int, int> ParseDecoderName(const QString &name)
{
    static const struct
    {
        const char *name;
        int kind;
        int index;
    } decoders[] = {{"Soft", 2, 1}, {"IQS", 0, 2}, {"NV1", 1, 3},
                    {"NV2", 1, 4},  {"NV3", 1, 5}, {"NV4", 1, 6}};
    for (const auto &d : decoders) {
        if (name.compare(QLatin1String(d.name), Qt::CaseInsensitive) == 0)
            return {d.kind, d.index};
    }
    return {-1, 0};
}
