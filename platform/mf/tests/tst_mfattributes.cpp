#include "mftesthelpers.h"

#include "com/cocreate.h"

#include <QtTest>

#include <atomic>
#include <cmath>
#include <cstring>
#include <thread>
#include <vector>

namespace {
constexpr GUID kKey = {0x01020304, 0x0506, 0x0708, {0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F, 0x10}};
constexpr GUID kKey2 = {0xA1A2A3A4, 0xB1B2, 0xC1C2, {0xD1, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6, 0xD7, 0xD8}};
constexpr GUID kValueGuid = {0xCAFEF00D, 0x1234, 0x5678, {1, 2, 3, 4, 5, 6, 7, 8}};

CComPtr<IMFAttributes> newAttributes()
{
    CComPtr<IMFAttributes> attributes;
    if (FAILED(MFCreateAttributes(&attributes, 0)))
        qFatal("MFCreateAttributes failed");
    return attributes;
}

std::vector<BYTE> blobOf(IMFAttributes *attributes)
{
    UINT32 size = 0;
    if (FAILED(MFGetAttributesAsBlobSize(attributes, &size)))
        return {};
    std::vector<BYTE> blob(size);
    if (FAILED(MFGetAttributesAsBlob(attributes, blob.data(), size)))
        return {};
    return blob;
}

// One item of each stored kind (and an object, which blobs leave out).
void fillAllKinds(IMFAttributes *attributes, IUnknown *object)
{
    const BYTE bytes[] = {0, 1, 2, 0xFE, 0xFF};
    attributes->SetUINT32(MF_MT_AUDIO_NUM_CHANNELS, 0xFFFFFFFFu);
    attributes->SetUINT64(MF_MT_FRAME_SIZE, 0x0123456789ABCDEFull);
    attributes->SetDouble(MF_MT_AUDIO_AVG_BYTES_PER_SECOND, -1.5e300);
    attributes->SetDouble(MF_MT_FRAME_RATE_RANGE_MAX, std::nan(""));
    attributes->SetGUID(MF_MT_SUBTYPE, MFVideoFormat_H264);
    attributes->SetString(MF_MT_USER_DATA, u"Kamera \u00e9\u4e2d");
    attributes->SetString(MF_MT_MPEG2_LEVEL, u"");
    attributes->SetBlob(MF_MT_MPEG_SEQUENCE_HEADER, bytes, sizeof bytes);
    attributes->SetBlob(MF_MT_MPEG2_PROFILE, nullptr, 0);
    attributes->SetUnknown(MF_TOPONODE_SOURCE, object);
}

// Every typed getter on the key; which of them answered S_OK.
QStringList gettersThatSucceed(IMFAttributes *a, REFGUID key)
{
    QStringList ok;
    UINT32 u32;
    UINT64 u64;
    double d;
    GUID g;
    UINT32 length;
    CComPtr<IUnknown> unknown;
    if (a->GetUINT32(key, &u32) == S_OK)
        ok << "uint32";
    if (a->GetUINT64(key, &u64) == S_OK)
        ok << "uint64";
    if (a->GetDouble(key, &d) == S_OK)
        ok << "double";
    if (a->GetGUID(key, &g) == S_OK)
        ok << "guid";
    if (a->GetStringLength(key, &length) == S_OK)
        ok << "string";
    if (a->GetBlobSize(key, &length) == S_OK)
        ok << "blob";
    if (a->GetUnknown(key, IID_IUnknown, reinterpret_cast<void **>(&unknown)) == S_OK)
        ok << "unknown";
    return ok;
}

class Dummy final : public nyx::com::ComObject<IMFAsyncCallback>
{
public:
    HRESULT GetParameters(DWORD *, DWORD *) override { return E_NOTIMPL; }
    HRESULT Invoke(IMFAsyncResult *) override { return S_OK; }
};

void putU32(std::vector<BYTE> &blob, std::size_t at, DWORD value)
{
    for (int i = 0; i < 4; ++i)
        blob[at + i] = BYTE(value >> (8 * i));
}
} // namespace

