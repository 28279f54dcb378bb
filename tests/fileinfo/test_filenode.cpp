#include "TestEnvironment.h"
#include "fileinfo/BaseFileInfoNode.h"
#include "foundation/Log.h"
#include "support/MemoryFileInfo.h"

#include <QStringList>

#include <gtest/gtest.h>

namespace {

// The in-memory kind with two twists: ".m4p" files are DRM-protected, and
// find() on an item that is not a file names a child (as the local kind does).
class Item : public MemoryFileInfo
{
public:
    using MemoryFileInfo::find;
    using MemoryFileInfo::MemoryFileInfo;

    static VtrFileInfoPtr wrap(const VtrFileInfoPtr &info)
    {
        auto *memory = dynamic_cast<MemoryFileInfo *>(info.get());
        if (!memory) return info;
        return std::make_shared<Item>(memory->store().shared_from_this(), memory->path());
    }

    bool hasDRM() override { return extension().compare("m4p", Qt::CaseInsensitive) == 0; }
    VtrFileInfoPtr find(const QString &name) override
    {
        if (isFile()) return wrap(MemoryFileInfo::find(name));
        const QString base = path() == "/" ? QString() : path();
        VtrFileInfoPtr exact = std::make_shared<Item>(store().shared_from_this(), base + '/' + name);
        return exact->exists() || !exists() ? exact : wrap(MemoryFileInfo::find(name));
    }
    VtrFileInfoPtr parentFolder() override { return wrap(MemoryFileInfo::parentFolder()); }
    VtrFileInfoPtr createFolder(const QString &name) override { return wrap(MemoryFileInfo::createFolder(name)); }
    void folderContentsWithFilterWithArray(VtrBaseFileInfoFilter *filter, VtrFileInfoList &array, bool *stop,
                                           const QString &rootNodePath) override
    {
        VtrFileInfoList plain;
        MemoryFileInfo::folderContentsWithFilterWithArray(nullptr, plain, nullptr, rootNodePath);
        for (const VtrFileInfoPtr &p : plain) {
            VtrFileInfoPtr item = wrap(p);
            bool childStop = false;
            if (!filter || filter->includeItem(item, &childStop)) array.append(item);
            if (childStop) {
                if (stop) *stop = true;
                return;
            }
        }
    }
};

class FileNodeTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        store = MemoryStore::create();
        for (const char *f :
             {"/Music/a.mp3", "/Music/b.mp3", "/Music/c.mp3", "/Music/Sub/x.mp3", "/Music/Sub/y.mp3", "/Docs/d.txt"})
            store->addFile(f, "data");
    }
    VtrFileInfoPtr item(const QString &path) { return std::make_shared<Item>(store, path); }
    BaseFileInfoNodePtr rootNode() { return BaseFileInfoNode::fileInfoNodeWithFileInfo(item("/")); }
    static QStringList names(const BaseFileInfoNodeList &nodes)
    {
        QStringList result;
        for (const auto &n : nodes)
            result << n->name();
        return result;
    }
    std::shared_ptr<MemoryStore> store;
};

TEST_F(FileNodeTest, ChildrenLoadOnDemandInListingOrder)
{
    auto root = rootNode();
    EXPECT_FALSE(root->childrenLoaded());
    EXPECT_EQ(names(root->children()), QStringList({"Docs", "Music"}));
    auto music = root->findWithName("music");
    ASSERT_TRUE(music);
    EXPECT_EQ(music->parent(), root);
    EXPECT_EQ(names(music->children()), QStringList({"a.mp3", "b.mp3", "c.mp3", "Sub"}));
    EXPECT_EQ(music->numChildren(), 4);
    auto a = music->findWithName("A.MP3");
    EXPECT_TRUE(a->children().isEmpty());
    EXPECT_FALSE(a->childrenLoaded());
    EXPECT_EQ(a->nodePathComponents(), QStringList({"/", "Music", "a.mp3"}));
    EXPECT_EQ(root->dump(), "/\n   Docs\n   Music\n      a.mp3\n      b.mp3\n      c.mp3\n      Sub");
}

