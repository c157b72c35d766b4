// Set-up of the Rewind module's QML test: the module comes from bin/plugins, and the referee link
// of every service it creates talks to an in-process referee that never answers.

#include "fakereferee.h"

#include <QCoreApplication>
#include <QDir>
#include <QJsonObject>
#include <QPluginLoader>
#include <QPointer>
#include <QQmlComponent>
#include <QQmlContext>
#include <QQmlEngine>
#include <QtQuickTest>
#include <memory>
#include <testenvironment.h>

namespace {
QString pluginDir()
{
    return tundra::test::binDir() + QStringLiteral("/plugins");
}

const char kServiceHolder[] = "import QtQml 2.15\n"
                              "import Rewind 1.0\n"
                              "QtObject { property QtObject service: RewindService }\n";
} // namespace

// What the QML side cannot see for itself: the plugin's metadata and a second engine.
class Probe : public QObject
{
    Q_OBJECT
public:
    Q_INVOKABLE QVariantMap pluginMetaData() const
    {
        QPluginLoader loader(pluginDir() + QStringLiteral("/Rewind/librewind.so"));
        return loader.metaData().toVariantMap();
    }

    // The singleton that a second engine, alive beside the caller's, gets; the text of the
    // failure when there is none.
    Q_INVOKABLE QVariant serviceOfSecondEngine()
    {
        m_second = std::make_unique<QQmlEngine>();
        m_second->addImportPath(pluginDir());
        QQmlComponent component(m_second.get());
        component.setData(kServiceHolder, QUrl(QStringLiteral("file:///second.qml")));
        m_holder.reset(component.create());
        if (!m_holder)
            return component.errorString();
        return QVariant::fromValue(m_holder->property("service").value<QObject *>());
    }

    Q_INVOKABLE void dropSecondEngine()
    {
        m_holder.reset();
        m_second.reset();
    }

private:
    std::unique_ptr<QQmlEngine> m_second;
    std::unique_ptr<QObject> m_holder;
};

class Setup : public QObject
{
    Q_OBJECT
public slots:
    void applicationAvailable()
    {
        // The referee registration goes in after the module is loaded, so that it hides any
        // message-queue server the module registers as it loads.
        QQmlEngine loader;
        loader.addImportPath(pluginDir());
        QQmlComponent component(&loader);
        component.setData("import QtQml 2.15\nimport Rewind 1.0\nQtObject {}\n",
                          QUrl(QStringLiteral("file:///load.qml")));
        std::unique_ptr<QObject> object(component.create());
        if (!object)
            qWarning() << "Rewind did not load:" << component.errorString();
        m_referee = std::make_unique<FakeReferee>();
        m_referee->setAvailable(false);
    }
    void qmlEngineAvailable(QQmlEngine *engine)
    {
        engine->addImportPath(pluginDir());
        engine->rootContext()->setContextProperty(QStringLiteral("probe"), &m_probe);
    }
    void cleanupTestCase() { m_probe.dropSecondEngine(); }

private:
    std::unique_ptr<FakeReferee> m_referee;
    Probe m_probe;
};

QUICK_TEST_MAIN_WITH_SETUP(tst_rewindplugin, Setup)
#include "tst_rewindplugin.moc"
