#include "rewindservice.h"

#include "archivemetatypes.h"
#include "archivetime.h"
#include "drive.h"
#include "drivesupdater.h"
#include "multimedia/comexception.h"
#include "playbacktuning.h"
#include "rewindconfiguration.h"
#include "rewindservicelogging.h"
#include "rewindstats.h"
#include "rewindstatsupdater.h"
#include "storage.h"
#include "storagesupdater.h"
#include "storageupdater.h"
#include "stream.h"

#include "com/com.h"
#include "win32/debugoutput.h"
#include "win32/filetime.h"
#include "win32/tickcount.h"

#include <QColor>
#include <QCoreApplication>
#include <QFile>
#include <QMetaEnum>
#include <QSet>
#include <QThread>
#include <QTimer>
#include <cmath>

namespace {
constexpr DWORD kServerContext = 23;
constexpr int kMaxStorageNameUnits = 255;

void debugOutput(const QString &text)
{
    OutputDebugStringW(reinterpret_cast<LPCWSTR>(text.utf16()));
}

const char *statusKey(RewindService::Status status)
{
    return QMetaEnum::fromType<RewindService::Status>().valueToKey(status);
}

// Widens [earliest, latest] by a camera's times; a camera without a recorded time (FILETIME 0)
// leaves them alone.
void widen(QDateTime &earliest, QDateTime &latest, const QDateTime &begin, const QDateTime &end)
{
    if (begin.isValid() && (!earliest.isValid() || begin < earliest))
        earliest = begin;
    if (end.isValid() && (!latest.isValid() || end > latest))
        latest = end;
}

qint64 msecsBetween(const QDateTime &from, const QDateTime &to)
{
    return from.isValid() && to.isValid() ? from.msecsTo(to) : 0;
}
} // namespace

RewindService::RewindService() : RewindService(Timing()) {}

RewindService::RewindService(const Timing &timing) : m_timing(timing)
{
    registerRewindServiceMetaTypes();
    m_stats = new RewindStats(this);
    m_timer.reset(new QTimer);
    m_thread.reset(new QThread);
    m_audio.name = QStringLiteral("Audio");
    m_audio.stream = QStringLiteral("Audio1");
    m_audio.source = QUrl(QStringLiteral("kx:///KX322 Board 1 Stereo 1"));
    m_audio.decoderKind = -1;
    m_audio.decoderIndex = 0;
    m_host = QStringLiteral("localhost");
    if (m_timing.linkTimerMs > 0)
        m_link.setTimerPeriod(m_timing.linkTimerMs);

    loadConfiguration();

    m_thread->start();
    m_thread->setPriority(QThread::LowPriority);
    createUpdaters();
    connect(m_timer.data(), &QTimer::timeout, this, &RewindService::updateStatus);
    qCInfo(lcRewindService) << "create Rewind" << QCoreApplication::applicationFilePath();
    m_timer->moveToThread(m_thread.data());
    QMetaObject::invokeMethod(m_timer.data(), "start", Q_ARG(int, m_timing.tickMs));
}

RewindService::~RewindService()
{
    // Everything the worker runs is stopped and deleted on the worker itself, while this thread
    // waits: no tick runs into a half-destroyed service, and no updater is left behind as a
    // deferred delete that no event loop will run, holding the archive server.
    if (m_thread->isRunning()) {
        QMetaObject::invokeMethod(
            m_timer.data(), [this] { shutDownWorker(); }, Qt::BlockingQueuedConnection);
        m_thread->quit();
        m_thread->wait();
    }
    // Results still queued to this object hold storages and drives.
    QCoreApplication::removePostedEvents(this);
    m_storages.clear();
    m_drives.clear();
    m_startingServer.Release();
    m_server.Release();
    m_timer.reset();
    m_thread.reset();
}

