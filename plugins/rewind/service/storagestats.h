#pragma once
// The archive server's figures of one storage, one notify signal per figure.

#include "archive/archiverecords.h"

#include <QObject>

class StorageStats : public QObject
{
    Q_OBJECT
    Q_PROPERTY(qulonglong dataSizeOnDisk READ dataSizeOnDisk NOTIFY dataSizeOnDiskChanged)
    Q_PROPERTY(qulonglong lockedDataSizeOnDisk READ lockedDataSizeOnDisk NOTIFY lockedDataSizeOnDiskChanged)
    Q_PROPERTY(qulonglong totalFramesWritten READ totalFramesWritten NOTIFY totalFramesWrittenChanged)
    Q_PROPERTY(qulonglong totalBytesWritten READ totalBytesWritten NOTIFY totalBytesWrittenChanged)
    Q_PROPERTY(double currWriteFramesRate READ currWriteFramesRate NOTIFY currWriteFramesRateChanged)
    Q_PROPERTY(double currWriteBytesRate READ currWriteBytesRate NOTIFY currWriteBytesRateChanged)
    Q_PROPERTY(qulonglong totalFramesReaded READ totalFramesReaded NOTIFY totalFramesReadedChanged)
    Q_PROPERTY(qulonglong totalBytesReaded READ totalBytesReaded NOTIFY totalBytesReadedChanged)
    Q_PROPERTY(double currReadFramesRate READ currReadFramesRate NOTIFY currReadFramesRateChanged)
    Q_PROPERTY(double currReadBytesRate READ currReadBytesRate NOTIFY currReadBytesRateChanged)
    Q_PROPERTY(qulonglong totalFATPagesWritten READ totalFATPagesWritten NOTIFY totalFATPagesWrittenChanged)
    Q_PROPERTY(double currWriteFATPagesRate READ currWriteFATPagesRate NOTIFY currWriteFATPagesRateChanged)

public:
    explicit StorageStats(QObject *parent = nullptr);

    qulonglong dataSizeOnDisk() const { return m_stats.dataSizeOnDisk; }
    qulonglong lockedDataSizeOnDisk() const { return m_stats.lockedDataSizeOnDisk; }
    qulonglong totalFramesWritten() const { return m_stats.totalFramesWritten; }
    qulonglong totalBytesWritten() const { return m_stats.totalBytesWritten; }
    double currWriteFramesRate() const { return m_stats.currWriteFramesRate; }
    double currWriteBytesRate() const { return m_stats.currWriteBytesRate; }
    qulonglong totalFramesReaded() const { return m_stats.totalFramesReaded; }
    qulonglong totalBytesReaded() const { return m_stats.totalBytesReaded; }
    double currReadFramesRate() const { return m_stats.currReadFramesRate; }
    double currReadBytesRate() const { return m_stats.currReadBytesRate; }
    qulonglong totalFATPagesWritten() const { return m_stats.totalFATPagesWritten; }
    double currWriteFATPagesRate() const { return m_stats.currWriteFATPagesRate; }

public slots:
    void update(CRewindStorageStats stats);

signals:
    void dataSizeOnDiskChanged();
    void lockedDataSizeOnDiskChanged();
    void totalFramesWrittenChanged();
    void totalBytesWrittenChanged();
    void currWriteFramesRateChanged();
    void currWriteBytesRateChanged();
    void totalFramesReadedChanged();
    void totalBytesReadedChanged();
    void currReadFramesRateChanged();
    void currReadBytesRateChanged();
    void totalFATPagesWrittenChanged();
    void currWriteFATPagesRateChanged();

private:
    CRewindStorageStats m_stats{};
};
