#include "pim/EventDatabase.h"

#include "foundation/Json.h"
#include "foundation/Log.h"
#include "foundation/MigrationStatus.h"
#include "foundation/VtrCalendarDate.h"
#include "foundation/VtrDate.h"
#include "fileinfo/VtrMacFileInfo.h"
#include "pim/CalendarStoreRecords.h"
#include "pim/PIMDatabaseDelegate.h"
#include "pim/dialect/CompanionFile.h"
#include "pim/dialect/STRecordAndroid.h"
#include "pim/records/RecurrenceExpansion.h"
#include "pim/records/STDate.h"
#include "pim/records/STRecurrence.h"
#include "platform/Strings.h"

#include <QBuffer>
#include <QFile>

#include <functional>
#include <utility>


using namespace syncstore;
using namespace calendarstore;

namespace {

const QString kUid = QStringLiteral("uid");

QString weekdayCode(const QString &name)
{
    static const QHash<QString, QString> codes = {
        {QStringLiteral("monday"), QStringLiteral("mo")},   {QStringLiteral("tuesday"), QStringLiteral("tu")},
        {QStringLiteral("wednesday"), QStringLiteral("we")}, {QStringLiteral("thursday"), QStringLiteral("th")},
        {QStringLiteral("friday"), QStringLiteral("fr")},   {QStringLiteral("saturday"), QStringLiteral("sa")},
        {QStringLiteral("sunday"), QStringLiteral("su")}};
    return codes.value(name, QStringLiteral("su"));
}

bool nonEmpty(const QVariant &v)
{
    if (!v.isValid() || vtr::isJsonNull(v)) return false;
    if (v.typeId() == QMetaType::QVariantList || v.typeId() == QMetaType::QStringList) return !v.toList().isEmpty();
    return true;
}

bool isAllDay(const QVariant &v) { return v.isValid() && v.toInt() == 1; }

// Fourteen digits "yyyyMMddHHmmss" read in `in`, written "yyyy-MM-ddTHH:mm:ss+hhmm"
// in `out`; empty when they are no date. (Read and written by hand: the
// locale's date parser asks the C library for local times, which stats the
// system zone's file on every call, and a reader writes two per event.)
QString liveTime(const QString &digits, const QTimeZone &in, const QTimeZone &out)
{
    int n[6] = {};
    static const int widths[6] = {4, 2, 2, 2, 2, 2};
    for (int i = 0, at = 0; i < 6; at += widths[i++]) {
        for (int k = at; k < at + widths[i]; ++k) {
            const QChar c = digits.at(k);
            if (c < u'0' || c > u'9') return QString();
            n[i] = n[i] * 10 + (c.unicode() - u'0');
        }
    }
    const QDate day(n[0], n[1], n[2]);
    if (!day.isValid() || !QTime(n[3], n[4], n[5]).isValid()) return QString();
    constexpr qint64 kUnixEpochJulianDay = 2440588;
    const qint64 secs =
        in == vtr::utcTimeZone()
            ? (day.toJulianDay() - kUnixEpochJulianDay) * 86400 + n[3] * 3600 + n[4] * 60 + n[5]
            : VtrCalendarDate::fromComponents(n[0], n[1], n[2], n[3], n[4], n[5], in).secsSinceEpoch();
    const int offset = VtrCalendarDate(QDateTime::fromSecsSinceEpoch(secs, Qt::UTC), out).offsetFromUtc();
    const qint64 local = secs + offset;
    const qint64 days = local >= 0 ? local / 86400 : (local - 86399) / 86400;
    const qint64 inDay = local - days * 86400;
    int y = 0, m = 0, d = 0;
    QDate::fromJulianDay(days + kUnixEpochJulianDay).getDate(&y, &m, &d);
    if (y < 0 || y > 9999) return QString();
    char16_t text[24];
    int at = 0;
    auto put = [&](qint64 v, int width) {
        for (int k = width - 1; k >= 0; --k, v /= 10) text[at + k] = char16_t(u'0' + v % 10);
        at += width;
    };
    const int a = std::abs(offset);
    put(y, 4), text[at++] = u'-', put(m, 2), text[at++] = u'-', put(d, 2), text[at++] = u'T';
    put(inDay / 3600, 2), text[at++] = u':', put(inDay / 60 % 60, 2), text[at++] = u':', put(inDay % 60, 2);
    text[at++] = offset < 0 ? u'-' : u'+';
    put(a / 3600, 2), put(a / 60 % 60, 2);
    return QString(reinterpret_cast<const QChar *>(text), at);
}

// Whether a rule may give occurrences at other times of day than its start's.
bool timesOfDayVary(const QVariantMap &recurrence)
{
    static const QStringList subDaily{QStringLiteral("hourly"), QStringLiteral("minutely"), QStringLiteral("secondly")};
    return subDaily.contains(recurrence.value(QStringLiteral("frequency")).toString().toLower())
           || nonEmpty(recurrence.value(QStringLiteral("byhour"))) || nonEmpty(recurrence.value(QStringLiteral("byminute")))
           || nonEmpty(recurrence.value(QStringLiteral("bysecond")));
}

// The end of a series as exported: for an all-day event its day at 00:00 in
// the start's zone; for one a day at the start's time of day, that time on the
// until's day (or the day before, when the until comes earlier in its day, so
// that no occurrence is added); otherwise the instant itself.
VtrCalendarDate untilForExport(const VtrCalendarDate &until, const VtrCalendarDate &start, bool allDay,
                               const QVariantMap &recurrence)
{
    const QTimeZone zone = start.isNull() ? until.timeZone() : start.timeZone();
    VtrCalendarDate shown = until;
    shown.setTimeZone(zone);
    if (allDay || start.isNull())
        return VtrCalendarDate::fromComponents(shown.yearOfCommonEra(), shown.monthOfYear(), shown.dayOfMonth(), 0, 0, 0, zone);
    if (timesOfDayVary(recurrence)) return until.utcDate();
    auto atStartTime = [&](int dayOffset) {
        return VtrCalendarDate::fromComponents(shown.yearOfCommonEra(), shown.monthOfYear(), shown.dayOfMonth() + dayOffset,
                                               start.hourOfDay(), start.minuteOfHour(), start.secondOfMinute(), zone);
    };
    VtrCalendarDate built = atStartTime(0);
    if (built.secsSinceEpoch() > until.secsSinceEpoch()) built = atStartTime(-1);
    return built.utcDate();
}

}  // namespace

