#include "launcher.h"

#include "crashreport.h"
#include "launchercontroller.h"
#include "launcherlogging.h"
#include "offscreenwindowcontentfactory.h"
#include "singleinstanceguard.h"

#include "logging/logging.h"
#include "luster/luster.h"
#include "multimedia/multimedia.h"
#include "win32/console.h"
#include "win32/power.h"
#include "win32/shellfolders.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQmlFileSelector>
#include <QSettings>
#include <QStyleHints>
#include <QThreadPool>
#include <QTimer>
#include <QTranslator>
#include <QWindow>
#include <QtQuickTest/quicktest.h>
#include <cstdlib>
#include <vector>

#ifndef TUNDRA_VERSION
#define TUNDRA_VERSION "0.0.0"
#endif
#ifndef TUNDRA_TRANSLATION_LANGUAGES
#define TUNDRA_TRANSLATION_LANGUAGES ""
#endif

namespace {
Launcher *g_instance = nullptr;

const char kDefaultLoggingRules[] = "*.debug = false\n*.info = false\n*.warning = true\n*.critical = true\n";
const char kBindingRemovalRule[] = "\nqt.qml.binding.removal.info";

BOOL WINAPI consoleCtrlHandler(DWORD ctrlType)
{
    if (ctrlType != CTRL_C_EVENT)
        return FALSE;
    QMetaObject::invokeMethod(QCoreApplication::instance(), "quit", Qt::QueuedConnection);
    return TRUE;
}

QObject *createLauncherController(QQmlEngine *, QJSEngine *)
{
    return new LauncherController;
}

QObject *createGuiApplication(QQmlEngine *engine, QJSEngine *)
{
    QObject *application = QCoreApplication::instance();
    // The application object stays the Launcher's; the engine must never delete it.
    engine->setObjectOwnership(application, QQmlEngine::CppOwnership);
    return qobject_cast<QGuiApplication *>(application);
}

QString baseName(const char *path)
{
    return QFileInfo(QString::fromLocal8Bit(path)).fileName().section(QLatin1Char('.'), 0, 0);
}

// Qt's own plugins and QML modules are installed apart from the program here: keep them
// reachable beside <program dir>/plugins.
QStringList libraryPaths()
{
    return {QLibraryInfo::location(QLibraryInfo::PluginsPath)};
}

void showRefusal()
{
    const QString text = QObject::tr("Can't run multiple instances of the application.");
    qCWarning(lcLauncher).noquote() << text;
    // Nobody can answer a box on a platform without a display.
    const QString platform = QGuiApplication::platformName();
    if (platform == QLatin1String("offscreen") || platform == QLatin1String("minimal"))
        return;
    QMessageBox box(QMessageBox::Warning, QCoreApplication::applicationFilePath(), text, QMessageBox::Ok);
    box.setDefaultButton(QMessageBox::NoButton);
    // An unattended station must not wait forever on a box nobody sees.
    QTimer::singleShot(15000, &box, &QMessageBox::accept);
    box.exec();
}
} // namespace

Launcher::Launcher(LauncherSettings &settings, int &argc, char **argv)
{
    // 1
    if (g_instance) {
        qCCritical(lcLauncher, "Can't create multiple Launcher instances");
        std::exit(-1);
    }
    g_instance = this;

    // 2
    declareOptions();
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    m_parser.parse(withKeepOldLogsValue(arguments));

    // 3, 4
    chooseApplicationName(settings, argc > 0 ? argv[0] : "");
    m_settings = settings;
    qCInfo(lcLauncher).noquote() << "process" << baseName(argc > 0 ? argv[0] : "") << "-->"
                                 << m_settings.applicationName;

    // 5
    if (m_settings.crashReport)
        CrashReport::init(CrashReportSettings{m_settings.crashRestart, m_settings.applicationName});

    // 6: the machine and the display stay awake while the program runs.
    SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED | ES_DISPLAY_REQUIRED);

    // 7: the console code page switch of the Russian system locale is left out here: on this
    // platform the locale codec also encodes file names and arguments.

    // 8
    QThreadPool::globalInstance()->setExpiryTimeout(-1);

    // 9, 10, 11
    setEnvironment();
    SetConsoleCtrlHandler(consoleCtrlHandler, TRUE);
    initMultimedia(&createOffscreenWindowContent);

    // 12, 13, 14
    m_testingMode = m_parser.isSet(QStringLiteral("testing"));
    QCoreApplication::setLibraryPaths(libraryPaths());
    m_application = std::make_unique<QApplication>(argc, argv);
    QCoreApplication::addLibraryPath(QCoreApplication::applicationDirPath() + QStringLiteral("/plugins"));

    // 15
    QCoreApplication::setOrganizationName(QStringLiteral("Nyx"));
    QCoreApplication::setOrganizationDomain(QStringLiteral("nyx-media.example"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TUNDRA_VERSION));
    QCoreApplication::setApplicationName(m_settings.applicationName);
    QGuiApplication::styleHints()->setMousePressAndHoldInterval(m_settings.mousePressAndHoldInterval);

    // 16, 17, 18
    initLogging(QCoreApplication::applicationFilePath());
    if (m_settings.installTranslations)
        installTranslations();
    setWindowIcon();

    // 19
    if (m_parser.isSet(QStringLiteral("cleaninstall"))) {
        clearSettings();
        std::exit(0);
    }

    // 20
    if (m_settings.singleInstance && !m_testingMode) {
        m_singleInstanceGuard = std::make_unique<SingleInstanceGuard>();
        if (!m_singleInstanceGuard->tryToRun()) {
            showRefusal();
            std::exit(0);
        }
    }

    // 21
    Luster::init();

    // 22
    if (m_testingMode) {
        m_testResult = runTests();
        m_testingRan = true;
    } else {
        initEngine();
    }
}

