#include "pim/store/VCardRecords.h"

#include "foundation/VtrCalendarDate.h"

#include <QRegularExpression>
#include <QSet>
#include <QStringDecoder>
#include <QUrl>

#include <libebook-contacts/libebook-contacts.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <vector>

namespace syncstore {

namespace {

// ---- raw text ---------------------------------------------------------------

QByteArray paramValue(const QByteArray &params, const QByteArray &name)
{
    for (const QByteArray &p : params.split(';')) {
        const int eq = p.indexOf('=');
        if (eq > 0 && p.left(eq).trimmed().toUpper() == name) return p.mid(eq + 1).trimmed().toUpper();
    }
    return {};
}

// A 2.1 line "NAME;CHARSET=X:raw bytes": the value converted to UTF-8 and
// the CHARSET dropped. Quoted-printable values are the parser's.
QByteArray convertCharset(const QByteArray &line, qsizetype colon)
{
    const QByteArray head = line.left(colon);
    const QByteArray charset = paramValue(head, "CHARSET");
    if (charset.isEmpty() || charset == "UTF-8" || charset == "US-ASCII") return line;
    gsize written = 0;
    gchar *utf8 = g_convert(line.constData() + colon + 1, line.size() - colon - 1, "UTF-8", charset.constData(), nullptr,
                            &written, nullptr);
    if (!utf8) return line;
    QByteArray out = head;
    out.replace("CHARSET=" + charset, "CHARSET=UTF-8");
    out.reserve(out.size() + 1 + qsizetype(written));
    out.append(':').append(utf8, qsizetype(written));
    g_free(utf8);
    return out;
}

// Where the value of a property line begins: after the first colon outside
// a quoted parameter value; -1 for a line without one.
qsizetype valueColon(QByteArrayView line)
{
    bool quoted = false;
    for (qsizetype i = 0; i < line.size(); ++i) {
        if (line[i] == '"') quoted = !quoted;
        else if (line[i] == ':' && !quoted) return i;
    }
    return -1;
}

bool isHex(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); }

// The value with every "=" that starts no escape of two hex digits written
// as the escape of "=" itself: the parser reads past the end of its text
// when an "=" is followed by nothing it can decode. Written into a copy in
// one pass: an insertion for each would move the rest of a value of bare
// "=" each time.
void repairEscapes(QByteArray &line, qsizetype valueStart)
{
    QByteArray out;
    qsizetype copied = 0;  // the bytes of `line` before this are in `out`
    for (qsizetype i = valueStart; i < line.size(); ++i) {
        if (line[i] != '=') continue;
        if (i + 2 < line.size() && isHex(line[i + 1]) && isHex(line[i + 2])) {
            i += 2;
            continue;
        }
        if (out.isEmpty()) out.reserve(line.size() + 2);
        out.append(QByteArrayView(line).sliced(copied, i + 1 - copied)).append("3D");
        copied = i + 1;
    }
    if (copied == 0) return;
    out.append(QByteArrayView(line).sliced(copied));
    line = std::move(out);
}

QString utf8(const char *s) { return s ? QString::fromUtf8(s) : QString(); }

// ---- attributes ---------------------------------------------------------------

QStringList values(EVCardAttribute *a)
{
    QStringList out;
    for (GList *v = e_vcard_attribute_get_values(a); v; v = v->next) out.append(utf8(static_cast<char *>(v->data)));
    return out;
}

// A single-value text (NOTE, TITLE, EMAIL...) as the file holds it. The
// parser splits every value at a ";" not escaped, which a 2.1 writer leaves
// bare outside compound values ("Gate code 4711; ring twice"): the pieces
// are joined with the ";" they were split at. ("\;" and "\," of 3.0 and 4.0
// come unescaped within a piece.)
QString joined(const QStringList &v)
{
    return (v.size() == 1 ? v.first() : v.join(QLatin1Char(';'))).trimmed();  // one value: no copy of a long one
}

QString text(EVCardAttribute *a) { return joined(values(a)); }

QString valueAt(const QStringList &v, int i) { return i < v.size() ? v.at(i).trimmed() : QString(); }

// TYPE values (also bare 2.1 parameters, which the parser files as TYPE),
// upper-case, comma lists split.
QStringList types(EVCardAttribute *a)
{
    QStringList out;
    for (GList *p = e_vcard_attribute_get_params(a); p; p = p->next) {
        auto *param = static_cast<EVCardAttributeParam *>(p->data);
        const QString name = utf8(e_vcard_attribute_param_get_name(param)).toUpper();
        if (name != QLatin1String("TYPE")) continue;
        for (GList *v = e_vcard_attribute_param_get_values(param); v; v = v->next)
            for (const QString &t : utf8(static_cast<char *>(v->data)).split(QLatin1Char(',')))
                out.append(t.trimmed().toUpper());
    }
    return out;
}

QString param(EVCardAttribute *a, const char *name)
{
    GList *v = e_vcard_attribute_get_param(a, name);
    return v ? utf8(static_cast<char *>(v->data)) : QString();
}

// "_$!<HomePage>!$_" -> "HomePage"; a custom label stays as it is.
QString appleLabel(const QString &label, bool *standard = nullptr)
{
    static const QRegularExpression re(QStringLiteral("^_\\$!<(.*)>!\\$_$"));
    const auto m = re.match(label);
    if (standard) *standard = m.hasMatch();
    return m.hasMatch() ? m.captured(1) : label;
}

QString workHomeOther(const QStringList &t)
{
    if (t.contains(QLatin1String("WORK"))) return QStringLiteral("work");
    if (t.contains(QLatin1String("HOME"))) return QStringLiteral("home");
    return QStringLiteral("other");
}

QString phoneType(const QStringList &t)
{
    if (t.contains(QLatin1String("FAX")))
        return t.contains(QLatin1String("HOME")) ? QStringLiteral("home fax") : QStringLiteral("work fax");
    if (t.contains(QLatin1String("CELL")) || t.contains(QLatin1String("MOBILE")) || t.contains(QLatin1String("IPHONE")))
        return QStringLiteral("mobile");
    if (t.contains(QLatin1String("PAGER"))) return QStringLiteral("pager");
    if (t.contains(QLatin1String("MAIN"))) return QStringLiteral("main");
    return workHomeOther(t);
}

// Apple's standard labels for the store types they stand for.
QString typeForStandardLabel(const QString &label)
{
    static const QHash<QString, QString> table = {
        {QStringLiteral("mobile"), QStringLiteral("mobile")},     {QStringLiteral("iphone"), QStringLiteral("mobile")},
        {QStringLiteral("home"), QStringLiteral("home")},         {QStringLiteral("work"), QStringLiteral("work")},
        {QStringLiteral("main"), QStringLiteral("main")},         {QStringLiteral("homefax"), QStringLiteral("home fax")},
        {QStringLiteral("workfax"), QStringLiteral("work fax")},  {QStringLiteral("pager"), QStringLiteral("pager")},
        {QStringLiteral("other"), QStringLiteral("other")},       {QStringLiteral("homepage"), QStringLiteral("home page")},
    };
    return table.value(label.toLower());
}

// Year, month and day of a vCard date ("1970-07-04", "19700704",
// "19531015T231000Z"), at noon in the default zone so that the local day is
// the one written. A day without a year ("--0704", "--07-04", or a date whose
// year is the one the attribute's X-APPLE-OMIT-YEAR names) is held in
// kNoYear, as the desktop address book holds it.
QVariant dateValue(const QString &raw, const QTimeZone &zone, const QString &omittedYear = QString())
{
    QString digits = raw.trimmed();
    const bool noYear = digits.startsWith(QLatin1String("--"));
    const qsizetype t = digits.indexOf(QLatin1Char('T'));
    if (t >= 0) digits.truncate(t);
    digits.remove(QLatin1Char('-'));
    if (digits.size() != (noYear ? 4 : 8)) return {};
    for (const QChar c : std::as_const(digits))
        if (!c.isDigit()) return {};
    int y = noYear ? kNoYear : digits.left(4).toInt();
    const int m = digits.mid(noYear ? 0 : 4, 2).toInt(), d = digits.right(2).toInt();
    if (m < 1 || m > 12 || d < 1 || d > 31) return {};
    if (!omittedYear.isEmpty() && omittedYear.toInt() == y) y = kNoYear;
    return QVariant::fromValue(VtrCalendarDate::fromComponents(y, m, d, 12, 0, 0, zone));
}

QByteArray photoData(EVCardAttribute *a)
{
    const QString enc = param(a, "ENCODING").toUpper();
    if (enc == QLatin1String("B") || enc == QLatin1String("BASE64")) {
        QByteArray out;
        GList *decoded = e_vcard_attribute_get_values_decoded(a);
        if (decoded) {
            auto *s = static_cast<GString *>(decoded->data);
            out = QByteArray(s->str, qsizetype(s->len));
        }
        return out;
    }
    const QString v = values(a).join(QLatin1Char(';'));  // "data:image/jpeg;base64,..." is split at ';'
    const int comma = v.indexOf(QLatin1Char(','));
    if (v.startsWith(QLatin1String("data:")) && comma > 0 && v.left(comma).endsWith(QLatin1String("base64")))
        return QByteArray::fromBase64(v.mid(comma + 1).toLatin1());
    return {};  // a web address: nothing is fetched
}

struct ImService
{
    const char *key;
    const char *service;
};
constexpr ImService kImProperties[] = {
    {"X-AIM", "aim"},       {"X-JABBER", "jabber"},       {"X-GOOGLE-TALK", "jabber"}, {"X-MSN", "msn"},
    {"X-YAHOO", "yahoo"},   {"X-ICQ", "icq"},             {"X-SKYPE", "skype"},        {"X-SKYPE-USERNAME", "skype"},
    {"X-GADUGADU", "gadugadu"}, {"X-GROUPWISE", "groupwise"}, {"X-QQ", "qq"},
};
constexpr ImService kImSchemes[] = {
    {"xmpp", "jabber"}, {"jabber", "jabber"}, {"gtalk", "jabber"}, {"aim", "aim"},     {"msnim", "msn"},
    {"msn", "msn"},     {"ymsgr", "yahoo"},   {"yahoo", "yahoo"},  {"icq", "icq"},     {"skype", "skype"},
};

// Items of one relationship of a contact.
class Items
{
public:
    Items(SyncRecordSink &sink, QString contactId, QString relationship, QString kind, QString entityName)
        : m_sink(sink), m_contactId(std::move(contactId)), m_relationship(std::move(relationship)),
          m_kind(std::move(kind)), m_entity(std::move(entityName))
    {
    }
    void add(QVariantMap item)
    {
        const QString id = m_contactId + QLatin1Char('/') + m_kind + QLatin1Char('/') + QString::number(m_ids.size());
        m_sink.addRecord(id, m_entity, std::move(item));
        m_ids.append(id);
    }
    void linkInto(QVariantMap &contact) const
    {
        if (!m_ids.isEmpty()) contact.insert(m_relationship, m_ids);
    }

private:
    SyncRecordSink &m_sink;
    QString m_contactId, m_relationship, m_kind, m_entity;
    QStringList m_ids;
};

void setIfAny(QVariantMap &map, const QString &key, const QString &value)
{
    if (!value.isEmpty()) map.insert(key, value);
}

QString stripUrn(QString uid)
{
    if (uid.startsWith(QLatin1String("urn:uuid:"), Qt::CaseInsensitive)) uid = uid.mid(9);
    return uid;
}

// ---- lists the parser is given ---------------------------------------------------

// The parser walks a property's list of values, its list of parameters and
// each parameter's list of values to their ends for every item it adds: a
// property of k items costs k². No list it is given is longer than this.
constexpr int kListItems = 32;

// Positions of the separators in `text` outside double quotes (a parameter
// list); with `commas` also ",".
std::vector<qsizetype> quotedListSeparators(QByteArrayView text, bool commas)
{
    std::vector<qsizetype> at;
    bool quoted = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == '"') quoted = !quoted;
        else if (!quoted && (text[i] == ';' || (commas && text[i] == ','))) at.push_back(i);
    }
    return at;
}

