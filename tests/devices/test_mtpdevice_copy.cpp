// The MTP device's whole-file copies in both directions, and what happens to
// calls when the device is detached while one runs.

#include "support/MtpDeviceFixture.h"

#include <QCryptographicHash>
#include <QFileInfo>

#include <gmock/gmock.h>

#include <atomic>
#include <chrono>
#include <thread>

using namespace mtptest;
namespace cmd = DeviceCommands;

namespace {

VtrFileInfoPtr phoneNode(const QString &path)
{
    return VtrWindowsPathBasedFileInfo::fileInfoWithPath(path);
}

VtrFileInfoPtr localFile(const QString &path)
{
    return VtrMacFileInfo::fileInfoWithPath(path);
}

QByteArray pattern(qint64 size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qint64 i = 0; i < size; ++i)
        bytes[i] = char((i * 7 + 3) & 0xFF);
    return bytes;
}

bool isAscending(const std::vector<float> &values)
{
    return std::is_sorted(values.begin(), values.end());
}

class MtpCopyTest : public MtpDeviceTest
{
protected:
    void loadCard()
    {
        load("android_phone.json", kCard);
        dir = tempDir();
    }

    // Names of the phone's objects in a folder of the card.
    QStringList phoneNames(const char *folder)
    {
        QStringList names;
        for (uint32_t id : phone->children(kCard, idOf(kCard, folder)))
            names << QString::fromUtf8(phone->object(id)->name);
        return names;
    }

    // The phone keeps what a failed send delivered, in blocks of 4 KiB.
    void keepPartialSends(bool allowDuplicateNames = false)
    {
        MtpSimOptions options = phone->options();
        options.keepPartialSends = true;
        options.rejectDuplicateNames = !allowDuplicateNames;
        options.transferBlockSize = 4096;
        phone->setOptions(options);
    }

    QString dir;
    int userData = 0;
};

const QString kTide = "E:\\Music\\The Harbour Lights\\Northern Skies\\01 - Morning Tide.mp3";

// ---- phone -> computer -------------------------------------------------------------

TEST_F(MtpCopyTest, PhoneFileToComputerWithProgressAndDate)
{
    loadCard();
    RecordingProgress progress;
    const QString target = dir + "/tide.mp3";
    EXPECT_EQ(mtp->copyDeviceFile(phoneNode(kTide), localFile(target), &progress, &userData), 0);
    const uint32_t id = idOf(kCard, "Music/The Harbour Lights/Northern Skies/01 - Morning Tide.mp3");
    EXPECT_EQ(testenv::readFile(target), phone->contents(id));
    ASSERT_EQ(progress.percents.size(), 64u); // 4 MiB in blocks of 64 KiB
    EXPECT_TRUE(isAscending(progress.percents));
    EXPECT_FLOAT_EQ(progress.percents.back(), 100.0f);
    EXPECT_EQ(progress.userDatas.front(), &userData);
    EXPECT_EQ(QFileInfo(target).lastModified().toUTC(), QDateTime(QDate(2012, 6, 1), QTime(10, 0), Qt::UTC));
    EXPECT_EQ(QDir(dir).entryList(QDir::Files), QStringList("tide.mp3"));
}

TEST_F(MtpCopyTest, PhoneFileIntoTheCallersTemporaryFile)
{
    loadCard();
    const QString temporary = dir + "/TessalineCopyFile.tmp";
    testenv::writeFile(temporary, "");
    EXPECT_EQ(mtp->copyDeviceFile(phoneNode("E:\\Playlists\\Favorites.pla"), localFile(temporary), nullptr, nullptr),
              0);
    const uint32_t holiday = idOf(kCard, "Movies/Holiday.mp4");
    EXPECT_EQ(mtp->copyDeviceFile(phoneNode("E:\\Movies\\Holiday.mp4"), localFile(temporary), nullptr, nullptr), 0);
    EXPECT_EQ(QFileInfo(temporary).size(), 52428800);
    EXPECT_EQ(QCryptographicHash::hash(testenv::readFile(temporary), QCryptographicHash::Sha1), phone->sha1(holiday));
}

TEST_F(MtpCopyTest, EmptyPhoneFileReportsCompleteProgress)
{
    loadCard();
    phone->addFile(kCard, idOf(kCard, "Movies"), "empty.txt", QByteArray());
    mtp->setCaches();
    RecordingProgress progress;
    EXPECT_EQ(
        mtp->copyDeviceFile(phoneNode("E:\\Movies\\empty.txt"), localFile(dir + "/empty.txt"), &progress, nullptr), 0);
    EXPECT_THAT(progress.percents, ::testing::ElementsAre(100.0f));
    EXPECT_TRUE(QFileInfo::exists(dir + "/empty.txt"));
}

