// The migrators' walk of a phone: through the whole road of a simulated
// phone (MTP device, platform device, phone file objects), nested folders as
// deep as a path on this computer can reach, and no deeper; two songs whose
// names clean into one both backed up, and two of one long name from two
// folders; the reading bar moving within a large
// file; the phone's playlists naming songs as the phone spells their paths; a
// card's pipe left alone; no second read of the phone once the person has
// stopped.

#include "devices/command/PlatformDevice.h"
#include "devices/mtp/MTPDevice.h"
#include "devices/mtp/sim/SimulatedMtpLibrary.h"
#include "devices/phone/WindowsPhone7LocalDevice.h"
#include "fileinfo/VtrMacFileInfo.h"
#include "foundation/MigrationStatus.h"
#include "migration/MediaMigrators.h"
#include "platform/VtrException.h"

#include "TestEnvironment.h"

#include <QFile>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A phone whose storages are folders of this computer: a BlackBerry's
// volumes, or (with `mtp`) an Android phone's storages, internal first, with
// the playlists it lists while one of them is the current storage.
class FolderPhone final : public WindowsPhone7LocalDevice
{
public:
    FolderPhone() : WindowsPhone7LocalDevice({}, nullptr) {}
    QStringList storages;
    bool mtp = false;
    std::function<QVariantList(const QString &storage)> playlists;

    bool hasMTPConnection() const override { return mtp; }
    bool mtpUseInternalStorage() override { return use(0); }
    bool mtpUseExternalStorage() override { return use(1); }
    std::optional<QVariantList> mtpPlaylists() override { return playlists(storages.value(m_current)); }
    VtrFileInfoList storageFileInfos() override
    {
        VtrFileInfoList roots;
        for (const QString &s : storages) roots.append(VtrMacFileInfo::fileInfoWithPath(s));
        return roots;
    }
    VtrFileInfoPtr preferredStorageInfo() override { return VtrMacFileInfo::fileInfoWithPath(storages.value(m_current)); }

private:
    bool use(int storage)
    {
        if (!mtp || storage >= storages.size()) return false;
        m_current = storage;
        return true;
    }
    int m_current = -1;
};

constexpr uint32_t kStorage = 0x00010001;

// A migrator of a kind whose old phone is a simulated one, made by `make`,
// walked on its storage `storage` through the whole road.
template <typename Base, MediaKind kKind>
class SimulatedPhoneMigrator final : public Base
{
public:
    SimulatedPhoneMigrator(const std::function<MtpSimPhone *(SimulatedMtpLibrary &)> &make, uint32_t storage)
        : Base(nullptr)
    {
        phone = make(*sim);
        if (!phone) return;
        LIBMTP_raw_device_t *raw = nullptr;
        int count = 0;
        sim->detectRawDevices(&raw, &count);
        handle = sim->openRawDeviceUncached(&raw[0]);
        sim->freeRawDevices(raw);
        mtp->setMTPDevice(handle, storage);
        platform.connect();
        platform.setMTPDeviceObject(mtp);
    }
    ~SimulatedPhoneMigrator() override
    {
        platform.setMTPDeviceObject(nullptr);
        mtp->detach();
        if (handle) sim->releaseDevice(handle);
    }
    std::shared_ptr<SimulatedMtpLibrary> sim = std::make_shared<SimulatedMtpLibrary>();
    MtpSimPhone *phone = nullptr;

protected:
    QList<MediaSourceItem> sourceItems() override
    {
        return mediaFilesBelow({platform.deviceFileInfoWithPath(QStringLiteral("E:\\"))}, kKind);
    }

private:
    LIBMTP_mtpdevice_t *handle = nullptr;
    std::shared_ptr<MTPDevice> mtp = std::make_shared<MTPDevice>(0x04e8, 0x6642, sim);
    PlatformDevice platform;
};