Launcher::~Launcher()
{
    m_engine.reset();
    g_instance = nullptr;
    for (const auto &translator : qAsConst(m_translators))
        QCoreApplication::removeTranslator(translator.data());
    m_translators.clear();
    m_translationLanguage.clear();
    m_singleInstanceGuard.reset();
    m_application.reset();
}

int Launcher::run(LauncherSettings &settings, int &argc, char **argv)
{
    Launcher launcher(settings, argc, argv);
    if (launcher.m_testingRan)
        return launcher.m_testResult;
    return launcher.exec();
}

Launcher *Launcher::instance()
{
    return g_instance;
}

int Launcher::exec()
{
    load();
    return QApplication::exec();
}

void Launcher::declareOptions()
{
    m_parser.addOption({QStringLiteral("application_name"), QStringLiteral("Application Name"),
                        QStringLiteral("application_name"), QString()});
    m_parser.addOption(
        {QStringLiteral("vendor"), QStringLiteral("Vendor Name"), QStringLiteral("vendor_name"), QString()});
    m_parser.addOption(
        {QStringLiteral("qml_file"), QStringLiteral("QML file name"), QStringLiteral("qml_file"), QString()});
    m_parser.addOption({QStringLiteral("cleaninstall"), QStringLiteral("Set clean install mode.")});
    m_parser.addOption(
        {QStringLiteral("locale"), QStringLiteral("Locale"), QStringLiteral("locale"), QString()});
    // Only the option's presence counts, whatever its value (see withKeepOldLogsValue).
    m_parser.addOption({QStringLiteral("keep_old_logs"),
                        QStringLiteral("Keep log files from previous launches"),
                        QStringLiteral("keep_old_logs"), QStringLiteral("0")});
    m_parser.addOption(
        {QStringLiteral("testing"), QStringLiteral("Testing"), QStringLiteral("testing"), QString()});
    m_parser.addOption({QStringLiteral("testing_name"), QStringLiteral("Testing Name"),
                        QStringLiteral("testing_name"), QString()});
    // A supervised child gets its supervisor's program path after this option. Declared so that
    // the path is taken as the option's value, not as a positional argument (which testing
    // mode would run as a test function name).
    QCommandLineOption parent(QStringLiteral("application_parent"), QStringLiteral("Parent Application"),
                              QStringLiteral("application_parent"));
    parent.setFlags(QCommandLineOption::HiddenFromHelp);
    m_parser.addOption(parent);
    m_parser.addHelpOption();
}

QStringList Launcher::withKeepOldLogsValue(QStringList arguments)
{
    // "--keep_old_logs" takes a value ("--keep_old_logs 1", "--keep_old_logs=0"), so that the
    // value never stays behind as a positional argument. Written bare, at the end or before
    // another option, it gets an empty value here instead of taking that option as its value.
    const QString bare = QStringLiteral("--keep_old_logs");
    for (int i = 1; i < arguments.size(); ++i) {
        if (arguments.at(i) != bare)
            continue;
        if (i + 1 == arguments.size() || arguments.at(i + 1).startsWith(QLatin1Char('-')))
            arguments[i] = bare + QLatin1Char('=');
        else
            ++i; // its value
    }
    return arguments;
}

void Launcher::chooseApplicationName(LauncherSettings &settings, const char *argv0)
{
    QString name = settings.applicationName;
    if (name.isEmpty() && m_parser.isSet(QStringLiteral("application_name")))
        name = m_parser.value(QStringLiteral("application_name"));
    if (name.isEmpty() && !settings.ignoreExecutableName)
        name = baseName(argv0);
    if (name.isEmpty())
        name = QStringLiteral("TundraRecorder");
    settings.applicationName = name;
}

