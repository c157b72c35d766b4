#include "refereelink.h"

#include "refereelogging.h"
#include "refereetext.h"

#include "referee/messagequeue.h"
#include "win32/debugoutput.h"
#include "win32/rpcuuid.h"
#include "win32/tickcount.h"

#include <algorithm>
#include <exception>
#include <limits>
#include <new>

namespace {
const char16_t kWindowClass[] = u"TUNDRA_WND_CLASS";
const char16_t kWindowName[] = u"TUNDRA_WINDOW";
const char16_t kRefereeQueue[] = u"JudgeDesk";
constexpr UINT_PTR kTimerId = 1;
constexpr DWORD kServerContext = 23;
constexpr std::uint64_t kSnapDistance = 20000; // 2 ms in FILETIME units

void debugOut(const QString &text)
{
    OutputDebugStringA(text.toUtf8().constData());
}

QString hex8(std::uint32_t value)
{
    return QStringLiteral("%1").arg(value, 8, 16, QLatin1Char('0')).toUpper();
}

// The debugger texts print hexadecimal values in upper case.
QString hexUpper(std::uint32_t value)
{
    return QString::number(value, 16).toUpper();
}

std::uint32_t low32(const void *p)
{
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(p));
}

QString nameDump(const char *title, const QStringList &oldNames, const QStringList &newNames)
{
    QString dump = QStringLiteral("\nCRefereeLink::%1(changed):\n   --- OLD ---\n").arg(QLatin1String(title));
    for (int i = 0; i < oldNames.size(); ++i)
        dump += QStringLiteral("   old[%1]='%2'\n").arg(i).arg(oldNames[i]);
    dump += QLatin1String("   --- NEW ---\n");
    for (int i = 0; i < newNames.size(); ++i)
        dump += QStringLiteral("   new[%1]='%2'\n").arg(i).arg(newNames[i]);
    dump += QLatin1String("   --- END ---\n");
    return dump;
}

QString eventLine(const char *side, int i, const RefereeEvent &e)
{
    return QStringLiteral("   %1[%2]: type=%3, comment='%4', time=0x%5%6\n")
        .arg(QLatin1String(side))
        .arg(i)
        .arg(e.typeIndex)
        .arg(e.comment)
        .arg(hexUpper(static_cast<std::uint32_t>(e.time >> 32)))
        .arg(hex8(static_cast<std::uint32_t>(e.time)));
}
} // namespace

CRefereeLink::CRefereeLink() : host(SysAllocString(u"localhost")), lastAnswerTick(GetTickCount() - 10000) {}

CRefereeLink::~CRefereeLink()
{
    OutputDebugStringA("CRefereeLink::~CRefereeLink\n");
    stopFlag = 1;
    // A window made after this read sees stopFlag before it waits for messages.
    if (HWND w = m_window.load())
        PostMessageW(w, WM_QUIT, 0, 0);
    if (thread.joinable())
        thread.join();
    {
        std::lock_guard<std::mutex> lock(queueMutex);
        outgoing.clear();
    }
    {
        std::lock_guard<std::mutex> lock(tableMutex);
        cameras.clear();
        eventTypes.clear();
        events.clear();
    }
    scanBuffer.clear();
    SysFreeString(host);
    SysFreeString(ownQueue);
}

void CRefereeLink::Init(const QString &hostName, std::int32_t eventCount, std::int32_t eventSize,
                        bool traceOn)
{
    if (thread.joinable())
        return;
    SysFreeString(host);
    host = nyx::com::toBstr(hostName);
    readEventCount = eventCount;
    readEventSize = eventSize;
    trace = traceOn;

    UUID uuid;
    RPC_WSTR uuidText = nullptr;
    QString name = QStringLiteral("TUNDRA2_");
    if (UuidCreate(&uuid) == RPC_S_OK && UuidToStringW(&uuid, &uuidText) == RPC_S_OK) {
        name += QString::fromUtf16(uuidText);
        RpcStringFreeW(&uuidText);
    }
    SysFreeString(ownQueue);
    ownQueue = nyx::com::toBstr(name);
    thread = std::thread(&CRefereeLink::ThreadEntry, this);
}

