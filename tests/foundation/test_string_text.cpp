#include "foundation/VtrAttributedString.h"
#include "foundation/VtrString.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QRegularExpression>
#include <QTextDocument>
#include <QThread>
#include <QUrl>

using namespace vtr;

namespace {

QString S(const char *utf8)
{
    return QString::fromUtf8(utf8);
}

} // namespace

TEST(TextSearch, ContainsPrefixSuffixAndCount)
{
    EXPECT_TRUE(containsString(S("Hello"), S("ell")));
    EXPECT_FALSE(containsString(S("Hello"), S("ELL")));
    EXPECT_TRUE(containsString(S("Hello"), S("ELL"), Qt::CaseInsensitive));
    EXPECT_FALSE(containsString(S("Hello"), QString()));
    EXPECT_FALSE(containsString(S("Hello"), S("")));

    EXPECT_TRUE(hasPrefixCaseInsensitive(S("MailTo:x"), S("mailto:")));
    EXPECT_FALSE(hasPrefixCaseInsensitive(S("ab"), S("abc")));
    EXPECT_FALSE(hasPrefixCaseInsensitive(S("ab"), QString()));
    EXPECT_TRUE(hasSuffixCaseInsensitive(S("x.MP3"), S(".mp3")));

    EXPECT_EQ(countOfString(S("aaa"), S("aa")), 2);
    EXPECT_EQ(countOfString(S("aaa"), S("")), 0);
    EXPECT_EQ(countOfString(S("aaa"), S("b")), 0);
    EXPECT_EQ(countOfString(S("a-b-c"), S("-")), 2);
}

TEST(TextSearch, RemovingCharactersFromSet)
{
    const VtrCharacterSet digits = VtrCharacterSet::decimalDigits();
    EXPECT_EQ(stringByRemovingCharactersFromSet(S("(555) 12-34"), &digits), S("() -"));
    const VtrCharacterSet punct = VtrCharacterSet::punctuation().united(VtrCharacterSet::whitespace());
    EXPECT_EQ(stringByRemovingCharactersFromSet(S("(555) 12-34"), &punct), S("5551234"));
    EXPECT_EQ(stringByRemovingCharactersFromSet(S("a b"), nullptr), S("a b"));
    const VtrCharacterSet emoji = VtrCharacterSet::fromCharacters(S("\U0001F600"));
    EXPECT_EQ(stringByRemovingCharactersFromSet(S("a\U0001F600b"), &emoji), S("ab"));
}

TEST(TextCompare, DiacriticsCaseAndWidthIgnored)
{
    EXPECT_TRUE(equalStringsIgnoringDiacritical(S("Café"), S("cafe")));
    EXPECT_TRUE(equalStringsIgnoringDiacritical(S("Cafe\u0301"), S("CAFÉ")));
    EXPECT_TRUE(equalStringsIgnoringDiacritical(S("ＡＢＣ"), S("abc")));
    EXPECT_FALSE(equalStringsIgnoringDiacritical(S("cafe"), S("cafes")));

    EXPECT_EQ(compareStringsIgnoringDiacritical(S("Éclair"), S("eclair")), 0);
    EXPECT_LT(compareStringsIgnoringDiacritical(S("apple"), S("Banana")), 0);
    EXPECT_GT(compareStringsIgnoringDiacritical(S("Zebra"), S("ábc")), 0);
}

TEST(TextEscaping, CsvAndFilterText)
{
    EXPECT_EQ(escapeQuotesForCSV(S("say \"hi\"\r\nnow")), S("say \"\"hi\"\"  now"));

    EXPECT_EQ(stringForFilterPredicate(S("it's (a) \"b\"?")), S("it\\x27s \\x28a\\x29 \\x22b\\x22\\x3F"));
    // A backslash in the input cannot escape the closing quote of the filter.
    EXPECT_EQ(stringForFilterPredicate(S("a\\")), S("a\\x5C"));
    EXPECT_EQ(stringForFilterPredicate(S("\\'")), S("\\x5C\\x27"));
    const QString escaped = stringForFilterPredicate(S("x\\' OR 1=1 \\"));
    EXPECT_FALSE(escaped.contains(QLatin1Char('\'')));
    // Every backslash left is the start of one of our four-character escapes.
    EXPECT_FALSE(escaped.contains(QRegularExpression(S("\\\\(?!x[0-9A-F]{2})"))));
}

