#include "xml/xmllite.h"

#include <QXmlStreamReader>
#include <vector>

namespace {
constexpr IID IID_ReaderInput = {
    0x0B4D8E63, 0x2F1A, 0x4C7B, {0x9E, 0x55, 0x61, 0x0A, 0x3C, 0xD2, 0x47, 0x98}};

} // namespace

namespace {
// Holds the stream and its encoding until the reader takes them.
struct IReaderInput : IUnknown
{
    virtual IStream *stream() = 0;
    virtual bool utf16() const = 0;
};
} // namespace
NYX_DECLARE_IID(IReaderInput, IID_ReaderInput)

namespace {
class ReaderInputObject : public nyx::com::ComObject<IReaderInput>
{
public:
    ReaderInputObject(IStream *stream, bool utf16) : m_stream(stream), m_utf16(utf16) {}
    IStream *stream() override { return m_stream; }
    bool utf16() const override { return m_utf16; }

private:
    CComPtr<IStream> m_stream;
    bool m_utf16;
};

struct Attribute
{
    QString localName;
    QString value;
};

class XmlReader : public nyx::com::ComObject<IXmlReader>
{
public:
    HRESULT SetInput(IUnknown *input) override
    {
        reset();
        if (!input)
            return S_OK;
        bool utf16 = false;
        CComPtr<IStream> stream;
        CComPtr<IReaderInput> readerInput;
        if (SUCCEEDED(input->QueryInterface(&readerInput))) {
            stream = readerInput->stream();
            utf16 = readerInput->utf16();
        } else if (FAILED(input->QueryInterface(&stream))) {
            return E_INVALIDARG;
        }
        if (!stream)
            return E_INVALIDARG;
        QByteArray bytes;
        char buffer[16384];
        for (;;) {
            ULONG read = 0;
            const HRESULT hr = stream->Read(buffer, sizeof buffer, &read);
            if (FAILED(hr))
                return hr;
            bytes.append(buffer, static_cast<int>(read));
            if (hr != S_OK || read == 0)
                break;
        }
        if (utf16)
            m_text =
                QString::fromUtf16(reinterpret_cast<const char16_t *>(bytes.constData()), bytes.size() / 2);
        else
            m_text = QString::fromUtf8(bytes);
        m_xml.addData(m_text);
        m_hasInput = true;
        return S_OK;
    }
    HRESULT GetProperty(UINT property, LONG_PTR *value) override
    {
        if (!value)
            return E_POINTER;
        if (property != XmlReaderProperty_MaxElementDepth)
            return E_INVALIDARG;
        *value = static_cast<LONG_PTR>(m_maxDepth);
        return S_OK;
    }
    HRESULT SetProperty(UINT property, LONG_PTR value) override
    {
        if (property != XmlReaderProperty_MaxElementDepth || value < 0)
            return E_INVALIDARG;
        m_maxDepth = value == 0 ? kXmlDefaultMaxElementDepth : static_cast<UINT>(value);
        return S_OK;
    }
    HRESULT Read(XmlNodeType *nodeType) override
    {
        XmlNodeType dummy;
        if (!nodeType)
            nodeType = &dummy;
        *nodeType = XmlNodeType_None;
        m_attributeIndex = -1;
        if (!m_hasInput)
            return XML_E_NOINPUT;
        if (FAILED(m_error))
            return m_error;
        if (m_atEnd)
            return S_FALSE;
        if (m_pendingEmptyEnd) {
            // The end of an empty element is not a node of its own.
            m_pendingEmptyEnd = false;
            m_xml.readNext();
            --m_depth;
        }
        m_emptyElement = false;
        m_attributes.clear();
        m_localName.clear();
        m_value.clear();
        for (;;) {
            const QXmlStreamReader::TokenType token = m_xml.readNext();
            switch (token) {
            case QXmlStreamReader::StartDocument:
                if (m_xml.documentVersion().isEmpty())
                    continue;
                m_type = XmlNodeType_XmlDeclaration;
                m_localName = QStringLiteral("xml");
                break;
            case QXmlStreamReader::EndDocument:
                m_atEnd = true;
                m_type = XmlNodeType_None;
                return S_FALSE;
            case QXmlStreamReader::Invalid:
                m_error = m_xml.error() == QXmlStreamReader::PrematureEndOfDocumentError ? MX_E_INPUTEND
                                                                                         : WC_E_SYNTAX;
                m_type = XmlNodeType_None;
                return m_error;
            case QXmlStreamReader::StartElement: {
                if (m_depth >= m_maxDepth) {
                    m_error = XML_E_MAXELEMENTDEPTH;
                    m_type = XmlNodeType_None;
                    return m_error;
                }
                m_type = XmlNodeType_Element;
                m_localName = m_xml.name().toString();
                const auto attributes = m_xml.attributes();
                m_attributes.reserve(attributes.size());
                for (const QXmlStreamAttribute &a : attributes)
                    m_attributes.push_back(Attribute{a.name().toString(), a.value().toString()});
                const qint64 offset = m_xml.characterOffset();
                m_emptyElement = offset >= 2 && offset <= m_text.size() &&
                                 m_text.at(int(offset - 2)) == '/' && m_text.at(int(offset - 1)) == '>';
                m_elementDepth = m_depth;
                ++m_depth;
                m_pendingEmptyEnd = m_emptyElement;
                break;
            }
            case QXmlStreamReader::EndElement:
                --m_depth;
                m_type = XmlNodeType_EndElement;
                m_localName = m_xml.name().toString();
                break;
            case QXmlStreamReader::Characters:
                m_type = m_xml.isCDATA()        ? XmlNodeType_CDATA
                         : m_xml.isWhitespace() ? XmlNodeType_Whitespace
                                                : XmlNodeType_Text;
                m_value = m_xml.text().toString();
                break;
            case QXmlStreamReader::Comment:
                m_type = XmlNodeType_Comment;
                m_value = m_xml.text().toString();
                break;
            case QXmlStreamReader::DTD:
                m_type = XmlNodeType_DocumentType;
                break;
            case QXmlStreamReader::ProcessingInstruction:
                m_type = XmlNodeType_ProcessingInstruction;
                m_localName = m_xml.processingInstructionTarget().toString();
                m_value = m_xml.processingInstructionData().toString();
                break;
            default:
                continue;
            }
            *nodeType = m_type;
            return S_OK;
        }
    }
    HRESULT GetNodeType(XmlNodeType *nodeType) override
    {
        if (!nodeType)
            return E_POINTER;
        *nodeType = m_attributeIndex >= 0 ? XmlNodeType_Attribute : m_type;
        return S_OK;
    }
    HRESULT MoveToFirstAttribute() override
    {
        if (m_type != XmlNodeType_Element || m_attributes.empty())
            return S_FALSE;
        m_attributeIndex = 0;
        return S_OK;
    }
    HRESULT MoveToNextAttribute() override
    {
        if (m_type != XmlNodeType_Element)
            return S_FALSE;
        if (m_attributeIndex + 1 >= static_cast<int>(m_attributes.size()))
            return S_FALSE;
        ++m_attributeIndex;
        return S_OK;
    }
    HRESULT MoveToElement() override
    {
        if (m_attributeIndex < 0)
            return S_FALSE;
        m_attributeIndex = -1;
        return S_OK;
    }
    HRESULT GetLocalName(LPCWSTR *name, UINT *length) override
    {
        return give(m_attributeIndex >= 0 ? m_attributes[m_attributeIndex].localName : m_localName, name,
                    length);
    }
    HRESULT GetValue(LPCWSTR *value, UINT *length) override
    {
        return give(m_attributeIndex >= 0 ? m_attributes[m_attributeIndex].value : m_value, value, length);
    }
    BOOL IsEmptyElement() override { return m_type == XmlNodeType_Element && m_emptyElement; }
    HRESULT GetDepth(UINT *depth) override
    {
        if (!depth)
            return E_POINTER;
        *depth = m_type == XmlNodeType_Element ? m_elementDepth + (m_attributeIndex >= 0 ? 1 : 0) : m_depth;
        return S_OK;
    }
    BOOL IsEOF() override { return m_atEnd; }

private:
    static HRESULT give(const QString &text, LPCWSTR *out, UINT *length)
    {
        if (!out)
            return E_POINTER;
        *out = reinterpret_cast<LPCWSTR>(text.utf16());
        if (length)
            *length = static_cast<UINT>(text.size());
        return S_OK;
    }
    void reset()
    {
        m_xml.clear();
        m_text.clear();
        m_hasInput = false;
        m_atEnd = false;
        m_error = S_OK;
        m_depth = 0;
        m_elementDepth = 0;
        m_pendingEmptyEnd = false;
        m_emptyElement = false;
        m_type = XmlNodeType_None;
        m_attributes.clear();
        m_attributeIndex = -1;
        m_localName.clear();
        m_value.clear();
    }

