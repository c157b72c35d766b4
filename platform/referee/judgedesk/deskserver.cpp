#include "deskserver.h"

#include "refereedesk.h"

#include "referee/messagewire.h"

#include <QPointer>
#include <QTcpSocket>
#include <QTimer>
#include <utility>

namespace wire = nyx::referee::wire;

DeskServer::DeskServer(RefereeDesk *desk, FaultControl *faults, QObject *parent)
    : QObject(parent), m_desk(desk), m_faults(faults)
{
    connect(&m_server, &QTcpServer::newConnection, this, &DeskServer::acceptConnections);
    connect(m_desk, &RefereeDesk::answersReady, this, &DeskServer::handleWaiting);
}

bool DeskServer::listen(const QHostAddress &address, quint16 port)
{
    return m_server.listen(address, port);
}

void DeskServer::acceptConnections()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        socket->setParent(this);
        m_buffers.insert(socket, QByteArray());
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readRequests(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            m_buffers.remove(socket);
            socket->deleteLater();
        });
    }
}

void DeskServer::readRequests(QTcpSocket *socket)
{
    QByteArray &buffer = m_buffers[socket];
    buffer += socket->readAll();
    for (;;) {
        QByteArray payload;
        const int taken = wire::takeFrame(buffer, &payload);
        wire::Request request;
        if (taken < 0 || (taken > 0 && !wire::decodeRequest(payload, &request))) {
            qWarning("JudgeDesk: broken request stream, connection closed");
            socket->abort();
            return;
        }
        if (taken == 0)
            return;
        if (request.targetQueue != QLatin1String("JudgeDesk"))
            continue;
        if (m_desk->isAnswerReady(request.text))
            handle(socket, request.number, request.replyQueue, request.text);
        else
            m_waiting.push_back(Waiting{socket, request.number, request.replyQueue, request.text});
    }
}

void DeskServer::handleWaiting()
{
    // Answered now whatever the outcome: a failed archive gives the configured times.
    const QVector<Waiting> waiting = std::exchange(m_waiting, {});
    for (const Waiting &w : waiting) {
        if (w.socket)
            handle(w.socket, w.number, w.replyQueue, w.request);
    }
}

void DeskServer::handle(QTcpSocket *socket, qint32 number, const QString &replyQueue, const QString &request)
{
    const Faults &faults = m_faults->current();
    // The request is carried out even when its answer is lost: a created event is kept.
    QStringList answers = m_desk->answer(request, faults.split);
    if (faults.silent || Faults::matches(faults.drop, request))
        return;
    if (Faults::matches(faults.malformed, request)) {
        for (QString &a : answers)
            a.replace(QLatin1String("</JudgeDesk>"), QLatin1String("</JudgeDesks>"));
    }
    if (Faults::matches(faults.truncate, request)) {
        for (QString &a : answers)
            a.truncate(a.size() / 2);
    }
    if (Faults::matches(faults.delay, request) && faults.delayMs > 0) {
        QPointer<QTcpSocket> guard(socket);
        QTimer::singleShot(faults.delayMs, this, [guard, number, replyQueue, answers] {
            if (guard)
                for (const QString &a : answers)
                    sendAnswer(guard, number, replyQueue, a);
        });
        return;
    }
    for (const QString &a : answers)
        sendAnswer(socket, number, replyQueue, a);
}

void DeskServer::sendAnswer(QTcpSocket *socket, qint32 number, const QString &replyQueue, const QString &text)
{
    socket->write(
        wire::frame(wire::encodeAnswer(wire::Answer{number, replyQueue, QStringLiteral("JudgeDesk"), text})));
}
