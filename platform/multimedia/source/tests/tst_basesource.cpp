// The source side of the media library with a scripted stream: events, requests, the sample pool,
// failures, rates, Disable and Shutdown.

#include "multimedia/mediasourcenode.h"
#include "multimedia/source/basesource.h"
#include "multimedia/source/basesourcestream.h"
#include "sourcetesthelpers.h"

#include <QtTest>
#include <atomic>

using namespace sourcetest;

namespace {
// {1D3C3C1A-6B7E-4E0C-9C59-3B7C2B1C5A01}
constexpr GUID kFrameNumber = {0x1D3C3C1A, 0x6B7E, 0x4E0C, {0x9C, 0x59, 0x3B, 0x7C, 0x2B, 0x1C, 0x5A, 0x01}};

QByteArray framePayload(int n)
{
    QByteArray bytes(100 + n * 7, '\0');
    for (int i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>((n * 31 + i * 7) & 0xFF);
    return bytes;
}

// Produces `frames` samples; fails while `failures` is positive (negative: always).
class ScriptedStream : public CBaseSourceStream
{
public:
    ScriptedStream(nyx::ISource *source, int frames, int poolSize)
        : CBaseSourceStream(source, 0,
                            nyx::createSampleRequestManager(this, &source->messageQueue(), nullptr)),
          m_frames(frames),
          m_pool(nyx::createFlexibleSamplePool(
              source, [this]() { requestManager()->ServeRequests(); }, static_cast<DWORD>(poolSize)))
    {
    }

    HRESULT ProduceData(IMFSample **out) override
    {
        ++produceCalls;
        if (failures != 0) {
            if (failures > 0)
                --failures;
            return E_FAIL;
        }
        if (m_next >= m_frames) {
            NotifyEndOfStream();
            return S_OK;
        }
        const QByteArray bytes = framePayload(m_next);
        CComPtr<IMFSample> sample;
        HRESULT hr = m_pool->GetSample(static_cast<DWORD>(bytes.size()), &sample);
        if (FAILED(hr))
            return hr;
        CComPtr<IMFMediaBuffer> buffer;
        sample->GetBufferByIndex(0, &buffer);
        BYTE *data = nullptr;
        buffer->Lock(&data, nullptr, nullptr);
        memcpy(data, bytes.constData(), static_cast<size_t>(bytes.size()));
        buffer->Unlock();
        buffer->SetCurrentLength(static_cast<DWORD>(bytes.size()));
        sample->SetSampleTime(m_next * 400000LL);
        if (m_next % 2)
            sample->SetUINT32(kFrameNumber, static_cast<UINT32>(m_next));
        ++m_next;
        *out = sample.Detach();
        return S_OK;
    }

    HRESULT GetAvailableTypes(std::vector<CComPtr<IMFMediaType>> &types) override
    {
        CComPtr<IMFMediaType> type;
        MFCreateMediaType(&type);
        type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video);
        type->SetGUID(MF_MT_SUBTYPE, MFVideoFormat_H264);
        types.push_back(type);
        return S_OK;
    }

    nyx::IFlexibleSamplePool *pool() const { return m_pool.get(); }

    std::atomic<int> failures{0};
    std::atomic<int> produceCalls{0};

private:
    int m_frames;
    int m_next = 0;
    std::unique_ptr<nyx::IFlexibleSamplePool> m_pool;
};

struct Fixture
{
    explicit Fixture(int frames, int poolSize = 3)
    {
        HRESULT hr = E_FAIL;
        source.Attach(new CBaseSourceWithRateSupport(hr, MFMEDIASOURCE_CAN_SEEK));
        source->AddRef();
        source->setSupportedRateRange(0, 10);
        stream =
            nyx::makeSourceStream<ScriptedStream>(static_cast<nyx::ISource *>(source.p), frames, poolSize);
        initialized = source->Initialize({stream});
        source->CreatePresentationDescriptor(&descriptor);
        sourceEvents = std::make_unique<EventLog>(static_cast<IMFMediaSourceEx *>(source.p));
        streamEvents = std::make_unique<EventLog>(stream->mediaStream());
    }
    ~Fixture()
    {
        if (source)
            source->Shutdown();
    }
    HRESULT start(LONGLONG at)
    {
        const auto position = nyx::mf::PropVariant::fromInt64(at);
        return source->Start(descriptor, nullptr, &position);
    }

    CComPtr<CBaseSourceWithRateSupport> source;
    std::shared_ptr<ScriptedStream> stream;
    CComPtr<IMFPresentationDescriptor> descriptor;
    HRESULT initialized = E_FAIL;
    std::unique_ptr<EventLog> sourceEvents;
    std::unique_ptr<EventLog> streamEvents;
};
} // namespace

class tst_BaseSource : public QObject
{
    Q_OBJECT
private slots:
    void deliversEveryRequestThenEndsOnce();
    void poolHoldsRequestsUntilASampleReturns();
    void failures_data();
    void failures();
    void rates_data();
    void rates();
    void disableAndShutdown();
    void graphHelpers();
};

