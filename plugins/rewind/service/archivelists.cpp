#include "archivelists.h"

#include <QUuid>
#include <cstring>

namespace rewindservice {
QString fixedName(const WCHAR *field, int bound)
{
    int n = 0;
    while (n < bound && field[n] != 0)
        ++n;
    return QString::fromUtf16(field, n);
}

void writeFixedName(WCHAR *field, const QString &name)
{
    std::memcpy(field, name.utf16(), static_cast<std::size_t>(name.size()) * sizeof(WCHAR));
}

QString guidText(const QUuid &guid)
{
    return guid.toString(QUuid::WithoutBraces).toUpper();
}
} // namespace rewindservice
