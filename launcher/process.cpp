#include "process.h"

#include "launchercontroller.h"
#include "launcherlogging.h"

#include "win32/console.h"

#include <QCoreApplication>
#include <QMetaEnum>

namespace {
constexpr int kStopTimeoutMs = 3000;
constexpr int kStopExitCode = 112234;

// Exit codes keep only 8 bits here, so a contract code arrives modulo 256.
bool isExitCode(int exitCode, int contractCode)
{
    return (exitCode & 0xFF) == (contractCode & 0xFF);
}
} // namespace

Process::Process(const QString &name, QObject *parent)
    : QObject(parent), m_policy(RestartPolicy::defaultPolicy())
{
    m_process.setProgram(QCoreApplication::applicationDirPath() + QLatin1Char('/') + name);
    m_process.setProcessChannelMode(QProcess::ForwardedChannels);
    m_restartTimer.setSingleShot(true);
    m_crashResetTimer.setSingleShot(true);
    connectProcess();
    connect(&m_restartTimer, &QTimer::timeout, this, &Process::restart);
    connect(&m_crashResetTimer, &QTimer::timeout, this, &Process::resetCrashCount);
}

Process::~Process()
{
    // Stopping must trigger neither a restart nor a stop request.
    disconnectProcess();
    stopGracefully();
}

void Process::connectProcess()
{
    connect(&m_process, &QProcess::errorOccurred, this, &Process::onError);
    connect(&m_process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), this,
            &Process::onFinished);
}

void Process::disconnectProcess()
{
    disconnect(&m_process, nullptr, this, nullptr);
}

void Process::start()
{
    QStringList arguments{QStringLiteral("--application_name"), QCoreApplication::applicationName(),
                          QStringLiteral("--application_parent")};
    arguments += QCoreApplication::arguments();
    m_process.setArguments(arguments);
    m_process.start(QIODevice::ReadWrite);
}

void Process::onFinished(int exitCode, QProcess::ExitStatus status)
{
    // A child killed by a signal carries the signal number, never a contract code.
    if (status == QProcess::CrashExit)
        onCrash();
    else if (isExitCode(exitCode, 0) || isExitCode(exitCode, kStopExitCode))
        emit exitRequested();
    else if (isExitCode(exitCode, LauncherController::RestartExitCode))
        emit restartRequested();
    else
        onCrash();
}

void Process::onCrash()
{
    qCCritical(lcProcessManager).noquote() << "Process crashed: " + m_process.program();
    ++m_crashCount;
    scheduleRestart();
}

void Process::onError(QProcess::ProcessError error)
{
    qCWarning(lcProcessManager).noquote() << "Process error: " + m_process.program()
                                          << QMetaEnum::fromType<QProcess::ProcessError>().valueToKey(error);
    if (error == QProcess::Crashed)
        return;
    ++m_crashCount;
    scheduleRestart();
}

void Process::scheduleRestart()
{
    const int delay = m_policy.restartDelay(m_crashCount);
    if (delay < 0) {
        qCWarning(lcProcessManager).noquote()
            << "Process crashed too often and will not be restarted: " + m_process.program();
        return;
    }
    m_restartTimer.start(delay);
}

void Process::resetCrashCount()
{
    m_crashCount = 0;
}

void Process::restart()
{
    qCInfo(lcProcessManager).noquote() << "Process restarting: " + m_process.program();
    m_crashResetTimer.start(m_policy.crashResetInterval());
    if (m_process.state() != QProcess::NotRunning) {
        // The stopped child's exit 0 must not read as a request to stop everything.
        disconnectProcess();
        stopGracefully();
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(kStopTimeoutMs);
        }
        connectProcess();
    }
    m_process.start(QIODevice::ReadWrite);
}

void Process::stopGracefully()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    // Until it runs its own program a child still carries the supervisor's Ctrl+C handler, and
    // a Ctrl+C would stop the supervisor instead. One that does not get there is killed.
    if (m_process.state() == QProcess::Starting)
        m_process.waitForStarted(kStopTimeoutMs);
    if (m_process.state() != QProcess::Running)
        return;
    SetConsoleCtrlHandler(nullptr, TRUE);
    AttachConsole(static_cast<DWORD>(m_process.processId()));
    GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
    FreeConsole();
    // Only the child was signalled: the supervisor must answer the next Ctrl+C of its own.
    SetConsoleCtrlHandler(nullptr, FALSE);
    m_process.waitForFinished(kStopTimeoutMs);
}
