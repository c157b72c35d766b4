#pragma once
// The loopback cable of the capture board: NV12 frames written into an output (by any process) are
// read by the input of the same number. One shared-memory segment per output holds a small ring of
// frame slots with sequence stamps (a seqlock): the writer never waits for anyone, a reader copies
// the newest complete frame and detects a torn copy, and nothing holds a lock that a crashed process
// could leave behind. A reader treats the output as unplugged once no frame arrived for a timeout.
// Only a writer creates an output's segment; a reader looks for it now and then until it exists.

#include "multimedia/engines/nv12frame.h"

#include <QString>

#include <optional>

namespace nyx::multimedia {

class KXSharedSegment;

// Largest frame an output carries.
constexpr int KXLoopbackMaxWidth = 1920;
constexpr int KXLoopbackMaxHeight = 1080;

// The name of the shared-memory segment of an output. Programs of one user share one board; the
// environment variable NYX_KX_NAMESPACE gives a test a board of its own.
QString kxLoopbackSegmentName(const QString &outputName);

class KXLoopbackWriter
{
public:
    explicit KXLoopbackWriter(const QString &outputName);
    ~KXLoopbackWriter(); // marks the output unplugged at once
    KXLoopbackWriter(const KXLoopbackWriter &) = delete;
    KXLoopbackWriter &operator=(const KXLoopbackWriter &) = delete;

    bool isValid() const;
    QString errorString() const;
    // Publishes one frame (never blocks); false when the frame is too big or the segment is missing.
    bool write(const Nv12Frame &frame);
    quint64 framesWritten() const { return m_written; }

private:
    KXSharedSegment *m_segment;
    quint64 m_written = 0;
};

class KXLoopbackReader
{
public:
    explicit KXLoopbackReader(const QString &outputName);
    ~KXLoopbackReader();
    KXLoopbackReader(const KXLoopbackReader &) = delete;
    KXLoopbackReader &operator=(const KXLoopbackReader &) = delete;

    // The newest frame when a writer published one within timeoutMs, else nullopt. *sequence receives
    // the frame's number, so that a caller can tell a new frame from a repeated one.
    std::optional<Nv12Frame> latest(int timeoutMs, quint64 *sequence = nullptr);
    // Copies that were overwritten while being read (and retried).
    quint64 tornReads() const { return m_torn; }

private:
    QString m_name;
    KXSharedSegment *m_segment;
    qint64 m_lastOpenAttemptNs = 0;
    quint64 m_torn = 0;
};

} // namespace nyx::multimedia
