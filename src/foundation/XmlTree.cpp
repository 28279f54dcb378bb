#include "foundation/XmlTree.h"

#include "foundation/Log.h"

#include <QLocale>
#include <QXmlStreamEntityResolver>
#include <QXmlStreamReader>

namespace vtr {

// ---------------------------------------------------------------------------
// Nodes

XmlNode *XmlNode::appendChild(std::unique_ptr<XmlNode> child)
{
    children.push_back(std::move(child));
    return children.back().get();
}

QVariantMap XmlNode::attributeDictionary() const
{
    QVariantMap dictionary;
    for (const auto &attribute : attributes)
        dictionary.insert(attribute.first, attribute.second);
    return dictionary;
}

// ---------------------------------------------------------------------------
// Reading

namespace {

// Entities that the document does not declare read as empty text, as an
// unknown entity reference converts to the empty string.
class EmptyEntityResolver : public QXmlStreamEntityResolver
{
public:
    QString resolveUndeclaredEntity(const QString &) override { return QStringLiteral(""); }
};

} // namespace

std::unique_ptr<XmlNode> xmlParseTree(const QByteArray &data, QVariantMap *error)
{
    if (error) error->clear();
    auto document = std::make_unique<XmlNode>(XmlNode::Type::Document);
    std::vector<XmlNode *> open{document.get()};

    QXmlStreamReader reader(data);
    // Names are taken as written ("a:b"); prefixes need no declaration.
    reader.setNamespaceProcessing(false);
    EmptyEntityResolver resolver;
    reader.setEntityResolver(&resolver);

    while (!reader.atEnd()) {
        switch (reader.readNext()) {
        case QXmlStreamReader::StartElement: {
            if (int(open.size()) > kXmlMaxDepth) {
                reader.raiseError(QStringLiteral("Elements nested too deep"));
                break;
            }
            auto element = std::make_unique<XmlNode>(XmlNode::Type::Element, reader.qualifiedName().toString());
            const QXmlStreamAttributes attributes = reader.attributes();
            for (const QXmlStreamAttribute &attribute : attributes)
                element->attributes.append({attribute.qualifiedName().toString(), attribute.value().toString()});
            open.push_back(open.back()->appendChild(std::move(element)));
            break;
        }
        case QXmlStreamReader::EndElement:
            if (open.size() > 1) open.pop_back();
            break;
        case QXmlStreamReader::Characters: {
            const XmlNode::Type type = reader.isCDATA()        ? XmlNode::Type::CDATASection
                                       : reader.isWhitespace() ? XmlNode::Type::Whitespace
                                                               : XmlNode::Type::Text;
            open.back()->appendChild(std::make_unique<XmlNode>(type, reader.text().toString()));
            break;
        }
        case QXmlStreamReader::EntityReference:
            open.back()->appendChild(
                std::make_unique<XmlNode>(XmlNode::Type::EntityReference, reader.name().toString()));
            break;
        case QXmlStreamReader::Comment:
            open.back()->appendChild(std::make_unique<XmlNode>(XmlNode::Type::Comment, reader.text().toString()));
            break;
        case QXmlStreamReader::ProcessingInstruction: {
            auto pi = std::make_unique<XmlNode>(XmlNode::Type::ProcessingInstruction,
                                                reader.processingInstructionTarget().toString());
            pi->data = reader.processingInstructionData().toString();
            open.back()->appendChild(std::move(pi));
            break;
        }
        default:
            break;
        }
    }
    if (reader.hasError()) {
        if (error) {
            error->insert(QStringLiteral("description"), reader.errorString());
            error->insert(QStringLiteral("line"), reader.lineNumber());
            error->insert(QStringLiteral("column"), reader.columnNumber());
            error->insert(QStringLiteral("location"), reader.characterOffset());
        }
        return nullptr;
    }
    return document;
}

// ---------------------------------------------------------------------------
// Writing

namespace {

bool isNameStart(char32_t c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':' || (c >= 0xC0 && c <= 0xD6) ||
           (c >= 0xD8 && c <= 0xF6) || (c >= 0xF8 && c <= 0x2FF) || (c >= 0x370 && c <= 0x37D) ||
           (c >= 0x37F && c <= 0x1FFF) || (c >= 0x200C && c <= 0x200D) || (c >= 0x2070 && c <= 0x218F) ||
           (c >= 0x2C00 && c <= 0x2FEF) || (c >= 0x3001 && c <= 0xD7FF) || (c >= 0xF900 && c <= 0xFDCF) ||
           (c >= 0xFDF0 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0xEFFFF);
}

bool isNameChar(char32_t c)
{
    return isNameStart(c) || c == '-' || c == '.' || (c >= '0' && c <= '9') || c == 0xB7 ||
           (c >= 0x300 && c <= 0x36F) || (c >= 0x203F && c <= 0x2040);
}

bool isXmlName(const QString &name)
{
    if (name.isEmpty()) return false;
    const QList<uint> codePoints = name.toUcs4();
    if (codePoints.size() == 0 || !isNameStart(codePoints.constFirst())) return false;
    for (uint c : codePoints) {
        if (!isNameChar(c)) return false;
    }
    // toUcs4 turns a lone surrogate into U+FFFD; a name must not hold one.
    return QString::fromUcs4(reinterpret_cast<const char32_t *>(codePoints.constData()), codePoints.size()) == name;
}

// Characters that XML 1.0 can carry; lone surrogates cannot be written.
bool isXmlText(const QString &text)
{
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t u = text.at(i).unicode();
        if (u < 0x20) {
            if (u != '\t' && u != '\n' && u != '\r') return false;
        } else if (QChar::isHighSurrogate(u)) {
            if (i + 1 >= n || !QChar::isLowSurrogate(text.at(i + 1).unicode())) return false;
            ++i;
        } else if (QChar::isLowSurrogate(u) || u == 0xFFFE || u == 0xFFFF) {
            return false;
        }
    }
    return true;
}

QString escapeText(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar ch : text) {
        switch (ch.unicode()) {
        case '&':
            out += QLatin1StringView("&amp;");
            break;
        case '<':
            out += QLatin1StringView("&lt;");
            break;
        case '>':
            out += QLatin1StringView("&gt;");
            break;
        case '\r':
            out += QLatin1StringView("&#13;");
            break;
        default:
            out += ch;
        }
    }
    return out;
}

