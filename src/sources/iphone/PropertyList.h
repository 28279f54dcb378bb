#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QVariant>
#include <QVariantMap>

// Property lists of phone backups and app packages, XML or binary, read
// straight into Qt values (no intermediate tree): dictionaries become
// QVariantMap, arrays and sets QVariantList, strings QString, integers qint64,
// reals double, booleans bool, dates QDateTime (UTC), data QByteArray, UIDs
// qint64. Input is untrusted: any damage gives an invalid QVariant and a
// reason, never a read past the end; nesting deeper than kMaxDepth, cycles
// and graphs that expand without bound are refused. BinaryPropertyList.h
// reads single values of a large binary list without converting the rest.
namespace vtr::plist {

inline constexpr int kMaxDepth = 512;
// Larger inputs are refused before parsing; backup property lists are far
// smaller.
inline constexpr qint64 kMaxBytes = qint64(64) << 20;

// Either format, told apart by the binary header "bplist00".
QVariant fromData(const QByteArray &data, QString *error = nullptr);
// Binary only (the header must be "bplist").
QVariant fromBinaryData(const QByteArray &data, QString *error = nullptr);

// True when bytes that begin a file can begin a property list: the binary
// header, or "<" after white space (and a UTF-8 byte-order mark).
bool startsLikePropertyList(QByteArrayView head);

// A file's property list when it is a dictionary; an empty map when the file
// is missing, unreadable, damaged or holds something else. Only the first
// bytes of a file that is no property list are read.
QVariantMap dictionaryFromFile(const QString &path);
// The same for bytes that are already in memory.
QVariantMap dictionaryFromData(const QByteArray &data);

} // namespace vtr::plist
