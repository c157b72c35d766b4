#pragma once
// Keeps the archive's storage list on the worker thread and creates and deletes storages.

#include "storagelist.h"

#include "archive/irewindserver.h"
#include "com/comptr.h"

#include <QObject>
#include <QSet>
#include <QSharedPointer>
#include <QUuid>

class QThread;
class QTimer;

class StoragesUpdater : public QObject
{
    Q_OBJECT
public:
    StoragesUpdater(IRewindServer *server, const QSharedPointer<QTimer> &timer,
                    const QSharedPointer<QThread> &thread);
    ~StoragesUpdater() override;

    QList<QSharedPointer<Storage>> storages() const { return m_list.storages; }
    qint64 revision() const { return m_list.revision; }

signals:
    void storagesChanged(StorageList storages);

public slots:
    void updateStorages();

public:
    Q_INVOKABLE void ResetRewind(IRewindServer *rewindService);
    Q_INVOKABLE CreateStorageResult createStorage(QString name, int driveIndex, qlonglong size);
    // The server is asked first; the storage leaves the list only when the server deleted it.
    Q_INVOKABLE DeleteStorageResult deleteStorage(QUuid storageId);

private:
    void publish();
    QSharedPointer<Storage> makeStorage(const QUuid &guid, const QString &name);
    void writeListing() const;

    CComPtr<IRewindServer> m_server;
    QSet<QUuid> m_known;
    StorageList m_list;
    QSharedPointer<QTimer> m_timer;
    QSharedPointer<QThread> m_thread;
};
