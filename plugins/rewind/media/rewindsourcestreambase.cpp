#include "rewindsourcestreambase.h"

#include "rewindsourcelogging.h"

#include "archivechannel.h"
#include "multimedia/comexception.h"
#include "multimedia/hnstime.h"
#include "playbacktuning.h"
#include "win32/debugoutput.h"
#include "win32/filetime.h"

#include <QDateTime>
#include <cstdio>
#include <limits>

namespace {
constexpr DWORD kModeAtOrAfter = 1;
constexpr DWORD kModeAtOrBefore = 2;
constexpr DWORD kModeContaining = 3;

std::shared_ptr<nyx::ISampleRequestManager> makeRequestManager(nyx::ISourceStream *stream,
                                                               const nyx::MFMessageQueue *queue)
{
    // Without a queue of the source's the stream gets a serial queue of its own, shared by the
    // request manager and the stream's own work items.
    return nyx::createSampleRequestManager(stream, queue, nullptr);
}
} // namespace

CRewindSourceStreamBase::CRewindSourceStreamBase(nyx::ISource *source, IArchiveReader *reader, qint64 from,
                                                 qint64 to, const nyx::MFMessageQueue *queue)
    : CBaseSourceStream(source, 0, makeRequestManager(this, queue)), m_reader(reader),
      m_samplePool(nyx::createFlexibleSamplePool(
          source, [this]() { NotifyRequestManager(); }, 5)),
      m_startTime(from), m_endTime(to), m_position(from), m_requestedPosition(from),
      m_queue(requestManager()->queue()), m_history(2, 32, from, to), m_endCheck(to != from)
{
    m_quality = 0.0f;
    m_rate = 1.0f;
    SeekToPosition(from); // the key-frame filter is not known yet: any frame will do
    m_quality = PlaybackTuning::current().DefQuality;
}

CRewindSourceStreamBase::~CRewindSourceStreamBase()
{
    // No sample request is served and no pool callback runs once the members start to go.
    if (requestManager())
        requestManager()->Shutdown();
    m_samplePool.reset();
}

HRESULT CRewindSourceStreamBase::Start(const PROPVARIANT &start)
{
    if (start.vt == VT_I8) {
        const HRESULT hr = SeekToPosition(addTime(m_startTime, start.hVal.QuadPart));
        if (FAILED(hr))
            return hr;
        m_endPending = false;
    }
    return CBaseSourceStream::Start(start);
}

HRESULT CRewindSourceStreamBase::Initialize()
{
    return CBaseSourceStream::Initialize();
}

HRESULT CRewindSourceStreamBase::GetDuration(UINT64 *duration)
{
    if (!duration)
        return E_POINTER;
    *duration = static_cast<UINT64>(m_endTime - m_startTime);
    return S_OK;
}

HRESULT CRewindSourceStreamBase::SetRate(float rate)
{
    m_rate = rate;
    return CBaseSourceStream::SetRate(rate);
}

HRESULT CRewindSourceStreamBase::ReadStreamProperties(IArchiveStream *stream)
{
    if (!stream)
        return E_POINTER;
    DWORD id = 0;
    const HRESULT hr = findOrCreateChannel(stream, QStringLiteral("KeyFrame"), true, &id);
    if (FAILED(hr))
        return hr;
    m_keyFrameChannel = id;
    return S_OK;
}

void CRewindSourceStreamBase::SetQuality(double quality)
{
    m_quality = static_cast<float>(quality);
    char text[128];
    std::snprintf(text, sizeof text, "CRewindSourceStreamBase[0x%X]::SetQuality %.3f",
                  static_cast<unsigned>(reinterpret_cast<quintptr>(this)),
                  static_cast<double>(m_quality.load()));
    qCInfo(lcRewindSourceMF).noquote() << text;
}

HRESULT CRewindSourceStreamBase::PostEndTime(qint64 time)
{
    CComPtr<IMFMediaStream> keep(this);
    return m_queue.push([keep, this, time]() { return SetEndTime(time); });
}

HRESULT CRewindSourceStreamBase::SetEndTime(qint64 time)
{
    m_endTime = time;
    m_endCheck = true;
    m_history.setBounds(m_startTime, time);
    CheckEndOfStream(m_position);
    return S_OK;
}

