#pragma once
// The archive's storage list as it crosses from the worker thread; the revision only grows.

#include <QList>
#include <QMetaType>
#include <QPair>
#include <QSharedPointer>

#include "storage.h"

struct StorageList
{
    qint64 revision = 0;
    QList<QSharedPointer<Storage>> storages;
};

// The list after a creation, and the new storage (null when creation failed).
using CreateStorageResult = QPair<StorageList, QSharedPointer<Storage>>;

// Whether the server deleted the storage, and the list after the attempt.
using DeleteStorageResult = QPair<bool, StorageList>;

Q_DECLARE_METATYPE(StorageList)
Q_DECLARE_METATYPE(CreateStorageResult)
Q_DECLARE_METATYPE(DeleteStorageResult)
