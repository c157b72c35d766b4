#include "rewindconfiguration.h"

#include "rewindservicelogging.h"

#include "win32/shellfolders.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

namespace {
// Configuration files are a few kilobytes; anything far larger is not one.
constexpr qint64 kMaxFileSize = 4 * 1024 * 1024;

int toInteger(const QString &value)
{
    bool ok = false;
    const int n = value.toInt(&ok, 10);
    return ok ? n : 0;
}

double toReal(const QString &value)
{
    bool ok = false;
    const double d = value.toDouble(&ok);
    return ok ? d : 0.0;
}

float toPercentage(const QString &value)
{
    return static_cast<float>(toReal(value) * 0.01 + 0.001);
}

QString text(float value)
{
    return QString::number(double(value), 'g', 3);
}

// What a JSON value is, in words, for the warnings about the source list.
QString kindOf(const QJsonValue &value)
{
    switch (value.type()) {
    case QJsonValue::Null:
        return QStringLiteral("null");
    case QJsonValue::Bool:
        return QStringLiteral("true or false");
    case QJsonValue::Double:
        return QStringLiteral("a number");
    case QJsonValue::String:
        return QStringLiteral("a text");
    case QJsonValue::Array:
        return QStringLiteral("a list");
    case QJsonValue::Object:
        return QStringLiteral("an object");
    case QJsonValue::Undefined:
        break;
    }
    return QStringLiteral("nothing");
}

// Every mistake in the source list is named once, in words: the built-in sources that replace a
// list the user wrote would otherwise leave him guessing why his cameras are not there.
void warnAboutSources(const QString &fileName, const QString &text)
{
    qCWarning(lcRewindService).noquote() << QStringLiteral("Source list ") + fileName + text;
}

bool unusableSources(const QString &fileName, const QString &why)
{
    warnAboutSources(fileName, QLatin1Char(' ') + why + QStringLiteral("; the built-in sources are used"));
    return false;
}

void readSource(const QJsonObject &element, std::vector<AvailableSource> &sources)
{
    QString name, source, rewind, decoder;
    for (auto it = element.begin(); it != element.end(); ++it) {
        const QString key = it.key();
        const QString value = it.value().toVariant().toString();
        if (key.compare(QLatin1String("name"), Qt::CaseInsensitive) == 0)
            name = value;
        else if (key.compare(QLatin1String("source"), Qt::CaseInsensitive) == 0)
            source = value;
        else if (key.compare(QLatin1String("rewind"), Qt::CaseInsensitive) == 0)
            rewind = value;
        else if (key.compare(QLatin1String("decoder"), Qt::CaseInsensitive) == 0)
            decoder = value;
    }
    if (rewind.isEmpty())
        return;
    AvailableSource s;
    s.name = name;
    s.stream = rewind;
    s.source = QUrl(source.remove(QStringLiteral("@url ")), QUrl::TolerantMode);
    const QPair<int, int> d = ParseDecoderName(decoder);
    s.decoderKind = d.first;
    s.decoderIndex = d.second;
    sources.push_back(s);
}
} // namespace

namespace RewindConfiguration {
QString folder()
{
    return nyx::shell::applicationDataDirectory(QCoreApplication::applicationName());
}

QString settingsFile()
{
    return folder() + QStringLiteral("/rewind.ini");
}

QString sourcesFile()
{
    return folder() + QStringLiteral("/available_videos.json");
}

bool readSettings(const QString &fileName, RewindSettings &settings)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    QTextStream stream(&file);
    stream.setCodec("UTF-8");
    PlaybackTuning &t = settings.tuning;
    qint64 read = 0;
    while (!stream.atEnd() && read < kMaxFileSize) {
        const QString line = stream.readLine();
        read += line.size() + 1;
        if (line.startsWith(QLatin1String("//")))
            continue;
        const int eq = line.indexOf(QLatin1Char('='));
        if (eq <= 0)
            continue;
        const QString key = line.left(eq).trimmed();
        const QString value = line.mid(eq + 1).trimmed();
        auto is = [&](const char *name) {
            return key.compare(QLatin1String(name), Qt::CaseInsensitive) == 0;
        };
        if (is("ZEMBLA"))
            settings.host = value;
        else if (is("Trace"))
            settings.trace = toInteger(value) != 0;
        else if (is("ReadEventCount"))
            settings.readEventCount = toInteger(value);
        else if (is("ReadEventSize"))
            settings.readEventSize = toInteger(value);
        else if (is("DefQuality"))
            t.DefQuality = toPercentage(value);
        else if (is("Quality4Full"))
            t.Quality4Full = toPercentage(value);
        else if (is("Quality4View"))
            t.Quality4View = toPercentage(value);
        else if (is("Skip4Full"))
            t.Skip4Full = toInteger(value);
        else if (is("Skip4View"))
            t.Skip4View = toInteger(value);
        else if (is("Skip4Preview"))
            t.Skip4Preview = toInteger(value);
        else if (is("SD2HDQulityRatio"))
            t.SD2HDQulityRatio = static_cast<float>(toReal(value));
        else if (is("IFrameOnlySpeedLimit"))
            t.IFrameOnlySpeedLimit = static_cast<float>(toReal(value));
        else if (is("Force2IFrame4Preview"))
            t.Force2IFrame4Preview = toInteger(value) > 0;
    }
    return true;
}

