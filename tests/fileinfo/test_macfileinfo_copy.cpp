// The generic chunked copy between two local file infos.

#include "fileinfo/FileInfoCopy.h"
#include "fileinfo/VtrMacFileInfo.h"

#include "TestEnvironment.h"
#include "TestFolders.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QScopeGuard>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>
#include <utility>

#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using Ptr = VtrMacFileInfo::Ptr;

class LocalCopyTest : public ::testing::Test
{
protected:
    void SetUp() override { dir = testenv::makeTempDir(QStringLiteral("copy")); }
    QString p(const QString &relative) const { return dir + QLatin1Char('/') + relative; }
    Ptr at(const QString &relative) const { return VtrMacFileInfo::fileInfoWithPath(p(relative)); }
    void write(const QString &relative, const QByteArray &bytes) const { testenv::writeFile(p(relative), bytes); }
    QByteArray read(const QString &relative) const { return testenv::readFile(p(relative)); }
    QStringList entries(const QString &relative) const
    {
        return QDir(p(relative)).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    }

    QString dir;
};

class StopAt : public FileInfoCopyProgress
{
public:
    explicit StopAt(float percent, bool throwInstead = false) : m_percent(percent), m_throw(throwInstead) {}
    bool copyingFile(const VtrFileInfoPtr &, const VtrFileInfoPtr &, float percent, void *) override
    {
        ++calls;
        if (percent < m_percent) return false;
        if (m_throw) throw std::runtime_error("disk pulled out");
        return true;
    }
    int calls = 0;

private:
    float m_percent;
    bool m_throw;
};

TEST_F(LocalCopyTest, CopiesIntoAFolderUnderItsOwnName)
{
    const QByteArray data(5 * (1 << 20) + 123, 'q');
    write(QStringLiteral("from/clip.mov"), data);
    QDir().mkpath(p(QStringLiteral("to")));
    const QDateTime when = QDateTime(QDate(2012, 12, 12), QTime(12, 12, 12, 120), Qt::UTC);
    Ptr source = at(QStringLiteral("from/clip.mov"));
    source->setModificationDate(when);

    VtrFileInfoPtr out;
    ASSERT_EQ(source->copyTo(at(QStringLiteral("to")), false, nullptr, nullptr, &out), kFileInfoCopyOK);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(out->path(), p(QStringLiteral("to/clip.mov")));
    EXPECT_EQ(out->size(), data.size());
    EXPECT_EQ(read(QStringLiteral("to/clip.mov")), data);
    EXPECT_EQ(at(QStringLiteral("to/clip.mov"))->modificationDate(), when);
    EXPECT_EQ(entries(QStringLiteral("to")), QStringList{QStringLiteral("clip.mov")});

    // Unique names on request; a plain copy replaces the old file whole.
    ASSERT_EQ(source->copyTo(at(QStringLiteral("to")), true, nullptr, nullptr, &out), kFileInfoCopyOK);
    EXPECT_EQ(out->name(), QStringLiteral("clip-1.mov"));
    write(QStringLiteral("to/clip.mov"), "stale");
    ASSERT_EQ(source->copyTo(at(QStringLiteral("to"))), kFileInfoCopyOK);
    EXPECT_EQ(read(QStringLiteral("to/clip.mov")), data);

    // Leftovers of interrupted copies go, copy after copy.
    for (int round = 0; round < 2; ++round) {
        write(QStringLiteral("to/TessalineCopyFile.tmp"), "half a file");
        ASSERT_EQ(source->copyTo(at(QStringLiteral("to"))), kFileInfoCopyOK);
        EXPECT_FALSE(entries(QStringLiteral("to")).contains(QStringLiteral("TessalineCopyFile.tmp")));
    }
}

