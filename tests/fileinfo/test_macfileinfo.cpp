#include "fileinfo/VtrMacFileInfo.h"

#include "RecordingProgress.h"
#include "TestEnvironment.h"
#include "fileinfo/FileInfoCopy.h"
#include "platform/Folders.h"
#include "platform/VtrException.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <cstring>
#include <sys/mount.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

using Ptr = VtrMacFileInfo::Ptr;

class MacFileInfoTest : public ::testing::Test
{
protected:
    void SetUp() override { dir = testenv::makeTempDir("mac"); }
    QString p(const QString &relative) const { return dir + QLatin1Char('/') + relative; }
    Ptr at(const QString &relative) const { return VtrMacFileInfo::fileInfoWithPath(p(relative)); }
    void write(const QString &relative, const QByteArray &bytes) const { testenv::writeFile(p(relative), bytes); }
    QByteArray read(const QString &relative) const { return testenv::readFile(p(relative)); }
    bool there(const QString &relative) const
    {
        struct stat st;
        return ::lstat(QFile::encodeName(p(relative)).constData(), &st) == 0;
    }
    void link(const QString &target, const QString &relative) const
    {
        ASSERT_EQ(::symlink(QFile::encodeName(target).constData(), QFile::encodeName(p(relative)).constData()), 0);
    }
    static QStringList names(const VtrFileInfoList &items)
    {
        QStringList result;
        for (const VtrFileInfoPtr &item : items)
            result.append(item->name());
        return result;
    }

    QString dir;
};

// ---- paths, kinds and links ----------------------------------------------------------------

TEST_F(MacFileInfoTest, EmptyObjectsNeverExist)
{
    for (const Ptr &item : {std::make_shared<VtrMacFileInfo>(), VtrMacFileInfo::fileInfoWithPath(QString()),
                            VtrMacFileInfo::fileInfoWithPath("")}) {
        EXPECT_FALSE(item->exists());
        EXPECT_EQ(item->path(), "");
        EXPECT_EQ(item->parentFolder(), nullptr);
        EXPECT_TRUE(item->fileContents().isNull());
        EXPECT_FALSE(item->find("tmp")->exists());
    }
}

TEST_F(MacFileInfoTest, PathsAreExpandedAndCleaned)
{
    EXPECT_EQ(VtrMacFileInfo::fileInfoWithPath("~/Music")->path(),
              QDir::cleanPath(platform::homeFolder()) + QStringLiteral("/Music"));
    EXPECT_EQ(VtrMacFileInfo::fileInfoWithPath("/a//b/./c/../d/")->path(), "/a/b/d");
    EXPECT_EQ(VtrMacFileInfo::fileInfoWithPath("/")->parentFolder(), nullptr);
    EXPECT_EQ(VtrMacFileInfo::fileInfoWithPath(platform::homeFolder() + QStringLiteral("/x y"))->humanFriendlyPath(),
              "~/x y");
    EXPECT_EQ(VtrMacFileInfo::fileInfoWithPath("/a/b.tar.gz")->extension(), "gz");
    EXPECT_EQ(VtrMacFileInfo::fileInfoWithPath("/a/.profile")->extension(), "");
    EXPECT_EQ(VtrMacFileInfo::fileInfoWithURL(QUrl::fromLocalFile(p("u")))->path(), p("u"));
    EXPECT_EQ(VtrMacFileInfo::fileInfoWithURL(QUrl("http://example.invalid/x"))->path(), QString());
}

TEST_F(MacFileInfoTest, KindsOfFilesFoldersAndSpecialFiles)
{
    write("f.txt", "abc");
    QDir().mkpath(p("d"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(p("pipe")).constData(), 0600), 0);

    EXPECT_TRUE(at("f.txt")->isFile());
    EXPECT_TRUE(at("d")->isFolder());
    // A pipe exists but is neither: copying or reading it would block.
    Ptr pipe = at("pipe");
    EXPECT_TRUE(pipe->exists());
    EXPECT_FALSE(pipe->isFile());
    EXPECT_FALSE(pipe->isFolder());
    EXPECT_EQ(pipe->openFileForReading(), nullptr);
    EXPECT_EQ(pipe->copyTo(at("d")), kFileInfoCopySourceNotFile);

    // Cached until refresh.
    Ptr file = at("f.txt");
    EXPECT_EQ(file->size(), 3);
    write("f.txt", "abcdef");
    EXPECT_EQ(file->size(), 3);
    file->refresh();
    EXPECT_EQ(file->size(), 6);
}

