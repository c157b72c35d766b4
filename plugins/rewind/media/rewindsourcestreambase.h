#pragma once
// The media stream that plays one archive stream between a start and an end time: the archive
// reader, key-frame seeking with the frame history, the read loop with its 10 s window, gaps, end
// of stream, end time, rate and quality. Derived streams fill the samples.

#include "multimedia/framehistory.h"
#include "multimedia/sampleattributes.h"
#include "multimedia/source/basesourcestream.h"

#include "archive/iarchivereader.h"
#include "archive/iarchivestream.h"

#include <atomic>
#include <functional>
#include <memory>

// The absolute archive time (FILETIME) of the frame a played sample carries, UINT64: the views
// report it as the time of the frame they show.
constexpr GUID RewindSamplePosition = nyx::multimedia::RecordedTimeAttribute;

class CRewindSourceStreamBase : public CBaseSourceStream
{
public:
    // The read window and the gap step, in 100 ns.
    static constexpr qint64 kReadWindow = 100000000;
    static constexpr qint64 kGapStep = 100000;

    CRewindSourceStreamBase(nyx::ISource *source, IArchiveReader *reader, qint64 from, qint64 to,
                            const nyx::MFMessageQueue *queue = nullptr);
    ~CRewindSourceStreamBase() override;

    HRESULT Start(const PROPVARIANT &start) override;
    HRESULT Initialize() override;
    HRESULT GetDuration(UINT64 *duration) override;
    HRESULT SetRate(float rate) override;
    virtual HRESULT ReadStreamProperties(IArchiveStream *stream);

    // Lock-free: the read loop takes the value at its next run.
    void SetQuality(double quality);
    // Applies the end time on the stream's queue.
    HRESULT PostEndTime(qint64 time);
    HRESULT SetEndTime(qint64 time);
    FrameHistory *frameHistory() { return &m_history; }
    // 1 without an end check, else 0; past the end it signals the end of stream.
    int CheckEndOfStream(qint64 time);
    HRESULT NotifyRequestManager();
    HRESULT SeekToPosition(qint64 time);
    // Archive times come from the file and lie anywhere in 0..INT64_MAX: a step from one stays within
    // the qint64 range (INT64_MAX and INT64_MIN at the ends).
    static qint64 addTime(qint64 time, qint64 delta);
    // "YYYY-MM-DD_hh:mm:ss.mmm" (UTC) in one static buffer, valid until the next call.
    static const char *FormatFileTime(qint64 time);

    qint64 position() const { return m_position; }
    qint64 startTime() const { return m_startTime; }
    qint64 endTime() const { return m_endTime; }
    float quality() const { return m_quality.load(); }
    HRESULT deliverSample(IMFSample *sample, IUnknown *token) override;

protected:
    // What differs between the derived streams' read loops.
    struct ReadLoop
    {
        bool frameStep = false;
        DWORD windowFilter = 0;
        DWORD probeFilter = 0;
        int skipCount = 0;
        // Frame step: a frame that could not be shown; the step goes on past it instead of trying it
        // again (-1: none).
        qint64 stepPassOver = -1;
        // Fills a sample for the reader's current frame (archive time frameTime) with sampleTime.
        std::function<HRESULT(qint64 frameTime, qint64 sampleTime, IMFSample **sample)> fill;
        // The stream's own end-of-stream messages (onSkip: found while skipping).
        std::function<void(bool onSkip)> endMessages;
        const char *sampleReadFormat = "Sample read: %lld ms (%lld) (%lld)";
    };
    // The read loop; exceptions are the caller's.
    HRESULT runReadLoop(const ReadLoop &loop, IMFSample **out);
    // Signals the end of stream after the sample about to be delivered (or at once without one).
    void endAfterDelivery();

    CComPtr<IArchiveReader> m_reader;
    std::unique_ptr<nyx::IFlexibleSamplePool> m_samplePool;
    qint64 m_startTime;
    qint64 m_endTime;
    qint64 m_position;
    qint64 m_requestedPosition;
    DWORD m_keyFrameChannel = 0;
    nyx::MFMessageQueue m_queue;
    FrameHistory m_history;
    std::atomic<float> m_quality{0.0f};
    std::atomic<float> m_rate{1.0f};

private:
    // An end time equal to the start time set at construction turns the end check off; any end
    // set later keeps it on.
    bool m_endCheck;
    bool m_endPending = false;
};
