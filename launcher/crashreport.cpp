#include "crashreport.h"

#include "launcherlogging.h"

#include "crash/crashrpt.h"

#include <QCoreApplication>
#include <QDir>
#include <QStandardPaths>
#include <cstring>
#include <memory>
#include <vector>

#ifndef TUNDRA_VERSION
#define TUNDRA_VERSION ""
#endif
#ifndef TUNDRA_SOURCE_REVISION
#define TUNDRA_SOURCE_REVISION "000000000000"
#endif

namespace {
constexpr DWORD kInstallFlags = 0x889FFF;
constexpr DWORD kInstallFlagsWithRestart = 0x899FFF;
constexpr DWORD kAddOneFile = 1;
constexpr DWORD kAddFilePattern = 3;

// Holds the installation result; releasing it uninstalls a successful installation.
class Installation
{
public:
    explicit Installation(int status) : m_status(status) {}
    ~Installation()
    {
        if (m_status == 0)
            crUninstall();
    }
    Installation(const Installation &) = delete;
    Installation &operator=(const Installation &) = delete;

private:
    int m_status;
};

struct CallbackRegistration
{
    CrashReport::CrashCallback function;
    void *userValue;
};

std::unique_ptr<Installation> g_installation;
// Every registration handed to the library stays alive until the reporter is uninstalled: the
// library may call the callback more than once (requested reports, a crash after one).
std::vector<std::unique_ptr<CallbackRegistration>> g_registrations;

QString lastErrorMessage()
{
    char16_t buffer[256] = {};
    crGetLastErrorMsgW(buffer, 256);
    return QString::fromUtf16(buffer);
}

void uninstall()
{
    g_installation.reset();
    g_registrations.clear();
}

int crashCallback(CR_CRASH_CALLBACK_INFOW *info)
{
    if (!info || !info->pUserParam)
        return 1;
    const auto *registration = static_cast<const CallbackRegistration *>(info->pUserParam);
    if (registration->function)
        registration->function(registration->userValue);
    return 1;
}
} // namespace

namespace CrashReport {

QString reportDirectory(const QString &applicationName)
{
    return QDir::toNativeSeparators(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                                    QStringLiteral("/Nyx/") + applicationName +
                                    QStringLiteral("/CrashReport"));
}

bool init(const CrashReportSettings &settings)
{
    // A later installation replaces the earlier one: release it first, so that the library is
    // free for the new one.
    uninstall();

    const std::u16string name = settings.applicationName.toStdU16String();
    QString versionText = QStringLiteral(TUNDRA_VERSION);
    if (versionText.isEmpty())
        versionText = QStringLiteral("1.0.0");
    const std::u16string version = versionText.toStdU16String();
    const std::u16string directory = reportDirectory(settings.applicationName).toStdU16String();

    CR_INSTALL_INFOW info;
    std::memset(&info, 0, sizeof info);
    info.cb = sizeof info;
    info.pszAppName = name.c_str();
    info.pszAppVersion = version.c_str();
    info.dwFlags = settings.restart ? kInstallFlagsWithRestart : kInstallFlags;
    info.pszErrorReportSaveDir = directory.c_str();
    info.nRestartTimeout = settings.restart ? 1 : 0;

    const int status = crInstallW(&info);
    g_installation = std::make_unique<Installation>(status);
    static bool postRoutineAdded = false;
    if (!postRoutineAdded) {
        qAddPostRoutine(uninstall);
        postRoutineAdded = true;
    }

    if (status != 0) {
        qCCritical(lcCrashReport).noquote() << "Can't init CrashReport:" << lastErrorMessage();
        return false;
    }
    addProperty(QStringLiteral("Hg Revision"), QStringLiteral(TUNDRA_SOURCE_REVISION));
    return true;
}

void addFilePattern(const QString &pattern)
{
    const std::u16string text = pattern.toStdU16String();
    if (crAddFile2W(text.c_str(), nullptr, nullptr, kAddFilePattern) != 0)
        qCCritical(lcCrashReport).noquote()
            << QStringLiteral("Can't add file pattern %1 (%2)").arg(pattern, lastErrorMessage());
}

void addFile(const QUrl &file)
{
    const std::u16string path = file.toLocalFile().toStdU16String();
    if (crAddFile2W(path.c_str(), nullptr, nullptr, kAddOneFile) != 0)
        qCCritical(lcCrashReport).noquote()
            << QStringLiteral("Can't add file %1 (%2)").arg(file.toString(), lastErrorMessage());
}

void addProperty(const QString &name, const QString &value)
{
    const std::u16string n = name.toStdU16String();
    const std::u16string v = value.toStdU16String();
    if (crAddPropertyW(n.c_str(), v.c_str()) != 0)
        qCCritical(lcCrashReport).noquote()
            << QStringLiteral("Can't add property %1:%2 (%3)").arg(name, value, lastErrorMessage());
}

void generateReport()
{
    qCDebug(lcCrashReport) << "Generate report";
    CR_EXCEPTION_INFO info;
    std::memset(&info, 0, sizeof info);
    info.cb = sizeof info;
    info.exctype = CR_EXCEPTION_MANUAL;
    crGenerateErrorReport(&info);
}

void setCrashCallback(CrashCallback function, void *userValue)
{
    auto registration = std::make_unique<CallbackRegistration>(CallbackRegistration{function, userValue});
    if (crSetCrashCallbackW(crashCallback, registration.get()) == 0)
        g_registrations.push_back(std::move(registration));
}

} // namespace CrashReport
