#pragma once

#include <QByteArray>
#include <QString>

namespace vtr {

// The bytes of one member of a zip archive, read in memory without writing
// anything to disk. Null (with a reason in *error) when the archive cannot be
// read, has no such member, or the member is larger than `maxBytes`.
QByteArray readArchiveMember(const QString &archivePath, const QString &memberName, qint64 maxBytes,
                             QString *error = nullptr);

} // namespace vtr
