#pragma once
// Shell folders: the local application-data folder is XDG's generic data location.

#include "win32/winerror.h"

#include <QString>

constexpr int CSIDL_LOCAL_APPDATA = 0x001c;
constexpr int CSIDL_FLAG_CREATE = 0x8000;
constexpr DWORD SHGFP_TYPE_CURRENT = 0;

// Writes the folder into path (MAX_PATH units, NUL-terminated).
HRESULT SHGetFolderPathW(HWND owner, int folder, HANDLE token, DWORD flags, LPWSTR path);

namespace nyx::shell {
// $XDG_DATA_HOME, by default ~/.local/share.
QString localAppDataFolder();
// <local application data>/Nyx/<applicationName>, each level created when missing.
QString applicationDataDirectory(const QString &applicationName);
} // namespace nyx::shell
