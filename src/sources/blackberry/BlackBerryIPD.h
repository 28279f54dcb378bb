#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>
#include <QVariantMap>

#include <optional>

// BlackBerry IPD database files ("Databases/Databases.ipd" of a desktop
// backup) read into nested dictionaries:
//   "Name"            the header text
//   "Database Names"  the database names in file order
//   "Databases"       per name: {"Name", "Records"}; a record is
//                     {"Version" (uint), "Handle" (uint), "UUID" (int, signed
//                     32-bit), "Fields" (texts or byte blocks, in file order)}
// The database count is big-endian, every other number little-endian.
//
// The file is untrusted. Every length, count and index is checked against
// what remains: a name, record or field that runs past the end, a record
// shorter than its fixed part or one for a database that is not listed ends
// the reading there; what was complete before stays in the result and the
// reason goes to *error.
namespace vtr::ipd {

// nullopt (logged) when the data holds no line feed, so no header.
std::optional<QVariantMap> dictionaryWithBBIPDData(const QByteArray &data, QString *error = nullptr);
std::optional<QVariantMap> dictionaryWithBBIPDAtPath(const QString &path, QString *error = nullptr);
std::optional<QVariantMap> dictionaryWithBBIPDAtURL(const QUrl &url, QString *error = nullptr);

// The first database of that name in a parsed file; empty when none.
QVariantMap databaseNamed(const QVariantMap &ipd, const QString &name);

// Windows code page 1252. *ok is false when a byte has no character there
// (0x81, 0x8D, 0x8F, 0x90, 0x9D); those become U+FFFD.
QString decodeCp1252(const QByteArray &bytes, bool *ok = nullptr);

} // namespace vtr::ipd
