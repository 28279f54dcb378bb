// Recurring events from iCalendar files through the events reader into
// export records: the exported rule (a count turned into the last
// occurrence's date where the expansion reads the whole rule, the count kept
// where it does not) gives the occurrences of the file's rule, read back by
// our own expansion and by libical.
#include "ProcessZone.h"
#include "QStringPrinting.h"
#include "TestEnvironment.h"

#include "pim/EventDatabase.h"
#include "pim/records/RecurrenceExpansion.h"
#include "pim/records/STDate.h"
#include "pim/store/ICalRecords.h"
#include "support/PimRecorder.h"
#include "rrule/RfcRuleCorpus.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

using namespace syncstore;

namespace {

constexpr int kLimit = 60;

QDateTime wall(int y, int m, int d, int h = 9, int mi = 0) { return QDateTime(QDate(y, m, d), QTime(h, mi), Qt::UTC); }

using rfccorpus::countOf;
using rfccorpus::startOf;

// At most kLimit occurrences as the references write them.
QStringList shown(const QList<VtrCalendarDate> &dates, bool allDay) { return rfccorpus::shown(dates, kLimit, allDay); }

QStringList withStart(const QStringList &ref, const QString &start, int count)
{
    return rfccorpus::withStart(ref, start, count, kLimit);
}

// The file's text of a rule: a floating UNTIL of a zoned start is written in
// UTC, as the standard asks.
QByteArray ruleInFile(const rfccorpus::RuleText &r)
{
    const QRegularExpressionMatch m = QRegularExpression("UNTIL=(\\d{8}T\\d{6})(;|$)").match(QString::fromLatin1(r.rule));
    if (!m.hasMatch() || r.allDay) return r.rule;
    const QDateTime u = QDateTime::fromString(m.captured(1), "yyyyMMdd'T'HHmmss");
    const VtrCalendarDate until = VtrCalendarDate::fromComponents(u.date().year(), u.date().month(), u.date().day(),
                                                                  u.time().hour(), u.time().minute(), u.time().second(),
                                                                  QTimeZone(r.zone));
    QByteArray rule = r.rule;
    return rule.replace(m.captured(1).toLatin1(), until.descriptionWithCalendarFormat("%Y%m%dT%H%M%SZ").toLatin1());
}

QByteArray eventText(const rfccorpus::RuleText &r, int n)
{
    QByteArray start;
    if (r.allDay)
        start = "DTSTART;VALUE=DATE:" + rfccorpus::startText(r);
    else if (r.zone == "UTC")
        start = "DTSTART:" + rfccorpus::startText(r) + "Z";
    else
        start = "DTSTART;TZID=" + r.zone + ":" + rfccorpus::startText(r);
    return "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nBEGIN:VEVENT\r\nUID:e" + QByteArray::number(n) + "\r\nSUMMARY:Series " +
           QByteArray::number(n) + "\r\n" + start + "\r\nRRULE:" + ruleInFile(r) + "\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n";
}

} // namespace

