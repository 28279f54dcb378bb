// The generic chunked copy between two local file infos.

#include "fileinfo/VtrMacFileInfo.h"

#include "TestEnvironment.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

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

} // namespace
