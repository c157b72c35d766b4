// archivectl: the seeding form is idempotent, and what it makes is what the server lists.

#include "archivetesthelpers.h"
#include "testenvironment.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <gtest/gtest.h>

using namespace archivetest;

namespace {
struct CtlResult
{
    int code;
    QString out;
    QString err;
};

CtlResult archivectl(const QStringList &args)
{
    QProcess p;
    p.start(tundra::test::binDir() + QStringLiteral("/archivectl"), args);
    if (!p.waitForFinished(60000))
        return {-1, QString(), QString()};
    return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

TEST(Archivectl, EnsureCreatesOnceAndTheServerListsIt)
{
    const QString root = tundra::test::freshDir(QStringLiteral("archivectl"));
    const QStringList base = {QStringLiteral("--root"), root};
    const CtlResult first = archivectl(base + QStringList{"ensure", "Main", "Cam1,Cam2"});
    ASSERT_EQ(0, first.code);
    const CtlResult second = archivectl(base + QStringList{"ensure", "Main", "Cam2,Cam3", "--type", "7"});
    ASSERT_EQ(0, second.code);
    // The storage and Cam2 keep their identifiers.
    EXPECT_EQ(first.out.split('\n').value(0), second.out.split('\n').value(0));
    EXPECT_EQ(first.out.split('\n').value(2), second.out.split('\n').value(1));

    useRoot(root);
    auto s = server();
    DWORD n = 0;
    ArchiveStorageRecord storages[2] = {};
    ASSERT_EQ(S_OK, s->GetStorages(storages, 2, &n));
    ASSERT_EQ(1u, n);
    EXPECT_EQ(QStringLiteral("Main"), name(storages[0].name));
    ArchiveStreamHead heads[4] = {};
    ASSERT_EQ(S_OK, s->GetStreams(storages[0].storageId, heads, 4, &n));
    ASSERT_EQ(3u, n);
    EXPECT_EQ(QStringLiteral("Cam1"), name(heads[0].name));
    EXPECT_EQ(QStringLiteral("Cam3"), name(heads[2].name));
    EXPECT_EQ(3u, heads[0].streamType);
    EXPECT_EQ(7u, heads[2].streamType);
    // The attribute block of a created stream is a formatted, empty store.
    CComPtr<IArchiveStream> obj;
    ASSERT_EQ(S_OK, s->OpenStream(heads[0].streamId, &obj));
    ArchiveStreamRecord record{};
    ASSERT_EQ(S_OK, obj->ReadRecord(&record));
    CComPtr<IAttributeStore> store;
    ASSERT_EQ(S_OK, store.CoCreateInstance(CLSID_AttributeStore));
    ASSERT_EQ(S_OK, store->Bind(record.attributes, 4096, FALSE));
    EXPECT_EQ(0, std::memcmp(record.attributes, "NYXA", 4));

    const CtlResult list = archivectl(base + QStringList{"list"});
    ASSERT_EQ(0, list.code);
    EXPECT_TRUE(list.out.contains(QStringLiteral("Cam3 type=7")));
    EXPECT_EQ(0, archivectl(base + QStringList{"info", "Main", "Cam1"}).code);
    EXPECT_EQ(0, archivectl(base + QStringList{"dump", "Main", "Cam1"}).code);
    EXPECT_EQ(0, archivectl(base + QStringList{"delete-stream", "Main", "Cam2"}).code);
    EXPECT_EQ(1, archivectl(base + QStringList{"delete-stream", "Main", "Cam2"}).code);
    ASSERT_EQ(S_OK, s->GetStreams(storages[0].storageId, heads, 4, &n));
    EXPECT_EQ(2u, n);
    EXPECT_EQ(1, archivectl(base + QStringList{"create-stream", "Main", QString(256, 'x')}).code);
    EXPECT_EQ(2, archivectl(base + QStringList{"frobnicate"}).code);
    EXPECT_EQ(0, archivectl(base + QStringList{"delete-storage", "Main"}).code);
    ASSERT_EQ(S_OK, s->GetStorageCount(&n));
    EXPECT_EQ(0u, n);
}
// What the operator gets wrong is answered as such: the exit code and the error the tool prints.
TEST(Archivectl, RefusesWhatIsWrongWithTheRightAnswer)
{
    const QString root = tundra::test::freshDir(QStringLiteral("archivectl-refusals"));
    const QString missing = root + QStringLiteral("/no-such-root");
    ASSERT_EQ(0, archivectl({"--root", root, "ensure", "Main", "Cam"}).code);
    struct Case
    {
        QStringList args;
        int code;
        const char *error; // printed on stderr; empty: not checked
    };
    const Case cases[] = {
        {{"--root", root, "info", "Nope", "Cam"}, 1, "0x80070490"},
        {{"--root", root, "info", "Main", "Nope"}, 1, "0x80070490"},
        {{"--root", root, "delete-storage", "Nope"}, 1, "0x80070490"},
        {{"--root", root, "delete-stream", "Main", "Nope"}, 1, "0x80070490"},
        {{"--root", root, "dump", "Nope", "Cam"}, 1, "0x80070490"},
        {{"--root", root, "create-stream", "Main", "X", "--type", "5"}, 2, ""},
        {{"--root", root, "ensure", "Main", "Y", "--type", "0"}, 2, ""},
        {{"--root", root, "create-stream", "Main", "Two\nLines"}, 1, "0x80070057"},
        {{"--root", root, "create-storage", "Tab\tName"}, 1, "0x80070057"},
        {{"--root", root, "ensure", "Main", "A,B\tC"}, 1, "0x80070057"},
        {{"--root", root, "create-storage", "   "}, 1, "not only spaces"},
        {{"--root", root, "create-stream", "Main", " \u00a0 "}, 1, "not only spaces"},
        {{"--root", root, "ensure", "Main", "Z,  "}, 1, "not only spaces"},
        {{"--root", root, "dump", "Main", "Cam", "--limit", "-1"}, 2, "--limit must be 0 or more"},
        {{"--root", root, "dump", "Main", "Cam", "--from", "5", "--to", "1"}, 2, "not after --to"},
        {{"--root", root, "dump", "Main", "Cam", "--from", "-5"}, 2, "must be 0 or more"},
        {{"--root", missing, "list"}, 1, "does not exist"},
        {{"--root", missing, "info", "Main", "Cam"}, 1, "does not exist"},
    };
    for (const Case &c : cases) {
        const CtlResult r = archivectl(c.args);
        EXPECT_EQ(c.code, r.code) << qPrintable(c.args.join(' '));
        EXPECT_TRUE(r.err.contains(QLatin1String(c.error)))
            << qPrintable(c.args.join(' ')) << ": " << qPrintable(r.err);
    }
    EXPECT_FALSE(QDir(missing).exists()) << "a root is created only by a creating command";
    const CtlResult list = archivectl({"--root", root, "list"});
    EXPECT_FALSE(list.out.contains(QLatin1Char('X'))) << qPrintable(list.out);
    EXPECT_FALSE(list.out.contains(QStringLiteral("Tab"))) << qPrintable(list.out);
    EXPECT_FALSE(list.out.contains(QLatin1Char('Z'))) << qPrintable(list.out);
    EXPECT_EQ(2, list.out.count(QLatin1Char('\n'))) << "only Main and Cam: " << qPrintable(list.out);
    EXPECT_EQ(0, archivectl({"--root", missing, "create-storage", "New"}).code);
    EXPECT_TRUE(QDir(missing).exists());
}

// dump fails on damaged frames and reports each one once.
TEST(Archivectl, DumpFailsOnDamagedFramesAndReportsEachOnce)
{
    const QString root = tundra::test::freshDir(QStringLiteral("archivectl-damage"));
    useRoot(root);
    {
        auto s = server();
        GUID storage{}, stream{};
        ASSERT_EQ(S_OK, createStorage(s, QStringLiteral("Main"), &storage));
        ASSERT_EQ(S_OK, createStream(s, storage, QStringLiteral("Cam"), &stream));
        CComPtr<IArchiveStream> obj;
        ASSERT_EQ(S_OK, s->OpenStream(stream, &obj));
        const DWORD video = channel(obj, QStringLiteral("Video_H264"), 0);
        CComPtr<IArchiveWriter> writer;
        ASSERT_EQ(S_OK, s->CreateWriter(stream, &writer));
        ASSERT_EQ(S_OK, writer->Start(ULONGLONG(kBase)));
        for (int i = 0; i < 10; ++i) {
            const auto bytes = payload(i, 1000);
            const LONGLONG t = kBase + i * kFrame;
            ASSERT_EQ(S_OK, writer->BeginSample(t, t, 0));
            ASSERT_EQ(S_OK, writer->Data(int(video), bytes.data(), DWORD(bytes.size())));
            ASSERT_EQ(S_OK, writer->EndSample());
        }
        ASSERT_EQ(S_OK, writer->Stop());
    }
    EXPECT_EQ(0, archivectl({"--root", root, "dump", "Main", "Cam"}).code);
    // Damage frames 2 and 7 (each frame: 32-byte header, 12-byte record head, 1000 bytes).
    QDirIterator it(root, {QStringLiteral("seg-*.dat")}, QDir::Files, QDirIterator::Subdirectories);
    ASSERT_TRUE(it.hasNext());
    QFile segment(it.next());
    ASSERT_TRUE(segment.open(QIODevice::ReadWrite));
    for (int frame : {2, 7}) {
        segment.seek(frame * 1044 + 500);
        segment.write("\x01\x02\x03", 3);
    }
    segment.close();
    const CtlResult dump = archivectl({"--root", root, "dump", "Main", "Cam"});
    EXPECT_EQ(1, dump.code);
    EXPECT_EQ(10, dump.out.count(QStringLiteral("frame ")));
    EXPECT_EQ(2, dump.out.count(QStringLiteral("damaged")));
    EXPECT_EQ(2, dump.err.count(QStringLiteral("Damaged frame"))) << qPrintable(dump.err);

    // A segment file gone: every frame it held is missing, and dump says so in its exit code.
    ASSERT_TRUE(QFile::remove(segment.fileName()));
    const CtlResult gone = archivectl({"--root", root, "dump", "Main", "Cam"});
    EXPECT_EQ(1, gone.code) << qPrintable(gone.err);
    EXPECT_EQ(10, gone.out.count(QStringLiteral("missing")));
    EXPECT_TRUE(gone.err.contains(QStringLiteral("10 damaged or missing"))) << qPrintable(gone.err);
}
} // namespace
