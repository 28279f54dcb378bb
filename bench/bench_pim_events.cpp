// bench-links: vtr_pim
// 10,000 events, one iCalendar file each, read from a vdir folder into
// Windows Live bodies as the wizard's PIM job does, side by side in one run
// with libical's own parse of the same files (read and parsed in the same
// iterations, so that a busy machine slows both) and with Python's
// icalendar reading them (a process that times its own loop, once); and the
// reading into the store's records alone beside libical's parse.
//
// The events: timed in two zones, in UTC and all day; a fifth recurring
// (weekly on days with a count, monthly by position, daily until a date);
// alarms, descriptions and locations on some.
//
// Sizes that must cost in proportion: one event whose description is 4 MB
// and 64 MB on one unfolded line (time per MB); a calendar of 13 KB and of
// 104 KB whose zones' observances start in year 1 (time per KB); the
// companion app's calendar
// file of 1,000,000 events (about 250 MB) into Windows Live bodies, its
// "peak_MB" the growth of the peak resident size while reading, measured in a
// fresh process (this program with "--peak companion <path>").

#include "devices/phone/WindowsPhone7LocalDevice.h"
#include "foundation/Log.h"
#include "pim/EventDatabase.h"
#include "pim/PIMDatabaseDelegate.h"
#include "fileinfo/VtrMacFileInfo.h"
#include "pim/store/VdirSource.h"

#include "PeakMemory.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <libical/ical.h>

#include <chrono>
#include <cstring>

namespace {

constexpr int kEvents = 10000;

struct Stow : PIMDatabaseDelegate
{
    void stowContacts(const QVariantList &, const QVariantList &) override {}
    void stowCalendars(const QVariantList &c) override
    {
        count = 0;
        for (const QVariant &cal : c) count += cal.toMap().value(QStringLiteral("events")).toList().size();
    }
    qsizetype count = 0;
};

QByteArray eventText(int i)
{
    const QByteArray n = QByteArray::number(i);
    const QByteArray day = "2024" + QByteArray::number(1 + i % 12).rightJustified(2, '0') +
                           QByteArray::number(1 + i % 28).rightJustified(2, '0');
    QByteArray e = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//bench//EN\r\nBEGIN:VEVENT\r\nUID:event-" + n +
                   "@example.org\r\nDTSTAMP:20240101T000000Z\r\nSUMMARY:Meeting " + n + "\r\n";
    switch (i % 4) {
    case 0:
        e += "DTSTART;TZID=Europe/Berlin:" + day + "T093000\r\nDTEND;TZID=Europe/Berlin:" + day + "T103000\r\n";
        break;
    case 1:
        e += "DTSTART;TZID=America/New_York:" + day + "T140000\r\nDURATION:PT45M\r\n";
        break;
    case 2:
        e += "DTSTART:" + day + "T080000Z\r\nDTEND:" + day + "T090000Z\r\n";
        break;
    default:
        e += "DTSTART;VALUE=DATE:" + day + "\r\nDTEND;VALUE=DATE:" + day.left(6) + QByteArray::number(2 + i % 28).rightJustified(2, '0') + "\r\n";
        break;
    }
    if (i % 3 == 0) e += "DESCRIPTION:Agenda for meeting " + n + "\\, with notes\\nand a second line\r\nLOCATION:Room " + n + "\r\n";
    switch (i % 15) {
    case 0:
        e += "RRULE:FREQ=WEEKLY;BYDAY=MO,WE,FR;COUNT=10\r\n";
        break;
    case 5:
        e += "RRULE:FREQ=MONTHLY;BYDAY=MO,TU,WE,TH,FR;BYSETPOS=-1;COUNT=6\r\n";
        break;
    case 10:
        e += "RRULE:FREQ=DAILY;UNTIL=" + day.left(4) + "1231T235959Z\r\nEXDATE;VALUE=DATE:" + day + "\r\n";
        break;
    }
    if (i % 5 == 0) e += "BEGIN:VALARM\r\nACTION:DISPLAY\r\nDESCRIPTION:Reminder\r\nTRIGGER:-PT15M\r\nEND:VALARM\r\n";
    return e + "END:VEVENT\r\nEND:VCALENDAR\r\n";
}

const QString &folder()
{
    static QTemporaryDir root;
    static const QString dir = [] {
        const QString d = root.filePath(QStringLiteral("calendar"));
        QDir().mkpath(d);
        for (int i = 0; i < kEvents; ++i) {
            QFile f(d + QStringLiteral("/e%1.ics").arg(i));
            if (f.open(QIODevice::WriteOnly)) f.write(eventText(i));
        }
        return d;
    }();
    return dir;
}

// libical's own work on the files: read and parsed, nothing more.
int libicalParse(const QStringList &paths)
{
    int parsed = 0;
    for (const QString &p : paths) {
        QFile f(p);
        if (!f.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) continue;
        const QByteArray text = f.readAll();
        if (icalcomponent *c = icalparser_parse_string(text.constData())) {
            ++parsed;
            icalcomponent_free(c);
        }
    }
    return parsed;
}

const char kPythonReader[] = R"PY(
import os, sys, time
from icalendar import Calendar
folder = sys.argv[1]
names = sorted(n for n in os.listdir(folder) if n.endswith(".ics"))
t0 = time.perf_counter()
events = 0
for n in names:
    with open(os.path.join(folder, n), "rb") as f:
        events += len(Calendar.from_ical(f.read()).walk("VEVENT"))
print(time.perf_counter() - t0, events)
)PY";

