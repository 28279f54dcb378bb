// bench-links: vtr_fileinfo
// Throughput of the generic chunked copy between two local file infos,
// measured in the same run as std::filesystem::copy_file on the same inputs:
// one 1 GiB file, and 2,000 files of 64 KiB. The inputs are made at start in
// a temporary folder (TMPDIR or /tmp; the large file only when a large
// benchmark runs) and removed at exit (about 3 GiB are needed meanwhile; on a
// memory file system the rounds of small files are removed as they end).
// Written data is synced to disk outside the timed part, so no iteration pays
// for another's write-back. Run with --benchmark_enable_random_interleaving
// to spread the machine's noise over all methods alike.

#include "fileinfo/VtrMacFileInfo.h"
#include "platform/Folders.h"

#include <benchmark/benchmark.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <linux/magic.h>
#include <sys/statfs.h>
#include <unistd.h>

namespace {

constexpr qint64 kLargeSize = qint64(1) << 30;
constexpr int kSmallCount = 2000;
constexpr qint64 kSmallSize = 64 * 1024;

struct Inputs
{
    QTemporaryDir root{QDir::tempPath() + QStringLiteral("/bench-localcopy-XXXXXX")};
    QRandomGenerator random{20240601};
    bool inMemory = false;
    QString largeFile;
    QString smallFolder;
    QStringList smallFiles;

    Inputs()
    {
        const QString base = root.path();
        smallFolder = base + QStringLiteral("/small");
        QDir().mkpath(smallFolder);
        struct statfs fs;
        inMemory = ::statfs(QFile::encodeName(base).constData(), &fs) == 0 && fs.f_type == TMPFS_MAGIC;
        // Incompressible, non-zero data: no file system or copy shortcut applies.
        QByteArray small(kSmallSize, Qt::Uninitialized);
        for (int i = 0; i < kSmallCount; ++i) {
            random.fillRange(reinterpret_cast<quint32 *>(small.data()), small.size() / 4);
            const QString path = smallFolder + QStringLiteral("/file-%1.dat").arg(i, 4, 10, QLatin1Char('0'));
            QFile file(path);
            if (!file.open(QIODevice::WriteOnly)) std::abort();
            file.write(small);
            smallFiles.append(path);
        }
        syncFolder(base);
    }

    const QString &large()
    {
        if (!largeFile.isEmpty()) return largeFile;
        largeFile = root.path() + QStringLiteral("/large.bin");
        QByteArray chunk(1 << 20, Qt::Uninitialized);
        QFile out(largeFile);
        if (!out.open(QIODevice::WriteOnly)) std::abort();
        for (qint64 done = 0; done < kLargeSize; done += chunk.size()) {
            random.fillRange(reinterpret_cast<quint32 *>(chunk.data()), chunk.size() / 4);
            out.write(chunk);
        }
        out.close();
        syncFolder(root.path());
        return largeFile;
    }

    QString target(const char *name) const
    {
        const QString path = root.path() + QLatin1Char('/') + QLatin1String(name);
        platform::removeTreeWithoutFollowingLinks(path);
        QDir().mkpath(path);
        return path;
    }

    // A new folder for each round of small files, on the same file system for
    // every method. On a disk nothing is deleted until the end: ext4 skips
    // inodes deleted in the last minutes when it allocates new ones, so
    // deleting thousands of files would slow down whichever method runs next.
    // In memory there is no such cost, and no room to keep every round.
    QString freshFolder(const char *name)
    {
        if (inMemory && !lastRound.isEmpty()) platform::removeTreeWithoutFollowingLinks(lastRound);
        syncFolder(root.path());
        const QString path =
            root.path() + QLatin1Char('/') + QLatin1String(name) + QLatin1Char('-') + QString::number(++rounds);
        QDir().mkpath(path);
        lastRound = path;
        return path;
    }
    int rounds = 0;
    QString lastRound;

    static void syncFolder(const QString &path)
    {
        const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY);
        if (fd >= 0) {
            ::syncfs(fd);
            ::close(fd);
        }
    }
};

Inputs &inputs()
{
    static Inputs data;
    return data;
}

void BM_GenericCopy_1GiB(benchmark::State &state)
{
    Inputs &in = inputs();
    const QString folder = in.target("generic-large");
    auto source = VtrMacFileInfo::fileInfoWithPath(in.large());
    auto destination = VtrMacFileInfo::fileInfoWithPath(folder);
    // One untimed round first: the first large write of a process pays for
    // the kernel making room in the page cache.
    source->copyTo(destination);
    QFile::remove(folder + QStringLiteral("/large.bin"));
    Inputs::syncFolder(folder);
    for (auto _ : state) {
        if (source->copyTo(destination) != kFileInfoCopyOK) state.SkipWithError("copy failed");
        state.PauseTiming();
        QFile::remove(folder + QStringLiteral("/large.bin"));
        Inputs::syncFolder(folder);
        state.ResumeTiming();
    }
    state.SetBytesProcessed(state.iterations() * kLargeSize);
}

void BM_CopyFile_1GiB(benchmark::State &state)
{
    Inputs &in = inputs();
    const QString folder = in.target("std-large");
    const std::filesystem::path from = in.large().toStdString();
    const std::filesystem::path to = (folder + QStringLiteral("/large.bin")).toStdString();
    std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing);
    std::filesystem::remove(to);
    Inputs::syncFolder(folder);
    for (auto _ : state) {
        std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing);
        state.PauseTiming();
        std::filesystem::remove(to);
        Inputs::syncFolder(folder);
        state.ResumeTiming();
    }
    state.SetBytesProcessed(state.iterations() * kLargeSize);
}

