#include "TestEnvironment.h"
#include "TestFolders.h"
#include "fileinfo/MacFileInfoNode.h"

#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QIODevice>
#include <QStringList>

#include <gtest/gtest.h>

#include <ostream>

// Readable failure messages for texts and lists of texts.
inline void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace {

// Refuses ".log" files and remembers every item it was offered, so a test can
// tell when a folder was listed.
class LogRefusingFilter : public VtrBaseFileInfoFilter
{
public:
    bool includeItem(const VtrFileInfoPtr &item, bool *) override
    {
        offered << item->path();
        return !item->name().endsWith(QLatin1String(".log"));
    }
    QStringList offered;
};

QStringList names(const BaseFileInfoNodeList &nodes)
{
    QStringList result;
    for (const auto &node : nodes)
        result << node->name();
    return result;
}

// The paths of the built part of a tree, relative to `base`, depth first.
QStringList builtPaths(const BaseFileInfoNodePtr &node, const QString &base)
{
    QStringList result{node->path().mid(base.size())};
    if (node->childrenLoaded())
        for (const auto &child : node->children())
            result += builtPaths(child, base);
    return result;
}

QStringList relativePaths(const BaseFileInfoNodeList &nodes, const QString &base)
{
    QStringList result;
    for (const auto &node : nodes)
        result << node->path().mid(base.size());
    return result;
}

class MacFileNodeTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        top = testenv::makeTempDir(QStringLiteral("tree"));
        for (const char *file : {"/Music/a.mp3", "/Music/b.mp3", "/Music/skip.log", "/Music/Sub/x.mp3",
                                 "/Music/Sub/y.mp3", "/Music/Deep/Inner/z.mp3", "/Docs/ReadMe"})
            testenv::writeFile(top + QLatin1String(file), "data");
        filter = std::make_shared<LogRefusingFilter>();
    }

    MacFileInfoNodePtr rootNode()
    {
        MacFileInfoNodePtr root = MacFileInfoNode::macFileInfoNodeWithPath(top);
        root->setFolderContentsFilter(filter);
        return root;
    }

    QString top;
    std::shared_ptr<LogRefusingFilter> filter;
};

TEST_F(MacFileNodeTest, ChildrenAreListedOnceOnFirstDemandThroughTheHandedDownFilter)
{
    MacFileInfoNodePtr root = rootNode();
    EXPECT_FALSE(root->childrenLoaded());
    EXPECT_TRUE(filter->offered.isEmpty());

    EXPECT_EQ(names(root->children()), QStringList({"Docs", "Music"}));
    EXPECT_EQ(filter->offered.size(), 2);
    EXPECT_EQ(root->numChildren(), 2);
    EXPECT_EQ(filter->offered.size(), 2);

    BaseFileInfoNodePtr music = root->findWithName(QStringLiteral("MUSIC"));
    ASSERT_TRUE(music);
    EXPECT_TRUE(std::dynamic_pointer_cast<MacFileInfoNode>(music));
    EXPECT_EQ(music->folderContentsFilter(), filter);
    EXPECT_FALSE(music->childrenLoaded());
    EXPECT_EQ(names(music->children()), QStringList({"a.mp3", "b.mp3", "Deep", "Sub"}));
    EXPECT_FALSE(music->findWithName(QStringLiteral("Sub"))->childrenLoaded());

    // A built node does not see the disk change until it is refreshed.
    testenv::writeFile(top + "/Music/c.mp3", "new");
    EXPECT_EQ(music->numChildren(), 4);
    music->refresh();
    EXPECT_EQ(names(music->children()), QStringList({"a.mp3", "b.mp3", "c.mp3", "Deep", "Sub"}));

    BaseFileInfoNodePtr readMe = root->findWithName(QStringLiteral("Docs"))->findWithName(QStringLiteral("readme"));
    ASSERT_TRUE(readMe);
    EXPECT_EQ(readMe->name(), "ReadMe");
}