TEST_F(MtpCopyTest, CancelledOrFailedPhoneCopyLeavesTheDestination)
{
    loadCard();
    const QString target = dir + "/tide.mp3";
    testenv::writeFile(target, "old contents");

    RecordingProgress cancelling;
    cancelling.cancelAtCall = 2;
    EXPECT_EQ(mtp->copyDeviceFile(phoneNode(kTide), localFile(target), &cancelling, nullptr), -210);
    EXPECT_EQ(cancelling.percents.size(), 2u);
    EXPECT_EQ(testenv::readFile(target), "old contents");

    // A progress callback that throws ends the copy as a failure.
    RecordingProgress throwing;
    throwing.onCall = [](int) { throw VtrException("TestException", "thrown by the progress callback"); };
    EXPECT_EQ(mtp->copyDeviceFile(phoneNode(kTide), localFile(target), &throwing, nullptr), -207);
    EXPECT_EQ(testenv::readFile(target), "old contents");
    testenv::writeFile(dir + "/up.txt", "up");
    EXPECT_EQ(mtp->copyDesktopFile(localFile(dir + "/up.txt"), phoneNode("E:\\Music\\up.txt"), &throwing, nullptr),
              -207);
    EXPECT_EQ(idOf(kCard, "Music/up.txt"), 0u);
    QFile::remove(dir + "/up.txt");

    sim->failCall("LIBMTP_Get_File_To_Handler");
    EXPECT_EQ(mtp->copyDeviceFile(phoneNode(kTide), localFile(target), nullptr, nullptr), -207);
    EXPECT_EQ(testenv::readFile(target), "old contents");

    phone->unplugAfterBytes(100000);
    EXPECT_EQ(mtp->copyDeviceFile(phoneNode(kTide), localFile(target), nullptr, nullptr), -207);
    EXPECT_EQ(testenv::readFile(target), "old contents");
    EXPECT_EQ(QDir(dir).entryList(QDir::Files), QStringList("tide.mp3"));
    phone->replug();
}

TEST_F(MtpCopyTest, PhoneCopyArguments)
{
    loadCard();
    EXPECT_EQ(mtp->copyDeviceFile(phoneNode("E:\\Music\\nothing.mp3"), localFile(dir + "/x"), nullptr, nullptr), -207);
    EXPECT_EQ(mtp->copyDeviceFile(phoneNode("E:\\Music"), localFile(dir + "/x"), nullptr, nullptr), -207);
    EXPECT_EQ(mtp->copyDeviceFile(nullptr, localFile(dir + "/x"), nullptr, nullptr), -50);
    EXPECT_FALSE(QFileInfo::exists(dir + "/x"));
    mtp->detach();
    EXPECT_EQ(mtp->copyDeviceFile(phoneNode(kTide), localFile(dir + "/x"), nullptr, nullptr), -1);
}

TEST_F(MtpCopyTest, APhoneFileWithoutATimeGetsTheTimeOfTheCopy)
{
    phone = &sim->addPhone();
    MtpSimStorageSpec storage;
    storage.id = kCard;
    storage.capacity = 1000000;
    phone->addStorage(storage);
    MtpSimObjectSpec spec;
    spec.storageId = kCard;
    spec.name = "undated.txt";
    spec.contents = QByteArray("u");
    spec.dateInListing = false;
    phone->addObject(spec);
    ASSERT_TRUE(sim->failCall("LIBMTP_Get_File_ModificationDate", 1, -1));
    open(kCard);
    dir = tempDir();
    testenv::writeFile(dir + "/undated.txt", "");
    const QDateTime before = QDateTime::currentDateTimeUtc().addSecs(-5);
    ASSERT_EQ(mtp->copyDeviceFile(phoneNode("E:\\undated.txt"), localFile(dir + "/undated.txt"), nullptr, nullptr), 0);
    EXPECT_GE(QFileInfo(dir + "/undated.txt").lastModified().toUTC(), before);
    sim->clearFaults();
}

// ---- computer -> phone -----------------------------------------------------------------

