#pragma once
// Plays an H.264 archive stream written by another recorder ("Video_1" access units with "KeyFrame"
// marks) as NV12 frames: the H.264 decoder object reads and decodes the stream itself, the colour
// converter writes its frames into the samples. Adds key-frame-only play and frame skipping by rate
// and quality to the read loop.

#include "rewindsourcestreambase.h"

#include "com/comptr.h"

struct PlaybackTuning;

class CRewindSourceStream2AVC : public CRewindSourceStreamBase
{
public:
    // Tries of one FillSample, busy waits and step-backs together.
    static constexpr int kMaxTries = 100;
    // A decoder still busy after those tries is asked again after this pause (as across a gap).
    static constexpr int kBusyRetryMs = 10;

    CRewindSourceStream2AVC(nyx::ISource *source, IArchiveReader *reader, qint64 from, qint64 to,
                            const nyx::MFMessageQueue *queue = nullptr);
    ~CRewindSourceStream2AVC() override;

    HRESULT ReadStreamProperties(IArchiveStream *stream) override;
    // Creates and configures the decoder for the archive stream, reads the stream's frame size and
    // rate, and creates the colour converter.
    HRESULT InitDecoder(const GUID &streamId, int decoderKind, int decoderIndex);

    std::vector<GUID> GetSupportedFormats() override;
    HRESULT CreateMediaType(const GUID &subtype, IMFMediaType **out) override;
    HRESULT Uninitialize() override;
    HRESULT ProduceData(IMFSample **out) override;
    HRESULT FillSample(IMFSample **out, qint64 frameTime, qint64 sampleTime);

    // Only key frames are decoded: fast forward, or previews when the tuning forces it.
    static bool keyFrameOnly(float rate, float quality, const PlaybackTuning &tuning);
    // Frames stepped over after each delivered one (video streams that are not key-frame-only).
    static int skipCount(float rate, float quality, LONG height, const PlaybackTuning &tuning);

    UINT32 width() const { return m_width; }
    UINT32 height() const { return m_height; }
    double frameRate() const { return m_frameRate; }
    qint64 frameDuration() const { return m_frameDuration; }
    UINT32 interlaceMode() const { return m_interlaceMode; }

private:
    // A decoded frame of another size than the stream's: the stream takes the new size and
    // announces a new media type before the sample that carries it.
    HRESULT RenewFrameSize(UINT32 width, UINT32 height);

    DWORD m_videoChannel = 0;
    DWORD m_keyFrameOnlyChannel = 0;
    UINT32 m_width = 0;
    UINT32 m_height = 0;
    UINT64 m_frameBytes = 0;
    UINT32 m_interlaceMode = 2;
    double m_frameRate = 25.0;
    qint64 m_frameDuration = 400000;
    CComPtr<IUnknown> m_decoder;
    CComPtr<IUnknown> m_converter;
    // The frame of the current read that could not be decoded, else -1.
    qint64 m_undecodableFrame = -1;
    // The last frame passed over since a frame was shown (-1: none), and how many were.
    qint64 m_passedOver = -1;
    int m_passedOverCount = 0;
    // The current read found the decoder busy.
    bool m_busy = false;
    bool m_busySaid = false;
};
