// bench-links: vtr_sources
// Reading a music library of 20,000 tracks and 500 playlists into the model,
// against Python's plistlib.load of the same file in the same run.
//
// Time: the mean of each benchmark. Memory: "peak_MB" is the growth of the
// peak resident size while one load runs in a fresh child process (ours) or in
// the interpreter after start-up (plistlib), so neither side counts its
// program's own start-up.

#include "sources/host/PropertyListXml.h"
#include "sources/itunes/SyntheticLibrary.h"
#include "sources/itunes/VtrITunes.h"
#include "sources/itunes/iTunesInfo.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const QString &libraryFile()
{
    static QTemporaryDir dir;
    static const QString path = [] {
        const QString p = dir.filePath(QStringLiteral("iTunes Music Library.xml"));
        QFile file(p);
        file.open(QIODevice::WriteOnly);
        file.write(vtr::XmlPropertyListWriter::toXml(vtr::syntheticMusicLibrary(20000, 500)));
        return p;
    }();
    return path;
}

long peakKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

long currentKiB()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly)) return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields.at(1).toLong() * (sysconf(_SC_PAGESIZE) / 1024) : 0;
}

// Runs `load` once in a child process and answers its peak growth in MiB.
template <typename Load>
double peakGrowthMiB(Load load)
{
    int fds[2];
    if (pipe(fds) != 0) return -1;
    const pid_t child = fork();
    if (child == 0) {
        close(fds[0]);
        const long before = currentKiB();
        load();
        const long growth = peakKiB() - before;
        (void)!write(fds[1], &growth, sizeof growth);
        _exit(0);
    }
    close(fds[1]);
    long growth = -1;
    (void)!read(fds[0], &growth, sizeof growth);
    close(fds[0]);
    waitpid(child, nullptr, 0);
    return growth / 1024.0;
}

void BM_ReadLibraryFile(benchmark::State &state)
{
    const QString path = libraryFile();
    for (auto _ : state) {
        auto map = vtr::XmlPropertyListReader::readDictionaryFile(path);
        benchmark::DoNotOptimize(map);
    }
    state.counters["peak_MB"] =
        peakGrowthMiB([&] { benchmark::DoNotOptimize(vtr::XmlPropertyListReader::readDictionaryFile(path)); });
    state.counters["file_MB"] = double(QFile(path).size()) / 1048576.0;
}
BENCHMARK(BM_ReadLibraryFile)->Unit(benchmark::kMillisecond)->Iterations(5);

// The whole road: the library file loaded and the tree of items built.
void loadIntoModel()
{
    auto library = std::make_shared<VtrITunes>();
    library->initWithFile(libraryFile());
    iTunesInfo model;
    model.set_iTunes(library, true, true);
    if (model.tracks().size() != 20000) std::abort();
}

void BM_ReadLibraryIntoModel(benchmark::State &state)
{
    for (auto _ : state)
        loadIntoModel();
    state.counters["peak_MB"] = peakGrowthMiB(loadIntoModel);
}
BENCHMARK(BM_ReadLibraryIntoModel)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_PythonPlistlibLoad(benchmark::State &state)
{
    const QString script = QStringLiteral(
        "import plistlib, resource, sys, time\n"
        "before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss\n"
        "t = time.perf_counter()\n"
        "with open(sys.argv[1], 'rb') as f: d = plistlib.load(f)\n"
        "t = time.perf_counter() - t\n"
        "print(t, resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - before)\n");
    double peak = 0;
    for (auto _ : state) {
        QProcess python;
        python.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), script, libraryFile()});
        if (!python.waitForFinished(600000)) {
            state.SkipWithError("python3 did not finish");
            return;
        }
        const QList<QByteArray> out = python.readAllStandardOutput().trimmed().split(' ');
        if (out.size() != 2) {
            state.SkipWithError("python3 gave no answer");
            return;
        }
        state.SetIterationTime(out.at(0).toDouble());
        peak = out.at(1).toDouble() / 1024.0;
    }
    state.counters["peak_MB"] = peak;
}
BENCHMARK(BM_PythonPlistlibLoad)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
