#include "QStringPrinting.h"
#include "foundation/Json.h"
#include "foundation/Log.h"
#include "pim/dialect/CompanionFile.h"
#include "pim/dialect/FlatRecords.h"
#include "pim/dialect/STRecordAndroid.h"
#include "pim/records/STRecurrence.h"
#include "pim/records/STVocabulary.h"
#include "support/PimFixtures.h"

#include <gtest/gtest.h>

namespace {

// A field value as the dialect carries it.
QVariant carried(const QVariant &v)
{
    return stHolds<STDate>(v) ? QVariant(v.value<STDate>().utcTimeString()) : v;
}

void expectFieldsKept(const STRecord &original, const STRecord &read, const QStringList &skip = {})
{
    for (const auto &f : original.fields()) {
        if (skip.contains(f.first)) continue;
        EXPECT_EQ(carried(read.valueForFieldOfType(f.first)), carried(f.second->value()))
            << original.identifier().toStdString() << " " << f.first.toStdString();
    }
}

class LogCapture
{
public:
    LogCapture() { LogSetSystemLogSink([this](const QString &m) { lines.append(m); }); }
    ~LogCapture() { LogSetSystemLogSink(nullptr); }
    QStringList lines;
};

} // namespace

TEST(DialectContacts, RoundTripFieldByField)
{
    for (const STRecordPtr &c : pimfixtures::contacts()) {
        const QVariantMap json = JSONContactRecordFromSTRecord(*c);
        QVariantMap withId = json;
        withId.insert("id", c->identifier());
        const STRecordPtr back = STContactRecordFromJSONRecord(withId);
        EXPECT_EQ(back->identifier(), c->identifier());
        EXPECT_EQ(back->recordState(), STStateClean);
        // "company" and "department" come back through the first organization only.
        const bool hasOrganization = !c->recordsInRelationshipNamed(st::Organizations).isEmpty();
        expectFieldsKept(*c, *back, hasOrganization ? QStringList{} : QStringList{"company", "department"});
        for (const QString &rel : {st::Phones, st::Emails, st::Addresses, st::IMs, st::Urls, st::Nicks, st::NotesRel}) {
            const STRecordList before = c->recordsInRelationshipNamed(rel);
            const STRecordList after = back->recordsInRelationshipNamed(rel);
            ASSERT_EQ(after.size(), before.size()) << rel.toStdString();
            for (int i = 0; i < before.size(); ++i) {
                expectFieldsKept(*before[i], *after[i]);
                EXPECT_EQ(after[i]->stringForFieldOfType("uid"), before[i]->identifier());
                EXPECT_EQ(after[i]->type(), before[i]->type());
            }
        }
        const STRecordList dates = back->recordsInRelationshipNamed(st::Dates);
        for (const STRecordPtr &d : c->recordsInRelationshipNamed(st::Dates)) {
            ASSERT_EQ(dates.size(), 1);
            EXPECT_EQ(dates[0]->stringForFieldOfType("value"), stDayText(d->valueForFieldOfType("value")) + "000000");
        }
        EXPECT_EQ(back->recordsInRelationshipNamed(st::Associates).size(),
                  c->recordsInRelationshipNamed(st::Associates).size());
    }
}

