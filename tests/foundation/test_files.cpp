#include "TestEnvironment.h"
#include "foundation/VtrArray.h"
#include "foundation/VtrFileExtensions.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdexcept>
#include <sys/stat.h>
#include <thread>
#include <tuple>
#include <unistd.h>
#include <vector>

namespace {

bool isDir(const QString &p)
{
    QFileInfo fi(p);
    return fi.isDir() && !fi.isSymLink();
}

bool exists(const QString &p)
{
    return QFileInfo(p).exists() || QFileInfo(p).isSymLink();
}

QByteArray pattern(qint64 n)
{
    QByteArray b(n, Qt::Uninitialized);
    for (qint64 i = 0; i < n; ++i)
        b[i] = char((i * 131 + i / 977) & 0xff);
    return b;
}

QStringList names(const QString &dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

using Call = std::tuple<qint64, qint64, qint64>;

} // namespace

// ---------------------------------------------------------------- file handle

TEST(FileHandle, OpensOrCreatesPrivatelyAndReadsWholeFiles)
{
    const QString dir = testenv::makeTempDir();
    const QString path = dir + "/log";
    auto h = VtrFileHandle::fileHandleOpeningOrCreatingAtPath(path);
    ASSERT_TRUE(h);
    struct stat st;
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0077, 0u);
    EXPECT_EQ(st.st_mode & 0700, 0700u);

    const std::optional<QByteArray> empty = h->readFileIntoMutableData();
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->isEmpty());

    EXPECT_EQ(h->writeData("hello world"), 0);
    EXPECT_EQ(h->fileSize(), 11);
    EXPECT_EQ(h->readFileIntoMutableData(), QByteArray("hello world"));
    EXPECT_EQ(h->offsetInFile(), 11); // whole-file reads leave the position alone

    ASSERT_TRUE(h->seekToFileOffset(6));
    char buf[5];
    EXPECT_EQ(h->readIntoBuffer(buf, 5), 0);
    EXPECT_EQ(QByteArray(buf, 5), "world");
    ASSERT_TRUE(h->seekToFileOffset(6));
    char more[8];
    EXPECT_EQ(h->readIntoBuffer(more, 8), EIO); // only 5 bytes left

    EXPECT_TRUE(h->truncateFileAtOffset(5));
    EXPECT_EQ(h->offsetInFile(), 5);
    EXPECT_EQ(h->seekToEndOfFile(), 5);
    EXPECT_EQ(h->writeData("!"), 0);
    h.reset();
    EXPECT_EQ(testenv::readFile(path), "hello!");

    // An existing file is opened, not replaced.
    auto again = VtrFileHandle::fileHandleOpeningOrCreatingAtPath(path);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->readFileIntoMutableData(), QByteArray("hello!"));

    EXPECT_FALSE(VtrFileHandle::fileHandleOpeningOrCreatingAtPath(dir + "/missing/x"));
    EXPECT_FALSE(VtrFileHandle::fileHandleOpeningOrCreatingAtPath(QString()));
}

TEST(FileHandle, AShortWriteIsNotSuccess)
{
    // A non-blocking pipe nobody reads takes only part of a large buffer: the
    // write must report the failure, not 0.
    int fds[2];
    ASSERT_EQ(::pipe2(fds, O_NONBLOCK | O_CLOEXEC), 0);
    VtrFileHandle reader(fds[0]);
    VtrFileHandle writer(fds[1]);
    const QByteArray big(4 * 1024 * 1024, 'x');
    EXPECT_EQ(writer.writeData(big), EAGAIN);

    // Through a blocking pipe with a reader, everything arrives.
    int fds2[2];
    ASSERT_EQ(::pipe2(fds2, O_CLOEXEC), 0);
    VtrFileHandle r2(fds2[0]);
    const QByteArray data = pattern(1 << 20);
    QByteArray got;
    std::thread t([&] {
        char b[65536];
        ssize_t n;
        while ((n = ::read(fds2[0], b, sizeof b)) > 0)
            got.append(b, n);
    });
    {
        VtrFileHandle w2(fds2[1]);
        EXPECT_EQ(w2.writeData(data), 0);
    } // closing the write end ends the reader
    t.join();
    EXPECT_EQ(got, data);
}

