// Feeds arbitrary bytes to the source list reader as the content of available_videos.json. What it
// takes must be a usable source (one that names its archive stream); what it refuses must leave the
// built-in sources as they were.

#include "rewindconfiguration.h"

#include <QCoreApplication>

#include <cstdint>
#include <cstdlib>

namespace {
void quiet(QtMsgType, const QMessageLogContext &, const QString &) {}

AvailableSource builtIn(const QString &stream)
{
    AvailableSource s;
    s.name = stream;
    s.stream = stream;
    s.source = QUrl(QStringLiteral("kx:///") + stream);
    return s;
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // Every refused list is logged; the log is not what is fuzzed.
    qInstallMessageHandler(quiet);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray content = QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(size));
    const std::vector<AvailableSource> before{builtIn(QStringLiteral("Cam1")),
                                              builtIn(QStringLiteral("Cam2"))};
    std::vector<AvailableSource> videos = before;
    AvailableSource audio = builtIn(QStringLiteral("Audio1"));
    const bool loaded = RewindConfiguration::readAvailableSources(
        content, QStringLiteral("available_videos.json"), videos, audio);
    if (videos.empty() || audio.stream.isEmpty())
        std::abort();
    for (const AvailableSource &s : videos) {
        if (s.stream.isEmpty() || s.decoderKind < -1 || s.decoderKind > 2)
            std::abort();
    }
    if (!loaded && (videos.size() != before.size() || videos[0].stream != before[0].stream ||
                    audio.stream != QLatin1String("Audio1")))
        std::abort();
    return 0;
}
