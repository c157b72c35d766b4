#pragma once
// JudgeDesk's end of the message-queue transport: takes requests for the queue "JudgeDesk" over
// TCP and sends the desk's answers back to the sender's reply queue, with the faults in force.

#include "faultcontrol.h"

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QVector>

class RefereeDesk;
class QTcpSocket;

class DeskServer : public QObject
{
    Q_OBJECT

public:
    DeskServer(RefereeDesk *desk, FaultControl *faults, QObject *parent = nullptr);
    bool listen(const QHostAddress &address, quint16 port);
    quint16 port() const { return m_server.serverPort(); }
    QHostAddress address() const { return m_server.serverAddress(); }
    QString errorString() const { return m_server.errorString(); }

private:
    void acceptConnections();
    void readRequests(QTcpSocket *socket);
    void handle(QTcpSocket *socket, qint32 number, const QString &replyQueue, const QString &request);
    void handleWaiting();
    static void sendAnswer(QTcpSocket *socket, qint32 number, const QString &replyQueue, const QString &text);

    // A request whose answer waits for the archive.
    struct Waiting
    {
        QPointer<QTcpSocket> socket;
        qint32 number;
        QString replyQueue;
        QString request;
    };

    RefereeDesk *m_desk;
    FaultControl *m_faults;
    QTcpServer m_server;
    QHash<QTcpSocket *, QByteArray> m_buffers;
    QVector<Waiting> m_waiting;
};
