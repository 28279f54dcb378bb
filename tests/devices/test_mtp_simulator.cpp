// Conformance of the simulated MTP library with the seam's contract
// (devices/mtp/MtpLibrary.h): the MTP device's tests stand on it.

#include "devices/mtp/DebianMtpLibrary.h"
#include "devices/mtp/MtpObjectWalk.h"
#include "devices/mtp/sim/SimulatedMtpLibrary.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QSet>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

namespace {

QString fixturePath(const char *name)
{
    return QStringLiteral(VTR_TEST_SOURCE_DIR "/devices/data/mtp/") + QLatin1String(name);
}

constexpr uint32_t kInternal = 0x00010001;
constexpr uint32_t kCard = 0x00020001;

// Opens the last detected phone of a simulator, the way the phone object does.
LIBMTP_mtpdevice_t *openLast(SimulatedMtpLibrary &sim)
{
    LIBMTP_raw_device_t *raw = nullptr;
    int count = 0;
    if (sim.detectRawDevices(&raw, &count) != LIBMTP_ERROR_NONE || count < 1) return nullptr;
    LIBMTP_mtpdevice_t *device = sim.openRawDeviceUncached(&raw[count - 1]);
    sim.freeRawDevices(raw);
    return device;
}

template <typename T> int countList(T *list)
{
    int n = 0;
    for (; list; list = list->next)
        ++n;
    return n;
}

class SimPhoneTest : public ::testing::Test
{
protected:
    void load(const char *fixture)
    {
        QString error;
        phone = sim.addPhoneFromFile(fixturePath(fixture), &error);
        ASSERT_NE(phone, nullptr) << qPrintable(error);
        device = openLast(sim);
        ASSERT_NE(device, nullptr);
    }

    void TearDown() override
    {
        if (device) sim.releaseDevice(device);
        if (checkDiscipline) {
            EXPECT_EQ(sim.concurrentCallCount(), 0);
        }
    }

    uint32_t idOf(uint32_t storage, const char *path)
    {
        return phone->objectIdForPath(storage, QString::fromUtf8(path));
    }

    QStringList namesUnder(uint32_t storage, uint32_t parent)
    {
        QStringList names;
        MtpFileList list(sim.getFilesAndFolders(device, MtpStorageId(storage), MtpObjectId(parent)));
        for (LIBMTP_file_t *f = list.get(); f; f = f->next)
            names << QString::fromUtf8(f->filename);
        return names;
    }

    void setBlockSize(uint32_t size)
    {
        MtpSimOptions options = phone->options();
        options.transferBlockSize = size;
        phone->setOptions(options);
    }

    SimulatedMtpLibrary sim;
    MtpSimPhone *phone = nullptr;
    LIBMTP_mtpdevice_t *device = nullptr;
    bool checkDiscipline = true;
};

// ---- transfer helpers -------------------------------------------------------

struct Sink
{
    QByteArray bytes;
    std::vector<uint32_t> blocks;
    int cancelAtBlock = -1;
    int failAtBlock = -1;
};

uint16_t putToSink(void *, void *priv, uint32_t length, unsigned char *data, uint32_t *put)
{
    auto *sink = static_cast<Sink *>(priv);
    if (int(sink->blocks.size()) == sink->cancelAtBlock) return LIBMTP_HANDLER_RETURN_CANCEL;
    if (int(sink->blocks.size()) == sink->failAtBlock) return LIBMTP_HANDLER_RETURN_ERROR;
    sink->blocks.push_back(length);
    sink->bytes.append(reinterpret_cast<const char *>(data), length);
    *put = length;
    return LIBMTP_HANDLER_RETURN_OK;
}

struct Source
{
    explicit Source(QByteArray data = {}) : bytes(std::move(data)) {}
    QByteArray bytes;
    qint64 offset = 0;
    std::vector<uint32_t> wanted;
    int cancelAtBlock = -1;
    uint32_t maxPerCall = 0; // 0: as much as wanted
};

uint16_t getFromSource(void *, void *priv, uint32_t wantlen, unsigned char *data, uint32_t *gotlen)
{
    auto *source = static_cast<Source *>(priv);
    if (int(source->wanted.size()) == source->cancelAtBlock) return LIBMTP_HANDLER_RETURN_CANCEL;
    source->wanted.push_back(wantlen);
    uint32_t n = uint32_t(std::min<qint64>(wantlen, source->bytes.size() - source->offset));
    if (source->maxPerCall) n = std::min(n, source->maxPerCall);
    if (n == 0) return LIBMTP_HANDLER_RETURN_ERROR;
    std::memcpy(data, source->bytes.constData() + source->offset, n);
    source->offset += n;
    *gotlen = n;
    return LIBMTP_HANDLER_RETURN_OK;
}

struct ProgressLog
{
    std::vector<std::pair<uint64_t, uint64_t>> calls;
    int cancelAtCall = -1;
};

int progress(uint64_t const sent, uint64_t const total, void const *data)
{
    auto *log = static_cast<ProgressLog *>(const_cast<void *>(data));
    log->calls.emplace_back(sent, total);
    return int(log->calls.size()) - 1 == log->cancelAtCall ? 1 : 0;
}

LIBMTP_file_t *newSendRecord(const char *name, uint64_t size, uint32_t parent, uint32_t storage)
{
    LIBMTP_file_t *file = LIBMTP_new_file_t();
    file->filename = strdup(name);
    file->filesize = size;
    file->parent_id = parent;
    file->storage_id = storage;
    file->filetype = MtpLibrary::kNewObjectFileType;
    return file;
}

// Sends the source's bytes (announced as `size`, by default all of them) as a new object; answers the
// library's result and the new object's id in `id`.
int sendFrom(SimulatedMtpLibrary &sim, LIBMTP_mtpdevice_t *device, Source &source, const char *name, uint32_t parent,
             uint32_t storage, uint32_t *id = nullptr, qint64 size = -1)
{
    LIBMTP_file_t *file = newSendRecord(name, size < 0 ? source.bytes.size() : size, parent, storage);
    const int result = sim.sendFileFromHandler(device, getFromSource, &source, file, nullptr, nullptr);
    if (id) *id = file->item_id;
    LIBMTP_destroy_file_t(file);
    return result;
}

QByteArray someBytes(int n, char seed = 1)
{
    QByteArray bytes(n, Qt::Uninitialized);
    for (int i = 0; i < n; ++i)
        bytes[i] = char((i * 7 + seed) & 0xff);
    return bytes;
}

} // namespace

// ---- fixtures: a described phone is what the library reports ----------------

