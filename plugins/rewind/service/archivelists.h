#pragma once
// Reading the archive server's fixed-size records safely.

#include "archive/archiverecords.h"

#include <QString>

namespace rewindservice {
// Storages per archive, streams per storage: a count above this is a broken answer.
constexpr DWORD kMaxListCount = 65536;

// The zero-terminated text of a fixed name field, never read past its bound.
QString fixedName(const WCHAR *field, int bound = nyx::archive::kNameUnits);
// Writes the name's units into a zero-filled field; the caller checks the length.
void writeFixedName(WCHAR *field, const QString &name);
// The identifier text of the log lines: upper-case, without braces.
QString guidText(const QUuid &guid);
} // namespace rewindservice
