#pragma once
// A referee answer read into a small element tree. The answer's top elements become the
// children of the document, which is itself the (nameless) root node.

#include "xmlnode.h"

#include "com/com.h"
#include "xml/xmllite.h"

class XmlDocument : public XmlNode
{
public:
    XmlDocument();
    ~XmlDocument() override;

    // Reads a UTF-16 text of byteLength bytes (no terminator), replacing the previous tree.
    // False for text that is not well-formed, is cut short, or nests too deep.
    bool parse(const char16_t *text, std::size_t byteLength);
    bool parse(const QString &text);
    HRESULT lastResult() const { return m_lastResult; }
    // Every node of the tree in order of creation, the root first.
    const std::vector<XmlNode *> &nodes() const { return m_nodes; }

private:
    HRESULT createReader();
    HRESULT load(const char16_t *text, std::size_t byteLength);
    XmlNode *addChild(XmlNode *parent, const QString &name);

    std::vector<XmlNode *> m_nodes;
    CComPtr<IXmlReader> m_reader;
    CComPtr<IStream> m_stream;
    CComPtr<IXmlReaderInput> m_input;
    bool m_readerMade = false;
    HRESULT m_createResult = S_OK;
    HRESULT m_lastResult = S_OK;
};
