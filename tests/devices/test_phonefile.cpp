// Phone file objects against an in-memory phone (PhoneFakeDevice).

#include "devices/command/VtrSymbianFileInfo.h"
#include "fileinfo/FileInfoCopy.h"
#include "fileinfo/VtrMacFileInfo.h"
#include "platform/Folders.h"
#include "platform/VtrException.h"

#include "TestEnvironment.h"
#include "support/PhoneFakeDevice.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>

namespace {

using Ptr = VtrSymbianFileInfo::Ptr;

const QDateTime kSongDate(QDate(2010, 1, 2), QTime(3, 4, 5), Qt::UTC);

class PhoneFileTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        phone.addDrive("E", qint64(1) << 34, "My Card");
        phone.addDrive("C", qint64(1) << 30, QString(), false);
        phone.addFile("E:\\Music\\Song.mp3", QByteArray(10000, 's'), kSongDate);
        phone.addFile("E:\\Music\\A.MP3", "aaa");
        phone.addFolder("E:\\Music\\Rock");
        localDir = testenv::makeTempDir("phone");
    }

    Ptr node(const QString &path)
    {
        auto p = std::dynamic_pointer_cast<VtrSymbianFileInfo>(phone.deviceFileInfoWithPath(path));
        EXPECT_TRUE(p);
        return p;
    }
    VtrMacFileInfo::Ptr local(const QString &relative) const
    {
        return VtrMacFileInfo::fileInfoWithPath(localDir + QLatin1Char('/') + relative);
    }
    QString localPath(const QString &relative) const { return localDir + QLatin1Char('/') + relative; }
    QStringList localEntries() const
    {
        return QDir(localDir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    }
    bool sent() const { return phone.calls.filter("copyDesktopFile").size() > 0; }

    PhoneFakeDevice phone;
    QString localDir;
};

QStringList names(const VtrFileInfoList &list)
{
    QStringList out;
    for (const auto &item : list)
        out.append(item->name());
    return out;
}

// ---- existence and attributes ---------------------------------------------------------------

TEST_F(PhoneFileTest, NodeMadeFromPathAloneKnowsNothingUntilRefreshed)
{
    Ptr bare = VtrSymbianFileInfo::fileInfoWithPath("E:\\Music\\Song.mp3", &phone);
    EXPECT_FALSE(bare->exists());
    EXPECT_EQ(bare->size(), 0);
    EXPECT_FALSE(bare->modificationDate().isValid());
    bare->refresh();
    EXPECT_TRUE(bare->exists());
    EXPECT_TRUE(bare->isFile());
    EXPECT_EQ(bare->size(), 10000);
    EXPECT_EQ(bare->modificationDate(), kSongDate);

    // A new date is kept in the phone's entry.
    const QDateTime later(QDate(2013, 4, 5), QTime(6, 7, 8), Qt::UTC);
    bare->setModificationDate(later);
    EXPECT_EQ(bare->modificationDate(), later);
    EXPECT_EQ(phone.item("E:\\Music\\Song.mp3")->modified, later);
}

TEST_F(PhoneFileTest, AttributesComeFromTheListingEntry)
{
    phone.addFile("E:\\Music\\.hidden", "h").hidden = true;
    Ptr folder = node("E:\\Music");
    EXPECT_TRUE(folder->isFolder());
    EXPECT_EQ(folder->path(), "E:\\Music\\");
    EXPECT_EQ(folder->size(), 10000 + 3 + 1); // a folder is its tree
    EXPECT_FALSE(node("E:\\Music\\.hidden")->visible());
    EXPECT_TRUE(node("E:\\Music\\Song.mp3")->visible());

    Ptr odd = VtrSymbianFileInfo::fileInfoWithPath(
        "E:\\x", QVariantMap{{"type", "file"}, {"size", "12kB"}, {"mod", "garbage"}}, &phone);
    EXPECT_EQ(odd->size(), 0);
    EXPECT_FALSE(odd->modificationDate().isValid());
}

