// The test application run as the real program on an X display: a mouse click on the first row's
// check box (found by clicking down the second column until an input changes) plays the running
// line into output 1, so board input 1 carries it and the others keep their test pictures; a second
// click on the same spot brings input 1's test picture back.
#include "boardwatch.h"
#include "multimedia/kx/kxloopback.h"

#include "testenvironment.h"

#include <QProcess>
#include <QStandardPaths>
#include <QtTest>

#include <signal.h>

namespace {
QString xdotool(const QStringList &args, int timeoutMs = 20000)
{
    QProcess p;
    p.start(QStringLiteral("xdotool"), args);
    if (!p.waitForFinished(timeoutMs))
        p.kill();
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

int linesOn(Board &board, int n)
{
    return std::get<0>(board.counts(n));
}
} // namespace

class tst_LockstepProgram : public QObject
{
    Q_OBJECT
private slots:
    void clickAnOutput()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
            QSKIP("xdotool is not installed (scripts/setup.sh installs it)");
        qputenv("NYX_KX_NAMESPACE",
                QByteArray("program") + QByteArray::number(QCoreApplication::applicationPid()));
        Board board;
        board.start();

        QProcess lockstep;
        lockstep.setProcessChannelMode(QProcess::ForwardedChannels);
        lockstep.start(tundra::test::binDir() + QStringLiteral("/Lockstep"), QStringList());
        QVERIFY(lockstep.waitForStarted());
        const QString window =
            xdotool({"search", "--sync", "--name", QStringLiteral("Тестовые Видеосигналы")})
                .split(QLatin1Char('\n'))
                .value(0);
        QVERIFY2(!window.isEmpty(), "the window did not appear");

        // Down the check-box column from the header until a click plays into an output: the first
        // box hit is the first row's.
        int hitY = -1;
        for (int y = 8; y < 120 && hitY < 0; y += 6) {
            xdotool({"mousemove", "--window", window, "412", QString::number(y), "click", "1"});
            for (int waited = 0; waited < 1500 && hitY < 0; waited += 100) {
                QTest::qWait(100);
                for (int n = 1; n <= 4; ++n)
                    if (linesOn(board, n) > 0)
                        hitY = y;
            }
        }
        QVERIFY2(hitY >= 0, "no click reached a check box");
        QTRY_VERIFY_WITH_TIMEOUT(linesOn(board, 1) >= 25, 20000);
        for (int n = 2; n <= 4; ++n) {
            QCOMPARE(linesOn(board, n), 0);
            QVERIFY(std::get<1>(board.counts(n)) > 0);
        }

        // Unchecked: input 1's own picture comes back and stays.
        xdotool({"mousemove", "--window", window, "412", QString::number(hitY), "click", "1"});
        const int pictures = std::get<1>(board.counts(1));
        QTRY_VERIFY_WITH_TIMEOUT(std::get<1>(board.counts(1)) >= pictures + 25, 20000);
        const int lines = linesOn(board, 1);
        QTest::qWait(500);
        QCOMPARE(linesOn(board, 1), lines);

        ::kill(pid_t(lockstep.processId()), SIGINT);
        QVERIFY(lockstep.waitForFinished(10000));
        QCOMPARE(lockstep.exitCode(), 0);
        board.stop();
        for (int n = 1; n <= 4; ++n)
            QCOMPARE(std::get<2>(board.counts(n)), 0);
    }
    void cleanupTestCase()
    {
        const QString prefix = kxLoopbackSegmentName(QString()).mid(1);
        QDir shm(QStringLiteral("/dev/shm"));
        for (const QString &name : shm.entryList({prefix + QLatin1Char('*')}, QDir::Files))
            shm.remove(name);
    }
};

QTEST_MAIN(tst_LockstepProgram)
#include "tst_lockstepprogram.moc"
