// Capture URLs and output names: the forms the configuration writes parse to the right input, and
// anything else is refused with a reason.
#include "multimedia/kx/kxaddress.h"

#include <QtTest>

using namespace nyx::multimedia;

class tst_KXAddress : public QObject
{
    Q_OBJECT
private slots:
    void parse_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QString>("board");
        QTest::addColumn<int>("input");
        QTest::addColumn<bool>("stereo");
        QTest::addColumn<QString>("inputName");
        QTest::newRow("video 1") << "kx:///KX788 Board 1 Input 1" << true << "KX788 Board 1" << 1 << false
                                 << "KX788 Board 1 Input 1";
        QTest::newRow("video 4") << "kx:///KX788 Board 1 Input 4" << true << "KX788 Board 1" << 4 << false
                                 << "KX788 Board 1 Input 4";
        QTest::newRow("encoded spaces") << "kx:///KX788%20Board%201%20Input%202" << true << "KX788 Board 1"
                                        << 2 << false << "KX788 Board 1 Input 2";
        QTest::newRow("stereo") << "kx:///KX322 Board 1 Stereo 1" << true << "KX322 Board 1" << 1 << true
                                << "KX322 Board 1 Stereo 1";
        QTest::newRow("input stereo") << "kx:///KX322 Board 1 Input 1 Stereo" << true << "KX322 Board 1" << 1
                                      << true << "KX322 Board 1 Stereo 1";
        QTest::newRow("input 5") << "kx:///KX788 Board 1 Input 5" << false << "" << 0 << false << "";
        QTest::newRow("input 0") << "kx:///KX788 Board 1 Input 0" << false << "" << 0 << false << "";
        QTest::newRow("video on audio board")
            << "kx:///KX322 Board 1 Input 1" << false << "" << 0 << false << "";
        QTest::newRow("unknown board") << "kx:///KX999 Board 1 Input 1" << false << "" << 0 << false << "";
        QTest::newRow("board 2") << "kx:///KX788 Board 2 Input 1" << false << "" << 0 << false << "";
        QTest::newRow("stereo stereo")
            << "kx:///KX322 Board 1 Stereo 1 Stereo" << false << "" << 0 << false << "";
        QTest::newRow("no number") << "kx:///KX788 Board 1 Input" << false << "" << 0 << false << "";
        QTest::newRow("other scheme") << "rtsp:///KX788 Board 1 Input 1" << false << "" << 0 << false << "";
        QTest::newRow("with host") << "kx://host/KX788 Board 1 Input 1" << false << "" << 0 << false << "";
        QTest::newRow("lower case") << "kx:///kx788 board 1 input 1" << false << "" << 0 << false << "";
        QTest::newRow("huge number") << "kx:///KX788 Board 1 Input 99999999999" << false << "" << 0 << false
                                     << "";
    }
    void parse()
    {
        QFETCH(QString, url);
        QFETCH(bool, valid);
        QFETCH(QString, board);
        QFETCH(int, input);
        QFETCH(bool, stereo);
        QFETCH(QString, inputName);
        QString error;
        const auto a = KXAddress::parse(QUrl(url), &error);
        QCOMPARE(a.has_value(), valid);
        if (!valid) {
            QVERIFY(!error.isEmpty());
            return;
        }
        QVERIFY(error.isEmpty());
        QCOMPARE(a->board, board);
        QCOMPARE(a->input, input);
        QCOMPARE(a->kind == KXAddress::Kind::Stereo, stereo);
        QCOMPARE(a->inputName(), inputName);
    }

    void outputs()
    {
        const QStringList names = kxOutputNames();
        QCOMPARE(names, (QStringList{"KX788 Board 1 Output 1", "KX788 Board 1 Output 2",
                                     "KX788 Board 1 Output 3", "KX788 Board 1 Output 4"}));
        for (int i = 0; i < names.size(); ++i) {
            const auto a = KXAddress::parseOutput(names[i]);
            QVERIFY(a);
            // Each output feeds the video input of its own number.
            QCOMPARE(a->inputName(), QStringLiteral("KX788 Board 1 Input %1").arg(i + 1));
            QCOMPARE(a->outputName(), names[i]);
        }
        QVERIFY(!KXAddress::parseOutput(QStringLiteral("KX788 Board 1 Output 5")));
        QVERIFY(!KXAddress::parseOutput(QStringLiteral("KX322 Board 1 Output 1")));
    }
};

QTEST_APPLESS_MAIN(tst_KXAddress)
#include "tst_kxaddress.moc"
