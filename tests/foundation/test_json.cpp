#include "TestEnvironment.h"
#include "foundation/Json.h"
#include "foundation/Log.h"

#include <QObject>
#include <QProcess>
#include <QStandardPaths>

#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <limits>
#include <random>

namespace {

// The innermost and the outermost error of the trace. An empty trace, the
// fault a test may meet, gives an empty error instead of ending the program.
QorJsonError innermost(const QorJsonBase &base)
{
    return base.errorTrace().isEmpty() ? QorJsonError{} : base.errorTrace().constFirst();
}

QorJsonError outermost(const QorJsonBase &base)
{
    return base.errorTrace().isEmpty() ? QorJsonError{} : base.errorTrace().constLast();
}

// Parses as a fragment (UTF-16 entry) and checks that the UTF-8 entry agrees.
QVariant parseFragment(const QString &text, QorJsonParser &parser)
{
    QVariant value = parser.fragmentWithString(text);
    const QList<QorJsonError> trace = parser.errorTrace();
    QorJsonParser utf8Parser;
    const QByteArray utf8 = text.toUtf8();
    const QVariant fromUtf8 = utf8Parser.fragmentWithUtf8(utf8);
    EXPECT_EQ(value.isValid(), fromUtf8.isValid()) << text.toStdString();
    EXPECT_EQ(trace.size(), utf8Parser.errorTrace().size()) << text.toStdString();
    if (!trace.isEmpty() && !utf8Parser.errorTrace().isEmpty()) {
        EXPECT_EQ(trace.constLast().description, outermost(utf8Parser).description);
    }
    return value;
}

// The outermost error of a failed fragment parse ("" when it succeeded).
QString failure(const QString &text, unsigned int *code = nullptr)
{
    QorJsonParser parser;
    if (parseFragment(text, parser).isValid()) return QString();
    EXPECT_FALSE(parser.errorTrace().isEmpty());
    if (code) *code = outermost(parser).code;
    return outermost(parser).description;
}

QVariant fragment(const QString &text)
{
    QorJsonParser parser;
    const QVariant value = parseFragment(text, parser);
    EXPECT_TRUE(value.isValid()) << text.toStdString() << " "
                                 << (parser.errorTrace().isEmpty()
                                         ? std::string()
                                         : outermost(parser).description.toStdString());
    return value;
}

QStringList traceTexts(const QorJsonBase &base)
{
    QStringList texts;
    for (const QorJsonError &e : base.errorTrace())
        texts << e.description;
    return texts;
}

// Equality that keeps integers and doubles apart and tells -0.0 from 0.0.
bool sameJson(const QVariant &a, const QVariant &b)
{
    if (a.typeId() != b.typeId()) return false;
    switch (a.typeId()) {
    case QMetaType::QVariantMap: {
        const QVariantMap ma = a.toMap(), mb = b.toMap();
        if (ma.size() != mb.size()) return false;
        for (auto ia = ma.cbegin(), ib = mb.cbegin(); ia != ma.cend(); ++ia, ++ib) {
            if (ia.key() != ib.key() || !sameJson(ia.value(), ib.value())) return false;
        }
        return true;
    }
    case QMetaType::QVariantList: {
        const QVariantList la = a.toList(), lb = b.toList();
        if (la.size() != lb.size()) return false;
        for (qsizetype i = 0; i < la.size(); ++i) {
            if (!sameJson(la.at(i), lb.at(i))) return false;
        }
        return true;
    }
    case QMetaType::Double:
        return a.toDouble() == b.toDouble() && std::signbit(a.toDouble()) == std::signbit(b.toDouble());
    case QMetaType::Nullptr:
        return true;
    default:
        return a == b;
    }
}

QString nested(int depth, const QString &open, const QString &close, const QString &inner = QString())
{
    return open.repeated(depth) + inner + close.repeated(depth);
}

} // namespace

// ---------------------------------------------------------------------------
// Reading

