#include "sources/host/PropertyListXml.h"

#include <QDateTime>
#include <QFile>
#include <QHash>
#include <QTimeZone>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <memory>
#include <string>
#include <unordered_map>
#include <unistd.h>

namespace vtr {

QString PropertyListError::toString() const
{
    return line > 0 ? QStringLiteral("%1 (line %2)").arg(reason).arg(line) : reason;
}

namespace {

struct ParseFailure
{
    QString reason;
};

[[noreturn]] void fail(const QString &reason)
{
    throw ParseFailure{reason};
}

// Bytes of the document, either all in memory or pulled from a file in
// blocks. Line numbers are counted only for the blocks already left behind
// and, on failure, for the current one.
class Scanner
{
public:
    explicit Scanner(QByteArrayView data) : m_p(data.data()), m_end(data.data() + data.size()), m_start(m_p) {}
    explicit Scanner(int fd) : m_fd(fd), m_buffer(new char[kBlock]) { m_p = m_end = m_start = m_buffer.get(); }

    int peek()
    {
        if (m_p == m_end && !fill()) return -1;
        return static_cast<unsigned char>(*m_p);
    }
    int get()
    {
        if (m_p == m_end && !fill()) return -1;
        return static_cast<unsigned char>(*m_p++);
    }
    bool atEnd() { return peek() < 0; }

    // The bytes up to (not including) `stop`; the scanner stands on `stop`.
    // The view is valid until the next call.
    QByteArrayView readUntil(char stop, const char *what)
    {
        const char *hit = static_cast<const char *>(std::memchr(m_p, stop, size_t(m_end - m_p)));
        if (hit) {
            QByteArrayView view(m_p, hit - m_p);
            m_p = hit;
            return view;
        }
        m_scratch.assign(m_p, m_end);
        m_p = m_end;
        for (;;) {
            if (!fill()) fail(QStringLiteral("The file ends inside %1.").arg(QLatin1String(what)));
            hit = static_cast<const char *>(std::memchr(m_p, stop, size_t(m_end - m_p)));
            if (hit) {
                m_scratch.append(m_p, hit);
                m_p = hit;
                return QByteArrayView(m_scratch.data(), qsizetype(m_scratch.size()));
            }
            m_scratch.append(m_p, m_end);
            m_p = m_end;
        }
    }

    // Skips past the next occurrence of `marker`.
    void skipPast(const char *marker, const char *what)
    {
        const size_t n = std::strlen(marker);
        size_t matched = 0;
        while (matched < n) {
            const int c = get();
            if (c < 0) fail(QStringLiteral("The file ends inside %1.").arg(QLatin1String(what)));
            if (c == static_cast<unsigned char>(marker[matched]))
                ++matched;
            else
                matched = (c == static_cast<unsigned char>(marker[0])) ? 1 : 0;
        }
    }

    void skipSpace()
    {
        for (;;) {
            while (m_p < m_end && (*m_p == ' ' || *m_p == '\n' || *m_p == '\t' || *m_p == '\r'))
                ++m_p;
            if (m_p < m_end || !fill()) return;
        }
    }

    qint64 line() const
    {
        qint64 n = m_linesBefore + 1;
        for (const char *q = m_start; q < m_p && q < m_end; ++q)
            if (*q == '\n') ++n;
        return n;
    }

    bool readFailed() const { return m_readError != 0; }

private:
    static constexpr size_t kBlock = 1 << 20;

    bool fill()
    {
        if (m_fd < 0) return false;
        for (const char *q = m_start; q < m_end; ++q)
            if (*q == '\n') ++m_linesBefore;
        ssize_t got;
        do {
            got = ::read(m_fd, m_buffer.get(), kBlock);
        } while (got < 0 && errno == EINTR);
        if (got < 0) {
            m_readError = errno;
            fail(QStringLiteral("The file could not be read: %1.").arg(QString::fromLocal8Bit(std::strerror(errno))));
        }
        m_p = m_start = m_buffer.get();
        m_end = m_p + got;
        return got > 0;
    }