QString CRefereeLink::ownQueueName() const
{
    return nyx::com::fromBstr(ownQueue);
}

bool CRefereeLink::IsAlive() const
{
    return stopFlag.load() == 0 && static_cast<DWORD>(GetTickCount() - lastAnswerTick.load()) < kAliveMs;
}

LRESULT CRefereeLink::WndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_REFEREE_ANSWER || message == WM_REFEREE_SEND || message == WM_TIMER) {
        auto *link = reinterpret_cast<CRefereeLink *>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (link) {
            if (message == WM_REFEREE_ANSWER)
                link->answerPending = 1;
            else if (message == WM_REFEREE_SEND)
                link->eventsQueued = 1;
            else
                link->timerTick = 1;
        }
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

void CRefereeLink::ThreadEntry()
{
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    try {
        Run();
    } catch (const std::exception &e) {
        qCCritical(lcRewind) << "CRefereeLink: link thread ended by an exception:" << e.what();
    } catch (...) {
        qCCritical(lcRewind) << "CRefereeLink: link thread ended by an exception";
    }
    CoUninitialize();
    stopFlag = 1;
}

void CRefereeLink::Run()
{
    WNDCLASSW windowClass{};
    windowClass.style = 0;
    windowClass.lpfnWndProc = &CRefereeLink::WndProc;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(NULL_BRUSH));
    windowClass.lpszClassName = kWindowClass;
    const ATOM atom = RegisterClassW(&windowClass);
    const DWORD registerError = GetLastError();
    debugOut(QStringLiteral("CRefereeLink::RegisterClass return %1, error=%2").arg(atom).arg(registerError));
    // A second link in the process (a reloaded engine) uses the class the first one registered.
    if (atom == 0 && registerError != ERROR_CLASS_ALREADY_EXISTS)
        return;

    HWND window = CreateWindowExW(0, kWindowClass, kWindowName, WS_POPUP, -100, -100, 10, 10, nullptr,
                                  nullptr, nullptr, nullptr);
    debugOut(QStringLiteral("CRefereeLink::CreateWindow return %1, error=%2")
                 .arg(static_cast<std::int32_t>(low32(window)))
                 .arg(GetLastError()));
    if (!window)
        return;
    ShowWindow(window, SW_HIDE);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    SetTimer(window, kTimerId, m_timerPeriod, nullptr);
    m_window.store(window);

    CComPtr<IUnknown> queue;
    {
        CComPtr<IMessageQueueServer> server;
        const HRESULT hr = CoCreateInstance(CLSID_MessageQueueServer, nullptr, kServerContext,
                                            IID_IMessageQueueServer, reinterpret_cast<void **>(&server));
        debugOut(QStringLiteral("CRefereeLink::CoCreateInstance return 0x%1")
                     .arg(hexUpper(static_cast<std::uint32_t>(hr))));
        if (SUCCEEDED(hr) && server) {
            ULONG error = 0;
            LONG result = 0;
            server->CreateQueue(&error, &result, ownQueue, static_cast<LONG>(low32(window)),
                                WM_REFEREE_ANSWER, 0, 0, &queue);
            debugOut(QStringLiteral("CRefereeLink::CreateQueue return 0x%1, error=%2, ptr=0x%3")
                         .arg(hexUpper(static_cast<std::uint32_t>(result)))
                         .arg(static_cast<std::int32_t>(error))
                         .arg(hexUpper(low32(queue.p))));
            CComPtr<IMessageQueue> messageQueue;
            if (queue && SUCCEEDED(queue.QueryInterface(&messageQueue)) && messageQueue) {
                AskInfo(queue);
                OutputDebugStringA("\nCRefereeLink::START MESSAGE LOOP >>>\n");
                Loop(queue);
                OutputDebugStringA("\n>>> CRefereeLink::FINISH MESSAGE LOOP\n\n");
            }
        }
    }
    m_window.store(nullptr);
    KillTimer(window, kTimerId);
    DestroyWindow(window);
    queue.Release();
}

