#pragma once

#include "pim/records/STRecord.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QIODevice>
#include <QList>
#include <QString>
#include <QVariantMap>

#include <functional>
#include <memory>

// Export lines: one compact JSON object per line, {"command": "ADD_RECORD",
// "database": ..., "record": <a record of the dialect>}, the form of the PIM
// export files and of the companion app's "nroid_con.json" ("contacts",
// "groups") and "nroid_cal.json" ("calendars", "events").

struct CompanionLine
{
    int lineNumber = 0; // from 1
    QString database;
    QVariantMap record;
};

// Every usable line: a JSON object whose "record" is an object. A blank or
// broken line, or one of another shape, is skipped alone and silently (a file
// of bad lines must not flood the log). `lineCount` receives the number of
// lines (the piece after the last line feed counts).
QList<CompanionLine> readCompanionLines(QByteArrayView data, int *lineCount = nullptr);

// The lines of `device`, from its position to its end, read one at a time so
// that a file of any size is never held whole. `visit` is called for every
// line in order with its number (from 1), the number of lines (the piece
// after the last line feed counts) and its usable record (null for a blank,
// broken or other line, as readCompanionLines skips them). A first pass counts
// the lines and checks that each is UTF-8: false, before any visit, when one
// is not or the device cannot be read from its start again.
bool forEachCompanionLine(QIODevice &device,
                          const std::function<void(int number, int count, const CompanionLine *line)> &visit);

// A JSON object held as its compact UTF-8 text, for results kept by the
// hundred thousand (a QVariantMap costs several times its text). A QVariant
// of one converts to the object with toMap() and compares by its text.
struct CompactJsonObject
{
    std::shared_ptr<const QByteArray> block;  // shared by many objects
    quint32 offset = 0, size = 0;
    QByteArrayView text() const { return QByteArrayView(*block).sliced(offset, size); }
    bool operator==(const CompactJsonObject &other) const { return text() == other.text(); }
};
Q_DECLARE_TYPEINFO(CompactJsonObject, Q_RELOCATABLE_TYPE);
Q_DECLARE_METATYPE(CompactJsonObject)

// Makes CompactJsonObjects whose texts fill shared blocks of memory, so that
// each costs its text and its QVariant only. One writer per thread.
class CompactJsonWriter
{
public:
    QVariant operator()(const QVariantMap &object);

private:
    std::shared_ptr<QByteArray> m_block;
};

// The record type read for a database name ("contacts" -> "contact",
// "groups" -> "group", "calendars" -> "calendar", "events" -> "vevent",
// "tasks" -> "task"); a null QString for any other.
QString recordTypeForDatabase(const QString &database);

// The line's record as an STRecord, chosen by its own "of" or else by its
// database; null when neither names a kind the dialect reads.
STRecordPtr stRecordFromCompanionLine(const CompanionLine &line);

// One export line with its "\n"; empty when the record cannot be written.
QByteArray exportLine(const QString &database, const QVariantMap &record);

// The export lines of `records` through `writer`. A record whose conversion
// throws or cannot be written is left out with a log line naming its
// identifier and type only; `written` receives the number of lines.
QByteArray exportLines(const QString &database, const STRecordList &records,
                       const std::function<QVariantMap(const STRecord &)> &writer, int *written = nullptr);