TEST_F(MtpCopyTest, ComputerFileToPhone)
{
    loadCard();
    const QByteArray bytes = pattern(300000);
    testenv::writeFile(dir + "/photo.jpg", bytes);
    RecordingProgress progress;
    auto node = phoneNode("E:\\Music\\photo.jpg");
    EXPECT_EQ(mtp->copyDesktopFile(localFile(dir + "/photo.jpg"), node, &progress, &userData), 0);
    const uint32_t id = idOf(kCard, "Music/photo.jpg");
    ASSERT_NE(id, 0u);
    EXPECT_EQ(phone->contents(id), bytes);
    EXPECT_EQ(phone->object(id)->filetype, LIBMTP_FILETYPE_JPEG);
    ASSERT_EQ(progress.percents.size(), 5u);
    EXPECT_FLOAT_EQ(progress.percents.back(), 100.0f);
    EXPECT_EQ(progress.userDatas.back(), &userData);
    EXPECT_EQ(node->name(), "photo.jpg");
    const QVariantMap entry = mtp->dictionaryForPath("E:\\Music\\photo.jpg");
    EXPECT_EQ(entry.value("item_id").toUInt(), id);
    EXPECT_EQ(entry.value("size").toString(), "300000");
    const qint64 localTime = QFileInfo(dir + "/photo.jpg").lastModified().toSecsSinceEpoch();
    EXPECT_EQ(qint64(phone->object(id)->mtime), localTime);

    // The type follows the extension table; others keep the open record's.
    testenv::writeFile(dir + "/clip.3gp", "v");
    testenv::writeFile(dir + "/song.mp3", "a");
    EXPECT_EQ(mtp->copyDesktopFile(localFile(dir + "/clip.3gp"), phoneNode("E:\\Music\\clip.3gp"), nullptr, nullptr),
              0);
    EXPECT_EQ(mtp->copyDesktopFile(localFile(dir + "/song.mp3"), phoneNode("E:\\Music\\song.mp3"), nullptr, nullptr),
              0);
    EXPECT_EQ(phone->object(idOf(kCard, "Music/clip.3gp"))->filetype, LIBMTP_FILETYPE_UNDEF_VIDEO);
    EXPECT_EQ(phone->object(idOf(kCard, "Music/song.mp3"))->filetype, MtpLibrary::kNewObjectFileType);

    // Files land in the storage's top level too.
    EXPECT_EQ(mtp->copyDesktopFile(localFile(dir + "/song.mp3"), phoneNode("E:\\top.mp3"), nullptr, nullptr), 0);
    EXPECT_EQ(phone->object(idOf(kCard, "top.mp3"))->parentId, 0u);
}

TEST_F(MtpCopyTest, EmptyComputerFileReportsCompleteProgress)
{
    loadCard();
    testenv::writeFile(dir + "/empty.txt", "");
    RecordingProgress progress;
    EXPECT_EQ(
        mtp->copyDesktopFile(localFile(dir + "/empty.txt"), phoneNode("E:\\Music\\empty.txt"), &progress, nullptr), 0);
    EXPECT_THAT(progress.percents, ::testing::ElementsAre(100.0f));
    EXPECT_EQ(phone->object(idOf(kCard, "Music/empty.txt"))->size, 0);
}

TEST_F(MtpCopyTest, ReplacedObjectStaysUntilTheNewOneArrived)
{
    loadCard();
    const uint32_t old = idOf(kCard, "Movies/Holiday.mp4");
    const QByteArray bytes = pattern(200000);
    testenv::writeFile(dir + "/Holiday.mp4", bytes);
    RecordingProgress progress;
    int oldSeenMissing = 0;
    progress.onCall = [&](int) {
        if (!phone->object(old)) ++oldSeenMissing;
    };
    EXPECT_EQ(
        mtp->copyDesktopFile(localFile(dir + "/Holiday.mp4"), phoneNode("E:\\Movies\\Holiday.mp4"), &progress, nullptr),
        0);
    EXPECT_EQ(oldSeenMissing, 0);
    EXPECT_FALSE(phone->object(old).has_value());
    const uint32_t replacement = idOf(kCard, "Movies/Holiday.mp4");
    EXPECT_NE(replacement, old);
    EXPECT_EQ(phone->contents(replacement), bytes);
    EXPECT_THAT(phoneNames("Movies"), ::testing::ElementsAre("Holiday.mp4"));
    EXPECT_EQ(mtp->oidForPath("E:\\Movies\\Holiday.mp4"), replacement);
}

