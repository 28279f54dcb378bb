// The MTP device: storages, device texts, the object map and the file commands,
// on simulated phones.

#include "support/MtpDeviceFixture.h"

#include "foundation/VtrString.h"

#include <gmock/gmock.h>

using namespace mtptest;
namespace cmd = DeviceCommands;
using ::testing::ElementsAre;

namespace {

// ---- storages, texts, drives ---------------------------------------------------

TEST_F(MtpDeviceTest, StoragesTextsAndDrivesOfAnAndroidPhone)
{
    load("android_phone.json", kCard);
    const QVariantList storages = mtp->storages();
    ASSERT_EQ(storages.size(), 2);
    const QVariantMap internal = storages.at(0).toMap();
    EXPECT_EQ(internal.value("rawType").toUInt(), 3u);
    EXPECT_EQ(internal.value("type").toInt(), 0);
    EXPECT_EQ(internal.value("storageID").toUInt(), kInternal);
    EXPECT_EQ(internal.value("freeSpace").toULongLong(), 5200000000ull);
    const QVariantMap card = storages.at(1).toMap();
    EXPECT_EQ(card.value("rawType").toUInt(), 4u);
    EXPECT_EQ(card.value("type").toInt(), 1);

    EXPECT_EQ(mtp->serialNumber(), "SIMANDROID0001");
    EXPECT_EQ(mtp->maxCapacity(), 16000000000ull);
    EXPECT_EQ(mtp->freeSpace(), 11000000000ull);

    const QVariantMap drive = mtp->getDrivesViaXML().value("drive").toMap();
    EXPECT_EQ(drive.value("id").toString(), "E");
    EXPECT_EQ(drive.value("serial").toString(), "3A5F-1C2B");
    EXPECT_EQ(drive.value("size").toString(), "16000000000");
    EXPECT_EQ(drive.value("free").toString(), "11000000000");

    const QVariantMap info = mtp->getDeviceInfo();
    EXPECT_EQ(info.value("model").toString(), "GT-S8300");
    EXPECT_EQ(info.value("user").toString(), "Anna's phone");
    EXPECT_EQ(info.value("OSVersion").toString(), "4.1.2");
    EXPECT_EQ(info.value("MARF").toString(), "FALSE");
    EXPECT_EQ(info.value("usb_vID").toString(), "1256");  // 0x04e8, unsigned
    EXPECT_EQ(info.value("usb_pID").toString(), "26178"); // 0x6642
    EXPECT_TRUE(info.contains("id"));
    EXPECT_TRUE(info.value("deviceApplicationIdentifier").toString().isEmpty());
}

TEST_F(MtpDeviceTest, InternalStorageSerialIsItsIdAndOddStoragesAreSkipped)
{
    load("quirky_phone.json", kInternal);
    // The third storage (type 1) is not offered.
    EXPECT_EQ(mtp->storages().size(), 2);
    EXPECT_EQ(mtp->getDrivesViaXML().value("drive").toMap().value("serial").toString(), "65537");
    // No serial number and no friendly name: "" and the model.
    EXPECT_EQ(mtp->serialNumber(), "");
    EXPECT_EQ(mtp->name(), "Quirky");
}

TEST_F(MtpDeviceTest, DriveListReadsTheFreeSpaceAfresh)
{
    load("android_phone.json", kCard);
    const uint64_t before = mtp->getDrivesViaXML().value("drive").toMap().value("free").toString().toULongLong();
    send(cmd::fsDeleteFile("E:\\Movies\\Holiday.mp4"));
    const uint64_t after = mtp->getDrivesViaXML().value("drive").toMap().value("free").toString().toULongLong();
    EXPECT_EQ(after - before, 52428800u);
}

TEST_F(MtpDeviceTest, NoStorageChosenMeansNoDriveAndNoMap)
{
    load("android_phone.json", 0);
    EXPECT_TRUE(mtp->getDrivesViaXML().isEmpty());
    EXPECT_TRUE(mtp->dictionaryForPath("E:\\").isEmpty());
    EXPECT_EQ(mtp->objectCount(), 0);
    mtp->setStorageID(kInternal);
    EXPECT_THAT(listNames("E:\\"), ElementsAre("DCIM", "Download", "Ringtones", "solvennawp"));
}

// ---- the object map ----------------------------------------------------------------

TEST_F(MtpDeviceTest, MapHoldsTheChosenStorageOnly)
{
    load("android_phone.json", kCard);
    EXPECT_THAT(listNames("E:\\"), ElementsAre("Albums", "Movies", "Music", "Playlists"));
    EXPECT_THAT(listNames("E:\\Music\\The Harbour Lights\\Northern Skies\\"),
                ElementsAre("01 - Morning Tide.mp3", "02 - Lanterns.mp3", "03 - Grey Gulls.mp3"));

    const QVariantMap file =
        mtp->dictionaryForPath("E:\\Music\\The Harbour Lights\\Northern Skies\\01 - Morning Tide.mp3");
    const uint32_t id = idOf(kCard, "Music/The Harbour Lights/Northern Skies/01 - Morning Tide.mp3");
    EXPECT_EQ(file.value("item_id").toUInt(), id);
    EXPECT_EQ(file.value("type").toString(), "file");
    EXPECT_EQ(file.value("size").toString(), "4194304");
    EXPECT_EQ(file.value("mod").toString(), "20120601100000");
    EXPECT_EQ(file.value("filetype").toInt(), int(LIBMTP_FILETYPE_MP3));
    EXPECT_EQ(file.value("storage_id").toUInt(), kCard);
    EXPECT_EQ(file.value("hidden").toString(), "FALSE");
    EXPECT_EQ(file.value("parent_id").toUInt(), idOf(kCard, "Music/The Harbour Lights/Northern Skies"));

    const QVariantMap folder = mtp->dictionaryForPath("E:\\Music\\");
    EXPECT_EQ(folder.value("folder_id").toUInt(), idOf(kCard, "Music"));
    EXPECT_EQ(folder.value("type").toString(), "dir");
    EXPECT_EQ(folder.value("parent_id").toUInt(), 0u);
    EXPECT_FALSE(folder.contains("item_id"));

    const QVariantMap root = mtp->dictionaryForPath("E:\\");
    EXPECT_EQ(root.value("storage_id").toUInt(), kCard);
    EXPECT_EQ(root.value("parent_id").toUInt(), 0u);

    EXPECT_EQ(mtp->oidForPath("E:\\Music\\The Harbour Lights\\Northern Skies\\01 - Morning Tide.mp3"), id);
    EXPECT_EQ(mtp->oidForPath("E:\\Music"), 0u);
    EXPECT_EQ(mtp->pathToObjectID(id), "E:\\Music\\The Harbour Lights\\Northern Skies\\01 - Morning Tide.mp3");
    EXPECT_EQ(mtp->pathToObjectID(idOf(kCard, "Music")), "E:\\Music");
    EXPECT_EQ(mtp->pathToObjectID(0), "E:\\");
    EXPECT_EQ(mtp->pathToObjectID(987654), "");
    // The internal storage's objects are not in this map.
    EXPECT_EQ(mtp->pathToObjectID(idOf(kInternal, "DCIM")), "");
    EXPECT_TRUE(mtp->dictionaryForPath("E:\\DCIM").isEmpty());
    EXPECT_TRUE(mtp->dictionaryForPath("C:\\Music").isEmpty());
    EXPECT_TRUE(mtp->dictionaryForPath("Music").isEmpty());
    // Non-ASCII names pass unchanged.
    EXPECT_FALSE(
        mtp->dictionaryForPath(QString::fromUtf8("E:\\Music\\Élise Marchand\\Chansons\\01 - Été.m4a")).isEmpty());

    EXPECT_TRUE(MTPDevice::isFirstLevelDirectory("E:\\Music\\"));
    EXPECT_FALSE(MTPDevice::isFirstLevelDirectory("E:\\Music\\Sub\\"));
    EXPECT_FALSE(MTPDevice::isFirstLevelDirectory("E:\\"));
}

TEST_F(MtpDeviceTest, FilesOfAnotherStorageStayOutOfTheRoot)
{
    phone = &sim->addPhone();
    MtpSimStorageSpec a;
    a.id = kInternal;
    a.capacity = 1000000;
    MtpSimStorageSpec b = a;
    b.id = kCard;
    b.storageType = 4;
    phone->addStorage(a);
    phone->addStorage(b);
    phone->addFile(kInternal, 0, "internal.txt", "i");
    phone->addFile(kCard, 0, "card.txt", "c");
    open(kCard);
    // A storage with files and no folders lists its files.
    EXPECT_THAT(listNames("E:\\"), ElementsAre("card.txt"));
}

TEST_F(MtpDeviceTest, PhoneNamesAreDataNotStructure)
{
    load("quirky_phone.json", kCard);
    // Children named like fields do not touch the folder's own fields.
    const QVariantMap music = mtp->dictionaryForPath("E:\\Music");
    EXPECT_EQ(music.value("type").toString(), "dir");
    EXPECT_EQ(music.value("filename").toString(), "Music");
    EXPECT_EQ(music.value("folder_id").toUInt(), idOf(kCard, "Music"));
    const QVariantMap typeFile = mtp->dictionaryForPath("E:\\Music\\type");
    EXPECT_EQ(typeFile.value("type").toString(), "file");
    EXPECT_EQ(typeFile.value("size").toString(), "18");
    EXPECT_EQ(mtp->dictionaryForPath("E:\\Music\\filename").value("filename").toString(), "filename");

    // Cleaned names; of two that clash (the same, or two that clean into
    // one) the first listed keeps it and the other takes a free one, also
    // on every later listing; a folder keeps its name over a file.
    const std::string names = "a_b-1.mp3 a_b.mp3 dup-1.txt dup.txt filename folder_id late.mp3 Notes Notes-1 size "
                              "slash_in name.txt type";
    EXPECT_EQ(listNames("E:\\Music").join(' ').toStdString(), names);
    EXPECT_EQ(listNames("E:\\Music").join(' ').toStdString(), names);
    EXPECT_EQ(mtp->dictionaryForPath("E:\\Music\\a_b.mp3").value("size").toString(), "100");
    EXPECT_EQ(mtp->oidForPath("E:\\Music\\a_b-1.mp3"), idOf(kCard, "Music/a_b.mp3"));
    EXPECT_EQ(mtp->dictionaryForPath("E:\\Music\\a_b-1.mp3").value("size").toString(), "200");
    EXPECT_EQ(mtp->dictionaryForPath("E:\\Music\\dup.txt").value("size").toString(), "6");
    EXPECT_EQ(mtp->dictionaryForPath("E:\\Music\\dup-1.txt").value("size").toString(), "7");
    EXPECT_EQ(mtp->dictionaryForPath("E:\\Music\\Notes").value("type").toString(), "dir");
    EXPECT_EQ(mtp->dictionaryForPath("E:\\Music\\Notes-1").value("type").toString(), "file");
    EXPECT_THAT(listNames("E:\\Music\\Notes"), ElementsAre("inner.txt"));
    EXPECT_EQ(mtp->objectCount(),
              1 /*root*/ + 2 /*Music, Empty*/ + 1 /*Elsewhere*/ + 11 /*files*/ + 1 /*Notes*/ + 1 /*folder_id*/);

    // Listings without dates: the times were fetched.
    EXPECT_EQ(mtp->dictionaryForPath("E:\\Music\\late.mp3").value("mod").toString(), "20120505050505");
    // Parents that loop are never reached; "Elsewhere" is.
    EXPECT_THAT(listNames("E:\\"), ElementsAre("Elsewhere", "Empty", "Music"));
    EXPECT_TRUE(listNames("E:\\Elsewhere").isEmpty());
    EXPECT_EQ(mtp->pathToObjectID(9003), "");
}

TEST_F(MtpDeviceTest, FolderNamesAreCleanedLikeFileNames)
{
    phone = &sim->addPhone();
    MtpSimStorageSpec storage;
    storage.id = kInternal;
    storage.capacity = 1000000;
    phone->addStorage(storage);
    const uint32_t odd = phone->addFolder(kInternal, 0, "a:b\\c");
    phone->addFile(kInternal, odd, "f.txt", "f");
    phone->addFolder(kInternal, 0, "..");
    phone->addFolder(kInternal, 0, ".");
    phone->addFolder(kInternal, 0, "");
    // A file listed before a folder of its name moves to a free name.
    phone->addFile(kInternal, 0, "Box", "b");
    phone->addFile(kInternal, phone->addFolder(kInternal, 0, "Box"), "in.txt", "i");
    // Of two names as long as a local one may be, the free one is that long too.
    const QString longName = QString(251, u'x') + QStringLiteral(".mp3");
    for (const char *contents : {"1", "2"}) phone->addFile(kInternal, 0, longName, contents);
    open(kInternal);
    EXPECT_THAT(listNames("E:\\"), ElementsAre("._", "_", "a_b_c", "Box", "Box-1", QString(249, u'x') + "-1.mp3", longName));
    EXPECT_THAT(listNames("E:\\Box"), ElementsAre("in.txt"));
    EXPECT_EQ(mtp->dictionaryForPath("E:\\Box-1").value("size").toString(), "1");
    EXPECT_EQ(mtp->dictionaryForPath("E:\\a_b_c").value("filename").toString(), "a_b_c");
    EXPECT_EQ(mtp->pathToObjectID(idOf(kInternal, "a:b\\c/f.txt")), "E:\\a_b_c\\f.txt");
    EXPECT_EQ(mtp->dictionaryForPath("E:\\a_b_c\\f.txt").value("size").toString(), "1");
}

TEST_F(MtpDeviceTest, ObjectsListedTwiceOrInACycleStayFinite)
{
    phone = &sim->addPhone();
    MtpSimStorageSpec storage;
    storage.id = kInternal;
    storage.capacity = 1000000;
    phone->addStorage(storage);
    const uint32_t x = phone->addFolder(kInternal, 0, "X");
    const uint32_t y = phone->addFolder(kInternal, x, "Y");
    const uint32_t song = phone->addFile(kInternal, y, "song.mp3", "la");
    // X claims Y as its parent (Y lists it) and is also listed at the top;
    // the song is listed a second time in X.
    ASSERT_TRUE(phone->forceParent(x, y));
    ASSERT_TRUE(phone->alsoListUnder(x, kInternal, 0));
    ASSERT_TRUE(phone->alsoListUnder(song, kInternal, x));
    open(kInternal);
    EXPECT_EQ(mtp->pathToObjectID(y), "E:\\X\\Y");
    EXPECT_EQ(mtp->pathToObjectID(song), "E:\\X\\Y\\song.mp3");
    EXPECT_THAT(listNames("E:\\X\\Y"), ElementsAre("song.mp3"));
    EXPECT_THAT(listNames("E:\\X"), ElementsAre("Y"));
    EXPECT_EQ(mtp->dictionaryForPath(mtp->pathToObjectID(song)).value("item_id").toUInt(), song);
}

TEST_F(MtpDeviceTest, SizesAre64Bit)
{
    phone = &sim->addPhone();
    MtpSimStorageSpec storage;
    storage.id = kInternal;
    storage.capacity = 100000000000ull;
    phone->addStorage(storage);
    phone->addFileOfSize(kInternal, 0, "movie.mp4", 6000000000LL);
    open(kInternal);
    EXPECT_EQ(entryNamed("E:\\", "movie.mp4").value("size").toString(), "6000000000");
}

TEST(MtpObjectMap, IndexKeepsEveryEntryThroughRemovals)
{
    // Sequential, strided and scattered IDs, some removed again: every entry
    // left is found by its ID and its path, every removed one by neither.
    MTPDeviceObjectMap map{MtpStorageId(kInternal)};
    MTPDeviceObjectMap::Entry *folder = map.addEntry(map.root(), MTPDeviceObjectMap::Kind::Folder,
                                                     MtpObjectId(0x7FFFFFF0u), "F", LIBMTP_FILETYPE_FOLDER, 0, 0);
    ASSERT_NE(folder, nullptr);
    std::vector<MtpObjectId> ids;
    for (uint32_t i = 1; i <= 3000; ++i)
        ids.push_back(MtpObjectId(i));
    for (uint32_t i = 1; i <= 3000; ++i)
        ids.push_back(MtpObjectId(0x00100000u + i * 1024));
    uint32_t scattered = 12345;
    for (int i = 0; i < 3000; ++i) {
        scattered = scattered * 1103515245u + 12345u;
        ids.push_back(MtpObjectId((scattered % 0x0FFFFFFFu) + 0x20000000u));
    }
    std::vector<MtpObjectId> kept;
    for (size_t i = 0; i < ids.size(); ++i) {
        const QString name = QString("f%1").arg(i);
        if (!map.addEntry(folder, MTPDeviceObjectMap::Kind::File, ids[i], name, LIBMTP_FILETYPE_TEXT, i, 0)) continue;
        kept.push_back(ids[i]);
    }
    std::vector<MtpObjectId> removed;
    for (size_t i = 0; i < kept.size(); i += 3) {
        map.remove(map.entryForId(kept[i]));
        removed.push_back(kept[i]);
    }
    // A name that is free again can be taken again.
    EXPECT_NE(map.addEntry(folder, MTPDeviceObjectMap::Kind::File, MtpObjectId(0x7FFFFFF1u), "f0", LIBMTP_FILETYPE_TEXT,
                           1, 0),
              nullptr);
    for (size_t i = 0; i < kept.size(); ++i) {
        if (i % 3 == 0) {
            EXPECT_EQ(map.entryForId(kept[i]), nullptr);
            EXPECT_EQ(map.pathForId(kept[i]), "");
            continue;
        }
        const MTPDeviceObjectMap::Entry *entry = map.entryForId(kept[i]);
        ASSERT_NE(entry, nullptr) << kept[i].raw();
        EXPECT_EQ(entry->objectId, kept[i]);
        EXPECT_EQ(map.entryForPath(map.pathForId(kept[i])), entry);
    }
    EXPECT_EQ(map.count(), qsizetype(1 + 1 + kept.size() - removed.size() + 1));
    // Removing a folder takes everything below it.
    map.remove(folder);
    EXPECT_EQ(map.count(), 1);
    EXPECT_EQ(map.entryForId(kept[1]), nullptr);
    EXPECT_TRUE(map.root()->children.isEmpty());
}

TEST(MtpObjectMap, PathsResolveTheSameWhateverWasLookedUpBefore)
{
    using Kind = MTPDeviceObjectMap::Kind;
    MTPDeviceObjectMap map{MtpStorageId(kInternal)};
    auto add = [&](MTPDeviceObjectMap::Entry *parent, Kind kind, uint32_t id, const char *name) {
        return map.addEntry(parent, kind, MtpObjectId(id), name, LIBMTP_FILETYPE_UNKNOWN, 1, 0);
    };
    MTPDeviceObjectMap::Entry *music = add(map.root(), Kind::Folder, 1, "Music");
    MTPDeviceObjectMap::Entry *a = add(music, Kind::Folder, 2, "a");
    MTPDeviceObjectMap::Entry *song = add(music, Kind::File, 3, "a.mp3");
    MTPDeviceObjectMap::Entry *inA = add(a, Kind::File, 4, "b.mp3");
    ASSERT_TRUE(music && a && song && inA);
    const std::pair<const char *, MTPDeviceObjectMap::Entry *> cases[] = {
        {"E:\\", map.root()},
        {"e:/", map.root()},
        {"E:\\Music\\a\\b.mp3", inA},
        {"E:\\Music\\a.mp3", song},
        {"E:\\Music\\a", a},
        {"E:/Music//a/", a},
        {"E:\\Mus", nullptr},
        {"E:\\Music\\a\\\\", nullptr},
        {"E:\\\\Music", nullptr},
        {"E:\\Music\\a.mp3\\x", nullptr},
        {"E:\\Music\\A", nullptr},
        {"C:\\Music", nullptr},
        {"E:", nullptr},
        {"Music\\a", nullptr},
        {"", nullptr},
    };
    // Each case after every other: the last look-up never changes an answer.
    for (const auto &[before, unused] : cases)
        for (const auto &[path, expected] : cases) {
            map.entryForPath(QString::fromUtf8(before));
            EXPECT_EQ(map.entryForPath(QString::fromUtf8(path)), expected) << before << " then " << path;
        }
    // What left the map after it was looked up is not found any more; what
    // takes its name is.
    EXPECT_EQ(map.entryForPath("E:\\Music\\a\\b.mp3"), inA);
    map.remove(a);
    EXPECT_EQ(map.entryForPath("E:\\Music\\a\\b.mp3"), nullptr);
    MTPDeviceObjectMap::Entry *file = add(music, Kind::File, 5, "a");
    EXPECT_EQ(map.entryForPath("E:\\Music\\a"), file);
    MTPDeviceObjectMap::Entry *folder = add(music, Kind::Folder, 6, "a");
    EXPECT_EQ(map.entryForPath("E:\\Music\\a"), folder);
}

TEST(MtpObjectMap, ADeepTreeListedFolderByFolderTakesAStepPerObject)
{
    // Nested folders, each with a file, looked up as a listing goes: the
    // folder, then its file and the file's folder.
    constexpr int kDepth = 3000;
    MTPDeviceObjectMap map{MtpStorageId(kInternal)};
    MTPDeviceObjectMap::Entry *folder = map.root();
    QString path = MTPDeviceObjectMap::drive();
    int found = 0;
    for (int i = 0; i < kDepth; ++i) {
        const QString file = path + (i ? "\\" : "") + "photo.jpg";
        ASSERT_TRUE(map.addEntry(folder, MTPDeviceObjectMap::Kind::File, MtpObjectId(2 * i + 1), "photo.jpg",
                                 LIBMTP_FILETYPE_JPEG, 1, 0));
        folder = map.addEntry(folder, MTPDeviceObjectMap::Kind::Folder, MtpObjectId(2 * i + 2),
                              QString("folder %1").arg(i), LIBMTP_FILETYPE_FOLDER, 0, 0);
        ASSERT_NE(folder, nullptr);
        found += map.entryForPath(path) && map.entryForPath(file) &&
                 map.entryForPath(vtr::windowsStringByDeletingLastPathComponent(file));
        path += QString(i ? "\\folder %1" : "folder %1").arg(i);
    }
    EXPECT_EQ(found, kDepth);
    EXPECT_EQ(map.entryForPath(path), folder);
    EXPECT_EQ(map.pathForEntry(folder), path);
    EXPECT_LE(map.pathSteps(), quint64(2 * map.count()));
}

// ---- commands ---------------------------------------------------------------------------

TEST_F(MtpDeviceTest, ListingEntries)
{
    load("android_phone.json", kCard);
    const QVariantMap file = entryNamed("E:\\Movies\\", "Holiday.mp4");
    EXPECT_EQ(file.value("type").toString(), "file");
    EXPECT_EQ(file.value("size").toString(), "52428800");
    EXPECT_EQ(file.value("mod").toString(), "20120720180000");
    EXPECT_EQ(file.value("readonly").toString(), "FALSE");
    const QVariantMap folder = entryNamed("E:\\", "Music");
    EXPECT_EQ(folder.keys(), QStringList({"filename", "type"}));
    EXPECT_EQ(folder.value("type").toString(), "dir");

    // Unknown folder: an empty listing; no "dir": nothing.
    const QVariantMap unknown = send(cmd::fsGetDir("E:\\Nowhere\\")).toMap();
    EXPECT_TRUE(unknown.contains("entry"));
    EXPECT_TRUE(unknown.value("entry").toList().isEmpty());
    EXPECT_FALSE(send(cmd::makeCommand(cmd::kFsGetDir)).isValid());
}

// A folder the phone fails to list once is answered as the phone listed it
// before, and a folder it has emptied lists empty. Where the map's walk of
// the storage failed too, nothing is known of it: the listing fails with the
// phone's words and the next one asks again. The playlists likewise.
TEST_F(MtpDeviceTest, AFolderThePhoneFailsToListIsNoEmptyFolder)
{
    load("android_phone.json", kCard);
    sim->failCall("LIBMTP_Get_Files_And_Folders");
    EXPECT_EQ(listNames("E:\\Movies\\"), QStringList{"Holiday.mp4"});
    ASSERT_EQ(sim->deleteObject(handle, MtpObjectId(idOf(kCard, "Movies/Holiday.mp4"))), 0);
    EXPECT_TRUE(listNames("E:\\Movies\\").isEmpty());

    sim->failCall("LIBMTP_Get_Files_And_Folders", 1, 2);
    mtp->setStorageID(kInternal);
    QString reason;
    EXPECT_EQ(exceptionName([&] { send(cmd::fsGetDir("E:\\")); }, &reason), "DeviceException");
    EXPECT_TRUE(reason.contains("injected failure")) << reason.toStdString();
    EXPECT_TRUE(listNames("E:\\").contains("DCIM"));

    sim->failCall("LIBMTP_Get_Playlist_List");
    EXPECT_EQ(exceptionName([&] { mtp->devicePlaylists(); }), "DeviceException");
    EXPECT_EQ(mtp->devicePlaylists().value_or(QVariantList()).size(), 2);
}

TEST_F(MtpDeviceTest, MakeDirectory)
{
    load("android_phone.json", kCard);
    EXPECT_EQ(send(cmd::fsMkDir("E:\\Backup\\")).toString(), "");
    EXPECT_TRUE(listNames("E:\\").contains("Backup"));
    const uint32_t backup = idOf(kCard, "Backup");
    ASSERT_NE(backup, 0u);
    EXPECT_EQ(phone->object(backup)->parentId, 0u);
    // The top level is asked for with the storage's top-level parent.
    bool topLevel = false;
    for (const auto &record : sim->callLog())
        if (record.function == "LIBMTP_Create_Folder" && record.arguments.contains("parent=0xffffffff"))
            topLevel = true;
    EXPECT_TRUE(topLevel);

    EXPECT_EQ(send(cmd::fsMkDir("E:\\Backup\\2013\\")).toString(), "");
    EXPECT_EQ(phone->object(idOf(kCard, "Backup/2013"))->parentId, backup);

    // There already: success without asking the phone.
    const int creates = sim->callCount("LIBMTP_Create_Folder");
    EXPECT_EQ(send(cmd::fsMkDir("E:\\Music\\")).toString(), "");
    EXPECT_EQ(sim->callCount("LIBMTP_Create_Folder"), creates);

    // Impossible or failed: errors.
    QString reason;
    EXPECT_EQ(exceptionName([&] { send(cmd::fsMkDir("E:\\No\\Such\\")); }, &reason), "DeviceException");
    EXPECT_TRUE(reason.startsWith("Device error: "));
    EXPECT_EQ(exceptionName([&] { send(cmd::fsMkDir("E:\\Movies\\Holiday.mp4\\")); }), "DeviceException");
    sim->failCall("LIBMTP_Create_Folder");
    EXPECT_EQ(exceptionName([&] { send(cmd::fsMkDir("E:\\Fails\\")); }), "DeviceException");
    EXPECT_FALSE(listNames("E:\\").contains("Fails"));
    EXPECT_FALSE(send(cmd::makeCommand(cmd::kFsMkDir)).isValid());
}

TEST_F(MtpDeviceTest, OpenAndCloseFile)
{
    load("quirky_phone.json", kCard);
    EXPECT_EQ(send(cmd::fsOpenFile("E:\\Music\\a_b.mp3", false)).toString(), "");
    // The phone's own name of the object behind the cleaned one.
    EXPECT_EQ(mtp->openFileName(), "a:b.mp3");
    EXPECT_EQ(send(cmd::fsCloseFile()).toString(), "");
    EXPECT_TRUE(mtp->openFileName().isNull());

    // Reading what is not there still opens (the transfer fails later).
    EXPECT_EQ(send(cmd::fsOpenFile("E:\\Nowhere\\x.txt", false)).toString(), "");
    EXPECT_FALSE(send(cmd::makeCommand(cmd::kFsOpenFile)).isValid());

    // Writing: the folder must be known, a folder is never replaced, and an
    // existing object is not deleted by opening.
    EXPECT_EQ(exceptionName([&] { send(cmd::fsOpenFile("E:\\Nowhere\\x.txt", true)); }), "DeviceException");
    EXPECT_EQ(exceptionName([&] { send(cmd::fsOpenFile("E:\\Music\\Notes", true)); }), "DeviceException");
    const uint32_t dup = mtp->oidForPath("E:\\Music\\dup.txt");
    EXPECT_EQ(send(cmd::fsOpenFile("E:\\Music\\dup.txt", true)).toString(), "");
    EXPECT_EQ(send(cmd::fsCloseFile()).toString(), "");
    EXPECT_TRUE(phone->object(dup).has_value());
    EXPECT_EQ(sim->callCount("LIBMTP_Delete_Object"), 0);
}

TEST_F(MtpDeviceTest, DeleteFile)
{
    load("android_phone.json", kCard);
    const uint32_t movie = idOf(kCard, "Movies/Holiday.mp4");
    const uint64_t free = phone->freeSpace(kCard);
    EXPECT_EQ(send(cmd::fsDeleteFile("E:\\Movies\\Holiday.mp4")).toString(), "");
    EXPECT_FALSE(phone->object(movie).has_value());
    EXPECT_EQ(phone->freeSpace(kCard), free + 52428800u);
    EXPECT_TRUE(listNames("E:\\Movies").isEmpty());
    EXPECT_EQ(mtp->pathToObjectID(movie), "");

    QString reason;
    EXPECT_EQ(exceptionName([&] { send(cmd::fsDeleteFile("E:\\Movies\\Holiday.mp4")); }, &reason), "DeviceException");
    EXPECT_EQ(reason, "Device error: kXMLCommandDeleteFile could not delete the file because it does not exist.");

    const uint32_t playlist = idOf(kCard, "Playlists/Favorites.pla");
    sim->failCall("LIBMTP_Delete_Object");
    EXPECT_EQ(exceptionName([&] { send(cmd::fsDeleteFile("E:\\Playlists\\Favorites.pla")); }, &reason),
              "DeviceException");
    EXPECT_EQ(reason, "Device error: kXMLCommandDeleteFile could not delete.");
    EXPECT_TRUE(phone->object(playlist).has_value());
    EXPECT_TRUE(listNames("E:\\Playlists").contains("Favorites.pla"));

    // The drive root is not a file to delete.
    const qint64 objects = phone->objectCount();
    EXPECT_EQ(exceptionName([&] { send(cmd::fsDeleteFile("E:\\")); }), "DeviceException");
    EXPECT_EQ(phone->objectCount(), objects);
    EXPECT_FALSE(send(cmd::makeCommand(cmd::kFsDeleteFile)).isValid());
}

TEST_F(MtpDeviceTest, DeletingTheLastTrackOfAnAlbumDeletesTheAlbum)
{
    load("android_phone.json", kCard);
    const QString folder = "E:\\Music\\The Harbour Lights\\Northern Skies\\";
    send(cmd::fsDeleteFile(folder + "01 - Morning Tide.mp3"));
    send(cmd::fsDeleteFile(folder + "02 - Lanterns.mp3"));
    EXPECT_TRUE(listNames("E:\\Albums").contains("Northern Skies.alb"));
    send(cmd::fsDeleteFile(folder + "03 - Grey Gulls.mp3"));
    EXPECT_FALSE(listNames("E:\\Albums").contains("Northern Skies.alb"));
    EXPECT_EQ(idOf(kCard, "Albums/Northern Skies.alb"), 0u);
    EXPECT_TRUE(listNames("E:\\Albums").contains("Chansons.alb"));
}

TEST_F(MtpDeviceTest, RemoveDirectory)
{
    load("android_phone.json", kCard);
    const qint64 objects = phone->objectCount();
    // The drive root is never removed: that would empty the storage.
    EXPECT_EQ(exceptionName([&] { send(cmd::fsRmDir("E:\\")); }), "DeviceException");
    EXPECT_EQ(phone->objectCount(), objects);
    EXPECT_EQ(sim->callCount("LIBMTP_Delete_Object"), 0);
    EXPECT_THAT(listNames("E:\\"), ElementsAre("Albums", "Movies", "Music", "Playlists"));

    // An unknown folder: a warning, no result, nothing raised.
    QVariant result;
    EXPECT_EQ(exceptionName([&] { result = send(cmd::fsRmDir("E:\\Nowhere\\")); }), "");
    EXPECT_FALSE(result.isValid());

    EXPECT_EQ(send(cmd::fsRmDir("E:\\Movies\\")).toString(), "");
    EXPECT_EQ(idOf(kCard, "Movies"), 0u);
    EXPECT_FALSE(listNames("E:\\").contains("Movies"));

    sim->failCall("LIBMTP_Delete_Object", 1, -1);
    EXPECT_EQ(exceptionName([&] { send(cmd::fsRmDir("E:\\Playlists\\")); }), "DeviceException");
    EXPECT_NE(idOf(kCard, "Playlists"), 0u);
}

TEST_F(MtpDeviceTest, MoveAndRename)
{
    load("android_phone.json", kCard);
    const uint32_t movie = idOf(kCard, "Movies/Holiday.mp4");
    EXPECT_EQ(send(cmd::fsMoveFile("E:\\Movies\\Holiday.mp4", "E:\\Movies\\Summer.mp4")).toString(), "");
    EXPECT_EQ(phone->object(movie)->name, "Summer.mp4");
    EXPECT_EQ(mtp->pathToObjectID(movie), "E:\\Movies\\Summer.mp4");
    EXPECT_EQ(sim->callCount("LIBMTP_Set_File_ParentObjectId"), 0);

    EXPECT_EQ(send(cmd::fsMoveFile("E:\\Movies\\Summer.mp4", "E:\\Music\\Summer.mp4")).toString(), "");
    EXPECT_EQ(phone->object(movie)->parentId, idOf(kCard, "Music"));
    EXPECT_EQ(mtp->pathToObjectID(movie), "E:\\Music\\Summer.mp4");
    EXPECT_EQ(send(cmd::fsMoveFile("E:\\Music\\Summer.mp4", "E:\\Summer.mp4")).toString(), "");
    EXPECT_EQ(phone->object(movie)->parentId, 0u);

    QString reason;
    EXPECT_EQ(exceptionName([&] { send(cmd::fsMoveFile("E:\\Nowhere.mp4", "E:\\x.mp4")); }, &reason),
              "DeviceException");
    EXPECT_EQ(reason, "Device error: kXMLCommandMoveFile does not have proper attributes.");
    EXPECT_EQ(exceptionName([&] { send(cmd::fsMoveFile("E:\\Summer.mp4", "E:\\No\\x.mp4")); }), "DeviceException");
    sim->failCall("LIBMTP_Set_File_Name");
    EXPECT_EQ(exceptionName([&] { send(cmd::fsMoveFile("E:\\Summer.mp4", "E:\\Winter.mp4")); }), "DeviceException");
    EXPECT_EQ(mtp->pathToObjectID(movie), "E:\\Summer.mp4");
    EXPECT_FALSE(send(cmd::makeCommand(cmd::kFsMoveFile)).isValid());
}

TEST_F(MtpDeviceTest, OtherCommands)
{
    load("android_phone.json", kCard);
    EXPECT_EQ(send(cmd::fsSetMod("E:\\Movies\\Holiday.mp4", "20130101000000")).toString(), "");
    EXPECT_FALSE(send(cmd::fsGetDriveList()).isValid());
    EXPECT_FALSE(send(cmd::makeCommand("GET_TIME")).isValid());
    EXPECT_FALSE(send(QVariantMap()).isValid());

    const std::pair<QString, QString> refused[] = {
        {cmd::kFsReadFile, "kXMLCommandReadFile is not implemented."},
        {cmd::kFsWriteFile, "kXMLCommandWriteFile is not implemented."},
        {cmd::kFsCopyFile, "kXMLCommandCopyFile is not implemented."},
        {cmd::kFsGetFile, "kXMLCommandGetFile is not implemented."},
    };
    for (const std::pair<QString, QString> &row : refused) {
        QString reason;
        EXPECT_EQ(exceptionName([&] { send(cmd::makeCommand(row.first)); }, &reason), "DeviceException");
        EXPECT_EQ(reason, "Device error: " + row.second);
    }

    // START_SYNC rebuilds the map (seeing what the phone made meanwhile, also
    // in folders not listed since).
    phone->addFile(kCard, idOf(kCard, "Movies"), "New.mp4", "v");
    EXPECT_EQ(mtp->oidForPath("E:\\Movies\\New.mp4"), 0u);
    EXPECT_FALSE(send(cmd::makeCommand(cmd::kStartSync)).isValid());
    EXPECT_TRUE(phone->isSyncActive());
    EXPECT_EQ(mtp->oidForPath("E:\\Movies\\New.mp4"), idOf(kCard, "Movies/New.mp4"));
    EXPECT_EQ(send(cmd::makeCommand(cmd::kStopSync)).toString(), "");
    EXPECT_FALSE(phone->isSyncActive());
}

TEST_F(MtpDeviceTest, MtpAccessOffAnswersNothing)
{
    load("android_phone.json", kCard);
    SetMTPAccessDisabled(true);
    sim->clearCallLog();
    EXPECT_EQ(mtp->mtpDevice(), nullptr);
    EXPECT_FALSE(send(cmd::fsGetDir("E:\\")).isValid());
    EXPECT_TRUE(mtp->storages().isEmpty());
    EXPECT_FALSE(mtp->deviceTracks().has_value());
    EXPECT_EQ(mtp->copyDeviceFile(VtrWindowsPathBasedFileInfo::fileInfoWithPath("E:\\Movies\\Holiday.mp4"),
                                  VtrMacFileInfo::fileInfoWithPath(tempDir() + "/x"), nullptr, nullptr),
              -1);
    EXPECT_TRUE(sim->callLog().isEmpty());
    SetMTPAccessDisabled(false);
    EXPECT_EQ(mtp->mtpDevice(), handle);
}

TEST_F(MtpDeviceTest, DetachedDeviceMakesNoCalls)
{
    load("android_phone.json", kCard);
    EXPECT_EQ(mtp->detach(), handle);
    sim->addMarker("detached");
    EXPECT_EQ(mtp->mtpDevice(), nullptr);
    EXPECT_FALSE(send(cmd::fsGetDir("E:\\")).isValid());
    EXPECT_TRUE(mtp->dictionaryForPath("E:\\").isEmpty());
    EXPECT_TRUE(mtp->getDeviceInfo().isEmpty());
    EXPECT_FALSE(mtp->devicePlaylists().has_value());
    EXPECT_FALSE(sim->anyCallAfterMarker("detached"));
    // Attached again, it works again.
    mtp->setMTPDevice(handle, kCard);
    EXPECT_FALSE(listNames("E:\\").isEmpty());
}

} // namespace
