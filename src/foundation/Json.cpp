#include "foundation/Json.h"

#include "foundation/Log.h"

#include <QMetaMethod>
#include <QMetaObject>
#include <QObject>
#include <QStringDecoder>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <utility>
#include <type_traits>
#include <vector>

namespace vtr {

QVariant jsonNull()
{
    return QVariant::fromValue(nullptr);
}

bool isJsonNull(const QVariant &value)
{
    return value.typeId() == QMetaType::Nullptr;
}

} // namespace vtr

// ---------------------------------------------------------------------------
// Error trace

QString QorJsonError::toString() const
{
    return QStringLiteral("Error Domain=%1 Code=%2 \"%3\"").arg(domain).arg(code).arg(description);
}

QorJsonBase::QorJsonBase() = default;
QorJsonBase::~QorJsonBase() = default;

void QorJsonBase::addErrorWithCode(unsigned int code, const QString &description)
{
    QorJsonError error;
    error.domain = QString::fromLatin1(kQorJsonErrorDomain);
    error.code = code;
    error.description = description;
    if (!m_errorTrace.isEmpty()) error.underlying = std::make_shared<const QorJsonError>(m_errorTrace.constLast());
    m_errorTrace.append(std::move(error));
}

void QorJsonBase::clearErrorTrace()
{
    m_errorTrace.clear();
}

QString QorJsonBase::errorTraceDescription() const
{
    QString text = QStringLiteral("(");
    for (qsizetype i = 0; i < m_errorTrace.size(); ++i) {
        text += i == 0 ? QStringLiteral("\n    ") : QStringLiteral(",\n    ");
        text += m_errorTrace.at(i).toString();
    }
    text += m_errorTrace.isEmpty() ? QStringLiteral(")") : QStringLiteral("\n)");
    return text;
}

unsigned int QorJsonBase::effectiveMaxDepth() const
{
    return m_maxDepth == 0 ? kHardDepthLimit : std::min(m_maxDepth, kHardDepthLimit);
}

// ---------------------------------------------------------------------------
// Parser

namespace {

// Bytes that end a plain run inside a string: NUL and the other control
// characters, the double quote and the backslash.
constexpr std::array<bool, 128> makeStopTable()
{
    std::array<bool, 128> t{};
    for (int i = 0; i < 0x20; ++i)
        t[i] = true;
    t['"'] = true;
    t['\\'] = true;
    return t;
}
constexpr std::array<bool, 128> kStringStop = makeStopTable();

inline bool isStop(unsigned int ch)
{
    return ch < 128 && kStringStop[ch];
}

inline bool isJsonWhitespace(unsigned int ch)
{
    return ch == ' ' || (ch >= '\t' && ch <= '\r');
}

inline bool isDigit(unsigned int ch)
{
    return ch - '0' < 10u;
}

inline int hexValue(unsigned int ch)
{
    if (ch - '0' < 10u) return int(ch - '0');
    if (ch - 'a' < 6u) return int(ch - 'a' + 10);
    if (ch - 'A' < 6u) return int(ch - 'A' + 10);
    return -1;
}

QString utf8Run(const unsigned char *p, qsizetype n)
{
    // QString::fromUtf8 drops a leading byte-order mark, which inside a JSON
    // string is text like any other character.
    if (n >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF) {
        QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
        return decoder.decode(QByteArrayView(p, n));
    }
    return QString::fromUtf8(reinterpret_cast<const char *>(p), n);
}

QString utf8Run(const char16_t *p, qsizetype n)
{
    return QString(reinterpret_cast<const QChar *>(p), n);
}

// The order of QString's operator< (UTF-16 code units, then length), without
// its general-purpose set-up: object keys are short.
inline bool keyLess(const QString &a, const QString &b)
{
    const qsizetype n = std::min(a.size(), b.size());
    const char16_t *pa = reinterpret_cast<const char16_t *>(a.constData());
    const char16_t *pb = reinterpret_cast<const char16_t *>(b.constData());
    if (pa != pb) {
        for (qsizetype i = 0; i < n; ++i) {
            if (pa[i] != pb[i]) return pa[i] < pb[i];
        }
    }
    return a.size() < b.size();
}

// The scanners fill a fresh (invalid) QVariant of their caller: the value is
// made in its place, where an assignment would make, swap and destroy a
// temporary. Should the making throw, `out` is left a valid, empty QVariant.
template <typename T> inline void put(QVariant &out, T &&value)
{
    std::destroy_at(&out);
    try {
        std::construct_at(&out, std::forward<T>(value));
    } catch (...) {
        std::construct_at(&out);
        throw;
    }
}

using Member = std::pair<QString, QVariant>;

// The positions of an object's members in key order; members with equal keys
// keep their input order (the last of them is the one kept).
void sortMembers(const Member *members, std::vector<quint32> &order)
{
    const auto less = [members](quint32 a, quint32 b) { return keyLess(members[a].first, members[b].first); };
    if (order.size() > 32) {
        std::stable_sort(order.begin(), order.end(), less);
        return;
    }
    for (size_t i = 1; i < order.size(); ++i) {
        const quint32 moving = order[i];
        size_t j = i;
        for (; j > 0 && less(moving, order[j - 1]); --j)
            order[j] = order[j - 1];
        order[j] = moving;
    }
}

} // namespace

