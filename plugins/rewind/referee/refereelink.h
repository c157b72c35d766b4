#pragma once
// The link to the referee application JudgeDesk: a thread of its own with a hidden window, a
// window timer and a message loop, which asks JudgeDesk for its time, cameras, event types and
// events, keeps them in tables with change flags, and sends the events created here.
//
// The GUI thread calls Init, the table copies, Clear, CreateEvent and IsAlive, and takes the
// Changed flags by exchanging them with 0. Two locks (created events; tables and flags) are never
// held together.

#include "refereetypes.h"
#include "xmldocument.h"

#include "com/com.h"
#include "win32/winuser.h"

#include <atomic>
#include <list>
#include <mutex>
#include <thread>
#include <vector>

constexpr UINT WM_REFEREE_ANSWER = WM_USER + 1;
constexpr UINT WM_REFEREE_SEND = WM_USER + 2;

class CRefereeLink
{
public:
    // Largest event count a scan takes from an "Events" header.
    static constexpr std::int32_t kMaxEventCount = 100000;
    static constexpr DWORD kAliveMs = 5000;
    static constexpr DWORD kScanTimeoutMs = 3000;

    CRefereeLink();
    ~CRefereeLink();
    CRefereeLink(const CRefereeLink &) = delete;
    CRefereeLink &operator=(const CRefereeLink &) = delete;

    // Stores the settings, names the reply queue and starts the link thread (once).
    void Init(const QString &host, std::int32_t readEventCount, std::int32_t readEventSize, bool trace);

    // The last answer from JudgeDesk is less than 5000 ms old and the thread runs.
    bool IsAlive() const;
    // GetTickCount() of the last answer from the referee application.
    DWORD LastAnswerTick() const { return lastAnswerTick.load(); }
    std::vector<RefereeCamera> GetCameras() const;
    std::vector<RefereeEventType> GetEventTypes() const;
    std::vector<RefereeEvent> GetEvents() const;
    // Earliest camera begin time (FILETIME), 0 until cameras arrived.
    std::uint64_t GetArchiveStart() const;
    // Empties the tables and the flags; the next scan reads the events again.
    void Clear();
    // Puts an event of the type that typeName starts with into the table and queues it for
    // JudgeDesk. time snaps to an event less than 2 ms away. False for an unknown type or when the
    // link thread is not running.
    bool CreateEvent(const QString &typeName, const QString &comment, std::uint64_t &time);

    // Period of the window timer (tests; before Init).
    void setTimerPeriod(UINT periodMs) { m_timerPeriod = periodMs; }
    // The hidden window while the link thread runs, otherwise null.
    HWND window() const { return m_window.load(); }
    QString ownQueueName() const;

    // Read by the archive service; Changed flags are taken with exchange(0).
    std::atomic<BYTE> camsReceived{0};
    std::atomic<BYTE> camsChanged{0};
    std::atomic<BYTE> typesReceived{0};
    std::atomic<BYTE> typesChanged{0};
    std::atomic<BYTE> eventsReceived{0};
    std::atomic<BYTE> eventsChanged{0};
    std::atomic<BYTE> stopFlag{0};

private:
    static LRESULT WndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void ThreadEntry();
    void Run();
    void Loop(IUnknown *queue);

    bool SendMesage(IUnknown *queue, const QString &text);
    void ReadAnswers(IUnknown *queue);
    void ParseAnswer(IUnknown *queue, const QString &text);
    void ParseCameras(const XmlNode &cameras);
    void SetCamInfo(std::vector<RefereeCamera> cameras, const std::vector<bool> &valid);
    void ParseEventTypes(const XmlNode &types);
    void SetEventTypes(std::vector<RefereeEventType> types);

    void AskInfo(IUnknown *queue);
    void ParseEventsHeader(IUnknown *queue, const XmlNode &events);
    void ParseEvents(IUnknown *queue, const XmlNode &judgeDesk);
    void ScanEvents(IUnknown *queue);
    void UpdateEventList();
    void FlushEvents(IUnknown *queue);
    void SendCreateEvent(IUnknown *queue, const RefereeEvent &event);

    // Under tableMutex.
    const RefereeEventType *FindEventType(const QString &typeName) const;
    void FindNearestEvent(std::uint64_t &time) const;
    static void InsertEventSorted(std::vector<RefereeEvent> &events, const RefereeEvent &event);

    std::atomic<BYTE> answerPending{0};
    std::atomic<BYTE> timerTick{0};
    std::atomic<BYTE> eventsQueued{1};
    BSTR host = nullptr;
    BSTR ownQueue = nullptr;
    std::int32_t readEventCount = 5;
    std::int32_t readEventSize = 10;
    bool trace = false;
    std::thread thread;
    std::atomic<HWND> m_window{nullptr};
    UINT m_timerPeriod = 1000;
    std::int32_t countdown = 0;
    std::int32_t messageCounter = 0;
    std::atomic<DWORD> lastAnswerTick;

    // Scan fields (link thread).
    std::vector<RefereeEventSlot> scanBuffer;
    std::int32_t nextIndex = 0;
    std::int32_t total = 0;
    std::int32_t stateChange = -1;
    std::atomic<std::int32_t> lastStateChange{-1};
    // A request is answered once every index it asked for came back: a referee may split a range
    // over several answers.
    struct PendingRequest
    {
        std::int32_t first;
        std::int32_t remaining;
        std::vector<bool> received; // per index of the request
    };
    std::list<PendingRequest> pending;
    std::int32_t scanState = 0;
    DWORD lastAskTick = 0;
    XmlDocument document;

    std::mutex queueMutex;
    std::list<RefereeEvent> outgoing;

    mutable std::mutex tableMutex;
    std::vector<RefereeCamera> cameras;
    std::vector<RefereeEventType> eventTypes;
    std::vector<RefereeEvent> events;
    std::uint64_t archiveStart = 0;
};
