// Runs tst_stationmedia.qml with the stand-ins of the media types first on the import path.
#include <QQmlEngine>
#include <QtQuickTest>

class Setup : public QObject
{
    Q_OBJECT
public slots:
    void qmlEngineAvailable(QQmlEngine *engine)
    {
        engine->addImportPath(QStringLiteral(STATION_MEDIA_STUBS));
    }
};

QUICK_TEST_MAIN_WITH_SETUP(tst_stationmedia, Setup)
#include "tst_stationmedia.moc"