TEST_F(MacFileInfoTest, LinksPlayThePartOfAliases)
{
    QDir().mkpath(p("real/inner"));
    write("real/inner/x.txt", "x");
    link(p("real"), "alias");
    link(p("gone"), "dangling");

    Ptr alias = at("alias");
    EXPECT_TRUE(alias->isAlias());
    EXPECT_TRUE(alias->isFolder());
    // An unresolved link to a folder has no children in a listing.
    EXPECT_TRUE(alias->folderContents().isEmpty());
    ASSERT_NE(alias->aliasTarget(), nullptr);
    EXPECT_EQ(alias->aliasTarget()->path(), QFileInfo(p("real")).canonicalFilePath());
    EXPECT_TRUE(alias->resolveAlias());
    EXPECT_EQ(alias->path(), QFileInfo(p("real")).canonicalFilePath());
    EXPECT_FALSE(alias->isAlias());
    EXPECT_EQ(names(alias->folderContents()), QStringList{"inner"});

    Ptr dangling = at("dangling");
    EXPECT_TRUE(dangling->isAlias());
    EXPECT_EQ(dangling->aliasTarget(), nullptr);
    EXPECT_EQ(dangling->resolvedFileInfo().get(), dangling.get());
    EXPECT_TRUE(dangling->resolveAlias());
    EXPECT_EQ(dangling->path(), "");
    EXPECT_FALSE(dangling->exists());

    // Resolved level by level; a missing level gives nothing.
    Ptr deep = VtrMacFileInfo::fileInfoResolveAliasesWithPath(p("alias/inner/x.txt"));
    ASSERT_NE(deep, nullptr);
    EXPECT_EQ(deep->path(), QFileInfo(p("real/inner/x.txt")).canonicalFilePath());
    EXPECT_EQ(VtrMacFileInfo::fileInfoResolveAliasesWithPath(p("alias/nothing/x")), nullptr);
    EXPECT_EQ(at("alias/inner/x.txt")->resolvedPath(), QFileInfo(p("real/inner/x.txt")).canonicalFilePath());
    EXPECT_TRUE(at("alias/missing")->resolvedPath().isNull());
}

TEST_F(MacFileInfoTest, IdentityIsDeviceAndInode)
{
    write("a.txt", "same");
    ASSERT_EQ(::link(QFile::encodeName(p("a.txt")).constData(), QFile::encodeName(p("hard.txt")).constData()), 0);
    link(p("a.txt"), "soft.txt");
    write("A.TXT", "other");

    EXPECT_TRUE(at("a.txt")->isEqualTo(at("hard.txt")));
    EXPECT_TRUE(at("soft.txt")->isEqualTo(at("a.txt")));
    // Two names that differ only in case are two files here.
    EXPECT_FALSE(at("a.txt")->isEqualTo(at("A.TXT")));
    EXPECT_FALSE(at("a.txt")->isEqualTo(at("missing.txt")));
    EXPECT_TRUE(at("x/missing")->isEqualTo(at("X/MISSING")));

    // One inode number on two file systems: the roots of kernel file systems.
    QStringList roots;
    struct stat first = {};
    for (const char *root : {"/proc", "/sys", "/dev", "/dev/shm", "/dev/pts"}) {
        struct stat st;
        if (::stat(root, &st) != 0) continue;
        if (roots.isEmpty() || (st.st_ino == first.st_ino && st.st_dev != first.st_dev)) {
            if (roots.isEmpty()) first = st;
            roots.append(QString::fromLatin1(root));
        }
    }
    if (roots.size() < 2) GTEST_SKIP() << "no two file systems here share an inode number";
    EXPECT_FALSE(VtrMacFileInfo::fileInfoWithPath(roots.at(0))->isEqualTo(VtrMacFileInfo::fileInfoWithPath(roots.at(1))))
        << roots.join(", ").toStdString();
}

TEST_F(MacFileInfoTest, AttributesDatesAndSizes)
{
    write(".hidden", "h");
    write("plain", "p");
    EXPECT_FALSE(at(".hidden")->visible());
    EXPECT_TRUE(at("plain")->visible());
    EXPECT_FALSE(at("plain")->creationDate().isValid());
    EXPECT_EQ(at("plain")->attribute("NSFileSize").toLongLong(), 1);
    EXPECT_EQ(at("plain")->attribute("NSFileType").toString(), "NSFileTypeRegular");
    EXPECT_FALSE(at("missing")->attribute("NSFileSize").isValid());

    const QDateTime when = QDateTime(QDate(2011, 3, 4), QTime(5, 6, 7, 890), Qt::UTC);
    at("plain")->setModificationDate(when);
    EXPECT_EQ(at("plain")->modificationDate(), when);
    EXPECT_EQ(at("plain")->modificationDate().timeSpec(), Qt::UTC);
    at("missing")->setModificationDate(when); // nothing, no crash
    EXPECT_FALSE(there("missing"));

    // Sizes beyond 4 GiB and whole trees.
    const qint64 big = (qint64(5) << 30) + 7;
    write("big.bin", QByteArray());
    ASSERT_EQ(::truncate(QFile::encodeName(p("big.bin")).constData(), big), 0);
    EXPECT_EQ(at("big.bin")->size(), big);
    write("tree/three", "abc");
    write("tree/sub/five", "abcde");
    EXPECT_EQ(at("tree")->size(), 8);
    QDir().mkpath(p("empty"));
    EXPECT_EQ(at("empty")->size(), 0);
}

