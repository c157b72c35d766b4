#pragma once
// The part of an archive stream between two times, with the size of its data kept current.

#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QSharedPointer>

class RangeUpdater;
#include "stream.h"

class Range : public QObject
{
    Q_OBJECT
    Q_PROPERTY(Stream *stream READ stream WRITE setStream NOTIFY streamChanged)
    Q_PROPERTY(QDateTime from READ from WRITE setFrom NOTIFY timeFromChanged)
    Q_PROPERTY(QDateTime to READ to WRITE setTo NOTIFY timeToChanged)
    Q_PROPERTY(qlonglong size READ size NOTIFY sizeChanged)

public:
    explicit Range(QObject *parent = nullptr);
    ~Range() override;

    Stream *stream() const { return m_stream.data(); }
    void setStream(Stream *stream);
    QDateTime from() const { return m_from; }
    void setFrom(const QDateTime &time);
    QDateTime to() const { return m_to; }
    void setTo(const QDateTime &time);
    // -1 while unknown, 0 without data.
    qlonglong size() const { return m_size; }

    QSharedPointer<RangeUpdater> updater() const { return m_updater; }

signals:
    void streamChanged();
    void timeFromChanged();
    void timeToChanged();
    void sizeChanged();

private slots:
    void onSizeChanged(qlonglong size, QDateTime timeFrom, QDateTime timeTo);

private:
    void setSize(qlonglong size);
    void attachUpdater(const QSharedPointer<RangeUpdater> &updater);

    QPointer<Stream> m_stream;
    QDateTime m_from;
    QDateTime m_to;
    qlonglong m_size = -1;
    QSharedPointer<RangeUpdater> m_updater;
    // The updater has been handed to a stream's updater.
    bool m_registered = false;
};
