#include "foundation/Log.h"
#include "foundation/XmlTree.h"

#include <gtest/gtest.h>

using vtr::XmlNode;

namespace {

QVariantMap toDictionary(const char *xml)
{
    const std::optional<QVariantMap> dictionary = vtr::xmlDataToDictionary(QByteArray(xml));
    EXPECT_TRUE(dictionary.has_value()) << xml;
    return dictionary.value_or(QVariantMap());
}

QString attributesKey()
{
    return QString::fromLatin1(vtr::kXmlAttributesKey);
}

} // namespace

TEST(XmlToDictionary, ElementsTextAndRepeatedNames)
{
    const QVariantMap r = toDictionary("<r><a>1</a><a>2</a><b>x &amp; y</b></r>");
    EXPECT_EQ(r.value("a").toList(), (QVariantList{"1", "2"}));
    EXPECT_EQ(r.value("b").toString(), "x & y");
    EXPECT_EQ(r.size(), 2);

    // A third occurrence extends the list, in document order, also around other names.
    const QVariantMap three = toDictionary("<r><a>1</a><c/><a><x>2</x></a><a>3</a></r>");
    const QVariantList list = three.value("a").toList();
    ASSERT_EQ(list.size(), 3);
    EXPECT_EQ(list.at(0).toString(), "1");
    EXPECT_EQ(list.at(1).toMap().value("x").toString(), "2");
    EXPECT_EQ(list.at(2).toString(), "3");

    // An empty element is an empty text.
    const QVariantMap empty = toDictionary("<r><e/><f></f></r>");
    EXPECT_EQ(empty.value("e").typeId(), QMetaType::QString);
    EXPECT_EQ(empty.value("e").toString(), "");
    EXPECT_EQ(empty.value("f").toString(), "");

    // Text made of text, CDATA and entity references, in order.
    const QVariantMap mixed = toDictionary("<r><t>a&lt;<![CDATA[<b>]]>&gt;&quot;&apos;&#65;c</t></r>");
    EXPECT_EQ(mixed.value("t").toString(), "a<<b>>\"'Ac");
    // Whitespace between elements is no text; inside text it stays.
    const QVariantMap spaced = toDictionary("<r>\n  <a> x </a>\n  <b>\n    <c>1</c>\n  </b>\n</r>");
    EXPECT_EQ(spaced.value("a").toString(), " x ");
    EXPECT_EQ(spaced.value("b").toMap().value("c").toString(), "1");
}

TEST(XmlToDictionary, RootAndTextElements)
{
    // A root without child elements gives no dictionary.
    EXPECT_FALSE(vtr::xmlDataToDictionary("<r>text</r>").has_value());
    EXPECT_FALSE(vtr::xmlDataToDictionary("<r/>").has_value());
    EXPECT_FALSE(vtr::xmlDataToDictionary(QByteArray()).has_value());
    // An element with both text and child elements gives only its text.
    const QVariantMap r = toDictionary("<r><m>before<c>1</c>after</m></r>");
    EXPECT_EQ(r.value("m").toString(), "beforeafter");
    // Comments and processing instructions are neither text nor elements.
    const QVariantMap commented =
        toDictionary("<?xml version=\"1.0\"?><!-- c --><r><!-- x --><a>1<!--y-->2</a><?p d?></r>");
    EXPECT_EQ(commented.value("a").toString(), "12");
    // Names as written, prefixes included.
    EXPECT_EQ(toDictionary("<p:r><q:a>1</q:a></p:r>").value("q:a").toString(), "1");
    // An entity the document declares reads as its text; one it does not, as nothing.
    EXPECT_EQ(toDictionary("<!DOCTYPE r [<!ENTITY e \"E\">]><r><a>x&e;y</a></r>").value("a").toString(), "xEy");
    EXPECT_EQ(toDictionary("<r><a>x&unknown;y</a><b>&unknown;</b></r>").value("a").toString(), "xy");
}