TEST_F(MacFileInfoTest, ValidNames)
{
    VtrMacFileInfo item;
    EXPECT_EQ(item.makeValidFilename("a/b\u00e9", true), "a_bU00E9");
    EXPECT_EQ(item.makeValidFilename("a/b\u00e9", false), "a_b\u00e9");
    EXPECT_EQ(item.makeValidFilename("tab\tx", true), "tab_x");
    EXPECT_EQ(VtrMacFileInfo::makeNameOSCompliant(".."), "__");
    EXPECT_EQ(VtrMacFileInfo::makeNameOSCompliant("."), "_");
    EXPECT_EQ(VtrMacFileInfo::makeNameOSCompliant(QStringLiteral("a") + QChar(0) + QStringLiteral("b")), "a_b");
}

// ---- finding and listing ------------------------------------------------------------------------

TEST_F(MacFileInfoTest, FindFallsBackToAnotherLetterCase)
{
    write("Music/Album One/Track.MP3", "t");
    Ptr root = at(QString());
    EXPECT_EQ(root->find("Music")->path(), p("Music"));
    EXPECT_EQ(root->find("music")->path(), p("Music"));
    EXPECT_EQ(root->find("MUSIC/album one/track.mp3")->path(), p("Music/Album One/Track.MP3"));
    // A missing level keeps the spelling asked for (matched levels keep theirs).
    EXPECT_EQ(root->find("music/New/x")->path(), p("Music/New/x"));
    EXPECT_FALSE(root->find("music/New/x")->exists());
    // From a file: its sibling.
    EXPECT_EQ(at("Music/Album One/Track.MP3")->find("cover.jpg")->path(), p("Music/Album One/cover.jpg"));

    // The look-up index follows this process's own changes...
    root->createFile("Photo.JPG", "j", {});
    EXPECT_EQ(root->find("photo.jpg")->path(), p("Photo.JPG"));
    at("Photo.JPG")->setName("Renamed.JPG");
    EXPECT_EQ(root->find("photo.jpg")->path(), p("photo.jpg"));
    EXPECT_EQ(root->find("renamed.jpg")->path(), p("Renamed.JPG"));
    at("Renamed.JPG")->remove();
    EXPECT_EQ(root->find("renamed.jpg")->path(), p("renamed.jpg"));
    // ...and notices other programs' changes.
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    write("Outside.TXT", "o");
    EXPECT_EQ(root->find("outside.txt")->path(), p("Outside.TXT"));
    ASSERT_TRUE(QFile::rename(p("Outside.TXT"), p("Moved.TXT")));
    EXPECT_EQ(root->find("outside.txt")->path(), p("outside.txt"));

    // An item not found is looked at again after the first question about it.
    VtrFileInfoPtr later = root->find("later.txt");
    ASSERT_FALSE(later->exists());
    write("later.txt", "l");
    EXPECT_TRUE(later->exists());
    EXPECT_TRUE(later->isFile());
}

TEST_F(MacFileInfoTest, UniqueNamesCountOtherLetterCasesAsTaken)
{
    write("Photo.JPG", "1");
    write("PHOTO-1.jpg", "2");
    write("sub/x", "3");
    Ptr root = at(QString());
    EXPECT_EQ(root->uniqueFilename("photo.jpg"), "photo-2.jpg");
    EXPECT_EQ(at("Photo.JPG")->uniqueFilename("SUB"), "SUB-1");  // beside a file: its folder
    EXPECT_EQ(root->uniqueFilename("new.jpg"), "new.jpg");
}

TEST_F(MacFileInfoTest, ListingIsSortedAndSkipsTheTemporaryCopyFileAndLoops)
{
    for (const char *n : {"b", "B", "a", "C", ".dot", "\u00e9t\u00e9"})
        write(QString::fromUtf8(n), "x");
    QDir().mkpath(p("sub"));
    write("tessalinecopyfile.TMP", "leftover");
    link(dir, "loop");
    link(p("sub"), "zlink-to-sub");
    link("/", "zroot");

    Ptr root = at(QString());
    const QStringList listed = names(root->folderContents());
    EXPECT_EQ(listed, (QStringList{".dot", "a", "B", "b", "C", "sub", "zroot", QString::fromUtf8("\u00e9t\u00e9")}));
    // A file named like the temporary copy file is not offered, nor removed:
    // the folder may be a card's. The links into the tree are left out.
    EXPECT_TRUE(there("tessalinecopyfile.TMP"));
    EXPECT_TRUE(there("loop"));

    // A folder (or link) named like the temporary file is the person's: listed, kept.
    write("keep/TessalineCopyFile.TMP/photo.jpg", "p");
    link(p("a"), "keep/TessalineCopyFile.tmp");
    EXPECT_EQ(names(at("keep")->folderContents()),
              (QStringList{"TessalineCopyFile.TMP", "TessalineCopyFile.tmp"}));
    EXPECT_EQ(read("keep/TessalineCopyFile.TMP/photo.jpg"), QByteArray("p"));
    EXPECT_TRUE(there("keep/TessalineCopyFile.tmp"));

    EXPECT_TRUE(at("missing")->folderContents().isEmpty());
    EXPECT_TRUE(at("a")->folderContents().isEmpty());

    write("sub/deep/Target.txt", "t");
    const VtrFileInfoList found = root->findDeep("target.TXT");
    ASSERT_EQ(found.size(), 1);
    EXPECT_EQ(found.first()->path(), p("sub/deep/Target.txt"));
    EXPECT_EQ(root->findFirstDeep("TARGET.txt")->path(), p("sub/deep/Target.txt"));
    EXPECT_EQ(root->findFirstDeep("none"), nullptr);
}

