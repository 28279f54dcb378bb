// Calendars and events from the store into records: snapshot dictionaries,
// event fields, all-day events, recurrences with a count, alarms.
#include "ProcessZone.h"
#include "support/PimRecorder.h"

#include "foundation/VtrCalendarDate.h"
#include "pim/EventDatabase.h"
#include "pim/records/STDate.h"
#include "pim/records/STRecurrence.h"
#include "pim/store/JsonFixtureSource.h"

#include <QTimeZone>

#include <gtest/gtest.h>

using namespace syncstore;

namespace {

class EventsRecords : public ::testing::Test
{
protected:
    void SetUp() override
    {
        for (const QVariant &v : db.syncSessionForSnapshot()) events.insert(v.toMap().value(QStringLiteral("uid")).toString(), v.toMap());
        ASSERT_EQ(events.size(), 3);
    }
    STRecordPtr convert(const QString &uid)
    {
        const QVariantMap d = events.value(uid);
        STRecordPtr r = db.convertSyncRecordToSTRecord(d, {{db.mappingEntityKey(), entity::Event}});
        db.processRecurrenceForSyncRecord(d, *r);
        db.processAlarmsForSyncRecord(d, *r);
        return r;
    }
    static QString utc(const STRecord &r, const QString &field)
    {
        return r.valueForFieldOfType(field).value<STDate>().utcTimeString();
    }

    ProcessZone zone{"Europe/Berlin"};
    EventDatabase db{nullptr, pimtest::fixtureStore(QStringLiteral("store_events.json"))};
    QHash<QString, QVariantMap> events;
};

}  // namespace

TEST_F(EventsRecords, SnapshotDictionaries)
{
    const QVariantMap standup = events.value(QStringLiteral("standup"));
    EXPECT_EQ(standup.value(QStringLiteral("x-ms-calendar-id")).toString(), QStringLiteral("cal1"));
    EXPECT_EQ(standup.value(QStringLiteral("recurrence_ids")).toStringList(), QStringList{"standup/r"});
    EXPECT_EQ(standup.value(QStringLiteral("alarm_ids")).toStringList(),
              (QStringList{"standup/a0", "standup/a1", "standup/a2", "standup/a3"}));
    EXPECT_EQ(events.value(QStringLiteral("moved")).value(QStringLiteral("main event")).toString(), QStringLiteral("standup"));
    const QVariantList calendars = db.calendarArrayAll();
    ASSERT_EQ(calendars.size(), 2);
    const STRecordPtr cal = db.convertSyncRecordToSTRecord(calendars.first().toMap(), {{db.mappingEntityKey(), entity::Calendar}});
    EXPECT_EQ(cal->type(), QStringLiteral("calendar"));
    EXPECT_EQ(cal->stringForFieldOfType(QStringLiteral("x-wr-calname")), QStringLiteral("Home"));
    EXPECT_EQ(cal->stringForFieldOfType(QStringLiteral("x-wr-readonly")), QStringLiteral("1"));

    // A summary longer than 1024 characters is cut, on whole characters.
    const QString emoji = QString::fromUtf8("\xF0\x9F\x8E\x89");
    const QString x1023(1023, QLatin1Char('x'));
    const struct
    {
        QString summary, kept;
    } cuts[] = {{QString(2000, QLatin1Char('x')), QString(1024, QLatin1Char('x'))},
                {x1023 + emoji, x1023 + emoji},
                {x1023 + emoji + emoji, x1023 + emoji}};
    for (const auto &c : cuts) {
        QVariantMap doc{{"events", QVariantList{QVariantMap{{"identifier", "long"}, {"entity", entity::Event},
                                                            {"summary", c.summary}}}}};
        std::vector<std::unique_ptr<SyncSource>> sources;
        sources.push_back(std::make_unique<JsonFixtureSource>(doc));
        EventDatabase longDb(nullptr, std::make_shared<SyncManager>(std::move(sources)));
        const QVariantList snapshot = longDb.syncSessionForSnapshot();
        ASSERT_EQ(snapshot.size(), 1);
        EXPECT_EQ(snapshot.first().toMap().value(QStringLiteral("summary")).toString(), c.kept) << c.summary.size();
    }
}

