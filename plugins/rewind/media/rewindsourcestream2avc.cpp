#include "rewindsourcestream2avc.h"

#include "rewindsourcelogging.h"
#include "rewindsourcestream.h"

#include "archivechannel.h"
#include "codecs/icolorconverter.h"
#include "codecs/ih264decoder.h"
#include "codecs/storedformats.h"
#include "com/cocreate.h"
#include "mf/mfapi.h"
#include "multimedia/comexception.h"
#include "multimedia/hnstime.h"
#include "multimedia/mediabuffermapping.h"
#include "playbacktuning.h"
#include "win32/debugoutput.h"

#include <QThread>
#include <cstring>

namespace {
// In-process server and handler, local and remote server.
constexpr DWORD kClassContext = 23;
constexpr DWORD kConfigureFlags = 0;
constexpr UINT32 kReaderMode = 2;
constexpr UINT32 kFramesHeld = 1;
constexpr UINT32 kMaxSide = 16384;
} // namespace

CRewindSourceStream2AVC::CRewindSourceStream2AVC(nyx::ISource *source, IArchiveReader *reader, qint64 from,
                                                 qint64 to, const nyx::MFMessageQueue *queue)
    : CRewindSourceStreamBase(source, reader, from, to, queue)
{
    qCDebug(lcRewindSourceMF).noquote() << "create RewindStream2 for AVC IBP Video\n";
}

CRewindSourceStream2AVC::~CRewindSourceStream2AVC() = default;

HRESULT CRewindSourceStream2AVC::ReadStreamProperties(IArchiveStream *stream)
{
    HRESULT hr = CRewindSourceStreamBase::ReadStreamProperties(stream);
    if (FAILED(hr))
        return hr;
    // Key frames filter only key-frame-only play; seeks land on any frame.
    m_keyFrameOnlyChannel = m_keyFrameChannel;
    m_keyFrameChannel = 0;
    hr = findOrCreateChannel(stream, QStringLiteral("Video_1"), true, &m_videoChannel);
    return FAILED(hr) ? hr : S_OK;
}

HRESULT CRewindSourceStream2AVC::InitDecoder(const GUID &streamId, int decoderKind, int decoderIndex)
{
    CComPtr<IUnknown> decoder;
    HRESULT hr = CoCreateInstance(CLSID_H264Decoder, nullptr, kClassContext, IID_IUnknown,
                                  reinterpret_cast<void **>(&decoder));
    if (FAILED(hr))
        return hr;
    CComPtr<IH264DecoderConfig> config;
    if (FAILED(decoder.QueryInterface(&config)) || !config)
        return E_NOINTERFACE;
    const INT32 kind = decoderKind >= -1 && decoderKind <= 2 ? decoderKind : -1;
    const INT32 index = decoderIndex >= 0 && decoderIndex <= 6 ? decoderIndex : 0;
    hr = config->configure(kConfigureFlags, kind, index, &streamId, kReaderMode, nyx::codecs::kFormatNV12,
                           kFramesHeld);
    if (FAILED(hr))
        return hr;
    CComPtr<IH264Decoder> h264;
    if (FAILED(decoder.QueryInterface(&h264)) || !h264)
        return E_NOINTERFACE;
    H264StreamInfo info;
    std::memset(&info, 0, sizeof info);
    hr = h264->getStreamInfo(&info);
    if (FAILED(hr))
        return hr;
    // The decoder's values size the buffers and divide: nothing unusable is taken.
    if (FAILED(nyx::codecs::checkFrameRate(info.frameRate, nullptr)) || info.width == 0 || info.height == 0 ||
        info.width > kMaxSide || info.height > kMaxSide) {
        qCWarning(lcRewindSourceMF) << "RewindSource: H.264 stream info refused: frame rate" << info.frameRate
                                    << "size" << info.width << "x" << info.height;
        return E_UNEXPECTED;
    }
    m_width = info.width;
    m_height = info.height;
    m_frameBytes = static_cast<UINT64>(m_width) * m_height * 3 / 2;
    m_interlaceMode = info.progressive ? 2 : 4;
    m_frameRate = info.frameRate;
    m_frameDuration = static_cast<qint64>(10000000.0 / m_frameRate + 0.499);

    CComPtr<IUnknown> converter;
    hr = CoCreateInstance(CLSID_ColorConverter, nullptr, kClassContext, IID_IUnknown,
                          reinterpret_cast<void **>(&converter));
    if (FAILED(hr))
        return hr;
    m_decoder = decoder;
    m_converter = converter;
    return S_OK;
}

std::vector<GUID> CRewindSourceStream2AVC::GetSupportedFormats()
{
    return {MFVideoFormat_NV12};
}

