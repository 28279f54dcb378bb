#include "fileinfo/VtrMacFileInfo.h"

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
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

using Ptr = VtrMacFileInfo::Ptr;

class MacFileInfoTest : public ::testing::Test
{
protected:
    void SetUp() override { dir = testenv::makeTempDir(QStringLiteral("mac")); }
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
                            VtrMacFileInfo::fileInfoWithPath(QStringLiteral(""))}) {
        EXPECT_FALSE(item->exists());
        EXPECT_FALSE(item->isFile());
        EXPECT_FALSE(item->isFolder());
        EXPECT_EQ(item->path(), QStringLiteral(""));
        EXPECT_EQ(item->size(), 0);
        EXPECT_EQ(item->parentFolder(), nullptr);
        EXPECT_TRUE(item->fileContents().isNull());
        EXPECT_FALSE(item->find(QStringLiteral("tmp"))->exists());
    }
}

TEST_F(MacFileInfoTest, PathsAreExpandedAndCleaned)
{
    EXPECT_EQ(VtrMacFileInfo::fileInfoWithPath(QStringLiteral("~/Music"))->path(),
              QDir::cleanPath(platform::homeFolder()) + QStringLiteral("/Music"));
    EXPECT_EQ(VtrMacFileInfo::fileInfoWithPath(QStringLiteral("/a//b/./c/../d/"))->path(), QStringLiteral("/a/b/d"));
    EXPECT_EQ(VtrMacFileInfo::fileInfoWithPath(QStringLiteral("/"))->parentFolder(), nullptr);
    EXPECT_EQ(VtrMacFileInfo::fileInfoWithPath(QStringLiteral("/Volumes"))->parentFolder()->path(),
              QStringLiteral("/"));
    EXPECT_EQ(VtrMacFileInfo::fileInfoWithPath(platform::homeFolder() + QStringLiteral("/x y"))->humanFriendlyPath(),
              QStringLiteral("~/x y"));
    EXPECT_EQ(VtrMacFileInfo::fileInfoWithPath(QStringLiteral("/a/b.tar.gz"))->extension(), QStringLiteral("gz"));
    EXPECT_EQ(VtrMacFileInfo::fileInfoWithPath(QStringLiteral("/a/.profile"))->extension(), QStringLiteral(""));
    EXPECT_EQ(VtrMacFileInfo::fileInfoWithURL(QUrl::fromLocalFile(p(QStringLiteral("u"))))->path(),
              p(QStringLiteral("u")));
    EXPECT_EQ(VtrMacFileInfo::fileInfoWithURL(QUrl(QStringLiteral("http://example.invalid/x")))->path(), QString());
}

TEST_F(MacFileInfoTest, KindsOfFilesFoldersAndSpecialFiles)
{
    write(QStringLiteral("f.txt"), "abc");
    QDir().mkpath(p(QStringLiteral("d")));
    ASSERT_EQ(::mkfifo(QFile::encodeName(p(QStringLiteral("pipe"))).constData(), 0600), 0);

    EXPECT_TRUE(at(QStringLiteral("f.txt"))->isFile());
    EXPECT_FALSE(at(QStringLiteral("f.txt"))->isFolder());
    EXPECT_TRUE(at(QStringLiteral("d"))->isFolder());
    EXPECT_FALSE(at(QStringLiteral("missing"))->exists());
    // A pipe exists but is neither: copying or reading it would block.
    Ptr pipe = at(QStringLiteral("pipe"));
    EXPECT_TRUE(pipe->exists());
    EXPECT_FALSE(pipe->isFile());
    EXPECT_FALSE(pipe->isFolder());
    EXPECT_EQ(pipe->openFileForReading(), nullptr);
    EXPECT_EQ(pipe->copyTo(at(QStringLiteral("d"))), kFileInfoCopySourceNotFile);

    // Cached until refresh.
    Ptr file = at(QStringLiteral("f.txt"));
    EXPECT_EQ(file->size(), 3);
    write(QStringLiteral("f.txt"), "abcdef");
    EXPECT_EQ(file->size(), 3);
    file->refresh();
    EXPECT_EQ(file->size(), 6);
}