TEST_F(PhoneFileTest, PathsParentsAndVolumes)
{
    Ptr song = node("E:\\Music\\Song.mp3");
    EXPECT_EQ(song->parentFolder()->path(), "E:\\Music\\");
    EXPECT_EQ(node("E:\\Music")->parentFolder()->path(), "E:\\");
    EXPECT_EQ(node("E:\\")->parentFolder(), nullptr);
    EXPECT_EQ(song->volume()->path(), "E:\\");

    EXPECT_EQ(node("E:\\")->humanFriendlyPath(), "My Card");
    EXPECT_EQ(song->humanFriendlyPath(), "My Card: Music\\Song.mp3");
    phone.addFile("C:\\x.txt", "x");
    Ptr internal = node("C:\\x.txt");
    EXPECT_EQ(internal->humanFriendlyPath(), "C:\\x.txt"); // no friendly name for C

    EXPECT_TRUE(internal->isInternalMemory());
    EXPECT_FALSE(song->isInternalMemory());
    EXPECT_EQ(internal->savedInfo().value("memoryType").toInt(), 1);
    EXPECT_EQ(song->savedInfo().value("memoryType").toInt(), 2);
    EXPECT_EQ(song->uuid(), "FAKE-PHONE-UUID");
    EXPECT_FALSE(node("E:\\")->icon().isNull());
}

TEST_F(PhoneFileTest, DeviceCopiesOnlyOverMTPAndArchivesKeepTheEntry)
{
    EXPECT_TRUE(node("E:\\Music\\Song.mp3")->deviceControlsCopy());
    phone.mtpLive = false;
    Ptr song = node("E:\\Music\\Song.mp3");
    EXPECT_FALSE(song->deviceControlsCopy());
    EXPECT_EQ(song->fileContents(), QByteArray(10000, 's'));

    auto restored =
        std::dynamic_pointer_cast<VtrSymbianFileInfo>(VtrBaseFileInfo::unarchiveFromData(song->archiveToData()));
    ASSERT_TRUE(restored);
    EXPECT_TRUE(restored->exists());
    EXPECT_EQ(restored->size(), 10000);
    EXPECT_EQ(restored->device(), nullptr);
    restored->refreshWithDevice(&phone);
    EXPECT_EQ(restored->device(), &phone);
    EXPECT_TRUE(restored->exists());
}

// ---- finding, listing and unique names --------------------------------------------------------

TEST_F(PhoneFileTest, FindIgnoresCaseAndAnswersAMissingItemInTheFolderSearched)
{
    Ptr music = node("E:\\Music");
    EXPECT_EQ(music->find("SONG.mp3")->size(), 10000);
    EXPECT_TRUE(music->find("a.mp3")->exists());
    EXPECT_EQ(music->find("a.mp3")->path(), "E:\\Music\\A.MP3");
    // Missing: the path in the folder searched, also when asked beside a file.
    VtrFileInfoPtr missing = node("E:\\Music\\Song.mp3")->find("b.mp3");
    EXPECT_FALSE(missing->exists());
    EXPECT_EQ(missing->path(), "E:\\Music\\b.mp3");
}

TEST_F(PhoneFileTest, ListingIsSortedAndLeavesAFileNamedLikeTheTemporaryFile)
{
    // The phone's own file of that name: not listed, and not ours to remove.
    phone.addFile("E:\\Music\\tessalinecopyfile.TMP", "the phone's");
    phone.addFile("E:\\Music\\b.mp3", "b");
    Ptr music = node("E:\\Music");
    EXPECT_EQ(names(music->folderContents()), (QStringList{"A.MP3", "b.mp3", "Rock", "Song.mp3"}));
    EXPECT_TRUE(phone.has("E:\\Music\\tessalinecopyfile.TMP"));

    struct StopAtB : VtrBaseFileInfoFilter
    {
        bool includeItem(const VtrFileInfoPtr &item, bool *stop) override
        {
            *stop = item->name() == QLatin1String("b.mp3");
            return true;
        }
    } stopAtB;
    EXPECT_EQ(names(music->folderContentsWithFilter(&stopAtB)), (QStringList{"A.MP3", "b.mp3"}));

    // A folder the phone fails to list is no empty folder.
    phone.throwOnListing = true;
    EXPECT_THROW(music->folderContents(), VtrException);
}

TEST_F(PhoneFileTest, UniqueNamesIgnoreCase)
{
    Ptr music = node("E:\\Music");
    EXPECT_EQ(music->uniqueFilename("new.mp3"), "new.mp3");
    EXPECT_EQ(music->uniqueFilename("a.mp3"), "a-1.mp3");
    phone.addFile("E:\\Music\\A-1.mp3", "x");
    EXPECT_EQ(music->uniqueFilename("a.mp3"), "a-2.mp3");
    // Beside a file: its folder is asked.
    EXPECT_EQ(node("E:\\Music\\Song.mp3")->uniqueFilename("ROCK"), "ROCK-1");
}

