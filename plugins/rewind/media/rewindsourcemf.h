#pragma once
// The media source that plays one archive stream between two FILETIMEs: it opens an archive
// reader on the stream and chooses the source stream class from what the stream stores.

#include "irewindsource.h"
#include "rewindsourcestreambase.h"

#include "archive/irewindserver.h"
#include "multimedia/source/basesource.h"

class RewindSourceMF : public IRewindSource, public CBaseSourceWithRateSupport
{
public:
    explicit RewindSourceMF(HRESULT &hr);
    ~RewindSourceMF() override;

    NYX_DECLARE_IUNKNOWN(IMFMediaSourceEx)
    HRESULT NonDelegatingQueryInterface(REFIID riid, void **object) override;

    HRESULT initialize(IRewindServer *server, IArchiveStream *stream, bool isAudio, int decoderKind,
                       int decoderIndex, quint64 from, quint64 to);

    HRESULT setEndTime(LONGLONG end) override;
    FrameHistory *frameHistory() override;
    void setQuality(double quality) override;

    std::shared_ptr<CRewindSourceStreamBase> stream() const { return m_stream; }

private:
    std::shared_ptr<CRewindSourceStreamBase> m_stream;
};
