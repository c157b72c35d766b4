#include "win32/power.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusUnixFileDescriptor>
#include <QLoggingCategory>
#include <atomic>
#include <mutex>

Q_LOGGING_CATEGORY(lcPower, "nyx.win32.power", QtInfoMsg)

namespace {
const QString kConnection = QStringLiteral("nyx.win32.power");
constexpr int kCallTimeoutMs = 5000;

std::atomic<EXECUTION_STATE> g_state{ES_CONTINUOUS};

struct Inhibitor
{
    std::mutex mutex;
    bool wanted = false;
    // logind keeps the inhibitor while this descriptor is open.
    QDBusUnixFileDescriptor lock;
    bool reported = false;
};

Inhibitor &inhibitor()
{
    static Inhibitor i;
    return i;
}

void reportOnce(Inhibitor &i, const QString &reason)
{
    if (i.reported)
        return;
    i.reported = true;
    qCWarning(lcPower).noquote() << "The machine may go to sleep while this program runs:" << reason;
}

void take(Inhibitor &i)
{
    QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SystemBus, kConnection);
    if (!bus.isConnected()) {
        reportOnce(i, QStringLiteral("no system bus (%1)").arg(bus.lastError().message()));
        QDBusConnection::disconnectFromBus(kConnection);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
        QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("Inhibit"));
    call << QStringLiteral("sleep:idle") << QCoreApplication::applicationName()
         << QStringLiteral("Recording station at work") << QStringLiteral("block");
    const QDBusReply<QDBusUnixFileDescriptor> reply = bus.call(call, QDBus::Block, kCallTimeoutMs);
    QDBusConnection::disconnectFromBus(kConnection);
    if (!reply.isValid() || !reply.value().isValid()) {
        reportOnce(i, QStringLiteral("no inhibitor from logind (%1)").arg(reply.error().message()));
        return;
    }
    i.lock = reply.value();
    qCInfo(lcPower) << "Holding the sleep and idle inhibitor";
}

// Brings the inhibitor in line with the wanted state; the bus needs the application object.
void apply()
{
    if (!QCoreApplication::instance())
        return;
    Inhibitor &i = inhibitor();
    std::lock_guard<std::mutex> lock(i.mutex);
    if (i.wanted && !i.lock.isValid())
        take(i);
    else if (!i.wanted && i.lock.isValid())
        i.lock = QDBusUnixFileDescriptor();
}
} // namespace

// A state set before the application object existed takes effect as it is created.
Q_COREAPP_STARTUP_FUNCTION(apply)

EXECUTION_STATE SetThreadExecutionState(EXECUTION_STATE flags)
{
    qCDebug(lcPower, "SetThreadExecutionState(0x%08x)", flags);
    if (!(flags & ES_CONTINUOUS))
        return g_state.load();
    const EXECUTION_STATE previous = g_state.exchange(flags);
    {
        Inhibitor &i = inhibitor();
        std::lock_guard<std::mutex> lock(i.mutex);
        i.wanted = (flags & (ES_SYSTEM_REQUIRED | ES_DISPLAY_REQUIRED)) != 0;
    }
    apply();
    return previous;
}
