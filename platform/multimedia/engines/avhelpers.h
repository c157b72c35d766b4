#pragma once
// Small helpers around FFmpeg shared by the engines.

#include <QLoggingCategory>
#include <QString>

namespace nyx::multimedia {

Q_DECLARE_LOGGING_CATEGORY(lcEngines)

// The text of an FFmpeg error code.
QString avErrorString(int code);

} // namespace nyx::multimedia
