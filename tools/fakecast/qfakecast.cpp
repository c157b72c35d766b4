#include "qfakecast.h"

#include "eventreceiver.h"
#include "eventsender.h"

#include <cstdlib>
#include <ctime>

QFakecast::QFakecast(quint16 portFeedback, quint16 portControl, const QHostAddress &vsAddress,
                     const QHostAddress &arAddress, QVector<QByteArray> lines, QObject *parent)
    : QObject(parent), m_portFeedback(portFeedback), m_portControl(portControl), m_arAddress(arAddress),
      m_vsAddress(vsAddress), m_lines(std::move(lines))
{
    srand(static_cast<unsigned>(time(nullptr)));
    m_senderThread.setObjectName(QStringLiteral("Fakecast sender"));
    m_receiverThread.setObjectName(QStringLiteral("Fakecast receiver"));
    connect(&m_timer, &QTimer::timeout, this, &QFakecast::onTick);
}

QFakecast::~QFakecast()
{
    stop();
}

void QFakecast::start()
{
    auto *sender = new EventSender(m_arAddress, m_portControl, m_lines);
    sender->moveToThread(&m_senderThread);
    connect(&m_senderThread, &QThread::finished, sender, &QObject::deleteLater);
    connect(this, &QFakecast::generateEvent, sender, &EventSender::sendEvent);
    connect(this, &QFakecast::forwardFeedback, sender, &EventSender::receiveFeedback);
    m_senderThread.start();

    auto *receiver = new EventReceiver(m_vsAddress, m_portFeedback);
    receiver->moveToThread(&m_receiverThread);
    connect(&m_receiverThread, &QThread::finished, receiver, &QObject::deleteLater);
    connect(receiver, &EventReceiver::eventReceived, this, &QFakecast::onFeedbackReceived);
    m_receiverThread.start();

    m_timer.start(1000);
}

void QFakecast::stop()
{
    m_timer.stop();
    for (QThread *thread : {&m_senderThread, &m_receiverThread}) {
        if (thread->isRunning()) {
            thread->quit();
            thread->wait();
        }
    }
}

void QFakecast::onTick()
{
    m_timer.setInterval(rand() % 5000 + 1000);
    emit generateEvent();
}

void QFakecast::onFeedbackReceived(uint packetNum, uint status)
{
    emit forwardFeedback(packetNum, status);
}
