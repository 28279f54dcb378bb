// The wizard's media and PIM jobs on their own: a kind that fails its backup
// and the person's answer, the importer for each pair of phones, kinds left
// without space and the room to free for all of them, music skipped when the
// library is not set up or its filing not saved, and the companion app's
// files on either storage of an Android phone.

#include "support/RealJobs.h"

#include "app/Scenes.h"
#include "devices/phone/MobileDevice.h"
#include "foundation/MigrationStatus.h"
#include "devices/phone/MobileDeviceProxy.h"
#include "devices/phone/WindowsPhone7LocalDevice.h"
#include "fileinfo/FileInfoCopy.h"
#include "fileinfo/VtrMacFileInfo.h"
#include "migration/iAppImporter.h"
#include "pim/store/EdsSource.h"
#include "pim/store/SyncStore.h"
#include "pim/store/VdirSource.h"
#include "platform/Folders.h"
#include "platform/VtrException.h"
#include "sources/host/MediaLibraryHost.h"

#include "TestEnvironment.h"
#include "TestFolders.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QScopeGuard>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>

#include <pwd.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

// A migrator of a kind whose items are files it makes itself, named as the
// libraries take files of the kind, or a failure.
template <typename Base>
class MadeMigrator final : public Base
{
public:
    MadeMigrator(const char *name, qint64 size, bool fails = false)
        : Base(nullptr), m_name(QString::fromLatin1(name)), m_size(size), m_fails(fails)
    {}
    // A copy that is gone from the folder by the time it is counted.
    bool losesItsCopy = false;
    // A second file that this computer's disk has no room for.
    bool secondFillsTheDisk = false;
    // Files of these sizes instead of one.
    QList<qint64> sizes;
    // Its files are holes, of their sizes: a disk of the test's own counts
    // them, the real one need not hold them.
    bool holes = false;
    // The playlists its files belong to.
    QStringList playlists;

protected:
    void didCopy(MobileDeviceInterface &target, const QList<MediaItem> &items, const VtrFileInfoList &files) override
    {
        Base::didCopy(target, items, files);
        if (losesItsCopy && !files.isEmpty()) QFile::remove(files.first()->path());
    }

    QList<MediaSourceItem> sourceItems() override
    {
        if (m_fails) throw VtrException(QStringLiteral("DeviceException"), QStringLiteral("The phone went away."));
        const auto made = [this](const QString &name, qint64 size) {
            MediaSourceItem item;
            item.name = name;
            item.size = size;
            item.playlistNames = playlists;
            item.fetch = [size, name, holes = holes](const VtrFileInfoPtr &folder, FileInfoCopyProgress *) {
                const QString path = QDir(folder->path()).filePath(name);
                if (QFile file(path); !holes) testenv::writeFile(path, QByteArray(int(size), 'x'));
                else if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) file.resize(size);
                return VtrFileInfoPtr(VtrMacFileInfo::fileInfoWithPath(path));
            };
            return item;
        };
        QList<MediaSourceItem> items;
        for (const qint64 size : sizes) items.append(made(QString::number(items.size()) + m_name, size));
        if (!items.isEmpty()) return items;
        const MediaSourceItem item = made(m_name, m_size);
        if (!secondFillsTheDisk) return {item};
        MediaSourceItem second = item;
        second.fetch = [](const VtrFileInfoPtr &folder, FileInfoCopyProgress *) {
            VtrFileInfoPtr copy;
            vtr::copyThroughTemporaryFile(VtrMacFileInfo::fileInfoWithPath(folder->path() + QStringLiteral("/full.mp3")),
                                          {}, [](const VtrFileInfoPtr &temporary) {
                                              vtr::noteSystemFailure(ENOSPC, temporary->path());
                                              return kFileInfoCopyNoSpace;
                                          }, &copy);
            return copy;
        };
        return {item, second};
    }

private:
    QString m_name;
    qint64 m_size;
    bool m_fails;
};

struct Jobs : RealJobs
{
    void use(bool photosFail, qint64 size = 1000, qint64 videoSize = -1)
    {
        FamilyMediaMigrators m;
        m.music = std::make_shared<MadeMigrator<MusicMigrator>>("item.mp3", size);
        m.photos = std::make_shared<MadeMigrator<PhotosMigrator>>("item.jpg", size, photosFail);
        m.videos = std::make_shared<MadeMigrator<VideoMigrator>>("item.mp4", videoSize < 0 ? size : videoSize);
        jobs->setMigrators(h.wizard(), m);
    }
};

const QString kPhotosFailed = QStringLiteral(
    "An error occurred while backing up photos. If you continue, all of your data might not transfer to your new "
    "device.");

TEST(MediaJobs, AKindThatFailsItsBackupAsksAndTheAnswerDecides)
{
    struct Case { const char *answer; bool goesOn; };
    for (const Case c : {Case{"OK", true}, Case{"Quit", false}}) {
        SCOPED_TRACE(c.answer);
        Jobs t;
        t.use(true);
        t.h.alerts.answer(QString::fromLatin1(c.answer));
        t.jobs->backupOldDevice(t.h.wizard());
        ASSERT_TRUE(t.idle());
        ASSERT_FALSE(t.h.alerts.shown().isEmpty());
        EXPECT_EQ(t.h.alerts.shown().first().messageText, kPhotosFailed);
        EXPECT_EQ(t.h.alerts.shown().first().informativeText, QStringLiteral("The phone went away."));
        EXPECT_EQ(t.jobs->migrators().music->numItemsToCopy(), 1);
        EXPECT_EQ(t.jobs->migrators().videos->numItemsToCopy(), c.goesOn ? 1 : 0);
        EXPECT_EQ(t.h.terminated, !c.goesOn);
        EXPECT_EQ(t.h.wizard().currentState(), c.goesOn ? 1 : 0) << "advanced from the intro";
    }
}

TEST(MediaJobs, KindsNotTickedAreNeitherBackedUpNorCopied)
{
    Jobs t;
    t.use(false);
    t.h.wizard().setMusicValue(false);
    t.h.wizard().setPhotosValue(false);
    t.h.wizard().setVideosValue(false);
    t.jobs->backupOldDevice(t.h.wizard());
    ASSERT_TRUE(t.idle());
    EXPECT_EQ(t.jobs->migrators().music->numItemsToCopy(), 0);
    EXPECT_TRUE(t.jobs->prepareMediaOptions(t.h.wizard()).isEmpty());
    t.jobs->startTransferMediaToNewDevice(t.h.wizard());
    ASSERT_TRUE(t.idle());
    EXPECT_FALSE(t.h.terminated);
    EXPECT_EQ(t.h.wizard().currentState(), 2);
}