TEST(DialectContacts, WriterEdgeCases)
{
    STRecordPtr empty = STRecord::record();
    empty->setIdentifier("X");
    EXPECT_EQ(JSONContactRecordFromSTRecord(*empty), (QVariantMap{{"uid", "X"}}));

    STRecordPtr c = STRecord::record();
    c->setIdentifier("Y");
    c->setValue("Acme", "company");
    c->setValue(7, "age");
    c->setValue(QVariant::fromValue(STDate("20120101000000", "GMT")), "anniversary");
    STRecordPtr phone = STRecord::record(); // no identifier: written without "uid", not dropped
    phone->setValue("555", "value");
    phone->setValue(3, "rank");
    phone->setValue(QVariant::fromValue(STDate("20120102030405", "GMT")), "since");
    c->addRecord(phone, st::Phones);
    const QVariantMap json = JSONContactRecordFromSTRecord(*c);
    EXPECT_EQ(json, (QVariantMap{{"uid", "Y"},
                                 {"phones", QVariantList{QVariantMap{{"value", "555"}, {"rank", 3}, {"since", "20120102030405"}}}}}));

    // Birthdays: the first eight characters, cut where a reader sees characters.
    struct Case
    {
        QVariant value;
        QString expected;
    } days[] = {
        {"19800229000000", "19800229"},
        {"1980", "1980"},
        {QString::fromUtf8("😀😀😀😀😀😀😀😀😀"), QString::fromUtf8("😀😀😀😀😀😀😀😀")},
        {QString::fromUtf8("e\u0301e\u0301e\u0301e\u0301e\u0301e\u0301e\u0301e\u0301e\u0301"),
         QString::fromUtf8("e\u0301e\u0301e\u0301e\u0301e\u0301e\u0301e\u0301e\u0301")},
        {QVariant::fromValue(STDate("19900615203000", "Europe/Athens")), "19900615"},
        {QVariant::fromValue(STDate("19900615213000", "Europe/Athens")), "19900616"},
        {QVariant::fromValue(STDate("broken", "GMT")), "broken"},
    };
    for (const Case &d : days) {
        STRecordPtr person = STRecord::record();
        person->setIdentifier("Z");
        STRecordPtr b = STRecord::record();
        b->setValue("birthday", "type");
        b->setValue(d.value, "value");
        person->addRecord(b, st::Dates);
        EXPECT_EQ(JSONContactRecordFromSTRecord(*person).value("birthday").toString(), d.expected);
    }
}

TEST(DialectContacts, ReaderEdgeCases)
{
    const STRecordPtr c = STContactRecordFromJSONRecord(
        {{"id", "7"},
         {"birthday", "19800229"},
         {"spouse", "Jonas"},
         {"note", "hi"},
         {"picture", "iVBORw=="},
         {"phones", "not a list"},
         {"x-custom", vtr::jsonNull()},
         {"organizations", QVariantList{QVariantMap{{"company", "A"}, {"jobtitle", "Boss"}, {"department", "D"}},
                                        QVariantMap{{"company", "B"}}, QVariantMap{{"company", "C"}}}}});
    EXPECT_EQ(c->identifier(), "7");
    EXPECT_EQ(c->stringForFieldOfType("id"), "7");
    EXPECT_EQ(c->stringForFieldOfType("company"), "A");
    EXPECT_EQ(c->stringForFieldOfType("department"), "D");
    EXPECT_EQ(c->valueForFieldOfType("picture").toByteArray(), QByteArray("\x89PNG"));
    EXPECT_FALSE(c->hasFieldOfType("x-custom"));
    const STRecordList orgs = c->recordsInRelationshipNamed(st::Organizations);
    ASSERT_EQ(orgs.size(), 3);
    EXPECT_TRUE(orgs[0]->valueForFieldOfType("send_to_sync_services").toBool());
    EXPECT_FALSE(orgs[1]->hasFieldOfType("send_to_sync_services"));
    EXPECT_EQ(c->recordsInRelationshipNamed(st::JobTitles).value(0)->stringForFieldOfType("value"), "Boss");
    EXPECT_EQ(c->recordsInRelationshipNamed(st::Dates).value(0)->stringForFieldOfType("value"), "19800229000000");
    EXPECT_EQ(c->recordsInRelationshipNamed(st::Associates).value(0)->stringForFieldOfType("type"), "spouse");
    EXPECT_EQ(c->recordsInRelationshipNamed(st::NotesRel).value(0)->stringForFieldOfType("value"), "hi");
    EXPECT_TRUE(c->recordsInRelationshipNamed(st::Phones).isEmpty());

    const STRecordList addresses = STRecordsFromSingleAddressArray(
        singleAddressArrayFromSTRecords(pimfixtures::contacts().first()->recordsInRelationshipNamed(st::Addresses)));
    ASSERT_EQ(addresses.size(), 3);
    EXPECT_EQ(addresses[1]->stringForFieldOfType("street"), "1 Main St\nApt 4\nSpringfield, IL 62701 USA");
    EXPECT_EQ(addresses[1]->stringForFieldOfType("type"), "home");
    EXPECT_EQ(addresses[1]->stringForFieldOfType(st::DeviceRecordId), "C1_address_1");
}

