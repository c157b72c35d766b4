#include "rewindsourcestream2audio.h"

#include "rewindsourcelogging.h"
#include "rewindstoredformat.h"

#include "archivechannel.h"
#include "multimedia/comexception.h"
#include "multimedia/hnstime.h"
#include "multimedia/mediabuffermapping.h"
#include "win32/debugoutput.h"

#include "mf/mfapi.h"

#include <cstring>

CRewindSourceStream2Audio::CRewindSourceStream2Audio(nyx::ISource *source, IArchiveReader *reader,
                                                     qint64 from, qint64 to, const nyx::MFMessageQueue *queue)
    : CRewindSourceStreamBase(source, reader, from, to, queue)
{
    qCDebug(lcRewindSourceMF).noquote() << "create RewindStream2 for AUDIO\n";
}

CRewindSourceStream2Audio::~CRewindSourceStream2Audio() = default;

HRESULT CRewindSourceStream2Audio::ReadStreamProperties(IArchiveStream *stream)
{
    if (!stream)
        return E_POINTER;
    m_keyFrameChannel = 0;
    const HRESULT hr = findOrCreateChannel(stream, QStringLiteral("Audio_1"), true, &m_audioChannel);
    return FAILED(hr) ? hr : S_OK;
}

HRESULT CRewindSourceStream2Audio::InitFormat(IArchiveStream *stream)
{
    StoredAttributes attributes;
    HRESULT hr = attributes.open(stream);
    if (FAILED(hr))
        return hr;
    WAVEFORMATEX wave{};
    QString error;
    hr = readAudioFormat(attributes.store(), &wave, &error);
    if (FAILED(hr)) {
        qCWarning(lcRewindSourceMF).noquote() << "RewindSource-Audio: stored format refused:" << error;
        return hr;
    }
    m_format.wFormatTag = wave.wFormatTag;
    m_format.nChannels = wave.nChannels;
    m_format.nSamplesPerSec = wave.nSamplesPerSec;
    m_format.nAvgBytesPerSec = wave.nAvgBytesPerSec;
    m_format.nBlockAlign = wave.nBlockAlign;
    m_format.wBitsPerSample = wave.wBitsPerSample;
    return S_OK;
}

std::vector<GUID> CRewindSourceStream2Audio::GetSupportedFormats()
{
    return audioSupportedFormats(m_format);
}

HRESULT CRewindSourceStream2Audio::CreateMediaType(const GUID &, IMFMediaType **out)
{
    return createAudioMediaType(m_format, out);
}

int CRewindSourceStream2Audio::skipCount(float rate)
{
    return std::max(0, static_cast<int>(rate + 0.499f) - 1);
}

HRESULT CRewindSourceStream2Audio::FillSample(IMFSample **out, qint64 sampleTime, bool playData)
{
    // The format was checked at initialisation: the byte rate is above 0.
    if (m_format.nAvgBytesPerSec == 0)
        return E_UNEXPECTED;
    const BYTE *data = nullptr;
    DWORD length = 0;
    HRESULT hr = m_reader->ReadChannelData(m_audioChannel, &data, &length);
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
            throw ComException(E_OUTOFMEMORY, QStringLiteral("Audio buffer is too small"));
        if (length && playData)
            std::memcpy(mapping.buffer(), data, length);
        else if (length)
            std::memset(mapping.buffer(), 0, length);
        mapping.setCurrentLength(length);
    }
    const qint64 rate = m_format.nAvgBytesPerSec;
    const qint64 duration = (static_cast<qint64>(length) * 10000000 + rate / 2) / rate;
    if (std::llabs(sampleTime - m_nextTime) < kSnap)
        sampleTime = m_nextTime;
    m_nextTime = sampleTime + duration;
    sample->SetSampleTime(sampleTime);
    sample->SetSampleDuration(duration);
    sample->SetUINT32(MFSampleExtension_CleanPoint, 1);
    *out = sample.Detach();
    return S_OK;
}

HRESULT CRewindSourceStream2Audio::ProduceData(IMFSample **out)
{
    try {
        const float rate = m_rate.load();
        const bool playData = rate > 0.999f && rate < 1.001f;
        ReadLoop loop;
        loop.frameStep = true;
        loop.probeFilter = m_keyFrameChannel;
        loop.skipCount = skipCount(rate);
        loop.fill = [this, playData](qint64, qint64 sampleTime, IMFSample **sample) {
            const HRESULT hr = FillSample(sample, sampleTime, playData);
            if (hr != S_OK) {
                OutputDebugStringA("\n!!!!! RewindSource-Audio ERROR on FillSample !!!!!\n\n");
                qCInfo(lcRewindSourceMF).noquote() << "\n!!!!! RewindSource-Audio ERROR on FillSample !!!\n";
            }
            return hr;
        };
        loop.endMessages = [this](bool onSkip) {
            const QString at = HnsTime(m_position - m_startTime + 1).toReadableString();
            if (onSkip) {
                OutputDebugStringA("\n!!!!! RewindSource-Audio end of stream (on skip) !!!!!\n\n");
                qCInfo(lcRewindSourceMF).noquote()
                    << "\n!!!!! RewindSource-Audio end of stream (on skip) at " + at + " !!!\n";
            } else {
                OutputDebugStringA("\n!!!!! RewindSource-Audio end of stream !!!!!\n\n");
                qCInfo(lcRewindSourceMF).noquote()
                    << "\n!!!!! RewindSource-Audio end of stream at " + at + " !!!\n";
            }
        };
        return runReadLoop(loop, out);
    } catch (const ComException &e) {
        OutputDebugStringA("CRewindSourceStream2Audio::ProduceData #99 ERROR - ComException\n");
        qCWarning(lcRewindSourceMF) << "RewindSource: failed to read sample";
        QueueEvent(MEError, GUID_NULL, e.getErrorCode(), nullptr);
        return e.getErrorCode();
    }
}