class tst_MfAttributes : public QObject
{
    Q_OBJECT

private slots:
    void kinds_data();
    void kinds();
    void bufferSizes();
    void compare_data();
    void compare();
    void copyAndDelete();
    void sizeAndRatio();
    void blobLayout();
    void blobRoundTrip();
    void blobRefused_data();
    void blobRefused();
    void blobTruncated();
    void storedSeedsParse();
    void concurrentCopyIsAtomic();
    void mediaTypeIsEqual_data();
    void mediaTypeIsEqual();
};

void tst_MfAttributes::kinds_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("getter");
    QTest::newRow("uint32") << int(MF_ATTRIBUTE_UINT32) << "uint32";
    QTest::newRow("uint64") << int(MF_ATTRIBUTE_UINT64) << "uint64";
    QTest::newRow("double") << int(MF_ATTRIBUTE_DOUBLE) << "double";
    QTest::newRow("guid") << int(MF_ATTRIBUTE_GUID) << "guid";
    QTest::newRow("string") << int(MF_ATTRIBUTE_STRING) << "string";
    QTest::newRow("blob") << int(MF_ATTRIBUTE_BLOB) << "blob";
    QTest::newRow("unknown") << int(MF_ATTRIBUTE_IUNKNOWN) << "unknown";
}

// Each kind is read back by its own getter only; the others give MF_E_INVALIDTYPE.
void tst_MfAttributes::kinds()
{
    QFETCH(int, kind);
    QFETCH(QString, getter);
    CComPtr<IMFAttributes> a = newAttributes();
    CComPtr<IMFAsyncCallback> object;
    object.Attach(new Dummy);
    fillAllKinds(a, object);
    const GUID keys[] = {MF_MT_AUDIO_NUM_CHANNELS,
                         MF_MT_FRAME_SIZE,
                         MF_MT_AUDIO_AVG_BYTES_PER_SECOND,
                         MF_MT_SUBTYPE,
                         MF_MT_USER_DATA,
                         MF_MT_MPEG_SEQUENCE_HEADER,
                         MF_TOPONODE_SOURCE};
    const int kinds[] = {MF_ATTRIBUTE_UINT32, MF_ATTRIBUTE_UINT64, MF_ATTRIBUTE_DOUBLE,  MF_ATTRIBUTE_GUID,
                         MF_ATTRIBUTE_STRING, MF_ATTRIBUTE_BLOB,   MF_ATTRIBUTE_IUNKNOWN};
    const int i = int(std::find(std::begin(kinds), std::end(kinds), kind) - std::begin(kinds));
    MF_ATTRIBUTE_TYPE type;
    QCOMPARE(a->GetItemType(keys[i], &type), S_OK);
    QCOMPARE(int(type), kind);
    QCOMPARE(gettersThatSucceed(a, keys[i]), QStringList{getter});
    UINT32 u32 = 7;
    QCOMPARE(a->GetUINT32(kKey, &u32), MF_E_ATTRIBUTENOTFOUND);
    if (kind != MF_ATTRIBUTE_UINT32)
        QCOMPARE(a->GetUINT32(keys[i], &u32), MF_E_INVALIDTYPE);

    // A variant of a kind attributes do not hold is refused.
    PROPVARIANT i4;
    PropVariantInit(&i4);
    i4.vt = VT_I4;
    QCOMPARE(a->SetItem(kKey, i4), MF_E_INVALIDTYPE);
    QCOMPARE(a->GetItem(kKey, nullptr), MF_E_ATTRIBUTENOTFOUND);
}

