#include "h264decoder.h"

#include "archive/archiveserver.h"
#include "codecs/h264picturesize.h"
#include "codecs/icolorconverter.h"
#include "codecs/storedformats.h"
#include "colorconverter.h"
#include "com/bstr.h"
#include "com/cocreate.h"
#include "hookstate.h"

#include <chrono>
#include <climits>
#include <cstring>
#include <thread>

namespace nyx::codecs {
namespace {
using nyx::archive::FindAtOrAfter;
using nyx::archive::FindAtOrBefore;

constexpr HRESULT kArchiveNotFound = HRESULT_FROM_WIN32(1168);
constexpr auto kReadyTimeout = std::chrono::seconds(5);
// Frames searched for an IDR access unit when the stream marks no key frames.
constexpr int kMaxKeyFrameScan = 1000;
// Frames whose times give the frame rate when neither the stream nor the SPS does.
constexpr int kRateFrames = 10;
constexpr double kFallbackFrameRate = 25.0;

// True when the Annex-B access unit holds a NAL unit of a type from first to last.
bool holdsNalUnit(const uint8_t *data, int size, int first, int last)
{
    for (int i = 0; i + 3 < size; ++i) {
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) {
            const int type = data[i + 3] & 0x1F;
            if (type >= first && type <= last)
                return true;
            i += 2;
        }
    }
    return false;
}

bool holdsIdrSlice(const uint8_t *data, int size)
{
    return holdsNalUnit(data, size, 5, 5);
}

// Coded slices (types 1 to 5): an access unit without one gives no picture.
bool holdsSlice(const uint8_t *data, int size)
{
    return holdsNalUnit(data, size, 1, 5);
}

// The slice type of the first coded slice of the access unit is I or SI (an intra picture that is
// no IDR), or the unit holds an IDR slice.
bool holdsIntraPicture(const uint8_t *data, int size)
{
    if (holdsIdrSlice(data, size))
        return true;
    for (int i = 0; i + 3 < size; ++i) {
        if (data[i] != 0 || data[i + 1] != 0 || data[i + 2] != 1)
            continue;
        if ((data[i + 3] & 0x1F) == 1) {
            h264::detail::BitReader r(data + i + 4, static_cast<std::size_t>(size - i - 4));
            r.ue(); // first macroblock
            const std::uint32_t type = r.ue() % 5;
            return !r.failed() && (type == 2 || type == 4);
        }
        i += 2;
    }
    return false;
}

bool validRate(AVRational rate)
{
    return rate.num > 0 && rate.den > 0 && SUCCEEDED(checkFrameRate(av_q2d(rate), nullptr));
}
} // namespace

HRESULT H264Decoder::create(REFIID riid, void **object)
{
    if (!object)
        return E_POINTER;
    *object = nullptr;
    auto *decoder = new (std::nothrow) H264Decoder;
    if (!decoder)
        return E_OUTOFMEMORY;
    const HRESULT hr = decoder->QueryInterface(riid, object);
    decoder->Release();
    return hr;
}

void H264Decoder::dropDecoding()
{
    if (m_context)
        avcodec_flush_buffers(m_context.get());
    m_active = false;
    m_drained = false;
    m_anyOut = false;
    m_flushAtTarget = false;
    m_lastWasKeyJump = false;
    m_fed.clear();
    m_current.reset();
    m_hasCurrent = false;
}

void H264Decoder::close()
{
    dropDecoding();
    m_context.reset();
    m_reader = nullptr;
    m_server = nullptr;
    m_streamId = GUID_NULL;
    m_videoChannel = m_keyChannel = 0;
    m_marksSeen = false;
    m_marksIgnored = false;
    m_checkedMark = -1;
    m_tooLarge = false;
    m_sharedTimeSaid = false;
    m_storedFrameRate = 0;
    m_haveInfo = false;
}

HRESULT H264Decoder::reset()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    dropDecoding();
    return S_OK;
}