QString escapeAttribute(const QString &text)
{
    QString out = escapeText(text);
    out.replace(QLatin1Char('"'), QLatin1StringView("&quot;"));
    out.replace(QLatin1Char('\t'), QLatin1StringView("&#9;"));
    out.replace(QLatin1Char('\n'), QLatin1StringView("&#10;"));
    return out;
}

bool writeNode(const XmlNode &node, QString &out, int depth)
{
    if (depth > kXmlMaxDepth) return false;
    switch (node.type) {
    case XmlNode::Type::Document:
        for (const auto &child : node.children) {
            if (!writeNode(*child, out, depth + 1)) return false;
        }
        return true;
    case XmlNode::Type::Element:
        if (!isXmlName(node.string)) return false;
        out += QLatin1Char('<') + node.string;
        for (const auto &attribute : node.attributes) {
            if (!isXmlName(attribute.first) || !isXmlText(attribute.second)) return false;
            out += QLatin1Char(' ') + attribute.first + QLatin1StringView("=\"") + escapeAttribute(attribute.second) +
                   QLatin1Char('"');
        }
        if (node.isEmpty && node.children.empty()) {
            out += QLatin1StringView("/>");
            return true;
        }
        out += QLatin1Char('>');
        for (const auto &child : node.children) {
            if (!writeNode(*child, out, depth + 1)) return false;
        }
        out += QLatin1StringView("</") + node.string + QLatin1Char('>');
        return true;
    case XmlNode::Type::Text:
    case XmlNode::Type::Whitespace:
        if (!isXmlText(node.string)) return false;
        out += escapeText(node.string);
        return true;
    case XmlNode::Type::CDATASection: {
        if (!isXmlText(node.string)) return false;
        // "]]>" cannot stand inside a section: close and reopen around it.
        QString text = node.string;
        text.replace(QLatin1StringView("]]>"), QLatin1StringView("]]]]><![CDATA[>"));
        out += QLatin1StringView("<![CDATA[") + text + QLatin1StringView("]]>");
        return true;
    }
    case XmlNode::Type::EntityReference:
        if (!isXmlName(node.string)) return false;
        out += QLatin1Char('&') + node.string + QLatin1Char(';');
        return true;
    case XmlNode::Type::Comment:
        if (!isXmlText(node.string) || node.string.contains(QLatin1StringView("--")) ||
            node.string.endsWith(QLatin1Char('-')))
            return false;
        out += QLatin1StringView("<!--") + node.string + QLatin1StringView("-->");
        return true;
    case XmlNode::Type::ProcessingInstruction:
        if (!isXmlName(node.string) || node.string.compare(QLatin1StringView("xml"), Qt::CaseInsensitive) == 0 ||
            !isXmlText(node.data) || node.data.contains(QLatin1StringView("?>")))
            return false;
        out += QLatin1StringView("<?") + node.string;
        if (!node.data.isEmpty()) out += QLatin1Char(' ') + node.data;
        out += QLatin1StringView("?>");
        return true;
    }
    return false;
}