// Positions of the separators of a value: ";" (and "," for the properties
// whose values are listed with it) not escaped with "\".
std::vector<qsizetype> valueSeparators(QByteArrayView value, bool commas)
{
    std::vector<qsizetype> at;
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value[i] == '\\') ++i;
        else if (value[i] == ';' || (commas && value[i] == ',')) at.push_back(i);
    }
    return at;
}

// The parameters ("NAME;P1=a,b;P2") with at most kListItems parameters and
// kListItems values each: the reader asks for a few known parameters only,
// which no ordinary line has that many of.
QByteArray boundedParameters(QByteArrayView head)
{
    const std::vector<qsizetype> params = quotedListSeparators(head, false);
    QByteArray out = head.first(params.empty() ? head.size() : params.front()).toByteArray();
    for (size_t p = 0; p < params.size() && p < size_t(kListItems); ++p) {
        const qsizetype end = p + 1 < params.size() ? params[p + 1] : head.size();
        const QByteArrayView param = head.sliced(params[p], end - params[p]);
        // Its values, after the ";": separated by "," alone.
        const std::vector<qsizetype> commas = quotedListSeparators(param.sliced(1), true);
        out.append(param.first(commas.size() >= size_t(kListItems) ? commas[kListItems - 1] + 1 : param.size()));
    }
    return out;
}

