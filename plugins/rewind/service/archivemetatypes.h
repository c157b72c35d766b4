#pragma once
// Archive server records and pointers that cross between the GUI thread and the worker thread.

#include "archive/irewindserver.h"

#include <QMetaType>

Q_DECLARE_METATYPE(CRewindMemoryStatus)
Q_DECLARE_METATYPE(CRewindStorageStats)
Q_DECLARE_METATYPE(IRewindServer *)

// Registers every value type of the archive service under the names the queued signals and the
// blocking calls use; safe to call any number of times.
void registerRewindServiceMetaTypes();