// One parse over the input's code units: unsigned char for UTF-8, char16_t
// for UTF-16. A NUL unit ends the input, as the end of the buffer does.
template <typename Unit> class QorJsonScanner
{
public:
    QorJsonScanner(QorJsonParser &parser, const Unit *begin, const Unit *end)
        : m_parser(parser), c(begin), m_end(end), m_limit(parser.effectiveMaxDepth())
    {
        // The caches grow with the input: small messages pay little for them.
        while (m_keyCacheSize < kMaxKeyCacheSize && qsizetype(m_keyCacheSize) * 256 < end - begin)
            m_keyCacheSize *= 2;
        m_shapeCacheSize = m_keyCacheSize / 8;
    }

    bool scanValue(QVariant &out);
    bool scanIsAtEnd()
    {
        skipWhitespace();
        return cur() == 0;
    }

private:
    bool scanRestOfTrue(QVariant &out) { return scanLiteral("rue", QVariant(true), "Expected 'true'", out); }
    bool scanRestOfFalse(QVariant &out) { return scanLiteral("alse", QVariant(false), "Expected 'false'", out); }
    bool scanRestOfNull(QVariant &out) { return scanLiteral("ull", vtr::jsonNull(), "Expected 'null'", out); }
    bool scanRestOfArray(QVariant &out);
    bool scanRestOfDictionary(QVariant &out);
    bool scanRestOfString(QString &out);
    bool scanKey(QString &out);
    bool scanUnicodeChar(char16_t *units, int *count);
    bool scanHexQuad(char16_t *unit);
    bool scanNumber(QVariant &out);

    bool scanLiteral(const char *rest, const QVariant &value, const char *error, QVariant &out);
    bool decodeEscapedString(const Unit *start, QString &out);

    unsigned int cur() const { return c < m_end ? unsigned(*c) : 0u; }
    void skipWhitespace()
    {
        while (c < m_end && isJsonWhitespace(*c))
            ++c;
    }
    void error(unsigned int code, const char *text) { m_parser.addErrorWithCode(code, QString::fromLatin1(text)); }
    bool enter()
    {
        if (m_parser.m_depth + 1 > m_limit) {
            error(QorJsonErrorNestedTooDeep, "Nested too deep");
            return false;
        }
        ++m_parser.m_depth;
        return true;
    }

    QorJsonParser &m_parser;
    const Unit *c;
    const Unit *m_end;
    unsigned int m_limit;

    // Object keys repeat: keys already seen share one string. Entries point
    // into the input, which outlives the parse.
    struct CachedKey
    {
        const Unit *text = nullptr;
        qsizetype length = 0;
        QString key;
    };
    static constexpr unsigned int kMaxKeyCacheSize = 1024;
    static constexpr unsigned int kKeyCacheProbes = 8;
    unsigned int m_keyCacheSize = 64;
    static constexpr qsizetype kMaxCachedKeyLength = 64;
    std::unique_ptr<CachedKey[]> m_keys;

    // The elements and members of the arrays and objects being read, innermost
    // last, shared by every level: a container is made once, at its exact
    // size, when it closes.
    std::vector<QVariant> m_elements;
    std::vector<Member> m_members;

    // Objects of one kind repeat their keys in the same order. For such a
    // list of (shared) keys the map's tree of keys is kept, with the input
    // position of each key in map order, and copied for the next object:
    // no key comparison and no rebalancing.
    struct Shape
    {
        std::vector<QString> keys;       // in input order; held, so their text stays where it is
        std::vector<quint32> order;      // input positions in map order (of equal keys the last)
        std::map<QString, QVariant> map; // the keys, without values
    };
    unsigned int m_shapeCacheSize = 8;
    std::unique_ptr<Shape[]> m_shapes;
    QVariantMap takeMembers(size_t mark);
};

template <typename Unit> QVariantMap QorJsonScanner<Unit>::takeMembers(size_t mark)
{
    Member *members = m_members.data() + mark;
    const size_t count = m_members.size() - mark;
    if (count == 0) return QVariantMap();

    size_t hash = count;
    for (size_t i = 0; i < count; ++i)
        hash = (hash ^ size_t(quintptr(members[i].first.constData()))) * 1099511628211u;
    if (!m_shapes) m_shapes.reset(new Shape[m_shapeCacheSize]);
    Shape &shape = m_shapes[(hash ^ (hash >> 29)) % m_shapeCacheSize];
    bool same = shape.keys.size() == count;
    for (size_t i = 0; same && i < count; ++i) {
        same = shape.keys[i].constData() == members[i].first.constData() &&
               shape.keys[i].size() == members[i].first.size();
    }
    std::map<QString, QVariant> map;
    if (same) {
        map = std::map<QString, QVariant>(shape.map);
        auto it = map.begin();
        for (const quint32 index : shape.order) {
            it->second.swap(members[index].second);
            ++it;
        }
    } else {
        std::vector<quint32> order(count);
        for (size_t i = 0; i < count; ++i)
            order[i] = quint32(i);
        sortMembers(members, order);
        // Of equal keys the last value wins.
        size_t kept = 0;
        for (size_t k = 0; k < count; ++k) {
            if (k + 1 < count && !keyLess(members[order[k]].first, members[order[k + 1]].first)) continue;
            order[kept++] = order[k];
        }
        order.resize(kept);
        shape.map.clear();
        for (const quint32 index : order) {
            // In key order every member goes to the end: one comparison each.
            shape.map.emplace_hint(shape.map.end(), members[index].first, QVariant());
            map.emplace_hint(map.end(), members[index].first, std::move(members[index].second));
        }
        shape.keys.resize(count);
        for (size_t i = 0; i < count; ++i)
            shape.keys[i] = members[i].first;
        shape.order = std::move(order);
    }
    m_members.resize(mark);
    return QVariantMap(std::move(map));
}

