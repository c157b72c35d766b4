#pragma once
// One element of a parsed referee answer, with its attributes and child elements.

#include <QString>
#include <cstdint>
#include <memory>
#include <vector>

class XmlDocument;

struct XmlAttribute
{
    XmlAttribute(const QString &name, const QString &text);

    QString name;
    QString text; // "&gt;" already replaced
};

class XmlNode
{
public:
    XmlNode() = default;
    XmlNode(const QString &name, XmlNode *parent, XmlDocument *document, int sequence);
    virtual ~XmlNode();
    XmlNode(const XmlNode &) = delete;
    XmlNode &operator=(const XmlNode &) = delete;

    const QString &name() const { return m_name; }
    // The text as read; text() replaces "&gt;".
    const QString &rawText() const { return m_text; }
    QString text() const;
    // The text of node, empty for no node.
    static QString textOf(const XmlNode *node);
    XmlNode *parent() const { return m_parent; }
    XmlDocument *document() const { return m_document; }
    int sequence() const { return m_sequence; }
    const std::vector<std::unique_ptr<XmlAttribute>> &attributes() const { return m_attributes; }
    const std::vector<std::unique_ptr<XmlNode>> &children() const { return m_children; }

    const XmlNode *findChild(const QString &name) const;
    const XmlAttribute *findAttribute(const QString &name) const;
    QString attributeText(const QString &name) const;
    // Leave value untouched and return false when the attribute is missing.
    bool decimalAttribute(const QString &name, std::int32_t &value) const;
    bool hexAttribute(const QString &name, std::uint32_t &value) const;

protected:
    void clearNode();

private:
    friend class XmlDocument;

    QString m_name;
    QString m_text;
    XmlNode *m_parent = nullptr;
    XmlDocument *m_document = nullptr;
    int m_sequence = 0;
    std::vector<std::unique_ptr<XmlAttribute>> m_attributes;
    std::vector<std::unique_ptr<XmlNode>> m_children;
};
