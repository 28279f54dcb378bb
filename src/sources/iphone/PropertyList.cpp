#include "sources/iphone/PropertyList.h"

#include "sources/host/PropertyListXml.h"
#include "sources/iphone/BinaryPropertyList.h"
#include "sources/iphone/ByteCursor.h"

#include <QDateTime>
#include <QFile>
#include <QTimeZone>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace vtr::plist {

namespace {

constexpr quint64 kMaxExpandedValues = quint64(1) << 22;

void setError(QString *error, const QString &text)
{
    if (error) *error = text;
}

QString binaryListProblem(const QByteArray &data);

// Both formats are converted straight into Qt values: no tree of another
// library stands beside the result, so a list costs about what its values
// do (an older backup's manifest names every file of the phone).
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
    if (!binary) {
        vtr::PropertyListError problem;
        std::optional<QVariant> value = vtr::XmlPropertyListReader::readData(data, &problem);
        if (!value) setError(error, QStringLiteral("damaged XML property list: ") + problem.toString());
        return value.value_or(QVariant());
    }
    const QString problem = binaryListProblem(data);
    if (!problem.isEmpty()) {
        setError(error, problem);
        return {};
    }
    const std::optional<BinaryPropertyList> list = BinaryPropertyList::open(data, error);
    if (!list) return {};
    return list->value(list->top(), kMaxDepth, kMaxExpandedValues, error);
}

// The structure of a binary list is checked before any value is made: a
// dictionary key with a NUL character (no writer makes one), a cycle, more
// than kMaxDepth levels, more references than the list has bytes (sound
// objects never overlap), or a tree that would grow past kMaxNodes when
// shared objects are expanded, once per reference, refuse the list. The
// walk visits each object once. Whatever else is malformed is refused by
// the conversion.
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
    static constexpr quint64 kMaxNodes = kMaxExpandedValues;
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

bool startsLikePropertyList(QByteArrayView head)
{
    if (head.startsWith("bplist")) return true;
    if (head.startsWith("\xEF\xBB\xBF")) head = head.sliced(3);
    for (const char c : head) {
        if (c == '<') return true;
        if (!std::isspace(static_cast<unsigned char>(c))) return false;
    }
    return false;
}

// A backup folder holds databases and media of many megabytes beside its
// small property lists: a file is read whole only when its first bytes are
// those of a property list.
QVariantMap dictionaryFromFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    if (file.size() > kMaxBytes) return {};
    constexpr qint64 kHeadBytes = 64;
    if (!startsLikePropertyList(file.peek(kHeadBytes))) return {};
    return dictionaryFromData(file.readAll());
}

} // namespace vtr::plist
