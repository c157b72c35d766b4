#include "multimedia/kx/kxloopback.h"

#include <QByteArray>
#include <QFile>
#include <QLoggingCategory>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace nyx::multimedia {

Q_LOGGING_CATEGORY(lcLoopback, "nyx.multimedia.kx.loopback")

namespace {

constexpr quint32 Magic = 0x4b584c31; // "KXL1"
constexpr int SlotCount = 4;
constexpr qsizetype SlotBytes = qsizetype(KXLoopbackMaxWidth) * KXLoopbackMaxHeight * 3 / 2;
constexpr qsizetype PageSize = 4096;

static_assert(std::atomic<quint64>::is_always_lock_free, "shared-memory atomics must be lock-free");

struct SegmentHeader
{
    std::atomic<quint32> magic;
    std::atomic<quint64> sequence;   // number of the newest frame begun
    std::atomic<qint64> writeTimeNs; // CLOCK_MONOTONIC of the last completed write, 0 = unplugged
};

// Stamp 2n: frame n is complete in this slot; 2n-1: frame n is being written.
struct SlotHeader
{
    std::atomic<quint64> stamp;
    std::atomic<qint32> width;
    std::atomic<qint32> height;
    std::atomic<qint64> time;
    std::atomic<qint64> duration;
};

constexpr qsizetype SlotStride = PageSize + SlotBytes;
constexpr qsizetype SegmentBytes = PageSize + SlotCount * SlotStride;

qint64 monotonicNs()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

} // namespace

