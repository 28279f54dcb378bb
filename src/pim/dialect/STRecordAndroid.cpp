#include "STRecordAndroid.h"

#include "foundation/Json.h"
#include "foundation/Log.h"
#include "foundation/VtrBase64.h"
#include "pim/records/STNamesAddresses.h"
#include "pim/records/STRecurrence.h"
#include "pim/records/STVocabulary.h"

#include <QSequentialIterable>
#include <QTextBoundaryFinder>

namespace {

const QString kUid = QStringLiteral("uid");
const QString kId = QStringLiteral("id");
const QString kName = QStringLiteral("name");
const QString kAllDay = QStringLiteral("x-ms-all-day");
const QString kAllDayDuration = QStringLiteral("x-ms-all-day-duration");
const QString kTimeZoneKey = QStringLiteral("x-wr-timezone");
const QString kExDate = QStringLiteral("exdate");
const QString kDetachedDates = QStringLiteral("detached dates");
const QString kCalName = QStringLiteral("x-wr-calname");
const QString kTrigger = QStringLiteral("trigger");
const QString kTriggerType = QStringLiteral("x-ms-trigger-type");
const QString kSecondsOffset = QStringLiteral("x-seconds-offset");

bool isText(const QVariant &v)
{
    return v.typeId() == QMetaType::QString;
}

bool isNumber(const QVariant &v)
{
    switch (v.typeId()) {
    case QMetaType::Bool:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double:
    case QMetaType::Float: return true;
    default: return false;
    }
}

bool isNil(const QVariant &v)
{
    return !v.isValid() || vtr::isJsonNull(v);
}

// A list of any kind the readers hold (QVariantList, QStringList, a list of
// numbers...) as a QVariantList; nullopt for a value that is no list. Texts
// and byte arrays are values, not lists of characters.
std::optional<QVariantList> listValue(const QVariant &v)
{
    if (v.typeId() == QMetaType::QVariantList) return v.toList();
    if (v.typeId() == QMetaType::QString || v.typeId() == QMetaType::QByteArray || !v.canView<QSequentialIterable>())
        return std::nullopt;
    QVariantList out;
    for (const QVariant &x : v.value<QSequentialIterable>()) out.append(x);
    return out;
}

// The value as JSON can carry it: texts, numbers and booleans as they are,
// dates as their UTC text, lists and maps of such values; anything else
// (bytes, records) is no JSON value.
QVariant jsonValue(const QVariant &v)
{
    if (isText(v) || isNumber(v)) return v;
    if (stHolds<STDate>(v)) return v.value<STDate>().utcTimeString();
    if (const auto list = listValue(v)) {
        QVariantList out;
        for (const QVariant &x : *list) {
            const QVariant j = jsonValue(x);
            if (j.isValid()) out.append(j);
        }
        return out;
    }
    if (v.typeId() == QMetaType::QVariantMap) {
        QVariantMap out;
        const QVariantMap m = v.toMap();
        for (auto it = m.begin(); it != m.end(); ++it) {
            const QVariant j = jsonValue(it.value());
            if (j.isValid()) out.insert(it.key(), j);
        }
        return out;
    }
    return QVariant();
}

QString typeName(const QVariant &v)
{
    return QString::fromLatin1(v.isValid() ? v.typeName() : "(null)");
}

// Values are kept out of the log: they are the person's data.
void logUnhandled(const QString &type, const QVariant &value)
{
    VtrDebugLog(QStringLiteral("Unhandled field type \"%1\" (\"%2\") in event JSON conversion.")
                    .arg(type, typeName(value)));
}

STRecordPtr newRecord(const QString &type, const QVariant &identifier = QVariant())
{
    STRecordPtr r = STRecord::record();
    r->setType(type);
    if (!isNil(identifier)) r->setIdentifier(identifier.toString());
    return r;
}

STRecordPtr valueRecord(const QString &type, const QString &value, const QString &kind = QString())
{
    STRecordPtr r = newRecord(type);
    r->setValue(value, st::Value);
    if (!kind.isNull()) r->setValue(kind, st::Type);
    return r;
}

// Records of one relationship, in writing order.
const QStringList &contactRelationshipOrder()
{
    static const QStringList order{st::NotesRel, st::Phones, st::Addresses, st::Emails, st::Urls, st::Dates,
                                   st::Associates, st::JobTitles, QStringLiteral("custom_fields"), st::IMs,
                                   st::Organizations, st::Nicks};
    return order;
}

// A field-by-field copy (values shared, state aside), so a writer can adjust
// a record without changing the caller's.
STRecordPtr fieldCopy(const STRecord &r)
{
    STRecordPtr c = newRecord(r.type(), r.identifier());
    for (const auto &f : r.fields()) c->setValue(f.second->value(), f.first);
    return c;
}

QString mapKey(const QString &key, const QList<QPair<QString, QString>> &table, bool forward)
{
    for (const auto &p : table)
        if ((forward ? p.first : p.second) == key) return forward ? p.second : p.first;
    return key;
}

const QList<QPair<QString, QString>> &toDoTable()
{
    static const QList<QPair<QString, QString>> table{{kCalName, QStringLiteral("category_name")},
                                                      {st::Description, QStringLiteral("note")},
                                                      {QStringLiteral("completed"), QStringLiteral("completeDate")},
                                                      {QStringLiteral("due"), st::DtEnd},
                                                      {st::DeviceRecordId, QStringLiteral("uuid")}};
    return table;
}

const QList<QPair<QString, QString>> &noteTable()
{
    static const QList<QPair<QString, QString>> table{{QStringLiteral("title"), st::Summary},
                                                      {QStringLiteral("content"), QStringLiteral("note")},
                                                      {QStringLiteral("creationDate"), QStringLiteral("creationDate")},
                                                      {QStringLiteral("modificationDate"), QStringLiteral("modificationDate")},
                                                      {QStringLiteral("categories"), QStringLiteral("category_name")}};
    return table;
}

} // namespace