// Python's icalendar on the same files: seconds, or -1 when it cannot run.
double pythonSeconds()
{
    QProcess py;
    py.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), QString::fromLatin1(kPythonReader), folder()});
    if (!py.waitForFinished(600000) || py.exitCode() != 0) return -1;
    const QList<QByteArray> out = py.readAllStandardOutput().trimmed().split(' ');
    return out.size() == 2 && out.at(1).toInt() == kEvents ? out.at(0).toDouble() : -1;
}

void BM_EventsVdirToLiveBodies(benchmark::State &state)
{
    LogSetCategoryEnabled(0, false);
    const QString dir = folder();
    QStringList paths;
    for (const QString &n : QDir(dir).entryList({QStringLiteral("*.ics")}, QDir::Files, QDir::Name))
        paths.append(dir + QLatin1Char('/') + n);
    std::vector<std::unique_ptr<syncstore::SyncSource>> sources;
    sources.push_back(std::make_unique<syncstore::VdirSource>(QStringList{dir}));
    auto store = std::make_shared<syncstore::SyncManager>(std::move(sources));
    const auto target = WindowsPhone7LocalDevice::create({}, nullptr);
    Stow stow;
    double ours = 0, libical = 0;
    using Clock = std::chrono::steady_clock;
    for (auto _ : state) {
        const auto a = Clock::now();
        EventDatabase reader(&stow, store);
        reader.setTargetDevice(target);
        reader.runDatabaseDump();
        const auto b = Clock::now();
        state.PauseTiming();
        if (stow.count != kEvents) state.SkipWithError("not every event was read");
        if (libicalParse(paths) != kEvents) state.SkipWithError("libical did not parse every file");
        libical += std::chrono::duration<double>(Clock::now() - b).count();
        state.ResumeTiming();
        ours += std::chrono::duration<double>(b - a).count();
    }
    const double runs = double(std::max<benchmark::IterationCount>(1, state.iterations()));
    static const double python = pythonSeconds();
    state.counters["us_per_event"] = ours / runs / kEvents * 1e6;
    state.counters["libical_us_per_event"] = libical / runs / kEvents * 1e6;
    state.counters["times_libical"] = ours / libical;
    state.counters["python_us_per_event"] = python > 0 ? python / kEvents * 1e6 : -1.0;
    state.counters["times_faster_than_python"] = python > 0 ? python / (ours / runs) : -1.0;
    state.SetItemsProcessed(state.iterations() * kEvents);
}
BENCHMARK(BM_EventsVdirToLiveBodies)->Unit(benchmark::kMillisecond)->Iterations(5);

