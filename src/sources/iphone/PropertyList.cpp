#include "sources/iphone/PropertyList.h"

#include "sources/iphone/ByteCursor.h"

#include <QDateTime>
#include <QFile>
#include <QTimeZone>

#include <plist/plist.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace vtr::plist {

namespace {

// Seconds between 1970-01-01 and the property-list epoch 2001-01-01 (UTC).
constexpr qint64 kPlistEpochOffset = 978307200;

struct PlistFree
{
    void operator()(void *node) const
    {
        if (node) plist_free(static_cast<plist_t>(node));
    }
};
using PlistPtr = std::unique_ptr<void, PlistFree>;

void setError(QString *error, const QString &text)
{
    if (error) *error = text;
}

QVariant convert(plist_t node, int depth, QString *error)
{
    if (depth > kMaxDepth) {
        setError(error, QStringLiteral("property list nested too deeply"));
        return {};
    }
    switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
        uint8_t value = 0;
        plist_get_bool_val(node, &value);
        return QVariant(value != 0);
    }
    case PLIST_UINT: {
        // Stored as 64 bits; negative numbers are their two's complement.
        uint64_t value = 0;
        plist_get_uint_val(node, &value);
        return QVariant(qint64(value));
    }
    case PLIST_UID: {
        uint64_t value = 0;
        plist_get_uid_val(node, &value);
        return QVariant(qint64(value));
    }
    case PLIST_REAL: {
        double value = 0;
        plist_get_real_val(node, &value);
        return QVariant(value);
    }
    case PLIST_STRING:
    case PLIST_KEY: {
        uint64_t length = 0;
        const char *text = plist_get_string_ptr(node, &length);
        if (!text) return QVariant(QString());
        return QVariant(QString::fromUtf8(text, qsizetype(length)));
    }
    case PLIST_DATA: {
        uint64_t length = 0;
        const char *bytes = plist_get_data_ptr(node, &length);
        return QVariant(bytes ? QByteArray(bytes, qsizetype(length)) : QByteArray(""));
    }
    case PLIST_DATE: {
        int32_t seconds = 0;
        int32_t micros = 0;
        plist_get_date_val(node, &seconds, &micros);
        return QVariant(QDateTime::fromMSecsSinceEpoch((qint64(seconds) + kPlistEpochOffset) * 1000 + micros / 1000,
                                                       QTimeZone::utc()));
    }
    case PLIST_ARRAY: {
        QVariantList list;
        const uint32_t count = plist_array_get_size(node);
        list.reserve(qsizetype(count));
        for (uint32_t i = 0; i < count; ++i) {
            plist_t item = plist_array_get_item(node, i);
            if (!item) continue;
            QVariant value = convert(item, depth + 1, error);
            if (!value.isValid()) return {};
            list.append(value);
        }
        return QVariant(list);
    }
    case PLIST_DICT: {
        // Keys are read from their own nodes: libplist's iterator asserts on
        // a key of another kind, which a damaged binary list can hold.
        QVariantMap map;
        plist_dict_iter iter = nullptr;
        plist_dict_new_iter(node, &iter);
        if (!iter) return QVariant(map);
        const uint32_t count = plist_dict_get_size(node);
        for (uint32_t i = 0; i < count; ++i) {
            plist_t value = nullptr;
            plist_dict_next_item(node, iter, nullptr, &value);
            plist_t keyNode = value ? plist_dict_item_get_key(value) : nullptr;
            if (!keyNode || plist_get_node_type(keyNode) != PLIST_KEY) {
                std::free(iter);
                setError(error, QStringLiteral("property list dictionary with a damaged key"));
                return {};
            }
            char *key = nullptr;
            plist_get_key_val(keyNode, &key);
            const QString name = key ? QString::fromUtf8(key) : QString();
            std::free(key);
            QVariant converted = convert(value, depth + 1, error);
            if (!converted.isValid()) {
                std::free(iter);
                return {};
            }
            map.insert(name, converted);
        }
        std::free(iter);
        return QVariant(map);
    }
    case PLIST_NONE:
    default:
        setError(error, QStringLiteral("property list holds a value of unknown kind"));
        return {};
    }
}

QString binaryListProblem(const QByteArray &data);
int xmlNestingDepth(const QByteArray &data);

QVariant parse(const QByteArray &data, bool binary, QString *error)
{
    if (data.isEmpty()) {
        setError(error, QStringLiteral("empty property list"));
        return {};
    }
    if (data.size() > kMaxBytes) {
        setError(error, QStringLiteral("property list too large"));
        return {};
    }
    const QString problem = binary ? binaryListProblem(data)
                            : xmlNestingDepth(data) > kMaxDepth ? QStringLiteral("property list nested too deeply")
                                                                : QString();
    if (!problem.isEmpty()) {
        setError(error, problem);
        return {};
    }
    plist_t root = nullptr;
    if (binary)
        plist_from_bin(data.constData(), uint32_t(data.size()), &root);
    else
        plist_from_xml(data.constData(), uint32_t(data.size()), &root);
    PlistPtr owner(root);
    if (!root) {
        setError(error, binary ? QStringLiteral("damaged binary property list")
                               : QStringLiteral("damaged XML property list"));
        return {};
    }
    return convert(root, 0, error);
}