// ---- creating, renaming, moving and removing ----------------------------------------------------------

TEST_F(MacFileInfoTest, CreateFolderWalksAndStopsAtFilesInTheWay)
{
    Ptr root = at(QString());
    VtrFileInfoPtr c = root->createFolder("a/b/c/");
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->path(), p("a/b/c"));
    EXPECT_TRUE(c->isFolder());
    // Existing levels are reused, case ignored.
    EXPECT_EQ(root->createFolder("A/B/d")->path(), p("a/b/d"));

    write("file", "f");
    EXPECT_EQ(root->createFolder("file/x/y"), nullptr);
    EXPECT_FALSE(there("file/x"));
    EXPECT_EQ(root->createFolder("file"), nullptr);
    // A file receiver creates beside itself.
    EXPECT_EQ(at("file")->createFolder("beside")->path(), p("beside"));
    // Never up and out.
    EXPECT_EQ(root->createFolder("x/../../escape"), nullptr);
    EXPECT_FALSE(QFileInfo::exists(dir + QStringLiteral("/../escape")));
    // An absolute path starts at the disk's root.
    EXPECT_EQ(at("a")->createFolder(p("abs/olute"))->path(), p("abs/olute"));
    EXPECT_EQ(VtrMacFileInfo::fileInfoCreateFolderWithFullPath(p("full/path"))->path(), p("full/path"));
    EXPECT_EQ(VtrMacFileInfo::fileInfoCreateFolderWithFullPath(p("file/under")), nullptr);

    Ptr unique = std::dynamic_pointer_cast<VtrMacFileInfo>(root->createUniqueFolder("a"));
    ASSERT_NE(unique, nullptr);
    EXPECT_EQ(unique->name(), "a-1");
}

TEST_F(MacFileInfoTest, CreateFileNamesAndOverwrites)
{
    Ptr root = at(QString());
    write("x.txt", "0");
    write("x-1.txt", "1");
    EXPECT_EQ(root->createFile("x.txt", "2", {}, true)->name(), "x-2.txt");
    EXPECT_EQ(read("x-2.txt"), QByteArray("2"));
    write("notes", "n");
    EXPECT_EQ(root->createFile("notes", "m", {}, true)->name(), "notes-1");
    // Another letter case of a taken name is taken too.
    EXPECT_EQ(root->createFile("NOTES", "m", {}, true)->name(), "NOTES-2");

    // Without a unique name: a file is overwritten, a folder refuses.
    VtrFileInfoPtr over = root->createFile("x.txt", "new", {});
    ASSERT_NE(over, nullptr);
    EXPECT_EQ(read("x.txt"), QByteArray("new"));
    QDir().mkpath(p("folder"));
    EXPECT_EQ(root->createFile("folder", "f", {}), nullptr);

    // Names from a phone stay in the folder.
    for (const QString &bad : {QString("a/b"), QString(".."), QString("."), QString(), QString("nul") + QChar(0)})
        EXPECT_EQ(root->createFile(bad, "x", {}), nullptr) << bad.toStdString();

    // A missing folder: the answer does not exist.
    VtrFileInfoPtr orphan = at("nowhere")->createFile("n.txt", "n", {});
    ASSERT_NE(orphan, nullptr);
    EXPECT_FALSE(orphan->exists());

    const QDateTime when = QDateTime(QDate(2009, 1, 2), QTime(3, 4, 5), Qt::UTC);
    VtrFileInfoPtr withAttributes =
        root->createFile("attr.txt", "a", {{"NSFilePosixPermissions", 0640}, {"NSFileModificationDate", when}});
    EXPECT_EQ(QFileInfo(withAttributes->path()).permissions() & 0x7777,
              QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser | QFile::ReadGroup);
    EXPECT_EQ(withAttributes->modificationDate(), when);

    Ptr created = VtrMacFileInfo::fileInfoCreateFileWithFullPath(p("new/levels/file.dat"));
    ASSERT_NE(created, nullptr);
    EXPECT_TRUE(created->isFile());
    EXPECT_EQ(created->size(), 0);
}