TEST_F(MacFileInfoTest, LinksPlayThePartOfAliases)
{
    QDir().mkpath(p(QStringLiteral("real/inner")));
    write(QStringLiteral("real/inner/x.txt"), "x");
    link(p(QStringLiteral("real")), QStringLiteral("alias"));
    link(p(QStringLiteral("gone")), QStringLiteral("dangling"));

    Ptr alias = at(QStringLiteral("alias"));
    EXPECT_TRUE(alias->isAlias());
    EXPECT_TRUE(alias->isFolder());
    // An unresolved link to a folder has no children in a listing.
    EXPECT_TRUE(alias->folderContents().isEmpty());
    EXPECT_EQ(alias->size(), 0);
    ASSERT_NE(alias->aliasTarget(), nullptr);
    EXPECT_EQ(alias->aliasTarget()->path(), QFileInfo(p(QStringLiteral("real"))).canonicalFilePath());
    EXPECT_TRUE(alias->resolveAlias());
    EXPECT_EQ(alias->path(), QFileInfo(p(QStringLiteral("real"))).canonicalFilePath());
    EXPECT_FALSE(alias->isAlias());
    EXPECT_FALSE(alias->resolveAlias());
    EXPECT_EQ(names(alias->folderContents()), QStringList{QStringLiteral("inner")});

    Ptr dangling = at(QStringLiteral("dangling"));
    EXPECT_TRUE(dangling->isAlias());
    EXPECT_EQ(dangling->aliasTarget(), nullptr);
    EXPECT_EQ(dangling->resolvedFileInfo().get(), dangling.get());
    EXPECT_TRUE(dangling->resolveAlias());
    EXPECT_EQ(dangling->path(), QStringLiteral(""));
    EXPECT_FALSE(dangling->exists());

    // Resolved level by level; a missing level gives nothing.
    Ptr deep = VtrMacFileInfo::fileInfoResolveAliasesWithPath(p(QStringLiteral("alias/inner/x.txt")));
    ASSERT_NE(deep, nullptr);
    EXPECT_EQ(deep->path(), QFileInfo(p(QStringLiteral("real/inner/x.txt"))).canonicalFilePath());
    EXPECT_EQ(VtrMacFileInfo::fileInfoResolveAliasesWithPath(p(QStringLiteral("alias/nothing/x"))), nullptr);
    EXPECT_EQ(VtrMacFileInfo::fileInfoResolveAliasesWithPath(QString()), nullptr);
    EXPECT_EQ(at(QStringLiteral("alias/inner/x.txt"))->resolvedPath(),
              QFileInfo(p(QStringLiteral("real/inner/x.txt"))).canonicalFilePath());
    EXPECT_TRUE(at(QStringLiteral("alias/missing"))->resolvedPath().isNull());
}

TEST_F(MacFileInfoTest, IdentityIsDeviceAndInode)
{
    write(QStringLiteral("a.txt"), "same");
    ASSERT_EQ(::link(QFile::encodeName(p(QStringLiteral("a.txt"))).constData(),
                     QFile::encodeName(p(QStringLiteral("hard.txt"))).constData()),
              0);
    link(p(QStringLiteral("a.txt")), QStringLiteral("soft.txt"));
    write(QStringLiteral("A.TXT"), "other");

    EXPECT_TRUE(at(QStringLiteral("a.txt"))->isEqualTo(at(QStringLiteral("hard.txt"))));
    EXPECT_TRUE(at(QStringLiteral("soft.txt"))->isEqualTo(at(QStringLiteral("a.txt"))));
    // Two names that differ only in case are two files here.
    EXPECT_FALSE(at(QStringLiteral("a.txt"))->isEqualTo(at(QStringLiteral("A.TXT"))));
    EXPECT_FALSE(at(QStringLiteral("a.txt"))->isEqualTo(at(QStringLiteral("missing.txt"))));
    EXPECT_TRUE(at(QStringLiteral("x/missing"))->isEqualTo(at(QStringLiteral("X/MISSING"))));
    // A second object for the same item.
    Ptr copy = at(QStringLiteral("a.txt"))->copy();
    EXPECT_EQ(copy->path(), p(QStringLiteral("a.txt")));
    EXPECT_TRUE(copy->isFile());
}