// libplist ends the process on two kinds of input that a damaged or hostile
// file can hold: a dictionary key with a NUL character (an assertion), and
// nesting deep enough to exhaust the stack (its parser and its free both
// recurse). Both are looked for in the raw bytes before libplist sees them.
// The binary check walks the object graph from the top object, as libplist
// will, each object once; a cycle, more than kMaxDepth levels, more
// references than the list has bytes (sound objects never overlap), or a
// tree that would grow past kMaxNodes when shared objects are expanded (as
// libplist does, once per reference) refuse the list. Whatever else is
// malformed is left to libplist, which refuses it.
class BinaryListCheck
{
public:
    explicit BinaryListCheck(const QByteArray &data) : m_data(data) {}

    QString problem()
    {
        constexpr qint64 kTrailerSize = 32;
        if (m_data.size() < 8 + kTrailerSize) return {};
        vtr::ByteCursor trailer(m_data, m_data.size() - kTrailerSize + 6);
        quint64 topObject = 0;
        trailer.readBE(&m_offsetSize);
        trailer.readBE(&m_refSize);
        trailer.readBE(&m_objectCount);
        trailer.readBE(&topObject);
        trailer.readBE(&m_tableOffset);
        if (m_objectCount > kMaxObjects) return QStringLiteral("property list too large");
        if (m_offsetSize < 1 || m_offsetSize > 8 || m_refSize < 1 || m_refSize > 8
            || m_tableOffset > quint64(m_data.size())
            || m_objectCount > (quint64(m_data.size()) - m_tableOffset) / m_offsetSize || topObject >= m_objectCount)
            return QStringLiteral("damaged binary property list (trailer)");
        return walk(topObject);
    }

private:
    static constexpr quint64 kMaxObjects = quint64(1) << 21;
    static constexpr quint64 kMaxNodes = quint64(1) << 22;
    static constexpr quint16 kUnknown = 0xFFFF;
    static constexpr quint16 kOnPath = 0xFFFE;

    struct Frame
    {
        quint64 index;
        std::vector<quint64> children;
        size_t next = 0;
        quint16 deepestChild = 0;
        quint64 nodes = 1; // this object and its expanded subtree
    };

    static bool readSized(vtr::ByteCursor &cursor, int size, quint64 *out)
    {
        *out = 0;
        for (int i = 0; i < size; ++i) {
            quint8 byte = 0;
            if (!cursor.readBE(&byte)) return false;
            *out = (*out << 8) | byte;
        }
        return true;
    }

    // A cursor just after the object's marker; false when it lies outside.
    bool object(quint64 index, vtr::ByteCursor *cursor, quint8 *marker) const
    {
        vtr::ByteCursor table(m_data, qint64(m_tableOffset + index * m_offsetSize));
        quint64 offset = 0;
        if (!readSized(table, m_offsetSize, &offset) || offset >= quint64(m_data.size())) return false;
        *cursor = vtr::ByteCursor(m_data, qint64(offset));
        return cursor->readBE(marker);
    }

    // The marker's count: its low nibble, or the integer object after it.
    static bool readCount(vtr::ByteCursor &cursor, quint8 marker, quint64 *count)
    {
        if ((marker & 0x0F) != 0x0F) {
            *count = marker & 0x0F;
            return true;
        }
        quint8 intMarker = 0;
        if (!cursor.readBE(&intMarker) || (intMarker & 0xF0) != 0x10 || (intMarker & 0x0F) > 3) return false;
        return readSized(cursor, 1 << (intMarker & 0x0F), count);
    }

    bool keyHoldsNul(quint64 index) const
    {
        vtr::ByteCursor cursor(m_data);
        quint8 marker = 0;
        quint64 count = 0;
        if (index >= m_objectCount || !object(index, &cursor, &marker) || !readCount(cursor, marker, &count))
            return false;
        const int unit = (marker & 0xF0) == 0x50 ? 1 : (marker & 0xF0) == 0x60 ? 2 : 0;
        if (unit == 0 || count > quint64(cursor.remaining()) / unit) return false;
        const unsigned char *bytes = cursor.data() + cursor.position();
        for (quint64 i = 0; i < count; ++i) {
            if (unit == 1 ? bytes[i] == 0 : (bytes[2 * i] == 0 && bytes[2 * i + 1] == 0)) return true;
        }
        return false;
    }

