// The Video for Windows decompressors on libavcodec, chosen by FOURCC, decoding to YUY2.

#include "codecs/vfw.h"

#include "codecs/storedformats.h"
#include "libav.h"

#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <new>

namespace nyx::codecs {
namespace {
constexpr DWORD kYUY2 = MAKEFOURCC('Y', 'U', 'Y', '2');

struct CodecEntry
{
    DWORD fourcc;
    AVCodecID id;
};
// Intra-only codecs: each compressed frame decodes to one picture at once.
const CodecEntry kCodecs[] = {
    {MAKEFOURCC('M', 'J', 'P', 'G'), AV_CODEC_ID_MJPEG},
    {MAKEFOURCC('H', 'F', 'Y', 'U'), AV_CODEC_ID_HUFFYUV},
    {MAKEFOURCC('F', 'F', 'V', '1'), AV_CODEC_ID_FFV1},
};

DWORD upperFourcc(DWORD fourcc)
{
    DWORD result = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        char c = static_cast<char>((fourcc >> shift) & 0xFF);
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
        result |= static_cast<DWORD>(static_cast<BYTE>(c)) << shift;
    }
    return result;
}

const CodecEntry *findCodec(DWORD fourcc)
{
    const DWORD wanted = upperFourcc(fourcc);
    for (const CodecEntry &entry : kCodecs)
        if (entry.fourcc == wanted)
            return &entry;
    return nullptr;
}

class Decompressor
{
public:
    explicit Decompressor(const CodecEntry &codec) : m_codec(codec) {}

    LRESULT query(const BITMAPINFOHEADER *in, const BITMAPINFOHEADER *out) const;
    LRESULT begin(const BITMAPINFOHEADER *in, const BITMAPINFOHEADER *out);
    LRESULT end();
    LRESULT decompress(const ICDECOMPRESS &parameters);

