#pragma once
// Where JudgeDesk learns the recorded span of its cameras' archive streams.

#include <QUuid>
#include <QtGlobal>

// Fills begin and end (FILETIME) of the archive stream and returns true when the archive knows
// it. Until JudgeDesk reads the archive, it knows none, and the caller uses the configured times
// or the clock.
bool readArchiveStreamTimes(const QUuid &streamId, quint64 *begin, quint64 *end);
