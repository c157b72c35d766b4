#include "rewindsourcestream.h"

#include "rewindsourcelogging.h"

#include "archivechannel.h"
#include "multimedia/comexception.h"
#include "multimedia/hnstime.h"
#include "multimedia/mediabuffermapping.h"
#include "rewindchannels.h"

#include "mf/mfapi.h"

#include <cstring>
#include <limits>

CRewindSourceStream::CRewindSourceStream(nyx::ISource *source, IArchiveReader *reader, IMFMediaType *type,
                                         qint64 from, qint64 to, const nyx::MFMessageQueue *queue)
    : CRewindSourceStreamBase(source, reader, from, to, queue), m_currentType(type)
{
}

CRewindSourceStream::~CRewindSourceStream() = default;

HRESULT CRewindSourceStream::ReadStreamProperties(IArchiveStream *stream)
{
    HRESULT hr = CRewindSourceStreamBase::ReadStreamProperties(stream);
    if (FAILED(hr))
        return hr;
    GUID major = GUID_NULL;
    if (m_currentType)
        m_currentType->GetMajorType(&major);
    QString data;
    QString types;
    if (major == MFMediaType_Video) {
        data = rewindchannels::kVideoDataChannel;
        types = rewindchannels::kVideoMediaTypeChannel;
    } else if (major == MFMediaType_Audio) {
        data = rewindchannels::kAudioDataChannel;
        types = rewindchannels::kAudioMediaTypeChannel;
    } else {
        return S_OK;
    }
    hr = findOrCreateChannel(stream, data, rewindchannels::kDataFlag, &m_dataChannel);
    if (FAILED(hr))
        return hr;
    hr = findOrCreateChannel(stream, types, rewindchannels::kMediaTypeFlag, &m_mediaTypeChannel);
    return FAILED(hr) ? hr : S_OK;
}

HRESULT CRewindSourceStream::Initialize()
{
    const HRESULT hr = SeekFirstFormat();
    if (FAILED(hr))
        return hr;
    return CRewindSourceStreamBase::Initialize();
}

HRESULT CRewindSourceStream::GetAvailableTypes(std::vector<CComPtr<IMFMediaType>> &types)
{
    if (!m_currentType)
        return E_POINTER;
    CComPtr<IMFMediaType> copy;
    HRESULT hr = MFCreateMediaType(&copy);
    if (SUCCEEDED(hr))
        hr = m_currentType->CopyAllItems(copy);
    if (FAILED(hr))
        return hr;
    types.push_back(copy);
    return S_OK;
}

CComPtr<IMFMediaType> CRewindSourceStream::currentType() const
{
    CComPtr<IMFMediaType> copy;
    if (m_currentType && SUCCEEDED(MFCreateMediaType(&copy)))
        m_currentType->CopyAllItems(copy);
    return copy;
}

HRESULT CRewindSourceStream::ProduceData(IMFSample **out)
{
    if (!out)
        return E_POINTER;
    try {
        ReadLoop loop;
        loop.probeFilter = m_keyFrameChannel;
        loop.fill = [this](qint64, qint64 sampleTime, IMFSample **sample) {
            return ReadSample(sampleTime, sample);
        };
        loop.endMessages = [this](bool) {
            qCInfo(lcRewindSourceMF).noquote()
                << "RewindSource end of stream!" << HnsTime(m_position - m_startTime + 1).toReadableString();
        };
        return runReadLoop(loop, out);
    } catch (const ComException &e) {
        qCWarning(lcRewindSourceMF) << "RewindSource: failed to read sample";
        QueueEvent(MEError, GUID_NULL, e.getErrorCode(), nullptr);
        return e.getErrorCode();
    }
}