QString EventDatabase::clientIdentifier() const { return QStringLiteral("%1.events").arg(bundleIdentifier()); }
QString EventDatabase::clientDescriptionPath() const { return QStringLiteral(":/pim/EventsSyncClientDescription.json"); }
QList<QUrl> EventDatabase::schemaBundleURLs() const
{
    return {QUrl::fromLocalFile(QStringLiteral("/System/Library/SyncServices/Schemas/Calendars.syncschema"))};
}
QStringList EventDatabase::entityNamesToSync() const
{
    return {entity::Event, entity::Calendar, entity::MailAlarm, entity::AudioAlarm, entity::DisplayAlarm, entity::Recurrence};
}

QVariantList EventDatabase::calendarArrayAll() { return calendarstore::calendarArrayAll(snapshotRecords(entity::Calendar)); }

QVariantList EventDatabase::syncSessionForSnapshot()
{
    std::unique_ptr<SyncRecordSnapshot> snapshot;
    QVariantList out;
    for (const SyncRecordEntry &e : snapshotRecords(entity::Event, &snapshot)) {
        const QVariantMap &r = e.record;
        QVariantMap d{{kUid, e.identifier}};
        static const QString copied[] = {QStringLiteral("summary"),        QStringLiteral("description"),
                                         QStringLiteral("location"),       QStringLiteral("status"),
                                         QStringLiteral("classification"), QStringLiteral("all day"),
                                         QStringLiteral("start date"),     QStringLiteral("end date"),
                                         QStringLiteral("exception dates"), QStringLiteral("original date")};
        for (const QString &k : copied) {
            const auto it = r.constFind(k);
            if (it != r.cend()) d.insert(k, *it);
        }
        if (d.contains(QStringLiteral("summary")))
            d.insert(QStringLiteral("summary"), stLeftCharacters(d.value(QStringLiteral("summary")).toString(), 1024));
        const QStringList main = r.value(QStringLiteral("main event")).toStringList();
        if (!main.isEmpty()) d.insert(QStringLiteral("main event"), main.first());
        if (r.contains(QStringLiteral("detached events"))) d.insert(QStringLiteral("detached dates"), r.value(QStringLiteral("detached events")));
        const QStringList recurrenceIds = r.value(QStringLiteral("recurrences")).toStringList();
        const QVariantList recurrences = relatedCopies(*snapshot, recurrenceIds);
        if (!recurrences.isEmpty()) d.insert(QStringLiteral("recurrences"), recurrences);
        if (!recurrenceIds.isEmpty()) d.insert(QStringLiteral("recurrence_ids"), recurrenceIds);
        addAlarms(*snapshot, r, d);
        const QStringList calendar = r.value(QStringLiteral("calendar")).toStringList();
        if (!calendar.isEmpty()) d.insert(QStringLiteral("x-ms-calendar-id"), calendar.first());
        out.append(d);
    }
    return out;
}

