#include "rewindsourcestream2codec.h"

#include "rewindsourcelogging.h"
#include "rewindsourcestream.h"
#include "rewindsourcestream2avc.h"
#include "rewindstoredformat.h"

#include "archivechannel.h"
#include "codecs/icolorconverter.h"
#include "com/cocreate.h"
#include "mf/mfapi.h"
#include "multimedia/comexception.h"
#include "multimedia/hnstime.h"
#include "multimedia/mediabuffermapping.h"
#include "playbacktuning.h"
#include "win32/debugoutput.h"

#include <cstring>
#include <exception>

namespace {
constexpr DWORD kClassContext = 23;
constexpr DWORD kVIDC = 0x43444956; // 'VIDC'

// Runs one codec call; an exception from inside the codec is reported and the stream goes on.
template <class F> void guarded(const char *line, F call)
{
    try {
        call();
    } catch (...) {
        OutputDebugStringA(line);
    }
}
} // namespace

CRewindSourceStream2Codec::CRewindSourceStream2Codec(nyx::ISource *source, IArchiveReader *reader,
                                                     qint64 from, qint64 to, const nyx::MFMessageQueue *queue)
    : CRewindSourceStreamBase(source, reader, from, to, queue)
{
    qCDebug(lcRewindSourceMF).noquote() << "create RewindStream2 for VfW Video (CODEC)\n";
}

CRewindSourceStream2Codec::~CRewindSourceStream2Codec()
{
    CloseCodec();
}

HRESULT CRewindSourceStream2Codec::ReadStreamProperties(IArchiveStream *stream)
{
    if (!stream)
        return E_POINTER;
    // Codec streams never filter on key frames.
    m_keyFrameChannel = 0;
    HRESULT hr = findOrCreateChannel(stream, QStringLiteral("Video_1"), true, &m_videoChannel);
    if (FAILED(hr))
        return hr;
    CComBSTR name(QStringLiteral("FieldOrder"));
    BYTE flag = 0;
    DWORD id = 0;
    m_fieldOrderChannel = SUCCEEDED(stream->FindChannel(name, &flag, &id)) ? static_cast<LONG>(id) : -1;
    return S_OK;
}

HRESULT CRewindSourceStream2Codec::InitCodec(IArchiveStream *stream)
{
    StoredAttributes attributes;
    HRESULT hr = attributes.open(stream);
    if (FAILED(hr))
        return hr;
    m_interlaceMode = 3;
    StoredCodecFormat format;
    QString error;
    hr = readCodecFormat(attributes.store(), &format, &error);
    if (FAILED(hr)) {
        qCWarning(lcRewindSourceMF).noquote() << "RewindSource-Codec: stored format refused:" << error;
        return hr;
    }
    m_frameRate = format.frameRate;
    m_frameDuration = static_cast<qint64>(10000000.0 / m_frameRate + 0.499);
    const DWORD stateSize = format.stateSize;
    m_inputFormat = std::move(format.input);

    const BITMAPINFOHEADER *in = inputHeader();
    m_outputFormat = BITMAPINFOHEADER{};
    m_outputFormat.biSize = sizeof m_outputFormat;
    m_outputFormat.biWidth = in->biWidth;
    m_outputFormat.biHeight = in->biHeight;
    m_outputFormat.biPlanes = 1;
    m_outputFormat.biBitCount = 16;
    m_outputFormat.biCompression = MAKEFOURCC('Y', 'U', 'Y', '2');
    m_outputFormat.biSizeImage = static_cast<DWORD>(in->biWidth) * static_cast<DWORD>(in->biHeight) * 2;
    try {
        m_yuy2Buffer.assign(m_outputFormat.biSizeImage, 0);
    } catch (const std::bad_alloc &) {
        return E_OUTOFMEMORY;
    }

    auto *input = reinterpret_cast<BITMAPINFOHEADER *>(m_inputFormat.data());
    m_codec = ICOpen(kVIDC, input->biCompression, ICMODE_DECOMPRESS);
    if (!m_codec)
        m_codec = ICLocate(kVIDC, input->biCompression, input, &m_outputFormat, ICMODE_DECOMPRESS);
    if (!m_codec) {
        qCWarning(lcRewindSourceMF) << "RewindSource-Codec: no codec for compression"
                                    << QByteArray(reinterpret_cast<const char *>(&input->biCompression), 4);
        return E_INVALIDARG;
    }
    if (stateSize > 0) {
        BYTE *state = m_inputFormat.data() + (m_inputFormat.size() - stateSize);
        guarded("--- CRewindSourceStream2 ERROR: Exception on ICSetState !!!\n",
                [&] { ICSetState(m_codec, state, stateSize); });
    }
    guarded("--- CRewindSourceStream2 ERROR: Exception on ICDecompressBegin !!!\n",
            [&] { ICDecompressBegin(m_codec, input, &m_outputFormat); });

    CComPtr<IUnknown> converter;
    hr = CoCreateInstance(CLSID_ColorConverter, nullptr, kClassContext, IID_IUnknown,
                          reinterpret_cast<void **>(&converter));
    if (FAILED(hr))
        return hr;
    m_nv12Bytes = (static_cast<qint64>(in->biWidth) * in->biHeight * 12) / 8;
    m_converter = converter;
    return S_OK;
}