TEST_F(MacFileNodeTest, FileNodeHasNoChildrenAndCreatesNothing)
{
    MacFileInfoNodePtr file = MacFileInfoNode::macFileInfoNodeWithPath(top + "/Music/a.mp3");
    EXPECT_TRUE(file->isFile());
    EXPECT_TRUE(file->children().isEmpty());
    EXPECT_FALSE(file->childrenLoaded());
    EXPECT_EQ(file->numChildren(), 0);
    EXPECT_FALSE(file->findWithName(QStringLiteral("a.mp3")));
    EXPECT_FALSE(file->createFolder(QStringLiteral("New")));
    EXPECT_FALSE(file->createFile(QStringLiteral("n.txt"), "x", {}));
    EXPECT_EQ(QDir(top + "/Music").entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size(), 5);

    MacFileInfoNodePtr nothing = MacFileInfoNode::macFileInfoNodeWithMacFileInfo(nullptr);
    EXPECT_FALSE(nothing->exists());
    EXPECT_EQ(nothing->name(), "");
    EXPECT_FALSE(nothing->isFolder());
    EXPECT_FALSE(nothing->parent());
}

TEST_F(MacFileNodeTest, LinkToFolderListsTheTargetButAnswersForItselfOtherwise)
{
    const QString elsewhere = testenv::makeTempDir(QStringLiteral("links"));
    const QString link = elsewhere + "/ToMusic";
    ASSERT_TRUE(QFile::link(top + "/Music", link));

    MacFileInfoNodePtr node = MacFileInfoNode::macFileInfoNodeWithPath(link);
    EXPECT_TRUE(node->isAlias());
    EXPECT_TRUE(node->isFolder());
    EXPECT_TRUE(node->exists());
    EXPECT_EQ(node->path(), link);
    EXPECT_EQ(node->resolvedPath(), QFileInfo(top + "/Music").canonicalFilePath());
    EXPECT_EQ(names(node->children()), QStringList({"a.mp3", "b.mp3", "Deep", "skip.log", "Sub"}));

    MacFileInfoNodePtr back = MacFileInfoNode::unarchiveFromData(node->archiveToData());
    ASSERT_TRUE(back);
    EXPECT_TRUE(back->isAlias());
    EXPECT_EQ(back->path(), link);
    EXPECT_EQ(back->numChildren(), 5);
}

TEST_F(MacFileNodeTest, ParentIsBuiltAroundTheReceiverOnlyWhenNoNodeHoldsIt)
{
    MacFileInfoNodePtr sub = MacFileInfoNode::macFileInfoNodeWithPath(top + "/Music/Sub");
    sub->setFolderContentsFilter(filter);
    ASSERT_EQ(sub->numChildren(), 2);

    BaseFileInfoNodePtr music = sub->parent();
    ASSERT_TRUE(music);
    EXPECT_EQ(music->path(), top + "/Music");
    // Every sibling, also the one the filter refuses, and the receiver itself.
    EXPECT_EQ(names(music->children()), QStringList({"a.mp3", "b.mp3", "Deep", "skip.log", "Sub"}));
    EXPECT_EQ(music->findWithName(QStringLiteral("Sub")), sub);
    EXPECT_EQ(music->folderContentsFilter(), filter);
    EXPECT_EQ(sub->folderContentsFilter(), filter);
    EXPECT_EQ(music->findWithName(QStringLiteral("Deep"))->folderContentsFilter(), filter);
    EXPECT_EQ(sub->numChildren(), 2); // its built children stay

    // While that parent lives it is the answer; after it is gone a new one is built.
    EXPECT_EQ(sub->parent(), music);
    std::weak_ptr<BaseFileInfoNode> old = music;
    music.reset();
    EXPECT_TRUE(old.expired());
    BaseFileInfoNodePtr again = sub->parent();
    ASSERT_TRUE(again);
    EXPECT_EQ(again->findWithName(QStringLiteral("Sub")), sub);

    // A child of a held tree answers its holder, never a second parent.
    MacFileInfoNodePtr root = rootNode();
    BaseFileInfoNodePtr docs = root->findWithName(QStringLiteral("Docs"));
    auto macDocs = std::dynamic_pointer_cast<MacFileInfoNode>(docs);
    ASSERT_TRUE(macDocs);
    EXPECT_EQ(macDocs->parent(), root);

    EXPECT_FALSE(MacFileInfoNode::macFileInfoNodeWithPath(QStringLiteral("/"))->parent());
}

