#include "programrunner.h"

#include "testenvironment.h"

#include "win32/console.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QThread>

ProgramRunner::ProgramRunner(const QString &program)
    : m_environment(QProcessEnvironment::systemEnvironment()), m_program(program)
{
    m_environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    m_environment.insert(QStringLiteral("QT_QUICK_BACKEND"), QStringLiteral("software"));
    // The single-instance guard is machine-wide, keyed by files in the temporary folder: in one of
    // the test's own, the programs a test starts see each other and nothing else, neither an
    // instance of another test or build nor one a crashed run left behind.
    m_environment.insert(QStringLiteral("TMPDIR"), temporaryDirectory());
}

QString ProgramRunner::temporaryDirectory()
{
    const QString temporary = tundra::test::dataDir() + QStringLiteral("/tmp");
    QDir().mkpath(temporary);
    return temporary;
}

ProgramRunner::~ProgramRunner()
{
    if (isRunning()) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

bool ProgramRunner::start(const QStringList &arguments)
{
    m_process.setProcessEnvironment(m_environment);
    m_process.start(m_program, arguments);
    return m_process.waitForStarted(30000);
}

bool ProgramRunner::finish(int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (isRunning() && !deadline.hasExpired())
        m_process.waitForFinished(100);
    output();
    errors();
    return !isRunning();
}

bool ProgramRunner::interrupt()
{
    if (!AttachConsole(static_cast<DWORD>(pid())))
        return false;
    const bool sent = GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
    FreeConsole();
    return sent;
}

bool ProgramRunner::kill()
{
    m_process.kill();
    m_process.waitForFinished(30000);
    return !isRunning();
}

bool ProgramRunner::isRunning()
{
    if (m_process.state() == QProcess::Running)
        m_process.waitForFinished(0);
    return m_process.state() != QProcess::NotRunning;
}

QString ProgramRunner::output()
{
    m_out += m_process.readAllStandardOutput();
    return QString::fromUtf8(m_out);
}

QString ProgramRunner::errors()
{
    m_err += m_process.readAllStandardError();
    return QString::fromUtf8(m_err);
}

QString ProgramRunner::dataDirectory(const QString &applicationName)
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/Nyx/") +
           applicationName;
}

bool ProgramRunner::waitForLogFile(const QString &applicationName, const QString &baseName, qint64 pid,
                                   int timeoutMs)
{
    const QDir logs(dataDirectory(applicationName) + QStringLiteral("/Logs"));
    const QString pattern = QStringLiteral("%1_*_%2.txt").arg(baseName).arg(pid);
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        if (!logs.entryList({pattern}, QDir::Files).isEmpty())
            return true;
        QThread::msleep(20);
    }
    return false;
}