void CRefereeLink::Loop(IUnknown *queue)
{
    MSG message;
    for (;;) {
        if (stopFlag)
            return;
        const BOOL got = GetMessageW(&message, nullptr, 0, 0);
        if (got == 0 || got == -1 || stopFlag)
            return;
        TranslateMessage(&message);
        DispatchMessageW(&message);
        // One bad answer or request must not end the link.
        try {
            if (answerPending.exchange(0))
                ReadAnswers(queue);
            if (timerTick.exchange(0)) {
                SendMesage(queue, QStringLiteral("TimeInfo"));
                if (--countdown < 0)
                    AskInfo(queue);
            }
            if (scanState == 3 && !pending.empty() &&
                static_cast<DWORD>(GetTickCount() - lastAskTick) > kScanTimeoutMs)
                ScanEvents(queue);
            if (eventsQueued && scanState == 0)
                FlushEvents(queue);
        } catch (const std::exception &e) {
            qCWarning(lcRewind) << "CRefereeLink: message handling failed:" << e.what();
        } catch (...) {
            qCWarning(lcRewind) << "CRefereeLink: message handling failed";
        }
    }
}

bool CRefereeLink::SendMesage(IUnknown *queue, const QString &text)
{
    CComPtr<IMessageQueue> messageQueue;
    if (!queue || FAILED(queue->QueryInterface(&messageQueue.p)) || !messageQueue)
        return false;
    const std::int32_t number = ++messageCounter;
    CComBSTR textBstr(text);
    CComBSTR target(kRefereeQueue);
    if (!textBstr.m_str || !target.m_str)
        throw std::bad_alloc();
    LONG status = 1;
    LONG error = 0;
    const HRESULT hr = messageQueue->Send(&status, &error, number, 0, 0, host, target, textBstr, ownQueue);
    if (hr != S_OK || error != 0 || status != 1) {
        debugOut(
            QStringLiteral("CRefereeLink::SendMesage('%1') to JudgeDesk with ERROR : res=0x%2, result=0x%3, "
                           "errCode=%4.\n")
                .arg(text)
                .arg(hexUpper(static_cast<std::uint32_t>(hr)))
                .arg(hexUpper(static_cast<std::uint32_t>(error)))
                .arg(status));
        return false;
    }
    if (trace)
        debugOut(QStringLiteral("CRefereeLink::SendMesage('%1') to JudgeDesk successfully.\n").arg(text));
    return true;
}

void CRefereeLink::ReadAnswers(IUnknown *queue)
{
    CComPtr<IMessageQueue> messageQueue;
    if (!queue || FAILED(queue->QueryInterface(&messageQueue.p)) || !messageQueue)
        return;
    LONG count = 0;
    LONG unused = 0;
    while (messageQueue->GetPendingCount(&count, &unused) == S_OK && count > 0) {
        LONG number = 0, reserved1 = 0, kind = 0, reserved2 = 0, reserved3 = 0, reserved4 = 0, reserved5 = 0;
        BSTR sender = nullptr, sourceQueue = nullptr, text = nullptr, ownQueueText = nullptr;
        const HRESULT hr =
            messageQueue->ReadMessage(&number, &reserved1, &kind, &reserved2, &reserved3, &reserved4,
                                      &reserved5, &sender, &sourceQueue, &text, &ownQueueText);
        QString answer;
        const bool isText = hr == S_OK && kind == kMessageKindText;
        if (isText)
            answer = nyx::com::fromBstr(text);
        SysFreeString(sender);
        SysFreeString(sourceQueue);
        SysFreeString(text);
        SysFreeString(ownQueueText);
        if (hr != S_OK)
            return;
        if (!isText || !answer.startsWith(QLatin1String("<JudgeDesk")))
            continue;
        lastAnswerTick = GetTickCount();
        if (trace)
            debugOut(QStringLiteral("CRefereeLink::JudgeDesk_Answer=%1\n").arg(answer));
        try {
            ParseAnswer(queue, answer);
        } catch (const std::exception &e) {
            qCWarning(lcRewind) << "CRefereeLink: answer dropped:" << e.what();
        }
    }
}

