#include "sources/iphone/BinaryPropertyList.h"

#include <QDateTime>
#include <QHash>
#include <QTimeZone>

#include <algorithm>
#include <cstring>

namespace vtr::plist {

namespace {

constexpr qint64 kHeaderSize = 8;
constexpr qint64 kTrailerSize = 32;
// Seconds between 1970-01-01 and the property-list epoch 2001-01-01 (UTC).
constexpr double kEpochOffset = 978307200.0;

enum Type : quint8 {
    kSimple = 0x0,
    kInteger = 0x1,
    kReal = 0x2,
    kDate = 0x3,
    kData = 0x4,
    kAsciiString = 0x5,
    kUtf16String = 0x6,
    kUtf8String = 0x7,
    kUid = 0x8,
    kArray = 0xA,
    kOrderedSet = 0xB,
    kSet = 0xC,
    kDictionary = 0xD,
};

bool isString(quint8 type)
{
    return type == kAsciiString || type == kUtf16String || type == kUtf8String;
}

void setError(QString *error, const QString &text)
{
    if (error && error->isEmpty()) *error = text;
}

// `size` big-endian bytes at `position`; false when they do not fit.
bool readSized(const QByteArray &bytes, qint64 position, int size, quint64 *out)
{
    if (position < 0 || size < 1 || size > 8 || position > bytes.size() - size) return false;
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.constData()) + position;
    quint64 value = 0;
    for (int i = 0; i < size; ++i) value = (value << 8) | p[i];
    *out = value;
    return true;
}

} // namespace

std::optional<BinaryPropertyList> BinaryPropertyList::open(const QByteArray &bytes, QString *error)
{
    if (!bytes.startsWith("bplist")) {
        setError(error, QStringLiteral("not a binary property list"));
        return std::nullopt;
    }
    BinaryPropertyList list;
    list.m_bytes = bytes;
    const qint64 trailer = bytes.size() - kTrailerSize;
    quint64 sizes = 0;
    if (trailer < kHeaderSize || !readSized(bytes, trailer + 6, 2, &sizes)
        || !readSized(bytes, trailer + 8, 8, &list.m_objectCount) || !readSized(bytes, trailer + 16, 8, &list.m_top)
        || !readSized(bytes, trailer + 24, 8, &list.m_tableOffset)) {
        setError(error, QStringLiteral("damaged binary property list (too short)"));
        return std::nullopt;
    }
    list.m_offsetSize = quint8(sizes >> 8);
    list.m_refSize = quint8(sizes);
    if (list.m_offsetSize < 1 || list.m_offsetSize > 8 || list.m_refSize < 1 || list.m_refSize > 8
        || list.m_tableOffset < quint64(kHeaderSize) || list.m_tableOffset > quint64(trailer)
        || list.m_objectCount > (quint64(trailer) - list.m_tableOffset) / list.m_offsetSize
        || list.m_top >= list.m_objectCount) {
        setError(error, QStringLiteral("damaged binary property list (trailer)"));
        return std::nullopt;
    }
    return list;
}

bool BinaryPropertyList::reference(qint64 position, Object *out) const
{
    return readSized(m_bytes, position, m_refSize, out) && *out < m_objectCount;
}

bool BinaryPropertyList::marker(Object object, Marker *out) const
{
    quint64 offset = 0;
    if (object >= m_objectCount
        || !readSized(m_bytes, qint64(m_tableOffset + object * m_offsetSize), m_offsetSize, &offset)
        || offset < quint64(kHeaderSize) || offset >= m_tableOffset)
        return false;
    quint64 byte = 0;
    readSized(m_bytes, qint64(offset), 1, &byte);
    out->type = quint8(byte >> 4);
    out->low = quint8(byte & 0x0F);
    out->payload = qint64(offset) + 1;
    out->count = out->low;
    const bool counted = out->type == kData || isString(out->type) || out->type == kArray
                         || out->type == kOrderedSet || out->type == kSet || out->type == kDictionary;
    if (counted && out->low == 0x0F) {
        quint64 intMarker = 0;
        if (!readSized(m_bytes, out->payload, 1, &intMarker) || (intMarker >> 4) != kInteger || (intMarker & 0x0F) > 3)
            return false;
        const int width = 1 << (intMarker & 0x0F);
        if (!readSized(m_bytes, out->payload + 1, width, &out->count)) return false;
        out->payload += 1 + width;
    }
    if (!counted) return true;
    if (quint64(out->payload) > m_tableOffset) return false;
    // What the count promises must lie inside the objects' part of the list.
    const quint64 unit = out->type == kUtf16String ? 2
                         : out->type == kDictionary ? 2 * quint64(m_refSize)
                         : (out->type == kData || isString(out->type)) ? 1
                                                                        : quint64(m_refSize);
    return out->count <= (m_tableOffset - quint64(out->payload)) / unit;
}

