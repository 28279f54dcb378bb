#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QVariant>
#include <QVariantMap>

#include <memory>
#include <optional>
#include <vector>

// XML documents as nested dictionaries, arrays and strings, and back.
//
// A parse-tree dictionary holds an element's child elements under their
// names: a child with child elements of its own as a QVariantMap, any other
// child as a QString (its text); a name that occurs more than once holds a
// QVariantList of the values in document order. The element's attributes
// (name -> value) are kept under "Vantrel_Attributes" when it has any.

namespace vtr {

inline constexpr const char kXmlAttributesKey[] = "Vantrel_Attributes";

// A node of a parsed or built XML tree.
struct XmlNode
{
    enum class Type {
        Document,
        Element,
        Text,
        CDATASection,
        EntityReference,
        Whitespace,
        Comment,
        ProcessingInstruction,
    };

    Type type = Type::Element;
    // Element: its qualified name; entity reference: the entity's name;
    // processing instruction: its target; every other node: its text.
    QString string;
    // Processing instruction: its data.
    QString data;
    // Element attributes in document (or given) order.
    QList<QPair<QString, QString>> attributes;
    // An element without children is written as "<name/>" only when this is set.
    bool isEmpty = false;
    std::vector<std::unique_ptr<XmlNode>> children;

    explicit XmlNode(Type t, QString s = QString()) : type(t), string(std::move(s)) {}
    XmlNode *appendChild(std::unique_ptr<XmlNode> child);
    // The attributes as a dictionary.
    QVariantMap attributeDictionary() const;
};

// The tree of an XML document (a Document node), or nullptr when the data does
// not parse; then `error` (when given) receives "description" (text), "line",
// "column" and "location" (character offset) of the failure. Entities the
// document does not declare read as empty text. Nesting deeper than
// kXmlMaxDepth elements is refused.
inline constexpr int kXmlMaxDepth = 1024;
std::unique_ptr<XmlNode> xmlParseTree(const QByteArray &data, QVariantMap *error = nullptr);

// The XML text (UTF-8, no declaration) of a tree; a null QByteArray when the
// tree holds a name that is no XML name or text with characters that XML
// cannot carry.
QByteArray xmlTreeToData(const XmlNode &node);

// The root element's parse-tree dictionary; nullopt for null data, for data
// that does not parse and for a root element without child elements.
std::optional<QVariantMap> xmlDataToDictionary(const QByteArray &data);
// The same; when the data does not parse, `error` (cleared first) receives the
// parser's error dictionary (see xmlParseTree).
std::optional<QVariantMap> xmlDataToDictionaryWithError(const QByteArray &data, QVariantMap *error);

// XML text of `dictionary` as the element `rootName`; a null QByteArray when
// the tree or the text cannot be made.
QByteArray dictionaryToXMLData(const QVariantMap &dictionary, const QString &rootName);

// The element `name` for a dictionary. Attributes are `attributes` when given,
// else the dictionary's own "Vantrel_Attributes" entry. Numbers are written as
// their text, strings as text elements, dictionaries as elements, arrays as
// one element per item (dictionaries and strings; other items are logged and
// skipped); any other value is logged and skipped.
std::unique_ptr<XmlNode> objectToXMLTree(const QVariantMap &dictionary, const QString &name,
                                         const std::optional<QVariantMap> &attributes = std::nullopt);

// Converts a node. An element with child elements (and no text) becomes a
// dictionary that is added to `parent` under its name and returned; a text
// element adds its text to `parent` and answers an invalid QVariant. Text,
// CDATA and entity references answer their text; a document continues with its
// first element; every other node answers an invalid QVariant.
QVariant xmlTreeToObject(const XmlNode &node, QVariantMap *parent);

// The element `name` whose children carry `text`, with <, >, &, ' and " as
// entity references.
std::unique_ptr<XmlNode> textElementToXMLTree(const QString &name, const QString &text);

// True when the data holds as many '<' bytes as '>' bytes.
bool xmlBracketsBalanced(const QByteArray &data);

// Stores `value` under `key`; a second value turns the entry into a list of
// both, further values are appended to that list.
void addXMLObject(QVariantMap &dictionary, const QVariant &value, const QString &key);

} // namespace vtr