void tst_BaseSource::deliversEveryRequestThenEndsOnce()
{
    Fixture f(8);
    QCOMPARE(f.initialized, S_OK);
    QCOMPARE(f.start(0), S_OK);
    QVERIFY(f.sourceEvents->waitForType(MESourceStarted));
    QCOMPARE(f.sourceEvents->events.first().type, MENewStream);
    QVERIFY(f.streamEvents->waitForType(MEStreamStarted));

    // Tokens come back on the samples; each sample is copied and let go at once.
    QVector<QByteArray> payloads;
    QVector<LONGLONG> times;
    QVector<IUnknown *> tokens;
    f.streamEvents->onEvent = [&](Event &e) {
        if (e.type != MEMediaSample)
            return;
        CComPtr<IMFSample> sample;
        e.object->QueryInterface(IID_IMFSample, reinterpret_cast<void **>(&sample));
        payloads.append(sampleBytes(sample));
        LONGLONG t = -1;
        sample->GetSampleTime(&t);
        times.append(t);
        CComPtr<IUnknown> token;
        sample->GetUnknown(MFSampleExtension_Token, IID_IUnknown, reinterpret_cast<void **>(&token));
        tokens.append(token.p);
        e.object.Release();
    };
    std::vector<CComPtr<IMFAttributes>> requestTokens;
    for (int i = 0; i < 9; ++i) {
        CComPtr<IMFAttributes> token;
        MFCreateAttributes(&token, 0);
        requestTokens.push_back(token);
        QCOMPARE(f.stream->RequestSample(token), S_OK);
    }
    QVERIFY(f.streamEvents->waitForType(MEEndOfStream));
    QCOMPARE(payloads.size(), 8);
    for (int n = 0; n < 8; ++n) {
        QCOMPARE(payloads[n], framePayload(n));
        QCOMPARE(times[n], n * 400000LL);
        QCOMPARE(tokens[n], static_cast<IUnknown *>(requestTokens[n].p));
    }
    QVERIFY(f.sourceEvents->waitForType(MEEndOfPresentation));
    QCOMPARE(f.stream->RequestSample(nullptr), MF_E_END_OF_STREAM);
    f.sourceEvents->drain();
    f.streamEvents->drain();
    QCOMPARE(f.streamEvents->count(MEEndOfStream), 1);
    QCOMPARE(f.sourceEvents->count(MEEndOfPresentation), 1);
    QVERIFY(f.streamEvents->indexOf(MEMediaSample, f.streamEvents->indexOf(MEEndOfStream)) < 0);
}

void tst_BaseSource::poolHoldsRequestsUntilASampleReturns()
{
    Fixture f(6, 3);
    QCOMPARE(f.start(0), S_OK);
    for (int i = 0; i < 5; ++i)
        QCOMPARE(f.stream->RequestSample(nullptr), S_OK);
    // The pool has three samples: the other two requests wait while all three are held.
    QVERIFY(f.streamEvents->waitForType(MEMediaSample, 3));
    QTRY_COMPARE(f.stream->pool()->outstanding(), 3);
    f.streamEvents->drain();
    QCOMPARE(f.streamEvents->count(MEMediaSample), 3);

    // Frame 1 carried an attribute; after it came back the sample that reuses it carries none.
    const int second = f.streamEvents->indexOf(MEMediaSample, f.streamEvents->indexOf(MEMediaSample) + 1);
    f.streamEvents->events[second].object.Release();
    QVERIFY(f.streamEvents->waitForType(MEMediaSample, 4));
    CComPtr<IMFSample> fourth;
    f.streamEvents->events.last().object->QueryInterface(IID_IMFSample, reinterpret_cast<void **>(&fourth));
    QCOMPARE(sampleBytes(fourth), framePayload(3));
    UINT32 number = 0;
    QCOMPARE(fourth->GetUINT32(kFrameNumber, &number), S_OK); // frame 3 sets it again
    fourth.Release();
    f.streamEvents->events.last().object.Release();
    QVERIFY(f.streamEvents->waitForType(MEMediaSample, 5));
    CComPtr<IMFSample> fifth;
    f.streamEvents->events.last().object->QueryInterface(IID_IMFSample, reinterpret_cast<void **>(&fifth));
    QCOMPARE(sampleBytes(fifth), framePayload(4));
    QCOMPARE(fifth->GetUINT32(kFrameNumber, &number), MF_E_ATTRIBUTENOTFOUND);
}

void tst_BaseSource::failures_data()
{
    QTest::addColumn<int>("failures");
    QTest::addColumn<bool>("errorRaised");
    QTest::newRow("passing") << 3 << false;
    QTest::newRow("lasting") << -1 << true;
}