void RewindService::shutDownWorker()
{
    m_timer->stop();
    // The GUI thread waits in the blocking call, so the model objects it owns can be reached
    // from here. Each storage, stream and drive gives up its updater, from both this thread's
    // lists and the GUI thread's.
    QList<QSharedPointer<Storage>> storages = m_storages;
    if (m_storagesUpdater)
        storages += m_storagesUpdater->storages();
    for (const auto &storage : qAsConst(storages)) {
        QList<QSharedPointer<Stream>> streams = storage->streamList();
        if (const QSharedPointer<StorageUpdater> updater = storage->updater())
            streams += updater->streams().streams;
        for (const auto &stream : qAsConst(streams))
            stream->releaseUpdater();
        storage->releaseUpdater();
    }
    QList<QSharedPointer<Drive>> drives = m_drives;
    if (m_drivesUpdater)
        drives += m_drivesUpdater->drives();
    for (const auto &drive : qAsConst(drives))
        drive->releaseUpdater();
    delete m_statsUpdater;
    delete m_storagesUpdater;
    delete m_drivesUpdater;
    m_statsUpdater = nullptr;
    m_storagesUpdater = nullptr;
    m_drivesUpdater = nullptr;
    // The updaters given up above were handed to deleteLater on this thread: delete them now.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void RewindService::loadConfiguration()
{
    for (int i = 1; i <= 4; ++i) {
        AvailableSource s;
        s.name = QStringLiteral("KX788 Board 1 Input %1").arg(i);
        s.stream = QStringLiteral("Cam%1").arg(i);
        s.source = QUrl(QStringLiteral("kx:///KX788 Board 1 Input %1").arg(i));
        m_videos.push_back(s);
    }
    RewindSettings settings;
    settings.host = m_host;
    const QString iniFile = RewindConfiguration::settingsFile();
    if (RewindConfiguration::readSettings(iniFile, settings)) {
        debugOutput(RewindConfiguration::settingsSummary(settings.tuning));
        PlaybackTuning::current() = settings.tuning;
    } else {
        RewindConfiguration::createSettings(iniFile);
        settings = RewindSettings();
        settings.host = m_host;
    }
    const QString sourcesFile = RewindConfiguration::sourcesFile();
    if (!RewindConfiguration::loadAvailableSources(sourcesFile, m_videos, m_audio)) {
        // An unusable list the user wrote is kept beside the default instead of being lost; one
        // that cannot be put aside stays where it is, and the built-in sources serve this run.
        bool writeDefault = true;
        if (QFile::exists(sourcesFile)) {
            const QString kept = sourcesFile + QStringLiteral(".bak");
            QFile::remove(kept);
            if (QFile::rename(sourcesFile, kept)) {
                qCWarning(lcRewindService) << "Unusable source list kept as" << kept;
            } else {
                qCWarning(lcRewindService) << "Unusable source list" << sourcesFile << "could not be kept as"
                                           << kept << "and is left in place; the built-in sources are used";
                writeDefault = false;
            }
        }
        if (writeDefault)
            RewindConfiguration::writeDefaultAvailableSources(sourcesFile);
    }

    // The link scans nothing with a count or size below one.
    if (settings.readEventCount < 1 || settings.readEventSize < 1) {
        qCWarning(lcRewindService) << "Ignoring event read sizes" << settings.readEventCount
                                   << settings.readEventSize << "in" << iniFile;
        if (settings.readEventCount < 1)
            settings.readEventCount = 5;
        if (settings.readEventSize < 1)
            settings.readEventSize = 10;
    }
    m_host = settings.host;
    m_link.Init(m_host, settings.readEventCount, settings.readEventSize, settings.trace);
}

void RewindService::createUpdaters()
{
    if (m_statsUpdater)
        m_statsUpdater->deleteLater();
    m_statsUpdater = new RewindStatsUpdater(m_server);
    if (m_stats)
        m_stats->update(m_statsUpdater->stats());
    connect(m_statsUpdater, &RewindStatsUpdater::statsUpdated, m_stats.data(), &RewindStats::update);
    connect(m_timer.data(), &QTimer::timeout, m_statsUpdater, &RewindStatsUpdater::updateMemoryStatus);
    m_statsUpdater->moveToThread(m_thread.data());

    if (m_storagesUpdater)
        m_storagesUpdater->deleteLater();
    m_storagesUpdater = new StoragesUpdater(m_server, m_timer, m_thread);
    m_storages = m_storagesUpdater->storages();
    connect(m_storagesUpdater, &StoragesUpdater::storagesChanged, this, &RewindService::updateStorages);
    connect(m_timer.data(), &QTimer::timeout, m_storagesUpdater, &StoragesUpdater::updateStorages);
    m_storagesUpdater->moveToThread(m_thread.data());

    if (m_drivesUpdater)
        m_drivesUpdater->deleteLater();
    m_drivesUpdater = new DrivesUpdater(m_server, m_timer, m_thread);
    updateDrives(m_drivesUpdater->drives());
    connect(m_drivesUpdater, &DrivesUpdater::drivesChanged, this, &RewindService::updateDrives);
    connect(m_timer.data(), &QTimer::timeout, m_drivesUpdater, &DrivesUpdater::updateDrives);
    m_drivesUpdater->moveToThread(m_thread.data());
}

void RewindService::resetUpdaters()
{
    IRewindServer *server = m_server;
    for (QObject *updater :
         {static_cast<QObject *>(m_statsUpdater), static_cast<QObject *>(m_storagesUpdater),
          static_cast<QObject *>(m_drivesUpdater)}) {
        QMetaObject::invokeMethod(updater, "ResetRewind", Qt::BlockingQueuedConnection,
                                  Q_ARG(IRewindServer *, server));
    }
}

void RewindService::createServer()
{
    if (m_server)
        return;
    if (!m_startingServer) {
        CoCreateInstance(CLSID_RewindServer, nullptr, kServerContext, IID_IRewindServer,
                         reinterpret_cast<void **>(&m_startingServer));
        if (!m_startingServer)
            return;
    }
    // A starting server answers E_PENDING (or E_NOINTERFACE): it is asked once more after a
    // short pause, then again at the next poll. The pause is a timer, never a sleep: polls queue
    // up behind a GUI thread that sleeps, and it would spend the whole start-up asleep. Any
    // other answer binds it.
    const auto starting = [](HRESULT hr) { return hr == E_PENDING || hr == E_NOINTERFACE; };
    const HRESULT hr = m_startingServer->IsReady();
    if (starting(hr)) {
        if (!m_readinessRetryQueued) {
            m_readinessRetryQueued = true;
            QTimer::singleShot(m_timing.readinessRetryMs, this, [this] {
                m_readinessRetryQueued = false;
                if (m_startingServer)
                    createServer();
            });
        }
        return;
    }
    if (FAILED(hr))
        qCWarning(lcRewindService) << "Archive server reports" << ComException(hr) << "when ready";
    m_server = m_startingServer;
    m_startingServer.Release();
    resetUpdaters();
}

void RewindService::close()
{
    m_startingServer.Release();
    m_server.Release();
    resetUpdaters();
    m_storages.clear();
    m_drives.clear();
    m_link.Clear();
    m_storagesRevision = 0;
}

void RewindService::setRefereeAnswering(bool answering)
{
    if (answering == m_refereeAnswering)
        return;
    m_refereeAnswering = answering;
    if (answering) {
        m_refereeAnswered = true;
    } else if (m_refereeAnswered) {
        // Silent since its last answer, not since the poll that noticed it.
        const DWORD silentMs = static_cast<DWORD>(GetTickCount() - m_link.LastAnswerTick());
        m_refereeSilentSince = QDateTime::currentDateTime().addMSecs(-qint64(silentMs));
        qCWarning(lcRewindService).noquote() << "The referee application has not answered since"
                                             << m_refereeSilentSince.toString(Qt::ISODateWithMs);
    }
    emit refereeAnsweringChanged();
}

void RewindService::updateStatus()
{
    const bool alive = m_link.IsAlive();
    setRefereeAnswering(alive);
    if (!alive) {
        if (m_server) {
            const QString text =
                QStringLiteral("\nRewindService --- JudgeDesk is NOT active -- Close Rewind Service\n\n");
            debugOutput(text);
            qCInfo(lcRewindService).noquote() << text;
            close();
        }
        // Also after a binding that never came about: the status follows the referee.
        m_startingServer.Release();
        setStatus(Closing);
        return;
    }
    if (!m_server) {
        const QString text =
            QStringLiteral("\nRewindService --- JudgeDesk is ACTIVE now -- Init Rewind Service\n\n");
        debugOutput(text);
        qCInfo(lcRewindService).noquote() << text;
        createServer();
        setStatus(Reading);
    }
    if (!m_link.camsReceived.load() || !m_link.typesReceived.load() || m_storagesRevision == 0)
        return;

    const QDateTime start = fromWin32FileTime(m_link.GetArchiveStart());
    if (start != m_startTime) {
        debugOutput(QStringLiteral("\n!!! Archive start time was CHANGED from %1 to %2 !!!\n\n")
                        .arg(m_startTime.toString(Qt::TextDate), start.toString(Qt::TextDate)));
        m_startTime = start;
        emit startTimeChanged();
    }
    if (m_link.camsChanged.exchange(0)) {
        debugOutput(QStringLiteral("\n!!! Archive was CHANGED !!!\n\n"));
        emit archiveChanged();
    }

    bool writing = false;
    QDateTime earliest, latest;
    qulonglong size = 0;
    // A storage that holds several cameras' streams is counted once.
    QSet<QUuid> counted;
    for (const RefereeCamera &camera : m_link.GetCameras()) {
        if (camera.writing) {
            writing = true;
            m_lastWritingTick = camera.receiveTick;
        }
        widen(earliest, latest, fromWin32FileTime(camera.begin), fromWin32FileTime(camera.end));
        if (Stream *stream = getStreamByGuid(nyx::com::toQUuid(camera.streamId))) {
            Storage *storage = getStorageByGuid(stream->storageGuid());
            if (storage && !counted.contains(storage->guid())) {
                counted.insert(storage->guid());
                size += storage->dataSizeOnDisk();
            }
        }
    }
    const qint64 duration = msecsBetween(earliest, latest);
    if (duration != m_duration) {
        debugOutput(QStringLiteral("\n!!! Archive duration was CHANGED from %1ms to %2ms !!!\n\n")
                        .arg(m_duration)
                        .arg(duration));
        m_duration = duration;
        emit durationChanged();
    }
    if (size != m_diskSize) {
        m_diskSize = size;
        emit diskSizeChanged();
    }
    if (writing && m_status != Writing) {
        setStatus(Writing);
        emit durationChanged();
    } else if (!writing && m_status != Reading) {
        setStatus(Reading);
        emit durationChanged();
    }
    if (m_link.typesChanged.exchange(0)) {
        debugOutput(QStringLiteral("\n!!! Event TYPES was CHANGED !!!\n\n"));
        emit eventTypesChanged();
    }
    if (m_link.eventsChanged.exchange(0)) {
        debugOutput(QStringLiteral("\n!!! Event LIST was CHANGED !!!\n\n"));
        emit eventListChanged();
    }
}

void RewindService::setStatus(Status status)
{
    if (status == m_status)
        return;
    qCInfo(lcRewindService) << "RewindService::setStatus to" << statusKey(status) << "from"
                            << statusKey(m_status);
    m_status = status;
    emit statusChanged();
}

qulonglong RewindService::duration() const
{
    if (m_status == Writing)
        return qulonglong(m_duration) + static_cast<DWORD>(GetTickCount() - m_lastWritingTick);
    return qulonglong(m_duration);
}

void RewindService::updateStorages(StorageList storages)
{
    if (storages.revision <= m_storagesRevision)
        return;
    m_storagesRevision = storages.revision;
    QList<QSharedPointer<Storage>> previous = std::move(m_storages);
    m_storages = storages.storages;
    emit storagesChanged();
}

void RewindService::updateDrives(QList<QSharedPointer<Drive>> drives)
{
    QList<QSharedPointer<Drive>> previous = std::move(m_drives);
    m_drives = drives;
    emit drivesChanged();
}

QQmlListProperty<Storage> RewindService::storages()
{
    return QQmlListProperty<Storage>(this, nullptr, &RewindService::storageCount, &RewindService::storageAt);
}

QQmlListProperty<Drive> RewindService::drives()
{
    return QQmlListProperty<Drive>(this, nullptr, &RewindService::driveCount, &RewindService::driveAt);
}

int RewindService::storageCount(QQmlListProperty<Storage> *list)
{
    return static_cast<RewindService *>(list->object)->m_storages.size();
}

Storage *RewindService::storageAt(QQmlListProperty<Storage> *list, int index)
{
    const auto &storages = static_cast<RewindService *>(list->object)->m_storages;
    return index >= 0 && index < storages.size() ? storages.at(index).data() : nullptr;
}

int RewindService::driveCount(QQmlListProperty<Drive> *list)
{
    return static_cast<RewindService *>(list->object)->m_drives.size();
}

Drive *RewindService::driveAt(QQmlListProperty<Drive> *list, int index)
{
    const auto &drives = static_cast<RewindService *>(list->object)->m_drives;
    return index >= 0 && index < drives.size() ? drives.at(index).data() : nullptr;
}

qulonglong RewindService::minimumStorageSize() const
{
    try {
        if (!m_server)
            throw ComException(E_POINTER);
        ArchiveMinimumSizeRecord record{};
        m_server->GetMinimumStorageSize(&record);
        return record.minimumSize > 0 ? qulonglong(record.minimumSize) : 0;
    } catch (const ComException &e) {
        qCCritical(lcRewindService) << e;
    }
    return 0;
}

RewindStats *RewindService::memoryStats() const
{
    return m_stats.data();
}

Storage *RewindService::createStorage(QString name, Drive *drive, qlonglong size)
{
    try {
        if (!m_server)
            throw ComException(E_POINTER);
        if (!drive)
            throw ComException(E_FAIL, QStringLiteral("Invalid drive"));
        if (name.size() > kMaxStorageNameUnits)
            throw ComException(E_FAIL, QStringLiteral("Name is too long"));
        CreateStorageResult result;
        QMetaObject::invokeMethod(m_storagesUpdater, "createStorage", Qt::BlockingQueuedConnection,
                                  Q_RETURN_ARG(CreateStorageResult, result), Q_ARG(QString, name),
                                  Q_ARG(int, drive->index()), Q_ARG(qlonglong, size));
        updateStorages(result.first);
        return result.second.data();
    } catch (const ComException &e) {
        qCCritical(lcRewindService) << "Rewind failed to create storage: " << e;
    }
    return nullptr;
}

bool RewindService::deleteStorage(Storage *storage)
{
    if (!storage) {
        qCCritical(lcRewindService) << "Failed to delete 'null' storage";
        return false;
    }
    DeleteStorageResult result(false, StorageList());
    QMetaObject::invokeMethod(m_storagesUpdater, "deleteStorage", Qt::BlockingQueuedConnection,
                              Q_RETURN_ARG(DeleteStorageResult, result), Q_ARG(QUuid, storage->guid()));
    updateStorages(result.second);
    return result.first;
}

void RewindService::setEvent(QVariantMap event)
{
    qCInfo(lcRewindService) << "RewindService::setEvent() event=" << event;
    const QString typeName = event.value(QStringLiteral("type")).toString();
    const QString comment = event.value(QStringLiteral("comment")).toString();
    std::uint64_t time = nyx::win32::systemTimeAsFileTime();
    const auto timeKey = QStringLiteral("time");
    if (event.contains(timeKey)) {
        bool ok = false;
        const double offset = event.value(timeKey).toDouble(&ok);
        // Offsets beyond a century are not times of this archive.
        constexpr double kMaxOffsetMs = 100.0 * 366 * 24 * 3600 * 1000;
        if (!ok || !std::isfinite(offset) || std::fabs(offset) >= kMaxOffsetMs)
            qCWarning(lcRewindService) << "Event time" << event.value(timeKey)
                                       << "is not a time of this archive; the current time is used";
        else if (m_startTime.isValid())
            time = toWin32FileTime(m_startTime.addMSecs(static_cast<qint64>(offset)), time);
    }
    if (!m_link.CreateEvent(typeName, comment, time)) {
        qCWarning(lcRewindService) << "Referee did not take the event of type" << typeName;
        return;
    }
    // The link has put the event into its table: the list shows it before the referee answers.
    emit eventListChanged();
}

Storage *RewindService::getStorageByGuid(QUuid guid)
{
    for (const auto &storage : m_storages) {
        if (storage->guid() == guid)
            return storage.data();
    }
    return nullptr;
}

Stream *RewindService::getStreamByGuid(QUuid guid)
{
    for (const auto &storage : m_storages) {
        for (const auto &stream : storage->streamList()) {
            if (stream->guid() == guid)
                return stream.data();
        }
    }
    return nullptr;
}

Stream *RewindService::getStreamByName(QString url)
{
    bool isAudio = false;
    int kind = -1;
    int index = 0;
    const QString name = streamNameForUrl(QUrl(url, QUrl::TolerantMode), isAudio, kind, index);
    for (const auto &storage : m_storages) {
        for (const auto &stream : storage->streamList()) {
            if (stream->name() == name && stream->isAudio() == isAudio) {
                stream->setDecoderKind(kind);
                stream->setDecoderIndex(index);
                return stream.data();
            }
        }
    }
    qCInfo(lcRewindService).noquote()
        << "\n!!! RewindService::getStreamByName ERROR from url='" + url + "' !!!\n";
    return nullptr;
}

QVariantMap RewindService::getArchiveCollection()
{
    QVariantList archives;
    if (m_link.IsAlive() && m_link.camsReceived.load())
        archives.append(FillArchive(m_link.GetCameras(), m_link.GetEvents()));
    return {{QStringLiteral("archives"), archives}};
}

QVariantList RewindService::getAvailableTypes()
{
    QVariantList list;
    if (m_link.IsAlive() && m_link.typesReceived.load()) {
        for (const RefereeEventType &type : m_link.GetEventTypes()) {
            const int bg = type.backgroundColor;
            list.append(QVariantMap{
                {QStringLiteral("name"), type.name},
                {QStringLiteral("color"), QColor(bg & 0xff, (bg >> 8) & 0xff, (bg >> 16) & 0xff, 255)}});
        }
        return list;
    }
    for (int n = 0; n < 4; ++n) {
        list.append(QVariantMap{
            {QStringLiteral("name"), QStringLiteral("Type %1").arg(n + 1)},
            {QStringLiteral("color"), QColor(n & 1 ? 255 : 0, n & 2 ? 255 : 0, n & 4 ? 255 : 0, 255)}});
    }
    return list;
}

QVariantList RewindService::getAvailableVideos()
{
    QVariantList list;
    for (const AvailableSource &s : m_videos)
        list.append(QVariantMap{{QStringLiteral("name"), s.name}, {QStringLiteral("source"), s.source}});
    return list;
}

QVariantList RewindService::getAvailableAudios()
{
    return {QVariantMap{{QStringLiteral("name"), m_audio.name}, {QStringLiteral("source"), m_audio.source}}};
}

QVariantList RewindService::getEventList()
{
    if (m_link.IsAlive() && m_link.eventsReceived.load())
        return eventsToVariantList(m_link.GetEvents());
    return {};
}

QString RewindService::streamNameForUrl(const QUrl &url, bool &isAudio, int &decoderKind,
                                        int &decoderIndex) const
{
    decoderKind = -1;
    decoderIndex = 0;
    const QString text = url.toString();
    if (text.indexOf(QLatin1String(" (Audio)")) > 0) {
        isAudio = true;
        return m_audio.name;
    }
    isAudio = false;
    for (const AvailableSource &s : m_videos) {
        if (s.source == url) {
            decoderKind = s.decoderKind;
            decoderIndex = s.decoderIndex;
            return s.stream;
        }
    }
    return text;
}

QUrl RewindService::urlForStreamName(const QString &name, bool isAudio) const
{
    if (isAudio)
        return m_audio.source;
    for (const AvailableSource &s : m_videos) {
        if (s.stream == name)
            return s.source;
    }
    return QUrl(name, QUrl::TolerantMode);
}

QVariantMap RewindService::FillArchive(const std::vector<RefereeCamera> &cameras,
                                       const std::vector<RefereeEvent> &events)
{
    QString dump = QStringLiteral("\nRewindService::FillArchive\n");
    QVariantList elements;
    QDateTime minTime, maxTime;
    for (const RefereeCamera &camera : cameras) {
        Stream *stream = getStreamByGuid(nyx::com::toQUuid(camera.streamId));
        dump += QStringLiteral("   Cam=") + camera.name + QStringLiteral(" stream=") +
                (stream ? QStringLiteral("Pointer") : QStringLiteral("NULL")) + QStringLiteral("\n");
        if (stream) {
            elements.append(QVariantMap{{QStringLiteral("bitrate"), 5000},
                                        {QStringLiteral("hardware"), false},
                                        {QStringLiteral("source"), urlForStreamName(stream->name(), false)},
                                        {QStringLiteral("storage"), stream->storageGuid()},
                                        {QStringLiteral("type"), 0}});
        }
        widen(minTime, maxTime, fromWin32FileTime(camera.begin), fromWin32FileTime(camera.end));
    }
    debugOutput(dump);
    for (const RefereeCamera &camera : cameras) {
        if (!camera.playAudio)
            continue;
        if (Stream *stream = getStreamByGuid(nyx::com::toQUuid(camera.streamId))) {
            m_audio.name = stream->name();
            elements.append(QVariantMap{{QStringLiteral("bitrate"), 1000},
                                        {QStringLiteral("hardware"), false},
                                        {QStringLiteral("source"), m_audio.source},
                                        {QStringLiteral("storage"), stream->storageGuid()},
                                        {QStringLiteral("type"), 1}});
        }
    }
    const QVariantList eventMaps = eventsToVariantList(events);

    QString second = QStringLiteral("   from refereeCams:");
    for (const QVariant &e : elements) {
        const QVariantMap m = e.toMap();
        second += QStringLiteral("\n      stream='") + m.value(QStringLiteral("source")).toString() +
                  QStringLiteral("', storage=") + m.value(QStringLiteral("storage")).toString() +
                  QStringLiteral("', type=") + m.value(QStringLiteral("type")).toString();
    }
    second += QStringLiteral("\n  minTime=") + minTime.toString(Qt::TextDate) +
              QStringLiteral(",  maxTime=") + maxTime.toString(Qt::TextDate) +
              QStringLiteral(",  bRecording=FALSE");
    second += QStringLiteral("   from eventList:");
    for (const QVariant &e : eventMaps) {
        const QVariantMap m = e.toMap();
        second += QStringLiteral("\n      type='") + m.value(QStringLiteral("type")).toString() +
                  QStringLiteral("', comment=") + m.value(QStringLiteral("comment")).toString() +
                  QStringLiteral("', time=") + m.value(QStringLiteral("time")).toString() +
                  QStringLiteral("', boardTime=") + m.value(QStringLiteral("boardTime")).toString();
    }
    second += QStringLiteral("\nEND.\n");
    debugOutput(second);

    return {{QStringLiteral("name"), QStringLiteral("Current Training")},
            {QStringLiteral("creationDate"), minTime},
            {QStringLiteral("duration"), msecsBetween(minTime, maxTime)},
            {QStringLiteral("eventsUrl"), QString()},
            {QStringLiteral("events"), eventMaps},
            {QStringLiteral("recordingSettings"), QVariantMap{{QStringLiteral("elements"), elements}}}};
}

QVariantList RewindService::eventsToVariantList(const std::vector<RefereeEvent> &events) const
{
    QVariantList list;
    for (const RefereeEvent &event : events) {
        const QDateTime time = fromWin32FileTime(event.time);
        list.append(QVariantMap{{QStringLiteral("type"), event.typeName},
                                {QStringLiteral("comment"), event.comment},
                                {QStringLiteral("time"), msecsBetween(m_startTime, time)},
                                {QStringLiteral("boardTime"), double(event.boardTime)}});
    }
    return list;
}
