#include "drive.h"

#include "driveinfoupdater.h"
#include "objectdeleter.h"

#include <QQmlEngine>
#include <QThread>
#include <QTimer>

Drive::Drive(IRewindServer *server, int index, const QSharedPointer<QTimer> &timer,
             const QSharedPointer<QThread> &thread)
    : m_index(index)
{
    m_updater = makeThreadShared(new DriveInfoUpdater(server, index));
    setName(m_updater->name());
    setSize(m_updater->size());
    setFreeSize(m_updater->freeSize());
    setUsedSize(m_updater->usedSize());
    // By signature: a functor connection leaks its slot object in Qt 5 when the receiver is
    // destroyed here while the worker emits.
    connect(m_updater.data(), SIGNAL(nameChanged(QString)), this, SLOT(setName(QString)));
    connect(m_updater.data(), SIGNAL(sizeChanged(qlonglong)), this, SLOT(setSize(qlonglong)));
    connect(m_updater.data(), SIGNAL(freeSizeChanged(qlonglong)), this, SLOT(setFreeSize(qlonglong)));
    connect(m_updater.data(), SIGNAL(usedSizeChanged(qlonglong)), this, SLOT(setUsedSize(qlonglong)));
    if (timer)
        connect(timer.data(), &QTimer::timeout, m_updater.data(), &DriveInfoUpdater::updateInfo);
    if (thread && m_updater->thread() != thread.data())
        m_updater->moveToThread(thread.data());
    QQmlEngine::setObjectOwnership(this, QQmlEngine::CppOwnership);
}

Drive::~Drive() = default;

void Drive::releaseUpdater()
{
    if (!m_updater)
        return;
    disconnect(m_updater.data(), nullptr, this, nullptr);
    m_updater.reset();
}

void Drive::setName(QString value)
{
    if (value == m_name)
        return;
    m_name = value;
    emit nameChanged();
}

void Drive::setSize(qlonglong value)
{
    if (value == m_size)
        return;
    m_size = value;
    emit sizeChanged();
}

void Drive::setFreeSize(qlonglong value)
{
    if (value == m_freeSize)
        return;
    m_freeSize = value;
    emit freeSizeChanged();
}

void Drive::setUsedSize(qlonglong value)
{
    if (value == m_usedSize)
        return;
    m_usedSize = value;
    emit usedSizeChanged();
}