    // The references of a container (arrays, sets, dictionaries' keys and
    // values); empty for anything else or what lies outside the list.
    QString children(quint64 index, std::vector<quint64> *out)
    {
        vtr::ByteCursor cursor(m_data);
        quint8 marker = 0;
        quint64 count = 0;
        if (!object(index, &cursor, &marker)) return {};
        const quint8 type = marker & 0xF0;
        if (type != 0xA0 && type != 0xC0 && type != 0xD0) return {};
        if (!readCount(cursor, marker, &count)) return {};
        const quint64 refs = type == 0xD0 ? 2 * count : count;
        if (refs > quint64(cursor.remaining()) / m_refSize) return {};
        m_budget -= qint64(refs);
        if (m_budget < 0) return QStringLiteral("damaged binary property list (overlapping objects)");
        out->reserve(size_t(refs));
        for (quint64 i = 0; i < refs; ++i) {
            quint64 ref = 0;
            readSized(cursor, m_refSize, &ref);
            if (type == 0xD0 && i < count && keyHoldsNul(ref))
                return QStringLiteral("damaged binary property list (a key holds a NUL character)");
            out->push_back(ref);
        }
        return {};
    }

    QString walk(quint64 top)
    {
        m_budget = m_data.size();
        std::vector<quint16> depth(size_t(m_objectCount), kUnknown);
        std::vector<quint32> nodes(size_t(m_objectCount), 0);
        std::vector<Frame> path;
        const auto enter = [&](quint64 index) -> QString {
            if (path.size() >= size_t(kMaxDepth)) return QStringLiteral("property list nested too deeply");
            depth[size_t(index)] = kOnPath;
            path.push_back(Frame{index, {}, 0, 0, 1});
            return children(index, &path.back().children);
        };
        const auto addTo = [](Frame &frame, quint16 childDepth, quint64 childNodes) {
            frame.deepestChild = std::max(frame.deepestChild, childDepth);
            frame.nodes += childNodes;
            return frame.nodes <= kMaxNodes;
        };
        const QString tooMany = QStringLiteral("property list too large when expanded");
        QString problem = enter(top);
        while (problem.isEmpty() && !path.empty()) {
            Frame &frame = path.back();
            if (frame.next == frame.children.size()) {
                const quint16 ownDepth = quint16(frame.deepestChild + 1);
                const quint64 ownNodes = frame.nodes;
                depth[size_t(frame.index)] = ownDepth;
                nodes[size_t(frame.index)] = quint32(ownNodes);
                path.pop_back();
                if (!path.empty() && !addTo(path.back(), ownDepth, ownNodes)) return tooMany;
                continue;
            }
            const quint64 child = frame.children[frame.next++];
            if (child >= m_objectCount) continue; // libplist refuses it
            if (depth[size_t(child)] == kOnPath) return QStringLiteral("damaged binary property list (a cycle)");
            if (depth[size_t(child)] != kUnknown) {
                if (!addTo(frame, depth[size_t(child)], nodes[size_t(child)])) return tooMany;
            } else {
                problem = enter(child);
            }
        }
        return problem;
    }

    const QByteArray &m_data;
    quint8 m_offsetSize = 0;
    quint8 m_refSize = 0;
    quint64 m_objectCount = 0;
    quint64 m_tableOffset = 0;
    qint64 m_budget = 0;
};

// The deepest nesting of arrays and dictionaries in an XML list, counted on
// the raw tags (a self-closing "<array/>" opens nothing).
int xmlNestingDepth(const QByteArray &data)
{
    int depth = 0;
    int deepest = 0;
    const char *bytes = data.constData();
    const qsizetype size = data.size();
    for (qsizetype i = data.indexOf('<'); i >= 0 && i < size; i = data.indexOf('<', i + 1)) {
        qsizetype j = i + 1;
        const bool closing = j < size && bytes[j] == '/';
        if (closing) ++j;
        const auto named = [&](const char *name, qsizetype length) {
            return j + length <= size && std::memcmp(bytes + j, name, size_t(length)) == 0
                   && (j + length == size || !std::isalnum(static_cast<unsigned char>(bytes[j + length])));
        };
        if (!named("array", 5) && !named("dict", 4)) continue;
        if (closing) {
            --depth;
            continue;
        }
        const qsizetype end = data.indexOf('>', j);
        if (end > 0 && bytes[end - 1] == '/') continue;
        deepest = std::max(deepest, ++depth);
    }
    return deepest;
}

QString binaryListProblem(const QByteArray &data)
{
    return BinaryListCheck(data).problem();
}

bool isBinary(const QByteArray &data)
{
    return data.startsWith("bplist");
}

} // namespace

QVariant fromData(const QByteArray &data, QString *error)
{
    return parse(data, isBinary(data), error);
}

QVariant fromBinaryData(const QByteArray &data, QString *error)
{
    if (!isBinary(data)) {
        setError(error, QStringLiteral("not a binary property list"));
        return {};
    }
    return parse(data, true, error);
}

QVariantMap dictionaryFromData(const QByteArray &data)
{
    const QVariant value = fromData(data);
    return value.typeId() == QMetaType::QVariantMap ? value.toMap() : QVariantMap();
}

QVariantMap dictionaryFromFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    if (file.size() > kMaxBytes) return {};
    return dictionaryFromData(file.readAll());
}

} // namespace vtr::plist