bool isNumber(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::Bool:
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UChar:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Float:
    case QMetaType::Double:
        return true;
    default:
        return false;
    }
}

// A number's own text: digits for integers and booleans (1 and 0), the
// shortest exact form for the others.
QString numberText(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::Bool:
        return value.toBool() ? QStringLiteral("1") : QStringLiteral("0");
    case QMetaType::Float:
    case QMetaType::Double:
        return QString::number(value.toDouble(), 'g', QLocale::FloatingPointShortest);
    case QMetaType::UInt:
    case QMetaType::ULong:
    case QMetaType::ULongLong:
    case QMetaType::UChar:
    case QMetaType::UShort:
        return QString::number(value.toULongLong());
    default:
        return QString::number(value.toLongLong());
    }
}

} // namespace

QByteArray xmlTreeToData(const XmlNode &node)
{
    QString text;
    if (!writeNode(node, text, 0)) return QByteArray();
    QByteArray data = text.toUtf8();
    if (data.isNull()) data = QByteArray("");
    return data;
}

// ---------------------------------------------------------------------------
// Dictionaries

void addXMLObject(QVariantMap &dictionary, const QVariant &value, const QString &key)
{
    auto it = dictionary.find(key);
    if (it == dictionary.end()) {
        dictionary.insert(key, value);
    } else if (it->typeId() == QMetaType::QVariantList) {
        QVariantList list = it->toList();
        *it = QVariant(); // keep the list unshared while it grows
        list.append(value);
        *it = std::move(list);
    } else {
        *it = QVariantList{*it, value};
    }
}

QVariant xmlTreeToObject(const XmlNode &node, QVariantMap *parent)
{
    switch (node.type) {
    case XmlNode::Type::Document:
        for (const auto &child : node.children) {
            if (child->type == XmlNode::Type::Element) return xmlTreeToObject(*child, parent);
        }
        return QVariant();
    case XmlNode::Type::Text:
    case XmlNode::Type::CDATASection:
        return node.string;
    case XmlNode::Type::EntityReference: {
        const QString &name = node.string;
        if (name == QLatin1StringView("gt")) return QStringLiteral(">");
        if (name == QLatin1StringView("lt")) return QStringLiteral("<");
        if (name == QLatin1StringView("amp")) return QStringLiteral("&");
        if (name == QLatin1StringView("quot")) return QStringLiteral("\"");
        if (name == QLatin1StringView("apos")) return QStringLiteral("'");
        return QStringLiteral("");
    }
    case XmlNode::Type::Element:
        break;
    default:
        return QVariant();
    }

    QVariantMap dictionary;
    QString text = QStringLiteral("");
    bool hasText = false;
    for (const auto &child : node.children) {
        const QVariant value = xmlTreeToObject(*child, &dictionary);
        if (value.typeId() == QMetaType::QString) {
            text += value.toString();
            hasText = true;
        }
    }
    if (node.children.empty() || hasText) {
        if (parent) addXMLObject(*parent, text, node.string);
        return QVariant();
    }
    if (!node.attributes.isEmpty())
        dictionary.insert(QString::fromLatin1(kXmlAttributesKey), node.attributeDictionary());
    if (parent) addXMLObject(*parent, dictionary, node.string);
    return dictionary;
}