// Random round trips below cover ordinary values; these are the edges.
TEST(JsonParser, ValueTypes)
{
    EXPECT_EQ(fragment("-0").typeId(), QMetaType::LongLong);
    EXPECT_EQ(fragment("-9223372036854775808").toLongLong(), std::numeric_limits<qint64>::min());
    // Integers are exact: this one has no double of its own.
    EXPECT_EQ(fragment("9007199254740993").toLongLong(), 9007199254740993LL);
    // Unsigned 64-bit values stay exact; beyond them only a double can hold it.
    EXPECT_EQ(fragment("9223372036854775808").typeId(), QMetaType::ULongLong);
    EXPECT_EQ(fragment("18446744073709551615").toULongLong(), std::numeric_limits<quint64>::max());
    EXPECT_EQ(vtr::JSONFragment(fragment("18446744073709551615")), "18446744073709551615");
    EXPECT_EQ(fragment("18446744073709551616").typeId(), QMetaType::Double);
    EXPECT_EQ(fragment("184467440737095516150").toDouble(), 1.8446744073709552e20);
    EXPECT_EQ(fragment("-9223372036854775809").toDouble(), -9223372036854775809.0);
    EXPECT_EQ(fragment("123456789012345678901234567890").toDouble(), 1.2345678901234568e29);
    EXPECT_EQ(fragment("1e5").typeId(), QMetaType::Double);
    EXPECT_EQ(fragment("1E-5").toDouble(), 1e-5);
    // A long token converts from the input in place (and from UTF-16 through a buffer).
    EXPECT_DOUBLE_EQ(fragment("1." + QString(300, '0') + "1").toDouble(), 1.0);
    EXPECT_FALSE(fragment(" false ").toBool());
    EXPECT_TRUE(vtr::isJsonNull(fragment("null")));
    EXPECT_FALSE(vtr::isJsonNull(QVariant()));
    EXPECT_FALSE(fragment("\"\"").toString().isNull());
}

