#pragma once
// The QML object of one archive drive; its figures follow the drive through its updater.

#include <QObject>
#include <QSharedPointer>

struct IRewindServer;
class DriveInfoUpdater;
class QThread;
class QTimer;

class Drive : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString name READ name NOTIFY nameChanged)
    Q_PROPERTY(qlonglong size READ size NOTIFY sizeChanged)
    Q_PROPERTY(qlonglong freeSize READ freeSize NOTIFY freeSizeChanged)
    Q_PROPERTY(qlonglong usedSize READ usedSize NOTIFY usedSizeChanged)

public:
    Drive(IRewindServer *server, int index, const QSharedPointer<QTimer> &timer,
          const QSharedPointer<QThread> &thread);
    ~Drive() override;

    int index() const { return m_index; }
    QString name() const { return m_name; }
    qlonglong size() const { return m_size; }
    qlonglong freeSize() const { return m_freeSize; }
    qlonglong usedSize() const { return m_usedSize; }
    // Disconnects and gives up the worker-thread updater, on the worker thread at shutdown.
    void releaseUpdater();

signals:
    void nameChanged();
    void sizeChanged();
    void freeSizeChanged();
    void usedSizeChanged();

private slots:
    void setName(QString value);
    void setSize(qlonglong value);
    void setFreeSize(qlonglong value);
    void setUsedSize(qlonglong value);

private:
    const int m_index;
    QString m_name;
    qlonglong m_size = 0;
    qlonglong m_freeSize = 0;
    qlonglong m_usedSize = 0;
    QSharedPointer<DriveInfoUpdater> m_updater;
};
