#pragma once
// The archive server's memory figures as QML reads them.

#include "archive/archiverecords.h"

#include <QObject>

class RewindStats : public QObject
{
    Q_OBJECT
    Q_PROPERTY(qulonglong totalPhysMemory READ totalPhysMemory NOTIFY totalPhysMemoryChanged)
    Q_PROPERTY(qulonglong availPhysMemory READ availPhysMemory NOTIFY availPhysMemoryChanged)
    Q_PROPERTY(qulonglong totalVirtualMemory READ totalVirtualMemory NOTIFY totalVirtualMemoryChanged)
    Q_PROPERTY(qulonglong availVirtualMemory READ availVirtualMemory NOTIFY availVirtualMemoryChanged)
    Q_PROPERTY(qulonglong totalProcessAddressSpace READ totalProcessAddressSpace NOTIFY
                   totalProcessAddressSpaceChanged)
    Q_PROPERTY(qulonglong availProcessAddressSpace READ availProcessAddressSpace NOTIFY
                   availProcessAddressSpaceChanged)

public:
    explicit RewindStats(QObject *parent = nullptr);

    qulonglong totalPhysMemory() const { return m_stats.totalPhysMemory; }
    qulonglong availPhysMemory() const { return m_stats.availPhysMemory; }
    qulonglong totalVirtualMemory() const { return m_stats.totalVirtualMemory; }
    qulonglong availVirtualMemory() const { return m_stats.availVirtualMemory; }
    qulonglong totalProcessAddressSpace() const { return m_stats.totalProcessAddressSpace; }
    qulonglong availProcessAddressSpace() const { return m_stats.availProcessAddressSpace; }

signals:
    void totalPhysMemoryChanged();
    void availPhysMemoryChanged();
    void totalVirtualMemoryChanged();
    void availVirtualMemoryChanged();
    void totalProcessAddressSpaceChanged();
    void availProcessAddressSpaceChanged();

public slots:
    void update(CRewindMemoryStatus stats);

private:
    CRewindMemoryStatus m_stats{};
};