STRecordPtr EventDatabase::convertSyncRecordToSTRecord(const QVariantMap &record, const QVariantMap &mapping,
                                                       const QVariantMap &additionalRecord)
{
    const QString name = mapping.value(mappingEntityKey()).toString();
    if (name == entity::Event) return convertEventSyncRecordToSTRecord(record, mapping);
    if (name == entity::Recurrence) return convertRecurrenceSyncRecordToSTRecord(record, mapping, additionalRecord);
    if (name == entity::AudioAlarm || name == entity::DisplayAlarm) return alarmRecord(record);
    if (name == entity::Calendar) return calendarRecord(record);
    return nullptr;
}

STRecordPtr EventDatabase::convertEventSyncRecordToSTRecord(const QVariantMap &d, const QVariantMap &)
{
    static const QHash<QString, QString> plain = {
        {QStringLiteral("description"), QStringLiteral("description")}, {QStringLiteral("location"), QStringLiteral("location")},
        {QStringLiteral("status"), QStringLiteral("status")},           {QStringLiteral("summary"), QStringLiteral("summary")},
        {QStringLiteral("classification"), QStringLiteral("class")},    {QStringLiteral("all day"), QStringLiteral("x-ms-all-day")},
        {QStringLiteral("uid"), QStringLiteral("uid")},                 {QStringLiteral("main event"), QStringLiteral("parent")},
        {QStringLiteral("extra_device_fields"), QStringLiteral("extra_device_fields")}};
    static const QHash<QString, QString> dates = {{QStringLiteral("start date"), QStringLiteral("dtstart")},
                                                  {QStringLiteral("end date"), QStringLiteral("dtend")},
                                                  {QStringLiteral("original date"), QStringLiteral("recurrence-id")}};
    auto r = STRecord::record();
    r->setType(QStringLiteral("vevent"));
    r->setIdentifier(recordIdentifier(d));
    for (auto it = d.cbegin(); it != d.cend(); ++it) {
        if (plain.contains(it.key())) {
            r->setValue(it.value(), plain.value(it.key()));
        } else if (dates.contains(it.key())) {
            setDateField(*r, dates.value(it.key()), it.value());
        } else if (it.key() == QLatin1String("exception dates")) {
            const bool allDay = isAllDay(r->valueForFieldOfType(QStringLiteral("x-ms-all-day")));
            QList<STDate> seen;
            QVariantList out;
            for (const QVariant &v : it.value().toList()) {
                VtrCalendarDate c = calendarDate(v);
                if (c.isNull()) continue;
                if (allDay) c = c.stDateIgnoringTime();
                const STDate s = STDate::dateWithCalendarDate(c);
                if (seen.contains(s)) continue;
                seen.append(s);
                out.append(QVariant::fromValue(s));
            }
            r->setValue(out, QStringLiteral("exdate"));
            r->fieldOfType(QStringLiteral("exdate")).setValueClass(QMetaType::fromType<QVariantList>());
        }
    }
    if (isAllDay(r->valueForFieldOfType(QStringLiteral("x-ms-all-day")))) {
        const VtrCalendarDate start = calendarDate(r->valueForFieldOfType(QStringLiteral("dtstart")));
        const VtrCalendarDate end = calendarDate(r->valueForFieldOfType(QStringLiteral("dtend")));
        for (const auto &[field, date] : {std::pair{QStringLiteral("dtstart"), start}, {QStringLiteral("dtend"), end}}) {
            if (date.isNull()) continue;
            STDate dateOnly = STDate::dateWithCalendarDate(date.stDateIgnoringTime());
            dateOnly.setIsDateOnly(true);
            r->setValue(QVariant::fromValue(dateOnly), field);
        }
        if (!start.isNull() && !end.isNull())
            r->setValue(QString::number((end.stDateIgnoringTime().secsSinceEpoch() - start.stDateIgnoringTime().secsSinceEpoch()) / 86400),
                        QStringLiteral("x-ms-all-day-duration"));
    }
    return r;
}

