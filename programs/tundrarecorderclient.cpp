// The client application: replay and events for the operator.

#include "launcher.h"

int main(int argc, char *argv[])
{
    LauncherSettings settings;
    settings.qmlFile = QUrl(QStringLiteral("client/qml/main.qml"));
    settings.defaultLanguage = QStringLiteral("ru");
    settings.singleInstance = true;
    settings.ignoreExecutableName = true;
    return Launcher::run(settings, argc, argv);
}