TEST_F(MacFileInfoTest, AttributesDatesAndSizes)
{
    write(QStringLiteral(".hidden"), "h");
    write(QStringLiteral("plain"), "p");
    EXPECT_FALSE(at(QStringLiteral(".hidden"))->visible());
    EXPECT_TRUE(at(QStringLiteral("plain"))->visible());
    EXPECT_EQ(at(QStringLiteral("plain"))->creatorCode(), 0x3f3f3f3fu);
    EXPECT_EQ(at(QStringLiteral("plain"))->typeCode(), 0x3f3f3f3fu);
    EXPECT_FALSE(at(QStringLiteral("plain"))->isLocked());
    EXPECT_FALSE(at(QStringLiteral("plain"))->creationDate().isValid());
    EXPECT_FALSE(at(QStringLiteral("plain"))->supportsCreationDate());
    EXPECT_EQ(at(QStringLiteral("plain"))->attribute(QStringLiteral("NSFileSize")).toLongLong(), 1);
    EXPECT_EQ(at(QStringLiteral("plain"))->attribute(QStringLiteral("NSFileType")).toString(),
              QStringLiteral("NSFileTypeRegular"));
    EXPECT_FALSE(at(QStringLiteral("missing"))->attribute(QStringLiteral("NSFileSize")).isValid());
    EXPECT_FALSE(at(QStringLiteral("plain"))->kindString().isEmpty());
    EXPECT_FALSE(at(QStringLiteral("plain"))->hasDRM());
    EXPECT_TRUE(at(QStringLiteral("plain"))->metadata().isEmpty());

    const QDateTime when = QDateTime(QDate(2011, 3, 4), QTime(5, 6, 7, 890), Qt::UTC);
    Ptr plain = at(QStringLiteral("plain"));
    plain->setModificationDate(when);
    EXPECT_EQ(at(QStringLiteral("plain"))->modificationDate(), when);
    EXPECT_EQ(at(QStringLiteral("plain"))->modificationDate().timeSpec(), Qt::UTC);
    at(QStringLiteral("missing"))->setModificationDate(when); // nothing, no crash
    EXPECT_FALSE(there(QStringLiteral("missing")));

    // Sizes beyond 4 GiB and whole trees.
    const qint64 big = (qint64(5) << 30) + 7;
    write(QStringLiteral("big.bin"), QByteArray());
    ASSERT_EQ(::truncate(QFile::encodeName(p(QStringLiteral("big.bin"))).constData(), big), 0);
    EXPECT_EQ(at(QStringLiteral("big.bin"))->size(), big);
    write(QStringLiteral("tree/three"), "abc");
    write(QStringLiteral("tree/sub/five"), "abcde");
    EXPECT_EQ(at(QStringLiteral("tree"))->size(), 8);
    QDir().mkpath(p(QStringLiteral("empty")));
    EXPECT_EQ(at(QStringLiteral("empty"))->size(), 0);
}

TEST_F(MacFileInfoTest, ValidNames)
{
    VtrMacFileInfo item;
    EXPECT_EQ(item.makeValidFilename(QStringLiteral("a/b\u00e9"), true), QStringLiteral("a_bU00E9"));
    EXPECT_EQ(item.makeValidFilename(QStringLiteral("a/b\u00e9"), false), QStringLiteral("a_b\u00e9"));
    EXPECT_EQ(item.makeValidFilename(QStringLiteral("tab\tx"), true), QStringLiteral("tab_x"));
    EXPECT_EQ(VtrMacFileInfo::makeNameOSCompliant(QStringLiteral("..")), QStringLiteral("__"));
    EXPECT_EQ(VtrMacFileInfo::makeNameOSCompliant(QStringLiteral(".")), QStringLiteral("_"));
    EXPECT_EQ(VtrMacFileInfo::makeNameOSCompliant(QStringLiteral("a") + QChar(0) + QStringLiteral("b")),
              QStringLiteral("a_b"));
}

// ---- finding and listing ------------------------------------------------------------------------

TEST_F(MacFileInfoTest, FindFallsBackToAnotherLetterCase)
{
    write(QStringLiteral("Music/Album One/Track.MP3"), "t");
    Ptr root = at(QString());
    EXPECT_EQ(root->find(QStringLiteral("Music"))->path(), p(QStringLiteral("Music")));
    EXPECT_EQ(root->find(QStringLiteral("music"))->path(), p(QStringLiteral("Music")));
    EXPECT_EQ(root->find(QStringLiteral("MUSIC/album one/track.mp3"))->path(),
              p(QStringLiteral("Music/Album One/Track.MP3")));
    // A missing level keeps the spelling asked for (matched levels keep theirs).
    EXPECT_EQ(root->find(QStringLiteral("music/New/x"))->path(), p(QStringLiteral("Music/New/x")));
    EXPECT_FALSE(root->find(QStringLiteral("music/New/x"))->exists());
    // From a file: its sibling.
    EXPECT_EQ(at(QStringLiteral("Music/Album One/Track.MP3"))->find(QStringLiteral("cover.jpg"))->path(),
              p(QStringLiteral("Music/Album One/cover.jpg")));

    // The look-up index follows this process's own changes...
    root->createFile(QStringLiteral("Photo.JPG"), "j", {});
    EXPECT_EQ(root->find(QStringLiteral("photo.jpg"))->path(), p(QStringLiteral("Photo.JPG")));
    at(QStringLiteral("Photo.JPG"))->setName(QStringLiteral("Renamed.JPG"));
    EXPECT_EQ(root->find(QStringLiteral("photo.jpg"))->path(), p(QStringLiteral("photo.jpg")));
    EXPECT_EQ(root->find(QStringLiteral("renamed.jpg"))->path(), p(QStringLiteral("Renamed.JPG")));
    at(QStringLiteral("Renamed.JPG"))->remove();
    EXPECT_EQ(root->find(QStringLiteral("renamed.jpg"))->path(), p(QStringLiteral("renamed.jpg")));
    // ...and notices other programs' changes.
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    write(QStringLiteral("Outside.TXT"), "o");
    EXPECT_EQ(root->find(QStringLiteral("outside.txt"))->path(), p(QStringLiteral("Outside.TXT")));
    ASSERT_TRUE(QFile::rename(p(QStringLiteral("Outside.TXT")), p(QStringLiteral("Moved.TXT"))));
    EXPECT_EQ(root->find(QStringLiteral("outside.txt"))->path(), p(QStringLiteral("outside.txt")));
}