TEST(XmlToDictionary, Attributes)
{
    const QVariantMap r = toDictionary("<r v=\"2\"><a k=\"1\" j='&lt;'><b>x</b></a><t k=\"lost\">text</t></r>");
    EXPECT_EQ(r.value(attributesKey()).toMap(), (QVariantMap{{"v", "2"}}));
    const QVariantMap a = r.value("a").toMap();
    EXPECT_EQ(a.value(attributesKey()).toMap(), (QVariantMap{{"k", "1"}, {"j", "<"}}));
    EXPECT_EQ(a.value("b").toString(), "x");
    // Attributes of a text element are not kept.
    EXPECT_EQ(r.value("t").toString(), "text");
    // No entry for an element without attributes.
    EXPECT_FALSE(toDictionary("<r><a/></r>").contains(attributesKey()));
}

TEST(XmlToDictionary, ParseErrors)
{
    QVariantMap error{{"stale", 1}};
    EXPECT_FALSE(vtr::xmlDataToDictionaryWithError("<r><a>1</b></r>", &error).has_value());
    EXPECT_FALSE(error.contains("stale"));
    EXPECT_FALSE(error.value("description").toString().isEmpty());
    EXPECT_EQ(error.value("line").toLongLong(), 1);
    EXPECT_GT(error.value("location").toLongLong(), 0);

    for (const char *bad : {"", "<r>", "<r></r><s/>", "no xml", "<r a=1/>"}) {
        error.clear();
        EXPECT_FALSE(vtr::xmlDataToDictionaryWithError(bad, &error).has_value()) << bad;
        EXPECT_TRUE(error.contains("description")) << bad;
    }
    // Success leaves the error dictionary empty.
    error = {{"stale", 1}};
    EXPECT_TRUE(vtr::xmlDataToDictionaryWithError("<r><a/></r>", &error).has_value());
    EXPECT_TRUE(error.isEmpty());
    EXPECT_TRUE(vtr::xmlDataToDictionaryWithError("<r><a/></r>", nullptr).has_value());

    // Entity expansion is bounded, and so is nesting.
    QByteArray laughs = "<!DOCTYPE r [<!ENTITY a \"aaaaaaaaaa\">";
    for (char c = 'b'; c <= 'j'; ++c)
        laughs += QByteArray("<!ENTITY ") + c + " \"" + QByteArray("&") + char(c - 1) + ";" + QByteArray("&") +
                  char(c - 1) + ";&" + char(c - 1) + ";&" + char(c - 1) + ";&" + char(c - 1) + ";\">";
    laughs += "]><r><x>&j;</x></r>";
    EXPECT_FALSE(vtr::xmlDataToDictionary(laughs).has_value());
    const QByteArray deep =
        QByteArray("<a>").repeated(vtr::kXmlMaxDepth + 1) + QByteArray("</a>").repeated(vtr::kXmlMaxDepth + 1);
    EXPECT_FALSE(vtr::xmlDataToDictionaryWithError(deep, &error).has_value());
    const QByteArray allowed =
        QByteArray("<a>").repeated(vtr::kXmlMaxDepth) + QByteArray("</a>").repeated(vtr::kXmlMaxDepth);
    EXPECT_TRUE(vtr::xmlDataToDictionary(allowed).has_value());
}