// The device texts and storage values reach the MTP device's own tests; here the library's records.
TEST_F(SimPhoneTest, AndroidFixtureDescribesDeviceAndStorages)
{
    load("android_phone.json");
    LIBMTP_raw_device_t *raw = nullptr;
    int count = 0;
    ASSERT_EQ(sim.detectRawDevices(&raw, &count), LIBMTP_ERROR_NONE);
    ASSERT_EQ(count, 1);
    EXPECT_EQ(raw[0].device_entry.vendor_id, 0x04e8);
    sim.freeRawDevices(raw);
    uint16_t vendor = 0, product = 0;
    ASSERT_TRUE(sim.usbIdentifiers(device, &vendor, &product));
    EXPECT_EQ(product, 0x6642);

    // Opening reads the storages, as the library does; asking again rebuilds the list.
    ASSERT_NE(device->storage, nullptr);
    ASSERT_EQ(sim.getStorage(device, LIBMTP_STORAGE_SORTBY_NOTSORTED), 0);
    LIBMTP_devicestorage_t *internal = device->storage;
    LIBMTP_devicestorage_t *card = internal->next;
    ASSERT_NE(card, nullptr);
    EXPECT_EQ(card->next, nullptr);
    EXPECT_EQ(card->prev, internal);
    EXPECT_EQ(internal->id, kInternal);
    EXPECT_EQ(internal->VolumeIdentifier, nullptr);
    EXPECT_EQ(card->id, kCard);
    EXPECT_STREQ(card->VolumeIdentifier, "3A5F-1C2B");
    EXPECT_TRUE(
        phone->contents(idOf(kInternal, "solvennawp/nroid_con.json")).startsWith("{\"command\":\"ADD_RECORD\""));
}

TEST_F(SimPhoneTest, OtherFixturesLoad)
{
    load("no_storage.json");
    EXPECT_TRUE(phone->storageIds().empty());
    EXPECT_EQ(device->storage, nullptr);
    EXPECT_EQ(sim.getStorage(device, 0), 0);
    EXPECT_EQ(device->storage, nullptr);
    EXPECT_EQ(sim.getFilesAndFolders(device, MtpStorageId(0), MtpLibrary::kFilesAndFoldersRoot), nullptr);

    MtpSimPhone *marker = sim.addPhoneFromFile(fixturePath("android_card_marker.json"));
    ASSERT_NE(marker, nullptr);
    EXPECT_NE(marker->objectIdForPath(kCard, QStringLiteral("solvennawp/nroid_con.json")), 0u);
    EXPECT_EQ(marker->objectIdForPath(kInternal, QStringLiteral("solvennawp/nroid_con.json")), 0u);
    EXPECT_EQ(sim.phoneCount(), 2);
}

TEST(MtpSimulatorFixtures, InvalidDescriptionsAreRefusedAndLeaveNoPhone)
{
    SimulatedMtpLibrary sim;
    const char *bad[] = {
        "not json",
        R"({"storages": [{"objects": [{"size": 3}]}]})",                                      // no name
        R"({"storages": [{"objects": [{"name": "a", "text": "abc", "size": 4}]}]})",          // size differs
        R"({"storages": [{"objects": [{"name": "p.pla", "playlist": {"tracks": ["x"]}}]}]})", // unknown track
        R"({"storages": [{"capacity": 1, "freeSpace": 2}]})",                                 // more free than capacity
        R"({"storages": [{}], "rawObjects": [{"id": 5, "storageId": 65537, "parentId": 77, "name": "x"}]})",
        R"({"storages": [{"objects": [{"name": "a", "type": "NOPE"}]}]})",
        // Numbers beyond what their field holds.
        R"({"storages": [{"capacity": 1e30}]})",
        R"({"storages": [{"id": 4294967296}]})",
        R"({"storages": [{"objects": [{"name": "a", "mtime": 1e30}]}]})",
        R"({"storages": [{"objects": [{"name": "a", "track": {"tracknumber": 70000}}]}]})",
        R"({"storages": [{"objects": [{"name": "p.pla", "playlist": {"tracks": [-1]}}]}]})",
    };
    for (const char *json : bad) {
        QString error;
        EXPECT_EQ(sim.addPhoneFromJson(json, &error), nullptr) << json;
        EXPECT_FALSE(error.isEmpty()) << json;
    }
    EXPECT_EQ(sim.addPhoneFromFile(fixturePath("missing.json")), nullptr);
    EXPECT_EQ(sim.phoneCount(), 0);
}

TEST(MtpSimulatorFixtures, FreeSpaceFollowsObjectsWhenNotGiven)
{
    SimulatedMtpLibrary sim;
    MtpSimPhone *phone =
        sim.addPhoneFromJson(R"({"storages": [{"capacity": 1000, "objects": [{"name": "a", "size": 300},
                                {"name": "F", "children": [{"name": "b", "text": "12345"}]}]}]})");
    ASSERT_NE(phone, nullptr);
    EXPECT_EQ(phone->freeSpace(kInternal), 1000u - 300u - 5u);
}

// ---- listings ---------------------------------------------------------------

TEST_F(SimPhoneTest, FilesAndFoldersListOneFolderOrEveryObject)
{
    load("android_phone.json");
    EXPECT_EQ(namesUnder(kInternal, LIBMTP_FILES_AND_FOLDERS_ROOT),
              (QStringList{"solvennawp", "DCIM", "Download", "Ringtones"}));
    const uint32_t album = idOf(kCard, "Music/The Harbour Lights/Northern Skies");
    EXPECT_EQ(namesUnder(kCard, album),
              (QStringList{"01 - Morning Tide.mp3", "02 - Lanterns.mp3", "03 - Grey Gulls.mp3"}));
    EXPECT_TRUE(namesUnder(kInternal, idOf(kInternal, "Download")).isEmpty());
    EXPECT_EQ(namesUnder(0, LIBMTP_FILES_AND_FOLDERS_ROOT).size(), 4 + 4); // storage 0: every storage
    EXPECT_EQ(namesUnder(kInternal, 0).size(), 11);                        // parent 0: every object of the storage
    EXPECT_TRUE(namesUnder(kCard, idOf(kInternal, "DCIM")).isEmpty());     // filtered by storage
    EXPECT_EQ(sim.getFilesAndFolders(device, MtpStorageId(kInternal), MtpObjectId(4242)), nullptr);

    MtpFileList top(sim.getFilesAndFolders(device, MtpStorageId(kInternal), MtpLibrary::kFilesAndFoldersRoot));
    ASSERT_TRUE(top);
    EXPECT_EQ(top->parent_id, 0u); // the top level, as Android reports it
}

namespace {

QString describeTree(const LIBMTP_folder_t *folder)
{
    QString text;
    for (; folder; folder = folder->sibling) {
        text +=
            QString::fromUtf8(folder->name) + QStringLiteral("(%1,%2)").arg(folder->folder_id).arg(folder->parent_id);
        if (folder->child) text += QLatin1Char('[') + describeTree(folder->child) + QLatin1Char(']');
        if (folder->sibling) text += QLatin1Char(' ');
    }
    return text;
}

} // namespace