// A property line made one the parser reads in linear time, or nullopt when
// it already is one. What the reader makes of a property of more values
// stays as it was: of N, ADR and SOUND (a name's reading) only the first
// fields are read, so the rest is left out; every value of CATEGORIES is a
// category, so the line becomes lines of the same parameters; the values of
// any other property are read joined, with ", " (NICKNAME, ORG) or ";"
// (all others), so the further separators are written as that text, escaped.
// `items`: 1, or a CATEGORIES line's number of categories.
std::optional<QByteArray> boundedProperty(QByteArrayView line, qsizetype &items)
{
    items = 1;
    const qsizetype colon = valueColon(line);
    if (colon <= 0) return std::nullopt;
    const QByteArrayView head = line.first(colon), value = line.sliced(colon + 1);
    const qsizetype nameEnd = head.indexOf(';');
    QByteArrayView nameView = head.first(nameEnd < 0 ? head.size() : nameEnd);
    nameView = nameView.sliced(nameView.lastIndexOf('.') + 1);
    const bool categories = qstrnicmp(nameView.data(), nameView.size(), "CATEGORIES", 10) == 0;
    // Most lines are only counted: nothing is made of them.
    bool longHead = false, longValue = false;
    qsizetype params = 0, values = 0, valueSeparatorCount = 0;
    bool quoted = false;
    for (qsizetype i = 0; i < head.size() && !longHead; ++i) {
        if (head[i] == '"') {
            quoted = !quoted;
        } else if (!quoted && head[i] == ';') {
            longHead = ++params > kListItems;
            values = 0;
        } else if (!quoted && head[i] == ',') {
            longHead = ++values >= kListItems;
        }
    }
    for (qsizetype i = 0; i < value.size() && !longValue; ++i) {
        if (value[i] == '\\') ++i;
        else if (value[i] == ';' || (categories && value[i] == ',')) longValue = ++valueSeparatorCount >= kListItems;
    }
    if (categories && !longValue) items = valueSeparatorCount + 1;
    if (!longHead && !longValue) return std::nullopt;

    const QByteArray bounded = longHead ? boundedParameters(head) : head.toByteArray();
    if (!longValue) return bounded + ':' + value.toByteArray() + "\r\n";

    const QByteArray name = nameView.toByteArray().toUpper();
    const std::vector<qsizetype> separators = valueSeparators(value, categories);
    QByteArray out = bounded + ':';
    static const QHash<QByteArray, int> fieldsRead{{"N", 5}, {"ADR", 7}, {"SOUND", 3}};
    if (const int fields = fieldsRead.value(name); fields > 0) {
        out.append(value.first(separators[size_t(fields - 1)])).append("\r\n");
    } else if (categories) {
        items = qsizetype(separators.size()) + 1;
        out.clear();
        for (size_t from = 0; from <= separators.size(); from += kListItems) {
            const qsizetype begin = from ? separators[from - 1] + 1 : 0;
            const qsizetype end = from + kListItems - 1 < separators.size() ? separators[from + kListItems - 1] : value.size();
            out += bounded + ':' + value.sliced(begin, end - begin).toByteArray() + "\r\n";
        }
    } else {
        const QByteArrayView joined = name == "NICKNAME" || name == "ORG" ? "\\, " : "\\;";
        qsizetype from = 0;
        for (size_t k = kListItems - 1; k < separators.size(); ++k) {
            out.append(value.sliced(from, separators[k] - from)).append(joined);
            from = separators[k] + 1;
        }
        out.append(value.sliced(from)).append("\r\n");
    }
    return out;
}

// Appends the property of these physical lines (a first line and its folded
// continuations), each ending in CRLF; a property the parser would read in
// quadratic time is given unfolded and bounded. The items it adds: 1, or
// the categories of a CATEGORIES line (each becomes a group's member).
qsizetype appendProperty(QByteArray &card, const std::vector<QByteArray> &lines)
{
    // An empty line holds none: it is passed on but not counted (a run of
    // lone CRs is many of them).
    if (lines.size() == 1 && lines.front().isEmpty()) {
        card += "\r\n";
        return 0;
    }
    std::optional<QByteArray> bounded;
    qsizetype items = 1;
    if (lines.size() == 1) {
        bounded = boundedProperty(lines.front(), items);
    } else {
        QByteArray unfolded = lines.front();
        for (size_t i = 1; i < lines.size(); ++i) unfolded.append(QByteArrayView(lines[i]).sliced(1));
        bounded = boundedProperty(unfolded, items);
    }
    if (bounded) {
        card += *bounded;
        return items;
    }
    for (const QByteArray &l : lines) card.append(l).append("\r\n");
    return items;
}

// The text of a file as UTF-8. A UTF-16 file is converted: one with a
// byte-order mark, and one without, told by its zero bytes (a vCard's names
// and syntax are ASCII, whose characters have a zero half; UTF-8 text has
// no zero bytes at all). A UTF-8 mark is dropped.
QByteArray asUtf8(const QByteArray &data)
{
    std::optional<QStringConverter::Encoding> utf16;
    if (data.startsWith("\xFF\xFE")) {
        utf16 = QStringConverter::Utf16LE;
    } else if (data.startsWith("\xFE\xFF")) {
        utf16 = QStringConverter::Utf16BE;
    } else {
        const qsizetype n = std::min<qsizetype>(data.size(), 4096) & ~qsizetype(1);
        qsizetype even = 0, odd = 0;
        for (qsizetype i = 0; i < n; i += 2) {
            even += data[i] == 0;
            odd += data[i + 1] == 0;
        }
        if (odd > n / 8 && even * 8 < odd) utf16 = QStringConverter::Utf16LE;
        else if (even > n / 8 && odd * 8 < even) utf16 = QStringConverter::Utf16BE;
    }
    if (utf16) return QString(QStringDecoder(*utf16).decode(data)).toUtf8();  // the decoder drops the mark
    return data.startsWith("\xEF\xBB\xBF") ? data.sliced(3) : data;
}


// ---- lines of a card ------------------------------------------------------------

bool isSpaceOrNul(char c) { return c == '\0' || c == ' ' || (c >= '\t' && c <= '\r'); }

char asciiUpper(char c) { return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c; }

bool sameWord(QByteArrayView a, QByteArrayView b)
{
    return a.size() == b.size() && qstrnicmp(a.data(), a.size(), b.data(), b.size()) == 0;
}

// Whether the line is `word` in any case, blanks around it and NUL bytes
// anywhere in it left aside (a NUL is no text). Only the word's length of
// the line is compared: a long value is never copied for it.
bool lineIs(QByteArrayView line, QByteArrayView word)
{
    qsizetype from = 0, to = line.size();
    while (from < to && isSpaceOrNul(line[from])) ++from;
    while (to > from && isSpaceOrNul(line[to - 1])) --to;
    qsizetype matched = 0;
    for (qsizetype i = from; i < to; ++i) {
        if (line[i] == '\0') continue;
        if (matched == word.size() || asciiUpper(line[i]) != asciiUpper(word[matched])) return false;
        ++matched;
    }
    return matched == word.size();
}

// A folded line: the value of the property before it goes on.
bool startsWithBlank(QByteArrayView line)
{
    for (const char c : line)
        if (c != '\0') return c == ' ' || c == '\t';
    return false;
}

