// bench-links: vtr_migration
// Listing and backing up a phone through the whole road the wizard takes:
// the MTP device's object map, the platform device's folder listings, the
// phone file objects and the migrators' walk and backup into their private
// folder. Three shapes of phone:
// - deep: a chain of nested folders ("Folder 0\Folder 1\..."), each holding
//   one small photo, 2,500 to 20,000 levels;
// - deep with one-letter names ("a\a\..."), the most levels a path on this
//   computer can reach (2,046), each of them walked and backed up;
// - wide: 20,000 to 80,000 small photos, 400 in each of a few hundred
//   folders three levels down, many of them sharing a name.
// Time per object must stay flat as the phone doubles. Each run's peak
// resident memory is measured in a fresh copy of this program (after the
// simulated phone is built), so neither the phone nor earlier runs count.
//
// The files the run writes go into a private folder below the system's
// temporary folder that is removed afterwards. Not part of the test runs.

#include "devices/command/PlatformDevice.h"
#include "devices/mtp/MTPDevice.h"
#include "devices/mtp/sim/SimulatedMtpLibrary.h"
#include "foundation/Log.h"
#include "migration/MediaMigrators.h"
#include "platform/Folders.h"
#include "platform/UserDefaults.h"
#include "platform/VtrException.h"

#include "PeakMemory.h"
#include "SimulatedPhoneRoad.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <cstring>
#include <memory>

namespace {

constexpr uint32_t kStorage = 0x00010001;
constexpr qint64 kPhotoBytes = 2048;
constexpr time_t kDate = 1360836900; // 2013-02-14
constexpr int kWidePhotosPerFolder = 400;

enum class Shape { Deep, DeepOneLetter, Wide };
const char *const kShapeNames[] = {"deep", "deep1", "wide"};

// A simulated phone of one storage, opened as the phone object opens it.
struct Phone
{
    std::shared_ptr<SimulatedMtpLibrary> sim = std::make_shared<SimulatedMtpLibrary>();
    LIBMTP_mtpdevice_t *handle = nullptr;
    qint64 objects = 0;

