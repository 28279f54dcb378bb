// The MTP device's object map of a large phone: building it against walking
// the same phone's objects without keeping anything (the map's overhead),
// and the memory the build takes at its peak; a phone of deeply nested
// folders listed folder by folder, whose time per folder must stay flat as
// the depth doubles; and a folder of files of one name, whose time per file
// must stay flat as their number doubles.
//
// The simulated phone holds 50,000 objects: 2,000 folders (40 at the top,
// 49 in each) and 48,000 files (24 in each folder). Listings carry dates, so
// no modification time is fetched object by object.

#include "devices/command/DeviceCommands.h"
#include "devices/mtp/MTPDevice.h"
#include "devices/mtp/MtpObjectWalk.h"
#include "devices/mtp/sim/SimulatedMtpLibrary.h"
#include "foundation/Log.h"

#include "SimulatedPhoneRoad.h"

#include <benchmark/benchmark.h>

#include <QFile>

#include <malloc.h>

#include <functional>
#include <map>
#include <memory>

namespace {

constexpr uint32_t kStorage = 0x00010001;
constexpr int kTopFolders = 40;
constexpr int kSubfoldersEach = 49;
constexpr int kFilesPerFolder = 24;

// kB figures of /proc/self/status.
qint64 statusField(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) return -1;
    const QByteArray key = QByteArray(field) + ':';
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith(key)) return line.mid(key.size()).trimmed().split(' ').first().toLongLong();
    return -1;
}

// Resets the peak resident size to the current one (Linux 4.0 and later).
bool resetPeakRss()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    return clear.open(QIODevice::WriteOnly) && clear.write("5") == 1;
}

// A simulated phone with one large storage that `fill` fills, opened as the
// phone object opens it.
struct OpenedPhone
{
    std::shared_ptr<SimulatedMtpLibrary> sim = std::make_shared<SimulatedMtpLibrary>();
    LIBMTP_mtpdevice_t *handle = nullptr;
    qint64 objects = 0;

    explicit OpenedPhone(const std::function<void(MtpSimPhone &)> &fill)
    {
        sim->setCallLogEnabled(false);
        MtpSimPhone &phone = sim->addPhone();
        MtpSimStorageSpec storage;
        storage.id = kStorage;
        storage.capacity = 1ull << 40;
        phone.addStorage(storage);
        fill(phone);
        objects = phone.objectCount();
        handle = openFirstSimulatedPhone(*sim);
    }
    ~OpenedPhone()
    {
        if (handle) sim->releaseDevice(handle);
    }
};

OpenedPhone &bigPhone()
{
    static OpenedPhone phone([](MtpSimPhone &phone) {
        const time_t date = 1360836900; // 2013-02-14
        auto fill = [&](uint32_t folder, int folderNumber) {
            for (int i = 0; i < kFilesPerFolder; ++i)
                phone.addFileOfSize(kStorage, folder, QStringLiteral("IMG_20130214_%1_%2.jpg").arg(folderNumber).arg(i),
                                    1843200, date + i);
        };
        int folderNumber = 0;
        for (int t = 0; t < kTopFolders; ++t) {
            const uint32_t top = phone.addFolder(kStorage, 0, QStringLiteral("Album %1").arg(t));
            fill(top, folderNumber++);
            for (int s = 0; s < kSubfoldersEach; ++s) {
                const uint32_t sub = phone.addFolder(kStorage, top, QStringLiteral("Day %1").arg(s));
                fill(sub, folderNumber++);
            }
        }
    });
    return phone;
}