TEST_F(EventsRecords, TimedEventWithCountedRecurrenceAndAlarms)
{
    const STRecordPtr r = convert(QStringLiteral("standup"));
    EXPECT_EQ(r->type(), QStringLiteral("vevent"));
    EXPECT_EQ(r->stringForFieldOfType(QStringLiteral("class")), QStringLiteral("private"));
    EXPECT_EQ(utc(*r, QStringLiteral("dtstart")), QStringLiteral("20300304083000"));
    EXPECT_EQ(r->fieldOfType(QStringLiteral("dtstart")).valueClass(), QMetaType::fromType<STDate>());

    // Five daily occurrences: the rule ends on the fifth day at the start's time.
    const STRecordList recur = r->recordsInRelationshipNamed(QStringLiteral("recur"));
    ASSERT_EQ(recur.size(), 1);
    EXPECT_EQ(recur.first()->stringForFieldOfType(QStringLiteral("freq")), QStringLiteral("daily"));
    EXPECT_EQ(utc(*recur.first(), QStringLiteral("until")), QStringLiteral("20300308083000"));
    EXPECT_FALSE(recur.first()->hasFieldOfType(QStringLiteral("count")));
    EXPECT_EQ(recur.first()->stringForFieldOfType(QStringLiteral("interval")), QStringLiteral("1"));

    // Only alarms before the start that are durations survive.
    QStringList alarms;
    for (const STRecordPtr &a : r->recordsInRelationshipNamed(QStringLiteral("valarms")))
        alarms.append(a->valueForFieldOfType(QStringLiteral("trigger")).toString() + QLatin1Char(' ') +
                      a->stringForFieldOfType(QStringLiteral("x-ms-trigger-type")));
    EXPECT_EQ(alarms, (QStringList{"-900 x-seconds-offset", "-60 x-seconds-offset"}));
    EXPECT_FALSE(r->hasFieldOfType(QStringLiteral("device_parent_record_id")));

    const STRecordPtr moved = convert(QStringLiteral("moved"));
    EXPECT_EQ(moved->stringForFieldOfType(QStringLiteral("device_parent_record_id")), QStringLiteral("standup"));
    EXPECT_EQ(moved->stringForFieldOfType(QStringLiteral("parent")), QStringLiteral("standup"));
    EXPECT_EQ(utc(*moved, QStringLiteral("recurrence-id")), QStringLiteral("20300305083000"));
}

TEST_F(EventsRecords, AllDayEventExceptionDatesAndWeeklyRule)
{
    const STRecordPtr r = convert(QStringLiteral("holiday"));
    EXPECT_EQ(r->stringForFieldOfType(QStringLiteral("x-ms-all-day-duration")), QStringLiteral("2"));
    EXPECT_EQ(utc(*r, QStringLiteral("dtstart")), QStringLiteral("20300301000000"));
    EXPECT_EQ(utc(*r, QStringLiteral("dtend")), QStringLiteral("20300303000000"));
    QStringList exdates;
    for (const QVariant &v : r->valueForFieldOfType(QStringLiteral("exdate")).toList()) exdates.append(v.value<STDate>().utcTimeString());
    EXPECT_EQ(exdates, (QStringList{"20300302000000", "20300301000000"}));

    const STRecordPtr rule = r->recordsInRelationshipNamed(QStringLiteral("recur")).value(0);
    ASSERT_TRUE(rule);
    EXPECT_FALSE(rule->hasFieldOfType(QStringLiteral("count"))) << "a count of none is no count";
    EXPECT_FALSE(recurrenceRuleFromSTRecurrence(*rule).contains(QStringLiteral("COUNT"))) << recurrenceRuleFromSTRecurrence(*rule).toStdString();
    EXPECT_EQ(rule->stringForFieldOfType(QStringLiteral("wkst")), QStringLiteral("su"));
    EXPECT_FALSE(rule->hasFieldOfType(QStringLiteral("bymonth")));
    EXPECT_EQ(rule->valueForFieldOfType(QStringLiteral("byweekno")).toList(), QVariantList{3});
    const QVariantList byday = rule->valueForFieldOfType(QStringLiteral("byday")).toList();
    ASSERT_EQ(byday.size(), 2);
    EXPECT_EQ(byday.at(1).value<STRecurrenceByDay>(), STRecurrenceByDay(QStringLiteral("fr"), -1));
}
