#include "sources/iphone/MbdbReader.h"

#include <QCryptographicHash>

namespace vtr::mbdb {

bool isManifest(const QByteArray &data)
{
    return data.startsWith("mbdb");
}

bool readString(ByteCursor &cursor, QByteArray *out)
{
    quint16 length = 0;
    if (!cursor.readBE(&length)) return false;
    if (length == kAbsentStringLength) {
        out->clear();
        return true;
    }
    return cursor.readBytes(length, out);
}

bool readRecord(ByteCursor &cursor, Record *out)
{
    Record record;
    bool ok = readString(cursor, &record.domain) && readString(cursor, &record.path)
              && readString(cursor, &record.linkTarget) && readString(cursor, &record.dataHash)
              && readString(cursor, &record.encryptionKey) && cursor.readBE(&record.mode);
    for (quint32 &value : record.values) ok = ok && cursor.readBE(&value);
    quint8 propertyCount = 0;
    ok = ok && cursor.readBE(&record.size) && cursor.readBE(&record.flags) && cursor.readBE(&propertyCount);
    for (int i = 0; ok && i < propertyCount; ++i) {
        QPair<QByteArray, QByteArray> property;
        ok = readString(cursor, &property.first) && readString(cursor, &property.second);
        if (ok) record.properties.append(property);
    }
    if (!ok) return false;
    *out = std::move(record);
    return true;
}

Manifest read(const QByteArray &data)
{
    Manifest manifest;
    if (!isManifest(data)) {
        manifest.error = QStringLiteral("not a backup manifest (no \"mbdb\" header)");
        return manifest;
    }
    ByteCursor cursor(data);
    if (!cursor.skip(kHeaderSize)) {
        manifest.error = QStringLiteral("backup manifest header is truncated");
        return manifest;
    }
    while (!cursor.atEnd()) {
        const qint64 start = cursor.position();
        Record record;
        if (!readRecord(cursor, &record)) {
            manifest.error = QStringLiteral("backup manifest record at byte %1 is truncated").arg(start);
            break;
        }
        manifest.records.append(std::move(record));
    }
    return manifest;
}

QString backupFileName(const QByteArray &domain, const QByteArray &path)
{
    QCryptographicHash hash(QCryptographicHash::Sha1);
    hash.addData(domain);
    hash.addData(QByteArrayView("-"));
    hash.addData(path);
    return QString::fromLatin1(hash.result().toHex());
}

QString Record::devicePath() const
{
    return QStringLiteral("%1-%2").arg(domainString(), pathString());
}

QString Record::backupFileName() const
{
    return mbdb::backupFileName(domain, path);
}

} // namespace vtr::mbdb