TEST(DialectGroups, BothWays)
{
    for (const STRecordPtr &g : pimfixtures::groups()) {
        QVariantMap json = JSONGroupRecordFromSTRecord(*g);
        EXPECT_EQ(json.contains("members"), !g->recordsInRelationshipNamed(st::Members).isEmpty());
        json.insert("id", g->identifier());
        const STRecordPtr back = STGroupRecordFromJSONRecord(json);
        EXPECT_EQ(back->identifier(), g->identifier());
        EXPECT_EQ(back->stringForFieldOfType("name"), g->stringForFieldOfType("name"));
        const STRecordList members = back->recordsInRelationshipNamed(st::Members);
        ASSERT_EQ(members.size(), g->recordsInRelationshipNamed(st::Members).size());
        for (int i = 0; i < members.size(); ++i) {
            EXPECT_TRUE(members[i]->isPlaceholder());
            EXPECT_EQ(members[i]->identifier(), g->recordsInRelationshipNamed(st::Members)[i]->identifier());
        }
    }
    EXPECT_EQ(STGroupRecordFromJSONRecord({{"name", ""}})->stringForFieldOfType("name"), "<no name>");
    EXPECT_FALSE(STGroupRecordFromJSONRecord({{"id", "g"}})->hasFieldOfType("name"));
}

TEST(DialectEvents, RoundTripFieldByField)
{
    for (const STRecordPtr &e : pimfixtures::events()) {
        QVariantMap json = JSONEventRecordFromSTRecord(*e);
        json.insert("id", e->identifier());
        const STRecordPtr back = STEventRecordFromJSONRecord(json);
        EXPECT_EQ(back->identifier(), e->identifier());
        const bool allDay = e->valueForFieldOfType("x-ms-all-day").toInt() != 0;
        expectFieldsKept(*e, *back, {"exdate", "detached dates"});
        const STDate start = back->valueForFieldOfType(st::DtStart).value<STDate>();
        EXPECT_EQ(start.timeZone(), allDay ? "GMT" : e->valueForFieldOfType(st::DtStart).value<STDate>().timeZone());
        EXPECT_EQ(start.isDateOnly(), allDay);
        const STRecordList recur = e->recordsInRelationshipNamed(st::RecurRel);
        ASSERT_EQ(back->recordsInRelationshipNamed(st::RecurRel).size(), recur.size());
        if (!recur.isEmpty()) {
            EXPECT_EQ(recurrenceRuleFromSTRecurrence(*back->recordsInRelationshipNamed(st::RecurRel)[0]), json.value("rrule"));
        }
        const STRecordList alarms = back->recordsInRelationshipNamed(st::VAlarms);
        ASSERT_EQ(alarms.size(), e->recordsInRelationshipNamed(st::VAlarms).size());
        for (int i = 0; i < alarms.size(); ++i) {
            EXPECT_EQ(alarms[i]->identifier(), QString());
            expectFieldsKept(*e->recordsInRelationshipNamed(st::VAlarms)[i], *alarms[i]);
        }
    }
}

