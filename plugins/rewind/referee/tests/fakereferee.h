#pragma once
// The referee's end of an in-process message-queue server, registered under the real class id
// for the lifetime of the object: records every request and lets the test answer.

#include "refereelink.h"

#include "referee/inprocesstransport.h"
#include "referee/messagequeue.h"
#include "referee/messagequeueserver.h"
#include "win32/debugoutput.h"
#include "win32/tickcount.h"

#include <QElapsedTimer>
#include <QStringList>
#include <QThread>
#include <atomic>
#include <condition_variable>
#include <mutex>

// A tick clock the test moves by hand.
struct FakeClock
{
    static std::atomic<DWORD> &now()
    {
        static std::atomic<DWORD> tick{1000000};
        return tick;
    }
    FakeClock(DWORD start = 1000000)
    {
        now() = start;
        nyx::win32::setTickCountSource([] { return now().load(); });
    }
    ~FakeClock() { nyx::win32::setTickCountSource({}); }
    void set(DWORD tick) { now() = tick; }
    void advance(DWORD ms) { now() += ms; }
    DWORD get() const { return now().load(); }
};

// Collects the debugger output.
struct DebugCapture
{
    DebugCapture()
    {
        nyx::win32::setDebugOutputSink([this](const std::string &text) {
            std::lock_guard<std::mutex> lock(mutex);
            output += QString::fromStdString(text);
        });
    }
    ~DebugCapture() { nyx::win32::setDebugOutputSink({}); }
    QString text()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return output;
    }
    int count(const QString &needle) { return text().count(needle); }
    std::mutex mutex;
    QString output;
};

class FakeReferee
{
public:
    using Request = nyx::referee::InProcessTransport::Request;

    FakeReferee()
        : transport(std::make_shared<nyx::referee::InProcessTransport>()),
          registration(CLSID_MessageQueueServer, nyx::referee::messageQueueServerFactory(transport))
    {
        transport->setHandler([this](const Request &r) {
            std::function<void(const Request &)> responder;
            {
                std::lock_guard<std::mutex> lock(mutex);
                if (!available)
                    return false;
                all.push_back(r);
                responder = autoResponder;
            }
            changed.notify_all();
            if (responder)
                responder(r);
            return true;
        });
    }

    // Waits until at least n requests arrived in total.
    bool waitForTotal(int n, int timeoutMs = 10000)
    {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                [&] { return int(all.size()) >= n; });
    }
    int total()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return int(all.size());
    }
    QStringList texts(int from = 0)
    {
        std::lock_guard<std::mutex> lock(mutex);
        QStringList list;
        for (int i = from; i < int(all.size()); ++i)
            list << all[i].text;
        return list;
    }
    Request request(int i)
    {
        std::lock_guard<std::mutex> lock(mutex);
        return all.at(i);
    }
    void setAvailable(bool on)
    {
        std::lock_guard<std::mutex> lock(mutex);
        available = on;
    }
    void setAutoResponder(std::function<void(const Request &)> responder)
    {
        std::lock_guard<std::mutex> lock(mutex);
        autoResponder = std::move(responder);
    }
    void answer(const CRefereeLink &link, const QString &text)
    {
        transport->deliver(link.ownQueueName(), text);
    }

    // Everything posted to the link before this has been handled once the TimeInfo of a timer
    // tick came back and the loop took the next message; returns the requests sent in between
    // (without that TimeInfo).
    QStringList tick(CRefereeLink &link, int before = -1, int timeoutMs = 10000)
    {
        if (before < 0)
            before = total();
        PostMessageW(link.window(), WM_TIMER, 1, 0);
        QElapsedTimer timer;
        timer.start();
        for (;;) {
            {
                std::unique_lock<std::mutex> lock(mutex);
                for (int i = before; i < int(all.size()); ++i) {
                    if (all[i].text == QLatin1String("TimeInfo")) {
                        // The rest of that turn of the loop (scan timeout, sending created events) is
                        // done once a sent message comes through.
                        lock.unlock();
                        SendMessageW(link.window(), WM_NULL, 0, 0);
                        lock.lock();
                        QStringList list;
                        for (int j = before; j < int(all.size()); ++j)
                            if (j != i)
                                list << all[j].text;
                        return list;
                    }
                }
                changed.wait_for(lock, std::chrono::milliseconds(20));
            }
            if (timer.elapsed() > timeoutMs)
                return {QStringLiteral("<no TimeInfo>")};
        }
    }
    // Answers and waits until the link has handled the answer; returns the requests it caused.
    QStringList answerAndSettle(CRefereeLink &link, const QString &text)
    {
        const int before = total();
        answer(link, text);
        return tick(link, before);
    }

    std::shared_ptr<nyx::referee::InProcessTransport> transport;
    nyx::com::ClassRegistration registration;
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<Request> all;
    bool available = true;
    std::function<void(const Request &)> autoResponder;
};