HRESULT CRewindSourceStream2AVC::CreateMediaType(const GUID &subtype, IMFMediaType **out)
{
    return createVideoMediaType(m_frameRate, m_interlaceMode, m_width, m_height, subtype, out);
}

HRESULT CRewindSourceStream2AVC::Uninitialize()
{
    m_decoder.Release();
    m_converter.Release();
    return CRewindSourceStreamBase::Uninitialize();
}

bool CRewindSourceStream2AVC::keyFrameOnly(float rate, float quality, const PlaybackTuning &tuning)
{
    return rate >= 0.999f && (rate >= tuning.IFrameOnlySpeedLimit ||
                              (quality < tuning.Quality4View && tuning.Force2IFrame4Preview));
}

int CRewindSourceStream2AVC::skipCount(float rate, float quality, LONG height, const PlaybackTuning &tuning)
{
    if (rate < 0.999f)
        return 0;
    if (rate > 1.999f)
        return static_cast<int>(rate + 0.499f) - 1;
    float q = quality;
    if (height < 600)
        q *= tuning.SD2HDQulityRatio;
    if (q < tuning.Quality4View)
        return tuning.Skip4Preview;
    if (q < tuning.Quality4Full)
        return tuning.Skip4View;
    return tuning.Skip4Full;
}

HRESULT CRewindSourceStream2AVC::RenewFrameSize(UINT32 width, UINT32 height)
{
    if (width == 0 || height == 0 || width > kMaxSide || height > kMaxSide)
        return E_UNEXPECTED;
    qCInfo(lcRewindSourceMF) << "RewindSource-AVC: frame size changes from" << m_width << "x" << m_height
                             << "to" << width << "x" << height;
    m_width = width;
    m_height = height;
    m_frameBytes = static_cast<UINT64>(width) * height * 3 / 2;
    CComPtr<IMFMediaType> type;
    HRESULT hr = CreateMediaType(MFVideoFormat_NV12, &type);
    if (SUCCEEDED(hr) && requestManager())
        hr = requestManager()->SetMediaType(type);
    return hr;
}

HRESULT CRewindSourceStream2AVC::FillSample(IMFSample **out, qint64 frameTime, qint64 sampleTime)
{
    CComPtr<IH264Decoder> decoder;
    CComPtr<IColorConverter> converter;
    if (!m_decoder || !m_converter || FAILED(m_decoder.QueryInterface(&decoder)) || !decoder ||
        FAILED(m_converter.QueryInterface(&converter)) || !converter)
        return E_FAIL;

    DecodedFrame frame;
    std::memset(&frame, 0, sizeof frame);
    qint64 time = frameTime;
    HRESULT hr = E_PENDING;
    for (int i = 0; i < kMaxTries; ++i) {
        hr = decoder->decodeFrame(time, &frame);
        if (hr == S_OK)
            break;
        if (hr == E_PENDING) {
            QThread::msleep(10);
            continue;
        }
        if (hr != S_FALSE)
            break;
        qCInfo(lcRewindSourceMF).noquote()
            << "\n!!!!!!!!!!!!!!!!!! RewindSourceStream2AVC - step back !!!!!!!!!!!!!!!!!!!!!\n\n";
        time -= m_frameDuration;
    }
    if (hr != S_OK)
        return hr == nyx::codecs::kFrameNotFound || hr == S_FALSE ? S_FALSE : hr;

    if (frame.width != m_width || frame.height != m_height) {
        hr = RenewFrameSize(frame.width, frame.height);
        if (FAILED(hr))
            return hr;
    }

    CComPtr<IMFSample> sample;
    hr = m_samplePool->GetSample(static_cast<DWORD>(m_frameBytes), &sample);
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
        if (mapping.maxLength() < m_frameBytes)
            throw ComException(E_OUTOFMEMORY, QStringLiteral("Video buffer is too small"));
        BYTE *planes[4] = {mapping.buffer(), mapping.buffer() + static_cast<std::size_t>(m_width) * m_height,
                           nullptr, nullptr};
        const UINT32 pitches[4] = {m_width, m_width, 0, 0};
        // The frame's own size: the converter refuses a frame that would not fit the buffer.
        hr = converter->convert(planes, pitches, frame.planes, frame.pitches, frame.width, frame.height,
                                nyx::codecs::kFormatNV12, frame.format);
        if (FAILED(hr))
            return hr;
        mapping.setCurrentLength(static_cast<DWORD>(m_frameBytes));
    }
    sample->SetSampleTime(sampleTime);
    sample->SetSampleDuration(m_frameDuration);
    sample->SetUINT32(MFSampleExtension_SingleField, 0);
    sample->SetUINT32(MFSampleExtension_Interlaced, frame.fieldOrder != -1 ? 1 : 0);
    sample->SetUINT32(MFSampleExtension_BottomFieldFirst, frame.fieldOrder != 1 ? 1 : 0);
    sample->SetUINT32(MFSampleExtension_CleanPoint, 1);
    *out = sample.Detach();
    return S_OK;
}