STRecordPtr EventDatabase::convertRecurrenceSyncRecordToSTRecord(const QVariantMap &d, const QVariantMap &,
                                                                 const QVariantMap &event)
{
    const VtrCalendarDate start = calendarDate(event.value(QStringLiteral("start date")));
    const bool allDay = isAllDay(event.value(QStringLiteral("all day")));
    auto r = STRecord::record();
    r->setType(QStringLiteral("recur"));
    r->setIdentifier(recordIdentifier(d));
    for (auto it = d.cbegin(); it != d.cend(); ++it) {
        const QString &key = it.key();
        const QVariant &v = it.value();
        if (key == QLatin1String("frequency")) {
            r->setValue(v, QStringLiteral("freq"));
        } else if (key == QLatin1String("until") || key == QLatin1String("deviceUntilDate")) {
            const VtrCalendarDate until = calendarDate(v);
            if (until.isNull()) continue;
            setDateField(*r, QStringLiteral("until"), QVariant::fromValue(untilForExport(until, start, allDay, d)));
        } else if (key == QLatin1String("count")) {
            if (v.toLongLong() != 0) r->setValue(QString::number(v.toLongLong()), key); // 0: the rule has none
        } else if (key == QLatin1String("interval")) {
            r->setValue(QString::number(v.toLongLong()), key);
        } else if (key == QLatin1String("bydaydays")) {
            const QVariantList freq = d.value(QStringLiteral("bydayfreq")).toList();
            if (freq.isEmpty()) continue;
            QVariantList byday;
            const QVariantList days = v.toList();
            for (qsizetype i = 0; i < days.size() && i < freq.size(); ++i)
                byday.append(QVariant::fromValue(STRecurrenceByDay::stRecurrenceByDayWithWeekday(
                    weekdayCode(days.at(i).toString()), freq.at(i).toInt())));
            r->setValue(byday, QStringLiteral("byday"));
        } else if (key == QLatin1String("weekstartday")) {
            r->setValue(weekdayCode(v.toString()), QStringLiteral("wkst"));
        } else if (key == QLatin1String("bymonthday") || key == QLatin1String("bymonth")) {
            if (nonEmpty(v)) r->setValue(v, key);
        } else if (key == QLatin1String("byweeknumber")) {
            if (nonEmpty(v)) r->setValue(v, QStringLiteral("byweekno"));
        } else if (key == QLatin1String("byyearday") || key == QLatin1String("bysetpos") || key == QLatin1String("byhour")
                   || key == QLatin1String("byminute") || key == QLatin1String("bysecond")) {
            r->setValue(v, key);
        }
    }
    return r;
}