TEST_F(MacFileInfoTest, ListingIsSortedAndSkipsCopyLeftoversAndLoops)
{
    for (const char *n : {"b", "B", "a", "C", ".dot", "\u00e9t\u00e9"})
        write(QString::fromUtf8(n), "x");
    QDir().mkpath(p(QStringLiteral("sub")));
    write(QStringLiteral("tessalinecopyfile.TMP"), "leftover");
    link(dir, QStringLiteral("loop"));
    link(p(QStringLiteral("sub")), QStringLiteral("zlink-to-sub"));
    link(QStringLiteral("/"), QStringLiteral("zroot"));

    Ptr root = at(QString());
    const QStringList listed = names(root->folderContents());
    EXPECT_EQ(listed, (QStringList{QStringLiteral(".dot"), QStringLiteral("a"), QStringLiteral("B"),
                                   QStringLiteral("b"), QStringLiteral("C"), QStringLiteral("sub"),
                                   QStringLiteral("zroot"), QString::fromUtf8("\u00e9t\u00e9")}));
    // The leftover temporary copy file was deleted, the links into the tree left out.
    EXPECT_FALSE(there(QStringLiteral("tessalinecopyfile.TMP")));
    EXPECT_TRUE(there(QStringLiteral("loop")));

    // The temporary file of a copy that is running is neither offered nor deleted.
    write(QStringLiteral("TessalineCopyFile.tmp"), "running");
    {
        vtr::TemporaryCopyFileLease lease(p(QStringLiteral("TessalineCopyFile.tmp")));
        ASSERT_TRUE(lease.acquired());
        EXPECT_FALSE(names(root->folderContents()).contains(QStringLiteral("TessalineCopyFile.tmp")));
        EXPECT_TRUE(there(QStringLiteral("TessalineCopyFile.tmp")));
    }

    EXPECT_TRUE(at(QStringLiteral("missing"))->folderContents().isEmpty());
    EXPECT_TRUE(at(QStringLiteral("a"))->folderContents().isEmpty());

    write(QStringLiteral("sub/deep/Target.txt"), "t");
    const VtrFileInfoList found = root->findDeep(QStringLiteral("target.TXT"));
    ASSERT_EQ(found.size(), 1);
    EXPECT_EQ(found.first()->path(), p(QStringLiteral("sub/deep/Target.txt")));
    EXPECT_EQ(root->findFirstDeep(QStringLiteral("TARGET.txt"))->path(), p(QStringLiteral("sub/deep/Target.txt")));
    EXPECT_EQ(root->findFirstDeep(QStringLiteral("none")), nullptr);
}

// ---- creating, renaming, moving and removing ----------------------------------------------------------

TEST_F(MacFileInfoTest, CreateFolderWalksAndStopsAtFilesInTheWay)
{
    Ptr root = at(QString());
    VtrFileInfoPtr c = root->createFolder(QStringLiteral("a/b/c/"));
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->path(), p(QStringLiteral("a/b/c")));
    EXPECT_TRUE(c->isFolder());
    // Existing levels are reused, case ignored.
    EXPECT_EQ(root->createFolder(QStringLiteral("A/B/d"))->path(), p(QStringLiteral("a/b/d")));

    write(QStringLiteral("file"), "f");
    EXPECT_EQ(root->createFolder(QStringLiteral("file/x/y")), nullptr);
    EXPECT_FALSE(there(QStringLiteral("file/x")));
    EXPECT_EQ(root->createFolder(QStringLiteral("file")), nullptr);
    // A file receiver creates beside itself.
    EXPECT_EQ(at(QStringLiteral("file"))->createFolder(QStringLiteral("beside"))->path(), p(QStringLiteral("beside")));
    // Never up and out.
    EXPECT_EQ(root->createFolder(QStringLiteral("x/../../escape")), nullptr);
    EXPECT_FALSE(QFileInfo::exists(dir + QStringLiteral("/../escape")));
    // An absolute path starts at the disk's root.
    EXPECT_EQ(at(QStringLiteral("a"))->createFolder(p(QStringLiteral("abs/olute")))->path(),
              p(QStringLiteral("abs/olute")));
    EXPECT_EQ(VtrMacFileInfo::fileInfoCreateFolderWithFullPath(p(QStringLiteral("full/path")))->path(),
              p(QStringLiteral("full/path")));
    EXPECT_EQ(VtrMacFileInfo::fileInfoCreateFolderWithFullPath(p(QStringLiteral("file/under"))), nullptr);

    Ptr unique = std::dynamic_pointer_cast<VtrMacFileInfo>(root->createUniqueFolder(QStringLiteral("a")));
    ASSERT_NE(unique, nullptr);
    EXPECT_EQ(unique->name(), QStringLiteral("a-1"));
}

