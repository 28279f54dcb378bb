// The root's defaults and the generic algorithms that rest on other
// operations: sizes, removal, unique names, finding, listings, records and
// the volume identifier file.

#include "fileinfo/VtrBaseFileInfo.h"
#include "fileinfo/VtrFileInfoFilters.h"
#include "foundation/Log.h"
#include "support/MemoryFileInfo.h"

#include <gtest/gtest.h>

namespace {

QStringList names(const VtrFileInfoList &items)
{
    QStringList out;
    for (const VtrFileInfoPtr &item : items)
        out.append(item->name());
    return out;
}

QStringList list(std::initializer_list<const char *> items)
{
    QStringList out;
    for (const char *s : items)
        out.append(QString::fromUtf8(s));
    return out;
}

class LogCapture
{
public:
    LogCapture()
    {
        LogSetSystemLogSink([this](const QString &m) { messages.append(m); });
    }
    ~LogCapture() { LogSetSystemLogSink(nullptr); }
    QStringList messages;
};

} // namespace

TEST(BaseFileInfo, RootAnswersTheDefaults)
{
    EXPECT_EQ(VtrBaseFileInfo::fileInfoWithPath(QStringLiteral("/tmp")), nullptr);
    VtrFileInfoPtr root = VtrBaseFileInfo::fileInfo();
    VtrFileInfoPtr found = root->find(QStringLiteral("x"));
    ASSERT_TRUE(found);
    EXPECT_FALSE(found->exists());

    EXPECT_EQ(root->path(), QStringLiteral(""));
    EXPECT_FALSE(root->path().isNull());
    EXPECT_EQ(root->name(), QStringLiteral(""));
    EXPECT_EQ(root->extension(), QStringLiteral(""));
    EXPECT_TRUE(root->pathComponents().isEmpty());
    EXPECT_EQ(root->parentFolder(), nullptr);
    EXPECT_EQ(root->volume(), nullptr);
    EXPECT_TRUE(root->uuid().isNull());
    EXPECT_TRUE(root->volumeRelativeStandardPath().isNull());
    EXPECT_TRUE(root->relativePathTo(root).isNull());
    EXPECT_FALSE(root->exists() || root->isFile() || root->isFolder() || root->isVolume() || root->isBundle() ||
                 root->isLocked() || root->hasDRM() || root->resolveAlias() || root->contains(root) ||
                 root->isEqualTo(root));
    EXPECT_TRUE(root->visible());
    EXPECT_EQ(root->resolvedFileInfo(), root);
    EXPECT_EQ(root->aliasTarget(), nullptr);
    EXPECT_EQ(root->kindString(), QStringLiteral("unknown"));
    EXPECT_FALSE(root->icon().isNull());
    EXPECT_EQ(root->smallIcon().size(), QSize(16, 16));
    EXPECT_TRUE(root->metadata().isEmpty());
    EXPECT_FALSE(root->creationDate().isValid());
    EXPECT_TRUE(root->supportsCreationDate() && root->supportsModificationDate() && root->supportsTimezones());

    EXPECT_EQ(root->size(), 0);
    EXPECT_EQ(root->freeSpaceOnVolume(), 0);
    EXPECT_EQ(root->_freeSpaceToKeepOnVolume(), 0);
    EXPECT_EQ(root->preferredChunkSize(), 8192);
    EXPECT_EQ(root->maxPathLength(), 0);

    EXPECT_TRUE(root->findDeep(QStringLiteral("x")).isEmpty());
    EXPECT_EQ(root->findFirstDeep(QStringLiteral("x")), nullptr);
    EXPECT_EQ(root->findWithWindowsName(QStringLiteral("x")), nullptr);
    EXPECT_TRUE(root->folderContents().isEmpty());
    EXPECT_EQ(root->createFile(QStringLiteral("x"), "1", {}), nullptr);
    EXPECT_EQ(root->createFolder(QStringLiteral("x")), nullptr);
    EXPECT_EQ(root->createUniqueFolder(QStringLiteral("x")), nullptr);
    EXPECT_EQ(root->tempFolder(), nullptr);
    EXPECT_FALSE(root->remove());
    EXPECT_FALSE(root->removeContents());

    const QByteArray contents = root->fileContents();
    EXPECT_TRUE(contents.isEmpty());
    EXPECT_FALSE(contents.isNull()) << "empty data, not nil";
    EXPECT_FALSE(root->setFileContents("x"));
    EXPECT_EQ(root->openFileForReading(), nullptr);
    EXPECT_EQ(root->openFileForWriting(), nullptr);
    EXPECT_TRUE(root->fileContentsWithRange({0, 10}, nullptr).isNull());
    EXPECT_EQ(root->setFileContentsWithRange("x", {0, 1}, nullptr), kFileInfoCopyNotSupported);
    EXPECT_EQ(root->moveTo(root), kFileInfoCopyNotSupported);
    EXPECT_EQ(root->copyFromFile(root, false, nullptr, nullptr, nullptr), kFileInfoCopyKindCannot);
    EXPECT_EQ(root->copyTo(VtrBaseFileInfo::fileInfo()), kFileInfoCopySourceMissing);
    EXPECT_TRUE(root->zip().isNull());
    EXPECT_TRUE(root->ditto().isNull());
    EXPECT_TRUE(root->unzip().isEmpty());
    EXPECT_EQ(root->zipToFolder(root), nullptr);
    EXPECT_TRUE(root->UDID(true).isNull());
}