// A phone of one storage holding a chain of `depth` nested folders, the one
// at depth d named `nameAt(d)`; the root and each folder hold the photo
// "IMG_<its depth>.jpg".
std::function<MtpSimPhone *(SimulatedMtpLibrary &)> chainPhone(int depth, const std::function<QString(int)> &nameAt)
{
    return [depth, nameAt](SimulatedMtpLibrary &sim) {
        MtpSimPhone &phone = sim.addPhone();
        MtpSimStorageSpec storage;
        storage.id = kStorage;
        phone.addStorage(storage);
        uint32_t folder = 0;
        for (int d = 0; d <= depth; ++d) {
            phone.addFile(kStorage, folder, QStringLiteral("IMG_%1.jpg").arg(d), "photo");
            if (d < depth) folder = phone.addFolder(kStorage, folder, nameAt(d + 1));
        }
        return &phone;
    };
}

TEST(PhoneWalk, FoldersWhosePathsAreTooLongForThisComputerStayOnThePhoneCounted)
{
    // A folder's path is "E:", then a separator and a name per level, and
    // may be 4095 bytes long. Each case names the depth whose folder path is
    // exactly that; 2,000 levels below it must not be looked at.
    const std::pair<int, std::function<QString(int)>> cases[] = {
        // 20 levels of 100 two-byte letters, then 72 bytes: bytes count.
        {21, [](int d) { return d <= 20 ? QString(100, QChar(0x0436)) : QString(d == 21 ? 72 : 1, u'a'); }},
        // One letter a level: 2,046 levels, walked without the call stack.
        {2046, [](int) { return QStringLiteral("a"); }},
    };
    for (const auto &[deepest, nameAt] : cases) {
        SCOPED_TRACE(deepest);
        SimulatedPhoneMigrator<PhotosMigrator, MediaKind::Photos> photos(chainPhone(deepest + 2000, nameAt), kStorage);
        const int listings = photos.sim->callCount("LIBMTP_Get_Files_And_Folders");
        photos.backupOldDeviceWithStatus(nullptr);

        // The photos down to the deepest folder walked; the folder below it
        // is one entry not moved. Each folder walked is listed once.
        QStringList names;
        for (const MediaItem &item : photos.items())
            names << item.name;
        EXPECT_EQ(names.size(), deepest + 1);
        EXPECT_TRUE(names.contains(QStringLiteral("IMG_%1.jpg").arg(deepest)));
        EXPECT_FALSE(names.contains(QStringLiteral("IMG_%1.jpg").arg(deepest + 1)));
        EXPECT_EQ(photos.numItemsNotMoved(), 1);
        EXPECT_EQ(photos.sim->callCount("LIBMTP_Get_Files_And_Folders") - listings, deepest + 1);
    }
}