void Launcher::setEnvironment()
{
    qputenv("QT_D3DCREATE_MULTITHREADED", "1");
    qputenv("QT_OPENGL", "angle");
    qputenv("QT_ANGLE_PLATFORM", "d3d11");
    qputenv("QML_DISABLE_DISK_CACHE", "1");
    qputenv("QML_FORCE_DISK_CACHE", "0");
    // The GL readers and the hidden-window updater need the scene graph on the GUI thread.
    if (qEnvironmentVariableIsEmpty("QSG_RENDER_LOOP"))
        qputenv("QSG_RENDER_LOOP", "basic");
}

QString Launcher::appDataDirectory()
{
    return nyx::shell::applicationDataDirectory(QCoreApplication::applicationName());
}

QString Launcher::readLoggingRules()
{
    const QString fileName = appDataDirectory() + QStringLiteral("/logging.ini");
    QString rules;
    QFile file(fileName);
    if (file.open(QIODevice::ReadOnly)) {
        rules = QString::fromUtf8(file.readAll());
    } else if (file.open(QIODevice::ReadWrite)) {
        rules = QString::fromLatin1(kDefaultLoggingRules);
        QLoggingCategory::setFilterRules(rules);
        file.write(QByteArray("[Rules]\n") + kDefaultLoggingRules);
    } else {
        qCWarning(lcLauncher) << "Failed to create logging configuration file" << fileName;
    }
    if (!rules.contains(QLatin1String(kBindingRemovalRule)))
        rules += QStringLiteral("\nqt.qml.binding.removal.info=false\n");
    return rules;
}

void Launcher::initLogging(const QString &applicationFilePath)
{
    QLoggingCategory::setFilterRules(readLoggingRules());

    nyx::logging::LoggingSettings logging;
    logging.directory = QDir(appDataDirectory());
    logging.baseName = QFileInfo(applicationFilePath).completeBaseName();
    logging.removeOldLogs = !m_parser.isSet(QStringLiteral("keep_old_logs"));
    nyx::logging::initializeLogging(logging);
    qAddPostRoutine(nyx::logging::uninitializeLogging);

    CrashReport::addFilePattern(
        QDir::toNativeSeparators(nyx::logging::getLogDirectory().absolutePath() + QStringLiteral("/*.txt")));
    // Logging ends before the report copies the log files.
    CrashReport::setCrashCallback([](void *) { nyx::logging::uninitializeLogging(); });
}

QString Launcher::chooseTranslationLanguage() const
{
    // The operator's own choice (this run's, else the stored one) comes first: the programs'
    // built-in default would otherwise hide it for good.
    QString language = m_translationLanguage;
    if (language.isEmpty())
        language = QSettings().value(QStringLiteral("Launcher/translationLanguage")).toString();
    if (language.isEmpty())
        language = m_parser.value(QStringLiteral("locale"));
    if (language.isEmpty())
        language = m_settings.defaultLanguage;
    if (language.isEmpty())
        language = QLocale().name();
    language = QLocale(language).name();
    if (!translationLanguages().contains(language))
        language = QStringLiteral("en_US");
    return language;
}

QStringList Launcher::translationFiles()
{
    const QDir dir(QCoreApplication::applicationDirPath() + QStringLiteral("/translation"));
    QStringList bases;
    const QStringList files = dir.entryList({QStringLiteral("*.qm")}, QDir::Files, QDir::Name);
    for (const QString &file : files) {
        const QString base = dir.path() + QLatin1Char('/') + file.section(QLatin1Char('_'), 0, 0);
        if (!bases.contains(base))
            bases << base;
    }
    return bases;
}

void Launcher::installTranslations()
{
    const QString language = chooseTranslationLanguage();
    QLocale::setDefault(QLocale(language));
    m_translationLanguage = language;

    for (const auto &translator : qAsConst(m_translators))
        QCoreApplication::removeTranslator(translator.data());
    m_translators.clear();

    const QStringList bases = translationFiles();
    for (const QString &base : bases) {
        // Qt's fallback applies: x_ru_RU.qm, then x_ru.qm, then x.qm.
        auto translator = QSharedPointer<QTranslator>::create();
        if (translator->load(base + QLatin1Char('_') + language + QStringLiteral(".qm"))) {
            QCoreApplication::installTranslator(translator.data());
            m_translators << translator;
        }
    }
    qCInfo(lcLauncher).noquote() << "translation language" << language << "," << m_translators.size()
                                 << "translation files";
}

QString Launcher::translationLanguage() const
{
    return m_translationLanguage;
}

