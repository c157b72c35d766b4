#pragma once
// XmlLite's pull reader as the referee link reads its answers, on QXmlStreamReader.

#include "xml/objidl.h"

using LONG_PTR = std::intptr_t;

enum XmlNodeType
{
    XmlNodeType_None = 0,
    XmlNodeType_Element = 1,
    XmlNodeType_Attribute = 2,
    XmlNodeType_Text = 3,
    XmlNodeType_CDATA = 4,
    XmlNodeType_ProcessingInstruction = 7,
    XmlNodeType_Comment = 8,
    XmlNodeType_DocumentType = 10,
    XmlNodeType_Whitespace = 13,
    XmlNodeType_EndElement = 15,
    XmlNodeType_XmlDeclaration = 17,
};

enum XmlReaderProperty
{
    XmlReaderProperty_MaxElementDepth = 6,
};

// Failures of Read: the input ended inside the document, is not well-formed, or nests too deep.
constexpr HRESULT MX_E_INPUTEND = NYX_HRESULT(0xC00CEE00);
constexpr HRESULT WC_E_SYNTAX = NYX_HRESULT(0xC00CEE2D);
constexpr HRESULT XML_E_MAXELEMENTDEPTH = NYX_HRESULT(0xC00CEE3F);
constexpr HRESULT XML_E_NOINPUT = NYX_HRESULT(0xC00CEE41);

constexpr UINT kXmlDefaultMaxElementDepth = 256;

constexpr IID IID_IXmlReader = {0x5C7E2A14, 0x9B3D, 0x4F61, {0x8A, 0x27, 0x3E, 0x90, 0xD1, 0x64, 0xB5, 0x0C}};

struct IXmlReader : IUnknown
{
    // The reader input of CreateXmlReaderInputWithEncodingName, or a stream (UTF-8); null detaches.
    virtual HRESULT SetInput(IUnknown *input) = 0;
    virtual HRESULT GetProperty(UINT property, LONG_PTR *value) = 0;
    virtual HRESULT SetProperty(UINT property, LONG_PTR value) = 0;
    // S_OK with the next node, S_FALSE at the end of the input, a failure HRESULT for bad input
    // (every later call returns the same failure).
    virtual HRESULT Read(XmlNodeType *nodeType) = 0;
    virtual HRESULT GetNodeType(XmlNodeType *nodeType) = 0;
    virtual HRESULT MoveToFirstAttribute() = 0;
    virtual HRESULT MoveToNextAttribute() = 0;
    virtual HRESULT MoveToElement() = 0;
    // The texts stay valid until the next Read or SetInput.
    virtual HRESULT GetLocalName(LPCWSTR *name, UINT *length) = 0;
    virtual HRESULT GetValue(LPCWSTR *value, UINT *length) = 0;
    virtual BOOL IsEmptyElement() = 0;
    virtual HRESULT GetDepth(UINT *depth) = 0;
    virtual BOOL IsEOF() = 0;
};
NYX_DECLARE_IID(IXmlReader, IID_IXmlReader)

using IXmlReaderInput = IUnknown;

HRESULT CreateXmlReader(REFIID riid, void **reader, IMalloc *malloc);
// Reads the stream from its position at SetInput; encodings "UTF-16" (little-endian) and "UTF-8".
HRESULT CreateXmlReaderInputWithEncodingName(IUnknown *stream, IMalloc *malloc, LPCWSTR encodingName,
                                             BOOL encodingHint, LPCWSTR baseUri, IXmlReaderInput **input);
