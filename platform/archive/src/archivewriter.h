#pragma once
// IArchiveWriter: collects the records of a sample and commits it as one frame.

#include "archive/iarchivewriter.h"
#include "archiveengine.h"
#include "com/comobject.h"
#include "logging/logthrottle.h"

#include <map>
#include <mutex>

namespace nyx::archive {
class ArchiveWriter : public nyx::com::ComObject<IArchiveWriter>
{
public:
    ArchiveWriter(std::shared_ptr<ArchiveEngine> engine, const StreamRow &row);
    ~ArchiveWriter() override;

    HRESULT Start(ULONGLONG startTime) override;
    HRESULT BeginSample(LONGLONG time, LONGLONG displayTime, DWORD flags) override;
    HRESULT Data(int channelId, const BYTE *bytes, DWORD length) override;
    HRESULT Blob(int channelId, const BYTE *bytes, DWORD size) override;
    HRESULT EndSample() override;
    HRESULT Stop() override;

private:
    HRESULT add(int channelId, std::uint8_t kind, const BYTE *bytes, DWORD length);
    HRESULT stopLocked();
    HRESULT resume(ULONGLONG time);
    void abandonSample();
    void countLost(HRESULT why);
    // Logs the losses the last line did not count yet.
    void reportHeldLosses();

    std::mutex m_mutex;
    std::shared_ptr<ArchiveEngine> m_engine;
    StreamRow m_row;
    std::shared_ptr<FrameStore> m_store;
    StreamLock m_lock;
    WriterState m_state;
    bool m_started = false;
    bool m_inSample = false;
    HRESULT m_sampleFailure = S_OK; // why the open sample cannot be stored
    std::uint64_t m_lostFrames = 0;
    // A disk that refuses every frame logs its first refusal, then a line a second with the count.
    nyx::logging::LogThrottle m_lostLog, m_resumeLog;
    std::int64_t m_sampleTime = 0;
    std::size_t m_sampleBytes = 0;
    std::vector<std::pair<std::uint32_t, std::uint8_t>> m_records; // channel and kind of each record
    std::vector<std::uint32_t> m_sparse;
    std::uint64_t m_mask = 0;
    std::map<std::uint32_t, std::uint8_t> m_channelFlags;
    StorageCounters *m_counters = nullptr; // of the storage, for as long as the engine lives
};
} // namespace nyx::archive
