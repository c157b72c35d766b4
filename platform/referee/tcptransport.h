#pragma once
// Messages to and from the referee over one TCP connection to the referee host ("host" or
// "host:port"). A send connects when there is no connection; answers are read on a thread of
// the transport and delivered to the local queue they name.

#include "messagetransport.h"

#include <chrono>
#include <memory>
#include <mutex>

namespace nyx::referee {
class TcpTransport : public MessageTransport
{
public:
    TcpTransport();
    ~TcpTransport() override;

    // One server per transport: a later delivery replaces the earlier one.
    void addDelivery(Delivery delivery) override;
    bool send(const QString &host, const QString &targetQueue, const QString &text, const QString &replyQueue,
              qint32 number) override;

private:
    struct Connection;
    std::shared_ptr<Connection> connectTo(const QString &host);
    void drop();

    std::mutex m_mutex;
    std::shared_ptr<Delivery> m_delivery;
    std::shared_ptr<Connection> m_connection;
    QString m_failedHost;
    // The last host text that names no host and port, once it was reported.
    QString m_unusableHost;
    bool m_unusableReported = false;
    std::chrono::steady_clock::time_point m_failedAt;
};
} // namespace nyx::referee