void Launcher::setTranslationLanguage(const QString &language)
{
    if (language.isEmpty())
        return;
    m_translationLanguage = language;
    QSettings settings;
    settings.setValue(QStringLiteral("Launcher/translationLanguage"), language);
    settings.sync();
}

QStringList Launcher::translationLanguages()
{
    static const QStringList languages = [] {
        QStringList list;
        const QStringList codes =
            QStringLiteral(TUNDRA_TRANSLATION_LANGUAGES).split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (!codes.contains(QStringLiteral("en")))
            list << QLocale(QStringLiteral("en")).name();
        for (const QString &code : codes)
            list << QLocale(code).name();
        return list;
    }();
    return languages;
}

void Launcher::setWindowIcon()
{
    QIcon icon(QStringLiteral(":/icons/tundrarecorder.png"));
    if (!icon.isNull() && !icon.availableSizes().isEmpty())
        QGuiApplication::setWindowIcon(icon);
}

void Launcher::clearSettings()
{
    QSettings settings(QStringLiteral("Nyx"), QStringLiteral("TundraRecorder"));
    settings.clear();
    settings.sync();
}

void Launcher::initEngine()
{
    const QString qmlOption = m_parser.value(QStringLiteral("qml_file"));
    if (!qmlOption.isEmpty())
        m_settings.qmlFile = QUrl::fromUserInput(qmlOption, QDir::currentPath(), QUrl::AssumeLocalFile);
    if (m_settings.qmlFile.isEmpty())
        return;
    m_settings.qmlFile = resolveQmlUrl(m_settings.qmlFile);

    qmlRegisterSingletonType<LauncherController>("Launcher", 1, 0, "Launcher", createLauncherController);
    qmlRegisterSingletonType<QGuiApplication>("GuiApplication", 1, 0, "GuiApplication", createGuiApplication);

    m_engine.reset();
    m_engine = std::make_unique<QQmlApplicationEngine>();
    m_engine->setImportPathList({QCoreApplication::applicationDirPath() + QStringLiteral("/plugins"),
                                 QLibraryInfo::location(QLibraryInfo::Qml2ImportsPath)});
    QString vendor = m_parser.value(QStringLiteral("vendor"));
    if (vendor.isEmpty())
        vendor = QStringLiteral("Nyx");
    auto *selector = new QQmlFileSelector(m_engine.get(), m_engine.get());
    selector->setExtraSelectors({vendor});
}

QUrl Launcher::resolveQmlUrl(const QUrl &url) const
{
    if (url.isEmpty() || !url.isRelative())
        return url;
    const QUrl base = QUrl::fromLocalFile(QDir(QCoreApplication::applicationDirPath()).absolutePath());
    return base.resolved(url);
}

void Launcher::load()
{
    if (!m_engine)
        return;
    m_engine->rootContext()->setContextProperty(QStringLiteral("DEVELOPMENT_VERSION"), true);
    m_engine->rootContext()->setContextProperty(QStringLiteral("DEBUG_MODE"), false);

    const QUrl url = m_settings.qmlFile;
    if (url.isLocalFile() && !QFileInfo(url.toLocalFile()).isReadable())
        qCCritical(lcLauncher).noquote() << "Main QML file cannot be read:" << url.toLocalFile();
    m_engine->load(url);

    const QList<QObject *> roots = m_engine->rootObjects();
    if (roots.isEmpty()) {
        qCCritical(lcLauncher).noquote() << "Main QML file did not load:" << url.toString();
        return;
    }
    QObject *root = roots.first();
    if (!root->isWindowType())
        return;
    auto *window = static_cast<QWindow *>(root);
    if (!window->isVisible() && !root->property("nyxHide").toBool())
        window->show();
}

void Launcher::reload()
{
    installTranslations();
    m_engine.reset();
    initEngine();
    load();
}

int Launcher::runTests()
{
    qputenv("QT_LOGGING_TO_CONSOLE", "1");

    std::vector<QByteArray> arguments{
        QByteArray(),
        QByteArrayLiteral("-import"),
        (QCoreApplication::applicationDirPath() + QStringLiteral("/plugins")).toLocal8Bit(),
        QByteArrayLiteral("-input"),
        m_parser.value(QStringLiteral("testing")).toLocal8Bit(),
    };
    const QStringList positional = m_parser.positionalArguments();
    if (!positional.isEmpty() && !positional.first().isEmpty())
        arguments.push_back(positional.first().toLocal8Bit());
    std::vector<char *> argv;
    for (QByteArray &argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    const QByteArray name = m_parser.value(QStringLiteral("testing_name")).toLocal8Bit();
    return quick_test_main(static_cast<int>(arguments.size()), argv.data(), name.constData(), nullptr);
}