HRESULT CRewindSourceStream2AVC::ProduceData(IMFSample **out)
{
    try {
        const PlaybackTuning &tuning = PlaybackTuning::current();
        const float rate = m_rate.load();
        const float quality = m_quality.load();
        const bool keysOnly = keyFrameOnly(rate, quality, tuning);
        ReadLoop loop;
        loop.frameStep = true;
        loop.windowFilter = keysOnly ? m_keyFrameOnlyChannel : 0;
        loop.probeFilter = loop.windowFilter;
        loop.skipCount = keysOnly ? 0 : skipCount(rate, quality, static_cast<LONG>(m_height), tuning);
        loop.sampleReadFormat = "AVCDecoder::Sample read: %lld ms (%lld) (%lld)";
        loop.stepPassOver = m_passedOver;
        loop.fill = [this](qint64 frameTime, qint64 sampleTime, IMFSample **sample) {
            const HRESULT hr = FillSample(sample, frameTime, sampleTime);
            if (hr == S_FALSE) {
                m_undecodableFrame = frameTime;
            } else if (hr == E_PENDING) {
                m_busy = true;
            } else if (hr != S_OK) {
                OutputDebugStringA("\n!!!!! RewindSource-AVC ERROR on FillSample !!!!!\n\n");
                qCInfo(lcRewindSourceMF).noquote() << "\n!!!!! RewindSource-AVC ERROR on FillSample !!!\n";
            }
            return hr;
        };
        loop.endMessages = [this](bool onSkip) {
            const QString at = HnsTime(m_position - m_startTime + 1).toReadableString();
            if (onSkip) {
                OutputDebugStringA("\n!!!!! RewindSource-AVC end of stream (on skip) !!!!!\n\n");
                qCInfo(lcRewindSourceMF).noquote()
                    << "\n!!!!! RewindSource-AVC end of stream (on skip) at " + at + " !!!\n";
            } else {
                OutputDebugStringA("\n!!!!! RewindSource-AVC end of stream !!!!!\n\n");
                qCInfo(lcRewindSourceMF).noquote()
                    << "\n!!!!! RewindSource-AVC end of stream at " + at + " !!!\n";
            }
        };
        m_undecodableFrame = -1;
        m_busy = false;
        const HRESULT hr = runReadLoop(loop, out);
        if (m_undecodableFrame >= 0) {
            // Nothing can be shown at or before this frame (it precedes every key frame, or its data
            // does not decode): it is passed over, and the next request goes on behind it (a frame
            // step too). Said once for a run of such frames.
            if (m_passedOverCount++ == 0)
                qCWarning(lcRewindSourceMF).noquote()
                    << "RewindSource-AVC: the frame at" << FormatFileTime(m_undecodableFrame)
                    << "cannot be decoded (no key frame before it, or damaged data): passed over";
            m_passedOver = m_undecodableFrame;
            m_position = m_undecodableFrame;
            CComPtr<IMFMediaStream> keep(this);
            m_queue.push([keep, this]() { return NotifyRequestManager(); });
            return S_OK;
        }
        if (m_busy) {
            // The decoder waits for frames still to be recorded: the request is served again shortly,
            // as across a gap, and the same frame is asked for then.
            if (!m_busySaid)
                qCInfo(lcRewindSourceMF).noquote()
                    << "RewindSource-AVC: decoder busy at"
                    << HnsTime(m_position - m_startTime).toReadableString() << "- asking again";
            m_busySaid = true;
            if (requestManager())
                requestManager()->ServeRequestsLater(kBusyRetryMs);
            return S_OK;
        }
        if (out && *out) {
            if (m_passedOverCount > 1)
                qCInfo(lcRewindSourceMF).noquote()
                    << "RewindSource-AVC:" << m_passedOverCount << "undecodable frames passed over up to"
                    << FormatFileTime(m_passedOver);
            m_passedOver = -1;
            m_passedOverCount = 0;
            m_busySaid = false;
        }
        return hr;
    } catch (const ComException &e) {
        OutputDebugStringA("CRewindSourceStream2AVC::ProduceData #99 ERROR - ComException\n");
        qCWarning(lcRewindSourceMF) << "RewindSource: failed to read sample";
        QueueEvent(MEError, GUID_NULL, e.getErrorCode(), nullptr);
        return e.getErrorCode();
    }
}