void EventDatabase::processRecurrenceForSyncRecord(const QVariantMap &event, STRecord &record)
{
    const QVariantList recurrences = event.value(QStringLiteral("recurrences")).toList();
    if (!recurrences.isEmpty()) {
        QVariantMap rec = recurrences.first().toMap();
        const qint64 count = rec.value(QStringLiteral("count")).toLongLong();
        const VtrCalendarDate start = calendarDate(event.value(QStringLiteral("start date")));
        if (rec.contains(QStringLiteral("until")) || count != 0) {
            const RecurrenceExpansion expansion =
                lastRecurrence(rec, start, VtrCalendarDate(), calendarDate(rec.value(QStringLiteral("until"))));
            const QList<VtrCalendarDate> &dates = expansion.dates;
            if (!dates.isEmpty()) rec.insert(QStringLiteral("last recurrence"), QVariant::fromValue(dates.last()));
            // A count becomes the date of the last occurrence only when the
            // expansion read every part of the rule; otherwise the count stays.
            if (count != 0 && !dates.isEmpty() && expansion.complete) {
                const VtrCalendarDate last = dates.last();
                // A timed series ends at its last occurrence itself: the end of
                // its day would let a rule with several times a day run on.
                const QVariant until = QVariant::fromValue(
                    isAllDay(event.value(QStringLiteral("all day")))
                        ? last.iCalDateIgnoringTime().lastSecondOfDayLocalTimeExpressedAsGMT()
                        : last);
                rec.insert(QStringLiteral("deviceUntilDate"), until);
                rec.insert(QStringLiteral("until"), until);
                rec.remove(QStringLiteral("count"));
            } else if (count == 0) {
                rec.remove(QStringLiteral("deviceUntilDate"));
            }
        }
        rec.insert(QStringLiteral("send_to_device"), true);
        rec.insert(QStringLiteral("start date"), event.value(QStringLiteral("start date")));
        if (event.contains(QStringLiteral("all day"))) rec.insert(QStringLiteral("all day"), event.value(QStringLiteral("all day")));
        const STRecordPtr recur =
            convertSyncRecordToSTRecord(rec, {{mappingEntityKey(), entity::Recurrence}}, event);
        if (recur) record.addRecord(recur, QStringLiteral("recur"));
    }
    if (event.contains(QStringLiteral("main event")))
        record.setValue(event.value(QStringLiteral("main event")), QStringLiteral("device_parent_record_id"));
}

void EventDatabase::processAlarmsForSyncRecord(const QVariantMap &event, STRecord &record)
{
    for (const QVariant &v : event.value(QStringLiteral("alarms")).toList()) {
        const QVariantMap alarm = v.toMap();
        if (alarm.contains(QStringLiteral("triggerdate")) || !alarm.contains(QStringLiteral("triggerduration")) ||
            alarm.value(QStringLiteral("triggerduration")).toDouble() >= 0)
            continue;
        const STRecordPtr a = convertSyncRecordToSTRecord(alarm, {{mappingEntityKey(), entity::AudioAlarm}});
        if (a) record.addRecord(a, QStringLiteral("valarms"));
    }
}

