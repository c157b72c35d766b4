// The archive server's contract, exercised through its COM interfaces only.

#include "archive/src/crc32c.h"
#include "archivetesthelpers.h"
#include "testenvironment.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QThread>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <random>
#include <set>
#include <thread>

using namespace archivetest;
using nyx::archive::faults::Operation;

namespace {
constexpr HRESULT kNotFound = HRESULT_FROM_WIN32(1168);
constexpr HRESULT kMoreData = HRESULT_FROM_WIN32(234);

class Archive : public ::testing::Test
{
protected:
    void SetUp() override
    {
        root = tundra::test::freshDir(
            QString::fromLatin1(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        useRoot(root);
        s.Attach(server().Detach());
        ASSERT_TRUE(s);
        ASSERT_EQ(S_OK, createStorage(s, QStringLiteral("Main"), &storage));
        ASSERT_EQ(S_OK, createStream(s, storage, QStringLiteral("Cam1"), &stream));
        ASSERT_EQ(S_OK, s->OpenStream(stream, &obj));
        keyFrame = channel(obj, QStringLiteral("KeyFrame"), 1);
        video = channel(obj, QStringLiteral("Video_H264"), 0);
        ASSERT_GT(keyFrame, 0u);
        ASSERT_GT(video, 0u);
    }
    void TearDown() override { nyx::archive::faults::clear(); }

    // Records frames at the given times; every `keyEvery`-th one carries a key-frame mark.
    void record(const std::vector<LONGLONG> &times, int keyEvery = 5, std::size_t size = 1000)
    {
        CComPtr<IArchiveWriter> writer;
        ASSERT_EQ(S_OK, s->CreateWriter(stream, &writer));
        ASSERT_EQ(S_OK, writer->Start(static_cast<ULONGLONG>(times.front())));
        for (std::size_t i = 0; i < times.size(); ++i) {
            const auto bytes = payload(times[i], size);
            ASSERT_EQ(S_OK, writer->BeginSample(times[i], times[i], 0));
            ASSERT_EQ(S_OK, writer->Data(int(video), bytes.data(), DWORD(bytes.size())));
            const BYTE attributes[3] = {1, 2, 3};
            ASSERT_EQ(S_OK, writer->Blob(int(video), attributes, 3));
            if (i % std::size_t(keyEvery) == 0) {
                ASSERT_EQ(S_OK, writer->Blob(int(keyFrame), nullptr, 0));
            }
            ASSERT_EQ(S_OK, writer->EndSample());
        }
        ASSERT_EQ(S_OK, writer->Stop());
    }

    static std::vector<LONGLONG> run(LONGLONG start, int count)
    {
        std::vector<LONGLONG> t;
        for (int i = 0; i < count; ++i)
            t.push_back(start + i * kFrame);
        return t;
    }

    LONGLONG find(IArchiveReader *reader, LONGLONG time, DWORD mode, DWORD filter = 0)
    {
        LONGLONG found = -1;
        const HRESULT hr = reader->FindFrame(time, mode, &found, nullptr, nullptr, nullptr, filter);
        reader->ReleaseFrame();
        return hr == S_OK ? found : -1;
    }

    QString root;
    CComPtr<IRewindServer> s;
    CComPtr<IArchiveStream> obj;
    GUID storage{}, stream{};
    DWORD keyFrame = 0, video = 0;
};

TEST_F(Archive, RoundTripKeepsBytesAndTimes)
{
    const auto times = run(kBase, 20);
    record(times, 5, 100 * 1024);
    auto reader = openReader(s, stream);
    ASSERT_TRUE(reader);
    LONGLONG t = 0;
    for (LONGLONG expected : times) {
        LONGLONG found = 0;
        ASSERT_EQ(S_OK, reader->FindFrameInRange(t, INT64_MAX, 1, &found, nullptr, 0));
        EXPECT_EQ(expected, found);
        const BYTE *bytes = nullptr;
        DWORD length = 0;
        ASSERT_EQ(S_OK, reader->ReadChannelData(video, &bytes, &length));
        const auto want = payload(expected, 100 * 1024);
        ASSERT_EQ(want.size(), length);
        EXPECT_EQ(0, std::memcmp(want.data(), bytes, length));
        const BYTE *blob = nullptr;
        DWORD blobLength = 0;
        ASSERT_EQ(S_OK, reader->ReadChannelBlob(video, &blob, &blobLength));
        ASSERT_EQ(3u, blobLength);
        EXPECT_EQ(3, blob[2]);
        // The data pointer stays valid while the blob is read; the empty key-frame mark is present.
        EXPECT_EQ(0, std::memcmp(want.data(), bytes, 16));
        const bool key = ((expected - kBase) / kFrame) % 5 == 0;
        EXPECT_EQ(key ? S_OK : kNotFound, reader->ReadChannelBlob(keyFrame, &blob, &blobLength));
        if (key) {
            EXPECT_EQ(0u, blobLength);
            EXPECT_NE(nullptr, blob);
        }
        EXPECT_EQ(kNotFound, reader->ReadChannelData(keyFrame, &blob, &blobLength));
        ASSERT_EQ(S_OK, reader->ReleaseFrame());
        t = found + 1;
    }
    LONGLONG found = 0;
    EXPECT_EQ(kNotFound, reader->FindFrameInRange(t, INT64_MAX, 1, &found, nullptr, 0));
    const BYTE *bytes = nullptr;
    DWORD length = 0;
    EXPECT_EQ(E_NOT_VALID_STATE, reader->ReadChannelData(video, &bytes, &length));
}

// Records of any size, small and large mixed in one frame, are stored whole even though the caller
// reuses its buffers as soon as each call returns.
TEST_F(Archive, FramesOfAnySizeKeepEveryRecord)
{
    const DWORD audio = channel(obj, QStringLiteral("Audio"), 0);
    ASSERT_GT(audio, 0u);
    struct Record
    {
        DWORD channel;
        bool blob;
        std::size_t size;
    };
    const std::vector<std::vector<Record>> frames = {
        {{video, false, 5u << 20}, {video, true, 100}, {keyFrame, true, 0}},
        {{video, false, 3u << 20}, {video, true, 2u << 20}, {audio, false, 10}},
        {{audio, false, 200}, {video, true, 300}, {video, false, 4u << 20}},
        {{audio, false, 0}},
        {{video, false, 100 * 1024}, {video, true, 64}},
    };
    const auto bytesOf = [](std::size_t frame, std::size_t record, std::size_t size) {
        return payload(LONGLONG(frame * 10 + record), size);
    };
    CComPtr<IArchiveWriter> writer;
    ASSERT_EQ(S_OK, s->CreateWriter(stream, &writer));
    ASSERT_EQ(S_OK, writer->Start(ULONGLONG(kBase)));
    for (std::size_t f = 0; f < frames.size(); ++f) {
        const LONGLONG t = kBase + LONGLONG(f) * kFrame;
        ASSERT_EQ(S_OK, writer->BeginSample(t, t, 0));
        for (std::size_t r = 0; r < frames[f].size(); ++r) {
            const Record &rec = frames[f][r];
            auto bytes = bytesOf(f, r, rec.size);
            ASSERT_EQ(S_OK, rec.blob ? writer->Blob(int(rec.channel), bytes.data(), DWORD(bytes.size()))
                                     : writer->Data(int(rec.channel), bytes.data(), DWORD(bytes.size())));
            std::fill(bytes.begin(), bytes.end(), BYTE(0xEE));
        }
        ASSERT_EQ(S_OK, writer->EndSample());
    }
    ASSERT_EQ(S_OK, writer->Stop());

    auto reader = openReader(s, stream);
    ASSERT_TRUE(reader);
    for (std::size_t f = 0; f < frames.size(); ++f) {
        LONGLONG found = 0;
        ASSERT_EQ(S_OK,
                  reader->FindFrame(kBase + LONGLONG(f) * kFrame, 1, &found, nullptr, nullptr, nullptr, 0));
        ASSERT_EQ(kBase + LONGLONG(f) * kFrame, found);
        for (std::size_t r = 0; r < frames[f].size(); ++r) {
            const Record &rec = frames[f][r];
            const BYTE *bytes = nullptr;
            DWORD length = 0;
            ASSERT_EQ(S_OK, rec.blob ? reader->ReadChannelBlob(rec.channel, &bytes, &length)
                                     : reader->ReadChannelData(rec.channel, &bytes, &length))
                << "frame " << f << " record " << r;
            const auto want = bytesOf(f, r, rec.size);
            ASSERT_EQ(want.size(), length) << "frame " << f << " record " << r;
            EXPECT_TRUE(std::equal(want.begin(), want.end(), bytes)) << "frame " << f << " record " << r;
        }
        ASSERT_EQ(S_OK, reader->ReleaseFrame());
    }
}

TEST_F(Archive, FindModesWithAndWithoutFilter)
{
    const auto times = run(kBase, 10); // key frames at 0 and 5
    record(times, 5);
    auto reader = openReader(s, stream);
    const LONGLONG mid = times[3] + kFrame / 2;
    EXPECT_EQ(times[4], find(reader, mid, 1));
    EXPECT_EQ(times[3], find(reader, mid, 2));
    EXPECT_EQ(times[3], find(reader, mid, 3));
    EXPECT_EQ(times[3], find(reader, times[3], 1));
    EXPECT_EQ(times[3], find(reader, times[3], 2));
    EXPECT_EQ(times[3], find(reader, times[3], 3));
    // Before the first and after the last frame.
    EXPECT_EQ(times[0], find(reader, kBase - kSecond, 1));
    EXPECT_EQ(-1, find(reader, kBase - kSecond, 2));
    EXPECT_EQ(times[0], find(reader, kBase - kSecond, 3));
    EXPECT_EQ(-1, find(reader, times[9] + 1, 1));
    EXPECT_EQ(times[9], find(reader, times[9] + kSecond, 2));
    EXPECT_EQ(times[9], find(reader, times[9] + kSecond, 3));
    // Filtered on the key-frame channel.
    EXPECT_EQ(times[5], find(reader, mid, 1, keyFrame));
    EXPECT_EQ(times[0], find(reader, mid, 2, keyFrame));
    EXPECT_EQ(times[0], find(reader, mid, 3, keyFrame));
    EXPECT_EQ(-1, find(reader, times[6], 1, keyFrame));
    EXPECT_EQ(times[5], find(reader, times[9], 2, keyFrame));
    // Filtering on the (dense) data channel skips a frame that has no record there.
    {
        CComPtr<IArchiveWriter> writer;
        ASSERT_EQ(S_OK, s->CreateWriter(stream, &writer));
        ASSERT_EQ(S_OK, writer->Start(ULONGLONG(times[9] + kFrame)));
        for (int i = 10; i < 12; ++i) {
            const LONGLONG t = kBase + i * kFrame;
            ASSERT_EQ(S_OK, writer->BeginSample(t, t, 0));
            if (i == 11) {
                const BYTE b = 1;
                ASSERT_EQ(S_OK, writer->Data(int(video), &b, 1));
            } else {
                ASSERT_EQ(S_OK, writer->Blob(int(keyFrame), nullptr, 0));
            }
            ASSERT_EQ(S_OK, writer->EndSample());
        }
        ASSERT_EQ(S_OK, writer->Stop());
    }
    EXPECT_EQ(kBase + 11 * kFrame, find(reader, times[9] + 1, 1, video));
    EXPECT_EQ(times[9], find(reader, kBase + 10 * kFrame, 2, video));
    EXPECT_EQ(kBase + 10 * kFrame, find(reader, kBase + 12 * kFrame, 2, keyFrame));
    // A channel no frame uses finds nothing; a bad mode is refused.
    const DWORD unused = channel(obj, QStringLiteral("Audio_RAW"), 0);
    EXPECT_EQ(-1, find(reader, mid, 3, unused));
    LONGLONG found = 0;
    EXPECT_EQ(E_INVALIDARG, reader->FindFrame(mid, 0, &found, nullptr, nullptr, nullptr, 0));
    EXPECT_EQ(E_INVALIDARG, reader->FindFrame(mid, 4, &found, nullptr, nullptr, nullptr, 0));
    EXPECT_EQ(E_POINTER, reader->FindFrame(mid, 1, nullptr, nullptr, nullptr, nullptr, 0));
    DWORD size = 0, sequence = 0;
    LONGLONG number = 0;
    ASSERT_EQ(S_OK, reader->FindFrame(times[2], 1, &found, &size, &sequence, &number, 0));
    EXPECT_EQ(3, number);
    EXPECT_GT(size, 1000u);
}

TEST_F(Archive, FindInRange)
{
    const auto times = run(kBase, 10);
    record(times, 5);
    auto reader = openReader(s, stream);
    LONGLONG found = 0;
    ASSERT_EQ(S_OK, reader->FindFrameInRange(times[2] + 1, times[7], 1, &found, nullptr, 0));
    EXPECT_EQ(times[3], found);
    ASSERT_EQ(S_OK, reader->FindFrameInRange(times[2] + 1, times[7], 2, &found, nullptr, 0));
    EXPECT_EQ(times[7], found);
    ASSERT_EQ(S_OK, reader->FindFrameInRange(times[1], times[8], 1, &found, nullptr, keyFrame));
    EXPECT_EQ(times[5], found);
    EXPECT_EQ(kNotFound, reader->FindFrameInRange(times[1], times[4], 1, &found, nullptr, keyFrame));
    EXPECT_EQ(kNotFound, reader->FindFrameInRange(times[3] + 1, times[4] - 1, 1, &found, nullptr, 0));
    EXPECT_EQ(kNotFound, reader->FindFrameInRange(times[5], times[4], 1, &found, nullptr, 0));
    // An unopened reader refuses to search.
    CComPtr<IUnknown> unknown;
    CComPtr<IArchiveReader> fresh;
    ASSERT_EQ(S_OK, s->CreateReader(&unknown));
    ASSERT_EQ(S_OK, unknown.QueryInterface(&fresh));
    EXPECT_EQ(E_NOT_VALID_STATE, fresh->FindFrameInRange(0, INT64_MAX, 1, &found, nullptr, 0));
    EXPECT_EQ(kNotFound, fresh->Open(GUID_NULL, 2));
    EXPECT_EQ(E_INVALIDARG, fresh->Open(stream, 7));
}

TEST_F(Archive, SequencesAcrossStartStopAndGaps)
{
    CComPtr<IArchiveWriter> writer;
    ASSERT_EQ(S_OK, s->CreateWriter(stream, &writer));
    auto frame = [&](LONGLONG t) {
        ASSERT_EQ(S_OK, writer->BeginSample(t, t, 0));
        const BYTE b = 7;
        ASSERT_EQ(S_OK, writer->Data(int(video), &b, 1));
        ASSERT_EQ(S_OK, writer->EndSample());
    };
    ASSERT_EQ(S_OK, writer->Start(ULONGLONG(kBase)));
    frame(kBase);
    frame(kBase + kFrame);
    frame(kBase + 5 * kSecond); // a gap inside the sequence
    frame(kBase + 5 * kSecond + kFrame);
    // Starting again ends the first sequence.
    ASSERT_EQ(S_OK, writer->Start(ULONGLONG(kBase + 60 * kSecond)));
    frame(kBase + 61 * kSecond);
    ASSERT_EQ(S_OK, writer->Stop());
    EXPECT_EQ(S_FALSE, writer->Stop());
    // A start and stop without frames leaves no sequence behind.
    ASSERT_EQ(S_OK, writer->Start(ULONGLONG(kBase + 100 * kSecond)));
    ASSERT_EQ(S_OK, writer->Stop());

    DWORD count = 0;
    ASSERT_EQ(S_OK, obj->GetSequenceCount(&count));
    ASSERT_EQ(2u, count);
    ArchiveSequenceRecord seq[2] = {};
    DWORD n = 0;
    ASSERT_EQ(S_OK, obj->GetSequences(seq, 2, &n));
    ASSERT_EQ(2u, n);
    EXPECT_EQ(ULONGLONG(kBase), seq[0].startTime);
    EXPECT_EQ(ULONGLONG(kBase), seq[0].beginTime);
    EXPECT_EQ(ULONGLONG(kBase), seq[0].firstFrameTime);
    EXPECT_EQ(ULONGLONG(kBase + 5 * kSecond + kFrame), seq[0].lastFrameTime);
    EXPECT_EQ(2u, seq[0].subsequenceCount);
    EXPECT_EQ(4u, seq[0].frameCount);
    EXPECT_EQ(ULONGLONG(kBase + 60 * kSecond), seq[1].startTime);
    EXPECT_EQ(ULONGLONG(kBase + 61 * kSecond), seq[1].beginTime);
    EXPECT_EQ(ULONGLONG(kBase + 61 * kSecond), seq[1].lastFrameTime);
    EXPECT_EQ(1u, seq[1].subsequenceCount);
    // Capacity smaller than the list: the first records and ERROR_MORE_DATA.
    ArchiveSequenceRecord one{};
    EXPECT_EQ(kMoreData, obj->GetSequences(&one, 1, &n));
    EXPECT_EQ(1u, n);
    EXPECT_EQ(E_POINTER, obj->GetSequences(nullptr, 1, &n));
    EXPECT_EQ(E_POINTER, obj->GetSequences(seq, 2, nullptr));

    ArchiveStreamInfo info{};
    ASSERT_EQ(S_OK, s->GetStreamInfo(stream, &info));
    EXPECT_EQ(stream, info.streamId);
    EXPECT_EQ(storage, info.storageId);
    EXPECT_EQ(ULONGLONG(kBase), info.startTime);
    EXPECT_EQ(ULONGLONG(kBase + 61 * kSecond), info.endTime);
    EXPECT_EQ(5u, info.frameCount);
    EXPECT_EQ(2u, info.sequenceCount);
    EXPECT_EQ(0u, info.writing);
}

TEST_F(Archive, ChangeCounterMovesWhileASequenceGrows)
{
    ArchiveStreamInfo info{};
    ASSERT_EQ(S_OK, s->GetStreamInfo(stream, &info));
    EXPECT_EQ(0u, info.startTime);
    EXPECT_EQ(0u, info.endTime);
    ULONGLONG last = info.sequenceChangeCounter;
    CComPtr<IArchiveWriter> writer;
    ASSERT_EQ(S_OK, s->CreateWriter(stream, &writer));
    ASSERT_EQ(S_OK, writer->Start(ULONGLONG(kBase)));
    ASSERT_EQ(S_OK, s->GetStreamInfo(stream, &info));
    EXPECT_NE(last, info.sequenceChangeCounter);
    EXPECT_EQ(1u, info.writing);
    for (int i = 0; i < 3; ++i) {
        last = info.sequenceChangeCounter;
        const LONGLONG t = kBase + i * kFrame;
        ASSERT_EQ(S_OK, writer->BeginSample(t, t, 0));
        ASSERT_EQ(S_OK, writer->Blob(int(keyFrame), nullptr, 0));
        ASSERT_EQ(S_OK, writer->EndSample());
        // The sample reaches the index right after EndSample returns.
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        do {
            ASSERT_EQ(S_OK, s->GetStreamInfo(stream, &info));
        } while (info.endTime != ULONGLONG(t) && std::chrono::steady_clock::now() < until);
        EXPECT_NE(last, info.sequenceChangeCounter);
        EXPECT_EQ(ULONGLONG(t), info.endTime);
        ArchiveSequenceRecord seq{};
        DWORD n = 0;
        ASSERT_EQ(S_OK, obj->GetSequences(&seq, 1, &n));
        EXPECT_EQ(ULONGLONG(t), seq.lastFrameTime);
    }
    // Reading changes nothing.
    last = info.sequenceChangeCounter;
    ASSERT_EQ(S_OK, s->GetStreamInfo(stream, &info));
    EXPECT_EQ(last, info.sequenceChangeCounter);
    ASSERT_EQ(S_OK, writer->Stop());
    ASSERT_EQ(S_OK, s->GetStreamInfo(stream, &info));
    EXPECT_NE(last, info.sequenceChangeCounter);
    EXPECT_EQ(0u, info.writing);
}

TEST_F(Archive, RangeSizes)
{
    CComPtr<IArchiveRangeInfo> range;
    ASSERT_EQ(S_OK, obj.QueryInterface(&range));
    LONGLONG size = -1;
    ASSERT_EQ(S_OK, range->GetRangeSize(0, ~0ULL, &size));
    EXPECT_EQ(0, size);
    const auto times = run(kBase, 10);
    record(times, 5, 5000);
    ASSERT_EQ(S_OK, range->GetRangeSize(0, ~0ULL, &size));
    const LONGLONG all = size;
    EXPECT_GT(all, 10 * 5000);
    ASSERT_EQ(S_OK, range->GetRangeSize(ULONGLONG(times[2]), ULONGLONG(times[4]), &size));
    EXPECT_NEAR(double(all) * 3 / 10, double(size), 40.0);
    ASSERT_EQ(S_OK, range->GetRangeSize(ULONGLONG(times[5]), ~0ULL, &size));
    EXPECT_EQ(all / 2, size);
    ASSERT_EQ(S_OK, range->GetRangeSize(ULONGLONG(times[9]) + 1, ~0ULL, &size));
    EXPECT_EQ(0, size);
    ASSERT_EQ(S_OK, range->GetRangeSize(0, ULONGLONG(times[0]) - 1, &size));
    EXPECT_EQ(0, size);
    EXPECT_EQ(E_INVALIDARG, range->GetRangeSize(10, 5, &size));
    EXPECT_EQ(E_POINTER, range->GetRangeSize(0, 5, nullptr));
}

TEST_F(Archive, StatisticsMove)
{
    CRewindStorageStats before{};
    ASSERT_EQ(S_OK, s->GetStorageStats(storage, &before));
    record(run(kBase, 25), 5, 20000);
    auto reader = openReader(s, stream);
    for (int i = 0; i < 10; ++i) {
        LONGLONG found = 0;
        ASSERT_EQ(S_OK, reader->FindFrame(kBase + i * kFrame, 1, &found, nullptr, nullptr, nullptr, 0));
        const BYTE *bytes = nullptr;
        DWORD length = 0;
        ASSERT_EQ(S_OK, reader->ReadChannelData(video, &bytes, &length));
        reader->ReleaseFrame();
    }
    QThread::msleep(60);
    CRewindStorageStats after{};
    ASSERT_EQ(S_OK, s->GetStorageStats(storage, &after));
    EXPECT_EQ(25u, after.totalFramesWritten - before.totalFramesWritten);
    EXPECT_GT(after.totalBytesWritten, 25u * 20000u);
    EXPECT_EQ(10u, after.totalFramesReaded - before.totalFramesReaded);
    EXPECT_GT(after.totalBytesReaded, 10u * 20000u);
    EXPECT_GE(after.dataSizeOnDisk, 25u * 20000u);
    EXPECT_GT(after.currWriteFramesRate, 0.0);
    EXPECT_GT(after.currReadBytesRate, 0.0);
    EXPECT_EQ(25u, after.totalFATPagesWritten - before.totalFATPagesWritten);
    EXPECT_EQ(kNotFound, s->GetStorageStats(GUID_NULL, &after));
    EXPECT_EQ(E_POINTER, s->GetStorageStats(storage, nullptr));
}

TEST_F(Archive, PersistsAcrossReopenInStableOrder)
{
    GUID second{}, other{};
    ASSERT_EQ(S_OK, createStorage(s, QStringLiteral("Second"), &second));
    ASSERT_EQ(S_OK, createStream(s, storage, QStringLiteral("Cam2"), &other, 7));
    record(run(kBase, 5));
    ArchiveStreamRecord rec{};
    ASSERT_EQ(S_OK, obj->ReadRecord(&rec));
    CComPtr<IAttributeStore> store;
    ASSERT_EQ(S_OK, store.CoCreateInstance(CLSID_AttributeStore));
    ASSERT_EQ(S_OK, store->Bind(rec.attributes, 4096, FALSE));
    const GUID major = {1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
    ASSERT_EQ(S_OK, store->SetGUID(u"MediaType_MajorType", major));
    ASSERT_EQ(S_OK, obj->WriteRecord(&rec, 0));
    // Drop every object so the archive is opened from disk again.
    obj.Release();
    s.Release();
    s.Attach(server().Detach());
    ASSERT_TRUE(s);
    DWORD count = 0;
    ASSERT_EQ(S_OK, s->GetStorageCount(&count));
    ASSERT_EQ(2u, count);
    ArchiveStorageRecord list[2] = {};
    DWORD n = 0;
    ASSERT_EQ(S_OK, s->GetStorages(list, 2, &n));
    EXPECT_EQ(storage, list[0].storageId);
    EXPECT_EQ(QStringLiteral("Main"), name(list[0].name));
    EXPECT_EQ(second, list[1].storageId);
    ArchiveStreamHead heads[2] = {};
    ASSERT_EQ(S_OK, s->GetStreams(storage, heads, 2, &n));
    ASSERT_EQ(2u, n);
    EXPECT_EQ(stream, heads[0].streamId);
    EXPECT_EQ(3u, heads[0].streamType);
    EXPECT_EQ(QStringLiteral("Main"), name(heads[0].storageName));
    EXPECT_EQ(other, heads[1].streamId);
    EXPECT_EQ(7u, heads[1].streamType);
    EXPECT_EQ(QStringLiteral("Cam2"), name(heads[1].name));
    ASSERT_EQ(S_OK, s->OpenStream(stream, &obj));
    ArchiveStreamRecord again{};
    ASSERT_EQ(S_OK, obj->ReadRecord(&again));
    CComPtr<IAttributeStore> reread;
    ASSERT_EQ(S_OK, reread.CoCreateInstance(CLSID_AttributeStore));
    ASSERT_EQ(S_OK, reread->Bind(again.attributes, 4096, FALSE));
    GUID value{};
    ASSERT_EQ(S_OK, reread->GetGUID(u"MediaType_MajorType", &value));
    EXPECT_EQ(major, value);
    BYTE flag = 9;
    DWORD id = 0;
    ASSERT_EQ(S_OK, obj->FindChannel(CComBSTR(QStringLiteral("KeyFrame")), &flag, &id));
    EXPECT_EQ(keyFrame, id);
    EXPECT_EQ(1, flag);
    ArchiveStreamInfo info{};
    ASSERT_EQ(S_OK, s->GetStreamInfo(stream, &info));
    EXPECT_EQ(5u, info.frameCount);
    // Deleting the first storage keeps the order of the rest.
    ASSERT_EQ(S_OK, s->DeleteStorage(storage));
    ASSERT_EQ(S_OK, s->GetStorages(list, 2, &n));
    ASSERT_EQ(1u, n);
    EXPECT_EQ(second, list[0].storageId);
    EXPECT_EQ(kNotFound, s->GetStreamInfo(stream, &info));
    EXPECT_EQ(kNotFound, s->DeleteStorage(storage));
}

TEST_F(Archive, ReadinessAfterStartUpTime)
{
    useRoot(root, 300);
    auto late = server();
    ASSERT_TRUE(late);
    EXPECT_EQ(E_PENDING, late->IsReady());
    const auto start = std::chrono::steady_clock::now();
    while (late->IsReady() == E_PENDING &&
           std::chrono::steady_clock::now() - start < std::chrono::seconds(10))
        QThread::msleep(10);
    EXPECT_EQ(S_OK, late->IsReady());
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(250));
}

TEST_F(Archive, ChannelsByName)
{
    BYTE flag = 0;
    DWORD id = 0;
    EXPECT_EQ(kNotFound, obj->FindChannel(CComBSTR(QStringLiteral("Nope")), &flag, &id));
    DWORD again = 0;
    EXPECT_EQ(S_FALSE, obj->CreateChannel(CComBSTR(QStringLiteral("KeyFrame")), 0, &again));
    EXPECT_EQ(keyFrame, again);
    ASSERT_EQ(S_OK, obj->FindChannel(CComBSTR(QStringLiteral("Video_H264")), &flag, &id));
    EXPECT_EQ(video, id);
    EXPECT_EQ(0, flag);
    EXPECT_EQ(E_POINTER, obj->FindChannel(nullptr, &flag, &id));
    EXPECT_EQ(E_POINTER, obj->CreateChannel(CComBSTR(QStringLiteral("X")), 0, nullptr));
    EXPECT_EQ(E_INVALIDARG, obj->CreateChannel(CComBSTR(QString()), 0, &id));
    EXPECT_EQ(E_INVALIDARG, obj->CreateChannel(CComBSTR(QString(256, QLatin1Char('x'))), 0, &id));
    EXPECT_EQ(S_OK, obj->CreateChannel(CComBSTR(QString(255, QLatin1Char('x'))), 0, &id));
    // Channels belong to their stream.
    GUID other{};
    ASSERT_EQ(S_OK, createStream(s, storage, QStringLiteral("Other"), &other));
    CComPtr<IArchiveStream> otherObj;
    ASSERT_EQ(S_OK, s->OpenStream(other, &otherObj));
    EXPECT_EQ(kNotFound, otherObj->FindChannel(CComBSTR(QStringLiteral("KeyFrame")), &flag, &id));
}

TEST_F(Archive, RefusesBadInput)
{
    ArchiveStorageRecord rec{};
    DWORD n = 0;
    EXPECT_EQ(E_POINTER, s->GetStorages(nullptr, 1, &n));
    EXPECT_EQ(E_POINTER, s->GetStorages(&rec, 1, nullptr));
    EXPECT_EQ(S_OK, s->GetStorages(&rec, 1, &n));
    EXPECT_EQ(kMoreData, s->GetStorages(nullptr, 0, &n));
    EXPECT_EQ(0u, n);
    EXPECT_EQ(E_POINTER, s->GetStorageCount(nullptr));
    EXPECT_EQ(E_POINTER, s->CreateStorage(nullptr, nullptr));
    EXPECT_EQ(E_POINTER, s->CreateStream(nullptr, nullptr));
    EXPECT_EQ(E_POINTER, s->GetMemoryStatus(nullptr));
    EXPECT_EQ(E_POINTER, s->GetDriveMask(nullptr));
    EXPECT_EQ(E_POINTER, s->OpenStream(stream, nullptr));
    EXPECT_EQ(E_POINTER, s->CreateWriter(stream, nullptr));
    EXPECT_EQ(E_POINTER, s->CreateReader(nullptr));
    EXPECT_EQ(E_POINTER, s->GetStreamInfo(stream, nullptr));
    CComPtr<IArchiveStream> none;
    EXPECT_EQ(kNotFound, s->OpenStream(GUID_NULL, &none));
    EXPECT_EQ(nullptr, none.p);
    CComPtr<IArchiveWriter> nowriter;
    EXPECT_EQ(kNotFound, s->CreateWriter(GUID_NULL, &nowriter));
    EXPECT_EQ(kNotFound, s->DeleteStream(GUID_NULL));
    EXPECT_EQ(kNotFound, s->GetStreamCount(GUID_NULL, &n));
    LONGLONG a = 0, b = 0, c = 0;
    BSTR driveName = nullptr;
    EXPECT_EQ(E_INVALIDARG, s->GetDriveInfo(5, &a, &b, &c, &driveName));
    EXPECT_EQ(E_INVALIDARG, s->GetDriveInfo(-1, &a, &b, &c, &driveName));
    EXPECT_EQ(kNotFound, s->GetStoragePart(GUID_NULL, 0, &a, &driveName));

    // Names: 255 units fit, 256 do not; a duplicate storage or stream name is refused.
    GUID id{};
    EXPECT_EQ(S_OK, createStorage(s, QString(255, QLatin1Char('s')), &id));
    auto block = std::make_unique<CreateStorageBlock>();
    std::memset(block.get(), 0, sizeof *block);
    for (auto &u : block->name)
        u = u'n';
    block->version = 1;
    block->size = 1LL << 30;
    EXPECT_EQ(E_INVALIDARG, s->CreateStorage(block.get(), nullptr));
    EXPECT_EQ(E_INVALIDARG, createStorage(s, QString(), &id));
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS), createStorage(s, QStringLiteral("Main"), &id));
    EXPECT_EQ(E_INVALIDARG, createStorage(s, QStringLiteral("Small"), &id, 1000));
    EXPECT_EQ(E_INVALIDARG, createStorage(s, QStringLiteral("NoDrive"), &id, 1LL << 30, 3));
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS),
              createStream(s, storage, QStringLiteral("Cam1"), &id));
    EXPECT_EQ(kNotFound, createStream(s, GUID_NULL, QStringLiteral("Cam9"), &id));
    EXPECT_EQ(E_INVALIDARG, createStream(s, storage, QStringLiteral("Cam9"), &id, 0));

    // Writer state and arguments.
    CComPtr<IArchiveWriter> writer;
    ASSERT_EQ(S_OK, s->CreateWriter(stream, &writer));
    EXPECT_EQ(E_NOT_VALID_STATE, writer->BeginSample(kBase, kBase, 0));
    ASSERT_EQ(S_OK, writer->Start(ULONGLONG(kBase)));
    EXPECT_EQ(E_NOT_VALID_STATE, writer->EndSample());
    EXPECT_EQ(E_NOT_VALID_STATE, writer->Data(int(video), nullptr, 0));
    EXPECT_EQ(E_INVALIDARG, writer->BeginSample(-1, -1, 0));
    EXPECT_EQ(E_INVALIDARG, writer->BeginSample(kBase, kBase, 5));
    ASSERT_EQ(S_OK, writer->BeginSample(kBase, kBase, 0));
    EXPECT_EQ(E_NOT_VALID_STATE, writer->BeginSample(kBase, kBase, 0));
    EXPECT_EQ(E_POINTER, writer->Data(int(video), nullptr, 4));
    EXPECT_EQ(E_INVALIDARG, writer->Data(999, reinterpret_cast<const BYTE *>("abcd"), 4));
    EXPECT_EQ(E_INVALIDARG, writer->Data(0, reinterpret_cast<const BYTE *>("abcd"), 4));
    EXPECT_EQ(S_OK, writer->Data(int(video), reinterpret_cast<const BYTE *>("abcd"), 4));
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS),
              writer->Data(int(video), reinterpret_cast<const BYTE *>("x"), 1));
    EXPECT_EQ(S_OK, writer->EndSample());
    // A second writer cannot record into the same stream at once.
    CComPtr<IArchiveWriter> second;
    ASSERT_EQ(S_OK, s->CreateWriter(stream, &second));
    EXPECT_EQ(HRESULT_FROM_WIN32(32), second->Start(ULONGLONG(kBase)));
    EXPECT_EQ(HRESULT_FROM_WIN32(32), s->DeleteStream(stream));
    EXPECT_EQ(HRESULT_FROM_WIN32(32), s->DeleteStorage(storage));
    ASSERT_EQ(S_OK, writer->Stop());
    EXPECT_EQ(S_OK, second->Start(ULONGLONG(kBase)));
    EXPECT_EQ(S_OK, second->Stop());

    // Records must name the stream they are written to.
    ArchiveStreamRecord record{};
    ASSERT_EQ(S_OK, obj->ReadRecord(&record));
    EXPECT_EQ(E_INVALIDARG, obj->WriteRecord(&record, 1));
    ArchiveStreamRecord foreign = record;
    foreign.head.streamId = GUID_NULL;
    EXPECT_EQ(E_INVALIDARG, obj->WriteRecord(&foreign, 0));
    EXPECT_EQ(E_POINTER, obj->WriteRecord(nullptr, 0));
    EXPECT_EQ(E_POINTER, obj->ReadRecord(nullptr));
    EXPECT_EQ(E_POINTER, obj->GetHeader(nullptr));
}