    const char *m_p = nullptr;
    const char *m_end = nullptr;
    const char *m_start = nullptr;
    int m_fd = -1;
    std::unique_ptr<char[]> m_buffer;
    std::string m_scratch;
    qint64 m_linesBefore = 0;
    int m_readError = 0;
};

// The start of a bad value, for a message.
QString shown(QByteArrayView text)
{
    return QString::fromUtf8(text.first(qMin<qsizetype>(text.size(), 40)));
}

bool isNameChar(int c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
           c == ':' || c == '.';
}

void appendUtf8(std::string &out, uint cp)
{
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | (cp >> 6));
        out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += char(0xE0 | (cp >> 12));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xF0 | (cp >> 18));
        out += char(0x80 | ((cp >> 12) & 0x3F));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}

class Parser
{
public:
    explicit Parser(Scanner &s) : m_s(s) {}

    QVariant document()
    {
        prolog();
        bool wrapped = false;
        QVariant value;
        Tag tag = readTag();
        if (tag.name == "plist") {
            if (tag.closing) fail(QStringLiteral("The document begins with a closing </plist> tag."));
            wrapped = !tag.empty;
            if (!wrapped) fail(QStringLiteral("The property list is empty."));
            skipMisc();
            if (peekClosing()) fail(QStringLiteral("The property list is empty."));
            tag = readTag();
        }
        value = valueForTag(tag, 0);
        skipMisc();
        if (wrapped) {
            const Tag end = readTag();
            if (!end.closing || end.name != "plist")
                fail(QStringLiteral("Expected </plist> after the top-level value, found <%1>.").arg(end.text()));
            skipMisc();
        }
        if (!m_s.atEnd()) fail(QStringLiteral("Unexpected content after the end of the property list."));
        return value;
    }

private:
    // Element names are short and compared often: kept without allocation.
    struct TagName
    {
        char data[16];
        int size = 0;
        bool operator==(const char *other) const
        {
            return size == int(std::strlen(other)) && std::memcmp(data, other, size_t(size)) == 0;
        }
        bool operator!=(const char *other) const { return !(*this == other); }
        bool operator==(const TagName &other) const
        {
            return size == other.size && std::memcmp(data, other.data, size_t(size)) == 0;
        }
        bool operator!=(const TagName &other) const { return !(*this == other); }
        QByteArray bytes() const { return QByteArray(data, size); }
    };

    struct Tag
    {
        TagName name;
        bool closing = false;
        bool empty = false;
        QString text() const { return QString::fromUtf8((closing ? "/" : "") + name.bytes()); }
    };

    void prolog()
    {
        // An optional byte-order mark, the declaration, a document type,
        // comments and white space, in any order before the first element.
        if (m_s.peek() == 0xEF) {
            m_s.get();
            if (m_s.get() != 0xBB || m_s.get() != 0xBF) fail(QStringLiteral("The file is not UTF-8 text."));
        }
        for (;;) {
            m_s.skipSpace();
            const int c = m_s.peek();
            if (c < 0) fail(QStringLiteral("The file holds no property list."));
            if (c != '<') fail(QStringLiteral("The file is not an XML property list."));
            m_s.get();
            const int d = m_s.peek();
            if (d == '?') {
                m_s.skipPast("?>", "the XML declaration");
            } else if (d == '!') {
                m_s.get();
                if (m_s.peek() == '-') {
                    expectLiteral("--");
                    m_s.skipPast("-->", "a comment");
                } else {
                    skipDoctype();
                }
            } else {
                m_pendingOpen = true;
                return;
            }
        }
    }

    void skipDoctype()
    {
        int brackets = 0;
        for (;;) {
            const int c = m_s.get();
            if (c < 0) fail(QStringLiteral("The file ends inside the document type."));
            if (c == '[') ++brackets;
            if (c == ']') --brackets;
            if (c == '>' && brackets <= 0) return;
        }
    }

