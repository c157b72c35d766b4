#pragma once

#include "fakecastoptions.h"

#include <QObject>
#include <QVector>

#include <memory>
#include <thread>

class QFakecast;

// Runs the sender until the key q is pressed on the console.
class Task : public QObject
{
    Q_OBJECT

public:
    Task(const FakecastOptions &options, QVector<QByteArray> lines, QObject *parent = nullptr);
    ~Task() override;

signals:
    void finished();

public slots:
    void run();

private:
    struct ConsoleLink;

    QFakecast *m_controller;
    std::thread m_console;
    std::shared_ptr<ConsoleLink> m_link;
};
