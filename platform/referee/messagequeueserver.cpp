#include "messagequeueserver.h"

#include "tcptransport.h"

#include "win32/winuser.h"

#include <QHash>
#include <deque>
#include <mutex>

const CLSID CLSID_MessageQueueServer = {
    0xF392FA1B, 0x1348, 0x4AAD, {0x8A, 0x0E, 0xF1, 0xB0, 0xFF, 0xE6, 0xA8, 0x93}};
const IID IID_IMessageQueueServer = {
    0xFA8A4550, 0x8AC3, 0x4B4B, {0xA2, 0xF0, 0xBD, 0xA1, 0x9D, 0x84, 0x76, 0x9C}};
const IID IID_IMessageQueue = {0xFDED91F0, 0x91B7, 0x446C, {0xB7, 0x53, 0x9C, 0x6A, 0xC1, 0xF9, 0xB6, 0x86}};

namespace nyx::referee {
namespace {
constexpr DWORD ERROR_CONNECTION_REFUSED = 1225;
// A reader that stopped reading must not make the queue grow without end.
constexpr std::size_t kMaxQueuedMessages = 10000;

struct Inbox
{
    std::mutex mutex;
    std::deque<QueueMessage> messages;
    QString name;
    HWND window = nullptr;
    UINT message = 0;

    void push(const QueueMessage &m)
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (messages.size() >= kMaxQueuedMessages)
                messages.pop_front();
            messages.push_back(m);
        }
        PostMessageW(window, message, 0, 0);
    }
};

// The local queues by name; the transport delivers through it.
struct Directory
{
    std::mutex mutex;
    QHash<QString, std::weak_ptr<Inbox>> queues;

    void deliver(const QString &queue, const QueueMessage &m)
    {
        std::shared_ptr<Inbox> inbox;
        {
            std::lock_guard<std::mutex> lock(mutex);
            inbox = queues.value(queue).lock();
        }
        if (inbox)
            inbox->push(m);
    }
};

BSTR makeBstr(const QString &text)
{
    return nyx::com::toBstr(text);
}

class MessageQueue : public nyx::com::ComObject<IMessageQueue>
{
public:
    MessageQueue(std::shared_ptr<Inbox> inbox, std::shared_ptr<Directory> directory,
                 std::shared_ptr<MessageTransport> transport)
        : m_inbox(std::move(inbox)), m_directory(std::move(directory)), m_transport(std::move(transport))
    {
    }
    ~MessageQueue() override
    {
        std::lock_guard<std::mutex> lock(m_directory->mutex);
        auto it = m_directory->queues.find(m_inbox->name);
        if (it != m_directory->queues.end() && it->lock() == m_inbox)
            m_directory->queues.erase(it);
    }

    HRESULT Reserved1() override { return E_NOTIMPL; }
    HRESULT Reserved2() override { return E_NOTIMPL; }
    HRESULT Reserved3() override { return E_NOTIMPL; }
    HRESULT Reserved4() override { return E_NOTIMPL; }
    HRESULT Reserved5() override { return E_NOTIMPL; }

    HRESULT GetPendingCount(LONG *count, LONG *reserved) override
    {
        if (!count)
            return E_POINTER;
        std::lock_guard<std::mutex> lock(m_inbox->mutex);
        *count = static_cast<LONG>(m_inbox->messages.size());
        if (reserved)
            *reserved = 0;
        return S_OK;
    }

    HRESULT ReadMessage(LONG *number, LONG *reserved1, LONG *kind, LONG *reserved2, LONG *reserved3,
                        LONG *reserved4, LONG *reserved5, BSTR *host, BSTR *sourceQueue, BSTR *text,
                        BSTR *ownQueue) override
    {
        if (!number || !reserved1 || !kind || !reserved2 || !reserved3 || !reserved4 || !reserved5 || !host ||
            !sourceQueue || !text || !ownQueue)
            return E_POINTER;
        *host = *sourceQueue = *text = *ownQueue = nullptr;
        QueueMessage m;
        {
            std::lock_guard<std::mutex> lock(m_inbox->mutex);
            if (m_inbox->messages.empty())
                return S_FALSE;
            m = std::move(m_inbox->messages.front());
            m_inbox->messages.pop_front();
        }
        *number = m.number;
        *reserved1 = *reserved2 = *reserved3 = *reserved4 = *reserved5 = 0;
        *kind = kMessageKindText;
        *host = makeBstr(m.host);
        *sourceQueue = makeBstr(m.sourceQueue);
        *text = makeBstr(m.text);
        *ownQueue = makeBstr(m_inbox->name);
        return S_OK;
    }