TEST_F(FileNodeTest, TreeBuiltUpwardReusesTheGivenNode)
{
    auto sub = BaseFileInfoNode::fileInfoNodeWithFileInfo(item("/Music/Sub"));
    sub->setSelectedForSync(1);
    auto music = BaseFileInfoNode::initWithFileInfoAndChild(item("/Music"), sub);
    const auto kids = music->children();
    ASSERT_EQ(kids.size(), 4);
    EXPECT_EQ(kids[3], sub);
    EXPECT_EQ(sub->parent(), music);
    EXPECT_EQ(music->selectedForSync(), 0);
    music->childChangedState();
    EXPECT_EQ(music->selectedForSync(), -1);
}

TEST_F(FileNodeTest, SelectionFlowsDownAndDrmFilesStayOut)
{
    store->addFile("/Music/song.m4p", "protected");
    auto root = rootNode();
    auto music = root->findWithName("Music");
    music->setSelectedForSync(1); // children not loaded yet: they take it when read
    auto b = music->findWithName("b.mp3");
    auto drm = music->findWithName("song.m4p");
    EXPECT_EQ(b->selectedForSync(), 1);
    EXPECT_EQ(drm->selectedForSync(), 0);
    drm->setSelectedForSync(1);
    EXPECT_EQ(drm->selectedForSync(), 0);
    EXPECT_EQ(music->selectedForSync(), 1); // not recomputed: the protected file never changed

    // Selecting a folder whose children are loaded selects them, and the
    // protected file leaves it mixed.
    music->setSelectedForSync(0);
    EXPECT_EQ(b->selectedForSync(), 0);
    music->setSelectedForSync(1);
    EXPECT_EQ(music->selectedForSync(), -1);
    EXPECT_EQ(root->selectedForSync(), -1);
    EXPECT_EQ(names(music->selectedChildren()), QStringList({"a.mp3", "b.mp3", "c.mp3", "x.mp3", "y.mp3"}));
}

TEST_F(FileNodeTest, OneChangedFileMakesItsAncestorsMixedAndBack)
{
    auto root = rootNode();
    auto music = root->findWithName("Music");
    auto sub = music->findWithName("Sub");
    music->setSelectedForSync(1);
    auto x = sub->findWithName("x.mp3");
    EXPECT_EQ(root->selectedForSync(), -1); // Docs is not selected
    root->findWithName("Docs")->setSelectedForSync(1);
    EXPECT_EQ(root->selectedForSync(), 1);

    int rootAnnouncements = 0;
    QObject::connect(root.get(), &BaseFileInfoNode::selectedChildrenChanged, [&] { ++rootAnnouncements; });
    x->setSelectedForSync(0);
    EXPECT_EQ(sub->selectedForSync(), -1);
    EXPECT_EQ(music->selectedForSync(), -1);
    EXPECT_EQ(root->selectedForSync(), -1);
    EXPECT_GT(rootAnnouncements, 0); // the change rose to the root
    EXPECT_EQ(names(root->selectedChildren()), QStringList({"d.txt", "a.mp3", "b.mp3", "c.mp3", "y.mp3"}));

    x->setSelectedForSync(1);
    EXPECT_EQ(sub->selectedForSync(), 1);
    EXPECT_EQ(music->selectedForSync(), 1);
    EXPECT_EQ(root->selectedForSync(), 1);
}

TEST_F(FileNodeTest, ClicksAndRequestsOnMixedFolders)
{
    auto root = rootNode();
    auto docs = root->findWithName("Docs");
    docs->setSelectedForSync(-1); // a click on a box never read yet selects
    EXPECT_EQ(docs->selectedForSync(), 1);

    auto music = BaseFileInfoNode::fileInfoNodeWithFileInfo(item("/Music"));
    music->children();
    music->setSelectedForSync(-1); // a click on an empty box selects
    EXPECT_EQ(music->selectedForSync(), 1);
    music->setSelectedForSync(-1); // on a checked box deselects
    EXPECT_EQ(music->selectedForSync(), 0);

    music->findWithName("a.mp3")->setSelectedForSync(1);
    ASSERT_EQ(music->selectedForSync(), -1);
    music->setSelectedForSync(-1); // on a mixed box deselects
    EXPECT_EQ(music->selectedForSync(), 0);
    EXPECT_EQ(music->findWithName("a.mp3")->selectedForSync(), 0);

    music->findWithName("a.mp3")->setSelectedForSync(1);
    music->setSelectedForSync(0); // 0 asked of a mixed folder with unselected children selects all
    EXPECT_EQ(music->selectedForSync(), 1);
    EXPECT_EQ(music->findWithName("Sub")->findWithName("y.mp3")->selectedForSync(), 1);
}

