// What the listing of an old phone's media takes and what it leaves out: a
// link to nothing is no song, only hidden files of the kind count as hidden
// media left behind, and a phone that shows none of its storage (locked) has
// not shown that it holds nothing.

#include "devices/phone/WindowsPhone7LocalDevice.h"
#include "fileinfo/VtrMacFileInfo.h"
#include "migration/MediaMigrators.h"
#include "platform/VtrException.h"

#include "TestEnvironment.h"

#include <QFile>

#include <gtest/gtest.h>

namespace {

// The entries of `folder`'s listing as "name" for a file to fetch and
// "name: why" for one left out ("hidden" for a hidden file of the kind).
std::string listed(const QString &folder, MediaKind kind)
{
    QStringList out;
    for (const MediaSourceItem &item : mediaFilesBelow({VtrMacFileInfo::fileInfoWithPath(folder)}, kind)) {
        const QString name = item.name.mid(item.name.lastIndexOf(QLatin1Char('/')) + 1);
        if (item.fetch) out << name;
        else out << name + QStringLiteral(": ") + (item.hidden ? QStringLiteral("hidden") : item.leftOut);
    }
    out.sort();
    return out.join(QStringLiteral(" | ")).toStdString();
}

TEST(MediaListing, ALinkToNothingIsLeftOutAsSuchAndOnlyHiddenFilesOfTheKindCount)
{
    const QString card = testenv::makeTempDir(QStringLiteral("card"));
    const QString music = card + QStringLiteral("/Music");
    testenv::writeFile(music + "/song.mp3", "a song");
    // Links to nothing, one aimed inside the card and one at an absolute path.
    ASSERT_TRUE(QFile::link(QStringLiteral("gone.mp3"), music + "/inside.mp3"));
    ASSERT_TRUE(QFile::link(card + QStringLiteral("/nowhere/x.mp3"), music + "/absolute.mp3"));
    // Hidden: one song, and files of no media kind or of another kind.
    testenv::writeFile(music + "/._song.mp3", "another computer's notes");
    testenv::writeFile(music + "/.nomedia", "");
    testenv::writeFile(music + "/.DS_Store", "folder view");
    testenv::writeFile(music + "/.cover.jpg", "a photo, not music");

    EXPECT_EQ(listed(card, MediaKind::Music), "._song.mp3: hidden | absolute.mp3: it is a link to nothing | "
                                              "inside.mp3: it is a link to nothing | song.mp3");
    EXPECT_EQ(listed(card, MediaKind::Photos), ".cover.jpg: hidden");
    EXPECT_EQ(listed(card, MediaKind::Videos), "");
}

// An Android phone over MTP whose storages are all hidden from this
// computer, as a locked phone shows them.
class LockedPhone final : public WindowsPhone7LocalDevice
{
public:
    LockedPhone() : WindowsPhone7LocalDevice({}, nullptr) {}
    bool hasMTPConnection() const override { return true; }
    bool mtpUseInternalStorage() override { return false; }
    bool mtpUseExternalStorage() override { return false; }
};

TEST(MediaListing, APhoneThatShowsNoStorageFailsEachKindSayingItMayBeLocked)
{
    auto phone = std::make_shared<LockedPhone>();
    for (const MediaKind kind : {MediaKind::Music, MediaKind::Photos, MediaKind::Videos}) {
        SCOPED_TRACE(int(kind));
        try {
            const QList<MediaSourceItem> items = androidMediaItems(*phone, kind, {});
            ADD_FAILURE() << "listed as holding " << items.size() << " items";
        } catch (const VtrException &e) {
            EXPECT_EQ(e.name(), QStringLiteral("DeviceException"));
            EXPECT_TRUE(e.reason().contains(QStringLiteral("it may be locked"))) << e.reason().toStdString();
            EXPECT_TRUE(e.reason().contains(QStringLiteral("none of its storage"))) << e.reason().toStdString();
        }
    }
    // The kind's backup fails, and its report says why it holds nothing.
    AndroidPhotosMigrator photos(phone);
    EXPECT_THROW(photos.backupOldDeviceWithStatus(nullptr), VtrException);
    EXPECT_EQ(photos.numItemsToCopy(), 0);
}

}  // namespace
