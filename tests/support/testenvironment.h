#pragma once
// Where a test finds the built programs and its own private data folder.

#include <QSignalSpy>
#include <QString>

namespace tundra::test {
// The program directory (build/bin).
QString binDir();
// The test's own data folder (XDG_DATA_HOME and XDG_CONFIG_HOME lie below it).
QString dataDir();
// A fresh, empty sub-folder of dataDir().
QString freshDir(const QString &name);
// Waits until spy has at least count signals or timeoutMs passes.
bool waitForCount(QSignalSpy &spy, int count, int timeoutMs = 10000);
} // namespace tundra::test
