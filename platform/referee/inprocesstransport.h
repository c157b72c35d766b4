#pragma once
// A transport that stays inside the process (tests): every send goes to a handler that plays the
// referee, and the test delivers answers to the link's queue.

#include "messagetransport.h"

#include <memory>
#include <mutex>
#include <vector>

namespace nyx::referee {
class InProcessTransport : public MessageTransport
{
public:
    struct Request
    {
        qint32 number = 0;
        QString host;
        QString targetQueue;
        QString replyQueue;
        QString text;
    };
    // Runs on the sender's thread; false makes the send fail (no referee there).
    using Handler = std::function<bool(const Request &request)>;

    void setHandler(Handler handler);
    // Puts text into the local queue named queue, as an answer from "JudgeDesk".
    void deliver(const QString &queue, const QString &text, qint32 number = 0);

    void addDelivery(Delivery delivery) override;
    bool send(const QString &host, const QString &targetQueue, const QString &text, const QString &replyQueue,
              qint32 number) override;

private:
    std::mutex m_mutex;
    Handler m_handler;
    std::vector<std::shared_ptr<Delivery>> m_deliveries;
};
} // namespace nyx::referee
