// The backup folder of a migrator and the clearing of earlier copies at the
// edges: many files of one name numbered from 1, and a file put in the place
// of an earlier copy while the clearing reads it.

#include "devices/phone/WindowsPhone7LocalDevice.h"
#include "fileinfo/VtrMacFileInfo.h"
#include "migration/MediaMigrators.h"
#include "platform/Folders.h"
#include "platform/UserDefaults.h"

#include "TestEnvironment.h"
#include "TestFolders.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <thread>
#include <unistd.h>

namespace {

// Photos of a "phone" that hands over the items it is given.
class ListedPhotos final : public PhotosMigrator
{
public:
    ListedPhotos() : PhotosMigrator(nullptr) {}
    QList<MediaSourceItem> listed;

protected:
    QList<MediaSourceItem> sourceItems() override { return listed; }
};

// An item the phone calls `name`, fetched from the local file `path`.
MediaSourceItem itemFrom(const QString &path, const QString &name)
{
    MediaSourceItem item;
    item.name = name;
    item.size = QFileInfo(path).size();
    item.fetch = [path, name](const VtrFileInfoPtr &folder, FileInfoCopyProgress *) {
        VtrFileInfoPtr out;
        const QString target = QDir(folder->path()).filePath(folder->uniqueFilename(name));
        if (QFile::copy(path, target)) out = VtrMacFileInfo::fileInfoWithPath(target);
        return out;
    };
    return item;
}

class DataMigratorBackups : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const QString own = testenv::makeTempDir(QStringLiteral("own"));
        platform::setHomeFolderOverride(own + QStringLiteral("/home"));
        platform::setDataFolderOverride(own + QStringLiteral("/data"));
        platform::UserDefaults::setStoreFileForTesting(own + QStringLiteral("/defaults.ini"));
    }
    void TearDown() override
    {
        platform::setHomeFolderOverride({});
        platform::setDataFolderOverride({});
        platform::UserDefaults::setStoreFileForTesting({});
    }
};

TEST_F(DataMigratorBackups, NamesOfOneNameAreNumberedFromOne)
{
    const QString phone = testenv::makeTempDir(QStringLiteral("phone"));
    testenv::writeFile(phone + QStringLiteral("/a"), "first");
    testenv::writeFile(phone + QStringLiteral("/b"), "second");
    ListedPhotos photos;
    photos.listed = {itemFrom(phone + QStringLiteral("/a"), QStringLiteral("cover.jpg")),
                    itemFrom(phone + QStringLiteral("/b"), QStringLiteral("cover.jpg")),
                    itemFrom(phone + QStringLiteral("/a"), QStringLiteral("COVER.jpg"))};
    photos.backupOldDeviceWithStatus(nullptr);
    QStringList names;
    for (const MediaItem &item : photos.items()) names.append(item.name);
    EXPECT_EQ(names, (QStringList{QStringLiteral("cover.jpg"), QStringLiteral("cover-1.jpg"),
                                  QStringLiteral("COVER-2.jpg")}));
}

// Whether this process still holds `path` open after it was renamed over.
bool heldOpenAfterReplacement(const QString &path)
{
    const QString gone = path + QStringLiteral(" (deleted)");
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString &fd : fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
        char target[4096];
        const ssize_t n = ::readlink(QFile::encodeName(fds.filePath(fd)).constData(), target, sizeof target);
        if (n > 0 && QFile::decodeName(QByteArray(target, int(n))) == gone) return true;
    }
    return false;
}

