#include "support/BackupFixtures.h"

#include <QDateTime>
#include <QProcess>
#include <QtEndian>

#include <gtest/gtest.h>
#include <plist/plist.h>

#include <cstdlib>

namespace fixtures {

namespace {

template <typename T> void appendBE(QByteArray &out, T value)
{
    T be = qToBigEndian(value);
    out.append(reinterpret_cast<const char *>(&be), sizeof be);
}

template <typename T> void appendLE(QByteArray &out, T value)
{
    T le = qToLittleEndian(value);
    out.append(reinterpret_cast<const char *>(&le), sizeof le);
}

plist_t toPlist(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::QVariantMap: {
        plist_t dict = plist_new_dict();
        const QVariantMap map = value.toMap();
        for (auto it = map.cbegin(); it != map.cend(); ++it)
            plist_dict_set_item(dict, it.key().toUtf8().constData(), toPlist(it.value()));
        return dict;
    }
    case QMetaType::QVariantList:
    case QMetaType::QStringList: {
        plist_t array = plist_new_array();
        for (const QVariant &item : value.toList()) plist_array_append_item(array, toPlist(item));
        return array;
    }
    case QMetaType::Bool: return plist_new_bool(value.toBool());
    case QMetaType::Int:
    case QMetaType::LongLong: return plist_new_uint(uint64_t(value.toLongLong()));
    case QMetaType::Double: return plist_new_real(value.toDouble());
    case QMetaType::QDateTime: {
        const qint64 ms = value.toDateTime().toMSecsSinceEpoch() - 978307200000LL;
        return plist_new_date(int32_t(ms / 1000), int32_t((ms % 1000) * 1000));
    }
    case QMetaType::QByteArray: {
        const QByteArray bytes = value.toByteArray();
        return plist_new_data(bytes.constData(), uint64_t(bytes.size()));
    }
    default: return plist_new_string(value.toString().toUtf8().constData());
    }
}

QByteArray run(const QString &program, const QStringList &args, const QByteArray &input,
               const QString &folder = QString())
{
    QProcess process;
    if (!folder.isEmpty()) process.setWorkingDirectory(folder);
    process.start(program, args);
    EXPECT_TRUE(process.waitForStarted()) << program.toStdString();
    process.write(input);
    process.closeWriteChannel();
    EXPECT_TRUE(process.waitForFinished(30000));
    EXPECT_EQ(process.exitCode(), 0) << program.toStdString() << ": " << process.readAllStandardError().toStdString();
    return process.readAllStandardOutput();
}

} // namespace

QByteArray mbdbString(const QByteArray &bytes, bool absent)
{
    QByteArray out;
    if (absent) {
        appendBE<quint16>(out, 0xFFFF);
        return out;
    }
    appendBE<quint16>(out, quint16(bytes.size()));
    return out + bytes;
}

QByteArray mbdbRecord(const MbdbEntry &entry)
{
    QByteArray out = mbdbString(entry.domain) + mbdbString(entry.path, entry.emptyPathAsAbsent)
                     + mbdbString(entry.linkTarget, entry.linkTarget.isEmpty()) + mbdbString({}, true)
                     + mbdbString({}, true);
    appendBE<quint16>(out, entry.mode);
    appendBE<quint64>(out, 42);               // inode
    for (int i = 0; i < 5; ++i) appendBE<quint32>(out, 501 + quint32(i)); // ids and times
    appendBE<quint64>(out, entry.size);
    out.append(char(3));                       // protection class
    out.append(char(entry.properties.size()));
    for (const auto &property : entry.properties) out += mbdbString(property.first) + mbdbString(property.second);
    return out;
}

QByteArray mbdbFile(const QList<MbdbEntry> &entries)
{
    QByteArray out("mbdb\x05\x00", 6);
    for (const MbdbEntry &entry : entries) out += mbdbRecord(entry);
    return out;
}

QList<quint32> mbdbOffsets(const QList<MbdbEntry> &entries)
{
    QList<quint32> offsets;
    quint32 at = 0;
    for (const MbdbEntry &entry : entries) {
        offsets.append(at);
        at += quint32(mbdbRecord(entry).size());
    }
    return offsets;
}

QByteArray mbdxFile(const QList<MbdxEntry> &entries)
{
    QByteArray out("mbdx\x02\x00", 6);
    appendBE<quint32>(out, quint32(entries.size()));
    for (const MbdxEntry &entry : entries) {
        out += entry.key;
        appendBE<quint32>(out, entry.offset);
        appendBE<quint16>(out, 0x81A4);
    }
    return out;
}

QByteArray plistData(const QVariant &value, bool binary)
{
    plist_t root = toPlist(value);
    char *bytes = nullptr;
    uint32_t length = 0;
    if (binary)
        plist_to_bin(root, &bytes, &length);
    else
        plist_to_xml(root, &bytes, &length);
    QByteArray out(bytes, qsizetype(length));
    std::free(bytes);
    plist_free(root);
    return out;
}

QByteArray ipdText(const QByteArray &text)
{
    return text + QByteArray(1, '\0');
}

QByteArray ipdFile(const QStringList &databaseNames, const QList<IpdRecord> &records, const QByteArray &header)
{
    QByteArray out = header + '\n';
    out.append(char(2));
    appendBE<quint16>(out, quint16(databaseNames.size()));
    out.append(char(0));
    for (const QString &name : databaseNames) {
        const QByteArray bytes = ipdText(name.toLatin1());
        appendLE<quint16>(out, quint16(bytes.size()));
        out += bytes;
    }
    for (const IpdRecord &record : records) {
        QByteArray data;
        data.append(char(record.version));
        appendLE<quint16>(data, record.handle);
        appendLE<quint32>(data, record.uid);
        for (const QByteArray &field : record.fields) {
            appendLE<quint16>(data, quint16(field.size()));
            data.append(char(1));
            data += field;
        }
        appendLE<quint16>(out, record.database);
        appendLE<quint32>(out, quint32(data.size()));
        out += data;
    }
    return out;
}

void makeSqlite(const QString &path, const QString &sql)
{
    run(QStringLiteral("sqlite3"), {path}, sql.toUtf8());
}

void makeZip(const QString &archive, const QString &folder, const QStringList &members)
{
    run(QStringLiteral("zip"), QStringList{QStringLiteral("-q"), QStringLiteral("-r"), archive} + members, {}, folder);
}

QString sha1sum(const QByteArray &bytes)
{
    return QString::fromLatin1(run(QStringLiteral("sha1sum"), {}, bytes).left(40));
}

} // namespace fixtures