TEST_F(FileNodeTest, SelectedChildrenAreFilesOfTheWholeSubtree)
{
    auto music = BaseFileInfoNode::fileInfoNodeWithFileInfo(item("/Music"));
    music->findWithName("Sub")->setSelectedForSync(1);
    music->findWithName("c.mp3")->setSelectedForSync(1);
    EXPECT_EQ(names(music->selectedChildren()), QStringList({"c.mp3", "x.mp3", "y.mp3"}));
    music->findWithName("c.mp3")->setSelectedForSync(0);
    EXPECT_EQ(names(music->selectedChildren()), QStringList({"x.mp3", "y.mp3"}));
}

TEST_F(FileNodeTest, SyncStateRecordsAndRestoresTheSelection)
{
    auto music = BaseFileInfoNode::fileInfoNodeWithFileInfo(item("/Music"));
    music->setSelectedForSync(1);
    EXPECT_EQ(music->syncState(), (QVariantMap{{"_selectedForSync", 1}}));

    music->findWithName("Sub")->findWithName("x.mp3")->setSelectedForSync(0);
    music->findWithName("b.mp3")->setSelectedForSync(0);
    const QVariantMap record = music->syncState();
    EXPECT_EQ(record.value("_selectedForSync").toInt(), -1);
    const QVariantMap kids = record.value("_children").toMap();
    EXPECT_EQ(kids.keys(), QStringList({"A.MP3", "B.MP3", "C.MP3", "SUB"}));
    EXPECT_EQ(kids.value("B.MP3").toMap(), (QVariantMap{{"_selectedForSync", 0}}));
    EXPECT_EQ(kids.value("SUB").toMap().value("_children").toMap().size(), 2);

    auto fresh = BaseFileInfoNode::fileInfoNodeWithFileInfo(item("/Music"));
    fresh->setFromSyncState(record, false);
    EXPECT_EQ(fresh->syncState(), record);
    EXPECT_EQ(names(fresh->selectedChildren()), QStringList({"a.mp3", "c.mp3", "y.mp3"}));

    // A child missing from the record takes the state applied to its folder
    // (0 for a mixed one), and a missing state follows missingMeansOn.
    store->addFile("/Music/new.mp3", "x");
    auto later = BaseFileInfoNode::fileInfoNodeWithFileInfo(item("/Music"));
    later->setFromSyncState(record, true);
    EXPECT_EQ(later->findWithName("new.mp3")->selectedForSync(), 0);
    EXPECT_EQ(later->findWithName("a.mp3")->selectedForSync(), 1);
    auto on = BaseFileInfoNode::fileInfoNodeWithFileInfo(item("/Music"));
    on->setFromSyncState(QVariantMap(), true);
    EXPECT_EQ(on->selectedForSync(), 1);
}

// Names differing only in case are two items on this system's disks: their
// records must not overwrite each other.
TEST_F(FileNodeTest, SyncStateKeepsNamesThatDifferOnlyInCaseApart)
{
    store->addFile("/Case/song.mp3", "1");
    store->addFile("/Case/SONG.mp3", "2");
    store->addFile("/Case/other.mp3", "3");
    auto folder = BaseFileInfoNode::fileInfoNodeWithFileInfo(item("/Case"));
    folder->setSelectedForSync(1);
    folder->findWithName("other.mp3")->setSelectedForSync(0);
    for (const auto &child : folder->children())
        if (child->name() == "song.mp3") child->setSelectedForSync(0);
    const QVariantMap record = folder->syncState();
    EXPECT_EQ(record.value("_children").toMap().size(), 3);

    auto fresh = BaseFileInfoNode::fileInfoNodeWithFileInfo(item("/Case"));
    fresh->setFromSyncState(record, false);
    EXPECT_EQ(names(fresh->selectedChildren()), QStringList({"SONG.mp3"}));
}