// ---------------------------------------------------------------- helpers

QString stLeftCharacters(const QString &text, int count)
{
    if (count <= 0) return QString();
    if (text.size() <= count) return text; // fewer units than asked: fewer characters too
    QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, text);
    int taken = 0;
    qsizetype end = 0;
    while (taken < count) {
        const qsizetype next = graphemes.toNextBoundary();
        if (next < 0) return text; // shorter than asked: taken whole
        end = next;
        ++taken;
    }
    return text.left(end);
}

QString stDayText(const QVariant &value)
{
    if (stHolds<STDate>(value)) {
        const STDate d = value.value<STDate>();
        const VtrCalendarDate shown = d.calendarDate();
        if (d.isDateOnly() || shown.isNull()) return stLeftCharacters(d.utcTimeString(), 8);
        return shown.descriptionWithCalendarFormat(QStringLiteral("%Y%m%d"));
    }
    return stLeftCharacters(value.toString(), 8);
}

QString stRecordLeftOutMessage(const STRecord &record)
{
    const QString id = QStringLiteral("%1 (%2)").arg(record.identifier().isEmpty() ? QStringLiteral("(no identifier)")
                                                                                   : record.identifier(),
                                                     record.type());
    return QStringLiteral("Record %1 will not be transferred to your device due to an error in its format.").arg(id);
}

// ---------------------------------------------------------------- contacts

std::optional<STBirthday> stBirthdayFromText(const QString &text)
{
    if (text.size() == 8 && !text.startsWith(QLatin1String("--"))) {
        STBirthday b{text.left(4).toInt(), text.mid(4, 2).toInt(), text.mid(6, 2).toInt()};
        if (b.year == st::kNoYear) b.year = 0;
        return b;
    }
    if (!text.startsWith(QLatin1String("--"))) return std::nullopt;
    QString digits = text.mid(2);
    if (digits.size() == 5 && digits.at(2) == QLatin1Char('-')) digits.remove(2, 1);
    bool ok = digits.size() == 4;
    for (const QChar c : std::as_const(digits)) ok = ok && c.isDigit();
    const STBirthday b{0, digits.left(2).toInt(), digits.right(2).toInt()};
    if (!ok || b.month < 1 || b.month > 12 || b.day < 1 || b.day > 31) return std::nullopt;
    return b;
}

QString stBirthdayText(const STBirthday &b)
{
    const QString monthDay = QStringLiteral("%1%2").arg(b.month, 2, 10, QLatin1Char('0')).arg(b.day, 2, 10, QLatin1Char('0'));
    // A day without a year stays eight digits, in the year the readers take
    // for none: a "birthday" of another length is no date to them.
    return QStringLiteral("%1").arg(b.year > 0 ? b.year : st::kNoYear, 4, 10, QLatin1Char('0')) + monthDay;
}

QVariantList JSONArrayFromSTRecords(const STRecordList &records)
{
    QVariantList out;
    for (const STRecordPtr &r : records) {
        if (!r) continue;
        QVariantMap m;
        for (const auto &f : r->fields()) {
            const QVariant v = jsonValue(f.second->value());
            if (!v.isValid()) continue;
            m.insert(f.first == st::DeviceRecordId ? kId : f.first, v);
        }
        if (!r->identifier().isEmpty()) m.insert(kUid, r->identifier());
        out.append(m);
    }
    return out;
}

