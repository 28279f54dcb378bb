#include "pim/store/ICalRecords.h"
#include "pim/store/ICalZones.h"

#include "foundation/Log.h"
#include "foundation/VtrCalendarDate.h"

#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QTimeZone>
#include <QUrl>

#include <libical/ical.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace syncstore {

QString storeWeekdayName(int icalWeekday)
{
    static const char *const names[] = {"sunday", "monday", "tuesday", "wednesday", "thursday", "friday", "saturday"};
    return icalWeekday >= 1 && icalWeekday <= 7 ? QLatin1String(names[icalWeekday - 1]) : QString();
}

namespace {

const char *const kAlarmRelationships[3] = {"display alarms", "mail alarms", "audio alarms"};
const QString *const kAlarmEntities[3] = {&entity::DisplayAlarm, &entity::MailAlarm, &entity::AudioAlarm};

// Qt reads a name it finds no zone file for as a POSIX rule, and takes any
// word of three letters or more for one: "Custom" or "Eastern" would be a
// zone without any offset. A name is a zone here when Qt lists it or a zone
// file has it; otherwise the file's VTIMEZONE decides.
bool isZoneName(const QByteArray &id)
{
    if (QTimeZone::isTimeZoneIdAvailable(id)) return true;
    if (id.startsWith('/') || id.contains("..")) return false;
    const QString name = QFile::decodeName(id);
    for (const QString &dir : {qEnvironmentVariable("TZDIR"), QStringLiteral("/usr/share/zoneinfo"),
                               QStringLiteral("/usr/lib/zoneinfo")})
        if (!dir.isEmpty() && QFileInfo(dir + QLatin1Char('/') + name).isFile()) return true;
    return false;
}

QTimeZone lookUpZone(const QString &tzid)
{
    QString id = tzid.trimmed();
    // Prefixes some calendar programs put before Olson names.
    for (const char *prefix : {"/freeassociation.sourceforge.net/Tzfile/", "/freeassociation.sourceforge.net/",
                               "/mozilla.org/20050126_1/", "/mozilla.org/20070129_1/", "/citadel.org/20190914_1/"}) {
        if (id.startsWith(QLatin1String(prefix))) id = id.mid(int(strlen(prefix)));
    }
    if (id.isEmpty()) return {};
    if (isZoneName(id.toUtf8())) {
        QTimeZone zone(id.toUtf8());
        if (zone.isValid()) return zone;
    }
    const QByteArray iana = QTimeZone::windowsIdToDefaultIanaId(id.toUtf8());
    return iana.isEmpty() ? QTimeZone() : QTimeZone(iana);
}

// Zones looked up once per name: every date of every item names one.
QTimeZone zoneForTzid(const char *tzid)
{
    thread_local QHash<QByteArray, QTimeZone> zones;
    const QByteArray key(tzid);
    const auto it = zones.constFind(key);
    if (it != zones.cend()) return *it;
    if (zones.size() > 512) zones.clear();
    const QTimeZone zone = lookUpZone(QString::fromUtf8(key));
    zones.insert(key, zone);
    return zone;
}

QString text(const char *s) { return s ? QString::fromUtf8(s).trimmed() : QString(); }

}  // namespace

// The times of one file (or of one calendar of a file of several).
class TimeReader
{
public:
    // `steps`: what is left of the share of the file `top` was read from for
    // reading its zones (VTimezoneYears).
    TimeReader(icalcomponent *top, double &steps) : m_top(top), m_zones(steps) {}
    // Times without a calendar around them: no zones of a file, the share
    // of an empty one for libical's own.
    TimeReader() : m_top(nullptr), m_zones(m_noSteps) {}

