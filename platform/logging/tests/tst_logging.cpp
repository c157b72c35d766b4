#include "logging/logging.h"
#include "testenvironment.h"

#include <QtTest>

namespace {
Q_LOGGING_CATEGORY(lcProbe, "probe")

QStringList logFiles(const QDir &dir)
{
    return dir.entryList({QStringLiteral("*.txt")}, QDir::Files, QDir::Name);
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
} // namespace

class tst_Logging : public QObject
{
    Q_OBJECT

private slots:
    void writesFilteredMessagesToItsFile()
    {
        const QString root = tundra::test::freshDir(QStringLiteral("logs1"));
        QDir(root).mkpath(QStringLiteral("Logs"));
        QFile old(root + QStringLiteral("/Logs/station_20000101_000000_1.txt"));
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.close();

        QCOMPARE(nyx::logging::initializeLogging({QDir(root), QStringLiteral("station"), true}), 0);
        QCOMPARE(nyx::logging::getLogDirectory().absolutePath(),
                 QDir(root + QStringLiteral("/Logs")).absolutePath());
        const QStringList files = logFiles(nyx::logging::getLogDirectory());
        QCOMPARE(files.size(), 1); // the old one was removed
        QVERIFY(files.first().startsWith(QStringLiteral("station_")));
        QVERIFY(files.first().endsWith(QStringLiteral("_%1.txt").arg(QCoreApplication::applicationPid())));

        QLoggingCategory::setFilterRules(QStringLiteral("probe.debug=false"));
        qCWarning(lcProbe) << "Камера пропала";
        qCDebug(lcProbe) << "filtered out";
        nyx::logging::uninitializeLogging();

        const QByteArray text = readAll(nyx::logging::getLogDirectory().absoluteFilePath(files.first()));
        QVERIFY2(text.contains("[probe]"), text.constData());
        QVERIFY(text.contains(QStringLiteral("Камера пропала").toUtf8()));
        QVERIFY(!text.contains("filtered out"));

        // After the shutdown nothing more reaches the file.
        qCWarning(lcProbe) << "after shutdown";
        QVERIFY(!readAll(nyx::logging::getLogDirectory().absoluteFilePath(files.first()))
                     .contains("after shutdown"));
    }

    void keepsOldLogsWhenAsked()
    {
        const QString root = tundra::test::freshDir(QStringLiteral("logs2"));
        QDir(root).mkpath(QStringLiteral("Logs"));
        QFile old(root + QStringLiteral("/Logs/station_20000101_000000_1.txt"));
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.close();
        QCOMPARE(nyx::logging::initializeLogging({QDir(root), QStringLiteral("station"), false}), 0);
        nyx::logging::uninitializeLogging();
        QCOMPARE(logFiles(QDir(root + QStringLiteral("/Logs"))).size(), 2);
    }

    void unwritableDirectoryIsReported()
    {
        const QString root = tundra::test::freshDir(QStringLiteral("logs3"));
        QFile blocker(root + QStringLiteral("/Logs"));
        QVERIFY(blocker.open(QIODevice::WriteOnly)); // a file where the folder should be
        blocker.close();
        QVERIFY(nyx::logging::initializeLogging({QDir(root), QStringLiteral("station"), true}) != 0);
        nyx::logging::uninitializeLogging();
    }
};

QTEST_GUILESS_MAIN(tst_Logging)
#include "tst_logging.moc"