QVariantMap JSONContactRecordFromSTRecord(const STRecord &contact)
{
    QVariantMap m{{kUid, contact.identifier()}};
    for (const auto &f : contact.fields()) {
        const QString &type = f.first;
        const QVariant v = f.second->value();
        if (type == QLatin1String("picture")) {
            if (v.typeId() == QMetaType::QByteArray)
                m.insert(type, vtr::base64EncodingWithLineLength(v.toByteArray(), 0));
        } else if (type != QLatin1String("company") && type != QLatin1String("jobtitle")
                   && type != QLatin1String("department") && isText(v)) {
            m.insert(type, v);
        }
    }
    static const QStringList listed{st::Phones, st::Addresses, st::Emails, st::IMs, st::Urls,
                                    st::Organizations, st::Nicks, st::NotesRel};
    for (const QString &name : contactRelationshipOrder()) {
        const STRecordList records = contact.recordsInRelationshipNamed(name);
        if (records.isEmpty()) continue;
        if (listed.contains(name)) {
            const QVariantList array = JSONArrayFromSTRecords(records);
            if (!array.isEmpty()) m.insert(name, array);
        } else if (name == st::Dates || name == st::Associates) {
            for (const STRecordPtr &r : records) {
                if (!r || !r->hasFieldOfType(st::Type)) continue;
                const QString kind = r->stringForFieldOfType(st::Type);
                const QVariant v = r->valueForFieldOfType(st::Value);
                if (kind.isEmpty() || isNil(v)) continue;
                if (name == st::Dates)
                    m.insert(kind, stDayText(v));
                else if (jsonValue(v).isValid())
                    m.insert(kind, jsonValue(v));
            }
        }
    }
    return m;
}

STRecordList STRecordsFromJSONArray(const QVariantList &array, const QString &type)
{
    STRecordList out;
    for (const QVariant &item : array) {
        if (item.typeId() != QMetaType::QVariantMap) continue;
        STRecordPtr r = newRecord(type);
        const QVariantMap m = item.toMap();
        for (auto it = m.begin(); it != m.end(); ++it) {
            if (isNil(it.value())) continue;
            r->setValueForKey(it.value(), it.key() == kId ? st::DeviceRecordId : it.key());
        }
        out.append(r);
    }
    return out;
}

STRecordPtr STContactRecordFromJSONRecord(const QVariantMap &json)
{
    STRecordPtr r = newRecord(st::Contact, json.value(kId));
    if (json.isEmpty()) {
        r->recordSaved();
        return r;
    }
    QMap<QString, STRecordList> lists;
    static const QList<QPair<QString, QString>> arrays{
        {st::Phones, st::Phone}, {st::Addresses, st::Address}, {st::Emails, st::Email}, {st::IMs, st::IM},
        {st::Urls, st::Url},     {st::Nicks, st::Nick},        {st::NotesRel, st::Note}};
    for (auto it = json.begin(); it != json.end(); ++it) {
        const QString &key = it.key();
        const QVariant &v = it.value();
        const QString recordType = mapKey(key, arrays, true);
        if (recordType != key) {
            lists[key] += STRecordsFromJSONArray(v.toList(), recordType);
        } else if (key == st::Organizations) {
            QVariantList array = v.toList();
            if (array.isEmpty() || array.first().typeId() != QMetaType::QVariantMap) continue;
            QVariantMap first = array.first().toMap();
            if (!isNil(first.value(QStringLiteral("company"))))
                r->setValue(first.value(QStringLiteral("company")), QStringLiteral("company"));
            if (!isNil(first.value(st::JobTitle)))
                lists[st::JobTitles].append(valueRecord(st::JobTitle, first.value(st::JobTitle).toString()));
            if (!isNil(first.value(QStringLiteral("department"))))
                r->setValue(first.value(QStringLiteral("department")), QStringLiteral("department"));
            first.insert(QStringLiteral("send_to_sync_services"), true);
            array[0] = first;
            lists[st::Organizations] += STRecordsFromJSONArray(array, st::Organization);
        } else if (key == QLatin1String("birthday")) {
            // A day without a year ("--mmdd" too) stays one, not a day of some year.
            const auto b = stBirthdayFromText(v.toString());
            const QString value = (b && b->year == 0 ? stBirthdayText(*b) : v.toString()) + QStringLiteral("000000");
            lists[st::Dates].append(valueRecord(st::DateRecord, value, QStringLiteral("birthday")));
        } else if (key == QLatin1String("spouse") || key == QLatin1String("child")) {
            lists[st::Associates].append(valueRecord(st::Associate, v.toString(), key));
        } else if (key == QLatin1String("note")) {
            lists[st::NotesRel].append(valueRecord(st::Note, v.toString()));
        } else if (key == QLatin1String("picture")) {
            r->setValue(vtr::dataWithBase64EncodedString(v.toString()), key);
        } else if (!isNil(v)) {
            r->setValue(v, key);
        }
    }
    for (const QString &name : {st::NotesRel, st::JobTitles, st::Phones, st::Addresses, st::Emails, st::Urls,
                                st::Dates, st::Associates, st::IMs, st::Organizations, st::Nicks})
        r->addRecords(lists.value(name), name);
    r->recordSaved();
    return r;
}

