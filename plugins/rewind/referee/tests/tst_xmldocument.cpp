// The element tree of referee answers.

#include "xmldocument.h"

#include <QtTest>

class tst_XmlDocument : public QObject
{
    Q_OBJECT

private slots:
    void topElementsBecomeChildrenOfTheRoot()
    {
        XmlDocument doc;
        QVERIFY(doc.parse(QStringLiteral("<A x=\"1\"><B>t1<C/>t2</B></A><D/>")));
        QCOMPARE(int(doc.children().size()), 2);
        QCOMPARE(doc.children()[0]->name(), QStringLiteral("A"));
        QCOMPARE(doc.children()[1]->name(), QStringLiteral("D"));
        const XmlNode *b = doc.findChild("A")->findChild("B");
        QVERIFY(b);
        QCOMPARE(b->text(), QStringLiteral("t1t2"));
        QCOMPARE(b->parent()->name(), QStringLiteral("A"));
        QCOMPARE(b->document(), &doc);
        QCOMPARE(int(doc.nodes().size()), 5);
        QCOMPARE(doc.nodes()[0], static_cast<XmlNode *>(&doc));
        for (int i = 1; i < 5; ++i)
            QCOMPARE(doc.nodes()[i]->sequence(), i);
        QCOMPARE(doc.nodes()[3]->name(), QStringLiteral("C"));
        QVERIFY(!doc.findChild("a")); // exact names
    }

    void entitiesAndNamespaces()
    {
        XmlDocument doc;
        QVERIFY(doc.parse(QStringLiteral(
            "<p:E xmlns:p=\"urn:x\" v=\"a&amp;gt;&amp;gt;b\" w=\"&lt;&quot;\">x&amp;gt;y</p:E>")));
        const XmlNode *e = doc.findChild("E");
        QVERIFY(e);
        QCOMPARE(e->attributeText("v"), QStringLiteral("a>>b"));
        QCOMPARE(e->attributeText("w"), QStringLiteral("<\""));
        QCOMPARE(e->rawText(), QStringLiteral("x&gt;y"));
        QCOMPARE(e->text(), QStringLiteral("x>y"));
        QCOMPARE(e->attributeText("missing"), QString());
        QCOMPARE(XmlNode::textOf(nullptr), QString());
    }

    void numericAttributesLeaveTheDefaultWhenMissing()
    {
        XmlDocument doc;
        QVERIFY(doc.parse(QStringLiteral("<E d=\"-12x3\" h=\"0xFF\" e=\"\"/>")));
        const XmlNode *e = doc.findChild("E");
        std::int32_t d = 7;
        QVERIFY(e->decimalAttribute("d", d));
        QCOMPARE(d, 123);
        QVERIFY(e->decimalAttribute("e", d));
        QCOMPARE(d, 0);
        d = 7;
        QVERIFY(!e->decimalAttribute("none", d));
        QCOMPARE(d, 7);
        std::uint32_t h = 9;
        QVERIFY(e->hexAttribute("h", h));
        QCOMPARE(h, 255u);
        h = 9;
        QVERIFY(!e->hexAttribute("none", h));
        QCOMPARE(h, 9u);
    }

    void badInputFails_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("truncated") << "<A><B x=\"1\"";
        QTest::newRow("unclosed") << "<A><B></B>";
        QTest::newRow("mismatched") << "<A></B>";
        QTest::newRow("closes the wrapper") << "</root><A/>";
        QTest::newRow("declaration inside") << "<?xml version=\"1.0\"?><A/>";
        QTest::newRow("doctype inside") << "<!DOCTYPE A [<!ENTITY e \"x\">]><A>&e;</A>";
        QTest::newRow("undefined entity") << "<A>&e;</A>";
        QTest::newRow("undeclared prefix") << "<p:A/>";
        QTest::newRow("lone surrogate ok but bad char") << QString("<A>") + QChar(0x0001) + "</A>";
    }
    void badInputFails()
    {
        QFETCH(QString, text);
        XmlDocument doc;
        QVERIFY(!doc.parse(text));
        QVERIFY(doc.lastResult() != S_OK);
        // The document is usable again afterwards.
        QVERIFY(doc.parse(QStringLiteral("<Ok/>")));
        QVERIFY(doc.findChild("Ok"));
    }

    void depthBombIsRefusedWithoutCrash()
    {
        QString bomb;
        for (int i = 0; i < 100000; ++i)
            bomb += QStringLiteral("<a>");
        XmlDocument doc;
        QVERIFY(!doc.parse(bomb));
        QString closed;
        for (int i = 0; i < 300; ++i)
            closed += QStringLiteral("<a>");
        for (int i = 0; i < 300; ++i)
            closed += QStringLiteral("</a>");
        QVERIFY(!doc.parse(closed));
        QString fine;
        for (int i = 0; i < 200; ++i)
            fine += QStringLiteral("<a>");
        for (int i = 0; i < 200; ++i)
            fine += QStringLiteral("</a>");
        QVERIFY(doc.parse(fine));
    }

    void emptyAndOddLengths()
    {
        XmlDocument doc;
        QVERIFY(doc.parse(QString()));
        QVERIFY(doc.children().empty());
        const char16_t text[] = u"<A/>";
        QVERIFY(!doc.parse(text, 7)); // half a character
        QVERIFY(doc.parse(text, 8));
        QVERIFY(!doc.parse(nullptr, 4));
    }
};

QTEST_GUILESS_MAIN(tst_XmlDocument)
#include "tst_xmldocument.moc"