    // A date or date-time value of `prop`, as a calendar date; null when none.
    VtrCalendarDate read(icalproperty *prop, icaltimetype t, bool *dateOnly = nullptr) const
    {
        if (dateOnly) *dateOnly = t.is_date;
        if (icaltime_is_null_time(t) || !icaltime_is_valid_time(t)) return {};
        if (t.is_date) return VtrCalendarDate::fromComponents(t.year, t.month, t.day, 0, 0, 0, vtr::defaultTimeZone());
        if (icaltime_is_utc(t))
            return VtrCalendarDate::fromComponents(t.year, t.month, t.day, t.hour, t.minute, t.second,
                                                   vtr::utcTimeZone());
        icalparameter *p = prop ? icalproperty_get_first_parameter(prop, ICAL_TZID_PARAMETER) : nullptr;
        const char *tzid = p ? icalparameter_get_tzid(p) : nullptr;
        if (!tzid) return floating(t);
        const QTimeZone zone = zoneForTzid(tzid);
        if (zone.isValid()) return VtrCalendarDate::fromComponents(t.year, t.month, t.day, t.hour, t.minute, t.second, zone);
        icaltimezone *z = m_top ? icalcomponent_get_timezone(m_top, tzid) : nullptr;
        const bool ofFile = z != nullptr;
        if (!z) z = icaltimezone_get_builtin_timezone_from_tzid(tzid);
        if (!z) z = icaltimezone_get_builtin_timezone(tzid);
        if (!z) return floating(t);
        // The file's rules give the instant, and a zone with the same
        // offsets the later occurrences of a series.
        const std::optional<VTimezoneYears::Time> time = m_zones.read(z, t, ofFile);
        if (!time || !time->matched) note(tzid, time.has_value());
        if (!time) return floating(t);
        return VtrCalendarDate(QDateTime::fromSecsSinceEpoch(time->utc, Qt::UTC), time->zone);
    }

    VtrCalendarDate read(icalproperty *prop, bool *dateOnly = nullptr) const
    {
        if (!prop) return {};
        return read(prop, icalvalue_get_datetime(icalproperty_get_value(prop)), dateOnly);
    }

private:
    // Once for each zone of the file and way of reading it.
    void note(const char *tzid, bool atInstant) const
    {
        const QByteArray key = QByteArray(atInstant ? "+" : "-") + tzid;
        if (m_noted.contains(key)) return;
        m_noted.insert(key);
        VTR_LOG(1, atInstant ? QStringLiteral("The times of zone \"%1\" are read with the offset at each time only: "
                                              "its calendar holds more zones and years than are matched for its size")
                                   .arg(QString::fromUtf8(tzid))
                             : QStringLiteral("The times of zone \"%1\" are read as floating times: working out "
                                              "its rules would take longer than its calendar's size allows")
                                   .arg(QString::fromUtf8(tzid)));
    }
    static VtrCalendarDate floating(icaltimetype t)
    {
        return VtrCalendarDate::fromComponents(t.year, t.month, t.day, t.hour, t.minute, t.second,
                                               vtr::defaultTimeZone());
    }
    icalcomponent *m_top;
    double m_noSteps = VTimezoneYears::stepsForFile(0);
    // Kept for the whole file: its zones are read once per decade and year.
    mutable VTimezoneYears m_zones;
    mutable QSet<QByteArray> m_noted;
};