TEST_F(MacFileInfoTest, CreateFileNamesAndOverwrites)
{
    Ptr root = at(QString());
    write(QStringLiteral("x.txt"), "0");
    write(QStringLiteral("x-1.txt"), "1");
    EXPECT_EQ(root->createFile(QStringLiteral("x.txt"), "2", {}, true)->name(), QStringLiteral("x-2.txt"));
    EXPECT_EQ(read(QStringLiteral("x-2.txt")), QByteArray("2"));
    write(QStringLiteral("notes"), "n");
    EXPECT_EQ(root->createFile(QStringLiteral("notes"), "m", {}, true)->name(), QStringLiteral("notes-1"));
    // Another letter case of a taken name is taken too.
    EXPECT_EQ(root->createFile(QStringLiteral("NOTES"), "m", {}, true)->name(), QStringLiteral("NOTES-2"));

    // Without a unique name: a file is overwritten, a folder refuses.
    VtrFileInfoPtr over = root->createFile(QStringLiteral("x.txt"), "new", {});
    ASSERT_NE(over, nullptr);
    EXPECT_EQ(read(QStringLiteral("x.txt")), QByteArray("new"));
    QDir().mkpath(p(QStringLiteral("folder")));
    EXPECT_EQ(root->createFile(QStringLiteral("folder"), "f", {}), nullptr);

    // Names from a phone stay in the folder.
    for (const QString &bad : {QStringLiteral("a/b"), QStringLiteral(".."), QStringLiteral("."), QString(),
                               QStringLiteral("nul") + QChar(0)})
        EXPECT_EQ(root->createFile(bad, "x", {}), nullptr) << bad.toStdString();

    // A missing folder: the answer does not exist.
    VtrFileInfoPtr orphan = at(QStringLiteral("nowhere"))->createFile(QStringLiteral("n.txt"), "n", {});
    ASSERT_NE(orphan, nullptr);
    EXPECT_FALSE(orphan->exists());

    const QDateTime when = QDateTime(QDate(2009, 1, 2), QTime(3, 4, 5), Qt::UTC);
    VtrFileInfoPtr withAttributes = root->createFile(
        QStringLiteral("attr.txt"), "a",
        {{QStringLiteral("NSFilePosixPermissions"), 0640}, {QStringLiteral("NSFileModificationDate"), when}});
    EXPECT_EQ(QFileInfo(withAttributes->path()).permissions() & 0x7777,
              QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser | QFile::ReadGroup);
    EXPECT_EQ(withAttributes->modificationDate(), when);

    Ptr created = VtrMacFileInfo::fileInfoCreateFileWithFullPath(p(QStringLiteral("new/levels/file.dat")));
    ASSERT_NE(created, nullptr);
    EXPECT_TRUE(created->isFile());
    EXPECT_EQ(created->size(), 0);
}

TEST_F(MacFileInfoTest, SetNameNeverReplacesAnotherItem)
{
    write(QStringLiteral("a.txt"), "a");
    write(QStringLiteral("b.txt"), "b");
    Ptr a = at(QStringLiteral("a.txt"));
    a->setName(QStringLiteral("b.txt"));
    EXPECT_EQ(a->path(), p(QStringLiteral("a.txt")));
    EXPECT_EQ(read(QStringLiteral("b.txt")), QByteArray("b"));
    a->setName(QStringLiteral("../out.txt"));
    EXPECT_EQ(a->path(), p(QStringLiteral("a.txt")));
    a->setName(QStringLiteral("c.txt"));
    EXPECT_EQ(a->path(), p(QStringLiteral("c.txt")));
    EXPECT_EQ(read(QStringLiteral("c.txt")), QByteArray("a"));
    a->setNameKeepingExtension(QStringLiteral("d"));
    EXPECT_EQ(a->name(), QStringLiteral("d.txt"));
    a->setName(QStringLiteral("D.TXT"));
    EXPECT_EQ(a->name(), QStringLiteral("D.TXT"));
    at(QStringLiteral("missing"))->setName(QStringLiteral("x"));
    EXPECT_FALSE(there(QStringLiteral("x")));
}