// A unique name is chosen before the copy; a file that takes that name while
// the copy runs is never replaced: the copy takes the next free name.
TEST_F(LocalCopyTest, UniqueNameTakenDuringTheCopyIsKept)
{
    write(QStringLiteral("song.mp3"), QByteArray(3 * (1 << 20), 's'));
    write(QStringLiteral("to/song.mp3"), "first");
    class Intruder : public FileInfoCopyProgress
    {
    public:
        explicit Intruder(QStringList paths) : m_paths(std::move(paths)) {}
        bool copyingFile(const VtrFileInfoPtr &, const VtrFileInfoPtr &, float, void *) override
        {
            for (const QString &path : std::exchange(m_paths, {}))
                testenv::writeFile(path, "theirs");
            return false;
        }

    private:
        QStringList m_paths;
    } intruder({p(QStringLiteral("to/song-1.mp3")), p(QStringLiteral("to/song-2.mp3"))});
    VtrFileInfoPtr out;
    ASSERT_EQ(at(QStringLiteral("song.mp3"))->copyTo(at(QStringLiteral("to")), true, &intruder, nullptr, &out),
              kFileInfoCopyOK);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(out->path(), p(QStringLiteral("to/song-3.mp3")));
    EXPECT_EQ(read(QStringLiteral("to/song-3.mp3")), QByteArray(3 * (1 << 20), 's'));
    EXPECT_EQ(read(QStringLiteral("to/song.mp3")), QByteArray("first"));
    EXPECT_EQ(read(QStringLiteral("to/song-1.mp3")), QByteArray("theirs"));
    EXPECT_EQ(read(QStringLiteral("to/song-2.mp3")), QByteArray("theirs"));
    EXPECT_EQ(entries(QStringLiteral("to")).size(), 4);
}

// The letter-case look-up follows the copy's own changes to the folder, and
// still sees a file another program adds while the copy runs.
TEST_F(LocalCopyTest, LetterCaseLookUpSeesFilesAddedDuringACopy)
{
    write(QStringLiteral("Song.MP3"), QByteArray(1 << 16, 's'));
    QDir().mkpath(p(QStringLiteral("to")));
    Ptr folder = at(QStringLiteral("to"));
    ASSERT_FALSE(folder->find(QStringLiteral("song.mp3"))->exists()); // the folder's index is made
    class Outsider : public FileInfoCopyProgress
    {
    public:
        explicit Outsider(QString path) : m_path(std::move(path)) {}
        bool copyingFile(const VtrFileInfoPtr &, const VtrFileInfoPtr &, float, void *) override
        {
            testenv::writeFile(m_path, "theirs");
            // Longer than any state of the folder is trusted without a look.
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            return false;
        }

    private:
        QString m_path;
    } outsider(p(QStringLiteral("to/Other.TXT")));
    ASSERT_EQ(at(QStringLiteral("Song.MP3"))->copyTo(folder, false, &outsider, nullptr, nullptr), kFileInfoCopyOK);
    EXPECT_EQ(folder->find(QStringLiteral("SONG.mp3"))->path(), p(QStringLiteral("to/Song.MP3")));
    EXPECT_EQ(folder->find(QStringLiteral("other.txt"))->path(), p(QStringLiteral("to/Other.TXT")));
    EXPECT_FALSE(folder->find(QStringLiteral("tessalinecopyfile.tmp"))->exists());
}

TEST_F(LocalCopyTest, InterruptedCopiesLeaveTheOldDestination)
{
    write(QStringLiteral("src.bin"), QByteArray(8 * (1 << 20), 'n'));
    write(QStringLiteral("dst/src.bin"), "old");
    Ptr source = at(QStringLiteral("src.bin"));

    StopAt cancel(50.0f);
    EXPECT_EQ(source->copyTo(at(QStringLiteral("dst")), false, &cancel, nullptr, nullptr), kFileInfoCopyCancelled);
    EXPECT_GT(cancel.calls, 1);
    EXPECT_EQ(read(QStringLiteral("dst/src.bin")), QByteArray("old"));
    EXPECT_EQ(entries(QStringLiteral("dst")), QStringList{QStringLiteral("src.bin")});

    StopAt crash(30.0f, true);
    EXPECT_EQ(source->copyTo(at(QStringLiteral("dst")), false, &crash, nullptr, nullptr), kFileInfoCopyException);
    EXPECT_EQ(read(QStringLiteral("dst/src.bin")), QByteArray("old"));
    EXPECT_EQ(entries(QStringLiteral("dst")), QStringList{QStringLiteral("src.bin")});

    // A source that shrinks under the copy gives no short file.
    class Shrinker : public FileInfoCopyProgress
    {
    public:
        explicit Shrinker(QString path) : m_path(std::move(path)) {}
        bool copyingFile(const VtrFileInfoPtr &, const VtrFileInfoPtr &, float, void *) override
        {
            ::truncate(QFile::encodeName(m_path).constData(), 1 << 20);
            return false;
        }

    private:
        QString m_path;
    } shrinker(source->path());
    EXPECT_EQ(source->copyTo(at(QStringLiteral("dst")), false, &shrinker, nullptr, nullptr), kFileInfoCopyReadFailed);
    EXPECT_EQ(read(QStringLiteral("dst/src.bin")), QByteArray("old"));
}