TEST(XmlFromDictionary, TextElementsUseEntities)
{
    const auto element = vtr::textElementToXMLTree("k", "a<b");
    ASSERT_EQ(element->children.size(), 3u);
    EXPECT_EQ(element->children[0]->type, XmlNode::Type::Text);
    EXPECT_EQ(element->children[0]->string, "a");
    EXPECT_EQ(element->children[1]->type, XmlNode::Type::EntityReference);
    EXPECT_EQ(element->children[1]->string, "lt");
    EXPECT_EQ(element->children[2]->string, "b");

    // A special character first, last and twice in a row.
    const auto edges = vtr::textElementToXMLTree("k", "&x\"'>");
    QStringList parts;
    for (const auto &child : edges->children)
        parts << (child->type == XmlNode::Type::EntityReference ? "&" + child->string : child->string);
    EXPECT_EQ(parts, (QStringList{"&amp", "x", "&quot", "&apos", "&gt", ""}));
    // The empty text is one empty text node.
    const auto empty = vtr::textElementToXMLTree("k", "");
    ASSERT_EQ(empty->children.size(), 1u);
    EXPECT_EQ(empty->children[0]->string, "");

    EXPECT_EQ(vtr::dictionaryToXMLData(QVariantMap{{"k", "a<b"}}, "r"), "<r><k>a&lt;b</k></r>");
}

TEST(XmlFromDictionary, ValuesAndAttributes)
{
    QStringList logged;
    LogSetSystemLogSink([&](const QString &m) { logged << m; });
    const QVariantMap dictionary{
        {attributesKey(), QVariantMap{{"id", "7"}, {"q", "a\"b"}}},
        {"n", 42},
        {"d", 0.5},
        {"flag", true},
        {"child", QVariantMap{{"x", "1"}}},
        {"list", QVariantList{"a", QVariantMap{{"y", "2"}}, 3}},
        {"bytes", QByteArray("raw")},
    };
    const QByteArray xml = vtr::dictionaryToXMLData(dictionary, "root");
    LogSetSystemLogSink({});
    EXPECT_EQ(xml, "<root id=\"7\" q=\"a&quot;b\"><child><x>1</x></child><d>0.5</d><flag>1</flag>"
                   "<list>a</list><list><y>2</y></list><n>42</n></root>");
    ASSERT_EQ(logged.size(), 2);
    EXPECT_TRUE(logged.at(0).startsWith("Class is ")) << logged.at(0).toStdString();
    EXPECT_TRUE(logged.at(1).startsWith("Class in array is ")) << logged.at(1).toStdString();

    // Given attributes take the place of the dictionary's own.
    const auto tree = vtr::objectToXMLTree(dictionary, "r", QVariantMap{{"z", "1"}});
    ASSERT_EQ(tree->attributes.size(), 1);
    EXPECT_EQ(tree->attributes.at(0).first, "z");

    // Read back, the same dictionary (less what XML cannot say).
    const QVariantMap back = vtr::xmlDataToDictionary(xml).value();
    EXPECT_EQ(back.value(attributesKey()).toMap(), (QVariantMap{{"id", "7"}, {"q", "a\"b"}}));
    EXPECT_EQ(back.value("n").toString(), "42");
    EXPECT_EQ(back.value("list").toList().size(), 2);
}