void EventDatabase::events(QVariantList &events, QVariantList &calendars)
{
    reportNow(QStringLiteral("Collecting events information..."), vtrphase::Events, 0.05);
    events.clear();
    calendars.clear();
    m_recordCount = 0;
    m_containerCount = 0;

    QVariantList calendarDicts = readStore("Could not access calendar data.", [this] { return calendarArrayAll(); });
    for (const QVariant &v : std::as_const(calendarDicts)) {
        const QVariantMap dict = v.toMap();
        // A list of to-dos only would become an empty calendar of the new phone.
        if (dict.value(QStringLiteral("type")).toString() == QLatin1String("tasks")) continue;
        try {
            const STRecordPtr record = convertSyncRecordToSTRecord(dict, {{mappingEntityKey(), entity::Calendar}});
            QVariantMap json = JSONCalendarRecordFromSTRecord(*record);
            json.insert(kUid, record->identifier());
            calendars.append(json);
            ++m_containerCount;
        } catch (const std::exception &) {
            logSkipped(dict);
        }
    }

    QVariantList pass = readStore("Could not access event data.", [this] { return syncSessionForSnapshot(); });
    const QVariantMap eventMapping{{mappingEntityKey(), entity::Event}};
    for (int passNumber = 1; passNumber <= 2; ++passNumber) {
        QVariantList setAside;
        const qsizetype total = pass.size();
        for (qsizetype handled = 0; handled < total; ++handled) {
            const QVariantMap dict = pass.at(handled).toMap();
            if (passNumber == 1 && dict.contains(QStringLiteral("main event"))) {
                setAside.append(dict);
                continue;
            }
            const STRecordPtr record =
                convertOrSkip(dict, [&](const QVariantMap &d) { return convertSyncRecordToSTRecord(d, eventMapping); });
            if (record) {
                try {
                    processRecurrenceForSyncRecord(dict, *record);
                } catch (const std::exception &) {
                    VtrDebugLog(QStringLiteral("Recurrences for record %1 will not be transferred to your device due to an error in their format.")
                                    .arg(dict.value(QStringLiteral("uid")).toString()));
                }
                try {
                    processAlarmsForSyncRecord(dict, *record);
                } catch (const std::exception &) {
                    VtrDebugLog(QStringLiteral("Alarms for record %1 will not be transferred to your device due to an error in their format.")
                                    .arg(dict.value(QStringLiteral("uid")).toString()));
                }
                if (dict.contains(QStringLiteral("x-ms-calendar-id")))
                    record->setValue(dict.value(QStringLiteral("x-ms-calendar-id")), QStringLiteral("x-ms-calendar-id"));
                if (auto json = jsonOrSkip(*record, JSONEventRecordFromSTRecord)) {
                    json->insert(kUid, record->valueForFieldOfType(kUid));
                    events.append(*json);
                    ++m_recordCount;
                }
            }
            report(vtrLocalized("Collected %1 event records...").arg(m_recordCount), vtrphase::Events,
                   0.05 + 0.95 * double(handled) / double(total));
        }
        pass = setAside;
    }
}

void EventDatabase::createDatabase()
{
    QVariantList eventRecords, calendarRecords;
    events(eventRecords, calendarRecords);
    if (targetIsWindowsPhone()) {
        QVariantMap calendars = convertCalendarsToWindowsLive(calendarRecords);
        const QVariantList bodies = convertEventsToWindowsLive(eventRecords, calendars);
        if (delegate()) delegate()->stowCalendars(bodies);
        return;
    }
    ExportFile file(QStringLiteral("sl_events.json"));
    for (const QVariant &c : std::as_const(calendarRecords)) file.writeLine(QStringLiteral("calendars"), c.toMap());
    for (const QVariant &e : std::as_const(eventRecords)) file.writeLine(QStringLiteral("events"), e.toMap());
    m_dataSize = file.finish(*this, QStringLiteral("Copying events to device..."), vtrphase::Events,
                             QStringLiteral("Events file does not exist."));
}

QVariantMap EventDatabase::manifestInfo() const
{
    QVariantMap m = manifestWith("sl_events.json", "event_cnt", "Event", "Events");
    m.insert(QStringLiteral("calendar_cnt"), m_containerCount);
    m.insert(QStringLiteral("calendar_title"), vtrLocalized(m_containerCount == 1 ? "Calendar" : "Calendars"));
    return m;
}

// ---- Windows Live bodies ---------------------------------------------------------

QVariantMap EventDatabase::convertCalendarsToWindowsLive(const QVariantList &calendars) const
{
    QVariantMap out;
    for (const QVariant &v : calendars) {
        const QVariantMap c = v.toMap();
        const QString id = c.value(c.contains(QStringLiteral("id")) ? QStringLiteral("id") : kUid).toString();
        const QString name = c.value(QStringLiteral("x-wr-calname")).toString();
        if (!id.isEmpty() && !name.isEmpty()) out.insert(id, QVariantMap{{QStringLiteral("name"), name}});
    }
    return out;
}