// The name of a property line, its group left aside ("item1.TEL;TYPE=CELL:1"
// is "TEL").
QByteArrayView propertyName(QByteArrayView line, qsizetype colon)
{
    QByteArrayView name = line.first(colon);
    if (const qsizetype semicolon = name.indexOf(';'); semicolon >= 0) name = name.first(semicolon);
    return name.sliced(name.lastIndexOf('.') + 1).trimmed();
}

// An AGENT of no value: in 2.1 the agent's own card follows on the next
// lines, BEGIN to END, inside the card that names it.
bool isEmptyAgent(QByteArrayView line)
{
    line = line.trimmed();
    if (!line.endsWith(':')) return false;  // most lines: nothing more is looked at
    const qsizetype colon = valueColon(line);
    return colon == line.size() - 1 && sameWord(propertyName(line, colon), "AGENT");
}

// Whether a property's parameters say its value is base64: ENCODING=BASE64,
// ENCODING=B or 2.1's bare BASE64, in any case.
bool base64Encoded(QByteArrayView head)
{
    for (qsizetype from = head.indexOf(';'); from >= 0;) {
        const qsizetype next = head.indexOf(';', from + 1);
        QByteArrayView param = head.sliced(from + 1, (next < 0 ? head.size() : next) - from - 1).trimmed();
        const qsizetype eq = param.indexOf('=');
        if (eq >= 0 && sameWord(param.first(eq).trimmed(), "ENCODING")) {
            param = param.sliced(eq + 1).trimmed();
            if (sameWord(param, "BASE64") || sameWord(param, "B")) return true;
        } else if (eq < 0 && sameWord(param, "BASE64")) {
            return true;
        }
        from = next;
    }
    return false;
}

// A line of base64 digits only (blanks around it left aside), which no
// property line is: a property's name ends at ":" or ";".
bool isBase64Text(QByteArrayView line)
{
    line = line.trimmed();
    if (line.isEmpty()) return false;
    for (const char c : line)
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/' || c == '='))
            return false;
    return true;
}

// A line of blanks and NULs only.
bool isBlankLine(QByteArrayView line) { return std::all_of(line.begin(), line.end(), isSpaceOrNul); }

// Whether the line is a VERSION property ("VERSION:2.1"; NULs left aside), not
// folded: what follows BEGIN:VCARD in every card a program writes.
bool isVersionLine(QByteArrayView line)
{
    static constexpr QByteArrayView kName = "VERSION";
    qsizetype matched = 0, i = 0;
    for (; i < line.size() && matched < kName.size(); ++i)
        if (line[i] != '\0' && asciiUpper(line[i]) != kName[matched++]) return false;
    while (i < line.size() && (line[i] == '\0' || line[i] == ' ' || line[i] == '\t')) ++i;
    return matched == kName.size() && i < line.size() && line[i] == ':';
}

// A soft line break: the line's last character ("=") other than a NUL.
bool endsWithSoftBreak(QByteArrayView line)
{
    for (qsizetype i = line.size() - 1; i >= 0; --i)
        if (line[i] != '\0') return line[i] == '=';
    return false;
}

// Whether the parameters before the line's value name QUOTED-PRINTABLE.
bool quotedPrintableLine(QByteArrayView line)
{
    static constexpr QByteArrayView kWord = "QUOTED-PRINTABLE";
    const qsizetype colon = valueColon(line);
    for (qsizetype i = 0; i + kWord.size() <= colon; ++i)
        if (qstrnicmp(line.data() + i, kWord.size(), kWord.data(), kWord.size()) == 0) return true;
    return false;
}

// The properties whose base64 value is bytes, not text: they are read (a
// picture) or passed over as the parser gives them.
bool binaryProperty(QByteArrayView name)
{
    return sameWord(name, "PHOTO") || sameWord(name, "LOGO") || sameWord(name, "SOUND") || sameWord(name, "KEY");
}

// A property whose value is base64 text, as a line of that text in UTF-8
// (from its CHARSET), quoted-printable: the parser keeps a base64 value as
// it is. A quoted-printable value holds any byte, a line break too; a ";"
// in it separates fields (of N, ADR) as in a raw value, and a "\" written
// "=5C" is the text's own, no escape.
QByteArray decodedTextLine(QByteArrayView line)
{
    const qsizetype colon = valueColon(line);
    const QByteArrayView head = line.first(colon), value = line.sliced(colon + 1);
    QByteArray bytes(value.size() / 4 * 3 + 3, Qt::Uninitialized);
    gint state = 0;
    guint save = 0;
    bytes.truncate(qsizetype(g_base64_decode_step(value.data(), gsize(value.size()),
                                                  reinterpret_cast<guchar *>(bytes.data()), &state, &save)));
    const QByteArray charset = paramValue(head.toByteArray(), "CHARSET");
    if (!charset.isEmpty() && charset != "UTF-8" && charset != "US-ASCII") {
        gsize written = 0;
        if (gchar *utf8 = g_convert(bytes.constData(), bytes.size(), "UTF-8", charset.constData(), nullptr, &written, nullptr)) {
            bytes = QByteArray(utf8, qsizetype(written));
            g_free(utf8);
        }
    }
    // The parameters but the encoding and the charset, which the text now has.
    const std::vector<qsizetype> params = quotedListSeparators(head, false);
    QByteArray out = head.first(params.empty() ? head.size() : params.front()).toByteArray();
    for (size_t p = 0; p < params.size(); ++p) {
        const qsizetype end = p + 1 < params.size() ? params[p + 1] : head.size();
        const QByteArrayView param = head.sliced(params[p], end - params[p]);
        const QByteArrayView word = param.sliced(1).trimmed();
        const qsizetype eq = word.indexOf('=');
        const QByteArrayView name = eq < 0 ? word : word.first(eq).trimmed();
        if (!sameWord(name, "ENCODING") && !sameWord(name, "CHARSET") && !(eq < 0 && sameWord(name, "BASE64")))
            out.append(param);
    }
    out.reserve(out.size() + 45 + bytes.size());
    out.append(";CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:");
    for (const char c : std::as_const(bytes)) {
        switch (c) {
        case '=': out.append("=3D"); break;
        case '\\': out.append("=5C"); break;
        case '\r': out.append("=0D"); break;
        case '\n': out.append("=0A"); break;
        case '\0': break;  // a NUL is no text: the parser would end the value there
        default: out.append(c);
        }
    }
    return out;
}

// ---- the parser's warnings ------------------------------------------------------

// The parser writes its warnings to the standard error through GLib's log
// under this domain, one for every few bytes of a crafted file. While a
// file's cards are read they go into its notes instead, on that thread.
constexpr char kParserLogDomain[] = "libebook-contacts";

struct WarningsOfFile
{
    VCardFileNotes *notes;
    qsizetype card;
};
thread_local WarningsOfFile *t_warnings = nullptr;

