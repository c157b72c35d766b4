#include "tcptransport.h"

#include "messagewire.h"

#include <QLoggingCategory>

#include <atomic>
#include <cerrno>
#include <thread>

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcRefereeTransport, "nyx.referee.transport")

namespace nyx::referee {
namespace {
constexpr int kConnectTimeoutMs = 1000;
constexpr int kSendTimeoutMs = 2000;
// A referee that refused a connection is not asked again sooner than this.
constexpr auto kRetryDelay = std::chrono::milliseconds(500);

bool readExactly(int fd, char *buffer, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::recv(fd, buffer, size, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        buffer += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool writeAll(int fd, const char *data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

int connectWithTimeout(const QString &host, quint16 port)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *addresses = nullptr;
    if (::getaddrinfo(host.toUtf8().constData(), QByteArray::number(port).constData(), &hints, &addresses) !=
        0)
        return -1;
    int fd = -1;
    for (addrinfo *a = addresses; a && fd < 0; a = a->ai_next) {
        fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol);
        if (fd < 0)
            continue;
        int rc = ::connect(fd, a->ai_addr, a->ai_addrlen);
        if (rc < 0 && errno == EINPROGRESS) {
            pollfd p{fd, POLLOUT, 0};
            rc = ::poll(&p, 1, kConnectTimeoutMs) == 1 ? 0 : -1;
            int error = 0;
            socklen_t length = sizeof error;
            if (rc == 0 && (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0))
                rc = -1;
        }
        if (rc != 0) {
            ::close(fd);
            fd = -1;
        }
    }
    ::freeaddrinfo(addresses);
    if (fd >= 0) {
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
        timeval timeout{kSendTimeoutMs / 1000, (kSendTimeoutMs % 1000) * 1000};
        ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    }
    return fd;
}
} // namespace

struct TcpTransport::Connection
{
    int fd = -1;
    QString host;
    std::atomic<bool> broken{false};
    std::thread reader;
};

TcpTransport::TcpTransport() = default;

TcpTransport::~TcpTransport()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    drop();
}

void TcpTransport::addDelivery(Delivery delivery)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_delivery = std::make_shared<Delivery>(std::move(delivery));
}

void TcpTransport::drop()
{
    if (!m_connection)
        return;
    ::shutdown(m_connection->fd, SHUT_RDWR);
    if (m_connection->reader.joinable())
        m_connection->reader.join();
    ::close(m_connection->fd);
    m_connection.reset();
}

std::shared_ptr<TcpTransport::Connection> TcpTransport::connectTo(const QString &host)
{
    if (m_connection && (m_connection->broken || m_connection->host != host))
        drop();
    if (m_connection)
        return m_connection;
    const auto now = std::chrono::steady_clock::now();
    if (host == m_failedHost && now - m_failedAt < kRetryDelay)
        return nullptr;
    QString name;
    quint16 port = 0;
    QString problem;
    if (!wire::splitHostPort(host, &name, &port, &problem)) {
        // Every send fails the same way until the setting is mended: say why, once.
        if (!m_unusableReported || host != m_unusableHost)
            qCWarning(lcRefereeTransport).noquote()
                << QStringLiteral(
                       "The referee host \"%1\" cannot be used: %2. Nothing reaches the referee until "
                       "it is set as host or host:port.")
                       .arg(host, problem);
        m_unusableHost = host;
        m_unusableReported = true;
        return nullptr;
    }
    const int fd = connectWithTimeout(name, port);
    if (fd < 0) {
        m_failedHost = host;
        m_failedAt = now;
        return nullptr;
    }
    m_failedHost.clear();
    auto connection = std::make_shared<Connection>();
    connection->fd = fd;
    connection->host = host;
    std::shared_ptr<Delivery> delivery = m_delivery;
    Connection *raw = connection.get();
    connection->reader = std::thread([raw, delivery, host] {
        for (;;) {
            char header[wire::kHeaderSize];
            quint32 length = 0;
            if (!readExactly(raw->fd, header, sizeof header) || !wire::readHeader(header, &length))
                break;
            QByteArray payload(static_cast<int>(length), Qt::Uninitialized);
            if (length && !readExactly(raw->fd, payload.data(), length))
                break;
            wire::Answer answer;
            if (!wire::decodeAnswer(payload, &answer))
                break;
            if (delivery && *delivery)
                (*delivery)(answer.queue, QueueMessage{answer.number, host, answer.sourceQueue, answer.text});
        }
        raw->broken = true;
    });
    m_connection = connection;
    return connection;
}

bool TcpTransport::send(const QString &host, const QString &targetQueue, const QString &text,
                        const QString &replyQueue, qint32 number)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::shared_ptr<Connection> connection = connectTo(host);
    if (!connection)
        return false;
    const QByteArray bytes =
        wire::frame(wire::encodeRequest(wire::Request{number, targetQueue, replyQueue, text}));
    if (!writeAll(connection->fd, bytes.constData(), static_cast<std::size_t>(bytes.size()))) {
        drop();
        return false;
    }
    return true;
}
} // namespace nyx::referee