template <typename Unit> bool QorJsonScanner<Unit>::scanValue(QVariant &out)
{
    skipWhitespace();
    const unsigned int ch = cur();
    switch (ch) {
    case '"': {
        ++c;
        QString s;
        if (!scanRestOfString(s)) return false;
        put(out, std::move(s));
        return true;
    }
    case '[':
        ++c;
        return scanRestOfArray(out);
    case '{':
        ++c;
        return scanRestOfDictionary(out);
    case 't':
        ++c;
        return scanRestOfTrue(out);
    case 'f':
        ++c;
        return scanRestOfFalse(out);
    case 'n':
        ++c;
        return scanRestOfNull(out);
    case '+':
        error(QorJsonErrorBadNumber, "Leading + disallowed in number");
        return false;
    case 0:
        error(QorJsonErrorEndOfInput, "Unexpected end of string");
        return false;
    default:
        if (ch == '-' || isDigit(ch)) return scanNumber(out);
        error(QorJsonErrorParse, "Unrecognised leading character");
        return false;
    }
}

template <typename Unit>
bool QorJsonScanner<Unit>::scanLiteral(const char *rest, const QVariant &value, const char *text, QVariant &out)
{
    const qsizetype n = qsizetype(std::strlen(rest));
    if (m_end - c < n) {
        error(QorJsonErrorParse, text);
        return false;
    }
    for (qsizetype i = 0; i < n; ++i) {
        if (unsigned(c[i]) != unsigned(static_cast<unsigned char>(rest[i]))) {
            error(QorJsonErrorParse, text);
            return false;
        }
    }
    c += n;
    put(out, value);
    return true;
}

template <typename Unit> bool QorJsonScanner<Unit>::scanRestOfArray(QVariant &out)
{
    if (!enter()) return false;
    const size_t mark = m_elements.size();
    while (cur() != 0) {
        skipWhitespace();
        if (cur() == ']') {
            ++c;
            --m_parser.m_depth;
            QVariantList array;
            array.reserve(qsizetype(m_elements.size() - mark));
            for (size_t i = mark; i < m_elements.size(); ++i)
                array.append(std::move(m_elements[i]));
            m_elements.resize(mark);
            put(out, std::move(array));
            return true;
        }
        QVariant value;
        if (!scanValue(value)) {
            error(QorJsonErrorParse, "Expected value while parsing array");
            return false;
        }
        m_elements.push_back(std::move(value));
        skipWhitespace();
        if (cur() == ',') {
            ++c;
            skipWhitespace();
            if (cur() == ']') {
                error(QorJsonErrorTrailingComma, "Trailing comma disallowed in array");
                return false;
            }
        }
    }
    error(QorJsonErrorEndOfInput, "End of input while parsing array");
    return false;
}

template <typename Unit> bool QorJsonScanner<Unit>::scanRestOfDictionary(QVariant &out)
{
    if (!enter()) return false;
    const size_t mark = m_members.size();
    for (;;) {
        if (cur() == 0) {
            error(QorJsonErrorEndOfInput, "End of input while parsing object");
            return false;
        }
        skipWhitespace();
        if (cur() == '}') {
            ++c;
            --m_parser.m_depth;
            put(out, takeMembers(mark));
            return true;
        }
        if (cur() != '"') {
            error(QorJsonErrorParse, "Object key string expected");
            return false;
        }
        ++c;
        QString key;
        if (!scanKey(key)) {
            error(QorJsonErrorParse, "Object key string expected");
            return false;
        }
        skipWhitespace();
        if (cur() != ':') {
            error(QorJsonErrorParse, "Expected ':' separating key and value");
            return false;
        }
        ++c;
        QVariant value;
        if (!scanValue(value)) {
            m_parser.addErrorWithCode(QorJsonErrorParse, QStringLiteral("Object value expected for key: %1").arg(key));
            return false;
        }
        m_members.emplace_back(std::move(key), std::move(value));
        skipWhitespace();
        if (cur() == ',') {
            ++c;
            skipWhitespace();
            if (cur() == '}') {
                error(QorJsonErrorTrailingComma, "Trailing comma disallowed in object");
                return false;
            }
        }
    }
}

template <typename Unit> bool QorJsonScanner<Unit>::scanRestOfString(QString &out)
{
    // Most strings hold no escape: find the closing quote and convert the
    // whole run at once.
    const Unit *start = c;
    while (c < m_end && !isStop(*c))
        ++c;
    if (c < m_end && *c == '"') {
        out = utf8Run(start, c - start);
        ++c;
        return true;
    }
    return decodeEscapedString(start, out);
}