    std::mutex mutex;

private:
    const CodecEntry &m_codec;
    CodecContextPtr m_context;
    PacketPtr m_packet;
    FramePtr m_frame;
    BITMAPINFOHEADER m_in{};
    BITMAPINFOHEADER m_out{};
    Scaler m_scaler;
};

LRESULT Decompressor::query(const BITMAPINFOHEADER *in, const BITMAPINFOHEADER *out) const
{
    if (!in)
        return ICERR_BADPARAM;
    QString error;
    if (upperFourcc(in->biCompression) != m_codec.fourcc || FAILED(checkBitmapHeader(*in, &error))) {
        if (!error.isEmpty())
            qCWarning(lcCodecs) << "Decompressor:" << error;
        return ICERR_BADFORMAT;
    }
    if (!out)
        return ICERR_OK;
    // YUY2 of the same size; its pairs of pixels need an even width.
    if (out->biSize < sizeof(BITMAPINFOHEADER) || upperFourcc(out->biCompression) != kYUY2 ||
        out->biBitCount != 16 || out->biWidth != in->biWidth || out->biHeight != in->biHeight ||
        (out->biWidth & 1)) {
        qCWarning(lcCodecs) << "Decompressor: output" << out->biWidth << "x" << out->biHeight << Qt::hex
                            << out->biCompression << "is not YUY2 of the input's even size" << Qt::dec
                            << in->biWidth << "x" << in->biHeight;
        return ICERR_BADFORMAT;
    }
    return ICERR_OK;
}

LRESULT Decompressor::begin(const BITMAPINFOHEADER *in, const BITMAPINFOHEADER *out)
{
    if (!out)
        return ICERR_BADPARAM;
    const LRESULT accepted = query(in, out);
    if (accepted != ICERR_OK)
        return accepted;
    end();
    const AVCodec *codec = avcodec_find_decoder(m_codec.id);
    if (!codec)
        return ICERR_UNSUPPORTED;
    CodecContextPtr context(avcodec_alloc_context3(codec));
    m_packet.reset(av_packet_alloc());
    m_frame.reset(av_frame_alloc());
    if (!context || !m_packet || !m_frame)
        return ICERR_MEMORY;
    context->width = in->biWidth;
    context->height = in->biHeight;
    context->codec_tag = in->biCompression;
    context->bits_per_coded_sample = in->biBitCount;
    context->thread_count = 1;
    // The codec bytes behind the header (query checked biSize against its limit).
    const DWORD extra = in->biSize - sizeof(BITMAPINFOHEADER);
    if (extra) {
        context->extradata = static_cast<uint8_t *>(av_mallocz(extra + AV_INPUT_BUFFER_PADDING_SIZE));
        if (!context->extradata)
            return ICERR_MEMORY;
        std::memcpy(context->extradata, reinterpret_cast<const BYTE *>(in) + sizeof(BITMAPINFOHEADER), extra);
        context->extradata_size = static_cast<int>(extra);
    }
    const int opened = avcodec_open2(context.get(), codec, nullptr);
    if (opened < 0) {
        qCWarning(lcCodecs) << "Decompressor: cannot open" << codec->name << ":" << avErrorText(opened);
        return opened == AVERROR(ENOMEM) ? ICERR_MEMORY : ICERR_BADFORMAT;
    }
    m_context = std::move(context);
    m_in = *in;
    m_out = *out;
    return ICERR_OK;
}

LRESULT Decompressor::end()
{
    m_context.reset();
    return ICERR_OK;
}

LRESULT Decompressor::decompress(const ICDECOMPRESS &parameters)
{
    if (!m_context)
        return ICERR_ERROR;
    const BITMAPINFOHEADER *in = parameters.lpbiInput;
    const BITMAPINFOHEADER *out = parameters.lpbiOutput;
    if (!in || !out || !parameters.lpOutput || (!parameters.lpInput && in->biSizeImage))
        return ICERR_BADPARAM;
    // The output buffer is the size decompression began with; another size is refused, not written.
    if (out->biWidth != m_out.biWidth || out->biHeight != m_out.biHeight ||
        upperFourcc(out->biCompression) != kYUY2 || upperFourcc(in->biCompression) != m_codec.fourcc)
        return ICERR_BADFORMAT;
    if (in->biSizeImage == 0)
        return ICERR_OK; // an empty frame repeats the picture before it
    if (in->biSizeImage > INT_MAX - AV_INPUT_BUFFER_PADDING_SIZE)
        return ICERR_BADSIZE;
    // libavcodec reads up to the padding behind the data: decode from a padded copy.
    av_packet_unref(m_packet.get());
    if (av_new_packet(m_packet.get(), static_cast<int>(in->biSizeImage)) < 0)
        return ICERR_MEMORY;
    std::memcpy(m_packet->data, parameters.lpInput, in->biSizeImage);
    m_packet->flags |= AV_PKT_FLAG_KEY;
    int result = avcodec_send_packet(m_context.get(), m_packet.get());
    av_packet_unref(m_packet.get());
    if (result >= 0)
        result = avcodec_receive_frame(m_context.get(), m_frame.get());
    if (result < 0) {
        qCWarning(lcCodecs) << "Decompressor: frame of" << in->biSizeImage
                            << "bytes not decoded:" << avErrorText(result);
        return result == AVERROR(ENOMEM) ? ICERR_MEMORY : ICERR_ERROR;
    }
    FramePtr picture(av_frame_clone(m_frame.get()));
    av_frame_unref(m_frame.get());
    if (!picture)
        return ICERR_MEMORY;
    if (picture->width != m_out.biWidth || picture->height != m_out.biHeight) {
        qCWarning(lcCodecs) << "Decompressor: decoded frame" << picture->width << "x" << picture->height
                            << "does not match the output" << m_out.biWidth << "x" << m_out.biHeight;
        return ICERR_BADFORMAT;
    }
    for (int i = 0; i < av_pix_fmt_count_planes(static_cast<AVPixelFormat>(picture->format)); ++i)
        if (picture->linesize[i] <= 0)
            return ICERR_INTERNAL;
    uint8_t *const dst[4] = {static_cast<uint8_t *>(parameters.lpOutput), nullptr, nullptr, nullptr};
    const int dstPitch[4] = {m_out.biWidth * 2, 0, 0, 0};
    const HRESULT hr =
        m_scaler.convert(picture->data, picture->linesize, static_cast<AVPixelFormat>(picture->format), dst,
                         dstPitch, AV_PIX_FMT_YUYV422, picture->width, picture->height);
    return SUCCEEDED(hr) ? ICERR_OK : ICERR_INTERNAL;
}

// Open handles; numbers are never reused, so a closed handle never reaches another decompressor.
std::mutex g_handlesMutex;
std::map<std::uintptr_t, std::shared_ptr<Decompressor>> g_handles;
std::uintptr_t g_nextHandle = 0x1000;

HIC openHandle(const CodecEntry &codec)
{
    auto decompressor = std::make_shared<Decompressor>(codec);
    std::lock_guard<std::mutex> lock(g_handlesMutex);
    const std::uintptr_t handle = g_nextHandle;
    g_nextHandle += 4;
    g_handles.emplace(handle, std::move(decompressor));
    return reinterpret_cast<HIC>(handle);
}

std::shared_ptr<Decompressor> lookup(HIC hic)
{
    std::lock_guard<std::mutex> lock(g_handlesMutex);
    const auto it = g_handles.find(reinterpret_cast<std::uintptr_t>(hic));
    return it == g_handles.end() ? nullptr : it->second;
}

bool isVideoType(DWORD fccType)
{
    return upperFourcc(fccType) == upperFourcc(ICTYPE_VIDEO);
}

bool isDecompressMode(UINT mode)
{
    return mode == ICMODE_DECOMPRESS || mode == ICMODE_FASTDECOMPRESS || mode == ICMODE_QUERY;
}
} // namespace
} // namespace nyx::codecs