void tst_MfAttributes::bufferSizes()
{
    CComPtr<IMFAttributes> a = newAttributes();
    QCOMPARE(a->SetString(kKey, u"abc"), S_OK);
    WCHAR text[4] = {'x', 'x', 'x', 'x'};
    UINT32 length = 0;
    QCOMPARE(a->GetString(kKey, text, 3, &length), E_NOT_SUFFICIENT_BUFFER); // no room for the NUL
    QCOMPARE(length, 3u);
    QCOMPARE(a->GetString(kKey, text, 4, &length), S_OK);
    QVERIFY(std::u16string(text) == u"abc");
    LPWSTR allocated = nullptr;
    QCOMPARE(a->GetAllocatedString(kKey, &allocated, &length), S_OK);
    QVERIFY(std::u16string(allocated) == u"abc");
    CoTaskMemFree(allocated);

    const BYTE bytes[] = {9, 8, 7};
    QCOMPARE(a->SetBlob(kKey2, bytes, 3), S_OK);
    BYTE out[3] = {};
    UINT32 size = 0;
    QCOMPARE(a->GetBlob(kKey2, out, 2, &size), E_NOT_SUFFICIENT_BUFFER);
    QCOMPARE(size, 3u);
    QCOMPARE(a->GetBlob(kKey2, out, 3, &size), S_OK);
    QVERIFY(std::memcmp(out, bytes, 3) == 0);
}

void tst_MfAttributes::compare_data()
{
    // ours and theirs: "key=value" items on three keys a, b, c.
    QTest::addColumn<QStringList>("ours");
    QTest::addColumn<QStringList>("theirs");
    QTest::addColumn<int>("match");
    QTest::addColumn<bool>("expected");
    const QStringList ab{"a=1", "b=2"}, abc{"a=1", "b=2", "c=3"}, ab9{"a=1", "b=9"}, bc{"b=2", "c=3"};
    QTest::newRow("our items, subset") << ab << abc << int(MF_ATTRIBUTES_MATCH_OUR_ITEMS) << true;
    QTest::newRow("our items, superset") << abc << ab << int(MF_ATTRIBUTES_MATCH_OUR_ITEMS) << false;
    QTest::newRow("their items, superset") << abc << ab << int(MF_ATTRIBUTES_MATCH_THEIR_ITEMS) << true;
    QTest::newRow("their items, subset") << ab << abc << int(MF_ATTRIBUTES_MATCH_THEIR_ITEMS) << false;
    QTest::newRow("all, equal") << ab << QStringList{"b=2", "a=1"} << int(MF_ATTRIBUTES_MATCH_ALL_ITEMS)
                                << true;
    QTest::newRow("all, subset") << ab << abc << int(MF_ATTRIBUTES_MATCH_ALL_ITEMS) << false;
    QTest::newRow("all, value differs") << ab << ab9 << int(MF_ATTRIBUTES_MATCH_ALL_ITEMS) << false;
    QTest::newRow("intersection, agree") << ab << bc << int(MF_ATTRIBUTES_MATCH_INTERSECTION) << true;
    QTest::newRow("intersection, differ") << ab9 << bc << int(MF_ATTRIBUTES_MATCH_INTERSECTION) << false;
    QTest::newRow("intersection, disjoint")
        << QStringList{"a=1"} << QStringList{"c=3"} << int(MF_ATTRIBUTES_MATCH_INTERSECTION) << true;
    QTest::newRow("smaller is ours") << ab << abc << int(MF_ATTRIBUTES_MATCH_SMALLER) << true;
    QTest::newRow("smaller is theirs") << abc << ab << int(MF_ATTRIBUTES_MATCH_SMALLER) << true;
    QTest::newRow("smaller differs") << abc << ab9 << int(MF_ATTRIBUTES_MATCH_SMALLER) << false;
    QTest::newRow("type differs") << QStringList{"a=1"} << QStringList{"a=1L"}
                                  << int(MF_ATTRIBUTES_MATCH_ALL_ITEMS) << false;
}