TEST_F(SimPhoneTest, FolderTreeMatchesTheWalkPerStorage)
{
    load("android_phone.json");
    for (uint32_t storage : {kInternal, kCard}) {
        MtpFolderTree library(sim.getFolderListForStorage(device, MtpStorageId(storage)));
        MtpFolderTree walked(MtpObjectWalk::folderTree(sim, device, MtpStorageId(storage)));
        ASSERT_TRUE(library);
        EXPECT_EQ(describeTree(library.get()), describeTree(walked.get()));
    }
    MtpFolderTree card(sim.getFolderListForStorage(device, MtpStorageId(kCard)));
    EXPECT_TRUE(describeTree(card.get()).contains(QStringLiteral("[Northern Skies(")));
}

TEST_F(SimPhoneTest, WalkEntersEveryFolderOnceAndStops)
{
    load("android_phone.json");
    // A phone that lists a folder inside itself and twice at the top.
    const uint32_t music = idOf(kCard, "Music");
    ASSERT_TRUE(phone->alsoListUnder(music, kCard, idOf(kCard, "Music/The Harbour Lights")));
    ASSERT_TRUE(phone->alsoListUnder(music, kCard, 0));

    int visits = 0;
    std::map<uint32_t, int> seen;
    EXPECT_TRUE(
        MtpObjectWalk::walk(sim, device, MtpStorageId(kCard), [&](const LIBMTP_file_t &o, int depth, MtpObjectId) {
            ++visits;
            ++seen[o.item_id];
            EXPECT_LE(depth, MtpObjectWalk::kDefaultMaxDepth);
            return true;
        }));
    EXPECT_EQ(sim.callCount("LIBMTP_Get_Files_And_Folders"), 1 + 8); // the top level and each folder once
    EXPECT_GE(seen[music], 2);
    EXPECT_LT(visits, 40);

    int stopAfter = 3; // the visitor can stop the walk
    EXPECT_FALSE(MtpObjectWalk::walk(sim, device, MtpStorageId(kCard),
                                     [&](const LIBMTP_file_t &, int, MtpObjectId) { return --stopAfter > 0; }));

    // A depth limit bounds a deep chain.
    SimulatedMtpLibrary deep;
    MtpSimPhone &p = deep.addPhone();
    const uint32_t storage = p.addStorage({});
    uint32_t parent = 0;
    for (int i = 0; i < 100; ++i)
        parent = p.addFolder(storage, parent, QStringLiteral("d%1").arg(i));
    LIBMTP_mtpdevice_t *handle = openLast(deep);
    int deepest = 0;
    MtpObjectWalk::walk(
        deep, handle, MtpStorageId(storage),
        [&](const LIBMTP_file_t &, int depth, MtpObjectId) {
            deepest = std::max(deepest, depth);
            return true;
        },
        10);
    EXPECT_EQ(deepest, 10);
    deep.releaseDevice(handle);
}

TEST_F(SimPhoneTest, CollectCopiesObjectsAsOneList)
{
    load("android_phone.json");
    MtpFileList everything(MtpObjectWalk::collect(sim, device, MtpStorageId(kInternal), true));
    EXPECT_EQ(countList(MtpFileList(MtpObjectWalk::collect(sim, device, MtpStorageId(kInternal), false)).get()), 6);
    EXPECT_EQ(countList(everything.get()), 11);
    EXPECT_STREQ(everything->filename, "solvennawp");
    EXPECT_STREQ(everything->next->filename, "nroid_con.json"); // parents before children

    // Storage 0: each storage of the device's list in turn.
    sim.clearCallLog();
    EXPECT_EQ(countList(MtpFileList(MtpObjectWalk::collect(sim, device, MtpStorageId(0), false)).get()), 6 + 10);
    for (const auto &call : sim.callLog())
        EXPECT_FALSE(call.arguments.startsWith(QStringLiteral("storage=0x0 ")));
}

TEST_F(SimPhoneTest, ListingsWithoutDatesKeepThemInTheMetadata)
{
    load("quirky_phone.json");
    const uint32_t late = idOf(kCard, "Music/late.mp3");
    MtpFileList listed(sim.getFilesAndFolders(device, MtpStorageId(kCard), MtpObjectId(idOf(kCard, "Music"))));
    for (LIBMTP_file_t *f = listed.get(); f; f = f->next)
        EXPECT_EQ(f->modificationdate, 0) << f->filename;
    LIBMTP_file_t *record = LIBMTP_new_file_t();
    record->item_id = late;
    EXPECT_EQ(sim.getFileModificationDate(device, record), 0);
    EXPECT_EQ(record->modificationdate, QDateTime::fromString("2012-05-05T05:05:05Z", Qt::ISODate).toSecsSinceEpoch());
    record->item_id = 777777;
    EXPECT_EQ(sim.getFileModificationDate(device, record), -1);
    LIBMTP_destroy_file_t(record);
}

TEST_F(SimPhoneTest, ObjectStringsAndMetadata)
{
    load("android_phone.json");
    const uint32_t song = idOf(kCard, "Music/Élise Marchand/Chansons/01 - Été.m4a");
    EXPECT_EQ(mtpTakeString(sim.getStringFromObject(device, MtpObjectId(song), LIBMTP_PROPERTY_ObjectFileName)),
              QStringLiteral("01 - Été.m4a"));
    EXPECT_TRUE(
        mtpTakeString(sim.getStringFromObject(device, MtpObjectId(99999), LIBMTP_PROPERTY_ObjectFileName)).isNull());
    EXPECT_TRUE(mtpTakeString(sim.getStringFromObject(device, MtpObjectId(song), LIBMTP_PROPERTY_Lyrics)).isNull());
    MtpFileList folder(sim.getFilemetadata(device, MtpObjectId(idOf(kCard, "Music"))));
    ASSERT_TRUE(folder);
    EXPECT_EQ(folder->filetype, LIBMTP_FILETYPE_FOLDER);
    EXPECT_EQ(sim.getFilemetadata(device, MtpObjectId(99999)), nullptr);
}

// The MTP device's tests show what it makes of these; here that the phone gives them as described.
TEST_F(SimPhoneTest, QuirkyNamesAreListedAsThePhoneGivesThem)
{
    load("quirky_phone.json");
    EXPECT_EQ(MtpFolderTree(sim.getFolderListForStorage(device, MtpStorageId(kInternal))),
              nullptr); // files but no folders
    const QStringList music = namesUnder(kCard, idOf(kCard, "Music"));
    EXPECT_EQ(music.count(QStringLiteral("dup.txt")), 2);
    EXPECT_TRUE(music.contains(QStringLiteral("slash/in name.txt")));
    // Objects whose parents loop are not reachable from the top, but a whole-device listing has them.
    EXPECT_FALSE(namesUnder(kCard, LIBMTP_FILES_AND_FOLDERS_ROOT).contains(QStringLiteral("loop-a")));
    EXPECT_EQ(namesUnder(kCard, 9001), (QStringList{"loop-b", "in-the-loop.txt"}));
    bool sawLoopFile = false;
    MtpFileList all(sim.getFilelistingWithCallback(device, nullptr, nullptr));
    for (LIBMTP_file_t *f = all.get(); f; f = f->next)
        if (f->item_id == 9003) sawLoopFile = f->parent_id == 9001;
    EXPECT_TRUE(sawLoopFile);
    ASSERT_EQ(sim.getStorage(device, 0), 0);
    LIBMTP_devicestorage_t *rom = device->storage->next->next;
    ASSERT_NE(rom, nullptr);
    EXPECT_EQ(rom->AccessCapability, 1); // read-only
}

