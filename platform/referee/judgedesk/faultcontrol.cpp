#include "faultcontrol.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

bool Faults::matches(const QRegularExpression &pattern, const QString &request)
{
    return !pattern.pattern().isEmpty() && pattern.isValid() && pattern.match(request).hasMatch();
}

QRegularExpression FaultControl::pattern(const QString &text)
{
    if (text.isEmpty())
        return QRegularExpression();
    return QRegularExpression(QRegularExpression::anchoredPattern(text));
}

FaultControl::FaultControl(const Faults &initial, const QString &controlFile)
    : m_faults(initial), m_controlFile(controlFile)
{
}

const Faults &FaultControl::current()
{
    if (m_controlFile.isEmpty())
        return m_faults;
    const QFileInfo info(m_controlFile);
    if (!info.exists() || (info.lastModified() == m_readAt && info.size() == m_readSize))
        return m_faults;
    QFile file(m_controlFile);
    if (!file.open(QIODevice::ReadOnly))
        return m_faults;
    const QJsonObject o = QJsonDocument::fromJson(file.readAll()).object();
    m_readAt = info.lastModified();
    m_readSize = info.size();
    Faults f;
    f.silent = o.value(QLatin1String("silent")).toBool();
    f.drop = pattern(o.value(QLatin1String("drop")).toString());
    f.delay = pattern(o.value(QLatin1String("delay")).toString());
    f.delayMs = o.value(QLatin1String("delayMs")).toInt();
    f.split = o.value(QLatin1String("split")).toInt();
    f.malformed = pattern(o.value(QLatin1String("malformed")).toString());
    f.truncate = pattern(o.value(QLatin1String("truncate")).toString());
    m_faults = f;
    return m_faults;
}