TEST(BaseFileInfo, PathLengthAndValidNames)
{
    auto p = VtrPathBasedFileInfo::fileInfoWithPath(QStringLiteral("/a\u00e9"));
    EXPECT_EQ(p->numBytesNeededForPath(), 6) << "two bytes per UTF-16 unit";
    VtrFileInfoPtr root = VtrBaseFileInfo::fileInfo();
    EXPECT_EQ(root->makeValidFilename(QStringLiteral("Caf\u00e9: Live."), false), QStringLiteral("Caf\u00e9_ Live_"));
    EXPECT_EQ(root->makeValidFilename(QStringLiteral("Caf\u00e9: Live."), true), QStringLiteral("CafU00E9_ Live_"));
}

TEST(BaseFileInfo, OldValuesAndCancelFlag)
{
    VtrFileInfoPtr root = VtrBaseFileInfo::fileInfo();
    EXPECT_FALSE(root->oldFileSize().has_value());
    root->setOldFileSize(qint64(6) << 30);
    EXPECT_EQ(root->oldFileSize().value_or(0), qint64(6) << 30);
    root->cancelCopy();
    EXPECT_TRUE(root->isCopyCancelled());
    EXPECT_FALSE(root->deviceControlsCopy());
    root->setDeviceControlsCopy(true);
    EXPECT_TRUE(root->deviceControlsCopy());
}

// ---- sizes and removal --------------------------------------------------------------------

TEST(BaseFileInfo, FolderSizeIsTheWholeTree)
{
    auto store = MemoryStore::create();
    store->addFolder(QStringLiteral("/empty"));
    store->addFile(QStringLiteral("/f/three"), "abc");
    store->addFile(QStringLiteral("/f/sub/five"), "abcde");
    EXPECT_EQ(store->info(QStringLiteral("/empty"))->size(), 0);
    EXPECT_EQ(store->info(QStringLiteral("/f"))->size(), 8);

    // A link back to an ancestor must neither loop nor count twice.
    store->addLink(QStringLiteral("/f/sub/up"), QStringLiteral("/f"));
    store->addLink(QStringLiteral("/f/self"), QStringLiteral("/f"));
    EXPECT_EQ(store->info(QStringLiteral("/f"))->size(), 8);
}

TEST(BaseFileInfo, RemoveContentsTriesEveryChild)
{
    auto store = MemoryStore::create();
    store->addFolder(QStringLiteral("/empty"));
    EXPECT_TRUE(store->info(QStringLiteral("/empty"))->removeContents());

    store->addFile(QStringLiteral("/d/a"), "1");
    store->addFile(QStringLiteral("/d/b"), "2");
    store->addFile(QStringLiteral("/d/c/x"), "3");
    store->refuseRemoveNames.insert(QStringLiteral("b"));
    EXPECT_FALSE(store->info(QStringLiteral("/d"))->removeContents());
    EXPECT_FALSE(store->hasItem(QStringLiteral("/d/a")));
    EXPECT_TRUE(store->hasItem(QStringLiteral("/d/b")));
    EXPECT_FALSE(store->hasItem(QStringLiteral("/d/c")));
    EXPECT_FALSE(store->info(QStringLiteral("/d/b"))->removeContents()) << "a file has no contents to remove";
}

