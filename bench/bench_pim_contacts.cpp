// bench-links: vtr_pim
// Contacts into Windows Live bodies, time and memory:
// - a vdir folder of 10,000 vCard 3.0 files read through the store and the
//   contacts reader, against Python's vobject reading the same files and
//   keeping every card, in the same run (vobject reads no quoted-printable
//   soft line breaks: the cards have none);
// - the companion app's contacts file of 1,000,000 records (about 130 MB)
//   read one line at a time;
// - crafted contacts, each alone in its file, whose reading must grow with
//   their size, not its square: a card and a companion record with k phone
//   numbers of one type, a card whose N value holds k ";", a card of k
//   properties of every kind, a file of k cards of one UID ("us_per_item"
//   should stay flat as k grows).
// "peak_MB" is the growth of the peak resident size while reading, measured
// in a fresh process (this program with "--peak ..."; the Python reader
// measures itself after its imports); "process_peak_MB" is the whole
// process's peak, its libraries included.

#include "devices/phone/WindowsPhone7LocalDevice.h"
#include "fileinfo/VtrMacFileInfo.h"
#include "foundation/Log.h"
#include "pim/ContactDatabase.h"
#include "pim/PIMDatabaseDelegate.h"
#include "pim/store/VdirSource.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <cstring>

namespace {

constexpr int kCards = 10000;
constexpr int kCompanionRecords = 1000000;

struct Stow : PIMDatabaseDelegate
{
    void stowContacts(const QVariantList &c, const QVariantList &) override { count = c.size(); }
    void stowCalendars(const QVariantList &) override {}
    qsizetype count = 0;
};

QTemporaryDir &scratch()
{
    static QTemporaryDir dir;
    return dir;
}

long statusKiB(const char *key)
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly)) return 0;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith(key)) return line.mid(qsizetype(std::strlen(key))).trimmed().split(' ').first().toLong();
    return 0;
}

QByteArray card(int i)
{
    const QByteArray n = QByteArray::number(i);
    return "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:c" + n + "\r\nN:Person" + n + ";Ann;;;\r\nFN:Ann Person" + n +
           "\r\nTEL;TYPE=CELL:+1 555 " + n + "\r\nTEL;TYPE=WORK:+1 556 " + n + "\r\nEMAIL;TYPE=HOME:ann" + n +
           "@example.com\r\nADR;TYPE=HOME:;;" + n + " Main St;Springfield;IL;62701;USA\r\nORG:Acme;Sales\r\n"
           "TITLE:Clerk\r\nBDAY:1970-07-04\r\nNOTE:Met at the fair\\, row " + n + "\r\nCATEGORIES:Friends\r\nEND:VCARD\r\n";
}

QString cardFolder()
{
    const QString dir = scratch().filePath(QStringLiteral("cards"));
    if (QDir(dir).exists()) return dir;
    QDir().mkpath(dir);
    for (int i = 0; i < kCards; ++i) {
        QFile f(dir + QStringLiteral("/c%1.vcf").arg(i));
        if (f.open(QIODevice::WriteOnly)) f.write(card(i));
    }
    return dir;
}

// Lines as the companion app writes them: a name, a phone, every third an
// e-mail address, every seventh a birthday.
QString companionFile()
{
    const QString path = scratch().filePath(QStringLiteral("nroid_con.json"));
    if (QFile::exists(path)) return path;
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly)) return path;
    QByteArray chunk;
    for (int i = 0; i < kCompanionRecords; ++i) {
        const QByteArray n = QByteArray::number(i);
        chunk += R"({"command":"ADD_RECORD","database":"contacts","record":{"uid":")" + n +
                 R"(","first":"Ann","last":"Person)" + n + R"(","phones":[{"type":"mobile","value":"+1 555 )" + n + "\"}]";
        if (i % 3 == 0) chunk += R"(,"emails":[{"type":"email_home","value":"a)" + n + "@example.com\"}]";
        if (i % 7 == 0) chunk += R"(,"birthday":"19700704")";
        chunk += "}}\n";
        if (chunk.size() > (1 << 20)) f.write(std::exchange(chunk, QByteArray()));
    }
    f.write(chunk);
    return path;
}

qsizetype readCards(const QString &folder)
{
    std::vector<std::unique_ptr<syncstore::SyncSource>> sources;
    sources.push_back(std::make_unique<syncstore::VdirSource>(QStringList{folder}));
    Stow stow;
    ContactDatabase reader(&stow, std::make_shared<syncstore::SyncManager>(std::move(sources)));
    reader.setTargetDevice(WindowsPhone7LocalDevice::create({}, nullptr));
    reader.runDatabaseDump();
    return stow.count;
}