template <typename Unit> bool QorJsonScanner<Unit>::scanKey(QString &out)
{
    const Unit *start = c;
    const Unit *limit = m_end - start > kMaxCachedKeyLength ? start + kMaxCachedKeyLength : m_end;
    const Unit *p = start;
    while (p < limit && !isStop(*p))
        ++p;
    if (p == limit || *p != '"') return scanRestOfString(out);
    const qsizetype length = p - start;
    // Length, first and last eight bytes: enough to tell the keys of a
    // document apart, at the cost of two loads.
    const char *bytes = reinterpret_cast<const char *>(start);
    const size_t size = size_t(length) * sizeof(Unit);
    quint64 head = 0;
    quint64 tail = 0;
    if (size >= 8) {
        std::memcpy(&head, bytes, 8);
        std::memcpy(&tail, bytes + size - 8, 8);
    } else {
        std::memcpy(&head, bytes, size);
    }
    quint64 mixed = head * 0x9E3779B97F4A7C15ull ^ (tail + size) * 0xC2B2AE3D27D4EB4Full;
    mixed ^= mixed >> 29;
    const unsigned int hash = unsigned(mixed ^ (mixed >> 32));
    if (!m_keys) m_keys.reset(new CachedKey[m_keyCacheSize]);
    // A few neighbouring places per key, so that two keys of one object
    // rarely push each other out (which would also defeat the shape cache).
    const unsigned int home = (hash ^ (hash >> 16)) % m_keyCacheSize;
    CachedKey *slot = nullptr;
    for (unsigned int probe = 0; probe < kKeyCacheProbes; ++probe) {
        CachedKey &entry = m_keys[(home + probe) % m_keyCacheSize];
        if (!entry.text) {
            slot = &entry;
            break;
        }
        if (entry.length == length && std::memcmp(entry.text, start, size_t(length) * sizeof(Unit)) == 0) {
            out = entry.key;
            c = p + 1;
            return true;
        }
    }
    if (!slot) slot = &m_keys[home];
    out = utf8Run(start, length);
    slot->text = start;
    slot->length = length;
    slot->key = out;
    c = p + 1;
    return true;
}

