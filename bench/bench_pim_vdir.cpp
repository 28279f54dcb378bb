// bench-links: vtr_pim
// Reading a vdir folder of 10,000 contacts (one vCard file each) and one of
// 10,000 events (one iCalendar file each, every tenth recurring with a count
// and an alarm) through the store and the readers into Windows Live bodies,
// as the wizard's PIM job does for the new phone. Time per item is the
// total divided by 10,000 (items_per_second in the output).

#include "devices/phone/WindowsPhone7LocalDevice.h"
#include "foundation/Log.h"
#include "pim/ContactDatabase.h"
#include "pim/EventDatabase.h"
#include "pim/PIMDatabaseDelegate.h"
#include "pim/store/VdirSource.h"

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
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
