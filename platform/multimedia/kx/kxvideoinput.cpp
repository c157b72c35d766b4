#include "multimedia/kx/kxvideoinput.h"
#include "multimedia/kx/kxloopback.h"
#include "multimedia/kx/testpicture.h"

#include <QDateTime>

extern "C" {
#include <libswscale/swscale.h>
}

namespace nyx::multimedia {

namespace {
// Brings a looped-back frame of another size to the input's size.
Nv12Frame scaled(const Nv12Frame &in, int width, int height, SwsContext *&sws)
{
    if (in.width == width && in.height == height)
        return in;
    sws = sws_getCachedContext(sws, in.width, in.height, AV_PIX_FMT_NV12, width, height, AV_PIX_FMT_NV12,
                               SWS_BILINEAR, nullptr, nullptr, nullptr);
    Nv12Frame out = Nv12Frame::create(width, height);
    if (!sws || out.isNull())
        return {};
    const uint8_t *src[2] = {in.y(), in.uv()};
    const int srcStride[2] = {in.width, in.width};
    uint8_t *dst[2] = {out.y(), out.uv()};
    const int dstStride[2] = {width, width};
    if (sws_scale(sws, src, srcStride, 0, in.height, dst, dstStride) != height)
        return {};
    return out;
}
} // namespace

KXVideoInput::KXVideoInput(const KXAddress &address, MediaClock *clock, Options options)
    : m_address(address), m_clock(clock), m_options(options)
{
    if (!m_clock) {
        m_ownClock = std::make_unique<SteadyMediaClock>();
        m_clock = m_ownClock.get();
    }
}

KXVideoInput::KXVideoInput(const KXAddress &address, MediaClock *clock)
    : KXVideoInput(address, clock, Options())
{
}

KXVideoInput::~KXVideoInput()
{
    stop();
}

bool KXVideoInput::start(FrameCallback callback)
{
    if (m_thread.joinable() || m_address.kind != KXAddress::Kind::Video)
        return false;
    m_clock->rearm();
    const qint64 start = m_clock->now();
    m_start = start;
    m_thread = std::thread([this, callback = std::move(callback), start] { run(callback, start); });
    return true;
}

void KXVideoInput::stop()
{
    if (!m_thread.joinable())
        return;
    m_clock->wake();
    m_thread.join();
}

void KXVideoInput::run(FrameCallback callback, qint64 start)
{
    TestPicture picture(m_address.inputName(), Width, Height, FrameRate);
    KXLoopbackReader loopback(m_address.outputName());
    SwsContext *sws = nullptr;
    const qint64 wallStartMs = QDateTime::currentMSecsSinceEpoch();
    Nv12Frame lastLooped;
    quint64 lastSequence = 0;
    for (qint64 slot = 0;; ++slot) {
        const qint64 due = start + slot * FrameDuration;
        if (!m_clock->sleepUntil(due))
            break;
        // A thread that fell behind by more than a frame drops the slots it missed.
        const qint64 late = m_clock->now() - due;
        if (late >= FrameDuration) {
            const qint64 missed = late / FrameDuration;
            m_skipped += missed;
            slot += missed;
        }
        const qint64 time = start + slot * FrameDuration;
        Nv12Frame frame;
        quint64 sequence = 0;
        if (auto looped = loopback.latest(m_options.loopbackTimeoutMs, &sequence)) {
            if (sequence != lastSequence || lastLooped.isNull()) {
                lastLooped = scaled(*looped, Width, Height, sws);
                lastSequence = sequence;
            }
            frame = lastLooped;
            ++m_loopback;
        } else {
            lastLooped = Nv12Frame();
            const QDateTime wall = QDateTime::fromMSecsSinceEpoch(wallStartMs + (time - start) / 10000);
            frame = picture.render(slot, time, wall);
        }
        if (frame.isNull())
            continue;
        frame.time = time;
        frame.duration = FrameDuration;
        callback(frame);
        ++m_delivered;
    }
    sws_freeContext(sws);
}

} // namespace nyx::multimedia