TEST_F(MacFileInfoTest, SetNameNeverReplacesAnotherItem)
{
    write("a.txt", "a");
    write("b.txt", "b");
    Ptr a = at("a.txt");
    a->setName("b.txt");
    EXPECT_EQ(a->path(), p("a.txt"));
    EXPECT_EQ(read("b.txt"), QByteArray("b"));
    a->setName("../out.txt");
    EXPECT_EQ(a->path(), p("a.txt"));
    a->setName("c.txt");
    EXPECT_EQ(a->path(), p("c.txt"));
    EXPECT_EQ(read("c.txt"), QByteArray("a"));
    a->setNameKeepingExtension("d");
    EXPECT_EQ(a->name(), "d.txt");
    a->setName("D.TXT");
    EXPECT_EQ(a->name(), "D.TXT");
    at("missing")->setName("x");
    EXPECT_FALSE(there("x"));
}

TEST_F(MacFileInfoTest, MoveReplacesFilesAndFailsCleanly)
{
    write("src.txt", "newer");
    write("dst.txt", "old");
    Ptr source = at("src.txt");
    Ptr destination = at("dst.txt");
    ASSERT_EQ(destination->size(), 3);
    EXPECT_EQ(source->moveTo(destination), kFileInfoCopyOK);
    EXPECT_EQ(source->path(), p("dst.txt"));
    EXPECT_EQ(read("dst.txt"), QByteArray("newer"));
    EXPECT_FALSE(there("src.txt"));
    // The destination object answers for what is there now.
    EXPECT_EQ(destination->size(), 5);
    EXPECT_EQ(source->size(), 5);

    // Onto a free name only: an item there stays.
    write("other.txt", "other");
    EXPECT_EQ(at("other.txt")->moveToFreeName(source), kFileInfoCopyDestinationTaken);
    EXPECT_EQ(read("dst.txt"), QByteArray("newer"));
    EXPECT_EQ(at("other.txt")->moveToFreeName(at("free.txt")), kFileInfoCopyOK);
    EXPECT_EQ(read("free.txt"), QByteArray("other"));

    // A missing parent, a file in the way of a folder, a full folder: nothing moves.
    EXPECT_EQ(source->moveTo(at("no/such/place.txt")), kFileInfoCopyKindCannot);
    write("plain", "p");
    EXPECT_EQ(source->moveTo(at("plain/inside.txt")), kFileInfoCopyKindCannot);
    write("full/keep.txt", "k");
    QDir().mkpath(p("folder"));
    EXPECT_EQ(at("folder")->moveTo(at("full")), kFileInfoCopyKindCannot);
    EXPECT_EQ(source->path(), p("dst.txt"));
    EXPECT_EQ(read("full/keep.txt"), QByteArray("k"));
    EXPECT_EQ(source->moveTo(nullptr), kFileInfoCopyKindCannot);
}

// Between two file systems a move is a complete copy, and then the original
// goes. The second file system is a tmpfs mounted inside the test folder.
TEST_F(MacFileInfoTest, MovesAcrossFileSystems)
{
    if (::geteuid() != 0) GTEST_SKIP() << "mounting a second file system (tmpfs) needs root";
    QDir().mkpath(p("other"));
    const QByteArray mountPoint = QFile::encodeName(p("other"));
    if (::mount("tmpfs", mountPoint.constData(), "tmpfs", 0, "size=8m") != 0)
        GTEST_SKIP() << "no tmpfs could be mounted: " << std::strerror(errno);
    struct Unmount
    {
        QByteArray path;
        ~Unmount() { ::umount2(path.constData(), MNT_DETACH); }
    } unmount{mountPoint};

    write("file.txt", "moving");
    write("other/file.txt", "old");
    Ptr file = at("file.txt");
    EXPECT_EQ(file->moveTo(at("other/file.txt")), kFileInfoCopyOK);
    EXPECT_EQ(file->path(), p("other/file.txt"));
    EXPECT_EQ(read("other/file.txt"), QByteArray("moving"));
    EXPECT_FALSE(there("file.txt"));

    write("tree/a/b.txt", "b");
    link("b.txt", "tree/a/l");
    EXPECT_EQ(at("tree")->moveTo(at("other/tree")), kFileInfoCopyOK);
    EXPECT_EQ(read("other/tree/a/b.txt"), QByteArray("b"));
    EXPECT_TRUE(QFileInfo(p("other/tree/a/l")).isSymLink());
    EXPECT_FALSE(there("tree"));

    // Onto a free name only: the item there stays, and so does the source.
    write("again.txt", "again");
    EXPECT_EQ(at("again.txt")->moveToFreeName(at("other/file.txt")), kFileInfoCopyDestinationTaken);
    EXPECT_EQ(read("again.txt"), QByteArray("again"));
    EXPECT_EQ(read("other/file.txt"), QByteArray("moving"));
    EXPECT_EQ(QDir(p("other")).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              (QStringList{"file.txt", "tree"}));
}

