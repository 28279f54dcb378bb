#include "fileinfo/VtrFileInfo.h"

#include "platform/Folders.h"

#include "TestEnvironment.h"
#include "TestFolders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMimeData>
#include <QSet>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

void makeLink(const QString &target, const QString &link)
{
    ASSERT_EQ(::symlink(QFile::encodeName(target).constData(), QFile::encodeName(link).constData()), 0)
        << link.toStdString();
}

QStringList names(const QList<VtrFileInfo> &items)
{
    QStringList out;
    for (const VtrFileInfo &i : items)
        out.append(i.name());
    return out;
}

QStringList relative(const QString &root, const QList<VtrFileInfo> &items)
{
    QStringList out;
    for (const VtrFileInfo &i : items)
        out.append(QDir(root).relativeFilePath(i.path()));
    return out;
}

// Nothing but the expected entries: no temporary files left behind.
QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

} // namespace

TEST(OldFileInfo, EmptyItemAndPaths)
{
    VtrFileInfo empty;
    EXPECT_FALSE(empty.exists());
    EXPECT_TRUE(empty.find("x").path().isNull());
    EXPECT_TRUE(empty.remove());
    EXPECT_FALSE(VtrFileInfo(QString()).exists());
    int error = 0;
    empty.fileRefWithError(&error);
    EXPECT_EQ(error, -50);

    const VtrFileInfo tilde("~/a/./b/../c.tar.gz");
    EXPECT_EQ(tilde.path(), platform::homeFolder() + "/a/c.tar.gz");
    EXPECT_EQ(tilde.nameWithoutExtension(), "c.tar");
    EXPECT_EQ(VtrFileInfo("/x/.hidden").extension(), QString());
    EXPECT_FALSE(VtrFileInfo("/x/.hidden").visible());
    EXPECT_EQ(VtrFileInfo::initWithCoder(tilde.encodeWithCoder()).path(), tilde.path());
    EXPECT_TRUE(VtrFileInfo::initWithCoder(empty.encodeWithCoder()).path().isNull());
    EXPECT_EQ(VtrFileInfo::makeNameOSCompliant("AC/DC"), "AC_DC");

    EXPECT_EQ(VtrFileInfo(QUrl::fromLocalFile("/tmp/x y")).path(), "/tmp/x y");
    EXPECT_TRUE(VtrFileInfo::pathFromURL(QUrl("http://host/x")).isNull());
    EXPECT_EQ(VtrFileInfo::pathFromURL(QUrl("file:///localhost/tmp/x")), "/tmp/x");
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile("/a/b"), QUrl("https://x/y")});
    EXPECT_EQ(names(VtrFileInfo::fileInfoArrayFromPasteboard(&mime)), QStringList{"b"});
    EXPECT_EQ(names(VtrFileInfo::fileInfoArrayFromPathsArray({"/a/1", "/b/2"})), (QStringList{"1", "2"}));
}

TEST(OldFileInfo, FindLooksInsideFoldersBesideFilesAndIgnoresCaseWhenNeeded)
{
    const QString dir = testenv::makeTempDir();
    testenv::writeFile(dir + "/Music/Track.mp3", "x");
    testenv::writeFile(dir + "/Music/notes", "n");
    testenv::writeFile(dir + "/Music/Notes", "N");
    const VtrFileInfo folder(dir + "/Music");
    const VtrFileInfo track = folder.find("Track.mp3");
    EXPECT_TRUE(track.exists());
    EXPECT_TRUE(track.isFile());
    EXPECT_EQ(track.find("notes").path(), dir + "/Music/notes");
    // Missing exactly, present in another case: the present one.
    EXPECT_EQ(folder.find("TRACK.MP3").path(), track.path());
    EXPECT_EQ(VtrFileInfo(dir).find("music/track.MP3").path(), track.path());
    // An exact match wins; several in other cases: the first by name.
    EXPECT_EQ(folder.find("Notes").path(), dir + "/Music/Notes");
    EXPECT_EQ(folder.find("NOTES").path(), dir + "/Music/Notes");
    // Missing in every case: the exact name, not existing.
    const VtrFileInfo missing = folder.find("Other.mp3");
    EXPECT_FALSE(missing.exists());
    EXPECT_EQ(missing.path(), dir + "/Music/Other.mp3");
}

