// bench-links: vtr_sources
// An older iPhone backup's "Manifest.plist" of about 28 MB (an XML list whose
// "Data" holds the binary list of 185,000 files): the names the backup
// scanner takes from it, against libplist parsing the same two lists alone;
// and the scanner's whole file list (which also looks for each listed file).
//
// Time: the mean of each benchmark. Memory: "peak_MB" is the growth of the
// peak resident size while one read runs in a fresh copy of this program,
// measured from just before the read; "file_MB" is the manifest's size.

#include "PeakMemory.h"

#include "sources/iphone/PropertyList.h"
#include "sources/iphone/iPhoneDB.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>
#include <plist/plist.h>

#include <cstdlib>
#include <cstring>

namespace {

constexpr int kFiles = 185000;

QByteArray toBytes(plist_t root, bool binary)
{
    char *bytes = nullptr;
    uint32_t length = 0;
    if (binary)
        plist_to_bin(root, &bytes, &length);
    else
        plist_to_xml(root, &bytes, &length);
    QByteArray out(bytes, qsizetype(length));
    std::free(bytes);
    return out;
}

QByteArray nameOf(int i)
{
    return QByteArray::number(qulonglong(i) * 2654435761ULL + 1, 16).rightJustified(40, 'a');
}

// Entries shaped like a phone's: a 40-digit name, the domain, size, times,
// mode and owner; a third of them in the home and media domains.
QByteArray makeManifest()
{
    plist_t files = plist_new_dict();
    for (int i = 0; i < kFiles; ++i) {
        plist_t entry = plist_new_dict();
        const char *domain = i % 3 == 0 ? "HomeDomain" : i % 3 == 1 ? "MediaDomain" : nullptr;
        const QByteArray app = "AppDomain-com.example.app" + QByteArray::number(i % 400);
        plist_dict_set_item(entry, "Domain", plist_new_string(domain ? domain : app.constData()));
        plist_dict_set_item(entry, "FileLength", plist_new_uint(uint64_t(1000 + i * 37)));
        plist_dict_set_item(entry, "ModificationTime", plist_new_date(300000000 + i, 0));
        plist_dict_set_item(entry, "Mode", plist_new_uint(33188));
        plist_dict_set_item(entry, "UserID", plist_new_uint(501));
        plist_dict_set_item(entry, "GroupID", plist_new_uint(501));
        plist_dict_set_item(files, nameOf(i).constData(), entry);
    }
    plist_t data = plist_new_dict();
    plist_dict_set_item(data, "Files", files);
    plist_dict_set_item(data, "Version", plist_new_string("6.2"));
    const QByteArray inner = toBytes(data, true);
    plist_free(data);
    plist_t outer = plist_new_dict();
    plist_dict_set_item(outer, "AuthVersion", plist_new_string("2.0"));
    plist_dict_set_item(outer, "AuthSignature", plist_new_data("01234567890123456789", 20));
    plist_dict_set_item(outer, "Data", plist_new_data(inner.constData(), uint64_t(inner.size())));
    const QByteArray xml = toBytes(outer, false);
    plist_free(outer);
    return xml;
}

const QString &backupFolder()
{
    static QTemporaryDir dir;
    static const QString path = [] {
        QFile file(dir.filePath(QStringLiteral("Manifest.plist")));
        if (!file.open(QIODevice::WriteOnly) || file.write(makeManifest()) <= 0) std::abort();
        for (const QByteArray &name : {nameOf(0) + ".mdinfo", QByteArray("Info.plist")}) {
            QFile other(dir.filePath(QString::fromLatin1(name)));
            if (!other.open(QIODevice::WriteOnly)) std::abort();
        }
        return dir.path();
    }();
    return path;
}

QString manifestPath() { return QDir(backupFolder()).filePath(QStringLiteral("Manifest.plist")); }

void manifestNames(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) std::abort();
    const auto names = iPhoneDB::filesListedInManifest(file.readAll());
    if (!names || names->size() < kFiles / 2) std::abort();
}

// Every value of both lists converted, as a caller that wants the whole
// dictionary gets it.
void wholeTree(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) std::abort();
    const QByteArray data = vtr::plist::dictionaryFromData(file.readAll()).value(QStringLiteral("Data")).toByteArray();
    const QVariantMap inner = vtr::plist::dictionaryFromData(data);
    if (inner.value(QStringLiteral("Files")).toMap().size() != kFiles) std::abort();
}

void scannerFileList(const QString &folder)
{
    QString name;
    QString id;
    const auto files = iPhoneDB::filesInBackupWithPath(folder, &name, &id);
    if (!files || files->size() != 1) std::abort();
}

// libplist alone: the outer list, then the binary list its "Data" holds,
// each parsed into its tree and freed; no value is converted.
void libplistAlone(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) std::abort();
    QByteArray bytes = file.readAll();
    plist_t outer = nullptr;
    plist_from_xml(bytes.constData(), uint32_t(bytes.size()), &outer);
    bytes.clear();
    plist_t data = outer ? plist_dict_get_item(outer, "Data") : nullptr;
    char *inner = nullptr;
    uint64_t length = 0;
    if (data) plist_get_data_val(data, &inner, &length);
    plist_free(outer);
    plist_t files = nullptr;
    if (inner) plist_from_bin(inner, uint32_t(length), &files);
    std::free(inner);
    if (!files || plist_dict_get_size(plist_dict_get_item(files, "Files")) != kFiles) std::abort();
    plist_free(files);
}

void BM_ManifestNames(benchmark::State &state)
{
    const QString path = manifestPath();
    for (auto _ : state)
        manifestNames(path);
    state.counters["peak_MB"] = benchpeak::growthMiB("names", backupFolder());
    state.counters["file_MB"] = double(QFile(path).size()) / 1048576.0;
}
BENCHMARK(BM_ManifestNames)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_ScannerFileList(benchmark::State &state)
{
    const QString folder = backupFolder();
    for (auto _ : state)
        scannerFileList(folder);
    state.counters["peak_MB"] = benchpeak::growthMiB("scanner", backupFolder());
}
BENCHMARK(BM_ScannerFileList)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_WholeTreeConverted(benchmark::State &state)
{
    const QString path = manifestPath();
    for (auto _ : state)
        wholeTree(path);
    state.counters["peak_MB"] = benchpeak::growthMiB("tree", backupFolder());
}
BENCHMARK(BM_WholeTreeConverted)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_LibplistAlone(benchmark::State &state)
{
    const QString path = manifestPath();
    for (auto _ : state)
        libplistAlone(path);
    state.counters["peak_MB"] = benchpeak::growthMiB("libplist", backupFolder());
}
BENCHMARK(BM_LibplistAlone)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

int main(int argc, char **argv)
{
    const bool child = benchpeak::runAsChild(argc, argv, [](const char *mode, const QString &folder) {
        const QString manifest = QDir(folder).filePath(QStringLiteral("Manifest.plist"));
        if (std::strcmp(mode, "scanner") == 0)
            scannerFileList(folder);
        else if (std::strcmp(mode, "tree") == 0)
            wholeTree(manifest);
        else if (std::strcmp(mode, "names") == 0)
            manifestNames(manifest);
        else
            libplistAlone(manifest);
    });
    if (child) return 0;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
