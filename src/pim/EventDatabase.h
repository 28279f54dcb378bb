#pragma once

#include "pim/PIMDatabase.h"
#include "fileinfo/VtrBaseFileInfo.h"
#include "pim/records/STRecord.h"

#include <QByteArray>
#include <QIODevice>
#include <QVariantList>

#include <functional>
#include <optional>

// The person's calendars and events (with recurrences and alarms): read from
// the store, turned into records and their JSON records; for a Windows Phone
// target handed to the delegate as Windows Live calendar bodies with their
// events nested (stowCalendars), for any other target written as
// "calendars" and "events" export lines into "sl_events.json". Also turns
// the Android companion app's calendar file into Windows Live bodies.
class EventDatabase : public PIMDatabase
{
public:
    using PIMDatabase::PIMDatabase;

    QString clientIdentifier() const override;
    QString clientDescriptionPath() const override;
    QList<QUrl> schemaBundleURLs() const override;
    QStringList entityNamesToSync() const override;

    void createDatabase() override;
    QVariantMap manifestInfo() const override;

    // Calendar dictionaries; empty (nil) when the store has none.
    QVariantList calendarArrayAll();
    // Event dictionaries, in the store's order; empty when none.
    QVariantList syncSessionForSnapshot();

    STRecordPtr convertSyncRecordToSTRecord(const QVariantMap &record, const QVariantMap &mapping,
                                            const QVariantMap &additionalRecord = {});
    STRecordPtr convertEventSyncRecordToSTRecord(const QVariantMap &record, const QVariantMap &mapping);
    STRecordPtr convertRecurrenceSyncRecordToSTRecord(const QVariantMap &record, const QVariantMap &mapping,
                                                      const QVariantMap &event);
    void processRecurrenceForSyncRecord(const QVariantMap &event, STRecord &record);
    void processAlarmsForSyncRecord(const QVariantMap &event, STRecord &record);

    // Gathers the JSON event and calendar records (detached occurrences after
    // every main event).
    void events(QVariantList &events, QVariantList &calendars);

    // ---- Windows Live bodies
    // Calendar identifier -> calendar body ({"name"}).
    QVariantMap convertCalendarsToWindowsLive(const QVariantList &calendars) const;
    // Adds each event's body to its calendar's "events" (an unknown calendar
    // gets a body named "Unnamed Device Calendar <id>"); answers the bodies.
    QVariantList convertEventsToWindowsLive(const QVariantList &events, QVariantMap &calendars) const;
    // The companion app's calendar file; nullopt when it is not UTF-8.
    std::optional<QVariantList> windowsLiveCalendarsAndEventsWithData(const QByteArray &data);
    // The same from the file on the phone (or on this computer), read one
    // line at a time, each event body held as its compact JSON text
    // (CompactJsonObject: toMap() gives the body): a file of any size needs
    // little more than its bodies' text. Throws a VtrException when the file
    // cannot be read.
    std::optional<QVariantList> windowsLiveCalendarsAndEventsFromFile(const VtrFileInfoPtr &file);
    // A whole dump's Live bodies from the store; nullopt when registration or
    // the session fails.
    static std::optional<QVariantList> windowsLiveCalendarsAndEvents(PIMDatabaseDelegate *delegate,
                                                                     std::shared_ptr<syncstore::SyncManager> manager = {});

private:
    // The calendar bodies of the lines of `file`, each event body kept as `keep` makes it.
    std::optional<QVariantList> windowsLiveCalendarsAndEventsFromDevice(
        QIODevice &file, const std::function<QVariant(const QVariantMap &)> &keep);
};