// Two names of the phone that clean into one local name are two songs: the
// second lands under a name of its own, and both are counted, beside a song
// the phone already names as that free name would be. So do two songs of one
// name as long as a local name may be, from two folders of the phone, which
// the flat backup folder and the new phone's folder make one: the free name
// gives way from the end of its base, a whole character at a time.
TEST(PhoneWalk, TwoSongsWhoseNamesCleanIntoOneBothLand)
{
    {
        SimulatedPhoneMigrator<MusicMigrator, MediaKind::Music> music(
            [](SimulatedMtpLibrary &sim) {
                QByteArray json = testenv::readFile(QStringLiteral(VTR_TEST_SOURCE_DIR "/devices/data/mtp/quirky_phone.json"));
                json.replace("\"name\": \"a:b.mp3\"", "\"name\": \"a_b-1.mp3\", \"size\": 400}, {\"name\": \"a:b.mp3\"");
                return sim.addPhoneFromJson(json);
            },
            0x00020001);
        ASSERT_NE(music.phone, nullptr);
        music.backupOldDeviceWithStatus(nullptr);
        QStringList got;
        for (const MediaItem &item : music.items()) got << QStringLiteral("%1:%2").arg(item.name).arg(item.size);
        EXPECT_EQ(got.join(QLatin1Char(' ')).toStdString(), "a_b-1.mp3:400 a_b-2.mp3:200 a_b.mp3:100 late.mp3:300");
        EXPECT_EQ(music.manifestInfo().value("song_cnt").toInt(), 4);
        EXPECT_EQ(music.numItemsNotMoved(), 0);
    }

    const QString longName = QStringLiteral("a") + QString(125, QChar(0x00e9)) + QStringLiteral(".mp3"); // 255 bytes
    SimulatedPhoneMigrator<MusicMigrator, MediaKind::Music> twins(
        [&](SimulatedMtpLibrary &sim) {
            MtpSimPhone &phone = sim.addPhone();
            MtpSimStorageSpec storage;
            storage.id = kStorage;
            phone.addStorage(storage);
            for (const char *folder : {"A", "B"})
                phone.addFile(kStorage, phone.addFolder(kStorage, 0, QString::fromLatin1(folder)), longName, folder);
            return &phone;
        },
        kStorage);
    twins.backupOldDeviceWithStatus(nullptr);
    EXPECT_EQ(twins.numItemsToCopy(), 2);
    EXPECT_EQ(twins.numItemsNotMoved(), 0);
    // The person's own song under that name in the new phone's folder.
    const auto target = WindowsPhone7LocalDevice::create({}, nullptr);
    const QString songs = target->preferredMusicFolder()->path();
    testenv::writeFile(songs + QLatin1Char('/') + longName, "the person's");
    twins.copyToDevice(target, 1 << 20, nullptr, nullptr);
    ASSERT_EQ(twins.copiedFiles().size(), 2);
    QStringList landed;
    for (const VtrFileInfoPtr &file : twins.copiedFiles()) {
        landed << QString::fromUtf8(testenv::readFile(file->path()));
        const QByteArray name = QFile::encodeName(file->name());
        EXPECT_LE(name.size(), 255);
        EXPECT_GE(name.size(), 254) << "no more is taken off than must be";
        EXPECT_TRUE(file->name().endsWith(QStringLiteral(".mp3")) && !file->name().contains(QChar(0xfffd)))
            << name.toStdString();
    }
    landed.sort();
    EXPECT_EQ(landed, (QStringList{"A", "B"}));
    EXPECT_EQ(testenv::readFile(songs + QLatin1Char('/') + longName), QByteArray("the person's"));
}

// Records every fraction a backup reports.
struct Fractions final : MigrationStatusProtocol
{
    std::vector<double> seen;
    void setStatus(const QString &, const QString &, double p) override { seen.push_back(p); }
    void setStatusNow(const QString &, const QString &, double p) override { seen.push_back(p); }
};

// The reading bar moves within a large file as its blocks arrive, never
// back, up to the file's end, and on from each file's end to the next.
TEST(PhoneWalk, TheReadingBarMovesWithinALargeFile)
{
    constexpr qint64 kBig = 1 << 20; // 16 blocks of the simulated phone
    constexpr qint64 kSmall = 1 << 16;
    const auto readWith = [](const QList<std::pair<QString, qint64>> &files) {
        SimulatedPhoneMigrator<VideoMigrator, MediaKind::Videos> videos(
            [&](SimulatedMtpLibrary &sim) {
                MtpSimPhone &phone = sim.addPhone();
                MtpSimStorageSpec storage;
                storage.id = kStorage;
                phone.addStorage(storage);
                for (const auto &[name, size] : files) phone.addFileOfSize(kStorage, 0, name, size);
                return &phone;
            },
            kStorage);
        Fractions status;
        videos.backupOldDeviceWithStatus(&status);
        EXPECT_EQ(videos.numItemsToCopy(), files.size());
        return status.seen;
    };
    const std::vector<double> seen = readWith({{QStringLiteral("Big.mp4"), kBig}, {QStringLiteral("Small.mp4"), kSmall}});
    const double bigEnd = double(kBig) / double(kBig + kSmall);
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    EXPECT_GE(std::count_if(seen.begin(), seen.end(), [&](double p) { return p > 0 && p < bigEnd; }), 8);
    EXPECT_NE(std::find(seen.begin(), seen.end(), bigEnd), seen.end());

    // Ten equal files: the bar passes each one's share as the files arrive.
    QList<std::pair<QString, qint64>> ten;
    for (int i = 0; i < 10; ++i) ten.append({QStringLiteral("V%1.mp4").arg(i), kSmall});
    const std::vector<double> tenths = readWith(ten);
    for (int file = 1; file < 10; ++file) {
        EXPECT_TRUE(std::any_of(tenths.begin(), tenths.end(),
                                [&](double p) { return p > (file - 0.5) / 10 && p <= (file + 0.5) / 10; }))
            << file;
    }
}