QVariantList singleAddressArrayFromSTRecords(const STRecordList &addresses)
{
    QVariantList out;
    for (const STRecordPtr &r : addresses) {
        if (!r) continue;
        QVariantMap m;
        QVariantMap components;
        for (const auto &f : r->fields()) {
            const QVariant v = f.second->value();
            if (isNil(v)) continue;
            if (f.first == st::DeviceRecordId)
                m.insert(kId, v);
            else if (f.first == st::Type)
                m.insert(st::Type, v);
            else
                components.insert(f.first, v);
        }
        if (!r->fields().empty() && !r->identifier().isEmpty()) m.insert(kUid, r->identifier());
        m.insert(QStringLiteral("address"), singleAddressFromAddressComponents(components));
        out.append(m);
    }
    return out;
}

STRecordList STRecordsFromSingleAddressArray(const QVariantList &array)
{
    STRecordList out;
    for (const QVariant &item : array) {
        const QVariantMap m = item.toMap();
        STRecordPtr r = newRecord(st::Address);
        if (!isNil(m.value(kId))) r->setValue(m.value(kId), st::DeviceRecordId);
        if (!isNil(m.value(st::Type))) r->setValue(m.value(st::Type), st::Type);
        const QVariantMap parts =
            addressComponentsFromSingleAddress(m.value(QStringLiteral("address")).toString(), nullptr);
        for (auto it = parts.begin(); it != parts.end(); ++it)
            if (!isNil(it.value())) r->setValue(it.value(), it.key());
        out.append(r);
    }
    return out;
}

QVariantMap JSONGroupRecordFromSTRecord(const STRecord &group)
{
    QVariantMap m;
    const QVariant name = group.valueForFieldOfType(kName);
    if (!isNil(name)) m.insert(kName, jsonValue(name));
    QVariantList members;
    for (const STRecordPtr &r : group.recordsInRelationshipNamed(st::Members))
        if (r && !r->identifier().isEmpty()) members.append(r->identifier());
    if (!members.isEmpty()) m.insert(st::Members, members);
    return m;
}

STRecordPtr STGroupRecordFromJSONRecord(const QVariantMap &json)
{
    STRecordPtr r = newRecord(st::Group, json.value(kId));
    if (json.contains(kName)) {
        const QString name = json.value(kName).toString();
        r->setValue(name.isEmpty() ? QStringLiteral("<no name>") : name, kName);
    }
    for (const QVariant &id : json.value(st::Members).toList())
        if (!isNil(id)) r->addRecord(STRecord::placeholderRecordWithIdentifier(id.toString()), st::Members);
    r->recordSaved();
    return r;
}

// ---------------------------------------------------------------- calendars and events

QVariantMap JSONCalendarRecordFromSTRecord(const STRecord &calendar)
{
    QVariantMap m;
    for (const auto &f : calendar.fields())
        if (isText(f.second->value())) m.insert(f.first, f.second->value());
    return m;
}

STRecordPtr STCalendarRecordFromJSONRecord(const QVariantMap &json)
{
    STRecordPtr r = newRecord(st::Calendar, json.value(kId));
    if (!isNil(json.value(kCalName))) r->setValue(json.value(kCalName), kCalName);
    const QString readOnly = QStringLiteral("x-wr-readonly");
    if (!isNil(json.value(readOnly))) r->setValue(json.value(readOnly), readOnly);
    r->recordSaved();
    return r;
}

QString JSONRecurrenceRecordFromSTRecord(const STRecord &recurrence)
{
    return recurrenceRuleFromSTRecurrence(recurrence);
}

STRecordPtr STRecurrenceRecordFromJSONRecord(const QString &rule)
{
    return STRecurrenceFromRecurrenceRule(rule);
}