    void expectLiteral(const char *text)
    {
        for (const char *q = text; *q; ++q)
            if (m_s.get() != static_cast<unsigned char>(*q))
                fail(QStringLiteral("Malformed markup: expected \"%1\".").arg(QLatin1String(text)));
    }

    // White space and comments between elements.
    void skipMisc()
    {
        for (;;) {
            m_s.skipSpace();
            if (m_pendingOpen || m_s.peek() != '<') return;
            m_s.get();
            if (m_s.peek() == '!') {
                m_s.get();
                expectLiteral("--");
                m_s.skipPast("-->", "a comment");
                continue;
            }
            if (m_s.peek() == '?') {
                m_s.skipPast("?>", "a processing instruction");
                continue;
            }
            m_pendingOpen = true;
            return;
        }
    }

    bool peekClosing()
    {
        return m_pendingOpen && m_s.peek() == '/';
    }

    Tag readTag()
    {
        if (!m_pendingOpen) {
            m_s.skipSpace();
            const int c = m_s.get();
            if (c < 0) fail(QStringLiteral("The file ends where an element was expected."));
            if (c != '<') fail(QStringLiteral("Text where an element was expected."));
        }
        m_pendingOpen = false;
        Tag tag;
        if (m_s.peek() == '/') {
            m_s.get();
            tag.closing = true;
        }
        int n = 0;
        for (;;) {
            const int c = m_s.peek();
            if (c < 0) fail(QStringLiteral("The file ends inside a tag."));
            if (!isNameChar(c)) break;
            m_s.get();
            if (n < int(sizeof tag.name.data)) tag.name.data[n] = char(c);
            ++n;
        }
        if (n == 0) fail(QStringLiteral("Malformed tag."));
        tag.name.size = qMin(n, int(sizeof tag.name.data));
        // Attributes (only <plist version="...">) are skipped; quoted values
        // may hold '>'.
        for (;;) {
            const int c = m_s.get();
            if (c < 0) fail(QStringLiteral("The file ends inside the tag <%1>.").arg(tag.text()));
            if (c == '>') break;
            if (c == '"' || c == '\'') {
                for (;;) {
                    const int d = m_s.get();
                    if (d < 0) fail(QStringLiteral("The file ends inside the tag <%1>.").arg(tag.text()));
                    if (d == c) break;
                }
            } else if (c == '/') {
                if (m_s.peek() != '>') fail(QStringLiteral("Malformed tag <%1>.").arg(tag.text()));
                tag.empty = true;
            } else if (c == '<') {
                fail(QStringLiteral("Malformed tag <%1>.").arg(tag.text()));
            }
        }
        return tag;
    }

    // Character data up to the closing tag of `element`, entities and
    // CDATA sections decoded, as UTF-8.
    QByteArrayView text(const char *element)
    {
        {
            // The view points into the scanner's block, which reading on
            // may replace: decode (or copy) it before anything else.
            const QByteArrayView raw = m_s.readUntil('<', element);
            m_decoded.clear();
            if (raw.contains('&'))
                decodeInto(raw);
            else
                m_decoded.assign(raw.data(), size_t(raw.size()));
        }
        m_s.get();  // '<'
        if (m_s.peek() == '/') {
            m_s.get();
            closeTextElement(element);
            return QByteArrayView(m_decoded.data(), qsizetype(m_decoded.size()));
        }
        for (;;) {
            if (m_s.peek() == '!') {
                m_s.get();
                expectLiteral("[CDATA[");
                std::string cdata;
                for (;;) {
                    QByteArrayView part = m_s.readUntil('>', "a CDATA section");
                    m_s.get();
                    cdata.append(part.data(), size_t(part.size()));
                    if (cdata.size() >= 2 && cdata.compare(cdata.size() - 2, 2, "]]") == 0) {
                        cdata.resize(cdata.size() - 2);
                        break;
                    }
                    cdata += '>';
                }
                m_decoded += cdata;
            } else if (m_s.peek() == '/') {
                m_s.get();
                closeTextElement(element);
                return QByteArrayView(m_decoded.data(), qsizetype(m_decoded.size()));
            } else {
                fail(QStringLiteral("Unexpected markup inside <%1>.").arg(QLatin1String(element)));
            }
            QByteArrayView more = m_s.readUntil('<', element);
            decodeInto(more);
            m_s.get();
        }
    }