namespace {

// The Windows Live body of one JSON event record (its calendar aside).
QVariantMap eventBody(const QVariantMap &e, const QTimeZone &gmt, const QTimeZone &local)
{
    QVariantMap body;
    const QString summary = e.value(QStringLiteral("summary")).toString();
    if (!summary.isEmpty()) {
        body.insert(QStringLiteral("name"), stLeftCharacters(summary, 255));
        body.insert(QStringLiteral("description"), stLeftCharacters(summary, 32767));
    }
    const QString description = e.value(QStringLiteral("description")).toString();
    if (!description.isEmpty()) {
        if (!body.contains(QStringLiteral("description")) ||
            body.value(QStringLiteral("name")) == body.value(QStringLiteral("description")))
            body.insert(QStringLiteral("description"), description);
        else
            body.insert(QStringLiteral("description"),
                        body.value(QStringLiteral("description")).toString() + QLatin1Char(' ') + description);
    }
    if (e.contains(QStringLiteral("location"))) body.insert(QStringLiteral("location"), e.value(QStringLiteral("location")));
    const QVariant allDayValue = e.value(QStringLiteral("x-ms-all-day"));
    const bool allDay = allDayValue.typeId() == QMetaType::QString ? allDayValue.toString() == QLatin1String("TRUE")
                                                                     : (allDayValue.isValid() && allDayValue.toInt() == 1);
    if (allDay) body.insert(QStringLiteral("is_all_day_event"), true);
    static const std::pair<QString, QString> times[] = {{QStringLiteral("dtstart"), QStringLiteral("start_time")},
                                                        {QStringLiteral("dtend"), QStringLiteral("end_time")}};
    for (const auto &[from, to] : times) {
        const QString text = e.value(from).toString();
        if (text.size() != 14) continue;
        const QString shown = liveTime(text, allDay ? local : gmt, local);
        if (!shown.isEmpty()) body.insert(to, shown);
    }
    for (const QVariant &a : e.value(QStringLiteral("valarms")).toList()) {
        const QVariantMap alarm = a.toMap();
        if (alarm.contains(QStringLiteral("x-ms-trigger-type")) &&
            alarm.value(QStringLiteral("x-ms-trigger-type")).toString() != QLatin1String("x-seconds-offset"))
            continue;
        bool ok = false;
        const double trigger = alarm.value(QStringLiteral("trigger")).toDouble(&ok);
        if (alarm.contains(QStringLiteral("trigger")) && ok && trigger <= 0) {
            body.insert(QStringLiteral("reminder_time"), trigger / -60.0);
            break;
        }
    }
    return body;
}

// The calendar bodies with their events (by calendar identifier, each list in
// the order read); a calendar that `calendars` does not name gets a body
// named "Unnamed Device Calendar <id>". Each calendar's events are gathered
// first and set once: appending to the list inside the calendar would copy it
// for every event.
QVariantList withEvents(QVariantMap &calendars, const QStringList &order, QHash<QString, QVariantList> &eventsOf)
{
    for (const QString &calendarId : order) {
        QString key = calendarId;
        if (!calendars.contains(key)) {
            key = vtrLocalized("Unnamed Device Calendar %1").arg(calendarId);
            if (!calendars.contains(key)) calendars.insert(key, QVariantMap{{QStringLiteral("name"), key}});
        }
        QVariantMap calendar = calendars.value(key).toMap();
        QVariantList list = calendar.value(QStringLiteral("events")).toList();
        QVariantList &more = eventsOf[calendarId];
        if (list.isEmpty())
            list = std::exchange(more, QVariantList());
        else
            list += std::exchange(more, QVariantList());
        calendar.insert(QStringLiteral("events"), list);
        calendars.insert(key, calendar);
    }
    return calendars.values();
}

// Gathers event bodies by calendar identifier; events without one have none.
struct EventsByCalendar
{
    QHash<QString, QVariantList> eventsOf;
    QStringList order; // calendar identifiers as first met

