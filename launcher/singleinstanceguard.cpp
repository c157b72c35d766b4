#include "singleinstanceguard.h"

#include "win32/console.h"
#include "win32/process.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QFileInfo>
#include <cstring>

namespace {
constexpr int kSegmentSize = 8;

class SemaphoreLock
{
public:
    explicit SemaphoreLock(QSystemSemaphore &s) : m_semaphore(s) { m_semaphore.acquire(); }
    ~SemaphoreLock() { m_semaphore.release(); }

private:
    QSystemSemaphore &m_semaphore;
};

// Whether the process runs this program's executable. One whose executable cannot be read is
// taken for it: a second instance is refused rather than let in beside a live one.
bool runsThisExecutable(HANDLE process)
{
    WCHAR name[4096];
    DWORD size = DWORD(sizeof name / sizeof name[0]);
    if (!QueryFullProcessImageNameW(process, 0, name, &size))
        return true;
    const QString image = QFileInfo(QString::fromUtf16(name, int(size))).canonicalFilePath();
    return image.isEmpty() || image == QFileInfo(QCoreApplication::applicationFilePath()).canonicalFilePath();
}

// The owner recorded in the segment is a running instance of this program: a process id left
// by an ended instance may since belong to a process that has ended too (not yet collected by
// its parent) or to another program.
bool ownerIsRunning(quint64 pid)
{
    if (pid == 0 || pid > 0xFFFFFFFFu || pid == GetCurrentProcessId())
        return false;
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
    if (!process)
        return false;
    DWORD code = 0;
    const bool running =
        GetExitCodeProcess(process, &code) && code == STILL_ACTIVE && runsThisExecutable(process);
    CloseHandle(process);
    return running;
}
} // namespace

SingleInstanceGuard::SingleInstanceGuard()
    : m_semaphore(generateKeyHash(QStringLiteral("1")), 1, QSystemSemaphore::Open),
      m_sharedMemory(generateKeyHash(QStringLiteral("2")))
{
}

SingleInstanceGuard::~SingleInstanceGuard()
{
    release();
}

QString SingleInstanceGuard::generateKeyHash(const QString &suffix)
{
    QByteArray data = QCoreApplication::applicationFilePath().toLower().toUtf8();
    data.append(suffix.toUtf8());
    return QString::fromLatin1(QCryptographicHash::hash(data, QCryptographicHash::Sha1).toHex());
}

bool SingleInstanceGuard::isAnotherRunning()
{
    if (m_sharedMemory.isAttached())
        return false;
    SemaphoreLock lock(m_semaphore);
    if (!m_sharedMemory.attach(QSharedMemory::ReadWrite))
        return false;
    quint64 owner = 0;
    if (m_sharedMemory.size() >= kSegmentSize) {
        m_sharedMemory.lock();
        std::memcpy(&owner, m_sharedMemory.constData(), sizeof owner);
        m_sharedMemory.unlock();
    }
    // Detaching the last attachment removes the segment, so a stale one is gone after this.
    m_sharedMemory.detach();
    return ownerIsRunning(owner);
}

bool SingleInstanceGuard::tryToRun()
{
    if (isAnotherRunning())
        return false;
    bool created;
    {
        SemaphoreLock lock(m_semaphore);
        created = m_sharedMemory.create(kSegmentSize, QSharedMemory::ReadWrite);
        if (created) {
            const quint64 self = GetCurrentProcessId();
            m_sharedMemory.lock();
            std::memcpy(m_sharedMemory.data(), &self, sizeof self);
            m_sharedMemory.unlock();
        }
    }
    if (!created) {
        release();
        return false;
    }
    return true;
}

void SingleInstanceGuard::release()
{
    SemaphoreLock lock(m_semaphore);
    if (m_sharedMemory.isAttached())
        m_sharedMemory.detach();
}
