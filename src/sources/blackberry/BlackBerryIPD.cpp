#include "sources/blackberry/BlackBerryIPD.h"

#include "foundation/Log.h"
#include "sources/iphone/ByteCursor.h"

#include <QFile>
#include <QVariantList>

#include <vector>

namespace vtr::ipd {

namespace {

// 0x80-0x9F of code page 1252; 0 marks a byte with no character.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

// The fixed part of a record: version, handle, unique identifier.
constexpr quint32 kRecordHeaderSize = 7;
constexpr quint16 kEndOfRecords = 0xFFFF;

// A text stored with a terminating zero: the zero is not part of it. Texts
// written without one (SMS bodies do this) keep every byte.
QByteArray withoutTerminator(const QByteArray &bytes)
{
    return bytes.endsWith('\0') ? bytes.left(bytes.size() - 1) : bytes;
}

QVariant fieldValue(const QByteArray &bytes)
{
    if (bytes.isEmpty()) return QVariant(QByteArray(""));
    bool ok = false;
    const QString text = decodeCp1252(withoutTerminator(bytes), &ok);
    return ok ? QVariant(text) : QVariant(bytes);
}

void noteError(QString *error, const QString &text)
{
    if (error && error->isEmpty()) *error = text;
}

// Reads one record's fields (the data after its fixed part).
QVariantList readFields(const QByteArray &recordData, QString *error, qint64 recordStart)
{
    QVariantList fields;
    if (recordData.size() <= qsizetype(kRecordHeaderSize)) return fields;
    ByteCursor cursor(recordData, kRecordHeaderSize);
    while (!cursor.atEnd()) {
        quint16 length = 0;
        quint8 type = 0;
        QByteArray bytes;
        if (!cursor.readLE(&length) || !cursor.readLE(&type) || !cursor.readBytes(length, &bytes)) {
            noteError(error, QStringLiteral("field of the record at byte %1 runs past the record").arg(recordStart));
            break;
        }
        fields.append(fieldValue(bytes));
    }
    return fields;
}

} // namespace

QString decodeCp1252(const QByteArray &bytes, bool *ok)
{
    bool allDefined = true;
    QString text(bytes.size(), Qt::Uninitialized);
    QChar *out = text.data();
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        char16_t code = byte;
        if (byte >= 0x80 && byte < 0xA0) {
            code = kCp1252High[byte - 0x80];
            if (code == 0) {
                allDefined = false;
                code = 0xFFFD;
            }
        }
        out[i] = QChar(code);
    }
    if (ok) *ok = allDefined;
    return text;
}

std::optional<QVariantMap> dictionaryWithBBIPDData(const QByteArray &data, QString *error)
{
    const qsizetype lineFeed = data.indexOf('\n');
    if (lineFeed < 0) {
        VtrDebugLog(QStringLiteral("Failed to read BB database name"));
        noteError(error, QStringLiteral("no header line"));
        return std::nullopt;
    }

    QStringList names;
    std::vector<QVariantList> records;
    ByteCursor cursor(data, lineFeed + 2);
    quint16 count = 0;
    if (!cursor.readBE(&count) || !cursor.skip(1)) {
        noteError(error, QStringLiteral("database list is truncated"));
    } else {
        for (quint16 i = 0; i < count; ++i) {
            quint16 length = 0;
            QByteArray name;
            if (!cursor.readLE(&length) || !cursor.readBytes(length, &name)) {
                noteError(error, QStringLiteral("database name %1 runs past the end").arg(i));
                break;
            }
            names.append(decodeCp1252(withoutTerminator(name)));
        }
    }
    records.resize(size_t(names.size()));

    // Records only follow a complete name list.
    while (!cursor.failed() && !cursor.atEnd()) {
        const qint64 start = cursor.position();
        quint16 index = 0;
        quint32 length = 0;
        QByteArray recordData;
        if (!cursor.readLE(&index)) {
            noteError(error, QStringLiteral("record at byte %1 is truncated").arg(start));
            break;
        }
        if (index == kEndOfRecords) break;
        if (!cursor.readLE(&length) || !cursor.readBytes(length, &recordData)) {
            noteError(error, QStringLiteral("record at byte %1 runs past the end").arg(start));
            break;
        }
        if (index >= names.size()) {
            noteError(error, QStringLiteral("record at byte %1 names database %2 of %3")
                                 .arg(start)
                                 .arg(index)
                                 .arg(names.size()));
            break;
        }
        if (length < kRecordHeaderSize) {
            noteError(error, QStringLiteral("record at byte %1 is shorter than its header").arg(start));
            break;
        }
        ByteCursor header(recordData);
        quint8 version = 0;
        quint16 handle = 0;
        quint32 uid = 0;
        header.readLE(&version);
        header.readLE(&handle);
        header.readLE(&uid);
        QVariantMap record;
        record.insert(QStringLiteral("Version"), uint(version));
        record.insert(QStringLiteral("Handle"), uint(handle));
        record.insert(QStringLiteral("UUID"), qint32(uid));
        record.insert(QStringLiteral("Fields"), readFields(recordData, error, start));
        records[size_t(index)].append(record);
    }

    QVariantList databases;
    for (qsizetype i = 0; i < names.size(); ++i) {
        QVariantMap database;
        database.insert(QStringLiteral("Name"), names[i]);
        database.insert(QStringLiteral("Records"), records[size_t(i)]);
        databases.append(database);
    }
    QVariantMap result;
    result.insert(QStringLiteral("Name"), decodeCp1252(data.left(lineFeed)));
    result.insert(QStringLiteral("Database Names"), names);
    result.insert(QStringLiteral("Databases"), databases);
    return result;
}

std::optional<QVariantMap> dictionaryWithBBIPDAtPath(const QString &path, QString *error)
{
    QFile file(path);
    QByteArray data;
    if (!path.isEmpty() && file.open(QIODevice::ReadOnly)) data = file.readAll();
    return dictionaryWithBBIPDData(data, error);
}

std::optional<QVariantMap> dictionaryWithBBIPDAtURL(const QUrl &url, QString *error)
{
    return dictionaryWithBBIPDAtPath(url.isLocalFile() ? url.toLocalFile() : QString(), error);
}

QVariantMap databaseNamed(const QVariantMap &ipd, const QString &name)
{
    const QStringList names = ipd.value(QStringLiteral("Database Names")).toStringList();
    const QVariantList databases = ipd.value(QStringLiteral("Databases")).toList();
    const qsizetype index = names.indexOf(name);
    return index >= 0 && index < databases.size() ? databases[index].toMap() : QVariantMap();
}

} // namespace vtr::ipd