TEST_F(MacFileNodeTest, CreatingJoinsTheListedSiblingsWithoutDuplicates)
{
    MacFileInfoNodePtr music = MacFileInfoNode::macFileInfoNodeWithPath(top + "/Music");
    music->setFolderContentsFilter(filter);

    // Never built: the folder is listed first, so the siblings are not hidden.
    BaseFileInfoNodePtr created = music->createFolder(QStringLiteral("New"));
    ASSERT_TRUE(created);
    EXPECT_TRUE(QFileInfo(top + "/Music/New").isDir());
    EXPECT_EQ(names(music->children()), QStringList({"a.mp3", "b.mp3", "Deep", "Sub", "New"}));
    EXPECT_EQ(created->folderContentsFilter(), filter);

    // Existing names give the existing node.
    EXPECT_EQ(music->createFolder(QStringLiteral("sub")), music->findWithName(QStringLiteral("Sub")));
    EXPECT_EQ(music->numChildren(), 5);
    EXPECT_FALSE(music->createFolder(QStringLiteral("a.mp3"))); // a file is in the way
    EXPECT_FALSE(music->createFolder(QStringLiteral("x/y")));
    EXPECT_FALSE(music->createFolder(QStringLiteral("..")));
    EXPECT_FALSE(QFileInfo::exists(top + "/Music/x"));

    // Overwriting a file answers its node, which sees the new contents.
    BaseFileInfoNodePtr a = music->findWithName(QStringLiteral("a.mp3"));
    EXPECT_EQ(a->size(), 4);
    EXPECT_EQ(music->createFile(QStringLiteral("a.mp3"), "longer data", {}), a);
    EXPECT_EQ(a->size(), 11);
    EXPECT_EQ(testenv::readFile(top + "/Music/a.mp3"), "longer data");
    EXPECT_FALSE(music->createFile(QStringLiteral("Sub"), "x", {}));

    BaseFileInfoNodePtr c = music->createFile(QStringLiteral("c.mp3"), "ccc", {});
    ASSERT_TRUE(c);
    EXPECT_EQ(names(music->children()), QStringList({"a.mp3", "b.mp3", "Deep", "Sub", "New", "c.mp3"}));
    EXPECT_EQ(c->fileContents(), "ccc");

    // A reserved folder is made where it was reserved.
    BaseFileInfoNodePtr photos = music->reserveFolderWithName(QStringLiteral("Photos"));
    ASSERT_TRUE(photos);
    EXPECT_FALSE(photos->exists());
    EXPECT_EQ(music->createFolder(QStringLiteral("Photos")), photos);
    EXPECT_TRUE(QFileInfo(top + "/Music/Photos").isDir());
    EXPECT_FALSE(photos->isReservedFolder());

    MacFileInfoNodePtr made = MacFileInfoNode::macFileInfoNodeCreateAbsoluteFolderPath(top + "/Made/One/Two");
    ASSERT_TRUE(made);
    EXPECT_TRUE(made->isFolder());
    MacFileInfoNodePtr file = MacFileInfoNode::macFileInfoNodeCreateAbsoluteFilePath(top + "/Made/Three/f.txt");
    ASSERT_TRUE(file);
    EXPECT_TRUE(file->isFile());
    EXPECT_FALSE(MacFileInfoNode::macFileInfoNodeCreateAbsoluteFolderPath(top + "/Music/a.mp3/In"));
}

