// The test application's window (lockstep/qml/main.qml) with the real media plugins: checking an
// output's box plays the running line into that output, so the board input of the same number
// carries it while the other inputs keep their test pictures; unchecking brings the picture back.
#include "boardwatch.h"
#include "multimedia/kx/kxloopback.h"
#include "multimedia/mediasession.h"

#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QtTest>

using namespace nyx::multimedia;

namespace {

// The texts shown anywhere in the item tree.
void collectTexts(QQuickItem *item, QStringList *out)
{
    if (item->metaObject()->indexOfProperty("text") >= 0 &&
        qstrcmp(item->metaObject()->className(), "QQuickText") == 0)
        out->append(item->property("text").toString());
    for (QQuickItem *child : item->childItems())
        collectTexts(child, out);
}

void collectSessions(QObject *object, QList<MediaSession *> *out)
{
    for (QObject *child : object->children()) {
        if (auto *session = qobject_cast<MediaSession *>(child))
            out->append(session);
        collectSessions(child, out);
    }
    if (auto *item = qobject_cast<QQuickItem *>(object))
        for (QQuickItem *child : item->childItems())
            if (child->parent() != object)
                collectSessions(child, out);
}

} // namespace

class tst_Lockstep : public QObject
{
    Q_OBJECT
private slots:
    void checkOneOutput()
    {
        qputenv("NYX_KX_NAMESPACE",
                QByteArray("lockstep") + QByteArray::number(QCoreApplication::applicationPid()));
        const QString bin = qEnvironmentVariable("TUNDRA_BIN_DIR");
        QQmlApplicationEngine engine;
        engine.addImportPath(bin + QStringLiteral("/plugins"));
        engine.load(QUrl::fromLocalFile(bin + QStringLiteral("/../lockstep/qml/main.qml")));
        QCOMPARE(engine.rootObjects().size(), 1);
        auto *window = qobject_cast<QQuickWindow *>(engine.rootObjects().first());
        QVERIFY(window);
        window->show(); // the launcher shows the main window; here the test does
        QVERIFY(QTest::qWaitForWindowExposed(window));

        // One test session per row, each bound to its row's output and off until its box is checked.
        QList<MediaSession *> sessions;
        auto find = [&] {
            sessions.clear();
            collectSessions(window, &sessions);
            collectSessions(window->contentItem(), &sessions);
            std::sort(sessions.begin(), sessions.end());
            sessions.erase(std::unique(sessions.begin(), sessions.end()), sessions.end());
            return sessions.size();
        };
        QTRY_COMPARE_WITH_TIMEOUT(find(), 4, 10000);
        QHash<QString, MediaSession *> byOutput;
        for (MediaSession *s : sessions) {
            QVERIFY(!s->isEnabled());
            QVERIFY(!s->isPlaying());
            byOutput.insert(s->property("output").toMap().value(QStringLiteral("name")).toString(), s);
        }
        QCOMPARE(byOutput.size(), 4);
        // The first column names the outputs.
        QStringList texts;
        collectTexts(window->contentItem(), &texts);
        for (const QString &name : byOutput.keys())
            QVERIFY2(texts.contains(name), qPrintable(name));

        Board board;
        board.start();
        MediaSession *second = byOutput.value(QStringLiteral("KX788 Board 1 Output 2"));
        QVERIFY(second);
        QObject *checkBox = second->parent();
        QVERIFY(checkBox && checkBox->property("checked").isValid());
        checkBox->setProperty("checked", true);
        QTRY_VERIFY_WITH_TIMEOUT(second->isPlaying(), 20000);
        QTRY_VERIFY_WITH_TIMEOUT(std::get<0>(board.counts(2)) >= 25, 20000);
        for (int n : {1, 3, 4}) {
            const auto [line, picture, other] = board.counts(n);
            QCOMPARE(line, 0);
            QCOMPARE(other, 0);
            QVERIFY(picture > 0);
        }

        checkBox->setProperty("checked", false);
        QTRY_VERIFY_WITH_TIMEOUT(!second->isPlaying(), 20000);
        const auto [lineAtStop, pictureAtStop, otherAtStop] = board.counts(2);
        QTRY_VERIFY_WITH_TIMEOUT(std::get<1>(board.counts(2)) >= pictureAtStop + 25, 20000);
        // Once back, input 2 stays on its test picture.
        QVERIFY(std::get<0>(board.counts(2)) <= lineAtStop + 15);
        board.stop();
        QCOMPARE(std::get<2>(board.counts(2)), otherAtStop);
        QCOMPARE(otherAtStop, 0);
    }
    void cleanupTestCase()
    {
        const QString prefix = kxLoopbackSegmentName(QString()).mid(1);
        QDir shm(QStringLiteral("/dev/shm"));
        for (const QString &name : shm.entryList({prefix + QLatin1Char('*')}, QDir::Files))
            shm.remove(name);
    }
};

QTEST_MAIN(tst_Lockstep)
#include "tst_lockstep.moc"
