#include "mftesthelpers.h"

#include <QtTest>

#include <cstring>

using mftest::query;

namespace {
CComPtr<IMFMediaBuffer> bufferWith(const QByteArray &bytes, DWORD maxLength)
{
    CComPtr<IMFMediaBuffer> buffer;
    if (FAILED(MFCreateMemoryBuffer(maxLength, &buffer)))
        qFatal("MFCreateMemoryBuffer failed");
    BYTE *data = nullptr;
    buffer->Lock(&data, nullptr, nullptr);
    std::memcpy(data, bytes.constData(), std::size_t(bytes.size()));
    buffer->Unlock();
    buffer->SetCurrentLength(DWORD(bytes.size()));
    return buffer;
}

QByteArray contents(IMFMediaBuffer *buffer)
{
    BYTE *data = nullptr;
    DWORD length = 0;
    if (FAILED(buffer->Lock(&data, nullptr, &length)))
        return "<lock failed>";
    QByteArray bytes(reinterpret_cast<const char *>(data), int(length));
    buffer->Unlock();
    return bytes;
}

CComPtr<IMFMediaType> videoType(const GUID &subtype, UINT32 width)
{
    CComPtr<IMFMediaType> type;
    MFCreateMediaType(&type);
    type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video);
    type->SetGUID(MF_MT_SUBTYPE, subtype);
    MFSetAttributeSize(type, MF_MT_FRAME_SIZE, width, 720);
    return type;
}

class FakeSink final : public nyx::com::ComObject<IMFMediaSink, IMFGetService>
{
public:
    int shutdowns = 0;
    HRESULT GetCharacteristics(DWORD *) override { return E_NOTIMPL; }
    HRESULT AddStreamSink(DWORD, IMFMediaType *, IMFStreamSink **) override { return E_NOTIMPL; }
    HRESULT RemoveStreamSink(DWORD) override { return E_NOTIMPL; }
    HRESULT GetStreamSinkCount(DWORD *) override { return E_NOTIMPL; }
    HRESULT GetStreamSinkByIndex(DWORD, IMFStreamSink **) override { return E_NOTIMPL; }
    HRESULT GetStreamSinkById(DWORD, IMFStreamSink **) override { return E_NOTIMPL; }
    HRESULT SetPresentationClock(IMFPresentationClock *) override { return E_NOTIMPL; }
    HRESULT GetPresentationClock(IMFPresentationClock **) override { return E_NOTIMPL; }
    HRESULT Shutdown() override { return ++shutdowns, S_OK; }
    HRESULT GetService(REFGUID service, REFIID riid, LPVOID *object) override
    {
        if (service != MF_RATE_CONTROL_SERVICE)
            return MF_E_UNSUPPORTED_SERVICE;
        return QueryInterface(riid, object);
    }
};
} // namespace

class tst_MfObjects : public QObject
{
    Q_OBJECT

private slots:
    void bufferLengthsAndLocks_data();
    void bufferLengthsAndLocks();
    void contiguousBufferJoinsInOrder();
    void sampleTimesAndAttributes();
    void streamDescriptorHandler();
    void presentationDescriptorSelection();
    void topologyNode();
    void activateCreatesOnce();
    void getService();
};

void tst_MfObjects::bufferLengthsAndLocks_data()
{
    QTest::addColumn<uint>("alignment");
    QTest::newRow("default") << 0xFFFFFFFFu;
    QTest::newRow("1") << uint(MF_1_BYTE_ALIGNMENT);
    QTest::newRow("16") << uint(MF_16_BYTE_ALIGNMENT);
    QTest::newRow("512") << uint(MF_512_BYTE_ALIGNMENT);
}