    Phone(Shape shape, int size)
    {
        sim->setCallLogEnabled(false);
        MtpSimPhone &phone = sim->addPhone();
        MtpSimStorageSpec storage;
        storage.id = kStorage;
        storage.capacity = 1ull << 40;
        phone.addStorage(storage);
        if (shape != Shape::Wide) {
            uint32_t folder = 0;
            for (int i = 0; i < size; ++i) {
                phone.addFileOfSize(kStorage, folder, QStringLiteral("IMG_%1.jpg").arg(i), kPhotoBytes, kDate);
                folder = phone.addFolder(
                    kStorage, folder, shape == Shape::Deep ? QStringLiteral("Folder %1").arg(i) : QStringLiteral("a"));
            }
        } else {
            const uint32_t dcim = phone.addFolder(kStorage, 0, QStringLiteral("DCIM"));
            uint32_t year = 0;
            for (int made = 0, album = 0; made < size; ++album) {
                if (album % 10 == 0) year = phone.addFolder(kStorage, dcim, QStringLiteral("Year %1").arg(album / 10));
                const uint32_t folder = phone.addFolder(kStorage, year, QStringLiteral("Album %1").arg(album));
                // Cameras number their photos per folder: names repeat.
                for (int i = 0; i < kWidePhotosPerFolder && made < size; ++i, ++made)
                    phone.addFileOfSize(kStorage, folder, QStringLiteral("IMG_%1.jpg").arg(i, 4, 10, QLatin1Char('0')),
                                        kPhotoBytes, kDate + i);
            }
        }
        objects = phone.objectCount();
        handle = openFirstSimulatedPhone(*sim);
    }
    ~Phone()
    {
        if (handle) sim->releaseDevice(handle);
    }
};

struct RoadResult
{
    int backedUp = 0;
    int notMoved = 0;
    QString error;
};

// The map is built afresh (the phone attached), then the photos are listed
// and backed up.
RoadResult runRoad(Phone &phone)
{
    RoadResult result;
    auto mtp = std::make_shared<MTPDevice>(0x04e8, 0x6642, phone.sim);
    mtp->setMTPDevice(phone.handle, kStorage);
    {
        PlatformDevice device;
        device.connect();
        device.setMTPDeviceObject(mtp);
        try {
            // The Android photos migrator's walk of the whole storage.
            PhoneKind<PhotosMigrator> photos(device, QStringLiteral("E:\\"), MediaKind::Photos);
            photos.backupOldDeviceWithStatus(nullptr);
            result.backedUp = photos.numItemsToCopy();
            result.notMoved = photos.numItemsNotMoved();
        } catch (const VtrException &e) {
            result.error = e.reason();
        }
        device.setMTPDeviceObject(nullptr);
    }
    mtp->detach();
    return result;
}

struct PrivateFolders
{
    QTemporaryDir root{QDir::tempPath() + QStringLiteral("/bench-deepphone-XXXXXX")};
    PrivateFolders()
    {
        platform::setHomeFolderOverride(root.filePath(QStringLiteral("home")));
        platform::setTemporaryFolderOverride(root.filePath(QStringLiteral("tmp")));
        platform::UserDefaults::setStoreFileForTesting(root.filePath(QStringLiteral("defaults.ini")));
        LogSetCategoryEnabled(1, false);
        LogSetCategoryEnabled(2, false);
        LogSetCategoryEnabled(3, false);
    }
    ~PrivateFolders() { platform::UserDefaults::synchronize(); }
};

void runShape(benchmark::State &state, Shape shape)
{
    const PrivateFolders folders;
    const int size = int(state.range(0));
    Phone phone(shape, size);
    RoadResult result;
    qint64 elapsedNs = 0;
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        result = runRoad(phone);
        elapsedNs = timer.nsecsElapsed();
        if (!result.error.isEmpty()) state.SkipWithError(qPrintable(result.error));
    }
    state.counters["objects"] = double(phone.objects);
    state.counters["backed_up"] = result.backedUp;
    state.counters["not_moved"] = result.notMoved;
    state.counters["us_per_object"] = double(elapsedNs) / 1000.0 / double(phone.objects);
    // In a fresh copy of this program (see runAsPeakChild); -1: it failed.
    state.counters["peak_MiB"] = benchpeak::growthMiB(kShapeNames[int(shape)], QString::number(size));
}

void BM_DeepPhoneRoad(benchmark::State &state)
{
    runShape(state, Shape::Deep);
}
void BM_DeepOneLetterPhoneRoad(benchmark::State &state)
{
    runShape(state, Shape::DeepOneLetter);
}
void BM_WidePhoneRoad(benchmark::State &state)
{
    runShape(state, Shape::Wide);
}

BENCHMARK(BM_DeepPhoneRoad)->Arg(2500)->Arg(5000)->Arg(10000)->Arg(20000)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_DeepOneLetterPhoneRoad)->Arg(20000)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_WidePhoneRoad)->Arg(20000)->Arg(40000)->Arg(80000)->Unit(benchmark::kMillisecond)->Iterations(1);

// "--peak deep|deep1|wide N": one run, then the growth of the peak resident size
// in KiB on standard output.
bool runAsPeakChild(int argc, char **argv)
{
    if (argc != 4 || std::strcmp(argv[1], "--peak") != 0) return false;
    const PrivateFolders folders;
    Shape shape = Shape::Wide;
    for (int s = 0; s < 3; ++s)
        if (std::strcmp(argv[2], kShapeNames[s]) == 0) shape = Shape(s);
    Phone phone(shape, std::atoi(argv[3]));
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    const bool reset = clear.open(QIODevice::WriteOnly) && clear.write("5") == 1;
    clear.close();
    const long before = benchpeak::statusKiB(reset ? "VmRSS" : "VmHWM");
    const RoadResult result = runRoad(phone);
    std::printf("%ld\n", result.error.isEmpty() ? benchpeak::peakKiB() - before : -1024L);
    std::fflush(stdout);
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (runAsPeakChild(argc, argv)) return 0;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
