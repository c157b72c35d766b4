#pragma once

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcLauncher)
Q_DECLARE_LOGGING_CATEGORY(lcProcessManager)
Q_DECLARE_LOGGING_CATEGORY(lcCrashReport)