QString settingsSummary(const PlaybackTuning &t)
{
    return QStringLiteral("\n---------- rewind.ini info: ---------------") +
           QStringLiteral("\n  DefQuality=") + text(t.DefQuality) + QStringLiteral("\n  Skip4Full=") +
           QString::number(t.Skip4Full) + QStringLiteral("\n  Quality4Full=") + text(t.Quality4Full) +
           QStringLiteral("\n  Skip4View=") + QString::number(t.Skip4View) +
           QStringLiteral("\n  Quality4View=") + text(t.Quality4View) + QStringLiteral("\n  Skip4Preview=") +
           QString::number(t.Skip4Preview) + QStringLiteral("\n  SD2HDQulityRatio=") +
           text(t.SD2HDQulityRatio) + QStringLiteral("\n  IFrameOnlySpeedLimit=") +
           text(t.IFrameOnlySpeedLimit) + QStringLiteral("\n  Force2IFrame4Preview=") +
           (t.Force2IFrame4Preview ? QStringLiteral("true") : QStringLiteral("false")) + QStringLiteral("\n");
}

bool createSettings(const QString &fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadWrite)) {
        qCWarning(lcRewindService) << "Failed to create rewind configuration file" << fileName;
        return false;
    }
    const char *const parts[] = {
        "// remote PC with recorder\nZEMBLA=localhost\n// turn on/off ZEMBLA command's trace\nTrace=0\n",
        "// read events - N events per one reading loop\nReadEventCount=5\n",
        "// read events - N events per one request\nReadEventSize=10\n",
        "// quality in %, skip=0,1,2...20\nDefQuality=0\nSkip4Full=0\nQuality4Full=51\nSkip4View=1\n"
        "Quality4View=10\nSkip4Preview=3\nSD2HDQulityRatio=2\n",
        "// decode AVC storage to I-frame only above speed limit or for preview\nIFrameOnlySpeedLimit=1.5\n"
        "Force2IFrame4Preview=1\n"};
    for (const char *part : parts) {
        if (file.write(part) < 0) {
            qCWarning(lcRewindService) << "Failed to create rewind configuration file" << fileName;
            return false;
        }
    }
    return true;
}

bool loadAvailableSources(const QString &fileName, std::vector<AvailableSource> &videos,
                          AvailableSource &audio)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        // No list is the normal first start; one that is there but cannot be read is a mistake.
        if (file.exists())
            return unusableSources(fileName, QStringLiteral("cannot be read (") + file.errorString() +
                                                 QLatin1Char(')'));
        return false;
    }
    if (file.size() > kMaxFileSize)
        return unusableSources(fileName, QStringLiteral("is too large for a source list"));
    const QByteArray data = file.readAll();
    file.close();
    return readAvailableSources(data, fileName, videos, audio);
}

bool readAvailableSources(const QByteArray &data, const QString &fileName,
                          std::vector<AvailableSource> &videos, AvailableSource &audio)
{
    if (data.trimmed().isEmpty())
        return unusableSources(fileName, QStringLiteral("is empty"));
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(data, &error);
    if (document.isNull())
        return unusableSources(
            fileName,
            QStringLiteral("is not valid JSON (%1 at byte %2)").arg(error.errorString()).arg(error.offset));
    if (!document.isObject())
        return unusableSources(fileName,
                               QStringLiteral("holds a list, not an object with \"video\" and \"audio\""));
    if (document.object().isEmpty())
        return unusableSources(fileName, QStringLiteral("is an empty object"));
    const QJsonObject top = document.object();
    for (auto it = top.begin(); it != top.end(); ++it) {
        const bool isAudio = it.key().compare(QLatin1String("audio"), Qt::CaseInsensitive) == 0;
        const bool isVideo = it.key().compare(QLatin1String("video"), Qt::CaseInsensitive) == 0;
        if (!isAudio && !isVideo)
            continue;
        const QString builtIn = isAudio ? QStringLiteral("the built-in audio source is used")
                                        : QStringLiteral("the built-in video sources are used");
        if (!it.value().isArray()) {
            warnAboutSources(
                fileName,
                QStringLiteral(": \"%1\" is %2, not a list of sources; ").arg(it.key(), kindOf(it.value())) +
                    builtIn);
            continue;
        }
        std::vector<AvailableSource> sources;
        for (const QJsonValue element : it.value().toArray()) {
            if (element.isObject())
                readSource(element.toObject(), sources);
        }
        if (sources.empty()) {
            warnAboutSources(
                fileName,
                QStringLiteral(": no entry of \"%1\" names its archive stream (\"rewind\"); ").arg(it.key()) +
                    builtIn);
            continue;
        }
        if (isAudio)
            audio = sources.front();
        else
            videos = sources;
    }
    return true;
}

void writeDefaultAvailableSources(const QString &fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return;
    file.write(
        "\n{\"audio\": [{ \"name\":\"KX322 Board 1 Input 1\", \"source\":\"@url kx:///KX322 Board 1 Input 1 "
        "Stereo\", \"rewind\":\"Audio1\" } ],");
    file.write("\n \"video\": [");
    file.write("\n {\"name\":\"KX788 Board 1 Input 1\", \"source\":\"@url kx:///KX788 Board 1 Input 1\", "
               "\"rewind\":\"Cam1\" },");
    file.write("\n {\"name\":\"KX788 Board 1 Input 2\", \"source\":\"@url kx:///KX788 Board 1 Input 2\" },");
    file.write("\n {\"name\":\"IPCamera-RTSP\", \"source\":\"@url rtmp://192.168.1.64:554/stream/main\", "
               "\"rewind\":\"Cam2\" }");
    file.write("\n]}");
}
} // namespace RewindConfiguration
