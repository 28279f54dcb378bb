#include "fileinfo/ArchiveUtils.h"
#include "fileinfo/VtrMacFileInfo.h"

#include "TestEnvironment.h"

#include <gtest/gtest.h>

#include <archive.h>
#include <archive_entry.h>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>
#include <unistd.h>

namespace {

using Ptr = VtrMacFileInfo::Ptr;

struct Entry
{
    QByteArray name;
    mode_t type = AE_IFREG;
    QByteArray data; // contents, or the link target
};

// The names and kinds stored in a zip archive, in order.
QStringList listArchive(const QByteArray &zip, QList<QByteArray> *contents = nullptr)
{
    QStringList names;
    archive *a = archive_read_new();
    archive_read_support_format_zip(a);
    if (archive_read_open_memory(a, zip.constData(), size_t(zip.size())) != ARCHIVE_OK) {
        archive_read_free(a);
        return names;
    }
    archive_entry *entry = nullptr;
    while (archive_read_next_header(a, &entry) == ARCHIVE_OK) {
        QString name = QString::fromUtf8(archive_entry_pathname_utf8(entry));
        if (archive_entry_filetype(entry) == AE_IFLNK)
            name += QStringLiteral(" -> ") + QString::fromUtf8(archive_entry_symlink_utf8(entry));
        names.append(name);
        if (contents) {
            QByteArray data;
            char buffer[4096];
            la_ssize_t n;
            while ((n = archive_read_data(a, buffer, sizeof buffer)) > 0)
                data.append(buffer, n);
            contents->append(data);
        }
    }
    archive_read_free(a);
    return names;
}

// A hand-made archive, for entries no archiver of ours would write.
QByteArray makeArchive(const QList<Entry> &entries, bool tar = false)
{
    QByteArray out;
    archive *a = archive_write_new();
    if (tar)
        archive_write_set_format_pax_restricted(a);
    else
        archive_write_set_format_zip(a);
    archive_write_set_bytes_in_last_block(a, 1);
    archive_write_open(
        a, &out, nullptr,
        [](archive *, void *client, const void *buffer, size_t length) -> la_ssize_t {
            static_cast<QByteArray *>(client)->append(static_cast<const char *>(buffer), qsizetype(length));
            return la_ssize_t(length);
        },
        nullptr);
    for (const Entry &e : entries) {
        archive_entry *entry = archive_entry_new();
        archive_entry_set_pathname(entry, e.name.constData());
        archive_entry_set_filetype(entry, e.type);
        archive_entry_set_perm(entry, 0644);
        if (e.type == AE_IFLNK) {
            archive_entry_set_symlink(entry, e.data.constData());
            archive_entry_set_size(entry, 0);
        } else {
            archive_entry_set_size(entry, e.type == AE_IFREG ? e.data.size() : 0);
        }
        archive_write_header(a, entry);
        if (e.type == AE_IFREG) archive_write_data(a, e.data.constData(), size_t(e.data.size()));
        archive_entry_free(entry);
    }
    archive_write_close(a);
    archive_write_free(a);
    return out;
}

class ArchiveTest : public ::testing::Test
{
protected:
    void SetUp() override { dir = testenv::makeTempDir(QStringLiteral("zip")); }
    QString p(const QString &relative) const { return dir + QLatin1Char('/') + relative; }
    Ptr at(const QString &relative) const { return VtrMacFileInfo::fileInfoWithPath(p(relative)); }
    void write(const QString &relative, const QByteArray &bytes) const { testenv::writeFile(p(relative), bytes); }
    QByteArray read(const QString &relative) const { return testenv::readFile(p(relative)); }
    bool there(const QString &relative) const
    {
        struct stat st;
        return ::lstat(QFile::encodeName(p(relative)).constData(), &st) == 0;
    }