// The reading alone: the files into the store's event, recurrence and alarm
// records (what a parse gives), beside libical's parse.
void BM_EventsVdirIntoStore(benchmark::State &state)
{
    const QString dir = folder();
    QStringList paths;
    for (const QString &n : QDir(dir).entryList({QStringLiteral("*.ics")}, QDir::Files, QDir::Name))
        paths.append(dir + QLatin1Char('/') + n);
    double ours = 0, libical = 0;
    using Clock = std::chrono::steady_clock;
    for (auto _ : state) {
        const auto a = Clock::now();
        std::vector<std::unique_ptr<syncstore::SyncSource>> sources;
        sources.push_back(std::make_unique<syncstore::VdirSource>(QStringList{dir}));
        syncstore::SyncManager store(std::move(sources));
        const qsizetype events =
            store.snapshotOfRecordsInTruth({syncstore::entity::Event})
                ->recordsWithMatchingAttributes({{syncstore::kRecordEntityNameKey, syncstore::entity::Event}})
                .size();
        const auto b = Clock::now();
        state.PauseTiming();
        if (events != kEvents) state.SkipWithError("not every event was read");
        if (libicalParse(paths) != kEvents) state.SkipWithError("libical did not parse every file");
        libical += std::chrono::duration<double>(Clock::now() - b).count();
        state.ResumeTiming();
        ours += std::chrono::duration<double>(b - a).count();
    }
    const double runs = double(std::max<benchmark::IterationCount>(1, state.iterations()));
    state.counters["us_per_event"] = ours / runs / kEvents * 1e6;
    state.counters["libical_us_per_event"] = libical / runs / kEvents * 1e6;
    state.counters["times_libical"] = ours / libical;
    state.SetItemsProcessed(state.iterations() * kEvents);
}
BENCHMARK(BM_EventsVdirIntoStore)->Unit(benchmark::kMillisecond)->Iterations(5);

// One event whose description is `megabytes` MB on one line, alone in a
// vdir folder: read into the store's records (bytes_per_second stays the
// same for any size).
QString longDescriptionFolder(int megabytes)
{
    static QTemporaryDir root;
    const QString dir = root.filePath(QStringLiteral("long%1").arg(megabytes));
    if (QDir(dir).exists()) return dir;
    QDir().mkpath(dir);
    QByteArray text = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nBEGIN:VEVENT\r\nUID:long\r\nSUMMARY:Minutes\r\n"
                      "DTSTART:20240301T090000Z\r\nDESCRIPTION:";
    const QByteArray words = "Item discussed\\, action agreed\\; ";
    text.reserve(text.size() + qsizetype(megabytes) * 1048576 + 64);
    while (text.size() < qsizetype(megabytes) * 1048576) text += words;
    QFile f(dir + QStringLiteral("/long.ics"));
    if (f.open(QIODevice::WriteOnly)) f.write(text + "\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n");
    return dir;
}

void BM_LongDescription(benchmark::State &state)
{
    const QString dir = longDescriptionFolder(int(state.range(0)));
    for (auto _ : state) {
        std::vector<std::unique_ptr<syncstore::SyncSource>> sources;
        sources.push_back(std::make_unique<syncstore::VdirSource>(QStringList{dir}));
        syncstore::SyncManager store(std::move(sources));
        const auto events = store.snapshotOfRecordsInTruth({syncstore::entity::Event})
                                ->recordsWithMatchingAttributes({{syncstore::kRecordEntityNameKey, syncstore::entity::Event}});
        // Each "\," and "\;" of the text is one character.
        if (events.size() != 1 || events.first().record.value(QStringLiteral("description")).toString().size() < (state.range(0) << 20) * 9 / 10)
            state.SkipWithError("the description was not read whole");
    }
    state.SetBytesProcessed(state.iterations() * state.range(0) * 1048576);
}
BENCHMARK(BM_LongDescription)->Arg(4)->Arg(64)->Unit(benchmark::kMillisecond)->Iterations(1);