// ------------------------------------------------------------- folder creation

TEST(RecursivelyCreatePath, CreatesMissingLevelsAndNeverRemovesAFile)
{
    const QString dir = testenv::makeTempDir();
    EXPECT_TRUE(vtr::recursivelyCreatePath(dir + "/a/b/c"));
    EXPECT_TRUE(isDir(dir + "/a/b/c"));
    EXPECT_TRUE(vtr::recursivelyCreatePath(dir + "/a/b/c/")); // already there

    // A file where the folder should be stays a file, with its content.
    testenv::writeFile(dir + "/file", "keep");
    EXPECT_FALSE(vtr::recursivelyCreatePath(dir + "/file"));
    EXPECT_EQ(testenv::readFile(dir + "/file"), "keep");
    EXPECT_FALSE(vtr::recursivelyCreatePath(dir + "/file/below"));
    EXPECT_EQ(testenv::readFile(dir + "/file"), "keep");

    // A link to a folder is a folder on the way.
    ASSERT_EQ(::symlink(QFile::encodeName(dir + "/a").constData(), QFile::encodeName(dir + "/link").constData()), 0);
    EXPECT_TRUE(vtr::recursivelyCreatePath(dir + "/link/x/y"));
    EXPECT_TRUE(isDir(dir + "/a/x/y"));
    EXPECT_FALSE(vtr::recursivelyCreatePath(QString()));
}

// ------------------------------------------------------------------- file copy

class CopyFileTest : public ::testing::Test
{
protected:
    void SetUp() override { dir = testenv::makeTempDir("copy"); }
    vtr::CopyProgressFunction recorder(bool stopAtCall = false, size_t stopIndex = 0)
    {
        return [this, stopAtCall, stopIndex](qint64 chunk, qint64 copied, qint64 total) {
            calls.emplace_back(chunk, copied, total);
            return stopAtCall && calls.size() == stopIndex + 1;
        };
    }
    QString dir;
    std::vector<Call> calls;
};

TEST_F(CopyFileTest, CopiesInChunksWithProgress)
{
    const QByteArray data = pattern(600000);
    testenv::writeFile(dir + "/src", data);
    EXPECT_EQ(vtr::copyFile(dir + "/src", dir + "/new/folder/dst", recorder()), 0);
    EXPECT_EQ(testenv::readFile(dir + "/new/folder/dst"), data);
    EXPECT_EQ(calls, (std::vector<Call>{
                         {0, 0, 600000}, {262144, 262144, 600000}, {262144, 524288, 600000}, {75712, 600000, 600000}}));
    EXPECT_EQ(names(dir + "/new/folder"), QStringList({"dst"}));

    // Above 5 MiB the chunks are 1 MiB.
    calls.clear();
    const QByteArray big = pattern(5242881);
    testenv::writeFile(dir + "/big", big);
    EXPECT_EQ(vtr::copyFile(dir + "/big", dir + "/bigcopy", recorder()), 0);
    ASSERT_EQ(calls.size(), 7u);
    EXPECT_EQ(calls[1], Call(1048576, 1048576, 5242881));
    EXPECT_EQ(calls[6], Call(1, 5242881, 5242881));
    EXPECT_EQ(testenv::readFile(dir + "/bigcopy"), big);

    // No progress function at all.
    EXPECT_EQ(vtr::copyFile(dir + "/src", dir + "/plain"), 0);
    EXPECT_EQ(testenv::readFile(dir + "/plain"), data);
}

