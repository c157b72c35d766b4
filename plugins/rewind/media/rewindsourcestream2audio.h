#pragma once
// Plays a raw audio archive stream ("AudioFormat" in the stream's attributes, blocks in "Audio_1"):
// the stored blocks at rate 1, silence of the same lengths at any other rate.

#include "rewindsourcestream.h"
#include "rewindsourcestreambase.h"

class CRewindSourceStream2Audio : public CRewindSourceStreamBase
{
public:
    // Blocks closer than this to the end of the previous one are placed exactly at its end.
    static constexpr qint64 kSnap = 1000;

    CRewindSourceStream2Audio(nyx::ISource *source, IArchiveReader *reader, qint64 from, qint64 to,
                              const nyx::MFMessageQueue *queue = nullptr);
    ~CRewindSourceStream2Audio() override;

    HRESULT ReadStreamProperties(IArchiveStream *stream) override;
    // Reads and checks the stored "AudioFormat".
    HRESULT InitFormat(IArchiveStream *stream);

    std::vector<GUID> GetSupportedFormats() override;
    HRESULT CreateMediaType(const GUID &subtype, IMFMediaType **out) override;
    HRESULT ProduceData(IMFSample **out) override;
    HRESULT FillSample(IMFSample **out, qint64 sampleTime, bool playData);

    const RewindWaveFormat &format() const { return m_format; }
    // Blocks stepped over after each delivered one.
    static int skipCount(float rate);

private:
    DWORD m_audioChannel = 0;
    RewindWaveFormat m_format;
    qint64 m_nextTime = 0;
};