// A calendar of `kilobytes` KB as a server may sync it into a vdir folder,
// one file: events between 2000 and 2030, each in a zone of its own that only
// the file describes, whose observances start in year 1 and recur yearly.
// The zones of each `round` have names of their own: what is found for a
// zone is kept for the process, and every round reads as a first one does.
QString zonesFromYearOneFolder(int kilobytes, int round)
{
    static QTemporaryDir root;
    const QString dir = root.filePath(QStringLiteral("yearone%1-%2").arg(kilobytes).arg(round));
    if (QDir(dir).exists()) return dir;
    QDir().mkpath(dir);
    QByteArray text = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//bench//EN\r\n";
    for (int i = 0; text.size() < qsizetype(kilobytes) * 1024 - 32; ++i) {
        const QByteArray n = QByteArray::number(i), tzid = "Zone " + QByteArray::number(round) + "." + n;
        const QByteArray day = QByteArray::number(2000 + i % 31) + QByteArray::number(1 + i % 12).rightJustified(2, '0') + "15";
        text += "BEGIN:VTIMEZONE\r\nTZID:" + tzid + "\r\nBEGIN:STANDARD\r\nDTSTART:00010101T030000\r\n"
                "TZOFFSETFROM:+0200\r\nTZOFFSETTO:+0100\r\nRRULE:FREQ=YEARLY;BYDAY=-1SU;BYMONTH=10\r\nEND:STANDARD\r\n"
                "BEGIN:DAYLIGHT\r\nDTSTART:00010101T020000\r\nTZOFFSETFROM:+0100\r\nTZOFFSETTO:+0200\r\n"
                "RRULE:FREQ=YEARLY;BYDAY=-1SU;BYMONTH=3\r\nEND:DAYLIGHT\r\nEND:VTIMEZONE\r\n"
                "BEGIN:VEVENT\r\nUID:year-one-" + n + "\r\nSUMMARY:Meeting " + n + "\r\nDTSTART;TZID=" + tzid + ":" + day
                + "T093000\r\nDTEND;TZID=" + tzid + ":" + day + "T103000\r\nEND:VEVENT\r\n";
    }
    QFile f(dir + QStringLiteral("/calendar.ics"));
    if (f.open(QIODevice::WriteOnly)) f.write(text + "END:VCALENDAR\r\n");
    return dir;
}

// The events of a vdir folder, read into the store's records.
qsizetype eventsOfFolder(const QString &dir)
{
    std::vector<std::unique_ptr<syncstore::SyncSource>> sources;
    sources.push_back(std::make_unique<syncstore::VdirSource>(QStringList{dir}));
    syncstore::SyncManager store(std::move(sources));
    return store.snapshotOfRecordsInTruth({syncstore::entity::Event})
        ->recordsWithMatchingAttributes({{syncstore::kRecordEntityNameKey, syncstore::entity::Event}})
        .size();
}

// Read as above, a new round each time; "peak_MB" as for the companion file
// ("--peak zones <folder>").
void BM_ZonesFromYearOne(benchmark::State &state)
{
    const int kilobytes = int(state.range(0));
    eventsOfFolder(zonesFromYearOneFolder(1, 0)); // what any first calendar sets up
    qsizetype bytes = 0;
    for (int round = 1; auto _ : state) {
        state.PauseTiming();
        const QString dir = zonesFromYearOneFolder(kilobytes, round++);
        QFile f(dir + QStringLiteral("/calendar.ics"));
        const QByteArray text = f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        bytes += text.size();
        state.ResumeTiming();
        if (eventsOfFolder(dir) != text.count("BEGIN:VEVENT")) state.SkipWithError("not every event was read");
    }
    state.counters["peak_MB"] = benchpeak::growthMiB("zones", zonesFromYearOneFolder(kilobytes, 0));
    state.SetBytesProcessed(bytes);
}
BENCHMARK(BM_ZonesFromYearOne)->Arg(13)->Arg(104)->ArgName("KB")->Unit(benchmark::kMillisecond);

// Calendars whose zones and rules a server or an invitation may carry, each
// one file in a vdir folder, read into Windows Live bodies as the PIM job
// reads them (the zones resolved, each series' last occurrence found). Each
// is made of `n` pieces; a piece of 8n takes at most ten times the time of n.
//  - Tiny: a zone whose two yearly observances start in year 1, and a weekly
//    event from 0001-06-15 in it (the piece is about 600 bytes);
//  - Observances: a zone of n pairs of yearly observances, the first from
//    year 1, each pair ending where the next begins, and n events across the
//    years 1600 to 2580;
//  - ByLists: n events whose rules name every month, day, hour, minute and
//    second, choose one per year and count a million;
//  - Hourly: n zones whose observances change every half hour, an event in
//    each;
//  - Years: one zone from year 1 and 64n events spread over the years 2 to 9999;
//  - WideObservances: a zone of n yearly observances from year 1 whose rules
//    name many months and days, and n events across the years 1600 to 2580
//    (n = 2, 16 and 128: 8 times the size takes at most about 8 times as
//    long).
enum class Shape { Tiny, Observances, ByLists, Hourly, Years, WideObservances };

