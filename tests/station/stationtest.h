#pragma once
// What the station's end-to-end tests share: files, the processes a program started, the archive's
// sequences as archivectl reports them, and the stand-in referee JudgeDesk.

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>

class QProcess;

namespace stationtest {

// The build folder (the programs lie in its bin folder).
QString buildDir();
bool writeJson(const QString &path, const QJsonObject &object);
QByteArray readFile(const QString &path);

// The running children of a process whose command line starts with the program's path.
QList<qint64> childrenRunning(qint64 parent, const QString &program);

// One recorded sequence of an archive stream, as archivectl reports it.
struct Sequence
{
    qint64 first = 0; // FILETIME of the first and the last frame
    qint64 last = 0;
    qint64 frames = 0;
    // Frames missing between the first and the last at the frame rate: 0 when none was lost.
    qint64 lost(int framesPerSecond) const
    {
        return qRound64(double(last - first) * framesPerSecond / 1e7) + 1 - frames;
    }
};
QList<Sequence> archiveSequences(const QString &storage, const QString &stream);

// A UDP port on the loopback address that nobody uses right now.
quint16 freeUdpPort();

// Starts JudgeDesk with its configuration file on 127.0.0.1 (port 0: any free one) and waits until
// it listens. Returns the port, or 0 when it did not start.
quint16 startJudgeDesk(QProcess *desk, const QString &configFile, quint16 port);

} // namespace stationtest
