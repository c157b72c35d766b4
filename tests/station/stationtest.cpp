#include "stationtest.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QJsonDocument>
#include <QProcess>
#include <QRegularExpression>
#include <QUdpSocket>

#include <testenvironment.h>

namespace stationtest {

QString buildDir()
{
    return QDir(tundra::test::binDir() + QStringLiteral("/..")).absolutePath();
}

bool writeJson(const QString &path, const QJsonObject &object)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(QJsonDocument(object).toJson()) > 0;
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QList<qint64> childrenRunning(qint64 parent, const QString &program)
{
    QList<qint64> found;
    const QByteArray list = readFile(QStringLiteral("/proc/%1/task/%1/children").arg(parent));
    for (const QByteArray &pid : list.split(' ')) {
        if (pid.trimmed().isEmpty())
            continue;
        const QByteArray commandLine =
            readFile(QStringLiteral("/proc/%1/cmdline").arg(QString::fromLatin1(pid)));
        if (commandLine.startsWith(program.toLocal8Bit() + '\0'))
            found << pid.toLongLong();
    }
    return found;
}

QList<Sequence> archiveSequences(const QString &storage, const QString &stream)
{
    QProcess ctl;
    ctl.start(tundra::test::binDir() + QStringLiteral("/archivectl"), {"info", storage, stream});
    QList<Sequence> sequences;
    if (!ctl.waitForFinished(30000) || ctl.exitCode() != 0)
        return sequences;
    static const QRegularExpression line(
        QStringLiteral("^sequence \\d+: .* first (\\d+) .* last (\\d+) .* frames (\\d+)"),
        QRegularExpression::MultilineOption);
    auto it = line.globalMatch(QString::fromUtf8(ctl.readAllStandardOutput()));
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        sequences.append(
            {m.captured(1).toLongLong(), m.captured(2).toLongLong(), m.captured(3).toLongLong()});
    }
    return sequences;
}

quint16 freeUdpPort()
{
    QUdpSocket socket;
    socket.bind(QHostAddress(QHostAddress::LocalHost), 0);
    return socket.localPort();
}

quint16 startJudgeDesk(QProcess *desk, const QString &configFile, quint16 port)
{
    desk->setProgram(tundra::test::binDir() + QStringLiteral("/JudgeDesk"));
    desk->setArguments({"--config", configFile, "--listen", "127.0.0.1", "--port", QString::number(port)});
    desk->setProcessChannelMode(QProcess::SeparateChannels);
    desk->start();
    if (!desk->waitForStarted(10000))
        return 0;
    QString banner;
    QElapsedTimer timer;
    timer.start();
    while (!banner.contains(QLatin1String("listening")) && timer.elapsed() < 20000) {
        desk->waitForReadyRead(1000);
        banner += QString::fromUtf8(desk->readAllStandardOutput());
    }
    const QRegularExpressionMatch m = QRegularExpression("listening on port (\\d+)").match(banner);
    return m.hasMatch() ? quint16(m.captured(1).toUInt()) : 0;
}

} // namespace stationtest