// The temporary file stays open from its creation to the end of the copy:
// no descriptor outlives a copy, whether it ends well or not.
TEST_F(LocalCopyTest, NoDescriptorOutlivesACopy)
{
    const auto openDescriptors = [] { return QDir(QStringLiteral("/proc/self/fd")).count(); };
    write(QStringLiteral("a.txt"), "a");
    ASSERT_EQ(::symlink("nowhere", QFile::encodeName(p(QStringLiteral("dangling"))).constData()), 0);
    QDir().mkpath(p(QStringLiteral("to")));
    const auto before = openDescriptors();
    EXPECT_EQ(at(QStringLiteral("dangling"))->copyTo(at(QStringLiteral("to"))), kFileInfoCopySourceNotOpened);
    EXPECT_EQ(at(QStringLiteral("a.txt"))->copyTo(at(QStringLiteral("to"))), kFileInfoCopyOK);
    VtrFileInfoPtr unused = at(QStringLiteral("to"))->createFile(QStringLiteral("TessalineCopyFile.tmp"), {}, {});
    ASSERT_TRUE(unused && unused->exists());
    unused.reset();
    EXPECT_EQ(openDescriptors(), before);
    EXPECT_EQ(entries(QStringLiteral("to")), (QStringList{QStringLiteral("a.txt"), QStringLiteral("TessalineCopyFile.tmp")}));
}

// Another user who may write into the folder puts a link to a private file
// of the person's at the temporary file's name: right after the leftover
// went, or in place of the copy's own file while it is written. The copy
// fails; the private file keeps its bytes and date, and no link takes the
// destination's name.
TEST_F(LocalCopyTest, AnItemPutAtTheTemporaryNameIsNeitherWrittenThroughNorMovedIntoPlace)
{
    const QDateTime date(QDate(2011, 1, 1), QTime(1, 1), Qt::UTC);
    write(QStringLiteral("home/private.txt"), "the person's own");
    at(QStringLiteral("home/private.txt"))->setModificationDate(date);
    write(QStringLiteral("song.mp3"), "a song");
    QDir().mkpath(p(QStringLiteral("to")));
    const auto plantLink = [this](const QString &path) {
        ASSERT_EQ(::symlink(QFile::encodeName(p(QStringLiteral("home/private.txt"))).constData(),
                            QFile::encodeName(path).constData()),
                  0);
    };
    vtr::setBeforeTemporaryFileCreatedForTesting(plantLink);
    const auto noHook = qScopeGuard([] { vtr::setBeforeTemporaryFileCreatedForTesting({}); });
    EXPECT_EQ(at(QStringLiteral("song.mp3"))->copyTo(at(QStringLiteral("to"))), kFileInfoCopyTempFileNotCreated);
    EXPECT_EQ(vtr::lastCopyFailure().error, EEXIST);
    vtr::setBeforeTemporaryFileCreatedForTesting({});

    class Swap : public FileInfoCopyProgress
    {
    public:
        std::function<void(const QString &)> swap;
        bool copyingFile(const VtrFileInfoPtr &, const VtrFileInfoPtr &temporary, float percent, void *) override
        {
            if (percent >= 100.0f) swap(temporary->path());
            return false;
        }
    } swapped;
    swapped.swap = [&](const QString &path) {
        ASSERT_TRUE(QFile::rename(path, p(QStringLiteral("to/aside"))));
        plantLink(path);
    };
    EXPECT_LT(at(QStringLiteral("song.mp3"))->copyTo(at(QStringLiteral("to")), false, &swapped, nullptr, nullptr), 0);
    EXPECT_FALSE(QFileInfo::exists(p(QStringLiteral("to/song.mp3"))));
    EXPECT_EQ(read(QStringLiteral("home/private.txt")), QByteArray("the person's own"));
    EXPECT_EQ(at(QStringLiteral("home/private.txt"))->modificationDate(), date);

    // Nor is a plain file of the same disk put in its place.
    swapped.swap = [&](const QString &path) {
        ASSERT_TRUE(QFile::rename(path, p(QStringLiteral("to/set aside"))));
        testenv::writeFile(path, "their bytes");
    };
    EXPECT_LT(at(QStringLiteral("song.mp3"))->copyTo(at(QStringLiteral("to")), false, &swapped, nullptr, nullptr), 0);
    EXPECT_FALSE(QFileInfo::exists(p(QStringLiteral("to/song.mp3"))));

    // The copy's own file given its contents whole (a new file put in its
    // place by the copy itself) is still the file made for it.
    const auto whole = [](const VtrFileInfoPtr &temporary) {
        return temporary->setFileContents("whole") ? kFileInfoCopyOK : kFileInfoCopyWriteFailed;
    };
    EXPECT_EQ(vtr::copyThroughTemporaryFile(at(QStringLiteral("to/whole.txt")), {}, whole, nullptr), kFileInfoCopyOK);
    EXPECT_EQ(read(QStringLiteral("to/whole.txt")), QByteArray("whole"));
}