TEST_F(CopyFileTest, EmptyFileReportsOnceAndCanBeStoppedThere)
{
    testenv::writeFile(dir + "/empty", "");
    EXPECT_EQ(vtr::copyFile(dir + "/empty", dir + "/out", recorder()), 0);
    EXPECT_EQ(calls, (std::vector<Call>{{0, 0, 0}}));
    EXPECT_TRUE(exists(dir + "/out"));
    EXPECT_EQ(testenv::readFile(dir + "/out"), "");

    calls.clear();
    EXPECT_EQ(vtr::copyFile(dir + "/empty", dir + "/out2", recorder(true, 0)), vtr::kCopyFileStopped);
    EXPECT_FALSE(exists(dir + "/out2"));
    EXPECT_EQ(names(dir), QStringList({"empty", "out"}));
}

TEST_F(CopyFileTest, StoppedOrFailedCopyLeavesTheOldDestination)
{
    testenv::writeFile(dir + "/src", pattern(700000));
    testenv::writeFile(dir + "/dst", "old content");

    // Stopped at the last call (after every byte was written) still counts.
    for (size_t stop : {0u, 1u, 3u}) {
        calls.clear();
        EXPECT_EQ(vtr::copyFile(dir + "/src", dir + "/dst", recorder(true, stop)), vtr::kCopyFileStopped) << stop;
        EXPECT_EQ(testenv::readFile(dir + "/dst"), "old content");
        EXPECT_EQ(names(dir), QStringList({"dst", "src"}));
    }

    // The source shrinking during the copy is a failure, not a short copy.
    const auto shrink = [&](qint64, qint64 copied, qint64) {
        if (copied > 0) {
            EXPECT_TRUE(QFile::resize(dir + "/src", 300000));
        }
        return false;
    };
    EXPECT_EQ(vtr::copyFile(dir + "/src", dir + "/dst", shrink), EIO);
    EXPECT_EQ(testenv::readFile(dir + "/dst"), "old content");

    // A progress function that throws leaves no temporary file behind.
    const auto thrower = [](qint64, qint64 copied, qint64) -> bool {
        if (copied > 0) throw std::runtime_error("boom");
        return false;
    };
    EXPECT_THROW(vtr::copyFile(dir + "/src", dir + "/dst", thrower), std::runtime_error);
    EXPECT_EQ(testenv::readFile(dir + "/dst"), "old content");
    EXPECT_EQ(names(dir), QStringList({"dst", "src"}));

    // A successful copy then replaces it.
    EXPECT_EQ(vtr::copyFile(dir + "/src", dir + "/dst"), 0);
    EXPECT_EQ(testenv::readFile(dir + "/dst"), testenv::readFile(dir + "/src"));
}

TEST_F(CopyFileTest, RefusesToCopyAFileOntoItself)
{
    testenv::writeFile(dir + "/src", "precious");
    ASSERT_EQ(::link(QFile::encodeName(dir + "/src").constData(), QFile::encodeName(dir + "/hard").constData()), 0);
    ASSERT_EQ(::symlink("src", QFile::encodeName(dir + "/soft").constData()), 0);
    for (const char *target : {"/src", "/hard", "/soft", "/./src"}) {
        EXPECT_EQ(vtr::copyFile(dir + "/src", dir + target), EINVAL) << target;
        EXPECT_EQ(testenv::readFile(dir + "/src"), "precious");
    }
    EXPECT_EQ(names(dir), QStringList({"hard", "soft", "src"}));
}

TEST_F(CopyFileTest, FailuresTouchNothing)
{
    testenv::writeFile(dir + "/src", "data");
    testenv::writeFile(dir + "/blocker", "file in the way");
    QDir(dir).mkpath("folder/inner");

    EXPECT_EQ(vtr::copyFile(dir + "/missing", dir + "/dst", recorder()), ENOENT);
    EXPECT_EQ(vtr::copyFile(dir + "/src", dir + "/blocker/dst", recorder()), ENOTDIR);
    EXPECT_EQ(vtr::copyFile(dir + "/src", dir + "/blocker/deeper/dst", recorder()), ENOTDIR);
    EXPECT_EQ(vtr::copyFile(dir + "/src", dir + "/folder", recorder()), EISDIR);
    EXPECT_EQ(vtr::copyFile(dir + "/folder", dir + "/dst", recorder()), EISDIR);
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(testenv::readFile(dir + "/blocker"), "file in the way");
    EXPECT_TRUE(isDir(dir + "/folder/inner"));
    EXPECT_EQ(names(dir), QStringList({"blocker", "folder", "src"}));
}

