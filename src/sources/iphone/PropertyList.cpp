#include "sources/iphone/PropertyList.h"

#include "sources/iphone/ByteCursor.h"

#include <QDateTime>
#include <QFile>
#include <QTimeZone>

#include <plist/plist.h>

#include <cstdlib>
#include <memory>

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

bool binaryKeysAreSafe(const QByteArray &data);

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
    if (binary && !binaryKeysAreSafe(data)) {
        setError(error, QStringLiteral("damaged binary property list (a key holds a NUL character)"));
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

// libplist asserts (ending the process) when a dictionary key holds a NUL
// character. A damaged or hostile binary list can hold one, so the keys are
// checked in the raw object table before libplist sees the list. Whatever
// else is malformed is left to libplist, which refuses it. In a sound list
// the dictionaries' key references do not overlap, so they number fewer
// than the bytes; more than that is a hostile list and is refused too.
bool binaryKeysAreSafe(const QByteArray &data)
{
    constexpr qint64 kTrailerSize = 32;
    if (data.size() < 8 + kTrailerSize) return true;
    vtr::ByteCursor trailer(data, data.size() - kTrailerSize + 6);
    quint8 offsetSize = 0;
    quint8 refSize = 0;
    quint64 objectCount = 0;
    quint64 topObject = 0;
    quint64 tableOffset = 0;
    trailer.readBE(&offsetSize);
    trailer.readBE(&refSize);
    trailer.readBE(&objectCount);
    trailer.readBE(&topObject);
    trailer.readBE(&tableOffset);
    if (offsetSize < 1 || offsetSize > 8 || refSize < 1 || refSize > 8) return true;
    if (objectCount > quint64(data.size()) || tableOffset > quint64(data.size())) return true;

    const auto readSized = [](vtr::ByteCursor &cursor, int size, quint64 *out) {
        *out = 0;
        for (int i = 0; i < size; ++i) {
            quint8 byte = 0;
            if (!cursor.readBE(&byte)) return false;
            *out = (*out << 8) | byte;
        }
        return true;
    };
    const auto objectOffset = [&](quint64 index, quint64 *out) {
        if (index >= objectCount) return false;
        vtr::ByteCursor table(data, qint64(tableOffset + index * offsetSize));
        return readSized(table, offsetSize, out) && *out < quint64(data.size());
    };
    // The marker's count: its low nibble, or the integer object after it.
    const auto readCount = [&](vtr::ByteCursor &cursor, quint8 marker, quint64 *count) {
        if ((marker & 0x0F) != 0x0F) {
            *count = marker & 0x0F;
            return true;
        }
        quint8 intMarker = 0;
        if (!cursor.readBE(&intMarker) || (intMarker & 0xF0) != 0x10 || (intMarker & 0x0F) > 3) return false;
        return readSized(cursor, 1 << (intMarker & 0x0F), count);
    };
    const auto keyIsSafe = [&](quint64 index) {
        quint64 offset = 0;
        if (!objectOffset(index, &offset)) return true;
        vtr::ByteCursor object(data, qint64(offset));
        quint8 marker = 0;
        quint64 count = 0;
        if (!object.readBE(&marker) || !readCount(object, marker, &count)) return true;
        const int unit = (marker & 0xF0) == 0x50 ? 1 : (marker & 0xF0) == 0x60 ? 2 : 0;
        if (unit == 0 || count > quint64(object.remaining()) / unit) return true;
        const unsigned char *bytes = object.data() + object.position();
        for (quint64 i = 0; i < count; ++i) {
            if (unit == 1 ? bytes[i] == 0 : (bytes[2 * i] == 0 && bytes[2 * i + 1] == 0)) return false;
        }
        return true;
    };

    qint64 budget = data.size();
    for (quint64 i = 0; i < objectCount; ++i) {
        quint64 offset = 0;
        if (!objectOffset(i, &offset)) continue;
        vtr::ByteCursor object(data, qint64(offset));
        quint8 marker = 0;
        quint64 count = 0;
        if (!object.readBE(&marker) || (marker & 0xF0) != 0xD0 || !readCount(object, marker, &count)) continue;
        for (quint64 k = 0; k < count; ++k) {
            if (--budget < 0) return false;
            quint64 keyRef = 0;
            if (!readSized(object, refSize, &keyRef)) break;
            if (!keyIsSafe(keyRef)) return false;
        }
    }
    return true;
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