qsizetype readCompanion(const QString &path)
{
    ContactDatabase reader(nullptr, std::make_shared<syncstore::SyncManager>(
                                        std::vector<std::unique_ptr<syncstore::SyncSource>>()));
    const auto bodies = reader.windowsLiveContactsFromFile(VtrMacFileInfo::fileInfoWithPath(path));
    return bodies ? bodies->size() : -1;
}

struct Peak
{
    double growthMiB = -1, processMiB = -1;
};

// One read in a fresh copy of this program; it answers "<growth KiB> <peak KiB>".
Peak peakOf(const char *mode, const QString &path)
{
    QProcess self;
    self.start(QStringLiteral("/proc/self/exe"), {QStringLiteral("--peak"), QLatin1String(mode), path});
    if (!self.waitForFinished(600000)) return {};
    const QList<QByteArray> out = self.readAllStandardOutput().trimmed().split(' ');
    return out.size() == 2 ? Peak{out.at(0).toDouble() / 1024.0, out.at(1).toDouble() / 1024.0} : Peak{};
}

struct PythonRun
{
    double seconds = -1;
    qsizetype cards = 0;
    Peak peak;
};

// vobject reads each file and keeps every card, as a reader that hands the
// contacts on must; it times and measures itself after its imports.
PythonRun vobjectRead(const QString &folder)
{
    const QString script = QStringLiteral(
        "import os, sys, time, resource\n"
        "import vobject\n"
        "def kib(key):\n"
        "    for line in open('/proc/self/status'):\n"
        "        if line.startswith(key): return int(line.split()[1])\n"
        "before = kib('VmHWM:')\n"
        "t = time.perf_counter()\n"
        "cards = []\n"
        "folder = sys.argv[1]\n"
        "for name in sorted(os.listdir(folder)):\n"
        "    if name.endswith('.vcf'):\n"
        "        with open(os.path.join(folder, name), encoding='utf-8') as f:\n"
        "            cards.extend(vobject.readComponents(f.read()))\n"
        "t = time.perf_counter() - t\n"
        "print(t, len(cards), kib('VmHWM:') - before, kib('VmHWM:'))\n");
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), script, folder});
    if (!python.waitForFinished(600000)) return {};
    const QList<QByteArray> out = python.readAllStandardOutput().trimmed().split(' ');
    if (out.size() != 4) return {};
    return {out.at(0).toDouble(), out.at(1).toLongLong(), {out.at(2).toDouble() / 1024.0, out.at(3).toDouble() / 1024.0}};
}

void BM_VdirContactsAgainstVobject(benchmark::State &state)
{
    LogSetCategoryEnabled(0, false);
    const QString folder = cardFolder();
    double ours = 0, theirs = 0;
    for (auto _ : state) {
        const auto began = std::chrono::steady_clock::now();
        const qsizetype read = readCards(folder);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
        const PythonRun python = vobjectRead(folder);
        if (read != kCards || python.cards != kCards) {
            state.SkipWithError(python.seconds < 0 ? "python3-vobject did not run (scripts/install-deps.sh installs it)"
                                                   : "not every card was read");
            return;
        }
        ours += seconds;
        theirs += python.seconds;
        state.SetIterationTime(seconds);
        state.counters["vobject_peak_MB"] = python.peak.growthMiB;
        state.counters["vobject_process_peak_MB"] = python.peak.processMiB;
    }
    const Peak peak = peakOf("cards", folder);
    state.counters["peak_MB"] = peak.growthMiB;
    state.counters["process_peak_MB"] = peak.processMiB;
    state.counters["ms"] = ours * 1000.0 / double(state.iterations());
    state.counters["vobject_ms"] = theirs * 1000.0 / double(state.iterations());
    state.counters["times_vobject_speed"] = theirs / ours;
    state.SetItemsProcessed(state.iterations() * kCards);
}
BENCHMARK(BM_VdirContactsAgainstVobject)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);

void BM_CompanionFileOfAMillionContacts(benchmark::State &state)
{
    const QString path = companionFile();
    for (auto _ : state)
        if (readCompanion(path) != kCompanionRecords) state.SkipWithError("not every record was read");
    const Peak peak = peakOf("companion", path);
    state.counters["peak_MB"] = peak.growthMiB;
    state.counters["process_peak_MB"] = peak.processMiB;
    state.counters["file_MB"] = double(QFile(path).size()) / 1048576.0;
    state.SetItemsProcessed(state.iterations() * kCompanionRecords);
}
BENCHMARK(BM_CompanionFileOfAMillionContacts)->Unit(benchmark::kMillisecond)->Iterations(1);

enum class Crafted { ManyNumbers, LongName, ManyProperties, OneUid };

