#include "win32/shellfolders.h"

#include <QDir>
#include <QStandardPaths>

namespace nyx::shell {
QString localAppDataFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
}

QString applicationDataDirectory(const QString &applicationName)
{
    QDir dir(localAppDataFolder());
    dir.mkpath(QStringLiteral("Nyx/") + applicationName);
    return dir.absoluteFilePath(QStringLiteral("Nyx/") + applicationName);
}
} // namespace nyx::shell

HRESULT SHGetFolderPathW(HWND, int folder, HANDLE, DWORD, LPWSTR path)
{
    if (!path)
        return E_POINTER;
    if ((folder & ~CSIDL_FLAG_CREATE) != CSIDL_LOCAL_APPDATA)
        return E_INVALIDARG;
    const QString folderPath = nyx::shell::localAppDataFolder();
    if (folder & CSIDL_FLAG_CREATE)
        QDir().mkpath(folderPath);
    if (folderPath.size() >= static_cast<int>(MAX_PATH))
        return E_NOT_SUFFICIENT_BUFFER;
    const auto units = folderPath.utf16();
    int i = 0;
    for (; i < folderPath.size(); ++i)
        path[i] = static_cast<WCHAR>(units[i]);
    path[i] = 0;
    return S_OK;
}