void takeParserWarning(const gchar *domain, GLogLevelFlags level, const gchar *message, gpointer)
{
    WarningsOfFile *to = t_warnings;
    if (!to || (level & G_LOG_FLAG_FATAL)) {
        g_log_default_handler(domain, level, message, nullptr);
        return;
    }
    if (to->notes->parserWarnings.size() < kCardsNamed)
        to->notes->parserWarnings.append({to->card, QString::fromUtf8(message).trimmed()});
    ++to->notes->parserWarningCount;
}

// The parser's warnings on this thread go into `notes` while it lives (with
// no notes, where they went before).
class ParserWarningsInto
{
public:
    explicit ParserWarningsInto(VCardFileNotes *notes) : m_previous(t_warnings), m_to{notes, 0}
    {
        static const guint handler [[maybe_unused]] = g_log_set_handler(
            kParserLogDomain, GLogLevelFlags(G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_WARNING | G_LOG_LEVEL_MESSAGE),
            takeParserWarning, nullptr);
        if (notes) t_warnings = &m_to;
    }
    ~ParserWarningsInto() { t_warnings = m_previous; }
    ParserWarningsInto(const ParserWarningsInto &) = delete;
    ParserWarningsInto &operator=(const ParserWarningsInto &) = delete;
    void setCard(qsizetype card) { m_to.card = card; }

private:
    WarningsOfFile *m_previous;
    WarningsOfFile m_to;
};

}  // namespace

QList<QByteArray> splitVCards(const QByteArray &fileContents, VCardFileNotes *notes)
{
    QList<QByteArray> cards;
    QByteArray current;
    bool inCard = false, is21 = false;
    // The properties (and categories) of the card being read; past
    // kCardProperties the card is dropped and its lines are only looked
    // through for its end.
    qsizetype properties = 0;
    bool overBound = false;
    auto add = [&](const std::vector<QByteArray> &lines) {
        if (overBound) return;
        properties += appendProperty(current, lines);
        if (properties > kCardProperties) {
            overBound = true;
            current = QByteArray();
        }
    };
    // Whether a quoted-printable property is being read (also where its
    // lines are only looked through), the line being joined, and whether
    // its last physical line ended in a soft line break.
    bool qpOpen = false, softBreak = false;
    QByteArray qp;
    auto finishQp = [&] {
        if (!std::exchange(qpOpen, false)) return;
        const bool broken = std::exchange(softBreak, false);
        if (qp.isEmpty()) return;
        if (broken) qp.chop(1);  // a soft break before the card's end joins nothing
        repairEscapes(qp, valueColon(qp) + 1);
        add({std::exchange(qp, QByteArray())});
    };
    // The 2.1 base64 property line being joined: 2.1 lets its value go on
    // over lines without a leading blank, up to a blank line. It is one
    // property, given to the parser as one line. Whether it is text.
    QByteArray base64;
    bool base64Text = false;
    auto finishBase64 = [&] {
        if (base64.isEmpty()) return;
        const QByteArray line = std::exchange(base64, QByteArray());
        add({std::exchange(base64Text, false) ? decodedTextLine(line) : line});
    };
    // The physical lines of the property being read (other than
    // quoted-printable), and whether its value is base64 text.
    std::vector<QByteArray> property;
    bool propertyBase64Text = false;
    auto finishProperty = [&] {
        if (property.empty()) return;
        if (std::exchange(propertyBase64Text, false)) {
            QByteArray unfolded = property.front();
            for (size_t i = 1; i < property.size(); ++i) unfolded.append(QByteArrayView(property[i]).sliced(1));
            property.clear();
            add({decodedTextLine(unfolded)});
            return;
        }
        add(property);
        property.clear();
    };
    // The 2.1 agents' cards being passed over (nested ones counted), where
    // the outermost one begins, and whether the line before was an AGENT
    // whose card may follow. The reader keeps nothing of an agent; its END
    // must not end the card.
    qsizetype agentCards = 0, agentBegin = 0;
    bool afterAgent = false;
    // The lines before this were read a second time, as the card after an
    // agent's AGENT: none is read a third time.
    qsizetype readAgainUpTo = 0;

    // A BEGIN:VCARD line (no VERSION after it) ended a value of the card as
    // its text after a soft line break: the card most likely lost its END
    // there, and the next card's lines are read as its own.
    bool beginInValue = false;

    auto startCard = [&] {
        inCard = true;
        is21 = overBound = afterAgent = qpOpen = softBreak = beginInValue = false;
        properties = agentCards = 0;
        current = "BEGIN:VCARD\r\n";
    };
    // The card's END, or the line that ends a card without one (the next
    // card's BEGIN, the file's end): such a card is read as far as it goes.
    enum class Ending { End, LostEnd, AtAgent };
    auto endCard = [&](Ending how) {
        finishQp();
        finishBase64();
        finishProperty();
        if (overBound) {
            if (notes) notes->tooLarge.append(cards.size());
            cards.append(QByteArray());
        } else {
            current.append("END:VCARD\r\n");
            if (notes && (how == Ending::LostEnd || (how == Ending::End && beginInValue))) notes->lostEnd.append(cards.size());
            if (notes && how == Ending::AtAgent) notes->endedAtAgent.append(cards.size());
            cards.append(std::exchange(current, QByteArray()));
        }
        inCard = false;
    };

    const QByteArray text = asUtf8(fileContents);
    const QByteArrayView data(text);
    // A line ends in LF, in CRs and LF, or in a lone CR (older Macs): the
    // line at `at` and where the next one begins. The run of CRs last looked
    // through is [crRunFrom, crRunTo): a run of lone CRs is as many empty
    // lines, and each would otherwise look through the rest of it for an LF.
    qsizetype crRunFrom = 0, crRunTo = 0;
    qsizetype linesRead = 0;  // each time a line is looked at
    qsizetype bytesRead = 0;  // each time a byte is looked at for a line's end
    auto lineAt = [&](qsizetype at) -> std::pair<QByteArrayView, qsizetype> {
        ++linesRead;
        qsizetype end = at;
        while (end < data.size() && data[end] != '\n' && data[end] != '\r') ++end;
        bytesRead += end - at;
        qsizetype next = end + 1;
        if (end < data.size() && data[end] == '\r') {
            if (end < crRunFrom || end >= crRunTo) {
                crRunFrom = crRunTo = end;
                while (crRunTo < data.size() && data[crRunTo] == '\r') ++crRunTo;
                bytesRead += crRunTo - crRunFrom;
            }
            if (crRunTo < data.size() && data[crRunTo] == '\n') next = crRunTo + 1;
        }
        return {data.sliced(at, end - at), std::min(next, data.size())};
    };
    // Where the next card begins when nothing but blank lines comes first
    // (the file's end when nothing comes), or -1.
    auto nextCardAt = [&](qsizetype at) -> qsizetype {
        for (; at < data.size();) {
            const auto [line, next] = lineAt(at);
            if (!isBlankLine(line)) return !startsWithBlank(line) && lineIs(line, "BEGIN:VCARD") ? at : -1;
            at = next;
        }
        return data.size();
    };
    qsizetype from = 0;
    // The card showed no more of itself after its agent's card began: it
    // ends at its AGENT, and the agent's card is read again as the next
    // card, the lines up to `upTo` once only. False when they were.
    auto readAgentAsCard = [&](qsizetype upTo) {
        if (agentBegin < readAgainUpTo) return false;
        endCard(Ending::AtAgent);
        readAgainUpTo = upTo;
        from = agentBegin;
        return true;
    };

    for (;;) {
        if (from >= data.size()) {
            if (!inCard) break;
            if (agentCards > 0 && readAgentAsCard(data.size())) continue;
            endCard(Ending::LostEnd);
            break;
        }
        const qsizetype at = from;
        const auto [view, next] = lineAt(at);
        from = next;
        if (!inCard) {
            if (lineIs(view, "BEGIN:VCARD")) startCard();
            continue;
        }
        if (lineIs(view, "END:VCARD")) {
            afterAgent = false;
            if (agentCards == 0) {
                endCard(Ending::End);
                continue;
            }
            qpOpen = softBreak = false;  // the agent's property ends with its card
            if (--agentCards > 0) continue;
            // The card goes on after its agent's card, or that was none.
            if (const qsizetype nextCard = nextCardAt(from); nextCard >= 0) readAgentAsCard(nextCard);
            continue;
        }
        // A BEGIN among the properties (not a folded line, not the text
        // after a soft line break unless a VERSION line follows) starts an
        // agent's card, or the next card: then this one has lost its END.
        const bool folded = startsWithBlank(view);
        const bool continues = folded || (qpOpen && softBreak);
        if (!folded && lineIs(view, "BEGIN:VCARD") && (!continues || isVersionLine(lineAt(from).first))) {
            if (std::exchange(afterAgent, false)) {
                finishProperty();  // the AGENT line
                if (agentCards++ == 0) agentBegin = at;
            } else if (agentCards == 0 || !readAgentAsCard(at)) {
                endCard(Ending::LostEnd);
                startCard();
            }
            continue;
        }
        if (agentCards > 0 || overBound) {
            // Looked through as they would be read: a BEGIN after a soft
            // line break and an AGENT are told as in the card's own lines.
            if (qpOpen && (softBreak || folded)) {
                softBreak = endsWithSoftBreak(view);
                afterAgent = false;
            } else {
                qpOpen = quotedPrintableLine(view);
                softBreak = qpOpen && endsWithSoftBreak(view);
                afterAgent = !folded && !qpOpen && isEmptyAgent(view);
            }
            if (overBound) {
                qp.clear();
                base64.clear();
                property.clear();
            }
            continue;
        }
        afterAgent = false;
        QByteArray line = view.toByteArray();
        // A NUL is no text: the parser would take it for the end of the card.
        if (line.contains('\0')) line.removeIf([](char c) { return c == '\0'; });
        if (!base64.isEmpty()) {
            if (startsWithBlank(line) || isBase64Text(line)) {
                base64 += QByteArrayView(line).trimmed();
                continue;
            }
            finishBase64();
            if (line.trimmed().isEmpty()) continue;  // the blank line that ends the value
        }
        // After a soft line break the next line is the value's text, whatever
        // it begins with (a "#" too); a folded line (leading blank) belongs
        // to the value as well.
        if (qpOpen && (softBreak || line.startsWith(' ') || line.startsWith('\t'))) {
            // A BEGIN:VCARD line after a soft break, no "=" after it: it
            // ends the value.
            if (softBreak && !folded && lineIs(line, "BEGIN:VCARD")) beginInValue = true;
            if (softBreak) qp.chop(1);
            else line.remove(0, 1);
            qp += line;
            softBreak = qp.endsWith('=');
            continue;
        }
        finishQp();
        if (!folded) finishProperty();
        if (lineIs(line, "VERSION:2.1")) is21 = true;
        const qsizetype colon = valueColon(line);
        if (colon > 0 && quotedPrintableLine(line)) {
            finishProperty();
            qp = line;
            qpOpen = true;
            softBreak = qp.endsWith('=');
            continue;
        }
        if (!folded && colon > 0) {
            const QByteArrayView name = propertyName(line, colon);
            // "END:VCARDx": no end, but the parser would stop reading there.
            if (sameWord(name, "END")) continue;
            afterAgent = sameWord(name, "AGENT") && QByteArrayView(line).sliced(colon + 1).trimmed().isEmpty();
            const bool inBase64 = base64Encoded(QByteArrayView(line).first(colon));
            if (is21 && inBase64) {
                base64Text = !binaryProperty(name);
                base64 = std::move(line);
                continue;
            }
            propertyBase64Text = inBase64 && !binaryProperty(name);
        }
        property.push_back(is21 && colon > 0 ? convertCharset(line, colon) : line);
    }
    if (notes) {
        notes->linesRead = linesRead;
        notes->bytesRead = bytesRead;
    }
    return cards;
}