void tst_MfObjects::bufferLengthsAndLocks()
{
    QFETCH(uint, alignment);
    CComPtr<IMFMediaBuffer> buffer;
    if (alignment == 0xFFFFFFFFu)
        QCOMPARE(MFCreateMemoryBuffer(100, &buffer), S_OK);
    else
        QCOMPARE(MFCreateAlignedMemoryBuffer(100, alignment, &buffer), S_OK);
    BYTE *data = nullptr;
    DWORD maxLength = 0, current = 1;
    QCOMPARE(buffer->Lock(&data, &maxLength, &current), S_OK);
    QCOMPARE(maxLength, 100u);
    QCOMPARE(current, 0u);
    if (alignment != 0xFFFFFFFFu)
        QCOMPARE(reinterpret_cast<std::uintptr_t>(data) & alignment, std::uintptr_t(0));
    std::memset(data, 0xAB, 100); // the whole maximum length is writable
    BYTE *again = nullptr;
    QCOMPARE(buffer->Lock(&again, nullptr, nullptr), S_OK); // locks nest
    QCOMPARE(again, data);
    QCOMPARE(buffer->Unlock(), S_OK);
    QCOMPARE(buffer->Unlock(), S_OK);
    QCOMPARE(buffer->Unlock(), MF_E_INVALIDREQUEST);
    QCOMPARE(buffer->SetCurrentLength(101), E_INVALIDARG);
    QCOMPARE(buffer->SetCurrentLength(100), S_OK);
    buffer->GetCurrentLength(&current);
    QCOMPARE(current, 100u);
    CComPtr<IMFMediaBuffer> bad;
    QCOMPARE(MFCreateAlignedMemoryBuffer(10, 6, &bad), E_INVALIDARG);
}

void tst_MfObjects::contiguousBufferJoinsInOrder()
{
    CComPtr<IMFSample> sample;
    QCOMPARE(MFCreateSample(&sample), S_OK);
    CComPtr<IMFMediaBuffer> none;
    QCOMPARE(sample->ConvertToContiguousBuffer(&none), E_UNEXPECTED);
    CComPtr<IMFMediaBuffer> first = bufferWith("abc", 10);
    sample->AddBuffer(first);
    CComPtr<IMFMediaBuffer> same;
    QCOMPARE(sample->ConvertToContiguousBuffer(&same), S_OK);
    QCOMPARE(same.p, first.p); // one buffer is handed out as it is
    sample->AddBuffer(bufferWith("", 4));
    sample->AddBuffer(bufferWith("defgh", 5));
    DWORD total = 0;
    QCOMPARE(sample->GetTotalLength(&total), S_OK);
    QCOMPARE(total, 8u);
    CComPtr<IMFMediaBuffer> small;
    MFCreateMemoryBuffer(7, &small);
    QCOMPARE(sample->CopyToBuffer(small), MF_E_BUFFERTOOSMALL);
    CComPtr<IMFMediaBuffer> joined;
    QCOMPARE(sample->ConvertToContiguousBuffer(&joined), S_OK);
    QCOMPARE(contents(joined), QByteArray("abcdefgh"));
    DWORD count = 0;
    sample->GetBufferCount(&count);
    QCOMPARE(count, 1u); // the joined buffer replaced the three
    CComPtr<IMFMediaBuffer> inSample;
    sample->GetBufferByIndex(0, &inSample);
    QCOMPARE(inSample.p, joined.p);
}

void tst_MfObjects::sampleTimesAndAttributes()
{
    CComPtr<IMFSample> sample;
    MFCreateSample(&sample);
    LONGLONG value = 0;
    QCOMPARE(sample->GetSampleTime(&value), MF_E_NO_SAMPLE_TIMESTAMP);
    QCOMPARE(sample->GetSampleDuration(&value), MF_E_NO_SAMPLE_DURATION);
    sample->SetSampleTime(-400000);
    sample->SetSampleDuration(400000);
    QCOMPARE(sample->GetSampleTime(&value), S_OK);
    QCOMPARE(value, -400000LL);
    QCOMPARE(sample->GetSampleDuration(&value), S_OK);
    QCOMPARE(value, 400000LL);
    sample->SetUINT32(MFSampleExtension_CleanPoint, 1);
    CComPtr<IMFAttributes> attributes = query<IMFAttributes>(sample);
    QVERIFY(attributes);
    QCOMPARE(MFGetAttributeUINT32(attributes, MFSampleExtension_CleanPoint, 0), 1u);
    // The blob of a sample holds its attributes (times are not attributes).
    UINT32 size = 0;
    QCOMPARE(MFGetAttributesAsBlobSize(sample, &size), S_OK);
    QCOMPARE(size, 16u + 24u + 4u);
}

