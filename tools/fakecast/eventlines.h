#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>

// The free texts of the generated events, one per line of a KOI8-R file.
namespace eventlines {
// Splits data into lines (terminators kept), long lines into pieces of at most 127 bytes;
// blank lines are left out since they make no event text.
QVector<QByteArray> split(const QByteArray &data);
// Reads and splits a file; an empty list with *error set when there is nothing to send.
QVector<QByteArray> read(const QString &path, QString *error);
} // namespace eventlines