// ------------------------------------------------------- removing empty folders

TEST(RemoveEmptyDirectories, RemovesFoldersHoldingOnlyDotEntriesDeepestFirst)
{
    const QString root = testenv::makeTempDir("tree");
    const QString outside = testenv::makeTempDir("outside");
    QDir(root).mkpath("a/b/c");
    testenv::writeFile(root + "/d/.DS_Store", "x");
    testenv::writeFile(root + "/e/keep.txt", "x");
    testenv::writeFile(root + "/f/g/.hidden", "x");
    testenv::writeFile(root + "/f/h.txt", "x");
    QDir(root).mkpath(".dotfolder");
    ASSERT_EQ(::symlink(QFile::encodeName(outside).constData(), QFile::encodeName(root + "/link").constData()), 0);

    vtr::removeEmptyDirectoriesFromPath(root);
    EXPECT_EQ(names(root), QStringList({"e", "f", "link"}));
    EXPECT_EQ(names(root + "/f"), QStringList({"h.txt"}));
    EXPECT_TRUE(isDir(outside)); // links are not followed

    vtr::removeEmptyDirectoriesFromPath(root + "/e"); // the given folder itself stays
    EXPECT_TRUE(isDir(root + "/e"));
    testenv::writeFile(root + "/plain", "x");
    vtr::removeEmptyDirectoriesFromPath(root + "/plain");
    EXPECT_TRUE(exists(root + "/plain"));
}

TEST(RemoveDirectoryIfEmpty, IgnoresDotFilesAndListedNames)
{
    const QString base = testenv::makeTempDir("rdie");
    const QStringList ignore = {"Thumbs.db", "desktop.ini"};

    testenv::writeFile(base + "/junk/.DS_Store", "x");
    testenv::writeFile(base + "/junk/THUMBS.DB", "x");
    testenv::writeFile(base + "/junk/desktop.ini", "x");
    QDir(base).mkpath("junk/sub");
    vtr::removeDirectoryIfEmpty(base + "/junk", ignore);
    EXPECT_FALSE(exists(base + "/junk"));

    QDir(base).mkpath("empty");
    vtr::removeDirectoryIfEmpty(base + "/empty", ignore);
    EXPECT_FALSE(exists(base + "/empty"));

    testenv::writeFile(base + "/real/.DS_Store", "x");
    testenv::writeFile(base + "/real/photo.jpg", "x");
    vtr::removeDirectoryIfEmpty(base + "/real", ignore);
    EXPECT_EQ(names(base + "/real"), QStringList({".DS_Store", "photo.jpg"}));

    testenv::writeFile(base + "/nested/sub/photo.jpg", "x");
    vtr::removeDirectoryIfEmpty(base + "/nested", ignore);
    EXPECT_TRUE(exists(base + "/nested/sub/photo.jpg"));

    testenv::writeFile(base + "/afile", "x");
    vtr::removeDirectoryIfEmpty(base + "/afile", ignore);
    EXPECT_TRUE(exists(base + "/afile"));
}

// ------------------------------------------------------------ unique file path

