#include "archivereader.h"

#include "archive/archivefaults.h"
#include "archiveerrors.h"
#include "segmentformat.h"

namespace nyx::archive {
using faults::Operation;

namespace {
const BYTE kEmpty[1] = {0};
}

ArchiveReader::ArchiveReader(std::shared_ptr<ArchiveEngine> engine) : m_engine(std::move(engine)) {}

ArchiveReader::~ArchiveReader()
{
    if (m_store)
        m_store->releaseHold(m_hold);
}

HRESULT ArchiveReader::Open(GUID streamId, DWORD mode)
{
    if (const HRESULT f = faults::check(Operation::ReaderOpen))
        return f;
    if (mode != 1 && mode != ReaderModeShared)
        return E_INVALIDARG;
    StreamRow row;
    std::shared_ptr<FrameStore> store;
    const HRESULT hr = m_engine->findStreamStore(streamId, &row, &store);
    if (FAILED(hr))
        return hr;
    const QString folder = m_engine->streamFolder(row);
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_store)
        m_store->releaseHold(m_hold);
    m_row = row;
    m_store = store;
    m_folder = folder;
    m_open = true;
    m_dense.clear();
    m_hasCurrent = false;
    m_loaded = false;
    return S_OK;
}

bool ArchiveReader::dense(DWORD channel)
{
    if (!channel)
        return false;
    auto it = m_dense.find(channel);
    if (it == m_dense.end()) {
        std::uint8_t flag = 1;
        if (FAILED(m_engine->channelFlag(m_row.id, channel, &flag)))
            return false; // unknown: no frame holds it, which the index answers at once
        it = m_dense.emplace(channel, flag == 0).first;
    }
    return it->second;
}

void ArchiveReader::makeCurrent(const FrameLocation &location)
{
    m_current = location;
    m_hasCurrent = true;
    m_loaded = false;
    m_loadResult = S_OK;
}

HRESULT ArchiveReader::FindFrame(LONGLONG time, DWORD mode, LONGLONG *frameTime, DWORD *frameSize,
                                 DWORD *sequence, LONGLONG *frameNumber, DWORD channelFilter)
{
    if (const HRESULT f = faults::check(Operation::ReaderFindFrame))
        return f;
    if (!frameTime)
        return E_POINTER;
    if (mode < FindAtOrAfter || mode > FindContaining)
        return E_INVALIDARG;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_open)
        return E_NOT_VALID_STATE;
    FrameLocation location;
    const HRESULT hr = m_store->find(m_row.id, m_folder, time, mode, channelFilter, dense(channelFilter),
                                     &location, &m_hold);
    if (FAILED(hr))
        return hr;
    makeCurrent(location);
    *frameTime = location.time;
    if (frameSize)
        *frameSize = static_cast<DWORD>(location.length);
    if (sequence)
        *sequence = static_cast<DWORD>(location.seq);
    if (frameNumber)
        *frameNumber = location.fno;
    return S_OK;
}

HRESULT ArchiveReader::FindFrameInRange(LONGLONG from, LONGLONG to, DWORD mode, LONGLONG *frameTime,
                                        LONGLONG *frameNumber, DWORD channelFilter)
{
    if (const HRESULT f = faults::check(Operation::ReaderFindFrameInRange))
        return f;
    if (!frameTime)
        return E_POINTER;
    if (mode < FindAtOrAfter || mode > FindContaining)
        return E_INVALIDARG;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_open)
        return E_NOT_VALID_STATE;
    FrameLocation location;
    const HRESULT hr = m_store->findInRange(m_row.id, m_folder, from, to, mode, channelFilter,
                                            dense(channelFilter), &location, &m_hold);
    if (FAILED(hr))
        return hr;
    makeCurrent(location);
    *frameTime = location.time;
    if (frameNumber)
        *frameNumber = location.fno;
    return S_OK;
}

HRESULT ArchiveReader::read(DWORD channelId, std::uint8_t kind, const BYTE **bytes, DWORD *length)
{
    if (!bytes || !length)
        return E_POINTER;
    *bytes = nullptr;
    *length = 0;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_open || !m_hasCurrent)
        return E_NOT_VALID_STATE;
    if (m_loaded && FAILED(m_loadResult))
        return m_loadResult;
    if (!m_loaded) {
        std::vector<std::uint8_t> frame;
        const HRESULT hr = m_store->readFrame(m_row.id, m_folder, m_current, &frame);
        if (FAILED(hr)) {
            m_loaded = true;
            m_loadResult = hr;
            return hr;
        }
        m_loadResult = S_OK;
        StorageCounters &c = m_engine->counters(m_row.storage);
        c.framesRead++;
        c.bytesRead += frame.size();
        m_frames.push_back(std::move(frame));
        m_loaded = true;
    }
    const std::vector<std::uint8_t> &frame = m_frames.back();
    const std::uint8_t *data = nullptr;
    std::uint32_t size = 0;
    if (!segment::findRecord(frame.data() + segment::kHeaderSize, frame.size() - segment::kHeaderSize,
                             channelId, kind, &data, &size))
        return kNotFound;
    *bytes = size ? data : kEmpty;
    *length = size;
    return S_OK;
}

HRESULT ArchiveReader::ReadChannelData(DWORD channelId, const BYTE **bytes, DWORD *length)
{
    if (const HRESULT f = faults::check(Operation::ReaderChannelData))
        return f;
    return read(channelId, 1, bytes, length);
}

HRESULT ArchiveReader::ReadChannelBlob(DWORD channelId, const BYTE **bytes, DWORD *length)
{
    if (const HRESULT f = faults::check(Operation::ReaderChannelBlob))
        return f;
    return read(channelId, 2, bytes, length);
}

HRESULT ArchiveReader::ReleaseFrame()
{
    if (const HRESULT f = faults::check(Operation::ReaderReleaseFrame))
        return f;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_frames.clear();
    m_hasCurrent = false;
    m_loaded = false;
    return S_OK;
}
} // namespace nyx::archive
