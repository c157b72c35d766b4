#include "multimedia/nodes/audioplayback.h"

#include "multimedia/nodes/pcmconvert.h"
#include "multimedia/nodes/pcmqueue.h"

#include <QAudioDeviceInfo>
#include <QAudioOutput>
#include <QMutex>
#include <QThread>
#include <QTimer>

#include <atomic>

Q_LOGGING_CATEGORY(lcAudioOutput, "Multimedia.AudioOutput")

namespace nyx::multimedia {

namespace {

enum class Wanted
{
    Stopped,
    Playing,
    Paused
};

bool isFloat(const QAudioFormat &format)
{
    return format.sampleType() == QAudioFormat::Float;
}

// The same stream with float samples as 16-bit integers or the other way round.
QAudioFormat counterpart(const QAudioFormat &format)
{
    QAudioFormat other = format;
    other.setSampleType(isFloat(format) ? QAudioFormat::SignedInt : QAudioFormat::Float);
    other.setSampleSize(isFloat(format) ? 16 : 32);
    return other;
}

QString describe(const QAudioFormat &format)
{
    return QStringLiteral("%1 Hz, %2 channels, %3")
        .arg(format.sampleRate())
        .arg(format.channelCount())
        .arg(isFloat(format) ? QStringLiteral("32-bit float") : QStringLiteral("16-bit integer"));
}

} // namespace

struct AudioPlayback::Shared
{
    QMutex mutex;
    Wanted wanted = Wanted::Stopped;
    float rate = 1.0f;
    bool discard = false; // no device plays this stream
    bool feedPosted = false;
    PcmQueue queue;
    QString deviceName;
    std::atomic<qint64> bytesWritten{0};
    std::atomic<qint64> processedUSecs{0};
};

// Owns the QAudioOutput, on the playback's thread: brings it to the wanted state and writes what
// waits, as much as the device has room for, on every tick of a timer while playing.
class AudioPlayback::Device : public QObject
{
public:
    Device(std::shared_ptr<Shared> shared, const QAudioFormat &format)
        : m_shared(std::move(shared)), m_format(format), m_timer(new QTimer(this))
    {
        m_timer->setInterval(10);
        connect(m_timer, &QTimer::timeout, this, [this] { feed(); });
    }

    // Chooses the device and its format, before anything plays: finding devices may take a while.
    void prepare()
    {
        if (!choose())
            giveUp();
    }

    // Brings the device to the wanted state.
    void apply()
    {
        Wanted wanted;
        {
            QMutexLocker lock(&m_shared->mutex);
            wanted = m_shared->wanted;
            if (m_shared->discard || !m_output)
                return;
        }
        switch (wanted) {
        case Wanted::Playing:
            if (m_output->state() == QAudio::SuspendedState) {
                m_output->resume();
            } else if (!m_io) {
                m_io = m_output->start();
                if (!m_io || m_output->error() != QAudio::NoError) {
                    qCWarning(lcAudioOutput).noquote()
                        << QStringLiteral("AudioOutput: the audio output device \"%1\" failed to open "
                                          "(error %2); the audio is consumed at the clock's pace without "
                                          "sound")
                               .arg(m_deviceName)
                               .arg(int(m_output->error()));
                    m_io = nullptr;
                    giveUp();
                    return;
                }
            }
            m_timer->start();
            feed();
            break;
        case Wanted::Paused:
            m_timer->stop();
            if (m_io && m_output->state() != QAudio::SuspendedState)
                m_output->suspend();
            break;
        case Wanted::Stopped:
            m_timer->stop();
            closeOutput();
            break;
        }
    }

