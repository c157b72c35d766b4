#include "archivewriter.h"

#include "archive/archivefaults.h"
#include "archiveerrors.h"

#include <QLoggingCategory>

#include <algorithm>

Q_DECLARE_LOGGING_CATEGORY(lcFrameStore)

namespace nyx::archive {
using faults::Operation;

namespace {
constexpr std::size_t kMaxSampleBytes = 48u * 1024 * 1024;
}

ArchiveWriter::ArchiveWriter(std::shared_ptr<ArchiveEngine> engine, const StreamRow &row)
    : m_engine(std::move(engine)), m_row(row)
{
}

ArchiveWriter::~ArchiveWriter()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    stopLocked();
}

HRESULT ArchiveWriter::Start(ULONGLONG startTime)
{
    if (const HRESULT f = faults::check(Operation::WriterStart))
        return f;
    if (startTime > static_cast<ULONGLONG>(INT64_MAX))
        return E_INVALIDARG;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_started)
        stopLocked();
    // The stream may have been deleted since the writer was made.
    StreamRow row;
    HRESULT hr = m_engine->findStreamStore(m_row.guid, &row, &m_store);
    if (FAILED(hr))
        return hr;
    const QString folder = m_engine->streamFolder(row);
    if (folder.isEmpty())
        return kNotFound;
    // A storage read-only until now (a read-only mount) is written as soon as it can be.
    hr = m_store->makeWritable();
    if (FAILED(hr))
        return hr;
    if (!m_lock.tryLock(folder))
        return kSharingViolation;
    m_counters = &m_engine->counters(m_row.storage);
    m_state = WriterState();
    m_state.stream = row.id;
    m_state.folder = folder;
    hr = m_store->beginSequence(m_state, startTime);
    if (FAILED(hr)) {
        if (m_state.fd >= 0)
            m_store->endSequence(m_state);
        m_lock.unlock();
        return hr;
    }
    m_started = true;
    m_inSample = false;
    m_sampleFailure = S_OK;
    return S_OK;
}

HRESULT ArchiveWriter::resume(ULONGLONG time)
{
    // A frame could not be stored (disk full, say): the writer goes on in a new sequence from the
    // committed end, as soon as the index and the segment can be written again.
    m_store->endSequence(m_state);
    WriterState fresh;
    fresh.stream = m_state.stream;
    fresh.folder = m_state.folder;
    m_state = std::move(fresh);
    const HRESULT hr = m_store->beginSequence(m_state, time);
    if (FAILED(hr)) {
        if (m_resumeLog.failed())
            qCWarning(lcFrameStore).nospace() << "Writer of " << m_state.folder << " cannot resume yet (0x"
                                              << Qt::hex << static_cast<unsigned>(hr) << Qt::dec << "); "
                                              << m_resumeLog.covered() << " attempt(s) since the last report";
        if (m_state.fd >= 0)
            m_store->endSequence(m_state);
        m_state.failed = true;
        return hr;
    }
    reportHeldLosses();
    m_resumeLog.takeHeld();
    qCWarning(lcFrameStore).nospace()
        << "Writer of " << m_state.folder << " resumes in a new sequence after losing " << m_lostFrames
        << " frame(s)";
    return S_OK;
}

HRESULT ArchiveWriter::BeginSample(LONGLONG time, LONGLONG displayTime, DWORD flags)
{
    if (const HRESULT f = faults::check(Operation::WriterBeginSample))
        return f;
    if (time < 0 || displayTime < 0 || flags != 0)
        return E_INVALIDARG;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_inSample && FAILED(m_sampleFailure))
        abandonSample(); // a sample that failed may be left without EndSample
    if (!m_started || m_inSample)
        return E_NOT_VALID_STATE;
    m_store->checkCommits(m_state);
    if (m_state.failed) {
        const HRESULT hr = resume(static_cast<ULONGLONG>(time));
        if (FAILED(hr))
            return hr;
    }
    m_inSample = true;
    m_sampleFailure = S_OK;
    m_sampleTime = time;
    m_sampleBytes = 0;
    m_records.clear();
    m_sparse.clear();
    m_mask = 0;
    return S_OK;
}