// ---- creating, removing and moving ----------------------------------------------------------------

TEST_F(PhoneFileTest, CreateFileReplacesOrMakesUniqueAndRefusesPaths)
{
    Ptr music = node("E:\\Music");
    VtrFileInfoPtr made = music->createFile("n.txt", "new", {});
    ASSERT_TRUE(made && made->exists());
    EXPECT_EQ(phone.item("E:\\Music\\n.txt")->data, QByteArray("new"));

    VtrFileInfoPtr again = music->createFile("N.TXT", "newer", {}, false);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->path(), "E:\\Music\\n.txt");
    EXPECT_EQ(phone.item("E:\\Music\\n.txt")->data, QByteArray("newer"));

    phone.refuseWrites = true;
    EXPECT_EQ(music->createFile("n.txt", "lost", {}, false), nullptr);
    EXPECT_EQ(phone.item("E:\\Music\\n.txt")->data, QByteArray("newer"));
    phone.refuseWrites = false;

    VtrFileInfoPtr unique = music->createFile("n.txt", QByteArray(), {}, true);
    ASSERT_TRUE(unique && unique->exists());
    EXPECT_EQ(unique->path(), "E:\\Music\\n-1.txt");
    EXPECT_EQ(phone.item("E:\\Music\\n-1.txt")->data, QByteArray());

    EXPECT_EQ(music->createFile("rock", "x", {}, false), nullptr); // a folder is in the way
    EXPECT_EQ(music->createFile("..\\evil.txt", "x", {}), nullptr);
    EXPECT_EQ(music->createFile("..", "x", {}), nullptr);
    EXPECT_FALSE(phone.has("E:\\evil.txt"));
}

TEST_F(PhoneFileTest, CreateFolderWalksAndMakesEachLevel)
{
    Ptr root = node("E:\\");
    VtrFileInfoPtr deep = root->createFolder("Music\\Rock\\Old\\Older");
    ASSERT_TRUE(deep && deep->isFolder());
    EXPECT_EQ(deep->path(), "E:\\Music\\Rock\\Old\\Older\\");
    EXPECT_EQ(phone.calls.filter("createFolder").size(), 2); // existing levels are not made again

    VtrFileInfoPtr withDrive = node("E:\\Music\\Song.mp3")->createFolder("e:\\Pics\\2012");
    ASSERT_TRUE(withDrive);
    EXPECT_TRUE(phone.item("E:\\Pics\\2012")->folder);

    EXPECT_EQ(root->createFolder("Music\\Song.mp3\\x"), nullptr);
    EXPECT_EQ(root->createFolder("Music\\..\\..\\x"), nullptr);

    VtrFileInfoPtr tmp = node("E:\\Music\\Song.mp3")->tempFolder();
    ASSERT_TRUE(tmp && tmp->exists());
    EXPECT_EQ(tmp->path(), "E:\\tmp\\");
}

TEST_F(PhoneFileTest, RemoveMoveAndRename)
{
    Ptr song = node("E:\\Music\\Song.mp3");
    phone.refuseRemove = true;
    EXPECT_FALSE(song->remove());
    EXPECT_TRUE(song->exists());
    phone.refuseRemove = false;

    Ptr target = VtrSymbianFileInfo::fileInfoWithPath("E:\\Music\\Rock\\Moved.mp3", &phone);
    EXPECT_EQ(song->moveTo(target), 0);
    EXPECT_EQ(song->path(), "E:\\Music\\Rock\\Moved.mp3");
    EXPECT_TRUE(phone.has("E:\\Music\\Rock\\Moved.mp3"));
    EXPECT_EQ(song->moveTo(local("x")), -1); // not a phone item

    song->setName("Renamed.mp3");
    EXPECT_TRUE(phone.has("E:\\Music\\Rock\\Renamed.mp3"));

    Ptr rock = node("E:\\Music\\Rock");
    EXPECT_TRUE(rock->remove());
    EXPECT_FALSE(rock->exists());
    EXPECT_FALSE(phone.has("E:\\Music\\Rock\\Renamed.mp3"));
    EXPECT_FALSE(rock->remove());
}