    void feed()
    {
        {
            QMutexLocker lock(&m_shared->mutex);
            m_shared->feedPosted = false;
            if (m_shared->wanted != Wanted::Playing || m_shared->discard)
                return;
        }
        if (!m_io)
            return;
        if (m_output->state() == QAudio::StoppedState && m_output->error() != QAudio::NoError) {
            qCWarning(lcAudioOutput).noquote()
                << QStringLiteral("AudioOutput: the audio output device \"%1\" stopped (error %2); the "
                                  "audio is consumed at the clock's pace without sound")
                       .arg(m_deviceName)
                       .arg(int(m_output->error()));
            giveUp();
            return;
        }
        // What the device did not take last time goes first.
        const int deviceFrame = m_deviceFormat.bytesPerFrame();
        const int streamFrame = m_format.bytesPerFrame();
        auto toDevice = [&](const QByteArray &bytes) {
            const qint64 written = qMax<qint64>(m_io->write(bytes), 0);
            m_shared->bytesWritten += written / deviceFrame * streamFrame;
            return written;
        };
        if (!m_carry.isEmpty())
            m_carry.remove(0, int(toDevice(m_carry)));
        const qint64 frames = m_carry.isEmpty() ? m_output->bytesFree() / deviceFrame : 0;
        if (frames > 0) {
            QByteArray chunk;
            {
                QMutexLocker lock(&m_shared->mutex);
                chunk = m_shared->queue.take(frames * streamFrame);
            }
            if (m_deviceFormat.sampleType() != m_format.sampleType())
                chunk = isFloat(m_format) ? floatToInt16(chunk) : int16ToFloat(chunk);
            if (!chunk.isEmpty()) {
                const qint64 written = toDevice(chunk);
                if (written < chunk.size())
                    m_carry = chunk.mid(int(written));
            }
        }
        m_shared->processedUSecs = m_processedBase + m_output->processedUSecs();
    }

    void closeOutput()
    {
        m_carry.clear();
        if (!m_output || !m_io)
            return;
        m_processedBase += m_output->processedUSecs();
        m_shared->processedUSecs = m_processedBase;
        m_output->stop();
        m_io = nullptr;
    }

private:
    bool choose()
    {
        const QString wanted = qEnvironmentVariable("NYX_AUDIO_OUTPUT_DEVICE");
        QAudioDeviceInfo info;
        if (!wanted.isEmpty()) {
            QStringList names;
            for (const QAudioDeviceInfo &device : QAudioDeviceInfo::availableDevices(QAudio::AudioOutput)) {
                names.append(QLatin1Char('"') + device.deviceName() + QLatin1Char('"'));
                if (device.deviceName() == wanted && info.isNull())
                    info = device;
            }
            if (info.isNull()) {
                qCWarning(lcAudioOutput).noquote()
                    << QStringLiteral(
                           "AudioOutput: no audio output device named \"%1\" (NYX_AUDIO_OUTPUT_DEVICE; "
                           "listed: %2); the audio is consumed at the clock's pace without sound")
                           .arg(wanted,
                                names.isEmpty() ? QStringLiteral("none") : names.join(QLatin1String(", ")));
                return false;
            }
        } else {
            info = QAudioDeviceInfo::defaultOutputDevice();
            if (info.isNull() || info.deviceName().isEmpty()) {
                qCWarning(lcAudioOutput) << "AudioOutput: there is no audio output device; the audio is "
                                            "consumed at the clock's pace without sound";
                return false;
            }
        }
        m_deviceName = info.deviceName();
        if (info.isFormatSupported(m_format)) {
            m_deviceFormat = m_format;
        } else if (info.isFormatSupported(counterpart(m_format))) {
            m_deviceFormat = counterpart(m_format);
        } else {
            qCWarning(lcAudioOutput).noquote()
                << QStringLiteral("AudioOutput: the audio output device \"%1\" takes neither %2 nor %3 audio "
                                  "(or cannot be opened); the audio is consumed at the clock's pace without "
                                  "sound")
                       .arg(m_deviceName, describe(m_format), describe(counterpart(m_format)));
            return false;
        }
        m_output = new QAudioOutput(info, m_deviceFormat, this);
        m_output->setBufferSize(m_deviceFormat.bytesForDuration(qint64(DeviceBufferMs) * 1000));
        qCInfo(lcAudioOutput).noquote() << QStringLiteral("AudioOutput: the sound goes to \"%1\" (%2)")
                                               .arg(m_deviceName, describe(m_deviceFormat));
        QMutexLocker lock(&m_shared->mutex);
        m_shared->deviceName = m_deviceName;
        return true;
    }