QVariantMap JSONEventRecordFromSTRecord(const STRecord &event)
{
    QVariantMap m;
    QString zone;
    bool zoneFromStart = false;
    for (const auto &f : event.fields()) {
        const QString &type = f.first;
        const QVariant v = f.second->value();
        if (type.isEmpty() || type == QLatin1String("parent") || type == kExDate || type == kDetachedDates
            || type == kAllDay)
            continue;
        if (isText(v) || isNumber(v)) {
            m.insert(type, v);
        } else if (stHolds<STDate>(v)) {
            const STDate d = v.value<STDate>();
            m.insert(type, d.utcTimeString());
            if (!zoneFromStart) zone = d.timeZone();
            if (type == st::DtStart) zoneFromStart = true;
        } else if (!isNil(v)) {
            logUnhandled(type, v);
        }
    }
    m.insert(kAllDay, event.valueForFieldOfType(kAllDay).toInt());
    if (!zone.isEmpty()) m.insert(kTimeZoneKey, zone);

    const STRecordList recur = event.recordsInRelationshipNamed(st::RecurRel);
    if (!recur.isEmpty() && recur.first()) {
        STRecordPtr rule = fieldCopy(*recur.first());
        if (rule->stringForFieldOfType(QStringLiteral("freq")).compare(QLatin1String("weekly"), Qt::CaseInsensitive) == 0
            && !rule->hasFieldOfType(QStringLiteral("byday"))) {
            const VtrCalendarDate start = event.valueForFieldOfType(st::DtStart).value<STDate>().calendarDate();
            if (!start.isNull())
                rule->setValue(QVariantList{QVariant::fromValue(
                                   STRecurrenceByDay(stWeekdayFromOrdinalWeekday(start.dayOfWeek(), 0), 0))},
                               QStringLiteral("byday"));
        }
        m.insert(QStringLiteral("rrule"), recurrenceRuleFromSTRecurrence(*rule));
        QList<STDate> exceptions;
        for (const QString &key : {kExDate, kDetachedDates})
            for (const QVariant &d : event.valueForFieldOfType(key).toList())
                if (stHolds<STDate>(d)) exceptions.append(d.value<STDate>());
        if (!exceptions.isEmpty()) m.insert(kExDate, AndroidExDatesFromSTExceptionDates(exceptions));
    }
    const QVariantList alarms = JSONArrayFromSTRecords(event.recordsInRelationshipNamed(st::VAlarms));
    if (!alarms.isEmpty()) m.insert(st::VAlarms, alarms);
    return m;
}

QString AndroidExDatesFromSTExceptionDates(const QList<STDate> &dates)
{
    QStringList out;
    for (const STDate &d : dates) {
        const VtrCalendarDate c = CalendarDateFromSTString(d.utcTimeString());
        if (c.isNull()) continue;
        out.append(c.descriptionWithCalendarFormat(QStringLiteral("%Y%m%dT%H%M%SZ")));
    }
    return out.join(QLatin1Char(',')).toUpper();
}

QList<STDate> STExceptionDatesFromAndroidExDates(const QString &text)
{
    QList<STDate> out;
    if (text.isEmpty()) return out;
    for (const QString &piece : text.split(QLatin1Char(','))) {
        const std::optional<VtrCalendarDate> d = VtrCalendarDate::dateTimeWithAndroidExceptionString(piece.trimmed());
        if (d) out.append(STDate::dateWithCalendarDate(*d));
    }
    return out;
}

