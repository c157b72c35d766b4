#include "archive/archiveserver.h"

#include "attributestore.h"
#include "rewindserver.h"

#include "com/cocreate.h"
#include "win32/shellfolders.h"

#include <QCoreApplication>
#include <QDir>
#include <mutex>

// Referenced through the library's link options (--undefined), so that this object file, and with
// it the static registration below, is part of every program that links nyx_archive.
extern "C" {
int nyx_archive_force_link = 0;
}

namespace nyx::archive {
void registerArchiveServer()
{
    static std::once_flag once;
    std::call_once(once, [] {
        nyx::com::registerClass(CLSID_RewindServer, &RewindServer::create);
        nyx::com::registerClass(CLSID_AttributeStore, &AttributeStore::create);
    });
}

QString archiveRoot()
{
    const QString configured = qEnvironmentVariable(kRootVariable);
    if (!configured.isEmpty())
        return configured;
    QString application = QCoreApplication::applicationName();
    if (application.isEmpty())
        application = QStringLiteral("TundraRecorder");
    return nyx::shell::applicationDataDirectory(application) + QStringLiteral("/Archive");
}

namespace {
const bool g_registered = (registerArchiveServer(), true);
}
} // namespace nyx::archive