TEST(BaseFileInfo, RemoveEmptySubfoldersOneLevel)
{
    auto store = MemoryStore::create();
    store->addFile(QStringLiteral("/d/onlyHidden/.DS_Store"), "x");
    store->addFile(QStringLiteral("/d/hiddenFlag/secret"), "x");
    store->setHidden(QStringLiteral("/d/hiddenFlag/secret"), true);
    store->addFile(QStringLiteral("/d/visible/a.txt"), "x");
    store->addFolder(QStringLiteral("/d/nested/inner"));
    store->addFile(QStringLiteral("/d/file.txt"), "x");
    store->info(QStringLiteral("/d"))->removeEmptySubfolders();
    EXPECT_FALSE(store->hasItem(QStringLiteral("/d/onlyHidden")));
    EXPECT_FALSE(store->hasItem(QStringLiteral("/d/hiddenFlag")));
    EXPECT_TRUE(store->hasItem(QStringLiteral("/d/visible/a.txt")));
    EXPECT_TRUE(store->hasItem(QStringLiteral("/d/nested/inner"))) << "one level only";
    EXPECT_TRUE(store->hasItem(QStringLiteral("/d/file.txt")));
}

TEST(BaseFileInfo, CreateFolderWithPathComponents)
{
    auto store = MemoryStore::create();
    store->addFile(QStringLiteral("/d/file.txt"), "x");
    auto folder = store->info(QStringLiteral("/d"));
    EXPECT_EQ(folder->createFolderWithPathComponents({})->path(), QStringLiteral("/d"));
    EXPECT_EQ(store->info(QStringLiteral("/d/file.txt"))->createFolderWithPathComponents({})->path(),
              QStringLiteral("/d"));
    VtrFileInfoPtr inner = folder->createFolderWithPathComponents(list({"a", "b"}));
    ASSERT_TRUE(inner);
    EXPECT_EQ(inner->path(), QStringLiteral("/d/a/b"));
    EXPECT_TRUE(inner->isFolder());
    EXPECT_EQ(folder->createFolderWithPathComponents(list({"file.txt", "c"})), nullptr);
}

// ---- names and finding --------------------------------------------------------------------

TEST(BaseFileInfo, UniqueFilenames)
{
    auto store = MemoryStore::create();
    store->addFile(QStringLiteral("/d/x.txt"), "1");
    store->addFile(QStringLiteral("/d/x-1.txt"), "1");
    store->addFile(QStringLiteral("/d/a.tar.gz"), "1");
    store->addFile(QStringLiteral("/d/README"), "1");
    store->addFile(QStringLiteral("/d/SONG.MP3"), "1");
    auto folder = store->info(QStringLiteral("/d"));
    EXPECT_EQ(folder->uniqueFilename(QStringLiteral("x.txt")), QStringLiteral("x-2.txt"));
    EXPECT_EQ(folder->uniqueFilename(QStringLiteral("a.tar.gz")), QStringLiteral("a.tar-1.gz"));
    EXPECT_EQ(folder->uniqueFilename(QStringLiteral("README")), QStringLiteral("README-1"));
    EXPECT_EQ(folder->uniqueFilename(QStringLiteral("new.txt")), QStringLiteral("new.txt"));
    EXPECT_EQ(folder->uniqueFilename(QStringLiteral("song.mp3")), QStringLiteral("song-1.mp3"));
    EXPECT_EQ(store->info(QStringLiteral("/d/README"))->uniqueFilename(QStringLiteral("x.txt")),
              QStringLiteral("x-2.txt"))
        << "beside a file";
}