TEST_F(MacFileInfoTest, MoveReplacesFilesAndFailsCleanly)
{
    write(QStringLiteral("src.txt"), "new");
    write(QStringLiteral("dst.txt"), "old");
    Ptr source = at(QStringLiteral("src.txt"));
    EXPECT_EQ(source->moveTo(at(QStringLiteral("dst.txt"))), kFileInfoCopyOK);
    EXPECT_EQ(source->path(), p(QStringLiteral("dst.txt")));
    EXPECT_EQ(read(QStringLiteral("dst.txt")), QByteArray("new"));
    EXPECT_FALSE(there(QStringLiteral("src.txt")));

    // A missing parent, a file in the way of a folder, a full folder: nothing moves.
    EXPECT_EQ(source->moveTo(at(QStringLiteral("no/such/place.txt"))), kFileInfoCopyKindCannot);
    write(QStringLiteral("plain"), "p");
    EXPECT_EQ(source->moveTo(at(QStringLiteral("plain/inside.txt"))), kFileInfoCopyKindCannot);
    write(QStringLiteral("full/keep.txt"), "k");
    QDir().mkpath(p(QStringLiteral("folder")));
    EXPECT_EQ(at(QStringLiteral("folder"))->moveTo(at(QStringLiteral("full"))), kFileInfoCopyKindCannot);
    EXPECT_EQ(source->path(), p(QStringLiteral("dst.txt")));
    EXPECT_EQ(read(QStringLiteral("full/keep.txt")), QByteArray("k"));
    EXPECT_EQ(source->moveTo(nullptr), kFileInfoCopyKindCannot);
}

TEST_F(MacFileInfoTest, RemoveTakesTreesAndNeverFollowsLinks)
{
    write(QStringLiteral("keep/precious.txt"), "p");
    write(QStringLiteral("tree/a/b/c.txt"), "c");
    link(p(QStringLiteral("keep")), QStringLiteral("tree/a/link"));
    EXPECT_TRUE(at(QStringLiteral("tree"))->remove());
    EXPECT_FALSE(there(QStringLiteral("tree")));
    EXPECT_EQ(read(QStringLiteral("keep/precious.txt")), QByteArray("p"));
    EXPECT_FALSE(at(QStringLiteral("tree"))->remove());

    write(QStringLiteral("box/one"), "1");
    write(QStringLiteral("box/sub/two"), "2");
    EXPECT_TRUE(at(QStringLiteral("box"))->removeContents());
    EXPECT_TRUE(
        QDir(p(QStringLiteral("box"))).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot));
    EXPECT_TRUE(at(QStringLiteral("box"))->removeContents());
    EXPECT_FALSE(at(QStringLiteral("keep/precious.txt"))->removeContents());
}

// ---- contents ------------------------------------------------------------------------------------------

class RecordingProgress : public FileInfoReadProgress, public FileInfoWriteProgress, public FileInfoCopyProgress
{
public:
    bool readingContentsForFile(const VtrFileInfoPtr &, const QByteArray &, qint64 read, qint64 total, void *) override
    {
        calls.append({read, total});
        return stopAfter > 0 && calls.size() >= stopAfter;
    }
    bool writingContentsForFile(const VtrFileInfoPtr &, qint64 written, qint64 total, void *) override
    {
        calls.append({written, total});
        return stopAfter > 0 && calls.size() >= stopAfter;
    }
    bool copyingFile(const VtrFileInfoPtr &, const VtrFileInfoPtr &, float percent, void *) override
    {
        percents.append(percent);
        return stopAfter > 0 && percents.size() >= stopAfter;
    }
    QList<QPair<qint64, qint64>> calls;
    QList<float> percents;
    int stopAfter = 0;
};

TEST_F(MacFileInfoTest, WholeContentsWithProgress)
{
    const qint64 mib = 1 << 20;
    write(QStringLiteral("f.bin"), "old");
    Ptr file = at(QStringLiteral("f.bin"));
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
    progress.stopAfter = 1;
    EXPECT_FALSE(file->setFileContentsWithProgress(three, &progress, nullptr));
    EXPECT_EQ(read(QStringLiteral("f.bin")), QByteArray(mib, 'o'));
    EXPECT_EQ(QDir(dir).entryList(QDir::Files | QDir::Hidden).size(), 1);

    // Reading stopped after the first chunk keeps the full length, zeros after.
    file->setFileContents(three);
    progress.calls.clear();
    const QByteArray partial = file->fileContentsWithProgress(&progress, nullptr);
    ASSERT_EQ(partial.size(), 3 * mib);
    EXPECT_EQ(partial.at(mib - 1), 'z');
    EXPECT_EQ(partial.at(mib), '\0');
    EXPECT_EQ(file->fileContents(), three);

    EXPECT_FALSE(at(QStringLiteral("missing"))->setFileContents("x"));
    EXPECT_FALSE(at(QString())->setFileContents("x"));
    write(QStringLiteral("empty"), QByteArray());
    EXPECT_FALSE(at(QStringLiteral("empty"))->fileContents().isNull());
    EXPECT_TRUE(at(QStringLiteral("empty"))->fileContents().isEmpty());

    // Through a link the target changes and the link stays a link.
    write(QStringLiteral("target.txt"), "t");
    link(p(QStringLiteral("target.txt")), QStringLiteral("via.txt"));
    EXPECT_TRUE(at(QStringLiteral("via.txt"))->setFileContents("through"));
    EXPECT_EQ(read(QStringLiteral("target.txt")), QByteArray("through"));
    EXPECT_TRUE(QFileInfo(p(QStringLiteral("via.txt"))).isSymLink());
}