TEST_F(FileNodeTest, FindingByPathAndWindowsName)
{
    store->addFile("/Music/a:b.txt", "x");
    store->addFile("/Music/U00E9t.txt", "x");
    store->addFile("/Music/a_b.wav", "x");
    auto root = rootNode();
    auto music = root->findWithName("Music");
    EXPECT_EQ(root->findWithPath("/music/SUB/x.MP3"), music->findWithName("Sub")->findWithName("x.mp3"));
    EXPECT_EQ(music->findWithPath("/MUSIC"), music);
    EXPECT_FALSE(music->findWithPath("/Docs/d.txt"));
    EXPECT_FALSE(music->findWithPath("/Music/none"));
    store->addFile("/Musicx", "x");
    EXPECT_FALSE(music->findWithPath("/Musicx")); // a sibling, not a child
    store->addFile("/Music/Subx/z", "x");         // even when the rest names a child
    EXPECT_FALSE(music->findWithName("Sub")->findWithPath("/Music/Subx"));

    EXPECT_EQ(music->findWithWindowsName("a_b.txt")->name(), "a:b.txt");
    EXPECT_EQ(music->findWithWindowsName(QString::fromUtf8("ét.txt"))->name(), "U00E9t.txt");
    EXPECT_EQ(music->findWithWindowsName("B.MP3")->name(), "b.mp3");
    EXPECT_FALSE(music->findWithWindowsName(""));
    EXPECT_FALSE(music->findWithName("a.mp3")->findWithWindowsName("a.mp3"));
    EXPECT_EQ(names(music->findWithWindowsBaseName("a_b")), QStringList({"a:b.txt", "a_b.wav"}));
    EXPECT_TRUE(music->findWithWindowsBaseName("zzz").isEmpty());
}

TEST_F(FileNodeTest, CreatingFoldersAndFiles)
{
    auto music = BaseFileInfoNode::fileInfoNodeWithFileInfo(item("/Music"));
    music->setSelectedForSync(1);
    EXPECT_EQ(music->createFolder("sub"), music->findWithName("Sub")); // existing child
    auto made = music->createFolder("New");
    ASSERT_TRUE(made);
    EXPECT_TRUE(store->hasItem("/Music/New"));
    ASSERT_FALSE(music->children().isEmpty());
    EXPECT_EQ(music->children().last(), made);
    EXPECT_EQ(made->selectedForSync(), 1);

    auto file = made->createFile("n.txt", "hello", {});
    ASSERT_TRUE(file);
    EXPECT_EQ(file->fileContents(), "hello");
    EXPECT_EQ(made->numChildren(), 1);
    EXPECT_FALSE(file->createFolder("inside"));

    auto loose = music->createFolderDontAddToChildren("Loose");
    ASSERT_TRUE(loose);
    EXPECT_TRUE(loose->exists());
    EXPECT_EQ(loose->parent(), music);
    EXPECT_FALSE(music->findWithName("Loose")); // listed only after a refresh
    music->refresh();
    EXPECT_TRUE(music->findWithName("Loose"));

    store->refuseCreateNames.insert("bad.txt");
    EXPECT_FALSE(music->createFile("bad.txt", "x", {}));
}