bool BinaryPropertyList::references(Object object, std::vector<Object> *out) const
{
    Marker m;
    if (!marker(object, &m) || (m.type != kArray && m.type != kOrderedSet && m.type != kSet && m.type != kDictionary))
        return false;
    const quint64 count = m.type == kDictionary ? 2 * m.count : m.count;
    out->reserve(out->size() + size_t(count));
    for (quint64 i = 0; i < count; ++i) {
        Object item = 0;
        if (!reference(m.payload + qint64(i * m_refSize), &item)) return false;
        out->push_back(item);
    }
    return true;
}

bool BinaryPropertyList::isDictionary(Object object) const
{
    Marker m;
    return marker(object, &m) && m.type == kDictionary;
}

bool BinaryPropertyList::stringAt(const Marker &m, QString *out) const
{
    const char *p = m_bytes.constData() + m.payload;
    switch (m.type) {
    case kAsciiString:
    case kUtf8String: *out = QString::fromUtf8(p, qsizetype(m.count)); return true;
    case kUtf16String: {
        QString text(qsizetype(m.count), Qt::Uninitialized);
        const auto *bytes = reinterpret_cast<const unsigned char *>(p);
        for (quint64 i = 0; i < m.count; ++i) text[qsizetype(i)] = QChar(char16_t((bytes[2 * i] << 8) | bytes[2 * i + 1]));
        *out = text;
        return true;
    }
    default: return false;
    }
}

QString BinaryPropertyList::string(Object object) const
{
    Marker m;
    QString text;
    return marker(object, &m) && stringAt(m, &text) ? text : QString();
}

QByteArray BinaryPropertyList::data(Object object) const
{
    Marker m;
    if (!marker(object, &m) || m.type != kData) return {};
    return QByteArray(m_bytes.constData() + m.payload, qsizetype(m.count));
}

bool BinaryPropertyList::forEachEntry(Object dictionary, const std::function<bool(Object key, Object value)> &visit) const
{
    Marker m;
    if (!marker(dictionary, &m) || m.type != kDictionary) return false;
    const qint64 values = m.payload + qint64(m.count * m_refSize);
    for (quint64 i = 0; i < m.count; ++i) {
        Object key = 0;
        Object value = 0;
        if (!reference(m.payload + qint64(i * m_refSize), &key) || !reference(values + qint64(i * m_refSize), &value))
            return false;
        if (!visit(key, value)) break;
    }
    return true;
}

// Keys are compared in their stored form: a look-up in each of many
// dictionaries makes no string.
bool BinaryPropertyList::keyEquals(const Marker &m, QStringView key) const
{
    const auto *p = reinterpret_cast<const unsigned char *>(m_bytes.constData()) + m.payload;
    switch (m.type) {
    case kAsciiString:
        if (m.count != quint64(key.size())) return false;
        for (qsizetype i = 0; i < key.size(); ++i)
            if (p[i] >= 0x80 || key[i].unicode() != p[i]) return false;
        return true;
    case kUtf16String:
        if (m.count != quint64(key.size())) return false;
        for (qsizetype i = 0; i < key.size(); ++i)
            if (key[i].unicode() != char16_t((p[2 * i] << 8) | p[2 * i + 1])) return false;
        return true;
    case kUtf8String: {
        QString text;
        return stringAt(m, &text) && text == key;
    }
    default: return false;
    }
}

std::optional<BinaryPropertyList::Object> BinaryPropertyList::valueForKey(Object dictionary, QStringView key) const
{
    std::optional<Object> found;
    forEachEntry(dictionary, [&](Object k, Object v) {
        Marker m;
        if (marker(k, &m) && keyEquals(m, key)) found = v;
        return !found;
    });
    return found;
}

// Walks the graph depth first; the walk's depth and the number of values it
// makes are bounded, so neither a cycle nor a small list of shared objects
// that expands without end can exhaust the stack or the memory.
class BinaryPropertyList::Converter
{
public:
    Converter(const BinaryPropertyList &list, int maxDepth, quint64 maxNodes, QString *error)
        : m_list(list), m_maxDepth(maxDepth), m_maxNodes(maxNodes), m_error(error)
    {}