TEST(OldFileInfo, SymbolicLinksActAsAliases)
{
    const QString dir = testenv::makeTempDir();
    const QString canonical = QFileInfo(dir).canonicalFilePath();
    QDir().mkpath(dir + "/real/inner");
    testenv::writeFile(dir + "/real/file.txt", "abc");
    makeLink(dir + "/real", dir + "/folderlink");
    makeLink("real/file.txt", dir + "/filelink");
    makeLink(dir + "/nowhere", dir + "/dangling");

    VtrFileInfo folderLink(dir + "/folderlink");
    EXPECT_TRUE(folderLink.isFolder());
    EXPECT_TRUE(folderLink.isAlias());
    EXPECT_FALSE(folderLink.isFile());
    ASSERT_TRUE(folderLink.aliasTarget());
    EXPECT_EQ(folderLink.aliasTarget()->path(), canonical + "/real");
    EXPECT_EQ(folderLink.resolvedFileInfo().path(), canonical + "/real");
    EXPECT_TRUE(folderLink.find("file.txt").exists());
    EXPECT_TRUE(folderLink.resolveAlias());
    EXPECT_EQ(folderLink.path(), canonical + "/real");
    EXPECT_FALSE(folderLink.isAlias());
    EXPECT_FALSE(folderLink.resolveAlias());

    const VtrFileInfo fileLink(dir + "/filelink");
    EXPECT_TRUE(fileLink.isFile());
    EXPECT_TRUE(fileLink.isAlias());
    EXPECT_EQ(fileLink.size(), 13); // the link itself: "real/file.txt"
    EXPECT_EQ(fileLink.resolvedSize(), 3);
    EXPECT_EQ(VtrFileInfo::fileInfoResolveAliasesWithPath(fileLink.path()).path(), canonical + "/real/file.txt");
    EXPECT_EQ(VtrFileInfo(dir + "/folderlink/inner").resolvedPath(), canonical + "/real/inner");

    const VtrFileInfo dangling(dir + "/dangling");
    EXPECT_TRUE(dangling.exists());
    EXPECT_FALSE(dangling.isFile());
    EXPECT_FALSE(dangling.isFolder());
    EXPECT_FALSE(dangling.isAlias());
    EXPECT_FALSE(dangling.aliasTarget());
    EXPECT_TRUE(dangling.resolvedPath().isNull());
}

TEST(OldFileInfo, FileReferencesNameOneItem)
{
    const QString dir = testenv::makeTempDir();
    const QString path = dir + "/a.txt";
    testenv::writeFile(path, "1");
    const VtrFileRef ref = VtrFileInfo::fileRefFromPath(path);
    ASSERT_TRUE(ref.isValid());
    EXPECT_TRUE(VtrFileInfo::fileInfoWithFileRef(ref).exists());
    EXPECT_EQ(VtrFileInfo::pathFromFileRef(ref), path);
    EXPECT_FALSE(VtrFileInfo::fileRefFromPath(dir + "/missing").isValid());
    // Another file now under the same name is another item.
    QFile::remove(path);
    testenv::writeFile(dir + "/keep-inode-busy", "x");
    testenv::writeFile(path, "2");
    if (VtrFileInfo::fileRefFromPath(path).inode != ref.inode) {
        EXPECT_TRUE(VtrFileInfo::pathFromFileRef(ref).isNull());
    }
}

TEST(OldFileInfo, UniqueNamesSkipTakenOnesInAnyCase)
{
    const QString dir = testenv::makeTempDir();
    const VtrFileInfo folder(dir);
    testenv::writeFile(dir + "/a.txt", "");
    testenv::writeFile(dir + "/a-1.txt", "");
    testenv::writeFile(dir + "/notes", "");
    testenv::writeFile(dir + "/B.TXT", "");
    EXPECT_EQ(folder.uniqueFilename("a.txt"), "a-2.txt");
    EXPECT_EQ(folder.uniqueFilename("notes"), "notes-1");
    EXPECT_EQ(folder.uniqueFilename("b.txt"), "b-1.txt");
    EXPECT_EQ(folder.uniqueFilename("new.txt"), "new.txt");
}

