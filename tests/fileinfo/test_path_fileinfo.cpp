// Path arithmetic of the POSIX and Windows path kinds.

#include "fileinfo/VtrPathFileInfo.h"
#include "fileinfo/VtrWindowsPathFileInfo.h"
#include "foundation/VtrString.h"
#include "support/MemoryFileInfo.h"

#include <gtest/gtest.h>

namespace {

// A path item on a volume, folder or not, as the store-backed kinds are.
class VolumeItem : public VtrPathBasedFileInfo
{
public:
    VolumeItem(const QString &path, bool folder, const QString &volumePath)
        : VtrPathBasedFileInfo(path), m_folder(folder), m_volumePath(volumePath)
    {}
    bool isFolder() override { return m_folder; }
    bool isFile() override { return !m_folder; }
    VtrFileInfoPtr volume() override
    {
        if (m_volumePath.isNull()) return nullptr;
        return std::make_shared<VolumeItem>(m_volumePath, true, QString());
    }

private:
    bool m_folder;
    QString m_volumePath;
};

// The phone kind's folders report isFolder YES.
class WindowsFolder : public VtrWindowsPathBasedFileInfo
{
public:
    using VtrWindowsPathBasedFileInfo::VtrWindowsPathBasedFileInfo;
    bool isFolder() override { return true; }
};

VtrFileInfoPtr item(const QString &path, bool folder = false, const QString &volume = QStringLiteral("/"))
{
    return std::make_shared<VolumeItem>(path, folder, volume);
}

VtrFileInfoPtr win(const QString &path)
{
    return VtrWindowsPathBasedFileInfo::fileInfoWithPath(path);
}

QStringList list(std::initializer_list<const char *> items)
{
    QStringList out;
    for (const char *s : items)
        out.append(QString::fromUtf8(s));
    return out;
}

} // namespace

TEST(PathFileInfo, NamesComponentsAndParents)
{
    auto p = VtrPathBasedFileInfo::fileInfoWithPath(QStringLiteral("/a/b/song.live.mp3"));
    EXPECT_EQ(p->name(), QStringLiteral("song.live.mp3"));
    EXPECT_EQ(p->nameWithoutExtension(), QStringLiteral("song.live"));
    EXPECT_EQ(p->extension(), QStringLiteral("mp3"));
    EXPECT_EQ(p->description(), QStringLiteral("/a/b/song.live.mp3"));
    EXPECT_EQ(p->parentFolder()->path(), QStringLiteral("/a/b"));
    EXPECT_EQ(p->standardPath(), p->path());

    EXPECT_EQ(VtrPathBasedFileInfo::fileInfoWithPath(QStringLiteral("/a/b/"))->pathComponents(), list({"/", "a", "b"}));
    EXPECT_EQ(VtrPathBasedFileInfo::fileInfoWithPath(QStringLiteral("/"))->pathComponents(), list({"/"}));
    EXPECT_EQ(VtrPathBasedFileInfo::fileInfoWithPath(QString())->path(), QStringLiteral(""));
    EXPECT_FALSE(VtrPathBasedFileInfo::fileInfoWithPath(QString())->path().isNull());

    p->updateName(QStringLiteral("other.mp3"));
    EXPECT_EQ(p->path(), QStringLiteral("/a/b/other.mp3"));
    EXPECT_EQ(p->moveTo(VtrPathBasedFileInfo::fileInfoWithPath(QStringLiteral("/x/y"))), kFileInfoCopyOK);
    EXPECT_EQ(p->path(), QStringLiteral("/x/y"));
}

TEST(PathFileInfo, EqualityAndContainment)
{
    auto upper = VtrPathBasedFileInfo::fileInfoWithPath(QStringLiteral("/A/b"));
    EXPECT_TRUE(upper->isEqualTo(VtrPathBasedFileInfo::fileInfoWithPath(QStringLiteral("/a/B"))));
    EXPECT_FALSE(upper->isEqualTo(VtrBaseFileInfo::fileInfo()));
    EXPECT_FALSE(upper->isEqualTo(nullptr));

    auto folder = item(QStringLiteral("/a/b"), true);
    EXPECT_TRUE(folder->contains(item(QStringLiteral("/A/B/c"))));
    EXPECT_TRUE(folder->contains(item(QStringLiteral("/a/b"))));
    EXPECT_FALSE(folder->contains(item(QStringLiteral("/a/bc")))) << "a sibling sharing a prefix is not inside";
    EXPECT_FALSE(item(QStringLiteral("/a/b"), false)->contains(item(QStringLiteral("/a/b/c"))))
        << "files contain nothing";
}

