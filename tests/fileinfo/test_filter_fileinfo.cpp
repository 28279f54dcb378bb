// The listing filters, each run through a real listing of the memory kind.

#include "fileinfo/VtrFileInfoFilters.h"
#include "foundation/Log.h"
#include "platform/Folders.h"
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

std::shared_ptr<MemoryStore> mediaFolder()
{
    auto store = MemoryStore::create();
    store->addFile(QStringLiteral("/m/a.MP3"), "1");
    store->addFile(QStringLiteral("/m/b.mp4"), "1");
    store->addFile(QStringLiteral("/m/empty.mp3"), "");
    store->addFile(QStringLiteral("/m/.dot.mp3"), "1");
    store->addFile(QStringLiteral("/m/hidden.mp3"), "1");
    store->setHidden(QStringLiteral("/m/hidden.mp3"), true);
    store->addFile(QStringLiteral("/m/README"), "1");
    store->addFolder(QStringLiteral("/m/x.mp3"));
    store->addFolder(QStringLiteral("/m/Sub"));
    return store;
}

} // namespace

TEST(FileFilters, KindFilters)
{
    auto store = mediaFolder();
    auto m = store->info(QStringLiteral("/m"));
    EXPECT_EQ(names(m->folderContentsWithFilter(VtrFilesOnlyFilter::filter().get())),
              list({".dot.mp3", "a.MP3", "b.mp4", "empty.mp3", "hidden.mp3", "README"}));
    EXPECT_EQ(names(m->folderContentsWithFilter(VtrFoldersOnlyFilter::filter().get())), list({"Sub", "x.mp3"}));
    EXPECT_EQ(names(m->folderContentsWithFilter(VtrVisibleItemsFilter::filter().get())),
              list({"a.MP3", "b.mp4", "empty.mp3", "README", "Sub", "x.mp3"}));
}

TEST(FileFilters, Extensions)
{
    auto store = mediaFolder();
    auto m = store->info(QStringLiteral("/m"));
    auto mp3 = VtrFileExtensionsFilter::filterWithExtensions(list({"mp3"}));
    EXPECT_EQ(names(m->folderContentsWithFilter(mp3.get())), list({".dot.mp3", "a.MP3", "empty.mp3", "hidden.mp3"}))
        << "a folder named x.mp3 is not a media file";

    mp3->setAllowFolders(true);
    EXPECT_EQ(names(m->folderContentsWithFilter(mp3.get())),
              list({".dot.mp3", "a.MP3", "empty.mp3", "hidden.mp3", "Sub", "x.mp3"}));

    mp3->setAllowFolders(false);
    mp3->setHideEmptyFiles(true);
    EXPECT_TRUE(mp3->hideEmptyFiles());
    EXPECT_FALSE(names(m->folderContentsWithFilter(mp3.get())).contains(QStringLiteral("empty.mp3")));

    QStringList logged;
    LogSetSystemLogSink([&](const QString &s) { logged.append(s); });
    mp3->setHideHiddenFilesAndFolders(true);
    EXPECT_EQ(names(m->folderContentsWithFilter(mp3.get())), list({"a.MP3"}));
    LogSetSystemLogSink(nullptr);
    EXPECT_TRUE(logged.join(QLatin1Char('\n')).contains(QStringLiteral("Skipping item \"/m/.dot.mp3\"")));
    EXPECT_TRUE(logged.join(QLatin1Char('\n')).contains(QStringLiteral("Skipping item \"/m/hidden.mp3\"")));

    auto none = VtrFileExtensionsFilter::filterWithExtensions(list({""}));
    EXPECT_EQ(names(m->folderContentsWithFilter(none.get())), list({"README"}))
        << "an item without extension matches only the empty extension";
}

TEST(FileFilters, ExcludedNames)
{
    auto store = MemoryStore::create();
    store->addFile(QStringLiteral("/d/.ds_store"), "1");
    store->addFile(QStringLiteral("/d/a.txt"), "1");
    store->addFolder(QStringLiteral("/d/folder"));
    auto d = store->info(QStringLiteral("/d"));
    EXPECT_EQ(names(d->folderContentsWithFilter(
                  VtrExcludeFilenamesFilter::filterWithFilenames(list({".DS_Store"}), false).get())),
              list({"a.txt"}));
    EXPECT_EQ(names(d->folderContentsWithFilter(
                  VtrExcludeFilenamesFilter::filterWithFilenames(list({".DS_Store", "A.TXT"}), true).get())),
              list({"folder"}));
}

TEST(FileFilters, WholeNamePrefix)
{
    auto store = MemoryStore::create();
    for (const char *n : {"IMG.jpg", "img.png", "IMG_0001.jpg", "xIMG.jpg"})
        store->addFile(QStringLiteral("/d/") + QString::fromUtf8(n), "1");
    EXPECT_EQ(names(store->info(QStringLiteral("/d"))
                        ->folderContentsWithFilter(
                            BaseFilterFilenamePrefix::filterWithFilenamePrefix(QStringLiteral("img")).get())),
              list({"IMG.jpg", "img.png"}));
}