    QVariant convert(Object object, int depth)
    {
        if (depth > m_maxDepth) return fail(QStringLiteral("property list nested too deeply"));
        if (++m_nodes > m_maxNodes) return fail(QStringLiteral("property list too large when expanded"));
        Marker m;
        if (!m_list.marker(object, &m)) return fail(QStringLiteral("damaged binary property list (object)"));
        const QByteArray &bytes = m_list.m_bytes;
        quint64 raw = 0;
        switch (m.type) {
        case kSimple:
            if (m.low == 0x8 || m.low == 0x9) return QVariant(m.low == 0x9);
            return fail(QStringLiteral("property list holds a value of unknown kind"));
        case kInteger:
            // Sixteen-byte integers keep their low 64 bits; eight-byte ones are signed.
            if (m.low > 4 || !readSized(bytes, m.payload + (m.low == 4 ? 8 : 0), 1 << std::min<int>(m.low, 3), &raw))
                return fail(QStringLiteral("damaged binary property list (integer)"));
            return QVariant(qint64(raw));
        case kReal:
        case kDate: {
            const int width = m.type == kDate ? 8 : 1 << m.low;
            if ((m.type == kDate && m.low != 3) || (width != 4 && width != 8) || !readSized(bytes, m.payload, width, &raw))
                return fail(QStringLiteral("damaged binary property list (real)"));
            double value = 0;
            if (width == 4) {
                const quint32 narrow = quint32(raw);
                float f = 0;
                std::memcpy(&f, &narrow, sizeof f);
                value = f;
            } else {
                std::memcpy(&value, &raw, sizeof value);
            }
            if (m.type == kReal) return QVariant(value);
            // Whole milliseconds, as the other readers give dates.
            const double ms = (value + kEpochOffset) * 1000.0;
            if (!(ms > -8.64e18 && ms < 8.64e18)) return fail(QStringLiteral("damaged binary property list (date)"));
            return QVariant(QDateTime::fromMSecsSinceEpoch(qint64(ms), QTimeZone::utc()));
        }
        case kData: return QVariant(QByteArray(bytes.constData() + m.payload, qsizetype(m.count)));
        case kAsciiString:
        case kUtf16String:
        case kUtf8String: return QVariant(sharedString(object, m));
        case kUid:
            if (!readSized(bytes, m.payload, m.low + 1, &raw)) return fail(QStringLiteral("damaged binary property list (UID)"));
            return QVariant(qint64(raw));
        case kArray:
        case kOrderedSet:
        case kSet: {
            QVariantList list;
            list.reserve(qsizetype(m.count));
            for (quint64 i = 0; i < m.count; ++i) {
                Object item = 0;
                if (!m_list.reference(m.payload + qint64(i * m_list.m_refSize), &item))
                    return fail(QStringLiteral("damaged binary property list (reference)"));
                QVariant value = convert(item, depth + 1);
                if (!value.isValid()) return {};
                list.append(std::move(value));
            }
            return QVariant(list);
        }
        case kDictionary: {
            QVariantMap map;
            bool ok = true;
            const bool whole = m_list.forEachEntry(object, [&](Object key, Object value) {
                Marker keyMarker;
                if (!m_list.marker(key, &keyMarker) || !isString(keyMarker.type)) {
                    fail(QStringLiteral("property list dictionary with a damaged key"));
                    return ok = false;
                }
                QVariant converted = convert(value, depth + 1);
                if (!converted.isValid()) return ok = false;
                map.insert(sharedString(key, keyMarker), std::move(converted));
                return true;
            });
            if (!whole) return fail(QStringLiteral("damaged binary property list (reference)"));
            return ok ? QVariant(map) : QVariant();
        }
        default: return fail(QStringLiteral("property list holds a value of unknown kind"));
        }
    }

private:
    QVariant fail(const QString &reason)
    {
        setError(m_error, reason);
        return {};
    }

    QString sharedString(Object object, const Marker &m)
    {
        const auto found = m_strings.constFind(object);
        if (found != m_strings.cend()) return *found;
        QString text;
        m_list.stringAt(m, &text);
        m_strings.insert(object, text);
        return text;
    }

    const BinaryPropertyList &m_list;
    const int m_maxDepth;
    const quint64 m_maxNodes;
    QString *m_error;
    quint64 m_nodes = 0;
    QHash<Object, QString> m_strings;
};

QVariant BinaryPropertyList::value(Object object, int maxDepth, quint64 maxNodes, QString *error) const
{
    QString reason;
    QVariant result = Converter(*this, maxDepth, maxNodes, &reason).convert(object, 0);
    if (!result.isValid() && error) *error = reason.isEmpty() ? QStringLiteral("damaged binary property list") : reason;
    return result;
}

} // namespace vtr::plist
