#include "sources/iphone/PropertyList.h"

#include "sources/host/PropertyListXml.h"
#include "sources/iphone/BinaryPropertyList.h"

#include <QFile>

#include <algorithm>
#include <cctype>
#include <vector>

namespace vtr::plist {

namespace {

constexpr quint64 kMaxExpandedValues = quint64(1) << 22;

void setError(QString *error, const QString &text)
{
    if (error) *error = text;
}

QString binaryListProblem(const BinaryPropertyList &list, qint64 bytes);

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
    const std::optional<BinaryPropertyList> list = BinaryPropertyList::open(data, error);
    if (!list) return {};
    const QString problem = binaryListProblem(*list, data.size());
    if (!problem.isEmpty()) {
        setError(error, problem);
        return {};
    }
    return list->value(list->top(), kMaxDepth, kMaxExpandedValues, error);
}

// The structure of a binary list is checked before any value is made: a
// cycle, more than kMaxDepth levels, more references than the list has bytes
// (sound objects never overlap), or a tree that would grow past kMaxNodes when
// shared objects are expanded, once per reference, refuse the list. The walk
// visits each object once, so a short chain of shared objects is refused
// without being expanded. Whatever else is malformed is refused by the
// conversion.
class BinaryListCheck
{
public:
    BinaryListCheck(const BinaryPropertyList &list, qint64 bytes) : m_list(list), m_budget(bytes) {}

    QString problem()
    {
        if (m_list.objectCount() > kMaxObjects) return QStringLiteral("property list too large");
        return walk(m_list.top());
    }

private:
    using Object = BinaryPropertyList::Object;
    static constexpr quint64 kMaxObjects = quint64(1) << 21;
    static constexpr quint64 kMaxNodes = kMaxExpandedValues;
    static constexpr quint16 kUnknown = 0xFFFF;
    static constexpr quint16 kOnPath = 0xFFFE;

    struct Frame
    {
        Object index;
        std::vector<Object> children;
        size_t next = 0;
        quint16 deepestChild = 0;
        quint64 nodes = 1; // this object and its expanded subtree
    };

    // The references of a container; none for anything else or a damaged
    // container.
    QString children(Object index, std::vector<Object> *out)
    {
        if (!m_list.references(index, out)) {
            out->clear();
            return {};
        }
        m_budget -= qint64(out->size());
        if (m_budget < 0) return QStringLiteral("damaged binary property list (overlapping objects)");
        return {};
    }

    QString walk(Object top)
    {
        std::vector<quint16> depth(size_t(m_list.objectCount()), kUnknown);
        std::vector<quint32> nodes(size_t(m_list.objectCount()), 0);
        std::vector<Frame> path;
        const auto enter = [&](Object index) -> QString {
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
            const Object child = frame.children[frame.next++];
            if (depth[size_t(child)] == kOnPath) return QStringLiteral("damaged binary property list (a cycle)");
            if (depth[size_t(child)] != kUnknown) {
                if (!addTo(frame, depth[size_t(child)], nodes[size_t(child)])) return tooMany;
            } else {
                problem = enter(child);
            }
        }
        return problem;
    }

    const BinaryPropertyList &m_list;
    qint64 m_budget;
};

QString binaryListProblem(const BinaryPropertyList &list, qint64 bytes)
{
    return BinaryListCheck(list, bytes).problem();
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