void CRefereeLink::ParseAnswer(IUnknown *queue, const QString &text)
{
    if (!document.parse(text)) {
        const QString message =
            QStringLiteral("CRefereeLink::ParseAnswer - malformed answer dropped (0x%1): '%2'\n")
                .arg(hexUpper(static_cast<std::uint32_t>(document.lastResult())))
                .arg(text.left(200));
        debugOut(message);
        qCWarning(lcRewind).noquote() << message.trimmed();
        return;
    }
    const XmlNode *judgeDesk = document.findChild(QStringLiteral("JudgeDesk"));
    if (!judgeDesk)
        return;
    if (judgeDesk->findChild(QStringLiteral("TimeInfo")))
        return;
    if (const XmlNode *node = judgeDesk->findChild(QStringLiteral("Cameras")))
        ParseCameras(*node);
    else if (const XmlNode *node = judgeDesk->findChild(QStringLiteral("EventTypes")))
        ParseEventTypes(*node);
    else if (const XmlNode *node = judgeDesk->findChild(QStringLiteral("Events")))
        ParseEventsHeader(queue, *node);
    else if (judgeDesk->findChild(QStringLiteral("Event")))
        ParseEvents(queue, *judgeDesk);
    else
        debugOut(QStringLiteral("\nCRefereeLink::JudgeDesk_Answer='%1' is UNKNOWN !!!\n\n").arg(text));
}

void CRefereeLink::ParseCameras(const XmlNode &node)
{
    std::int32_t playAudioCam = 1;
    node.decimalAttribute(QStringLiteral("PlayAudioCam"), playAudioCam);
    const DWORD tick = GetTickCount();
    const auto &children = node.children();
    const std::int32_t count = static_cast<std::int32_t>(children.size());
    std::vector<RefereeCamera> table(children.size());
    std::vector<bool> valid(children.size(), false);
    for (std::int32_t i = 0; i < count; ++i) {
        const XmlNode &cam = *children[static_cast<std::size_t>(i)];
        if (cam.name() != QLatin1String("Cam"))
            continue;
        std::int32_t num = 0;
        if (!cam.decimalAttribute(QStringLiteral("Num"), num))
            continue;
        if (num != i + 1) {
            debugOut(QStringLiteral("CRefereeLink::ParseCameras ERROR - camera[%1].num = %2 (must be %3)\n")
                         .arg(i)
                         .arg(num)
                         .arg(i + 1));
            if (num < 1 || num > count)
                continue;
        }
        const XmlAttribute *id = cam.findAttribute(QStringLiteral("Id"));
        GUID streamId;
        if (!id || FAILED(CLSIDFromString(reinterpret_cast<LPCOLESTR>(id->text.utf16()), &streamId)))
            continue;
        RefereeCamera &camera = table[static_cast<std::size_t>(num - 1)];
        camera.name = cam.attributeText(QStringLiteral("Name"));
        camera.streamId = streamId;
        camera.begin =
            (static_cast<std::uint64_t>(parseHexText(cam.attributeText(QStringLiteral("TBeginHi")))) << 32) |
            parseHexText(cam.attributeText(QStringLiteral("TBeginLo")));
        camera.end =
            (static_cast<std::uint64_t>(parseHexText(cam.attributeText(QStringLiteral("TEndHi")))) << 32) |
            parseHexText(cam.attributeText(QStringLiteral("TEndLo")));
        camera.writing = 0;
        camera.receiveTick = tick;
        camera.playAudio = num == playAudioCam;
        valid[static_cast<std::size_t>(num - 1)] = true;
    }
    SetCamInfo(std::move(table), valid);
}