TEST(OldFileInfo, CreatingFilesAndFolders)
{
    const QString dir = testenv::makeTempDir();
    const VtrFileInfo folder(dir);
    const QDateTime when = QDateTime(QDate(2010, 3, 4), QTime(5, 6, 7), Qt::UTC);
    auto made = folder.createFile("a.txt", "one", {{"NSFilePosixPermissions", 0600}, {"NSFileModificationDate", when}});
    ASSERT_TRUE(made);
    EXPECT_EQ(made->fileContents(), QByteArray("one"));
    EXPECT_EQ(made->attribute("NSFilePosixPermissions").toUInt(), 0600u);
    EXPECT_EQ(made->modificationDate(), when);
    EXPECT_EQ(made->modificationDate().timeSpec(), Qt::UTC);

    // An existing file is written over (same name in another case too);
    // with unique names a new one is made.
    ASSERT_TRUE(folder.createFile("A.TXT", "two", {}));
    EXPECT_EQ(testenv::readFile(dir + "/a.txt"), QByteArray("two"));
    auto unique = folder.createFile("a.txt", "three", {}, true);
    ASSERT_TRUE(unique);
    EXPECT_EQ(unique->name(), "a-1.txt");

    ASSERT_TRUE(folder.createFolder("sub"));
    EXPECT_FALSE(folder.createFile("sub", "x", {})) << "a folder is in the way";
    for (const QString &bad : {QString(), QString("."), QString(".."), QString("x/y"), QString("nul") + QChar(0)})
        EXPECT_FALSE(folder.createFile(bad, "x", {})) << bad.toStdString();

    auto deep = folder.createFolder("p/q/r");
    ASSERT_TRUE(deep);
    EXPECT_TRUE(deep->isFolder());
    EXPECT_EQ(folder.createFolder("p/q")->path(), dir + "/p/q");
    EXPECT_FALSE(folder.createFolder("a.txt"));
    EXPECT_FALSE(folder.createFolder("../escape"));
    EXPECT_FALSE(folder.createFolder("/abs"));
    EXPECT_FALSE(QFileInfo::exists(QFileInfo(dir).absolutePath() + "/escape"));
    // Through a file: beside it.
    EXPECT_EQ(made->createFolder("beside")->path(), dir + "/beside");

    EXPECT_FALSE(VtrFileInfo(dir + "/missing").setFileContents("x"));
    EXPECT_FALSE(QFileInfo::exists(dir + "/missing"));
    EXPECT_EQ(entries(dir), (QStringList{"a-1.txt", "a.txt", "beside", "p", "sub"}));
}

TEST(OldFileInfo, WritingThroughALinkKeepsTheLink)
{
    const QString dir = testenv::makeTempDir();
    testenv::writeFile(dir + "/target.txt", "old");
    makeLink("target.txt", dir + "/link.txt");
    VtrFileInfo link(dir + "/link.txt");
    ASSERT_TRUE(link.setFileContents("new"));
    EXPECT_TRUE(QFileInfo(link.path()).isSymLink());
    EXPECT_EQ(testenv::readFile(dir + "/target.txt"), QByteArray("new"));
}

TEST(OldFileInfo, CopyNeverReplacesAndLeavesNoTemporaryFiles)
{
    const QString dir = testenv::makeTempDir();
    testenv::writeFile(dir + "/src/album/one.mp3", "1111");
    testenv::writeFile(dir + "/src/album/sub/two.mp3", "22");
    makeLink("one.mp3", dir + "/src/album/link.mp3");
    QDir().mkpath(dir + "/dst");
    const VtrFileInfo album(dir + "/src/album");
    const VtrFileInfo dst(dir + "/dst");

    std::optional<VtrFileInfo> copied;
    ASSERT_EQ(album.copyTo(dst, &copied), 0);
    ASSERT_TRUE(copied);
    EXPECT_EQ(copied->path(), dir + "/dst/album");
    EXPECT_EQ(testenv::readFile(dir + "/dst/album/sub/two.mp3"), QByteArray("22"));
    EXPECT_EQ(QFileInfo(dir + "/dst/album/link.mp3").symLinkTarget(),
              QFileInfo(dir + "/dst/album/one.mp3").absoluteFilePath());

    // A file as destination means its folder.
    const VtrFileInfo one(dir + "/src/album/one.mp3");
    ASSERT_EQ(one.copyTo(VtrFileInfo(dir + "/dst/album/sub/two.mp3")), 0);
    EXPECT_EQ(testenv::readFile(dir + "/dst/album/sub/one.mp3"), QByteArray("1111"));

    // Something already there is never replaced.
    testenv::writeFile(dir + "/other/one.mp3", "keep");
    EXPECT_EQ(one.copyTo(VtrFileInfo(dir + "/other"), &copied), -1);
    EXPECT_FALSE(copied);
    EXPECT_EQ(testenv::readFile(dir + "/other/one.mp3"), QByteArray("keep"));
    EXPECT_EQ(one.copyTo(VtrFileInfo(dir + "/src/album")), -1) << "onto itself";

    EXPECT_EQ(VtrFileInfo(dir + "/nothing").copyTo(dst), -50);
    EXPECT_EQ(one.copyTo(VtrFileInfo(dir + "/no/such/folder")), -1);
    // Into itself it would never end.
    EXPECT_EQ(album.copyTo(VtrFileInfo(dir + "/src/album/sub")), -1);

    EXPECT_EQ(entries(dir + "/dst"), QStringList{"album"});
    EXPECT_EQ(entries(dir + "/other"), QStringList{"one.mp3"});
    EXPECT_EQ(entries(dir + "/src/album/sub"), QStringList{"two.mp3"});
}