void tst_BaseSource::failures()
{
    QFETCH(int, failures);
    QFETCH(bool, errorRaised);
    Fixture f(2);
    f.stream->failures = failures;
    QCOMPARE(f.start(0), S_OK);
    QCOMPARE(f.stream->RequestSample(nullptr), S_OK);
    QVERIFY(f.streamEvents->waitFor(
        [&] { return f.streamEvents->count(MEMediaSample) + f.streamEvents->count(MEError) > 0; }));
    if (errorRaised) {
        QCOMPARE(f.streamEvents->count(MEError), 1);
        QCOMPARE(f.streamEvents->events.last().status, E_FAIL);
        // The stream stays failed: further requests raise nothing more.
        QCOMPARE(f.stream->RequestSample(nullptr), S_OK);
        const int calls = f.stream->produceCalls;
        QTest::qWait(300);
        f.streamEvents->drain();
        QCOMPARE(f.streamEvents->count(MEError), 1);
        QCOMPARE(f.stream->produceCalls.load(), calls);
    } else {
        QCOMPARE(f.streamEvents->count(MEError), 0);
        QCOMPARE(f.stream->produceCalls.load(), 4);
    }
}

void tst_BaseSource::rates_data()
{
    QTest::addColumn<float>("rate");
    QTest::addColumn<HRESULT>("result");
    QTest::addColumn<float>("nearest");
    QTest::newRow("scrub") << 0.0f << S_OK << 0.0f;
    QTest::newRow("half") << 0.5f << S_OK << 0.5f;
    QTest::newRow("double") << 2.0f << S_OK << 2.0f;
    QTest::newRow("fastest") << 10.0f << S_OK << 10.0f;
    QTest::newRow("too fast") << 10.5f << MF_E_UNSUPPORTED_RATE << 10.0f;
    QTest::newRow("reverse") << -1.0f << MF_E_REVERSE_UNSUPPORTED << -1.0f;
}

void tst_BaseSource::rates()
{
    QFETCH(float, rate);
    QFETCH(HRESULT, result);
    QFETCH(float, nearest);
    Fixture f(1);
    CComPtr<IMFRateSupport> support;
    CComPtr<IMFRateControl> control;
    QCOMPARE(MFGetService(static_cast<IMFMediaSourceEx *>(f.source.p), MF_RATE_CONTROL_SERVICE,
                          IID_IMFRateSupport, reinterpret_cast<void **>(&support)),
             S_OK);
    QCOMPARE(MFGetService(static_cast<IMFMediaSourceEx *>(f.source.p), MF_RATE_CONTROL_SERVICE,
                          IID_IMFRateControl, reinterpret_cast<void **>(&control)),
             S_OK);
    float got = -1;
    QCOMPARE(support->IsRateSupported(FALSE, rate, &got), result);
    if (result != MF_E_REVERSE_UNSUPPORTED)
        QCOMPARE(got, nearest);
    QCOMPARE(control->SetRate(FALSE, rate), result);
    float now = -1;
    QCOMPARE(control->GetRate(nullptr, &now), S_OK);
    QCOMPARE(now, result == S_OK ? rate : 1.0f);
    QCOMPARE(f.stream->rate(), result == S_OK ? rate : 1.0f);
    f.sourceEvents->drain();
    QCOMPARE(f.sourceEvents->count(MESourceRateChanged), result == S_OK ? 1 : 0);
}

void tst_BaseSource::disableAndShutdown()
{
    Fixture f(4);
    QCOMPARE(f.start(0), S_OK);
    QCOMPARE(f.source->Disable(), S_OK);
    QCOMPARE(f.stream->RequestSample(nullptr), MF_E_MEDIA_SOURCE_WRONGSTATE);
    QCOMPARE(f.start(0), MF_E_INVALIDREQUEST);
    QCOMPARE(f.source->Shutdown(), S_OK);
    QCOMPARE(f.source->Shutdown(), MF_E_SHUTDOWN);
    QCOMPARE(f.stream->RequestSample(nullptr), MF_E_SHUTDOWN);
    CComPtr<IMFPresentationDescriptor> descriptor;
    QCOMPARE(f.source->CreatePresentationDescriptor(&descriptor), MF_E_SHUTDOWN);
    CComPtr<IMFMediaEvent> event;
    QCOMPARE(f.source->GetEvent(MF_EVENT_FLAG_NO_WAIT, &event), MF_E_SHUTDOWN);
}

void tst_BaseSource::graphHelpers()
{
    Fixture f(1);
    IMFMediaSource *source = static_cast<IMFMediaSource *>(f.source.p);
    CComPtr<IMFPresentationDescriptor> clean = getCleanPresentationDescriptor(source);
    QVERIFY(clean);
    DWORD index = 99;
    CComPtr<IMFTopologyNode> video = createMediaSourceNode(source, clean, MFMediaType_Video, &index);
    QVERIFY(video);
    QCOMPARE(index, DWORD(0));
    CComPtr<IMFMediaSource> nodeSource;
    QCOMPARE(
        video->GetUnknown(MF_TOPONODE_SOURCE, IID_IMFMediaSource, reinterpret_cast<void **>(&nodeSource)),
        S_OK);
    QCOMPARE(static_cast<IUnknown *>(nodeSource.p), static_cast<IUnknown *>(source));
    QVERIFY(!createMediaSourceNode(source, clean, MFMediaType_Audio, &index));
}

QTEST_GUILESS_MAIN(tst_BaseSource)
#include "tst_basesource.moc"