void CRefereeLink::SetCamInfo(std::vector<RefereeCamera> table, const std::vector<bool> &valid)
{
    std::lock_guard<std::mutex> lock(tableMutex);
    bool changed = table.size() != cameras.size();
    if (!changed) {
        for (std::size_t i = 0; i < table.size(); ++i) {
            if (table[i].streamId == cameras[i].streamId) {
                if (table[i].end > cameras[i].end)
                    table[i].writing = 1;
            } else {
                changed = true;
            }
        }
    }
    if (changed) {
        QStringList oldNames, newNames;
        for (const RefereeCamera &c : cameras)
            oldNames << c.name;
        for (const RefereeCamera &c : table)
            newNames << c.name;
        debugOut(nameDump("SetCamInfo", oldNames, newNames));
        camsChanged = 1;
    }
    // Entries left empty (no number, bad id) and cameras without a begin time carry no start.
    bool found = false;
    std::uint64_t earliest = 0;
    for (std::size_t i = 0; i < table.size(); ++i) {
        if (!valid[i] || table[i].begin == 0)
            continue;
        if (!found || table[i].begin < earliest)
            earliest = table[i].begin;
        found = true;
    }
    cameras = std::move(table);
    if (found)
        archiveStart = earliest;
    camsReceived = 1;
}

void CRefereeLink::ParseEventTypes(const XmlNode &node)
{
    std::vector<RefereeEventType> table;
    const auto &children = node.children();
    for (std::size_t i = 0; i < children.size(); ++i) {
        const XmlNode &child = *children[i];
        if (child.name() != QLatin1String("Type"))
            continue;
        const QString name = child.attributeText(QStringLiteral("Name")).trimmed();
        if (name.isEmpty())
            continue;
        RefereeEventType type;
        type.index = static_cast<std::int32_t>(i + 1);
        type.name = name;
        type.nameLength = name.size();
        std::uint32_t text = 0xFFFFFF;
        std::uint32_t background = 0;
        child.hexAttribute(QStringLiteral("Txt"), text);
        child.hexAttribute(QStringLiteral("Bg"), background);
        type.textColor = static_cast<std::int32_t>(text);
        type.backgroundColor = static_cast<std::int32_t>(background);
        table.push_back(type);
    }
    SetEventTypes(std::move(table));
}

void CRefereeLink::SetEventTypes(std::vector<RefereeEventType> table)
{
    std::lock_guard<std::mutex> lock(tableMutex);
    bool changed = table.size() != eventTypes.size();
    for (std::size_t i = 0; !changed && i < table.size(); ++i) {
        const RefereeEventType &a = eventTypes[i];
        const RefereeEventType &b = table[i];
        changed = a.index != b.index || a.name != b.name || a.backgroundColor != b.backgroundColor ||
                  a.textColor != b.textColor;
    }
    if (changed) {
        QStringList oldNames, newNames;
        for (const RefereeEventType &t : eventTypes)
            oldNames << t.name;
        for (const RefereeEventType &t : table)
            newNames << t.name;
        debugOut(nameDump("SetEventTypes", oldNames, newNames));
        eventTypes = std::move(table);
        typesChanged = 1;
    }
    typesReceived = 1;
}

std::vector<RefereeCamera> CRefereeLink::GetCameras() const
{
    std::lock_guard<std::mutex> lock(tableMutex);
    return cameras;
}

std::vector<RefereeEventType> CRefereeLink::GetEventTypes() const
{
    std::lock_guard<std::mutex> lock(tableMutex);
    return eventTypes;
}

std::vector<RefereeEvent> CRefereeLink::GetEvents() const
{
    std::lock_guard<std::mutex> lock(tableMutex);
    return events;
}

std::uint64_t CRefereeLink::GetArchiveStart() const
{
    std::lock_guard<std::mutex> lock(tableMutex);
    return archiveStart;
}

void CRefereeLink::Clear()
{
    {
        std::lock_guard<std::mutex> lock(tableMutex);
        cameras.clear();
        eventTypes.clear();
        events.clear();
        camsReceived = 0;
        camsChanged = 0;
        typesReceived = 0;
        typesChanged = 0;
        eventsReceived = 0;
        eventsChanged = 0;
    }
    // The emptied event table must be read again even if JudgeDesk's events did not change.
    lastStateChange = -1;
}

// ---- event scan -----------------------------------------------------------------------------

