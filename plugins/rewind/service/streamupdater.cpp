#include "streamupdater.h"

#include "archivemetatypes.h"
#include "multimedia/comexception.h"
#include "rangeupdater.h"
#include "rewindservicelogging.h"

#include "com/guid.h"

#include <cstring>
#include <utility>
#include <vector>

namespace {
// Sequences of one stream; anything beyond is a broken answer, not a recording.
constexpr DWORD kMaxSequences = 1u << 20;

// Time relative to the first sequence as h:mm:ss.zzz, for the debug listing.
QString readableTime(quint64 time, quint64 origin)
{
    const qint64 hns = static_cast<qint64>(time - origin);
    const qint64 ms = (hns < 0 ? -hns : hns) / 10000;
    return QStringLiteral("%1%2:%3:%4.%5")
        .arg(hns < 0 ? QStringLiteral("-") : QString())
        .arg(ms / 3600000)
        .arg(ms / 60000 % 60, 2, 10, QLatin1Char('0'))
        .arg(ms / 1000 % 60, 2, 10, QLatin1Char('0'))
        .arg(ms % 1000, 3, 10, QLatin1Char('0'));
}
} // namespace

StreamUpdater::StreamUpdater(IRewindServer *server, const QUuid &guid) : m_server(server), m_guid(guid)
{
    registerRewindServiceMetaTypes();
    updateInfo();
}

StreamUpdater::~StreamUpdater() = default;

IRewindServer *StreamUpdater::server() const
{
    if (m_server)
        m_server->AddRef();
    return m_server.p;
}

void StreamUpdater::updateInfo()
{
    try {
        if (!m_server)
            throw ComException(E_POINTER);
        ArchiveStreamInfo info;
        std::memset(&info, 0, sizeof info);
        throwIfFailed(m_server->GetStreamInfo(nyx::com::fromQUuid(m_guid), &info));

        const bool moved = !m_info || info.startTime != m_info->startTime ||
                           info.endTime != m_info->endTime || info.frameCount != m_info->frameCount ||
                           info.dataSize != m_info->dataSize;
        // The ranges get the interval of the previous record, so a move is only seen by them on
        // the refresh after it: one trailing refresh, or the last growth of a stream that then
        // stops would never be measured. A range without a size yet is asked again on every
        // tick, so a failed measurement on a stream that no longer changes is retried.
        const bool trailing = std::exchange(m_trailingRefresh, moved);
        if (moved || trailing || m_pending || hasUnmeasuredRange()) {
            updateRanges(m_info ? m_info->startTime : 0, m_info ? m_info->endTime : 0);
            m_pending = false;
        }
        applyInfo(info);
    } catch (const ComException &e) {
        qCCritical(lcRewindService) << "Failed to update stream info:" << e;
    }
}

void StreamUpdater::applyInfo(const ArchiveStreamInfo &info)
{
    if (!m_info || info.startTime != m_info->startTime)
        emit startTimeChanged(info.startTime);
    if (!m_info || info.endTime != m_info->endTime)
        emit endTimeChanged(info.endTime);
    const bool sequencesMoved = !m_info || info.sequenceChangeCounter != m_info->sequenceChangeCounter;
    m_info = info;
    if (sequencesMoved)
        readSequences();
}

void StreamUpdater::readSequences()
{
    CComPtr<IArchiveStream> stream;
    if (FAILED(m_server->OpenStream(nyx::com::fromQUuid(m_guid), &stream)) || !stream)
        return;

    QVector<Stream::SequenceInfo> sequences;
    DWORD count = 0;
    if (SUCCEEDED(stream->GetSequenceCount(&count)) && count > 0) {
        if (count > kMaxSequences) {
            qCWarning(lcRewindService) << "Refused a sequence count of" << count << "for stream" << m_guid;
        } else {
            std::vector<ArchiveSequenceRecord> records(count);
            std::memset(records.data(), 0, records.size() * sizeof(ArchiveSequenceRecord));
            DWORD filled = 0;
            if (SUCCEEDED(stream->GetSequences(records.data(), count, &filled))) {
                // Only the records the server filled; never read past the buffer.
                const DWORD n = qMin(filled, count);
                sequences.reserve(static_cast<int>(n));
                for (DWORD i = 0; i < n; ++i) {
                    const ArchiveSequenceRecord &r = records[i];
                    sequences.append(Stream::SequenceInfo{r.beginTime, r.lastFrameTime, r.frameCount});
                    if (lcRewindService().isDebugEnabled()) {
                        const quint64 origin = records[0].startTime;
                        qCDebug(lcRewindService).noquote().nospace()
                            << "Sequence #" << i << ": start time =" << r.startTime << "("
                            << readableTime(r.startTime, origin) << ")"
                            << "\n first frame =" << r.firstFrameTime << "("
                            << readableTime(r.firstFrameTime, origin) << ")"
                            << "\n last frame =" << r.lastFrameTime << "("
                            << readableTime(r.lastFrameTime, origin) << ")"
                            << "\n subsequences =" << r.subsequenceCount;
                    }
                }
            }
        }
    }
    m_sequences = sequences;
    emit sequencesChanged(m_sequences);
}

void StreamUpdater::requestUpdate()
{
    if (m_pending)
        return;
    m_pending = true;
    QMetaObject::invokeMethod(this, "updateInfo", Qt::QueuedConnection);
}

void StreamUpdater::addRangeToList(QSharedPointer<RangeUpdater> range)
{
    if (!range)
        return;
    // The range may come from another stream, or back to the same interval: measure it anew.
    range->resetMeasurement();
    m_ranges.append(range);
    connect(range.data(), &RangeUpdater::rangeChanged, this, &StreamUpdater::requestUpdate);
    requestUpdate();
}

void StreamUpdater::removeRangeFromList(QSharedPointer<RangeUpdater> range)
{
    if (!range)
        return;
    m_ranges.removeAll(range);
    disconnect(range.data(), nullptr, this, nullptr);
}

bool StreamUpdater::hasUnmeasuredRange() const
{
    for (const auto &range : m_ranges)
        if (range->size() < 0)
            return true;
    return false;
}

void StreamUpdater::updateRanges(quint64 streamTimeFrom, quint64 streamTimeTo)
{
    if (m_ranges.isEmpty())
        return;
    CComPtr<IArchiveStream> stream;
    m_server->OpenStream(nyx::com::fromQUuid(m_guid), &stream);
    CComPtr<IArchiveRangeInfo> rangeInfo;
    if (stream && FAILED(stream.QueryInterface(&rangeInfo)))
        rangeInfo.Release();
    // A copy: a size signal may reach code that changes the list.
    const auto ranges = m_ranges;
    for (const auto &range : ranges)
        range->update(rangeInfo, streamTimeFrom, streamTimeTo);
}
