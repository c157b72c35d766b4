// archivectl: the seeding form is idempotent, and what it makes is what the server lists.

#include "archivetesthelpers.h"
#include "testenvironment.h"

#include <QProcess>
#include <gtest/gtest.h>

using namespace archivetest;

namespace {
struct CtlResult
{
    int code;
    QString out;
};

CtlResult archivectl(const QStringList &args)
{
    QProcess p;
    p.start(tundra::test::binDir() + QStringLiteral("/archivectl"), args);
    if (!p.waitForFinished(60000))
        return {-1, QString()};
    return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput())};
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
} // namespace