TEST_F(Archive, DrivesAndFigures)
{
    ULONGLONG mask = 0;
    ASSERT_EQ(S_OK, s->GetDriveMask(&mask));
    EXPECT_EQ(1u, mask);
    LONGLONG size = 0, freeSize = 0, used = 0;
    CComBSTR driveName;
    ASSERT_EQ(S_OK, s->GetDriveInfo(0, &size, &freeSize, &used, &driveName));
    EXPECT_GT(size, 0);
    EXPECT_GT(freeSize, 0);
    EXPECT_LE(freeSize + used, size);
    EXPECT_EQ(QStringLiteral("A:"), driveName.toQString());
    LONGLONG part = 0;
    CComBSTR partName;
    ASSERT_EQ(S_OK, s->GetStoragePart(storage, 0, &part, &partName));
    EXPECT_EQ(1LL << 30, part);
    EXPECT_EQ(QStringLiteral("A:"), partName.toQString());
    CRewindMemoryStatus memory{};
    ASSERT_EQ(S_OK, s->GetMemoryStatus(&memory));
    EXPECT_GT(memory.totalPhysMemory, 0u);
    EXPECT_LE(memory.availPhysMemory, memory.totalPhysMemory);
    EXPECT_GT(memory.availProcessAddressSpace, 0u);
    ArchiveMinimumSizeRecord minimum{};
    ASSERT_EQ(S_OK, s->GetMinimumStorageSize(&minimum));
    EXPECT_GT(minimum.minimumSize, 0);
    EXPECT_EQ(120u, minimum.recordSize);
}

