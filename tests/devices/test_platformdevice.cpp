// The phone's command interface against a recording answerer: the exact
// commands of the file API, chunking, the open file, "MARF", retries, missing
// results, the not-connected failures and the caches.

#include "support/PlatformDeviceFake.h"

#include "devices/command/VtrSymbianFileInfo.h"
#include "devices/command/agent/DeviceAgentProtocol.h"
#include "net/SocketLibSyncSocket.h"

#include "TestEnvironment.h"

#include <QDir>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

using namespace pdtest;
using namespace DeviceCommands;

namespace {

constexpr qint64 kChunk = PlatformDevice::kChunkSize;

QByteArray patternBytes(qint64 size)
{
    QByteArray bytes(qsizetype(size), Qt::Uninitialized);
    for (qint64 i = 0; i < size; ++i)
        bytes[qsizetype(i)] = char((i * 7 + i / 251) & 0xff);
    return bytes;
}

class StopAfter : public FileInfoReadProgress, public FileInfoWriteProgress
{
public:
    explicit StopAfter(int calls) : m_stopAt(calls) {}
    bool readingContentsForFile(const VtrFileInfoPtr &, const QByteArray &data, qint64 read, qint64 total,
                                void *userData) override
    {
        seen.append({read, total});
        lastDataSize = data.size();
        lastUserData = userData;
        return ++m_calls >= m_stopAt;
    }
    bool writingContentsForFile(const VtrFileInfoPtr &, qint64 written, qint64 total, void *userData) override
    {
        seen.append({written, total});
        lastUserData = userData;
        return ++m_calls >= m_stopAt;
    }
    QList<QPair<qint64, qint64>> seen;
    qsizetype lastDataSize = 0;
    void *lastUserData = nullptr;

private:
    int m_stopAt;
    int m_calls = 0;
};

class PlatformDeviceCommands : public ::testing::Test
{
protected:
    RecordingAnswerer &phone() { return d.answerer; }
    PlatformDevice &device() { return d.device; }

    // The phone answers `reply` to every `command`, the rest as usual.
    void answer(const QString &command, const QVariant &reply)
    {
        phone().intercept = [=](const QVariantMap &c, const QByteArray &) -> std::optional<QVariant> {
            if (c.value("command") == command) return reply;
            return std::nullopt;
        };
    }
    // The transport fails every `command`.
    void fail(const QString &command, const QString &text)
    {
        phone().intercept = [=](const QVariantMap &c, const QByteArray &) -> std::optional<QVariant> {
            if (c.value("command") == command) throw VtrException("DeviceException", text);
            return std::nullopt;
        };
    }

    AnsweredDevice d;
};

} // namespace

// ---- not connected -----------------------------------------------------------------------------

TEST(PlatformDeviceConnection, OperationsRaiseTheirOwnTextWhenNotConnected)
{
    AnsweredDevice d;
    d.device.disconnect();
    d.answerer.calls.clear();

    PlatformDevice &p = d.device;
    const std::pair<std::function<void()>, const char *> calls[] = {
        {[&] { p.contentsOfFileWithPath("E:\\a", 10); }, "contentsOfFileWithPath"},
        {[&] { p.contentsOfFolderWithPath("E:\\"); }, "contentsOfFolderWithPath"},
        {[&] { p.createFileWithPath("E:\\a", "x"); }, "createFileWithPath:withContents:withProgress:withUserData:"},
        {[&] { p.createFolderWithPath("E:\\New"); }, "createFolderWithPath:"},
        {[&] { p.setFileContents(QByteArray("x"), QStringLiteral("E:\\a")); }, "setFileContents:withPath:"},
        {[&] { p.getDeviceInfo(); }, "GetDeviceInfo"},
        // Plain commands never reach the transport either.
        {[&] { p.openFileWithPath("E:\\a", false); }, "Command"},
        {[&] { p.removeFileWithPath("E:\\a"); }, "Command"},
        {[&] { p.moveFileAtPath("E:\\a", "E:\\b"); }, "Command"},
    };
    for (const auto &[call, name] : calls) {
        QString reason;
        EXPECT_EQ(raisedName(call, &reason), "StopSyncException") << name;
        EXPECT_EQ(reason, QStringLiteral("%1 failed. No connection to device.").arg(QLatin1String(name)));
    }
    EXPECT_TRUE(d.answerer.calls.isEmpty());
    EXPECT_FALSE(d.device.hasMassStorageConnectionOnly());

    // Without MTP the copies and media operations answer their empty values.
    EXPECT_EQ(d.device.copyDeviceFile(nullptr, nullptr, nullptr, nullptr), -1);
    EXPECT_EQ(d.device.copyDesktopFile(nullptr, nullptr, nullptr, nullptr), -1);
    EXPECT_FALSE(d.device.deviceTracks().has_value());
    int height = 7, width = 9;
    d.device.deviceScreenHeight(&height, &width);
    EXPECT_EQ(height, 7);
    EXPECT_EQ(width, 9);
    EXPECT_TRUE(d.answerer.calls.isEmpty());

    d.device.connect();
    EXPECT_TRUE(d.device.openFileWithPath("E:\\a", true) == 0);
}

