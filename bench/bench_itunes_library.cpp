// bench-links: vtr_sources
// Reading a music library of 20,000 tracks and 500 playlists into the model,
// against Python's plistlib.load of the same file in the same run.
//
// Time: the mean of each benchmark. Memory: "peak_MB" is the growth of the
// peak resident size while one load runs in a fresh copy of this program or in
// the interpreter (plistlib), each measured from just before the load, so
// neither side counts its program's own start-up.

#include "PeakMemory.h"

#include "sources/host/PropertyListXml.h"
#include "sources/itunes/SyntheticLibrary.h"
#include "sources/itunes/VtrITunes.h"
#include "sources/itunes/iTunesInfo.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstring>

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

void readLibraryFile(const QString &path)
{
    auto map = vtr::XmlPropertyListReader::readDictionaryFile(path);
    if (!map) std::abort();
    benchmark::DoNotOptimize(map);
}

// The whole road: the library file loaded and the tree of items built.
void readLibraryIntoModel(const QString &path)
{
    auto library = std::make_shared<VtrITunes>();
    library->initWithFile(path);
    iTunesInfo model;
    model.set_iTunes(library, true, true);
    if (model.tracks().size() != 20000) std::abort();
}

void BM_ReadLibraryFile(benchmark::State &state)
{
    const QString path = libraryFile();
    for (auto _ : state)
        readLibraryFile(path);
    state.counters["peak_MB"] = benchpeak::growthMiB("file", libraryFile());
    state.counters["file_MB"] = double(QFile(path).size()) / 1048576.0;
}
BENCHMARK(BM_ReadLibraryFile)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_ReadLibraryIntoModel(benchmark::State &state)
{
    const QString path = libraryFile();
    for (auto _ : state)
        readLibraryIntoModel(path);
    state.counters["peak_MB"] = benchpeak::growthMiB("model", libraryFile());
}
BENCHMARK(BM_ReadLibraryIntoModel)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_PythonPlistlibLoad(benchmark::State &state)
{
    const QString script = QStringLiteral(
        "import plistlib, sys, time\n"
        "def hwm():\n"
        "    for line in open('/proc/self/status'):\n"
        "        if line.startswith('VmHWM:'): return int(line.split()[1])\n"
        "before = hwm()\n"
        "t = time.perf_counter()\n"
        "with open(sys.argv[1], 'rb') as f: d = plistlib.load(f)\n"
        "t = time.perf_counter() - t\n"
        "print(t, hwm() - before)\n");
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

int main(int argc, char **argv)
{
    const bool child = benchpeak::runAsChild(argc, argv, [](const char *mode, const QString &path) {
        if (std::strcmp(mode, "model") == 0)
            readLibraryIntoModel(path);
        else
            readLibraryFile(path);
    });
    if (child) return 0;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