STRecordPtr STEventRecordFromJSONRecord(const QVariantMap &json)
{
    STRecordPtr r = newRecord(st::Event, json.value(kId));
    STRecordList recur, alarms;
    if (!json.isEmpty()) {
        QString zone;
        if (json.contains(kTimeZoneKey)) {
            zone = json.value(kTimeZoneKey).toString();
            if (!STDate::zoneNamed(zone).isValid()) zone = STDate::nameOfZone(vtr::defaultTimeZone());
        }
        static const QStringList dateKeys{st::DtStart, st::DtEnd, QStringLiteral("recurrence-id"), st::Created,
                                          st::LastMod};
        for (auto it = json.begin(); it != json.end(); ++it) {
            const QString &key = it.key();
            const QVariant &v = it.value();
            if (key == QLatin1String("rrule")) {
                if (STRecordPtr rule = STRecurrenceFromRecurrenceRule(v.toString())) recur.append(rule);
            } else if (key == kExDate) {
                if (!isNil(v)) {
                    QVariantList dates;
                    for (const STDate &d : STExceptionDatesFromAndroidExDates(v.toString()))
                        dates.append(QVariant::fromValue(d));
                    r->setValue(dates, kExDate);
                }
            } else if (key == st::VAlarms) {
                for (const QVariant &a : v.toList())
                    if (a.typeId() == QMetaType::QVariantMap) alarms.append(STAlarmRecordFromJSONRecord(a.toMap()));
            } else if (dateKeys.contains(key)) {
                if (isText(v)) r->setValue(QVariant::fromValue(STDate(v.toString(), zone)), key);
            } else if (isNumber(v) || (isText(v) && !v.toString().isEmpty())) {
                r->setValue(v, key);
            }
        }
        QVariant allDay = r->valueForFieldOfType(kAllDay);
        if (isText(allDay) && allDay.toString() == QLatin1String("TRUE")) {
            allDay = 1;
            r->setValue(allDay, kAllDay);
        }
        if (isNumber(allDay) && allDay.toLongLong() != 0) {
            STDate start = r->valueForFieldOfType(st::DtStart).value<STDate>();
            STDate end = r->valueForFieldOfType(st::DtEnd).value<STDate>();
            const VtrCalendarDate s = start.calendarDate(), e = end.calendarDate();
            // Without both dates there is no duration (a missing one is no "now").
            if (r->hasFieldOfType(st::DtStart) && r->hasFieldOfType(st::DtEnd) && !s.isNull() && !e.isNull())
                r->setValue((e.secsSinceEpoch() - s.secsSinceEpoch()) / 86400, kAllDayDuration);
            for (auto *d : {&start, &end}) {
                d->setTimeZone(QStringLiteral("UTC"));
                d->setIsDateOnly(true);
            }
            if (r->hasFieldOfType(st::DtStart)) r->setValue(QVariant::fromValue(start), st::DtStart);
            if (r->hasFieldOfType(st::DtEnd)) r->setValue(QVariant::fromValue(end), st::DtEnd);
        }
    }
    r->addRecords(recur, st::RecurRel);
    r->addRecords(alarms, st::VAlarms);
    r->recordSaved();
    return r;
}

STRecordPtr STAlarmRecordFromJSONRecord(const QVariantMap &json)
{
    STRecordPtr r = newRecord(st::Alarm, json.value(kId));
    if (!isNil(json.value(kTrigger))) r->setValue(json.value(kTrigger), kTrigger);
    r->setValue(kSecondsOffset, kTriggerType);
    return r;
}

QVariantMap JSONAlarmRecordFromSTRecord(const STRecord &alarm)
{
    QVariantMap m;
    for (const auto &f : alarm.fields())
        if (isText(f.second->value()) || isNumber(f.second->value())) m.insert(f.first, f.second->value());
    return m;
}

QVariantMap JSONToDoRecordFromSTRecord(const STRecord &todo)
{
    QVariantMap m;
    for (const auto &f : todo.fields()) {
        const QString key = mapKey(f.first, toDoTable(), true);
        const QVariant v = f.second->value();
        if (isText(v) || isNumber(v))
            m.insert(key, v);
        else if (stHolds<STDate>(v))
            m.insert(key, v.value<STDate>().utcTimeString());
        else if (!isNil(v))
            logUnhandled(key, v);
    }
    return m;
}

STRecordPtr STToDoRecordFromJSONRecord(const QVariantMap &json)
{
    STRecordPtr r = newRecord(st::ToDo, json.value(QStringLiteral("uuid")));
    for (auto it = json.begin(); it != json.end(); ++it) {
        const QString key = mapKey(it.key(), toDoTable(), false);
        const QVariant &v = it.value();
        if (key == st::DtStart || key == QLatin1String("due") || key == QLatin1String("completed")) {
            if (!isText(v)) continue;
            r->setValue(QVariant::fromValue(STDate(v.toString(), QStringLiteral("UTC"))), key);
            r->fieldOfType(key).setValueClass(QMetaType::fromType<STDate>());
        } else if (isNumber(v)) {
            r->setValue(v, key);
        } else if (key == kCalName) {
            STRecordPtr calendar = newRecord(st::Calendar);
            calendar->setValue(v.toString(), kCalName);
            r->addRecord(calendar, st::Calendar);
        } else if (key == st::Description && isText(v)) {
            r->setValue(v, key);
        } else if (!isNil(v) && !(isText(v) && v.toString().isEmpty())) {
            r->setValue(v, key);
        }
    }
    r->recordSaved();
    return r;
}