void CRewindSourceStream2Codec::CloseCodec()
{
    if (!m_codec)
        return;
    HIC codec = m_codec;
    m_codec = nullptr;
    guarded("--- CRewindSourceStream2 ERROR: Exception on ICClose !!!\n", [&] { ICClose(codec); });
}

std::vector<GUID> CRewindSourceStream2Codec::GetSupportedFormats()
{
    return {MFVideoFormat_NV12};
}

HRESULT CRewindSourceStream2Codec::CreateMediaType(const GUID &subtype, IMFMediaType **out)
{
    return createVideoMediaType(m_frameRate, m_interlaceMode, static_cast<UINT32>(m_outputFormat.biWidth),
                                static_cast<UINT32>(m_outputFormat.biHeight), subtype, out);
}

HRESULT CRewindSourceStream2Codec::Uninitialize()
{
    CloseCodec();
    m_inputFormat.clear();
    m_yuy2Buffer.clear();
    m_converter.Release();
    return CRewindSourceStreamBase::Uninitialize();
}

HRESULT CRewindSourceStream2Codec::FillSample(IMFSample **out, qint64 sampleTime)
{
    if (!m_codec || m_inputFormat.size() < sizeof(BITMAPINFOHEADER) || m_yuy2Buffer.empty())
        return E_FAIL;
    const BYTE *data = nullptr;
    DWORD length = 0;
    HRESULT hr = m_reader->ReadChannelData(m_videoChannel, &data, &length);
    if (FAILED(hr))
        return hr;

    CComPtr<IMFSample> sample;
    hr = m_samplePool->GetSample(static_cast<DWORD>(m_nv12Bytes), &sample);
    if (FAILED(hr))
        return hr;
    if (!sample)
        return E_POINTER;
    CComPtr<IMFMediaBuffer> buffer;
    hr = sample->GetBufferByIndex(0, &buffer);
    if (FAILED(hr))
        return hr;
    MediaBufferMapping mapping(buffer);
    if (mapping.maxLength() < m_nv12Bytes)
        throw ComException(E_OUTOFMEMORY, QStringLiteral("Video buffer is too small"));

    // The codec writes the stored format's size or refuses the frame: a frame of another size leaves
    // the previous picture in the buffer.
    auto *input = reinterpret_cast<BITMAPINFOHEADER *>(m_inputFormat.data());
    input->biSizeImage = length;
    DWORD result = ICERR_OK;
    guarded("--- CRewindSourceStream2 ERROR: Exception on ICDecompress !!!\n", [&] {
        result =
            ICDecompress(m_codec, 0, input, const_cast<BYTE *>(data), &m_outputFormat, m_yuy2Buffer.data());
    });
    if (static_cast<LRESULT>(static_cast<LONG>(result)) == ICERR_BADFORMAT && !m_sizeWarned) {
        m_sizeWarned = true;
        qCWarning(lcRewindSourceMF) << "RewindSource-Codec: a frame does not match the stored format"
                                    << m_outputFormat.biWidth << "x" << m_outputFormat.biHeight
                                    << "and is shown as the previous picture";
    }

    CComPtr<IColorConverter> converter;
    if (FAILED(m_converter.QueryInterface(&converter)) || !converter)
        return E_FAIL;
    const auto width = static_cast<UINT32>(m_outputFormat.biWidth);
    const auto height = static_cast<UINT32>(m_outputFormat.biHeight);
    BYTE *planes[4] = {mapping.buffer(), mapping.buffer() + static_cast<std::size_t>(width) * height, nullptr,
                       nullptr};
    const UINT32 pitches[4] = {width, width, 0, 0};
    const BYTE *source[4] = {m_yuy2Buffer.data(), nullptr, nullptr, nullptr};
    const UINT32 sourcePitches[4] = {2 * width, 0, 0, 0};
    hr = converter->convert(planes, pitches, source, sourcePitches, width, height, nyx::codecs::kFormatNV12,
                            nyx::codecs::kFormatYUY2);
    if (FAILED(hr))
        return hr;
    mapping.setCurrentLength(static_cast<DWORD>(m_nv12Bytes));
    sample->SetSampleTime(sampleTime);
    sample->SetSampleDuration(m_frameDuration);

    if (m_fieldOrderChannel >= 0) {
        const BYTE *blob = nullptr;
        DWORD blobLength = 0;
        if (m_reader->ReadChannelBlob(static_cast<DWORD>(m_fieldOrderChannel), &blob, &blobLength) == S_OK &&
            blobLength == 4) {
            qint32 order = 0;
            std::memcpy(&order, blob, sizeof order);
            if (order == -1)
                m_interlaceMode = 2;
            else if (order == 0)
                m_interlaceMode = 4;
            else if (order == 1)
                m_interlaceMode = 3;
        }
    }
    sample->SetUINT32(MFSampleExtension_SingleField, 0);
    sample->SetUINT32(MFSampleExtension_Interlaced, m_interlaceMode != 2 ? 1 : 0);
    sample->SetUINT32(MFSampleExtension_BottomFieldFirst, m_interlaceMode != 3 ? 1 : 0);
    sample->SetUINT32(MFSampleExtension_CleanPoint, 1);
    *out = sample.Detach();
    return S_OK;
}