    QString dir;
};

TEST_F(ArchiveTest, EntriesBeginWithTheItemsOwnName)
{
    write(QStringLiteral("deep/place/Album/b.txt"), "bee");
    write(QStringLiteral("deep/place/Album/Sub/a.txt"), "ay");
    write(QStringLiteral("deep/place/Album/caf\u00e9.txt"), "utf");
    ASSERT_EQ(::symlink("b.txt", QFile::encodeName(p(QStringLiteral("deep/place/Album/link"))).constData()), 0);

    QList<QByteArray> contents;
    const QStringList names = listArchive(at(QStringLiteral("deep/place/Album"))->zip(), &contents);
    ASSERT_EQ(names, (QStringList{QStringLiteral("Album/"), QStringLiteral("Album/b.txt"),
                                  QString::fromUtf8("Album/caf\u00e9.txt"), QStringLiteral("Album/link -> b.txt"),
                                  QStringLiteral("Album/Sub/"), QStringLiteral("Album/Sub/a.txt")}));
    EXPECT_EQ(contents.at(1), QByteArray("bee"));
    EXPECT_EQ(contents.at(5), QByteArray("ay"));

    EXPECT_EQ(listArchive(at(QStringLiteral("deep/place/Album/b.txt"))->ditto()), QStringList{QStringLiteral("b.txt")});
    EXPECT_TRUE(at(QStringLiteral("missing"))->zip().isNull());
}

TEST_F(ArchiveTest, ZipToFolderReplacesOnlyWhenComplete)
{
    write(QStringLiteral("Photos/one.jpg"), QByteArray(300000, 'j'));
    QDir().mkpath(p(QStringLiteral("out")));
    write(QStringLiteral("out/Photos.zip"), "old archive");

    VtrFileInfoPtr archive = at(QStringLiteral("Photos"))->zipToFolder(at(QStringLiteral("out")));
    ASSERT_NE(archive, nullptr);
    EXPECT_EQ(archive->path(), p(QStringLiteral("out/Photos.zip")));
    EXPECT_TRUE(archive->exists());
    EXPECT_EQ(listArchive(read(QStringLiteral("out/Photos.zip"))),
              (QStringList{QStringLiteral("Photos/"), QStringLiteral("Photos/one.jpg")}));

    // Into the item itself: the archive does not hold itself.
    VtrFileInfoPtr inside = at(QStringLiteral("Photos"))->zipToFolder(at(QStringLiteral("Photos")));
    ASSERT_NE(inside, nullptr);
    EXPECT_EQ(listArchive(read(QStringLiteral("Photos/Photos.zip"))),
              (QStringList{QStringLiteral("Photos/"), QStringLiteral("Photos/one.jpg")}));
    // No temporary archive is left anywhere.
    EXPECT_EQ(QDir(p(QStringLiteral("Photos"))).entryList(QDir::Files | QDir::Hidden).size(), 2);
    EXPECT_EQ(at(QStringLiteral("Photos"))->zipToFolder(at(QStringLiteral("nowhere"))), nullptr);
    EXPECT_EQ(at(QStringLiteral("missing"))->zipToFolder(at(QStringLiteral("out"))), nullptr);

    // A failed archive keeps the old one.
    QString error;
    EXPECT_FALSE(vtr::zipItemToFile(p(QStringLiteral("missing")), p(QStringLiteral("out/Photos.zip")), &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(listArchive(read(QStringLiteral("out/Photos.zip"))).size(), 2);
}

TEST_F(ArchiveTest, UnzipRoundTrip)
{
    write(QStringLiteral("src/Notes/a.txt"), "alpha");
    write(QStringLiteral("src/Notes/sub/b.txt"), QByteArray(2 << 20, 'b'));
    const QDateTime when = QDateTime(QDate(2013, 1, 2), QTime(3, 4, 5), Qt::UTC);
    at(QStringLiteral("src/Notes/a.txt"))->setModificationDate(when);
    ASSERT_NE(at(QStringLiteral("src/Notes"))->zipToFolder(at(QString())), nullptr);

    const VtrFileInfoList unpacked = at(QStringLiteral("Notes.zip"))->unzip();
    ASSERT_EQ(unpacked.size(), 1);
    const VtrFileInfoPtr notes = unpacked.first();
    EXPECT_EQ(notes->name(), QStringLiteral("Notes"));
    EXPECT_TRUE(notes->isFolder());
    // A fresh folder in the private temporary folder.
    EXPECT_TRUE(notes->path().startsWith(VtrMacFileInfo::classTempFolder()->path() + QStringLiteral("/VantrelUnzip-")));
    EXPECT_EQ(notes->find(QStringLiteral("a.txt"))->fileContents(), QByteArray("alpha"));
    EXPECT_EQ(notes->find(QStringLiteral("a.txt"))->modificationDate(), when);
    EXPECT_EQ(notes->find(QStringLiteral("sub/b.txt"))->size(), 2 << 20);

    // A second unpacking gets its own folder.
    const VtrFileInfoList again = at(QStringLiteral("Notes.zip"))->unzip();
    ASSERT_EQ(again.size(), 1);
    EXPECT_NE(again.first()->path(), notes->path());

    write(QStringLiteral("not-an-archive.zip"), "plain text, no archive at all");
    EXPECT_TRUE(at(QStringLiteral("not-an-archive.zip"))->unzip().isEmpty());
    EXPECT_TRUE(at(QStringLiteral("missing.zip"))->unzip().isEmpty());
}

TEST_F(ArchiveTest, ExtractionNeverWritesOutsideItsFolder)
{
    for (const bool tar : {false, true}) {
        SCOPED_TRACE(tar ? "tar" : "zip");
        const QString base = tar ? QStringLiteral("t") : QStringLiteral("z");
        QDir().mkpath(p(base + QStringLiteral("/target")));
        QDir().mkpath(p(base + QStringLiteral("/victim")));
        const QByteArray victim = QFile::encodeName(p(base + QStringLiteral("/victim")));
        write(QStringLiteral("evil.") + base,
              makeArchive(
                  {
                      {"../escaped.txt", AE_IFREG, "x"},
                      {"a/../../escaped2.txt", AE_IFREG, "x"},
                      {"/" + QFile::encodeName(p(base + QStringLiteral("/abs.txt"))), AE_IFREG, "x"},
                      {"jump", AE_IFLNK, victim},
                      {"jump/planted.txt", AE_IFREG, "x"},
                      {"up", AE_IFLNK, "../victim"},
                      {"dir/up2", AE_IFLNK, "../../victim"},
                      {"good.txt", AE_IFREG, "good"},
                      {"dir/rel", AE_IFLNK, "../good.txt"},
                      {"dir/inner.txt", AE_IFREG, "inner"},
                      {"good.txt/below", AE_IFREG, "x"},
                      {"fifo", AE_IFIFO, ""},
                  },
                  tar));
        const vtr::ArchiveExtractResult result =
            vtr::extractArchive(p(QStringLiteral("evil.") + base), p(base + QStringLiteral("/target")));
        EXPECT_TRUE(result.ok) << result.error.toStdString();
        // good.txt, dir/rel, dir/inner.txt, and jump/planted.txt in a real folder
        // (the link "jump" having been refused); zip cannot even hold the pipe.
        EXPECT_EQ(result.written, 4);
        EXPECT_GE(result.skipped, 7);
        EXPECT_FALSE(there(base + QStringLiteral("/escaped.txt")));
        EXPECT_FALSE(there(QStringLiteral("escaped2.txt")));
        EXPECT_FALSE(there(base + QStringLiteral("/abs.txt")));
        EXPECT_FALSE(there(base + QStringLiteral("/victim/planted.txt")));
        EXPECT_FALSE(QFileInfo(p(base + QStringLiteral("/target/jump"))).isSymLink());
        EXPECT_EQ(read(base + QStringLiteral("/target/jump/planted.txt")), QByteArray("x"));
        EXPECT_FALSE(there(base + QStringLiteral("/target/up")));
        EXPECT_FALSE(there(base + QStringLiteral("/target/dir/up2")));
        EXPECT_FALSE(there(base + QStringLiteral("/target/fifo")));
        EXPECT_EQ(read(base + QStringLiteral("/target/good.txt")), QByteArray("good"));
        EXPECT_EQ(read(base + QStringLiteral("/target/dir/rel")), QByteArray("good"));
        EXPECT_EQ(read(base + QStringLiteral("/target/dir/inner.txt")), QByteArray("inner"));
        EXPECT_TRUE(QDir(p(base + QStringLiteral("/victim"))).isEmpty());
    }
    EXPECT_FALSE(vtr::extractArchive(p(QStringLiteral("evil.z")), p(QStringLiteral("no-folder"))).ok);
}

// Sets every size field of the first entry named `name` in a zip's local
// header and central directory to `size`: an archive that lies about its files.
void announceSize(QByteArray &zip, const QByteArray &name, quint32 size)
{
    const auto patch = [&](const QByteArray &signature, int nameAt, int sizeAt) {
        for (qsizetype at = zip.indexOf(signature); at >= 0; at = zip.indexOf(signature, at + 1)) {
            if (zip.mid(at + nameAt, name.size()) != name) continue;
            for (int i = 0; i < 4; ++i) zip[at + sizeAt + i] = char((size >> (8 * i)) & 0xff);
        }
    };
    patch(QByteArrayLiteral("PK\x03\x04"), 30, 22);
    patch(QByteArrayLiteral("PK\x01\x02"), 46, 24);
}

TEST_F(ArchiveTest, AnArchiveLargerThanTheFreeSpaceLeavesNothingBehind)
{
    const QByteArray zeros(1 << 20, '\0');  // a megabyte that packs into a kilobyte
    const qint64 reserve = qint64(64) << 20;
    struct Case
    {
        const char *name;
        qint64 free;        // beyond the reserve
        quint32 announced;  // what the big file claims; 0: its true size
        bool ok;
    };
    const Case cases[] = {
        {"fits", 2 << 20, 0, true},
        {"announces more than is free", 512 << 10, 0, false},
        {"no room even for the reserve", -1, 0, false},
        {"holds more than it announces", 2 << 20, 1000, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const QString target = testenv::makeTempDir(QStringLiteral("unzip"));
        testenv::writeFile(target + QStringLiteral("/earlier.txt"), "kept");
        QByteArray zip = makeArchive({{"first/", AE_IFDIR, ""},
                                      {"first/small.txt", AE_IFREG, "small"},
                                      {"link", AE_IFLNK, "first/small.txt"},
                                      {"big.bin", AE_IFREG, zeros}});
        ASSERT_LT(zip.size(), 64 << 10);
        if (c.announced) announceSize(zip, "big.bin", c.announced);
        write(QStringLiteral("bomb.zip"), zip);
        vtr::setExtractionFreeSpaceForTesting(reserve + c.free);
        const vtr::ArchiveExtractResult result = vtr::extractArchive(p(QStringLiteral("bomb.zip")), target);
        vtr::setExtractionFreeSpaceForTesting(-1);
        EXPECT_EQ(result.ok, c.ok) << result.error.toStdString();
        QStringList expected{QStringLiteral("earlier.txt")};
        if (c.ok)
            expected = QStringList{QStringLiteral("big.bin"), QStringLiteral("earlier.txt"), QStringLiteral("first"),
                                   QStringLiteral("link")};
        EXPECT_EQ(QDir(target).entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot),
                  expected);
        EXPECT_EQ(testenv::readFile(target + QStringLiteral("/earlier.txt")), QByteArray("kept"));
        EXPECT_EQ(result.error.isEmpty(), c.ok);
    }
}

// Each link's text stays inside on its own; together with the links before
// (or after) it, read on disk, one would lead out.
TEST_F(ArchiveTest, LinkChainsNeverLeadOutside)
{
    const struct
    {
        QList<Entry> entries;
        QStringList refused; // links that must not be made
        QStringList kept;    // links that must be made
    } cases[] = {
        {{{"a", AE_IFLNK, "."}, {"b", AE_IFLNK, "a/.."}}, {"b"}, {"a"}},
        {{{"b", AE_IFLNK, "a/.."}, {"a", AE_IFLNK, "."}}, {"a"}, {"b"}},
        {{{"d/l", AE_IFLNK, ".."}, {"m", AE_IFLNK, "d/l/.."}}, {"m"}, {"d/l"}},
        {{{"d/l", AE_IFLNK, ".."}, {"m", AE_IFLNK, "d/l/d/l/../.."}}, {"m"}, {"d/l"}},
        {{{"x/y", AE_IFLNK, "../z/w/../.."}, {"z/w", AE_IFLNK, "."}}, {"z/w"}, {"x/y"}},
        // A link to a link, and links through real folders, stay.
        {{{"d/f.txt", AE_IFREG, "f"}, {"l1", AE_IFLNK, "d/f.txt"}, {"l2", AE_IFLNK, "l1"}, {"l3", AE_IFLNK, "d/../l2"}},
         {},
         {"l1", "l2", "l3"}},
    };
    int round = 0;
    for (const auto &c : cases) {
        const QString base = QStringLiteral("chain%1").arg(++round);
        SCOPED_TRACE(base.toStdString());
        const QString target = base + QStringLiteral("/target");
        QDir().mkpath(p(target));
        write(base + QStringLiteral(".tar"), makeArchive(c.entries, true));
        const vtr::ArchiveExtractResult result = vtr::extractArchive(p(base + QStringLiteral(".tar")), p(target));
        EXPECT_TRUE(result.ok) << result.error.toStdString();
        for (const QString &name : c.refused)
            EXPECT_FALSE(there(target + QLatin1Char('/') + name)) << name.toStdString();
        for (const QString &name : c.kept)
            EXPECT_TRUE(QFileInfo(p(target + QLatin1Char('/') + name)).isSymLink()) << name.toStdString();
        // Whatever was made resolves inside the folder (or nowhere).
        const QString inside = QFileInfo(p(target)).canonicalFilePath() + QLatin1Char('/');
        QDirIterator it(p(target), QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString resolved = QFileInfo(it.next()).canonicalFilePath();
            if (!resolved.isEmpty()) {
                EXPECT_TRUE((resolved + QLatin1Char('/')).startsWith(inside)) << it.filePath().toStdString();
            }
        }
    }
    EXPECT_EQ(read(QStringLiteral("chain6/target/l3")), QByteArray("f"));
}

} // namespace
