// To-dos and notes from the store into records.
#include "support/PimRecorder.h"

#include "pim/NoteDatabase.h"
#include "pim/TaskDatabase.h"
#include "pim/records/STDate.h"

#include <gtest/gtest.h>

using namespace syncstore;

namespace {
const QString kFixture = QStringLiteral("store_tasks_notes.json");
}

TEST(TasksRecords, StatusDueDateCalendarAndAlarms)
{
    TaskDatabase db(nullptr, pimtest::fixtureStore(kFixture));
    const QVariantList tasks = db.syncSessionForSnapshot();
    ASSERT_EQ(tasks.size(), 3);
    EXPECT_EQ(tasks.first().toMap().value(QStringLiteral("alarm_ids")).toStringList(), (QStringList{"t1/a0", "t1/a1"}));
    EXPECT_EQ(tasks.first().toMap().value(QStringLiteral("x-ms-calendar-id")).toString(), QStringLiteral("home"));
    EXPECT_EQ(db.calendarArrayAll().size(), 2);

    QList<STRecordPtr> records;
    for (const QVariant &t : tasks) {
        records.append(db.convertSyncRecordToSTRecord(t.toMap(), {{db.mappingEntityKey(), entity::Task}}));
        ASSERT_TRUE(records.last());
        db.processAlarmsForSyncRecord(t.toMap(), *records.last());
    }
    const STRecord &call = *records.at(0);
    EXPECT_EQ(call.type(), QStringLiteral("vtodo"));
    EXPECT_EQ(call.stringForFieldOfType(QStringLiteral("status")), QStringLiteral("inprocess"));
    EXPECT_EQ(call.stringForFieldOfType(QStringLiteral("url")), QStringLiteral("http://example.com/a%20b"));
    EXPECT_EQ(call.valueForFieldOfType(QStringLiteral("priority")).toInt(), 5);
    const STDate due = call.valueForFieldOfType(QStringLiteral("due")).value<STDate>();
    EXPECT_TRUE(due.isDateOnly());
    EXPECT_EQ(due.utcTimeString(), QStringLiteral("20300110000000"));
    // Every alarm kind is converted; a duration gives seconds, a date a date.
    const STRecordList alarms = call.recordsInRelationshipNamed(QStringLiteral("valarms"));
    ASSERT_EQ(alarms.size(), 2);
    EXPECT_EQ(alarms.at(0)->valueForFieldOfType(QStringLiteral("trigger")).toInt(), -300);
    EXPECT_EQ(alarms.at(0)->stringForFieldOfType(QStringLiteral("x-ms-trigger-type")), QStringLiteral("x-seconds-offset"));
    EXPECT_EQ(alarms.at(0)->stringForFieldOfType(QStringLiteral("summary")), QStringLiteral("Soon"));
    EXPECT_EQ(alarms.at(1)->valueForFieldOfType(QStringLiteral("trigger")).value<STDate>().utcTimeString(),
              QStringLiteral("20300110120000"));
    EXPECT_EQ(alarms.at(1)->stringForFieldOfType(QStringLiteral("x-ms-trigger-type")), QStringLiteral("date-time"));

    const STRecord &keep = *records.at(1);
    EXPECT_EQ(keep.stringForFieldOfType(QStringLiteral("status")), QStringLiteral("needsaction"));
    EXPECT_FALSE(keep.valueForFieldOfType(QStringLiteral("due")).value<STDate>().isDateOnly());
    EXPECT_EQ(keep.valueForFieldOfType(QStringLiteral("due")).value<STDate>().utcTimeString(), QStringLiteral("20300110150000"));
    EXPECT_EQ(records.at(2)->stringForFieldOfType(QStringLiteral("status")), QStringLiteral("on-hold"));
    EXPECT_TRUE(records.at(2)->hasFieldOfType(QStringLiteral("completed")));
}

TEST(NotesRecords, FlattenedContentDatesAndCategories)
{
    NoteDatabase db(nullptr, pimtest::fixtureStore(kFixture));
    const QVariantList notes = db.syncSessionForSnapshot();
    ASSERT_EQ(notes.size(), 2);
    const QString flat = notes.first().toMap().value(QStringLiteral("content")).toString();
    EXPECT_EQ(flat.trimmed(), QStringLiteral("Milk & eggs")) << "no object mark of the picture";
    EXPECT_EQ(notes.last().toMap().value(QStringLiteral("content")).toString(), QStringLiteral("<b>as typed</b>"));

    const STRecordPtr shopping = db.convertSyncRecordToSTRecord(notes.first().toMap(), {{db.mappingEntityKey(), entity::Note}});
    ASSERT_TRUE(shopping);
    EXPECT_EQ(shopping->type(), QStringLiteral("notes"));
    EXPECT_EQ(shopping->stringForFieldOfType(QStringLiteral("title")), QStringLiteral("Shopping"));
    EXPECT_EQ(shopping->stringForFieldOfType(QStringLiteral("type")), QStringLiteral("text/html"));
    EXPECT_EQ(shopping->valueForFieldOfType(QStringLiteral("creationDate")).value<STDate>().utcTimeString(), QStringLiteral("20300101100000"));
    EXPECT_FALSE(shopping->hasFieldOfType(QStringLiteral("modificationDate"))) << "not a date";
    EXPECT_EQ(shopping->valueForFieldOfType(QStringLiteral("categories")).toStringList(), QStringList{"Unfiled"});
    EXPECT_FALSE(db.convertSyncRecordToSTRecord(notes.first().toMap(), {{db.mappingEntityKey(), entity::Task}}));

    const QVariantMap never = NoteDatabase(nullptr, pimtest::fixtureStore(kFixture)).manifestInfo();
    EXPECT_EQ(never.value(QStringLiteral("note_cnt")).toInt(), 0);
    EXPECT_EQ(never.value(QStringLiteral("data_size")).toLongLong(), 0);
    EXPECT_EQ(never.value(QStringLiteral("data_file")).toString(), QStringLiteral("sl_notes.json"));
    EXPECT_EQ(never.value(QStringLiteral("title")).toString(), QStringLiteral("Notes"));
}