int ContactRecordBuilder::addVCardFile(const QByteArray &fileContents, const QString &fallbackUid, VCardFileNotes *notes)
{
    VCardFileNotes split;
    QList<QByteArray> cards = splitVCards(fileContents, &split);
    std::vector<bool> added(size_t(cards.size()), false);
    qsizetype tooLarge = 0;  // the next of split.tooLarge, which is in the file's order
    int count = 0;
    ParserWarningsInto warnings(notes ? &split : nullptr);
    for (qsizetype i = 0; i < cards.size(); ++i) {
        if (tooLarge < split.tooLarge.size() && split.tooLarge.at(tooLarge) == i) {
            ++tooLarge;
            continue;
        }
        warnings.setCard(i);
        std::unique_ptr<EVCard, decltype(&g_object_unref)> card(e_vcard_new_from_string(cards.at(i).constData()),
                                                                &g_object_unref);
        cards[i] = QByteArray();  // the parser holds its own copy
        const QString uid = i ? fallbackUid + QLatin1Char('-') + QString::number(i) : fallbackUid;
        added[size_t(i)] = card && addVCard(card.get(), uid);
        if (added[size_t(i)]) ++count;
        else split.unread.append(i);
    }
    if (notes) {
        // A card left out is named as such only.
        for (QList<qsizetype> *read : {&split.lostEnd, &split.endedAtAgent})
            read->removeIf([&](qsizetype card) { return !added[size_t(card)]; });
        *notes = std::move(split);
    }
    return count;
}

