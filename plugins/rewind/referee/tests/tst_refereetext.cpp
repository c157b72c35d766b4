// Number, board time and comment texts of the referee answers and requests.

#include "refereetext.h"

#include <QtTest>

class tst_RefereeText : public QObject
{
    Q_OBJECT

private slots:
    void boardTime_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<qint64>("ms");
        QTest::addColumn<bool>("ok");
        QTest::newRow("h:m:s.t") << "1:02:03.4" << qint64(3723400) << true;
        QTest::newRow("m:s") << "2:05" << qint64(125000) << true;
        QTest::newRow("s") << "7" << qint64(7000) << true;
        QTest::newRow("tenths only first digit") << "7.45" << qint64(7400) << true;
        QTest::newRow("point without digit") << "7.x" << qint64(7000) << true;
        QTest::newRow("stops at other text") << "1:30 left" << qint64(90000) << true;
        QTest::newRow("four fields") << "1:2:3:4" << qint64(-1) << false;
        QTest::newRow("empty") << "" << qint64(-1) << false;
        QTest::newRow("leading space") << " 1:00" << qint64(-1) << false;
        QTest::newRow("leading letter") << "x1:00" << qint64(-1) << false;
        QTest::newRow("leading colon") << ":30" << qint64(-1) << false;
        QTest::newRow("last of a day") << "23:59:59.9" << qint64(86399900) << true;
        QTest::newRow("a day") << "24:00:00" << qint64(-1) << false;
        QTest::newRow("huge field") << "99999999999999999999" << qint64(-1) << false;
        QTest::newRow("many minutes") << "1441:00" << qint64(-1) << false;
        QTest::newRow("non-ASCII digit") << QString::fromUtf8("\u0663") << qint64(-1) << false;
    }
    void boardTime()
    {
        QFETCH(QString, text);
        QFETCH(qint64, ms);
        QFETCH(bool, ok);
        bool parsed = !ok;
        QCOMPARE(parseBoardTime(text, &parsed), ms);
        QCOMPARE(parsed, ok);
    }

    void hexText()
    {
        QCOMPARE(parseHexText("1F"), 31u);
        QCOMPARE(parseHexText("0x1f"), 31u);
        QCOMPARE(parseHexText("1 f"), 31u);
        QCOMPARE(parseHexText(""), 0u);
        QCOMPARE(parseHexText("FFFFFFFF"), 0xFFFFFFFFu);
        QCOMPARE(parseHexText("1FFFFFFFF"), 0xFFFFFFFFu); // wraps at 32 bits
        QCOMPARE(parseHexText("g-z"), 0u);
    }

    void decimalText()
    {
        QCOMPARE(parseDecimalText("-5"), 5);
        QCOMPARE(parseDecimalText("1 234"), 1234);
        QCOMPARE(parseDecimalText(""), 0);
        QCOMPARE(parseDecimalText("4294967297"), 1); // 32-bit arithmetic, no overflow trap
    }

    void replaceAllGoesOnAfterTheReplacement()
    {
        QString text = "a&gt;&gt;b";
        replaceAll(text, "&gt;", ">");
        QCOMPARE(text, QString("a>>b"));
        text = "aa";
        replaceAll(text, "a", "aa");
        QCOMPARE(text, QString("aaaa"));
        text = "abc";
        replaceAll(text, "", "x");
        QCOMPARE(text, QString("abc"));
    }

    void commentCleaning()
    {
        QCOMPARE(cleanEventComment("Foul (left)_2 "), QString("Foul {left} 2"));
        QCOMPARE(cleanEventComment("\t  _x_ \n"), QString(" x "));
        QCOMPARE(cleanEventComment(""), QString());
    }
};

QTEST_GUILESS_MAIN(tst_RefereeText)
#include "tst_refereetext.moc"
