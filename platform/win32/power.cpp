#include "win32/power.h"

#include <QLoggingCategory>
#include <atomic>

Q_LOGGING_CATEGORY(lcPower, "nyx.win32.power", QtInfoMsg)

namespace {
std::atomic<EXECUTION_STATE> g_state{ES_CONTINUOUS};
}

EXECUTION_STATE SetThreadExecutionState(EXECUTION_STATE flags)
{
    qCDebug(lcPower, "SetThreadExecutionState(0x%08x): nothing to keep awake on this platform", flags);
    if (flags & ES_CONTINUOUS)
        return g_state.exchange(flags);
    return g_state.load();
}