TEST(DialectEvents, WriterAndReaderEdgeCases)
{
    const STRecordList events = pimfixtures::events();
    // A weekly rule without days repeats on the start's weekday; the record is left alone.
    const STRecordPtr yoga = events[5];
    const QVariantMap json = JSONEventRecordFromSTRecord(*yoga);
    EXPECT_EQ(json.value("rrule").toString(), "FREQ=WEEKLY;COUNT=10;BYDAY=WE;");
    ASSERT_FALSE(yoga->recordsInRelationshipNamed(st::RecurRel).isEmpty());
    EXPECT_FALSE(yoga->recordsInRelationshipNamed(st::RecurRel)[0]->hasFieldOfType("byday"));
    EXPECT_EQ(json.value("exdate").toString(), "20130327T170000Z,20130403T160000Z,20130410T160000Z");
    EXPECT_EQ(json.value("x-ms-all-day"), QVariant(0));
    EXPECT_EQ(json.value("x-wr-timezone").toString(), "Europe/Berlin");
    EXPECT_FALSE(yoga->hasFieldOfType("x-ms-all-day"));
    EXPECT_EQ(json.value("valarms").toList().value(0).toMap(),
              (QVariantMap{{"trigger", -900}, {"x-ms-trigger-type", "x-seconds-offset"}, {"uid", "E6_alarm_0"}}));
    const QList<STDate> exdates = STEventRecordFromJSONRecord(json)->valueForFieldOfType("exdate").toList().isEmpty()
                                      ? QList<STDate>()
                                      : STExceptionDatesFromAndroidExDates(json.value("exdate").toString());
    ASSERT_EQ(exdates.size(), 3);
    EXPECT_EQ(exdates[2].utcTimeString(), "20130410160000");
    EXPECT_TRUE(STExceptionDatesFromAndroidExDates("").isEmpty());
    EXPECT_EQ(STExceptionDatesFromAndroidExDates("garbage,20130410T160000Z").size(), 1);
    EXPECT_EQ(AndroidExDatesFromSTExceptionDates({STDate("x", "GMT"), STDate("20130410160000", "GMT")}),
              "20130410T160000Z");

    struct Case
    {
        QVariant allDay;
        QVariant duration;
    } cases[] = {{1, 3}, {"TRUE", 3}, {0, QVariant()}, {"yes", QVariant()}};
    for (const Case &c : cases) {
        const STRecordPtr e = STEventRecordFromJSONRecord({{"x-ms-all-day", c.allDay},
                                                           {"dtstart", "20130310000000"},
                                                           {"dtend", "20130313000000"},
                                                           {"x-wr-timezone", "America/New_York"},
                                                           {"summary", ""},
                                                           {"priority", 2}});
        EXPECT_EQ(e->valueForFieldOfType("x-ms-all-day-duration"), c.duration) << c.allDay.toString().toStdString();
        EXPECT_FALSE(e->hasFieldOfType("summary"));
        EXPECT_EQ(e->valueForFieldOfType("priority").toInt(), 2);
        const STDate start = e->valueForFieldOfType("dtstart").value<STDate>();
        EXPECT_EQ(start.isDateOnly(), c.duration.isValid());
        EXPECT_EQ(start.timeZone(), c.duration.isValid() ? "GMT" : "America/New_York");
    }
    vtr::setDefaultTimeZone(QTimeZone("Asia/Tokyo"));
    EXPECT_EQ(STEventRecordFromJSONRecord({{"dtstart", "20130310000000"}, {"x-wr-timezone", "Mars/Olympus"}})
                  ->valueForFieldOfType("dtstart").value<STDate>().timeZone(),
              "Asia/Tokyo");
    vtr::setDefaultTimeZone(QTimeZone());
    EXPECT_TRUE(STEventRecordFromJSONRecord({{"dtstart", "20130310000000"}})
                    ->valueForFieldOfType("dtstart").value<STDate>().isFloating());
}

TEST(DialectCalendarsAndToDos, BothWays)
{
    for (const STRecordPtr &k : pimfixtures::calendars()) {
        QVariantMap json = JSONCalendarRecordFromSTRecord(*k);
        json.insert("id", k->identifier());
        const STRecordPtr back = STCalendarRecordFromJSONRecord(json);
        EXPECT_EQ(back->identifier(), k->identifier());
        expectFieldsKept(*k, *back, {"device_record_id"});
    }
    for (const STRecordPtr &t : pimfixtures::toDos()) {
        const QVariantMap json = JSONToDoRecordFromSTRecord(*t);
        EXPECT_FALSE(json.contains("uid"));
        const STRecordPtr back = STToDoRecordFromJSONRecord(json);
        EXPECT_EQ(back->identifier(), t->identifier());
        expectFieldsKept(*t, *back, {"x-wr-calname"});
        EXPECT_FALSE(back->hasFieldOfType("x-wr-calname"));
        EXPECT_EQ(back->recordsInRelationshipNamed("calendar").size(), t->hasFieldOfType("x-wr-calname") ? 1 : 0);
    }
    const STRecordPtr t = STToDoRecordFromJSONRecord({{"note", ""}, {"summary", ""}, {"url", vtr::jsonNull()}});
    EXPECT_TRUE(t->hasFieldOfType("description"));
    EXPECT_FALSE(t->hasFieldOfType("summary"));
    EXPECT_FALSE(t->hasFieldOfType("url"));
    EXPECT_EQ(JSONAlarmRecordFromSTRecord(*pimfixtures::events()[5]->recordsInRelationshipNamed(st::VAlarms)[0]),
              (QVariantMap{{"trigger", -900}, {"x-ms-trigger-type", "x-seconds-offset"}}));
    EXPECT_EQ(STAlarmRecordFromJSONRecord({{"id", "a"}})->stringForFieldOfType("x-ms-trigger-type"), "x-seconds-offset");
    STRecord attendee;
    attendee.addFieldsFromDictionary({{"device_record_id", "e1"}, {"uuid", "u"}, {"name", "Ann"}, {"mailto", "a@b"},
                                      {"organizer", 1}, {"role", "chair"}});
    EXPECT_EQ(JSONAttendeeRecordFromSTRecord(attendee),
              (QVariantMap{{"eventId", "e1"}, {"externalId", "u"}, {"name", "Ann"}, {"attendeeemail", "a@b"}, {"organizer", 1}}));
    EXPECT_FALSE(STAttendeeRecordFromJSONRecord({{"name", "Ann"}}));
}