QString craftedCard(Crafted kind, int k)
{
    const QString dir = scratch().filePath(QStringLiteral("crafted-%1-%2").arg(int(kind)).arg(k));
    if (QDir(dir).exists()) return dir;
    QDir().mkpath(dir);
    QFile f(dir + QStringLiteral("/crafted.vcf"));
    if (!f.open(QIODevice::WriteOnly)) return dir;
    if (kind == Crafted::OneUid) {
        for (int i = 0; i < k; ++i)
            f.write("BEGIN:VCARD\r\nVERSION:3.0\r\nUID:crafted\r\nN:Lee" + QByteArray::number(i) + ";Ann;;;\r\nEND:VCARD\r\n");
        return dir;
    }
    QByteArray card = "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:crafted\r\n";
    if (kind == Crafted::LongName) card += "N:Lee;Ann" + QByteArray(k, ';') + "\r\n";
    else card += "N:Lee;Ann;;;\r\n";
    // Properties of every kind the reader maps, and some it does not.
    static const char *const properties[] = {
        "TEL;TYPE=WORK:+1 556 %1",         "EMAIL;TYPE=HOME:a%1@example.com",  "ADR;TYPE=HOME:;;%1 Main St;Springfield;;;",
        "URL:https://example.com/%1",      "NOTE:note %1",                     "CATEGORIES:group %1",
        "X-ABDATE:2001-01-01",             "IMPP:xmpp:a%1@example.com",        "X-ABRELATEDNAMES:friend %1",
        "X-UNKNOWN-%1:value",
    };
    for (int i = 0; i < (kind == Crafted::LongName ? 0 : k); ++i) {
        const QByteArray n = QByteArray::number(i);
        card += kind == Crafted::ManyNumbers ? "TEL;TYPE=CELL:+1 555 " + n
                                             : QByteArray(properties[i % std::size(properties)]).replace("%1", n);
        card += "\r\n";
    }
    f.write(card + "END:VCARD\r\n");
    return dir;
}

// Microseconds per item of one timed run.
void setMicrosecondsPerItem(benchmark::State &state, std::chrono::steady_clock::time_point began, int items)
{
    state.counters["us_per_item"] =
        std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - began).count() / double(items);
}

void BM_CraftedCard(benchmark::State &state, Crafted kind)
{
    LogSetCategoryEnabled(0, false);
    const int k = int(state.range(0));
    const QString folder = craftedCard(kind, k);
    for (auto _ : state) {
        const auto began = std::chrono::steady_clock::now();
        if (readCards(folder) != (kind == Crafted::OneUid ? k : 1)) state.SkipWithError("not every card was read");
        setMicrosecondsPerItem(state, began, k);
    }
    state.counters["peak_MB"] = peakOf("cards", folder).growthMiB;
}
BENCHMARK_CAPTURE(BM_CraftedCard, numbers_of_one_type, Crafted::ManyNumbers)
    ->Arg(5000)->Arg(20000)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK_CAPTURE(BM_CraftedCard, name_of_semicolons, Crafted::LongName)
    ->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK_CAPTURE(BM_CraftedCard, properties, Crafted::ManyProperties)
    ->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK_CAPTURE(BM_CraftedCard, cards_of_one_uid, Crafted::OneUid)
    ->Arg(5000)->Arg(20000)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_CompanionContactWithNumbersOfOneType(benchmark::State &state)
{
    const int k = int(state.range(0));
    const QString path = scratch().filePath(QStringLiteral("numbers-%1.json").arg(k));
    if (!QFile::exists(path)) {
        QByteArray line = R"({"command":"ADD_RECORD","database":"contacts","record":{"first":"Ann","phones":[)";
        for (int i = 0; i < k; ++i)
            line += (i ? "," : "") + QByteArray(R"({"type":"mobile","value":"+1 555 )") + QByteArray::number(i) + "\"}";
        QFile f(path);
        if (f.open(QIODevice::WriteOnly)) f.write(line + "]}}\n");
    }
    for (auto _ : state) {
        const auto began = std::chrono::steady_clock::now();
        if (readCompanion(path) != 1) state.SkipWithError("the record was not read");
        setMicrosecondsPerItem(state, began, k);
    }
}
BENCHMARK(BM_CompanionContactWithNumbersOfOneType)->Arg(5000)->Arg(20000)->Unit(benchmark::kMillisecond)->Iterations(1);

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
    if (argc == 4 && std::strcmp(argv[1], "--peak") == 0) {
        LogSetCategoryEnabled(0, false);
        const long before = statusKiB("VmHWM:");
        const QString path = QString::fromLocal8Bit(argv[3]);
        const qsizetype read = std::strcmp(argv[2], "cards") == 0 ? readCards(path) : readCompanion(path);
        std::printf("%ld %ld\n", read > 0 ? statusKiB("VmHWM:") - before : -1L, statusKiB("VmHWM:"));
        std::fflush(stdout);
        return 0;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