void CRefereeLink::AskInfo(IUnknown *queue)
{
    SendMesage(queue, QStringLiteral("EventTypes"));
    SendMesage(queue, QStringLiteral("CameraInfo"));
    SendMesage(queue, QStringLiteral("EventCount"));
    scanState = 1;
    OutputDebugStringA("\nCRefereeLink::ScanEvents - START -----\n");
    countdown = 10;
}

void CRefereeLink::ParseEventsHeader(IUnknown *queue, const XmlNode &node)
{
    scanBuffer.clear();
    pending.clear();
    nextIndex = 0;
    total = 0;
    stateChange = -1;
    node.decimalAttribute(QStringLiteral("StateChange"), stateChange);
    if (stateChange >= 0 && stateChange == lastStateChange) {
        OutputDebugStringA("----- CRefereeLink::ScanEvents - FINISH - nothing changed.\n");
        scanState = 0;
        FlushEvents(queue);
        return;
    }
    scanState = 2;
    std::int32_t count = -1;
    // Only digits are read, so a negative count is one that overflowed.
    if (node.decimalAttribute(QStringLiteral("Count"), count) && count < 0)
        count = std::numeric_limits<std::int32_t>::max();
    if (count > 0) {
        if (count > kMaxEventCount) {
            qCWarning(lcRewind) << "CRefereeLink::ScanEvents - event count" << count << "capped to"
                                << kMaxEventCount;
            count = kMaxEventCount;
        }
        total = count;
        scanBuffer.assign(static_cast<std::size_t>(count), RefereeEventSlot{});
        const std::int32_t size = std::max(readEventSize, 1);
        const std::int32_t chunks = (count + size - 1) / size;
        const std::int32_t inFlight = std::min(readEventCount, chunks);
        for (std::int32_t i = 0; i < inFlight - 1; ++i)
            ScanEvents(queue);
    }
    ScanEvents(queue);
}

void CRefereeLink::ParseEvents(IUnknown *queue, const XmlNode &judgeDesk)
{
    // A late answer (or the rest of a split range) after the scan finished belongs to no scan.
    if (scanState != 2 && scanState != 3) {
        OutputDebugStringA("      CRefereeLink::ScanEvents - event answer outside a scan ignored\n");
        return;
    }
    const auto &children = judgeDesk.children();
    const int childCount = static_cast<int>(children.size());
    bool completed = false;
    for (int i = 0; i < childCount; ++i) {
        const XmlNode &child = *children[static_cast<std::size_t>(i)];
        if (child.name() != QLatin1String("Event"))
            continue;
        RefereeEventSlot slot;
        slot.typeName = child.attributeText(QStringLiteral("Name"));
        slot.comment = child.attributeText(QStringLiteral("Comment"));
        std::int32_t index = 0;
        if (!child.decimalAttribute(QStringLiteral("Index"), index))
            continue;
        for (auto it = pending.begin(); it != pending.end(); ++it) {
            const std::int64_t offset = std::int64_t(index) - it->first;
            if (offset < 0 || offset >= std::int64_t(it->received.size()))
                continue;
            if (!it->received[std::size_t(offset)]) {
                it->received[std::size_t(offset)] = true;
                if (--it->remaining == 0) {
                    pending.erase(it);
                    completed = true;
                }
            }
            break;
        }
        debugOut(QStringLiteral("      >>> CRefereeLink::ScanEvents[%1/%2] - parse event with index=%3\n")
                     .arg(i)
                     .arg(childCount)
                     .arg(index));
        if (const XmlNode *time = child.findChild(QStringLiteral("Time"))) {
            slot.time =
                (static_cast<std::uint64_t>(parseHexText(time->attributeText(QStringLiteral("THi")))) << 32) |
                parseHexText(time->attributeText(QStringLiteral("TLo")));
        }
        if (const XmlNode *fromStart = child.findChild(QStringLiteral("FromStart"))) {
            bool ok = false;
            const std::int64_t boardTime = parseBoardTime(fromStart->text(), &ok);
            if (ok)
                slot.boardTime = boardTime;
            else
                debugOut(
                    QStringLiteral("\nWrang board time format from ZEMBLA2: '%1'\n").arg(fromStart->text()));
        }
        if (scanBuffer.empty())
            continue;
        if (index < 0)
            index = 0;
        if (static_cast<std::size_t>(index) >= scanBuffer.size())
            index = static_cast<std::int32_t>(scanBuffer.size() - 1);
        scanBuffer[static_cast<std::size_t>(index)] = slot;
    }
    // The next request goes out when one is fully answered, so no more than readEventCount are in flight.
    if (completed)
        ScanEvents(queue);
}

