#pragma once
// Plays an archive stream recorded by this system: the stored media types and sample attributes
// are restored and the stored samples handed on as they are.

#include "rewindsourcestreambase.h"

class CRewindSourceStream : public CRewindSourceStreamBase
{
public:
    CRewindSourceStream(nyx::ISource *source, IArchiveReader *reader, IMFMediaType *type, qint64 from,
                        qint64 to, const nyx::MFMessageQueue *queue = nullptr);
    ~CRewindSourceStream() override;

    HRESULT ReadStreamProperties(IArchiveStream *stream) override;
    HRESULT Initialize() override;
    HRESULT GetAvailableTypes(std::vector<CComPtr<IMFMediaType>> &types) override;
    HRESULT ProduceData(IMFSample **out) override;

    // A copy of the current media type.
    CComPtr<IMFMediaType> currentType() const;

private:
    HRESULT SeekFirstFormat();
    HRESULT LoadMediaType();
    HRESULT ApplyMediaType(IMFMediaType *type);
    HRESULT ReadSample(qint64 sampleTime, IMFSample **out);

    CComPtr<IMFMediaType> m_currentType;
    DWORD m_dataChannel = 0;
    DWORD m_mediaTypeChannel = 0;
};

// The uncompressed video type the decoding streams offer.
HRESULT createVideoMediaType(double frameRate, UINT32 interlaceMode, UINT32 width, UINT32 height,
                             const GUID &subtype, IMFMediaType **out);

// The audio format as stored by other recorders.
struct RewindWaveFormat
{
    WORD wFormatTag = 1;
    WORD nChannels = 0;
    DWORD nSamplesPerSec = 0;
    DWORD nAvgBytesPerSec = 0;
    WORD nBlockAlign = 0;
    WORD wBitsPerSample = 0;
};

// The uncompressed audio type the audio stream offers (at most two channels).
HRESULT createAudioMediaType(const RewindWaveFormat &format, IMFMediaType **out);
// The subtypes the audio stream offers for its format.
std::vector<GUID> audioSupportedFormats(const RewindWaveFormat &format);