// The clearing reads an earlier copy whole before it removes it; meanwhile
// the person (or another program) puts a file of their own under that name.
// Their file stays, whenever the swap lands; the test repeats with larger
// copies until the swap has landed while the copy was still being read.
TEST_F(DataMigratorBackups, AFileSwappedInWhileTheClearingChecksTheCopyStays)
{
    bool swappedWhileRead = false;
    for (int megabytes = 8; megabytes <= 256 && !swappedWhileRead; megabytes *= 2) {
        SCOPED_TRACE(megabytes);
        const QString phone = testenv::makeTempDir(QStringLiteral("phone"));
        {
            QFile big(phone + QStringLiteral("/p"));
            ASSERT_TRUE(big.open(QIODevice::WriteOnly));
            const QByteArray block(1 << 20, 'x');
            for (int i = 0; i < megabytes; ++i) ASSERT_EQ(big.write(block), block.size());
        }
        ListedPhotos photos;
        photos.listed = {itemFrom(phone + QStringLiteral("/p"), QStringLiteral("p.jpg"))};
        photos.backupOldDeviceWithStatus(nullptr);
        const auto target = WindowsPhone7LocalDevice::create({}, nullptr);
        const VtrFileInfoPtr folder = target->preferredPhotosFolder();
        photos.copyToDevice(target, qint64(megabytes) << 21, nullptr, nullptr);
        const QString copy = folder->path() + QStringLiteral("/p.jpg");
        ASSERT_TRUE(QFileInfo::exists(copy));
        const QString theirs = folder->path() + QStringLiteral("/theirs.tmp");
        testenv::writeFile(theirs, "the person's own photo");

        const int watch = ::inotify_init1(IN_CLOEXEC);
        ASSERT_GE(watch, 0);
        ASSERT_GE(::inotify_add_watch(watch, QFile::encodeName(copy).constData(), IN_OPEN), 0);
        int stop[2];
        ASSERT_EQ(::pipe2(stop, O_CLOEXEC), 0);
        std::atomic<bool> held{false};
        std::thread swapper([&] {
            pollfd fds[2] = {{watch, POLLIN, 0}, {stop[0], POLLIN, 0}};
            if (::poll(fds, 2, -1) <= 0 || !(fds[0].revents & POLLIN)) return;
            if (::rename(QFile::encodeName(theirs).constData(), QFile::encodeName(copy).constData()) == 0)
                held = heldOpenAfterReplacement(copy);
        });
        MediaMigrator::clearEarlierCopies(folder);
        ASSERT_EQ(::write(stop[1], "x", 1), 1);
        swapper.join();
        ::close(stop[0]);
        ::close(stop[1]);
        ::close(watch);

        EXPECT_EQ(testenv::readFile(copy), QByteArray("the person's own photo"));
        EXPECT_EQ(MediaMigrator::bytesOfEarlierCopies(folder), 0);
        swappedWhileRead = held;
        testenv::removeTree(folder->path());
    }
    EXPECT_TRUE(swappedWhileRead) << "the swap never landed while the copy was read";

    // The swap lands once the copy was read and found to be ours, right
    // before it goes: the person's file stays under its name all the same.
    const QString phone = testenv::makeTempDir(QStringLiteral("phone"));
    testenv::writeFile(phone + QStringLiteral("/p"), "the earlier phone's photo");
    ListedPhotos photos;
    photos.listed = {itemFrom(phone + QStringLiteral("/p"), QStringLiteral("p.jpg"))};
    photos.backupOldDeviceWithStatus(nullptr);
    const auto target = WindowsPhone7LocalDevice::create({}, nullptr);
    const VtrFileInfoPtr folder = target->preferredPhotosFolder();
    photos.copyToDevice(target, 1 << 20, nullptr, nullptr);
    const QString copy = folder->path() + QStringLiteral("/p.jpg");
    const QString theirs = folder->path() + QStringLiteral("/theirs.tmp");
    testenv::writeFile(theirs, "the person's own photo");
    MediaMigrator::setBeforeEarlierCopyRemovedForTesting([&](const QString &path) {
        EXPECT_EQ(path, copy);
        EXPECT_EQ(::rename(QFile::encodeName(theirs).constData(), QFile::encodeName(path).constData()), 0);
    });
    MediaMigrator::clearEarlierCopies(folder);
    MediaMigrator::setBeforeEarlierCopyRemovedForTesting({});
    EXPECT_EQ(testenv::readFile(copy), QByteArray("the person's own photo"));
    EXPECT_EQ(QDir(folder->path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("p.jpg")});
}

}  // namespace