// ---- transfers --------------------------------------------------------------

TEST_F(SimPhoneTest, GetFileDeliversTheBytesInBlocksWithProgress)
{
    load("android_phone.json");
    setBlockSize(100);
    const uint32_t contacts = idOf(kInternal, "solvennawp/nroid_con.json");
    const QByteArray expected = phone->contents(contacts);
    ASSERT_GT(expected.size(), 100);
    Sink sink;
    ProgressLog log;
    ASSERT_EQ(sim.getFileToHandler(device, MtpObjectId(contacts), putToSink, &sink, progress, &log), 0);
    ASSERT_EQ(sink.bytes, expected);
    EXPECT_EQ(sink.blocks.front(), 100u);
    EXPECT_EQ(sink.blocks.back(), uint32_t(expected.size() % 100 ? expected.size() % 100 : 100));
    ASSERT_EQ(log.calls.size(), sink.blocks.size());
    EXPECT_EQ(log.calls.back(), std::make_pair(uint64_t(expected.size()), uint64_t(expected.size())));
    for (size_t i = 1; i < log.calls.size(); ++i)
        EXPECT_GT(log.calls[i].first, log.calls[i - 1].first);

    // Generated contents are stable and match the SHA-1 the phone reports.
    const uint32_t photo = idOf(kInternal, "DCIM/Camera/IMG_20130214_101500.jpg");
    Sink photoSink;
    ASSERT_EQ(sim.getFileToHandler(device, MtpObjectId(photo), putToSink, &photoSink, nullptr, nullptr), 0);
    ASSERT_EQ(photoSink.bytes.size(), 1843200);
    EXPECT_EQ(QCryptographicHash::hash(photoSink.bytes, QCryptographicHash::Sha1), phone->sha1(photo));
    EXPECT_EQ(uint8_t(photoSink.bytes[12345]), MtpSimPhone::patternByte(photo, 12345));
    // Cheap as they are to make, read in blocks that fall anywhere they are
    // the pattern, and no two of their 4 KiB blocks (nor two files) are alike:
    // a block delivered twice, out of place or from another file shows.
    qint64 firstWrong = -1;
    for (qint64 i = 0; i < photoSink.bytes.size() && firstWrong < 0; ++i)
        if (uint8_t(photoSink.bytes[i]) != MtpSimPhone::patternByte(photo, i)) firstWrong = i;
    EXPECT_EQ(firstWrong, -1);
    QSet<QByteArray> blocks;
    for (qint64 at = 0; at < photoSink.bytes.size(); at += 4096)
        blocks.insert(photoSink.bytes.mid(at, 4096));
    blocks.insert(phone->contents(idOf(kInternal, "DCIM/Camera/IMG_20130220_173010.jpg")).left(4096));
    EXPECT_EQ(blocks.size(), 1843200 / 4096 + 1);
}

TEST_F(SimPhoneTest, GetFileOfNothingFailedOrCancelled)
{
    load("android_phone.json");
    const uint32_t empty = phone->addFile(kInternal, idOf(kInternal, "Download"), "empty.txt", QByteArray());
    Sink emptySink;
    ProgressLog log;
    EXPECT_EQ(sim.getFileToHandler(device, MtpObjectId(empty), putToSink, &emptySink, progress, &log), 0);
    EXPECT_TRUE(emptySink.blocks.empty()); // no handler call, one progress call
    EXPECT_EQ(log.calls, (std::vector<std::pair<uint64_t, uint64_t>>{{0, 0}}));
    // Folders and unknown objects cannot be read.
    EXPECT_EQ(
        sim.getFileToHandler(device, MtpObjectId(idOf(kInternal, "Download")), putToSink, &emptySink, nullptr, nullptr),
        -1);
    EXPECT_EQ(sim.getFileToHandler(device, MtpObjectId(424242), putToSink, &emptySink, nullptr, nullptr), -1);

    const uint32_t song = idOf(kCard, "Music/The Harbour Lights/Northern Skies/02 - Lanterns.mp3");
    Sink cancelling;
    cancelling.cancelAtBlock = 2;
    EXPECT_EQ(sim.getFileToHandler(device, MtpObjectId(song), putToSink, &cancelling, nullptr, nullptr),
              MtpLibrary::kTransferCancelled);
    EXPECT_EQ(cancelling.blocks.size(), 2u);

    ProgressLog stop;
    stop.cancelAtCall = 0;
    Sink sink;
    EXPECT_EQ(sim.getFileToHandler(device, MtpObjectId(song), putToSink, &sink, progress, &stop),
              MtpLibrary::kTransferCancelled);
    EXPECT_EQ(sink.blocks.size(), 1u);

    Sink failing;
    failing.failAtBlock = 1;
    EXPECT_EQ(sim.getFileToHandler(device, MtpObjectId(song), putToSink, &failing, nullptr, nullptr), -1);
}

TEST_F(SimPhoneTest, SendCreatesTheObjectAndTakesItsSpace)
{
    load("android_phone.json");
    setBlockSize(4096);
    const uint32_t folder = idOf(kCard, "Music");
    const uint64_t freeBefore = phone->freeSpace(kCard);
    const uint32_t revisionBefore = phone->contentRevision();

    Source source;
    source.bytes = someBytes(10000);
    source.maxPerCall = 3000; // a handler may give less than wanted
    ProgressLog log;
    LIBMTP_file_t *file = newSendRecord("new song.mp3", 10000, folder, kCard);
    file->filetype = LIBMTP_FILETYPE_MP3;
    file->modificationdate = 1300000000;
    ASSERT_EQ(sim.sendFileFromHandler(device, getFromSource, &source, file, progress, &log), 0);
    ASSERT_NE(file->item_id, 0u);
    EXPECT_EQ(file->parent_id, folder);
    for (uint32_t w : source.wanted)
        EXPECT_LE(w, 4096u);
    ASSERT_FALSE(log.calls.empty());
    EXPECT_EQ(log.calls.back(), std::make_pair(uint64_t(10000), uint64_t(10000)));

    auto info = phone->object(file->item_id);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->name, QByteArray("new song.mp3"));
    EXPECT_EQ(info->filetype, LIBMTP_FILETYPE_MP3);
    EXPECT_EQ(info->mtime, 1300000000);
    EXPECT_EQ(phone->contents(file->item_id), source.bytes);
    EXPECT_EQ(phone->freeSpace(kCard), freeBefore - 10000);
    EXPECT_GT(phone->contentRevision(), revisionBefore);
    LIBMTP_destroy_file_t(file);

    // Storage 0 is the first storage; parent 0 and the top-level value both mean the top level.
    for (uint32_t parent : {0u, MtpLibrary::kTopLevelParent.raw()}) {
        Source s{someBytes(10)};
        uint32_t id = 0;
        ASSERT_EQ(sendFrom(sim, device, s, parent ? "b.txt" : "a.txt", parent, 0, &id), 0);
        EXPECT_EQ(phone->object(id)->storageId, kInternal);
        EXPECT_EQ(phone->object(id)->parentId, 0u);
    }
    EXPECT_TRUE(namesUnder(kInternal, LIBMTP_FILES_AND_FOLDERS_ROOT).contains(QStringLiteral("b.txt")));
}