    // From here on this stream is consumed without sound.
    void giveUp()
    {
        m_timer->stop();
        closeOutput();
        QMutexLocker lock(&m_shared->mutex);
        m_shared->discard = true;
        m_shared->deviceName.clear();
        m_shared->queue.clear();
    }

    std::shared_ptr<Shared> m_shared;
    const QAudioFormat m_format;
    QAudioFormat m_deviceFormat;
    QString m_deviceName;
    QTimer *m_timer;
    QAudioOutput *m_output = nullptr;
    QIODevice *m_io = nullptr; // the output's, while started
    QByteArray m_carry;        // converted bytes the device had no room for
    qint64 m_processedBase = 0;
};

AudioPlayback::AudioPlayback(const QAudioFormat &format)
    : m_shared(std::make_shared<Shared>()), m_thread(new QThread), m_device(new Device(m_shared, format))
{
    m_shared->queue.setCapacity(format.bytesForDuration(qint64(MaxQueuedMs) * 1000));
    m_thread->setObjectName(QStringLiteral("AudioOutput"));
    m_device->moveToThread(m_thread);
    m_thread->start();
    post(&Device::prepare);
}

AudioPlayback::~AudioPlayback()
{
    Device *device = m_device;
    QMetaObject::invokeMethod(
        device,
        [device] {
            device->closeOutput();
            delete device;
            QThread::currentThread()->quit();
        },
        Qt::QueuedConnection);
    m_thread->wait();
    delete m_thread;
}

void AudioPlayback::post(void (Device::*call)())
{
    Device *device = m_device;
    QMetaObject::invokeMethod(
        device, [device, call] { (device->*call)(); }, Qt::QueuedConnection);
}

bool AudioPlayback::write(const QByteArray &pcm)
{
    {
        QMutexLocker lock(&m_shared->mutex);
        if (m_shared->discard || m_shared->wanted == Wanted::Stopped || m_shared->rate != 1.0f)
            return true;
        if (!m_shared->queue.push(pcm))
            return false;
        if (m_shared->wanted != Wanted::Playing || m_shared->feedPosted)
            return true;
        m_shared->feedPosted = true;
    }
    post(&Device::feed);
    return true;
}

void AudioPlayback::start()
{
    {
        QMutexLocker lock(&m_shared->mutex);
        m_shared->wanted = Wanted::Playing;
    }
    post(&Device::apply);
}

void AudioPlayback::pause()
{
    {
        QMutexLocker lock(&m_shared->mutex);
        if (m_shared->wanted == Wanted::Stopped)
            return;
        m_shared->wanted = Wanted::Paused;
    }
    post(&Device::apply);
}

void AudioPlayback::stop()
{
    {
        QMutexLocker lock(&m_shared->mutex);
        m_shared->wanted = Wanted::Stopped;
        m_shared->queue.clear();
    }
    post(&Device::apply);
}

void AudioPlayback::setRate(float rate)
{
    QMutexLocker lock(&m_shared->mutex);
    m_shared->rate = rate;
    // What waits was rendered for the old rate.
    if (rate != 1.0f)
        m_shared->queue.clear();
}

QString AudioPlayback::deviceName() const
{
    QMutexLocker lock(&m_shared->mutex);
    return m_shared->deviceName;
}

qint64 AudioPlayback::bytesWritten() const
{
    return m_shared->bytesWritten;
}

qint64 AudioPlayback::processedUSecs() const
{
    return m_shared->processedUSecs;
}

} // namespace nyx::multimedia