int CRewindSourceStreamBase::CheckEndOfStream(qint64 time)
{
    if (!m_endCheck)
        return 1;
    if (time <= m_endTime)
        return 0;
    OutputDebugStringA("\n!!! RewindSource end of stream !!!\n\n");
    qCInfo(lcRewindSourceMF).noquote() << "\n!!! RewindSource end of stream " +
                                              HnsTime(time - m_startTime).toReadableString() + ">" +
                                              HnsTime(m_endTime - m_startTime).toReadableString() + " !!!\n";
    NotifyEndOfStream();
    return 0;
}

HRESULT CRewindSourceStreamBase::NotifyRequestManager()
{
    if (!requestManager())
        return E_POINTER;
    requestManager()->ServeRequests();
    return S_OK;
}

HRESULT CRewindSourceStreamBase::SeekToPosition(qint64 time)
{
    m_requestedPosition = time;
    LONGLONG found = 0;
    HRESULT hr =
        m_reader->FindFrame(time, kModeAtOrBefore, &found, nullptr, nullptr, nullptr, m_keyFrameChannel);
    if (hr != S_OK)
        hr = m_reader->FindFrame(time, kModeAtOrAfter, &found, nullptr, nullptr, nullptr, m_keyFrameChannel);
    if (hr != S_OK) {
        char text[256];
        std::snprintf(text, sizeof text,
                      "+-+ CRewindSourceStreamBase::SeekToPosition #1 to time:%s ERROR=0x%X/%d.\n",
                      FormatFileTime(time), static_cast<unsigned>(hr), static_cast<int>(hr));
        qCDebug(lcRewindSourceMF).noquote() << text;
        OutputDebugStringA(text);
        return FAILED(hr) ? hr : E_UNEXPECTED;
    }
    m_position = found - 1;

    m_history.clear();
    LONGLONG centre = 0;
    if (m_reader->FindFrame(time, kModeContaining, &centre, nullptr, nullptr, nullptr, 0) != S_OK)
        return E_FAIL;
    qint64 at = centre - 1;
    for (int i = 0; i < m_history.backLimit(); ++i) {
        LONGLONG f = 0;
        if (m_reader->FindFrame(at, kModeAtOrBefore, &f, nullptr, nullptr, nullptr, 0) == S_OK) {
            m_history.pushFront({HnsTime(f - m_startTime), HnsTime(f)});
            at = f - 1;
        }
    }
    m_history.pushBack({HnsTime(centre - m_startTime), HnsTime(centre)});
    const int forward = std::min(m_history.forwardLimit(), 2);
    at = addTime(centre, 1);
    for (int i = 0; i < forward; ++i) {
        LONGLONG f = 0;
        if (m_reader->FindFrame(at, kModeAtOrAfter, &f, nullptr, nullptr, nullptr, 0) == S_OK) {
            m_history.pushBack({HnsTime(f - m_startTime), HnsTime(f)});
            at = addTime(f, 1);
        }
    }
    return S_OK;
}

qint64 CRewindSourceStreamBase::addTime(qint64 time, qint64 delta)
{
    qint64 sum = 0;
    if (!__builtin_add_overflow(time, delta, &sum))
        return sum;
    return delta > 0 ? std::numeric_limits<qint64>::max() : std::numeric_limits<qint64>::min();
}

const char *CRewindSourceStreamBase::FormatFileTime(qint64 time)
{
    static char buffer[100];
    const qint64 ms = (time - static_cast<qint64>(nyx::win32::kUnixEpochFileTime)) / 10000;
    const QDateTime t = QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC);
    const QDate d = t.date();
    const QTime c = t.time();
    std::snprintf(buffer, sizeof buffer, "%d-%02d-%02d_%02d:%02d:%02d.%03d", d.year(), d.month(), d.day(),
                  c.hour(), c.minute(), c.second(), c.msec());
    return buffer;
}

void CRewindSourceStreamBase::endAfterDelivery()
{
    m_endPending = true;
}

HRESULT CRewindSourceStreamBase::deliverSample(IMFSample *sample, IUnknown *token)
{
    const HRESULT hr = CBaseSourceStream::deliverSample(sample, token);
    if (m_endPending) {
        m_endPending = false;
        NotifyEndOfStream();
    }
    return hr;
}

