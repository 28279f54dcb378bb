#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <ostream>

// Builders of the backup files the iPhone and BlackBerry tests read: every
// fixture is made here, from the format as documented, or by the real tools
// (sqlite3, zip, sha1sum) so the readers are checked against independent
// writers.
namespace fixtures {

// ---- iPhone manifests -------------------------------------------------------------------

struct MbdbEntry
{
    QByteArray domain;
    QByteArray path;
    QByteArray linkTarget;       // empty: written as absent (0xFFFF)
    bool emptyPathAsAbsent = false;
    quint16 mode = 0x81A4;
    quint64 size = 0;
    QList<QPair<QByteArray, QByteArray>> properties;
};

QByteArray mbdbString(const QByteArray &bytes, bool absent = false);
QByteArray mbdbRecord(const MbdbEntry &entry);
QByteArray mbdbFile(const QList<MbdbEntry> &entries);

// "Manifest.mbdx": header, then per key the 20 key bytes, the offset of the
// record in the database (less its 6-byte header) and two mode bytes.
struct MbdxEntry
{
    QByteArray key; // 20 bytes
    quint32 offset = 0;
};
QByteArray mbdxFile(const QList<MbdxEntry> &entries);
// Offsets of each record of an mbdb file made by mbdbFile(), less the header.
QList<quint32> mbdbOffsets(const QList<MbdbEntry> &entries);

// ---- property lists --------------------------------------------------------------------

// QVariantMap, QVariantList, QString, bool, qint64/int, double, QDateTime, QByteArray.
QByteArray plistData(const QVariant &value, bool binary);

// ---- BlackBerry IPD -----------------------------------------------------------------------

struct IpdRecord
{
    quint16 database = 0;
    quint8 version = 0;
    quint16 handle = 0;
    quint32 uid = 0;
    QList<QByteArray> fields; // each written with type byte 1
};
// Names are written with their terminating zero.
QByteArray ipdFile(const QStringList &databaseNames, const QList<IpdRecord> &records,
                   const QByteArray &header = "Inter@ctive Pager Backup/Restore File");
QByteArray ipdText(const QByteArray &text); // text plus its terminating zero

// ---- real tools --------------------------------------------------------------------------

// Runs `sqlite3 path` with the SQL on standard input; fails the test on error.
void makeSqlite(const QString &path, const QString &sql);
// `zip -r archive members...` run in `folder`.
void makeZip(const QString &archive, const QString &folder, const QStringList &members);
// Lower-case hexadecimal SHA-1 of the bytes, as `sha1sum` prints it.
QString sha1sum(const QByteArray &bytes);

} // namespace fixtures

// Readable test failures for texts.
inline void PrintTo(const QString &text, std::ostream *os)
{
    *os << '"' << text.toStdString() << '"';
}
