#include "launchercontroller.h"

#include "launcher.h"

#include <QGuiApplication>

LauncherController::LauncherController(QObject *parent) : QObject(parent) {}

QString LauncherController::translationLanguage() const
{
    Launcher *launcher = Launcher::instance();
    return launcher ? launcher->translationLanguage() : QString();
}

void LauncherController::setTranslationLanguage(const QString &language)
{
    Launcher *launcher = Launcher::instance();
    if (!launcher || language.isEmpty() || language == launcher->translationLanguage())
        return;
    launcher->setTranslationLanguage(language);
    emit translationLanguageChanged();
}

QStringList LauncherController::translationLanguages() const
{
    return Launcher::translationLanguages();
}

bool LauncherController::quitOnLastWindowClosed() const
{
    return QGuiApplication::quitOnLastWindowClosed();
}

void LauncherController::setQuitOnLastWindowClosed(bool quit)
{
    if (quit == QGuiApplication::quitOnLastWindowClosed())
        return;
    QGuiApplication::setQuitOnLastWindowClosed(quit);
    emit quitOnLastWindowClosedChanged();
}

// Reload, quit and restart tear down the caller's own engine or event loop: run them on the
// next turn of the event loop.
void LauncherController::reload()
{
    QMetaObject::invokeMethod(this, "doReload", Qt::QueuedConnection);
}

void LauncherController::quit(int exitCode)
{
    QMetaObject::invokeMethod(this, "doQuit", Qt::QueuedConnection, Q_ARG(int, exitCode));
}

void LauncherController::restart()
{
    quit(RestartExitCode);
}

void LauncherController::doReload()
{
    // The reload deletes the engine that owns this object: let the application object run it.
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [] {
            if (Launcher *launcher = Launcher::instance())
                launcher->reload();
        },
        Qt::QueuedConnection);
}

void LauncherController::doQuit(int exitCode)
{
    QCoreApplication::exit(exitCode);
}
