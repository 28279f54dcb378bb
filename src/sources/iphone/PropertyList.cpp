#include "sources/iphone/PropertyList.h"

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
        QVariantMap map;
        plist_dict_iter iter = nullptr;
        plist_dict_new_iter(node, &iter);
        if (!iter) return QVariant(map);
        for (;;) {
            char *key = nullptr;
            plist_t value = nullptr;
            plist_dict_next_item(node, iter, &key, &value);
            if (!value) {
                std::free(key);
                break;
            }
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