void tst_MfObjects::streamDescriptorHandler()
{
    IMFMediaType *types[] = {videoType(MFVideoFormat_H264, 1280).Detach(),
                             videoType(MFVideoFormat_NV12, 1280).Detach()};
    CComPtr<IMFStreamDescriptor> descriptor;
    QCOMPARE(MFCreateStreamDescriptor(7, 2, types, &descriptor), S_OK);
    DWORD id = 0;
    descriptor->GetStreamIdentifier(&id);
    QCOMPARE(id, 7u);
    CComPtr<IMFMediaTypeHandler> handler;
    QCOMPARE(descriptor->GetMediaTypeHandler(&handler), S_OK);
    DWORD count = 0;
    handler->GetMediaTypeCount(&count);
    QCOMPARE(count, 2u);
    CComPtr<IMFMediaType> second, none, current;
    QCOMPARE(handler->GetMediaTypeByIndex(1, &second), S_OK);
    QCOMPARE(second.p, types[1]);
    QCOMPARE(handler->GetMediaTypeByIndex(2, &none), MF_E_NO_MORE_TYPES);
    QCOMPARE(handler->GetCurrentMediaType(&current), MF_E_NOT_INITIALIZED);
    GUID major = GUID_NULL;
    QCOMPARE(handler->GetMajorType(&major), S_OK);
    QCOMPARE(major, MFMediaType_Video);

    QCOMPARE(handler->IsMediaTypeSupported(videoType(MFVideoFormat_NV12, 1280), nullptr), S_OK);
    QCOMPARE(handler->IsMediaTypeSupported(videoType(MFVideoFormat_NV12, 1920), nullptr),
             MF_E_INVALIDMEDIATYPE);
    QCOMPARE(handler->SetCurrentMediaType(videoType(MFVideoFormat_YUY2, 1280)), MF_E_INVALIDMEDIATYPE);
    CComPtr<IMFMediaType> chosen = videoType(MFVideoFormat_H264, 1280);
    QCOMPARE(handler->SetCurrentMediaType(chosen), S_OK);
    QCOMPARE(handler->GetCurrentMediaType(&current), S_OK);
    QCOMPARE(current.p, chosen.p);
    for (IMFMediaType *t : types)
        t->Release();
}

void tst_MfObjects::presentationDescriptorSelection()
{
    IMFMediaType *type = videoType(MFVideoFormat_H264, 640).Detach();
    IMFStreamDescriptor *streams[2] = {};
    MFCreateStreamDescriptor(1, 1, &type, &streams[0]);
    MFCreateStreamDescriptor(2, 1, &type, &streams[1]);
    CComPtr<IMFPresentationDescriptor> pd;
    QCOMPARE(MFCreatePresentationDescriptor(2, streams, &pd), S_OK);
    pd->SetUINT64(MF_PD_DURATION, 1234);
    QCOMPARE(pd->SelectStream(1), S_OK);
    QCOMPARE(pd->SelectStream(2), E_INVALIDARG);
    CComPtr<IMFPresentationDescriptor> clone;
    QCOMPARE(pd->Clone(&clone), S_OK);
    pd->DeselectStream(1); // the clone keeps its own selection
    BOOL selected = TRUE;
    CComPtr<IMFStreamDescriptor> sd;
    QCOMPARE(clone->GetStreamDescriptorByIndex(0, &selected, &sd), S_OK);
    QVERIFY(!selected);
    QCOMPARE(sd.p, streams[0]); // stream descriptors are shared
    sd.Release();
    QCOMPARE(clone->GetStreamDescriptorByIndex(1, &selected, &sd), S_OK);
    QVERIFY(selected);
    QCOMPARE(MFGetAttributeUINT64(clone, MF_PD_DURATION, 0), 1234ull);
    for (auto *s : streams)
        s->Release();
    type->Release();
}