TEST_F(MacFileNodeTest, SelectionReachesChildrenBuiltLater)
{
    MacFileInfoNodePtr root = rootNode();
    root->setSelectedForSync(BaseFileInfoNode::kSelected);
    EXPECT_FALSE(root->childrenLoaded());

    // Nothing below was built when the root was selected: selectedChildren
    // builds its way down, and every file there inherits the choice.
    const BaseFileInfoNodeList files = root->selectedChildren();
    EXPECT_EQ(relativePaths(files, top),
              QStringList({"/Docs/ReadMe", "/Music/a.mp3", "/Music/b.mp3", "/Music/Deep/Inner/z.mp3",
                           "/Music/Sub/x.mp3", "/Music/Sub/y.mp3"}));

    // A newly created file in a selected folder is selected too.
    BaseFileInfoNodePtr music = root->findWithName(QStringLiteral("Music"));
    BaseFileInfoNodePtr c = music->createFile(QStringLiteral("c.mp3"), "c", {});
    ASSERT_TRUE(c);
    EXPECT_EQ(c->selectedForSync(), BaseFileInfoNode::kSelected);
    EXPECT_EQ(root->selectedForSync(), BaseFileInfoNode::kSelected);
}

TEST_F(MacFileNodeTest, MixedStateFlowsUpFromBuiltChildrenWhileUnbuiltOnesKeepTheChoice)
{
    MacFileInfoNodePtr root = rootNode();
    root->children();
    root->setSelectedForSync(BaseFileInfoNode::kSelected);
    BaseFileInfoNodePtr music = root->findWithName(QStringLiteral("Music"));
    BaseFileInfoNodePtr a = music->findWithName(QStringLiteral("a.mp3"));
    BaseFileInfoNodePtr sub = music->findWithName(QStringLiteral("Sub"));
    BaseFileInfoNodePtr deep = music->findWithName(QStringLiteral("Deep"));
    EXPECT_EQ(a->selectedForSync(), BaseFileInfoNode::kSelected);

    a->setSelectedForSync(BaseFileInfoNode::kNotSelected);
    EXPECT_EQ(music->selectedForSync(), BaseFileInfoNode::kMixed);
    EXPECT_EQ(root->selectedForSync(), BaseFileInfoNode::kMixed);
    EXPECT_FALSE(sub->childrenLoaded());
    EXPECT_EQ(sub->selectedForSync(), BaseFileInfoNode::kSelected);
    EXPECT_EQ(sub->findWithName(QStringLiteral("x.mp3"))->selectedForSync(), BaseFileInfoNode::kSelected);

    a->setSelectedForSync(BaseFileInfoNode::kSelected);
    EXPECT_EQ(music->selectedForSync(), BaseFileInfoNode::kSelected);
    EXPECT_EQ(root->selectedForSync(), BaseFileInfoNode::kSelected);

    // A click on a selected box clears the whole built tree; an unbuilt
    // folder then hands "not selected" to its children.
    root->setSelectedForSync(BaseFileInfoNode::kMixed);
    EXPECT_EQ(root->selectedForSync(), BaseFileInfoNode::kNotSelected);
    EXPECT_EQ(sub->findWithName(QStringLiteral("y.mp3"))->selectedForSync(), BaseFileInfoNode::kNotSelected);
    EXPECT_FALSE(deep->childrenLoaded());
    EXPECT_EQ(deep->findWithName(QStringLiteral("Inner"))->selectedForSync(), BaseFileInfoNode::kNotSelected);
    EXPECT_TRUE(root->selectedChildren().isEmpty());

    // Choosing only the unbuilt Deep/Inner gives its file and mixes the folders above.
    BaseFileInfoNodePtr inner = deep->findWithName(QStringLiteral("Inner"));
    inner->setSelectedForSync(BaseFileInfoNode::kSelected);
    EXPECT_EQ(music->selectedForSync(), BaseFileInfoNode::kMixed);
    EXPECT_EQ(relativePaths(root->selectedChildren(), top), QStringList({"/Music/Deep/Inner/z.mp3"}));
}

