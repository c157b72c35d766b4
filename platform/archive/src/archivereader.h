#pragma once
// IArchiveReader: finds frames of one stream and hands out their records.

#include "archive/iarchivereader.h"
#include "archiveengine.h"
#include "com/comobject.h"

#include <list>
#include <map>
#include <mutex>

namespace nyx::archive {
class ArchiveReader : public nyx::com::ComObject<IArchiveReader>
{
public:
    explicit ArchiveReader(std::shared_ptr<ArchiveEngine> engine);
    ~ArchiveReader() override;

    HRESULT Open(GUID streamId, DWORD mode) override;
    HRESULT FindFrame(LONGLONG time, DWORD mode, LONGLONG *frameTime, DWORD *frameSize, DWORD *sequence,
                      LONGLONG *frameNumber, DWORD channelFilter) override;
    HRESULT FindFrameInRange(LONGLONG from, LONGLONG to, DWORD mode, LONGLONG *frameTime,
                             LONGLONG *frameNumber, DWORD channelFilter) override;
    HRESULT ReadChannelData(DWORD channelId, const BYTE **bytes, DWORD *length) override;
    HRESULT ReadChannelBlob(DWORD channelId, const BYTE **bytes, DWORD *length) override;
    HRESULT ReleaseFrame() override;

private:
    HRESULT read(DWORD channelId, std::uint8_t kind, const BYTE **bytes, DWORD *length);
    void makeCurrent(const FrameLocation &location);

    std::mutex m_mutex;
    std::shared_ptr<ArchiveEngine> m_engine;
    std::shared_ptr<FrameStore> m_store;
    StreamRow m_row;
    QString m_folder;
    bool m_open = false;
    bool m_hasCurrent = false;
    FrameLocation m_current;
    SegmentHold m_hold; // the segment of the current frame stays while the reader is on it
    bool m_loaded = false;
    HRESULT m_loadResult = S_OK; // a frame that failed to load answers this until the next find
    // Frames handed out since the last release; their bytes stay put until ReleaseFrame.
    std::list<std::vector<std::uint8_t>> m_frames;
    std::map<DWORD, bool> m_dense;
    bool dense(DWORD channel);
};
} // namespace nyx::archive