void tst_MfAttributes::compare()
{
    QFETCH(QStringList, ours);
    QFETCH(QStringList, theirs);
    QFETCH(int, match);
    QFETCH(bool, expected);
    auto build = [](const QStringList &items) {
        CComPtr<IMFAttributes> a = newAttributes();
        for (const QString &item : items) {
            GUID key = kKey;
            key.Data4[7] = BYTE(item.at(0).toLatin1());
            QString value = item.mid(2);
            if (value.endsWith('L'))
                a->SetUINT64(key, value.chopped(1).toULongLong());
            else
                a->SetUINT32(key, value.toUInt());
        }
        return a;
    };
    CComPtr<IMFAttributes> a = build(ours), b = build(theirs);
    BOOL result = !expected;
    QCOMPARE(a->Compare(b, MF_ATTRIBUTES_MATCH_TYPE(match), &result), S_OK);
    QCOMPARE(bool(result), expected);
}

void tst_MfAttributes::copyAndDelete()
{
    CComPtr<IMFAttributes> source = newAttributes(), destination = newAttributes();
    fillAllKinds(source, nullptr);
    destination->SetUINT32(kKey, 1); // replaced, not kept
    QCOMPARE(source->CopyAllItems(destination), S_OK);
    BOOL equal = FALSE;
    QCOMPARE(source->Compare(destination, MF_ATTRIBUTES_MATCH_ALL_ITEMS, &equal), S_OK);
    QVERIFY(equal);
    // A deep copy: changing the source leaves the copy alone.
    source->SetString(MF_MT_USER_DATA, u"other");
    UINT32 length = 0;
    QCOMPARE(destination->GetStringLength(MF_MT_USER_DATA, &length), S_OK);
    QCOMPARE(length, 9u);
    QCOMPARE(destination->DeleteItem(MF_MT_SUBTYPE), S_OK);
    UINT32 count = 0;
    destination->GetCount(&count);
    QCOMPARE(count, 9u);
    QCOMPARE(destination->DeleteAllItems(), S_OK);
    destination->GetCount(&count);
    QCOMPARE(count, 0u);
}

void tst_MfAttributes::sizeAndRatio()
{
    CComPtr<IMFAttributes> a = newAttributes();
    QCOMPARE(MFSetAttributeSize(a, MF_MT_FRAME_SIZE, 1920, 1080), S_OK);
    QCOMPARE(MFSetAttributeRatio(a, MF_MT_FRAME_RATE, 30000, 1001), S_OK);
    UINT64 packed = 0;
    a->GetUINT64(MF_MT_FRAME_SIZE, &packed);
    QCOMPARE(packed, (UINT64(1920) << 32) | 1080); // width in the high half
    UINT32 x = 0, y = 0;
    QCOMPARE(MFGetAttributeRatio(a, MF_MT_FRAME_RATE, &x, &y), S_OK);
    QCOMPARE(x, 30000u);
    QCOMPARE(y, 1001u);
    QCOMPARE(MFGetAttributeSize(a, MF_MT_PIXEL_ASPECT_RATIO, &x, &y), MF_E_ATTRIBUTENOTFOUND);
    QCOMPARE(MFGetAttributeUINT32(a, MF_MT_INTERLACE_MODE, 7), 7u);
}

// The stored layout, byte by byte, as README.md describes it.
void tst_MfAttributes::blobLayout()
{
    CComPtr<IMFAttributes> a = newAttributes();
    a->SetUINT32(kKey, 0x11223344);
    a->SetString(kKey2, u"ab");
    const std::vector<BYTE> expected = {
        'N',  'Y',  'X',  'A',  1,    0,    0,    0,    72,   0,    0,    0,    2,    0,    0,    0, // header
        0x04, 0x03, 0x02, 0x01, 0x06, 0x05, 0x08, 0x07, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F, 0x10, // key
        19,   0,    0,    0,    4,    0,    0,    0,    0x44, 0x33, 0x22, 0x11, // UINT32
        0xA4, 0xA3, 0xA2, 0xA1, 0xB2, 0xB1, 0xC2, 0xC1, 0xD1, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6, 0xD7, 0xD8, // key
        31,   0,    0,    0,    4,    0,    0,    0,    'a',  0,    'b',  0}; // STRING
    QCOMPARE(blobOf(a), expected);
    // A buffer larger than the blob: the rest is zeroed and the blob still reads back.
    std::vector<BYTE> large(100, 0xEE);
    QCOMPARE(MFGetAttributesAsBlob(a, large.data(), UINT(large.size())), S_OK);
    QVERIFY(std::all_of(large.begin() + 72, large.end(), [](BYTE b) { return b == 0; }));
    CComPtr<IMFAttributes> back = newAttributes();
    QCOMPARE(MFInitAttributesFromBlob(back, large.data(), UINT(large.size())), S_OK);
    QCOMPARE(MFGetAttributesAsBlob(a, large.data(), 71), MF_E_BUFFERTOOSMALL);
}

