#pragma once
// The archive plugin's service object, QML's RewindService singleton: binds the archive server
// while the referee application answers, keeps the updaters of the archive model ticking on a
// worker thread, and hands QML the referee's archive, event types and events.

#include "availablesource.h"
#include "refereelink.h"
#include "storagelist.h"

#include "archive/irewindserver.h"
#include "com/comptr.h"

#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QQmlListProperty>
#include <QSharedPointer>
#include <QUrl>
#include <QUuid>
#include <QVariant>
#include <vector>

class Drive;
class DrivesUpdater;
class QThread;
class QTimer;
class RewindStats;
class RewindStatsUpdater;
class Storage;
class StoragesUpdater;
class Stream;

class RewindService : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QQmlListProperty<Storage> storages READ storages NOTIFY storagesChanged)
    Q_PROPERTY(QQmlListProperty<Drive> drives READ drives NOTIFY drivesChanged)
    Q_PROPERTY(qulonglong minimumStorageSize READ minimumStorageSize CONSTANT)
    Q_PROPERTY(RewindStats *memoryStats READ memoryStats CONSTANT)
    Q_PROPERTY(Status status READ status WRITE setStatus NOTIFY statusChanged)
    Q_PROPERTY(qulonglong diskSize READ diskSize NOTIFY diskSizeChanged)
    Q_PROPERTY(qulonglong duration READ duration NOTIFY durationChanged)
    Q_PROPERTY(QDateTime startTime READ startTime NOTIFY startTimeChanged)
    Q_PROPERTY(qulonglong version READ version CONSTANT)
    Q_PROPERTY(QVariantList eventTypes READ getAvailableTypes NOTIFY eventTypesChanged)
    Q_PROPERTY(QVariantList eventList READ getEventList NOTIFY eventListChanged)
    // Whether the referee application answers (the archive is bound only while it does) and, while
    // it does not, the time of its last answer (of the service's start when it never answered).
    Q_PROPERTY(bool refereeAnswering READ isRefereeAnswering NOTIFY refereeAnsweringChanged)
    Q_PROPERTY(QDateTime refereeSilentSince READ refereeSilentSince NOTIFY refereeAnsweringChanged)

public:
    enum Status
    {
        Reading = 0,
        Writing = 1,
        Closing = 2
    };
    Q_ENUM(Status)

    // Periods of the worker tick and status poll and of the one readiness retry within a poll;
    // linkTimerMs 0 keeps the link's own.
    struct Timing
    {
        int tickMs = 500;
        int readinessRetryMs = 100;
        unsigned linkTimerMs = 0;
    };

    RewindService();
    explicit RewindService(const Timing &timing);
    ~RewindService() override;

    QQmlListProperty<Storage> storages();
    QQmlListProperty<Drive> drives();
    qulonglong minimumStorageSize() const;
    RewindStats *memoryStats() const;
    Status status() const { return m_status; }
    void setStatus(Status status);
    qulonglong diskSize() const { return m_diskSize; }
    qulonglong duration() const;
    QDateTime startTime() const { return m_startTime; }
    qulonglong version() const { return 1000; }
    bool isRefereeAnswering() const { return m_refereeAnswering; }
    QDateTime refereeSilentSince() const { return m_refereeSilentSince; }

    Q_INVOKABLE Storage *createStorage(QString name, Drive *drive, qlonglong size);
    Q_INVOKABLE bool deleteStorage(Storage *storage);
    Q_INVOKABLE void setEvent(QVariantMap event);
    Q_INVOKABLE Storage *getStorageByGuid(QUuid guid);
    Q_INVOKABLE Stream *getStreamByGuid(QUuid guid);
    Q_INVOKABLE Stream *getStreamByName(QString url);
    Q_INVOKABLE QVariantMap getArchiveCollection();
    Q_INVOKABLE QVariantList getAvailableTypes();
    Q_INVOKABLE QVariantList getAvailableVideos();
    Q_INVOKABLE QVariantList getAvailableAudios();
    Q_INVOKABLE QVariantList getEventList();

    // Configuration lookups between source URLs and archive stream names.
    QString streamNameForUrl(const QUrl &url, bool &isAudio, int &decoderKind, int &decoderIndex) const;
    QUrl urlForStreamName(const QString &name, bool isAudio) const;

    // The archive description and event maps built from copies of the link's tables.
    QVariantMap FillArchive(const std::vector<RefereeCamera> &cameras,
                            const std::vector<RefereeEvent> &events);
    QVariantList eventsToVariantList(const std::vector<RefereeEvent> &events) const;

    const std::vector<AvailableSource> &videos() const { return m_videos; }
    const AvailableSource &audio() const { return m_audio; }
    CRefereeLink &link() { return m_link; }
    bool isBound() const { return m_server != nullptr; }

signals:
    void archiveChanged();
    void storagesChanged();
    void drivesChanged();
    void statusChanged();
    void diskSizeChanged();
    void durationChanged();
    void startTimeChanged();
    void eventTypesChanged();
    void eventListChanged();
    void refereeAnsweringChanged();

private slots:
    void updateStatus();
    void updateStorages(StorageList storages);
    void updateDrives(QList<QSharedPointer<Drive>> drives);

private:
    void loadConfiguration();
    void createUpdaters();
    void resetUpdaters();
    void createServer();
    void close();
    void shutDownWorker();
    void setRefereeAnswering(bool answering);

    static int storageCount(QQmlListProperty<Storage> *list);
    static Storage *storageAt(QQmlListProperty<Storage> *list, int index);
    static int driveCount(QQmlListProperty<Drive> *list);
    static Drive *driveAt(QQmlListProperty<Drive> *list, int index);

    const Timing m_timing;
    Status m_status = Closing;
    qulonglong m_diskSize = 0;
    QDateTime m_startTime;
    qint64 m_duration = 0;
    DWORD m_lastWritingTick = 0;
    bool m_refereeAnswering = false;
    bool m_refereeAnswered = false;
    QDateTime m_refereeSilentSince = QDateTime::currentDateTime();
    RewindStatsUpdater *m_statsUpdater = nullptr;
    StoragesUpdater *m_storagesUpdater = nullptr;
    DrivesUpdater *m_drivesUpdater = nullptr;
    CComPtr<IRewindServer> m_server;
    // Created but still starting: asked again at the next poll.
    CComPtr<IRewindServer> m_startingServer;
    bool m_readinessRetryQueued = false;
    QList<QSharedPointer<Storage>> m_storages;
    qint64 m_storagesRevision = 0;
    QList<QSharedPointer<Drive>> m_drives;
    QPointer<RewindStats> m_stats;
    QSharedPointer<QTimer> m_timer;
    QSharedPointer<QThread> m_thread;
    std::vector<AvailableSource> m_videos;
    AvailableSource m_audio;
    QString m_host = QStringLiteral("localhost");
    CRefereeLink m_link;
};
