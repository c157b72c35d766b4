#include "testenvironment.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QTest>

namespace tundra::test {
QString binDir()
{
    const QString dir = qEnvironmentVariable("TUNDRA_BIN_DIR");
    if (!dir.isEmpty())
        return dir;
    return QDir(QCoreApplication::applicationDirPath() + QStringLiteral("/../bin")).absolutePath();
}

QString dataDir()
{
    QString dir = qEnvironmentVariable("TUNDRA_TEST_DATA");
    if (dir.isEmpty())
        dir = QDir::tempPath() + QStringLiteral("/tundra-test-") + QCoreApplication::applicationName();
    QDir().mkpath(dir);
    return dir;
}

QString freshDir(const QString &name)
{
    QDir dir(dataDir() + QLatin1Char('/') + name);
    dir.removeRecursively();
    QDir().mkpath(dir.absolutePath());
    return dir.absolutePath();
}

bool waitForCount(QSignalSpy &spy, int count, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (spy.count() < count && !deadline.hasExpired())
        spy.wait(static_cast<int>(qBound<qint64>(1, deadline.remainingTime(), 200)));
    return spy.count() >= count;
}
} // namespace tundra::test
