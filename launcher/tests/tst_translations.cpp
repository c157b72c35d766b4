#include "probe.h"
#include "testenvironment.h"

#include <QtTest>

// The probe finds the translation files of tests/translation beside it: app_ru_RU.qm,
// app_en_US.qm, plain.qm and qtbase_ru.qm (test texts of context "probe") and the station's
// own tundrarecorder_ru.qm.
class tst_Translations : public QObject
{
    Q_OBJECT

private:
    static void storeLanguage(const QString &language)
    {
        QSettings settings(QStringLiteral("Nyx"), QStringLiteral("launcherprobe"));
        settings.clear();
        if (!language.isEmpty())
            settings.setValue(QStringLiteral("Launcher/translationLanguage"), language);
        settings.sync();
    }

private slots:
    void cleanup() { storeLanguage(QString()); }

    void languagePrecedence_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("systemLocale");
        QTest::addColumn<QString>("defaultLanguage");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("expected");
        QTest::newRow("system locale not offered")
            << QStringList() << "de_DE.UTF-8" << QString() << QString() << "en_US";
        QTest::newRow("system locale offered")
            << QStringList() << "ru_RU.UTF-8" << QString() << QString() << "ru_RU";
        QTest::newRow("stored beats system") << QStringList() << "de_DE.UTF-8" << QString() << "ru_RU"
                                             << "ru_RU";
        // The operator's stored choice switches a program whose built-in default is Russian.
        QTest::newRow("stored beats default language") << QStringList() << "ru_RU.UTF-8"
                                                       << "ru"
                                                       << "en_US"
                                                       << "en_US";
        QTest::newRow("stored beats locale option") << QStringList{"--locale", "ru"} << "de_DE.UTF-8"
                                                    << "ru"
                                                    << "en_US"
                                                    << "en_US";
        QTest::newRow("default language beats system") << QStringList() << "en_US.UTF-8"
                                                       << "ru" << QString() << "ru_RU";
        QTest::newRow("locale option beats default language")
            << QStringList{"--locale", "en"} << "ru_RU.UTF-8"
            << "ru" << QString() << "en_US";
        QTest::newRow("locale option normalised")
            << QStringList{"--locale", "ru"} << "de_DE.UTF-8" << QString() << QString() << "ru_RU";
        QTest::newRow("locale option not offered")
            << QStringList{"--locale=de_DE"} << "ru_RU.UTF-8" << QString() << QString() << "en_US";
        QTest::newRow("stored not offered") << QStringList() << "ru_RU.UTF-8" << QString() << "fr"
                                            << "en_US";
        QTest::newRow("empty locale option falls through") << QStringList{"--locale="} << "de_DE.UTF-8"
                                                           << "ru" << QString() << "ru_RU";
    }
    void languagePrecedence()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, systemLocale);
        QFETCH(QString, defaultLanguage);
        QFETCH(QString, stored);
        QFETCH(QString, expected);
        storeLanguage(stored);
        QMap<QString, QString> env{{QStringLiteral("LC_ALL"), systemLocale},
                                   {QStringLiteral("LANG"), systemLocale},
                                   {QStringLiteral("LANGUAGE"), QString()}};
        if (!defaultLanguage.isEmpty())
            env.insert(QStringLiteral("PROBE_DEFAULT_LANGUAGE"), defaultLanguage);
        const ProbeRun run = runProbe(arguments, env);
        QVERIFY2(run.finished && run.exitCode == 0, qPrintable(run.errors));
        QCOMPARE(run.report.value(QStringLiteral("language")), expected);
        QCOMPARE(run.report.value(QStringLiteral("defaultLocale")), expected);
        // Choosing a language at start-up stores nothing.
        QSettings settings(QStringLiteral("Nyx"), QStringLiteral("launcherprobe"));
        QCOMPARE(settings.value(QStringLiteral("Launcher/translationLanguage")).toString(), stored);
    }

    void translationFilesByBaseName_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("app");
        QTest::addColumn<QString>("qtbase");
        QTest::addColumn<QString>("plain");
        QTest::addColumn<QString>("station");
        // ru_RU: app_ru_RU.qm directly, qtbase_ru.qm and plain.qm through the fallback.
        QTest::newRow("ru") << "ru"
                            << "app ru_RU"
                            << "qtbase ru"
                            << "plain any" << QStringLiteral("Сервер TundraRecorder");
        QTest::newRow("en") << "en"
                            << "app en_US"
                            << "qtbase"
                            << "plain any"
                            << "TundraRecorder Server";
    }
    void translationFilesByBaseName()
    {
        QFETCH(QString, locale);
        QFETCH(QString, app);
        QFETCH(QString, qtbase);
        QFETCH(QString, plain);
        QFETCH(QString, station);
        const ProbeRun run = runProbe({QStringLiteral("--locale"), locale});
        QVERIFY2(run.finished && run.exitCode == 0, qPrintable(run.errors));
        // app_en_US.qm and app_ru_RU.qm give one base; plain.qm has no '_' and stays whole (it
        // still loads: the fallback ends at the bare base name).
        QCOMPARE(run.report.value(QStringLiteral("translationBases")),
                 QStringLiteral("app,plain.qm,qtbase,tundrarecorder"));
        QCOMPARE(run.report.value(QStringLiteral("tr.app")), app);
        QCOMPARE(run.report.value(QStringLiteral("tr.qtbase")), qtbase);
        QCOMPARE(run.report.value(QStringLiteral("tr.plain")), plain);
        QCOMPARE(run.report.value(QStringLiteral("tr.main")), station);
    }

    void reloadSwitchesLanguageWithANewEngine()
    {
        const ProbeRun run =
            runProbe({QStringLiteral("--qml_file=") + testQmlFile(QStringLiteral("reload.qml"))},
                     {{QStringLiteral("PROBE_MODE"), QStringLiteral("reload")},
                      {QStringLiteral("LC_ALL"), QStringLiteral("de_DE.UTF-8")}});
        QVERIFY2(run.finished, qPrintable(run.errors));
        QCOMPARE(run.status, QProcess::NormalExit);
        QCOMPARE(run.exitCode, 112234 & 0xFF);
        QVERIFY2(run.errors.contains(QStringLiteral("first load:en_US:TundraRecorder Server")),
                 qPrintable(run.errors));
        QVERIFY2(run.errors.contains(QStringLiteral("reload returned")), qPrintable(run.errors));
        QVERIFY2(run.errors.contains(QStringLiteral("second load:ru_RU:Сервер TundraRecorder")),
                 qPrintable(run.errors));
        // Two engines, one application object.
        const QStringList engines = run.output.split(QLatin1Char('\n')).filter(QStringLiteral("engine="));
        QCOMPARE(engines.size(), 2);
        QVERIFY2(engines.at(0).startsWith(QStringLiteral("engine=1 ")) && engines.at(0).endsWith(" roots=1"),
                 qPrintable(engines.at(0)));
        QVERIFY2(engines.at(1).startsWith(QStringLiteral("engine=2 ")) && engines.at(1).endsWith(" roots=1"),
                 qPrintable(engines.at(1)));
        QCOMPARE(engines.at(0).section(QLatin1Char(' '), 1, 1),
                 engines.at(1).section(QLatin1Char(' '), 1, 1));
        // The language set from QML is stored at once.
        QSettings settings(QStringLiteral("Nyx"), QStringLiteral("launcherprobe"));
        QCOMPARE(settings.value(QStringLiteral("Launcher/translationLanguage")).toString(),
                 QStringLiteral("ru_RU"));
    }
};

QTEST_GUILESS_MAIN(tst_Translations)
#include "tst_translations.moc"
