#include "CompanionFile.h"

#include "STRecordAndroid.h"
#include "foundation/Json.h"
#include "foundation/Log.h"

#include <algorithm>
#include <exception>

namespace {

// The line's record when it is a JSON object whose "record" is an object.
bool parseLine(QorJsonParser &parser, QByteArrayView line, int number, CompanionLine &out)
{
    if (line.trimmed().isEmpty()) return false;
    const QVariant parsed = parser.objectWithUtf8(line);
    if (parsed.typeId() != QMetaType::QVariantMap) return false;
    const QVariantMap m = parsed.toMap();
    const QVariant record = m.value(QStringLiteral("record"));
    if (record.typeId() != QMetaType::QVariantMap) return false;
    out = {number, m.value(QStringLiteral("database")).toString(), record.toMap()};
    return true;
}

QByteArrayView withoutLineFeed(const QByteArray &line)
{
    return line.endsWith('\n') ? QByteArrayView(line).chopped(1) : QByteArrayView(line);
}

}  // namespace

QList<CompanionLine> readCompanionLines(QByteArrayView data, int *lineCount)
{
    QList<CompanionLine> out;
    QorJsonParser parser;
    int number = 0;
    qsizetype from = 0;
    for (;;) {
        const qsizetype nl = data.indexOf('\n', from);
        ++number;
        CompanionLine line;
        if (parseLine(parser, data.sliced(from, (nl < 0 ? data.size() : nl) - from), number, line))
            out.append(std::move(line));
        if (nl < 0) break;
        from = nl + 1;
    }
    if (lineCount) *lineCount = number;
    return out;
}

bool forEachCompanionLine(QIODevice &device,
                          const std::function<void(int number, int count, const CompanionLine *line)> &visit)
{
    const qint64 start = device.pos();
    int count = 1;
    while (!device.atEnd()) {
        const QByteArray line = device.readLine();
        if (!withoutLineFeed(line).isValidUtf8()) return false;
        count += line.endsWith('\n');
    }
    if (!device.seek(start)) return false;
    QorJsonParser parser;
    for (int number = 1; number <= count; ++number) {
        const QByteArray line = device.atEnd() ? QByteArray() : device.readLine();
        CompanionLine parsed;
        visit(number, count, parseLine(parser, withoutLineFeed(line), number, parsed) ? &parsed : nullptr);
    }
    return true;
}

QVariant CompactJsonWriter::operator()(const QVariantMap &object)
{
    static const bool registered = QMetaType::registerConverter<CompactJsonObject, QVariantMap>(
        [](const CompactJsonObject &o) { return QorJsonParser().objectWithUtf8(o.text()).toMap(); });
    Q_UNUSED(registered);
    constexpr qsizetype kBlock = 1 << 20;
    const QByteArray text = QorJsonWriter().stringWithObject(object).toUtf8();
    // A block never grows beyond what it reserved: the texts in it stay where they are.
    if (!m_block || m_block->capacity() - m_block->size() < text.size()) {
        m_block = std::make_shared<QByteArray>();
        m_block->reserve(std::max(kBlock, text.size()));
    }
    const CompactJsonObject o{m_block, quint32(m_block->size()), quint32(text.size())};
    m_block->append(text);
    return QVariant::fromValue(o);
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