TEST(PathFileInfo, RelativePaths)
{
    EXPECT_EQ(item(QStringLiteral("/a/b"), true)->relativePathTo(item(QStringLiteral("/a/c/d"))),
              QStringLiteral("../c/d"));
    EXPECT_EQ(item(QStringLiteral("/a"), true)->relativePathTo(item(QStringLiteral("/a/c/d"))), QStringLiteral("c/d"));
    EXPECT_EQ(item(QStringLiteral("/a/b/f.txt"))->relativePathTo(item(QStringLiteral("/a/c/d"))),
              QStringLiteral("../c/d"));
    EXPECT_EQ(item(QStringLiteral("/a/b"), true)->relativePathTo(item(QStringLiteral("/a/bc"))),
              QStringLiteral("../bc"));
    EXPECT_EQ(item(QStringLiteral("/a/b"), true)->relativePathComponentsTo(item(QStringLiteral("/a/c/d"))),
              list({"..", "c", "d"}));
    // Different volumes, or none at all: the other's full path.
    EXPECT_EQ(
        item(QStringLiteral("/a"), true)->relativePathTo(item(QStringLiteral("/V/x"), false, QStringLiteral("/V"))),
        QStringLiteral("/V/x"));
    EXPECT_EQ(VtrPathBasedFileInfo::fileInfoWithPath(QStringLiteral("/a"))
                  ->relativePathTo(VtrPathBasedFileInfo::fileInfoWithPath(QStringLiteral("/a/b"))),
              QStringLiteral("/a/b"));
}

TEST(PathFileInfo, VolumeRelativeStandardPath)
{
    const QString vol = QStringLiteral("/Volumes/X");
    EXPECT_EQ(item(QStringLiteral("/Volumes/X/Music/a.mp3"), false, vol)->volumeRelativeStandardPath(),
              QStringLiteral("Music/a.mp3"));
    EXPECT_EQ(item(QStringLiteral("/volumes/x/Music/"), true, vol)->volumeRelativeStandardPath(),
              QStringLiteral("Music"));
    EXPECT_EQ(item(QStringLiteral("/Volumes/X"), true, vol)->volumeRelativeStandardPath(), QStringLiteral(""));
    EXPECT_EQ(item(QStringLiteral("/Volumes/X/"), true, vol)->volumeRelativeStandardPath(), QStringLiteral(""));
    EXPECT_EQ(item(QStringLiteral("/Other/a"), false, vol)->volumeRelativeStandardPath(), QStringLiteral("/Other/a"));
    EXPECT_EQ(item(QStringLiteral("/Volumes/XY/a"), false, vol)->volumeRelativeStandardPath(),
              QStringLiteral("/Volumes/XY/a"));
    EXPECT_EQ(item(QStringLiteral("/a/b"), false, QStringLiteral("/"))->volumeRelativeStandardPath(),
              QStringLiteral("a/b"));
}