void CRefereeLink::ScanEvents(IUnknown *queue)
{
    bool timedOut = false;
    if (scanState == 2) {
        if (nextIndex < total) {
            const std::int32_t c = std::min(readEventSize, total - nextIndex);
            if (c < 2) {
                debugOut(
                    QStringLiteral("      CRefereeLink::ScanEvents - AskEventIndex=%1\n").arg(nextIndex));
                pending.push_back(PendingRequest{nextIndex, 1, std::vector<bool>(1, false)});
                SendMesage(queue, QStringLiteral("EventInfo%1").arg(nextIndex));
                nextIndex += 1;
            } else {
                debugOut(QStringLiteral("      CRefereeLink::ScanEvents - AskEventRange:%1..%2\n")
                             .arg(nextIndex)
                             .arg(nextIndex + c - 1));
                pending.push_back(PendingRequest{nextIndex, c, std::vector<bool>(std::size_t(c), false)});
                SendMesage(queue, QStringLiteral("EventRange(%1)(%2)").arg(nextIndex).arg(c));
                nextIndex += c;
            }
            countdown = 10;
            lastAskTick = GetTickCount();
            return;
        }
        scanState = 3;
        nextIndex = readEventCount;
    }
    if (scanState == 3 && !pending.empty()) {
        if (static_cast<DWORD>(GetTickCount() - lastAskTick) < kScanTimeoutMs) {
            nextIndex -= 1;
            if (nextIndex >= 0)
                return;
            debugOut(QStringLiteral("      CRefereeLink::ScanEvents - ask all, but not ready %1 events\n")
                         .arg(pending.size()));
            return;
        }
        debugOut(
            QStringLiteral("\nCRefereeLink::ScanEvents ERROR - don't receive answer for %1/%2 events !!!\n\n")
                .arg(pending.size())
                .arg(total));
        qCWarning(lcRewind).noquote()
            << QStringLiteral("\nCRefereeLink::ScanEvents ERROR - don't receive answer for "
                              "%1/%2 events !!! Decrease parameter 'ReadEvent' into "
                              "'rewind.ini'\n")
                   .arg(pending.size())
                   .arg(total);
        timedOut = true;
    }
    OutputDebugStringA("----- CRefereeLink::ScanEvents - FINISH successfully\n");
    // A scan that lost answers is not complete: the same StateChange is scanned again.
    if (!timedOut)
        lastStateChange = stateChange;
    pending.clear();
    UpdateEventList();
    scanState = 0;
    FlushEvents(queue);
}

const RefereeEventType *CRefereeLink::FindEventType(const QString &typeName) const
{
    for (const RefereeEventType &type : eventTypes) {
        if (typeName.size() >= type.nameLength &&
            typeName.leftRef(type.nameLength).compare(type.name, Qt::CaseInsensitive) == 0)
            return &type;
    }
    return nullptr;
}

void CRefereeLink::InsertEventSorted(std::vector<RefereeEvent> &list, const RefereeEvent &event)
{
    for (auto it = list.begin(); it != list.end(); ++it) {
        if (it->time < event.time)
            continue;
        if (it->time == event.time)
            *it = event;
        else
            list.insert(it, event);
        return;
    }
    list.push_back(event);
}