TEST(DialectLogsAndNotes, ReadersAndWriters)
{
    struct Case
    {
        QVariantMap json;
        QString type;
        int kind;
        QString number;
    } cases[] = {
        {{{"of", "call"}, {"dir", "Incoming"}, {"duration", 0}, {"number", "555"}}, "call", 2, "555"},
        {{{"of", "call"}, {"dir", "Incoming"}, {"number", "555"}}, "call", 0, "555"},
        {{{"of", "call"}, {"dir", "Answered"}}, "call", 0, QString()},
        {{{"of", "sms"}, {"dir", "Answered"}, {"number", "sms://+15551234567"}}, "sms", 3, "5551234567"},
        {{{"of", "sms"}, {"dir", "Missed"}, {"number", "+445551234567"}}, "sms", 2, "+445551234567"},
        {{{"of", "sms"}, {"dir", "Sideways"}}, "sms", 0, QString()},
    };
    for (const Case &c : cases) {
        const STRecordPtr r = stRecordFromDeviceRecord(c.json);
        ASSERT_TRUE(r);
        EXPECT_EQ(r->type(), c.type);
        EXPECT_EQ(r->valueForFieldOfType("type").toInt(), c.kind);
        EXPECT_EQ(r->stringForFieldOfType("number"), c.number);
        EXPECT_EQ(r->valueForFieldOfType("deviceType").toInt(), 6);
        EXPECT_EQ(r->recordState(), STStateNew);
    }
    const STRecordPtr call = STCallLogRecordFromJSONRecord({{"date", "20130301120000"}, {"duration", "61"}});
    EXPECT_EQ(call->valueForFieldOfType("duration").toInt(), 61);
    EXPECT_EQ(call->valueForFieldOfType("startDate").value<VtrCalendarDate>().st2String(), "20130301120000");

    const STRecordList notes = pimfixtures::notes();
    EXPECT_EQ(JSONNoteRecordFromSTRecord(*notes[0]),
              (QVariantMap{{"summary", "Shopping"}, {"note", "Milk, 卵, pão"}, {"category_name", "Home"},
                           {"creationDate", "20130301080000"}, {"modificationDate", "20130302093000"}}));
    EXPECT_EQ(JSONNoteRecordFromSTRecord(*notes[1]).value("category_name").toString(), "Unfiled");
    // Categories in every list type a reader holds them in.
    for (const auto &[categories, written] : {std::pair{QVariant(QStringList{"Work", "Home"}), "Work"},
                                              {QVariant(QStringList()), "Unfiled"},
                                              {QVariant(QVariantList{"Home"}), "Home"}}) {
        STRecordPtr note = STRecord::record();
        note->setType("notes");
        note->setValue(categories, "categories");
        EXPECT_EQ(JSONNoteRecordFromSTRecord(*note).value("category_name").toString(), written) << written;
    }

    const QVariantMap tree = deviceRecordFromWebOSDeviceRecord(
        {{"summary", "S"}, {"note", ""}, {"category_name", "Home"}, {"creationDate", "20130301080000"}, {"other", 1}});
    EXPECT_EQ(tree.value("Vantrel_Attributes").toMap().value("of").toString(), "notes");
    EXPECT_EQ(tree.value("field").toList().size(), 2); // creationDate and title; the empty content is left out
    const QVariantMap groups = tree.value("record").toMap();
    EXPECT_EQ(groups.value("Vantrel_Attributes").toMap().value("of").toString(), "groups");
    EXPECT_EQ(groups.value("record").toList().value(0).toMap().value("field").toMap().value("value").toString(), "Home");
}

