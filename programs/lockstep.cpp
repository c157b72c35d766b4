// Plays a moving test signal to the capture board's outputs.

#include "launcher.h"

#include <QDir>

int main(int argc, char *argv[])
{
    Q_INIT_RESOURCE(lockstep);
    LauncherSettings settings;
    settings.qmlFile = QUrl(QStringLiteral("lockstep/qml/main.qml"));
    settings.defaultLanguage = QStringLiteral("ru");
    settings.singleInstance = true;
    int result;
    {
        Launcher launcher(settings, argc, argv);
        result = launcher.exec();
    }
    Q_CLEANUP_RESOURCE(lockstep);
    return result;
}
