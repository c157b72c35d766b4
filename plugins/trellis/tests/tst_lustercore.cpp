// Luster in a program without a GUI: every call is harmless and reports that there is no context.

#include "luster/luster.h"

#include <QCoreApplication>
#include <QtTest>

class tst_LusterCore : public QObject
{
    Q_OBJECT
private slots:
    void harmlessWithoutGui()
    {
        QVERIFY(!qobject_cast<QGuiApplication *>(QCoreApplication::instance()));
        Luster::init();
        Luster::init();
        QVERIFY(!Luster::makeCurrent());
        QVERIFY(!Luster::makeOwnCurrent());
        QVERIFY(!Luster::makeCurrentFor(nullptr));
        QVERIFY(!Luster::setRenderTarget(nullptr, 0));
        Luster::disableRenderTarget();
    }
};

QTEST_GUILESS_MAIN(tst_LusterCore)
#include "tst_lustercore.moc"