namespace {

void setText(QVariantMap &m, const QString &key, const char *value)
{
    const QString t = text(value);
    if (!t.isEmpty()) m.insert(key, t);
}

void setDate(QVariantMap &m, const QString &key, const VtrCalendarDate &d)
{
    if (!d.isNull()) m.insert(key, QVariant::fromValue(d));
}

QVariantList numbers(const short *array, int size, bool monthEncoding = false)
{
    QVariantList out;
    for (int i = 0; i < size && array[i] != ICAL_RECURRENCE_ARRAY_MAX; ++i)
        out.append(monthEncoding ? int(icalrecurrencetype_month_month(array[i])) : int(array[i]));
    return out;
}

QVariantMap recurrenceRecord(const icalrecurrencetype &r, const VtrCalendarDate &start, const TimeReader &times)
{
    static const QHash<int, QString> freq = {
        {ICAL_SECONDLY_RECURRENCE, QStringLiteral("secondly")}, {ICAL_MINUTELY_RECURRENCE, QStringLiteral("minutely")},
        {ICAL_HOURLY_RECURRENCE, QStringLiteral("hourly")},     {ICAL_DAILY_RECURRENCE, QStringLiteral("daily")},
        {ICAL_WEEKLY_RECURRENCE, QStringLiteral("weekly")},     {ICAL_MONTHLY_RECURRENCE, QStringLiteral("monthly")},
        {ICAL_YEARLY_RECURRENCE, QStringLiteral("yearly")},
    };
    QVariantMap rec{{QStringLiteral("frequency"), freq.value(r.freq)},
                    {QStringLiteral("interval"), int(r.interval < 1 ? 1 : r.interval)}};
    // A rule without COUNT has none: a count of 0 would be written out as one.
    if (r.count > 0) rec.insert(QStringLiteral("count"), r.count);
    if (!icaltime_is_null_time(r.until)) {
        VtrCalendarDate until = times.read(nullptr, r.until);
        if (!r.until.is_date && !icaltime_is_utc(r.until) && !start.isNull())  // floating: the start's zone
            until = VtrCalendarDate::fromComponents(r.until.year, r.until.month, r.until.day, r.until.hour,
                                                    r.until.minute, r.until.second, start.timeZone());
        if (!start.isNull()) until.setTimeZone(start.timeZone());
        setDate(rec, QStringLiteral("until"), until);
    }
    QVariantList days, freqs;
    for (int i = 0; i < ICAL_BY_DAY_SIZE && r.by_day[i] != ICAL_RECURRENCE_ARRAY_MAX; ++i) {
        days.append(storeWeekdayName(icalrecurrencetype_day_day_of_week(r.by_day[i])));
        freqs.append(icalrecurrencetype_day_position(r.by_day[i]));
    }
    if (!days.isEmpty()) {
        rec.insert(QStringLiteral("bydaydays"), days);
        rec.insert(QStringLiteral("bydayfreq"), freqs);
    }
    const struct
    {
        const char *key;
        QVariantList list;
    } lists[] = {
        {"bymonth", numbers(r.by_month, ICAL_BY_MONTH_SIZE, true)},
        {"bymonthday", numbers(r.by_month_day, ICAL_BY_MONTHDAY_SIZE)},
        {"byyearday", numbers(r.by_year_day, ICAL_BY_YEARDAY_SIZE)},
        {"byweeknumber", numbers(r.by_week_no, ICAL_BY_WEEKNO_SIZE)},
        {"bysetpos", numbers(r.by_set_pos, ICAL_BY_SETPOS_SIZE)},
        {"byhour", numbers(r.by_hour, ICAL_BY_HOUR_SIZE)},
        {"byminute", numbers(r.by_minute, ICAL_BY_MINUTE_SIZE)},
        {"bysecond", numbers(r.by_second, ICAL_BY_SECOND_SIZE)},
    };
    for (const auto &l : lists)
        if (!l.list.isEmpty()) rec.insert(QLatin1String(l.key), l.list);
    if (r.week_start != ICAL_NO_WEEKDAY) rec.insert(QStringLiteral("weekstartday"), storeWeekdayName(r.week_start));
    return rec;
}

}  // namespace

QVariantMap recurrenceDictionaryFromRule(const QByteArray &rule, const VtrCalendarDate &start)
{
    icalerror_clear_errno();
    const icalrecurrencetype r = icalrecurrencetype_from_string(rule.constData());
    if (r.freq == ICAL_NO_RECURRENCE) return {};
    return recurrenceRecord(r, start, TimeReader());
}

