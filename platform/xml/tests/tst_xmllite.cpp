// The XmlLite reader on QXmlStreamReader, as the referee link drives it.

#include "xml/xmllite.h"

#include <QtTest>

namespace {
struct Reader
{
    CComPtr<IXmlReader> reader;
    CComPtr<IStream> stream;
    CComPtr<IXmlReaderInput> input;

    explicit Reader(const QString &text)
    {
        CreateXmlReader(IID_IXmlReader, reinterpret_cast<void **>(&reader), nullptr);
        CreateStreamOnHGlobal(nullptr, TRUE, &stream);
        stream->Write(text.utf16(), ULONG(text.size() * 2), nullptr);
        stream->Seek(LARGE_INTEGER{0}, STREAM_SEEK_SET, nullptr);
        CreateXmlReaderInputWithEncodingName(stream, nullptr, u"UTF-16", FALSE, nullptr, &input);
        reader->SetInput(input);
    }
    QString name()
    {
        LPCWSTR n = nullptr;
        UINT len = 0;
        reader->GetLocalName(&n, &len);
        return QString::fromUtf16(n, int(len));
    }
    QString value()
    {
        LPCWSTR v = nullptr;
        UINT len = 0;
        reader->GetValue(&v, &len);
        return QString::fromUtf16(v, int(len));
    }
    // "E:name[a=v,...]/" for empty elements, "T:text", "/name", ...
    QStringList walk(HRESULT *last)
    {
        QStringList out;
        XmlNodeType type;
        HRESULT hr;
        while ((hr = reader->Read(&type)) == S_OK) {
            switch (type) {
            case XmlNodeType_Element: {
                const bool empty = reader->IsEmptyElement();
                QString e = "E:" + name();
                QStringList attributes;
                while (reader->MoveToNextAttribute() == S_OK)
                    attributes << name() + "=" + value();
                if (!attributes.isEmpty())
                    e += "[" + attributes.join(',') + "]";
                out << e + (empty ? "/" : "");
                break;
            }
            case XmlNodeType_EndElement:
                out << "/" + name();
                break;
            case XmlNodeType_Text:
                out << "T:" + value();
                break;
            case XmlNodeType_Whitespace:
                out << "W";
                break;
            case XmlNodeType_CDATA:
                out << "C:" + value();
                break;
            case XmlNodeType_Comment:
                out << "#";
                break;
            default:
                out << QString::number(type);
            }
        }
        *last = hr;
        return out;
    }
};
} // namespace

class tst_XmlLite : public QObject
{
    Q_OBJECT

private slots:
    void readsNodesLikeXmlLite()
    {
        Reader r("<root a=\"1\" b='x&amp;y'> <e/><f>t&gt;<![CDATA[c<]]><!--n--></f></root>");
        HRESULT last;
        QCOMPARE(r.walk(&last),
                 QStringList({"E:root[a=1,b=x&y]", "W", "E:e/", "E:f", "T:t>", "C:c<", "#", "/f", "/root"}));
        QCOMPARE(last, S_FALSE);
        QVERIFY(r.reader->IsEOF());
        XmlNodeType type;
        QCOMPARE(r.reader->Read(&type), S_FALSE);
    }

    void badInputIsAFailureThatStays()
    {
        HRESULT last;
        Reader truncated("<root><a x=\"1\">");
        truncated.walk(&last);
        QCOMPARE(last, MX_E_INPUTEND);
        XmlNodeType type;
        QCOMPARE(truncated.reader->Read(&type), MX_E_INPUTEND);
        Reader mismatched("<root></a>");
        mismatched.walk(&last);
        QCOMPARE(last, WC_E_SYNTAX);
        Reader noInput("");
        QVERIFY(FAILED(noInput.reader->Read(&type)));
    }

    void depthLimit()
    {
        QString deep;
        for (int i = 0; i < 50000; ++i)
            deep += "<a>";
        HRESULT last;
        Reader bomb(deep);
        const QStringList nodes = bomb.walk(&last);
        QCOMPARE(last, XML_E_MAXELEMENTDEPTH);
        QCOMPARE(nodes.size(), int(kXmlDefaultMaxElementDepth));

        Reader limited("<a><b><c/></b></a>");
        QCOMPARE(limited.reader->SetProperty(XmlReaderProperty_MaxElementDepth, 2), S_OK);
        limited.reader->SetInput(limited.input); // a new input keeps the property
        limited.stream->Seek(LARGE_INTEGER{0}, STREAM_SEEK_SET, nullptr);
        limited.reader->SetInput(limited.input);
        limited.walk(&last);
        QCOMPARE(last, XML_E_MAXELEMENTDEPTH);
        LONG_PTR value = 0;
        QCOMPARE(limited.reader->GetProperty(XmlReaderProperty_MaxElementDepth, &value), S_OK);
        QCOMPARE(value, LONG_PTR(2));
    }

    void memoryStream()
    {
        CComPtr<IStream> s;
        QCOMPARE(CreateStreamOnHGlobal(nullptr, TRUE, &s), S_OK);
        QCOMPARE(s->Write("abcdef", 6, nullptr), S_OK);
        ULARGE_INTEGER pos{0};
        QCOMPARE(s->Seek(LARGE_INTEGER{-2}, STREAM_SEEK_CUR, &pos), S_OK);
        QCOMPARE(pos.QuadPart, ULONGLONG(4));
        char buffer[8] = {};
        ULONG read = 0;
        QCOMPARE(s->Read(buffer, 8, &read), S_FALSE);
        QCOMPARE(read, ULONG(2));
        QCOMPARE(QByteArray(buffer, 2), QByteArray("ef"));
        QCOMPARE(s->SetSize(ULARGE_INTEGER{1}), S_OK);
        QVERIFY(FAILED(s->Seek(LARGE_INTEGER{-1}, STREAM_SEEK_SET, nullptr)));
        CComPtr<IXmlReaderInput> input;
        QCOMPARE(CreateXmlReaderInputWithEncodingName(s, nullptr, u"EBCDIC", FALSE, nullptr, &input),
                 E_INVALIDARG);
    }
};

QTEST_GUILESS_MAIN(tst_XmlLite)
#include "tst_xmllite.moc"