TEST(UniqueFilePath, CountsUpInTheSameFolder)
{
    const QString dir = testenv::makeTempDir("unique");
    EXPECT_EQ(vtr::uniqueFilePath(dir + "/photo.jpg"), dir + "/photo.jpg");
    testenv::writeFile(dir + "/photo.jpg", "x");
    testenv::writeFile(dir + "/photo 1.jpg", "x");
    EXPECT_EQ(vtr::uniqueFilePath(dir + "/photo.jpg"), dir + "/photo 2.jpg");

    // A name differing only in case is taken, as on the phone's disks.
    testenv::writeFile(dir + "/CLIP.MP4", "x");
    EXPECT_EQ(vtr::uniqueFilePath(dir + "/clip.mp4"), dir + "/clip 1.mp4");

    // After a folder the whole name is counted.
    QDir(dir).mkpath("movie.mov");
    EXPECT_EQ(vtr::uniqueFilePath(dir + "/movie.mov"), dir + "/movie.mov 1");

    testenv::writeFile(dir + "/README", "x");
    EXPECT_EQ(vtr::uniqueFilePath(dir + "/README"), dir + "/README 1");
    testenv::writeFile(dir + "/.profile", "x");
    EXPECT_EQ(vtr::uniqueFilePath(dir + "/.profile"), dir + "/.profile 1");

    // A dangling link is something that exists.
    ASSERT_EQ(::symlink("nowhere", QFile::encodeName(dir + "/dangling.txt").constData()), 0);
    EXPECT_EQ(vtr::uniqueFilePath(dir + "/dangling.txt"), dir + "/dangling 1.txt");

    EXPECT_TRUE(vtr::uniqueFilePath("photo.jpg").isNull());
    EXPECT_TRUE(vtr::uniqueFilePath(QString()).isNull());
    EXPECT_EQ(vtr::uniqueFilePath(dir + "/new.txt/"), dir + "/new.txt");
}

// ------------------------------------------------------- paths, sizes, folders

TEST(FileManager, LinksSizesAndMetadataFolder)
{
    const QString dir = testenv::makeTempDir("paths");
    testenv::writeFile(dir + "/sub/target", "12345");
    const QByteArray sub = QFile::encodeName(dir + "/sub");
    ASSERT_EQ(::symlink("target", (sub + "/rel").constData()), 0);
    ASSERT_EQ(::symlink((sub + "/target").constData(), (sub + "/abs").constData()), 0);
    ASSERT_EQ(::symlink("rel", (sub + "/chain").constData()), 0);

    EXPECT_EQ(vtr::absolutePathForPath(dir + "/sub/rel"), dir + "/sub/target");
    EXPECT_EQ(vtr::absolutePathForPath(dir + "/sub/abs"), dir + "/sub/target");
    EXPECT_EQ(vtr::absolutePathForPath(dir + "/sub/chain"), dir + "/sub/rel"); // one level only
    EXPECT_EQ(vtr::absolutePathForPath(dir + "/sub/target"), dir + "/sub/target");
    EXPECT_EQ(vtr::absolutePathForPath(dir + "/missing"), dir + "/missing");
    EXPECT_TRUE(vtr::absolutePathForPath(QString()).isNull());

    EXPECT_EQ(vtr::getDataForkSize(dir + "/sub/target"), 5);
    EXPECT_EQ(vtr::getDataForkSize(dir + "/sub/abs"), 5);
    EXPECT_EQ(vtr::getDataForkSize(dir + "/missing"), 0);
    EXPECT_EQ(vtr::getDataForkSize(QString()), 0);

    const QString meta = vtr::metadataFolder();
    EXPECT_TRUE(isDir(meta));
    EXPECT_TRUE(meta.startsWith(QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + "/Metadata/"));
}

// ------------------------------------------------------------------ arrays