namespace {

// The alarms of a component, by kind (display, mail, audio). Triggers
// relative to the end are turned into ones relative to the start.
void readAlarms(icalcomponent *comp, const TimeReader &times, qint64 startToEndSeconds, QList<QVariantMap> (&out)[3])
{
    for (icalcomponent *a = icalcomponent_get_first_component(comp, ICAL_VALARM_COMPONENT); a;
         a = icalcomponent_get_next_component(comp, ICAL_VALARM_COMPONENT)) {
        icalproperty *actionProp = icalcomponent_get_first_property(a, ICAL_ACTION_PROPERTY);
        icalproperty *triggerProp = icalcomponent_get_first_property(a, ICAL_TRIGGER_PROPERTY);
        if (!triggerProp) continue;
        const icalproperty_action action = actionProp ? icalproperty_get_action(actionProp) : ICAL_ACTION_DISPLAY;
        const int kind = action == ICAL_ACTION_EMAIL ? 1 : (action == ICAL_ACTION_DISPLAY ? 0 : 2);
        const icaltriggertype trigger = icalproperty_get_trigger(triggerProp);
        QVariantMap alarm;
        if (!icaltime_is_null_time(trigger.time)) {
            setDate(alarm, QStringLiteral("triggerdate"), times.read(triggerProp, trigger.time));
        } else {
            qint64 seconds = icaldurationtype_as_int(trigger.duration);
            icalparameter *rel = icalproperty_get_first_parameter(triggerProp, ICAL_RELATED_PARAMETER);
            if (rel && icalparameter_get_related(rel) == ICAL_RELATED_END) seconds += startToEndSeconds;
            alarm.insert(QStringLiteral("triggerduration"), seconds);
        }
        setText(alarm, QStringLiteral("summary"), icalcomponent_get_summary(a));
        setText(alarm, QStringLiteral("description"), icalcomponent_get_description(a));
        out[kind].append(alarm);
    }
}

QString lowerEnum(const char *s) { return text(s).toLower(); }

// Hands libical the text a line at a time, each piece at most as long as the
// parser's buffer. libical's own reader of a string looks for the line's end
// again for every piece, so one long line (an unfolded description of some
// megabytes, or a file with lone CRs) took time in the square of its length;
// here the end found is kept until the pieces reach it. As with a C string,
// the text ends at its first NUL.
struct LineFeeder
{
    const char *pos, *end;
    const char *lineEnd = nullptr; // one past the current line's '\n', or the text's end

    static char *next(char *out, size_t size, void *self)
    {
        auto &f = *static_cast<LineFeeder *>(self);
        if (f.pos >= f.end || size < 2) return nullptr;
        if (!f.lineEnd || f.lineEnd <= f.pos) {
            const auto *nl = static_cast<const char *>(memchr(f.pos, '\n', size_t(f.end - f.pos)));
            f.lineEnd = nl ? nl + 1 : f.end;
        }
        const size_t n = std::min(size_t(f.lineEnd - f.pos), size - 1);
        memcpy(out, f.pos, n);
        out[n] = 0;
        f.pos += n;
        return out;
    }
};

icalcomponent *parseICalendar(QByteArrayView text)
{
    const auto *nul = static_cast<const char *>(memchr(text.data(), 0, size_t(text.size())));
    LineFeeder feeder{text.data(), nul ? nul : text.data() + text.size()};
    std::unique_ptr<icalparser, decltype(&icalparser_free)> parser(icalparser_new(), &icalparser_free);
    if (!parser) return nullptr;
    icalparser_set_gen_data(parser.get(), &feeder);
    // Malformed data is no reason to stop, as libical's own string reading has it.
    const icalerrorstate malformed = icalerror_get_error_state(ICAL_MALFORMEDDATA_ERROR);
    icalerror_set_error_state(ICAL_MALFORMEDDATA_ERROR, ICAL_ERROR_NONFATAL);
    icalcomponent *top = icalparser_parse(parser.get(), &LineFeeder::next);
    icalerror_set_error_state(ICAL_MALFORMEDDATA_ERROR, malformed);
    return top;
}

}  // namespace

