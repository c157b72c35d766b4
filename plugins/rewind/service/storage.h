#pragma once
// The QML object of one archive storage: name, drives, size, statistics and streams.

#include "streamlist.h"

#include <QObject>
#include <QPointer>
#include <QQmlListProperty>
#include <QSharedPointer>
#include <QUuid>

struct IRewindServer;
class QThread;
class QTimer;
#include "storagestats.h"
class StorageUpdater;
class Stream;

class Storage : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QUuid guid READ guid CONSTANT)
    Q_PROPERTY(QString name READ name NOTIFY nameChanged)
    Q_PROPERTY(QString driveName READ driveName NOTIFY driveNameChanged)
    Q_PROPERTY(qulonglong size READ size NOTIFY sizeChanged)
    Q_PROPERTY(StorageStats *stats READ stats CONSTANT)
    Q_PROPERTY(QQmlListProperty<Stream> streams READ streams NOTIFY streamsChanged)

public:
    Storage(IRewindServer *server, const QUuid &guid, const QString &name,
            const QSharedPointer<QTimer> &timer, const QSharedPointer<QThread> &thread);
    ~Storage() override;

    QUuid guid() const { return m_guid; }
    QString name() const { return m_name; }
    QString driveName() const { return m_driveName; }
    qulonglong size() const { return m_size; }
    StorageStats *stats() const { return m_stats.data(); }
    QQmlListProperty<Stream> streams();
    QList<QSharedPointer<Stream>> streamList() const { return m_streams; }
    qint64 streamsRevision() const { return m_streamsRevision; }
    // The statistics' data size on disk, 0 once the statistics object is gone.
    qulonglong dataSizeOnDisk() const;
    // Lives on the worker thread; only that thread may read its state.
    QSharedPointer<StorageUpdater> updater() const { return m_updater; }
    // Disconnects and gives up the worker-thread updater, on the worker thread at shutdown.
    void releaseUpdater();

    Q_INVOKABLE Stream *createStream(QString name);
    Q_INVOKABLE bool deleteStream(Stream *stream);
    Q_INVOKABLE Stream *getStreamByName(QString name);
    Q_INVOKABLE Stream *getOrCreateStreamByName(QString name);

signals:
    void nameChanged();
    void driveNameChanged();
    void sizeChanged();
    void streamsChanged();

private slots:
    void updateStreams(StreamList streams);
    void setDriveName(QString name);
    void setSize(qulonglong size);

private:
    static int streamCount(QQmlListProperty<Stream> *list);
    static Stream *streamAt(QQmlListProperty<Stream> *list, int index);

    QSharedPointer<StorageUpdater> m_updater;
    QString m_name;
    QString m_driveName;
    QUuid m_guid;
    qulonglong m_size = 0;
    qint64 m_streamsRevision = 0;
    QPointer<StorageStats> m_stats;
    QList<QSharedPointer<Stream>> m_streams;
};