    void closeTextElement(const char *element)
    {
        for (const char *q = element; *q; ++q)
            if (m_s.get() != static_cast<unsigned char>(*q))
                fail(QStringLiteral("Mismatched closing tag inside <%1>.").arg(QLatin1String(element)));
        m_s.skipSpace();
        if (m_s.get() != '>') fail(QStringLiteral("Mismatched closing tag inside <%1>.").arg(QLatin1String(element)));
    }

    void decodeInto(QByteArrayView raw)
    {
        const char *p = raw.data();
        const char *end = p + raw.size();
        while (p < end) {
            const char *amp = static_cast<const char *>(std::memchr(p, '&', size_t(end - p)));
            if (!amp) {
                m_decoded.append(p, end);
                return;
            }
            m_decoded.append(p, amp);
            const char *semi = static_cast<const char *>(std::memchr(amp, ';', size_t(end - amp)));
            if (!semi || semi - amp > 12) fail(QStringLiteral("An unterminated character reference."));
            const QByteArrayView ent(amp + 1, semi - amp - 1);
            if (ent == "amp")
                m_decoded += '&';
            else if (ent == "lt")
                m_decoded += '<';
            else if (ent == "gt")
                m_decoded += '>';
            else if (ent == "quot")
                m_decoded += '"';
            else if (ent == "apos")
                m_decoded += '\'';
            else if (ent.size() > 1 && ent[0] == '#') {
                bool ok = false;
                const uint cp = (ent[1] == 'x' || ent[1] == 'X') ? ent.sliced(2).toUInt(&ok, 16) : ent.sliced(1).toUInt(&ok, 10);
                if (!ok || cp == 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
                    fail(QStringLiteral("An invalid character reference \"&%1;\".").arg(QString::fromUtf8(ent)));
                appendUtf8(m_decoded, cp);
            } else {
                fail(QStringLiteral("An unknown entity \"&%1;\".").arg(QString::fromUtf8(ent)));
            }
            p = semi + 1;
        }
    }

    // Keys always share one string each. Texts share one only under keys
    // whose values repeat (kinds, genres, artists): a key whose first values
    // were mostly new (names, identifiers, locations) stops being looked up,
    // so the table never holds a copy of every unique text.
    struct KeyStats
    {
        int lookups = 0;
        int hits = 0;
        bool worthIt() const { return lookups < 64 || hits * 4 >= lookups; }
    };

    QString internedString(QByteArrayView utf8, KeyStats *stats)
    {
        if (utf8.isEmpty()) return QString(QLatin1String(""));
        if (stats && (utf8.size() > 48 || !stats->worthIt())) return QString::fromUtf8(utf8);
        const QByteArray probe = QByteArray::fromRawData(utf8.data(), utf8.size());
        if (stats) ++stats->lookups;
        auto it = m_strings.constFind(probe);
        if (it != m_strings.constEnd()) {
            if (stats) ++stats->hits;
            return it.value();
        }
        QString s = QString::fromUtf8(utf8);
        if (m_strings.size() < 200000) m_strings.insert(QByteArray(utf8.data(), utf8.size()), s);
        return s;
    }

    QVariant valueForTag(const Tag &tag, int depth)
    {
        if (tag.closing) fail(QStringLiteral("Unexpected closing tag <%1>.").arg(tag.text()));
        if (depth > XmlPropertyListReader::kMaxDepth) fail(QStringLiteral("The values are nested too deeply."));
        const TagName &n = tag.name;
        if (n == "dict") return dictionary(tag, depth);
        if (n == "array") return array(tag, depth);
        if (n == "string")
            return tag.empty ? QString(QLatin1String("")) : internedString(text("string"), m_currentStats);
        if (n == "integer") return integer(tag);
        if (n == "true" || n == "false") {
            if (!tag.empty) closeEmpty(n);
            return n == "true";
        }
        if (n == "real") return real(tag);
        if (n == "date") return date(tag);
        if (n == "data") return data(tag);
        fail(QStringLiteral("Unknown element <%1>.").arg(tag.text()));
    }

    void closeEmpty(const TagName &name)
    {
        m_s.skipSpace();
        const Tag end = readTag();
        if (!end.closing || end.name != name)
            fail(QStringLiteral("<%1> must be empty.").arg(QString::fromUtf8(name.bytes())));
    }

    QVariant dictionary(const Tag &tag, int depth)
    {
        QVariantMap map;
        if (tag.empty) return map;
        for (;;) {
            skipMisc();
            const Tag keyTag = readTag();
            if (keyTag.closing) {
                if (keyTag.name != "dict")
                    fail(QStringLiteral("Mismatched closing tag <%1> inside <dict>.").arg(keyTag.text()));
                return map;
            }
            if (keyTag.name != "key") fail(QStringLiteral("<%1> where a <key> was expected.").arg(keyTag.text()));
            const QString key = keyTag.empty ? QString(QLatin1String("")) : internedString(text("key"), nullptr);
            skipMisc();
            if (peekClosing() || m_s.atEnd()) {
                if (m_s.atEnd()) fail(QStringLiteral("The file ends inside <dict>."));
                fail(QStringLiteral("The key \"%1\" has no value.").arg(key));
            }
            const Tag valueTag = readTag();
            m_currentStats = &m_keyStats[key];
            map.insert(key, valueForTag(valueTag, depth + 1));
        }
    }

    QVariant array(const Tag &tag, int depth)
    {
        QVariantList list;
        if (tag.empty) return list;
        for (;;) {
            skipMisc();
            if (m_s.atEnd()) fail(QStringLiteral("The file ends inside <array>."));
            const Tag item = readTag();
            if (item.closing) {
                if (item.name != "array")
                    fail(QStringLiteral("Mismatched closing tag <%1> inside <array>.").arg(item.text()));
                return list;
            }
            list.append(valueForTag(item, depth + 1));
        }
    }

    QByteArrayView trimmedText(const Tag &tag, const char *element)
    {
        if (tag.empty) return {};
        return text(element).trimmed();
    }

    QVariant integer(const Tag &tag)
    {
        const QByteArrayView t = trimmedText(tag, "integer");
        if (t.isEmpty()) fail(QStringLiteral("An empty <integer>."));
        bool ok = false;
        const bool hex = t.startsWith("0x") || t.startsWith("0X");
        const qint64 v = hex ? t.sliced(2).toLongLong(&ok, 16) : t.toLongLong(&ok, 10);
        if (ok) return v;
        const quint64 u = t.startsWith('-') ? 0 : (hex ? t.sliced(2).toULongLong(&ok, 16) : t.toULongLong(&ok, 10));
        if (ok) return u;
        fail(QStringLiteral("\"%1\" is not a 64-bit integer.").arg(shown(t)));
    }

    QVariant real(const Tag &tag)
    {
        const QByteArrayView t = trimmedText(tag, "real");
        bool ok = false;
        const double v = t.toDouble(&ok);
        if (ok) return v;
        const QByteArray lower = t.toByteArray().toLower();
        if (lower == "nan") return std::numeric_limits<double>::quiet_NaN();
        if (lower == "inf" || lower == "+inf" || lower == "infinity") return std::numeric_limits<double>::infinity();
        if (lower == "-inf" || lower == "-infinity") return -std::numeric_limits<double>::infinity();
        fail(QStringLiteral("\"%1\" is not a number.").arg(shown(t)));
    }

    QVariant date(const Tag &tag)
    {
        const QByteArrayView t = trimmedText(tag, "date");
        // yyyy-mm-ddThh:mm:ssZ; later parts may be left out.
        int parts[6] = {0, 1, 1, 0, 0, 0};
        const char seps[6] = {'-', '-', 'T', ':', ':', 'Z'};
        qsizetype i = 0;
        int field = 0;
        bool negative = false;
        if (i < t.size() && t[i] == '-') {
            negative = true;
            ++i;
        }
        for (; field < 6; ++field) {
            if (i >= t.size()) break;
            int v = 0;
            int digits = 0;
            while (i < t.size() && t[i] >= '0' && t[i] <= '9' && digits < 9) {
                v = v * 10 + (t[i] - '0');
                ++i;
                ++digits;
            }
            if (digits == 0) fail(QStringLiteral("\"%1\" is not a date.").arg(shown(t)));
            parts[field] = v;
            if (i >= t.size()) break;
            if (t[i] != seps[field]) fail(QStringLiteral("\"%1\" is not a date.").arg(shown(t)));
            ++i;
        }
        if (i != t.size() || t.isEmpty()) fail(QStringLiteral("\"%1\" is not a date.").arg(shown(t)));
        if (negative || parts[0] < 1 || parts[0] > 9999)
            fail(QStringLiteral("\"%1\" is not a valid date.").arg(shown(t)));
        const QDate d(parts[0], parts[1], parts[2]);
        const QTime time(parts[3], parts[4], parts[5]);
        if (!d.isValid() || !time.isValid())
            fail(QStringLiteral("\"%1\" is not a valid date.").arg(shown(t)));
        return QDateTime(d, time, Qt::UTC);
    }

    QVariant data(const Tag &tag)
    {
        if (tag.empty) return QByteArray("");
        const QByteArrayView t = text("data");
        QByteArray compact;
        compact.reserve(t.size());
        for (char c : t)
            if (c != ' ' && c != '\n' && c != '\t' && c != '\r') compact += c;
        // Decoded in place: a backup manifest's data runs to tens of megabytes.
        auto result = QByteArray::fromBase64Encoding(std::move(compact), QByteArray::AbortOnBase64DecodingErrors);
        if (!result) fail(QStringLiteral("<data> that is not Base64."));
        return result.decoded.isNull() ? QByteArray("") : result.decoded;
    }

    Scanner &m_s;
    bool m_pendingOpen = false;
    std::string m_decoded;
    QHash<QByteArray, QString> m_strings;
    std::unordered_map<QString, KeyStats> m_keyStats;  // node-based: the pointer below stays valid
    KeyStats m_topLevelStats;
    KeyStats *m_currentStats = &m_topLevelStats;  // of the key whose value is being read
};

std::optional<QVariant> run(Scanner &scanner, PropertyListError *error)
{
    try {
        Parser parser(scanner);
        return parser.document();
    } catch (const ParseFailure &failure) {
        if (error) *error = PropertyListError{failure.reason, scanner.line()};
    } catch (const std::bad_alloc &) {
        if (error) *error = PropertyListError{QStringLiteral("Not enough memory to read the file."), scanner.line()};
    }
    return std::nullopt;
}

}  // namespace