TEST_F(SimPhoneTest, SendThatCannotHappenChangesNothing)
{
    load("android_phone.json");
    const uint32_t folder = idOf(kCard, "Music");
    const qint64 objects = phone->objectCount();
    const uint64_t freeBefore = phone->freeSpace(kCard);
    struct Case
    {
        const char *name;
        uint64_t size;
        uint32_t parent;
        uint32_t storage;
    } cases[] = {
        {"Playlists", 5, 0, kCard},               // name taken in that folder
        {"x.mp3", freeBefore + 1, folder, kCard}, // storage full
        {"x.mp3", 5, 4242, kCard},                // unknown parent
        {"x.mp3", 5, folder, kInternal},          // parent on another storage
        {"x.mp3", 5, folder, 0x00990001},         // unknown storage
        {"a/b.mp3", 5, folder, kCard},            // "/" in a name
        {"..", 5, folder, kCard},
        {"", 5, folder, kCard},
    };
    for (const Case &c : cases) {
        Source source{someBytes(5)};
        uint32_t id = 1;
        EXPECT_EQ(sendFrom(sim, device, source, c.name, c.parent, c.storage, &id, qint64(c.size)), -1) << c.name;
        EXPECT_EQ(id, 0u);
    }
    EXPECT_EQ(phone->objectCount(), objects);
    EXPECT_EQ(phone->freeSpace(kCard), freeBefore);
}

TEST_F(SimPhoneTest, CancelledOrFailedSendLeavesNothingUnlessThePhoneKeepsParts)
{
    load("android_phone.json");
    setBlockSize(100);
    const uint32_t folder = idOf(kInternal, "Download");
    const uint64_t freeBefore = phone->freeSpace(kInternal);
    LIBMTP_file_t *file = newSendRecord("partial.bin", 1000, folder, kInternal);
    auto send = [&](int cancelAtBlock, int sourceBytes, ProgressLog *log = nullptr) {
        Source source;
        source.bytes = someBytes(sourceBytes);
        source.cancelAtBlock = cancelAtBlock;
        return sim.sendFileFromHandler(device, getFromSource, &source, file, log ? progress : nullptr, log);
    };

    EXPECT_EQ(send(3, 1000), MtpLibrary::kTransferCancelled);
    ProgressLog stop;
    stop.cancelAtCall = 4;
    EXPECT_EQ(send(-1, 1000, &stop), MtpLibrary::kTransferCancelled);
    EXPECT_EQ(send(-1, 500), -1); // the handler runs dry before the announced size
    EXPECT_TRUE(namesUnder(kInternal, folder).isEmpty());
    EXPECT_EQ(phone->freeSpace(kInternal), freeBefore);

    MtpSimOptions options = phone->options();
    options.keepPartialSends = true;
    phone->setOptions(options);
    EXPECT_EQ(send(3, 1000), MtpLibrary::kTransferCancelled);
    const uint32_t partial = idOf(kInternal, "Download/partial.bin");
    ASSERT_NE(partial, 0u);
    EXPECT_EQ(phone->contents(partial), someBytes(1000).left(300));
    EXPECT_EQ(phone->freeSpace(kInternal), freeBefore - 300);
    LIBMTP_destroy_file_t(file);
}

TEST_F(SimPhoneTest, LargeReceivedFilesKeepOnlyTheirDigest)
{
    load("android_phone.json");
    MtpSimOptions options = phone->options();
    options.maxStoredBytes = 1000;
    phone->setOptions(options);
    Source source{someBytes(5000, 9)};
    uint32_t id = 0;
    ASSERT_EQ(sendFrom(sim, device, source, "big.bin", 0, kCard, &id), 0);
    EXPECT_EQ(phone->sha1(id), QCryptographicHash::hash(source.bytes, QCryptographicHash::Sha1));
    EXPECT_TRUE(phone->contents(id).isNull());
    Sink sink; // what was not kept cannot be read back
    EXPECT_EQ(sim.getFileToHandler(device, MtpObjectId(id), putToSink, &sink, nullptr, nullptr), -1);
}

// ---- create, rename, move, delete, free space -------------------------------

TEST_F(SimPhoneTest, CreateFolderAnswersTheIdOrZero)
{
    load("android_phone.json");
    const uint32_t top = sim.createFolder(device, "Vantrel", MtpLibrary::kTopLevelParent, MtpStorageId(kCard)).raw();
    ASSERT_NE(top, MtpLibrary::kCreateFolderFailed.raw());
    EXPECT_EQ(phone->object(top)->parentId, 0u);
    const uint32_t inner =
        sim.createFolder(device, "Music", MtpObjectId(top), MtpStorageId(0)).raw(); // storage from the parent
    ASSERT_NE(inner, MtpLibrary::kCreateFolderFailed.raw());
    EXPECT_EQ(idOf(kCard, "Vantrel/Music"), inner);

    const struct
    {
        const char *name;
        uint32_t parent;
        uint32_t storage;
    } refused[] = {
        {"Vantrel", MtpLibrary::kTopLevelParent.raw(), kCard}, // taken
        {"x", 4242, kCard},                                    // unknown parent
        {"x", top, kInternal},                                 // parent on another storage
        {"a/b", top, kCard},
        {nullptr, top, kCard},
        {"x", idOf(kCard, "Movies/Holiday.mp4"), kCard}, // parent is a file
    };
    for (const auto &c : refused)
        EXPECT_EQ(sim.createFolder(device, c.name, MtpObjectId(c.parent), MtpStorageId(c.storage)),
                  MtpLibrary::kCreateFolderFailed)
            << (c.name ? c.name : "(null)");

    SimulatedMtpLibrary other;
    MtpSimPhone *readOnly = other.addPhoneFromFile(fixturePath("quirky_phone.json"));
    ASSERT_NE(readOnly, nullptr);
    LIBMTP_mtpdevice_t *handle = openLast(other);
    EXPECT_EQ(other.createFolder(handle, "x", MtpLibrary::kTopLevelParent, MtpStorageId(0x00030001)),
              MtpLibrary::kCreateFolderFailed);
    EXPECT_EQ(other.deleteObject(handle, MtpObjectId(readOnly->objectIdForPath(0x00030001, "system.img"))), -1);
    other.releaseDevice(handle);
}

