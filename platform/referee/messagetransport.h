#pragma once
// How the message-queue server carries messages to the referee host and back.

#include <QString>
#include <functional>

namespace nyx::referee {
struct QueueMessage
{
    qint32 number = 0;
    QString host;        // where it came from
    QString sourceQueue; // the sender's queue
    QString text;
};

class MessageTransport
{
public:
    // Called on any thread with a message for the local queue named queue.
    using Delivery = std::function<void(const QString &queue, const QueueMessage &message)>;

    virtual ~MessageTransport() = default;
    // Called by every server that uses the transport, for the queues it makes.
    virtual void addDelivery(Delivery delivery) = 0;
    // False when the message could not be handed over (no referee at host).
    virtual bool send(const QString &host, const QString &targetQueue, const QString &text,
                      const QString &replyQueue, qint32 number) = 0;
};
} // namespace nyx::referee
