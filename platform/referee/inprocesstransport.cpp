#include "inprocesstransport.h"

namespace nyx::referee {
void InProcessTransport::setHandler(Handler handler)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_handler = std::move(handler);
}

void InProcessTransport::addDelivery(Delivery delivery)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_deliveries.push_back(std::make_shared<Delivery>(std::move(delivery)));
}

void InProcessTransport::deliver(const QString &queue, const QString &text, qint32 number)
{
    std::vector<std::shared_ptr<Delivery>> deliveries;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        deliveries = m_deliveries;
    }
    // Every server looks for the queue among its own.
    for (const auto &delivery : deliveries)
        (*delivery)(queue,
                    QueueMessage{number, QStringLiteral("localhost"), QStringLiteral("JudgeDesk"), text});
}

bool InProcessTransport::send(const QString &host, const QString &targetQueue, const QString &text,
                              const QString &replyQueue, qint32 number)
{
    Handler handler;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        handler = m_handler;
    }
    return handler && handler(Request{number, host, targetQueue, replyQueue, text});
}
} // namespace nyx::referee