TEST(EventRulesExport, ExportedRulesGiveTheOccurrencesOfTheFile)
{
    ProcessZone zone{"Europe/Berlin"};
    QList<rfccorpus::RuleText> rules;
    auto add = [&](const char *rule, const QDateTime &start, const char *zoneId = "America/New_York", bool allDay = false) {
        rfccorpus::RuleText r;
        r.rule = rule;
        r.localStart = start;
        r.zone = zoneId;
        r.kind = QString::fromLatin1(rule);
        r.allDay = allDay;
        rules.append(r);
    };
    // Series that an export once cut short, and more of the kind.
    add("FREQ=WEEKLY;BYDAY=MO,WE,FR;COUNT=10", wall(2012, 3, 5));
    add("FREQ=MONTHLY;BYDAY=MO,TU,WE,TH,FR;BYSETPOS=-1;COUNT=6", wall(2012, 3, 30));
    add("FREQ=YEARLY;BYYEARDAY=1,100,-1;COUNT=7", wall(2012, 1, 1));
    add("FREQ=YEARLY;BYWEEKNO=1,20;BYDAY=MO;COUNT=5", wall(2013, 5, 13));
    add("FREQ=HOURLY;INTERVAL=3;COUNT=5", wall(2012, 3, 10, 22), "UTC");
    add("FREQ=MINUTELY;INTERVAL=20;BYHOUR=9,10;COUNT=8", wall(2012, 3, 5), "UTC");
    add("FREQ=DAILY;BYDAY=MO,TU,WE,TH,FR;COUNT=10", wall(2012, 3, 8));
    add("FREQ=DAILY;BYHOUR=9,17;COUNT=3", wall(2012, 3, 8));
    add("FREQ=WEEKLY;INTERVAL=2;BYDAY=TU,SU;COUNT=4", wall(1997, 8, 5)); // weeks from Monday
    add("FREQ=WEEKLY;INTERVAL=2;BYDAY=TU,SU;WKST=SU;COUNT=4", wall(1997, 8, 5));
    add("FREQ=MONTHLY;BYMONTHDAY=-1;COUNT=4", wall(2012, 1, 31));
    add("FREQ=DAILY;UNTIL=20120310T080000Z", wall(2012, 3, 5)); // ends before the start's time of day
    add("FREQ=WEEKLY;BYDAY=TU;COUNT=3", wall(2012, 3, 8)); // the start is no Tuesday
    add("FREQ=DAILY;COUNT=5", wall(2012, 3, 1), "America/New_York", true);
    add("FREQ=MONTHLY;BYDAY=-1FR;COUNT=4", wall(2012, 3, 30), "America/New_York", true);
    add("FREQ=YEARLY;BYMONTH=2;BYMONTHDAY=30;COUNT=3", wall(2012, 3, 5)); // never: the start alone
    add("FREQ=SECONDLY;BYMONTH=2;BYMONTHDAY=30;COUNT=3", wall(2012, 3, 5), "UTC"); // read only in part
    add("FREQ=WEEKLY;BYDAY=1MO;COUNT=3", wall(2012, 3, 5)); // no meaning (a place in a week): the count stays
    const QList<rfccorpus::RuleText> generated = rfccorpus::makeRuleTexts(400, 23);
    rules += generated;

    const QString folder = testenv::makeTempDir(QStringLiteral("rules"));
    for (qsizetype i = 0; i < rules.size(); ++i)
        testenv::writeFile(folder + QStringLiteral("/e%1.ics").arg(i), eventText(rules.at(i), int(i)));
    EventDatabase db(nullptr, pimtest::vdirStore({folder}));
    QVariantList events, calendars;
    db.events(events, calendars);
    QHash<QString, QVariantMap> byUid;
    for (const QVariant &e : std::as_const(events)) byUid.insert(e.toMap().value("uid").toString(), e.toMap());
    ASSERT_EQ(byUid.size(), rules.size());

    // What the export holds, read back.
    QList<rfccorpus::RuleText> exported;
    QList<QStringList> original;
    int countsKept = 0, countsTurned = 0;
    for (qsizetype i = 0; i < rules.size(); ++i) {
        const rfccorpus::RuleText &r = rules.at(i);
        const QVariantMap e = byUid.value(QStringLiteral("e%1").arg(i));
        const VtrCalendarDate start = startOf(r);
        const RecurrenceExpansion mine =
            expandRecurrenceChecked(recurrenceDictionaryFromRule(ruleInFile(r), start), start, {}, {});
        original.append(shown(mine.dates, r.allDay));

        QString rule = e.value("rrule").toString();
        ASSERT_TRUE(rule.endsWith(';')) << rule.toStdString();
        rule.chop(1);
        EXPECT_FALSE(rule.contains("COUNT") && rule.contains("UNTIL")) << rule.toStdString();
        EXPECT_FALSE(rule.contains("COUNT=0")) << rule.toStdString();
        if (countOf(r.rule) > 0) {
            if (mine.complete) {
                EXPECT_TRUE(rule.contains("UNTIL") && !rule.contains("COUNT")) << r.rule.constData() << " -> " << rule.toStdString();
                ++countsTurned;
            } else {
                EXPECT_TRUE(rule.contains(QStringLiteral("COUNT=%1").arg(countOf(r.rule))) && !rule.contains("UNTIL"))
                    << r.rule.constData() << " -> " << rule.toStdString();
                ++countsKept;
            }
        }
        // The exported start, shown in the exported zone.
        const STDate dtstart(e.value("dtstart").toString(), e.value("x-wr-timezone").toString());
        rfccorpus::RuleText back = r;
        back.rule = rule.toLatin1();
        if (!r.allDay) {
            const VtrCalendarDate s = dtstart.calendarDate();
            ASSERT_FALSE(s.isNull()) << e.value("dtstart").toString().toStdString();
            back.zone = STDate::nameOfZone(s.timeZone()) == STDate::gmtName() ? QByteArray("UTC") : s.timeZone().id();
            back.localStart = QDateTime(QDate(s.yearOfCommonEra(), s.monthOfYear(), s.dayOfMonth()),
                                        QTime(s.hourOfDay(), s.minuteOfHour(), s.secondOfMinute()), Qt::UTC);
            EXPECT_EQ(rfccorpus::wallClock(back.localStart), rfccorpus::wallClock(r.localStart)) << r.rule.constData();
        }
        exported.append(back);
        // An all-day series is exported as days at 00:00 GMT.
        const VtrCalendarDate backStart = r.allDay ? dtstart.calendarDate() : startOf(back);
        const RecurrenceExpansion readBack =
            expandRecurrenceChecked(recurrenceDictionaryFromRule(back.rule, backStart), backStart, {}, {});
        if (mine.complete) // a rule without a meaning has none after the export either
            EXPECT_EQ(shown(readBack.dates, r.allDay), original.last())
                << r.rule.constData() << " exported as " << rule.toStdString();
    }
    EXPECT_GE(countsTurned, 100);
    EXPECT_GE(countsKept, 3);

    // libical reads the export as it reads the file, wherever it reads the
    // file's rule as the standard does.
    QList<rfccorpus::RuleText> inFile = rules;
    for (rfccorpus::RuleText &r : inFile) r.rule = ruleInFile(r);
    const rfccorpus::LibicalReference fromFile = rfccorpus::runLibical(inFile, kLimit, VTR_LIBICAL_REFERENCE, true);
    ASSERT_TRUE(fromFile.error.isEmpty()) << fromFile.error.toStdString();
    const rfccorpus::LibicalReference fromExport = rfccorpus::runLibical(exported, kLimit, VTR_LIBICAL_REFERENCE, true);
    ASSERT_TRUE(fromExport.error.isEmpty()) << fromExport.error.toStdString();
    int compared = 0;
    for (qsizetype i = 0; i < rules.size(); ++i) {
        if (!fromFile.occurrences.at(i) || !fromExport.occurrences.at(i)) continue;
        const QString start = QString::fromLatin1(rfccorpus::startText(rules.at(i)));
        const QStringList file = withStart(*fromFile.occurrences.at(i), start, countOf(rules.at(i).rule));
        if (file != original.at(i)) continue; // libical errs on this rule
        EXPECT_EQ(withStart(*fromExport.occurrences.at(i), start, countOf(exported.at(i).rule)), file)
            << rules.at(i).rule.constData() << " exported as " << exported.at(i).rule.constData();
        ++compared;
    }
    EXPECT_GE(compared, rules.size() / 2);
}