TEST_F(Archive, ConcurrentCallsFromManyThreads)
{
    // A recorder, a player, the updaters' polling and storage management, all at once on one server.
    std::atomic<bool> stop{false};
    std::atomic<int> failures{0};
    std::atomic<LONGLONG> written{0};
    std::thread recorder([&] {
        CComPtr<IArchiveWriter> writer;
        if (FAILED(s->CreateWriter(stream, &writer)) || FAILED(writer->Start(ULONGLONG(kBase))))
            ++failures;
        for (LONGLONG i = 0; i < 400; ++i) {
            const LONGLONG t = kBase + i * kFrame;
            const auto bytes = payload(i, 3000);
            if (FAILED(writer->BeginSample(t, t, 0)) ||
                FAILED(writer->Data(int(video), bytes.data(), 3000)) ||
                (i % 10 == 0 && FAILED(writer->Blob(int(keyFrame), nullptr, 0))) ||
                FAILED(writer->EndSample()))
                ++failures;
            written = i + 1;
        }
        if (FAILED(writer->Stop()))
            ++failures;
    });
    std::atomic<LONGLONG> played{0};
    std::thread player([&] {
        auto reader = openReader(s, stream);
        LONGLONG next = 0;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (next < 400 && std::chrono::steady_clock::now() < deadline) {
            LONGLONG found = 0;
            if (reader->FindFrameInRange(kBase + next * kFrame, INT64_MAX, 1, &found, nullptr, 0) != S_OK) {
                std::this_thread::yield();
                continue;
            }
            const BYTE *bytes = nullptr;
            DWORD length = 0;
            const auto want = payload(next, 3000);
            if (found != kBase + next * kFrame || FAILED(reader->ReadChannelData(video, &bytes, &length)) ||
                length != 3000 || std::memcmp(bytes, want.data(), 3000) != 0)
                ++failures;
            reader->ReleaseFrame();
            played = ++next;
        }
    });
    std::thread poller([&] {
        while (!stop) {
            ArchiveStreamInfo info{};
            CRewindStorageStats stats{};
            ArchiveSequenceRecord seq[4] = {};
            DWORD n = 0;
            LONGLONG size = 0;
            CComPtr<IArchiveRangeInfo> range;
            if (FAILED(s->GetStreamInfo(stream, &info)) || FAILED(s->GetStorageStats(storage, &stats)) ||
                FAILED(obj->GetSequences(seq, 4, &n)) || FAILED(obj.QueryInterface(&range)) ||
                FAILED(range->GetRangeSize(0, ~0ULL, &size)))
                ++failures;
        }
    });
    std::thread manager([&] {
        for (int i = 0; i < 20 && !stop; ++i) {
            GUID other{};
            if (FAILED(createStream(s, storage, QStringLiteral("Temp%1").arg(i), &other)) ||
                FAILED(s->DeleteStream(other)))
                ++failures;
        }
    });
    recorder.join();
    player.join();
    manager.join();
    stop = true;
    poller.join();
    EXPECT_EQ(0, failures.load());
    EXPECT_EQ(400, written.load());
    EXPECT_EQ(400, played.load());
}

