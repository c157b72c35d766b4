#include "stream.h"

#include "archivemetatypes.h"
#include "archivetime.h"
#include "objectdeleter.h"
#include "range.h"
#include "streamupdater.h"

#include <QQmlEngine>
#include <QThread>
#include <QTimer>

Stream::Stream(IRewindServer *server, const QUuid &storageGuid, const QUuid &guid, bool isAudio,
               const QString &name, const QSharedPointer<QTimer> &timer,
               const QSharedPointer<QThread> &thread)
    : m_name(name), m_isAudio(isAudio), m_guid(guid), m_storageGuid(storageGuid), m_thread(thread)
{
    registerRewindServiceMetaTypes();
    m_updater = makeThreadShared(new StreamUpdater(server, guid));

    // Nobody is connected yet: take the first reading directly.
    setStartTimeWin32(m_updater->startTime());
    setEndTimeWin32(m_updater->endTime());
    setSequences(m_updater->sequences());

    // By signature: a functor connection leaks its slot object in Qt 5 when the receiver is
    // destroyed here while the worker emits.
    connect(m_updater.data(), SIGNAL(startTimeChanged(qulonglong)), this,
            SLOT(setStartTimeWin32(qulonglong)));
    connect(m_updater.data(), SIGNAL(endTimeChanged(qulonglong)), this, SLOT(setEndTimeWin32(qulonglong)));
    connect(m_updater.data(), SIGNAL(sequencesChanged(QVector<Stream::SequenceInfo>)), this,
            SLOT(setSequences(QVector<Stream::SequenceInfo>)));
    if (timer)
        connect(timer.data(), &QTimer::timeout, m_updater.data(), &StreamUpdater::updateInfo);

    if (thread && m_updater->thread() != thread.data())
        m_updater->moveToThread(thread.data());
    QQmlEngine::setObjectOwnership(this, QQmlEngine::CppOwnership);
}

Stream::~Stream() = default;

void Stream::releaseUpdater()
{
    if (!m_updater)
        return;
    disconnect(m_updater.data(), nullptr, this, nullptr);
    m_updater.reset();
}

void Stream::moveWithSequences(QThread *target)
{
    if (!target || target == QObject::thread())
        return;
    for (const auto &range : qAsConst(m_sequences))
        range->moveToThread(target);
    moveToThread(target);
}

QQmlListProperty<Range> Stream::sequences()
{
    return QQmlListProperty<Range>(this, nullptr, &Stream::sequenceCount, &Stream::sequenceAt);
}

int Stream::sequenceCount(QQmlListProperty<Range> *list)
{
    return static_cast<Stream *>(list->object)->m_sequences.size();
}

Range *Stream::sequenceAt(QQmlListProperty<Range> *list, int index)
{
    const auto &sequences = static_cast<Stream *>(list->object)->m_sequences;
    return index >= 0 && index < sequences.size() ? sequences.at(index).data() : nullptr;
}

void Stream::setStartTimeWin32(qulonglong value)
{
    const QDateTime time = fromWin32FileTime(value);
    if (time == m_startTime && time.isNull() == m_startTime.isNull())
        return;
    m_startTime = time;
    emit startTimeChanged();
}

void Stream::setEndTimeWin32(qulonglong value)
{
    const QDateTime time = fromWin32FileTime(value);
    if (time == m_endTime && time.isNull() == m_endTime.isNull())
        return;
    m_endTime = time;
    emit endTimeChanged();
}

qulonglong Stream::frameCount() const
{
    qulonglong frames = 0;
    for (const SequenceInfo &sequence : m_sequenceInfo)
        frames += sequence.frames;
    return frames;
}

qlonglong Stream::lostFrames(double framesPerSecond, const QDateTime &since) const
{
    if (!(framesPerSecond > 0))
        return 0;
    const double interval = 1e7 / framesPerSecond; // 100 ns units
    const quint64 from = since.isValid() ? toWin32FileTime(since, 0) : 0;
    const auto framesIn = [interval](quint64 a, quint64 b) {
        return b > a ? qRound64(double(b - a) / interval) : qint64(0);
    };
    qlonglong lost = 0;
    const SequenceInfo *previous = nullptr;
    for (const SequenceInfo &sequence : m_sequenceInfo) {
        if (sequence.frames == 0 || sequence.start < from)
            continue;
        lost += qMax<qint64>(0, framesIn(sequence.start, sequence.end) + 1 - qint64(sequence.frames));
        if (previous)
            lost += qMax<qint64>(0, framesIn(previous->end, sequence.start) - 1);
        previous = &sequence;
    }
    return lost;
}

void Stream::setSequences(QVector<Stream::SequenceInfo> info)
{
    m_sequenceInfo = info;
    // The old ranges go only after QML has been told about the new ones.
    const QVector<QSharedPointer<Range>> previous = std::exchange(m_sequences, {});
    m_sequences.reserve(info.size());
    for (const SequenceInfo &sequence : info) {
        auto range = makeThreadShared(new Range);
        QQmlEngine::setObjectOwnership(range.data(), QQmlEngine::CppOwnership);
        range->setFrom(fromWin32FileTime(sequence.start));
        range->setTo(fromWin32FileTime(sequence.end));
        m_sequences.append(range);
    }
    emit sequencesChanged();
}
