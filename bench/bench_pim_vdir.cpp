// bench-links: vtr_pim
// Reading a vdir folder of 10,000 contacts (one vCard file each) and one of
// 10,000 events (one iCalendar file each, every tenth recurring with a count
// and an alarm) through the store and the readers into Windows Live bodies,
// as the wizard's PIM job does for the new phone. Time per item is the
// total divided by 10,000 (items_per_second in the output).
//
// Single cards of a crafted size, each alone in a vdir folder, read into
// Windows Live bodies: "peak_MB" is the growth of the peak resident size in a
// fresh process (this program with "--peak contacts <folder>"), "times_card"
// that peak over the card's size. A card of a million short properties
// (about 26 MB) is past the bound of properties and left out; the largest
// card still read (kCardProperties properties) and a card of one 26 MB note
// are read.
//
// Cards of two shapes that once took time growing with the square of their
// size, each at two sizes in the same run, read from a file's text into
// records: a run of lone CRs (as many empty lines), and a quoted-printable
// note of bare "=" signs. Reading is linear when "bytes_per_second" is about
// the same at both sizes of a shape.

#include "devices/phone/WindowsPhone7LocalDevice.h"
#include "foundation/Log.h"
#include "pim/ContactDatabase.h"
#include "pim/EventDatabase.h"
#include "pim/PIMDatabaseDelegate.h"
#include "pim/store/VCardRecords.h"
#include "pim/store/VdirSource.h"

#include "PeakMemory.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace {

constexpr int kItems = 10000;

struct Stow : PIMDatabaseDelegate
{
    void stowContacts(const QVariantList &c, const QVariantList &) override { count = c.size(); }
    void stowCalendars(const QVariantList &c) override
    {
        count = 0;
        for (const QVariant &cal : c) count += cal.toMap().value(QStringLiteral("events")).toList().size();
    }
    qsizetype count = 0;
};

void write(const QString &path, const QByteArray &data)
{
    QFile f(path);
    if (f.open(QIODevice::WriteOnly)) f.write(data);
}

QString folderWith(QTemporaryDir &root, const char *name, bool events)
{
    const QString dir = root.filePath(QLatin1String(name));
    if (QDir(dir).exists()) return dir;
    QDir().mkpath(dir);
    for (int i = 0; i < kItems; ++i) {
        const QByteArray n = QByteArray::number(i);
        if (!events) {
            write(dir + QStringLiteral("/c%1.vcf").arg(i),
                  "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:c" + n + "\r\nN:Person" + n + ";Ann;;;\r\nFN:Ann Person" + n +
                      "\r\nTEL;TYPE=CELL:+1 555 " + n + "\r\nTEL;TYPE=WORK:+1 556 " + n + "\r\nEMAIL;TYPE=HOME:ann" + n +
                      "@example.com\r\nADR;TYPE=HOME:;;" + n + " Main St;Springfield;IL;62701;USA\r\nORG:Acme;Sales\r\n"
                      "TITLE:Clerk\r\nBDAY:1970-07-04\r\nCATEGORIES:Friends\r\nEND:VCARD\r\n");
        } else {
            const QByteArray day = QByteArray::number(1 + i % 28).rightJustified(2, '0');
            QByteArray item = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nBEGIN:VEVENT\r\nUID:e" + n + "\r\nSUMMARY:Meeting " + n +
                              "\r\nDESCRIPTION:About " + n + "\r\nLOCATION:Room " + n +
                              "\r\nDTSTART;TZID=Europe/Berlin:202403" + day + "T093000\r\nDTEND;TZID=Europe/Berlin:202403" +
                              day + "T103000\r\n";
            if (i % 10 == 0)
                item += "RRULE:FREQ=WEEKLY;COUNT=10\r\nBEGIN:VALARM\r\nACTION:DISPLAY\r\nTRIGGER:-PT15M\r\nEND:VALARM\r\n";
            write(dir + QStringLiteral("/e%1.ics").arg(i), item + "END:VEVENT\r\nEND:VCALENDAR\r\n");
        }
    }
    return dir;
}

QTemporaryDir &scratch()
{
    static QTemporaryDir dir;
    return dir;
}

template <typename Reader>
void readIntoLiveBodies(benchmark::State &state, bool events)
{
    LogSetCategoryEnabled(0, false);
    const QString folder = folderWith(scratch(), events ? "events" : "contacts", events);
    std::vector<std::unique_ptr<syncstore::SyncSource>> sources;
    sources.push_back(std::make_unique<syncstore::VdirSource>(QStringList{folder}));
    auto store = std::make_shared<syncstore::SyncManager>(std::move(sources));
    const auto target = WindowsPhone7LocalDevice::create({}, nullptr);
    Stow stow;
    for (auto _ : state) {
        Reader reader(&stow, store);
        reader.setTargetDevice(target);
        reader.runDatabaseDump();
        if (stow.count != kItems) state.SkipWithError("not every item was read");
    }
    state.SetItemsProcessed(state.iterations() * kItems);
}

void BM_VdirContactsToLiveBodies(benchmark::State &state) { readIntoLiveBodies<ContactDatabase>(state, false); }
void BM_VdirEventsToLiveBodies(benchmark::State &state) { readIntoLiveBodies<EventDatabase>(state, true); }

BENCHMARK(BM_VdirContactsToLiveBodies)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_VdirEventsToLiveBodies)->Unit(benchmark::kMillisecond)->Iterations(3);

