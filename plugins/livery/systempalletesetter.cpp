#include "systempalletesetter.h"

#include <QApplication>
#include <QGuiApplication>
#include <QLoggingCategory>
#include <QPalette>

namespace {
Q_LOGGING_CATEGORY(lcLivery, "Livery")

bool isColorGroup(int group)
{
    return group == QPalette::Active || group == QPalette::Disabled || group == QPalette::Inactive ||
           group == QPalette::Current || group == QPalette::All;
}

// The roles QML can name; NoRole and the count are no palette entries.
bool isColorRole(int role)
{
    return role >= 0 && role < SystemPalleteSetter::NColorRoles && role != SystemPalleteSetter::NoRole;
}
} // namespace

SystemPalleteSetter::SystemPalleteSetter(QObject *parent) : QObject(parent) {}

bool SystemPalleteSetter::setColor(ColorGroup group, ColorRole role, const QColor &color)
{
    if (!isColorGroup(group) || !isColorRole(role)) {
        qCWarning(lcLivery) << "SystemPalleteSetter: refused colour group" << int(group) << "role"
                            << int(role);
        return false;
    }
    if (!qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        return false;
    QPalette palette = QGuiApplication::palette();
    palette.setBrush(QPalette::ColorGroup(group), QPalette::ColorRole(role), QBrush(color));
    // Qt announces a palette that really changed itself; the announcement is made once either way.
    bool announced = false;
    const auto connection =
        connect(qGuiApp, &QGuiApplication::paletteChanged, this, [&] { announced = true; });
    if (qobject_cast<QApplication *>(QCoreApplication::instance()))
        QApplication::setPalette(palette);
    else
        QGuiApplication::setPalette(palette);
    disconnect(connection);
    if (!announced)
        emit qGuiApp->paletteChanged(QGuiApplication::palette());
    return true;
}