TEST_F(MtpCopyTest, CancelledOrFailedReplacementKeepsTheOldObject)
{
    loadCard();
    const uint32_t old = idOf(kCard, "Movies/Holiday.mp4");
    testenv::writeFile(dir + "/Holiday.mp4", pattern(200000));

    RecordingProgress cancelling;
    cancelling.cancelAtCall = 1;
    EXPECT_EQ(mtp->copyDesktopFile(localFile(dir + "/Holiday.mp4"), phoneNode("E:\\Movies\\Holiday.mp4"), &cancelling,
                                   nullptr),
              -210);
    EXPECT_EQ(idOf(kCard, "Movies/Holiday.mp4"), old);
    EXPECT_THAT(phoneNames("Movies"), ::testing::ElementsAre("Holiday.mp4"));

    // The old object refuses to go: the new one is taken back.
    sim->failCall("LIBMTP_Delete_Object");
    EXPECT_EQ(
        mtp->copyDesktopFile(localFile(dir + "/Holiday.mp4"), phoneNode("E:\\Movies\\Holiday.mp4"), nullptr, nullptr),
        -207);
    EXPECT_EQ(idOf(kCard, "Movies/Holiday.mp4"), old);
    EXPECT_THAT(phoneNames("Movies"), ::testing::ElementsAre("Holiday.mp4"));
    EXPECT_EQ(phone->object(old)->size, 52428800);
    EXPECT_EQ(mtp->oidForPath("E:\\Movies\\Holiday.mp4"), old);
}

TEST_F(MtpCopyTest, PartOfAFailedSendIsRemoved)
{
    loadCard();
    keepPartialSends();
    testenv::writeFile(dir + "/big.bin", pattern(100000));
    RecordingProgress cancelling;
    cancelling.cancelAtCall = 3;
    auto node = phoneNode("E:\\Music\\big.bin");
    EXPECT_EQ(mtp->copyDesktopFile(localFile(dir + "/big.bin"), node, &cancelling, nullptr), -210);
    EXPECT_EQ(idOf(kCard, "Music/big.bin"), 0u);
    EXPECT_TRUE(mtp->dictionaryForPath("E:\\Music\\big.bin").isEmpty());
    EXPECT_EQ(node->name(), "big.bin");
}

TEST_F(MtpCopyTest, AReplacementWhoseRenameFailsKeepsTheOldFileUnderItsName)
{
    loadCard();
    const uint32_t old = idOf(kCard, "Movies/Holiday.mp4");
    testenv::writeFile(dir + "/Holiday.mp4", pattern(2000));
    // The old object stepping aside, then the new one taking the name.
    for (int failing : {1, 2}) {
        SCOPED_TRACE(failing);
        ASSERT_TRUE(sim->failCall("LIBMTP_Set_File_Name", failing));
        EXPECT_EQ(mtp->copyDesktopFile(localFile(dir + "/Holiday.mp4"), phoneNode("E:\\Movies\\Holiday.mp4"), nullptr,
                                       nullptr),
                  -207);
        EXPECT_THAT(phoneNames("Movies"), ::testing::ElementsAre("Holiday.mp4"));
        EXPECT_EQ(idOf(kCard, "Movies/Holiday.mp4"), old);
        EXPECT_EQ(phone->object(old)->size, 52428800);
        EXPECT_EQ(mtp->oidForPath("E:\\Movies\\Holiday.mp4"), old);
        sim->clearFaults();
    }
    EXPECT_EQ(
        mtp->copyDesktopFile(localFile(dir + "/Holiday.mp4"), phoneNode("E:\\Movies\\Holiday.mp4"), nullptr, nullptr),
        0);
    EXPECT_THAT(phoneNames("Movies"), ::testing::ElementsAre("Holiday.mp4"));
    EXPECT_EQ(phone->contents(idOf(kCard, "Movies/Holiday.mp4")), pattern(2000));
}

TEST_F(MtpCopyTest, AHalfSentFileNeverCarriesItsName)
{
    loadCard();
    keepPartialSends();
    testenv::writeFile(dir + "/big.bin", pattern(100000));
    phone->unplugAfterBytes(20000);
    EXPECT_EQ(mtp->copyDesktopFile(localFile(dir + "/big.bin"), phoneNode("E:\\Music\\big.bin"), nullptr, nullptr),
              -207);
    phone->replug();
    EXPECT_EQ(idOf(kCard, "Music/big.bin"), 0u);
    EXPECT_FALSE(phoneNames("Music").contains("big.bin"));
}