TEST(XmlFromDictionary, RefusesWhatXmlCannotCarry)
{
    EXPECT_TRUE(vtr::dictionaryToXMLData(QVariantMap{{"a b", "x"}}, "r").isNull());
    EXPECT_TRUE(vtr::dictionaryToXMLData(QVariantMap{{"1a", "x"}}, "r").isNull());
    EXPECT_TRUE(vtr::dictionaryToXMLData(QVariantMap{{"k", "x"}}, "").isNull());
    EXPECT_TRUE(vtr::dictionaryToXMLData(QVariantMap{{"k", QString("a") + QChar(1)}}, "r").isNull());
    EXPECT_TRUE(vtr::dictionaryToXMLData(QVariantMap{{"k", QString(QChar(0xD800))}}, "r").isNull());
    EXPECT_TRUE(
        vtr::dictionaryToXMLData(QVariantMap{{attributesKey(), QVariantMap{{"bad name", "1"}}}, {"k", "x"}}, "r")
            .isNull());
    // What it can carry comes back unchanged.
    const QString text = QString::fromUtf8("tab\there\nline \xC3\xA9 \xF0\x9F\x98\x80 ]]> \r");
    const QByteArray xml = vtr::dictionaryToXMLData(QVariantMap{{"k", text}, {"e", ""}}, "r");
    ASSERT_FALSE(xml.isNull());
    EXPECT_EQ(vtr::xmlDataToDictionary(xml).value().value("k").toString(), text);
    EXPECT_TRUE(xml.contains("<e></e>"));

    // Other node kinds are written in their own syntax.
    XmlNode document(XmlNode::Type::Document);
    XmlNode *root = document.appendChild(std::make_unique<XmlNode>(XmlNode::Type::Element, "r"));
    root->appendChild(std::make_unique<XmlNode>(XmlNode::Type::CDATASection, "a]]>b"));
    root->appendChild(std::make_unique<XmlNode>(XmlNode::Type::Comment, " c "));
    auto empty = std::make_unique<XmlNode>(XmlNode::Type::Element, "e");
    empty->isEmpty = true;
    root->appendChild(std::move(empty));
    EXPECT_EQ(vtr::xmlTreeToData(document), "<r><![CDATA[a]]]]><![CDATA[>b]]><!-- c --><e/></r>");
    const auto parsed = vtr::xmlParseTree(vtr::xmlTreeToData(document));
    ASSERT_TRUE(parsed);
    QVariantMap holder;
    vtr::xmlTreeToObject(*parsed, &holder);
    EXPECT_EQ(holder.value("r").toMap().value("e").toString(), "");
    root->appendChild(std::make_unique<XmlNode>(XmlNode::Type::Comment, "a--b"));
    EXPECT_TRUE(vtr::xmlTreeToData(document).isNull());
}

TEST(XmlTreeToObject, NodesAndParents)
{
    const auto tree = vtr::xmlParseTree("<r><a>1</a></r>");
    ASSERT_TRUE(tree);
    EXPECT_EQ(tree->type, XmlNode::Type::Document);
    // With a parent, the root itself is added to it.
    QVariantMap parent;
    const QVariant root = vtr::xmlTreeToObject(*tree, &parent);
    EXPECT_EQ(root.toMap().value("a").toString(), "1");
    EXPECT_EQ(parent.value("r"), root);

    EXPECT_EQ(vtr::xmlTreeToObject(XmlNode(XmlNode::Type::EntityReference, "nbsp"), nullptr).toString(), "");
    EXPECT_EQ(vtr::xmlTreeToObject(XmlNode(XmlNode::Type::EntityReference, "amp"), nullptr).toString(), "&");
    EXPECT_FALSE(vtr::xmlTreeToObject(XmlNode(XmlNode::Type::Whitespace, " "), nullptr).isValid());
    EXPECT_FALSE(vtr::xmlTreeToObject(XmlNode(XmlNode::Type::Document), nullptr).isValid());

    // A whitespace-only element holds no text: an empty dictionary.
    EXPECT_EQ(toDictionary("<r><a> </a></r>").value("a").toMap(), QVariantMap());
}

TEST(XmlHelpers, BracketsAndAddObject)
{
    EXPECT_FALSE(vtr::xmlBracketsBalanced("<a>b>"));
    EXPECT_TRUE(vtr::xmlBracketsBalanced("<a></a>"));
    EXPECT_TRUE(vtr::xmlBracketsBalanced(QByteArray()));
    EXPECT_TRUE(vtr::xmlBracketsBalanced("><"));

    QVariantMap d;
    vtr::addXMLObject(d, "1", "k");
    EXPECT_EQ(d.value("k").toString(), "1");
    vtr::addXMLObject(d, "2", "k");
    EXPECT_EQ(d.value("k").toList(), (QVariantList{"1", "2"}));
    vtr::addXMLObject(d, QVariantMap{{"x", 1}}, "k");
    EXPECT_EQ(d.value("k").toList().size(), 3);
    vtr::addXMLObject(d, "other", "j");
    EXPECT_EQ(d.size(), 2);
}