std::optional<QVariantMap> xmlDataToDictionaryWithError(const QByteArray &data, QVariantMap *error)
{
    if (error) error->clear();
    if (data.isNull()) return std::nullopt;
    const std::unique_ptr<XmlNode> tree = xmlParseTree(data, error);
    if (!tree) return std::nullopt;
    const QVariant value = xmlTreeToObject(*tree, nullptr);
    if (value.typeId() != QMetaType::QVariantMap) return std::nullopt;
    return value.toMap();
}

std::optional<QVariantMap> xmlDataToDictionary(const QByteArray &data)
{
    return xmlDataToDictionaryWithError(data, nullptr);
}

std::unique_ptr<XmlNode> textElementToXMLTree(const QString &name, const QString &text)
{
    auto element = std::make_unique<XmlNode>(XmlNode::Type::Element, name);
    qsizetype from = 0;
    for (;;) {
        qsizetype at = from;
        const char *entity = nullptr;
        for (; at < text.size(); ++at) {
            switch (text.at(at).unicode()) {
            case '<':
                entity = "lt";
                break;
            case '>':
                entity = "gt";
                break;
            case '&':
                entity = "amp";
                break;
            case '\'':
                entity = "apos";
                break;
            case '"':
                entity = "quot";
                break;
            default:
                continue;
            }
            break;
        }
        if (!entity) {
            // The rest of the text, also when it is empty.
            element->appendChild(std::make_unique<XmlNode>(XmlNode::Type::Text, text.mid(from)));
            return element;
        }
        if (at > from) element->appendChild(std::make_unique<XmlNode>(XmlNode::Type::Text, text.mid(from, at - from)));
        element->appendChild(std::make_unique<XmlNode>(XmlNode::Type::EntityReference, QString::fromLatin1(entity)));
        from = at + 1;
    }
}

std::unique_ptr<XmlNode> objectToXMLTree(const QVariantMap &dictionary, const QString &name,
                                         const std::optional<QVariantMap> &attributes)
{
    const QString attributesKey = QString::fromLatin1(kXmlAttributesKey);
    auto element = std::make_unique<XmlNode>(XmlNode::Type::Element, name);
    const QVariantMap attributeDictionary = attributes ? *attributes : dictionary.value(attributesKey).toMap();
    for (auto it = attributeDictionary.cbegin(); it != attributeDictionary.cend(); ++it)
        element->attributes.append({it.key(), it.value().toString()});

    for (auto it = dictionary.cbegin(); it != dictionary.cend(); ++it) {
        if (it.key() == attributesKey) continue;
        const QVariant &value = it.value();
        if (isNumber(value)) {
            element->appendChild(textElementToXMLTree(it.key(), numberText(value)));
        } else if (value.typeId() == QMetaType::QString) {
            element->appendChild(textElementToXMLTree(it.key(), value.toString()));
        } else if (value.typeId() == QMetaType::QVariantMap) {
            element->appendChild(objectToXMLTree(value.toMap(), it.key()));
        } else if (value.typeId() == QMetaType::QVariantList || value.typeId() == QMetaType::QStringList) {
            const QVariantList items = value.toList();
            for (const QVariant &item : items) {
                if (item.typeId() == QMetaType::QVariantMap) {
                    element->appendChild(objectToXMLTree(item.toMap(), it.key()));
                } else if (item.typeId() == QMetaType::QString) {
                    element->appendChild(textElementToXMLTree(it.key(), item.toString()));
                } else {
                    VtrDebugLog(QStringLiteral("Class in array is %1").arg(LogDescription(value)));
                }
            }
        } else {
            VtrDebugLog(QStringLiteral("Class is %1").arg(LogDescription(value)));
        }
    }
    return element;
}

QByteArray dictionaryToXMLData(const QVariantMap &dictionary, const QString &rootName)
{
    const std::unique_ptr<XmlNode> tree = objectToXMLTree(dictionary, rootName);
    if (!tree) return QByteArray();
    return xmlTreeToData(*tree);
}

bool xmlBracketsBalanced(const QByteArray &data)
{
    return data.count('<') == data.count('>');
}

} // namespace vtr
