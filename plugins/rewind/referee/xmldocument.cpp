#include "xmldocument.h"

#include <limits>

namespace {
// Ends a parse that the reader itself accepted but that does not fit the tree.
constexpr HRESULT kBadStructure = 1;

const char16_t kOpenWrapper[] = u"<root>";
const char16_t kCloseWrapper[] = u"</root>";
// Answers are short texts; anything beyond this is refused before it reaches the reader.
constexpr std::size_t kMaxTextBytes = 64u * 1024 * 1024;
} // namespace

XmlDocument::XmlDocument() = default;

XmlDocument::~XmlDocument()
{
    clearNode();
    m_nodes.clear();
}

bool XmlDocument::parse(const QString &text)
{
    return parse(reinterpret_cast<const char16_t *>(text.utf16()), static_cast<std::size_t>(text.size()) * 2);
}

bool XmlDocument::parse(const char16_t *text, std::size_t byteLength)
{
    m_lastResult = load(text, byteLength);
    return m_lastResult == S_OK;
}

HRESULT XmlDocument::createReader()
{
    if (m_readerMade)
        return m_createResult;
    m_readerMade = true;
    HRESULT hr = CreateXmlReader(IID_IXmlReader, reinterpret_cast<void **>(&m_reader), nullptr);
    if (SUCCEEDED(hr))
        hr = CreateStreamOnHGlobal(nullptr, TRUE, &m_stream);
    if (SUCCEEDED(hr))
        hr = CreateXmlReaderInputWithEncodingName(m_stream, nullptr, u"UTF-16", FALSE, nullptr, &m_input);
    m_createResult = hr;
    return hr;
}

XmlNode *XmlDocument::addChild(XmlNode *parent, const QString &name)
{
    auto child = std::make_unique<XmlNode>(name, parent, this, static_cast<int>(m_nodes.size()));
    XmlNode *raw = child.get();
    parent->m_children.push_back(std::move(child));
    m_nodes.push_back(raw);
    return raw;
}

HRESULT XmlDocument::load(const char16_t *text, std::size_t byteLength)
{
    clearNode();
    m_nodes.clear();
    m_nodes.push_back(this);
    XmlNode *current = this;
    bool wrapperToCome = true;

    HRESULT hr = createReader();
    if (FAILED(hr))
        return hr;
    if (!text && byteLength)
        return E_POINTER;
    if (byteLength > kMaxTextBytes)
        return E_INVALIDARG;

    LARGE_INTEGER zero{0};
    ULARGE_INTEGER empty{0};
    if (FAILED(hr = m_stream->Seek(zero, STREAM_SEEK_SET, nullptr)) ||
        FAILED(hr = m_stream->SetSize(empty)) || FAILED(hr = m_stream->Write(kOpenWrapper, 12, nullptr)) ||
        FAILED(hr = m_stream->Write(text, static_cast<ULONG>(byteLength), nullptr)) ||
        FAILED(hr = m_stream->Write(kCloseWrapper, 14, nullptr)) ||
        FAILED(hr = m_stream->Seek(zero, STREAM_SEEK_SET, nullptr)))
        return hr;

    if (FAILED(hr = m_reader->SetInput(nullptr)) || FAILED(hr = m_reader->SetInput(m_input)))
        return hr;

    XmlNodeType type;
    while ((hr = m_reader->Read(&type)) == S_OK) {
        if (!current)
            return kBadStructure; // nothing may follow the wrapper
        switch (type) {
        case XmlNodeType_Element: {
            if (wrapperToCome) {
                wrapperToCome = false;
                break;
            }
            const bool empty = m_reader->IsEmptyElement();
            LPCWSTR name = nullptr;
            UINT length = 0;
            if (FAILED(hr = m_reader->GetLocalName(&name, &length)))
                return hr;
            XmlNode *node = addChild(current, QString::fromUtf16(name, static_cast<int>(length)));
            while (m_reader->MoveToNextAttribute() == S_OK) {
                LPCWSTR attributeName = nullptr;
                UINT nameLength = 0;
                LPCWSTR value = nullptr;
                UINT valueLength = 0;
                if (FAILED(hr = m_reader->GetLocalName(&attributeName, &nameLength)) ||
                    FAILED(hr = m_reader->GetValue(&value, &valueLength)))
                    return hr;
                node->m_attributes.push_back(std::make_unique<XmlAttribute>(
                    QString::fromUtf16(attributeName, static_cast<int>(nameLength)),
                    QString::fromUtf16(value, static_cast<int>(valueLength))));
            }
            if (!empty)
                current = node;
            break;
        }
        case XmlNodeType_Text:
            if (!wrapperToCome) {
                LPCWSTR value = nullptr;
                UINT length = 0;
                if (FAILED(hr = m_reader->GetValue(&value, &length)))
                    return hr;
                current->m_text += QString::fromUtf16(value, static_cast<int>(length));
            }
            break;
        case XmlNodeType_EndElement:
            if (current->m_parent) {
                LPCWSTR name = nullptr;
                UINT length = 0;
                if (FAILED(hr = m_reader->GetLocalName(&name, &length)))
                    return hr;
                if (QString::fromUtf16(name, static_cast<int>(length)) != current->m_name)
                    return kBadStructure;
                current = current->m_parent;
            } else {
                current = nullptr; // the wrapper's end
            }
            break;
        default:
            break;
        }
    }
    if (FAILED(hr))
        return hr; // not well-formed, cut short or too deep: the answer is not used
    // The reader's end of input is only a success once the wrapper was closed.
    return current ? kBadStructure : S_OK;
}