// A moved file still answers without a fresh look; a moved relative link is
// looked at again, since it may lead elsewhere from its new folder.
TEST_F(MacFileInfoTest, MovedItemsAnswerForTheirNewPlace)
{
    write("a/data.txt", "12345");
    QDir().mkpath(p("b"));
    Ptr file = at("a/data.txt");
    ASSERT_TRUE(file->isFile());
    ASSERT_EQ(file->moveTo(at("b/data.txt")), kFileInfoCopyOK);
    EXPECT_TRUE(file->isFile());
    EXPECT_EQ(file->size(), 5);
    EXPECT_EQ(file->name(), QStringLiteral("data.txt"));
    EXPECT_TRUE(file->isEqualTo(at("b/data.txt")));

    ASSERT_EQ(::symlink("data.txt", QFile::encodeName(p("b/link")).constData()), 0);
    Ptr link = at("b/link");
    ASSERT_TRUE(link->isAlias());
    ASSERT_EQ(link->size(), 5);
    ASSERT_EQ(link->moveTo(at("a/link")), kFileInfoCopyOK);
    EXPECT_TRUE(link->isAlias());
    EXPECT_EQ(link->aliasTarget(), nullptr);
    EXPECT_EQ(link->size(), 0);
}

TEST_F(MacFileInfoTest, RemoveTakesTreesAndNeverFollowsLinks)
{
    write("keep/precious.txt", "p");
    write("tree/a/b/c.txt", "c");
    link(p("keep"), "tree/a/link");
    Ptr tree = at("tree");
    ASSERT_TRUE(tree->isFolder());
    EXPECT_TRUE(tree->remove());
    EXPECT_FALSE(there("tree"));
    // The object says so too, without a refresh.
    EXPECT_FALSE(tree->exists());
    EXPECT_FALSE(tree->isFolder());
    EXPECT_EQ(read("keep/precious.txt"), QByteArray("p"));
    EXPECT_FALSE(at("tree")->remove());

    write("box/one", "1");
    write("box/sub/two", "2");
    EXPECT_TRUE(at("box")->removeContents());
    EXPECT_TRUE(QDir(p("box")).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot));
    EXPECT_TRUE(at("box")->removeContents());
    EXPECT_FALSE(at("keep/precious.txt")->removeContents());
}

// ---- contents ------------------------------------------------------------------------------------------

TEST_F(MacFileInfoTest, WholeContentsWithProgress)
{
    const qint64 mib = 1 << 20;
    write("f.bin", "old");
    Ptr file = at("f.bin");
    ASSERT_TRUE(::chmod(QFile::encodeName(file->path()).constData(), 0604) == 0);

    RecordingProgress progress;
    const QByteArray three(3 * mib, 'z');
    EXPECT_TRUE(file->setFileContentsWithProgress(three, &progress, nullptr));
    EXPECT_EQ(progress.calls, (QList<QPair<qint64, qint64>>{{mib, 3 * mib}, {2 * mib, 3 * mib}, {3 * mib, 3 * mib}}));
    EXPECT_EQ(file->size(), 3 * mib);
    // The replacement kept the file's mode.
    EXPECT_EQ(QFileInfo(file->path()).permissions() & 0x7777,
              QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser | QFile::ReadOther);

    progress.calls.clear();
    EXPECT_TRUE(file->setFileContentsWithProgress(QByteArray(mib, 'o'), &progress, nullptr));
    EXPECT_TRUE(progress.calls.isEmpty());

    // Stopped: the old contents stay, nothing half-written is left behind.
    progress.calls.clear();
    progress.cancelAtCall = 1;
    EXPECT_FALSE(file->setFileContentsWithProgress(three, &progress, nullptr));
    EXPECT_EQ(read("f.bin"), QByteArray(mib, 'o'));
    EXPECT_EQ(QDir(dir).entryList(QDir::Files | QDir::Hidden).size(), 1);

    // Reading stopped after the first chunk keeps the full length, zeros after.
    file->setFileContents(three);
    progress.calls.clear();
    const QByteArray partial = file->fileContentsWithProgress(&progress, nullptr);
    ASSERT_EQ(partial.size(), 3 * mib);
    EXPECT_EQ(partial.at(mib - 1), 'z');
    EXPECT_EQ(partial.at(mib), '\0');
    EXPECT_EQ(file->fileContents(), three);

    EXPECT_FALSE(at("missing")->setFileContents("x"));
    EXPECT_FALSE(at(QString())->setFileContents("x"));
    write("empty", QByteArray());
    EXPECT_FALSE(at("empty")->fileContents().isNull());
    EXPECT_TRUE(at("empty")->fileContents().isEmpty());

    // Through a link the target changes and the link stays a link.
    write("target.txt", "t");
    link(p("target.txt"), "via.txt");
    EXPECT_TRUE(at("via.txt")->setFileContents("through"));
    EXPECT_EQ(read("target.txt"), QByteArray("through"));
    EXPECT_TRUE(QFileInfo(p("via.txt")).isSymLink());
}