TEST(OldFileInfo, RemovingAndRenaming)
{
    const QString dir = testenv::makeTempDir();
    testenv::writeFile(dir + "/f/a.txt", "a");
    testenv::writeFile(dir + "/f/deep/b.txt", "b");
    testenv::writeFile(dir + "/target.txt", "t");
    makeLink(dir + "/target.txt", dir + "/f/link");
    QDir().mkpath(dir + "/empty");

    EXPECT_TRUE(VtrFileInfo(dir + "/missing").remove());
    EXPECT_TRUE(VtrFileInfo(dir + "/empty").removeContents());
    EXPECT_FALSE(VtrFileInfo(dir + "/target.txt").removeContents());
    EXPECT_TRUE(VtrFileInfo(dir + "/f").removeContents());
    EXPECT_TRUE(entries(dir + "/f").isEmpty());
    EXPECT_TRUE(QFileInfo::exists(dir + "/target.txt")) << "a link's target stays";
    VtrFileInfo f(dir + "/f");
    EXPECT_TRUE(f.exists());
    EXPECT_TRUE(f.remove());
    EXPECT_FALSE(f.exists());

    VtrFileInfo t(dir + "/target.txt");
    testenv::writeFile(dir + "/taken.txt", "x");
    EXPECT_FALSE(t.setName("taken.txt"));
    EXPECT_EQ(testenv::readFile(dir + "/taken.txt"), QByteArray("x"));
    EXPECT_FALSE(t.setName("../up.txt"));
    EXPECT_TRUE(t.setNameKeepingExtension("renamed"));
    EXPECT_EQ(t.path(), dir + "/renamed.txt");
    EXPECT_TRUE(t.exists());
    EXPECT_TRUE(t.setName("Renamed.TXT"));
    EXPECT_EQ(entries(dir), (QStringList{"Renamed.TXT", "empty", "taken.txt"}));
}

TEST(OldFileInfo, ListingsAreSortedAndDeepListingsVisitEachItemOnce)
{
    const QString dir = testenv::makeTempDir();
    for (const char *p : {"/b.txt", "/A.txt", "/a.txt", "/sub/x.txt", "/sub/subsub/y.txt", "/sub/subsub/Y2.txt"})
        testenv::writeFile(dir + QLatin1String(p), "");
    const VtrFileInfo root(dir);
    EXPECT_EQ(names(root.folderContents()), (QStringList{"A.txt", "a.txt", "b.txt", "sub"}));
    EXPECT_TRUE(VtrFileInfo(dir + "/b.txt").folderContents().isEmpty());

    const QStringList deep = relative(dir, root.folderContentsDeepWithFilter(nullptr));
    EXPECT_EQ(deep, (QStringList{"A.txt", "a.txt", "b.txt", "sub/subsub/y.txt", "sub/subsub/Y2.txt", "sub/subsub",
                                 "sub/x.txt", "sub"}));

    // A link back up the tree is listed, but not entered again.
    makeLink(dir, dir + "/sub/subsub/loop");
    const QStringList looped = relative(dir, root.folderContentsDeepWithFilter(nullptr));
    EXPECT_EQ(looped.size(), deep.size() + 1);
    EXPECT_TRUE(looped.contains("sub/subsub/loop"));

    EXPECT_EQ(relative(dir, root.findDeep("Y.TXT")), QStringList{"sub/subsub/y.txt"});
    EXPECT_EQ(relative(dir, root.findDeep("a.txt")), (QStringList{"A.txt", "a.txt"}));
    ASSERT_TRUE(root.findFirstDeep("x.txt"));
    EXPECT_EQ(root.findFirstDeep("x.txt")->name(), "x.txt");
    EXPECT_FALSE(root.findFirstDeep("none"));

    // A filter that stops after the first item ends the listing.
    struct First : VtrFileInfoFilter
    {
        bool includeItem(const VtrFileInfo &, bool *stop) override
        {
            *stop = true;
            return true;
        }
    } first;
    EXPECT_EQ(names(root.folderContentsWithFilter(&first)), QStringList{"A.txt"});
}

