// bench-links: vtr_sources
// Reading an iPhone backup's "Manifest.mbdb" of 200,000 records (about the
// size of a large phone's backup): the records alone, and the whole file list
// with the SHA-1 name of every record.

#include "fileinfo/VtrMacFileInfo.h"
#include "sources/iphone/MbdbReader.h"
#include "sources/iphone/iPhoneDB.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>

#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr int kRecords = 200000;

void appendString(QByteArray &out, const QByteArray &text, bool absent = false)
{
    const quint16 length = qToBigEndian<quint16>(absent ? 0xFFFF : quint16(text.size()));
    out.append(reinterpret_cast<const char *>(&length), 2);
    if (!absent) out += text;
}

// Domains and paths shaped like a real backup's: media, app containers and
// home files, one record in twenty with extended properties.
QByteArray makeManifest()
{
    QByteArray out("mbdb\x05\x00", 6);
    out.reserve(kRecords * 110);
    const QByteArray fixed(39, '\x01'); // mode, seven 32-bit values, size, flag
    for (int i = 0; i < kRecords; ++i) {
        const int kind = i % 3;
        appendString(out, kind == 0 ? QByteArray("MediaDomain")
                                    : kind == 1 ? "AppDomain-com.example.app" + QByteArray::number(i % 400)
                                                : QByteArray("HomeDomain"));
        appendString(out, kind == 0 ? "Media/DCIM/1" + QByteArray::number(i / 1000) + "APPLE/IMG_" + QByteArray::number(i) + ".JPG"
                                    : "Library/Caches/file-" + QByteArray::number(i) + ".plist");
        appendString(out, {}, true);
        appendString(out, QByteArray(20, '\x7f'));
        appendString(out, {}, true);
        out += fixed;
        const bool properties = i % 20 == 0;
        out.append(char(properties ? 1 : 0));
        if (properties) {
            appendString(out, "com.apple.metadata:kMDItemWhereFroms");
            appendString(out, QByteArray(24, 'p'));
        }
    }
    return out;
}

struct Fixture
{
    QTemporaryDir folder;
    QByteArray manifest = makeManifest();
    Fixture()
    {
        QFile file(folder.filePath(QStringLiteral("Manifest.mbdb")));
        if (!file.open(QIODevice::WriteOnly) || file.write(manifest) != manifest.size()) {
            std::fprintf(stderr, "cannot write the manifest\n");
            std::exit(1);
        }
    }
};

Fixture &fixture()
{
    static Fixture f;
    return f;
}

void BM_MbdbRecords(benchmark::State &state)
{
    const QByteArray &data = fixture().manifest;
    for (auto _ : state) {
        const vtr::mbdb::Manifest manifest = vtr::mbdb::read(data);
        if (manifest.records.size() != kRecords) state.SkipWithError("records lost");
        benchmark::DoNotOptimize(manifest.records.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * data.size());
    state.SetItemsProcessed(int64_t(state.iterations()) * kRecords);
}

void BM_MbdbFileList(benchmark::State &state)
{
    const VtrFileInfoPtr folder = VtrMacFileInfo::fileInfoWithPath(fixture().folder.path());
    for (auto _ : state) {
        const auto files = iPhoneDB::filesInfoForBackupFolder(folder);
        if (!files || files->size() != kRecords) state.SkipWithError("entries lost");
        benchmark::DoNotOptimize(files);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * kRecords);
}

} // namespace

BENCHMARK(BM_MbdbRecords)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MbdbFileList)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