TEST(ArrayExtensions, CaseInsensitiveNameMembership)
{
    const QVariantList mixed = {"jpg", "", 5, "Png", QVariantMap()};
    EXPECT_TRUE(vtr::arrayContainsString(mixed, "JPG"));
    EXPECT_TRUE(vtr::arrayContainsString(mixed, "png"));
    EXPECT_FALSE(vtr::arrayContainsString(mixed, "")); // even though "" is an element
    EXPECT_FALSE(vtr::arrayContainsString(mixed, QString()));
    EXPECT_FALSE(vtr::arrayContainsString(mixed, "5"));
    EXPECT_TRUE(vtr::arrayContainsFilenameString(QStringList({"mov", "mp4"}), "MP4"));
    EXPECT_EQ(vtr::arrayIndexOfString(mixed, "PNG"), 3);
    EXPECT_EQ(vtr::arrayIndexOfString(mixed, "gif"), -1);

    EXPECT_TRUE(vtr::arrayContainsStrings(mixed, QVariantList({"JPG", 7, "png"})));
    EXPECT_FALSE(vtr::arrayContainsStrings(mixed, QVariantList({"JPG", "gif"})));
    EXPECT_FALSE(vtr::arrayContainsStrings(QStringList({"a"}), QStringList({"a", "a"}))); // longer list
    EXPECT_FALSE(vtr::arrayContainsStrings(mixed, QVariantList()));

    const QVariantList paths = {"/x", "/A/B"};
    EXPECT_EQ(vtr::arrayIndexOfPathString(paths, "a/b"), 1);
    EXPECT_TRUE(vtr::arrayContainsPathString(QStringList({"Volumes/Card"}), "/volumes/card"));
    EXPECT_EQ(vtr::arrayIndexOfPathString(paths, "/y"), -1);
}

TEST(ArrayExtensions, NumbersSameValuesArchivesAndInsertion)
{
    const QVariantList numbers = {QVariant(true), 2.5, QVariant(qulonglong(18446744073709551615ULL)), "3", 42};
    EXPECT_TRUE(vtr::arrayContainsNumber(numbers, 1));
    EXPECT_TRUE(vtr::arrayContainsNumber(numbers, 42.0));
    EXPECT_TRUE(vtr::arrayContainsNumber(numbers, QVariant(qint64(42))));
    EXPECT_TRUE(vtr::arrayContainsNumber(numbers, 2.5f));
    EXPECT_FALSE(vtr::arrayContainsNumber(numbers, 3)); // "3" is a string
    EXPECT_FALSE(vtr::arrayContainsNumber(numbers, QVariant()));
    EXPECT_FALSE(vtr::arrayContainsNumber(numbers, QVariant(qint64(-1)))); // not UINT64_MAX
    EXPECT_FALSE(vtr::arrayContainsNumber({QVariant(qint64(9007199254740993LL))}, 9007199254740992.0));

    EXPECT_TRUE(vtr::arrayContainsSameValues({1, "a", 1}, {"a", 1, 1}));
    EXPECT_TRUE(vtr::arrayContainsSameValues({1, "a", 1}, {"a", 1, "a"})); // equal occurrences all go
    EXPECT_FALSE(vtr::arrayContainsSameValues({1, "a"}, {1, "b"}));
    EXPECT_FALSE(vtr::arrayContainsSameValues({1}, {1, 1}));

    const QVariantList values = {"text", 7, QVariantMap{{"k", QVariantList{1, 2}}}, QByteArray("\0x", 2)};
    const QVariantList archived = vtr::dataArray(values);
    ASSERT_EQ(archived.size(), 4);
    EXPECT_EQ(vtr::arrayWithDataArray(archived), values);
    EXPECT_FALSE(vtr::arrayWithDataArray({QByteArray("junk")}));
    EXPECT_FALSE(vtr::arrayWithDataArray({"not bytes"}));

    QVariantList list = {"a", "d"};
    vtr::insertObjectsFromArray(list, {"b", "c"}, 1);
    EXPECT_EQ(list, QVariantList({"a", "b", "c", "d"}));
    vtr::insertObjectsFromArray(list, {"e"}, 99);
    EXPECT_EQ(list.last(), "e");

    int a = 1, b = 1;
    const QList<int *> pointers = {&a};
    EXPECT_TRUE(vtr::arrayContainsObjectIdenticalTo(pointers, &a));
    EXPECT_FALSE(vtr::arrayContainsObjectIdenticalTo(pointers, &b));
}