QByteArray yearOneZone(const QByteArray &tzid)
{
    return "BEGIN:VTIMEZONE\r\nTZID:" + tzid + "\r\nBEGIN:STANDARD\r\nDTSTART:00010101T030000\r\n"
           "TZOFFSETFROM:+0200\r\nTZOFFSETTO:+0100\r\nRRULE:FREQ=YEARLY;BYDAY=-1SU;BYMONTH=10\r\nEND:STANDARD\r\n"
           "BEGIN:DAYLIGHT\r\nDTSTART:00010101T020000\r\nTZOFFSETFROM:+0100\r\nTZOFFSETTO:+0200\r\n"
           "RRULE:FREQ=YEARLY;BYDAY=-1SU;BYMONTH=3\r\nEND:DAYLIGHT\r\nEND:VTIMEZONE\r\n";
}

QByteArray shapeEvent(int i, const QByteArray &tzid, const QByteArray &day, const QByteArray &rule)
{
    const QByteArray n = QByteArray::number(i);
    QByteArray e = "BEGIN:VEVENT\r\nUID:shape-" + n + "\r\nSUMMARY:Meeting " + n + "\r\nDTSTART";
    e += tzid.isEmpty() ? ":" + day + "T090000Z" : ";TZID=" + tzid + ":" + day + "T090000";
    e += "\r\nDURATION:PT1H\r\n";
    if (!rule.isEmpty()) e += "RRULE:" + rule + "\r\n";
    return e + "END:VEVENT\r\n";
}

QByteArray dayOfYear(int year, int i)
{
    return QByteArray::number(year).rightJustified(4, '0') + QByteArray::number(1 + i % 12).rightJustified(2, '0')
           + QByteArray::number(1 + i % 28).rightJustified(2, '0');
}

QByteArray shapeText(Shape shape, int n, int round)
{
    const QByteArray r = QByteArray::number(round);
    QByteArray text = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//bench//EN\r\n";
    switch (shape) {
    case Shape::Tiny:
        for (int i = 0; i < n; ++i) {
            const QByteArray tzid = "Z" + r + "." + QByteArray::number(i);
            text += yearOneZone(tzid) + shapeEvent(i, tzid, "00010615", "FREQ=WEEKLY");
        }
        break;
    case Shape::Observances: {
        const QByteArray tzid = "History " + r;
        text += "BEGIN:VTIMEZONE\r\nTZID:" + tzid + "\r\n";
        const auto year = [&](int i) { return QByteArray::number(1 + i * 2580 / n).rightJustified(4, '0'); };
        for (int i = 0; i < n; ++i) {
            const QByteArray until = ";UNTIL=" + year(i + 1) + "0101T000000Z\r\n";
            text += "BEGIN:STANDARD\r\nDTSTART:" + year(i) + "0101T030000\r\nTZOFFSETFROM:+0200\r\nTZOFFSETTO:+0100\r\n"
                    "RRULE:FREQ=YEARLY;BYDAY=-1SU;BYMONTH=" + QByteArray::number(8 + i % 4) + until + "END:STANDARD\r\n"
                    "BEGIN:DAYLIGHT\r\nDTSTART:" + year(i) + "0101T020000\r\nTZOFFSETFROM:+0100\r\nTZOFFSETTO:+0200\r\n"
                    "RRULE:FREQ=YEARLY;BYDAY=1SU;BYMONTH=" + QByteArray::number(2 + i % 4) + until + "END:DAYLIGHT\r\n";
        }
        text += "END:VTIMEZONE\r\n";
        for (int i = 0; i < n; ++i) text += shapeEvent(i, tzid, dayOfYear(1600 + i * 980 / n, i), {});
        break;
    }
    case Shape::ByLists:
        for (int i = 0; i < n; ++i)
            text += shapeEvent(i, {}, dayOfYear(2024, i),
                               "FREQ=YEARLY;BYMONTH=1,2,3,4,5,6,7,8,9,10,11,12;BYMONTHDAY=1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,"
                               "16,17,18,19,20,21,22,23,24,25,26,27,28,29,30,31;BYHOUR=0,1,2,3,4,5,6,7,8,9,10,11,12,13,14,"
                               "15,16,17,18,19,20,21,22,23;BYMINUTE=0,1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18,19,20,"
                               "21,22,23,24,25,26,27,28,29,30,31,32,33,34,35,36,37,38,39,40,41,42,43,44,45,46,47,48,49,50,"
                               "51,52,53,54,55,56,57,58,59;BYSECOND=0,1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18,19,20,"
                               "21,22,23,24,25,26,27,28,29,30,31,32,33,34,35,36,37,38,39,40,41,42,43,44,45,46,47,48,49,50,"
                               "51,52,53,54,55,56,57,58,59;BYSETPOS=-1;COUNT=1000000");
        break;
    case Shape::Hourly:
        for (int i = 0; i < n; ++i) {
            const QByteArray tzid = "Tide " + r + "." + QByteArray::number(i);
            text += "BEGIN:VTIMEZONE\r\nTZID:" + tzid + "\r\nBEGIN:STANDARD\r\nDTSTART:20000101T000000\r\n"
                    "TZOFFSETFROM:+0200\r\nTZOFFSETTO:+0100\r\nRRULE:FREQ=HOURLY;BYMINUTE=0\r\nEND:STANDARD\r\n"
                    "BEGIN:DAYLIGHT\r\nDTSTART:20000101T003000\r\nTZOFFSETFROM:+0100\r\nTZOFFSETTO:+0200\r\n"
                    "RRULE:FREQ=HOURLY;BYMINUTE=30\r\nEND:DAYLIGHT\r\nEND:VTIMEZONE\r\n"
                    + shapeEvent(i, tzid, dayOfYear(2024, i), "FREQ=HOURLY;UNTIL=20300101T000000Z");
        }
        break;
    case Shape::Years: {
        const QByteArray tzid = "Long " + r;
        text += yearOneZone(tzid);
        for (int i = 0; i < 64 * n; ++i) text += shapeEvent(i, tzid, dayOfYear(2 + int(qint64(i) * 9997 / (64 * n)), i), {});
        break;
    }
    case Shape::WideObservances: {
        // Standard time from a weekend of each odd month, summer time from
        // one of each even month, each observance at a minute of its own.
        const QByteArray tzid = "Wide " + r;
        text += "BEGIN:VTIMEZONE\r\nTZID:" + tzid + "\r\n";
        for (int i = 0; i < n; ++i) {
            const bool summer = i % 2;
            const QByteArray kind = summer ? "DAYLIGHT" : "STANDARD";
            QByteArray days;
            for (int d = 1; d <= 7; ++d) days += (d > 1 ? "," : "") + QByteArray::number(d + 7 * (i / 2 % 4));
            text += "BEGIN:" + kind + "\r\nDTSTART:00010101T0" + (summer ? "2" : "3") + QByteArray::number(i % 60).rightJustified(2, '0')
                    + "00\r\nTZOFFSETFROM:" + (summer ? "+0100" : "+0200") + "\r\nTZOFFSETTO:" + (summer ? "+0200" : "+0100")
                    + "\r\nRRULE:FREQ=YEARLY;BYMONTH=" + (summer ? "2,4,6,8,10,12" : "1,3,5,7,9,11") + ";BYDAY=SA,SU;BYMONTHDAY="
                    + days + "\r\nEND:" + kind + "\r\n";
        }
        text += "END:VTIMEZONE\r\n";
        for (int i = 0; i < n; ++i) text += shapeEvent(i, tzid, dayOfYear(1600 + i * 980 / n, i), {});
        break;
    }
    }
    return text + "END:VCALENDAR\r\n";
}