TEST_F(MtpCopyTest, AFailedSendRemovesOnlyWhatItLeft)
{
    loadCard();
    keepPartialSends(true);
    // Two leftovers of an earlier run under the temporary name: the map keeps
    // the first (removed before the send), the second is the phone's to keep.
    const uint32_t music = idOf(kCard, "Music");
    phone->addFile(kCard, music, "TessalineCopyFile.tmp", "first");
    const uint32_t second = phone->addFile(kCard, music, "TessalineCopyFile.tmp", "older");
    testenv::writeFile(dir + "/big.bin", pattern(100000));
    RecordingProgress cancelling;
    cancelling.cancelAtCall = 3;
    EXPECT_EQ(mtp->copyDesktopFile(localFile(dir + "/big.bin"), phoneNode("E:\\Music\\big.bin"), &cancelling, nullptr),
              -210);
    EXPECT_TRUE(phone->object(second).has_value());
    EXPECT_EQ(phoneNames("Music").count("TessalineCopyFile.tmp"), 1);
}

TEST_F(MtpCopyTest, ComputerCopyFailures)
{
    loadCard();
    testenv::writeFile(dir + "/a.txt", "a");
    const int sends = sim->callCount("LIBMTP_Send_File_From_Handler");
    // No folder, a folder in the way, a missing source: nothing is sent.
    EXPECT_EQ(mtp->copyDesktopFile(localFile(dir + "/a.txt"), phoneNode("E:\\Nowhere\\a.txt"), nullptr, nullptr), -207);
    EXPECT_EQ(mtp->copyDesktopFile(localFile(dir + "/a.txt"), phoneNode("E:\\Music"), nullptr, nullptr), -207);
    EXPECT_EQ(mtp->copyDesktopFile(localFile(dir + "/missing.txt"), phoneNode("E:\\Music\\m.txt"), nullptr, nullptr),
              -207);
    EXPECT_EQ(sim->callCount("LIBMTP_Send_File_From_Handler"), sends);

    sim->failCall("LIBMTP_Send_File_From_Handler");
    auto node = phoneNode("E:\\Music\\a.txt");
    EXPECT_EQ(mtp->copyDesktopFile(localFile(dir + "/a.txt"), node, nullptr, nullptr), -207);
    EXPECT_EQ(node->name(), "a.txt");
    EXPECT_EQ(node->path(), "E:\\Music\\a.txt");
    EXPECT_EQ(mtp->copyDesktopFile(localFile(dir + "/a.txt"), nullptr, nullptr, nullptr), -50);
}

TEST_F(MtpCopyTest, TrackMetadataOfATaggedFileIsWrittenAfterTheCopy)
{
    loadCard();
    testenv::writeFile(dir + "/tagged.mp3", pattern(1000));
    QVariantMap tags{{"metadataType", 0},
                     {"artist", "Ada"},
                     {"album", "Alpha"},
                     {"tracknumber", 3},
                     {"filetype", int(LIBMTP_FILETYPE_MP3)}};
    auto file = std::make_shared<TaggedFile>(dir + "/tagged.mp3", tags);
    EXPECT_EQ(mtp->copyDesktopFile(file, phoneNode("E:\\Music\\tagged.mp3"), nullptr, nullptr), 0);
    const auto object = phone->object(idOf(kCard, "Music/tagged.mp3"));
    ASSERT_TRUE(object.has_value());
    EXPECT_EQ(object->filetype, LIBMTP_FILETYPE_MP3);
    ASSERT_TRUE(object->track.has_value());
    EXPECT_EQ(object->track->artist, "Ada");
    EXPECT_EQ(object->track->album, "Alpha");
    EXPECT_EQ(object->track->tracknumber, 3);
}

// ---- threads and detaching ------------------------------------------------------------

TEST_F(MtpCopyTest, DetachDuringAPhoneCopyEndsItWithoutLaterCalls)
{
    loadCard();
    MtpSimOptions options = phone->options();
    options.transferBlockSize = 4096;
    phone->setOptions(options);
    phone->addFileOfSize(kCard, idOf(kCard, "Movies"), "long.bin", 1 << 20);
    mtp->setCaches();

    std::atomic<bool> started{false};
    RecordingProgress progress;
    progress.onCall = [&](int) {
        started = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    };
    FileInfoCopyStatus status = 1;
    std::thread worker([&] {
        status =
            mtp->copyDeviceFile(phoneNode("E:\\Movies\\long.bin"), localFile(dir + "/long.bin"), &progress, nullptr);
    });
    while (!started)
        std::this_thread::yield();
    EXPECT_EQ(mtp->detach(), handle);
    sim->releaseDevice(handle);
    sim->addMarker("released");
    handle = nullptr;
    worker.join();
    EXPECT_EQ(status, -207);
    EXPECT_LT(progress.percents.size(), 256u);
    EXPECT_FALSE(sim->anyCallAfterMarker("released"));
    EXPECT_FALSE(QFileInfo::exists(dir + "/long.bin"));
    EXPECT_TRUE(QDir(dir).entryList(QDir::Files).isEmpty());
}

