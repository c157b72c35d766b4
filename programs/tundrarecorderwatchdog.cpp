// Keeps the server application alive without a client.

#include "launcher.h"
#include "processmanager.h"

int main(int argc, char *argv[])
{
    LauncherSettings settings;
    settings.singleInstance = true;
    settings.applicationName = QStringLiteral("TundraRecorder");
    Launcher launcher(settings, argc, argv);
    int result;
    {
        ProcessManager manager({QStringLiteral("TundraRecorderServer")});
        result = launcher.exec();
    }
    return result;
}