// A folder of its own for each round: what is found for a zone is kept for
// the process, and every round reads as a first one does.
QString shapeFolder(Shape shape, int n, int round)
{
    static QTemporaryDir root;
    const QString dir = root.filePath(QStringLiteral("shape%1-%2-%3").arg(int(shape)).arg(n).arg(round));
    if (QDir(dir).exists()) return dir;
    QDir().mkpath(dir);
    QFile f(dir + QStringLiteral("/calendar.ics"));
    if (f.open(QIODevice::WriteOnly)) f.write(shapeText(shape, n, round));
    return dir;
}

qsizetype liveEventsOfFolder(const QString &dir)
{
    std::vector<std::unique_ptr<syncstore::SyncSource>> sources;
    sources.push_back(std::make_unique<syncstore::VdirSource>(QStringList{dir}));
    auto store = std::make_shared<syncstore::SyncManager>(std::move(sources));
    static const auto target = WindowsPhone7LocalDevice::create({}, nullptr);
    Stow stow;
    EventDatabase reader(&stow, store);
    reader.setTargetDevice(target);
    reader.runDatabaseDump();
    return stow.count;
}

void BM_HostileCalendar(benchmark::State &state)
{
    const auto shape = Shape(state.range(0));
    const int n = int(state.range(1));
    qsizetype bytes = 0;
    for (int round = 1; auto _ : state) {
        state.PauseTiming();
        const QString dir = shapeFolder(shape, n, round++);
        QFile f(dir + QStringLiteral("/calendar.ics"));
        const QByteArray text = f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        bytes += text.size();
        state.ResumeTiming();
        if (liveEventsOfFolder(dir) != text.count("BEGIN:VEVENT")) state.SkipWithError("not every event was read");
    }
    state.counters["file_KB"] = double(bytes) / double(std::max<benchmark::IterationCount>(1, state.iterations())) / 1024.0;
    state.SetBytesProcessed(bytes);
}
BENCHMARK(BM_HostileCalendar)
    ->ArgNames({"shape", "n"})
    ->ArgsProduct({{int(Shape::Tiny), int(Shape::Observances), int(Shape::ByLists), int(Shape::Hourly), int(Shape::Years)},
                   {1, 8}})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HostileCalendar)
    ->ArgNames({"shape", "n"})
    ->ArgsProduct({{int(Shape::WideObservances)}, {2, 16, 128}})
    ->Unit(benchmark::kMillisecond);