TEST_F(MacFileInfoTest, RangedReadsAndWritesAre64Bit)
{
    EXPECT_EQ(at("missing")->openFileForWriting(), nullptr);
    EXPECT_EQ(at("missing")->openFileForReading(), nullptr);
    write("r.bin", "0123456789");
    Ptr file = at("r.bin");

    VtrFileInfoHandlePtr reader = file->openFileForReading();
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(file->fileContentsWithRange({2, 3}, reader.get()), QByteArray("234"));
    EXPECT_EQ(file->fileContentsWithRange({8, 5}, reader.get()), QByteArray("89"));
    EXPECT_TRUE(file->fileContentsWithRange({20, 5}, reader.get()).isEmpty());
    EXPECT_TRUE(file->fileContentsWithRange({-1, 5}, reader.get()).isNull());
    EXPECT_EQ(file->setFileContentsWithRange("x", {0, 1}, reader.get()), kFileInfoCopyKindCannot);
    file->closeFile(std::move(reader));

    VtrFileInfoHandlePtr writer = file->openFileForWriting();
    ASSERT_NE(writer, nullptr);
    EXPECT_EQ(file->setFileContentsWithRange("ab", {0, 2}, writer.get()), kFileInfoCopyOK);
    // Beyond the end: the gap is zero-filled.
    EXPECT_EQ(file->setFileContentsWithRange("cd", {4, 2}, writer.get()), kFileInfoCopyOK);
    const qint64 far = (qint64(4) << 30) + 3;
    EXPECT_EQ(file->setFileContentsWithRange("far", {far, 3}, writer.get()), kFileInfoCopyOK);
    EXPECT_EQ(file->setFileContentsWithRange(QByteArray(8, '\0'), {far + 3, 8}, writer.get()), kFileInfoCopyOK);
    EXPECT_EQ(file->setFileContentsWithRange("x", {-1, 1}, writer.get()), kFileInfoCopyBadArguments);
    EXPECT_EQ(file->setFileContentsWithRange("x", {0, 1}, nullptr), kFileInfoCopyKindCannot);
    file->closeFile(std::move(writer));

    EXPECT_EQ(file->size(), far + 11);
    reader = file->openFileForReading();
    EXPECT_EQ(file->fileContentsWithRange({0, 6}, reader.get()), QByteArray("ab\0\0cd", 6));
    EXPECT_EQ(file->fileContentsWithRange({far, 11}, reader.get()), QByteArray("far") + QByteArray(8, '\0'));
    VtrMacFileInfo other;
    EXPECT_TRUE(other.fileContentsWithRange({0, 1}, nullptr).isNull());
}

// ---- copying between local items --------------------------------------------------------------------

TEST_F(MacFileInfoTest, CopyToWithNameCopiesFilesAndFolders)
{
    write("album/one.jpg", "1");
    write("album/sub/two.jpg", "22");
    link("one.jpg", "album/link.jpg");
    QDir().mkpath(p("dest"));
    const QDateTime when = QDateTime(QDate(2010, 10, 10), QTime(10, 10, 10), Qt::UTC);
    at("album/one.jpg")->setModificationDate(when);

    VtrFileInfoPtr out;
    EXPECT_EQ(at("album")->copyToWithName(at("dest"), "copy", &out), kFileInfoCopyOK);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(out->path(), p("dest/copy"));
    EXPECT_EQ(read("dest/copy/sub/two.jpg"), QByteArray("22"));
    EXPECT_TRUE(QFileInfo(p("dest/copy/link.jpg")).isSymLink());
    EXPECT_EQ(at("dest/copy/one.jpg")->modificationDate(), when);

    // An item of that name already there: -1, out cleared, nothing changed.
    out = at("x");
    EXPECT_EQ(at("album/one.jpg")->copyToWithName(at("dest"), "copy", &out), kFileInfoCopyKindCannot);
    EXPECT_EQ(out, nullptr);
    // A file destination stands for its folder.
    EXPECT_EQ(at("album/one.jpg")->copyToWithName(at("album/sub/two.jpg"), "three.jpg", &out), kFileInfoCopyOK);
    EXPECT_EQ(read("album/sub/three.jpg"), QByteArray("1"));
    // Never into itself, never out of the folder, never from nothing.
    EXPECT_EQ(at("album")->copyToWithName(at("album/sub"), "again", &out), kFileInfoCopyKindCannot);
    EXPECT_FALSE(there("album/sub/again"));
    EXPECT_EQ(at("album/one.jpg")->copyToWithName(at("dest"), "../up", &out), kFileInfoCopyBadArguments);
    EXPECT_EQ(at("missing")->copyToWithName(at("dest"), "m", &out), kFileInfoCopyBadArguments);
    EXPECT_EQ(at("album/one.jpg")->copyToWithName(at("nowhere"), "m", &out), kFileInfoCopyBadArguments);
    // Only this process's own hidden temporary names are ever left out: none remain.
    EXPECT_EQ(QDir(p("dest")).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList{"copy"});
}

