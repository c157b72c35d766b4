#pragma once
// Polls one storage on the worker thread: its drives and size, its streams and its statistics.

#include "streamlist.h"

#include "archive/irewindserver.h"
#include "com/comptr.h"

#include <QObject>
#include <QSet>
#include <QSharedPointer>
#include <QUuid>

class QThread;
class QTimer;

class StorageUpdater : public QObject
{
    Q_OBJECT
public:
    StorageUpdater(IRewindServer *server, const QUuid &guid, const QSharedPointer<QTimer> &timer,
                   const QSharedPointer<QThread> &thread);
    ~StorageUpdater() override;

    QUuid guid() const { return m_guid; }
    QString driveName() const { return m_driveName; }
    qulonglong size() const { return m_size; }
    StreamList streams() const { return m_streams; }
    CRewindStorageStats stats() const { return m_stats; }

    Q_INVOKABLE CreateStreamResult createStream(QString name);
    Q_INVOKABLE StreamList deleteStream(QUuid guid);

signals:
    void driveNameChanged(QString driveName);
    void sizeChanged(qulonglong size);
    void streamsChanged(StreamList streams);
    void statsChanged(CRewindStorageStats stats);

public slots:
    void update();

private:
    void updateDriveInfo();
    void updateStreams();
    void updateStats();
    QSharedPointer<Stream> makeStream(const QUuid &storageGuid, const QUuid &streamGuid, bool isAudio,
                                      const QString &name);

    CComPtr<IRewindServer> m_server;
    QString m_driveName;
    QUuid m_guid;
    qulonglong m_size = 0;
    QSet<QUuid> m_known;
    StreamList m_streams;
    CRewindStorageStats m_stats{};
    QSharedPointer<QTimer> m_timer;
    QSharedPointer<QThread> m_thread;
};