// ---- DRM and metadata --------------------------------------------------------------------------------

TEST_F(PhoneFileTest, DrmAnswerNeverMakesAMissingItemExist)
{
    Ptr missing = VtrSymbianFileInfo::fileInfoWithPath("E:\\Music\\gone.m4p", &phone);
    EXPECT_FALSE(missing->hasDRM());
    EXPECT_FALSE(missing->exists());

    phone.item("E:\\Music\\Song.mp3")->protectedContent = true;
    Ptr song = node("E:\\Music\\Song.mp3");
    const int before = phone.protectedFileCalls;
    EXPECT_TRUE(song->hasDRM());
    EXPECT_TRUE(song->hasDRM());
    EXPECT_EQ(phone.protectedFileCalls, before + 1);

    phone.item("E:\\Music\\A.MP3")->extraEntry.insert("hasDRM", true);
    EXPECT_TRUE(node("E:\\Music\\A.MP3")->hasDRM());
    EXPECT_EQ(phone.protectedFileCalls, before + 1);

    phone.item("E:\\Music\\Song.mp3")->metadata = {{"album", "Blue"}};
    EXPECT_EQ(song->metadata().value("album").toString(), "Blue");
    song->metadata();
    EXPECT_EQ(phone.metadataCalls, 1);
}

// ---- computer -> phone -----------------------------------------------------------------------------------

TEST_F(PhoneFileTest, FreeSpaceBoundaryKeepsFiveMegabytes)
{
    testenv::writeFile(localPath("up.mp3"), QByteArray(3000, 'u'));
    Ptr music = node("E:\\Music");
    phone.setFreeSpace("E", 3000 + VtrSymbianFileInfo::kFreeSpaceToKeepOnVolume - 1);
    phone.addFile("E:\\Music\\TessalineCopyFile.tmp", "left over");
    EXPECT_EQ(music->copyFromFile(local("up.mp3"), true, nullptr, nullptr, nullptr), -209);
    EXPECT_FALSE(sent());
    EXPECT_TRUE(phone.calls.filter("remove").isEmpty()); // the phone was not touched

    phone.setFreeSpace("E", 3000 + VtrSymbianFileInfo::kFreeSpaceToKeepOnVolume);
    VtrFileInfoPtr made;
    EXPECT_EQ(music->copyFromFile(local("up.mp3"), false, nullptr, nullptr, &made), 0);
    ASSERT_TRUE(made && made->exists());
    EXPECT_EQ(made->size(), 3000);
    EXPECT_FALSE(phone.has("E:\\Music\\TessalineCopyFile.tmp"));
}

TEST_F(PhoneFileTest, PathLengthBoundaryIsCheckedBeforeSending)
{
    testenv::writeFile(localPath("x"), "x");
    Ptr music = node("E:\\Music");
    // Measured as "\sdcard-ext\" + "Music\" + name: 12 + 6 + name bytes.
    const QString fits = QString(255 - 18, QLatin1Char('n'));
    const QString tooLong = fits + QLatin1Char('n');
    Ptr atLimit = VtrSymbianFileInfo::fileInfoWithPath("E:\\Music\\" + fits, &phone);
    Ptr overLimit = VtrSymbianFileInfo::fileInfoWithPath("E:\\Music\\" + tooLong, &phone);
    ASSERT_EQ(atLimit->numBytesNeededForPath(), 255);
    EXPECT_EQ(overLimit->copyFromFile(local("x"), false, nullptr, nullptr, nullptr), -211);
    EXPECT_FALSE(sent());
    EXPECT_EQ(atLimit->copyFromFile(local("x"), false, nullptr, nullptr, nullptr), 0);
}