// Starts link against the fake referee with a timer that only the test fires.
inline bool startLink(FakeReferee &referee, CRefereeLink &link, int readEventCount = 5,
                      int readEventSize = 10, const QString &host = QStringLiteral("localhost"))
{
    const int before = referee.total();
    link.setTimerPeriod(24u * 3600 * 1000);
    link.Init(host, readEventCount, readEventSize, false);
    if (!referee.waitForTotal(before + 3))
        return false;
    // The window exists once the burst went out.
    for (int i = 0; i < 500 && !link.window(); ++i)
        QThread::msleep(10);
    return link.window() != nullptr;
}

namespace xml {
inline QString hexHi(quint64 v)
{
    return QStringLiteral("%1").arg(quint32(v >> 32), 8, 16, QLatin1Char('0')).toUpper();
}
inline QString hexLo(quint64 v)
{
    return QStringLiteral("%1").arg(quint32(v), 8, 16, QLatin1Char('0')).toUpper();
}
inline QString cam(int num, const QString &name, const QString &id, quint64 begin, quint64 end)
{
    return QStringLiteral(
               "<Cam Num=\"%1\" Name=\"%2\" Id=\"%3\" TBeginHi=\"%4\" TBeginLo=\"%5\" TEndHi=\"%6\" "
               "TEndLo=\"%7\"/>")
        .arg(num)
        .arg(name, id, hexHi(begin), hexLo(begin), hexHi(end), hexLo(end));
}
inline QString cameras(const QString &cams, int playAudioCam = 1)
{
    return QStringLiteral("<JudgeDesk><Cameras PlayAudioCam=\"%1\">%2</Cameras></JudgeDesk>")
        .arg(playAudioCam)
        .arg(cams);
}
inline QString types(const QStringList &names)
{
    QString s = QStringLiteral("<JudgeDesk><EventTypes>");
    for (const QString &n : names)
        s += QStringLiteral("<Type Name=\"%1\" Txt=\"FF00\" Bg=\"0x1f\"/>").arg(n);
    return s + QStringLiteral("</EventTypes></JudgeDesk>");
}
inline QString header(int stateChange, int count)
{
    return QStringLiteral("<JudgeDesk><Events StateChange=\"%1\" Count=\"%2\"/></JudgeDesk>")
        .arg(stateChange)
        .arg(count);
}
inline QString event(int index, const QString &type, const QString &comment, quint64 time,
                     const QString &fromStart = QString())
{
    QString s = QStringLiteral("<Event Index=\"%1\" Name=\"%2\" Comment=\"%3\"><Time THi=\"%4\" TLo=\"%5\"/>")
                    .arg(index)
                    .arg(type, comment, hexHi(time), hexLo(time));
    if (!fromStart.isNull())
        s += QStringLiteral("<FromStart>%1</FromStart>").arg(fromStart);
    return s + QStringLiteral("</Event>");
}
inline QString events(const QString &body)
{
    return QStringLiteral("<JudgeDesk>") + body + QStringLiteral("</JudgeDesk>");
}
} // namespace xml