CalendarItemBuilder::CalendarItemBuilder(SyncRecordSink &sink, SyncDataKind kind, QString calendarId)
    : m_sink(sink), m_kind(kind), m_calendarId(std::move(calendarId))
{
}

bool CalendarItemBuilder::addICalendarText(const QByteArray &data, const QString &fallbackUid)
{
    QByteArrayView bytes(data);
    if (bytes.startsWith("\xEF\xBB\xBF")) bytes = bytes.sliced(3);
    std::unique_ptr<icalcomponent, decltype(&icalcomponent_free)> top(parseICalendar(bytes), &icalcomponent_free);
    if (!top) return false;
    const icalcomponent_kind kind = icalcomponent_isa(top.get());
    double zoneSteps = VTimezoneYears::stepsForFile(bytes.size()); // shared by the file's calendars
    if (kind == ICAL_VCALENDAR_COMPONENT) {
        const TimeReader times(top.get(), zoneSteps);
        for (icalcomponent *c = icalcomponent_get_first_component(top.get(), ICAL_ANY_COMPONENT); c;
             c = icalcomponent_get_next_component(top.get(), ICAL_ANY_COMPONENT))
            addComponent(c, times, fallbackUid);
        return true;
    }
    if (kind == ICAL_XROOT_COMPONENT) { // several calendars, or several bare items, in one file
        bool any = false;
        int n = 0;
        const TimeReader bare(top.get(), zoneSteps);
        for (icalcomponent *c = icalcomponent_get_first_component(top.get(), ICAL_ANY_COMPONENT); c;
             c = icalcomponent_get_next_component(top.get(), ICAL_ANY_COMPONENT)) {
            const icalcomponent_kind k = icalcomponent_isa(c);
            const QString uid = n++ ? fallbackUid + QLatin1Char('-') + QString::number(n - 1) : fallbackUid;
            if (k == ICAL_VCALENDAR_COMPONENT) {
                const TimeReader times(c, zoneSteps);
                for (icalcomponent *i = icalcomponent_get_first_component(c, ICAL_ANY_COMPONENT); i;
                     i = icalcomponent_get_next_component(c, ICAL_ANY_COMPONENT))
                    addComponent(i, times, uid);
                any = true;
            } else if (k == ICAL_VEVENT_COMPONENT || k == ICAL_VTODO_COMPONENT || k == ICAL_VJOURNAL_COMPONENT) {
                addComponent(c, bare, uid);
                any = true;
            }
        }
        return any;
    }
    if (kind == ICAL_VEVENT_COMPONENT || kind == ICAL_VTODO_COMPONENT || kind == ICAL_VJOURNAL_COMPONENT) {
        addComponent(top.get(), TimeReader(), fallbackUid);
        return true;
    }
    return false;
}