// The Windows path table: stored path -> what the kind answers.
TEST(WindowsPathFileInfo, PathTable)
{
    struct Row
    {
        const char *stored;
        const char *name;
        const char *parent; // nullptr: none
        QStringList components;
        const char *volume;
        const char *volumeRelative;
        const char *standard;
        bool isVolume;
    };
    const Row rows[] = {
        {"E:\\Music\\x.mp3", "x.mp3", "E:\\Music", list({"E:\\", "Music", "x.mp3"}), "E:\\", "Music/x.mp3",
         "E:/Music/x.mp3", false},
        {"E:\\", "E:\\", nullptr, list({"E:\\"}), "E:\\", "", "E:/", true},
        {"e:\\music\\", "music", "E:\\", list({"E:\\", "music"}), "E:\\", "music", "e:/music", false},
        {"E:\\Music", "Music", "E:\\", list({"E:\\", "Music"}), "E:\\", "Music", "E:/Music", false},
        {"Music\\x.mp3", "x.mp3", "Music", list({"", "Music", "x.mp3"}), "", "Music/x.mp3", "Music/x.mp3", false},
        {"C:\\a\\b\\c.tar.gz", "c.tar.gz", "C:\\a\\b", list({"C:\\", "a", "b", "c.tar.gz"}), "C:\\", "a/b/c.tar.gz",
         "C:/a/b/c.tar.gz", false},
        {"", "", nullptr, list({""}), "", "", "", false},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.stored);
        VtrFileInfoPtr w = win(QString::fromUtf8(row.stored));
        EXPECT_EQ(w->path(), QString::fromUtf8(row.stored));
        EXPECT_EQ(w->name(), QString::fromUtf8(row.name));
        VtrFileInfoPtr parent = w->parentFolder();
        if (row.parent) {
            ASSERT_TRUE(parent);
            EXPECT_EQ(parent->path(), QString::fromUtf8(row.parent));
        } else {
            EXPECT_EQ(parent, nullptr);
        }
        EXPECT_EQ(w->pathComponents(), row.components);
        ASSERT_TRUE(w->volume());
        EXPECT_EQ(w->volume()->path(), QString::fromUtf8(row.volume));
        EXPECT_EQ(w->volumeRelativeStandardPath(), QString::fromUtf8(row.volumeRelative));
        EXPECT_EQ(w->standardPath(), QString::fromUtf8(row.standard));
        EXPECT_EQ(w->isVolume(), row.isVolume);
    }
}

TEST(WindowsPathFileInfo, AnItemStoredInItsFolderAnswersAsOneStoredWhole)
{
    const auto pathOf = [](const VtrFileInfoPtr &item) { return item ? item->path() : QStringLiteral("none"); };
    for (const char *folder : {"E:\\Music", "E:\\", "e:/a//b\\", "Music", "\\", "", "E:\\C:\\"}) {
        for (const QString name : {"x.mp3", "b\\c"}) { // the second is stored joined
            const QString whole = vtr::windowsStringByAppendingPathComponent(QString::fromUtf8(folder), name);
            SCOPED_TRACE(whole.toStdString());
            auto stored = win(whole);
            auto listed = std::make_shared<VtrWindowsPathBasedFileInfo>();
            listed->setPathInFolder(vtr::windowsPathPrefixForChildren(QString::fromUtf8(folder)), name);
            EXPECT_TRUE(listed->storedPathEquals(whole) && !listed->storedPathEquals(whole + QLatin1Char('x')));
            EXPECT_EQ(listed->path(), whole);
            EXPECT_EQ(listed->name(), stored->name());
            EXPECT_EQ(listed->pathComponents(), stored->pathComponents());
            EXPECT_EQ(pathOf(listed->parentFolder()), pathOf(stored->parentFolder()));
            EXPECT_TRUE(listed->isEqualTo(stored) && stored->isEqualTo(listed));
        }
    }
    auto posix = std::make_shared<VtrPathBasedFileInfo>();
    posix->setPathInFolder(QStringLiteral("/a/"), QStringLiteral("b.txt"));
    EXPECT_EQ(posix->path(), QStringLiteral("/a/b.txt"));
    EXPECT_EQ(posix->name(), QStringLiteral("b.txt"));
}

TEST(WindowsPathFileInfo, FoldersEqualityAndLength)
{
    auto folder = std::make_shared<WindowsFolder>(QStringLiteral("E:\\Music"));
    EXPECT_EQ(folder->path(), QStringLiteral("E:\\Music\\"));
    EXPECT_EQ(folder->standardPath(), QStringLiteral("E:/Music"));
    EXPECT_TRUE(folder->isEqualTo(std::make_shared<WindowsFolder>(QStringLiteral("e:\\music\\"))));
    EXPECT_EQ(win(QStringLiteral("E:\\Music"))->path(), QStringLiteral("E:\\Music")) << "a bare object keeps its path";
    EXPECT_FALSE(win(QStringLiteral("E:\\Music"))->isEqualTo(win(QStringLiteral("E:\\Music\\"))));

    EXPECT_EQ(win(QStringLiteral("E:\\Music\\x.mp3"))->numBytesNeededForPath(), 23);
    EXPECT_EQ(win(QStringLiteral("C:\\Music\\x.mp3"))->numBytesNeededForPath(), 23) << "whatever the drive";
    EXPECT_EQ(win(QStringLiteral("E:\\\u00e9"))->numBytesNeededForPath(), 14) << "UTF-8 bytes";
    EXPECT_EQ(win(QStringLiteral("E:\\Music\\x.mp3"))->nameWithoutExtension(), QStringLiteral("x"));
}

