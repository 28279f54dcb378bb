#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>
#include <QVariantMap>

// Property lists of phone backups and app packages, XML or binary, read with
// libplist into Qt values: dictionaries become QVariantMap, arrays
// QVariantList, strings QString, integers qint64, reals double, booleans bool,
// dates QDateTime (UTC), data and UIDs QByteArray / qint64. Input is
// untrusted: any damage gives an invalid QVariant and a reason, never a read
// past the end, and nesting deeper than kMaxDepth is refused.
namespace vtr::plist {

inline constexpr int kMaxDepth = 512;
// Larger inputs are refused before parsing (libplist takes 32-bit lengths).
inline constexpr qint64 kMaxBytes = qint64(1) << 30;

// Either format, told apart by the binary header "bplist00".
QVariant fromData(const QByteArray &data, QString *error = nullptr);
// Binary only (the header must be "bplist").
QVariant fromBinaryData(const QByteArray &data, QString *error = nullptr);

// A file's property list when it is a dictionary; an empty map when the file
// is missing, unreadable, damaged or holds something else.
QVariantMap dictionaryFromFile(const QString &path);
// The same for bytes that are already in memory.
QVariantMap dictionaryFromData(const QByteArray &data);

} // namespace vtr::plist