// "Song.mp3", "song.mp3" and "SONG.MP3" are three songs: a playlist holds the
// one whose path it names. A path that differs from a file's only in letter
// case names it only where no other file answers it so; the card's
// "Music/Song.mp3" is another storage's song.
TEST(PhoneWalk, PlaylistsHoldTheSongsOfTheirPathsAsThePhoneSpellsThem)
{
    auto phone = std::make_shared<FolderPhone>();
    phone->mtp = true;
    phone->storages = {testenv::makeTempDir(QStringLiteral("internal")), testenv::makeTempDir(QStringLiteral("card"))};
    const QString music = phone->storages[0] + QStringLiteral("/Music/");
    for (const QString name : {"Song.mp3", "song.mp3", "SONG.MP3", "Ballad.mp3"}) testenv::writeFile(music + name, "a");
    testenv::writeFile(phone->storages[1] + QStringLiteral("/Music/Song.mp3"), "card");
    phone->playlists = [&](const QString &storage) {
        if (storage != phone->storages[0]) return QVariantList();
        const auto list = [](const char *name, const QString &path) {
            return QVariantMap{{"playlist_name", name}, {"playlist_tracks", QVariantList{QVariantMap{{"track_path", path}}}}};
        };
        return QVariantList{list("Mine", music + "Song.mp3"), list("Loose", music.toLower() + "BALLAD.mp3"),
                            list("Vague", music + "sOnG.mp3")};
    };
    QStringList got;
    for (const MediaSourceItem &item : androidMediaItems(*phone, MediaKind::Music, {}))
        got << item.name + QLatin1Char(':') + item.playlistNames.join(QLatin1Char(','));
    EXPECT_EQ(got.join(QLatin1Char(' ')).toStdString(), "Ballad.mp3:Loose SONG.MP3: Song.mp3:Mine song.mp3: Song.mp3:");
}

// A card's pipe is no file (reading one waits for a writer that never comes):
// it is left out and counted, never handed to a read, and never opened.
TEST(PhoneWalk, APipeOnACardIsLeftOutUnopened)
{
    VTR_TEST_AS_UNPRIVILEGED_USER();
    auto card = std::make_shared<FolderPhone>();
    card->storages = {testenv::makeTempDir(QStringLiteral("card"))};
    testenv::writeFile(card->storages[0] + QStringLiteral("/Music/Song.mp3"), "song");
    const QByteArray pipe = QFile::encodeName(card->storages[0] + QStringLiteral("/Music/Pipe.mp3"));
    ASSERT_EQ(::mkfifo(pipe.constData(), 0644), 0);
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(::inotify_add_watch(watch, pipe.constData(), IN_OPEN), 0);
    for (const MediaSourceItem &item : volumeMediaItems(*card, MediaKind::Music, {}))
        if (item.name.endsWith(QLatin1String("Pipe.mp3"))) EXPECT_FALSE(item.fetch) << "handed to a read";
    BlackBerryMusicMigrator music(card);
    music.backupOldDeviceWithStatus(nullptr);
    char events[4096];
    EXPECT_LT(::read(watch, events, sizeof events), 0) << "the pipe was opened";
    ::close(watch);
    EXPECT_EQ(music.numItemsToCopy(), 1);
    EXPECT_EQ(music.numItemsNotMoved(), 1);
}

// Once the person has stopped, a read that failed is not tried again: each
// try may wait out the phone's time-out.
TEST(PhoneReads, NoSecondTryOnceStopped)
{
    bool stopped = false;
    const PhoneReads reads{[&] { return stopped; }, {}};
    int tries = 0;
    QString why;
    try {
        reads.twice(QStringLiteral("Reading"), [&]() -> bool {
            ++tries;
            stopped = true;
            throw VtrException(QStringLiteral("DeviceException"), QStringLiteral("the phone timed out"));
        }, &why);
        ADD_FAILURE() << "not stopped";
    } catch (const VtrException &e) {
        EXPECT_EQ(e.name(), QStringLiteral("StopSyncException"));
    }
    EXPECT_EQ(tries, 1);
}

} // namespace
