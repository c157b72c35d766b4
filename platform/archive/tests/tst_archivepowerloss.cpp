// A power cut under a recording: the archive lives on an ext4 file system on a loop device mounted with
// errors=remount-ro, a child process records at 25 fps, and an ext4 error (trigger_fs_error) aborts the
// journal, so that nothing written after the last sync reaches the disk, as when the power goes. After
// e2fsck and a new mount every frame the index lists must read back whole, and every frame acknowledged
// more than 2 s before the error must be listed. Needs root and loop devices; skips where refused.

#include "archivetesthelpers.h"
#include "testenvironment.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <thread>
#include <unistd.h>

using namespace archivetest;
using Clock = std::chrono::steady_clock;

namespace {
constexpr std::size_t kSize = 30000;
constexpr LONGLONG kStep = kSecond / 25;

// Child: records paced frames until a call fails; prints "acked <n>" for each frame answered S_OK.
int recordPaced(const QString &root, const QString &storageName)
{
    useRoot(root);
    auto s = server();
    GUID storage{}, stream{};
    if (!s || FAILED(createStorage(s, storageName, &storage, 1LL << 30)) ||
        FAILED(createStream(s, storage, QStringLiteral("Cam"), &stream)))
        return 3;
    CComPtr<IArchiveStream> obj;
    if (FAILED(s->OpenStream(stream, &obj)))
        return 4;
    const DWORD video = channel(obj, QStringLiteral("Video_H264"), 0);
    CComPtr<IArchiveWriter> writer;
    if (FAILED(s->CreateWriter(stream, &writer)) || FAILED(writer->Start(ULONGLONG(kBase))))
        return 5;
    std::printf("ready %s\n", qPrintable(nyx::com::toString(stream)));
    std::fflush(stdout);
    const auto start = Clock::now();
    for (LONGLONG i = 0;; ++i) {
        std::this_thread::sleep_until(start + std::chrono::milliseconds(40 * i));
        const LONGLONG t = kBase + i * kStep;
        const auto bytes = payload(i, kSize);
        if (FAILED(writer->BeginSample(t, t, 0)) ||
            FAILED(writer->Data(int(video), bytes.data(), DWORD(bytes.size()))) ||
            FAILED(writer->EndSample()))
            return 0;
        std::printf("acked %lld\n", static_cast<long long>(i));
        std::fflush(stdout);
    }
}

struct Ran
{
    int code = -1;
    QByteArray output;
};

Ran run(const QString &program, const QStringList &args)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    Ran r;
    if (!p.waitForStarted(10000))
        return r;
    p.waitForFinished(120000);
    r.output = p.readAll();
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return r;
}

// A loop-mounted ext4 image; unmounted, detached and removed whatever happens to the test.
class LoopDisk
{
public:
    ~LoopDisk()
    {
        unmount();
        if (!m_device.isEmpty())
            run(QStringLiteral("losetup"), {QStringLiteral("-d"), m_device});
        QDir(m_dir).removeRecursively();
    }
    // An empty string when it worked, else why not.
    QString make(const QString &dir)
    {
        m_dir = dir;
        m_image = dir + QStringLiteral("/disk.img");
        m_mount = dir + QStringLiteral("/mnt");
        QDir().mkpath(m_mount);
        if (::geteuid() != 0)
            return QStringLiteral("not root");
        QFile image(m_image);
        if (!image.open(QIODevice::WriteOnly) || !image.resize(256LL * 1024 * 1024))
            return QStringLiteral("cannot make the image");
        image.close();
        Ran r = run(QStringLiteral("mkfs.ext4"), {QStringLiteral("-q"), QStringLiteral("-F"), m_image});
        if (r.code != 0)
            return QStringLiteral("mkfs.ext4: ") + QString::fromLocal8Bit(r.output);
        r = run(QStringLiteral("losetup"), {QStringLiteral("-f"), QStringLiteral("--show"), m_image});
        if (r.code != 0)
            return QStringLiteral("losetup refused: ") + QString::fromLocal8Bit(r.output);
        m_device = QString::fromLocal8Bit(r.output).trimmed();
        const QString mounted = mount();
        if (!mounted.isEmpty())
            return mounted;
        if (!QFile::exists(triggerPath()))
            return QStringLiteral("no ") + triggerPath();
        return QString();
    }
    QString mount()
    {
        const Ran r = run(QStringLiteral("mount"),
                          {QStringLiteral("-o"), QStringLiteral("errors=remount-ro"), m_device, m_mount});
        m_mounted = r.code == 0;
        return m_mounted ? QString() : QStringLiteral("mount refused: ") + QString::fromLocal8Bit(r.output);
    }
    void unmount()
    {
        if (m_mounted && run(QStringLiteral("umount"), {m_mount}).code != 0)
            run(QStringLiteral("umount"), {QStringLiteral("-l"), m_mount});
        m_mounted = false;
    }
    QString triggerPath() const
    {
        return QStringLiteral("/sys/fs/ext4/%1/trigger_fs_error").arg(QFileInfo(m_device).fileName());
    }
    bool triggerError()
    {
        QFile trigger(triggerPath());
        return trigger.open(QIODevice::WriteOnly) && trigger.write("1\n") > 0;
    }
    Ran check() { return run(QStringLiteral("e2fsck"), {QStringLiteral("-fy"), m_device}); }
    const QString &mountPoint() const { return m_mount; }

private:
    QString m_dir, m_image, m_mount, m_device;
    bool m_mounted = false;
};