TEST(TextEscaping, UrlEncoding)
{
    EXPECT_EQ(urlEncodedString(S("a b&c+d'e\"f")), S("a%20b%26c%2Bd%27e%22f"));
    EXPECT_EQ(urlEncodedString(S("http://x/y?z=1:2")), S("http://x/y?z=1:2"));
    EXPECT_EQ(urlEncodedString(S("é<")), S("%C3%A9%3C"));
    // Texts that hold escapes or URL delimiters of their own come back whole.
    for (const QString &text : {S("50% off #1"), S("%41"), S("[a]=b"), S("a#b?c=d&e")}) {
        const QString encoded = urlEncodedString(text);
        EXPECT_FALSE(encoded.contains(QLatin1Char('#')) || encoded.contains(QLatin1Char('[')) ||
                     encoded.contains(QLatin1Char(']')))
            << encoded.toStdString();
        EXPECT_EQ(QUrl::fromPercentEncoding(encoded.toUtf8()), text) << encoded.toStdString();
    }
    EXPECT_EQ(urlEncodedString(S("50% off #1")), S("50%25%20off%20%231"));
}

TEST(TextUrls, IsUrlAndTld)
{
    EXPECT_EQ(isURL(S("www.example.com")), S("http://www.example.com"));
    EXPECT_EQ(isURL(S("WWW.example.co.uk")), S("http://WWW.example.co.uk"));
    EXPECT_TRUE(isURL(S("example.com")).isNull());
    EXPECT_TRUE(isURL(S("ftp.example.com")).isNull());
    EXPECT_TRUE(isURL(S("www.example.eu")).isNull());
    EXPECT_TRUE(isURL(S("telnet://host.example.com")).isNull());
    EXPECT_EQ(isURL(S("https://host/x")), S("https://host/x"));
    EXPECT_EQ(isURL(S("mailto:a@b.org")), S("mailto:a@b.org"));
    EXPECT_TRUE(isURL(S(".com")).isNull());
    EXPECT_TRUE(isURL(S("nodot")).isNull());
    EXPECT_TRUE(isURL(QString()).isNull());

    EXPECT_TRUE(isTLD(S("COM")));
    EXPECT_TRUE(isTLD(S("nato")));
    EXPECT_FALSE(isTLD(S("mobi")));
    EXPECT_FALSE(isTLD(S("")));
}

TEST(TextNumbers, HexAndUuid)
{
    EXPECT_EQ(hexStringFromNumber(1118), S("0x45e"));
    EXPECT_EQ(hexStringFromNumber(-1), S("0xffffffff"));
    EXPECT_EQ(hexStringFromNumber(0), S("0x0"));
    EXPECT_EQ(hexStringFromNumberNoLeading0x(0x1004), S("1004"));

    EXPECT_EQ(numberFromHexString(S("0x45E")), 0x45Eu);
    EXPECT_EQ(numberFromHexString(S("45ezz")), 0x45Eu);
    EXPECT_EQ(numberFromHexString(S("zz")), 0u);
    EXPECT_EQ(numberFromHexString(S("")), 0u);
    EXPECT_EQ(numberFromHexString(S("123456789abcdef")), 0xFFFFFFFFu);

    const QRegularExpression form(S("^[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$"));
    const QString a = uuidAsString();
    const QString b = stringWithNewUUID();
    EXPECT_TRUE(form.match(a).hasMatch()) << a.toStdString();
    EXPECT_TRUE(form.match(b).hasMatch()) << b.toStdString();
    EXPECT_NE(a, b);
}

TEST(TextEncoding, ConvertToEncoding)
{
    EXPECT_EQ(convertToEncoding(S("Café"), VtrStringEncoding::MacOSRoman), S("Café"));
    EXPECT_EQ(convertToEncoding(S("Cafe\u0301"), VtrStringEncoding::ISOLatin1), S("Café"));
    EXPECT_EQ(convertToEncoding(S("日本"), VtrStringEncoding::ASCII), S("日本"));
    EXPECT_EQ(convertToEncoding(S("日本"), VtrStringEncoding::UTF16), S("日本"));
}

TEST(TextLineEndings, Conversions)
{
    EXPECT_EQ(stringWithMacLineEndings(S("a\r\nb\rc\n")), S("a\nb\rc\n"));
    EXPECT_EQ(stringWithWindowsLineEndings(S("a\nb\r\n")), S("a\r\nb\r\r\n"));
    EXPECT_EQ(convertNewlinesToReturns(S("a\nb\r")), S("a\rb\r"));
    EXPECT_EQ(convertReturnsToNewlines(S("a\rb\n")), S("a\nb\n"));
    const QString ps(QChar::ParagraphSeparator);
    EXPECT_EQ(convertLineEndingsToParagraphSeparator(S("a\r\nb\rc\nd")),
              S("a") + ps + S("b") + ps + S("c") + ps + S("d"));
    EXPECT_EQ(convertParagraphSeparatorToLineEndings(S("a") + ps + S("b")), S("a\nb"));
}