HRESULT CRewindSourceStreamBase::runReadLoop(const ReadLoop &loop, IMFSample **out)
{
    if (m_endPending) {
        // The sample that should have gone before the end never went: end now.
        m_endPending = false;
        NotifyEndOfStream();
        return S_OK;
    }
    const float rate = m_rate.load();
    const bool frameStep = loop.frameStep && rate < 0.01f;
    if (frameStep) {
        LONGLONG f = 0;
        // A search that misses keeps the position (never the archive's first frame): the window
        // search then finds the frame at the position again.
        if (m_reader->FindFrame(m_position, kModeContaining, &f, nullptr, nullptr, nullptr, 0) == S_OK)
            m_position = f == loop.stepPassOver ? f : f - 1;
        else
            m_position -= 1;
    }

    // No archive time follows the last one there is.
    const bool atLimit = m_position == std::numeric_limits<qint64>::max();
    LONGLONG f = 0;
    if (atLimit || m_reader->FindFrameInRange(m_position + 1, addTime(m_position, kReadWindow),
                                              kModeAtOrAfter, &f, nullptr, loop.windowFilter) != S_OK) {
        LONGLONG next = 0;
        if (atLimit || m_reader->FindFrame(m_position + 1, kModeAtOrAfter, &next, nullptr, nullptr, nullptr,
                                           loop.probeFilter) != S_OK) {
            if (loop.endMessages)
                loop.endMessages(false);
            NotifyEndOfStream();
            return S_OK;
        }
        m_reader->ReleaseFrame();
        NotifyGap(m_position);
        m_position = addTime(m_position, kGapStep);
        CheckEndOfStream(m_position);
        // The manager asks again in 10 ms (unless the stream is gone by then).
        if (requestManager())
            requestManager()->ServeRequestsLater(10);
        return S_OK;
    }

    struct Release
    {
        IArchiveReader *reader;
        ~Release() { reader->ReleaseFrame(); }
    } release{m_reader};

    const qint64 previous = m_position;
    // The frame past the end is still delivered, and the end follows it.
    const bool pastEnd = m_endCheck && f > m_endTime;
    if (pastEnd) {
        const qint64 end = m_endTime;
        OutputDebugStringA("\n!!! RewindSource end of stream !!!\n\n");
        qCInfo(lcRewindSourceMF).noquote() << "\n!!! RewindSource end of stream " +
                                                  HnsTime(f - m_startTime).toReadableString() + ">" +
                                                  HnsTime(end - m_startTime).toReadableString() + " !!!\n";
    }
    m_position = f;
    const qint64 sampleTime = frameStep ? m_requestedPosition - m_startTime : f - m_startTime;

    CComPtr<IMFSample> sample;
    const HRESULT hr = loop.fill(f, sampleTime, &sample);
    if (FAILED(hr) || !sample) {
        // Nothing delivered: the frame is read again on the next request.
        m_position = previous;
        if (pastEnd)
            NotifyEndOfStream();
        return FAILED(hr) ? hr : E_POINTER;
    }
    if (pastEnd)
        endAfterDelivery();
    sample->SetUINT64(RewindSamplePosition, static_cast<UINT64>(m_position));
    LONGLONG time = sampleTime;
    sample->GetSampleTime(&time);
    m_history.pushBack({HnsTime(time), HnsTime(f)});
    char line[160];
    std::snprintf(line, sizeof line, loop.sampleReadFormat, static_cast<long long>(time / 10000),
                  static_cast<long long>(time), static_cast<long long>(m_position));
    qCDebug(lcRewindSourceMF).noquote() << line;
    if (!out)
        throw ComException(E_POINTER, QStringLiteral("Error"));
    *out = sample.Detach();

    for (int i = 0; i < loop.skipCount && !pastEnd; ++i) {
        LONGLONG skipped = 0;
        if (m_position == std::numeric_limits<qint64>::max() ||
            m_reader->FindFrame(m_position + 1, kModeAtOrAfter, &skipped, nullptr, nullptr, nullptr, 0) !=
                S_OK) {
            if (loop.endMessages)
                loop.endMessages(true);
            endAfterDelivery();
            break;
        }
        m_position = skipped;
    }
    return S_OK;
}