void tst_MfAttributes::blobRoundTrip()
{
    CComPtr<IMFAttributes> a = newAttributes();
    CComPtr<IMFAsyncCallback> object;
    object.Attach(new Dummy);
    fillAllKinds(a, object);
    const std::vector<BYTE> blob = blobOf(a);
    QVERIFY(!blob.empty());

    CComPtr<IMFMediaType> back;
    QCOMPARE(MFCreateMediaType(&back), S_OK);
    QCOMPARE(MFInitAttributesFromBlob(back, blob.data(), UINT(blob.size())), S_OK);
    a->DeleteItem(MF_TOPONODE_SOURCE); // objects are not stored
    BOOL equal = FALSE;
    QCOMPARE(a->Compare(back, MF_ATTRIBUTES_MATCH_ALL_ITEMS, &equal), S_OK);
    QVERIFY(equal);
    QCOMPARE(blobOf(back), blob); // byte-exact, NaN bits and empty values included
}

void tst_MfAttributes::blobRefused_data()
{
    // Mutations of the two-item blob of blobLayout (items at 16 and 44, value of the string at 68).
    QTest::addColumn<int>("at");
    QTest::addColumn<uint>("value"); // 32-bit little-endian at `at`, or a byte when `width` is 1
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("size"); // bytes handed over; -1: all
    QTest::newRow("magic") << 0 << 0x58u << 1 << -1;
    QTest::newRow("version 2") << 4 << 2u << 1 << -1;
    QTest::newRow("header flags") << 6 << 1u << 1 << -1;
    QTest::newRow("total past the buffer") << 8 << 73u << 4 << -1;
    QTest::newRow("total inside an item") << 8 << 71u << 4 << -1;
    QTest::newRow("total below the header") << 8 << 8u << 4 << -1;
    QTest::newRow("count too high") << 12 << 3u << 4 << -1;
    QTest::newRow("count too low") << 12 << 1u << 4 << -1;
    QTest::newRow("count absurd") << 12 << 0xFFFFFFFFu << 4 << -1;
    QTest::newRow("kind VT_I4") << 32 << 3u << 1 << -1;
    QTest::newRow("kind object") << 32 << 13u << 1 << -1;
    QTest::newRow("item reserved") << 34 << 1u << 1 << -1;
    QTest::newRow("uint32 of 8 bytes") << 36 << 8u << 4 << -1;
    QTest::newRow("length overflow") << 36 << 0xFFFFFFF0u << 4 << -1;
    QTest::newRow("odd string length") << 64 << 3u << 4 << 71;
    QTest::newRow("NUL inside string") << 68 << 0u << 1 << -1;
    QTest::newRow("duplicate key") << 44 << 0x01020304u << 4 << -1;
}