TEST(DialectDispatch, ByType)
{
    LogCapture log;
    EXPECT_EQ(stRecordFromDeviceRecord({{"of", "task"}, {"uuid", "t"}})->type(), st::ToDo);
    EXPECT_EQ(stRecordFromDeviceRecord({{"of", "event"}})->type(), st::Event);
    EXPECT_EQ(stRecordFromDeviceRecord({{"of", "contact"}})->type(), st::Contact);
    EXPECT_FALSE(stRecordFromDeviceRecord({{"of", "vtodo"}}));
    EXPECT_FALSE(stRecordFromDeviceRecord({{"name", "x"}}));
    EXPECT_EQ(log.lines, (QStringList{"Unknown record type: vtodo", "You need to attach a record type to the JSON record."}));

    const STRecordPtr group = pimfixtures::groups()[0];
    EXPECT_EQ(deviceRecordFromSTRecord(*group), JSONGroupRecordFromSTRecord(*group));
    STRecord alarm;
    alarm.setType(st::Alarm);
    alarm.setValue(-900, "trigger");
    EXPECT_TRUE(deviceRecordFromSTRecord(alarm).isEmpty());
}

TEST(CompanionFile, BadLinesSkipOnlyThemselves)
{
    LogCapture log;
    const QByteArray file = exportLine("contacts", {{"id", "1"}, {"first", "A"}}) + "\n   \n{broken\n" +
                            "[1,2]\n{\"database\":\"contacts\",\"record\":[1]}\n" + QByteArray(1000, '{') + "\n" +
                            exportLine("groups", {{"id", "g"}, {"name", "G"}}) + "\xff\xfe{}\n" +
                            exportLine("events", {{"id", "e"}, {"of", "call"}}) +
                            exportLine("weather", {{"id", "w"}});
    int lines = 0;
    const QList<CompanionLine> read = readCompanionLines(file, &lines);
    EXPECT_EQ(lines, 12);
    ASSERT_EQ(read.size(), 4);
    EXPECT_EQ(read[0].lineNumber, 1);
    EXPECT_EQ(read[1].database, "groups");
    EXPECT_EQ(stRecordFromCompanionLine(read[0])->stringForFieldOfType("first"), "A");
    EXPECT_EQ(stRecordFromCompanionLine(read[1])->type(), st::Group);
    EXPECT_EQ(stRecordFromCompanionLine(read[2])->type(), st::Call); // the record's own "of" wins
    EXPECT_FALSE(stRecordFromCompanionLine(read[3]));
    EXPECT_TRUE(log.lines.isEmpty());
    EXPECT_TRUE(readCompanionLines(QByteArrayView()).isEmpty());
}

TEST(CompanionFile, RecordsThatCannotBeWrittenAreLeftOutWithoutTheirContents)
{
    LogCapture log;
    STRecordList records = pimfixtures::contacts().mid(0, 2);
    int written = 0;
    const QByteArray lines = exportLines("contacts", records,
                                         [](const STRecord &r) -> QVariantMap {
                                             if (r.identifier() == "C1") throw std::runtime_error("bad");
                                             return JSONContactRecordFromSTRecord(r);
                                         },
                                         &written);
    EXPECT_EQ(written, 1);
    EXPECT_EQ(lines.count('\n'), 1);
    ASSERT_EQ(log.lines.size(), 1);
    EXPECT_EQ(log.lines[0], "Record C1 (contact) will not be transferred to your device due to an error in its format.");
    EXPECT_FALSE(log.lines[0].contains("Mara"));
}