    void add(const QVariantMap &event, const std::function<QVariant(const QVariantMap &)> &keep, const QTimeZone &gmt,
             const QTimeZone &local)
    {
        const QString calendarId = event.value(QStringLiteral("x-ms-calendar-id")).toString();
        if (calendarId.isEmpty()) return;
        auto it = eventsOf.find(calendarId);
        if (it == eventsOf.end()) {
            it = eventsOf.insert(calendarId, {});
            order.append(calendarId);
        }
        it->append(keep(eventBody(event, gmt, local)));
    }
};

} // namespace

QVariantList EventDatabase::convertEventsToWindowsLive(const QVariantList &events, QVariantMap &calendars) const
{
    const QTimeZone gmt = vtr::utcTimeZone();
    const QTimeZone local = vtr::defaultTimeZone();
    EventsByCalendar gathered;
    const auto asIs = [](const QVariantMap &body) { return QVariant(body); };
    for (const QVariant &v : events) gathered.add(v.toMap(), asIs, gmt, local);
    return withEvents(calendars, gathered.order, gathered.eventsOf);
}

std::optional<QVariantList> EventDatabase::windowsLiveCalendarsAndEventsWithData(const QByteArray &data)
{
    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    return windowsLiveCalendarsAndEventsFromDevice(buffer, [](const QVariantMap &body) { return QVariant(body); });
}

std::optional<QVariantList> EventDatabase::windowsLiveCalendarsAndEventsFromFile(const VtrFileInfoPtr &file)
{
    return readCompanionFile(file, [this](QIODevice &f) {
        CompactJsonWriter compact;
        return windowsLiveCalendarsAndEventsFromDevice(f, compact);
    });
}

std::optional<QVariantList> EventDatabase::windowsLiveCalendarsAndEventsFromDevice(
    QIODevice &file, const std::function<QVariant(const QVariantMap &)> &keep)
{
    const QTimeZone gmt = vtr::utcTimeZone();
    const QTimeZone local = vtr::defaultTimeZone();
    m_recordCount = 0;
    m_containerCount = 0;
    QVariantList calendarRecords;
    EventsByCalendar gathered;
    // Each event becomes its body as it is read: the file is never held whole.
    const bool read = forEachCompanionLine(file, [&](int k, int count, const CompanionLine *line) {
        if (line && line->database == QLatin1String("calendars")) {
            calendarRecords.append(line->record);
            ++m_containerCount;
        } else if (line && line->database == QLatin1String("events")) {
            gathered.add(line->record, keep, gmt, local);
            ++m_recordCount;
        }
        report(QString(), vtrphase::Events, double(k) / double(count) / 3.0);
    });
    if (!read) return std::nullopt;
    QVariantMap calendars = convertCalendarsToWindowsLive(calendarRecords);
    report(QString(), vtrphase::Events, 2.0 / 3.0);
    const QVariantList bodies = withEvents(calendars, gathered.order, gathered.eventsOf);
    m_containerCount = qint32(bodies.size());
    report(QString(), vtrphase::Events, 1.0);
    return bodies;
}

std::optional<QVariantList> EventDatabase::windowsLiveCalendarsAndEvents(PIMDatabaseDelegate *delegate,
                                                                        std::shared_ptr<SyncManager> manager)
{
    EventDatabase db(delegate, std::move(manager));
    const auto client = db.registerClient();
    if (!client) return std::nullopt;
    SyncSession *session = db.initializeSession(client);
    if (!session) return std::nullopt;
    QVariantList eventRecords, calendarRecords;
    try {
        db.events(eventRecords, calendarRecords);
    } catch (...) {
        session->finishSyncing();
        throw;
    }
    QVariantMap calendars = db.convertCalendarsToWindowsLive(calendarRecords);
    const QVariantList bodies = db.convertEventsToWindowsLive(eventRecords, calendars);
    session->finishSyncing();
    return bodies;
}