TEST_F(LocalCopyTest, RefusesCopiesOntoTheSourceItself)
{
    write(QStringLiteral("self.txt"), "me");
    ASSERT_EQ(::link(QFile::encodeName(p(QStringLiteral("self.txt"))).constData(),
                     QFile::encodeName(p(QStringLiteral("hard.txt"))).constData()),
              0);
    ASSERT_EQ(::symlink(QFile::encodeName(p(QStringLiteral("self.txt"))).constData(),
                        QFile::encodeName(p(QStringLiteral("soft.txt"))).constData()),
              0);
    Ptr source = at(QStringLiteral("self.txt"));
    EXPECT_EQ(source->copyTo(at(QStringLiteral("self.txt"))), kFileInfoCopyBadArguments);
    EXPECT_EQ(source->copyTo(at(QStringLiteral("hard.txt"))), kFileInfoCopyBadArguments);
    EXPECT_EQ(source->copyTo(at(QStringLiteral("soft.txt"))), kFileInfoCopyBadArguments);
    EXPECT_EQ(source->copyTo(at(QString())), kFileInfoCopyBadArguments);
    EXPECT_EQ(read(QStringLiteral("self.txt")), QByteArray("me"));
}

TEST_F(LocalCopyTest, FailsWithFilesInTheWayAndMissingParents)
{
    write(QStringLiteral("src.txt"), "s");
    write(QStringLiteral("plain"), "p");
    QDir().mkpath(p(QStringLiteral("dst/src.txt")));
    Ptr source = at(QStringLiteral("src.txt"));
    // A folder where the copy would go.
    EXPECT_EQ(source->copyTo(at(QStringLiteral("dst"))), kFileInfoCopyDestinationNotFile);
    // Missing parents and a file in place of a folder (ENOTDIR): no temporary file can be made.
    EXPECT_EQ(source->copyTo(at(QStringLiteral("no/such/target.txt"))), kFileInfoCopyTempFileNotCreated);
    EXPECT_LT(source->copyTo(at(QStringLiteral("plain/target.txt"))), 0);
    EXPECT_EQ(read(QStringLiteral("plain")), QByteArray("p"));
    EXPECT_EQ(entries(QString()),
              (QStringList{QStringLiteral("dst"), QStringLiteral("plain"), QStringLiteral("src.txt")}));
    EXPECT_EQ(at(QStringLiteral("missing.txt"))->copyTo(at(QStringLiteral("dst"))), kFileInfoCopySourceMissing);
    EXPECT_EQ(at(QStringLiteral("dst"))->copyTo(at(QStringLiteral("plain"))), kFileInfoCopySourceNotFile);
}