TEST(WindowsPathFileInfo, RelativePathsAndNames)
{
    auto folder = std::make_shared<WindowsFolder>(QStringLiteral("E:\\a\\b"));
    EXPECT_EQ(folder->relativePathTo(win(QStringLiteral("E:\\a\\c\\d"))), QStringLiteral("..\\c\\d"));
    EXPECT_EQ(folder->relativePathComponentsTo(win(QStringLiteral("E:\\a\\c\\d"))), list({"..", "c", "d"}));
    EXPECT_EQ(
        std::make_shared<WindowsFolder>(QStringLiteral("E:\\a"))->relativePathTo(win(QStringLiteral("E:\\a\\c\\d"))),
        QStringLiteral("c\\d"));
    EXPECT_EQ(win(QStringLiteral("E:\\a"))->relativePathTo(win(QStringLiteral("F:\\a"))), QStringLiteral("F:\\a"));
    EXPECT_EQ(
        win(QStringLiteral("E:\\a"))->relativePathTo(VtrPathBasedFileInfo::fileInfoWithPath(QStringLiteral("/x"))),
        QStringLiteral("/x"));

    auto w = win(QStringLiteral("E:\\Music\\x.mp3"));
    w->updateName(QStringLiteral("y.mp3"));
    EXPECT_EQ(w->path(), QStringLiteral("E:\\Music\\y.mp3"));
    auto root = win(QStringLiteral("E:\\"));
    root->updateName(QStringLiteral("y"));
    EXPECT_EQ(root->path(), QStringLiteral("E:\\")) << "a drive root keeps its path";
}

TEST(PathFileInfo, ArchivesKeepPathKindAndOldValues)
{
    for (const VtrFileInfoPtr &original :
         {VtrFileInfoPtr(VtrPathBasedFileInfo::fileInfoWithPath(QStringLiteral("/a/b.txt"))),
          VtrFileInfoPtr(VtrWindowsPathBasedFileInfo::fileInfoWithPath(QStringLiteral("E:\\Music\\x.mp3")))}) {
        VtrFileInfoPtr copy = VtrBaseFileInfo::unarchiveFromData(original->archiveToData());
        ASSERT_TRUE(copy);
        EXPECT_EQ(copy->archiveClassName(), original->archiveClassName());
        EXPECT_EQ(copy->path(), original->path());
        EXPECT_FALSE(copy->oldFileSize().has_value()) << "not a file";
    }

    auto store = MemoryStore::create();
    const QDateTime modified(QDate(2012, 3, 4), QTime(5, 6, 7), Qt::UTC);
    store->addFile(QStringLiteral("/f.bin"), "12345", modified);
    VtrBaseFileInfo::registerArchiveClass(QStringLiteral("MemoryFileInfo"),
                                          [store] { return VtrFileInfoPtr(store->info(QStringLiteral("/"))); });
    VtrFileInfoPtr copy = VtrBaseFileInfo::unarchiveFromData(store->info(QStringLiteral("/f.bin"))->archiveToData());
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->path(), QStringLiteral("/f.bin"));
    EXPECT_EQ(copy->oldModificationDate(), modified);
    EXPECT_FALSE(copy->oldCreationDate().isValid());
    EXPECT_EQ(copy->oldFileSize().value_or(-1), 5);

    EXPECT_EQ(VtrBaseFileInfo::unarchiveFromData(QByteArray("garbage")), nullptr);
    EXPECT_EQ(VtrBaseFileInfo::unarchiveFromData(QByteArray()), nullptr);
}