void CalendarItemBuilder::addComponent(void *component, const TimeReader &times, const QString &fallbackUid)
{
    auto *comp = static_cast<icalcomponent *>(component);
    const icalcomponent_kind kind = icalcomponent_isa(comp);
    const icalcomponent_kind wanted = m_kind == SyncDataKind::Events  ? ICAL_VEVENT_COMPONENT
                                      : m_kind == SyncDataKind::Tasks ? ICAL_VTODO_COMPONENT
                                      : m_kind == SyncDataKind::Notes ? ICAL_VJOURNAL_COMPONENT
                                                                      : ICAL_NO_COMPONENT;
    if (kind != wanted) return;
    QString uid = text(icalcomponent_get_uid(comp));
    if (uid.isEmpty()) uid = fallbackUid;

    QVariantMap r;
    setText(r, QStringLiteral("summary"), icalcomponent_get_summary(comp));
    setText(r, QStringLiteral("description"), icalcomponent_get_description(comp));
    if (icalproperty *p = icalcomponent_get_first_property(comp, ICAL_CLASS_PROPERTY))
        r.insert(QStringLiteral("classification"), lowerEnum(icalproperty_get_value_as_string(p)));

    if (m_kind == SyncDataKind::Notes) {
        QVariantMap n;
        setText(n, QStringLiteral("subject"), icalcomponent_get_summary(comp));
        setText(n, QStringLiteral("content"), icalcomponent_get_description(comp));
        n.insert(QStringLiteral("contentType"), QStringLiteral("text/plain"));
        for (icalproperty *p = icalcomponent_get_first_property(comp, ICAL_X_PROPERTY); p;
             p = icalcomponent_get_next_property(comp, ICAL_X_PROPERTY)) {
            icalparameter *fmt = icalproperty_get_first_parameter(p, ICAL_FMTTYPE_PARAMETER);
            if (text(icalproperty_get_x_name(p)) == QLatin1String("X-ALT-DESC") && fmt &&
                text(icalparameter_get_fmttype(fmt)).toLower() == QLatin1String("text/html")) {
                n.insert(QStringLiteral("content"), text(icalproperty_get_x(p)));
                n.insert(QStringLiteral("contentType"), QStringLiteral("text/html"));
            }
        }
        setDate(n, QStringLiteral("dateCreated"), times.read(icalcomponent_get_first_property(comp, ICAL_CREATED_PROPERTY)));
        setDate(n, QStringLiteral("dateModified"),
                times.read(icalcomponent_get_first_property(comp, ICAL_LASTMODIFIED_PROPERTY)));
        n.insert(QStringLiteral("noteID"), uid);
        m_sink.addRecord(m_sink.uniqueIdentifier(uid), entity::Note, n);
        ++m_items;
        return;
    }

    bool allDay = false;
    const VtrCalendarDate start = times.read(icalcomponent_get_first_property(comp, ICAL_DTSTART_PROPERTY), &allDay);
    setDate(r, QStringLiteral("start date"), start);
    r.insert(QStringLiteral("calendar"), QStringList{m_calendarId});
    Pending p;
    p.uid = uid;
    qint64 startToEnd = 0;

    if (m_kind == SyncDataKind::Tasks) {
        if (icalproperty *s = icalcomponent_get_first_property(comp, ICAL_STATUS_PROPERTY))
            r.insert(QStringLiteral("status"), lowerEnum(icalproperty_get_value_as_string(s)));
        if (icalproperty *u = icalcomponent_get_first_property(comp, ICAL_URL_PROPERTY))
            r.insert(QStringLiteral("url"), QUrl(text(icalproperty_get_url(u))));
        if (icalproperty *pr = icalcomponent_get_first_property(comp, ICAL_PRIORITY_PROPERTY))
            r.insert(QStringLiteral("priority"), icalproperty_get_priority(pr));
        bool dueDateOnly = false;
        const VtrCalendarDate due = times.read(icalcomponent_get_first_property(comp, ICAL_DUE_PROPERTY), &dueDateOnly);
        if (!due.isNull()) {
            r.insert(QStringLiteral("due date"), QVariant::fromValue(due));
            r.insert(QStringLiteral("due date is date only"), dueDateOnly);
            if (!start.isNull()) startToEnd = due.secsSinceEpoch() - start.secsSinceEpoch();
        }
        setDate(r, QStringLiteral("completion date"),
                times.read(icalcomponent_get_first_property(comp, ICAL_COMPLETED_PROPERTY)));
    } else {
        setText(r, QStringLiteral("location"), icalcomponent_get_location(comp));
        if (icalproperty *s = icalcomponent_get_first_property(comp, ICAL_STATUS_PROPERTY))
            r.insert(QStringLiteral("status"), lowerEnum(icalproperty_get_value_as_string(s)));
        r.insert(QStringLiteral("all day"), allDay ? 1 : 0);
        VtrCalendarDate end = times.read(icalcomponent_get_first_property(comp, ICAL_DTEND_PROPERTY));
        if (end.isNull() && !start.isNull()) {
            if (icalproperty *d = icalcomponent_get_first_property(comp, ICAL_DURATION_PROPERTY))
                end = VtrCalendarDate(start.instant().addSecs(icaldurationtype_as_int(icalproperty_get_duration(d))),
                                      start.timeZone());
            else
                end = allDay ? start.dateByAddingYears(0, 0, 1, 0, 0, 0) : start;
        }
        setDate(r, QStringLiteral("end date"), end);
        if (!start.isNull() && !end.isNull()) startToEnd = end.secsSinceEpoch() - start.secsSinceEpoch();
        QVariantList exdates;
        for (icalproperty *x = icalcomponent_get_first_property(comp, ICAL_EXDATE_PROPERTY); x;
             x = icalcomponent_get_next_property(comp, ICAL_EXDATE_PROPERTY)) {
            const VtrCalendarDate d = times.read(x, icalproperty_get_exdate(x));
            if (!d.isNull()) exdates.append(QVariant::fromValue(d));
        }
        if (!exdates.isEmpty()) r.insert(QStringLiteral("exception dates"), exdates);
        for (icalproperty *rr = icalcomponent_get_first_property(comp, ICAL_RRULE_PROPERTY); rr;
             rr = icalcomponent_get_next_property(comp, ICAL_RRULE_PROPERTY))
            p.recurrences.append(recurrenceRecord(icalproperty_get_rrule(rr), start, times));
        if (icalproperty *rid = icalcomponent_get_first_property(comp, ICAL_RECURRENCEID_PROPERTY)) {
            const VtrCalendarDate original = times.read(rid);
            setDate(r, QStringLiteral("original date"), original);
            p.wantedId = uid + QLatin1Char('/') + original.st2String();
        }
    }
    readAlarms(comp, times, startToEnd, p.alarms);
    p.record = r;
    if (p.wantedId.isEmpty()) {
        p.wantedId = uid;
        addEvent(p);
    } else {
        m_detached.append(p);
    }
}