TEST_F(LocalCopyTest, ACopyThatNeverRanReportsNoEarlierFailure)
{
    write(QStringLiteral("src.txt"), "s");
    EXPECT_EQ(at(QStringLiteral("src.txt"))->copyTo(at(QStringLiteral("no/such/target.txt"))),
              kFileInfoCopyTempFileNotCreated);
    ASSERT_NE(vtr::lastCopyFailure().error, 0);
    EXPECT_EQ(at(QStringLiteral("missing.txt"))->copyTo(at(QString())), kFileInfoCopySourceMissing);
    EXPECT_EQ(vtr::lastCopyFailure().error, 0);
    EXPECT_TRUE(vtr::lastCopyFailure().path.isEmpty());
}

// Five GiB, almost all of it holes, with marks on both sides of the 4 GiB
// boundary: the copy must be byte-identical and must not take minutes.
TEST_F(LocalCopyTest, SparseFileOfFiveGiB)
{
    const qint64 size = qint64(5) << 30;
    Ptr folder = at(QString());
    if (folder->freeSpaceOnVolume() < size + (qint64(512) << 20))
        GTEST_SKIP() << "needs 5.5 GiB free for the space check of the copy";

    const QString sourcePath = p(QStringLiteral("sparse.img"));
    {
        QFile file(sourcePath);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_TRUE(file.resize(size));
        const QList<qint64> marks = {0, (qint64(4) << 30) - 3, qint64(4) << 30, (qint64(4) << 30) + 4093, size - 9};
        for (const qint64 at : marks) {
            ASSERT_TRUE(file.seek(at));
            ASSERT_EQ(file.write("MARK-" + QByteArray::number(at % 1000)), 5 + QByteArray::number(at % 1000).size());
        }
    }
    QDir().mkpath(p(QStringLiteral("out")));

    QElapsedTimer timer;
    timer.start();
    VtrFileInfoPtr copy;
    ASSERT_EQ(at(QStringLiteral("sparse.img"))->copyTo(at(QStringLiteral("out")), false, nullptr, nullptr, &copy),
              kFileInfoCopyOK);
    const qint64 copyMs = timer.elapsed();
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->size(), size);

    QProcess cmp;
    cmp.start(QStringLiteral("cmp"), {sourcePath, copy->path()});
    ASSERT_TRUE(cmp.waitForFinished(600000));
    EXPECT_EQ(cmp.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(cmp.exitCode(), 0) << cmp.readAllStandardOutput().toStdString();

    // The copy stayed sparse: far fewer blocks than bytes.
    struct stat st;
    ASSERT_EQ(::stat(QFile::encodeName(copy->path()).constData(), &st), 0);
    EXPECT_LT(qint64(st.st_blocks) * 512, qint64(64) << 20);
    RecordProperty("copy_ms", QString::number(copyMs).toStdString());
    std::printf("5 GiB sparse copy: %lld ms\n", static_cast<long long>(copyMs));
}

// Holes that start and end inside chunks, and one at the end: the copy is
// byte-identical, as long as the source and still sparse.
TEST_F(LocalCopyTest, HolesInAndAcrossChunksStayHoles)
{
    const qint64 mib = qint64(1) << 20;
    const qint64 size = 6 * mib + 17;
    const QString sourcePath = p(QStringLiteral("holes.img"));
    {
        QFile file(sourcePath);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_TRUE(file.resize(size));
        // Data at the start, across the 2 MiB chunk boundary, and just before the trailing hole.
        for (const qint64 at : {qint64(0), 2 * mib - 3000, 4 * mib - 5}) {
            ASSERT_TRUE(file.seek(at));
            ASSERT_EQ(file.write(QByteArray(6000, char('a' + at % 23))), 6000);
        }
    }
    QDir().mkpath(p(QStringLiteral("out")));

    class Percents : public FileInfoCopyProgress
    {
    public:
        bool copyingFile(const VtrFileInfoPtr &, const VtrFileInfoPtr &, float percent, void *) override
        {
            seen.append(percent);
            return false;
        }
        QList<float> seen;
    } progress;
    VtrFileInfoPtr copy;
    ASSERT_EQ(at(QStringLiteral("holes.img"))->copyTo(at(QStringLiteral("out")), false, &progress, nullptr, &copy),
              kFileInfoCopyOK);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->size(), size);
    EXPECT_EQ(read(QStringLiteral("out/holes.img")), read(QStringLiteral("holes.img")));
    struct stat st;
    ASSERT_EQ(::stat(QFile::encodeName(copy->path()).constData(), &st), 0);
    EXPECT_LT(qint64(st.st_blocks) * 512, 2 * mib);
    // One report per 1 MiB chunk, holes included, ending at 100.
    ASSERT_EQ(progress.seen.size(), 7);
    EXPECT_TRUE(std::is_sorted(progress.seen.begin(), progress.seen.end()));
    EXPECT_FLOAT_EQ(progress.seen.last(), 100.0f);
}

