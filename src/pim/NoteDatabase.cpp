#include "pim/NoteDatabase.h"

#include "foundation/Log.h"
#include "foundation/MigrationStatus.h"
#include "foundation/VtrDate.h"
#include "foundation/VtrString.h"
#include "pim/CalendarStoreRecords.h"
#include "pim/dialect/STRecordAndroid.h"
#include "pim/records/STDate.h"
#include "platform/Strings.h"

#include <QRegularExpression>
#include <QUrl>

using namespace syncstore;

namespace {

// Markup that names something to fetch (style sheets, pictures, frames,
// scripts) is taken out before the HTML reader sees the note: flattening a
// note never depends on what such a reader would load, and a picture leaves
// no object mark in the text.
QString flattenNoteHTML(QString html)
{
    static const QRegularExpression fetching(
        QStringLiteral("<\\s*(link|img|image|iframe|frame|object|embed|source|video|audio|input|script|style)\\b[^>]*>"),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression styleUrls(QStringLiteral("\\b(style|background|src)\\s*=\\s*(\"[^\"]*\"|'[^']*')"),
                                              QRegularExpression::CaseInsensitiveOption);
    html.remove(fetching);
    html.remove(styleUrls);
    return vtr::flattenHTML(html);
}

}  // namespace

QString NoteDatabase::clientIdentifier() const { return QStringLiteral("%1.notes").arg(bundleIdentifier()); }
QString NoteDatabase::clientDescriptionPath() const { return QStringLiteral(":/pim/NotesSyncClientDescription.json"); }
QList<QUrl> NoteDatabase::schemaBundleURLs() const
{
    return {QUrl::fromLocalFile(QStringLiteral("/System/Library/SyncServices/Schemas/Notes.syncschema"))};
}
QStringList NoteDatabase::entityNamesToSync() const { return {entity::Note}; }

QVariantList NoteDatabase::syncSessionForSnapshot()
{
    QVariantList out;
    for (const SyncRecordEntry &e : snapshotRecords(entity::Note)) {
        QVariantMap d{{QStringLiteral("uid"), e.identifier}};
        for (const char *k : {"contentType", "content", "dateCreated", "dateModified", "noteID", "subject"})
            if (e.record.contains(QLatin1String(k))) d.insert(QLatin1String(k), e.record.value(QLatin1String(k)));
        if (d.value(QStringLiteral("contentType")).toString() == QLatin1String("text/html"))
            d.insert(QStringLiteral("content"), flattenNoteHTML(d.value(QStringLiteral("content")).toString()));
        out.append(d);
    }
    return out;
}

STRecordPtr NoteDatabase::convertSyncRecordToSTRecord(const QVariantMap &record, const QVariantMap &mapping)
{
    return mapping.value(mappingEntityKey()).toString() == entity::Note ? convertNoteSyncRecordToSTRecord(record, mapping)
                                                                        : nullptr;
}

STRecordPtr NoteDatabase::convertNoteSyncRecordToSTRecord(const QVariantMap &d, const QVariantMap &)
{
    static const QHash<QString, QString> fields = {
        {QStringLiteral("content"), QStringLiteral("content")},           {QStringLiteral("contentType"), QStringLiteral("type")},
        {QStringLiteral("dateCreated"), QStringLiteral("creationDate")},  {QStringLiteral("dateModified"), QStringLiteral("modificationDate")},
        {QStringLiteral("subject"), QStringLiteral("title")}};
    auto r = STRecord::record();
    r->setType(QStringLiteral("notes"));
    r->setIdentifier(calendarstore::recordIdentifier(d));
    for (auto it = d.cbegin(); it != d.cend(); ++it) {
        const auto field = fields.constFind(it.key());
        if (field == fields.cend()) continue;
        if (!it.key().startsWith(QLatin1String("date"))) {
            r->setValue(it.value(), *field);
        } else if (calendarstore::stDateValue(it.value()).isValid()) {
            calendarstore::setDateField(*r, *field, it.value());
        } else {
            VtrDebugLog(QStringLiteral("Record field \"%1\" (%2) is not a valid date object (class=\"%3\").")
                            .arg(it.key(), it.value().toString(), QString::fromLatin1(it.value().typeName())));
        }
    }
    r->setValue(QStringList{QStringLiteral("Unfiled")}, QStringLiteral("categories"));
    return r;
}

void NoteDatabase::createDatabase()
{
    reportNow(QStringLiteral("Collecting notes information..."), vtrphase::Notes, 0.05);
    ExportFile file(QStringLiteral("sl_notes.json"));
    m_recordCount = 0;
    m_containerCount = 0;
    QVariantList snapshot = readStore("Could not access note data.", [this] { return syncSessionForSnapshot(); });
    const qsizetype n = snapshot.size();
    const QVariantMap mapping{{mappingEntityKey(), entity::Note}};
    for (qsizetype i = 0; i < n; ++i) {
        const STRecordPtr record = convertOrSkip(
            snapshot.at(i).toMap(), [&](const QVariantMap &d) { return convertSyncRecordToSTRecord(d, mapping); });
        const auto json = record ? jsonOrSkip(*record, JSONNoteRecordFromSTRecord) : std::nullopt;
        if (!json || !file.writeLine(QStringLiteral("notes"), *json)) continue;
        ++m_recordCount;
        report(vtrLocalized("Collected %1 note records...").arg(m_recordCount), vtrphase::Notes,
               double(i) / double(n) * 0.95 + 0.05);
    }
    m_dataSize = file.finish(*this, QStringLiteral("Copying notes to device..."), vtrphase::Notes,
                             QStringLiteral("Notes file does not exist."));
}

QVariantMap NoteDatabase::manifestInfo() const
{
    return manifestWith("sl_notes.json", "note_cnt", "Note", "Notes");
}