TEST_F(SimPhoneTest, RenameAndMoveWithinTheStorageOnly)
{
    load("android_phone.json");
    const uint32_t movie = idOf(kCard, "Movies/Holiday.mp4");
    const uint32_t music = idOf(kCard, "Music");
    MtpFileList file(sim.getFilemetadata(device, MtpObjectId(movie)));
    ASSERT_EQ(sim.setFileName(device, file.get(), "Summer.mp4"), 0);
    EXPECT_STREQ(file->filename, "Summer.mp4");
    EXPECT_EQ(idOf(kCard, "Movies/Summer.mp4"), movie);
    EXPECT_EQ(sim.setFileName(device, file.get(), "Summer.mp4"), 0); // its own name again
    EXPECT_EQ(sim.setFileName(device, file.get(), "x/y"), -1);

    LIBMTP_folder_t *folder = LIBMTP_new_folder_t();
    folder->folder_id = idOf(kCard, "Movies");
    folder->name = strdup("Movies");
    EXPECT_EQ(sim.setFolderName(device, folder, "Music"), -1); // taken
    EXPECT_EQ(sim.setFolderName(device, folder, "Films"), 0);
    EXPECT_STREQ(folder->name, "Films");
    folder->folder_id = movie;
    EXPECT_EQ(sim.setFolderName(device, folder, "NotAFolder"), -1);
    LIBMTP_destroy_folder_t(folder);

    ASSERT_EQ(sim.setFileParentObjectId(device, file.get(), MtpObjectId(music)), 0);
    EXPECT_EQ(file->parent_id, music);
    EXPECT_EQ(idOf(kCard, "Music/Summer.mp4"), movie);
    EXPECT_TRUE(namesUnder(kCard, idOf(kCard, "Films")).isEmpty());
    ASSERT_EQ(sim.setFileParentObjectId(device, file.get(), MtpObjectId(0)), 0);
    EXPECT_EQ(idOf(kCard, "Summer.mp4"), movie);
    EXPECT_EQ(sim.setFileParentObjectId(device, file.get(), MtpObjectId(idOf(kInternal, "DCIM"))), -1); // other storage
    MtpFileList musicRecord(sim.getFilemetadata(device, MtpObjectId(music)));
    EXPECT_EQ(
        sim.setFileParentObjectId(device, musicRecord.get(), MtpObjectId(idOf(kCard, "Music/The Harbour Lights"))), -1);
    EXPECT_EQ(sim.setFileParentObjectId(device, musicRecord.get(), MtpObjectId(music)), -1); // into itself
}

TEST_F(SimPhoneTest, DeleteTakesTheSubtreeAndGivesItsSpaceBack)
{
    load("android_phone.json");
    const uint64_t freeBefore = phone->freeSpace(kCard);
    const qint64 objectsBefore = phone->objectCount();
    const uint32_t artist = idOf(kCard, "Music/The Harbour Lights");
    ASSERT_EQ(sim.deleteObject(device, MtpObjectId(artist)), 0);
    EXPECT_EQ(phone->freeSpace(kCard), freeBefore + 4194304 + 3670016 + 5242880);
    EXPECT_EQ(phone->objectCount(), objectsBefore - 5);
    EXPECT_EQ(idOf(kCard, "Music/The Harbour Lights"), 0u);
    // Albums and playlists lose the tracks that went.
    MtpAlbumList album(sim.getAlbum(device, MtpObjectId(idOf(kCard, "Albums/Northern Skies.alb"))));
    ASSERT_TRUE(album);
    EXPECT_EQ(album->no_tracks, 0u);
    EXPECT_EQ(album->tracks, nullptr);
    MtpPlaylistList favorites(sim.getPlaylist(device, MtpObjectId(idOf(kCard, "Playlists/Favorites.pla"))));
    ASSERT_TRUE(favorites);
    EXPECT_EQ(favorites->no_tracks, 1u);

    EXPECT_EQ(sim.deleteObject(device, MtpObjectId(artist)), -1);
    EXPECT_EQ(sim.deleteObject(device, MtpObjectId(0)), -1);
}

TEST_F(SimPhoneTest, FreeSpaceIsReadAfreshAndRebuildsTheStorageList)
{
    load("android_phone.json");
    ASSERT_EQ(sim.getStorage(device, 0), 0);
    const uint64_t before = device->storage->next->FreeSpaceInBytes;
    ASSERT_EQ(sim.deleteObject(device, MtpObjectId(idOf(kCard, "Movies/Holiday.mp4"))), 0);
    // The library's record keeps what was read; asking again tells the truth.
    EXPECT_EQ(device->storage->next->FreeSpaceInBytes, before);
    uint64_t free = 0;
    ASSERT_EQ(sim.getFreespace(device, device->storage->next, &free), 0);
    EXPECT_EQ(free, before + 52428800);
    EXPECT_EQ(device->storage->next->FreeSpaceInBytes, free);

    LIBMTP_devicestorage_t unknown{};
    unknown.id = 0x00770001;
    EXPECT_EQ(sim.getFreespace(device, &unknown, &free), -1);
    EXPECT_EQ(sim.getFreespace(device, nullptr, &free), -1);

    ASSERT_EQ(sim.getStorage(device, LIBMTP_STORAGE_SORTBY_FREESPACE), 0);
    EXPECT_EQ(device->storage->id, kCard);
}

// ---- tracks, playlists, albums and the extended library ---------------------

// Tracks, playlists and albums are read and written through the MTP device in its own tests; here only what
// those cannot see.
TEST_F(SimPhoneTest, TrackUpdatesWriteEveryFieldAndPlaylistsDropUnknownTracks)
{
    load("android_phone.json");
    const uint32_t song = idOf(kCard, "Music/The Harbour Lights/Northern Skies/03 - Grey Gulls.mp3");
    LIBMTP_track_t *update = LIBMTP_new_track_t();
    update->item_id = song;
    update->title = strdup("Gulls");
    ASSERT_EQ(sim.updateTrackMetadata(device, update), 0);
    LIBMTP_destroy_track_t(update);
    MtpTrackList updated(sim.getTrackmetadata(device, MtpObjectId(song)));
    EXPECT_STREQ(updated->title, "Gulls");
    EXPECT_EQ(updated->album, nullptr); // as the real library: a field left out is cleared
    EXPECT_EQ(sim.getTrackmetadata(device, MtpObjectId(idOf(kCard, "Music"))), nullptr);

    LIBMTP_playlist_t *playlist = LIBMTP_new_playlist_t();
    playlist->name = strdup("Mix");
    playlist->parent_id = idOf(kCard, "Playlists");
    playlist->storage_id = kCard;
    playlist->no_tracks = 2;
    playlist->tracks = static_cast<uint32_t *>(malloc(2 * sizeof(uint32_t)));
    playlist->tracks[0] = idOf(kCard, "Movies/Holiday.mp4");
    playlist->tracks[1] = 999999; // unknown: dropped
    ASSERT_EQ(sim.createNewPlaylist(device, playlist), 0);
    EXPECT_EQ(sim.createNewPlaylist(device, playlist), -1); // "Mix.pla" is taken now
    MtpPlaylistList read(sim.getPlaylist(device, MtpObjectId(playlist->playlist_id)));
    LIBMTP_destroy_playlist_t(playlist);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->no_tracks, 1u);
}

