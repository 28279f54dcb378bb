// bench-links: vtr_migration
// Filing a transfer into the desktop's media library, against `cp -r` of the
// same files on the same disk in the same run: songs with 50 playlists
// (2,500 / 5,000 / 10,000, through the music importer) and photos (5,000 /
// 10,000 / 20,000, through the photo importer). "per_file" is the time per
// file; an import that grows linearly keeps it flat as the count doubles.
//
// Every input is made once in a temporary folder (TMPDIR or /tmp) with sizes
// spread between 16 and 80 KiB, and the private home the library files and
// media folders live in is below it: the library and the copies share one
// disk, as the new phone's folder and the person's media folders do. Each
// round starts from an empty library and empty media folders.

#include "fileinfo/VtrMacFileInfo.h"
#include "migration/iAppImporter.h"
#include "platform/Folders.h"
#include "sources/host/MediaLibraryHost.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <map>

namespace {

QTemporaryDir &root()
{
    static QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/bench-library-XXXXXX"));
    return dir;
}

QString home() { return root().filePath(QStringLiteral("home")); }

// `count` files "<prefix>NNNNN.<ext>" of random bytes in their own folder.
const VtrFileInfoList &inputs(const char *prefix, const char *ext, int count)
{
    static std::map<QString, VtrFileInfoList> made;
    const QString folder = root().filePath(QStringLiteral("%1-%2").arg(QLatin1String(prefix)).arg(count));
    VtrFileInfoList &files = made[folder];
    if (!files.isEmpty()) return files;
    QDir().mkpath(folder);
    QRandomGenerator random{quint32(count)};
    QByteArray bytes(80 * 1024, Qt::Uninitialized);
    for (int i = 0; i < count; ++i) {
        const QString path = QStringLiteral("%1/%2%3.%4").arg(folder, QLatin1String(prefix)).arg(i, 5, 10, QLatin1Char('0')).arg(QLatin1String(ext));
        const int size = 16 * 1024 + int(random.bounded(64 * 1024));
        random.fillRange(reinterpret_cast<quint32 *>(bytes.data()), size / 4 + 1);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes.constData(), size) != size) std::abort();
        files.append(VtrMacFileInfo::fileInfoWithPath(path));
    }
    return files;
}

void emptyLibrary()
{
    QFile::remove(MediaLibraryHost::musicLibraryFilePath());
    QFile::remove(MediaLibraryHost::albumDataFilePath());
    for (const QString &folder :
         {MediaLibraryHost::musicFolder(), MediaLibraryHost::videosFolder(), MediaLibraryHost::picturesFolder()})
        platform::removeTreeWithoutFollowingLinks(folder);
    platform::removeTreeWithoutFollowingLinks(root().filePath(QStringLiteral("cp")));
    std::system("sync");
}

void setPerFile(benchmark::State &state, int count)
{
    state.counters["per_file"] =
        benchmark::Counter(double(count), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void copyWithCp(benchmark::State &state, const VtrFileInfoList &files)
{
    const QString source = QFileInfo(files.first()->path()).path();
    const QString target = root().filePath(QStringLiteral("cp"));
    for (auto _ : state) {
        state.PauseTiming();
        emptyLibrary();
        state.ResumeTiming();
        if (QProcess::execute(QStringLiteral("cp"), {QStringLiteral("-r"), source, target}) != 0) std::abort();
    }
    setPerFile(state, int(files.size()));
}

void BM_ImportSongsWith50Playlists(benchmark::State &state)
{
    const int count = int(state.range(0));
    const VtrFileInfoList &files = inputs("song", "mp3", count);
    QVariantList dictionaries;
    for (int i = 0; i < count; ++i) {
        QStringList playlists{QStringLiteral("Playlist %1").arg(i % 50)};
        if (i % 7 == 0) playlists.append(QStringLiteral("Playlist %1").arg((i / 7) % 50));
        dictionaries.append(QVariantMap{{QStringLiteral("targetFileInfo"), QVariant::fromValue(files.at(i))},
                                        {QStringLiteral("playlistNames"), playlists}});
    }
    for (auto _ : state) {
        state.PauseTiming();
        emptyLibrary();
        state.ResumeTiming();
        iTunesImporter importer;
        uint filed = 0, playlists = 0;
        if (!importer.importFileDictionaries(dictionaries, QStringLiteral("Imported Music"), &filed, &playlists) ||
            int(filed) != count || playlists != 50)
            std::abort();
    }
    setPerFile(state, count);
}

void BM_CopySongsWithCp(benchmark::State &state) { copyWithCp(state, inputs("song", "mp3", int(state.range(0)))); }

void BM_ImportPhotos(benchmark::State &state)
{
    const int count = int(state.range(0));
    const VtrFileInfoList &files = inputs("photo", "jpg", count);
    for (auto _ : state) {
        state.PauseTiming();
        emptyLibrary();
        state.ResumeTiming();
        iPhotoImporter importer;
        if (!importer.importFiles(files, QStringLiteral("Imported Photos")) || !importer.refusedFiles().isEmpty())
            std::abort();
    }
    setPerFile(state, count);
}

void BM_CopyPhotosWithCp(benchmark::State &state) { copyWithCp(state, inputs("photo", "jpg", int(state.range(0)))); }

BENCHMARK(BM_ImportSongsWith50Playlists)->Arg(2500)->Arg(5000)->Arg(10000)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_CopySongsWithCp)->Arg(2500)->Arg(5000)->Arg(10000)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_ImportPhotos)->Arg(5000)->Arg(10000)->Arg(20000)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_CopyPhotosWithCp)->Arg(5000)->Arg(10000)->Arg(20000)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

}  // namespace

int main(int argc, char **argv)
{
    // A private home for the library files and the media folders.
    if (!root().isValid()) return 1;
    QDir().mkpath(home());
    qputenv("HOME", QFile::encodeName(home()));
    for (const char *var : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME"})
        qputenv(var, QFile::encodeName(home() + QStringLiteral("/.") + QString::fromLatin1(var).toLower()));
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