// Every bad blob is refused as a whole: the target keeps exactly what it had.
void tst_MfAttributes::blobRefused()
{
    QFETCH(int, at);
    QFETCH(uint, value);
    QFETCH(int, width);
    QFETCH(int, size);
    CComPtr<IMFAttributes> a = newAttributes();
    a->SetUINT32(kKey, 0x11223344);
    a->SetString(kKey2, u"ab");
    std::vector<BYTE> blob = blobOf(a);
    QCOMPARE(blob.size(), std::size_t(72));
    if (width == 1)
        blob[at] = BYTE(value);
    else
        putU32(blob, at, value);
    if (size == 71)
        putU32(blob, 8, 71);
    if (at == 44) // same Data1 and the rest of the first key
        std::memcpy(&blob[44], &blob[16], 16);
    const UINT length = size < 0 ? UINT(blob.size()) : UINT(size);

    CComPtr<IMFAttributes> target = newAttributes();
    target->SetDouble(kKey, 2.5);
    QCOMPARE(MFInitAttributesFromBlob(target, blob.data(), length), MF_E_INVALID_FORMAT);
    UINT32 count = 0;
    target->GetCount(&count);
    QCOMPARE(count, 1u);
    double kept = 0;
    QCOMPARE(target->GetDouble(kKey, &kept), S_OK);
    QCOMPARE(kept, 2.5);
}

void tst_MfAttributes::blobTruncated()
{
    CComPtr<IMFAttributes> a = newAttributes();
    fillAllKinds(a, nullptr);
    const std::vector<BYTE> blob = blobOf(a);
    for (std::size_t n = 0; n < blob.size(); ++n) {
        CComPtr<IMFAttributes> target = newAttributes();
        QCOMPARE(MFInitAttributesFromBlob(target, blob.data(), UINT(n)), MF_E_INVALID_FORMAT);
        UINT32 count = 1;
        target->GetCount(&count);
        QCOMPARE(count, 0u);
    }
    CComPtr<IMFAttributes> target = newAttributes();
    QCOMPARE(MFInitAttributesFromBlob(target, nullptr, 0), E_INVALIDARG);
}

// The fuzzer's seeds are written by an independent script from the documented layout.
void tst_MfAttributes::storedSeedsParse()
{
    const QStringList names = QDir(MF_BLOB_CORPUS).entryList({"*.blob"});
    QCOMPARE(names.size(), 5);
    for (const QString &name : names) {
        QFile file(QDir(MF_BLOB_CORPUS).filePath(name));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        CComPtr<IMFMediaType> type;
        MFCreateMediaType(&type);
        QCOMPARE(MFInitAttributesFromBlob(type, reinterpret_cast<const UINT8 *>(bytes.constData()),
                                          UINT(bytes.size())),
                 S_OK);
        const std::vector<BYTE> again = blobOf(type);
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(again.data()), int(again.size())), bytes);
        if (name == "h264-type.blob") {
            GUID major, subtype;
            UINT32 width = 0, height = 0;
            QCOMPARE(type->GetMajorType(&major), S_OK);
            QCOMPARE(type->GetGUID(MF_MT_SUBTYPE, &subtype), S_OK);
            QCOMPARE(MFGetAttributeSize(type, MF_MT_FRAME_SIZE, &width, &height), S_OK);
            QCOMPARE(major, MFMediaType_Video);
            QCOMPARE(subtype, MFVideoFormat_H264);
            QCOMPARE(width, 1920u);
            QCOMPARE(height, 1080u);
        }
    }
}