// ---- faults, unplugging, the call log and the callers' discipline -----------

TEST_F(SimPhoneTest, NthCallOfANamedFunctionFails)
{
    load("android_phone.json");
    EXPECT_FALSE(sim.failCall("LIBMTP_No_Such_Function"));
    EXPECT_FALSE(sim.failCall("LIBMTP_Delete_Object", 0));

    ASSERT_TRUE(sim.failCall("LIBMTP_Create_Folder", 2)); // the second call fails, once
    for (const char *name : {"a", "b", "c"})
        EXPECT_EQ(sim.createFolder(device, name, MtpLibrary::kTopLevelParent, MtpStorageId(kCard)).isNull(),
                  *name == 'b')
            << name;
    EXPECT_EQ(idOf(kCard, "b"), 0u);

    ASSERT_TRUE(sim.failCall("LIBMTP_Get_Friendlyname", 1, -1));
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(sim.getFriendlyname(device), nullptr);
    sim.clearFaults();
    EXPECT_EQ(mtpTakeString(sim.getFriendlyname(device)), QStringLiteral("Anna's phone"));

    ASSERT_TRUE(sim.failCall("LIBMTP_Send_File_From_Handler"));
    Source source{someBytes(10)};
    EXPECT_EQ(sendFrom(sim, device, source, "f.bin", 0, kCard), -1);
    EXPECT_TRUE(source.wanted.empty());
    EXPECT_EQ(sendFrom(sim, device, source, "f.bin", 0, kCard), 0);

    ASSERT_TRUE(sim.failCall("LIBMTP_Open_Raw_Device_Uncached"));
    ASSERT_TRUE(sim.failCall("LIBMTP_Detect_Raw_Devices"));
    LIBMTP_raw_device_t *raw = nullptr;
    int count = 0;
    EXPECT_EQ(sim.detectRawDevices(&raw, &count), LIBMTP_ERROR_GENERAL);
    EXPECT_EQ(raw, nullptr);
    ASSERT_EQ(sim.detectRawDevices(&raw, &count), LIBMTP_ERROR_NONE);
    sim.releaseDevice(device);
    device = nullptr;
    EXPECT_EQ(sim.openRawDeviceUncached(raw), nullptr); // injected
    device = sim.openRawDeviceUncached(raw);
    EXPECT_NE(device, nullptr);
    // The phone is in use: a second session does not open.
    EXPECT_EQ(sim.openRawDeviceUncached(raw), nullptr);
    EXPECT_EQ(sim.callLog().back().result, QStringLiteral("busy"));
    sim.freeRawDevices(raw);
}

TEST_F(SimPhoneTest, UnpluggedAfterSomeBytesEveryCallFails)
{
    load("android_phone.json");
    setBlockSize(1000);
    phone->unplugAfterBytes(2500);
    const uint32_t photo = idOf(kInternal, "DCIM/Camera/IMG_20130214_101500.jpg");
    Sink sink;
    EXPECT_EQ(sim.getFileToHandler(device, MtpObjectId(photo), putToSink, &sink, nullptr, nullptr), -1);
    EXPECT_EQ(sink.bytes.size(), 2500);
    EXPECT_TRUE(phone->isUnplugged());
    EXPECT_EQ(phone->bytesTransferred(), 2500);

    EXPECT_EQ(sim.getStorage(device, 0), -1);
    EXPECT_EQ(sim.getFilesAndFolders(device, MtpStorageId(kInternal), MtpLibrary::kFilesAndFoldersRoot), nullptr);
    EXPECT_EQ(sim.deleteObject(device, MtpObjectId(photo)), -1);
    LIBMTP_raw_device_t *raw = nullptr;
    int count = 0;
    EXPECT_EQ(sim.detectRawDevices(&raw, &count), LIBMTP_ERROR_NO_DEVICE_ATTACHED);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(sim.callLog().back().result, QStringLiteral("no device"));

    phone->replug();
    EXPECT_EQ(sim.getStorage(device, 0), 0);

    // A send that the phone leaves half-way fails and leaves nothing.
    phone->unplugAfterBytes(1500);
    Source source{someBytes(3000)};
    EXPECT_EQ(sendFrom(sim, device, source, "cut.bin", 0, kInternal), -1);
    EXPECT_EQ(source.offset, 1500);
    phone->replug();
    EXPECT_EQ(idOf(kInternal, "cut.bin"), 0u);
}

TEST_F(SimPhoneTest, CallLogRecordsCallsArgumentsResultsAndMarkers)
{
    load("android_phone.json");
    sim.clearCallLog();
    sim.deleteObject(device, MtpObjectId(4242));
    sim.addMarker("detached");
    EXPECT_FALSE(sim.anyCallAfterMarker("detached"));
    sim.getStorage(device, 0);
    EXPECT_TRUE(sim.anyCallAfterMarker("detached"));
    EXPECT_FALSE(sim.anyCallAfterMarker("never set"));

    const auto log = sim.callLog();
    ASSERT_EQ(log.size(), 3);
    EXPECT_EQ(log[0].function, QStringLiteral("LIBMTP_Delete_Object"));
    EXPECT_EQ(log[0].arguments, QStringLiteral("id=4242"));
    EXPECT_EQ(log[0].result, QStringLiteral("-1"));
    EXPECT_EQ(log[0].device, device);
    EXPECT_FALSE(log[0].failed);
    EXPECT_EQ(log[1].function, QStringLiteral("#marker"));
    EXPECT_EQ(log[2].result, QStringLiteral("0"));
    EXPECT_LT(log[0].sequence, log[2].sequence);
    EXPECT_EQ(sim.callCount("LIBMTP_Get_Storage"), 1);

    sim.failCall("LIBMTP_Get_Storage");
    sim.getStorage(device, 0);
    EXPECT_TRUE(sim.callLog().back().failed);
    EXPECT_EQ(sim.callLog().back().result, QStringLiteral("injected failure"));

    sim.setCallLogEnabled(false);
    sim.getStorage(device, 0);
    EXPECT_EQ(sim.callLog().size(), 4);
}