// Each refused text names its fault in the outermost error (and its code where given).
TEST(JsonParser, RefusedTextsNameTheirFault)
{
    const struct
    {
        QString text;
        const char *message;
        unsigned int code = 0;
    } cases[] = {
        {"", "Unexpected end of string", 11},
        {" \t\n\r\v\f", "Unexpected end of string"},
        {"[1] x", "Garbage after JSON", 10},
        {"trueX", "Garbage after JSON"},
        // Bytes from 0x80 up are not whitespace (a no-break space, a byte-order mark).
        {QString::fromUtf8("\xC2\xA0[]"), "Unrecognised leading character"},
        {QChar(0xFEFF) + QStringLiteral("[]"), "Unrecognised leading character"},
        {"<a/>", "Unrecognised leading character", 3},
        {"True", "Unrecognised leading character"},
        // Numbers; beyond the range of the number type: refused rather than read as infinity.
        {"01", "Leading 0 disallowed in number", 2},
        {"-", "No digits after initial minus"},
        {"1.e5", "No digits after decimal point"},
        {"1e+", "No digits after exponent"},
        {"+1", "Leading + disallowed in number"},
        // ":" follows "9" in ASCII and is no digit anywhere in a number.
        {"[:]", "Expected value while parsing array"},
        {":", "Unrecognised leading character"},
        {R"({"a"::1})", "Object value expected for key: a"},
        {"[1:]", "Expected value while parsing array"},
        {"-:", "No digits after initial minus"},
        {"1.:", "No digits after decimal point"},
        {"1e:", "No digits after exponent"},
        {"0:", "Garbage after JSON"},
        {"1.5:", "Garbage after JSON"},
        {"1e5:", "Garbage after JSON"},
        {"1e400", "Failed creating decimal instance", 2},
        {"-" + QString(400, '9'), "Failed creating decimal instance"},
        // Containers.
        {"[1,]", "Trailing comma disallowed in array", 9},
        {R"({"a":1 , })", "Trailing comma disallowed in object", 9},
        {"[,1]", "Expected value while parsing array"},
        {"[", "End of input while parsing array"},
        {"[ ", "Expected value while parsing array"},
        {"{", "End of input while parsing object"},
        {R"({"a":1)", "End of input while parsing object"},
        {"{1:2}", "Object key string expected"},
        {R"({"a" 1})", "Expected ':' separating key and value"},
        {R"({"a":})", "Object value expected for key: a"},
        {R"({"%1":})", "Object value expected for key: %1"},
        {"tru", "Expected 'true'"},
        {"nul", "Expected 'null'"},
        {"[nulL]", "Expected value while parsing array"},
        // Strings; the input may end right after an escape.
        {"\"a\tb\"", "Unescaped control character '0x9'", 5},
        {"\"\x1f\"", "Unescaped control character '0x1f'"},
        // A text cut short ends early; a NUL inside it is a control character.
        {"\"abc", "Unexpected EOF while parsing string", 11},
        {QStringLiteral("\"a") + QChar(0) + QStringLiteral("b\""), "Unescaped control character '0x0'"},
        {R"("\x")", "Illegal escape sequence '0x78'", 8},
        {R"("\')", "Illegal escape sequence '0x27'"},
        {"\"a\\n", "Unexpected EOF while parsing string", 11},
        {"\"\\", "Unexpected EOF while parsing string", 11},
        {QStringLiteral("\"\\") + QChar(0) + QStringLiteral("\""), "Illegal escape sequence '0x0'"},
        {QStringLiteral("\"\\n") + QChar(0) + QStringLiteral("\""), "Unescaped control character '0x0'"},
    };
    for (const auto &c : cases) {
        unsigned int code = 0;
        EXPECT_EQ(failure(c.text, &code), QString::fromUtf8(c.message)) << c.text.toStdString();
        EXPECT_EQ(c.code ? code : 0u, c.code) << c.text.toStdString();
    }
}

TEST(JsonParser, ObjectTextsNilInputAndTheTrace)
{
    QorJsonParser parser;
    EXPECT_FALSE(parser.objectWithString("3").isValid());
    EXPECT_EQ(traceTexts(parser), QStringList{"Valid fragment, but not JSON"});
    EXPECT_EQ(outermost(parser).code, 4u);
    EXPECT_EQ(parser.fragmentWithString("3").toLongLong(), 3);
    EXPECT_TRUE(parser.errorTrace().isEmpty()); // each call starts a new trace
    EXPECT_FALSE(parser.objectWithString("\"s\"").isValid());
    EXPECT_EQ(parser.objectWithString("{}").typeId(), QMetaType::QVariantMap);

    EXPECT_FALSE(parser.objectWithString(QString()).isValid());
    EXPECT_EQ(traceTexts(parser), QStringList{"Input was 'nil'"});
    EXPECT_EQ(outermost(parser).code, 12u);
    EXPECT_FALSE(parser.fragmentWithUtf8(QByteArrayView()).isValid());
    EXPECT_EQ(outermost(parser).code, 12u);
    EXPECT_FALSE(parser.fragmentWithUtf8(QByteArray("")).isValid()); // the empty text is no "nil"
    EXPECT_EQ(outermost(parser).code, 11u);

    // A NUL ends the input.
    const QByteArray withNul("[1]\0garbage", 11);
    EXPECT_EQ(parser.objectWithUtf8(withNul).toList().size(), 1);
    EXPECT_EQ(parser.objectWithString(QString::fromUtf8(withNul)).toList().size(), 1);

    // The trace runs from the innermost failure to the outermost and chains each to the one before.
    EXPECT_FALSE(parser.objectWithString(R"({"a":[tru]})").isValid());
    EXPECT_EQ(traceTexts(parser), (QStringList{"Expected 'true'", "Expected value while parsing array",
                                               "Object value expected for key: a"}));
    const QorJsonError &outer = outermost(parser);
    ASSERT_TRUE(outer.underlying && outer.underlying->underlying);
    EXPECT_EQ(outer.underlying->description, "Expected value while parsing array");
    EXPECT_EQ(outer.underlying->underlying->description, "Expected 'true'");
    EXPECT_FALSE(outer.underlying->underlying->underlying);
    EXPECT_EQ(outer.domain, QString::fromLatin1(kQorJsonErrorDomain));
    EXPECT_TRUE(parser.errorTraceDescription().contains("Code=3 \"Object value expected for key: a\""));
}

TEST(JsonParser, MembersAndElements)
{
    // Elements and members need no comma between them.
    EXPECT_EQ(fragment("[1 2]").toList(), (QVariantList{1LL, 2LL}));
    EXPECT_EQ(fragment(R"({"a":1 "b":2})").toMap().size(), 2);
    // A repeated key keeps its last value.
    EXPECT_EQ(fragment(R"({"k":1,"k":"last"})").toMap().value("k").toString(), "last");
    EXPECT_EQ(fragment(R"({"ab":1,"a\u0062":2})").toMap(), (QVariantMap{{"ab", 2LL}}));

    // Many keys, short and long, repeated across objects: each keeps its own value.
    auto key = [](int i) { return QString(i % 40 + 1, QChar('a' + i % 26)) + QString::number(i); };
    QStringList members;
    for (int i = 0; i < 300; ++i)
        members << QStringLiteral("\"%1\":%2").arg(key(i)).arg(i);
    const QString object = "{" + members.join(',') + "}";
    const QVariantList objects = fragment("[" + object + "," + object + "," + object + "]").toList();
    ASSERT_EQ(objects.size(), 3);
    for (const QVariant &o : objects) {
        const QVariantMap map = o.toMap();
        ASSERT_EQ(map.size(), 300);
        for (int i = 0; i < 300; ++i)
            ASSERT_EQ(map.value(key(i)).toInt(), i);
    }

    // Objects of one kind one after the other, with the same keys in another
    // order, a repeated key, or one key fewer in between: each reads as written.
    const QVariantList kinds = fragment(R"([{"b":1,"a":2,"c":3},{"b":4,"a":5,"c":6},{"c":7,"b":8,"a":9},)"
                                        R"({"b":1,"a":2,"b":3},{"b":4,"a":5,"b":6},{"b":1,"a":2},{"b":10,"a":11,"c":12}])")
                                   .toList();
    const QList<QVariantMap> expected = {
        {{"a", 2LL}, {"b", 1LL}, {"c", 3LL}}, {{"a", 5LL}, {"b", 4LL}, {"c", 6LL}},
        {{"a", 9LL}, {"b", 8LL}, {"c", 7LL}}, {{"a", 2LL}, {"b", 3LL}},
        {{"a", 5LL}, {"b", 6LL}},             {{"a", 2LL}, {"b", 1LL}},
        {{"a", 11LL}, {"b", 10LL}, {"c", 12LL}}};
    ASSERT_EQ(kinds.size(), expected.size());
    for (qsizetype i = 0; i < kinds.size(); ++i)
        EXPECT_EQ(kinds.at(i).toMap(), expected.at(i)) << i;
}

TEST(JsonParser, DepthLimit)
{
    QorJsonParser parser;
    EXPECT_EQ(parser.maxDepth(), 512u);
    EXPECT_TRUE(parser.objectWithString(nested(512, "[", "]")).isValid());
    EXPECT_FALSE(parser.objectWithString(nested(513, "[", "]")).isValid());
    EXPECT_EQ(innermost(parser).description, "Nested too deep");
    EXPECT_EQ(innermost(parser).code, 7u);
    EXPECT_TRUE(parser.objectWithString(nested(512, "{\"k\":", "}", "1")).isValid());
    EXPECT_FALSE(parser.objectWithString(nested(513, "{\"k\":", "}", "1")).isValid());
    EXPECT_EQ(innermost(parser).description, "Nested too deep");
    // Depth counts open containers, not all containers seen.
    EXPECT_TRUE(parser.objectWithString("[" + QStringList(600, nested(3, "[", "]")).join(',') + "]").isValid());

    parser.setMaxDepth(2);
    EXPECT_TRUE(parser.objectWithString("[[1]]").isValid());
    EXPECT_FALSE(parser.objectWithString("[[[1]]]").isValid());

    // 0 lifts the caller's limit; the stack guard still stands.
    parser.setMaxDepth(0);
    EXPECT_TRUE(parser.objectWithString(nested(QorJsonBase::kHardDepthLimit, "[", "]")).isValid());
    EXPECT_FALSE(parser.objectWithUtf8(nested(QorJsonBase::kHardDepthLimit + 1, "[", "]").toUtf8()).isValid());
    EXPECT_EQ(innermost(parser).description, "Nested too deep");
    EXPECT_FALSE(parser.objectWithUtf8(QByteArray(1 << 20, '[')).isValid());
}

TEST(JsonParser, StringsAndEscapes)
{
    EXPECT_EQ(fragment(R"("\"\\\/\b\f\n\r\t")").toString(), QString("\"\\/\b\f\n\r\t"));
    EXPECT_EQ(fragment(R"("a\u00e9b\u0000c")").toString(), QString::fromUtf16(u"a\u00e9b") + QChar(0) + "c");
    EXPECT_EQ(fragment(R"("\uDBFF\uDFFF")").toString().toUcs4().value(0), 0x10FFFFu);
    EXPECT_EQ(fragment(R"("x\ud83d\ude00y")").toString(), QString::fromUtf8("x\xF0\x9F\x98\x80y"));

    const std::pair<QString, QStringList> broken[] = {
        {R"("\uDC00")", {"Invalid high character in surrogate pair", "Broken unicode character"}},
        {R"("\uD800x")", {"Missing low character in surrogate pair", "Broken unicode character"}},
        {R"("\uD800\u0041")", {"Invalid low surrogate char", "Broken unicode character"}},
        {R"("\uD800\u00")",
         {"Missing hex digit in quad", "Missing low character in surrogate pair", "Broken unicode character"}},
        {R"("\u12G4")", {"Missing hex digit in quad", "Missing hex quad", "Broken unicode character"}},
    };
    QorJsonParser parser;
    for (const auto &[text, trace] : broken) {
        EXPECT_FALSE(parseFragment(text, parser).isValid()) << text.toStdString();
        EXPECT_EQ(traceTexts(parser), trace) << text.toStdString();
    }
    EXPECT_FALSE(parseFragment(R"(["\u12)", parser).isValid());
    EXPECT_EQ(innermost(parser).description, "Missing hex digit in quad");
    EXPECT_EQ(innermost(parser).code, 6u);
}

TEST(JsonParser, Utf8Input)
{
    QorJsonParser parser;
    auto utf8 = [&](const char *bytes) { return parser.fragmentWithUtf8(bytes).toString(); };
    // Multi-byte text in plain runs and around escapes.
    EXPECT_EQ(utf8("\"\xC3\xA9t\xE6\x97\xA5\\n\xF0\x9F\x98\x80\""),
              QString::fromUtf8("\xC3\xA9t\xE6\x97\xA5\n\xF0\x9F\x98\x80"));
    // A byte-order mark inside a string is text, at the start of a run too.
    const QString bom(QChar(0xFEFF));
    EXPECT_EQ(utf8("\"\xEF\xBB\xBF\x61\\n\xEF\xBB\xBF\""), bom + "a\n" + bom);
    EXPECT_EQ(utf8("\"\xEF\xBB\xBF\x61\""), bom + "a");
    EXPECT_EQ(parser.fragmentWithString("\"" + bom + "a\"").toString(), bom + "a");
    // Bytes that are not UTF-8 become replacement characters, never lost text or a crash.
    const QString broken = utf8("\"a\xFF\x62\\t\xE6\x97\"");
    EXPECT_TRUE(broken.startsWith("a")) << broken.toStdString();
    EXPECT_TRUE(broken.contains(QChar::ReplacementCharacter));
    EXPECT_TRUE(broken.contains("b\t"));
    // Keys are strings like any other.
    EXPECT_EQ(parser.objectWithUtf8("{\"cl\xC3\xA9\\u0041\":1}").toMap().firstKey(), QString::fromUtf16(u"cl\u00e9A"));
}

// ---------------------------------------------------------------------------
// Writing

namespace {

QString write(const QVariant &value)
{
    QorJsonWriter writer;
    const QString json = writer.stringWithFragment(value);
    EXPECT_FALSE(json.isNull()) << (writer.errorTrace().isEmpty()
                                        ? std::string()
                                        : outermost(writer).description.toStdString());
    return json;
}

class ProxyObject : public QObject
{
    Q_OBJECT
public:
    explicit ProxyObject(QVariant proxy) : m_proxy(std::move(proxy)) {}
    Q_INVOKABLE QVariant proxyForJson() const { return m_proxy; }

private:
    QVariant m_proxy;
};

class PlainObject : public QObject
{
    Q_OBJECT
};

} // namespace

TEST(JsonWriter, Scalars)
{
    EXPECT_EQ(write(false), "false");
    // Every integer type is a number, the 8-bit ones included.
    EXPECT_EQ(write(QVariant::fromValue<char>(1)), "1");
    EXPECT_EQ(write(QVariant::fromValue<signed char>(-5)), "-5");
    EXPECT_EQ(write(QVariant::fromValue<unsigned char>(200)), "200");
    EXPECT_EQ(write(QVariant::fromValue<unsigned short>(65535)), "65535");
    EXPECT_EQ(write(std::numeric_limits<quint64>::max()), "18446744073709551615");
    EXPECT_EQ(write(4294967295u), "4294967295");

    EXPECT_EQ(write(0.1), "0.1");
    EXPECT_EQ(write(3.0), "3.0"); // a double stays a double when read back
    EXPECT_EQ(write(-0.0), "-0.0");
    EXPECT_EQ(write(1e300), "1e+300");
    EXPECT_EQ(write(QVariant::fromValue<float>(0.1f)), "0.1");
    EXPECT_EQ(write(vtr::jsonNull()), "null");
    EXPECT_EQ(write(QString()), "\"\"");
}

TEST(JsonWriter, Strings)
{
    EXPECT_EQ(write(QString::fromUtf16(u"a\nb\u000bc")), R"("a\nb\u000bc")");
    EXPECT_EQ(write(QString::fromUtf16(u"/\u00e9\U0001F600")), QString::fromUtf16(u"\"/\u00e9\U0001F600\""));
    EXPECT_EQ(write(QString("\"\\\b\f\r\t") + QChar(0) + QChar(0x1f)), R"("\"\\\b\f\r\t\u0000\u001f")");
    EXPECT_EQ(write(QStringList{"a", "b\n"}), R"(["a","b\n"])");
}

TEST(JsonWriter, Containers)
{
    EXPECT_EQ(write(QVariantList{1, "x", vtr::jsonNull(), QVariantList{}, QVariantMap{}}), R"([1,"x",null,[],{}])");
    EXPECT_EQ(write(QVariantMap{{"b", 1}, {"a", QVariantMap{{"c", false}}}}), R"({"a":{"c":false},"b":1})");

    QorJsonWriter writer;
    writer.setHumanReadable(true);
    EXPECT_EQ(writer.stringWithObject(QVariantList{1, 2}), "[\n  1,\n  2\n]");
    EXPECT_EQ(writer.stringWithObject(QVariantMap{{"k", QVariantList{true}}, {"e", QVariantList{}}}),
              "{\n  \"e\" : [],\n  \"k\" : [\n    true\n  ]\n}");

    QVariantHash hash;
    for (const char *key : {"delta", "alpha", "Charlie", "bravo"})
        hash.insert(QString::fromLatin1(key), 1);
    writer.setHumanReadable(false);
    writer.setSortKeys(true);
    EXPECT_EQ(writer.stringWithObject(hash), R"({"Charlie":1,"alpha":1,"bravo":1,"delta":1})");
}

TEST(JsonWriter, RefusesWhatJsonCannotHold)
{
    QorJsonWriter writer;
    // NaN and the infinities have no JSON text.
    const std::pair<double, const char *> bad[] = {{std::nan(""), "nan"}, {HUGE_VAL, "inf"}, {-HUGE_VAL, "-inf"}};
    for (const auto &[value, name] : bad) {
        EXPECT_TRUE(writer.stringWithFragment(value).isNull());
        EXPECT_EQ(traceTexts(writer), QStringList{QStringLiteral("JSON serialisation not supported for ") + name});
        EXPECT_EQ(outermost(writer).code, 1u);
    }
    EXPECT_TRUE(writer.stringWithFragment(QVariant::fromValue(std::numeric_limits<float>::infinity())).isNull());

    // A value inside a container fails the whole text.
    EXPECT_TRUE(writer.stringWithObject(QVariantMap{{"k", QVariantList{1, std::nan("")}}}).isNull());
    EXPECT_EQ(traceTexts(writer),
              (QStringList{"JSON serialisation not supported for nan", "Unsupported value for key k in object"}));
    EXPECT_TRUE(writer.stringWithObject(QVariantList{QByteArray("raw")}).isNull());
    EXPECT_EQ(traceTexts(writer), QStringList{"JSON serialisation not supported for QByteArray"});
    EXPECT_TRUE(writer.stringWithFragment(QVariant()).isNull());
    EXPECT_EQ(traceTexts(writer), QStringList{"JSON serialisation not supported for nil"});

    // The top level of an object text must be an object or an array.
    EXPECT_TRUE(writer.stringWithObject(QString("s")).isNull());
    EXPECT_EQ(traceTexts(writer), QStringList{"Not valid type for JSON"});
    EXPECT_EQ(outermost(writer).code, 4u);
    EXPECT_EQ(writer.stringWithFragment(QString("s")), "\"s\"");
    EXPECT_TRUE(writer.errorTrace().isEmpty());

    // Depth is limited as for reading.
    QVariant deep = QVariantList{};
    for (int i = 1; i < 512; ++i)
        deep = QVariantList{deep};
    EXPECT_FALSE(writer.stringWithObject(deep).isNull());
    EXPECT_TRUE(writer.stringWithObject(QVariantList{deep}).isNull());
    EXPECT_EQ(innermost(writer).description, "Nested too deep");
    writer.setMaxDepth(0);
    EXPECT_FALSE(writer.stringWithObject(QVariantList{deep}).isNull());
}

TEST(JsonWriter, HelpersLogTheTraceAndAnswerNothing)
{
    QStringList logged;
    LogSetSystemLogSink([&](const QString &m) { logged << m; });
    EXPECT_TRUE(vtr::JSONRepresentation(QVariantMap{{"k", QByteArray("x")}}).isNull());
    EXPECT_TRUE(vtr::JSONRepresentation(QString("s")).isNull());
    EXPECT_FALSE(vtr::JSONValue("[1,]").isValid());
    EXPECT_FALSE(vtr::JSONValue("3").isValid());
    EXPECT_FALSE(vtr::JSONFragmentValue("").isValid());
    EXPECT_TRUE(vtr::JSONFragment(std::nan("")).isNull());
    EXPECT_FALSE(vtr::JSONValueFromUtf8("{").isValid());
    LogSetSystemLogSink({});
    ASSERT_EQ(logged.size(), 7);
    const char *names[] = {"JSONRepresentation", "JSONRepresentation", "JSONValue", "JSONValue",
                           "JSONFragmentValue",  "JSONFragment",       "JSONValue"};
    for (int i = 0; i < 7; ++i)
        EXPECT_TRUE(logged.at(i).startsWith(QStringLiteral("-%1 failed.").arg(QLatin1String(names[i]))));
    EXPECT_TRUE(logged.at(0).startsWith("-JSONRepresentation failed. Error trace is: ("));
    EXPECT_TRUE(logged.at(0).contains("Unsupported value for key k in object"));
    EXPECT_TRUE(logged.at(2).contains("Trailing comma disallowed in array"));

    EXPECT_EQ(vtr::JSONRepresentation(QVariantMap{{"a", 1}}), R"({"a":1})");
    EXPECT_EQ(vtr::JSONValueFromUtf8("[true]").toList().value(0).toBool(), true);
}

TEST(JsonWriter, ProxyForJson)
{
    ProxyObject proxy(QVariantMap{{"p", 1}});
    PlainObject plain;
    QorJsonWriter writer;
    EXPECT_EQ(writer.stringWithObject(QVariant::fromValue<QObject *>(&proxy)), R"({"p":1})");
    EXPECT_EQ(writer.stringWithObject(QVariantList{QVariant::fromValue<QObject *>(&proxy)}), R"([{"p":1}])");
    EXPECT_TRUE(writer.stringWithObject(QVariant::fromValue<QObject *>(&plain)).isNull());
    EXPECT_EQ(traceTexts(writer), QStringList{"Not valid type for JSON"});
    EXPECT_TRUE(writer.stringWithFragment(QVariant::fromValue<QObject *>(&plain)).isNull());
    EXPECT_EQ(traceTexts(writer), QStringList{"JSON serialisation not supported for PlainObject"});
    // A proxy that answers a scalar is no object text.
    ProxyObject scalar(5);
    EXPECT_TRUE(writer.stringWithObject(QVariant::fromValue<QObject *>(&scalar)).isNull());
    EXPECT_EQ(writer.stringWithFragment(QVariant::fromValue<QObject *>(&scalar)), "5");
}

TEST(JsonFacade, ForwardsAndCopiesTheTrace)
{
    QorJSON json;
    json.setMaxDepth(3);

    QorJsonError error;
    EXPECT_FALSE(json.objectWithString("[[[[1]]]]", &error).isValid());
    EXPECT_EQ(error.code, 3u);
    EXPECT_EQ(error.description, "Expected value while parsing array");
    EXPECT_EQ(innermost(json).description, "Nested too deep");
    EXPECT_TRUE(json.stringWithObject(QVariantList{QVariantList{QVariantList{QVariantList{}}}}, &error).isNull());
    EXPECT_EQ(error.description, "Nested too deep");

    EXPECT_FALSE(json.objectWithString("3", &error).isValid());
    EXPECT_EQ(error.description, "Valid fragment, but not JSON");
    EXPECT_EQ(json.fragmentWithString("3", &error).toLongLong(), 3);
    EXPECT_EQ(json.stringWithFragment(3, &error), "3");
    EXPECT_TRUE(json.stringWithObject(QVariant(3), &error).isNull());
    EXPECT_EQ(error.code, 4u);
    EXPECT_EQ(json.objectWithString("[1]", false, nullptr).toList().size(), 1);
    EXPECT_TRUE(json.objectWithString("[1", true, nullptr).isNull());
    EXPECT_EQ(outermost(json).description, "End of input while parsing array");

    json.setHumanReadable(true);
    EXPECT_EQ(json.stringWithObject(QVariantList{1}), "[\n  1\n]");
}

// ---------------------------------------------------------------------------
// Round trip of random trees, checked against an independent parser

namespace {

// Trees of every kind of value, with integer edges, any finite double and hostile characters in strings.
class RandomJson
{
public:
    explicit RandomJson(unsigned int seed) : m_rng(seed) {}

    QVariant value(int depth)
    {
        switch (pick(depth >= 5 ? 6 : 8)) {
        case 0:
            return vtr::jsonNull();
        case 1:
            return pick(2) == 1;
        case 2:
            return integer();
        case 3:
            return real();
        case 6: {
            QVariantList list;
            for (int n = pick(6); n > 0; --n)
                list.append(value(depth + 1));
            return list;
        }
        case 7: {
            QVariantMap map;
            for (int n = pick(6); n > 0; --n)
                map.insert(string(), value(depth + 1));
            return map;
        }
        default:
            return string();
        }
    }

private:
    int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(m_rng); }

    qint64 integer()
    {
        const int kind = pick(4);
        if (kind == 0) return pick(2001) - 1000;
        if (kind == 1) return pick(2) ? std::numeric_limits<qint64>::max() : std::numeric_limits<qint64>::min();
        return qint64(m_rng());
    }

    double real()
    {
        static const double specials[] = {0.0, -0.0, 5e-324, 2.2250738585072014e-308, 1.7976931348623157e308,
                                          0.1, 1e21, 1e-7,   123456789012345680.0};
        const int kind = pick(5);
        if (kind == 0) return std::uniform_real_distribution<double>(-1e6, 1e6)(m_rng);
        if (kind == 1) return double(pick(2001) - 1000); // integral doubles stay doubles
        if (kind == 2) return specials[pick(int(std::size(specials)))];
        for (;;) { // any finite bit pattern
            const quint64 bits = m_rng();
            double d;
            std::memcpy(&d, &bits, sizeof d);
            if (std::isfinite(d)) return d;
        }
    }

    QString string()
    {
        static const char32_t alphabet[] = {'a',    'Z',     '0',      ' ', '"',  '\\', '/',  '\n',   '\t',   '\b',
                                            '\f',   '\r',    0,        1,   0x1f, 0x7f, 0xe9, 0x2028, 0xfeff, 0xfffd,
                                            0x65e5, 0x1F600, 0x10FFFF, '{', '}',  '[',  ']',  ':',    ','};
        QString s;
        for (int n = pick(12); n > 0; --n)
            s += QString::fromUcs4(&alphabet[pick(int(std::size(alphabet)))], 1);
        return s;
    }

    std::mt19937_64 m_rng;
};

// Runs `python3 -m json.tool` over `input`; answers its exit code (-1 when it
// did not run) and its output.
int runJsonTool(const QString &python, const QStringList &options, const QByteArray &input, QByteArray *output,
                QByteArray *errors)
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("PYTHONIOENCODING", "utf-8");
    env.insert("PYTHONUTF8", "1");
    process.setProcessEnvironment(env);
    process.start(python, QStringList{"-m", "json.tool"} + options);
    if (!process.waitForStarted(30000)) return -1;
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(120000)) return -1;
    *output = process.readAllStandardOutput();
    *errors = process.readAllStandardError();
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

} // namespace

