#include "multimedia/nodes/mfframes.h"

#include "com/comobject.h"

#include <atomic>
#include <cstring>

namespace nyx::multimedia {

namespace {
CComPtr<IMFMediaType> videoType(const GUID &subtype, int width, int height, int num, int den)
{
    CComPtr<IMFMediaType> type;
    if (FAILED(MFCreateMediaType(&type)))
        return nullptr;
    type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video);
    type->SetGUID(MF_MT_SUBTYPE, subtype);
    MFSetAttributeSize(type, MF_MT_FRAME_SIZE, UINT32(width), UINT32(height));
    MFSetAttributeRatio(type, MF_MT_FRAME_RATE, UINT32(num), UINT32(den));
    MFSetAttributeRatio(type, MF_MT_PIXEL_ASPECT_RATIO, 1, 1);
    return type;
}

// A media buffer over a frame's bytes, shared rather than copied: a 1080p picture is 3 MB, and each
// copy on its way from the capture to the encoder and the preview cost a core between four inputs
// and left the allocator's arenas holding freed pictures. The bytes are read-only once handed on (a
// frame is never written after it left its maker): Lock hands them out for reading only.
class SharedBytesBuffer final : public nyx::com::ComObject<IMFMediaBuffer>
{
public:
    explicit SharedBytesBuffer(const QByteArray &bytes) : m_bytes(bytes) {}

    HRESULT Lock(BYTE **buffer, DWORD *maxLength, DWORD *currentLength) override
    {
        if (!buffer)
            return E_POINTER;
        ++m_locks;
        *buffer = reinterpret_cast<BYTE *>(const_cast<char *>(m_bytes.constData()));
        if (maxLength)
            *maxLength = DWORD(m_bytes.size());
        if (currentLength)
            *currentLength = DWORD(m_bytes.size());
        return S_OK;
    }
    HRESULT Unlock() override
    {
        int locks = m_locks.load();
        do {
            if (locks <= 0)
                return MF_E_INVALIDREQUEST;
        } while (!m_locks.compare_exchange_weak(locks, locks - 1));
        return S_OK;
    }
    HRESULT GetCurrentLength(DWORD *length) override
    {
        if (!length)
            return E_POINTER;
        *length = DWORD(m_bytes.size());
        return S_OK;
    }
    HRESULT SetCurrentLength(DWORD length) override
    {
        // The length is the frame's: it cannot grow, and shrinking would have to cut shared bytes.
        return length == DWORD(m_bytes.size()) ? S_OK : E_INVALIDARG;
    }
    HRESULT GetMaxLength(DWORD *length) override
    {
        if (!length)
            return E_POINTER;
        *length = DWORD(m_bytes.size());
        return S_OK;
    }

    const QByteArray &bytes() const { return m_bytes; }

private:
    const QByteArray m_bytes;
    std::atomic<int> m_locks{0};
};
} // namespace

CComPtr<IMFMediaType> nv12MediaType(int width, int height, int rateNumerator, int rateDenominator)
{
    auto type = videoType(MFVideoFormat_NV12, width, height, rateNumerator, rateDenominator);
    if (type)
        type->SetUINT32(MF_MT_ALL_SAMPLES_INDEPENDENT, 1);
    return type;
}

CComPtr<IMFMediaType> h264MediaType(int width, int height, int rateNumerator, int rateDenominator)
{
    return videoType(MFVideoFormat_H264, width, height, rateNumerator, rateDenominator);
}

CComPtr<IMFMediaType> pcmMediaType(int sampleRate, int channels)
{
    CComPtr<IMFMediaType> type;
    if (FAILED(MFCreateMediaType(&type)))
        return nullptr;
    type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Audio);
    type->SetGUID(MF_MT_SUBTYPE, MFAudioFormat_PCM);
    type->SetUINT32(MF_MT_AUDIO_NUM_CHANNELS, UINT32(channels));
    type->SetUINT32(MF_MT_AUDIO_SAMPLES_PER_SECOND, UINT32(sampleRate));
    type->SetUINT32(MF_MT_AUDIO_BITS_PER_SAMPLE, 16);
    type->SetUINT32(MF_MT_ALL_SAMPLES_INDEPENDENT, 1);
    return type;
}

CComPtr<IMFSample> sampleFromBytes(const QByteArray &bytes, qint64 time, qint64 duration)
{
    CComPtr<IMFSample> sample;
    CComPtr<IMFMediaBuffer> buffer;
    if (FAILED(MFCreateSample(&sample)) || FAILED(MFCreateMemoryBuffer(DWORD(bytes.size()), &buffer)))
        return nullptr;
    BYTE *data = nullptr;
    if (FAILED(buffer->Lock(&data, nullptr, nullptr)))
        return nullptr;
    std::memcpy(data, bytes.constData(), size_t(bytes.size()));
    buffer->Unlock();
    buffer->SetCurrentLength(DWORD(bytes.size()));
    sample->AddBuffer(buffer);
    sample->SetSampleTime(time);
    sample->SetSampleDuration(duration);
    return sample;
}

CComPtr<IMFSample> sampleFromFrame(const Nv12Frame &frame)
{
    if (frame.isNull())
        return nullptr;
    CComPtr<IMFSample> sample;
    if (FAILED(MFCreateSample(&sample)))
        return nullptr;
    CComPtr<IMFMediaBuffer> buffer;
    buffer.Attach(new SharedBytesBuffer(frame.data.left(Nv12Frame::byteSize(frame.width, frame.height))));
    sample->AddBuffer(buffer);
    sample->SetSampleTime(frame.time);
    sample->SetSampleDuration(frame.duration);
    sample->SetUINT32(MFSampleExtension_CleanPoint, 1);
    return sample;
}

CComPtr<IMFSample> sampleFromPacket(const H264Packet &packet)
{
    auto sample = sampleFromBytes(packet.data, packet.time, packet.duration);
    if (sample && packet.keyFrame)
        sample->SetUINT32(MFSampleExtension_CleanPoint, 1);
    return sample;
}

QByteArray sampleBytes(IMFSample *sample)
{
    QByteArray out;
    DWORD count = 0;
    if (!sample || FAILED(sample->GetBufferCount(&count)))
        return out;
    if (count == 1) {
        // A frame's own bytes come back shared, not copied.
        CComPtr<IMFMediaBuffer> buffer;
        if (SUCCEEDED(sample->GetBufferByIndex(0, &buffer)))
            if (const auto *shared = dynamic_cast<const SharedBytesBuffer *>(buffer.p))
                return shared->bytes();
    }
    for (DWORD i = 0; i < count; ++i) {
        CComPtr<IMFMediaBuffer> buffer;
        BYTE *data = nullptr;
        DWORD length = 0;
        if (FAILED(sample->GetBufferByIndex(i, &buffer)) || FAILED(buffer->Lock(&data, nullptr, &length)))
            continue;
        out.append(reinterpret_cast<const char *>(data), int(length));
        buffer->Unlock();
    }
    return out;
}

Nv12Frame frameFromSample(IMFSample *sample, IMFMediaType *type)
{
    UINT32 width = 0, height = 0;
    if (!type || FAILED(MFGetAttributeSize(type, MF_MT_FRAME_SIZE, &width, &height)))
        return {};
    Nv12Frame frame;
    frame.width = int(width);
    frame.height = int(height);
    frame.data = sampleBytes(sample);
    if (frame.isNull())
        return {};
    LONGLONG time = 0, duration = 0;
    sample->GetSampleTime(&time);
    sample->GetSampleDuration(&duration);
    frame.time = time;
    frame.duration = duration;
    return frame;
}

} // namespace nyx::multimedia
