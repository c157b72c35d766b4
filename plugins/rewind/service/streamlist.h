#pragma once
// A storage's stream list as it crosses from the worker thread; the revision only grows.

#include <QList>
#include <QMetaType>
#include <QPair>
#include <QSharedPointer>

#include "stream.h"

struct StreamList
{
    qint64 revision = 0;
    QList<QSharedPointer<Stream>> streams;
};

// The list after a creation, and the new stream (null when creation failed).
using CreateStreamResult = QPair<StreamList, QSharedPointer<Stream>>;

Q_DECLARE_METATYPE(StreamList)
Q_DECLARE_METATYPE(CreateStreamResult)