HRESULT ArchiveWriter::add(int channelId, std::uint8_t kind, const BYTE *bytes, DWORD length)
{
    if (!bytes && length)
        return E_POINTER;
    if (channelId <= 0)
        return E_INVALIDARG;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_inSample)
        return E_NOT_VALID_STATE;
    if (FAILED(m_sampleFailure))
        return m_sampleFailure;
    const auto channel = static_cast<std::uint32_t>(channelId);
    auto known = m_channelFlags.find(channel);
    if (known == m_channelFlags.end()) {
        std::uint8_t flag = 0;
        const HRESULT hr = m_engine->channelFlag(m_row.id, channel, &flag);
        if (FAILED(hr))
            return hr == kNotFound ? E_INVALIDARG : hr;
        known = m_channelFlags.emplace(channel, flag).first;
    }
    for (const auto &r : m_records) {
        if (r.first == channel && r.second == kind)
            return kAlreadyExists;
    }
    if (m_sampleBytes + length > kMaxSampleBytes)
        return E_INVALIDARG;
    const HRESULT hr = m_store->appendRecord(m_state, channel, kind, bytes, length);
    if (FAILED(hr)) {
        // The sample cannot be stored any more; EndSample reports it, the next sample starts afresh.
        m_store->abandonFrame(m_state);
        m_sampleFailure = hr;
        return hr;
    }
    m_records.emplace_back(channel, kind);
    if (channel < 64)
        m_mask |= 1ULL << channel;
    if ((known->second != 0 || channel >= 64) &&
        std::find(m_sparse.begin(), m_sparse.end(), channel) == m_sparse.end())
        m_sparse.push_back(channel);
    m_sampleBytes += length;
    return S_OK;
}

HRESULT ArchiveWriter::Data(int channelId, const BYTE *bytes, DWORD length)
{
    if (const HRESULT f = faults::check(Operation::WriterData))
        return f;
    return add(channelId, 1, bytes, length);
}

HRESULT ArchiveWriter::Blob(int channelId, const BYTE *bytes, DWORD size)
{
    if (const HRESULT f = faults::check(Operation::WriterBlob))
        return f;
    return add(channelId, 2, bytes, size);
}

HRESULT ArchiveWriter::EndSample()
{
    if (const HRESULT f = faults::check(Operation::WriterEndSample))
        return f;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_inSample)
        return E_NOT_VALID_STATE;
    if (FAILED(m_sampleFailure)) {
        const HRESULT failure = m_sampleFailure;
        abandonSample();
        countLost(failure);
        return failure;
    }
    m_inSample = false;
    std::uint32_t bytes = 0;
    const HRESULT hr = m_store->commitFrame(m_state, m_sampleTime, m_sparse, m_mask, &bytes);
    m_records.clear();
    m_sparse.clear();
    m_mask = 0;
    if (SUCCEEDED(hr))
        m_counters->commits++;
    else
        countLost(hr);
    return hr;
}

void ArchiveWriter::abandonSample()
{
    m_store->abandonFrame(m_state);
    m_inSample = false;
    m_sampleFailure = S_OK;
    m_records.clear();
    m_sparse.clear();
    m_mask = 0;
}

void ArchiveWriter::countLost(HRESULT why)
{
    ++m_lostFrames;
    if (m_lostLog.failed())
        qCWarning(lcFrameStore).nospace()
            << "Frame at " << m_sampleTime << " of " << m_state.folder << " not stored (0x" << Qt::hex
            << static_cast<unsigned>(why) << Qt::dec << "); " << m_lostLog.covered()
            << " frame(s) lost since the last report, " << m_lostFrames << " by this writer";
}

void ArchiveWriter::reportHeldLosses()
{
    if (const std::uint64_t held = m_lostLog.takeHeld())
        qCWarning(lcFrameStore).nospace()
            << held << " more frame(s) of " << m_state.folder << " not stored since the last report, "
            << m_lostFrames << " by this writer";
}

HRESULT ArchiveWriter::Stop()
{
    if (const HRESULT f = faults::check(Operation::WriterStop))
        return f;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_started)
        return S_FALSE; // nothing recorded since the last stop
    return stopLocked();
}

HRESULT ArchiveWriter::stopLocked()
{
    if (!m_started)
        return S_OK;
    m_started = false;
    m_inSample = false;
    reportHeldLosses();
    m_records.clear();
    m_sparse.clear();
    m_mask = 0;
    const HRESULT hr = m_store->endSequence(m_state);
    m_lock.unlock();
    return hr;
}
} // namespace nyx::archive