TEST_F(MacFileInfoTest, RangedReadsAndWritesAre64Bit)
{
    EXPECT_EQ(at(QStringLiteral("missing"))->openFileForWriting(), nullptr);
    EXPECT_EQ(at(QStringLiteral("missing"))->openFileForReading(), nullptr);
    write(QStringLiteral("r.bin"), "0123456789");
    Ptr file = at(QStringLiteral("r.bin"));

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
    write(QStringLiteral("album/one.jpg"), "1");
    write(QStringLiteral("album/sub/two.jpg"), "22");
    link(QStringLiteral("one.jpg"), QStringLiteral("album/link.jpg"));
    QDir().mkpath(p(QStringLiteral("dest")));
    const QDateTime when = QDateTime(QDate(2010, 10, 10), QTime(10, 10, 10), Qt::UTC);
    at(QStringLiteral("album/one.jpg"))->setModificationDate(when);

    VtrFileInfoPtr out;
    EXPECT_EQ(at(QStringLiteral("album"))->copyToWithName(at(QStringLiteral("dest")), QStringLiteral("copy"), &out),
              kFileInfoCopyOK);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(out->path(), p(QStringLiteral("dest/copy")));
    EXPECT_EQ(read(QStringLiteral("dest/copy/sub/two.jpg")), QByteArray("22"));
    EXPECT_TRUE(QFileInfo(p(QStringLiteral("dest/copy/link.jpg"))).isSymLink());
    EXPECT_EQ(at(QStringLiteral("dest/copy/one.jpg"))->modificationDate(), when);

    // An item of that name already there: -1, out cleared, nothing changed.
    out = at(QStringLiteral("x"));
    EXPECT_EQ(
        at(QStringLiteral("album/one.jpg"))->copyToWithName(at(QStringLiteral("dest")), QStringLiteral("copy"), &out),
        kFileInfoCopyKindCannot);
    EXPECT_EQ(out, nullptr);
    // A file destination stands for its folder.
    EXPECT_EQ(at(QStringLiteral("album/one.jpg"))
                  ->copyToWithName(at(QStringLiteral("album/sub/two.jpg")), QStringLiteral("three.jpg"), &out),
              kFileInfoCopyOK);
    EXPECT_EQ(read(QStringLiteral("album/sub/three.jpg")), QByteArray("1"));
    // Never into itself, never out of the folder, never from nothing.
    EXPECT_EQ(
        at(QStringLiteral("album"))->copyToWithName(at(QStringLiteral("album/sub")), QStringLiteral("again"), &out),
        kFileInfoCopyKindCannot);
    EXPECT_FALSE(there(QStringLiteral("album/sub/again")));
    EXPECT_EQ(
        at(QStringLiteral("album/one.jpg"))->copyToWithName(at(QStringLiteral("dest")), QStringLiteral("../up"), &out),
        kFileInfoCopyBadArguments);
    EXPECT_EQ(at(QStringLiteral("missing"))->copyToWithName(at(QStringLiteral("dest")), QStringLiteral("m"), &out),
              kFileInfoCopyBadArguments);
    EXPECT_EQ(
        at(QStringLiteral("album/one.jpg"))->copyToWithName(at(QStringLiteral("nowhere")), QStringLiteral("m"), &out),
        kFileInfoCopyBadArguments);
    // Only this process's own hidden temporary names are ever left out: none remain.
    EXPECT_EQ(QDir(p(QStringLiteral("dest"))).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{QStringLiteral("copy")});
}