void CalendarItemBuilder::addEvent(Pending &p)
{
    const QString id = m_sink.uniqueIdentifier(p.wantedId);
    if (m_kind == SyncDataKind::Events && !p.record.contains(QStringLiteral("original date")))
        m_mainIdForUid.insert(p.uid, id);
    QStringList recurrenceIds;
    for (qsizetype i = 0; i < p.recurrences.size(); ++i) {
        const QString rid = id + QStringLiteral("/recurrence/") + QString::number(i);
        QVariantMap rec = p.recurrences.at(i).toMap();
        rec.insert(QStringLiteral("owner"), QStringList{id});
        m_sink.addRecord(rid, entity::Recurrence, rec);
        recurrenceIds.append(rid);
    }
    if (!recurrenceIds.isEmpty()) p.record.insert(QStringLiteral("recurrences"), recurrenceIds);
    for (int k = 0; k < 3; ++k) {
        QStringList ids;
        for (qsizetype i = 0; i < p.alarms[k].size(); ++i) {
            const QString aid = id + QStringLiteral("/alarm/") + QString::number(k) + QLatin1Char('.') + QString::number(i);
            QVariantMap alarm = p.alarms[k].at(i);
            alarm.insert(QStringLiteral("owner"), QStringList{id});
            m_sink.addRecord(aid, *kAlarmEntities[k], alarm);
            ids.append(aid);
        }
        if (!ids.isEmpty()) p.record.insert(QLatin1String(kAlarmRelationships[k]), ids);
    }
    m_sink.addRecord(id, m_kind == SyncDataKind::Tasks ? entity::Task : entity::Event, p.record);
    ++m_items;
}

void CalendarItemBuilder::finish()
{
    for (Pending &p : m_detached) {
        const QString main = m_mainIdForUid.value(p.uid);
        if (!main.isEmpty()) p.record.insert(QStringLiteral("main event"), QStringList{main});
        addEvent(p);
    }
    m_detached.clear();
}

}  // namespace syncstore
