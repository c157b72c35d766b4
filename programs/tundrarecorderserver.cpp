// The server application: records the inputs into the archive.

#include "launcher.h"

int main(int argc, char *argv[])
{
    LauncherSettings settings;
    settings.qmlFile = QUrl(QStringLiteral("server/qml/main.qml"));
    settings.defaultLanguage = QStringLiteral("ru");
    settings.singleInstance = true;
    settings.ignoreExecutableName = true;
    return Launcher::run(settings, argc, argv);
}