    HRESULT Send(LONG *status, LONG *error, LONG number, LONG, LONG, BSTR host, BSTR targetQueue, BSTR text,
                 BSTR replyQueue) override
    {
        if (!status || !error)
            return E_POINTER;
        if (!targetQueue || !text) {
            *status = 0;
            *error = static_cast<LONG>(ERROR_INVALID_PARAMETER);
            return E_INVALIDARG;
        }
        const bool sent = m_transport->send(nyx::com::fromBstr(host), nyx::com::fromBstr(targetQueue),
                                            nyx::com::fromBstr(text), nyx::com::fromBstr(replyQueue), number);
        if (!sent) {
            *status = 0;
            *error = static_cast<LONG>(ERROR_CONNECTION_REFUSED);
            return HRESULT_FROM_WIN32(ERROR_CONNECTION_REFUSED);
        }
        *status = 1;
        *error = 0;
        return S_OK;
    }

private:
    std::shared_ptr<Inbox> m_inbox;
    std::shared_ptr<Directory> m_directory;
    std::shared_ptr<MessageTransport> m_transport;
};

class MessageQueueServer : public nyx::com::ComObject<IMessageQueueServer>
{
public:
    explicit MessageQueueServer(std::shared_ptr<MessageTransport> transport)
        : m_directory(std::make_shared<Directory>()), m_transport(std::move(transport))
    {
        std::weak_ptr<Directory> directory = m_directory;
        m_transport->addDelivery([directory](const QString &queue, const QueueMessage &m) {
            if (auto d = directory.lock())
                d->deliver(queue, m);
        });
    }

    HRESULT Reserved1() override { return E_NOTIMPL; }
    HRESULT Reserved2() override { return E_NOTIMPL; }
    HRESULT Reserved3() override { return E_NOTIMPL; }
    HRESULT Reserved4() override { return E_NOTIMPL; }
    HRESULT Reserved5() override { return E_NOTIMPL; }
    HRESULT Reserved6() override { return E_NOTIMPL; }

    HRESULT CreateQueue(ULONG *error, LONG *result, BSTR queueName, LONG window, ULONG message, LONG, LONG,
                        IUnknown **queue) override
    {
        if (!error || !result || !queue)
            return E_POINTER;
        *queue = nullptr;
        const QString name = nyx::com::fromBstr(queueName);
        if (name.isEmpty()) {
            *error = ERROR_INVALID_PARAMETER;
            *result = -1;
            return E_INVALIDARG;
        }
        auto inbox = std::make_shared<Inbox>();
        inbox->name = name;
        inbox->window =
            reinterpret_cast<HWND>(static_cast<std::uintptr_t>(static_cast<std::uint32_t>(window)));
        inbox->message = message;
        {
            std::lock_guard<std::mutex> lock(m_directory->mutex);
            if (m_directory->queues.value(name).lock()) {
                *error = ERROR_ALREADY_EXISTS;
                *result = -1;
                return HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS);
            }
            m_directory->queues.insert(name, inbox);
        }
        *queue = static_cast<IMessageQueue *>(new MessageQueue(inbox, m_directory, m_transport));
        *error = 0;
        *result = 0;
        return S_OK;
    }

private:
    std::shared_ptr<Directory> m_directory;
    std::shared_ptr<MessageTransport> m_transport;
};

// The installed server: TCP to the referee host.
[[maybe_unused]] const int g_registration =
    nyx::com::registerClass(CLSID_MessageQueueServer, [](REFIID riid, void **object) {
        return messageQueueServerFactory(std::make_shared<TcpTransport>())(riid, object);
    });
} // namespace

IMessageQueueServer *createMessageQueueServer(std::shared_ptr<MessageTransport> transport)
{
    return new MessageQueueServer(std::move(transport));
}

nyx::com::ClassFactory messageQueueServerFactory(std::shared_ptr<MessageTransport> transport)
{
    return [transport](REFIID riid, void **object) -> HRESULT {
        CComPtr<IMessageQueueServer> server;
        server.Attach(createMessageQueueServer(transport));
        return server->QueryInterface(riid, object);
    };
}
} // namespace nyx::referee