TEST_F(PhoneFileTest, ExistingPhoneFileSurvivesAFailedSend)
{
    testenv::writeFile(localPath("Song.mp3"), "replacement");
    Ptr song = node("E:\\Music\\Song.mp3");

    phone.copyDesktopStatus = -207;
    EXPECT_EQ(song->copyFromFile(local("Song.mp3"), false, nullptr, nullptr, nullptr), -207);
    EXPECT_EQ(phone.item("E:\\Music\\Song.mp3")->data, QByteArray(10000, 's'));
    EXPECT_TRUE(phone.calls.filter("remove").isEmpty());

    phone.copyDesktopStatus = 0;
    phone.unplugAfterBytes = 5;
    phone.chunkSize = 4;
    phone.throwOnUnplug = true;
    EXPECT_EQ(song->copyFromFile(local("Song.mp3"), false, nullptr, nullptr, nullptr), -206);
    EXPECT_EQ(phone.item("E:\\Music\\Song.mp3")->data, QByteArray(10000, 's'));

    phone.unplugAfterBytes = -1;
    VtrFileInfoPtr made;
    EXPECT_EQ(song->copyFromFile(local("Song.mp3"), true, nullptr, nullptr, &made), 0); // onto a file: replaced
    EXPECT_EQ(made, song);
    EXPECT_EQ(phone.item("E:\\Music\\Song.mp3")->data, QByteArray("replacement"));
    EXPECT_EQ(song->size(), 11);
    EXPECT_EQ(song->modificationDate().toSecsSinceEpoch(),
              QFileInfo(localPath("Song.mp3")).lastModified().toSecsSinceEpoch());
}

TEST_F(PhoneFileTest, CopyIntoAPhoneFolderUsesUniqueValidNames)
{
    testenv::writeFile(localPath("a.mp3"), "new a");
    testenv::writeFile(localPath("back\\slash:.mp3"), "odd");
    Ptr music = node("E:\\Music");
    VtrFileInfoPtr made;
    EXPECT_EQ(music->copyFromFile(local("a.mp3"), true, nullptr, nullptr, &made), 0);
    EXPECT_EQ(made->path(), "E:\\Music\\a-1.mp3");
    EXPECT_EQ(phone.item("E:\\Music\\A.MP3")->data, QByteArray("aaa"));

    EXPECT_EQ(music->copyFromFile(local("back\\slash:.mp3"), false, nullptr, nullptr, &made), 0);
    EXPECT_EQ(made->path(), "E:\\Music\\back_slash_.mp3");

    // A failed send to a new name leaves nothing behind.
    phone.unplugAfterBytes = 1;
    phone.chunkSize = 2;
    phone.throwOnUnplug = true;
    EXPECT_EQ(music->copyFromFile(local("a.mp3"), false, nullptr, nullptr, &made), -206);
    EXPECT_EQ(made, nullptr);
    EXPECT_EQ(phone.childPaths("E:\\Music").size(), 5);
}

// ---- phone -> computer ---------------------------------------------------------------------------------

TEST_F(PhoneFileTest, CopyToALocalFolderKeepsNameBytesAndDate)
{
    Ptr song = node("E:\\Music\\Song.mp3");
    VtrFileInfoPtr made;
    ASSERT_EQ(song->copyTo(local(""), false, nullptr, nullptr, &made), 0);
    ASSERT_TRUE(made);
    EXPECT_EQ(made->path(), localPath("Song.mp3"));
    EXPECT_EQ(testenv::readFile(localPath("Song.mp3")), QByteArray(10000, 's'));
    EXPECT_EQ(QFileInfo(localPath("Song.mp3")).lastModified().toUTC(), kSongDate);
    EXPECT_EQ(localEntries(), QStringList{"Song.mp3"});
    ASSERT_EQ(phone.lastCopyTemporaryPaths.size(), 1);
    EXPECT_EQ(phone.lastCopyTemporaryPaths.first(), localPath("TessalineCopyFile.tmp"));

    ASSERT_EQ(song->copyTo(local(""), true, nullptr, nullptr, &made), 0);
    EXPECT_EQ(made->name(), "Song-1.mp3");
    EXPECT_EQ(song->copyTo(local("Song.mp3"), true, nullptr, nullptr, &made), 0); // onto a file: replaced
    EXPECT_EQ(made->name(), "Song.mp3");
    EXPECT_EQ(localEntries(), (QStringList{"Song-1.mp3", "Song.mp3"}));

    EXPECT_EQ(node("E:\\Music")->copyTo(local(""), false, nullptr, nullptr, nullptr), -201);
    EXPECT_EQ(VtrSymbianFileInfo::fileInfoWithPath("E:\\gone", &phone)->copyTo(local("")), -200);
}

