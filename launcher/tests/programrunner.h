#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

// Starts a program of the station for a test, on the offscreen platform with the test's own
// data folders and temporary folder, and stops it the way a supervisor does.
class ProgramRunner
{
public:
    explicit ProgramRunner(const QString &program);
    ~ProgramRunner();

    QProcessEnvironment &environment() { return m_environment; }
    void setWorkingDirectory(const QString &dir) { m_process.setWorkingDirectory(dir); }
    bool start(const QStringList &arguments = {});
    // Runs to the end (at most timeoutMs) and returns whether it ended.
    bool finish(int timeoutMs = 30000);
    // Ctrl+C as a supervisor sends it.
    bool interrupt();
    // Kills it and waits until it has ended; false when it has not.
    bool kill();
    qint64 pid() const { return m_process.processId(); }
    int exitCode() const { return m_process.exitCode(); }
    QProcess::ExitStatus exitStatus() const { return m_process.exitStatus(); }
    // Looks at the process itself: QProcess learns of its end only while it is waited for.
    bool isRunning();
    QString output(); // standard output so far
    QString errors(); // standard error so far

    // The temporary folder of the programs (TMPDIR), below the test's data folder.
    static QString temporaryDirectory();
    // The data directory of an application name under the test's XDG_DATA_HOME.
    static QString dataDirectory(const QString &applicationName);
    // Waits until a new log file of the program appears: its console handler is in place then.
    static bool waitForLogFile(const QString &applicationName, const QString &baseName, qint64 pid,
                               int timeoutMs = 30000);

private:
    QProcess m_process;
    QProcessEnvironment m_environment;
    QString m_program;
    QByteArray m_out;
    QByteArray m_err;
};
