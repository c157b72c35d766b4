#include "eventlines.h"

#include "beacon/beaconprotocol.h"

#include <QFile>

namespace eventlines {
QVector<QByteArray> split(const QByteArray &data)
{
    QVector<QByteArray> lines;
    int start = 0;
    while (start < data.size()) {
        int end = data.indexOf('\n', start);
        end = end < 0 ? data.size() : end + 1;
        for (int piece = start; piece < end; piece += beacon::kMaxRecordText) {
            const QByteArray text = data.mid(piece, qMin(beacon::kMaxRecordText, end - piece));
            // The text ends at its first NUL when it goes into a record.
            const int nul = text.indexOf('\0');
            if (!(nul < 0 ? text : text.left(nul)).trimmed().isEmpty())
                lines.append(text);
        }
        start = end;
    }
    return lines;
}

QVector<QByteArray> read(const QString &path, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QStringLiteral("Can't open %1: %2").arg(path, file.errorString());
        return {};
    }
    const QVector<QByteArray> lines = split(file.readAll());
    if (lines.isEmpty() && error)
        *error = QStringLiteral("%1 holds no event text").arg(path);
    return lines;
}
} // namespace eventlines
