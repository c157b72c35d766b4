// The station's supervisor: runs the server and client applications and keeps them alive.

#include "launcher.h"
#include "processmanager.h"

int main(int argc, char *argv[])
{
    LauncherSettings settings;
    settings.singleInstance = true;
    Launcher launcher(settings, argc, argv);
    int result;
    {
        ProcessManager manager(
            {QStringLiteral("TundraRecorderServer"), QStringLiteral("TundraRecorderClient")});
        result = launcher.exec();
    }
    return result;
}