TEST(ArchiveDrives, ConfiguredDrivesHaveStableNumbers)
{
    const QString root = tundra::test::freshDir(QStringLiteral("drives"));
    QFile file(root + QStringLiteral("/drives.txt"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("C:=c\n# comment\nE:=" + (root + QStringLiteral("/e")).toUtf8() + "\n");
    file.close();
    useRoot(root);
    auto s = server();
    ULONGLONG mask = 0;
    ASSERT_EQ(S_OK, s->GetDriveMask(&mask));
    EXPECT_EQ(3u, mask);
    GUID id{};
    ASSERT_EQ(S_OK, createStorage(s, QStringLiteral("OnE"), &id, 1LL << 30, 1));
    LONGLONG size = 0;
    CComBSTR onC, onE;
    ASSERT_EQ(S_OK, s->GetStoragePart(id, 0, &size, &onC));
    EXPECT_EQ(0, size);
    EXPECT_EQ(QStringLiteral("C:"), onC.toQString());
    ASSERT_EQ(S_OK, s->GetStoragePart(id, 1, &size, &onE));
    EXPECT_EQ(1LL << 30, size);
    EXPECT_EQ(QStringLiteral("E:"), onE.toQString());
    EXPECT_TRUE(
        QDir(root + QStringLiteral("/e/") + nyx::com::toQUuid(id).toString(QUuid::WithoutBraces).toUpper())
            .exists());
}

TEST_F(Archive, FaultInjectionAndShortLists)
{
    nyx::archive::faults::fail(Operation::GetStorageCount, E_OUTOFMEMORY, 1);
    DWORD count = 0;
    EXPECT_EQ(E_OUTOFMEMORY, s->GetStorageCount(&count));
    EXPECT_EQ(S_OK, s->GetStorageCount(&count));
    nyx::archive::faults::fail(Operation::IsReady, E_NOINTERFACE);
    EXPECT_EQ(E_NOINTERFACE, s->IsReady());
    EXPECT_EQ(E_NOINTERFACE, s->IsReady());
    nyx::archive::faults::fail(Operation::WriterEndSample, E_FAIL, 1);
    CComPtr<IArchiveWriter> writer;
    ASSERT_EQ(S_OK, s->CreateWriter(stream, &writer));
    ASSERT_EQ(S_OK, writer->Start(ULONGLONG(kBase)));
    ASSERT_EQ(S_OK, writer->BeginSample(kBase, kBase, 0));
    EXPECT_EQ(E_FAIL, writer->EndSample());
    ASSERT_EQ(S_OK, writer->EndSample());
    nyx::archive::faults::clear();
    EXPECT_EQ(S_OK, s->IsReady());

    GUID second{};
    ASSERT_EQ(S_OK, createStream(s, storage, QStringLiteral("Cam2"), &second));
    nyx::archive::faults::shortLists(1);
    ArchiveStreamHead heads[2] = {};
    DWORD n = 9;
    EXPECT_EQ(S_OK, s->GetStreams(storage, heads, 2, &n));
    EXPECT_EQ(1u, n);
    EXPECT_EQ(stream, heads[0].streamId);
    nyx::archive::faults::shortLists(-1);
    EXPECT_EQ(S_OK, s->GetStreams(storage, heads, 2, &n));
    EXPECT_EQ(2u, n);
}

TEST_F(Archive, DamagedSegmentIsReportedAndSkipped)
{
    record(run(kBase, 6), 1, 4000);
    // Flip bytes inside the third frame's payload.
    QDirIterator it(root, {QStringLiteral("seg-*.dat")}, QDir::Files, QDirIterator::Subdirectories);
    ASSERT_TRUE(it.hasNext());
    QFile seg(it.next());
    ASSERT_TRUE(seg.open(QIODevice::ReadWrite));
    const qint64 frameSize = seg.size() / 6;
    seg.seek(2 * frameSize + 100);
    seg.write("garbage!");
    seg.close();
    auto reader = openReader(s, stream);
    LONGLONG found = 0;
    const BYTE *bytes = nullptr;
    DWORD length = 0;
    ASSERT_EQ(S_OK, reader->FindFrame(kBase + 2 * kFrame, 1, &found, nullptr, nullptr, nullptr, 0));
    EXPECT_EQ(HRESULT_FROM_WIN32(1392), reader->ReadChannelData(video, &bytes, &length));
    reader->ReleaseFrame();
    ASSERT_EQ(S_OK, reader->FindFrame(kBase + 3 * kFrame, 1, &found, nullptr, nullptr, nullptr, 0));
    EXPECT_EQ(S_OK, reader->ReadChannelData(video, &bytes, &length));
    EXPECT_EQ(4000u, length);
}

TEST(ArchiveIndex, DamagedIndexFailsOnlyItsStorage)
{
    const QString root = tundra::test::freshDir(QStringLiteral("damagedindex"));
    useRoot(root);
    GUID bad{}, good{}, badStream{}, goodStream{};
    {
        auto s = server();
        ASSERT_EQ(S_OK, createStorage(s, QStringLiteral("Bad"), &bad));
        ASSERT_EQ(S_OK, createStorage(s, QStringLiteral("Good"), &good));
        ASSERT_EQ(S_OK, createStream(s, bad, QStringLiteral("A"), &badStream));
        ASSERT_EQ(S_OK, createStream(s, good, QStringLiteral("B"), &goodStream));
    }
    const QString badFolder =
        root + QStringLiteral("/drive-a/") + nyx::com::toQUuid(bad).toString(QUuid::WithoutBraces).toUpper();
    QDir(badFolder).removeRecursively();
    QDir().mkpath(badFolder);
    QFile index(badFolder + QStringLiteral("/index.db"));
    ASSERT_TRUE(index.open(QIODevice::WriteOnly));
    index.write(QByteArray(8192, 'x'));
    index.close();
    auto s = server();
    ArchiveStreamInfo info{};
    EXPECT_TRUE(FAILED(s->GetStreamInfo(badStream, &info)));
    EXPECT_EQ(S_OK, s->GetStreamInfo(goodStream, &info));
    DWORD count = 0;
    EXPECT_EQ(S_OK, s->GetStorageCount(&count));
    EXPECT_EQ(2u, count);
}

TEST(AttributeStore, FormatsSetsAndGets)
{
    BYTE block[4096];
    std::memset(block, 0xAB, sizeof block);
    CComPtr<IAttributeStore> store;
    ASSERT_EQ(S_OK, store.CoCreateInstance(CLSID_AttributeStore));
    EXPECT_EQ(E_NOT_VALID_STATE, store->SetDouble(u"x", 1.0));
    EXPECT_EQ(E_INVALIDARG, store->Bind(block, 4096, FALSE)); // foreign bytes
    EXPECT_EQ(E_INVALIDARG, store->Bind(block, 4095, TRUE));
    EXPECT_EQ(E_POINTER, store->Bind(nullptr, 4096, TRUE));
    ASSERT_EQ(S_OK, store->Bind(block, 4096, TRUE));
    UINT32 count = 9;
    ASSERT_EQ(S_OK, store->GetCount(&count));
    EXPECT_EQ(0u, count);
    const GUID g = {0x11223344, 0x5566, 0x7788, {1, 2, 3, 4, 5, 6, 7, 8}};
    ASSERT_EQ(S_OK, store->SetGUID(u"MediaType_Subtype", g));
    ASSERT_EQ(S_OK, store->SetDouble(u"FrameRate", 25.0));
    const BYTE fmt[18] = {1, 0, 2, 0};
    ASSERT_EQ(S_OK, store->SetBlob(u"AudioFormat", fmt, sizeof fmt));
    ASSERT_EQ(S_OK, store->SetBlob(u"Empty", nullptr, 0));
    ASSERT_EQ(S_OK, store->SetDouble(u"FrameRate", 50.0)); // replaces
    ASSERT_EQ(S_OK, store->GetCount(&count));
    EXPECT_EQ(4u, count);
    // A second store over the same bytes sees the values.
    CComPtr<IAttributeStore> other;
    ASSERT_EQ(S_OK, other.CoCreateInstance(CLSID_AttributeStore));
    ASSERT_EQ(S_OK, other->Bind(block, 4096, FALSE));
    GUID got{};
    ASSERT_EQ(S_OK, other->GetGUID(u"MediaType_Subtype", &got));
    EXPECT_EQ(g, got);
    double rate = 0;
    ASSERT_EQ(S_OK, other->GetDouble(u"FrameRate", &rate));
    EXPECT_EQ(50.0, rate);
    UINT32 size = 0;
    ASSERT_EQ(S_OK, other->GetBlobSize(u"AudioFormat", &size));
    EXPECT_EQ(18u, size);
    BYTE out[18] = {};
    BYTE small[4] = {};
    EXPECT_EQ(E_NOT_SUFFICIENT_BUFFER, other->GetBlob(u"AudioFormat", small, sizeof small, &size));
    ASSERT_EQ(S_OK, other->GetBlob(u"AudioFormat", out, sizeof out, &size));
    EXPECT_EQ(0, std::memcmp(fmt, out, sizeof out));
    ASSERT_EQ(S_OK, other->GetBlobSize(u"Empty", &size));
    EXPECT_EQ(0u, size);
    EXPECT_EQ(kNotFound, other->GetDouble(u"Missing", &rate));
    EXPECT_EQ(E_INVALIDARG, other->GetDouble(u"MediaType_Subtype", &rate)); // wrong kind
    EXPECT_EQ(E_POINTER, other->GetDouble(nullptr, &rate));
    EXPECT_EQ(E_POINTER, other->GetDouble(u"FrameRate", nullptr));
    std::u16string longName(256, u'k');
    EXPECT_EQ(E_INVALIDARG, other->SetDouble(longName.c_str(), 1.0));
    EXPECT_EQ(E_INVALIDARG, other->SetDouble(u"", 1.0));
    // A block too full for a value stays as it was.
    std::vector<BYTE> big(4000, 1);
    EXPECT_EQ(E_NOT_SUFFICIENT_BUFFER, other->SetBlob(u"Big", big.data(), UINT32(big.size())));
    ASSERT_EQ(S_OK, other->GetDouble(u"FrameRate", &rate));
    EXPECT_EQ(50.0, rate);
}

TEST(AttributeStore, CorruptBlocksFailCleanly)
{
    BYTE block[4096] = {};
    CComPtr<IAttributeStore> store;
    ASSERT_EQ(S_OK, store.CoCreateInstance(CLSID_AttributeStore));
    // An all-zero block reads as empty and takes values.
    ASSERT_EQ(S_OK, store->Bind(block, 4096, FALSE));
    double v = 0;
    EXPECT_EQ(kNotFound, store->GetDouble(u"FrameRate", &v));
    ASSERT_EQ(S_OK, store->SetDouble(u"FrameRate", 30.0));
    ASSERT_EQ(S_OK, store->SetBlob(u"VideoFormat", reinterpret_cast<const BYTE *>("0123456789"), 10));
    // Damage: an entry claiming more bytes than the block holds, then a wrong used size.
    BYTE damaged[4096];
    std::memcpy(damaged, block, sizeof damaged);
    std::uint32_t huge = 0x7FFFFFF0;
    std::memcpy(damaged + 16 + 4, &huge, 4);
    CComPtr<IAttributeStore> reader;
    ASSERT_EQ(S_OK, reader.CoCreateInstance(CLSID_AttributeStore));
    EXPECT_EQ(E_INVALIDARG, reader->Bind(damaged, 4096, FALSE));
    std::memcpy(damaged, block, sizeof damaged);
    std::uint32_t used = 5000;
    std::memcpy(damaged + 8, &used, 4);
    EXPECT_EQ(E_INVALIDARG, reader->Bind(damaged, 4096, FALSE));
    // Damage after binding is noticed by the next call.
    ASSERT_EQ(S_OK, reader->Bind(block, 4096, FALSE));
    block[16] = 9; // unknown entry type
    EXPECT_EQ(E_INVALIDARG, reader->GetDouble(u"FrameRate", &v));
    UINT32 size = 0;
    EXPECT_EQ(E_INVALIDARG, reader->GetBlobSize(u"VideoFormat", &size));
    // Random bytes never crash and never read past the block.
    std::srand(7);
    for (int round = 0; round < 2000; ++round) {
        BYTE noise[4096];
        std::memcpy(noise, "NYXA\x01\x00", 6);
        for (int i = 6; i < 64; ++i)
            noise[i] = BYTE(std::rand());
        std::memset(noise + 64, 0, sizeof noise - 64);
        if (SUCCEEDED(reader->Bind(noise, 4096, FALSE))) {
            reader->GetDouble(u"FrameRate", &v);
            reader->GetBlobSize(u"VideoFormat", &size);
        }
    }
}
} // namespace

// The frame checksum is CRC-32C whatever path computes it: stored frames stay readable.
TEST(FrameChecksum, MatchesTheBitwiseDefinition)
{
    const auto reference = [](const std::uint8_t *data, std::size_t size, std::uint32_t crc) {
        crc = ~crc;
        for (std::size_t i = 0; i < size; ++i) {
            crc ^= data[i];
            for (int k = 0; k < 8; ++k)
                crc = (crc >> 1) ^ ((crc & 1) ? 0x82F63B78u : 0u);
        }
        return ~crc;
    };
    EXPECT_EQ(0xE3069283u, nyx::archive::crc32c(reinterpret_cast<const std::uint8_t *>("123456789"), 9));
    const auto bytes = payload(3, 120001);
    std::vector<std::uint8_t> copy(120001);
    for (std::size_t size : {0, 1, 8, 4095, 12287, 12288, 12289, 36871, 102400, 120000}) {
        for (std::uint32_t start : {0u, 0xFFFFFFFFu, 0x1234567u}) {
            const std::uint32_t expected = reference(bytes.data() + 1, size, start);
            EXPECT_EQ(expected, nyx::archive::crc32c(bytes.data() + 1, size, start))
                << size << " bytes from " << start;
            EXPECT_EQ(expected, nyx::archive::crc32cSoftware(bytes.data() + 1, size, start))
                << size << " bytes from " << start;
            // The copying form, to an odd address, stores exactly the bytes it checks.
            std::fill(copy.begin(), copy.end(), std::uint8_t(0xA5));
            EXPECT_EQ(expected, nyx::archive::crc32cCopy(copy.data() + 1, bytes.data() + 1, size, start))
                << size << " bytes from " << start;
            EXPECT_TRUE(
                std::equal(bytes.begin() + 1, bytes.begin() + 1 + std::ptrdiff_t(size), copy.begin() + 1));
            EXPECT_EQ(0xA5, copy[0]);
            if (size + 1 < copy.size()) {
                EXPECT_EQ(0xA5, copy[size + 1]) << size;
            }
        }
    }
    // The CPU's instruction and the table agree on random data of random lengths, chained.
    std::mt19937 random(7);
    std::vector<std::uint8_t> noise(70000);
    for (auto &b : noise)
        b = static_cast<std::uint8_t>(random());
    for (int i = 0; i < 200; ++i) {
        const std::size_t from = random() % 1000, size = random() % (noise.size() - from);
        const std::uint32_t start = random();
        EXPECT_EQ(nyx::archive::crc32cSoftware(noise.data() + from, size, start),
                  nyx::archive::crc32c(noise.data() + from, size, start))
            << size << " bytes at " << from;
    }
    if (!nyx::archive::crc32cHardware())
        std::printf("this CPU has no CRC-32C instruction: only the table path was checked\n");
}
