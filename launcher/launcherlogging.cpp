#include "launcherlogging.h"

Q_LOGGING_CATEGORY(lcLauncher, "launcher")
Q_LOGGING_CATEGORY(lcProcessManager, "ProcessManager")
Q_LOGGING_CATEGORY(lcCrashReport, "CrashReport")