HRESULT H264Decoder::waitReady()
{
    const auto deadline = std::chrono::steady_clock::now() + kReadyTimeout;
    for (;;) {
        const HRESULT hr = m_server->IsReady();
        if (hr != E_PENDING && hr != E_NOINTERFACE)
            return hr;
        if (std::chrono::steady_clock::now() >= deadline)
            return E_PENDING;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

HRESULT H264Decoder::configure(UINT32 flags, INT32 decoderKind, INT32 decoderIndex, const GUID *streamId,
                               UINT32 readerMode, UINT32 outputFormat, UINT32 framesHeld)
{
    if (!streamId)
        return E_POINTER;
    if (flags != 0 || decoderKind < -1 || decoderKind > 2 || decoderIndex < 0 || decoderIndex > 6 ||
        (readerMode != 1 && readerMode != nyx::archive::ReaderModeShared) || outputFormat != kFormatNV12 ||
        framesHeld != 1)
        return E_INVALIDARG;

    std::lock_guard<std::mutex> lock(m_mutex);
    close();
    HRESULT hr = CoCreateInstance(CLSID_RewindServer, nullptr, CLSCTX_ALL, IID_IRewindServer,
                                  reinterpret_cast<void **>(&m_server));
    if (FAILED(hr) || !m_server) {
        qCWarning(lcCodecs) << "H.264 decoder: no archive server" << Qt::hex << hr;
        m_server = nullptr;
        return FAILED(hr) ? hr : E_POINTER;
    }
    hr = waitReady();
    if (FAILED(hr)) {
        close();
        return hr;
    }

    CComPtr<IArchiveStream> stream;
    hr = m_server->OpenStream(*streamId, &stream);
    if (SUCCEEDED(hr)) {
        CComBSTR video(QStringLiteral("Video_1"));
        BYTE flag = 0;
        hr = stream->FindChannel(video, &flag, &m_videoChannel);
    }
    if (SUCCEEDED(hr)) {
        CComBSTR keyFrame(QStringLiteral("KeyFrame"));
        BYTE flag = 0;
        if (FAILED(stream->FindChannel(keyFrame, &flag, &m_keyChannel)))
            m_keyChannel = 0;
        // A stored frame rate is optional; an unusable one is as good as none.
        auto record = std::make_unique<ArchiveStreamRecord>();
        CComPtr<IAttributeStore> store;
        double rate = 0;
        if (SUCCEEDED(stream->ReadRecord(record.get())) &&
            SUCCEEDED(store.CoCreateInstance(CLSID_AttributeStore)) &&
            SUCCEEDED(store->Bind(record->attributes, nyx::archive::kAttributeBlockSize, FALSE)) &&
            SUCCEEDED(store->GetDouble(u"FrameRate", &rate))) {
            QString error;
            if (SUCCEEDED(checkFrameRate(rate, &error)))
                m_storedFrameRate = rate;
            else
                qCWarning(lcCodecs) << "H.264 decoder: stored" << error << "ignored";
        }
    }
    CComPtr<IUnknown> unknown;
    if (SUCCEEDED(hr))
        hr = m_server->CreateReader(&unknown);
    if (SUCCEEDED(hr))
        hr = unknown.QueryInterface(&m_reader);
    if (SUCCEEDED(hr))
        hr = m_reader->Open(*streamId, readerMode);
    if (FAILED(hr)) {
        qCWarning(lcCodecs) << "H.264 decoder: cannot open stream" << nyx::com::toString(*streamId) << Qt::hex
                            << hr;
        close();
        return hr;
    }

    const AVCodec *codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    m_context.reset(codec ? avcodec_alloc_context3(codec) : nullptr);
    m_packet.reset(av_packet_alloc());
    m_picture.reset(av_frame_alloc());
    if (!m_context || !m_packet || !m_picture) {
        close();
        return codec ? E_OUTOFMEMORY : E_FAIL;
    }
    // One thread: a picture is ready when its call returns, and no frame is held back by threading.
    m_context->thread_count = 1;
    // libavcodec's own bound, behind the check of the parameter sets: nothing larger is allocated.
    m_context->max_pixels = h264::kDecoderPixelLimit;
    const int opened = avcodec_open2(m_context.get(), codec, nullptr);
    if (opened < 0) {
        qCWarning(lcCodecs) << "H.264 decoder: cannot open libavcodec:" << avErrorText(opened);
        close();
        return fromAvError(opened);
    }
    m_streamId = *streamId;
    return S_OK;
}

HRESULT H264Decoder::locate(LONGLONG time, DWORD mode, DWORD filter, FrameRef *frame)
{
    LONGLONG frameTime = 0, number = 0;
    const HRESULT hr = m_reader->FindFrame(time, mode, &frameTime, nullptr, nullptr, &number, filter);
    m_reader->ReleaseFrame();
    if (hr == kArchiveNotFound)
        return kFrameNotFound;
    if (FAILED(hr))
        return hr;
    frame->time = frameTime;
    frame->number = number;
    return S_OK;
}

HRESULT H264Decoder::findAndRead(LONGLONG time, DWORD mode, FrameRef *frame, AVPacket *packet)
{
    av_packet_unref(packet);
    HRESULT hr =
        m_reader->FindFrame(time, mode, &frame->time, nullptr, nullptr, &frame->number, m_videoChannel);
    const BYTE *bytes = nullptr;
    DWORD length = 0;
    if (SUCCEEDED(hr)) {
        // A frame without a video record (or an empty one) is no picture: the packet stays empty.
        if (SUCCEEDED(m_reader->ReadChannelData(m_videoChannel, &bytes, &length)) && length > 0) {
            if (length > INT_MAX - AV_INPUT_BUFFER_PADDING_SIZE ||
                av_new_packet(packet, static_cast<int>(length)) < 0)
                hr = E_OUTOFMEMORY;
            else
                std::memcpy(packet->data, bytes, length);
        }
    }
    m_reader->ReleaseFrame();
    return hr == kArchiveNotFound ? kFrameNotFound : hr;
}

HRESULT H264Decoder::readFrame(const FrameRef &frame, AVPacket *packet)
{
    for (const DWORD mode : {FindAtOrAfter, FindAtOrBefore}) {
        FrameRef found;
        const HRESULT hr = findAndRead(frame.time, mode, &found, packet);
        if (FAILED(hr))
            return hr;
        if (found.number == frame.number)
            return S_OK;
    }
    av_packet_unref(packet);
    return kFrameNotFound;
}

bool H264Decoder::streamMarksKeyFrames()
{
    if (!m_marksSeen && m_keyChannel && !m_marksIgnored) {
        FrameRef any;
        m_marksSeen = SUCCEEDED(locate(0, FindAtOrAfter, m_keyChannel, &any));
    }
    return m_marksSeen && !m_marksIgnored;
}

bool H264Decoder::markHoldsKeyPicture(const FrameRef &key)
{
    if (key.number == m_checkedMark)
        return true;
    const FrameRef &frame = key;
    const HRESULT hr = readFrame(key, m_packet.get());
    const bool intra = SUCCEEDED(hr) && holdsIntraPicture(m_packet->data, m_packet->size);
    av_packet_unref(m_packet.get());
    if (intra)
        m_checkedMark = key.number;
    if (intra || FAILED(hr))
        return SUCCEEDED(hr);
    qCWarning(lcCodecs).noquote()
        << QStringLiteral("H.264 decoder: stream %1 marks frame %2 at %3 as a key frame, but it "
                          "holds no intra picture: key frames are taken from the pictures instead")
               .arg(nyx::com::toString(m_streamId))
               .arg(frame.number)
               .arg(frame.time);
    m_marksIgnored = true;
    return false;
}

bool H264Decoder::pictureSizeAllowed(const AVPacket *packet, const FrameRef &frame)
{
    std::int64_t width = 0, height = 0;
    if (!h264::announcedPictureSize(packet->data, static_cast<std::size_t>(packet->size), &width, &height) ||
        h264::pictureSizeAllowed(width, height))
        return true;
    if (!m_tooLarge)
        qCWarning(lcCodecs).noquote()
            << QStringLiteral(
                   "H.264 decoder: stream %1 announces %2x%3 pictures at frame %4 (time %5), larger "
                   "than the %6x%7 the decoder takes: refused")
                   .arg(nyx::com::toString(m_streamId))
                   .arg(width)
                   .arg(height)
                   .arg(frame.number)
                   .arg(frame.time)
                   .arg(h264::kMaxPictureSide)
                   .arg(h264::kMaxPicturePixels / h264::kMaxPictureSide);
    m_tooLarge = true;
    return false;
}

HRESULT H264Decoder::findKeyFrame(const FrameRef &target, LONGLONG floor, FrameRef *key, bool *found)
{
    *found = false;
    if (streamMarksKeyFrames()) {
        const HRESULT hr = locate(target.time, FindAtOrBefore, m_keyChannel, key);
        if (hr == kFrameNotFound)
            return S_OK;
        if (FAILED(hr))
            return hr;
        if (key->number <= floor)
            return S_OK;
        if (markHoldsKeyPicture(*key)) {
            *found = true;
            return S_OK;
        }
    }
    // No marks: look for the IDR access unit itself.
    LONGLONG time = target.time;
    for (int scanned = 0; scanned < kMaxKeyFrameScan; ++scanned) {
        FrameRef frame;
        HRESULT hr = findAndRead(time, FindAtOrBefore, &frame, m_packet.get());
        // Frames after the target that share its time are no key frame of it.
        bool isKey =
            SUCCEEDED(hr) && frame.number <= target.number && holdsIdrSlice(m_packet->data, m_packet->size);
        av_packet_unref(m_packet.get());
        if (hr == kFrameNotFound || (SUCCEEDED(hr) && frame.number <= floor))
            return S_OK;
        if (FAILED(hr))
            return hr;
        if (!isKey) {
            // The first frame at the same time (frames may share their times).
            FrameRef first;
            hr = findAndRead(frame.time, FindAtOrAfter, &first, m_packet.get());
            if (SUCCEEDED(hr) && first.number < frame.number && first.number > floor &&
                first.number <= target.number && holdsIdrSlice(m_packet->data, m_packet->size)) {
                frame = first;
                isKey = true;
            }
            av_packet_unref(m_packet.get());
            if (FAILED(hr) && hr != kFrameNotFound)
                return hr;
        }
        if (isKey) {
            *key = frame;
            *found = true;
            return S_OK;
        }
        if (frame.time == LLONG_MIN)
            return S_OK;
        time = frame.time - 1;
    }
    return S_OK;
}

void H264Decoder::restartAt(const FrameRef &key)
{
    avcodec_flush_buffers(m_context.get());
    m_active = true;
    m_drained = false;
    m_baseNumber = key.number;
    m_nextFeedTime = key.time;
    m_sameTimePending = false;
    m_feedAtLimit = false;
    m_lastFedNumber = key.number - 1;
    m_anyOut = false;
    m_flushAtTarget = false;
    m_fed.clear();
}

HRESULT H264Decoder::decodeTarget(const FrameRef &target)
{
    if (m_hasCurrent && m_currentRef.number == target.number)
        return S_OK;
    // The target's picture is still to come from the decoder as it is.
    const bool ahead = m_active && target.number >= m_baseNumber &&
                       (!m_anyOut || target.number > m_lastOutNumber) &&
                       !(m_drained && target.number > m_lastFedNumber);
    FrameRef key;
    bool haveKey = false;
    const HRESULT hr = findKeyFrame(target, ahead ? m_lastFedNumber : LLONG_MIN, &key, &haveKey);
    if (FAILED(hr))
        return hr;
    const bool keyJump = haveKey && key.number == target.number && (!ahead || key.number > m_lastFedNumber);
    if (haveKey && (!ahead || key.number > m_lastFedNumber)) {
        restartAt(key); // jump to the key frame rather than decode the frames before it
        // Key frame after key frame (key-frame-only play): the picture is flushed out at once instead of
        // decoding the frames behind it that the decoder would otherwise wait for.
        m_flushAtTarget = keyJump && m_lastWasKeyJump;
    } else if (!ahead) {
        return S_FALSE; // nothing to decode it from
    }
    m_lastWasKeyJump = keyJump;
    return decodeForward(target);
}

HRESULT H264Decoder::streamIsRecording(bool *recording)
{
    ArchiveStreamInfo info{};
    const HRESULT hr = m_server->GetStreamInfo(m_streamId, &info);
    *recording = SUCCEEDED(hr) && info.writing;
    return hr;
}

HRESULT H264Decoder::feedNext(bool *ended)
{
    *ended = false;
    for (;;) {
        FrameRef next;
        HRESULT hr = S_OK;
        if (m_sameTimePending) {
            // The search by time gives the first frame at a time; a frame sharing it follows.
            m_sameTimePending = false;
            hr = findAndRead(m_lastFeedTime, FindAtOrBefore, &next, m_packet.get());
            if (hr == kFrameNotFound)
                continue;
            if (SUCCEEDED(hr) && next.number > m_lastFedNumber && !m_sharedTimeSaid) {
                m_sharedTimeSaid = true;
                qCWarning(lcCodecs).noquote()
                    << QStringLiteral(
                           "H.264 decoder: stream %1 has frames sharing their times (frame %2 at %3): "
                           "only the last frame at each time is shown")
                           .arg(nyx::com::toString(m_streamId))
                           .arg(next.number)
                           .arg(next.time);
            }
        } else {
            if (m_feedAtLimit) {
                *ended = true;
                return S_OK;
            }
            hr = findAndRead(m_nextFeedTime, FindAtOrAfter, &next, m_packet.get());
            if (hr == kFrameNotFound) {
                *ended = true;
                return S_OK;
            }
            if (SUCCEEDED(hr)) {
                m_lastFeedTime = next.time;
                m_sameTimePending = true;
                // No archive time follows the last one there is.
                m_feedAtLimit = next.time == LLONG_MAX;
                m_nextFeedTime = m_feedAtLimit ? next.time : next.time + 1;
            }
        }
        if (FAILED(hr))
            return hr;
        if (next.number <= m_lastFedNumber) {
            av_packet_unref(m_packet.get());
            continue;
        }
        m_lastFedNumber = next.number;
        if (!holdsSlice(m_packet->data, m_packet->size)) {
            av_packet_unref(m_packet.get());
            continue; // no picture comes of it: the frame keeps no place among the pictures
        }
        if (!pictureSizeAllowed(m_packet.get(), next)) {
            av_packet_unref(m_packet.get());
            return kPictureTooLarge;
        }
        const int sent = avcodec_send_packet(m_context.get(), m_packet.get());
        av_packet_unref(m_packet.get());
        if (sent < 0) {
            // Its picture will not come: the frame keeps no place among the pictures.
            qCWarning(lcCodecs) << "H.264 decoder: frame" << next.number << "at" << next.time
                                << "not decoded:" << avErrorText(sent);
            if (sent == AVERROR(ENOMEM))
                return E_OUTOFMEMORY;
            continue;
        }
        hooks::countAccessUnit();
        m_fed.push_back(next);
        return S_OK;
    }
}

HRESULT H264Decoder::decodeForward(const FrameRef &target)
{
    for (;;) {
        // Fed, but its data did not decode.
        if (target.number <= m_lastFedNumber && (m_fed.empty() || m_fed.front().number > target.number))
            return S_FALSE;
        const int received = avcodec_receive_frame(m_context.get(), m_picture.get());
        if (received == 0) {
            hooks::countPicture();
            if (m_fed.empty()) {
                av_frame_unref(m_picture.get());
                continue;
            }
            const FrameRef frame = m_fed.front();
            m_fed.pop_front();
            m_anyOut = true;
            m_lastOutNumber = frame.number;
            if (frame.number != target.number) {
                av_frame_unref(m_picture.get()); // a frame skipped over
                continue;
            }
            if (m_picture->linesize[0] <= 0 || m_picture->linesize[1] < 0 || m_picture->linesize[2] < 0) {
                av_frame_unref(m_picture.get());
                return E_FAIL;
            }
            if (!m_current)
                m_current.reset(av_frame_alloc());
            if (!m_current)
                return E_OUTOFMEMORY;
            av_frame_unref(m_current.get());
            av_frame_move_ref(m_current.get(), m_picture.get());
            m_currentRef = frame;
            m_hasCurrent = true;
            return S_OK;
        }
        if (received == AVERROR_EOF)
            return S_FALSE;
        if (received != AVERROR(EAGAIN))
            return fromAvError(received);
        if (m_drained)
            return S_FALSE;
        if (m_flushAtTarget && m_lastFedNumber >= target.number) {
            avcodec_send_packet(m_context.get(), nullptr);
            m_drained = true;
            continue;
        }
        bool ended = false;
        const HRESULT hr = feedNext(&ended);
        if (FAILED(hr))
            return hr;
        if (ended) {
            bool recording = false;
            streamIsRecording(&recording);
            if (recording)
                return E_PENDING; // the frames that complete this picture are still to be written
            avcodec_send_packet(m_context.get(), nullptr);
            m_drained = true;
        }
    }
}

void H264Decoder::fill(DecodedFrame *frame) const
{
    std::memset(frame, 0, sizeof *frame);
    const AVFrame *picture = m_current.get();
    const int planes = av_pix_fmt_count_planes(static_cast<AVPixelFormat>(picture->format));
    for (int i = 0; i < 4 && i < planes; ++i) {
        frame->planes[i] = picture->data[i];
        frame->pitches[i] = static_cast<UINT32>(picture->linesize[i]);
    }
    frame->frameTime = m_currentRef.time;
    frame->width = static_cast<UINT32>(picture->width);
    frame->height = static_cast<UINT32>(picture->height);
    frame->format = formatCodeOf(static_cast<AVPixelFormat>(picture->format));
    frame->fieldOrder = picture->interlaced_frame ? (picture->top_field_first ? 1 : 0) : -1;
}

HRESULT H264Decoder::decodeFrame(LONGLONG time, DecodedFrame *frame)
{
    if (!frame)
        return E_POINTER;
    const HRESULT forced = hooks::consultDecodeHook(time);
    if (forced != S_OK)
        return forced;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_reader)
        return E_NOT_VALID_STATE;
    if (m_server->IsReady() == E_PENDING)
        return E_PENDING;
    FrameRef target;
    HRESULT hr = locate(time, FindAtOrBefore, m_videoChannel, &target);
    if (hr == S_OK)
        hr = decodeTarget(target);
    if (hr == S_OK)
        fill(frame);
    return hr;
}

HRESULT H264Decoder::frameRateFromTimes(const FrameRef &first, double *rate)
{
    FrameRef last = first;
    int frames = 1;
    while (frames < kRateFrames) {
        FrameRef next;
        if (last.time == LLONG_MAX)
            break;
        const HRESULT hr = locate(last.time + 1, FindAtOrAfter, m_videoChannel, &next);
        if (hr == kFrameNotFound)
            break;
        if (FAILED(hr))
            return hr;
        last = next;
        ++frames;
    }
    *rate = frames > 1 && last.time > first.time
                ? 1e7 * (frames - 1) / static_cast<double>(last.time - first.time)
                : 0.0;
    return S_OK;
}

HRESULT H264Decoder::getStreamInfo(H264StreamInfo *info)
{
    if (!info)
        return E_POINTER;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_reader)
        return E_NOT_VALID_STATE;
    if (!m_haveInfo) {
        FrameRef first, key;
        HRESULT hr = locate(0, FindAtOrAfter, m_videoChannel, &first);
        if (FAILED(hr))
            return hr;
        bool found = false;
        if (streamMarksKeyFrames()) {
            hr = locate(first.time, FindAtOrAfter, m_keyChannel, &key);
            found = SUCCEEDED(hr) && markHoldsKeyPicture(key);
        }
        if (!found && !streamMarksKeyFrames()) {
            LONGLONG time = first.time;
            for (int scanned = 0; scanned < kMaxKeyFrameScan && !found; ++scanned) {
                hr = findAndRead(time, FindAtOrAfter, &key, m_packet.get());
                found = SUCCEEDED(hr) && holdsIdrSlice(m_packet->data, m_packet->size);
                av_packet_unref(m_packet.get());
                if (FAILED(hr) || key.time == LLONG_MAX)
                    break;
                time = key.time + 1;
            }
        }
        if (!found)
            return kFrameNotFound;
        hr = decodeTarget(key);
        if (hr == S_FALSE)
            return kFrameNotFound;
        if (FAILED(hr))
            return hr;

        const AVFrame *picture = m_current.get();
        H264StreamInfo result{};
        result.width = static_cast<UINT32>(picture->width);
        result.height = static_cast<UINT32>(picture->height);
        result.progressive = picture->interlaced_frame ? 0 : 1;
        if (m_storedFrameRate > 0) {
            result.frameRate = m_storedFrameRate;
        } else if (validRate(m_context->framerate)) {
            result.frameRate = av_q2d(m_context->framerate);
        } else {
            hr = frameRateFromTimes(first, &result.frameRate);
            if (FAILED(hr))
                return hr;
            if (FAILED(checkFrameRate(result.frameRate, nullptr))) {
                qCWarning(lcCodecs) << "H.264 decoder: no frame rate in stream"
                                    << nyx::com::toString(m_streamId) << "- assuming" << kFallbackFrameRate;
                result.frameRate = kFallbackFrameRate;
            }
        }
        m_info = result;
        m_haveInfo = true;
        m_lastWasKeyJump = false; // the caller's first frame is no key-frame-only play
    }
    *info = m_info;
    return S_OK;
}
} // namespace nyx::codecs
