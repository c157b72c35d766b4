#include "testsourcenode.h"

#include "com/comobject.h"
#include "multimedia/mediasourcenode.h"
#include "multimedia/mfmessagequeue.h"

#include <QCoreApplication>
#include <mutex>

namespace {
std::mutex g_mutex;
QVector<mediatest::EncodedFrame> g_frames;
std::atomic<bool> g_guiRequest{false};

class TestSource;

class TestStream : public nyx::com::ComObject<IMFMediaStream>
{
public:
    TestStream(IMFMediaSource *source, IMFStreamDescriptor *descriptor)
        : m_source(source), m_descriptor(descriptor)
    {
        MFCreateEventQueue(&m_events);
    }
    ~TestStream() override { m_events->Shutdown(); }

    HRESULT GetEvent(DWORD flags, IMFMediaEvent **event) override { return m_events->GetEvent(flags, event); }
    HRESULT BeginGetEvent(IMFAsyncCallback *callback, IUnknown *state) override
    {
        return m_events->BeginGetEvent(callback, state);
    }
    HRESULT EndGetEvent(IMFAsyncResult *result, IMFMediaEvent **event) override
    {
        return m_events->EndGetEvent(result, event);
    }
    HRESULT QueueEvent(MediaEventType type, REFGUID extended, HRESULT status,
                       const PROPVARIANT *value) override
    {
        return m_events->QueueEventParamVar(type, extended, status, value);
    }
    HRESULT GetMediaSource(IMFMediaSource **source) override
    {
        return CComPtr<IMFMediaSource>(m_source).CopyTo(source);
    }
    HRESULT GetStreamDescriptor(IMFStreamDescriptor **descriptor) override
    {
        return m_descriptor.CopyTo(descriptor);
    }
    HRESULT RequestSample(IUnknown *) override
    {
        if (QCoreApplication::instance() &&
            QThread::currentThread() == QCoreApplication::instance()->thread())
            g_guiRequest = true;
        CComPtr<TestStream> self(this);
        return m_queue.push([self]() { return self->produce(); });
    }

    void shutdown()
    {
        m_events->Shutdown();
        m_source = nullptr;
    }
    void restart() { m_next = 0; }

private:
    HRESULT produce()
    {
        const auto frames = TestSourceNode::frames();
        if (m_next >= frames.size())
            return m_events->QueueEventParamVar(MEEndOfStream, GUID_NULL, S_OK, nullptr);
        const auto &frame = frames[m_next];
        auto sample = mediatest::makeSample(frame.bytes, m_next * mediatest::kFrameDuration,
                                            mediatest::kFrameDuration, frame.key);
        ++m_next;
        return m_events->QueueEventParamUnk(MEMediaSample, GUID_NULL, S_OK, sample);
    }

    IMFMediaSource *m_source; // not counted: the source owns the stream
    CComPtr<IMFStreamDescriptor> m_descriptor;
    CComPtr<IMFMediaEventQueue> m_events;
    nyx::MFMessageQueue m_queue;
    int m_next = 0;
};

class TestSource : public nyx::com::ComObject<IMFMediaSource>
{
public:
    explicit TestSource(int width)
    {
        MFCreateEventQueue(&m_events);
        auto type = mediatest::h264Type(static_cast<UINT32>(width), static_cast<UINT32>(width * 3 / 4));
        IMFMediaType *types[] = {type};
        CComPtr<IMFStreamDescriptor> descriptor;
        MFCreateStreamDescriptor(1, 1, types, &descriptor);
        CComPtr<IMFMediaTypeHandler> handler;
        descriptor->GetMediaTypeHandler(&handler);
        handler->SetCurrentMediaType(type);
        IMFStreamDescriptor *descriptors[] = {descriptor};
        MFCreatePresentationDescriptor(1, descriptors, &m_descriptor);
        m_descriptor->SelectStream(0);
        m_stream.Attach(new TestStream(this, descriptor));
    }
    ~TestSource() override { m_events->Shutdown(); }

    HRESULT GetEvent(DWORD flags, IMFMediaEvent **event) override { return m_events->GetEvent(flags, event); }
    HRESULT BeginGetEvent(IMFAsyncCallback *callback, IUnknown *state) override
    {
        return m_events->BeginGetEvent(callback, state);
    }
    HRESULT EndGetEvent(IMFAsyncResult *result, IMFMediaEvent **event) override
    {
        return m_events->EndGetEvent(result, event);
    }
    HRESULT QueueEvent(MediaEventType type, REFGUID extended, HRESULT status,
                       const PROPVARIANT *value) override
    {
        return m_events->QueueEventParamVar(type, extended, status, value);
    }
    HRESULT GetCharacteristics(DWORD *characteristics) override
    {
        *characteristics = 0;
        return S_OK;
    }
    HRESULT CreatePresentationDescriptor(IMFPresentationDescriptor **descriptor) override
    {
        return m_descriptor->Clone(descriptor);
    }
    HRESULT Start(IMFPresentationDescriptor *, const GUID *, const PROPVARIANT *) override
    {
        m_stream->restart();
        m_events->QueueEventParamUnk(MENewStream, GUID_NULL, S_OK, static_cast<IMFMediaStream *>(m_stream));
        m_events->QueueEventParamVar(MESourceStarted, GUID_NULL, S_OK, nullptr);
        return m_stream->QueueEvent(MEStreamStarted, GUID_NULL, S_OK, nullptr);
    }
    HRESULT Stop() override
    {
        return m_events->QueueEventParamVar(MESourceStopped, GUID_NULL, S_OK, nullptr);
    }
    HRESULT Pause() override { return MF_E_INVALID_STATE_TRANSITION; }
    HRESULT Shutdown() override
    {
        m_stream->shutdown();
        return m_events->Shutdown();
    }

private:
    CComPtr<IMFMediaEventQueue> m_events;
    CComPtr<IMFPresentationDescriptor> m_descriptor;
    CComPtr<TestStream> m_stream;
};
} // namespace

TestSourceNode::TestSourceNode(QObject *parent) : MediaNode(parent)
{
    setOutputCount(1);
    requestCreate();
}

TestSourceNode::~TestSourceNode()
{
    clearMfNodes();
    if (m_source)
        m_source->Shutdown();
}

void TestSourceNode::setFrames(const QVector<mediatest::EncodedFrame> &frames)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_frames = frames;
}

QVector<mediatest::EncodedFrame> TestSourceNode::frames()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_frames;
}

bool TestSourceNode::requestedOnGuiThread()
{
    return g_guiRequest;
}

void TestSourceNode::create()
{
    if (m_source)
        return;
    setStatus(StatusCreating);
    m_source.Attach(new TestSource(m_width));
    auto descriptor = getCleanPresentationDescriptor(m_source);
    DWORD index = 0;
    auto node = createMediaSourceNode(m_source, descriptor, MFMediaType_Video, &index);
    if (!node) {
        setStatus(StatusError);
        return;
    }
    addMfNode(node);
    output()->setMfNode(node, index);
    setStatus(StatusReady);
}
