#pragma once

#include "pim/records/STRecord.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QVariantMap>

#include <functional>

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
