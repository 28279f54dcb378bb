// Media from phones, cards and brought libraries is read only as the one
// plain sound or movie file it is, within bounds of time and memory.
#include "fileinfo/GuardedMediaInput.h"

#include "ResourceGuard.h"
#include "TestEnvironment.h"

#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

QString sample(const QString &name)
{
    return testenv::sourcePath(QStringLiteral("fileinfo/data/media/") + name);
}

// Serves bytes, possibly without telling their size, and fails every read
// after `failAfter` bytes.
class Bytes final : public vtr::MediaByteSource
{
public:
    explicit Bytes(QByteArray bytes, bool sized = true, qint64 failAfter = -1)
        : m_bytes(std::move(bytes)), m_sized(sized), m_failAfter(failAfter)
    {}
    qint64 read(char *buffer, qint64 maxBytes) override
    {
        if (m_failAfter >= 0 && m_at >= m_failAfter) return -1;
        const qint64 n = m_bytes.mid(m_at, m_failAfter >= 0 ? std::min(maxBytes, m_failAfter - m_at) : maxBytes).size();
        memcpy(buffer, m_bytes.constData() + m_at, size_t(n));
        m_at += n;
        return n;
    }
    bool seek(qint64 offset) override { return offset >= 0 && offset <= m_bytes.size() && ((m_at = offset), true); }
    qint64 size() const override { return m_sized ? m_bytes.size() : -1; }

private:
    QByteArray m_bytes;
    bool m_sized;
    qint64 m_failAfter;
    qint64 m_at = 0;
};

} // namespace

TEST(GuardedMedia, PlaylistsListsAndImageSequencesAreRefusedWithinBounds)
{
    VTR_TEST_AS_UNPRIVILEGED_USER();
    for (const QString name : {"self.mp3", "names-local.mp3", "concat.mp3", "frame%d.jpg"}) {
        SCOPED_TRACE(name.toStdString());
        // Beside it, what it names.
        const QString dir = testenv::makeTempDir();
        for (const auto &[from, to] :
             {std::pair{name, name}, {"tagged.mp3", "watched.ts"}, {"frame%d.jpg", "frame1.jpg"}})
            ASSERT_TRUE(QFile::copy(sample(from), dir + "/" + to));
        const testenv::ResourceGuard guard; // a playlist naming itself was read for ever, growing
        QString why;
        EXPECT_EQ(vtr::GuardedMediaInput::openFile(dir + "/" + name, &why), nullptr);
        EXPECT_FALSE(why.isEmpty());
        EXPECT_FALSE(vtr::readMediaTags(dir + "/" + name).has_value());
        Bytes bytes(testenv::readFile(sample(name)));
        EXPECT_FALSE(vtr::readMediaTags(bytes, name).has_value());
    }
}

TEST(GuardedMedia, TagsOfARealSongFromAPathOrAByteSource)
{
    const auto expectTags = [](const std::optional<vtr::MediaTags> &tags) {
        ASSERT_TRUE(tags.has_value());
        EXPECT_EQ(tags->title, "Blue in Green");
        EXPECT_EQ(tags->artist, "Nina");
        EXPECT_EQ(tags->album, "Live");
        EXPECT_EQ(tags->genre, "Jazz");
    };
    expectTags(vtr::readMediaTags(sample("tagged.mp3")));
    const QByteArray song = testenv::readFile(sample("tagged.mp3"));
    Bytes sized(song);
    expectTags(vtr::readMediaTags(sized, "ABCD.mp3"));
    Bytes unsized(song, false);
    expectTags(vtr::readMediaTags(unsized, QString()));

    // A source that fails, a deadline already passed: refused with a reason, never a crash.
    Bytes failing(song, true, 100);
    QString why;
    EXPECT_FALSE(vtr::readMediaTags(failing, "ABCD.mp3", &why).has_value());
    EXPECT_EQ(why, "its bytes could not be read");
    Bytes late(song);
    vtr::MediaOpenLimits expired;
    expired.deadline = std::chrono::milliseconds(0);
    EXPECT_EQ(vtr::GuardedMediaInput::openSource(late, "ABCD.mp3", &why, expired), nullptr);
    EXPECT_EQ(why, "reading it took too long");
}

TEST(GuardedMedia, OnlyRegularFilesAreOpened)
{
    const QString dir = testenv::makeTempDir();
    ASSERT_EQ(::mkfifo(QFile::encodeName(dir + "/song.mp3").constData(), 0600), 0);
    QString why;
    EXPECT_EQ(vtr::GuardedMediaInput::openFile(dir + "/song.mp3", &why), nullptr) << "a FIFO would block for ever";
    EXPECT_EQ(why, "it is not a regular file");
    EXPECT_EQ(vtr::GuardedMediaInput::openFile(dir, &why), nullptr);
    EXPECT_EQ(vtr::GuardedMediaInput::openFile(dir + "/missing.mp3", &why), nullptr);
    EXPECT_TRUE(why.startsWith("it could not be opened")) << why.toStdString();
}