// Readers of a store being replaced by CopyAllItems see the old or the new items, never a mix;
// comparing two stores both ways at once does not deadlock.
void tst_MfAttributes::concurrentCopyIsAtomic()
{
    CComPtr<IMFAttributes> ones = newAttributes(), twos = newAttributes(), target = newAttributes();
    for (BYTE k = 0; k < 8; ++k) {
        GUID key = kKey;
        key.Data4[7] = k;
        ones->SetUINT32(key, 1);
        twos->SetUINT32(key, 2);
    }
    std::atomic<bool> stop{false};
    std::atomic<int> mixed{0}, reads{0};
    std::thread writer([&] {
        // Enough copies, and enough reads while copying, however the threads are scheduled.
        for (int i = 0; i < 2000 || reads < 200; ++i)
            (i % 2 ? ones : twos)->CopyAllItems(target);
        stop = true;
    });
    std::thread reader([&] {
        while (!stop) {
            std::vector<BYTE> blob = blobOf(target);
            CComPtr<IMFAttributes> copy = newAttributes();
            if (blob.empty() || FAILED(MFInitAttributesFromBlob(copy, blob.data(), UINT(blob.size()))))
                continue;
            BOOL isOnes = FALSE, isTwos = FALSE;
            copy->Compare(ones, MF_ATTRIBUTES_MATCH_ALL_ITEMS, &isOnes);
            copy->Compare(twos, MF_ATTRIBUTES_MATCH_ALL_ITEMS, &isTwos);
            UINT32 count = 0;
            copy->GetCount(&count);
            if (count != 0 && !isOnes && !isTwos)
                ++mixed;
            ++reads;
        }
    });
    std::thread comparer([&] {
        while (!stop) {
            BOOL r;
            target->Compare(ones, MF_ATTRIBUTES_MATCH_SMALLER, &r);
            ones->Compare(target, MF_ATTRIBUTES_MATCH_SMALLER, &r);
        }
    });
    writer.join();
    reader.join();
    comparer.join();
    QCOMPARE(mixed.load(), 0);
    QVERIFY(reads.load() > 0);
}

void tst_MfAttributes::mediaTypeIsEqual_data()
{
    QTest::addColumn<int>("change");
    QTest::addColumn<uint>("flags");
    QTest::addColumn<bool>("equal");
    QTest::newRow("same") << 0 << 0xFu << true;
    QTest::newRow("other subtype") << 1 << 0x9u << false;
    QTest::newRow("other frame size") << 2 << 0xBu << false;
    QTest::newRow("frame size missing") << 3 << 0xFu << false;
    QTest::newRow("other user data") << 4 << 0x7u << false;
    QTest::newRow("frame rate range added") << 5 << 0xFu << false;
    QTest::newRow("other major type") << 6 << 0xAu << false;
}

void tst_MfAttributes::mediaTypeIsEqual()
{
    QFETCH(int, change);
    QFETCH(uint, flags);
    QFETCH(bool, equal);
    auto make = [](int change) {
        CComPtr<IMFMediaType> t;
        MFCreateMediaType(&t);
        const BYTE user[] = {1, 2, 3};
        const BYTE otherUser[] = {1, 2, 4};
        t->SetGUID(MF_MT_MAJOR_TYPE, change == 6 ? MFMediaType_Audio : MFMediaType_Video);
        t->SetGUID(MF_MT_SUBTYPE, change == 1 ? MFVideoFormat_NV12 : MFVideoFormat_H264);
        if (change != 3)
            MFSetAttributeSize(t, MF_MT_FRAME_SIZE, 1920, change == 2 ? 1088 : 1080);
        t->SetBlob(MF_MT_USER_DATA, change == 4 ? otherUser : user, 3);
        if (change == 5)
            MFSetAttributeRatio(t, MF_MT_FRAME_RATE_RANGE_MAX, 60, 1);
        return t;
    };
    CComPtr<IMFMediaType> a = make(0), b = make(change);
    DWORD got = 0;
    QCOMPARE(a->IsEqual(b, &got), equal ? S_OK : S_FALSE);
    QCOMPARE(uint(got), flags);
    QCOMPARE(b->IsEqual(a, &got), equal ? S_OK : S_FALSE);
    QCOMPARE(uint(got), flags);
    QCOMPARE(a->IsEqual(nullptr, &got), S_FALSE);
    QCOMPARE(got, 0u);
    GUID major;
    QCOMPARE(b->GetMajorType(&major), S_OK);
    QCOMPARE(major, change == 6 ? MFMediaType_Audio : MFMediaType_Video);
}

QTEST_GUILESS_MAIN(tst_MfAttributes)
#include "tst_mfattributes.moc"
