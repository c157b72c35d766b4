#include "xmlnode.h"

#include "refereetext.h"

XmlAttribute::XmlAttribute(const QString &name, const QString &text) : name(name), text(text)
{
    replaceAll(this->text, QStringLiteral("&gt;"), QStringLiteral(">"));
}

XmlNode::XmlNode(const QString &name, XmlNode *parent, XmlDocument *document, int sequence)
    : m_name(name), m_parent(parent), m_document(document), m_sequence(sequence)
{
}

XmlNode::~XmlNode()
{
    clearNode();
}

void XmlNode::clearNode()
{
    // Last to first, as they were made.
    while (!m_children.empty())
        m_children.pop_back();
    while (!m_attributes.empty())
        m_attributes.pop_back();
    m_name.clear();
    m_text.clear();
}

QString XmlNode::text() const
{
    QString result = m_text;
    replaceAll(result, QStringLiteral("&gt;"), QStringLiteral(">"));
    return result;
}

QString XmlNode::textOf(const XmlNode *node)
{
    return node ? node->text() : QString();
}

const XmlNode *XmlNode::findChild(const QString &name) const
{
    for (const auto &child : m_children) {
        if (child->m_name == name)
            return child.get();
    }
    return nullptr;
}

const XmlAttribute *XmlNode::findAttribute(const QString &name) const
{
    for (const auto &attribute : m_attributes) {
        if (attribute->name == name)
            return attribute.get();
    }
    return nullptr;
}

QString XmlNode::attributeText(const QString &name) const
{
    const XmlAttribute *attribute = findAttribute(name);
    if (!attribute)
        return QString();
    QString result = attribute->text;
    replaceAll(result, QStringLiteral("&gt;"), QStringLiteral(">"));
    return result;
}

bool XmlNode::decimalAttribute(const QString &name, std::int32_t &value) const
{
    const XmlAttribute *attribute = findAttribute(name);
    if (!attribute)
        return false;
    value = parseDecimalText(attribute->text);
    return true;
}

bool XmlNode::hexAttribute(const QString &name, std::uint32_t &value) const
{
    const XmlAttribute *attribute = findAttribute(name);
    if (!attribute)
        return false;
    value = parseHexText(attribute->text);
    return true;
}