TEST(OldFileInfo, AddingFolderContentsSkipsFoldersAlreadyHeld)
{
    const QString dir = testenv::makeTempDir();
    testenv::writeFile(dir + "/sub/x", "");
    testenv::writeFile(dir + "/file", "");
    makeLink(dir + "/sub", dir + "/sublink");
    makeLink(dir + "/file", dir + "/filelink");
    QList<VtrFileInfo> array;
    VtrFileInfo(dir).addFolderContentsToArray(array);
    EXPECT_EQ(names(array), (QStringList{"file", "filelink", "sub"}));
}

TEST(OldFileInfo, NestedFolderFilterComparesWholeComponents)
{
    const QString home = platform::homeFolder();
    const QString dir = testenv::makeTempDir();
    for (const char *f : {"/Music/Old", "/Movies", "/MusicOld"})
        QDir().mkpath(home + QLatin1String(f));
    makeLink(home + "/Music/Old", dir + "/toOld");
    makeLink(home + "/Music", dir + "/toMusic");
    makeLink(home + "/Movies", dir + "/toMovies");
    makeLink(home + "/MusicOld", dir + "/toMusicOld");
    testenv::writeFile(dir + "/plain", "");
    FilterNestedFolders filter("~/Music");
    EXPECT_EQ(names(VtrFileInfo(dir).folderContentsWithFilter(&filter)),
              (QStringList{"plain", "toMovies", "toMusicOld"}));
    testenv::removeTree(home + "/Music");
    testenv::removeTree(home + "/Movies");
    testenv::removeTree(home + "/MusicOld");
}

TEST(OldFileInfo, AttributesSizesDatesAndIdentity)
{
    const QString dir = testenv::makeTempDir();
    const QString big = dir + "/big.mov";
    {
        // A sparse file above 4 GiB: sizes are never cut to 32 bits.
        const int fd = ::open(QFile::encodeName(big).constData(), O_CREAT | O_WRONLY, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, 5LL << 30), 0);
        ::close(fd);
    }
    const VtrFileInfo item(big);
    EXPECT_EQ(item.size(), 5LL << 30);
    EXPECT_EQ(item.attribute("NSFileType").toString(), "NSFileTypeRegular");
    EXPECT_EQ(VtrFileInfo(dir).attribute("NSFileType").toString(), "NSFileTypeDirectory");
    EXPECT_EQ(VtrFileInfo(dir + "/none").size(), 0);
    EXPECT_FALSE(VtrFileInfo(dir + "/none").fileContents());
    EXPECT_FALSE(VtrFileInfo(dir).fileContents());

    VtrFileInfo changing(big);
    const QDateTime when(QDate(2001, 2, 3), QTime(4, 5, 6), Qt::UTC);
    EXPECT_TRUE(changing.setModificationDate(when));
    EXPECT_EQ(changing.modificationDate(), when);
    EXPECT_FALSE(changing.setCreationDate(when));

    // Paths that differ in case are one item only when they name the same file.
    testenv::writeFile(dir + "/song.mp3", "a");
    testenv::writeFile(dir + "/SONG.mp3", "b");
    EXPECT_FALSE(VtrFileInfo(dir + "/song.mp3") == VtrFileInfo(dir + "/SONG.mp3"));
    EXPECT_TRUE(VtrFileInfo(dir + "/song.mp3") == VtrFileInfo(dir + "/x/../song.mp3"));
    EXPECT_FALSE(VtrFileInfo(dir + "/a") == VtrFileInfo(dir + "/A"));

    const VtrFileInfo folder(dir + "/Music");
    QDir().mkpath(folder.path());
    EXPECT_TRUE(folder.contains(VtrFileInfo(dir + "/Music/a/b")));
    EXPECT_FALSE(folder.contains(VtrFileInfo(dir + "/MusicOld/a")));
    EXPECT_FALSE(folder.contains(folder));
    EXPECT_FALSE(VtrFileInfo(big).contains(VtrFileInfo(big + "/x")));
}