constexpr int kCompanionEvents = 1000000;

// Lines as the companion app writes them: ten calendars, then events with a
// description, a location, times and now and then an alarm.
QString companionFile()
{
    static QTemporaryDir root;
    const QString path = root.filePath(QStringLiteral("nroid_cal.json"));
    if (QFile::exists(path)) return path;
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly)) return path;
    QByteArray chunk;
    for (int c = 0; c < 10; ++c)
        chunk += R"({"command":"ADD_RECORD","database":"calendars","record":{"uid":"c)" + QByteArray::number(c) +
                 R"(","x-wr-calname":"Calendar )" + QByteArray::number(c) + "\"}}\n";
    for (int i = 0; i < kCompanionEvents; ++i) {
        const QByteArray n = QByteArray::number(i);
        const QByteArray day = "2024" + QByteArray::number(1 + i % 12).rightJustified(2, '0') +
                               QByteArray::number(1 + i % 28).rightJustified(2, '0');
        chunk += R"({"command":"ADD_RECORD","database":"events","record":{"uid":"e)" + n + R"(","summary":"Meeting )" + n +
                 R"(","description":"Agenda for meeting )" + n + R"(","location":"Room )" + n + R"(","dtstart":")" + day +
                 R"(090000","dtend":")" + day + R"(100000","x-ms-calendar-id":"c)" + QByteArray::number(i % 10) + "\"";
        if (i % 5 == 0) chunk += R"(,"valarms":[{"trigger":-900}])";
        chunk += "}}\n";
        if (chunk.size() > (1 << 20)) f.write(std::exchange(chunk, QByteArray()));
    }
    f.write(chunk);
    return path;
}

qsizetype readCompanion(const QString &path)
{
    EventDatabase reader(nullptr, std::make_shared<syncstore::SyncManager>(
                                      std::vector<std::unique_ptr<syncstore::SyncSource>>()));
    const auto bodies = reader.windowsLiveCalendarsAndEventsFromFile(VtrMacFileInfo::fileInfoWithPath(path));
    qsizetype events = 0;
    for (const QVariant &c : bodies.value_or(QVariantList())) events += c.toMap().value(QStringLiteral("events")).toList().size();
    return events;
}

void BM_CompanionFileOfAMillionEvents(benchmark::State &state)
{
    const QString path = companionFile();
    for (auto _ : state)
        if (readCompanion(path) != kCompanionEvents) state.SkipWithError("not every event was read");
    state.counters["peak_MB"] = benchpeak::growthMiB("companion", path);
    state.counters["file_MB"] = double(QFile(path).size()) / 1048576.0;
    state.SetItemsProcessed(state.iterations() * kCompanionEvents);
}
BENCHMARK(BM_CompanionFileOfAMillionEvents)->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace

int main(int argc, char **argv)
{
    // The private home of this run: nothing is written into the real one.
    QTemporaryDir home;
    qputenv("HOME", home.path().toLocal8Bit());
    for (const char *var : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME"})
        qputenv(var, (home.path() + QLatin1Char('/') + QLatin1String(var)).toLocal8Bit());
    QCoreApplication app(argc, argv);
    LogSetCategoryEnabled(0, false);
    const bool child = benchpeak::runAsChild(argc, argv, [](const char *mode, const QString &path) {
        if (std::strcmp(mode, "zones") == 0) eventsOfFolder(path);
        else readCompanion(path);
    });
    if (child) return 0;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