HRESULT CRewindSourceStream::SeekFirstFormat()
{
    qint64 t = m_position;
    for (;;) {
        if (t == std::numeric_limits<qint64>::max())
            return E_FAIL; // no frame can follow the last archive time
        LONGLONG k = 0;
        const HRESULT hr =
            m_reader->FindFrameInRange(t + 1, addTime(t, kReadWindow), 1, &k, nullptr, m_keyFrameChannel);
        if (FAILED(hr))
            throw ComException(hr, QStringLiteral("Error"));
        if (hr != S_OK)
            return E_FAIL;
        if (SUCCEEDED(LoadMediaType())) {
            m_reader->ReleaseFrame();
            return S_OK;
        }
        m_reader->ReleaseFrame();
        t = k;
    }
}

HRESULT CRewindSourceStream::LoadMediaType()
{
    const BYTE *blob = nullptr;
    DWORD length = 0;
    if (m_reader->ReadChannelBlob(m_mediaTypeChannel, &blob, &length) != S_OK)
        return E_FAIL;
    CComPtr<IMFMediaType> type;
    HRESULT hr = MFCreateMediaType(&type);
    if (SUCCEEDED(hr))
        hr = MFInitAttributesFromBlob(type, blob, length);
    if (FAILED(hr))
        return hr;
    ApplyMediaType(type);
    return S_OK;
}

HRESULT CRewindSourceStream::ApplyMediaType(IMFMediaType *type)
{
    if (!type)
        return E_POINTER;
    BOOL equal = FALSE;
    HRESULT hr = type->Compare(m_currentType, MF_ATTRIBUTES_MATCH_ALL_ITEMS, &equal);
    if (FAILED(hr))
        return hr;
    if (equal)
        return S_FALSE;
    m_currentType->DeleteAllItems();
    type->CopyAllItems(m_currentType);
    if (requestManager())
        requestManager()->SetMediaType(m_currentType);
    return S_OK;
}

HRESULT CRewindSourceStream::ReadSample(qint64 sampleTime, IMFSample **out)
{
    LoadMediaType(); // frames without a type record keep the current type
    const BYTE *bytes = nullptr;
    DWORD length = 0;
    HRESULT hr = m_reader->ReadChannelData(m_dataChannel, &bytes, &length);
    if (FAILED(hr))
        return hr;
    CComPtr<IMFSample> sample;
    hr = m_samplePool->GetSample(length, &sample);
    if (FAILED(hr))
        return hr;
    if (!sample)
        return E_POINTER;
    CComPtr<IMFMediaBuffer> buffer;
    hr = sample->GetBufferByIndex(0, &buffer);
    if (FAILED(hr))
        return hr;
    {
        MediaBufferMapping mapping(buffer);
        if (mapping.maxLength() < length)
            throw ComException(E_OUTOFMEMORY, QStringLiteral("Buffer is too small"));
        if (length)
            std::memcpy(mapping.buffer(), bytes, length);
        mapping.setCurrentLength(length);
    }
    sample->SetSampleTime(sampleTime);
    const BYTE *blob = nullptr;
    DWORD blobLength = 0;
    if (m_reader->ReadChannelBlob(m_dataChannel, &blob, &blobLength) == S_OK) {
        hr = MFInitAttributesFromBlob(sample, blob, blobLength);
        if (FAILED(hr))
            return hr;
        // Times beyond the archive's range (written by a faulty recorder) are no times: the frame's
        // own time and the stored duration stand.
        constexpr UINT64 kLimit = static_cast<UINT64>(std::numeric_limits<qint64>::max());
        UINT64 value = 0;
        if (SUCCEEDED(sample->GetUINT64(SampleArchiveTime, &value)) && value <= kLimit)
            sample->SetSampleTime(static_cast<LONGLONG>(value) - m_startTime);
        if (SUCCEEDED(sample->GetUINT64(SampleArchiveDuration, &value)) && value <= kLimit)
            sample->SetSampleDuration(static_cast<LONGLONG>(value));
    }
    *out = sample.Detach();
    return S_OK;
}

// ---- source media types ----------------------------------------------------------------------

