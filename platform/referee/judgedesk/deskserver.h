#pragma once
// JudgeDesk's end of the message-queue transport: takes requests for the queue "JudgeDesk" over
// TCP and sends the desk's answers back to the sender's reply queue, with the faults in force.

#include "faultcontrol.h"

#include <QHash>
#include <QObject>
#include <QTcpServer>

class RefereeDesk;
class QTcpSocket;

class DeskServer : public QObject
{
    Q_OBJECT

public:
    DeskServer(RefereeDesk *desk, FaultControl *faults, QObject *parent = nullptr);
    bool listen(const QHostAddress &address, quint16 port);
    quint16 port() const { return m_server.serverPort(); }
    QString errorString() const { return m_server.errorString(); }

private:
    void acceptConnections();
    void readRequests(QTcpSocket *socket);
    void handle(QTcpSocket *socket, qint32 number, const QString &replyQueue, const QString &request);
    static void sendAnswer(QTcpSocket *socket, qint32 number, const QString &replyQueue, const QString &text);

    RefereeDesk *m_desk;
    FaultControl *m_faults;
    QTcpServer m_server;
    QHash<QTcpSocket *, QByteArray> m_buffers;
};
