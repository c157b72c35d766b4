#pragma once

#include "launchersettings.h"

#include <QCommandLineParser>
#include <QList>
#include <QSharedPointer>
#include <QString>
#include <QStringList>
#include <memory>

class QApplication;
class QQmlApplicationEngine;
class QTranslator;
class SingleInstanceGuard;

// The start-up every program runs: command line, application name, crash reporter, environment,
// application object, logging configuration, translations, single-instance guard and the QML
// engine with its main QML file.
class Launcher
{
public:
    Launcher(LauncherSettings &settings, int &argc, char **argv);
    ~Launcher();
    Launcher(const Launcher &) = delete;
    Launcher &operator=(const Launcher &) = delete;

    // Constructs a Launcher and returns the test result (testing mode) or the event loop's.
    static int run(LauncherSettings &settings, int &argc, char **argv);
    static Launcher *instance();
    // <local application data>/Nyx/<application name>, created when missing.
    static QString appDataDirectory();
    // The rules applied by initLogging, read from or created in logging.ini.
    static QString readLoggingRules();

    int exec();
    void load();
    void reload();

    QString translationLanguage() const;
    void setTranslationLanguage(const QString &language);
    static QStringList translationLanguages();
    // Base paths of the translation files beside the program (<dir>/translation/app for app_ru.qm).
    static QStringList translationFiles();

    QQmlApplicationEngine *engine() const { return m_engine.get(); }
    bool testingMode() const { return m_testingRan; }

private:
    void declareOptions();
    static QStringList withKeepOldLogsValue(QStringList arguments);
    void chooseApplicationName(LauncherSettings &settings, const char *argv0);
    void setEnvironment();
    void initLogging(const QString &applicationFilePath);
    QString chooseTranslationLanguage() const;
    void installTranslations();
    void setWindowIcon();
    void clearSettings();
    void initEngine();
    QUrl resolveQmlUrl(const QUrl &url) const;
    int runTests();

    QCommandLineParser m_parser;
    LauncherSettings m_settings;
    std::unique_ptr<QApplication> m_application;
    std::unique_ptr<QQmlApplicationEngine> m_engine;
    std::unique_ptr<SingleInstanceGuard> m_singleInstanceGuard;
    QString m_translationLanguage;
    QList<QSharedPointer<QTranslator>> m_translators;
    bool m_testingMode = false;
    bool m_testingRan = false;
    int m_testResult = 0;
};