TEST_F(MacFileInfoTest, CopyToFileRaisesAndKeepsTheOldDestination)
{
    const QByteArray data(3 * (1 << 20) + 5, 'd');
    write(QStringLiteral("src.bin"), data);
    write(QStringLiteral("dst.bin"), "old contents");
    QDir().mkpath(p(QStringLiteral("folder")));
    Ptr source = at(QStringLiteral("src.bin"));

    auto expectFailure = [&](const VtrFileInfoPtr &destination, FileInfoProgress *progress, const QString &name) {
        try {
            source->copyToFile(destination, progress, nullptr);
            ADD_FAILURE() << "no exception";
        } catch (const VtrException &e) {
            EXPECT_EQ(e.name(), name) << e.reason().toStdString();
        }
    };

    source->copyToFile(source, nullptr, nullptr); // onto itself: nothing
    EXPECT_EQ(read(QStringLiteral("src.bin")), data);
    expectFailure(at(QStringLiteral("folder")), nullptr, QStringLiteral("copyToFile"));
    Ptr missing = at(QStringLiteral("missing"));
    try {
        missing->copyToFile(at(QStringLiteral("dst.bin")), nullptr, nullptr);
        ADD_FAILURE() << "no exception";
    } catch (const VtrException &e) {
        EXPECT_EQ(e.name(), QStringLiteral("copyToFile"));
        EXPECT_TRUE(e.reason().contains(QStringLiteral("does not exist")));
    }

    RecordingProgress stop;
    stop.stopAfter = 3;
    expectFailure(at(QStringLiteral("dst.bin")), &stop, QStringLiteral("copyToFile"));
    EXPECT_EQ(read(QStringLiteral("dst.bin")), QByteArray("old contents"));
    EXPECT_FALSE(there(QStringLiteral("TessalineCopyFile.tmp")));

    // A file in the way of the destination's folder.
    expectFailure(at(QStringLiteral("dst.bin/inside.bin")), nullptr, QStringLiteral("copyToFile"));

    RecordingProgress progress;
    source->copyToFile(at(QStringLiteral("made/for/you.bin")), &progress, nullptr);
    EXPECT_EQ(read(QStringLiteral("made/for/you.bin")), data);
    ASSERT_FALSE(progress.percents.isEmpty());
    EXPECT_FLOAT_EQ(progress.percents.last(), 100.0f);
    EXPECT_EQ(at(QStringLiteral("made/for/you.bin"))->modificationDate(), source->modificationDate());
}

TEST_F(MacFileInfoTest, CancelledCopyToFileNamesItsException)
{
    write(QStringLiteral("src.bin"), QByteArray(3 << 20, 's'));
    write(QStringLiteral("dst.bin"), "keep");
    Ptr source = at(QStringLiteral("src.bin"));

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
    } canceller(source.get());
    try {
        source->copyToFile(at(QStringLiteral("dst.bin")), &canceller, nullptr);
        ADD_FAILURE() << "no exception";
    } catch (const VtrException &e) {
        EXPECT_EQ(e.name(), QStringLiteral("File copy canceled"));
    }
    EXPECT_EQ(read(QStringLiteral("dst.bin")), QByteArray("keep"));
}

// ---- identifiers, archives of the object ----------------------------------------------------------------

TEST_F(MacFileInfoTest, VolumeIdentifierFileOnADeviceRoot)
{
    QDir().mkpath(p(QStringLiteral("PHONE/DCIM")));
    VtrMacFileInfo::setDeviceVolumeRootsOverride(QStringList{p(QStringLiteral("PHONE"))});
    Ptr item = at(QStringLiteral("PHONE/DCIM"));
    EXPECT_TRUE(item->UDID(false).isNull());
    EXPECT_FALSE(there(QStringLiteral("PHONE/.TrundlexUDID.txt")));
    const QString made = item->UDID(true);
    EXPECT_EQ(made.size(), 36);
    EXPECT_EQ(read(QStringLiteral("PHONE/.TrundlexUDID.txt")), made.toUtf8());
    EXPECT_EQ(item->UDID(), made);

    // The older name is taken over with its contents.
    ASSERT_TRUE(QFile::remove(p(QStringLiteral("PHONE/.TrundlexUDID.txt"))));
    write(QStringLiteral("PHONE/.TrundlexUDID"), "OLD-ID");
    EXPECT_EQ(item->UDID(), QStringLiteral("OLD-ID"));
    EXPECT_FALSE(there(QStringLiteral("PHONE/.TrundlexUDID")));
    EXPECT_EQ(read(QStringLiteral("PHONE/.TrundlexUDID.txt")), QByteArray("OLD-ID"));
    VtrMacFileInfo::setDeviceVolumeRootsOverride(std::nullopt);
}

TEST_F(MacFileInfoTest, ArchivedObjectsComeBackAsLocalFileInfos)
{
    write(QStringLiteral("kept.txt"), "k");
    const QByteArray archived = at(QStringLiteral("kept.txt"))->archiveToData();
    VtrFileInfoPtr back = VtrBaseFileInfo::unarchiveFromData(archived);
    ASSERT_NE(dynamic_cast<VtrMacFileInfo *>(back.get()), nullptr);
    EXPECT_EQ(back->path(), p(QStringLiteral("kept.txt")));
    EXPECT_EQ(back->oldFileSize().value_or(-1), 1);
    EXPECT_TRUE(back->exists());
}

} // namespace
