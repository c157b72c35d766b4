#pragma once

#include "senderstate.h"
#include "stringparameterparser.h"

#include <QHostAddress>
#include <QObject>
#include <QQmlParserStatus>
#include <QString>

#include <functional>
#include <map>
#include <memory>

class ProtocolEvent;
class QUdpSocket;

// Receives event datagrams from remote event sources, drops duplicates and stale packets per
// sender, hands each decoded event to QML and acknowledges what it processed.
class BeaconClient : public QObject, public QQmlParserStatus
{
    Q_OBJECT
    Q_INTERFACES(QQmlParserStatus)
    Q_PROPERTY(QString addrLocal READ addrLocal WRITE setAddrLocal NOTIFY addrLocalChanged)
    Q_PROPERTY(uint portControl READ portControl WRITE setPortControl NOTIFY portControlChanged)
    Q_PROPERTY(uint portFeedback READ portFeedback WRITE setPortFeedback NOTIFY portFeedbackChanged)
    Q_PROPERTY(ErrorMask status READ status WRITE setStatus NOTIFY statusChanged)

public:
    enum ErrorMask
    {
        StatusOk = 0,
        ErrorAutonomous = 1
    };
    Q_ENUM(ErrorMask)

    // How many packet numbers are remembered per sender.
    static constexpr int kHistorySize = 100;
    // An older packet whose nearest remembered number is older than this restarts the sender.
    static constexpr qint64 kRestartAfterMs = 5000;
    // Senders are forgotten after this much silence, and at most kMaxSenders are tracked, so
    // datagrams with forged source addresses cannot grow the table without bound.
    static constexpr qint64 kSenderExpiryMs = 10 * 60 * 1000;
    static constexpr int kMaxSenders = 256;

    explicit BeaconClient(QObject *parent = nullptr);
    ~BeaconClient() override;

    QString addrLocal() const { return m_addrLocal; }
    uint portControl() const { return m_portControl; }
    uint portFeedback() const { return m_portFeedback; }
    ErrorMask status() const { return m_status; }

    void setAddrLocal(const QString &address);
    void setPortControl(uint port);
    void setPortFeedback(uint port);
    void setStatus(ErrorMask status);

    void classBegin() override;
    void componentComplete() override;

    // Fills event from one record text; false when the text is not an event.
    static bool parseEvent(const QString &text, ProtocolEvent *event);

    // Handles one received datagram of size bytes from sender.
    void processDatagram(const char *data, qint64 size, const QHostAddress &sender);

    // Tests substitute their own decoder and clock (milliseconds since the epoch).
    void setParser(std::shared_ptr<StringParameterParser> parser) { m_parser = std::move(parser); }
    using Clock = std::function<qint64()>;
    void setClock(Clock clock);
    int senderCount() const { return static_cast<int>(m_senders.size()); }

signals:
    void addrRemoteChanged();
    void addrLocalChanged();
    void portControlChanged();
    void portFeedbackChanged();
    void statusChanged();
    void eventReceived(ProtocolEvent *event);

public slots:
    void readData();
    bool updateReceivingSocket();

private:
    struct SenderOrder
    {
        bool operator()(const QHostAddress &a, const QHostAddress &b) const
        {
            return a.toIPv4Address() < b.toIPv4Address();
        }
    };

    SenderState &senderFor(const QHostAddress &sender, qint64 now);
    void forgetSilentSenders(qint64 now);
    void sendFeedback(const QHostAddress &sender, quint32 packet);

    QUdpSocket *m_sendSocket;
    QUdpSocket *m_receiveSocket;
    std::map<QHostAddress, SenderState, SenderOrder> m_senders;
    std::shared_ptr<StringParameterParser> m_parser;
    QString m_addrLocal;
    uint m_portControl;
    uint m_portFeedback;
    quint32 m_feedbackStatus = 0;
    ErrorMask m_status = StatusOk;
    Clock m_clock;
};