std::optional<QVariant> XmlPropertyListReader::readData(QByteArrayView data, PropertyListError *error)
{
    Scanner scanner(data);
    return run(scanner, error);
}

std::optional<QVariant> XmlPropertyListReader::readFile(const QString &path, PropertyListError *error)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (error)
            *error = PropertyListError{QStringLiteral("\"%1\" could not be opened: %2.")
                                           .arg(path, QString::fromLocal8Bit(std::strerror(errno))),
                                       0};
        return std::nullopt;
    }
    Scanner scanner(fd);
    auto result = run(scanner, error);
    ::close(fd);
    return result;
}

namespace {

// The dictionary a property list holds at its top, or why not.
std::optional<QVariantMap> dictionaryOf(const std::optional<QVariant> &value, PropertyListError *error)
{
    if (!value) return std::nullopt;
    if (value->typeId() != QMetaType::QVariantMap) {
        if (error) *error = PropertyListError{QStringLiteral("The property list does not hold a dictionary."), 0};
        return std::nullopt;
    }
    return value->toMap();
}

}  // namespace

std::optional<QVariantMap> XmlPropertyListReader::readDictionary(int fd, PropertyListError *error)
{
    Scanner scanner(fd);
    return dictionaryOf(run(scanner, error), error);
}

std::optional<QVariantMap> XmlPropertyListReader::readDictionaryFile(const QString &path, PropertyListError *error)
{
    return dictionaryOf(readFile(path, error), error);
}