TEST_F(MacFileNodeTest, ArchiveKeepsPathsAndTheBuiltShapeButNoFilterOrSelection)
{
    MacFileInfoNodePtr root = rootNode();
    BaseFileInfoNodePtr music = root->findWithName(QStringLiteral("Music"));
    music->findWithName(QStringLiteral("Sub"))->children();
    root->setSelectedForSync(BaseFileInfoNode::kSelected);

    QVariantMap coder;
    root->encodeWithCoder(coder);
    EXPECT_EQ(coder.keys(), QStringList({"Children", "Item Path"}));
    EXPECT_EQ(coder.value("Item Path").toString(), top);
    QVariantMap fileCoder;
    music->findWithName(QStringLiteral("a.mp3"))->encodeWithCoder(fileCoder);
    EXPECT_EQ(fileCoder.keys(), QStringList({"Item Path"}));

    const QByteArray data = root->archiveToData();
    MacFileInfoNodePtr back = MacFileInfoNode::unarchiveFromData(data);
    ASSERT_TRUE(back);
    EXPECT_EQ(builtPaths(back, top), builtPaths(root, top));
    EXPECT_EQ(back->folderContentsFilter(), nullptr);
    EXPECT_EQ(back->selectedForSync(), BaseFileInfoNode::kNotSelected);
    BaseFileInfoNodePtr backMusic = back->findWithName(QStringLiteral("Music"));
    EXPECT_EQ(backMusic->parent(), back);
    EXPECT_TRUE(std::dynamic_pointer_cast<MacFileInfoNode>(backMusic));
    // An unbuilt folder builds after decoding, now without a filter.
    BaseFileInfoNodePtr deep = backMusic->findWithName(QStringLiteral("Deep"));
    EXPECT_FALSE(deep->childrenLoaded());
    EXPECT_EQ(names(deep->children()), QStringList({"Inner"}));
    EXPECT_EQ(backMusic->numChildren(), 4); // built when archived: skip.log stays out

    // Each node class reads only its own archives.
    EXPECT_FALSE(BaseFileInfoNode::unarchiveFromData(data));
    auto base = BaseFileInfoNode::fileInfoNodeWithFileInfo(VtrMacFileInfo::fileInfoWithPath(top));
    EXPECT_FALSE(MacFileInfoNode::unarchiveFromData(base->archiveToData()));
    EXPECT_FALSE(MacFileInfoNode::unarchiveFromData(QByteArray("not an archive")));
    EXPECT_FALSE(MacFileInfoNode::unarchiveFromData(data.left(data.size() / 2)));

    // Missing keys leave the item or the children absent.
    QByteArray sparse;
    QDataStream stream(&sparse, QIODevice::WriteOnly);
    stream.setVersion(QDataStream::Qt_6_4);
    stream << QStringLiteral("MacFileInfoNode")
           << QVariantMap{{"Children", QVariantList{QVariantMap{}, QVariantMap{{"Item Path", top + "/Docs"}}}}};
    MacFileInfoNodePtr odd = MacFileInfoNode::unarchiveFromData(sparse);
    ASSERT_TRUE(odd);
    EXPECT_FALSE(odd->exists());
    ASSERT_EQ(odd->children().size(), 2);
    EXPECT_FALSE(odd->children().at(0)->exists());
    EXPECT_FALSE(odd->children().at(1)->childrenLoaded());
    EXPECT_EQ(odd->children().at(1)->numChildren(), 1);
}

TEST_F(MacFileNodeTest, SelectionRecordAppliedToADecodedTreeRestoresTheChoice)
{
    MacFileInfoNodePtr root = rootNode();
    root->setSelectedForSync(BaseFileInfoNode::kSelected);
    BaseFileInfoNodePtr music = root->findWithName(QStringLiteral("Music"));
    music->findWithName(QStringLiteral("Sub"))->findWithName(QStringLiteral("y.mp3"))->setSelectedForSync(0);
    music->findWithName(QStringLiteral("b.mp3"))->setSelectedForSync(0);
    const QVariantMap record = root->syncState();
    const QStringList chosen = relativePaths(root->selectedChildren(), top);
    ASSERT_EQ(chosen, QStringList({"/Docs/ReadMe", "/Music/a.mp3", "/Music/Deep/Inner/z.mp3", "/Music/Sub/x.mp3"}));

    MacFileInfoNodePtr back = MacFileInfoNode::unarchiveFromData(root->archiveToData());
    ASSERT_TRUE(back);
    back->setFromSyncState(record, false);
    EXPECT_EQ(back->syncState(), record);
    EXPECT_EQ(relativePaths(back->selectedChildren(), top), chosen);
}