TEST(PlatformDeviceConnection, AClassWideSlotLetsOneInstanceLiveAtATime)
{
    auto first = PlatformDevice::makeConnected();
    EXPECT_TRUE(first->isConnected());
    std::atomic<bool> secondMade{false};
    std::thread maker([&] {
        PlatformDevice second;
        secondMade = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_FALSE(secondMade.load()) << "the second instance must wait for the first";
    first.reset();
    maker.join();
    EXPECT_TRUE(secondMade.load());
}

// ---- whole-file reads ----------------------------------------------------------------------------

TEST_F(PlatformDeviceCommands, ReadsAWholeFileInChunksAtTheBoundaries)
{
    for (const qint64 size : {qint64(0), qint64(1), kChunk, kChunk + 1}) {
        SCOPED_TRACE(size);
        const QByteArray contents = patternBytes(size);
        phone().files["E:\\Music\\a.mp3"] = contents;
        phone().calls.clear();

        const QByteArray data = device().contentsOfFileWithPath("E:\\Music\\a.mp3", size);
        EXPECT_EQ(data, contents);

        QList<QVariantMap> expected{
            QVariantMap{{"command", "FS_OPEN_FILE"}, {"filename", "E:\\Music\\a.mp3"}, {"overwrite", "FALSE"}}};
        for (qint64 from = 0; from < size; from += kChunk)
            expected.append(QVariantMap{{"command", "FS_READ_FILE"},
                                        {"from", QString::number(from)},
                                        {"count", QString::number(std::min(kChunk, size - from))},
                                        {"use_marf_if_possible", "TRUE"}});
        expected.append(QVariantMap{{"command", "FS_CLOSE_FILE"}});
        EXPECT_EQ(phone().commands(), expected);
    }
}

TEST_F(PlatformDeviceCommands, AReadThatDoesNotOpenSendsNothingMore)
{
    answer("FS_OPEN_FILE", QVariant());
    const QByteArray data = device().contentsOfFileWithPath("E:\\gone.txt", 100);
    EXPECT_TRUE(data.isEmpty());
    EXPECT_EQ(phone().commandNames(), QStringList{"FS_OPEN_FILE"});
}

TEST_F(PlatformDeviceCommands, ReadRepliesAreRetriedABoundedNumberOfTimes)
{
    const QByteArray contents = patternBytes(1000);
    phone().files["E:\\a.bin"] = contents;

    // Two replies without a readable "count", then a good one.
    int bad = 2;
    phone().intercept = [&](const QVariantMap &c, const QByteArray &) -> std::optional<QVariant> {
        if (c.value("command") != "FS_READ_FILE" || bad == 0) return std::nullopt;
        --bad;
        return bad == 1 ? QVariant() : QVariant(QVariantMap{{"count", "many"}, {"data", "AAAA"}});
    };
    EXPECT_EQ(device().contentsOfFileWithPath("E:\\a.bin", 1000), contents);
    EXPECT_EQ(phone().commandsNamed("FS_READ_FILE").size(), 3);

    // Never a readable reply: kMaxReadAttempts tries, the file is closed, the
    // read fails instead of returning what it has as if it were the file.
    phone().calls.clear();
    answer("FS_READ_FILE", QVariant(QVariantMap{{"data", "AAAA"}}));
    QString reason;
    EXPECT_EQ(raisedName([&] { device().contentsOfFileWithPath("E:\\a.bin", 1000); }, &reason), "StopSyncException");
    ASSERT_EQ(phone().commandsNamed("FS_READ_FILE").size(), PlatformDevice::kMaxReadAttempts);
    EXPECT_EQ(phone().commandNames().last(), "FS_CLOSE_FILE");

    // Replies that deliver nothing count as failed too (no endless loop).
    phone().calls.clear();
    answer("FS_READ_FILE", QVariant(QVariantMap{{"count", "0"}, {"data", ""}}));
    EXPECT_EQ(raisedName([&] { device().contentsOfFileWithPath("E:\\a.bin", 1000); }), "StopSyncException");
    EXPECT_EQ(phone().commandsNamed("FS_READ_FILE").size(), PlatformDevice::kMaxReadAttempts);
}

TEST_F(PlatformDeviceCommands, ReadsTakeNoMoreThanWasDeliveredAnnouncedOrAskedFor)
{
    const QByteArray contents = patternBytes(10);
    phone().files["E:\\a.bin"] = contents;
    // The first reply announces 10 bytes but delivers 4; the next read goes on
    // from byte 4.
    bool first = true;
    phone().intercept = [&](const QVariantMap &c, const QByteArray &) -> std::optional<QVariant> {
        if (c.value("command") != "FS_READ_FILE" || !first) return std::nullopt;
        first = false;
        return QVariant(QVariantMap{{"count", "10"}, {"data", QByteArray(contents.left(4))}});
    };
    EXPECT_EQ(device().contentsOfFileWithPath("E:\\a.bin", 10), contents);
    const QList<QVariantMap> reads = phone().commandsNamed("FS_READ_FILE");
    ASSERT_EQ(reads.size(), 2);
    EXPECT_EQ(reads[1].value("from"), "4");
    EXPECT_EQ(reads[1].value("count"), "6");

    // A reply that claims and carries more than asked gives only what was asked.
    answer("FS_READ_FILE", QVariantMap{{"count", "99"}, {"data", QByteArray(99, 'z')}});
    EXPECT_EQ(device().contentsOfFileWithPath("E:\\a.bin", 10), QByteArray(10, 'z'));
}

TEST_F(PlatformDeviceCommands, AReadStoppedByItsProgressKeepsOneChunkAndStillCloses)
{
    phone().files["E:\\big.bin"] = patternBytes(kChunk * 2 + 5);
    StopAfter stop(1);
    int userData = 0;
    const QByteArray data = device().contentsOfFileWithPath("E:\\big.bin", kChunk * 2 + 5, nullptr, &stop, &userData);
    EXPECT_EQ(data.size(), kChunk);
    EXPECT_EQ(stop.seen, (QList<QPair<qint64, qint64>>{{kChunk, kChunk * 2 + 5}}));
    EXPECT_EQ(stop.lastUserData, &userData);
    EXPECT_EQ(phone().commandNames(), (QStringList{"FS_OPEN_FILE", "FS_READ_FILE", "FS_CLOSE_FILE"}));
}

// ---- whole-file writes -------------------------------------------------------------------------------

TEST_F(PlatformDeviceCommands, WritesAWholeFileInChunksOfBase64Lines)
{
    device().contentsOfFolderWithPath("E:\\"); // new files join the cached listing
    for (const qint64 size : {kChunk, kChunk + 1}) {
        SCOPED_TRACE(size);
        const QByteArray contents = patternBytes(size);
        phone().calls.clear();
        const VtrFileInfoPtr node = device().createFileWithPath("E:\\out.bin", contents);
        ASSERT_NE(node, nullptr);
        EXPECT_EQ(phone().files.value("E:\\out.bin"), contents);

        const QList<QVariantMap> calls = phone().commands();
        ASSERT_FALSE(calls.isEmpty());
        EXPECT_EQ(calls.first(),
                  (QVariantMap{{"command", "FS_OPEN_FILE"}, {"filename", "E:\\out.bin"}, {"overwrite", "TRUE"}}));
        const QList<QVariantMap> writes = phone().commandsNamed("FS_WRITE_FILE");
        ASSERT_EQ(writes.size(), size > kChunk ? 2 : 1);
        EXPECT_EQ(writes[0].value("from"), "0");
        EXPECT_EQ(writes[0].keys(), (QStringList{"command", "data", "from"}));
        const QString text = writes[0].value("data").toString();
        const QStringList lines = text.split('\n', Qt::SkipEmptyParts);
        for (const QString &line : lines)
            EXPECT_LE(line.size(), 80);
        ASSERT_FALSE(lines.isEmpty());
        EXPECT_EQ(lines.first().size(), 80);
        EXPECT_EQ(vtr::dataWithBase64EncodedString(text), contents.left(kChunk));
        if (size > kChunk) {
            EXPECT_EQ(writes[1].value("from"), QString::number(kChunk));
            EXPECT_EQ(vtr::dataWithBase64EncodedString(writes[1].value("data").toString()), contents.mid(kChunk));
        }
        EXPECT_EQ(calls.last(), (QVariantMap{{"command", "FS_CLOSE_FILE"}}));
        // The bytes also travel beside the command, for transports that use them.
        EXPECT_EQ(phone().calls[1].blob, contents.left(kChunk));
    }
}

TEST_F(PlatformDeviceCommands, WritesLeaveDataToTheBlobWhenTheAgentSaysMARF)
{
    phone().deviceInfo.insert("MARF", "TRUE");
    device().getDeviceInfo();
    device().contentsOfFolderWithPath("E:\\");
    phone().calls.clear();
    const QByteArray contents = patternBytes(1000);
    ASSERT_NE(device().createFileWithPath("E:\\out.bin", contents), nullptr);
    const QList<RecordingAnswerer::Call> &calls = phone().calls;
    ASSERT_EQ(calls.size(), 3);
    EXPECT_EQ(calls[1].command, (QVariantMap{{"command", "FS_WRITE_FILE"}, {"from", "0"}}));
    EXPECT_EQ(calls[1].blob, contents);

    // The ranged write too.
    ASSERT_EQ(device().openFileWithPath("E:\\out.bin", true), 0);
    ASSERT_EQ(device().setFileContents(QByteArray("abc"), VtrFileRange{5, 3}), 0);
    EXPECT_EQ(phone().calls.last().command, (QVariantMap{{"command", "FS_WRITE_FILE"}, {"from", "5"}}));
    EXPECT_EQ(phone().calls.last().blob, QByteArray("abc"));
}

TEST_F(PlatformDeviceCommands, EmptyContentsSendOpenAndCloseOnlyAndCacheSizeZero)
{
    device().contentsOfFolderWithPath("E:\\"); // the folder is cached from here on
    phone().calls.clear();
    const VtrFileInfoPtr node = device().createFileWithPath("E:\\empty.txt", QByteArray());
    EXPECT_EQ(phone().commandNames(), (QStringList{"FS_OPEN_FILE", "FS_CLOSE_FILE"}));
    ASSERT_NE(node, nullptr);
    EXPECT_TRUE(node->exists());
    EXPECT_EQ(node->size(), 0);
    EXPECT_EQ(std::static_pointer_cast<VtrSymbianFileInfo>(node)->xmlInfo()->value("size"), "0");
}

TEST_F(PlatformDeviceCommands, AWriteStoppedOrRefusedIsNotReportedAsDone)
{
    device().contentsOfFolderWithPath("E:\\");
    StopAfter stop(1);
    const QByteArray contents = patternBytes(kChunk * 2);
    phone().calls.clear();
    EXPECT_EQ(device().createFileWithPath("E:\\part.bin", contents, nullptr, &stop, nullptr), nullptr);
    EXPECT_EQ(phone().commandNames(), (QStringList{"FS_OPEN_FILE", "FS_WRITE_FILE", "FS_CLOSE_FILE"}));
    EXPECT_EQ(phone().files.value("E:\\part.bin").size(), kChunk);
    // The listing tells what is on the phone.
    const VtrFileInfoPtr listed = device().deviceFileInfoWithPath("E:\\part.bin");
    EXPECT_EQ(listed->size(), kChunk);

    // A chunk without a result ends the write.
    phone().calls.clear();
    answer("FS_WRITE_FILE", QVariant());
    EXPECT_FALSE(device().setFileContents(contents, QStringLiteral("E:\\part.bin")));
    EXPECT_EQ(phone().commandNames(), (QStringList{"FS_OPEN_FILE", "FS_WRITE_FILE", "FS_CLOSE_FILE"}));
}

// ---- the open file --------------------------------------------------------------------------------------

TEST_F(PlatformDeviceCommands, OneFileIsOpenAtATime)
{
    device().contentsOfFolderWithPath("E:\\");
    phone().calls.clear();
    EXPECT_EQ(device().closeFile(), -1);
    EXPECT_EQ(device().contentsOfFileWithRange({0, 4}), QByteArray());
    EXPECT_EQ(device().setFileContents(QByteArray("x"), VtrFileRange{0, 1}), -1);
    EXPECT_TRUE(phone().calls.isEmpty());

    ASSERT_EQ(device().openFileWithPath("E:\\new.txt", true), 0);
    EXPECT_TRUE(device().isFileOpen());
    EXPECT_TRUE(device().isFileOpenForWrite());
    EXPECT_EQ(device().filePathInUse(), "E:\\new.txt");
    EXPECT_EQ(device().openFileWithPath("E:\\other.txt", false), -1);
    ASSERT_EQ(phone().commandNames(), QStringList{"FS_OPEN_FILE"});
    // Opening for writing lists the file at once, empty.
    EXPECT_EQ(device().deviceFileInfoWithPath("E:\\new.txt")->size(), 0);

    ASSERT_EQ(device().setFileContents(QByteArray("hello"), VtrFileRange{0, 5}), 0);
    EXPECT_EQ(phone().calls.last().command,
              (QVariantMap{{"command", "FS_WRITE_FILE"}, {"from", "0"}, {"data", "aGVsbG8="}}));
    EXPECT_EQ(device().deviceFileInfoWithPath("E:\\new.txt")->size(), 5);

    ASSERT_EQ(device().closeFile(), 0);
    EXPECT_FALSE(device().isFileOpen());
    // The closed file takes the phone's local time as its date.
    EXPECT_EQ(phone().commandNames().mid(2), (QStringList{"FS_CLOSE_FILE", "GET_TIME"}));
    const auto node = std::static_pointer_cast<VtrSymbianFileInfo>(device().deviceFileInfoWithPath("E:\\new.txt"));
    EXPECT_EQ(node->xmlInfo()->value("mod"), "20130301130000");
}

TEST_F(PlatformDeviceCommands, RangedReadsAnswerNilForMissingResults)
{
    phone().files["E:\\r.bin"] = "0123456789";
    ASSERT_EQ(device().openFileWithPath("E:\\r.bin", false), 0);
    EXPECT_FALSE(device().isFileOpenForWrite());
    EXPECT_EQ(device().contentsOfFileWithRange({2, 3}), QByteArray("234"));
    EXPECT_EQ(
        phone().calls.last().command,
        (QVariantMap{{"command", "FS_READ_FILE"}, {"from", "2"}, {"count", "3"}, {"use_marf_if_possible", "TRUE"}}));
    answer("FS_READ_FILE", QVariant(QVariantMap{{"data", "MTIz"}}));
    EXPECT_TRUE(device().contentsOfFileWithRange({0, 3}).isNull());
    answer("FS_READ_FILE", QVariant());
    EXPECT_TRUE(device().contentsOfFileWithRange({0, 3}).isNull());
    phone().intercept = nullptr;
    EXPECT_EQ(device().closeFile(), 0);

    // An open without a result leaves nothing open.
    answer("FS_OPEN_FILE", QVariant());
    EXPECT_EQ(device().openFileWithPath("E:\\r.bin", false), -1);
    EXPECT_FALSE(device().isFileOpen());
}

// ---- missing results and other commands -------------------------------------------------------------------

TEST_F(PlatformDeviceCommands, MissingResultsAnswerFailure)
{
    phone().intercept = [](const QVariantMap &, const QByteArray &) -> std::optional<QVariant> { return QVariant(); };
    EXPECT_FALSE(device().removeFileWithPath("E:\\a"));
    // A folder the phone could not remove is not reported as removed.
    EXPECT_FALSE(device().removeFolderWithPath("E:\\Old\\"));
    EXPECT_EQ(device().moveFileAtPath("E:\\a", "E:\\b"), -1);
    EXPECT_EQ(device().setModificationDate(QDateTime::currentDateTimeUtc(), "E:\\a"), -1);
    EXPECT_EQ(device().createFolderWithPath("E:\\New"), nullptr);
    EXPECT_EQ(device().createFileWithPath("E:\\n.txt", "abc"), nullptr);
    EXPECT_EQ(phone().commandNames(),
              (QStringList{"FS_DELETE_FILE", "FS_RM_DIR", "FS_MOVE_FILE", "FS_SET_MOD", "FS_MK_DIR", "FS_OPEN_FILE"}));
    phone().calls.clear();
    EXPECT_EQ(device().setCreationDate(QDateTime::currentDateTimeUtc(), "E:\\a"), -1);
    EXPECT_TRUE(phone().calls.isEmpty());
}

TEST_F(PlatformDeviceCommands, FileCommandsCarryStandardizedPaths)
{
    phone().addFile("E:\\", "a.txt", "abc");
    phone().calls.clear();
    EXPECT_TRUE(device().removeFileWithPath("a.txt"));
    EXPECT_EQ(phone().commandsNamed("FS_DELETE_FILE").value(0),
              (QVariantMap{{"command", "FS_DELETE_FILE"}, {"filename", "E:\\a.txt"}}));
    EXPECT_TRUE(device().removeFolderWithPath("e:\\Old\\"));
    ASSERT_FALSE(phone().calls.isEmpty());
    EXPECT_EQ(phone().calls.last().command, (QVariantMap{{"command", "FS_RM_DIR"}, {"dir", "E:\\Old\\"}}));
    ASSERT_NE(device().createFolderWithPath("E:\\New"), nullptr);
    EXPECT_EQ(phone().commandsNamed("FS_MK_DIR").value(0),
              (QVariantMap{{"command", "FS_MK_DIR"}, {"dir", "E:\\New\\"}}));
    const QDateTime date(QDate(2013, 3, 1), QTime(12, 30, 5), Qt::UTC);
    EXPECT_EQ(device().setModificationDate(date, "E:\\New"), 0);
    EXPECT_EQ(phone().calls.last().command,
              (QVariantMap{{"command", "FS_SET_MOD"}, {"filename", "E:\\New"}, {"time", "20130301123005"}}));
    EXPECT_EQ(device().renameFileWithPath("E:\\New", "Newer"), 0);
    EXPECT_EQ(phone().calls.last().command,
              (QVariantMap{{"command", "FS_MOVE_FILE"}, {"from", "E:\\New"}, {"to", "E:\\Newer"}}));
    // A new name is one plain name.
    phone().calls.clear();
    for (const char *bad : {"..", "a\\b", "a/b", ""})
        EXPECT_EQ(device().renameFileWithPath("E:\\Newer", bad), -1);
    EXPECT_TRUE(phone().calls.isEmpty());
}

TEST_F(PlatformDeviceCommands, TransportFailures)
{
    fail("FS_MK_DIR", "Device error: no"); // a folder that could not be made is a missing node
    const VtrFileInfoPtr node = device().createFolderWithPath("E:\\New");
    ASSERT_NE(node, nullptr);
    EXPECT_FALSE(node->exists());
    fail("FS_RM_DIR", "Device error: no");
    EXPECT_FALSE(device().removeFolderWithPath("E:\\New"));

    // A close that fails is raised and leaves the file closed.
    phone().intercept = nullptr;
    ASSERT_EQ(device().openFileWithPath("E:\\r.bin", false), 0);
    fail("FS_CLOSE_FILE", "Device error: gone");
    EXPECT_EQ(raisedName([&] { device().closeFile(); }), "DeviceException");
    EXPECT_FALSE(device().isFileOpen());
}

// ---- caches ------------------------------------------------------------------------------------------------

TEST_F(PlatformDeviceCommands, ListingsAreCachedSortedAndSafe)
{
    phone().addFolder("E:\\", "Music");
    phone().addFile("E:\\Music\\", "b.mp3", "bb");
    phone().addFile("E:\\Music\\", "A.mp3", "a");
    phone().folders["E:\\Music\\"].append(QVariantMap{{"filename", ".."}, {"type", "dir"}});
    phone().folders["E:\\Music\\"].append(QVariantMap{{"filename", "x\\..\\..\\y"}, {"type", "file"}});
    phone().folders["E:\\Music\\"].append(QVariantMap{{"filename", ""}, {"type", "file"}});

    const VtrFileInfoList first = device().contentsOfFolderWithPath("E:\\Music");
    ASSERT_EQ(first.size(), 2);
    EXPECT_EQ(first[0]->path(), "E:\\Music\\A.mp3");
    EXPECT_EQ(first[1]->path(), "E:\\Music\\b.mp3");
    EXPECT_EQ(phone().commandsNamed("FS_GET_DIR").value(0),
              (QVariantMap{{"command", "FS_GET_DIR"}, {"dir", "E:\\Music\\"}}));
    EXPECT_TRUE(device().hasCachedListing("E:\\Music"));

    phone().calls.clear();
    EXPECT_EQ(device().contentsOfFolderWithPath("E:\\Music\\").size(), 2);
    // Exact name first, then without regard to case.
    EXPECT_EQ(device().deviceFileInfoWithPath("E:\\Music\\a.MP3")->size(), 1);
    EXPECT_EQ(device().deviceFileInfoWithPath("Music\\b.mp3")->size(), 2);
    EXPECT_FALSE(device().deviceFileInfoWithPath("E:\\Music\\c.mp3")->exists());
    EXPECT_TRUE(phone().commandsNamed("FS_GET_DIR").isEmpty());

    // A folder path with and without its backslash finds the folder.
    EXPECT_TRUE(device().deviceFileInfoWithPath("E:\\Music\\")->isFolder());
    EXPECT_TRUE(device().deviceFileInfoWithPath("E:\\Music")->isFolder());
}

TEST_F(PlatformDeviceCommands, ARenameInOneFolderKeepsTheItemListed)
{
    phone().addFile("E:\\", "a.txt", "abc");
    phone().addFile("E:\\", "m.txt", "m");
    phone().addFolder("E:\\", "Sub");
    device().contentsOfFolderWithPath("E:\\");
    device().contentsOfFolderWithPath("E:\\Sub\\");
    phone().calls.clear();

    ASSERT_EQ(device().renameFileWithPath("E:\\a.txt", "z.txt"), 0);
    QStringList names;
    for (const VtrFileInfoPtr &node : device().contentsOfFolderWithPath("E:\\"))
        names << node->name();
    EXPECT_EQ(names, (QStringList{"m.txt", "Sub", "z.txt"}));
    EXPECT_EQ(device().deviceFileInfoWithPath("E:\\z.txt")->size(), 3);
    EXPECT_FALSE(device().deviceFileInfoWithPath("E:\\a.txt")->exists());

    // A move to another cached folder moves the node there.
    ASSERT_EQ(device().moveFileAtPath("E:\\z.txt", "E:\\Sub\\z.txt"), 0);
    EXPECT_FALSE(device().deviceFileInfoWithPath("E:\\z.txt")->exists());
    EXPECT_EQ(device().deviceFileInfoWithPath("E:\\Sub\\z.txt")->size(), 3);
    EXPECT_EQ(phone().commandNames(), (QStringList{"FS_MOVE_FILE", "FS_MOVE_FILE"}));

    // Removal takes it out of the listing, and the drive's free space is asked again.
    ASSERT_TRUE(device().hasCachedDrive("E:\\"));
    phone().files["E:\\Sub\\z.txt"] = "abc";
    EXPECT_TRUE(device().removeFileWithPath("E:\\Sub\\z.txt"));
    EXPECT_FALSE(device().deviceFileInfoWithPath("E:\\Sub\\z.txt")->exists());
    EXPECT_FALSE(device().hasCachedDrive("E:\\"));
}

TEST_F(PlatformDeviceCommands, NamesThatDifferOnlyInCaseStayApartInTheListing)
{
    phone().addFile("E:\\", "A.txt", "upper");
    phone().addFile("E:\\", "a.txt", "lower!");
    phone().addFile("E:\\", "b.txt", "b");
    device().contentsOfFolderWithPath("E:\\");
    const auto sizes = [&] {
        QStringList list;
        for (const VtrFileInfoPtr &node : device().contentsOfFolderWithPath("E:\\"))
            list << QString("%1=%2").arg(node->name()).arg(node->size());
        list.sort();
        return list;
    };
    ASSERT_EQ(sizes(), (QStringList{"A.txt=5", "a.txt=6", "b.txt=1"}));

    ASSERT_TRUE(device().createFileWithPath("E:\\a.txt", "new contents"));
    EXPECT_EQ(sizes(), (QStringList{"A.txt=5", "a.txt=12", "b.txt=1"}));
    ASSERT_EQ(device().moveFileAtPath("E:\\b.txt", "E:\\A.txt"), 0);
    EXPECT_EQ(sizes(), (QStringList{"A.txt=1", "a.txt=12"}));
    EXPECT_TRUE(device().removeFileWithPath("E:\\a.txt"));
    EXPECT_EQ(sizes(), (QStringList{"A.txt=1"}));
}

// ---- drives and paths -----------------------------------------------------------------------------------------

TEST_F(PlatformDeviceCommands, DrivesAreInternalOrCardAndOneDictionaryIsOneDrive)
{
    phone().drives =
        QVariantMap{{"drive", QVariantList{QVariantMap{{"id", "c"}, {"media", "Fixed"}},
                                           QVariantMap{{"id", "G"}, {"media", "hard disk"}, {"free", "42"}},
                                           QVariantMap{{"id", "D"}, {"media", "ROM"}},
                                           QVariantMap{{"id", ""}, {"media", "Hard Disk"}}}}};
    const VtrFileInfoList drives = device().drivesInfo();
    ASSERT_EQ(drives.size(), 2);
    EXPECT_EQ(drives[0]->path(), "C:\\");
    EXPECT_EQ(drives[0]->humanFriendlyName(), "Internal Card");
    EXPECT_EQ(drives[1]->path(), "G:\\");
    EXPECT_EQ(drives[1]->humanFriendlyName(), "Storage Card");
    EXPECT_EQ(device().infoWithDrive("g:\\Music\\a.mp3").value("free"), "42");
    EXPECT_TRUE(device().infoWithDrive("G:").isEmpty());
    // The card is the default drive of paths without one.
    EXPECT_EQ(device().standardizeDevicePath("Music\\a.mp3"), "G:\\Music\\a.mp3");
    EXPECT_EQ(device().standardizeDevicePath("\\Music"), "G:\\Music");
    QString drive, rest;
    device().standardizeDevicePath("e:\\x\\y", &drive, &rest);
    EXPECT_EQ(drive, "E:\\");
    EXPECT_EQ(rest, "x\\y");

    phone().drives = QVariantMap{{"drive", QVariantMap{{"id", "E"}, {"media", "Hard Disk"}}}};
    device().setMTPDeviceObject(nullptr); // empties the caches
    EXPECT_EQ(device().drivesInfo().size(), 1);
    device().setMTPDeviceObject(nullptr);
    phone().drives = QVariantMap{};
    EXPECT_TRUE(device().drivesInfo().isEmpty());
    EXPECT_EQ(device().cardInfo(), nullptr);
}

TEST_F(PlatformDeviceCommands, TheConfiguredCardDriveIsPreferred)
{
    phone().drives = QVariantMap{{"drive", QVariantList{QVariantMap{{"id", "C"}, {"media", "Fixed"}},
                                                        QVariantMap{{"id", "F"}, {"media", "Removable"}}}}};
    device().setDeviceConfiguration({{"cardDrivePrefix", "F:\\"}});
    ASSERT_NE(device().cardInfo(), nullptr);
    EXPECT_EQ(device().cardPrefix(), "F:\\");
    EXPECT_EQ(device().standardizeDevicePath("x"), "F:\\x");
    // Without it F is no card, and paths fall back to the internal memory.
    device().setDeviceConfiguration({});
    device().setMTPDeviceObject(nullptr);
    EXPECT_EQ(device().cardInfo(), nullptr);
    EXPECT_EQ(device().standardizeDevicePath("x"), "C:\\x");
}

TEST_F(PlatformDeviceCommands, FolderTypesWithoutAMeaningAnswerNil)
{
    phone().calls.clear();
    for (int type : {1, 5, 9, 19, 20, 25, -1})
        EXPECT_EQ(device().folderForType(type), nullptr) << type;
    EXPECT_TRUE(phone().calls.isEmpty());
}

TEST_F(PlatformDeviceCommands, ClockAndNames)
{
    EXPECT_DOUBLE_EQ(device().getTimeZoneOffset(), 3600.0);
    phone().time = {{"utc", "20130301120000"}, {"utcoffset", "-1800000"}};
    EXPECT_DOUBLE_EQ(device().getTimeZoneOffset(), -1800.0);
    EXPECT_EQ(device().name(), "Acme Phone 1");
    phone().deviceInfo.insert("Device Configuration", QVariantMap{{"deviceName", "Acme One"}});
    device().disconnect(); // forgets the device information
    device().connect();
    EXPECT_EQ(device().getDeviceName(), "Acme One");
    EXPECT_EQ(phone().commandsNamed("GET_DEVICE_INFO").size(), 2);
    // Without a live MTP handle the phone has no identifier.
    EXPECT_TRUE(device().uuidForPath("E:\\").isNull());
}

TEST_F(PlatformDeviceCommands, SavedLocations)
{
    EXPECT_EQ(device().humanReadablePathWithSavedInfo({{"memoryType", 1}, {"volumeRelativeStandardPath", "a/b"}}),
              "Device Memory: a/b");
    EXPECT_EQ(device().humanReadablePathWithSavedInfo({{"memoryType", 2}}), ": ");

    phone().calls.clear();
    const VtrFileInfoPtr local = device().fileInfoWithSavedInfo({{"originalPath", "/tmp/x"},
                                                                 {"memoryType", 0},
                                                                 {"volumeStandardPath", "/"},
                                                                 {"volumeRelativeStandardPath", "tmp/x"}},
                                                                false);
    ASSERT_NE(local, nullptr);
    EXPECT_EQ(local->path(), "/tmp/x");
    EXPECT_TRUE(phone().calls.isEmpty());
    EXPECT_EQ(device().fileInfoWithSavedInfo({{"memoryType", 2}}, false), nullptr);

    phone().addFolder("E:\\", "Music");
    phone().addFile("E:\\Music\\", "a.mp3", "abc");
    const VtrFileInfoPtr onCard = device().fileInfoWithSavedInfo({{"originalPath", "E:\\Music\\a.mp3"},
                                                                  {"memoryType", 2},
                                                                  {"volumeStandardPath", "E:/"},
                                                                  {"volumeRelativeStandardPath", "Music/a.mp3"}},
                                                                 false);
    ASSERT_NE(onCard, nullptr);
    EXPECT_EQ(onCard->size(), 3);
    EXPECT_EQ(device().fileInfoWithSavedInfo({{"volumeRelativeStandardPath", "Music/none"}}, false), nullptr);
    const VtrFileInfoPtr made = device().fileInfoWithSavedInfo({{"volumeRelativeStandardPath", "Music/New"}}, true);
    ASSERT_NE(made, nullptr);
    EXPECT_TRUE(made->exists());
    EXPECT_EQ(phone().commandsNamed("FS_MK_DIR").value(0).value("dir"), "E:\\Music\\New\\");
}

TEST(PlatformDeviceMountPoints, TwoVolumesNeedTheCardMarker)
{
    PlatformDevice device;
    const QString a = testenv::makeTempDir("volA");
    const QString b = testenv::makeTempDir("volB");
    device.setPathsToDeviceMountPoints({a});
    EXPECT_EQ(device.pathsToDeviceMountPoints(), QStringList{a});
    EXPECT_EQ(device.deviceMountPointsInfo().keys(), QStringList{"E:\\"});

    QString reason;
    EXPECT_EQ(raisedName([&] { device.setPathsToDeviceMountPoints({a, b}); }, &reason), "ExtraCardFileNotFound");
    EXPECT_EQ(reason, "Before using your Android device via a USB connection you must first disconnect it and open "
                      "The Tessaline app on the device.");
    EXPECT_EQ(device.pathsToDeviceMountPoints(), QStringList{a});

    testenv::writeFile(QDir(a).filePath("Vantrel/filesystem/extrastoragecard"), "");
    device.setPathsToDeviceMountPoints({a, b});
    const QHash<QString, QVariantMap> table = device.deviceMountPointsInfo();
    EXPECT_EQ(table.value("E:\\").value("path"), a);
    EXPECT_EQ(table.value("C:\\").value("path"), b);
    EXPECT_EQ(device.firstMountedCardInfo().value("drive string"), "E:\\");
    EXPECT_EQ(device.cardPrefixOnDevice(), "E:\\");
}

// ---- the agent socket road ---------------------------------------------------------------------------------

namespace {

// A socket whose peer is the test: what is written is cut into frames, what
// is read comes from scripted reply frames.
class ScriptedSocket : public SocketLibSyncSocket
{
public:
    ScriptedSocket() : SocketLibSyncSocket(-1) {}
    int read(void *buffer, std::size_t size, std::size_t *actualBytes) override
    {
        if (replies.isEmpty()) {
            *actualBytes = 0;
            return kResultPeerClosed;
        }
        const std::size_t n = std::min(size, std::size_t(replies.size()));
        memcpy(buffer, replies.constData(), n);
        replies.remove(0, qsizetype(n));
        *actualBytes = n;
        return 0;
    }
    int writeExactly(const void *bytes, std::size_t size) override
    {
        written.append(static_cast<const char *>(bytes), qsizetype(size));
        return 0;
    }
    void reply(const QByteArray &json)
    {
        replies += QByteArray("MARK ") + QByteArray::number(json.size()) + "\n" + json;
    }
    QByteArray written;
    QByteArray replies;
};

} // namespace

TEST(PlatformDeviceAgentRoad, WritesTravelAsMARFFramesWhenTheAgentOffersThem)
{
    auto device = PlatformDevice::makeConnected();
    auto socket = std::make_unique<ScriptedSocket>();
    ScriptedSocket *peer = socket.get();
    device->agentSession().setSocket(std::move(socket));
    device->agentSession().setReadTimeout(5);

    peer->reply(R"({"result":{"MARF":"TRUE","model":"Agent"}})");
    EXPECT_EQ(device->getDeviceInfo().value("platform"), "<unknown>");
    peer->written.clear();

    const QByteArray contents = patternBytes(1000);
    for (int i = 0; i < 3; ++i)
        peer->reply(R"({"result":""})");
    ASSERT_NE(device->createFileWithPath("E:\\f.bin", contents), nullptr);

    DeviceAgent::FrameReader reader;
    reader.append(peer->written.constData(), peer->written.size());
    std::optional<DeviceAgent::Frame> open = reader.takeFrame();
    std::optional<DeviceAgent::Frame> write = reader.takeFrame();
    std::optional<DeviceAgent::Frame> close = reader.takeFrame();
    ASSERT_TRUE(open && write && close);
    EXPECT_EQ(write->kind, DeviceAgent::FrameKind::WithBlob);
    EXPECT_EQ(write->blob, contents);
    EXPECT_EQ(write->json, QByteArray(R"({"command":"FS_WRITE_FILE","from":"0"})"));
    const QByteArray header = "MARF " + QByteArray::number(write->json.size() + 1000) + " 1000\n";
    EXPECT_TRUE(peer->written.contains(header));
}