QVariantMap JSONAttendeeRecordFromSTRecord(const STRecord &attendee)
{
    static const QList<QPair<QString, QString>> table{{st::DeviceRecordId, QStringLiteral("eventId")},
                                                      {QStringLiteral("uuid"), QStringLiteral("externalId")},
                                                      {kName, kName},
                                                      {QStringLiteral("mailto"), QStringLiteral("attendeeemail")},
                                                      {QStringLiteral("organizer"), QStringLiteral("organizer")}};
    QVariantMap m;
    for (const auto &f : attendee.fields()) {
        const QString key = mapKey(f.first, table, true);
        if (key == f.first && f.first != kName && f.first != QLatin1String("organizer")) continue;
        const QVariant v = f.second->value();
        if (isText(v) || isNumber(v))
            m.insert(key, v);
        else if (!isNil(v))
            VtrDebugLog(QStringLiteral("JSONAttendeeRecordFromSTRecord handling unsupported class \"%1\" for STRecord: %2")
                            .arg(typeName(v), attendee.identifier()));
    }
    return m;
}

STRecordPtr STAttendeeRecordFromJSONRecord(const QVariantMap &)
{
    return nullptr;
}

// ---------------------------------------------------------------- logs and notes

namespace {

int kindNumber(const QString &dir, bool call, const QVariantMap &json)
{
    if (dir == QLatin1String("Incoming")) {
        const QVariant duration = json.value(QStringLiteral("duration"));
        return call && !isNil(duration) && duration.toLongLong() == 0 ? 2 : 0;
    }
    if (dir == QLatin1String("Outgoing")) return 1;
    if (dir == QLatin1String("Missed")) return 2;
    if (dir == QLatin1String("Answered")) return call ? 0 : 3;
    return 0;
}

void setLogDate(STRecord &r, const QVariant &text, const QString &field)
{
    if (isNil(text)) return;
    std::optional<VtrCalendarDate> d = VtrCalendarDate::dateTimeWithSymbianUTCCalString(text.toString());
    if (!d) return;
    d->setTimeZone(QTimeZone::systemTimeZone());
    r.setValue(QVariant::fromValue(*d), field);
}

void copyIfPresent(STRecord &r, const QVariantMap &json, const QString &key, const QString &field)
{
    if (!isNil(json.value(key))) r.setValue(json.value(key), field);
}

} // namespace

STRecordPtr STCallLogRecordFromJSONRecord(const QVariantMap &json)
{
    STRecordPtr r = newRecord(st::Call);
    setLogDate(*r, json.value(QStringLiteral("date")), QStringLiteral("startDate"));
    r->setValue(json.value(QStringLiteral("duration")).toLongLong(), QStringLiteral("duration"));
    copyIfPresent(*r, json, QStringLiteral("remote"), kName);
    copyIfPresent(*r, json, QStringLiteral("number"), QStringLiteral("number"));
    copyIfPresent(*r, json, st::Type, st::Type);
    r->setValueForKey(kindNumber(json.value(QStringLiteral("dir")).toString(), true, json), st::Type);
    copyIfPresent(*r, json, QStringLiteral("device"), QStringLiteral("device"));
    r->setValue(6, QStringLiteral("deviceType"));
    return r;
}

STRecordPtr STSMSLogRecordFromJSONRecord(const QVariantMap &json)
{
    STRecordPtr r = newRecord(st::Sms);
    copyIfPresent(*r, json, QStringLiteral("subj"), st::Sms);
    setLogDate(*r, json.value(QStringLiteral("date")), QStringLiteral("date"));
    if (!isNil(json.value(QStringLiteral("number")))) {
        QString number = json.value(QStringLiteral("number")).toString();
        if (number.startsWith(QLatin1String("sms://"))) number = number.mid(6);
        if (number.startsWith(QLatin1String("+1"))) number = number.mid(2);
        r->setValue(number, QStringLiteral("number"));
    }
    copyIfPresent(*r, json, QStringLiteral("remote"), kName);
    r->setValueForKey(kindNumber(json.value(QStringLiteral("dir")).toString(), false, json), st::Type);
    copyIfPresent(*r, json, QStringLiteral("device"), QStringLiteral("device"));
    r->setValue(6, QStringLiteral("deviceType"));
    return r;
}

