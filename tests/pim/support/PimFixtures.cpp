#include "PimFixtures.h"

#include "pim/records/STDate.h"
#include "pim/records/STRecurrence.h"
#include "pim/records/STVocabulary.h"

namespace pimfixtures {

namespace {

STRecordPtr record(const QString &type, const QString &id, const QVariantMap &fields)
{
    STRecordPtr r = STRecord::record();
    r->setType(type);
    if (!id.isEmpty()) r->setIdentifier(id);
    r->addFieldsFromDictionary(fields);
    return r;
}

QVariant date(int y, int mo, int d, int h, int mi, const char *zone)
{
    return QVariant::fromValue(
        STDate::dateWithCalendarDate(VtrCalendarDate::fromComponents(y, mo, d, h, mi, 0, QTimeZone(zone))));
}

QVariant day(int y, int mo, int d)
{
    STDate s = date(y, mo, d, 0, 0, "UTC").value<STDate>();
    s.setIsDateOnly(true);
    return QVariant::fromValue(s);
}

// Related records of a contact, identified as the contact source does.
void addItems(STRecord &contact, const QString &relationship, const QString &type, const QList<QVariantMap> &items)
{
    int n = 0;
    for (const QVariantMap &fields : items) {
        const QString id = QStringLiteral("%1_%2_%3").arg(contact.identifier(), type).arg(n++);
        QVariantMap f = fields;
        f.insert(st::DeviceRecordId, id);
        contact.addRecord(record(type, id, f), relationship);
    }
}

STRecordPtr contact(const QString &id, const QVariantMap &fields)
{
    STRecordPtr c = record(st::Contact, id, fields);
    c->setValue(id, st::DeviceRecordId);
    return c;
}

} // namespace

STRecordList contacts()
{
    STRecordList out;

    STRecordPtr mara = contact("C1", {{"first", "Mara"}, {"middle", "Elin"}, {"last", "Lindqvist"}, {"prefix", "Dr."},
                                      {"suffix", "PhD"}, {"nick", "Mo"}, {"maiden", "Berg"}, {"company", "Nordljus AB"},
                                      {"department", "Research"}, {"picture", QByteArray("\x89PNG\r\n\x1a\n\0\1", 10)}});
    addItems(*mara, st::Phones, st::Phone,
             {{{"type", "work"}, {"value", "+46 8 123 45 67"}},
              {{"type", "home"}, {"value", "+46 8 765 43 21"}},
              {{"type", "mobile"}, {"value", "+46 70 123 45 67"}},
              {{"type", "fax_work"}, {"value", "+46 8 123 45 68"}},
              {{"type", "fax_home"}, {"value", "+46 8 765 43 22"}},
              {{"type", "pager"}, {"value", "+46 74 000 11 22"}},
              {{"type", "other"}, {"label", "boat"}, {"value", "+46 70 999 88 77"}}});
    addItems(*mara, st::Emails, st::Email,
             {{{"type", "email_work"}, {"value", "mara@nordljus.example"}},
              {{"type", "email_home"}, {"value", "mara@example.org"}},
              {{"type", "email_other"}, {"label", "club"}, {"value", "mara@club.example"}}});
    addItems(*mara, st::Addresses, st::Address,
             {{{"type", "work"}, {"street", "Drottninggatan 1"}, {"city", "Stockholm"}, {"zip", "111 51"}, {"country", "Sweden"}},
              {{"type", "home"}, {"street", "1 Main St\nApt 4"}, {"city", "Springfield"}, {"state", "IL"}, {"zip", "62701"},
               {"country", "USA"}},
              {{"type", "other"}, {"label", "cabin"}, {"street", "Sjövägen 3"}, {"city", "Åre"}, {"country", "Sweden"}}});
    addItems(*mara, st::IMs, st::IM,
             {{{"type", "im_work"}, {"user", "mara.l"}, {"service", "jabber"}},
              {{"type", "im_home"}, {"user", "maral"}, {"service", "aim"}},
              {{"type", "im_other"}, {"label", "old"}, {"user", "mara77"}, {"service", "icq"}},
              {{"type", "im_home"}, {"user", "mara_msn"}, {"service", "msn"}},
              {{"type", "im_work"}, {"user", "mara_y"}, {"service", "yahoo"}}});
    addItems(*mara, st::Urls, st::Url, {{{"type", "home_page"}, {"value", "https://mara.example.org/"}}});
    addItems(*mara, st::Organizations, st::Organization,
             {{{"type", "work"}, {"company", "Nordljus AB"}, {"jobtitle", "Chief Scientist"}, {"department", "Research"}}});
    mara->addRecord(record(st::DateRecord, QString(), {{"type", "birthday"}, {"value", "19800229000000"}}), st::Dates);
    mara->addRecord(record(st::Associate, QString(), {{"type", "spouse"}, {"value", "Jonas"}}), st::Associates);
    mara->addRecord(record(st::Associate, QString(), {{"type", "child"}, {"value", "Ella"}}), st::Associates);
    mara->addRecord(record(st::Note, "note", {{"type", "note"}, {"value", "Prefers e-mail.\nLine two."}}), st::NotesRel);
    mara->addRecord(record(st::JobTitle, QString(), {{"type", "jobtitle"}, {"value", "Chief Scientist"}}), st::JobTitles);
    out.append(mara);

    STRecordPtr ivan = contact("C2", {{"first", "Иван"}, {"last", "Петров"}});
    addItems(*ivan, st::Phones, st::Phone, {{{"type", "mobile"}, {"value", "+7 912 345-67-89"}}});
    addItems(*ivan, st::Addresses, st::Address,
             {{{"type", "home"}, {"street", "ул. Тверская, 7"}, {"city", "Москва"}, {"zip", "125009"}, {"country", "Россия"}}});
    out.append(ivan);

    STRecordPtr taro = contact("C3", {{"first", "太郎"}, {"last", "山田"}, {"firstpron", "たろう"}, {"lastpron", "やまだ"}});
    addItems(*taro, st::Emails, st::Email, {{{"type", "email_home"}, {"value", "taro@example.jp"}}});
    taro->addRecord(record(st::DateRecord, QString(), {{"type", "birthday"}, {"value", day(1975, 12, 31)}}), st::Dates);
    out.append(taro);

    STRecordPtr layla = contact("C4", {{"first", "ليلى"}, {"last", "حداد"}, {"nick", "👩🏽‍💻 Lay"}});
    addItems(*layla, st::Phones, st::Phone, {{{"type", "work"}, {"label", "مكتب"}, {"value", "+961 1 123 456"}}});
    addItems(*layla, st::Nicks, st::Nick, {{{"type", "nick"}, {"value", "👩🏽‍💻"}}});
    out.append(layla);

    // Greek with a combining accent on the first letter of the birthday's label.
    STRecordPtr eleni = contact("C5", {{"first", "Ἑλένη"}, {"last", "Παπαδοπούλου"}, {"suffix", "Jr."}});
    eleni->addRecord(record(st::DateRecord, QString(), {{"type", "birthday"}, {"value", date(1990, 6, 15, 23, 30, "Europe/Athens")}}),
                     st::Dates);
    out.append(eleni);

    out.append(contact("C6", {}));
    return out;
}

STRecordList groups()
{
    STRecordPtr family = record(st::Group, "G1", {{"name", "Family"}});
    family->addRecords({STRecord::placeholderRecordWithIdentifier("C1"), STRecord::placeholderRecordWithIdentifier("C3")},
                       st::Members);
    STRecordPtr work = record(st::Group, "G2", {{"name", "Работа"}});
    work->addRecord(STRecord::placeholderRecordWithIdentifier("C2"), st::Members);
    return {family, work, record(st::Group, "G3", {{"name", "Empty"}})};
}

STRecordList calendars()
{
    return {record(st::Calendar, "K1", {{"x-wr-calname", "Personal"}, {"x-wr-readonly", "0"}, {"device_record_id", "K1"}}),
            record(st::Calendar, "K2", {{"x-wr-calname", "Arbeit"}, {"x-wr-readonly", "1"}, {"device_record_id", "K2"}})};
}

STRecordList events()
{
    STRecordList out;
    auto event = [&](const QString &id, const QString &calendar, const QVariantMap &fields) {
        STRecordPtr e = record(st::Event, id, fields);
        e->setValue(calendar, QStringLiteral("x-ms-calendar-id"));
        e->setValue(id, st::Uid);
        out.append(e);
        return e;
    };
    // Timed, on either side of the American spring change, and across it.
    event("E1", "K1", {{"summary", "Dentist"}, {"location", "Main St 5"}, {"dtstart", date(2013, 3, 9, 10, 0, "America/New_York")},
                       {"dtend", date(2013, 3, 9, 10, 30, "America/New_York")}});
    event("E2", "K1", {{"summary", "Night train"}, {"dtstart", date(2013, 3, 10, 1, 30, "America/New_York")},
                       {"dtend", date(2013, 3, 10, 3, 30, "America/New_York")}, {"description", "Across the change"}});
    event("E3", "K1", {{"summary", "Standup"}, {"dtstart", date(2013, 3, 11, 10, 0, "America/New_York")},
                       {"dtend", date(2013, 3, 11, 10, 15, "America/New_York")}, {"status", "confirmed"}, {"class", "public"}});
    // All day: one day, and three days across the European change.
    event("E4", "K1", {{"summary", "Holiday"}, {"dtstart", day(2013, 3, 10)}, {"dtend", day(2013, 3, 11)}, {"x-ms-all-day", 1}});
    event("E5", "K2", {{"summary", "Messe"}, {"dtstart", day(2013, 3, 30)}, {"dtend", day(2013, 4, 2)}, {"x-ms-all-day", 1}});
    // Weekly without days, with exception and detached dates and an alarm.
    STRecordPtr yoga = event("E6", "K2", {{"summary", "Yoga"}, {"dtstart", date(2013, 3, 6, 18, 0, "Europe/Berlin")},
                                          {"dtend", date(2013, 3, 6, 19, 0, "Europe/Berlin")}});
    yoga->addRecord(record(st::Recur, QString(), {{"freq", "weekly"}, {"count", "10"}}), st::RecurRel);
    yoga->setValue(QVariantList{date(2013, 3, 27, 18, 0, "Europe/Berlin"), date(2013, 4, 3, 18, 0, "Europe/Berlin")},
                   QStringLiteral("exdate"));
    yoga->setValue(QVariantList{date(2013, 4, 10, 18, 0, "Europe/Berlin")}, QStringLiteral("detached dates"));
    yoga->addRecord(record(st::Alarm, "E6_alarm_0", {{"trigger", -900}, {"x-ms-trigger-type", "x-seconds-offset"}}), st::VAlarms);
    // Monthly on the last Friday until a date, two alarms.
    STRecordPtr review = event("E7", "K2", {{"summary", "Review"}, {"dtstart", date(2013, 3, 29, 15, 0, "Asia/Tokyo")},
                                            {"dtend", date(2013, 3, 29, 16, 0, "Asia/Tokyo")}});
    review->addRecord(record(st::Recur, QString(),
                             {{"freq", "monthly"},
                              {"byday", QVariantList{QVariant::fromValue(STRecurrenceByDay("fr", -1))}},
                              {"until", date(2013, 12, 31, 23, 59, "UTC")}}),
                      st::RecurRel);
    review->addRecord(record(st::Alarm, "E7_alarm_0", {{"trigger", -600}, {"x-ms-trigger-type", "x-seconds-offset"}}), st::VAlarms);
    review->addRecord(record(st::Alarm, "E7_alarm_1", {{"trigger", -86400}, {"x-ms-trigger-type", "x-seconds-offset"}}),
                      st::VAlarms);
    // Daily every other day in Auckland, across its autumn change.
    STRecordPtr walk = event("E8", "K1", {{"summary", "Walk"}, {"dtstart", date(2013, 4, 5, 7, 0, "Pacific/Auckland")},
                                          {"dtend", date(2013, 4, 5, 8, 0, "Pacific/Auckland")}});
    walk->addRecord(record(st::Recur, QString(), {{"freq", "daily"}, {"interval", "2"}, {"count", "5"}}), st::RecurRel);
    return out;
}

STRecordList toDos()
{
    STRecordPtr t = record(st::ToDo, "T1", {{"summary", "File taxes"}, {"description", "Before the deadline"},
                                            {"priority", 1}, {"status", "needs-action"}, {"x-wr-calname", "Personal"},
                                            {"dtstart", date(2013, 3, 1, 9, 0, "UTC")}, {"due", date(2013, 4, 15, 23, 59, "UTC")},
                                            {"device_record_id", "T1"}});
    STRecordPtr done = record(st::ToDo, "T2", {{"summary", "Книги"}, {"completed", date(2013, 3, 2, 12, 0, "UTC")},
                                               {"device_record_id", "T2"}});
    return {t, done};
}

STRecordList notes()
{
    return {record(st::Notes, "N1", {{"title", "Shopping"}, {"content", "Milk, 卵, pão"}, {"categories", QVariantList{"Home"}},
                                     {"creationDate", date(2013, 3, 1, 8, 0, "UTC")},
                                     {"modificationDate", date(2013, 3, 2, 9, 30, "UTC")}}),
            record(st::Notes, "N2", {{"title", "Loose"}, {"content", ""}, {"categories", QVariantList{}}})};
}

QString dataFolder()
{
    return QStringLiteral(VTR_TEST_SOURCE_DIR "/pim/data");
}

} // namespace pimfixtures
