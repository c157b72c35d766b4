#include "multimedia/kx/kxvideoinput.h"
#include "multimedia/kx/kxloopback.h"
#include "multimedia/kx/testpicture.h"

#include <QDateTime>

#include <memory>

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
    : m_address(address), m_options(options), m_pacer(clock, FrameDuration)
{
}

KXVideoInput::KXVideoInput(const KXAddress &address, MediaClock *clock)
    : KXVideoInput(address, clock, Options())
{
}

KXVideoInput::~KXVideoInput()
{
    stop();
}

namespace {
// The time of day a frame time stands for on the board's clock, in milliseconds since the epoch:
// one offset for the whole process, so that all inputs show the same clock for the same time.
qint64 boardClockMs(qint64 time)
{
    static const qint64 offset = QDateTime::currentMSecsSinceEpoch() - SteadyMediaClock().now() / 10000;
    return offset + time / 10000;
}

// What the input's thread works with: the test picture, the loopback and the last looped frame.
struct InputState
{
    explicit InputState(const KXAddress &address)
        : picture(address.inputName(), KXVideoInput::Width, KXVideoInput::Height, KXVideoInput::FrameRate,
                  TestPicture::boardStyle()),
          loopback(address.outputName())
    {
    }
    ~InputState() { sws_freeContext(sws); }

    TestPicture picture;
    KXLoopbackReader loopback;
    SwsContext *sws = nullptr;
    Nv12Frame lastLooped;
    quint64 lastSequence = 0;
};
} // namespace

bool KXVideoInput::start(FrameCallback callback)
{
    if (m_pacer.isRunning() || m_address.kind != KXAddress::Kind::Video || !callback)
        return false;
    auto state = std::make_shared<InputState>(m_address);
    const int timeoutMs = m_options.loopbackTimeoutMs;
    return m_pacer.start(
        [this, state, timeoutMs](qint64 slot, qint64 time) {
            quint64 sequence = 0;
            if (auto looped = state->loopback.latest(timeoutMs, &sequence)) {
                if (sequence != state->lastSequence || state->lastLooped.isNull()) {
                    state->lastLooped = scaled(*looped, Width, Height, state->sws);
                    state->lastSequence = sequence;
                }
                ++m_loopback;
                return state->lastLooped;
            }
            state->lastLooped = Nv12Frame();
            return state->picture.render(slot, time, QDateTime::fromMSecsSinceEpoch(boardClockMs(time)));
        },
        std::move(callback));
}

void KXVideoInput::stop()
{
    m_pacer.stop();
}

} // namespace nyx::multimedia