// The kernel copies only between two open local files, at the same offset,
// and leaves ranges it cannot copy to the caller.
TEST_F(LocalCopyTest, RangeCopyBetweenTwoLocalFiles)
{
    write(QStringLiteral("from.bin"), "0123456789abcdef");
    write(QStringLiteral("to.bin"), "");
    Ptr from = at(QStringLiteral("from.bin"));
    Ptr to = at(QStringLiteral("to.bin"));
    VtrFileInfoHandlePtr reader = from->openFileForReading();
    VtrFileInfoHandlePtr writer = to->openFileForWriting();
    ASSERT_NE(reader, nullptr);
    ASSERT_NE(writer, nullptr);

    qint64 copied = -1;
    EXPECT_EQ(from->copyRangeToFile({4, 8}, reader.get(), to.get(), writer.get(), &copied), kFileInfoCopyOK);
    EXPECT_EQ(copied, 8);
    // Fewer at the end of the source; nothing at all past it.
    EXPECT_EQ(from->copyRangeToFile({12, 100}, reader.get(), to.get(), writer.get(), &copied), kFileInfoCopyOK);
    EXPECT_EQ(copied, 4);
    EXPECT_EQ(from->copyRangeToFile({16, 4}, reader.get(), to.get(), writer.get(), &copied), kFileInfoCopyNotSupported);
    EXPECT_EQ(copied, 0);
    // Handles the wrong way round, or of no local file: the caller copies itself.
    EXPECT_EQ(from->copyRangeToFile({0, 4}, writer.get(), to.get(), reader.get(), &copied), kFileInfoCopyNotSupported);
    EXPECT_EQ(from->copyRangeToFile({0, 4}, reader.get(), to.get(), nullptr, &copied), kFileInfoCopyNotSupported);
    VtrBaseFileInfo plain;
    EXPECT_EQ(plain.copyRangeToFile({0, 4}, reader.get(), to.get(), writer.get(), &copied), kFileInfoCopyNotSupported);
    to->closeFile(std::move(writer));
    from->closeFile(std::move(reader));

    // Same offsets: the four bytes before the first range are a zero gap.
    EXPECT_EQ(read(QStringLiteral("to.bin")), QByteArray(4, '\0') + "456789abcdef");
    EXPECT_EQ(to->size(), 16);
}

// Between two file systems the kernel refuses; the copy reads and writes
// instead and still gives identical bytes.
TEST_F(LocalCopyTest, CopyBetweenFileSystems)
{
    struct stat here, shm;
    if (::stat(QFile::encodeName(dir).constData(), &here) != 0 || ::stat("/dev/shm", &shm) != 0 ||
        here.st_dev == shm.st_dev)
        GTEST_SKIP() << "needs /dev/shm on another file system than the test folder";
    char pattern[] = "/dev/shm/vtr-copy-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const QString other = QFile::decodeName(pattern);
    struct Cleanup
    {
        QString path;
        ~Cleanup() { testenv::removeTree(path); }
    } cleanup{other};

    QByteArray data(3 * (1 << 20) + 99, '\0');
    for (qsizetype i = 0; i < data.size(); i += 4093)
        data[i] = char(i % 251 + 1);
    write(QStringLiteral("there.bin"), data);
    VtrFileInfoPtr copy;
    ASSERT_EQ(at(QStringLiteral("there.bin"))
                  ->copyTo(VtrMacFileInfo::fileInfoWithPath(other), false, nullptr, nullptr, &copy),
              kFileInfoCopyOK);
    EXPECT_EQ(testenv::readFile(other + QStringLiteral("/there.bin")), data);
    // And back, over an existing file.
    write(QStringLiteral("back/there.bin"), "old");
    ASSERT_EQ(copy->copyTo(at(QStringLiteral("back"))), kFileInfoCopyOK);
    EXPECT_EQ(read(QStringLiteral("back/there.bin")), data);
}

} // namespace