TEST(TextUtf16Data, ByteOrders)
{
    const QString text = S("Aé\U0001F600");
    const QByteArray le = dataUnicodeNoBOMLE(text);
    const QByteArray be = dataUnicodeNoBOMBE(text);
    EXPECT_EQ(le, QByteArray::fromHex("4100e9003dd800de"));
    EXPECT_EQ(be, QByteArray::fromHex("004100e9d83dde00"));
    EXPECT_TRUE(dataUnicodeNoBOMLE(QString()).isEmpty());

    // The data of the opposite byte order to the host reads back.
    const QByteArray opposite = Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? be : le;
    EXPECT_EQ(stringWithWindowsUnicodeData(opposite), text);
    EXPECT_EQ(
        stringWithWindowsUnicodeData(QByteArray::fromHex(Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? "feff0041" : "fffe4100")),
        S("A"));
    EXPECT_EQ(stringWithWindowsUnicodeData(opposite + QByteArray(1, 'x')), text);

    const QByteArray windows = dataWithWindowsLineEndings(S("a\nb"));
    const QString host = Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? S("fffe") : S("feff");
    EXPECT_TRUE(windows.toHex().startsWith(host.toLatin1()));
    EXPECT_EQ(windows.size(), 2 + 2 * 4);

    char16_t units[] = {0x1234, 0xABCD};
    EXPECT_EQ(swapUTF16Units(units, 2), units);
    EXPECT_EQ(units[0], 0x3412);
    EXPECT_EQ(units[1], 0xCDAB);
    swapUTF16Units(units, 0);
    EXPECT_EQ(units[0], 0x3412);
}

TEST(TextHtml, FlattenHtml)
{
    EXPECT_EQ(flattenHTML(S("")), S(""));
    EXPECT_EQ(flattenHTML(S("<p>Hello <b>world</b> &amp; more</p>")), S("Hello world & more"));
    const QString two = flattenHTML(S("<p>one</p><p>two</p>"));
    EXPECT_EQ(two, S("one\ntwo"));
    // A short text with no Mac OS Roman form is answered unread.
    EXPECT_EQ(flattenHTML(S("<\u0101>")), S("<\u0101>"));
}

TEST(TextHtml, FlattenHtmlOffTheMainThread)
{
    QString result;
    std::unique_ptr<QThread> thread(QThread::create([&] { result = flattenHTML(S("<div>a<br>b</div>")); }));
    thread->start();
    thread->wait();
    EXPECT_EQ(result, S("a\nb"));
}

TEST(AttributedString, HtmlDataReadOnTheMainThread)
{
    EXPECT_FALSE(attributedStringWithHTMLData(QByteArray()).has_value());

    const QByteArray html = QByteArrayLiteral(
        "<html><head><meta charset=\"utf-8\"><title>Note</title></head><body>Caf\xc3\xa9 <b>bold</b></body></html>");
    std::optional<VtrAttributedString> fromWorker;
    QVariantMap attributes;
    std::unique_ptr<QThread> thread(
        QThread::create([&] { fromWorker = attributedStringWithHTMLData(html, &attributes); }));
    thread->start();
    // The worker waits for the main thread, which must keep handling events.
    while (!thread->wait(10))
        QCoreApplication::processEvents();
    ASSERT_TRUE(fromWorker.has_value());
    EXPECT_EQ(fromWorker->string, S("Café bold"));
    EXPECT_EQ(attributes.value(S("DocumentType")).toString(), S("NSHTML"));
    EXPECT_EQ(attributes.value(S("Title")).toString(), S("Note"));
    bool sawBold = false;
    for (const VtrAttributedString::Run &run : fromWorker->runs)
        if (fromWorker->string.mid(run.start, run.length) == S("bold"))
            sawBold = run.format.fontWeight() >= QFont::Bold;
    EXPECT_TRUE(sawBold);
}

TEST(AttributedString, Hyperlink)
{
    const VtrAttributedString link = hyperlinkFromString(S("Help"), QUrl(S("https://example.com/a b")));
    EXPECT_EQ(link.string, S("Help"));
    ASSERT_EQ(link.runs.size(), 1);
    const QTextCharFormat &f = link.runs.first().format;
    EXPECT_EQ(link.runs.first().length, 4);
    EXPECT_TRUE(f.isAnchor());
    EXPECT_EQ(f.anchorHref(), S("https://example.com/a%20b"));
    EXPECT_EQ(f.foreground().color(), QColor(Qt::blue));
    EXPECT_EQ(f.underlineColor(), QColor(Qt::blue));
    EXPECT_EQ(f.property(kVtrStrokeColorProperty).value<QColor>(), QColor(Qt::blue));
    EXPECT_EQ(f.underlineStyle(), QTextCharFormat::SingleUnderline);

    const VtrAttributedString red = hyperlinkFromString(S("x"), QUrl(S("http://a")), QColor(Qt::red));
    ASSERT_FALSE(red.runs.isEmpty());
    EXPECT_EQ(red.runs.first().format.foreground().color(), QColor(Qt::red));
    const std::unique_ptr<QTextDocument> doc = red.toDocument();
    EXPECT_EQ(doc->toPlainText(), S("x"));
}
