#pragma once
// How a program reaches the archive server.
//
// Link the CMake target nyx_archive and create the server with
//   CComPtr<IRewindServer> server; server.CoCreateInstance(CLSID_RewindServer);
// The library registers CLSID_RewindServer and CLSID_AttributeStore with nyx::com from a static
// initializer; the target's link options force that object file into every program that links it.
// registerArchiveServer() does the same explicitly and may be called any number of times.
//
// The archive root is $TUNDRA_ARCHIVE_ROOT, or else <data dir of the application>/Archive
// (nyx::shell::applicationDataDirectory(QCoreApplication::applicationName())).

#include "archive/irewindserver.h"

#include <QString>

namespace nyx::archive {
constexpr const char *kRootVariable = "TUNDRA_ARCHIVE_ROOT";
// Milliseconds during which a new server answers E_PENDING to IsReady (default 200).
constexpr const char *kStartupVariable = "TUNDRA_ARCHIVE_STARTUP_MS";

void registerArchiveServer();
// The root a server created now would open.
QString archiveRoot();
} // namespace nyx::archive