TEST(FileFilters, ItemsNamedFindOneEndsTheListing)
{
    auto store = MemoryStore::create();
    store->addFile(QStringLiteral("/d/A/Music"), "a file named Music");
    store->addFile(QStringLiteral("/d/Music"), "file");
    store->addFolder(QStringLiteral("/d/a/b"));
    auto d = store->info(QStringLiteral("/d/A"));
    auto folders = BaseFilterItemsNamed::filterWithItemNames(list({"Music"}), false, true);
    EXPECT_TRUE(d->folderContentsWithFilter(folders.get()).isEmpty()) << "a file named Music is refused";

    auto store2 = MemoryStore::create();
    store2->addFolder(QStringLiteral("/r/music"));
    store2->addFolder(QStringLiteral("/r/Music2"));
    store2->addFolder(QStringLiteral("/r/z/music"));
    store2->addFolder(QStringLiteral("/r/zz"));
    auto many = BaseFilterItemsNamed::filterWithItemNames(list({"Music", "zz"}), false, true);
    EXPECT_EQ(names(store2->info(QStringLiteral("/r"))->folderContentsWithFilter(many.get())), list({"music", "zz"}));
    many->setFindOne(true);
    EXPECT_TRUE(many->findOne());
    EXPECT_EQ(names(store2->info(QStringLiteral("/r"))->folderContentsWithFilter(many.get())), list({"music"}));

    bool stop = false;
    auto files = BaseFilterItemsNamed::filterWithItemNames(list({"music"}), true, false);
    files->setFindOne(true);
    EXPECT_TRUE(files->includeItem(store->info(QStringLiteral("/d/Music")), &stop));
    EXPECT_TRUE(stop);
}

TEST(FileFilters, NestedFolderAliases)
{
    auto store = MemoryStore::create();
    store->addFolder(QStringLiteral("/Volumes/X/Sub"));
    store->addFolder(QStringLiteral("/Volumes/Y"));
    store->addFolder(QStringLiteral("/Volumes/XY"));
    store->addFile(QStringLiteral("/Volumes/file"), "1");
    store->addLink(QStringLiteral("/links/toRoot"), QStringLiteral("/Volumes/X"));
    store->addLink(QStringLiteral("/links/toSub"), QStringLiteral("/Volumes/X/Sub"));
    store->addLink(QStringLiteral("/links/toY"), QStringLiteral("/Volumes/Y"));
    store->addLink(QStringLiteral("/links/toXY"), QStringLiteral("/Volumes/XY"));
    store->addLink(QStringLiteral("/links/toFile"), QStringLiteral("/Volumes/file"));
    store->addFolder(QStringLiteral("/links/plain"));
    BaseFilterNestedFolders filter(QStringLiteral("/Volumes/X"));
    EXPECT_EQ(filter.rootPath(), QStringLiteral("/Volumes/X/"));
    EXPECT_EQ(names(store->info(QStringLiteral("/links"))->folderContentsWithFilter(&filter)),
              list({"plain", "toFile", "toXY", "toY"}));

    EXPECT_EQ(BaseFilterNestedFolders(QStringLiteral("~/Music")).rootPath(),
              platform::homeFolder() + QStringLiteral("/Music/"));
}

TEST(FileFilters, RemoveMacGeneratedItemsCleansAFolder)
{
    auto store = MemoryStore::create();
    for (const char *n : {".DS_Store", ".ds_STORE", "._a.jpg", "._", "a.jpg", "_x", ".__y", "b._c"})
        store->addFile(QStringLiteral("/d/") + QString::fromUtf8(n), "1");
    store->addFolder(QStringLiteral("/d/._folder"));
    store->refuseRemoveNames.insert(QStringLiteral("._"));
    auto d = store->info(QStringLiteral("/d"));
    EXPECT_TRUE(d->folderContentsWithFilter(VtrRemoveMacGeneratedItemsFilter::filter().get()).isEmpty());
    EXPECT_EQ(names(d->folderContents()), list({"._", "_x", "a.jpg", "b._c"}));
}

TEST(FileFilters, FindItem)
{
    auto store = MemoryStore::create();
    store->addFile(QStringLiteral("/d/Song.mp3"), "1");
    auto song = store->info(QStringLiteral("/d/Song.mp3"));
    bool stop = false;
    EXPECT_FALSE(VtrFindItemFilter(QStringLiteral("song.mp3"), false, true).includeItem(song, &stop));
    EXPECT_FALSE(stop);
    EXPECT_TRUE(VtrFindItemFilter(QStringLiteral("song.mp3"), true, false).includeItem(song, &stop));
    EXPECT_FALSE(stop);
    EXPECT_TRUE(VtrFindItemFilter(QStringLiteral("Song.mp3"), false, true).includeItem(song, &stop));
    EXPECT_TRUE(stop);
    EXPECT_TRUE(VtrFindItemFilter(QStringLiteral("Song.mp3"), false, true).includeItem(song, nullptr));
}
