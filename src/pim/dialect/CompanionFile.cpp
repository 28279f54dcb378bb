#include "CompanionFile.h"

#include "STRecordAndroid.h"
#include "foundation/Json.h"
#include "foundation/Log.h"

#include <exception>

QList<CompanionLine> readCompanionLines(QByteArrayView data, int *lineCount)
{
    QList<CompanionLine> out;
    QorJsonParser parser;
    int number = 0;
    qsizetype from = 0;
    for (;;) {
        const qsizetype nl = data.indexOf('\n', from);
        const QByteArrayView line = data.sliced(from, (nl < 0 ? data.size() : nl) - from);
        ++number;
        if (!line.trimmed().isEmpty()) {
            const QVariant parsed = parser.objectWithUtf8(line);
            if (parsed.typeId() == QMetaType::QVariantMap) {
                const QVariantMap m = parsed.toMap();
                const QVariant record = m.value(QStringLiteral("record"));
                if (record.typeId() == QMetaType::QVariantMap)
                    out.append({number, m.value(QStringLiteral("database")).toString(), record.toMap()});
            }
        }
        if (nl < 0) break;
        from = nl + 1;
    }
    if (lineCount) *lineCount = number;
    return out;
}

QString recordTypeForDatabase(const QString &database)
{
    static const QVariantMap table{{"contacts", "contact"}, {"groups", "group"}, {"calendars", "calendar"},
                                   {"events", "vevent"},     {"tasks", "task"}};
    return table.value(database).toString();
}

STRecordPtr stRecordFromCompanionLine(const CompanionLine &line)
{
    const QString of = QStringLiteral("of");
    if (line.record.contains(of)) return stRecordFromDeviceRecord(line.record);
    const QString type = recordTypeForDatabase(line.database);
    if (type.isNull()) return nullptr;
    QVariantMap record = line.record;
    record.insert(of, type);
    STRecordPtr r = stRecordFromDeviceRecord(record);
    // The type came from the line, not from the record: it is no field of it.
    if (r) r->removeFieldOfType(of);
    return r;
}

QByteArray exportLine(const QString &database, const QVariantMap &record)
{
    QorJsonWriter writer;
    const QString text = writer.stringWithObject(QVariantMap{
        {QStringLiteral("command"), QStringLiteral("ADD_RECORD")}, {QStringLiteral("database"), database},
        {QStringLiteral("record"), record}});
    if (text.isNull()) return QByteArray();
    return text.toUtf8() + '\n';
}

QByteArray exportLines(const QString &database, const STRecordList &records,
                       const std::function<QVariantMap(const STRecord &)> &writer, int *written)
{
    QByteArray out;
    int count = 0;
    for (const STRecordPtr &r : records) {
        if (!r) continue;
        QByteArray line;
        try {
            line = exportLine(database, writer(*r));
        } catch (const std::exception &) {
            line.clear();
        }
        if (line.isEmpty()) {
            VtrDebugLog(stRecordLeftOutMessage(*r));
            continue;
        }
        out += line;
        ++count;
    }
    if (written) *written = count;
    return out;
}