TEST_F(FileNodeTest, ReservedFoldersWaitForCreation)
{
    auto root = rootNode();
    auto reserved = root->reserveFolderWithName("Photos");
    ASSERT_TRUE(reserved);
    EXPECT_FALSE(reserved->exists());
    EXPECT_TRUE(reserved->isReservedFolder());
    EXPECT_EQ(root->reserveFolderWithName("photos"), reserved);
    root->refresh();
    EXPECT_EQ(root->findWithName("Photos"), reserved);

    auto nested = reserved->reserveFolderWithName("2024");
    ASSERT_TRUE(nested);
    EXPECT_EQ(nested->path(), "/Photos/2024");
    EXPECT_TRUE(nested->createFolder()); // the missing parent is made first
    EXPECT_TRUE(store->hasItem("/Photos/2024"));
    EXPECT_FALSE(nested->isReservedFolder());
    EXPECT_TRUE(reserved->createFolder());
    EXPECT_FALSE(reserved->isReservedFolder());
    EXPECT_TRUE(nested->exists());

    EXPECT_FALSE(root->findWithName("Docs")->reserveFolderWithName("d.txt")); // a file has the name
    EXPECT_FALSE(root->findWithName("Docs")->findWithName("d.txt")->reserveFolderWithName("x"));
    EXPECT_EQ(root->reserveFolderWithName("Music"), root->findWithName("Music"));
}

// A kind whose find() on a missing folder names a sibling must not lead to a
// reservation (and later a folder) in the wrong place.
TEST_F(FileNodeTest, ReservationIsRefusedWhenTheStoreNamesAnotherPlace)
{
    auto root = BaseFileInfoNode::fileInfoNodeWithFileInfo(store->info("/"));
    auto missing = root->reserveFolderWithName("Photos");
    ASSERT_TRUE(missing);
    EXPECT_FALSE(missing->reserveFolderWithName("2024")); // the plain kind answers "/2024"
    EXPECT_FALSE(store->hasItem("/2024"));
}

TEST_F(FileNodeTest, RemovingAndParing)
{
    store->addFile("/Empty/Inner/.DS_Store", "finder");
    store->addFolder("/Empty/Blank");
    store->addFile("/Keep/.hidden", "x");
    auto root = rootNode();
    auto docs = root->findWithName("Docs");
    auto d = docs->findWithName("d.txt");
    EXPECT_TRUE(d->remove());
    EXPECT_FALSE(store->hasItem("/Docs/d.txt"));
    EXPECT_TRUE(docs->children().isEmpty());
    EXPECT_FALSE(d->parent());
    EXPECT_FALSE(docs->removeChild(d.get()));

    root->removeEmptyFolders();
    EXPECT_FALSE(store->hasItem("/Docs"));
    EXPECT_FALSE(store->hasItem("/Empty")); // held only a folder with ".DS_Store"
    EXPECT_TRUE(store->hasItem("/Keep/.hidden"));
    EXPECT_EQ(names(root->children()), QStringList({"Keep", "Music"}));

    store->refuseRemoveNames.insert("Keep");
    auto keep = root->findWithName("Keep");
    EXPECT_FALSE(keep->remove());
    EXPECT_EQ(keep->parent(), root);

    auto music = root->findWithName("Music");
    music->findWithName("Sub")->children();
    MemoryFileInfo(store, "/Music/Sub/x.mp3").remove();
    MemoryFileInfo(store, "/Music/Sub/y.mp3").remove();
    MemoryFileInfo(store, "/Music/a.mp3").remove();
    music->pareNonExistentChildren();
    EXPECT_EQ(names(music->children()), QStringList({"b.mp3", "c.mp3"}));
}

TEST_F(FileNodeTest, RefreshKeepsNodesAndFollowsTheStore)
{
    auto music = BaseFileInfoNode::fileInfoNodeWithFileInfo(item("/Music"));
    music->setSelectedForSync(1);
    auto b = music->findWithName("b.mp3");
    store->addFile("/Music/d.mp3", "x");
    MemoryFileInfo(store, "/Music/a.mp3").remove();
    int announcements = 0;
    QObject::connect(music.get(), &BaseFileInfoNode::childrenChanged, [&] { ++announcements; });
    music->refresh();
    EXPECT_EQ(names(music->children()), QStringList({"b.mp3", "c.mp3", "d.mp3", "Sub"}));
    EXPECT_EQ(music->findWithName("b.mp3"), b);
    EXPECT_EQ(music->findWithName("d.mp3")->selectedForSync(), 1);
    EXPECT_EQ(announcements, 1);

    b->setSelectedForSync(0); // kept nodes are still watched
    EXPECT_EQ(music->selectedForSync(), -1);
}