TEST(ArchivePowerLoss, EveryListedFrameIsWholeAndNothingOlderThanTheLastCommitIsLost)
{
    LoopDisk disk;
    const QString why = disk.make(tundra::test::freshDir(QStringLiteral("powerloss")));
    if (!why.isEmpty())
        GTEST_SKIP() << "needs a loop-mounted ext4 (root, loop devices, mount): " << qPrintable(why);
    const QString root = disk.mountPoint() + QStringLiteral("/archive");

    // The recording runs in a child, so that this process never touches the file system after its error.
    QProcess child;
    child.setProcessChannelMode(QProcess::SeparateChannels);
    child.start(QStringLiteral("/proc/self/exe"), {QStringLiteral("--record"), root, QStringLiteral("Main")});
    ASSERT_TRUE(child.waitForStarted(10000));
    std::map<LONGLONG, Clock::time_point> acked; // when this process saw each acknowledgement
    QByteArray pending;
    const auto readAcks = [&] {
        pending += child.readAllStandardOutput();
        int end;
        while ((end = pending.indexOf('\n')) >= 0) {
            const QByteArray line = pending.left(end);
            pending.remove(0, end + 1);
            if (line.startsWith("acked "))
                acked.emplace(line.mid(6).toLongLong(), Clock::now());
        }
    };
    const auto until = Clock::now() + std::chrono::seconds(60);
    while (acked.size() < 150 && Clock::now() < until && child.state() == QProcess::Running) {
        child.waitForReadyRead(100);
        readAcks();
    }
    ASSERT_GE(acked.size(), 150u) << child.readAllStandardError().constData();
    const auto error = Clock::now();
    ASSERT_TRUE(disk.triggerError());
    // The writer meets the read-only file system; give it time to fail, then stop it.
    std::this_thread::sleep_for(std::chrono::seconds(1));
    child.kill();
    child.waitForFinished(10000);
    readAcks();

    disk.unmount();
    const Ran fsck = disk.check();
    ASSERT_GE(fsck.code, 0);
    ASSERT_LE(fsck.code, 1) << fsck.output.constData(); // 1: errors corrected
    ASSERT_EQ(QString(), disk.mount());

    LONGLONG mustHave = -1; // the last frame acknowledged more than 2 s before the error
    for (const auto &a : acked) {
        if (a.second < error - std::chrono::seconds(2))
            mustHave = std::max(mustHave, a.first);
    }
    ASSERT_GE(mustHave, 50);
    {
        useRoot(root);
        auto s = server();
        ASSERT_TRUE(s);
        std::vector<ArchiveStreamHead> streams(4);
        GUID storage{};
        ArchiveStorageRecord record{};
        DWORD n = 0;
        ASSERT_EQ(S_OK, s->GetStorages(&record, 1, &n));
        ASSERT_EQ(1u, n);
        storage = record.storageId;
        ASSERT_EQ(S_OK, s->GetStreams(storage, streams.data(), DWORD(streams.size()), &n));
        ASSERT_EQ(1u, n);
        CComPtr<IArchiveStream> obj;
        ASSERT_EQ(S_OK, s->OpenStream(streams[0].streamId, &obj));
        const DWORD video = channel(obj, QStringLiteral("Video_H264"), 0);
        auto reader = openReader(s, streams[0].streamId);
        LONGLONG t = 0, found = 0, listed = 0, frameNumber = 0;
        LONGLONG expect = 0;
        while (reader->FindFrameInRange(t, INT64_MAX, 1, &found, &frameNumber, 0) == S_OK) {
            const LONGLONG i = (found - kBase) / kStep;
            EXPECT_EQ(expect, i) << "frames are listed without a gap";
            const BYTE *bytes = nullptr;
            DWORD length = 0;
            ASSERT_EQ(S_OK, reader->ReadChannelData(video, &bytes, &length)) << "listed frame " << i;
            const auto want = payload(i, kSize);
            ASSERT_EQ(want.size(), length);
            EXPECT_EQ(0, std::memcmp(want.data(), bytes, length)) << "frame " << i;
            reader->ReleaseFrame();
            t = found + 1;
            expect = i + 1;
            ++listed;
        }
        std::printf("%zu frames acknowledged, %lld listed after the error and e2fsck, %lld acknowledged more "
                    "than 2 s before the error\n",
                    acked.size(), static_cast<long long>(listed), static_cast<long long>(mustHave + 1));
        EXPECT_GT(listed, mustHave) << "a frame acknowledged more than 2 s before the error is lost";
        EXPECT_LE(listed, LONGLONG(acked.size()) + 1);
    }
}
} // namespace

int main(int argc, char **argv)
{
    if (argc == 4 && std::strcmp(argv[1], "--record") == 0)
        return recordPaced(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