// One mapped output segment; created on first use by whichever side comes first. A zero-filled
// segment is a valid empty one, so creation needs no initialisation step another process could miss.
class KXSharedSegment
{
public:
    // create: the writer's side makes the segment; a reader only opens one that exists.
    KXSharedSegment(const QString &name, bool create)
    {
        const QByteArray n = name.toUtf8();
        const int fd = shm_open(n.constData(), O_RDWR | (create ? O_CREAT : 0), 0600);
        if (fd < 0) {
            error = QStringLiteral("shm_open %1: %2").arg(name, QString::fromLocal8Bit(strerror(errno)));
            return;
        }
        struct stat st;
        if (fstat(fd, &st) != 0 ||
            (st.st_size < SegmentBytes && (!create || ftruncate(fd, SegmentBytes) != 0))) {
            error = QStringLiteral("ftruncate %1: %2").arg(name, QString::fromLocal8Bit(strerror(errno)));
            close(fd);
            return;
        }
        void *p = mmap(nullptr, SegmentBytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        close(fd);
        if (p == MAP_FAILED) {
            error = QStringLiteral("mmap %1: %2").arg(name, QString::fromLocal8Bit(strerror(errno)));
            return;
        }
        base = static_cast<uchar *>(p);
        quint32 expected = 0;
        if (!header()->magic.compare_exchange_strong(expected, Magic) && expected != Magic) {
            error = QStringLiteral("%1 is not a capture board segment").arg(name);
            munmap(base, SegmentBytes);
            base = nullptr;
        }
    }
    ~KXSharedSegment()
    {
        if (base)
            munmap(base, SegmentBytes);
    }

    SegmentHeader *header() { return reinterpret_cast<SegmentHeader *>(base); }
    SlotHeader *slot(quint64 n)
    {
        return reinterpret_cast<SlotHeader *>(base + PageSize + (n % SlotCount) * SlotStride);
    }
    uchar *slotData(quint64 n) { return reinterpret_cast<uchar *>(slot(n)) + PageSize; }

    uchar *base = nullptr;
    QString error;
};

QString kxLoopbackSegmentName(const QString &outputName)
{
    QString space = qEnvironmentVariable("NYX_KX_NAMESPACE");
    if (space.isEmpty())
        space = QStringLiteral("u%1").arg(getuid());
    QString name = QStringLiteral("/nyx-kx-%1-%2").arg(space, outputName);
    for (QChar &c : name)
        if (!c.isLetterOrNumber() && c != QLatin1Char('-') && c != QLatin1Char('/'))
            c = QLatin1Char('_');
    return name.left(250);
}

KXLoopbackWriter::KXLoopbackWriter(const QString &outputName)
    : m_segment(new KXSharedSegment(kxLoopbackSegmentName(outputName), true))
{
    if (!m_segment->base)
        qCWarning(lcLoopback).noquote()
            << "Capture board output" << outputName << "unavailable:" << m_segment->error;
}

KXLoopbackWriter::~KXLoopbackWriter()
{
    if (m_segment->base && m_written)
        m_segment->header()->writeTimeNs.store(0);
    delete m_segment;
}

bool KXLoopbackWriter::isValid() const
{
    return m_segment->base;
}

QString KXLoopbackWriter::errorString() const
{
    return m_segment->error;
}

bool KXLoopbackWriter::write(const Nv12Frame &frame)
{
    if (!m_segment->base || frame.isNull() || frame.width > KXLoopbackMaxWidth ||
        frame.height > KXLoopbackMaxHeight)
        return false;
    SegmentHeader *h = m_segment->header();
    const quint64 n = h->sequence.fetch_add(1) + 1;
    SlotHeader *s = m_segment->slot(n);
    s->stamp.store(2 * n - 1);
    std::atomic_thread_fence(std::memory_order_release);
    std::memcpy(m_segment->slotData(n), frame.data.constData(),
                Nv12Frame::byteSize(frame.width, frame.height));
    s->width.store(frame.width, std::memory_order_relaxed);
    s->height.store(frame.height, std::memory_order_relaxed);
    s->time.store(frame.time, std::memory_order_relaxed);
    s->duration.store(frame.duration, std::memory_order_relaxed);
    s->stamp.store(2 * n, std::memory_order_release);
    h->writeTimeNs.store(monotonicNs(), std::memory_order_release);
    ++m_written;
    return true;
}

KXLoopbackReader::KXLoopbackReader(const QString &outputName)
    : m_name(kxLoopbackSegmentName(outputName)), m_segment(new KXSharedSegment(m_name, false))
{
}

KXLoopbackReader::~KXLoopbackReader()
{
    delete m_segment;
}

std::optional<Nv12Frame> KXLoopbackReader::latest(int timeoutMs, quint64 *sequence)
{
    // Nothing was ever written to this output: look again now and then (a reader never creates it).
    if (!m_segment->base) {
        const qint64 now = monotonicNs();
        if (now - m_lastOpenAttemptNs < 200000000)
            return std::nullopt;
        m_lastOpenAttemptNs = now;
        delete m_segment;
        m_segment = new KXSharedSegment(m_name, false);
        if (!m_segment->base)
            return std::nullopt;
    }
    SegmentHeader *h = m_segment->header();
    const qint64 written = h->writeTimeNs.load(std::memory_order_acquire);
    if (written == 0 || monotonicNs() - written > qint64(timeoutMs) * 1000000)
        return std::nullopt;
    for (int attempt = 0; attempt < 8; ++attempt) {
        quint64 n = h->sequence.load(std::memory_order_acquire);
        // The newest frame may still be in the writer's hands: fall back to the one before it.
        for (int back = 0; back < 2 && n > 0; ++back, --n) {
            SlotHeader *s = m_segment->slot(n);
            const quint64 before = s->stamp.load(std::memory_order_acquire);
            if (before != 2 * n)
                continue;
            const int w = s->width.load(std::memory_order_relaxed);
            const int hgt = s->height.load(std::memory_order_relaxed);
            const qsizetype size = Nv12Frame::byteSize(w, hgt);
            if (size == 0 || size > SlotBytes)
                break;
            Nv12Frame f = Nv12Frame::create(w, hgt);
            std::memcpy(f.data.data(), m_segment->slotData(n), size);
            f.time = s->time.load(std::memory_order_relaxed);
            f.duration = s->duration.load(std::memory_order_relaxed);
            std::atomic_thread_fence(std::memory_order_acquire);
            if (s->stamp.load(std::memory_order_relaxed) != before) {
                ++m_torn; // overwritten while copying: try the newest again
                break;
            }
            if (sequence)
                *sequence = n;
            return f;
        }
    }
    return std::nullopt;
}

} // namespace nyx::multimedia