TEST(BaseFileInfo, FindingByName)
{
    auto store = MemoryStore::create();
    store->addFile(QStringLiteral("/d/a:b.txt"), "colon");
    store->addFolder(QStringLiteral("/d/Music"));
    store->addFolder(QStringLiteral("/d/x/music"));
    store->addFile(QStringLiteral("/d/music.txt"), "1");
    auto folder = store->info(QStringLiteral("/d"));

    VtrFileInfoPtr byWindowsName = folder->findWithWindowsName(QStringLiteral("a_b.txt"));
    ASSERT_TRUE(byWindowsName);
    EXPECT_EQ(byWindowsName->name(), QStringLiteral("a:b.txt"));
    store->addFile(QStringLiteral("/d/A_B.TXT"), "exact");
    EXPECT_EQ(folder->findWithWindowsName(QStringLiteral("a_b.txt"))->name(), QStringLiteral("A_B.TXT"))
        << "an exact name wins over a valid form";
    EXPECT_EQ(folder->findWithWindowsName(QStringLiteral("none")), nullptr);
    EXPECT_EQ(store->info(QStringLiteral("/d/music.txt"))->findWithWindowsName(QStringLiteral("a_b.txt")), nullptr);

    EXPECT_EQ(names(folder->findAllFoldersWithName(QStringLiteral("MUSIC"))), list({"Music"}));
    EXPECT_EQ(folder->findChildIgnoringCase(QStringLiteral("MUSIC.TXT"))->name(), QStringLiteral("music.txt"));
    EXPECT_EQ(folder->findChildIgnoringCase(QStringLiteral("nothing")), nullptr);
    EXPECT_EQ(folder->find(QStringLiteral("MUSIC.txt"))->path(), QStringLiteral("/d/music.txt"));
}

// ---- listings -------------------------------------------------------------------------------

TEST(BaseFileInfo, ListingsAreSortedIgnoringCaseThenBytewise)
{
    auto store = MemoryStore::create();
    for (const char *n : {"b", "a", "C", "A", "_x", "B2"})
        store->addFile(QStringLiteral("/d/") + QString::fromUtf8(n), "1");
    EXPECT_EQ(names(store->info(QStringLiteral("/d"))->folderContents()), list({"_x", "A", "a", "b", "B2", "C"}));
}

TEST(BaseFileInfo, RecursiveListingOrderAndHiddenItems)
{
    auto store = MemoryStore::create();
    store->addFile(QStringLiteral("/r/A/B/f"), "1");
    EXPECT_EQ(names(store->info(QStringLiteral("/r"))->folderContentsDeepWithFilter(nullptr)), list({"f", "B", "A"}));

    auto hidden = MemoryStore::create();
    hidden->addFile(QStringLiteral("/r/.hidden/f"), "1");
    hidden->addFile(QStringLiteral("/r/v/g"), "1");
    auto r = hidden->info(QStringLiteral("/r"));
    EXPECT_EQ(names(r->folderContentsDeepWithFilter(nullptr, false)), list({"g", "v"}));
    EXPECT_EQ(names(r->folderContentsDeepWithFilter(nullptr)), list({"f", ".hidden", "g", "v"}));

    // With a filter that accepts everything, a dot folder is still not entered
    // when hidden items are unwanted.
    VtrFileExtensionsFilter all(list({""}));
    all.setAllowFolders(true);
    EXPECT_EQ(names(r->folderContentsDeepWithFilter(&all, false)), list({".hidden", "g", "v"}));
}

TEST(BaseFileInfo, RecursiveListingStopEndsOnlyThatFolder)
{
    auto store = MemoryStore::create();
    store->addFile(QStringLiteral("/r/a/hit"), "1");
    store->addFile(QStringLiteral("/r/a/z"), "1");
    store->addFile(QStringLiteral("/r/b/hit"), "1");
    VtrFindItemFilter firstHit(QStringLiteral("HIT"), true, true);
    EXPECT_EQ(names(store->info(QStringLiteral("/r"))->folderContentsDeepWithFilter(&firstHit)), list({"hit", "hit"}));
    VtrFindItemFilter exact(QStringLiteral("HIT"), false, false);
    EXPECT_TRUE(store->info(QStringLiteral("/r"))->folderContentsDeepWithFilter(&exact).isEmpty());
}

