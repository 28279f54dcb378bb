#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>
#include <QVariant>

#include <functional>
#include <optional>
#include <vector>

// A binary property list ("bplist00") read in place. Every value is an
// object found through the offset table at the end of the bytes; nothing is
// converted until it is asked for, so a caller that needs two fields of each
// entry of a large dictionary never builds the rest. Every read is checked
// against the bytes: damage gives an empty answer, never a read outside them.
namespace vtr::plist {

class BinaryPropertyList
{
public:
    using Object = quint64;

    // Nullopt (with the reason) when the header or the trailer is damaged.
    // The bytes are shared, not copied.
    static std::optional<BinaryPropertyList> open(const QByteArray &bytes, QString *error = nullptr);

    Object top() const { return m_top; }
    quint64 objectCount() const { return m_objectCount; }
    // The objects a container refers to, in stored order (a dictionary's
    // keys, then its values), appended to `out`; false when `object` is no
    // array, set or dictionary, or is damaged.
    bool references(Object object, std::vector<Object> *out) const;
    bool isDictionary(Object object) const;
    // The value stored under `key`; nullopt when `dictionary` is none or
    // damaged, or holds no such key.
    std::optional<Object> valueForKey(Object dictionary, QStringView key) const;
    // Each entry in stored order until `visit` answers false; false when
    // `dictionary` is none or damaged.
    bool forEachEntry(Object dictionary, const std::function<bool(Object key, Object value)> &visit) const;
    // A string's text; a null string for anything else.
    QString string(Object object) const;
    // A data object's bytes; a null array for anything else.
    QByteArray data(Object object) const;

    // The object and everything it holds as Qt values (see PropertyList.h).
    // Repeated strings, such as the keys of many alike dictionaries, share
    // one copy. Invalid, with the reason, on damage, on nesting deeper than
    // `maxDepth`, and on a graph that expands past `maxNodes` values.
    QVariant value(Object object, int maxDepth, quint64 maxNodes, QString *error) const;

private:
    struct Marker
    {
        quint8 type = 0;     // high nibble
        quint8 low = 0;      // low nibble
        quint64 count = 0;   // for data, strings, arrays, sets, dictionaries
        qint64 payload = 0;  // first byte after the marker and its count
    };

    BinaryPropertyList() = default;
    bool marker(Object object, Marker *out) const;
    bool reference(qint64 position, Object *out) const;
    bool stringAt(const Marker &m, QString *out) const;
    bool keyEquals(const Marker &m, QStringView key) const;
    class Converter;

    QByteArray m_bytes;
    quint8 m_offsetSize = 0;
    quint8 m_refSize = 0;
    quint64 m_objectCount = 0;
    Object m_top = 0;
    quint64 m_tableOffset = 0;
};

} // namespace vtr::plist
