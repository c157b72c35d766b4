// The message-queue server: queues, the window message on arrival, and both transports.

#include "referee/inprocesstransport.h"
#include "referee/messagequeue.h"
#include "referee/messagequeueserver.h"
#include "referee/messagewire.h"
#include "win32/winuser.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>
#include <atomic>

namespace {
std::atomic<int> g_arrivals{0};

LRESULT countingProc(HWND, UINT message, WPARAM, LPARAM)
{
    if (message == WM_USER + 1)
        ++g_arrivals;
    return 0;
}

struct Message
{
    HRESULT hr = E_FAIL;
    LONG number = 0;
    LONG kind = 0;
    QString host, source, text, own;
};

Message read(IMessageQueue *queue)
{
    Message m;
    LONG r1, r2, r3, r4, r5;
    BSTR host = nullptr, source = nullptr, text = nullptr, own = nullptr;
    m.hr = queue->ReadMessage(&m.number, &r1, &m.kind, &r2, &r3, &r4, &r5, &host, &source, &text, &own);
    m.host = nyx::com::fromBstr(host);
    m.source = nyx::com::fromBstr(source);
    m.text = nyx::com::fromBstr(text);
    m.own = nyx::com::fromBstr(own);
    SysFreeString(host);
    SysFreeString(source);
    SysFreeString(text);
    SysFreeString(own);
    return m;
}

LONG pending(IMessageQueue *queue)
{
    LONG count = -1, unused = 0;
    queue->GetPendingCount(&count, &unused);
    return count;
}

HRESULT send(IMessageQueue *queue, const QString &host, const QString &text, LONG *status, LONG *error)
{
    *status = 1;
    *error = 0;
    CComBSTR h(host), target(QStringLiteral("JudgeDesk")), t(text), reply(QStringLiteral("mine"));
    return queue->Send(status, error, 7, 0, 0, h, target, t, reply);
}

CComPtr<IMessageQueue> makeQueue(IMessageQueueServer *server, const QString &name, HWND window,
                                 HRESULT *hr = nullptr)
{
    ULONG error = 99;
    LONG result = 99;
    CComPtr<IUnknown> unknown;
    CComBSTR n(name);
    const HRESULT created =
        server->CreateQueue(&error, &result, n, LONG(std::uintptr_t(window)), WM_USER + 1, 0, 0, &unknown);
    if (hr)
        *hr = created;
    CComPtr<IMessageQueue> queue;
    if (unknown)
        unknown.QueryInterface(&queue);
    return queue;
}
} // namespace

