#pragma once
// Plays a video archive stream compressed with a Video for Windows codec ("VideoFormat", optional
// "VideoCodecState", "FrameRate" in the stream's attributes, frames in "Video_1", field order in
// "FieldOrder") as NV12 frames: decompressed to YUY2, then converted.

#include "rewindsourcestreambase.h"

#include "codecs/formats.h"
#include "codecs/vfw.h"
#include "com/comptr.h"

#include <vector>

class CRewindSourceStream2Codec : public CRewindSourceStreamBase
{
public:
    CRewindSourceStream2Codec(nyx::ISource *source, IArchiveReader *reader, qint64 from, qint64 to,
                              const nyx::MFMessageQueue *queue = nullptr);
    ~CRewindSourceStream2Codec() override;

    HRESULT ReadStreamProperties(IArchiveStream *stream) override;
    // Reads and checks the stored format, opens the codec and creates the colour converter.
    HRESULT InitCodec(IArchiveStream *stream);

    std::vector<GUID> GetSupportedFormats() override;
    HRESULT CreateMediaType(const GUID &subtype, IMFMediaType **out) override;
    HRESULT Uninitialize() override;
    HRESULT ProduceData(IMFSample **out) override;
    HRESULT FillSample(IMFSample **out, qint64 sampleTime);

    LONG width() const { return m_outputFormat.biWidth; }
    LONG height() const { return m_outputFormat.biHeight; }
    double frameRate() const { return m_frameRate; }
    UINT32 interlaceMode() const { return m_interlaceMode; }

private:
    void CloseCodec();
    const BITMAPINFOHEADER *inputHeader() const
    {
        return reinterpret_cast<const BITMAPINFOHEADER *>(m_inputFormat.data());
    }

    DWORD m_videoChannel = 0;
    LONG m_fieldOrderChannel = -1;
    HIC m_codec = nullptr;
    std::vector<BYTE> m_inputFormat;
    BITMAPINFOHEADER m_outputFormat{};
    UINT32 m_interlaceMode = 3;
    double m_frameRate = 0;
    qint64 m_frameDuration = 0;
    std::vector<BYTE> m_yuy2Buffer;
    qint64 m_nv12Bytes = 0;
    CComPtr<IUnknown> m_converter;
    bool m_sizeWarned = false;
};