void tst_MfObjects::topologyNode()
{
    CComPtr<IMFTopologyNode> a, b;
    QCOMPARE(MFCreateTopologyNode(MF_TOPOLOGY_OUTPUT_NODE, &a), S_OK);
    QCOMPARE(MFCreateTopologyNode(MF_TOPOLOGY_SOURCESTREAM_NODE, &b), S_OK);
    TOPOID idA = 0, idB = 0;
    a->GetTopoNodeID(&idA);
    b->GetTopoNodeID(&idB);
    QVERIFY(idA != idB);
    MF_TOPOLOGY_TYPE type;
    b->GetNodeType(&type);
    QCOMPARE(type, MF_TOPOLOGY_SOURCESTREAM_NODE);
    CComPtr<IUnknown> object;
    QCOMPARE(a->GetObject(&object), E_FAIL);
    CComPtr<FakeSink> sink;
    sink.Attach(new FakeSink);
    QCOMPARE(a->SetObject(static_cast<IMFMediaSink *>(sink)), S_OK);
    QCOMPARE(a->GetObject(&object), S_OK);
    QVERIFY(query<IMFMediaSink>(object).p == sink.p);
    QCOMPARE(b->SetUnknown(MF_TOPONODE_SOURCE, static_cast<IMFMediaSink *>(sink)), S_OK);
    CComPtr<IMFMediaSink> back;
    QCOMPARE(b->GetUnknown(MF_TOPONODE_SOURCE, IID_IMFMediaSink, reinterpret_cast<void **>(&back)), S_OK);
    QCOMPARE(back.p, static_cast<IMFMediaSink *>(sink));
    CComPtr<IMFTopologyNode> bad;
    QCOMPARE(MFCreateTopologyNode(MF_TOPOLOGY_TYPE(9), &bad), E_INVALIDARG);
}

void tst_MfObjects::activateCreatesOnce()
{
    int created = 0;
    CComPtr<FakeSink> sink;
    sink.Attach(new FakeSink);
    CComPtr<IMFActivate> activate;
    QCOMPARE(nyx::mf::createFunctionActivate(
                 [&](IUnknown **object) {
                     ++created;
                     *object = static_cast<IMFMediaSink *>(sink);
                     (*object)->AddRef();
                     return S_OK;
                 },
                 &activate),
             S_OK);
    activate->SetUINT32(MF_TOPONODE_STREAMID, 3); // an attribute store as well
    CComPtr<IMFMediaSink> first, second;
    QCOMPARE(activate->ActivateObject(IID_IMFMediaSink, reinterpret_cast<void **>(&first)), S_OK);
    QCOMPARE(activate->ActivateObject(IID_IMFMediaSink, reinterpret_cast<void **>(&second)), S_OK);
    QCOMPARE(created, 1);
    QCOMPARE(first.p, second.p);
    QCOMPARE(activate->ShutdownObject(), S_OK);
    QCOMPARE(sink->shutdowns, 1);
    CComPtr<IMFMediaSink> third;
    QCOMPARE(activate->ActivateObject(IID_IMFMediaSink, reinterpret_cast<void **>(&third)), S_OK);
    QCOMPARE(created, 2);
    QCOMPARE(activate->DetachObject(), S_OK);
    QCOMPARE(sink->shutdowns, 1);

    CComPtr<IMFActivate> failing;
    nyx::mf::createFunctionActivate([](IUnknown **) { return E_ACCESSDENIED; }, &failing);
    CComPtr<IUnknown> nothing;
    QCOMPARE(failing->ActivateObject(IID_IUnknown, reinterpret_cast<void **>(&nothing)), E_ACCESSDENIED);
}

void tst_MfObjects::getService()
{
    CComPtr<FakeSink> sink;
    sink.Attach(new FakeSink);
    CComPtr<IMFMediaSink> viaService;
    QCOMPARE(MFGetService(static_cast<IMFMediaSink *>(sink), MF_RATE_CONTROL_SERVICE, IID_IMFMediaSink,
                          reinterpret_cast<void **>(&viaService)),
             S_OK);
    QCOMPARE(viaService.p, static_cast<IMFMediaSink *>(sink));
    CComPtr<IUnknown> none;
    QCOMPARE(MFGetService(static_cast<IMFMediaSink *>(sink), MF_MT_SUBTYPE, IID_IUnknown,
                          reinterpret_cast<void **>(&none)),
             MF_E_UNSUPPORTED_SERVICE);
    CComPtr<IMFAttributes> plain;
    MFCreateAttributes(&plain, 0);
    QCOMPARE(MFGetService(plain, MF_RATE_CONTROL_SERVICE, IID_IUnknown, reinterpret_cast<void **>(&none)),
             MF_E_UNSUPPORTED_SERVICE);
}

QTEST_GUILESS_MAIN(tst_MfObjects)
#include "tst_mfobjects.moc"