TEST(BaseFileInfo, ListingsSurviveLinksIntoTheirOwnTree)
{
    auto store = MemoryStore::create();
    store->addFile(QStringLiteral("/r/a/f"), "1");
    store->addLink(QStringLiteral("/r/a/up"), QStringLiteral("/r"));
    store->addLink(QStringLiteral("/r/a/top"), QStringLiteral("/"));
    store->addLink(QStringLiteral("/r/self"), QStringLiteral("/r"));
    store->addFile(QStringLiteral("/other/o"), "1");
    store->addLink(QStringLiteral("/r/out"), QStringLiteral("/other"));

    // One level: a link leading back into the listed folder is left out.
    EXPECT_EQ(names(store->info(QStringLiteral("/r"))->folderContents()), list({"a", "out"}));
    // Deep: the walk ends, enters a link that leads elsewhere once, and never
    // a link to the walk's root or above it.
    const QStringList deep = names(store->info(QStringLiteral("/r"))->folderContentsDeepWithFilter(nullptr));
    EXPECT_EQ(deep, list({"f", "top", "up", "a", "o", "out"}));
}

// ---- records ---------------------------------------------------------------------------------

TEST(BaseFileInfo, SavedRecordsAndTheirComparison)
{
    auto store = MemoryStore::create();
    store->addFile(QStringLiteral("/Music/a.mp3"), "1");
    const QVariantMap info = store->info(QStringLiteral("/Music/a.mp3"))->savedInfo();
    EXPECT_EQ(info.value(QStringLiteral("originalPath")).toString(), QStringLiteral("/Music/a.mp3"));
    EXPECT_TRUE(info.value(QStringLiteral("isFile")).toBool());
    EXPECT_EQ(info.value(QStringLiteral("volumeStandardPath")).toString(), QStringLiteral("/"));
    EXPECT_EQ(info.value(QStringLiteral("volumeRelativeStandardPath")).toString(), QStringLiteral("Music/a.mp3"));
    EXPECT_EQ(info.value(QStringLiteral("humanFriendlyPath")).toString(), QStringLiteral("/Music/a.mp3"));
    EXPECT_FALSE(info.contains(QStringLiteral("volumeUUID")));

    auto record = [](const char *rel, const char *vol, int memoryType) {
        QVariantMap m{{QStringLiteral("volumeRelativeStandardPath"), QString::fromUtf8(rel)},
                      {QStringLiteral("volumeStandardPath"), QString::fromUtf8(vol)}};
        if (memoryType >= 0) m.insert(QStringLiteral("memoryType"), memoryType);
        return m;
    };
    struct Row
    {
        const char *what;
        QVariantMap a, b;
        bool similar;
    };
    const Row rows[] = {
        {"phone card moved", record("Music/a", "/media/A", 2), record("music/A", "/media/B", 2), true},
        {"ordinary volume elsewhere", record("Music/a", "/media/A", 0), record("Music/a", "/media/B", 0), false},
        {"ordinary volume same", record("Music/a", "/media/A", 0), record("Music/a", "/MEDIA/a", 0), true},
        {"both without type", record("Music/a", "/x", -1), record("Music/a", "/y", -1), true},
        {"one without type", record("Music/a", "/x", -1), record("Music/a", "/x", 0), false},
        {"types differ", record("Music/a", "/x", 1), record("Music/a", "/x", 2), false},
        {"paths differ", record("Music/a", "/x", 2), record("Music/b", "/x", 2), false},
        {"empty record", QVariantMap(), record("Music/a", "/x", 2), false},
        {"ordinary volume paths unknown",
         QVariantMap{{QStringLiteral("volumeRelativeStandardPath"), QStringLiteral("a")},
                     {QStringLiteral("memoryType"), 0}},
         QVariantMap{{QStringLiteral("volumeRelativeStandardPath"), QStringLiteral("a")},
                     {QStringLiteral("memoryType"), 0}},
         false},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(VtrBaseFileInfo::savedFileInfo(row.a, row.b), row.similar);
        EXPECT_EQ(VtrBaseFileInfo::savedFileInfo(row.b, row.a), row.similar);
    }
}