template <typename Unit> bool QorJsonScanner<Unit>::decodeEscapedString(const Unit *start, QString &out)
{
    // The decoded text is never longer (in UTF-16 units) than the input it
    // comes from, so one buffer of the input's length up to the closing quote
    // (or the first unit that ends the string) holds it.
    const Unit *stop = c;
    while (stop < m_end) {
        const unsigned int ch = *stop;
        if (ch == '"' || ch < 0x20) break;
        stop += (ch == '\\' && stop + 1 < m_end) ? 2 : 1;
    }
    QString buffer(qsizetype(stop - start), Qt::Uninitialized);
    QChar *w = buffer.data();
    QStringDecoder decoder(QStringDecoder::Utf8,
                           QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    auto appendRun = [&](const Unit *from, const Unit *to) {
        if (from == to) return;
        if constexpr (sizeof(Unit) == 1) {
            w = decoder.appendToBuffer(w, QByteArrayView(reinterpret_cast<const char *>(from), to - from));
        } else {
            std::memcpy(static_cast<void *>(w), from, size_t(to - from) * sizeof(char16_t));
            w += to - from;
        }
    };
    appendRun(start, c);
    for (;;) {
        const Unit *runStart = c;
        while (c < m_end && !isStop(*c))
            ++c;
        appendRun(runStart, c);
        const unsigned int ch = cur();
        if (ch == '"') {
            ++c;
            buffer.truncate(w - buffer.constData());
            out = std::move(buffer);
            return true;
        }
        if (ch == '\\') {
            ++c;
            if (c >= m_end) {
                error(QorJsonErrorEndOfInput, "Unexpected EOF while parsing string");
                return false;
            }
            const unsigned int escaped = cur();
            switch (escaped) {
            case '"':
            case '\\':
            case '/':
                *w++ = QChar(char16_t(escaped));
                ++c;
                break;
            case 'b':
                *w++ = QChar(u'\b');
                ++c;
                break;
            case 'f':
                *w++ = QChar(u'\f');
                ++c;
                break;
            case 'n':
                *w++ = QChar(u'\n');
                ++c;
                break;
            case 'r':
                *w++ = QChar(u'\r');
                ++c;
                break;
            case 't':
                *w++ = QChar(u'\t');
                ++c;
                break;
            case 'u': {
                ++c;
                char16_t units[2];
                int count = 0;
                if (!scanUnicodeChar(units, &count)) {
                    error(QorJsonErrorUnicode, "Broken unicode character");
                    return false;
                }
                for (int i = 0; i < count; ++i)
                    *w++ = QChar(units[i]);
                break;
            }
            default:
                m_parser.addErrorWithCode(QorJsonErrorIllegalEscape,
                                          QStringLiteral("Illegal escape sequence '0x%1'").arg(escaped, 0, 16));
                return false;
            }
            continue;
        }
        // The end of the input (a file cut short), or a control character.
        if (c >= m_end) {
            error(QorJsonErrorEndOfInput, "Unexpected EOF while parsing string");
            return false;
        }
        m_parser.addErrorWithCode(QorJsonErrorControlChar,
                                  QStringLiteral("Unescaped control character '0x%1'").arg(ch, 0, 16));
        return false;
    }
}

template <typename Unit> bool QorJsonScanner<Unit>::scanHexQuad(char16_t *unit)
{
    unsigned int value = 0;
    for (int i = 0; i < 4; ++i) {
        const int digit = hexValue(cur());
        if (digit < 0) {
            error(QorJsonErrorUnicode, "Missing hex digit in quad");
            return false;
        }
        value = (value << 4) | unsigned(digit);
        ++c;
    }
    *unit = char16_t(value);
    return true;
}

template <typename Unit> bool QorJsonScanner<Unit>::scanUnicodeChar(char16_t *units, int *count)
{
    char16_t high;
    if (!scanHexQuad(&high)) {
        error(QorJsonErrorUnicode, "Missing hex quad");
        return false;
    }
    if (high >= 0xD800 && high <= 0xDBFF) {
        char16_t low;
        if (cur() != '\\' || (++c, cur() != 'u') || (++c, !scanHexQuad(&low))) {
            error(QorJsonErrorUnicode, "Missing low character in surrogate pair");
            return false;
        }
        if (low < 0xDC00 || low > 0xDFFF) {
            error(QorJsonErrorUnicode, "Invalid low surrogate char");
            return false;
        }
        units[0] = high;
        units[1] = low;
        *count = 2;
        return true;
    }
    if (high >= 0xDC00 && high <= 0xDFFF) {
        error(QorJsonErrorUnicode, "Invalid high character in surrogate pair");
        return false;
    }
    units[0] = high;
    *count = 1;
    return true;
}

template <typename Unit> bool QorJsonScanner<Unit>::scanNumber(QVariant &out)
{
    const Unit *start = c;
    bool negative = false;
    if (cur() == '-') {
        negative = true;
        ++c;
    }
    // Integers are accumulated while scanning, as long as they fit 64 bits.
    quint64 magnitude = 0;
    bool overflow = false;
    if (cur() == '0') {
        ++c;
        if (isDigit(cur())) {
            error(QorJsonErrorBadNumber, "Leading 0 disallowed in number");
            return false;
        }
    } else if (isDigit(cur())) {
        while (isDigit(cur())) {
            const unsigned int digit = cur() - '0';
            if (!overflow) {
                overflow = magnitude > (std::numeric_limits<quint64>::max() - digit) / 10;
                magnitude = magnitude * 10 + digit;
            }
            ++c;
        }
    } else {
        error(QorJsonErrorBadNumber, "No digits after initial minus");
        return false;
    }
    bool integral = true;
    if (cur() == '.') {
        ++c;
        integral = false;
        if (!isDigit(cur())) {
            error(QorJsonErrorBadNumber, "No digits after decimal point");
            return false;
        }
        while (isDigit(cur()))
            ++c;
    }
    if (cur() == 'e' || cur() == 'E') {
        ++c;
        integral = false;
        if (cur() == '+' || cur() == '-') ++c;
        if (!isDigit(cur())) {
            error(QorJsonErrorBadNumber, "No digits after exponent");
            return false;
        }
        while (isDigit(cur()))
            ++c;
    }

    if (integral && !overflow) {
        constexpr quint64 maxPositive = quint64(std::numeric_limits<qint64>::max());
        if (!negative && magnitude <= maxPositive) {
            put(out, qint64(magnitude));
            return true;
        }
        if (negative && magnitude <= maxPositive + 1) {
            put(out, qint64(0 - magnitude));
            return true;
        }
        // Unsigned 64-bit values (identifiers, sizes) stay exact too.
        if (!negative) {
            put(out, magnitude);
            return true;
        }
    }

    // A fraction, an exponent or an integer beyond 64 bits: the nearest double.
    const qsizetype length = c - start;
    double value = 0;
    std::from_chars_result result;
    if constexpr (sizeof(Unit) == 1) {
        const char *text = reinterpret_cast<const char *>(start);
        result = std::from_chars(text, text + length, value);
        if (result.ec == std::errc() && result.ptr != text + length) result.ec = std::errc::invalid_argument;
    } else {
        // Number tokens are ASCII: narrow them into a local buffer.
        char small[128];
        std::vector<char> large;
        char *text = small;
        if (length > qsizetype(sizeof small)) {
            large.resize(size_t(length));
            text = large.data();
        }
        for (qsizetype i = 0; i < length; ++i)
            text[i] = char(start[i]);
        result = std::from_chars(text, text + length, value);
        if (result.ec == std::errc() && result.ptr != text + length) result.ec = std::errc::invalid_argument;
    }
    if (result.ec != std::errc() || !std::isfinite(value)) {
        error(QorJsonErrorBadNumber, "Failed creating decimal instance");
        return false;
    }
    put(out, value);
    return true;
}

QorJsonParser::QorJsonParser() = default;
QorJsonParser::~QorJsonParser() = default;

template <typename Char> QVariant QorJsonParser::parse(const Char *begin, const Char *end, bool objectOnly)
{
    m_depth = 0;
    QorJsonScanner<Char> scanner(*this, begin, end);
    QVariant value;
    if (!scanner.scanValue(value)) return QVariant();
    if (!scanner.scanIsAtEnd()) {
        addErrorWithCode(QorJsonErrorGarbage, QStringLiteral("Garbage after JSON"));
        return QVariant();
    }
    if (objectOnly) {
        const int type = value.typeId();
        if (type != QMetaType::QVariantMap && type != QMetaType::QVariantList) {
            addErrorWithCode(QorJsonErrorNotJson, QStringLiteral("Valid fragment, but not JSON"));
            return QVariant();
        }
    }
    return value;
}

QVariant QorJsonParser::objectWithString(const QString &text)
{
    clearErrorTrace();
    if (text.isNull()) {
        addErrorWithCode(QorJsonErrorNilInput, QStringLiteral("Input was 'nil'"));
        return QVariant();
    }
    const char16_t *p = reinterpret_cast<const char16_t *>(text.constData());
    return parse(p, p + text.size(), true);
}

QVariant QorJsonParser::fragmentWithString(const QString &text)
{
    clearErrorTrace();
    if (text.isNull()) {
        addErrorWithCode(QorJsonErrorNilInput, QStringLiteral("Input was 'nil'"));
        return QVariant();
    }
    const char16_t *p = reinterpret_cast<const char16_t *>(text.constData());
    return parse(p, p + text.size(), false);
}

QVariant QorJsonParser::objectWithUtf8(QByteArrayView utf8)
{
    clearErrorTrace();
    if (utf8.isNull()) {
        addErrorWithCode(QorJsonErrorNilInput, QStringLiteral("Input was 'nil'"));
        return QVariant();
    }
    const unsigned char *p = reinterpret_cast<const unsigned char *>(utf8.data());
    return parse(p, p + utf8.size(), true);
}

QVariant QorJsonParser::fragmentWithUtf8(QByteArrayView utf8)
{
    clearErrorTrace();
    if (utf8.isNull()) {
        addErrorWithCode(QorJsonErrorNilInput, QStringLiteral("Input was 'nil'"));
        return QVariant();
    }
    const unsigned char *p = reinterpret_cast<const unsigned char *>(utf8.data());
    return parse(p, p + utf8.size(), false);
}

// ---------------------------------------------------------------------------
// Writer

namespace {

// A QObject that answers `proxyForJson`.
QObject *proxyObject(const QVariant &value)
{
    if (!(value.metaType().flags() & QMetaType::PointerToQObject)) return nullptr;
    QObject *object = value.value<QObject *>();
    if (!object || object->metaObject()->indexOfMethod("proxyForJson()") < 0) return nullptr;
    return object;
}

QVariant proxyValue(QObject *object)
{
    QVariant result;
    QMetaObject::invokeMethod(object, "proxyForJson", Qt::DirectConnection, Q_RETURN_ARG(QVariant, result));
    return result;
}

// What error 1 names: the class of the value, or for a number that JSON cannot
// hold, the number itself.
QString unsupportedDescription(const QVariant &value)
{
    if (!value.isValid()) return QStringLiteral("nil");
    if (value.metaType().flags() & QMetaType::PointerToQObject) {
        if (QObject *object = value.value<QObject *>()) return QString::fromLatin1(object->metaObject()->className());
    }
    if (value.typeId() == QMetaType::Double || value.typeId() == QMetaType::Float) {
        const double d = value.toDouble();
        if (std::isnan(d)) return QStringLiteral("nan");
        return d > 0 ? QStringLiteral("inf") : QStringLiteral("-inf");
    }
    return QString::fromLatin1(value.metaType().name());
}

template <typename Int> void appendInteger(QString &into, Int value)
{
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    into.append(QLatin1StringView(buffer, result.ptr - buffer));
}

bool needsEscaping(const QString &string)
{
    for (const QChar ch : string) {
        const char16_t u = ch.unicode();
        if (u < 0x20 || u == '"' || u == '\\') return true;
    }
    return false;
}

constexpr int kMaxProxyHops = 64;

} // namespace

QorJsonWriter::QorJsonWriter() = default;
QorJsonWriter::~QorJsonWriter() = default;

QString QorJsonWriter::stringWithObject(const QVariant &value)
{
    QVariant current = value;
    for (int hop = 0; hop <= kMaxProxyHops; ++hop) {
        const int type = current.typeId();
        if (type == QMetaType::QVariantMap || type == QMetaType::QVariantHash || type == QMetaType::QVariantList ||
            type == QMetaType::QStringList)
            return stringWithFragment(current);
        QObject *proxy = proxyObject(current);
        if (!proxy) break;
        current = proxyValue(proxy);
    }
    clearErrorTrace();
    addErrorWithCode(QorJsonErrorNotJson, QStringLiteral("Not valid type for JSON"));
    return QString();
}

QString QorJsonWriter::stringWithFragment(const QVariant &value)
{
    clearErrorTrace();
    m_depth = 0;
    QString json;
    json.reserve(128);
    if (!appendValue(value, json)) return QString();
    return json;
}

bool QorJsonWriter::appendValue(const QVariant &value, QString &into)
{
    switch (value.typeId()) {
    case QMetaType::QVariantMap:
        return appendDictionary(*static_cast<const QVariantMap *>(value.constData()), into);
    case QMetaType::QVariantHash:
        return appendDictionary(*static_cast<const QVariantHash *>(value.constData()), into);
    case QMetaType::QVariantList:
        return appendArray(*static_cast<const QVariantList *>(value.constData()), into);
    case QMetaType::QStringList:
        return appendArray(*static_cast<const QStringList *>(value.constData()), into);
    case QMetaType::QString:
        return appendString(*static_cast<const QString *>(value.constData()), into);
    case QMetaType::Bool:
        into.append(value.toBool() ? QLatin1StringView("true") : QLatin1StringView("false"));
        return true;
    case QMetaType::Char:
        appendInteger(into, int(*static_cast<const char *>(value.constData())));
        return true;
    case QMetaType::SChar:
        appendInteger(into, int(*static_cast<const signed char *>(value.constData())));
        return true;
    case QMetaType::UChar:
        appendInteger(into, unsigned(*static_cast<const unsigned char *>(value.constData())));
        return true;
    case QMetaType::Short:
        appendInteger(into, int(*static_cast<const short *>(value.constData())));
        return true;
    case QMetaType::UShort:
        appendInteger(into, unsigned(*static_cast<const unsigned short *>(value.constData())));
        return true;
    case QMetaType::Int:
        appendInteger(into, *static_cast<const int *>(value.constData()));
        return true;
    case QMetaType::UInt:
        appendInteger(into, *static_cast<const unsigned int *>(value.constData()));
        return true;
    case QMetaType::Long:
        appendInteger(into, *static_cast<const long *>(value.constData()));
        return true;
    case QMetaType::ULong:
        appendInteger(into, *static_cast<const unsigned long *>(value.constData()));
        return true;
    case QMetaType::LongLong:
        appendInteger(into, *static_cast<const qlonglong *>(value.constData()));
        return true;
    case QMetaType::ULongLong:
        appendInteger(into, *static_cast<const qulonglong *>(value.constData()));
        return true;
    case QMetaType::Float:
    case QMetaType::Double: {
        const double d = value.typeId() == QMetaType::Float ? double(*static_cast<const float *>(value.constData()))
                                                            : *static_cast<const double *>(value.constData());
        if (!std::isfinite(d)) break;
        char buffer[32];
        // The shortest text that reads back as the same double; a value
        // without fraction or exponent keeps ".0" so it is read back as a
        // double, not as an integer.
        const auto result =
            value.typeId() == QMetaType::Float
                ? std::to_chars(buffer, buffer + sizeof buffer - 2, *static_cast<const float *>(value.constData()))
                : std::to_chars(buffer, buffer + sizeof buffer - 2, d);
        char *end = result.ptr;
        if (std::find_if(buffer, end, [](char ch) { return ch == '.' || ch == 'e' || ch == 'E'; }) == end) {
            *end++ = '.';
            *end++ = '0';
        }
        into.append(QLatin1StringView(buffer, end - buffer));
        return true;
    }
    case QMetaType::Nullptr:
        into.append(QLatin1StringView("null"));
        return true;
    default:
        if (QObject *proxy = proxyObject(value)) {
            if (m_depth + 1 > effectiveMaxDepth()) {
                addErrorWithCode(QorJsonErrorNestedTooDeep, QStringLiteral("Nested too deep"));
                return false;
            }
            ++m_depth;
            const bool ok = appendValue(proxyValue(proxy), into);
            --m_depth;
            return ok;
        }
        break;
    }
    addErrorWithCode(QorJsonErrorUnsupported,
                     QStringLiteral("JSON serialisation not supported for %1").arg(unsupportedDescription(value)));
    return false;
}

template <typename List> bool QorJsonWriter::appendList(const List &array, QString &into)
{
    if (m_depth + 1 > effectiveMaxDepth()) {
        addErrorWithCode(QorJsonErrorNestedTooDeep, QStringLiteral("Nested too deep"));
        return false;
    }
    ++m_depth;
    into.append(QLatin1Char('['));
    bool first = true;
    for (const auto &element : array) {
        if (!first) into.append(QLatin1Char(','));
        first = false;
        if (m_humanReadable) into.append(indent());
        bool ok;
        if constexpr (std::is_same_v<List, QStringList>)
            ok = appendString(element, into);
        else
            ok = appendValue(element, into);
        if (!ok) return false;
    }
    --m_depth;
    if (m_humanReadable && !array.isEmpty()) into.append(indent());
    into.append(QLatin1Char(']'));
    return true;
}

template <typename Map> bool QorJsonWriter::appendMap(const Map &dictionary, QString &into)
{
    if (m_depth + 1 > effectiveMaxDepth()) {
        addErrorWithCode(QorJsonErrorNestedTooDeep, QStringLiteral("Nested too deep"));
        return false;
    }
    ++m_depth;
    into.append(QLatin1Char('{'));
    const QLatin1StringView separator = m_humanReadable ? QLatin1StringView(" : ") : QLatin1StringView(":");
    bool first = true;
    auto appendMember = [&](const QString &key, const QVariant &value) {
        if (!first) into.append(QLatin1Char(','));
        first = false;
        if (m_humanReadable) into.append(indent());
        appendString(key, into);
        into.append(separator);
        if (!appendValue(value, into)) {
            addErrorWithCode(QorJsonErrorUnsupported,
                             QStringLiteral("Unsupported value for key %1 in object").arg(key));
            return false;
        }
        return true;
    };
    // A QVariantMap is already in key order; a hash is sorted only on request.
    if (std::is_same_v<Map, QVariantMap> || !m_sortKeys) {
        for (auto it = dictionary.cbegin(); it != dictionary.cend(); ++it) {
            if (!appendMember(it.key(), it.value())) return false;
        }
    } else {
        QStringList keys = dictionary.keys();
        std::sort(keys.begin(), keys.end(), [](const QString &a, const QString &b) { return a.compare(b) < 0; });
        for (const QString &key : std::as_const(keys)) {
            if (!appendMember(key, dictionary.value(key))) return false;
        }
    }
    --m_depth;
    if (m_humanReadable && !dictionary.isEmpty()) into.append(indent());
    into.append(QLatin1Char('}'));
    return true;
}

bool QorJsonWriter::appendArray(const QVariantList &array, QString &into)
{
    return appendList(array, into);
}

bool QorJsonWriter::appendArray(const QStringList &array, QString &into)
{
    return appendList(array, into);
}

bool QorJsonWriter::appendDictionary(const QVariantMap &dictionary, QString &into)
{
    return appendMap(dictionary, into);
}

bool QorJsonWriter::appendDictionary(const QVariantHash &dictionary, QString &into)
{
    return appendMap(dictionary, into);
}

bool QorJsonWriter::appendString(const QString &string, QString &into)
{
    into.append(QLatin1Char('"'));
    if (!needsEscaping(string)) {
        into.append(string);
    } else {
        static const char hex[] = "0123456789abcdef";
        for (const QChar ch : string) {
            const char16_t u = ch.unicode();
            switch (u) {
            case '"':
                into.append(QLatin1StringView("\\\""));
                break;
            case '\\':
                into.append(QLatin1StringView("\\\\"));
                break;
            case '\b':
                into.append(QLatin1StringView("\\b"));
                break;
            case '\t':
                into.append(QLatin1StringView("\\t"));
                break;
            case '\n':
                into.append(QLatin1StringView("\\n"));
                break;
            case '\f':
                into.append(QLatin1StringView("\\f"));
                break;
            case '\r':
                into.append(QLatin1StringView("\\r"));
                break;
            default:
                if (u < 0x20) {
                    const char escape[6] = {'\\', 'u', '0', '0', hex[u >> 4], hex[u & 0xF]};
                    into.append(QLatin1StringView(escape, 6));
                } else {
                    into.append(ch);
                }
            }
        }
    }
    into.append(QLatin1Char('"'));
    return true;
}

QString QorJsonWriter::indent() const
{
    return QLatin1Char('\n') + QString(qsizetype(m_depth) * 2, QLatin1Char(' '));
}

// ---------------------------------------------------------------------------
// Facade

QorJSON::QorJSON()
{
    setMaxDepth(kDefaultMaxDepth);
}

QorJSON::~QorJSON() = default;

unsigned int QorJSON::maxDepth() const
{
    return m_parser.maxDepth();
}

void QorJSON::setMaxDepth(unsigned int maxDepth)
{
    QorJsonBase::setMaxDepth(maxDepth);
    m_parser.setMaxDepth(maxDepth);
    m_writer.setMaxDepth(maxDepth);
}

bool QorJSON::humanReadable() const
{
    return m_writer.humanReadable();
}

void QorJSON::setHumanReadable(bool humanReadable)
{
    m_writer.setHumanReadable(humanReadable);
}

bool QorJSON::sortKeys() const
{
    return m_writer.sortKeys();
}

void QorJSON::setSortKeys(bool sortKeys)
{
    m_writer.setSortKeys(sortKeys);
}

void QorJSON::copyTrace(const QorJsonBase &from, QorJsonError *error)
{
    replaceErrorTrace(from.errorTrace());
    if (error && !from.errorTrace().isEmpty()) *error = from.errorTrace().constLast();
}

QString QorJSON::stringWithObject(const QVariant &value)
{
    QString json = m_writer.stringWithObject(value);
    if (json.isNull()) copyTrace(m_writer, nullptr);
    return json;
}

QVariant QorJSON::objectWithString(const QString &text)
{
    QVariant value = m_parser.objectWithString(text);
    if (!value.isValid()) copyTrace(m_parser, nullptr);
    return value;
}

QString QorJSON::stringWithObject(const QVariant &value, bool allowScalar, QorJsonError *error)
{
    QString json = allowScalar ? m_writer.stringWithFragment(value) : m_writer.stringWithObject(value);
    if (json.isNull()) copyTrace(m_writer, error);
    return json;
}

QVariant QorJSON::objectWithString(const QString &text, bool allowScalar, QorJsonError *error)
{
    QVariant value = allowScalar ? m_parser.fragmentWithString(text) : m_parser.objectWithString(text);
    if (!value.isValid()) copyTrace(m_parser, error);
    return value;
}

QString QorJSON::stringWithFragment(const QVariant &value, QorJsonError *error)
{
    return stringWithObject(value, true, error);
}

QVariant QorJSON::fragmentWithString(const QString &text, QorJsonError *error)
{
    return objectWithString(text, true, error);
}

QString QorJSON::stringWithObject(const QVariant &value, QorJsonError *error)
{
    return stringWithObject(value, false, error);
}

QVariant QorJSON::objectWithString(const QString &text, QorJsonError *error)
{
    return objectWithString(text, false, error);
}

// ---------------------------------------------------------------------------
// Helpers on any value and on strings

namespace vtr {

namespace {

void logFailure(const char *what, const QorJsonBase &from)
{
    VtrDebugLog(
        QStringLiteral("-%1 failed. Error trace is: %2").arg(QLatin1StringView(what), from.errorTraceDescription()));
}

} // namespace

QString JSONRepresentation(const QVariant &value)
{
    QorJsonWriter writer;
    QString json = writer.stringWithObject(value);
    if (json.isNull()) logFailure("JSONRepresentation", writer);
    return json;
}

QString JSONFragment(const QVariant &value)
{
    QorJsonWriter writer;
    QString json = writer.stringWithFragment(value);
    if (json.isNull()) logFailure("JSONFragment", writer);
    return json;
}

QVariant JSONValue(const QString &text)
{
    QorJsonParser parser;
    QVariant value = parser.objectWithString(text);
    if (!value.isValid()) logFailure("JSONValue", parser);
    return value;
}

QVariant JSONFragmentValue(const QString &text)
{
    QorJsonParser parser;
    QVariant value = parser.fragmentWithString(text);
    if (!value.isValid()) logFailure("JSONFragmentValue", parser);
    return value;
}

QVariant JSONValueFromUtf8(QByteArrayView utf8)
{
    QorJsonParser parser;
    QVariant value = parser.objectWithUtf8(utf8);
    if (!value.isValid()) logFailure("JSONValue", parser);
    return value;
}

QVariant JSONFragmentValueFromUtf8(QByteArrayView utf8)
{
    QorJsonParser parser;
    QVariant value = parser.fragmentWithUtf8(utf8);
    if (!value.isValid()) logFailure("JSONFragmentValue", parser);
    return value;
}

} // namespace vtr