// The name of the exception a call raises; empty for none.
QString raised(const std::function<void()> &call, QString *reason = nullptr)
{
    try {
        call();
    } catch (const VtrException &e) {
        if (reason) *reason = e.reason();
        return e.name();
    }
    return QString();
}

TEST_F(MacFileInfoTest, CopyToFileRaisesAndKeepsTheOldDestination)
{
    const QByteArray data(3 * (1 << 20) + 5, 'd');
    write("src.bin", data);
    write("dst.bin", "old contents");
    QDir().mkpath(p("folder"));
    Ptr source = at("src.bin");
    auto copyTo = [&](const char *destination, FileInfoProgress *progress = nullptr) {
        return raised([&] { source->copyToFile(at(destination), progress, nullptr); });
    };

    EXPECT_EQ(copyTo("src.bin"), ""); // onto itself: nothing
    EXPECT_EQ(read("src.bin"), data);
    EXPECT_EQ(copyTo("folder"), "copyToFile");
    EXPECT_EQ(copyTo("dst.bin/inside.bin"), "copyToFile"); // a file in the way of the destination's folder
    QString reason;
    EXPECT_EQ(raised([&] { at("missing")->copyToFile(at("dst.bin"), nullptr, nullptr); }, &reason), "copyToFile");
    EXPECT_TRUE(reason.contains("does not exist"));

    RecordingProgress stop;
    stop.cancelAtCall = 3;
    EXPECT_EQ(copyTo("dst.bin", &stop), "copyToFile");
    EXPECT_EQ(read("dst.bin"), QByteArray("old contents"));
    EXPECT_FALSE(there("TessalineCopyFile.tmp"));

    // Cancelled from another side: its own exception, the destination as it was.
    class Canceller : public FileInfoCopyProgress
    {
    public:
        explicit Canceller(VtrMacFileInfo *file) : m_file(file) {}
        bool copyingFile(const VtrFileInfoPtr &, const VtrFileInfoPtr &, float, void *) override
        {
            m_file->cancelCopy();
            return false;
        }

    private:
        VtrMacFileInfo *m_file;
    };
    Ptr cancelled = at("src.bin");
    Canceller canceller(cancelled.get());
    EXPECT_EQ(raised([&] { cancelled->copyToFile(at("dst.bin"), &canceller, nullptr); }), "File copy canceled");
    EXPECT_EQ(read("dst.bin"), QByteArray("old contents"));
    // The same object copies again: the earlier cancel is not carried over.
    EXPECT_EQ(raised([&] { cancelled->copyToFile(at("again.bin"), nullptr, nullptr); }), "");
    EXPECT_EQ(read("again.bin"), data);

    RecordingProgress progress;
    EXPECT_EQ(copyTo("made/for/you.bin", &progress), "");
    EXPECT_EQ(read("made/for/you.bin"), data);
    ASSERT_FALSE(progress.percents.empty());
    EXPECT_FLOAT_EQ(progress.percents.back(), 100.0f);
    EXPECT_EQ(at("made/for/you.bin")->modificationDate(), source->modificationDate());
}

// ---- identifiers, archives of the object ----------------------------------------------------------------

TEST_F(MacFileInfoTest, VolumeIdentifierFileOnADeviceRoot)
{
    QDir().mkpath(p("PHONE/DCIM"));
    VtrMacFileInfo::setDeviceVolumeRootsOverride(QStringList{p("PHONE")});
    Ptr item = at("PHONE/DCIM");
    EXPECT_TRUE(item->UDID(false).isNull());
    EXPECT_FALSE(there("PHONE/.TrundlexUDID.txt"));
    const QString made = item->UDID(true);
    EXPECT_EQ(made.size(), 36);
    EXPECT_EQ(read("PHONE/.TrundlexUDID.txt"), made.toUtf8());
    EXPECT_EQ(item->UDID(), made);

    // The older name is taken over with its contents.
    ASSERT_TRUE(QFile::remove(p("PHONE/.TrundlexUDID.txt")));
    write("PHONE/.TrundlexUDID", "OLD-ID");
    EXPECT_EQ(item->UDID(), "OLD-ID");
    EXPECT_FALSE(there("PHONE/.TrundlexUDID"));
    EXPECT_EQ(read("PHONE/.TrundlexUDID.txt"), QByteArray("OLD-ID"));
    VtrMacFileInfo::setDeviceVolumeRootsOverride(std::nullopt);
}

TEST_F(MacFileInfoTest, ArchivedObjectsComeBackAsLocalFileInfos)
{
    write("kept.txt", "k");
    const QByteArray archived = at("kept.txt")->archiveToData();
    VtrFileInfoPtr back = VtrBaseFileInfo::unarchiveFromData(archived);
    ASSERT_NE(dynamic_cast<VtrMacFileInfo *>(back.get()), nullptr);
    EXPECT_EQ(back->path(), p("kept.txt"));
    EXPECT_EQ(back->oldFileSize().value_or(-1), 1);
    EXPECT_TRUE(back->exists());
}

} // namespace