TEST(ContactKinds, UnknownKindsKeepTheirValueAsOther)
{
    struct Case
    {
        QString relationship, storeType, label, type, expectedLabel;
    } cases[] = {
        {"phones", "work fax", "", "fax_work", ""},
        {"phones", "iPhone", "", "other", "iPhone"},
        {"phones", "satellite", "boat", "other", "boat"},
        {"emails", "home", "", "email_home", ""},
        {"emails", "school", "", "email_other", "school"},
        {"addresses", "vacation", "", "other", "vacation"},
        {"IMs", "work", "", "im_work", ""},
        {"IMs", "gaming", "", "im_other", "gaming"},
    };
    for (const Case &c : cases) {
        const STMappedKind k = mapContactKind(c.relationship, c.storeType, c.label);
        EXPECT_EQ(k.type, c.type) << c.storeType.toStdString();
        EXPECT_EQ(k.label, c.expectedLabel) << c.storeType.toStdString();
    }
}

TEST(FlatRecords, ContactsAndTasks)
{
    using namespace ContactFlatRecords;
    const QVariantMap contact{{"uid", "C1"}, {"first", "Ann"}, {"isCompany", "person"}, {"phone_ids", QVariantList{"p1", "p2"}},
                              {"birthday", QDateTime(QDate(1980, 2, 29), QTime(0, 0), QTimeZone::utc())},
                              {"nickname", "Annie"}, {"image", QByteArray("ab")}};
    EXPECT_EQ(contactDictionary(contact),
              (QVariantMap{{"uid", "C1"}, {"first", "Ann"}, {"isCompany", 0}, {"phone_ids", "p1,p2"}}));
    EXPECT_EQ(contactDictionary({{"isCompany", "company"}}).value("isCompany").toInt(), 1);
    const QVariantList dates = dateArray({}, contact, "C1");
    ASSERT_EQ(dates.size(), 1);
    EXPECT_EQ(dates[0].toMap().value("type").toString(), "birthday");
    EXPECT_EQ(dates[0].toMap().value("value").toString(), "19800229000000");
    EXPECT_EQ(nickArray(contact, "C1").value(0).toMap().value("label").toString(), "nick_default");
    EXPECT_EQ(imageArray(contact, "C1").value(0).toMap().value("image").toString(), "YWI=");
    EXPECT_TRUE(imageArray({}, "C1").isEmpty());
    EXPECT_EQ(dictionaryForTypeValueArray({QVariantMap{{"type", "a"}, {"value", 1}}, QVariantMap{{"type", "a"}, {"value", 2}},
                                           QVariantMap{{"value", 3}}}),
              (QVariantMap{{"a", 2}}));
    EXPECT_EQ(customArray({QVariantMap{{"uid", "x"}, {"label", "L"}, {"value", "V"}}, QVariantMap{{"value", "V"}}}, "C1").size(), 1);
    EXPECT_EQ(groupMembersArray({{{"uid", "G"}, {"members", QVariantList{"C1", "C2"}}}}).size(), 2);
    EXPECT_EQ(groupArray({{{"uid", "G"}, {"name", "N"}, {"members", QVariantList{"C1"}}}}),
              (QVariantList{QVariantMap{{"uid", "G"}, {"name", "N"}}}));

    using namespace TaskFlatRecords;
    EXPECT_EQ(taskDictionary({{"uid", "T"}, {"alarm_ids", QVariantList{"a"}}, {"other", 1}}),
              (QVariantMap{{"uid", "T"}, {"alarm_ids", "a"}}));
    EXPECT_EQ(calendarMembersArray({{{"uid", "K"}, {"tasks", QVariantList{"T"}}}}).value(0).toMap().value("entity_name"),
              "task");
    EXPECT_EQ(recurrenceArray({QVariantMap{{"uid", "r"}, {"frequency", "weekly"}, {"bymonth", QVariantList{3, 9}}}}, "T"),
              (QVariantList{QVariantMap{{"uid", "r"}, {"parentID", "T"}, {"freq", "weekly"}, {"bymonth", "3,9"}}}));
    EXPECT_EQ(alarmArray({QVariantMap{{"uid", "a"}, {"triggerduration", -900}}}, "T").value(0).toMap().value("triggerduration"),
              "-900");
    EXPECT_TRUE(TaskFlatRecords::customArray({QVariantMap{}}, "T").isEmpty());
}