    QXmlStreamReader m_xml;
    QString m_text;
    bool m_hasInput = false;
    bool m_atEnd = false;
    HRESULT m_error = S_OK;
    UINT m_maxDepth = kXmlDefaultMaxElementDepth;
    UINT m_depth = 0;
    UINT m_elementDepth = 0;
    bool m_pendingEmptyEnd = false;
    bool m_emptyElement = false;
    XmlNodeType m_type = XmlNodeType_None;
    std::vector<Attribute> m_attributes;
    int m_attributeIndex = -1;
    QString m_localName;
    QString m_value;
};
} // namespace

HRESULT CreateXmlReader(REFIID riid, void **reader, IMalloc *)
{
    if (!reader)
        return E_POINTER;
    *reader = nullptr;
    CComPtr<IXmlReader> object;
    object.Attach(new XmlReader);
    return object->QueryInterface(riid, reader);
}

HRESULT CreateXmlReaderInputWithEncodingName(IUnknown *stream, IMalloc *, LPCWSTR encodingName, BOOL, LPCWSTR,
                                             IXmlReaderInput **input)
{
    if (!input)
        return E_POINTER;
    *input = nullptr;
    if (!stream)
        return E_INVALIDARG;
    CComPtr<IStream> s;
    if (FAILED(stream->QueryInterface(&s)))
        return E_INVALIDARG;
    const QString encoding =
        encodingName ? QString::fromUtf16(encodingName).trimmed() : QStringLiteral("UTF-8");
    bool utf16;
    if (encoding.compare(QLatin1String("UTF-16"), Qt::CaseInsensitive) == 0 ||
        encoding.compare(QLatin1String("UTF-16LE"), Qt::CaseInsensitive) == 0)
        utf16 = true;
    else if (encoding.compare(QLatin1String("UTF-8"), Qt::CaseInsensitive) == 0)
        utf16 = false;
    else
        return E_INVALIDARG;
    *input = static_cast<IReaderInput *>(new ReaderInputObject(s, utf16));
    return S_OK;
}
