#pragma once
// IArchiveStream and IArchiveRangeInfo of one stream.

#include "archive/iarchivestream.h"
#include "archiveengine.h"
#include "com/comobject.h"

namespace nyx::archive {
class ArchiveStream : public nyx::com::ComObject<IArchiveStream, IArchiveRangeInfo>
{
public:
    ArchiveStream(std::shared_ptr<ArchiveEngine> engine, const StreamRow &row);

    HRESULT GetHeader(ArchiveStreamHead *head) override;
    HRESULT ReadRecord(ArchiveStreamRecord *record) override;
    HRESULT WriteRecord(const ArchiveStreamRecord *record, DWORD flags) override;
    HRESULT GetSequenceCount(DWORD *count) override;
    HRESULT GetSequences(ArchiveSequenceRecord *sequences, DWORD capacity, DWORD *count) override;
    HRESULT CreateChannel(BSTR name, BYTE flag, DWORD *channelId) override;
    HRESULT FindChannel(BSTR name, BYTE *flag, DWORD *channelId) override;
    HRESULT GetRangeSize(ULONGLONG from, ULONGLONG to, LONGLONG *size) override;

private:
    HRESULT current(StreamRow *row, StorageRow *storage);
    HRESULT store(std::shared_ptr<FrameStore> *store);

    std::shared_ptr<ArchiveEngine> m_engine;
    GUID m_guid;
    std::int64_t m_id;
    std::int64_t m_storage;
};
} // namespace nyx::archive
