#pragma once
// Sound devices of a test's own, for machines without a sound card: an ALSA configuration in a
// temporary XDG_CONFIG_HOME (which alsa-lib reads) defines "tundra_file", alsa-lib's null device
// behind its file plugin, so that every byte played lands in a file, and "tundra_int16", the same
// behind a plugin that takes 16-bit integer samples only. Qt lists them as output devices; the
// audio output is pointed at one by NYX_AUDIO_OUTPUT_DEVICE.

#include <QAudioDeviceInfo>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

class AlsaTestDevices
{
public:
    // Call before anything touches Qt Multimedia or ALSA.
    AlsaTestDevices()
    {
        QDir(m_dir.path()).mkpath(QStringLiteral("alsa"));
        QFile config(m_dir.filePath(QStringLiteral("alsa/asoundrc")));
        if (!config.open(QIODevice::WriteOnly))
            return;
        config.write(QStringLiteral("pcm.tundra_file {\n"
                                    "  type file\n"
                                    "  slave.pcm \"null\"\n"
                                    "  file \"%1\"\n"
                                    "  format \"raw\"\n"
                                    "  hint { show on description \"Test output into a file\" }\n"
                                    "}\n"
                                    "pcm.tundra_int16 {\n"
                                    "  type linear\n"
                                    "  slave { pcm \"tundra_file\" format S16_LE }\n"
                                    "  hint { show on description \"Test output of 16-bit samples only\" }\n"
                                    "}\n")
                         .arg(playedPath())
                         .toUtf8());
        config.close();
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_dir.path()));
    }

    // Empty when Qt lists both devices, otherwise why not.
    QString missing() const
    {
        QStringList names;
        for (const QAudioDeviceInfo &device : QAudioDeviceInfo::availableDevices(QAudio::AudioOutput))
            names.append(device.deviceName());
        if (names.contains(QStringLiteral("tundra_file")) && names.contains(QStringLiteral("tundra_int16")))
            return QString();
        return QStringLiteral("Qt Multimedia lists no test sound device (listed: %1); its ALSA plugin "
                              "may be missing")
            .arg(names.join(QStringLiteral(", ")));
    }

    static void use(const char *device) { qputenv("NYX_AUDIO_OUTPUT_DEVICE", device); }

    // What the devices played since they were last opened.
    QString playedPath() const { return m_dir.filePath(QStringLiteral("played.raw")); }
    QByteArray played() const
    {
        QFile file(playedPath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    void forget() const { QFile::remove(playedPath()); }

private:
    QTemporaryDir m_dir;
};