TEST_F(MtpCopyTest, DetachDuringASendEndsItWithoutLaterCalls)
{
    loadCard();
    MtpSimOptions options = phone->options();
    options.transferBlockSize = 4096;
    phone->setOptions(options);
    testenv::writeFile(dir + "/long.bin", pattern(1 << 20));

    std::atomic<bool> started{false};
    RecordingProgress progress;
    progress.onCall = [&](int) {
        started = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    };
    FileInfoCopyStatus status = 1;
    std::thread worker([&] {
        status =
            mtp->copyDesktopFile(localFile(dir + "/long.bin"), phoneNode("E:\\Movies\\long.bin"), &progress, nullptr);
    });
    while (!started)
        std::this_thread::yield();
    mtp->detach();
    sim->releaseDevice(handle);
    sim->addMarker("released");
    handle = nullptr;
    worker.join();
    EXPECT_EQ(status, -207); // the phone went away: a failure, not a cancel
    EXPECT_FALSE(sim->anyCallAfterMarker("released"));
    EXPECT_EQ(idOf(kCard, "Movies/long.bin"), 0u);
}

TEST_F(MtpCopyTest, DetachDuringAMapBuildStopsTheWalk)
{
    phone = &sim->addPhone();
    MtpSimStorageSpec storage;
    storage.id = kInternal;
    storage.capacity = 1ull << 40;
    phone->addStorage(storage);
    for (int f = 0; f < 300; ++f) {
        const uint32_t folder = phone->addFolder(kInternal, 0, QString("folder %1").arg(f));
        for (int i = 0; i < 10; ++i)
            phone->addFileOfSize(kInternal, folder, QString("file %1.txt").arg(i), 10, 1000000);
    }
    open(kInternal);
    const int listingsPerBuild = sim->callCount("LIBMTP_Get_Files_And_Folders");
    ASSERT_EQ(listingsPerBuild, 301);

    std::atomic<bool> stop{false};
    std::thread worker([&] {
        while (!stop)
            mtp->setCaches();
    });
    while (sim->callCount("LIBMTP_Get_Files_And_Folders") < listingsPerBuild + 50)
        std::this_thread::yield();
    stop = true;
    mtp->detach();
    sim->releaseDevice(handle);
    sim->addMarker("released");
    handle = nullptr;
    worker.join();
    EXPECT_FALSE(sim->anyCallAfterMarker("released"));
    EXPECT_EQ(mtp->objectCount(), 0);
}

TEST_F(MtpCopyTest, CallsFromSeveralThreadsAndFromCallbacksNeverOverlap)
{
    loadCard();
    MtpSimOptions options = phone->options();
    options.transferBlockSize = 16384;
    phone->setOptions(options);

    // A progress callback that calls back in is answered without the library.
    int nestedAnswers = 0;
    RecordingProgress nested;
    nested.onCall = [&](int) {
        if (!mtp->sendCmdWithDictionary(cmd::fsGetDir("E:\\")).isValid()) ++nestedAnswers;
    };
    EXPECT_EQ(mtp->copyDeviceFile(phoneNode(kTide), localFile(dir + "/nested.mp3"), &nested, nullptr), 0);
    EXPECT_EQ(nestedAnswers, int(nested.percents.size()));

    std::atomic<int> failures{0};
    auto work = [&](int n) {
        for (int i = 0; i < 10; ++i) {
            if (listNames("E:\\Music").isEmpty()) ++failures;
            const QString target = dir + QString("/copy-%1-%2.mp3").arg(n).arg(i);
            if (mtp->copyDeviceFile(phoneNode(kTide), localFile(target), nullptr, nullptr) != 0) ++failures;
        }
    };
    std::thread a(work, 1);
    std::thread b(work, 2);
    a.join();
    b.join();
    EXPECT_EQ(failures, 0);
    // TearDown checks that no two library calls overlapped.
}

} // namespace
