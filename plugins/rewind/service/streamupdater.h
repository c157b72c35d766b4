#pragma once
// Polls one archive stream on the worker thread and keeps its registered ranges measured.

#include "stream.h"

#include "archive/irewindserver.h"
#include "com/comptr.h"

#include <QList>
#include <QObject>
#include <QSharedPointer>
#include <QUuid>
#include <QVector>
#include <optional>

class RangeUpdater;

class StreamUpdater : public QObject
{
    Q_OBJECT
public:
    StreamUpdater(IRewindServer *server, const QUuid &guid);
    ~StreamUpdater() override;

    QUuid guid() const { return m_guid; }
    // A new reference to the archive server (null while none); the caller releases it.
    IRewindServer *server() const;
    quint64 startTime() const { return m_info ? m_info->startTime : 0; }
    quint64 endTime() const { return m_info ? m_info->endTime : 0; }
    QVector<Stream::SequenceInfo> sequences() const { return m_sequences; }
    int rangeCount() const { return m_ranges.size(); }

signals:
    void startTimeChanged(qulonglong value);
    void endTimeChanged(qulonglong value);
    void sequencesChanged(QVector<Stream::SequenceInfo> sequences);

public slots:
    void updateInfo();
    void requestUpdate();

private:
    Q_INVOKABLE void updateRanges(quint64 streamTimeFrom, quint64 streamTimeTo);
    Q_INVOKABLE void addRangeToList(QSharedPointer<RangeUpdater> range);
    Q_INVOKABLE void removeRangeFromList(QSharedPointer<RangeUpdater> range);
    void applyInfo(const ArchiveStreamInfo &info);
    void readSequences();
    bool hasUnmeasuredRange() const;

    CComPtr<IRewindServer> m_server;
    QUuid m_guid;
    std::optional<ArchiveStreamInfo> m_info;
    QList<QSharedPointer<RangeUpdater>> m_ranges;
    QVector<Stream::SequenceInfo> m_sequences;
    bool m_pending = true;
    bool m_trailingRefresh = false;
};