TEST_F(MacFileNodeTest, DecodedTreeShowsTheDiskAsItIsNow)
{
    MacFileInfoNodePtr root = rootNode();
    BaseFileInfoNodePtr music = root->findWithName(QStringLiteral("Music"));
    music->findWithName(QStringLiteral("Sub"))->children();
    root->findWithName(QStringLiteral("Docs"))->children();
    const QByteArray data = root->archiveToData();

    testenv::writeFile(top + "/Music/b.mp3", "much longer data");
    ASSERT_TRUE(QFile::remove(top + "/Music/a.mp3"));
    ASSERT_TRUE(testenv::removeTree(top + "/Music/Sub"));
    ASSERT_TRUE(testenv::removeTree(top + "/Docs"));
    testenv::writeFile(top + "/Docs", "a file now");
    testenv::writeFile(top + "/Music/new.mp3", "new");

    MacFileInfoNodePtr back = MacFileInfoNode::unarchiveFromData(data);
    ASSERT_TRUE(back);
    BaseFileInfoNodePtr backMusic = back->findWithName(QStringLiteral("Music"));
    EXPECT_EQ(backMusic->findWithName(QStringLiteral("b.mp3"))->size(), 16);
    EXPECT_FALSE(backMusic->findWithName(QStringLiteral("a.mp3"))->exists());
    BaseFileInfoNodePtr sub = backMusic->findWithName(QStringLiteral("Sub"));
    EXPECT_FALSE(sub->exists());
    EXPECT_EQ(names(sub->children()), QStringList({"x.mp3", "y.mp3"}));
    BaseFileInfoNodePtr docs = back->findWithName(QStringLiteral("Docs"));
    EXPECT_TRUE(docs->isFile());
    EXPECT_FALSE(docs->childrenLoaded()); // a file never gets its old children back
    EXPECT_FALSE(backMusic->findWithName(QStringLiteral("new.mp3")));

    // Selecting builds the chosen part of the tree; paring then leaves only
    // what is there to copy.
    back->setSelectedForSync(BaseFileInfoNode::kSelected);
    EXPECT_TRUE(relativePaths(back->selectedChildren(), top).contains("/Music/a.mp3"));
    back->pareNonExistentChildren();
    EXPECT_EQ(names(backMusic->children()), QStringList({"b.mp3", "Deep"}));
    EXPECT_EQ(relativePaths(back->selectedChildren(), top),
              QStringList({"/Docs", "/Music/b.mp3", "/Music/Deep/Inner/z.mp3"}));
    backMusic->refresh();
    EXPECT_EQ(names(backMusic->children()), QStringList({"b.mp3", "Deep", "new.mp3", "skip.log"}));
    EXPECT_EQ(backMusic->findWithName(QStringLiteral("new.mp3"))->selectedForSync(), BaseFileInfoNode::kSelected);
}

TEST_F(MacFileNodeTest, TreeOfAMissingFolderSurvivesUntilItComesBack)
{
    MacFileInfoNodePtr music = MacFileInfoNode::macFileInfoNodeWithPath(top + "/Music");
    music->findWithName(QStringLiteral("Sub"))->children();
    const QStringList shape = builtPaths(music, top);
    const QByteArray data = music->archiveToData();

    // As when the volume holding it is not mounted.
    ASSERT_TRUE(QDir(top).rename(QStringLiteral("Music"), QStringLiteral("Away")));
    MacFileInfoNodePtr missing = MacFileInfoNode::unarchiveFromData(data);
    ASSERT_TRUE(missing);
    EXPECT_FALSE(missing->exists());
    EXPECT_EQ(builtPaths(missing, top), shape);
    const QByteArray again = missing->archiveToData();

    ASSERT_TRUE(QDir(top).rename(QStringLiteral("Away"), QStringLiteral("Music")));
    MacFileInfoNodePtr back = MacFileInfoNode::unarchiveFromData(again);
    ASSERT_TRUE(back);
    EXPECT_EQ(builtPaths(back, top), shape);
    EXPECT_TRUE(back->findWithName(QStringLiteral("Sub"))->findWithName(QStringLiteral("x.mp3"))->exists());
}

} // namespace