class tst_MessageQueue : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        WNDCLASSW wc{};
        wc.lpfnWndProc = countingProc;
        wc.lpszClassName = u"TST_QUEUE";
        QVERIFY(RegisterClassW(&wc));
        m_window = CreateWindowExW(0, u"TST_QUEUE", u"", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
        QVERIFY(m_window);
    }
    void cleanupTestCase() { DestroyWindow(m_window); }

    void inProcessQueuesPostTheirWindowMessage()
    {
        auto transport = std::make_shared<nyx::referee::InProcessTransport>();
        QStringList sent;
        transport->setHandler([&sent](const nyx::referee::InProcessTransport::Request &r) {
            sent << r.host + "|" + r.targetQueue + "|" + r.replyQueue + "|" + r.text + "|" +
                        QString::number(r.number);
            return r.text != "refuse";
        });
        nyx::com::ClassRegistration registration(CLSID_MessageQueueServer,
                                                 nyx::referee::messageQueueServerFactory(transport));
        CComPtr<IMessageQueueServer> server;
        QCOMPARE(CoCreateInstance(CLSID_MessageQueueServer, nullptr, 23, IID_IMessageQueueServer,
                                  reinterpret_cast<void **>(&server)),
                 S_OK);
        CComPtr<IMessageQueue> queue = makeQueue(server, "TUNDRA2_x", m_window);
        QVERIFY(queue);
        HRESULT hr;
        QVERIFY(!makeQueue(server, "TUNDRA2_x", m_window, &hr));
        QVERIFY(FAILED(hr));

        LONG status, error;
        QCOMPARE(send(queue, "referee-pc", "EventCount", &status, &error), S_OK);
        QCOMPARE(status, LONG(1));
        QCOMPARE(error, LONG(0));
        QCOMPARE(sent, QStringList({"referee-pc|JudgeDesk|mine|EventCount|7"}));
        QVERIFY(send(queue, "referee-pc", "refuse", &status, &error) != S_OK);
        QCOMPARE(status, LONG(0));
        QVERIFY(error != 0);

        g_arrivals = 0;
        QCOMPARE(pending(queue), LONG(0));
        QCOMPARE(read(queue).hr, S_FALSE);
        transport->deliver("TUNDRA2_x", "<JudgeDesk/>", 3);
        transport->deliver("TUNDRA2_x", "second", 4);
        transport->deliver("elsewhere", "lost", 5);
        QCOMPARE(pending(queue), LONG(2));
        MSG msg;
        for (int i = 0; i < 2; ++i) {
            QCOMPARE(GetMessageW(&msg, nullptr, 0, 0), BOOL(1));
            QCOMPARE(msg.message, UINT(WM_USER + 1));
            QCOMPARE(msg.hwnd, m_window);
            DispatchMessageW(&msg);
        }
        QCOMPARE(g_arrivals.load(), 2);
        const Message m = read(queue);
        QCOMPARE(m.hr, S_OK);
        QCOMPARE(m.kind, kMessageKindText);
        QCOMPARE(m.number, LONG(3));
        QCOMPARE(m.text, QStringLiteral("<JudgeDesk/>"));
        QCOMPARE(m.source, QStringLiteral("JudgeDesk"));
        QCOMPARE(m.own, QStringLiteral("TUNDRA2_x"));
        QCOMPARE(read(queue).text, QStringLiteral("second"));
        QCOMPARE(pending(queue), LONG(0));

        // A released queue takes no more messages and its name is free again.
        queue.Release();
        transport->deliver("TUNDRA2_x", "after", 6);
        QVERIFY(makeQueue(server, "TUNDRA2_x", m_window));
    }

    void tcpSendFailsWithoutAReferee()
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        const quint16 port = probe.serverPort();
        probe.close(); // nobody listens there now
        CComPtr<IMessageQueueServer> server;
        QCOMPARE(CoCreateInstance(CLSID_MessageQueueServer, nullptr, 23, IID_IMessageQueueServer,
                                  reinterpret_cast<void **>(&server)),
                 S_OK);
        CComPtr<IMessageQueue> queue = makeQueue(server, "TUNDRA2_tcp_fail", m_window);
        QVERIFY(queue);
        LONG status, error;
        QVERIFY(send(queue, QStringLiteral("127.0.0.1:%1").arg(port), "TimeInfo", &status, &error) != S_OK);
        QCOMPARE(status, LONG(0));
    }

    void tcpCarriesRequestsAndAnswers()
    {
        QTcpServer referee;
        QVERIFY(referee.listen(QHostAddress::LocalHost, 0));
        CComPtr<IMessageQueueServer> server;
        QCOMPARE(CoCreateInstance(CLSID_MessageQueueServer, nullptr, 23, IID_IMessageQueueServer,
                                  reinterpret_cast<void **>(&server)),
                 S_OK);
        CComPtr<IMessageQueue> queue = makeQueue(server, "TUNDRA2_tcp", m_window);
        const QString host = QStringLiteral("127.0.0.1:%1").arg(referee.serverPort());
        LONG status, error;
        QCOMPARE(send(queue, host, QString::fromUtf8("Comment \u00e9\u20ac"), &status, &error), S_OK);
        QVERIFY(referee.waitForNewConnection(5000));
        QTcpSocket *socket = referee.nextPendingConnection();
        QByteArray buffer;
        QByteArray payload;
        while (nyx::referee::wire::takeFrame(buffer, &payload) == 0) {
            QVERIFY(socket->waitForReadyRead(5000));
            buffer += socket->readAll();
        }
        nyx::referee::wire::Request request;
        QVERIFY(nyx::referee::wire::decodeRequest(payload, &request));
        QCOMPARE(request.number, 7);
        QCOMPARE(request.targetQueue, QStringLiteral("JudgeDesk"));
        QCOMPARE(request.replyQueue, QStringLiteral("mine"));
        QCOMPARE(request.text, QString::fromUtf8("Comment \u00e9\u20ac"));

        // Two answers in one write, the second split across writes.
        const QByteArray a1 = nyx::referee::wire::frame(
            nyx::referee::wire::encodeAnswer({1, "TUNDRA2_tcp", "JudgeDesk", "one"}));
        const QByteArray a2 = nyx::referee::wire::frame(
            nyx::referee::wire::encodeAnswer({2, "TUNDRA2_tcp", "JudgeDesk", "two"}));
        socket->write(a1 + a2.left(5));
        socket->flush();
        QTest::qWait(50);
        socket->write(a2.mid(5));
        socket->flush();
        QTRY_COMPARE(pending(queue), LONG(2));
        QCOMPARE(read(queue).text, QStringLiteral("one"));
        QCOMPARE(read(queue).text, QStringLiteral("two"));

        // A broken stream drops the connection; the next send connects again.
        socket->write("garbage!garbage!");
        socket->flush();
        QTest::qWait(100);
        QCOMPARE(send(queue, host, "again", &status, &error), S_OK);
        QVERIFY(referee.waitForNewConnection(5000));
    }

    void hostAndPort_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("host");
        QTest::addColumn<int>("port");
        QTest::addColumn<QString>("problem");
        const int defaultPort = nyx::referee::wire::kDefaultPort;
        QTest::newRow("bare name") << "referee"
                                   << "referee" << defaultPort << "";
        QTest::newRow("name and port") << " 10.0.0.2:5001 "
                                       << "10.0.0.2" << 5001 << "";
        QTest::newRow("IPv6") << "::1"
                              << "::1" << defaultPort << "";
        QTest::newRow("port too large") << "host:99999"
                                        << "" << 0 << "the port \"99999\" is not a number from 1 to 65535";
        QTest::newRow("port not a number")
            << ":notaport"
            << "" << 0 << "the port \"notaport\" is not a number from 1 to 65535";
        QTest::newRow("port zero") << "host:0"
                                   << "" << 0 << "the port \"0\" is not a number from 1 to 65535";
        QTest::newRow("no port") << "host:"
                                 << "" << 0 << "the port \"\" is not a number from 1 to 65535";
        QTest::newRow("no host") << ":5001"
                                 << "" << 0 << "no host is named before the port";
        QTest::newRow("empty") << "  "
                               << "" << 0 << "no host is named";
    }
    void hostAndPort()
    {
        QFETCH(QString, text);
        QFETCH(QString, host);
        QFETCH(int, port);
        QFETCH(QString, problem);
        QString gotHost, gotProblem;
        quint16 gotPort = 0;
        QCOMPARE(nyx::referee::wire::splitHostPort(text, &gotHost, &gotPort, &gotProblem), problem.isEmpty());
        QCOMPARE(gotProblem, problem);
        if (problem.isEmpty()) {
            QCOMPARE(gotHost, host);
            QCOMPARE(int(gotPort), port);
        }
    }

    void frames()
    {
        QByteArray buffer = nyx::referee::wire::frame("abc");
        QByteArray payload;
        QByteArray partial = buffer.left(9);
        QCOMPARE(nyx::referee::wire::takeFrame(partial, &payload), 0);
        QCOMPARE(nyx::referee::wire::takeFrame(buffer, &payload), 1);
        QCOMPARE(payload, QByteArray("abc"));
        QVERIFY(buffer.isEmpty());
        QByteArray huge = nyx::referee::wire::frame("x");
        huge[4] = char(0x7F); // 2 GB
        QCOMPARE(nyx::referee::wire::takeFrame(huge, &payload), -1);
        QByteArray wrong("XXXX\0\0\0\1x", 9);
        QCOMPARE(nyx::referee::wire::takeFrame(wrong, &payload), -1);
        nyx::referee::wire::Request request;
        QVERIFY(!nyx::referee::wire::decodeRequest("\0\0\0\1", &request));
        nyx::referee::wire::Answer answer;
        QVERIFY(!nyx::referee::wire::decodeAnswer(nyx::referee::wire::encodeRequest({1, "a", "b", "c"}),
                                                  &answer));
    }

private:
    HWND m_window = nullptr;
};

QTEST_GUILESS_MAIN(tst_MessageQueue)
#include "tst_messagequeue.moc"
