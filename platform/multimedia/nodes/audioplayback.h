#pragma once
// Plays a PCM stream through a Qt Multimedia output device on a thread of its own, so that the
// thread that renders audio at the clock's time only ever queues bytes and never waits on the
// device. The device is the default output, or the one named by the environment variable
// NYX_AUDIO_OUTPUT_DEVICE (tests use it to pick an ALSA device of their own). It is chosen as soon
// as the playback is built (finding devices may take a while) and opened on the first start; when
// there is none, or it plays neither the stream's sample format nor its float/16-bit counterpart,
// or it fails to open, one warning says why and the audio is discarded.
//
// Between the caller and the device at most MaxQueuedMs of audio waits; a buffer beyond that is
// refused (the caller counts it as dropped). At a rate other than 1 nothing is played.

#include <QAudioFormat>
#include <QLoggingCategory>
#include <QString>

#include <memory>

Q_DECLARE_LOGGING_CATEGORY(lcAudioOutput)

class QThread;

namespace nyx::multimedia {

class AudioPlayback
{
public:
    static constexpr int MaxQueuedMs = 200;
    static constexpr int DeviceBufferMs = 100;

    // format: the stream's: PCM, 16-bit signed integer or 32-bit float samples, little-endian.
    explicit AudioPlayback(const QAudioFormat &format);
    ~AudioPlayback();
    AudioPlayback(const AudioPlayback &) = delete;
    AudioPlayback &operator=(const AudioPlayback &) = delete;

    // Any thread, never blocking on the device. False when the bytes were refused because the
    // device has fallen behind; audio that is not to be heard (no device, stopped, another rate)
    // is taken and discarded.
    bool write(const QByteArray &pcm);

    // The clock's state, from any thread: start (or restart) plays, pause suspends the device
    // keeping what waits, stop discards what waits and closes the device.
    void start();
    void pause();
    void stop();
    void setRate(float rate);

    // What reached the device: its name (empty until it is chosen, and when there is none), the stream's
    // bytes handed to it, and the time it reports as processed, both summed over every start.
    QString deviceName() const;
    qint64 bytesWritten() const;
    qint64 processedUSecs() const;

    struct Shared;
    class Device;

private:
    void post(void (Device::*call)());

    std::shared_ptr<Shared> m_shared;
    QThread *m_thread;
    Device *m_device; // lives on m_thread
};

} // namespace nyx::multimedia