TEST_F(PhoneFileTest, LocalDestinationStaysIntactUntilTheCopyIsComplete)
{
    testenv::writeFile(localPath("Song.mp3"), "old contents");
    Ptr song = node("E:\\Music\\Song.mp3");

    int blocks = 0;
    phone.onDeviceCopyBlock = [&](const VtrFileInfoPtr &) {
        ++blocks;
        EXPECT_EQ(testenv::readFile(localPath("Song.mp3")), QByteArray("old contents"));
    };
    phone.unplugAfterBytes = 6000;
    VtrFileInfoPtr made;
    EXPECT_EQ(song->copyTo(local("Song.mp3"), false, nullptr, nullptr, &made), -206);
    EXPECT_EQ(made, nullptr);
    EXPECT_GT(blocks, 0);
    EXPECT_EQ(testenv::readFile(localPath("Song.mp3")), QByteArray("old contents"));
    EXPECT_EQ(localEntries(), QStringList{"Song.mp3"});

    phone.throwOnUnplug = true; // the phone goes away mid-copy
    EXPECT_EQ(song->copyTo(local(""), false, nullptr, nullptr, &made), -206);
    EXPECT_EQ(testenv::readFile(localPath("Song.mp3")), QByteArray("old contents"));
    EXPECT_EQ(localEntries(), QStringList{"Song.mp3"});

    phone.unplugAfterBytes = -1;
    EXPECT_EQ(song->copyTo(local(""), false, nullptr, nullptr, &made), 0);
    EXPECT_EQ(testenv::readFile(localPath("Song.mp3")), QByteArray(10000, 's'));
    EXPECT_EQ(localEntries(), QStringList{"Song.mp3"});
}

TEST_F(PhoneFileTest, HostileNamesFromTheListingStayInsideTheDestination)
{
    Ptr evil = VtrSymbianFileInfo::fileInfoWithParentPath(
        "E:\\Music\\", QVariantMap{{"filename", "..\\..\\evil"}, {"type", "file"}, {"size", "1"}}, &phone);
    EXPECT_EQ(evil->parentFolder()->path(), "E:\\Music\\");
    Ptr dots = VtrSymbianFileInfo::fileInfoWithParentPath("E:\\Music\\",
                                                          QVariantMap{{"filename", ".."}, {"type", "file"}}, &phone);
    EXPECT_EQ(dots->parentFolder()->path(), "E:\\Music\\");
    EXPECT_NE(dots->name(), "..");

    // A name a phone may hold but a local folder may not.
    phone.addFile("E:\\Music\\..", "payload");
    Ptr dotdot =
        VtrSymbianFileInfo::fileInfoWithPath("E:\\Music\\..", QVariantMap{{"type", "file"}, {"size", "7"}}, &phone);
    VtrFileInfoPtr made;
    QDir(localDir).mkdir("inside");
    ASSERT_EQ(dotdot->copyTo(local("inside"), false, nullptr, nullptr, &made), 0);
    EXPECT_EQ(made->path(), localPath("inside/__"));
    EXPECT_EQ(testenv::readFile(localPath("inside/__")), QByteArray("payload"));
    EXPECT_EQ(localEntries(), QStringList{"inside"});
}

// ---- whole contents ------------------------------------------------------------------------------------

TEST_F(PhoneFileTest, ContentsOverMTPLeaveNothingInTheTemporaryFolder)
{
    phone.addFile("C:\\solvennawp\\nroid_con.json", "{\"contacts\": []}");
    Ptr contacts = node("C:\\solvennawp\\nroid_con.json");
    const QDir temp(platform::temporaryFolder());
    const QStringList before = temp.entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);

    EXPECT_EQ(contacts->fileContents(), QByteArray("{\"contacts\": []}"));
    EXPECT_EQ(temp.entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), before);
    ASSERT_FALSE(phone.lastCopyTemporaryPaths.isEmpty());
    EXPECT_TRUE(phone.lastCopyTemporaryPaths.last().startsWith(temp.absolutePath() + QLatin1Char('/')));

    phone.unplugAfterBytes = 3;
    phone.throwOnUnplug = true;
    EXPECT_TRUE(contacts->fileContents().isNull());
    EXPECT_EQ(temp.entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), before);

    phone.unplugAfterBytes = -1;
    phone.addFile("C:\\empty", QByteArray());
    const QByteArray empty = node("C:\\empty")->fileContents();
    EXPECT_FALSE(empty.isNull());
    EXPECT_TRUE(empty.isEmpty());
    EXPECT_TRUE(node("C:\\solvennawp")->fileContents().isNull());
}

} // namespace