HRESULT CRewindSourceStream2Codec::ProduceData(IMFSample **out)
{
    try {
        ReadLoop loop;
        loop.frameStep = true;
        loop.skipCount = CRewindSourceStream2AVC::skipCount(m_rate.load(), m_quality.load(),
                                                            inputHeader() ? inputHeader()->biHeight : 0,
                                                            PlaybackTuning::current());
        loop.sampleReadFormat = "CODEC::Sample read: %lld ms (%lld) (%lld)";
        loop.fill = [this](qint64, qint64 sampleTime, IMFSample **sample) {
            const HRESULT hr = FillSample(sample, sampleTime);
            if (hr != S_OK) {
                OutputDebugStringA("\n!!!!! RewindSource-Codec ERROR on FillSample !!!!!\n\n");
                qCInfo(lcRewindSourceMF).noquote() << "\n!!!!! RewindSource-Codec ERROR on FillSample !!!\n";
            }
            return hr;
        };
        loop.endMessages = [this](bool onSkip) {
            const QString at = HnsTime(m_position - m_startTime + 1).toReadableString();
            if (onSkip) {
                OutputDebugStringA("\n!!!!! RewindSource-Codec end of stream (on skip) !!!!!\n\n");
                qCInfo(lcRewindSourceMF).noquote()
                    << "\n!!!!! RewindSource-Codec end of stream (on skip) at " + at + " !!!\n";
            } else {
                OutputDebugStringA("\n!!!!! RewindSource-Codec end of stream !!!!!\n\n");
                qCInfo(lcRewindSourceMF).noquote()
                    << "\n!!!!! RewindSource-Codec end of stream at " + at + " !!!\n";
            }
        };
        return runReadLoop(loop, out);
    } catch (const ComException &e) {
        OutputDebugStringA("CRewindSourceStream2Codec::ProduceData #99 ERROR - ComException\n");
        qCWarning(lcRewindSourceMF) << "RewindSource: failed to read sample";
        QueueEvent(MEError, GUID_NULL, e.getErrorCode(), nullptr);
        return e.getErrorCode();
    }
}
