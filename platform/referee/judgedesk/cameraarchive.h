#pragma once
// JudgeDesk's cameras in the archive: binds the archive server, creates the storage and the camera
// streams that are missing and reads each stream's recorded span for the camera answer.
//
// Binding waits for the server's readiness on a timer, so the event loop keeps running; the
// outcome arrives as settled(). The server and the streams stay cached while they answer; a
// failure drops the binding and the next open() starts over.

#include "deskconfig.h"

#include "archive/irewindserver.h"
#include "com/comptr.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <QUuid>
#include <QVector>

struct CameraTimes
{
    QUuid id;                 // the stream's id; null while unknown
    bool fromArchive = false; // the stream was read; false for an id that is not in the archive
    quint64 begin = 0;        // FILETIME of the first frame, 0 with nothing recorded
    quint64 end = 0;          // FILETIME of the last frame, 0 with nothing recorded
};

class CameraArchive : public QObject
{
    Q_OBJECT

public:
    CameraArchive(const QString &storageName, const QVector<DeskCamera> &cameras, QObject *parent = nullptr);
    ~CameraArchive() override;

    // Starts binding unless the archive is open or opening.
    void open();
    bool isOpen() const { return m_state == State::Open; }
    bool isOpening() const { return m_state == State::Opening; }
    // One entry per camera. False when the archive cannot be read: the ids are the last known ones
    // and no entry is from the archive.
    bool readCameras(QVector<CameraTimes> *cameras);

    // How long a server may stay not ready before the binding is given up.
    static constexpr int kReadyTimeoutMs = 10000;

signals:
    // Binding finished, opened or failed.
    void settled();

private:
    enum class State
    {
        Closed,
        Opening,
        Open
    };
    struct Binding
    {
        GUID id{};
        CComPtr<IArchiveStream> stream; // null for a stream that is not in the archive
    };

    void pollReady();
    HRESULT bindStreams(QString *what);
    HRESULT findOrCreateStorage(GUID *id);
    HRESULT findOrCreateStream(const GUID &storage, const QString &name, Binding *binding);
    void close(const QString &what, HRESULT hr);
    void warn(const QString &text);

    QString m_storageName;
    QVector<DeskCamera> m_cameras;
    QVector<Binding> m_bindings;
    State m_state = State::Closed;
    CComPtr<IRewindServer> m_server;
    QTimer m_readyTimer;
    QElapsedTimer m_opening;
    QString m_lastWarning;
};