TEST(OldFileInfo, StandardFolders)
{
    const QString home = platform::homeFolder();
    testenv::removeTree(home + "/Music");
    EXPECT_FALSE(VtrFileInfo::findFolder(VtrFileInfo::kUserDomain, VtrFileInfo::kMusicDocumentsFolderType, false));
    const auto music = VtrFileInfo::findFolder(VtrFileInfo::kUserDomain, VtrFileInfo::kMusicDocumentsFolderType, true);
    ASSERT_TRUE(music);
    EXPECT_TRUE(music->isFolder());
    EXPECT_TRUE(music->path().startsWith(home + QLatin1Char('/')));
    EXPECT_EQ(VtrFileInfo::findFolderPath(VtrFileInfo::kUserDomain, VtrFileInfo::kCurrentUserFolderType, false), home);
    EXPECT_TRUE(VtrFileInfo::findFolderPath(VtrFileInfo::kUserDomain, vtrFileInfoTypeCode("zzzz"), true).isNull());
    EXPECT_TRUE(VtrFileInfo::findFolderPath(7, VtrFileInfo::kDocumentsFolderType, true).isNull());
    EXPECT_TRUE(VtrFileInfo::tempFolder().isFolder());
    ASSERT_TRUE(VtrFileInfo::userAppSupportFolder());
    EXPECT_TRUE(VtrFileInfo::userAppSupportFolder()->path().startsWith(home) ||
                !qEnvironmentVariableIsEmpty("XDG_DATA_HOME"));
    testenv::removeTree(home + "/Music");
}

TEST(OldFileInfoNode, TreeOfNodes)
{
    const QString dir = testenv::makeTempDir();
    testenv::writeFile(dir + "/root/b.txt", "");
    testenv::writeFile(dir + "/root/A/c.txt", "");
    makeLink(dir + "/root/A", dir + "/root/alias");

    auto root = FileInfoNode::fileInfoNodeWithPath(dir + "/root");
    ASSERT_EQ(root->numChildren(), 3);
    QStringList childNames;
    for (const auto &c : root->children())
        childNames.append(c->name());
    EXPECT_EQ(childNames, (QStringList{"A", "alias", "b.txt"}));
    auto alias = root->findWithName("ALIAS");
    ASSERT_TRUE(alias);
    EXPECT_TRUE(alias->isAlias());
    EXPECT_TRUE(alias->isFolder());
    EXPECT_EQ(alias->resolvedPath(), QFileInfo(dir + "/root/A").canonicalFilePath());
    EXPECT_EQ(alias->numChildren(), 1);
    EXPECT_FALSE(root->findWithName("none"));

    // The parent holds this very node among its listed children.
    auto a = root->findWithName("a");
    auto parent = a->parent();
    EXPECT_EQ(parent->path(), dir + "/root");
    EXPECT_EQ(parent->findWithName("A"), a);
    EXPECT_EQ(parent->numChildren(), 3);

    auto made = a->createFile("new.txt", "x", {});
    ASSERT_TRUE(made);
    EXPECT_EQ(a->numChildren(), 2);
    EXPECT_FALSE(root->findWithName("b.txt")->createFile("n", "", {}));
    ASSERT_TRUE(root->createFolder("New"));
    EXPECT_EQ(root->numChildren(), 4);

    // Filters reach children already listed.
    struct NoTxt : VtrFileInfoFilter
    {
        bool includeItem(const VtrFileInfo &i, bool *) override { return i.extension() != QLatin1String("txt"); }
    };
    auto fresh = FileInfoNode::fileInfoNodeWithPath(dir + "/root");
    fresh->setFolderContentsFilter(std::make_shared<NoTxt>());
    EXPECT_EQ(fresh->numChildren(), 3);
    EXPECT_EQ(fresh->findWithName("A")->numChildren(), 0);

    const QVariantMap archived = root->encodeWithCoder();
    EXPECT_EQ(archived.value("Item Path").toString(), dir + "/root");
    EXPECT_EQ(archived.value("Children").toList().size(), 4);
    auto restored = FileInfoNode::initWithCoder(archived);
    EXPECT_EQ(restored->path(), root->path());
    EXPECT_EQ(restored->numChildren(), 4);
    EXPECT_EQ(FileInfoNode(VtrFileInfo()).name(), QString(QLatin1String("")));
}
