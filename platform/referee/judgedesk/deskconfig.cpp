#include "deskconfig.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

namespace {
bool readTime(const QJsonValue &value, QDateTime *time)
{
    if (value.isUndefined() || value.isNull())
        return true;
    *time = QDateTime::fromString(value.toString(), Qt::ISODateWithMs);
    return time->isValid();
}

// Archive names: 1 to 255 UTF-16 units, no NUL.
bool isArchiveName(const QString &name)
{
    return !name.isEmpty() && name.size() <= 255 && !name.contains(QChar(0));
}

// A braced GUID names a stream by its id, anything else by its name.
bool readStream(const QJsonValue &value, DeskCamera *camera)
{
    const QString text = value.toString();
    if (text.startsWith(QLatin1Char('{')) && text.endsWith(QLatin1Char('}'))) {
        camera->streamId = QUuid::fromString(text);
        return !camera->streamId.isNull() && text.size() == 38;
    }
    camera->streamName = text;
    return isArchiveName(text);
}

bool isHexColor(const QString &text)
{
    static const QRegularExpression hex(QStringLiteral("^[0-9A-Fa-f]{1,8}$"));
    return hex.match(text).hasMatch();
}
} // namespace

bool DeskConfig::load(const QString &path, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return false;
    }
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &parseError);
    if (!document.isObject()) {
        *error = QStringLiteral("%1 is not a JSON object: %2").arg(path, parseError.errorString());
        return false;
    }
    const QJsonObject root = document.object();
    cameras.clear();
    eventTypes.clear();
    const QJsonValue storageValue = root.value(QLatin1String("storage"));
    storage = storageValue.isUndefined() ? QStringLiteral("Station") : storageValue.toString();
    if (!isArchiveName(storage)) {
        *error = QStringLiteral("the storage needs a name of 1 to 255 characters");
        return false;
    }
    const QJsonArray cameraArray = root.value(QLatin1String("cameras")).toArray();
    for (int i = 0; i < cameraArray.size(); ++i) {
        const QJsonObject o = cameraArray.at(i).toObject();
        DeskCamera camera;
        camera.name = o.value(QLatin1String("name")).toString();
        camera.playAudio = o.value(QLatin1String("playAudio")).toBool();
        if (camera.name.isEmpty() || !readStream(o.value(QLatin1String("stream")), &camera) ||
            !readTime(o.value(QLatin1String("begin")), &camera.begin) ||
            !readTime(o.value(QLatin1String("end")), &camera.end)) {
            *error = QStringLiteral("camera %1 needs a name, a stream (a name of 1 to 255 characters or a "
                                    "braced GUID) and valid times")
                         .arg(i + 1);
            return false;
        }
        cameras.push_back(camera);
    }
    const QJsonArray typeArray = root.value(QLatin1String("eventTypes")).toArray();
    for (int i = 0; i < typeArray.size(); ++i) {
        const QJsonObject o = typeArray.at(i).toObject();
        DeskEventType type;
        type.name = o.value(QLatin1String("name")).toString().trimmed();
        type.textColor = o.value(QLatin1String("text")).toString(type.textColor);
        type.backgroundColor = o.value(QLatin1String("background")).toString(type.backgroundColor);
        if (type.name.isEmpty() || !isHexColor(type.textColor) || !isHexColor(type.backgroundColor)) {
            *error = QStringLiteral("event type %1 needs a name and hexadecimal colours").arg(i + 1);
            return false;
        }
        eventTypes.push_back(type);
    }
    eventsFile = root.value(QLatin1String("eventsFile")).toString(QStringLiteral("events.jsonl"));
    if (QFileInfo(eventsFile).isRelative())
        eventsFile = QFileInfo(path).absoluteDir().filePath(eventsFile);
    return true;
}
