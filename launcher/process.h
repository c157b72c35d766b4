#pragma once

#include "restartpolicy.h"

#include <QObject>
#include <QProcess>
#include <QTimer>

// One supervised child program, started from the supervisor's own directory.
class Process : public QObject
{
    Q_OBJECT

public:
    explicit Process(const QString &name, QObject *parent = nullptr);
    ~Process() override;

    void start();
    int crashCount() const { return m_crashCount; }
    QProcess *process() { return &m_process; }

signals:
    void exitRequested();
    void restartRequested();

public slots:
    void onError(QProcess::ProcessError error);
    void onFinished(int exitCode, QProcess::ExitStatus status = QProcess::NormalExit);
    void onCrash();
    void resetCrashCount();
    void restart();

private:
    void connectProcess();
    void disconnectProcess();
    void scheduleRestart();
    void stopGracefully();

    QProcess m_process;
    QTimer m_restartTimer;
    QTimer m_crashResetTimer;
    int m_crashCount = 0;
    RestartPolicy m_policy;
};