// A folder holding one card of `properties` properties (VERSION, UID and N,
// then short ones of about 26 bytes each: phone numbers, e-mail addresses,
// notes and categories in turn), or, with `properties` 0, one card of a
// single note of 26 MB.
QString craftedCardFolder(qsizetype properties)
{
    const QString dir = scratch().filePath(QStringLiteral("crafted%1").arg(properties));
    if (QDir(dir).exists()) return dir;
    QDir().mkpath(dir);
    QFile f(dir + QStringLiteral("/crafted.vcf"));
    if (!f.open(QIODevice::WriteOnly)) return dir;
    QByteArray chunk = "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:crafted\r\nN:Crafted;Card;;;\r\n";
    if (properties == 0) {
        chunk += "NOTE:";
        const QByteArray words = "Gate code 4711\\; ring twice\\, then wait. ";
        while (chunk.size() < 26 * 1000 * 1000) chunk += words;
        chunk += "\r\n";
    }
    for (qsizetype i = 3; i < properties; ++i) {
        const QByteArray n = QByteArray::number(i).rightJustified(7, '0');
        switch (i % 4) {
        case 0: chunk += "TEL;TYPE=CELL:+1555" + n + "\r\n"; break;
        case 1: chunk += "EMAIL:a" + n + "@example.org\r\n"; break;
        case 2: chunk += "NOTE:line " + n + " of it\r\n"; break;
        default: chunk += "CATEGORIES:Group" + n + "\r\n"; break;
        }
        if (chunk.size() > (1 << 20)) f.write(std::exchange(chunk, QByteArray()));
    }
    f.write(chunk + "END:VCARD\r\n");
    return dir;
}

// The contacts of the folder into Windows Live bodies: how many there were.
qsizetype readContacts(const QString &folder)
{
    std::vector<std::unique_ptr<syncstore::SyncSource>> sources;
    sources.push_back(std::make_unique<syncstore::VdirSource>(QStringList{folder}));
    Stow stow;
    ContactDatabase reader(&stow, std::make_shared<syncstore::SyncManager>(std::move(sources)));
    reader.setTargetDevice(WindowsPhone7LocalDevice::create({}, nullptr));
    reader.runDatabaseDump();
    return stow.count;
}

void BM_CraftedCardPeak(benchmark::State &state)
{
    LogSetCategoryEnabled(0, false);
    const QString folder = craftedCardFolder(state.range(0));
    const bool past = state.range(0) > syncstore::kCardProperties;
    for (auto _ : state)
        if (readContacts(folder) != (past ? 0 : 1)) state.SkipWithError(past ? "the card was read" : "the card was left out");
    const double peak = benchpeak::growthMiB("contacts", folder);
    const double card = double(QFile(folder + QStringLiteral("/crafted.vcf")).size()) / 1048576.0;
    state.counters["peak_MB"] = peak;
    state.counters["card_MB"] = card;
    state.counters["times_card"] = peak / card;
}
BENCHMARK(BM_CraftedCardPeak)
    ->Arg(1000000)
    ->Arg(syncstore::kCardProperties)
    ->Arg(0)
    ->ArgName("properties")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

// Counts the contacts; keeps nothing.
struct CountingSink final : syncstore::SyncRecordSink
{
    QString uniqueIdentifier(const QString &wanted) const override { return wanted; }
    void addRecord(const QString &, const QString &, QVariantMap) override {}
};

void readCardText(benchmark::State &state, const QByteArray &file)
{
    LogSetCategoryEnabled(0, false);
    for (auto _ : state) {
        CountingSink sink;
        syncstore::ContactRecordBuilder builder(sink);
        syncstore::VCardFileNotes notes;
        if (builder.addVCardFile(file, QStringLiteral("card"), &notes) != 1) state.SkipWithError("the card was left out");
    }
    state.SetBytesProcessed(state.iterations() * file.size());
}

void BM_CardOfLoneCRs(benchmark::State &state)
{
    readCardText(state, "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Lee;Ann;;;\r\n" + QByteArray(state.range(0) * 1024, '\r') +
                            "TEL:1\r\nEND:VCARD\r\n");
}
void BM_CardOfBareEquals(benchmark::State &state)
{
    readCardText(state, "BEGIN:VCARD\r\nVERSION:2.1\r\nN:Lee;Ann\r\nNOTE;ENCODING=QUOTED-PRINTABLE:" +
                            QByteArray(state.range(0) * 1024, '=') + "\r\nTEL:1\r\nEND:VCARD\r\n");
}
BENCHMARK(BM_CardOfLoneCRs)->Arg(40)->Arg(320)->ArgName("KB")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CardOfBareEquals)->Arg(640)->Arg(1280)->ArgName("KB")->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char **argv)
{
    // The private home of this run: nothing is written into the real one.
    const QString home = scratch().filePath(QStringLiteral("home"));
    QDir().mkpath(home);
    qputenv("HOME", home.toLocal8Bit());
    for (const char *var : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME"})
        qputenv(var, (home + QLatin1Char('/') + QLatin1String(var)).toLocal8Bit());
    QCoreApplication app(argc, argv);
    LogSetCategoryEnabled(0, false);
    if (benchpeak::runAsChild(argc, argv, [](const char *, const QString &folder) { readContacts(folder); })) return 0;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
