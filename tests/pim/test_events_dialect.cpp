// Events in the record JSON dialect: the days of all-day events and their
// durations, and the zone written for an event's dates.
#include "ProcessZone.h"
#include "QStringPrinting.h"

#include "pim/dialect/STRecordAndroid.h"
#include "pim/records/STDate.h"
#include "pim/records/STVocabulary.h"

#include <gtest/gtest.h>

// An all-day event keeps its days west of UTC, and has a duration only when
// it has both dates.
TEST(EventsDialect, AllDayEventsKeepTheirDays)
{
    ProcessZone zone("America/New_York");
    const struct
    {
        QVariantMap json;
        const char *start, *end;
        QVariant duration;
    } cases[] = {
        {{{"dtstart", "20120301000000"}, {"dtend", "20120302000000"}, {"x-wr-timezone", "America/New_York"}},
         "20120301000000", "20120302000000", 1},
        {{{"dtstart", "20120301000000"}, {"dtend", "20120304000000"}}, "20120301000000", "20120304000000", 3},
        {{{"dtend", "20120302000000"}, {"x-wr-timezone", "America/New_York"}}, nullptr, "20120302000000", QVariant()},
        {{{"dtstart", "20120301000000"}, {"x-wr-timezone", "America/New_York"}}, "20120301000000", nullptr, QVariant()},
    };
    for (const auto &c : cases) {
        QVariantMap json = c.json;
        json.insert("x-ms-all-day", 1);
        const STRecordPtr e = STEventRecordFromJSONRecord(json);
        EXPECT_EQ(e->valueForFieldOfType("x-ms-all-day-duration"), c.duration) << c.start << " " << c.end;
        for (const auto &[field, digits] : {std::pair{st::DtStart, c.start}, {st::DtEnd, c.end}}) {
            if (!digits) {
                EXPECT_FALSE(e->hasFieldOfType(field)) << field.toStdString();
                continue;
            }
            const STDate d = e->valueForFieldOfType(field).value<STDate>();
            EXPECT_EQ(d.utcTimeString(), digits) << field.toStdString();
            EXPECT_EQ(d.timeZone(), "GMT");
            EXPECT_TRUE(d.isDateOnly());
        }
    }
}

// The zone written beside an event's dates is its start's, whatever other
// dates (created, modified, the end) are shown in.
TEST(EventsDialect, TheZoneWrittenIsTheStarts)
{
    auto event = [](const QList<std::pair<QString, QString>> &dates) {
        STRecordPtr e = STRecord::record();
        e->setType(st::Event);
        for (const auto &[field, zone] : dates)
            e->setValue(QVariant::fromValue(STDate("20120301100000", zone)), field);
        return e;
    };
    const struct
    {
        QList<std::pair<QString, QString>> dates;
        const char *zone;
    } cases[] = {
        {{{st::DtStart, "Europe/Berlin"}, {st::LastMod, "GMT"}, {st::Created, "Asia/Tokyo"}}, "Europe/Berlin"},
        {{{st::DtStart, "America/New_York"}, {st::DtEnd, "Europe/London"}, {st::LastMod, "GMT"}}, "America/New_York"},
        {{{st::LastMod, "GMT"}}, "GMT"}, // no start: the other date's
    };
    for (const auto &c : cases)
        EXPECT_EQ(JSONEventRecordFromSTRecord(*event(c.dates)).value("x-wr-timezone").toString(), c.zone) << c.zone;
}