HRESULT createVideoMediaType(double frameRate, UINT32 interlaceMode, UINT32 width, UINT32 height,
                             const GUID &subtype, IMFMediaType **out)
{
    if (!out)
        return E_INVALIDARG;
    *out = nullptr;
    CComPtr<IMFMediaType> type;
    HRESULT hr = MFCreateMediaType(&type);
    if (SUCCEEDED(hr))
        hr = type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video);
    if (SUCCEEDED(hr))
        hr = type->SetGUID(MF_MT_SUBTYPE, subtype);
    if (SUCCEEDED(hr))
        hr = type->SetUINT32(MF_MT_ALL_SAMPLES_INDEPENDENT, 1);
    if (SUCCEEDED(hr))
        hr = type->SetUINT32(MF_MT_COMPRESSED, 0);
    if (SUCCEEDED(hr))
        hr = MFSetAttributeRatio(type, MF_MT_FRAME_RATE, static_cast<UINT32>(10000 * frameRate), 10000);
    if (SUCCEEDED(hr))
        hr = type->SetUINT32(MF_MT_FIXED_SIZE_SAMPLES, 1);
    if (SUCCEEDED(hr))
        hr = type->SetUINT32(MF_MT_INTERLACE_MODE,
                             interlaceMode == 2 || interlaceMode == 3 ? interlaceMode : 4);
    if (SUCCEEDED(hr))
        hr = MFSetAttributeSize(type, MF_MT_FRAME_SIZE, width, height);
    if (SUCCEEDED(hr))
        hr = MFSetAttributeRatio(type, MF_MT_PIXEL_ASPECT_RATIO, 1, 1);
    if (FAILED(hr))
        return hr;
    *out = type.Detach();
    return S_OK;
}

HRESULT createAudioMediaType(const RewindWaveFormat &format, IMFMediaType **out)
{
    if (!out)
        return E_INVALIDARG;
    *out = nullptr;
    CComPtr<IMFMediaType> type;
    HRESULT hr = MFCreateMediaType(&type);
    if (SUCCEEDED(hr))
        hr = type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Audio);
    if (SUCCEEDED(hr))
        hr = type->SetGUID(MF_MT_SUBTYPE, format.wFormatTag == 1 ? MFAudioFormat_PCM : MFAudioFormat_Float);
    if (SUCCEEDED(hr))
        hr = type->SetUINT32(MF_MT_ALL_SAMPLES_INDEPENDENT, 1);
    if (SUCCEEDED(hr))
        hr = type->SetUINT32(MF_MT_COMPRESSED, 0);
    if (SUCCEEDED(hr))
        hr = type->SetUINT32(MF_MT_FIXED_SIZE_SAMPLES, 1);
    if (SUCCEEDED(hr))
        hr = type->SetUINT32(MF_MT_AUDIO_NUM_CHANNELS, std::min<UINT32>(format.nChannels, 2));
    if (SUCCEEDED(hr))
        hr = type->SetUINT32(MF_MT_AUDIO_SAMPLES_PER_SECOND, format.nSamplesPerSec);
    if (SUCCEEDED(hr))
        hr = type->SetUINT32(MF_MT_AUDIO_AVG_BYTES_PER_SECOND, format.nAvgBytesPerSec);
    if (SUCCEEDED(hr))
        hr = type->SetUINT32(MF_MT_AUDIO_BITS_PER_SAMPLE, format.wBitsPerSample);
    if (SUCCEEDED(hr))
        hr = type->SetUINT32(MF_MT_AUDIO_BLOCK_ALIGNMENT, format.nBlockAlign);
    if (FAILED(hr))
        return hr;
    *out = type.Detach();
    return S_OK;
}

std::vector<GUID> audioSupportedFormats(const RewindWaveFormat &format)
{
    return {format.wFormatTag == 1 ? MFAudioFormat_PCM : MFAudioFormat_Float};
}