void BM_GenericCopy_2000x64KiB(benchmark::State &state)
{
    Inputs &in = inputs();
    VtrFileInfoList sources;
    for (const QString &path : in.smallFiles)
        sources.append(VtrMacFileInfo::fileInfoWithPath(path));
    for (auto _ : state) {
        state.PauseTiming();
        const QString folder = in.freshFolder("generic-small");
        auto destination = VtrMacFileInfo::fileInfoWithPath(folder);
        state.ResumeTiming();
        for (const VtrFileInfoPtr &source : sources) {
            source->refresh(); // as a fresh listing would give them
            if (source->copyTo(destination) != kFileInfoCopyOK) state.SkipWithError("copy failed");
        }
    }
    state.SetBytesProcessed(state.iterations() * kSmallCount * kSmallSize);
    state.SetItemsProcessed(state.iterations() * kSmallCount);
}

void BM_CopyFile_2000x64KiB(benchmark::State &state)
{
    Inputs &in = inputs();
    std::vector<std::filesystem::path> sources;
    for (const QString &path : in.smallFiles)
        sources.emplace_back(path.toStdString());
    for (auto _ : state) {
        state.PauseTiming();
        const QString folder = in.freshFolder("std-small");
        const std::filesystem::path to = folder.toStdString();
        state.ResumeTiming();
        for (const auto &source : sources)
            std::filesystem::copy_file(source, to / source.filename(),
                                       std::filesystem::copy_options::overwrite_existing);
    }
    state.SetBytesProcessed(state.iterations() * kSmallCount * kSmallSize);
    state.SetItemsProcessed(state.iterations() * kSmallCount);
}

// The floor for the generic copy: the system calls its guarantees need, and
// nothing else, per file: the source's kind, the destination name and the
// temporary name looked up (the folder's status for the letter-case index),
// the free space, an exclusive create of the temporary file, the kernel copy,
// the rename onto the destination and its modification date.
void BM_SyscallReplay_2000x64KiB(benchmark::State &state)
{
    Inputs &in = inputs();
    std::vector<std::string> sources;
    std::vector<std::string> names;
    for (const QString &path : in.smallFiles) {
        sources.push_back(QFile::encodeName(path).toStdString());
        names.push_back(QFile::encodeName(QFileInfo(path).fileName()).toStdString());
    }
    for (auto _ : state) {
        state.PauseTiming();
        const std::string folder = QFile::encodeName(in.freshFolder("replay-small")).toStdString();
        const std::string temp = folder + "/TessalineCopyFile.tmp";
        state.ResumeTiming();
        for (size_t i = 0; i < sources.size(); ++i) {
            const std::string target = folder + '/' + names[i];
            struct stat st;
            struct statfs fs;
            bool ok = ::lstat(sources[i].c_str(), &st) == 0 && ::lstat(target.c_str(), &st) != 0 &&
                      ::stat(folder.c_str(), &st) == 0 && ::lstat(temp.c_str(), &st) != 0 &&
                      ::statfs(folder.c_str(), &fs) == 0;
            const int out = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            const int from = ::open(sources[i].c_str(), O_RDONLY | O_CLOEXEC);
            ok = ok && out >= 0 && from >= 0 && ::fstat(from, &st) == 0 &&
                 ::copy_file_range(from, nullptr, out, nullptr, size_t(st.st_size), 0) == st.st_size;
            ::close(from);
            ok = ::close(out) == 0 && ok && ::rename(temp.c_str(), target.c_str()) == 0;
            const struct timespec times[2] = {{0, UTIME_OMIT}, st.st_mtim};
            ok = ok && ::utimensat(AT_FDCWD, target.c_str(), times, 0) == 0;
            if (!ok) state.SkipWithError("replay failed");
        }
    }
    state.SetBytesProcessed(state.iterations() * kSmallCount * kSmallSize);
    state.SetItemsProcessed(state.iterations() * kSmallCount);
}

// The machine may be busy with other work: each benchmark runs several times
// and the fastest run is reported too ("_min"), which is what the ratio of the
// two methods is read from.
double fastest(const std::vector<double> &values)
{
    return *std::min_element(values.begin(), values.end());
}

#define VTR_COPY_BENCHMARK(name)                                                                                       \
    BENCHMARK(name)                                                                                                    \
        ->Unit(benchmark::kMillisecond)                                                                                \
        ->Iterations(3)                                                                                                \
        ->Repetitions(5)                                                                                               \
        ->ComputeStatistics("min", fastest)                                                                            \
        ->ReportAggregatesOnly(true)                                                                                   \
        ->UseRealTime()

VTR_COPY_BENCHMARK(BM_CopyFile_1GiB);
VTR_COPY_BENCHMARK(BM_GenericCopy_1GiB);
VTR_COPY_BENCHMARK(BM_CopyFile_2000x64KiB);
VTR_COPY_BENCHMARK(BM_GenericCopy_2000x64KiB);
VTR_COPY_BENCHMARK(BM_SyscallReplay_2000x64KiB);

} // namespace

BENCHMARK_MAIN();
