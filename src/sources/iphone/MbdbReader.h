#pragma once

#include "sources/iphone/ByteCursor.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

// The file list of newer iPhone backups, "Manifest.mbdb": the magic "mbdb",
// two header bytes, then records to the end of the file. All integers are
// big-endian. A string is a 16-bit length and that many UTF-8 bytes; the
// length 0xFFFF stands for an absent string and has no bytes.
namespace vtr::mbdb {

inline constexpr qint64 kHeaderSize = 6;
inline constexpr quint16 kAbsentStringLength = 0xFFFF;

struct Record
{
    // Strings keep their bytes as stored: the backup file name is a digest of
    // exactly these bytes, whatever their encoding.
    QByteArray domain;
    QByteArray path;
    QByteArray linkTarget;
    QByteArray dataHash;
    QByteArray encryptionKey;
    quint16 mode = 0;
    quint32 values[7] = {};
    quint64 size = 0;
    quint8 flags = 0;
    QList<QPair<QByteArray, QByteArray>> properties;

    QString domainString() const { return QString::fromUtf8(domain); }
    QString pathString() const { return QString::fromUtf8(path); }
    // "domain-path": the key of the record on the phone.
    QString devicePath() const;
    // The 40 lower-case hexadecimal digits of the SHA-1 of "domain-path":
    // the name of the record's file in the backup folder.
    QString backupFileName() const;
};

struct Manifest
{
    QList<Record> records; // every complete record before any damage
    QString error;         // why reading stopped early; empty when the whole file was read
};

// True when the bytes begin with "mbdb".
bool isManifest(const QByteArray &data);

// One string at the cursor (absent strings read as empty).
bool readString(ByteCursor &cursor, QByteArray *out);
// One record at the cursor; false (the cursor failed) when it does not fit.
bool readRecord(ByteCursor &cursor, Record *out);

// Reads a whole manifest. Not a manifest: no records and an error.
Manifest read(const QByteArray &data);

QString backupFileName(const QByteArray &domain, const QByteArray &path);

} // namespace vtr::mbdb