TEST_F(SimPhoneTest, CallsWithAReleasedHandleAreCountedNotServed)
{
    load("android_phone.json");
    EXPECT_EQ(sim.openDeviceCount(), 1);
    LIBMTP_mtpdevice_t *released = device;
    sim.releaseDevice(released);
    device = nullptr;
    EXPECT_EQ(sim.openDeviceCount(), 0);
    EXPECT_EQ(sim.invalidHandleCallCount(), 0);
    EXPECT_EQ(sim.getStorage(released, 0), -1);
    EXPECT_EQ(sim.getFilesAndFolders(released, MtpStorageId(0), MtpLibrary::kFilesAndFoldersRoot), nullptr);
    sim.releaseDevice(released);
    EXPECT_EQ(sim.invalidHandleCallCount(), 3);
    EXPECT_EQ(sim.callLog().back().result, QStringLiteral("invalid handle"));
    EXPECT_EQ(sim.phoneForDevice(released), nullptr);
}

namespace {

struct BlockingSink
{
    std::atomic<bool> entered{false};
    std::atomic<bool> release{false};
};

uint16_t blockingPut(void *, void *priv, uint32_t, unsigned char *, uint32_t *put)
{
    auto *sink = static_cast<BlockingSink *>(priv);
    sink->entered = true;
    while (!sink->release)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    *put = 0;
    return LIBMTP_HANDLER_RETURN_OK;
}

} // namespace

TEST_F(SimPhoneTest, OverlappingCallsOnOneDeviceAreReported)
{
    load("android_phone.json");
    const uint32_t song = idOf(kCard, "Music/The Harbour Lights/Northern Skies/02 - Lanterns.mp3");

    // A second call that starts while a transfer runs.
    BlockingSink blocking;
    std::thread transfer(
        [&] { sim.getFileToHandler(device, MtpObjectId(song), blockingPut, &blocking, nullptr, nullptr); });
    while (!blocking.entered)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::thread other([&] { sim.getStorage(device, 0); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    blocking.release = true;
    transfer.join();
    other.join();
    EXPECT_EQ(sim.concurrentCallCount(), 1);

    // A callback calling back into the library on the same device overlaps too.
    struct Reentrant
    {
        SimulatedMtpLibrary *sim;
        LIBMTP_mtpdevice_t *device;
    } reentrant{&sim, device};
    auto reenter = [](void *, void *priv, uint32_t length, unsigned char *, uint32_t *put) -> uint16_t {
        auto *r = static_cast<Reentrant *>(priv);
        r->sim->getStorage(r->device, 0);
        *put = length;
        return LIBMTP_HANDLER_RETURN_CANCEL;
    };
    EXPECT_EQ(sim.getFileToHandler(device, MtpObjectId(song), reenter, &reentrant, nullptr, nullptr),
              MtpLibrary::kTransferCancelled);
    EXPECT_EQ(sim.concurrentCallCount(), 2);
    checkDiscipline = false; // the overlaps were this test's own
}

// ---- Debian's library without a phone, the choice, the records ---------------

TEST(DebianMtpLibrary, AnswersUnknownWhereTheLibraryHasNoCall)
{
    DebianMtpLibrary library;
    int height = 7, width = 7;
    EXPECT_EQ(library.getScreenDimensions(nullptr, &height, &width), 0);
    EXPECT_EQ(std::make_pair(height, width), std::make_pair(0, 0));
    uint32_t revision = 7;
    EXPECT_EQ(library.getContentRevision(nullptr, &revision), 0);
    EXPECT_EQ(revision, 0u);
    EXPECT_EQ(library.syncStart(nullptr), 0);
    MtpPodcastRecord podcast(MtpLibrary::newPodcast());
    EXPECT_EQ(library.updatePodcastMetadata(nullptr, podcast.get()), -1);
    // Without a handle nothing reaches the library.
    EXPECT_EQ(library.getStorage(nullptr, 0), -1);
    EXPECT_EQ(library.createFolder(nullptr, "x", MtpObjectId(0), MtpStorageId(0)), MtpLibrary::kCreateFolderFailed);
    EXPECT_EQ(library.getFilelistingWithCallback(nullptr, nullptr, nullptr), nullptr);
    EXPECT_FALSE(library.usbIdentifiers(nullptr, nullptr, nullptr));
    uint64_t free = 0;
    EXPECT_EQ(library.getFreespace(nullptr, nullptr, &free), -1);
}

TEST(MtpLibraryChoice, TheEnvironmentNamesASimulatedPhone)
{
    qputenv(kMtpSimulatorEnvironmentVariable, fixturePath("android_phone.json").toUtf8());
    std::shared_ptr<MtpLibrary> library = mtpLibraryFromEnvironment();
    qunsetenv(kMtpSimulatorEnvironmentVariable);
    ASSERT_EQ(library->implementationName(), QStringLiteral("simulator"));
    EXPECT_EQ(static_cast<SimulatedMtpLibrary &>(*library).phoneCount(), 1);
    EXPECT_EQ(mtpLibraryFromEnvironment()->implementationName(), QStringLiteral("debian"));

    mtpSetSharedLibrary(library);
    EXPECT_EQ(mtpSharedLibrary(), library);
    mtpSetSharedLibrary(nullptr);
}

TEST(MtpLibraryRecords, FiletypeNamesRoundTrip)
{
    for (int i = 0; i <= int(LIBMTP_FILETYPE_UNKNOWN); ++i) {
        const auto type = LIBMTP_filetype_t(i);
        EXPECT_EQ(mtpFiletypeFromName(mtpFiletypeName(type)), type);
    }
    EXPECT_EQ(mtpFiletypeFromName(QStringLiteral("mp3")), LIBMTP_FILETYPE_MP3);
    EXPECT_FALSE(mtpFiletypeFromName(QStringLiteral("MP5")));
    EXPECT_EQ(mtpFiletypeName(LIBMTP_filetype_t(99)), QStringLiteral("99"));
}

TEST(MtpLibraryRecords, CopiesAndTextsAreTheCallersOwn)
{
    LIBMTP_file_t *file = LIBMTP_new_file_t();
    file->item_id = 5;
    file->filename = strdup("a.txt");
    file->next = file; // never followed by a copy
    LIBMTP_file_t *copy = mtpCopyFile(file);
    file->next = nullptr;
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(copy->filename, file->filename);
    EXPECT_STREQ(copy->filename, "a.txt");
    EXPECT_EQ(copy->next, nullptr);
    MtpFileList list(file);
    list->next = copy; // the list deleter frees both
    EXPECT_TRUE(mtpTakeString(nullptr).isNull());
    EXPECT_EQ(mtpTakeString(strdup("Été")), QStringLiteral("Été"));
}
