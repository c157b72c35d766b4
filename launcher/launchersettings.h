#pragma once

#include <QString>
#include <QUrl>

// What a program's entry point tells the launcher.
struct LauncherSettings
{
    QUrl qmlFile;            // main QML file; empty: no QML engine at all
    QString defaultLanguage; // translation language when nothing else names one
    bool installTranslations = true;
    bool crashRestart = false;         // the crash reporter restarts the program after a crash
    bool crashReport = true;           // install the crash reporter
    bool singleInstance = false;       // refuse a second instance of the same executable
    bool ignoreExecutableName = false; // never take the application name from the executable
    int mousePressAndHoldInterval = 1000;
    QString applicationName; // the start-up writes the chosen name back
};