void CRefereeLink::UpdateEventList()
{
    {
        std::lock_guard<std::mutex> lock(queueMutex);
        for (const RefereeEvent &e : outgoing) {
            const RefereeEventSlot slot{e.typeName, e.comment, e.time, e.boardTime};
            auto it = std::find_if(scanBuffer.begin(), scanBuffer.end(),
                                   [&](const RefereeEventSlot &s) { return !(s.time < e.time); });
            if (it != scanBuffer.end() && it->time == e.time)
                *it = slot;
            else
                scanBuffer.insert(it, slot);
        }
    }
    std::lock_guard<std::mutex> lock(tableMutex);
    std::vector<RefereeEvent> list;
    for (const RefereeEventSlot &slot : scanBuffer) {
        const RefereeEventType *type = FindEventType(slot.typeName);
        if (!type || slot.time == 0)
            continue;
        InsertEventSorted(list,
                          RefereeEvent{type->index, type->name, slot.comment, slot.time, slot.boardTime});
    }
    scanBuffer.clear();
    bool changed = list.size() != events.size();
    for (std::size_t i = 0; !changed && i < list.size(); ++i)
        changed = list[i].time != events[i].time || list[i].typeIndex != events[i].typeIndex ||
                  list[i].comment != events[i].comment;
    if (changed) {
        QString dump = QStringLiteral("\nCRefereeLink::UpdateEventList(changed):\n   --- OLD ---\n");
        for (std::size_t i = 0; i < events.size(); ++i)
            dump += eventLine("old", static_cast<int>(i), events[i]);
        dump += QLatin1String("   --- NEW ---\n");
        for (std::size_t i = 0; i < list.size(); ++i)
            dump += eventLine("new", static_cast<int>(i), list[i]);
        dump += QLatin1String("   --- END ---\n");
        debugOut(dump);
        events = std::move(list);
        eventsChanged = 1;
    }
    eventsReceived = 1;
}

// ---- event creation -------------------------------------------------------------------------

void CRefereeLink::FindNearestEvent(std::uint64_t &time) const
{
    const RefereeEvent *best = nullptr;
    std::uint64_t bestDistance = 0;
    for (const RefereeEvent &e : events) {
        const std::uint64_t distance = e.time > time ? e.time - time : time - e.time;
        if (distance > kSnapDistance)
            continue;
        if (!best || distance <= bestDistance) {
            best = &e;
            bestDistance = distance;
        }
    }
    if (best)
        time = best->time;
}

bool CRefereeLink::CreateEvent(const QString &typeName, const QString &comment, std::uint64_t &time)
{
    if (!thread.joinable() || stopFlag)
        return false;
    RefereeEvent event;
    {
        std::lock_guard<std::mutex> lock(tableMutex);
        const RefereeEventType *type = FindEventType(typeName);
        if (!type)
            return false;
        FindNearestEvent(time);
        event = RefereeEvent{type->index, type->name, cleanEventComment(comment), time, -1};
    }
    // Queued before it enters the table, so a scan that finishes in between still carries it.
    {
        std::lock_guard<std::mutex> lock(queueMutex);
        outgoing.push_back(event);
    }
    {
        std::lock_guard<std::mutex> lock(tableMutex);
        InsertEventSorted(events, event);
    }
    HWND w = m_window.load();
    if (!w)
        return !stopFlag; // still starting: the first idle turn of the loop sends it
    return PostMessageW(w, WM_REFEREE_SEND, 0, 0) != FALSE;
}

void CRefereeLink::FlushEvents(IUnknown *queue)
{
    std::lock_guard<std::mutex> lock(queueMutex);
    eventsQueued = 0;
    while (!outgoing.empty()) {
        const RefereeEvent event = outgoing.front();
        outgoing.pop_front();
        SendCreateEvent(queue, event);
    }
}

void CRefereeLink::SendCreateEvent(IUnknown *queue, const RefereeEvent &event)
{
    const QString text = QStringLiteral("CreateEvent") + QString::number(event.typeIndex) + QLatin1Char('_') +
                         event.typeName + QStringLiteral("(Hi") +
                         hex8(static_cast<std::uint32_t>(event.time >> 32)) + QStringLiteral(")(Lo") +
                         hex8(static_cast<std::uint32_t>(event.time)) + QLatin1Char(')') + event.comment;
    debugOut(QStringLiteral("\nCreateEvent::") + text + QStringLiteral("\n\n"));
    SendMesage(queue, text);
}
