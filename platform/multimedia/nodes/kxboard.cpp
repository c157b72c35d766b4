#include "multimedia/nodes/kxboard.h"

#include "multimedia/kx/kxaddress.h"

#include <QVariantMap>

KXBoard::KXBoard(QObject *parent) : QObject(parent)
{
    for (const QString &name : nyx::multimedia::kxOutputNames())
        m_outputs.append(QVariantMap{{QStringLiteral("name"), name}});
}
