#pragma once
// The H.264 decoder object: reads an archive stream's access units and decodes them with libavcodec.

#include "archive/irewindserver.h"
#include "codecs/ih264decoder.h"
#include "com/comobject.h"
#include "com/comptr.h"
#include "libav.h"

#include <deque>
#include <mutex>

namespace nyx::codecs {
class H264Decoder final : public nyx::com::ComObject<IH264Decoder, IH264DecoderConfig>
{
public:
    static HRESULT create(REFIID riid, void **object);

    HRESULT reset() override;
    HRESULT getStreamInfo(H264StreamInfo *info) override;
    HRESULT decodeFrame(LONGLONG time, DecodedFrame *frame) override;
    HRESULT configure(UINT32 flags, INT32 decoderKind, INT32 decoderIndex, const GUID *streamId,
                      UINT32 readerMode, UINT32 outputFormat, UINT32 framesHeld) override;

private:
    // An archive frame holding a video record.
    struct FrameRef
    {
        LONGLONG time = 0;
        LONGLONG number = 0;
    };

    H264Decoder() = default;
    ~H264Decoder() override = default;

    void close();
    void dropDecoding();
    HRESULT waitReady();
    // The video frame FindFrame gives for time and mode; kFrameNotFound when none.
    HRESULT locate(LONGLONG time, DWORD mode, DWORD filter, FrameRef *frame);
    // The video frame FindFrame gives for time and mode, with its record copied into packet (left
    // empty when the frame holds none); kFrameNotFound when there is no such frame.
    HRESULT findAndRead(LONGLONG time, DWORD mode, FrameRef *frame, AVPacket *packet);
    // The record of the frame itself (frames may share their times: the first and the last frame at a
    // time are found); kFrameNotFound when it cannot be read by its time.
    HRESULT readFrame(const FrameRef &frame, AVPacket *packet);
    // The key frame at or before target whose number is above floor; found false when there is none.
    HRESULT findKeyFrame(const FrameRef &target, LONGLONG floor, FrameRef *key, bool *found);
    bool streamMarksKeyFrames();
    // True when the marked frame holds an intra picture (IDR or I slices); a mark on anything else
    // is wrong, and the stream's marks are not used again (key frames are found in the data).
    bool markHoldsKeyPicture(const FrameRef &key);
    // False (with the reason said once) when the access unit announces pictures larger than allowed.
    bool pictureSizeAllowed(const AVPacket *packet, const FrameRef &frame);
    // Makes the target's picture the held one, from the decoder state or from its key frame.
    HRESULT decodeTarget(const FrameRef &target);
    void restartAt(const FrameRef &key);
    HRESULT decodeForward(const FrameRef &target);
    // Feeds the next video frame after the last one fed; ended when the archive has none yet.
    HRESULT feedNext(bool *ended);
    HRESULT streamIsRecording(bool *recording);
    HRESULT frameRateFromTimes(const FrameRef &first, double *rate);
    void fill(DecodedFrame *frame) const;

    std::mutex m_mutex;

    // The stream.
    CComPtr<IRewindServer> m_server;
    CComPtr<IArchiveReader> m_reader;
    GUID m_streamId = GUID_NULL;
    DWORD m_videoChannel = 0;
    DWORD m_keyChannel = 0; // 0: the stream has no "KeyFrame" channel
    bool m_marksSeen = false;
    bool m_marksIgnored = false;
    LONGLONG m_checkedMark = -1;   // the number of the last mark found on an intra picture
    bool m_tooLarge = false;       // the stream announced pictures larger than allowed
    bool m_sharedTimeSaid = false; // frames sharing their times were reported
    double m_storedFrameRate = 0;  // 0: none stored
    bool m_haveInfo = false;
    H264StreamInfo m_info{};

    // The decoding state: pictures leave libavcodec in display order, the n-th picture after a key
    // frame belongs to the n-th archive frame after it, so fed frames wait in order for their pictures.
    CodecContextPtr m_context;
    PacketPtr m_packet;
    FramePtr m_picture;
    bool m_active = false;  // fed from m_baseNumber on
    bool m_drained = false; // the end of the stream was signalled to libavcodec
    LONGLONG m_baseNumber = 0;
    LONGLONG m_nextFeedTime = 0;
    // Frames may share their times: after the first frame at a time, the last one there is fed.
    LONGLONG m_lastFeedTime = 0;
    bool m_sameTimePending = false;
    bool m_feedAtLimit = false; // the last frame fed was at the last archive time
    LONGLONG m_lastFedNumber = 0;
    bool m_anyOut = false;
    bool m_flushAtTarget = false;  // drain as soon as the target is fed
    bool m_lastWasKeyJump = false; // the last decode restarted at its own key frame
    LONGLONG m_lastOutNumber = 0;
    std::deque<FrameRef> m_fed; // frames fed whose pictures have not come out yet

    // The picture handed out by the last decodeFrame.
    FramePtr m_current;
    FrameRef m_currentRef;
    bool m_hasCurrent = false;
};
} // namespace nyx::codecs