QVariantMap JSONNoteRecordFromSTRecord(const STRecord &note)
{
    QVariantMap m;
    for (const auto &f : note.fields()) {
        const QString key = mapKey(f.first, noteTable(), true);
        if (key == f.first && f.first != QLatin1String("creationDate") && f.first != QLatin1String("modificationDate"))
            continue;
        const QVariant v = f.second->value();
        if (isText(v) || isNumber(v))
            m.insert(key, v);
        else if (const auto list = listValue(v))
            m.insert(key, list->isEmpty() ? QVariant(QStringLiteral("Unfiled")) : jsonValue(list->first()));
        else if (stHolds<STDate>(v))
            m.insert(key, v.value<STDate>().utcTimeString());
        else if (!isNil(v))
            logUnhandled(key, v);
    }
    return m;
}

QVariantMap deviceRecordFromWebOSDeviceRecord(const QVariantMap &webOSNote)
{
    const QString attributes = QString::fromLatin1("Vantrel_Attributes");
    QVariantMap fields;
    for (auto it = webOSNote.begin(); it != webOSNote.end(); ++it) {
        const QString field = mapKey(it.key(), noteTable(), false);
        if (field == it.key() && it.key() != QLatin1String("creationDate")
            && it.key() != QLatin1String("modificationDate"))
            continue;
        const QString text = it.value().toString();
        if (field == QLatin1String("creationDate") || field == QLatin1String("modificationDate"))
            fields.insert(field, QVariant::fromValue(STDate(text, QStringLiteral("UTC"))));
        else if (field == QLatin1String("categories"))
            fields.insert(field, QVariantList{text});
        else if (!text.isEmpty())
            fields.insert(field, text);
    }
    STRecordPtr r = newRecord(st::Notes);
    r->addFieldsFromDictionary(fields);

    QVariantList fieldElements;
    for (const auto &f : r->fields()) {
        if (f.first == QLatin1String("categories")) continue;
        QVariantMap element{{attributes, QVariantMap{{st::Type, f.first}}}};
        const QVariant v = f.second->value();
        if (isText(v) || v.typeId() == QMetaType::QVariantList)
            element.insert(st::Value, v);
        else if (stHolds<STDate>(v))
            element.insert(st::Value, v.value<STDate>().utcTimeString());
        fieldElements.append(element);
    }
    QVariantMap tree{{attributes, QVariantMap{{QStringLiteral("of"), st::Notes}}}, {QStringLiteral("field"), fieldElements}};
    if (r->hasFieldOfType(QStringLiteral("categories"))) {
        QVariantList groups;
        for (const QVariant &c : r->valueForFieldOfType(QStringLiteral("categories")).toList())
            groups.append(QVariantMap{{attributes, QVariantMap{{QStringLiteral("of"), st::Group}}},
                                      {QStringLiteral("field"),
                                       QVariantMap{{attributes, QVariantMap{{st::Type, kName}}}, {st::Value, c}}}});
        tree.insert(QStringLiteral("record"), QVariantMap{{attributes, QVariantMap{{QStringLiteral("of"), QStringLiteral("groups")}}},
                                                          {QStringLiteral("record"), groups}});
    }
    return tree;
}

// ---------------------------------------------------------------- dispatch

STRecordPtr stRecordFromDeviceRecord(const QVariantMap &json, const QString &)
{
    const QVariant of = json.value(QStringLiteral("of"));
    if (isNil(of)) {
        VtrDebugLog(QStringLiteral("You need to attach a record type to the JSON record."));
        return nullptr;
    }
    const QString type = of.toString();
    if (type == st::Contact) return STContactRecordFromJSONRecord(json);
    if (type == st::Group) return STGroupRecordFromJSONRecord(json);
    if (type == st::Calendar) return STCalendarRecordFromJSONRecord(json);
    if (type == st::Event || type == QLatin1String("event")) return STEventRecordFromJSONRecord(json);
    if (type == QLatin1String("task")) return STToDoRecordFromJSONRecord(json);
    if (type == st::Call) return STCallLogRecordFromJSONRecord(json);
    if (type == st::Sms) return STSMSLogRecordFromJSONRecord(json);
    VtrDebugLog(QStringLiteral("Unknown record type: %1").arg(stLeftCharacters(type, 64)));
    return nullptr;
}

QVariantMap deviceRecordFromSTRecord(const STRecord &record)
{
    const QString type = record.type();
    if (type == st::Contact) return JSONContactRecordFromSTRecord(record);
    if (type == st::Group) return JSONGroupRecordFromSTRecord(record);
    if (type == st::Calendar) return JSONCalendarRecordFromSTRecord(record);
    if (type == st::Event) return JSONEventRecordFromSTRecord(record);
    if (type == st::ToDo) return JSONToDoRecordFromSTRecord(record);
    if (type == st::Notes) return JSONNoteRecordFromSTRecord(record);
    return {};
}
