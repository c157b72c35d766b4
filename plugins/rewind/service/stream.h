#pragma once
// The QML object of one archive stream: name, start and end time, recorded sequences.

#include <QDateTime>
#include <QObject>
#include <QQmlListProperty>
#include <QSharedPointer>
#include <QUuid>
#include <QVector>

struct IRewindServer;
class QThread;
class QTimer;
class Range;
class StreamUpdater;

class Stream : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString name READ name NOTIFY nameChanged)
    Q_PROPERTY(QDateTime startTime READ startTime NOTIFY startTimeChanged)
    Q_PROPERTY(QDateTime endTime READ endTime NOTIFY endTimeChanged)
    Q_PROPERTY(QQmlListProperty<Range> sequences READ sequences NOTIFY sequencesChanged)
    // Frames the archive holds in the stream's sequences.
    Q_PROPERTY(qulonglong frameCount READ frameCount NOTIFY sequencesChanged)

public:
    struct SequenceInfo
    {
        quint64 start = 0; // FILETIME of the first and the last frame
        quint64 end = 0;
        quint64 frames = 0;
        bool operator==(const SequenceInfo &o) const
        {
            return start == o.start && end == o.end && frames == o.frames;
        }
    };

    Stream(IRewindServer *server, const QUuid &storageGuid, const QUuid &guid, bool isAudio,
           const QString &name, const QSharedPointer<QTimer> &timer, const QSharedPointer<QThread> &thread);
    ~Stream() override;

    QString name() const { return m_name; }
    bool isAudio() const { return m_isAudio; }
    int decoderKind() const { return m_decoderKind; }
    void setDecoderKind(int kind) { m_decoderKind = kind; }
    int decoderIndex() const { return m_decoderIndex; }
    void setDecoderIndex(int index) { m_decoderIndex = index; }
    QUuid guid() const { return m_guid; }
    QUuid storageGuid() const { return m_storageGuid; }
    QDateTime startTime() const { return m_startTime; }
    QDateTime endTime() const { return m_endTime; }
    QQmlListProperty<Range> sequences();
    qulonglong frameCount() const;
    // Frame times at framesPerSecond that the sequences whose first frame lies at or after `since`
    // do not hold: the gaps inside each of them and those between one and the next. An invalid
    // `since` takes every sequence.
    Q_INVOKABLE qlonglong lostFrames(double framesPerSecond, const QDateTime &since = QDateTime()) const;
    // The recorded sequences as Range objects without a stream.
    QVector<QSharedPointer<Range>> sequenceRanges() const { return m_sequences; }

    QSharedPointer<StreamUpdater> updater() const { return m_updater; }
    // Disconnects and gives up the worker-thread updater, on the worker thread at shutdown.
    void releaseUpdater();
    QSharedPointer<QThread> thread() const { return m_thread; }

    // Moves the stream and the Range objects of its sequences to another thread (called on the
    // stream's own thread): QML binds to both, and they must live and die where the engine does.
    void moveWithSequences(QThread *target);

signals:
    void nameChanged();
    void startTimeChanged();
    void endTimeChanged();
    void sequencesChanged();

private slots:
    void setStartTimeWin32(qulonglong value);
    void setEndTimeWin32(qulonglong value);
    void setSequences(QVector<Stream::SequenceInfo> info);

private:
    static int sequenceCount(QQmlListProperty<Range> *list);
    static Range *sequenceAt(QQmlListProperty<Range> *list, int index);

    QString m_name;
    bool m_isAudio;
    int m_decoderKind = -1;
    int m_decoderIndex = 0;
    QUuid m_guid;
    QUuid m_storageGuid;
    QSharedPointer<StreamUpdater> m_updater;
    QSharedPointer<QThread> m_thread;
    QDateTime m_startTime;
    QDateTime m_endTime;
    QVector<QSharedPointer<Range>> m_sequences;
    QVector<SequenceInfo> m_sequenceInfo;
};

Q_DECLARE_METATYPE(Stream::SequenceInfo)
Q_DECLARE_METATYPE(QVector<Stream::SequenceInfo>)