TEST_F(FileNodeTest, FiltersAreHandedDownTheTree)
{
    class NoWav : public VtrBaseFileInfoFilter
    {
    public:
        bool includeItem(const VtrFileInfoPtr &item, bool *) override { return item->extension() != "wav"; }
    };
    store->addFile("/Music/Sub/z.wav", "x");
    store->addFile("/Music/w.wav", "x");
    auto music = BaseFileInfoNode::fileInfoNodeWithFileInfo(item("/Music"));
    music->setFolderContentsFilter(std::make_shared<NoWav>());
    EXPECT_EQ(names(music->findWithName("Sub")->children()), QStringList({"x.mp3", "y.mp3"}));
    EXPECT_FALSE(music->findWithName("w.wav"));
}

TEST_F(FileNodeTest, ArchiveKeepsItemsAndLoadedChildren)
{
    VtrBaseFileInfo::registerArchiveClass("MemoryFileInfo", [this] { return store->info("/"); });
    auto music = BaseFileInfoNode::fileInfoNodeWithFileInfo(store->info("/Music"));
    music->setSelectedForSync(1);
    music->findWithName("Sub");
    const QByteArray data = music->archiveToData();
    auto back = BaseFileInfoNode::unarchiveFromData(data);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->path(), "/Music");
    ASSERT_TRUE(back->childrenLoaded());
    ASSERT_EQ(names(back->children()), QStringList({"a.mp3", "b.mp3", "c.mp3", "Sub"}));
    EXPECT_EQ(back->children().first()->parent(), back);
    EXPECT_EQ(back->selectedForSync(), 0); // the selection is not archived
    EXPECT_EQ(back->children().first()->selectedForSync(), 0);
    EXPECT_FALSE(BaseFileInfoNode::unarchiveFromData("garbage"));
}

TEST_F(FileNodeTest, NodesWithoutItemsOrParentsAndTheRefusedInit)
{
    QStringList systemLog;
    LogSetSystemLogSink([&](const QString &m) { systemLog << m; });
    EXPECT_FALSE(BaseFileInfoNode::init());
    LogSetSystemLogSink({});
    EXPECT_EQ(systemLog, QStringList({"VtrBaseFileInfo: do not use init."}));

    auto empty = BaseFileInfoNode::fileInfoNodeWithFileInfo(nullptr);
    EXPECT_TRUE(empty->path().isNull());
    EXPECT_TRUE(empty->children().isEmpty());
    EXPECT_FALSE(empty->isEqualTo(empty));
    EXPECT_TRUE(empty->remove());

    auto one = BaseFileInfoNode::fileInfoNodeWithFileInfo(item("/Music"));
    EXPECT_TRUE(one->isEqualTo(BaseFileInfoNode::fileInfoNodeWithFileInfo(item("/MUSIC"))));

    // Destroying a parent leaves its children without one.
    BaseFileInfoNodePtr kept = one->findWithName("a.mp3");
    ASSERT_EQ(kept->parent(), one);
    one.reset();
    EXPECT_FALSE(kept->parent());
    kept->setSelectedForSync(1); // no parent to tell
    EXPECT_EQ(kept->selectedForSync(), 1);
}

TEST_F(FileNodeTest, AliasNodesStandForTheirTargets)
{
    store->addLink("/Music/Link", "/Docs");
    store->addLink("/Music/Back", "/Music/Sub"); // leads back into the tree: left out
    auto music = BaseFileInfoNode::fileInfoNodeWithFileInfo(item("/Music"));
    EXPECT_FALSE(music->findWithName("Back"));
    auto link = music->findWithName("Link");
    ASSERT_TRUE(link);
    EXPECT_TRUE(link->isAlias());
    EXPECT_EQ(link->fileInfo()->path(), "/Docs");
    EXPECT_EQ(link->unaliasedFileInfo()->path(), "/Music/Link");
    EXPECT_EQ(link->path(), "/Music/Link");
    EXPECT_EQ(names(link->children()), QStringList({"d.txt"}));
}

} // namespace