TEST(MediaJobs, KindsLeftWithoutSpaceAreNamedAndTheirEarlierCopiesStay)
{
    // The only earlier copy is this test's own.
    testenv::removeTree(WindowsPhone7LocalDevice::storageFolderPath());
    Jobs t;
    t.use(false, 5000);
    t.jobs->backupOldDevice(t.h.wizard());
    ASSERT_TRUE(t.idle());
    auto target = t.h.wizard().newDevice();
    const VtrFileInfoPtr photos = target->preferredPhotosFolder();
    testenv::writeFile(photos->path() + "/earlier.jpg", "an earlier run's copy");
    MediaMigrator::recordCopies(photos, {QStringLiteral("earlier.jpg")});
    // The library holds it too: it goes without a word.
    const QString filed = testenv::makeTempDir(QStringLiteral("library")) + "/earlier.jpg";
    testenv::writeFile(filed, "an earlier run's copy");
    MediaMigrator::recordOtherCopies(photos, {{QStringLiteral("earlier.jpg"), filed}});

    // The disk's size is what this user may fill: what is in use and what
    // is free for this user, not the blocks only the system may use.
    // (Others write on the disk: read while it stands still.)
    const VtrFileInfoPtr storage = target->preferredStorageInfo();
    struct statvfs before, after;
    qint64 size = 0, free = 0;
    for (int tries = 0; tries < 100; ++tries) {
        ASSERT_EQ(::statvfs(QFile::encodeName(storage->path()).constData(), &before), 0);
        size = t.jobs->sizeOfTarget(storage);
        free = t.jobs->freeSpaceOfTarget(storage);
        ASSERT_EQ(::statvfs(QFile::encodeName(storage->path()).constData(), &after), 0);
        if (before.f_bfree == after.f_bfree && before.f_bavail == after.f_bavail) break;
    }
    EXPECT_EQ(size - free, qint64(after.f_blocks - after.f_bfree) * qint64(after.f_frsize));

    struct Case { const char *name; qint64 free; bool starved; QVariantMap spaces; bool diskTooSmall = false; };
    const qint64 GiB = 1073741824;
    const Case cases[] = {
        {"below the reserve", 100, true, {{"spaceForMusic", -357913941}, {"spaceForPhotos", -357913941},
                                          {"spaceForVideos", -357913941}}},
        // No amount is enough where the disk holds less than the reserve and the media.
        {"a disk smaller than the reserve and the media", 100, true,
         {{"spaceForMusic", -357913941}, {"spaceForPhotos", -357913941}, {"spaceForVideos", -357913941}}, true},
        {"exactly the reserve", GiB - 21, true, {{"spaceForMusic", 0}, {"spaceForPhotos", 0}, {"spaceForVideos", 0}}},
        {"room for all", GiB + 90000, false, {{"spaceForMusic", 5000}, {"spaceForPhotos", 5000},
                                              {"spaceForVideos", 5000}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        t.jobs->freeSpaceOfTarget = [&](const VtrFileInfoPtr &) { return c.free; };
        t.jobs->sizeOfTarget = [&](const VtrFileInfoPtr &) { return c.diskTooSmall ? GiB + 14000 : 4 * GiB; };
        const int alertsBefore = int(t.h.alerts.shown().size());
        const QVariantMap options = t.jobs->prepareMediaOptions(t.h.wizard());
        for (auto it = c.spaces.begin(); it != c.spaces.end(); ++it) {
            // The earlier copy's 21 bytes count as free until it is cleared.
            const qint64 expected = c.starved ? (c.free + 21 - GiB) / 3 : it.value().toLongLong();
            EXPECT_EQ(options.value(it.key()).toLongLong(), expected) << it.key().toStdString();
        }
        // Earlier copies are cleared by the copy itself, off the window's
        // thread, and only for the kinds that get space.
        EXPECT_TRUE(QFileInfo::exists(photos->path() + "/earlier.jpg"));
        EXPECT_EQ(options.contains(QStringLiteral("clearPhotos")), !c.starved);
        ASSERT_EQ(t.h.alerts.shown().size() > alertsBefore, c.starved);
        if (c.starved) {
            const QString text = t.h.alerts.shown().last().informativeText;
            EXPECT_TRUE(text.startsWith(QStringLiteral("These kinds will not be copied: music, photos, videos.\n\n")));
            EXPECT_EQ(text.endsWith(QStringLiteral("The whole disk holds 1.0 GB: too little for all of your music, "
                                                   "photos and videos together with the 1.0 GB that is always left "
                                                   "free on it, however much is freed there.")),
                      c.diskTooSmall)
                << text.toStdString();
            EXPECT_EQ(text.contains(QStringLiteral(" more on that disk")), !c.diskTooSmall) << text.toStdString();
        }
    }
    // A copy this computer holds nowhere else is asked about, and counts as
    // free only when the person lets it go: 12000 bytes beyond the reserve,
    // and its 3000, are 4000 or 5000 for each kind.
    testenv::writeFile(photos->path() + "/only.jpg", QByteArray(3000, 'o'));
    MediaMigrator::recordCopies(photos, {QStringLiteral("only.jpg")});
    t.jobs->freeSpaceOfTarget = [&](const VtrFileInfoPtr &) { return GiB + 12000 - 21; };
    for (const QString answer : {QStringLiteral("Remove Them"), QStringLiteral("Keep Them")}) {
        t.h.alerts.answer(answer);
        const QVariantMap options = t.jobs->prepareMediaOptions(t.h.wizard());
        EXPECT_EQ(options.value("spaceForPhotos").toLongLong(), answer == "Keep Them" ? 4000 : 5000);
        // (Kept, the space alert that none of the kinds fits follows it.)
        EXPECT_TRUE(t.h.alerts.shown()
                        .at(t.h.alerts.titles().lastIndexOf(
                            QStringLiteral("Files of an earlier transfer are only in your new device's folder.")))
                        .informativeText.startsWith(QStringLiteral("1 file (1 photo) ")));
    }
    // So does an earlier song, and the earlier playlist that names it.
    const VtrFileInfoPtr songs = target->preferredMusicFolder();
    const VtrFileInfoPtr lists = target->preferredPlaylistsFolder();
    testenv::writeFile(songs->path() + "/kept.mp3", QByteArray(2000, 'k'));
    MediaMigrator::recordCopies(songs, {QStringLiteral("kept.mp3")});
    const QByteArray playlist("#EXTM3U\r\n#EXTINF:-1,kept\r\n..\\Music\\kept.mp3\r\n");
    testenv::writeFile(lists->path() + "/Kept.m3u", playlist);
    MediaMigrator::recordCopies(lists, {QStringLiteral("Kept.m3u")});
    t.h.alerts.answer(QStringLiteral("Keep Them"));
    t.jobs->freeSpaceOfTarget = [&](const VtrFileInfoPtr &) { return GiB + 90000; };
    t.jobs->startTransferMediaToNewDevice(t.h.wizard());
    ASSERT_TRUE(t.idle());
    EXPECT_FALSE(QFileInfo::exists(photos->path() + "/earlier.jpg"));
    EXPECT_EQ(testenv::readFile(photos->path() + "/only.jpg"), QByteArray(3000, 'o'));
    EXPECT_EQ(testenv::readFile(songs->path() + "/kept.mp3"), QByteArray(2000, 'k'));
    EXPECT_EQ(testenv::readFile(lists->path() + "/Kept.m3u"), playlist);
    EXPECT_EQ(t.h.alerts.unusedAnswers(), 0);

    // Two hundred songs of 100 bytes, on a disk with room beyond the reserve
    // for some 150 of them (by their bytes): each file takes a block of the
    // disk. Freed as the alert names, the next run moves them all.
    testenv::removeTree(WindowsPhone7LocalDevice::storageFolderPath());
    qint64 disk = 0;
    for (const bool freed : {false, true}) {
        Jobs small;
        small.use(false, 100);
        static_cast<MadeMigrator<MusicMigrator> &>(*small.jobs->migrators().music).sizes = QList<qint64>(200, 100);
        small.jobs->backupOldDevice(small.h.wizard());
        ASSERT_TRUE(small.idle());
        small.jobs->freeSpaceOfTarget = [&disk](const VtrFileInfoPtr &) {
            qint64 used = 0;
            QDirIterator it(platform::homeFolder(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
            for (struct stat st; it.hasNext();)
                if (::lstat(QFile::encodeName(it.next()).constData(), &st) == 0) used += qint64(st.st_blocks) * 512;
            if (disk == 0) disk = GiB + used + 15000;
            return disk - used;
        };
        small.jobs->startTransferMediaToNewDevice(small.h.wizard());
        ASSERT_TRUE(small.idle());
        const QString said =
            small.h.alerts.shown().isEmpty() ? QString() : small.h.alerts.shown().last().informativeText;
        const QRegularExpressionMatch amount =
            QRegularExpression(QStringLiteral("Free (\\d+)\\.(\\d) ([KM])B more")).match(said);
        EXPECT_EQ(amount.hasMatch(), !freed) << said.toStdString();
        const qsizetype songs =
            QDir(small.h.wizard().newDevice()->preferredMusicFolder()->path()).entryList(QDir::Files).size();
        EXPECT_TRUE(freed ? songs == 200 : songs > 100 && songs < 200) << songs;
        const qint64 unit = amount.captured(3) == QLatin1String("M") ? 1 << 20 : 1 << 10;
        disk += ((amount.captured(1).toLongLong() * 10 + amount.captured(2).toLongLong()) * unit + 9) / 10;
    }
}

// The disk of the home in the next test, `theDisk` bytes: each file below
// the home takes its size in whole blocks, holes or not, and the library's
// copies are made on it by the same count. (Plain functions: the library's
// seam holds no state.)
std::atomic<qint64> theDisk{0};
QString theHome;

qint64 freeOnTheDisk()
{
    qint64 used = 0;
    QDirIterator it(theHome, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    for (struct stat st; it.hasNext();)
        if (::lstat(QFile::encodeName(it.next()).constData(), &st) == 0)
            used += std::max<qint64>(qint64(st.st_blocks) * 512, (qint64(st.st_size) + 4095) / 4096 * 4096);
    return theDisk - used;
}

// A clone that takes the room of a copy.
int cloneOnTheDisk(int source, int target)
{
    struct stat st;
    if (::fstat(source, &st) != 0) return errno;
    if (freeOnTheDisk() < qint64(st.st_size)) return ENOSPC;
    return ::ftruncate(target, st.st_size) == 0 ? 0 : errno;
}

// Fifty songs of 100 MB, with the music library on the disk of the new
// phone's folder and only the reserve free there: the alert names what the
// next run writes in all, the songs and the library's copies of them. Freed
// exactly, every song is copied and filed; freed a tenth short, something
// is left out.
TEST(MediaJobs, TheAmountToFreeHoldsTheSongsAndTheLibrarysCopiesOfThem)
{
    const qint64 GiB = 1073741824, MB = 1048576;
    theHome = platform::homeFolder();
    MediaLibraryHost::shared().setDiskForTesting(
        MediaLibraryHost::Disk{cloneOnTheDisk, [](int) { return freeOnTheDisk(); }});
    const auto restore = qScopeGuard([] { MediaLibraryHost::shared().setDiskForTesting(std::nullopt); });
    const QString library = MediaLibraryHost::musicFolder();
    ASSERT_TRUE(library.startsWith(theHome + QLatin1Char('/'))) << library.toStdString();
    qint64 named = 0;
    for (const double freed : {0.0, 0.9, 1.0}) {
        SCOPED_TRACE(freed);
        for (const QString &folder : {WindowsPhone7LocalDevice::storageFolderPath(), platform::dataFolder(), library,
                                      MediaLibraryHost::picturesFolder(), MediaLibraryHost::videosFolder()})
            testenv::removeTree(folder);
        Jobs t;
        t.use(false);
        auto &songs = static_cast<MadeMigrator<MusicMigrator> &>(*t.jobs->migrators().music);
        songs.sizes = QList<qint64>(50, 100 * MB);
        songs.holes = true;
        t.jobs->backupOldDevice(t.h.wizard());
        ASSERT_TRUE(t.idle());
        // Sized at the first look: the reserve, what the home holds, and
        // the part freed of what the alert named.
        theDisk = 0;
        t.jobs->freeSpaceOfTarget = [&](const VtrFileInfoPtr &) {
            if (theDisk == 0) theDisk = GiB - freeOnTheDisk() + qint64(freed * double(named));
            return freeOnTheDisk();
        };
        t.jobs->startTransferMediaToNewDevice(t.h.wizard());
        ASSERT_TRUE(WizardHarness::waitFor([&t] { return t.h.wizard().runningJobCount() == 0; }, 600000));
        const QString said = t.h.alerts.shown().isEmpty() ? QString() : t.h.alerts.shown().last().informativeText;
        int copied = 0, filed = 0;
        for (QDirIterator it(t.h.wizard().newDevice()->preferredMusicFolder()->path(), {QStringLiteral("*.mp3")},
                             QDir::Files);
             it.hasNext(); it.next())
            ++copied;
        for (QDirIterator it(library, {QStringLiteral("*.mp3")}, QDir::Files, QDirIterator::Subdirectories);
             it.hasNext(); it.next())
            ++filed;
        if (freed == 0) {
            const QRegularExpressionMatch amount =
                QRegularExpression(QStringLiteral("Free (\\d+)\\.(\\d) GB more")).match(said);
            ASSERT_TRUE(amount.hasMatch()) << said.toStdString();
            named = ((amount.captured(1).toLongLong() * 10 + amount.captured(2).toLongLong()) * GiB + 9) / 10;
            EXPECT_EQ(copied, 0);
        } else if (freed < 1) {
            EXPECT_TRUE(copied < 50 || filed < 50) << copied << " copied, " << filed << " filed";
        } else {
            EXPECT_EQ(copied, 50);
            EXPECT_EQ(filed, 50);
            EXPECT_EQ(t.h.wizard().doneTextFor(vtrphase::Music).toStdString(), " - Done");
            EXPECT_FALSE(said.contains(QStringLiteral("Free "))) << said.toStdString();
        }
    }
}

// A copy run in which no kind gets space keeps every earlier copy: clearing
// them would leave the new phone with less than before. When the same phone
// is moved again onto a fuller disk, each kind's earlier copies are room for
// it alone: a kind that gets none keeps them all, one that fits in part
// loses only those its copies replace; the lines and the report say what
// stayed.
TEST(MediaJobs, ACopyWithoutSpaceForAnyKindKeepsTheirEarlierCopies)
{
    testenv::removeTree(WindowsPhone7LocalDevice::storageFolderPath());
    // Two songs of 3000 bytes, a photo of 5000 and a video of 50000.
    const auto backUp = [](Jobs &run, qint64 photo) {
        run.use(false, photo, 50000);
        static_cast<MadeMigrator<MusicMigrator> &>(*run.jobs->migrators().music).sizes = {3000, 3000};
        run.jobs->backupOldDevice(run.h.wizard());
        return run.idle();
    };
    Jobs t;
    ASSERT_TRUE(backUp(t, 5000));
    auto target = t.h.wizard().newDevice();
    const VtrFileInfoPtr folders[] = {target->preferredMusicFolder(), target->preferredPhotosFolder(),
                                      target->preferredVideosFolder()};
    const char *const earlier[] = {"earlier.mp3", "earlier.jpg", "earlier.mp4"};
    for (int k = 0; k < 3; ++k) {
        testenv::writeFile(folders[k]->path() + '/' + earlier[k], "an earlier run's copy");
        MediaMigrator::recordCopies(folders[k], {QString::fromLatin1(earlier[k])});
    }
    // The earlier copies' bytes count as free, and still no kind fits.
    t.jobs->freeSpaceOfTarget = [](const VtrFileInfoPtr &) { return qint64(100); };
    t.jobs->startTransferMediaToNewDevice(t.h.wizard());
    ASSERT_TRUE(t.idle());
    EXPECT_FALSE(t.h.terminated);
    for (int k = 0; k < 3; ++k) {
        SCOPED_TRACE(earlier[k]);
        EXPECT_EQ(QDir(folders[k]->path()).entryList(QDir::Files).join(QLatin1Char(' ')).toStdString(), earlier[k]);
        EXPECT_EQ(testenv::readFile(folders[k]->path() + '/' + earlier[k]).toStdString(), "an earlier run's copy");
    }
    const auto kept = [](int stay) {
        const QString stays = stay == 1 ? QStringLiteral("1 copied by an earlier transfer stays")
                                        : QStringLiteral("%1 copied by an earlier transfer stay").arg(stay);
        return " - Not moved: there is not enough space on your new device; " + stays.toStdString() +
               " in your new device's folder";
    };
    for (const QString &phase : {vtrphase::Music, vtrphase::Photos, vtrphase::Videos})
        EXPECT_EQ(t.h.wizard().doneTextFor(phase).toStdString(), kept(1));

    t.jobs->freeSpaceOfTarget = [](const VtrFileInfoPtr &) { return qint64(1) << 40; };
    t.h.alerts.answer(QStringLiteral("Remove Them"));
    t.jobs->startTransferMediaToNewDevice(t.h.wizard());
    ASSERT_TRUE(t.idle());
    EXPECT_EQ(t.h.alerts.unusedAnswers(), 0);
    const QByteArray video = testenv::readFile(folders[2]->path() + "/item.mp4");
    ASSERT_EQ(video.size(), 50000);
    // 44000 bytes below the reserve: the photo replaces its copy, one song
    // its own, and the video is short of room.
    Jobs again;
    ASSERT_TRUE(backUp(again, 5000));
    again.jobs->freeSpaceOfTarget = [](const VtrFileInfoPtr &) { return vtrmedia::kReservedBytes - 44000; };
    again.jobs->startTransferMediaToNewDevice(again.h.wizard());
    ASSERT_TRUE(again.idle());
    EXPECT_EQ(QDir(folders[0]->path()).entryList(QDir::Files).join(QLatin1Char(' ')).toStdString(),
              "0item.mp3 1item.mp3");
    EXPECT_EQ(again.h.wizard().doneTextFor(vtrphase::Music).toStdString(),
              " - Done (1 did not fit on your new device: 3.0 KB; 1 of them copied by an earlier transfer)");
    EXPECT_EQ(again.h.wizard().doneTextFor(vtrphase::Photos).toStdString(), " - Done");
    EXPECT_EQ(QDir(folders[2]->path()).entryList(QDir::Files).join(QLatin1Char(' ')).toStdString(), "item.mp4");
    EXPECT_TRUE(testenv::readFile(folders[2]->path() + "/item.mp4") == video);
    EXPECT_EQ(again.h.wizard().doneTextFor(vtrphase::Videos).toStdString(), kept(1));
    const QVariantMap report = again.h.wizard().manifestSource(NS_AppController::ManifestKind::Videos)->manifestInfo();
    EXPECT_EQ(report.value("video_cnt").toInt(), 1);

    // A grown photo would take more than its earlier copy gives, and the
    // video's copy that stays is no room for it: the folders hold what they
    // held, one song copied over its own copy.
    const auto holdings = [&folders] {
        QStringList files;
        for (const VtrFileInfoPtr &folder : folders)
            for (const QFileInfo &file : QDir(folder->path()).entryInfoList(QDir::Files))
                files << file.fileName() + QLatin1Char(' ') + QString::number(file.size());
        return files.join(QLatin1Char('|')).toStdString();
    };
    const std::string before = holdings();
    Jobs grown;
    ASSERT_TRUE(backUp(grown, 6000));
    grown.jobs->freeSpaceOfTarget = [](const VtrFileInfoPtr &) { return vtrmedia::kReservedBytes - 1000; };
    grown.jobs->startTransferMediaToNewDevice(grown.h.wizard());
    ASSERT_TRUE(grown.idle());
    EXPECT_EQ(holdings(), before);
    EXPECT_EQ(grown.h.wizard().doneTextFor(vtrphase::Music).toStdString(),
              again.h.wizard().doneTextFor(vtrphase::Music).toStdString());
    for (const QString &phase : {vtrphase::Photos, vtrphase::Videos})
        EXPECT_EQ(grown.h.wizard().doneTextFor(phase).toStdString(), kept(1));
}

TEST(MediaJobs, MusicIsSkippedWhenTheLibraryIsNotSetUpAndTheOtherKindsGoOn)
{
    Jobs t;
    t.use(false);
    t.jobs->backupOldDevice(t.h.wizard());
    ASSERT_TRUE(t.idle());
    testenv::removeTree(WindowsPhone7LocalDevice::storageFolderPath());
    int asked = 0;
    t.jobs->libraryHostConfigured = [] { return false; };
    t.jobs->openITunes = [&](NS_AppController &) { return ++asked < 3; };  // "OK" twice, then "Skip Music"
    t.jobs->freeSpaceOfTarget = [](const VtrFileInfoPtr &) { return qint64(1) << 40; };
    t.jobs->startTransferMediaToNewDevice(t.h.wizard());
    ASSERT_TRUE(t.idle());
    EXPECT_EQ(asked, 3);
    auto target = t.h.wizard().newDevice();
    EXPECT_TRUE(QDir(target->preferredMusicFolder()->path()).entryList(QDir::Files).isEmpty());
    EXPECT_EQ(QDir(target->preferredPhotosFolder()->path()).entryList(QDir::Files).size(), 1);
    EXPECT_EQ(QDir(target->preferredVideosFolder()->path()).entryList(QDir::Files).size(), 1);
    EXPECT_FALSE(t.h.terminated);
    EXPECT_EQ(t.h.wizard().doneTextFor(vtrphase::Music), QStringLiteral(" - Not moved: the music library is not set up"));
    EXPECT_EQ(t.h.wizard().doneTextFor(vtrphase::Photos), QStringLiteral(" - Done"));
}

TEST(MediaJobs, EachKindsLineTellsWhatBecameOfIt)
{
    const qint64 GiB = 1073741824;
    struct Case
    {
        const char *name;
        bool photosFail;  // in the backup, answered "OK"
        qint64 free;
        const char *music, *photos;
        bool musicCopyLost = false;
        bool libraryDiskFull = false;  // no room there for the library's copies
        bool linkAtTemporaryName = false;  // another user's, to a private file, in the music library's way
        bool songNotTaken = false;     // this computer had no room for a second song
        QList<qint64> songs = {};      // of these sizes, with room for 5 MB of them
        bool linksAtNames = false;     // the person's, at the song's and its playlist's names in the new phone's folder
        bool theirCollections = false; // another user's folders where the library files the song and the photo
        int linkedSongs = 0;           // songs of 1000 bytes, each with the person's link at its name
    };
    const qint64 MB = 1048576;
    const Case cases[] = {
        // First, while the library has not filed the items yet.
        // Another user's folders where the host files: the reason and the
        // remedy are on the line.
        {"another user's collection folders", false, GiB + 90000,
         " - Done (1 could not be added to your music library: the folder \"{collection}\" cannot be used: it belongs "
         "to another user, \"{them}\". Ask \"{them}\" or an administrator to make the folder \"{collection}\" yours, or "
         "rename it so that a new one is made)",
         " - Done (1 could not be added to your photo library: the folder \"{collection}\" cannot be used: it belongs "
         "to another user, \"{them}\". Ask \"{them}\" or an administrator to make the folder \"{collection}\" yours, or "
         "rename it so that a new one is made)",
         false, false, false, false, {}, false, true},
        // The disk is named by the library's folder on it.
        {"no room for the library's copies", false, GiB + 90000,
         " - Done (1 could not be added to your music library: there is not enough space on the disk that holds "
         "\"{folder}\")",
         " - Done (1 could not be added to your photo library: there is not enough space on the disk that holds "
         "\"{folder}\")",
         false, true},
        {"a link at the library's temporary name", false, GiB + 90000,
         " - Done (1 could not be added to your music library)", " - Done", false, false, true},
        {"all copied", false, GiB + 90000, " - Done", " - Done"},
        {"a kind that could not be read", true, GiB + 90000, " - Done",
         " - Failed: it could not be read from your old phone: The phone went away."},
        {"no space", false, 100, " - Not moved: there is not enough space on your new device",
         " - Not moved: there is not enough space on your new device"},
        {"a copy gone when counted", false, GiB + 90000,
         " - Done (1 could not be copied; 1 could not be added to your music library)", " - Done", true},
        {"a song this computer could not take", false, GiB + 90000,
         " - Done (1 could not be written into \"{tmp}\" on this computer: No space left on device)", " - Done", false,
         false, false, true},
        // What did not fit is the kind's bytes less those that did.
        {"songs that fit in part", false, GiB + 5 * MB + 2000, " - Done (1 did not fit on your new device: 40.0 MB)",
         " - Done", false, false, false, false, {MB, 2 * MB, 40 * MB}},
        // What stands in the way is named on the line, with what to do.
        {"links at the song's and the playlist's names", false, GiB + 90000,
         " - Done (\"{new}/Music/item.mp3\" (a link) stays where its copy belongs, and the copy is \"item-1.mp3\", "
         "\"{new}/Playlists/Sunday.m3u\" (a link) stays where its copy belongs, and the copy is \"Sunday-1.m3u\"; "
         "remove or move them, then transfer again to give the copies their names)",
         " - Done", false, false, false, false, {}, true},
        // The first three by name, then how many more.
        {"links at five songs' names", false, GiB + 90000,
         " - Done (\"{new}/Music/0item.mp3\" (a link) stays where its copy belongs, and the copy is \"0item-1.mp3\", "
         "\"{new}/Music/1item.mp3\" (a link) stays where its copy belongs, and the copy is \"1item-1.mp3\", "
         "\"{new}/Music/2item.mp3\" (a link) stays where its copy belongs, and the copy is \"2item-1.mp3\", 2 more stay "
         "beside their copies; remove or move them, then transfer again to give the copies their names)",
         " - Done", false, false, false, false, {}, false, false, 5},
    };
    const passwd *them = ::getpwuid(65534);
    const auto collection = [](const QString &folder, const char *kind) {
        return QDir::cleanPath(folder) + QStringLiteral("/Solvenna to Windows Phone Imported ") + QLatin1String(kind);
    };
    const QString privateFile = testenv::makeTempDir(QStringLiteral("home")) + QStringLiteral("/private.txt");
    testenv::writeFile(privateFile, "the person's own");
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const QString target = WindowsPhone7LocalDevice::storageFolderPath();
        testenv::removeTree(target);
        // Only root can give a folder to another user.
        if (c.theirCollections && (::geteuid() != 0 || !them)) continue;
        const QString theirs[] = {collection(MediaLibraryHost::musicFolder(), "Music"),
                                  collection(MediaLibraryHost::picturesFolder(), "Photos")};
        const auto giveBack = qScopeGuard([&] {
            if (c.theirCollections)
                for (const QString &folder : theirs) testenv::removeTree(folder);
        });
        for (const QString &folder : theirs) {
            if (!c.theirCollections) continue;
            testenv::removeTree(folder);
            ASSERT_TRUE(QDir().mkpath(folder));
            ASSERT_EQ(::chown(QFile::encodeName(folder).constData(), 65534, 65534), 0);
        }
        if (c.linksAtNames)
            for (const char *name : {"Music/item.mp3", "Playlists/Sunday.m3u"}) {
                ASSERT_TRUE(QDir().mkpath(QFileInfo(target + QLatin1Char('/') + QLatin1String(name)).path()));
                ASSERT_TRUE(QFile::link(privateFile, target + QLatin1Char('/') + QLatin1String(name)));
            }
        for (int song = 0; song < c.linkedSongs; ++song) {
            ASSERT_TRUE(QDir().mkpath(target + QStringLiteral("/Music")));
            ASSERT_TRUE(QFile::link(privateFile, target + QStringLiteral("/Music/%1item.mp3").arg(song)));
        }
        Jobs t;
        t.use(c.photosFail);
        if (c.linksAtNames)
            static_cast<MadeMigrator<MusicMigrator> &>(*t.jobs->migrators().music).playlists = {QStringLiteral("Sunday")};
        static_cast<MadeMigrator<MusicMigrator> &>(*t.jobs->migrators().music).losesItsCopy = c.musicCopyLost;
        static_cast<MadeMigrator<MusicMigrator> &>(*t.jobs->migrators().music).secondFillsTheDisk = c.songNotTaken;
        static_cast<MadeMigrator<MusicMigrator> &>(*t.jobs->migrators().music).sizes =
            c.linkedSongs > 0 ? QList<qint64>(c.linkedSongs, 1000) : c.songs;
        t.jobs->backupOldDevice(t.h.wizard());
        ASSERT_TRUE(t.idle());
        t.jobs->freeSpaceOfTarget = [&](const VtrFileInfoPtr &) { return c.free; };
        const auto restore = qScopeGuard([] { MediaLibraryHost::shared().setDiskForTesting(std::nullopt); });
        if (c.libraryDiskFull)
            MediaLibraryHost::shared().setDiskForTesting(
                MediaLibraryHost::Disk{[](int, int) { return EOPNOTSUPP; }, [](int) { return qint64(0); }});
        const auto noHook = qScopeGuard([] { vtr::setBeforeTemporaryFileCreatedForTesting({}); });
        if (c.linkAtTemporaryName)
            vtr::setBeforeTemporaryFileCreatedForTesting(
                [=, music = MediaLibraryHost::musicFolder()](const QString &path) {
                    if (path.startsWith(music + '/')) QFile::link(privateFile, path);
                });
        t.jobs->startTransferMediaToNewDevice(t.h.wizard());
        ASSERT_TRUE(t.idle());
        EXPECT_EQ(testenv::readFile(privateFile), QByteArray("the person's own"));
        // "{folder}": the library's folder for the kind; "{collection}" the
        // folder in it that the host files into.
        const auto expected = [&](const char *line, const QString &folder, const QString &theirs) {
            return QString::fromLatin1(line)
                .replace(QStringLiteral("{tmp}"), platform::temporaryFolder())
                .replace(QStringLiteral("{folder}"), QDir::cleanPath(folder))
                .replace(QStringLiteral("{collection}"), theirs)
                .replace(QStringLiteral("{them}"), them ? QString::fromLocal8Bit(them->pw_name) : QString())
                .replace(QStringLiteral("{new}"), QDir::cleanPath(target))
                .toStdString();
        };
        EXPECT_EQ(t.h.wizard().doneTextFor(vtrphase::Music).toStdString(),
                  expected(c.music, MediaLibraryHost::musicFolder(), theirs[0]));
        // A file that did not arrive is headlined, whatever else did.
        EXPECT_EQ(t.h.wizard().somethingStayedBehind(),
                  c.photosFail || c.free < GiB || c.musicCopyLost || c.songNotTaken || !c.songs.isEmpty());
        EXPECT_EQ(t.h.wizard().doneTextFor(vtrphase::Photos).toStdString(),
                  expected(c.photos, MediaLibraryHost::picturesFolder(), theirs[1]));
        // The summary counts what the folder holds.
        EXPECT_EQ(t.h.wizard().manifestSource(NS_AppController::ManifestKind::Music)->manifestInfo().value("song_cnt").toInt(),
                  c.free < GiB || c.musicCopyLost ? 0
                  : c.linkedSongs > 0             ? c.linkedSongs
                  : c.songs.isEmpty()             ? 1
                                                  : 2);
    }
}

// The library's failure to save what it filed is on the kind's line: the
// copies arrived, but not all of the filing.
TEST(MediaJobs, APlaylistTheLibraryCannotSaveIsOnTheMusicLine)
{
    VTR_TEST_AS_UNPRIVILEGED_USER();
    testenv::removeTree(WindowsPhone7LocalDevice::storageFolderPath());
    const QString playlists = MediaLibraryHost::playlistsFolder();
    ASSERT_TRUE(QDir().mkpath(playlists));
    testenv::TakenModes modes;
    ASSERT_TRUE(modes.take(playlists, 0500));
    Jobs t;
    t.use(false);
    t.jobs->backupOldDevice(t.h.wizard());
    ASSERT_TRUE(t.idle());
    t.jobs->freeSpaceOfTarget = [](const VtrFileInfoPtr &) { return qint64(1) << 40; };
    t.jobs->startTransferMediaToNewDevice(t.h.wizard());
    ASSERT_TRUE(t.idle());
    const QString line = t.h.wizard().doneTextFor(vtrphase::Music);
    EXPECT_TRUE(line.startsWith(QStringLiteral(" - Done (the playlist \"Solvenna to Windows Phone Imported Music\" could "
                                               "not be added to your music library: the folder \"%1\" cannot be written: ")
                                    .arg(QDir::cleanPath(playlists))) &&
                line.endsWith(QStringLiteral("Make the folder writable, then transfer again to add it)")))
        << line.toStdString();
    EXPECT_EQ(t.h.wizard().doneTextFor(vtrphase::Photos), QStringLiteral(" - Done"));
}

TEST(MediaJobs, AKindThatFailsItsCopyEndsTheTransferAndEveryLineSaysWhy)
{
    testenv::removeTree(WindowsPhone7LocalDevice::storageFolderPath());
    Jobs t;
    t.use(false);
    t.jobs->backupOldDevice(t.h.wizard());
    ASSERT_TRUE(t.idle());
    // The photo's backed-up file is gone before it is copied.
    for (const MediaItem &item : t.jobs->migrators().photos->itemsThatFitInBytes(1000)) QFile::remove(item.path);
    t.jobs->freeSpaceOfTarget = [](const VtrFileInfoPtr &) { return qint64(1) << 40; };
    NS_AppController &w = t.h.wizard();
    // From the page of the walk's copy, whose heading says that it copies.
    w.setState(18);
    t.h.alerts.clear();
    t.jobs->startTransferMediaToNewDevice(w);
    ASSERT_TRUE(t.idle());
    // One fatal alert, with the copy's cause as its reason.
    ASSERT_EQ(t.h.alerts.shown().size(), 1);
    const AlertRequest &alert = t.h.alerts.shown().first();
    EXPECT_EQ(alert.messageText, QStringLiteral("An error occurred while transferring media to your new device."));
    EXPECT_EQ(alert.buttons, QStringList{QStringLiteral("Quit")});
    EXPECT_TRUE(alert.informativeText.contains(QStringLiteral("item.jpg"))) << alert.informativeText.toStdString();
    EXPECT_TRUE(t.h.terminated);
    // What arrived stays and says so; the kind after the failed one was never started.
    auto target = w.newDevice();
    EXPECT_EQ(QDir(target->preferredMusicFolder()->path()).entryList(QDir::Files).size(), 1);
    EXPECT_TRUE(QDir(target->preferredVideosFolder()->path()).entryList(QDir::Files).isEmpty());
    EXPECT_EQ(w.musicSummaryDone(), QStringLiteral(" - Done"));
    EXPECT_TRUE(w.photosSummaryDone().startsWith(QStringLiteral(" - Failed: "))) << w.photosSummaryDone().toStdString();
    EXPECT_TRUE(w.photosSummaryDone().contains(QStringLiteral("item.jpg")));
    EXPECT_EQ(w.videosSummaryDone(), QStringLiteral(" - Not moved: the transfer ended before their turn"));
    EXPECT_FALSE(w.transferSummaryView()->isHidden());
    EXPECT_EQ(w.scenesViewController()->templateController()->header(), QStringLiteral("The transfer failed"));

    // A link in place of the new phone's videos folder is not copied
    // through; the line says so, and once the link is removed, as it says,
    // the video arrives.
    const QString videos = QDir(WindowsPhone7LocalDevice::storageFolderPath()).filePath(QStringLiteral("Videos"));
    const QString elsewhere = testenv::makeTempDir(QStringLiteral("elsewhere"));
    ASSERT_TRUE(testenv::removeTree(videos));
    ASSERT_TRUE(QFile::link(elsewhere, videos));
    const auto transfer = [](Jobs &run) {
        run.use(false);
        run.jobs->backupOldDevice(run.h.wizard());
        if (!run.idle()) return false;
        run.jobs->freeSpaceOfTarget = [](const VtrFileInfoPtr &) { return qint64(1) << 40; };
        run.jobs->startTransferMediaToNewDevice(run.h.wizard());
        return run.idle();
    };
    Jobs linked;
    ASSERT_TRUE(transfer(linked));
    EXPECT_TRUE(QDir(elsewhere).isEmpty());
    EXPECT_EQ(linked.h.wizard().videosSummaryDone().toStdString(),
              " - Failed: \"" + videos.toStdString() +
                  "\" is a link: nothing is copied through it. Remove the link, then transfer again.");
    ASSERT_TRUE(QFile::remove(videos));
    // Another user's folder there, open to all, is named as theirs (only
    // root can give one to another user).
    if (::geteuid() == 0) {
        ASSERT_TRUE(QDir().mkdir(videos));
        ASSERT_EQ(::chmod(QFile::encodeName(videos).constData(), 0777), 0);
        ASSERT_EQ(::chown(QFile::encodeName(videos).constData(), 65534, 65534), 0);
        Jobs theirs;
        ASSERT_TRUE(transfer(theirs));
        EXPECT_TRUE(QDir(videos).isEmpty());
        EXPECT_EQ(theirs.h.wizard().videosSummaryDone().toStdString(),
                  " - Failed: \"" + videos.toStdString() +
                      "\" belongs to another user: nothing is copied into it. Rename it or have it removed, then "
                      "transfer again.");
        ASSERT_TRUE(QDir().rmdir(videos));
    }
    Jobs again;
    ASSERT_TRUE(transfer(again));
    EXPECT_EQ(again.h.wizard().videosSummaryDone(), QStringLiteral(" - Done"));
    EXPECT_EQ(QDir(videos).entryList(QDir::Files).size(), 1);
}

TEST(PimJobs, AddressBooksAndCalendarsThatCannotBeReachedAreSaidOnTheirLines)
{
    // The desktop's store without its session bus.
    const QByteArray bus = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    std::vector<std::unique_ptr<syncstore::SyncSource>> sources;
    sources.push_back(std::make_unique<syncstore::EdsSource>());
    syncstore::SyncManager::setSharedManager(std::make_shared<syncstore::SyncManager>(std::move(sources)));
    {
        Jobs t;
        NS_AppController &w = t.h.wizard();
        ASSERT_TRUE(t.h.plugBlackBerry());
        t.jobs->startTransferPIMFromOldDevice(w);
        ASSERT_TRUE(t.idle());
        // Read, the lines say why nothing is there; the upload step keeps it.
        vtrapp::StandInLiveUploadDriver().startNextLiveUpload(w);
        for (const QString &line : {w.contactsSummaryDone(), w.calendarSummaryDone()}) {
            EXPECT_TRUE(line.startsWith(QStringLiteral(" - Not moved: your "))) << line.toStdString();
            EXPECT_TRUE(line.contains(QStringLiteral("could not be reached (Evolution Data Server: there is no session bus")))
                << line.toStdString();
        }
        // Nothing was counted, yet what they hold is not known to be nothing.
        EXPECT_TRUE(w.somethingStayedBehind());
    }
    syncstore::SyncManager::setSharedManager(nullptr);
    if (!bus.isNull()) qputenv("DBUS_SESSION_BUS_ADDRESS", bus);
}

// Contacts read from the vdir folders are moved on though the desktop's
// service could not be asked; the calendars, of which none was read, say why.
TEST(PimJobs, ContactsReadFromFoldersAreNotSaidUnreachable)
{
    const QString vdir = testenv::makeTempDir(QStringLiteral("vdir"));
    testenv::writeFile(vdir + "/ann.vcf", "BEGIN:VCARD\nVERSION:3.0\nUID:ann\nN:Lee;Ann;;;\nFN:Ann Lee\nEND:VCARD\n");
    const QByteArray bus = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    std::vector<std::unique_ptr<syncstore::SyncSource>> sources;
    sources.push_back(std::make_unique<syncstore::VdirSource>(QStringList{vdir}));
    sources.push_back(std::make_unique<syncstore::EdsSource>());
    syncstore::SyncManager::setSharedManager(std::make_shared<syncstore::SyncManager>(std::move(sources)));
    {
        Jobs t;
        NS_AppController &w = t.h.wizard();
        ASSERT_TRUE(t.h.plugBlackBerry());
        t.jobs->startTransferPIMFromOldDevice(w);
        ASSERT_TRUE(t.idle());
        EXPECT_EQ(w.contacts().size(), 1);
        const NS_AppController::KindResult contacts = w.kindResult(vtrphase::Contacts);
        EXPECT_NE(contacts.outcome, NS_AppController::Outcome::NotMoved);
        EXPECT_FALSE(contacts.reason.contains(QStringLiteral("could not be reached"))) << contacts.reason.toStdString();
        const NS_AppController::KindResult calendars = w.kindResult(vtrphase::Events);
        EXPECT_EQ(calendars.outcome, NS_AppController::Outcome::NotMoved);
        EXPECT_TRUE(calendars.reason.startsWith(QStringLiteral("your calendars could not be reached (Evolution Data Server: ")))
            << calendars.reason.toStdString();
    }
    syncstore::SyncManager::setSharedManager(nullptr);
    if (!bus.isNull()) qputenv("DBUS_SESSION_BUS_ADDRESS", bus);
}

TEST(MediaJobs, TheEstimateCountsWhatFitsAndWhatThereIs)
{
    Jobs t;
    t.use(false, 1000);
    t.jobs->backupOldDevice(t.h.wizard());
    ASSERT_TRUE(t.idle());
    const qint64 GiB = 1073741824;
    struct Case
    {
        const char *name;
        qint64 free;
        bool music, photos, videos;
        qint64 media, space;  // the space of every included kind
        int fit;              // items of every included kind that fit
    };
    const Case cases[] = {
        {"a share smaller than each need", GiB + 2500, true, true, true, 2500, 833, 0},
        {"a share equal to each need", GiB + 3000, true, true, true, 3000, 1000, 1},
        {"only music", GiB + 5000, true, false, false, 5000, 1000, 1},
        {"below the reserve", GiB - 1, true, true, true, 0, 0, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const NS_AppControllerJobs::Estimate e = t.jobs->estimateWithSpaceOnDevice(c.free, c.music, c.photos, c.videos);
        EXPECT_EQ(e.spaceForMedia, c.media);
        const bool included[] = {c.music, c.photos, c.videos};
        for (int k = 0; k < 3; ++k) {
            EXPECT_EQ(e.total[k], 1) << k;  // whatever is included
            EXPECT_EQ(e.space[k], included[k] ? c.space : 0) << k;
            EXPECT_EQ(e.numToCopy[k], included[k] ? c.fit : 0) << k;
        }
    }
}

TEST(MediaJobs, TheImporterFollowsTheTwoPhones)
{
    WizardHarness h;
    ASSERT_TRUE(h.plugIPhone());
    const std::shared_ptr<MobileDeviceInterface> iPhone = h.wizard().oldDeviceProxy();
    const std::shared_ptr<MobileDeviceInterface> wp7 = h.wizard().newDevice();
    MobileDeviceProxy none;
    struct Case { const char *name; const MobileDeviceInterface *old; const MobileDeviceInterface *target;
                  vtrmedia::Kind kind; QString app; };
    const Case cases[] = {
        {"an iPhone: none", iPhone.get(), wp7.get(), vtrmedia::Music, QString()},
        {"another phone, music", &none, wp7.get(), vtrmedia::Music, "iTunes"},
        {"another phone, videos", &none, wp7.get(), vtrmedia::Videos, "iTunes"},
        {"another phone, photos", &none, wp7.get(), vtrmedia::Photos, "iPhoto"},
        {"not a Windows Phone 7 target", &none, &none, vtrmedia::Photos, QString()},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const std::unique_ptr<iAppImporter> importer = NS_AppControllerJobs::importerFor(c.kind, *c.old, *c.target);
        EXPECT_EQ(importer ? importer->iAppName() : QString(), c.app);
    }
}

TEST(MediaJobs, TheCompanionFilesAreFoundOnEitherStorage)
{
    for (const char *fixture : {"android_phone.json", "android_card_marker.json"}) {
        SCOPED_TRACE(fixture);
        WizardHarness h;
        MtpSimPhone *phone = h.phones.addFixture(QStringLiteral(VTR_TEST_SOURCE_DIR "/devices/data/mtp/") +
                                                 QString::fromLatin1(fixture));
        ASSERT_TRUE(phone);
        ASSERT_TRUE(h.plug(*phone));
        MobileDeviceInterface &old = *h.wizard().oldDeviceProxy();
        EXPECT_TRUE(NS_AppControllerJobs::oldDeviceDataFromFileNamed(old, "nroid_con.json").startsWith("{"));
        EXPECT_FALSE(NS_AppControllerJobs::oldDeviceDataFromFileNamed(old, "nroid_cal.json").isEmpty());
        EXPECT_TRUE(NS_AppControllerJobs::oldDeviceDataFromFileNamed(old, "missing.json").isNull());
    }
}

}  // namespace