TEST(BaseFileInfo, SyncCriteria)
{
    auto store = MemoryStore::create();
    const QDateTime modified(QDate(2012, 3, 4), QTime(5, 6, 7), Qt::UTC);
    store->addFile(QStringLiteral("/Music/a.mp3"), "12345", modified);
    const QVariantMap c = store->info(QStringLiteral("/Music/a.mp3"))->syncCriteria();
    EXPECT_EQ(c.value(QStringLiteral("path")).toString(), QStringLiteral("MUSIC/A.MP3"));
    EXPECT_TRUE(c.value(QStringLiteral("isFile")).toBool());
    EXPECT_EQ(c.value(QStringLiteral("fileSize")).toLongLong(), 5);
    EXPECT_EQ(c.value(QStringLiteral("modificationDateObject")).toDateTime(), modified);
    EXPECT_EQ(c.value(QStringLiteral("modificationDateString")).toString(), QStringLiteral("20120304050607"));
    EXPECT_TRUE(c.value(QStringLiteral("supportsTimeZones")).toBool());
    EXPECT_FALSE(c.contains(QStringLiteral("uuid")));

    store->addFolder(QStringLiteral("/Empty"));
    const QVariantMap folder = store->info(QStringLiteral("/Empty"))->syncCriteria();
    EXPECT_FALSE(folder.contains(QStringLiteral("fileSize")));
}

// ---- volume identifier file ----------------------------------------------------------------------

TEST(BaseFileInfo, VolumeIdentifierFile)
{
    const QString txt = QStringLiteral("/.TrundlexUDID.txt");
    {
        SCOPED_TRACE("no file, no create: nothing written");
        auto store = MemoryStore::create();
        store->addFile(QStringLiteral("/Music/a.mp3"), "1");
        EXPECT_TRUE(store->info(QStringLiteral("/Music/a.mp3"))->UDID().isNull());
        EXPECT_FALSE(store->hasItem(txt));
    }
    {
        SCOPED_TRACE("create writes a new identifier, read back later");
        auto store = MemoryStore::create();
        const QString id = store->info(QStringLiteral("/"))->UDID(true);
        EXPECT_EQ(id.size(), 36);
        EXPECT_EQ(store->lookup(txt)->data, id.toUtf8());
        EXPECT_EQ(store->info(QStringLiteral("/"))->UDID(), id);
    }
    {
        SCOPED_TRACE("an empty file is replaced only with the create flag");
        auto store = MemoryStore::create();
        store->addFile(txt, "");
        LogCapture log;
        EXPECT_EQ(store->info(QStringLiteral("/"))->UDID(false), QStringLiteral(""));
        ASSERT_FALSE(log.messages.isEmpty());
        EXPECT_TRUE(
            log.messages.last().contains(QStringLiteral("Couldn't read UDID from file \"/.TrundlexUDID.txt\".")));
        const QString id = store->info(QStringLiteral("/"))->UDID(true);
        EXPECT_EQ(id.size(), 36);
        EXPECT_EQ(store->lookup(txt)->data, id.toUtf8());
    }
    {
        SCOPED_TRACE("the old name is migrated with its contents");
        auto store = MemoryStore::create();
        store->addFile(QStringLiteral("/.TrundlexUDID"), "OLD-ID");
        EXPECT_EQ(store->info(QStringLiteral("/"))->UDID(), QStringLiteral("OLD-ID"));
        EXPECT_FALSE(store->hasItem(QStringLiteral("/.TrundlexUDID")));
        EXPECT_EQ(store->lookup(txt)->data, QByteArray("OLD-ID"));
    }
    {
        SCOPED_TRACE("a failed write is logged and answers nil");
        auto store = MemoryStore::create();
        store->refuseCreateNames.insert(QStringLiteral(".TrundlexUDID.txt"));
        LogCapture log;
        EXPECT_TRUE(store->info(QStringLiteral("/"))->UDID(true).isNull());
        ASSERT_FALSE(log.messages.isEmpty());
        EXPECT_TRUE(log.messages.last().contains(QStringLiteral("Failed to write UDID to file")));
    }
}