// ---------------------------------------------------------------------------

namespace {

void escapeInto(QByteArray &out, const QString &text)
{
    const QByteArray utf8 = text.toUtf8();
    for (char c : utf8) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        default:
            // Control characters other than tab and line ends are not
            // allowed in XML 1.0 at all; they become character references
            // readers refuse less often than raw bytes. NUL has no form at
            // all and is left out.
            if (c == '\0') break;
            if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r')
                out += "&#" + QByteArray::number(int(static_cast<unsigned char>(c))) + ';';
            else
                out += c;
        }
    }
}

void writeValue(QByteArray &out, const QVariant &value, int depth)
{
    const QByteArray indent(depth, '\t');
    out += indent;
    switch (value.typeId()) {
    case QMetaType::QVariantMap: {
        const QVariantMap map = value.toMap();
        if (map.isEmpty()) {
            out += "<dict/>\n";
            return;
        }
        out += "<dict>\n";
        for (auto it = map.cbegin(); it != map.cend(); ++it) {
            out += indent + "\t<key>";
            escapeInto(out, it.key());
            out += "</key>\n";
            writeValue(out, it.value(), depth + 1);
        }
        out += indent + "</dict>\n";
        return;
    }
    case QMetaType::QVariantList:
    case QMetaType::QStringList: {
        const QVariantList list = value.toList();
        if (list.isEmpty()) {
            out += "<array/>\n";
            return;
        }
        out += "<array>\n";
        for (const QVariant &v : list)
            writeValue(out, v, depth + 1);
        out += indent + "</array>\n";
        return;
    }
    case QMetaType::Bool:
        out += value.toBool() ? "<true/>\n" : "<false/>\n";
        return;
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::Long:
    case QMetaType::Short:
    case QMetaType::Char:
    case QMetaType::SChar:
        out += "<integer>" + QByteArray::number(value.toLongLong()) + "</integer>\n";
        return;
    case QMetaType::UInt:
    case QMetaType::ULongLong:
    case QMetaType::ULong:
    case QMetaType::UShort:
    case QMetaType::UChar:
        out += "<integer>" + QByteArray::number(value.toULongLong()) + "</integer>\n";
        return;
    case QMetaType::Double:
    case QMetaType::Float:
        out += "<real>" + QByteArray::number(value.toDouble(), 'g', 17) + "</real>\n";
        return;
    case QMetaType::QDateTime:
        out += "<date>" + value.toDateTime().toUTC().toString(Qt::ISODate).toLatin1() + "</date>\n";
        return;
    case QMetaType::QByteArray: {
        out += "<data>\n";
        const QByteArray b64 = value.toByteArray().toBase64();
        for (qsizetype i = 0; i < b64.size(); i += 68)
            out += indent + b64.mid(i, 68) + '\n';
        out += indent + "</data>\n";
        return;
    }
    default:
        out += "<string>";
        escapeInto(out, value.toString());
        out += "</string>\n";
    }
}

}  // namespace

QByteArray XmlPropertyListWriter::toXml(const QVariant &value)
{
    QByteArray out;
    out += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<!DOCTYPE plist PUBLIC \"-//Apple Computer//DTD PLIST 1.0//EN\" "
           "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
           "<plist version=\"1.0\">\n";
    writeValue(out, value, 0);
    out += "</plist>\n";
    return out;
}

}  // namespace vtr