// One build from nothing (run first, before other builds leave freed memory
// behind): the peak resident size above what was resident before it, and
// the heap the finished map keeps.
void BM_BuildMapMemory(benchmark::State &state)
{
    OpenedPhone &phone = bigPhone();
    LogSetCategoryEnabled(1, false);
    double peakMB = 0;
    double keptMB = 0;
    for (auto _ : state) {
        MTPDevice device(0x04e8, 0x6642, phone.sim);
        device.setMTPDevice(phone.handle, 0);
        const qint64 before = statusField("VmRSS");
        const size_t heapBefore = mallinfo2().uordblks + mallinfo2().hblkhd;
        const bool reset = resetPeakRss();
        device.setStorageID(kStorage);
        const qint64 peak = reset ? statusField("VmHWM") : -1;
        const size_t heapAfter = mallinfo2().uordblks + mallinfo2().hblkhd;
        peakMB = peak >= 0 ? double(peak - before) / 1024.0 : -1.0;
        keptMB = double(qint64(heapAfter) - qint64(heapBefore)) / (1024.0 * 1024.0);
        benchmark::DoNotOptimize(device.objectCount());
        device.detach();
    }
    state.counters["peak_rss_delta_MB"] = peakMB;
    state.counters["map_heap_MB"] = keptMB;
}
BENCHMARK(BM_BuildMapMemory)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_WalkWithoutMap(benchmark::State &state)
{
    OpenedPhone &phone = bigPhone();
    qint64 seen = 0;
    for (auto _ : state) {
        seen = 0;
        MtpObjectWalk::walk(*phone.sim, phone.handle, MtpStorageId(kStorage),
                            [&](const LIBMTP_file_t &object, int, MtpObjectId) {
                                benchmark::DoNotOptimize(object.item_id);
                                ++seen;
                                return true;
                            });
    }
    state.counters["objects"] = double(seen);
    state.SetItemsProcessed(state.iterations() * seen);
}
BENCHMARK(BM_WalkWithoutMap)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// A rebuild as the device makes it after a change on the phone: the new map
// is built from a walk, then replaces the old one (whose release is timed
// too).
void BM_BuildMap(benchmark::State &state)
{
    OpenedPhone &phone = bigPhone();
    LogSetCategoryEnabled(1, false);
    MTPDevice device(0x04e8, 0x6642, phone.sim);
    device.setMTPDevice(phone.handle, kStorage);
    for (auto _ : state)
        device.setCaches();
    state.counters["objects"] = double(device.objectCount() - 1);
    state.SetItemsProcessed(state.iterations() * (device.objectCount() - 1));
    device.detach();
}
BENCHMARK(BM_BuildMap)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// A chain of nested folders, each holding one photo.
OpenedPhone &deepPhone(int depth)
{
    static std::map<int, std::unique_ptr<OpenedPhone>> phones;
    std::unique_ptr<OpenedPhone> &phone = phones[depth];
    if (!phone) {
        phone = std::make_unique<OpenedPhone>([depth](MtpSimPhone &phone) {
            uint32_t folder = 0;
            for (int i = 0; i < depth; ++i) {
                phone.addFileOfSize(kStorage, folder, QStringLiteral("IMG_%1.jpg").arg(i), 1843200, 1360836900);
                folder = phone.addFolder(kStorage, folder, QStringLiteral("Folder %1").arg(i));
            }
        });
    }
    return *phone;
}

// The phone is attached afresh (its map built), then listed the way the
// media finder lists it: each folder, and each file found looked up by its
// path.
void BM_ListDeepFolders(benchmark::State &state)
{
    OpenedPhone &phone = deepPhone(int(state.range(0)));
    LogSetCategoryEnabled(1, false);
    const QString kEntry = QStringLiteral("entry");
    const QString kFilename = QStringLiteral("filename");
    const QString kType = QStringLiteral("type");
    int listed = 0;
    for (auto _ : state) {
        MTPDevice device(0x04e8, 0x6642, phone.sim);
        device.setMTPDevice(phone.handle, kStorage);
        QString path = MTPDeviceObjectMap::drive();
        listed = 0;
        for (bool deeper = true; deeper;) {
            deeper = false;
            const QVariantList entries =
                device.sendCmdWithDictionary(DeviceCommands::fsGetDir(path)).toMap().value(kEntry).toList();
            ++listed;
            QString next;
            for (const QVariant &item : entries) {
                const QVariantMap entry = item.toMap();
                const QString child =
                    path + (path.size() > 3 ? QStringLiteral("\\") : QString()) + entry.value(kFilename).toString();
                if (entry.value(kType).toString() == QLatin1String("dir")) {
                    next = child;
                    deeper = true;
                } else {
                    benchmark::DoNotOptimize(device.oidForPath(child));
                }
            }
            path = next;
        }
        device.detach();
    }
    state.counters["folders"] = double(listed);
    state.counters["us_per_folder"] = benchmark::Counter(
        double(listed) * 1e-6, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_ListDeepFolders)->Arg(2500)->Arg(5000)->Arg(10000)->Arg(20000)->Unit(benchmark::kMillisecond);

// One folder of files that all have the same name, as a phone's album
// covers may: each takes a free name of its own, and the time per file must
// stay flat as their number doubles.
void BM_BuildMapOfOneName(benchmark::State &state)
{
    static std::map<int64_t, std::unique_ptr<OpenedPhone>> phones;
    std::unique_ptr<OpenedPhone> &phone = phones[state.range(0)];
    if (!phone)
        phone = std::make_unique<OpenedPhone>([count = state.range(0)](MtpSimPhone &phone) {
            const uint32_t folder = phone.addFolder(kStorage, 0, QStringLiteral("Covers"));
            for (int64_t i = 0; i < count; ++i)
                phone.addFileOfSize(kStorage, folder, QStringLiteral("cover.jpg"), 1000, 1360836900);
        });
    LogSetCategoryEnabled(1, false);
    MTPDevice device(0x04e8, 0x6642, phone->sim);
    device.setMTPDevice(phone->handle, kStorage);
    for (auto _ : state)
        device.setCaches();
    state.counters["us_per_file"] = benchmark::Counter(
        double(state.range(0)) * 1e-6, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    device.detach();
}
BENCHMARK(BM_BuildMapOfOneName)->Arg(5000)->Arg(10000)->Arg(20000)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
