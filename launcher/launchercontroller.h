#pragma once

#include <QObject>
#include <QStringList>

// The QML singleton "Launcher": language, reload, quit and restart of the program.
class LauncherController : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString translationLanguage READ translationLanguage WRITE setTranslationLanguage NOTIFY
                   translationLanguageChanged)
    Q_PROPERTY(QStringList translationLanguages READ translationLanguages CONSTANT)
    Q_PROPERTY(bool quitOnLastWindowClosed READ quitOnLastWindowClosed WRITE setQuitOnLastWindowClosed NOTIFY
                   quitOnLastWindowClosedChanged)
    Q_PROPERTY(bool developmentVersion READ developmentVersion CONSTANT)
    Q_PROPERTY(QString applicationVendor READ applicationVendor CONSTANT)

public:
    // The exit code that asks a supervisor to restart all children.
    static constexpr int RestartExitCode = 112233;

    explicit LauncherController(QObject *parent = nullptr);

    QString translationLanguage() const;
    void setTranslationLanguage(const QString &language);
    QStringList translationLanguages() const;
    bool quitOnLastWindowClosed() const;
    void setQuitOnLastWindowClosed(bool quit);
    bool developmentVersion() const { return true; }
    QString applicationVendor() const { return QStringLiteral("Nyx"); }

    Q_INVOKABLE void reload();
    Q_INVOKABLE void quit(int exitCode);
    Q_INVOKABLE void restart();

signals:
    void translationLanguageChanged();
    void quitOnLastWindowClosedChanged();

private slots:
    void doReload();
    void doQuit(int exitCode);
};