TEST(JsonRoundTrip, RandomTreesReadBackEqualAndAreValidJson)
{
    RandomJson random(20240611);
    QorJsonWriter writer;
    QorJsonWriter pretty;
    pretty.setHumanReadable(true);
    QorJsonParser parser;

    QList<QVariant> trees;
    QByteArray lines;            // one compact document per line
    QByteArray prettyDocs = "["; // a few human-readable ones, in one array
    for (int i = 0; i < 600; ++i) {
        const QVariant tree = random.value(0);
        trees.append(tree);
        const QString json = writer.stringWithFragment(tree);
        ASSERT_FALSE(json.isNull());
        ASSERT_FALSE(json.contains('\n'));
        const QVariant back = parser.fragmentWithString(json);
        ASSERT_TRUE(sameJson(tree, back)) << json.toStdString();
        ASSERT_TRUE(sameJson(tree, parser.fragmentWithUtf8(json.toUtf8())));
        lines += json.toUtf8() + '\n';
        if (i % 20 == 0) {
            const QString text = pretty.stringWithFragment(tree);
            ASSERT_TRUE(sameJson(tree, parser.fragmentWithString(text))) << text.toStdString();
            if (prettyDocs.size() > 1) prettyDocs += ",\n";
            prettyDocs += text.toUtf8();
        }
    }
    prettyDocs += "]";

    const QString python = QStandardPaths::findExecutable("python3");
    if (python.isEmpty()) GTEST_SKIP() << "python3 not found: the independent check did not run";

    // json.tool must accept every line and, written back compactly, give the
    // same values again.
    QByteArray output, errors;
    ASSERT_EQ(runJsonTool(python, {"--json-lines", "--compact", "--no-ensure-ascii"}, lines, &output, &errors), 0)
        << errors.toStdString();
    const QList<QByteArray> outputLines = output.trimmed().split('\n');
    ASSERT_EQ(outputLines.size(), trees.size());
    for (qsizetype i = 0; i < trees.size(); ++i) {
        const QVariant theirs = parser.fragmentWithUtf8(outputLines.at(i));
        EXPECT_TRUE(sameJson(trees.at(i), theirs)) << outputLines.at(i).toStdString();
    }
    ASSERT_EQ(runJsonTool(python, {}, prettyDocs, &output, &errors), 0) << errors.toStdString();
}

#include "test_json.moc"