using namespace nyx::codecs;

HIC ICOpen(DWORD fccType, DWORD fccHandler, UINT wMode)
{
    const CodecEntry *codec = findCodec(fccHandler);
    if (!isVideoType(fccType) || !isDecompressMode(wMode) || !codec)
        return nullptr;
    try {
        return openHandle(*codec);
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
}

HIC ICLocate(DWORD fccType, DWORD fccHandler, LPBITMAPINFOHEADER lpbiIn, LPBITMAPINFOHEADER lpbiOut,
             WORD wFlags)
{
    if (!isVideoType(fccType) || !lpbiIn || !isDecompressMode(wFlags))
        return nullptr;
    for (const DWORD fourcc : {fccHandler, lpbiIn->biCompression}) {
        const CodecEntry *codec = findCodec(fourcc);
        if (codec && Decompressor(*codec).query(lpbiIn, lpbiOut) == ICERR_OK)
            return ICOpen(fccType, fourcc, wFlags);
    }
    return nullptr;
}

LRESULT ICSendMessage(HIC hic, UINT msg, DWORD_PTR dw1, DWORD_PTR dw2)
{
    const std::shared_ptr<Decompressor> decompressor = lookup(hic);
    if (!decompressor)
        return ICERR_BADHANDLE;
    const auto in = reinterpret_cast<const BITMAPINFOHEADER *>(dw1);
    const auto out = reinterpret_cast<const BITMAPINFOHEADER *>(dw2);
    std::lock_guard<std::mutex> lock(decompressor->mutex);
    try {
        switch (msg) {
        case ICM_SETSTATE:
            // These decompressors keep no state between sessions: any block is accepted and unused.
            return ICERR_OK;
        case ICM_DECOMPRESS_QUERY:
            return decompressor->query(in, out);
        case ICM_DECOMPRESS_BEGIN:
            return decompressor->begin(in, out);
        case ICM_DECOMPRESS_END:
            return decompressor->end();
        case ICM_DECOMPRESS:
            if (!dw1 || dw2 < sizeof(ICDECOMPRESS))
                return ICERR_BADPARAM;
            return decompressor->decompress(*reinterpret_cast<const ICDECOMPRESS *>(dw1));
        default:
            return ICERR_UNSUPPORTED;
        }
    } catch (const std::bad_alloc &) {
        return ICERR_MEMORY;
    }
}

DWORD ICDecompress(HIC hic, DWORD dwFlags, LPBITMAPINFOHEADER lpbiFormat, LPVOID lpData,
                   LPBITMAPINFOHEADER lpbi, LPVOID lpBits)
{
    ICDECOMPRESS parameters{dwFlags, lpbiFormat, lpData, lpbi, lpBits, 0};
    return static_cast<DWORD>(
        ICSendMessage(hic, ICM_DECOMPRESS, reinterpret_cast<DWORD_PTR>(&parameters), sizeof parameters));
}

LRESULT ICClose(HIC hic)
{
    std::shared_ptr<Decompressor> decompressor;
    {
        std::lock_guard<std::mutex> lock(g_handlesMutex);
        const auto it = g_handles.find(reinterpret_cast<std::uintptr_t>(hic));
        if (it == g_handles.end())
            return ICERR_BADHANDLE;
        decompressor = std::move(it->second);
        g_handles.erase(it);
    }
    std::lock_guard<std::mutex> lock(decompressor->mutex);
    return decompressor->end();
}