bool ContactRecordBuilder::addVCard(EVCard *card, const QString &fallbackUid)
{
    GList *attrs = e_vcard_get_attributes(card);
    if (!attrs) return false;

    // Grouped labels ("item1.X-ABLabel") of the card.
    QHash<QString, QString> labels;
    QString uid, kind, fullName;
    for (GList *l = attrs; l; l = l->next) {
        auto *a = static_cast<EVCardAttribute *>(l->data);
        const QString name = utf8(e_vcard_attribute_get_name(a)).toUpper();
        const QString group = utf8(e_vcard_attribute_get_group(a)).toLower();
        if (name == QLatin1String("X-ABLABEL") && !group.isEmpty()) labels.insert(group, text(a));
        else if (name == QLatin1String("UID")) uid = text(a);
        else if (name == QLatin1String("KIND") || name == QLatin1String("X-ADDRESSBOOKSERVER-KIND")) kind = text(a).toLower();
        else if (name == QLatin1String("FN")) fullName = text(a);
    }
    if (uid.isEmpty()) uid = fallbackUid;

    if (kind == QLatin1String("group")) {
        Group g;
        g.name = fullName;
        for (GList *l = attrs; l; l = l->next) {
            auto *a = static_cast<EVCardAttribute *>(l->data);
            const QString name = utf8(e_vcard_attribute_get_name(a)).toUpper();
            if (name == QLatin1String("MEMBER") || name == QLatin1String("X-ADDRESSBOOKSERVER-MEMBER"))
                g.memberUids.append(stripUrn(text(a)));
        }
        if (!g.name.isEmpty()) m_groups.append(g);
        return true;
    }

    const QString id = m_sink.uniqueIdentifier(uid);
    m_idForUid.insert(uid, id);
    m_idForUid.insert(stripUrn(uid), id);

    QVariantMap c;
    Items phones(m_sink, id, QStringLiteral("phone numbers"), QStringLiteral("phone"), entity::PhoneNumber);
    Items emails(m_sink, id, QStringLiteral("email addresses"), QStringLiteral("email"), entity::EmailAddress);
    Items addresses(m_sink, id, QStringLiteral("street addresses"), QStringLiteral("address"), entity::StreetAddress);
    Items ims(m_sink, id, QStringLiteral("IMs"), QStringLiteral("im"), entity::IM);
    Items related(m_sink, id, QStringLiteral("related names"), QStringLiteral("related"), entity::RelatedName);
    Items urls(m_sink, id, QStringLiteral("URLs"), QStringLiteral("url"), entity::URL);
    Items dates(m_sink, id, QStringLiteral("dates"), QStringLiteral("date"), entity::Date);
    QStringList notes, categories;
    QSet<QString> categoriesSeen;
    bool company = false;

    for (GList *l = attrs; l; l = l->next) {
        auto *a = static_cast<EVCardAttribute *>(l->data);
        const QString name = utf8(e_vcard_attribute_get_name(a)).toUpper();
        const QString group = utf8(e_vcard_attribute_get_group(a)).toLower();
        const QStringList t = types(a);
        bool standard = false;
        const QString label = appleLabel(labels.value(group), &standard);
        // The values as text only for the properties that read them (a
        // base64 picture is decoded from the parser's bytes instead).
        std::optional<QStringList> valuesRead;
        auto v = [&]() -> const QStringList & {
            if (!valuesRead) valuesRead = values(a);
            return *valuesRead;
        };
        auto single = [&] { return joined(v()); };

        if (name == QLatin1String("N")) {
            setIfAny(c, QStringLiteral("last name"), valueAt(v(), 0));
            setIfAny(c, QStringLiteral("first name"), valueAt(v(), 1));
            setIfAny(c, QStringLiteral("middle name"), valueAt(v(), 2));
            setIfAny(c, QStringLiteral("title"), valueAt(v(), 3));
            setIfAny(c, QStringLiteral("suffix"), valueAt(v(), 4));
        } else if (name == QLatin1String("NICKNAME")) {
            setIfAny(c, QStringLiteral("nickname"), v().join(QStringLiteral(", ")).trimmed());
        } else if (name == QLatin1String("X-MAIDENNAME")) {
            setIfAny(c, QStringLiteral("maiden name"), single());
        } else if (name == QLatin1String("X-PHONETIC-FIRST-NAME")) {
            setIfAny(c, QStringLiteral("first name yomi"), single());
        } else if (name == QLatin1String("X-PHONETIC-MIDDLE-NAME")) {
            setIfAny(c, QStringLiteral("middle name yomi"), single());
        } else if (name == QLatin1String("X-PHONETIC-LAST-NAME")) {
            setIfAny(c, QStringLiteral("last name yomi"), single());
        } else if (name == QLatin1String("SOUND") && t.contains(QLatin1String("X-IRMC-N"))) {
            // The reading of N, in N's fields; the parser keeps SOUND whole.
            const QStringList reading = v().join(QLatin1Char(';')).split(QLatin1Char(';'));
            setIfAny(c, QStringLiteral("last name yomi"), valueAt(reading, 0));
            setIfAny(c, QStringLiteral("first name yomi"), valueAt(reading, 1));
            setIfAny(c, QStringLiteral("middle name yomi"), valueAt(reading, 2));
        } else if (name == QLatin1String("ORG")) {
            setIfAny(c, QStringLiteral("company name"), valueAt(v(), 0));
            setIfAny(c, QStringLiteral("department"), v().mid(1).join(QStringLiteral(", ")).trimmed());
        } else if (name == QLatin1String("TITLE")) {
            setIfAny(c, QStringLiteral("job title"), single());
        } else if (name == QLatin1String("NOTE")) {
            if (QString note = single(); !note.isEmpty()) notes.append(std::move(note));
        } else if (name == QLatin1String("BDAY")) {
            const QVariant d = dateValue(single(), m_zone, param(a, "X-APPLE-OMIT-YEAR"));
            if (d.isValid()) c.insert(QStringLiteral("birthday"), d);
        } else if (name == QLatin1String("PHOTO")) {
            const QByteArray data = photoData(a);
            if (!data.isEmpty()) c.insert(QStringLiteral("image"), data);
        } else if (name == QLatin1String("X-ABSHOWAS")) {
            company = single().compare(QLatin1String("COMPANY"), Qt::CaseInsensitive) == 0;
        } else if (name == QLatin1String("CATEGORIES")) {
            for (const QString &cat : v())
                if (const QString c = cat.trimmed(); !c.isEmpty() && !categoriesSeen.contains(c)) {
                    categoriesSeen.insert(c);
                    categories.append(c);
                }
        } else if (name == QLatin1String("TEL")) {
            QString number = v().join(QLatin1Char(';')).trimmed();
            if (number.startsWith(QLatin1String("tel:"), Qt::CaseInsensitive)) number = number.mid(4);
            if (number.isEmpty()) continue;
            QVariantMap item{{QStringLiteral("value"), number}};
            const QString fromLabel = standard ? typeForStandardLabel(label) : QString();
            item.insert(QStringLiteral("type"), fromLabel.isEmpty() ? phoneType(t) : fromLabel);
            if (!label.isEmpty() && fromLabel.isEmpty()) item.insert(QStringLiteral("label"), label);
            phones.add(std::move(item));
        } else if (name == QLatin1String("EMAIL")) {
            if (single().isEmpty()) continue;
            QVariantMap item{{QStringLiteral("value"), single()}, {QStringLiteral("type"), workHomeOther(t)}};
            const QString fromLabel = standard ? typeForStandardLabel(label) : QString();
            if (!fromLabel.isEmpty()) item.insert(QStringLiteral("type"), fromLabel);
            else setIfAny(item, QStringLiteral("label"), label);
            emails.add(std::move(item));
        } else if (name == QLatin1String("ADR")) {
            QVariantMap item{{QStringLiteral("type"), workHomeOther(t)}};
            setIfAny(item, QStringLiteral("street"), valueAt(v(), 2));
            setIfAny(item, QStringLiteral("city"), valueAt(v(), 3));
            setIfAny(item, QStringLiteral("state"), valueAt(v(), 4));
            setIfAny(item, QStringLiteral("postal code"), valueAt(v(), 5));
            setIfAny(item, QStringLiteral("country"), valueAt(v(), 6));
            QVariantMap extra;
            setIfAny(extra, QStringLiteral("pobox"), valueAt(v(), 0));
            setIfAny(extra, QStringLiteral("ext"), valueAt(v(), 1));
            if (!extra.isEmpty()) item.insert(QStringLiteral("extra_device_fields"), extra);
            if (!standard) setIfAny(item, QStringLiteral("label"), label);
            if (item.size() > 1) addresses.add(std::move(item));
        } else if (name == QLatin1String("IMPP") || name.startsWith(QLatin1String("X-"))) {
            QString service, user = single();
            if (name == QLatin1String("IMPP")) {
                const int colon = user.indexOf(QLatin1Char(':'));
                const QString scheme = colon > 0 ? user.left(colon).toLower() : QString();
                user = colon > 0 ? user.mid(colon + 1) : user;
                service = param(a, "X-SERVICE-TYPE").toLower();
                for (const ImService &s : kImSchemes)
                    if (service.isEmpty() && scheme == QLatin1String(s.key)) service = QLatin1String(s.service);
                if (service.isEmpty()) service = scheme;
            } else {
                for (const ImService &s : kImProperties)
                    if (name == QLatin1String(s.key)) service = QLatin1String(s.service);
            }
            if (!service.isEmpty() && !user.isEmpty()) {
                QVariantMap item{{QStringLiteral("type"), workHomeOther(t)}, {QStringLiteral("user"), user},
                                 {QStringLiteral("service"), service}};
                setIfAny(item, QStringLiteral("label"), standard ? QString() : label);
                ims.add(std::move(item));
                continue;
            }
            QString relation;
            if (name == QLatin1String("X-ABRELATEDNAMES")) relation = label.toLower();
            else if (name == QLatin1String("X-EVOLUTION-SPOUSE")) relation = QStringLiteral("spouse");
            else if (name == QLatin1String("X-EVOLUTION-MANAGER")) relation = QStringLiteral("manager");
            else if (name == QLatin1String("X-EVOLUTION-ASSISTANT")) relation = QStringLiteral("assistant");
            if (!relation.isEmpty() || name == QLatin1String("X-ABRELATEDNAMES")) {
                if (!user.isEmpty())
                    related.add({{QStringLiteral("type"), relation.isEmpty() ? QStringLiteral("other") : relation},
                                 {QStringLiteral("value"), user}});
                continue;
            }
            if (name == QLatin1String("X-ABDATE") || name == QLatin1String("X-ANNIVERSARY") ||
                name == QLatin1String("X-EVOLUTION-ANNIVERSARY")) {
                const QVariant d = dateValue(user, m_zone);
                const QString type = name == QLatin1String("X-ABDATE") && !label.isEmpty() ? label.toLower()
                                                                                            : QStringLiteral("anniversary");
                if (d.isValid()) dates.add({{QStringLiteral("type"), type}, {QStringLiteral("value"), d}});
            }
        } else if (name == QLatin1String("RELATED")) {
            if (!single().isEmpty())
                related.add({{QStringLiteral("type"), t.isEmpty() ? QStringLiteral("other") : t.first().toLower()},
                             {QStringLiteral("value"), single()}});
        } else if (name == QLatin1String("ANNIVERSARY")) {
            const QVariant d = dateValue(single(), m_zone);
            if (d.isValid()) dates.add({{QStringLiteral("type"), QStringLiteral("anniversary")}, {QStringLiteral("value"), d}});
        } else if (name == QLatin1String("URL")) {
            QString address = v().join(QLatin1Char(';')).trimmed();
            address.replace(QLatin1String("\\:"), QLatin1String(":"));
            if (address.isEmpty()) continue;
            const QString fromLabel = standard ? typeForStandardLabel(label) : QString();
            QVariantMap item{{QStringLiteral("type"), fromLabel.isEmpty() ? workHomeOther(t) : fromLabel},
                             {QStringLiteral("value"), QUrl::fromUserInput(address)}};
            if (fromLabel.isEmpty()) setIfAny(item, QStringLiteral("label"), label);
            urls.add(std::move(item));
        }
    }
    // A card with a formatted name only (allowed from vCard 4.0 on).
    if (!c.contains(QStringLiteral("first name")) && !c.contains(QStringLiteral("last name")) &&
        !fullName.isEmpty() && fullName != c.value(QStringLiteral("company name")).toString())
        c.insert(QStringLiteral("first name"), fullName);
    if (!notes.isEmpty()) c.insert(QStringLiteral("notes"), notes.size() == 1 ? notes.first() : notes.join(QLatin1Char('\n')));
    c.insert(QStringLiteral("display as company"), company ? QStringLiteral("company") : QStringLiteral("person"));
    for (const Items *items : {&phones, &emails, &addresses, &ims, &related, &urls, &dates}) items->linkInto(c);

    for (const QString &cat : categories) {
        auto it = m_categoryIndex.constFind(cat);
        if (it == m_categoryIndex.cend()) {
            it = m_categoryIndex.insert(cat, m_groups.size());
            m_groups.append({cat, {}, {}});
        }
        m_groups[*it].memberIds.append(id);
    }
    m_sink.addRecord(id, entity::Contact, std::move(c));
    ++m_contacts;
    return true;
}

void ContactRecordBuilder::finishGroups()
{
    for (const Group &g : std::as_const(m_groups)) {
        QStringList members = g.memberIds;
        for (const QString &uid : g.memberUids)
            if (m_idForUid.contains(uid)) members.append(m_idForUid.value(uid));
        QVariantMap record{{QStringLiteral("name"), g.name}};
        if (!members.isEmpty()) record.insert(QStringLiteral("members"), members);
        m_sink.addRecord(m_sink.uniqueIdentifier(QStringLiteral("group:") + g.name), entity::Group, record);
    }
    m_groups.clear();
    m_categoryIndex.clear();
}

}  // namespace syncstore
