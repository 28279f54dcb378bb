// The road of files from an Android phone to this computer: a simulated phone
// behind an MTPDevice, the PlatformDevice that commands it, and the phone file
// objects it hands out, copied into local folders.

#include "devices/command/PlatformDevice.h"
#include "devices/command/VtrSymbianFileInfo.h"
#include "devices/mtp/MTPDevice.h"
#include "devices/mtp/sim/SimulatedMtpLibrary.h"
#include "fileinfo/VtrMacFileInfo.h"
#include "platform/Folders.h"

#include "TestEnvironment.h"

#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <memory>

#if defined(__SANITIZE_ADDRESS__)
// The sanitizer's own count: its heap is not the C library's.
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#else
#include <malloc.h>
#endif

namespace {

constexpr uint32_t kInternal = 0x00010001;
constexpr uint32_t kCard = 0x00020001;

// Bytes the heap holds now.
qint64 heapBytes()
{
#if defined(__SANITIZE_ADDRESS__)
    return qint64(__sanitizer_get_current_allocated_bytes());
#else
    const struct mallinfo2 info = mallinfo2();
    return qint64(info.uordblks + info.hblkhd);
#endif
}

QStringList entriesOf(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

class AndroidRoadTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        QString error;
        phone =
            sim->addPhoneFromFile(QStringLiteral(VTR_TEST_SOURCE_DIR "/devices/data/mtp/android_phone.json"), &error);
        ASSERT_NE(phone, nullptr) << qPrintable(error);
        LIBMTP_raw_device_t *raw = nullptr;
        int count = 0;
        ASSERT_EQ(sim->detectRawDevices(&raw, &count), LIBMTP_ERROR_NONE);
        ASSERT_GE(count, 1);
        handle = sim->openRawDeviceUncached(&raw[count - 1]);
        sim->freeRawDevices(raw);
        ASSERT_NE(handle, nullptr);
        mtp = std::make_shared<MTPDevice>(0x04e8, 0x6642, sim);
        mtp->setMTPDevice(handle, kInternal);
        platform = std::make_unique<PlatformDevice>();
        platform->connect();
        platform->setMTPDeviceObject(mtp);
        localDir = testenv::makeTempDir(QStringLiteral("road"));
    }

    void TearDown() override
    {
        platform.reset();
        if (mtp) mtp->detach();
        if (handle) sim->releaseDevice(handle);
    }

    // The phone's storage switched, as the phone object does it: the MTP
    // device is attached afresh so that no listing of the other storage stays.
    void useStorage(uint32_t storage)
    {
        mtp->setStorageID(storage);
        platform->setMTPDeviceObject(nullptr);
        platform->setMTPDeviceObject(mtp);
    }

    VtrSymbianFileInfo::Ptr phoneNode(const QString &path)
    {
        return std::dynamic_pointer_cast<VtrSymbianFileInfo>(platform->deviceFileInfoWithPath(path));
    }

    // Every file below the phone folder copied into the local folder, level
    // by level, the way a migrator walks it.
    void copyTree(const VtrFileInfoPtr &phoneFolder, const VtrFileInfoPtr &localFolder)
    {
        for (const VtrFileInfoPtr &child : phoneFolder->folderContents()) {
            if (child->isFolder()) {
                const VtrFileInfoPtr sub =
                    localFolder->createFolder(VtrMacFileInfo::makeNameOSCompliant(child->name()));
                ASSERT_TRUE(sub && sub->exists()) << qPrintable(child->path());
                copyTree(child, sub);
            } else {
                VtrFileInfoPtr made;
                ASSERT_EQ(child->copyTo(localFolder, false, nullptr, nullptr, &made), 0) << qPrintable(child->path());
                ASSERT_TRUE(made && made->exists());
            }
        }
    }

    // What the simulated phone holds below a folder, checked against the
    // local copy: names, sizes, contents and modification times.
    void expectSameTree(uint32_t storage, uint32_t folderId, const QString &localFolder, int *files)
    {
        QStringList expected;
        for (uint32_t id : phone->children(storage, folderId)) {
            const std::optional<MtpSimObjectInfo> info = phone->object(id);
            ASSERT_TRUE(info);
            const QString name = QString::fromUtf8(info->name);
            expected.append(name);
            const QString local = localFolder + QLatin1Char('/') + name;
            const QFileInfo localInfo(local);
            ASSERT_TRUE(localInfo.exists()) << qPrintable(local);
            if (info->folder) {
                EXPECT_TRUE(localInfo.isDir());
                expectSameTree(storage, id, local, files);
                continue;
            }
            ++*files;
            EXPECT_EQ(localInfo.size(), info->size) << qPrintable(local);
            EXPECT_EQ(localInfo.lastModified().toSecsSinceEpoch(), qint64(info->mtime)) << qPrintable(local);
            QFile file(local);
            ASSERT_TRUE(file.open(QIODevice::ReadOnly));
            EXPECT_EQ(QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha1), phone->sha1(id))
                << qPrintable(local);
        }
        QStringList actual = entriesOf(localFolder);
        expected.sort();
        actual.sort();
        EXPECT_EQ(actual, expected) << qPrintable(localFolder);
    }

    std::shared_ptr<SimulatedMtpLibrary> sim = std::make_shared<SimulatedMtpLibrary>();
    MtpSimPhone *phone = nullptr;
    LIBMTP_mtpdevice_t *handle = nullptr;
    std::shared_ptr<MTPDevice> mtp;
    std::unique_ptr<PlatformDevice> platform;
    QString localDir;
};

TEST_F(AndroidRoadTest, CompanionAppContactsFileIsReadExactlyAndLeavesNoCopyBehind)
{
    const QDir temp(platform::temporaryFolder());
    const QStringList before = entriesOf(temp.absolutePath());

    VtrSymbianFileInfo::Ptr contacts = phoneNode(QStringLiteral("E:\\solvennawp\\nroid_con.json"));
    ASSERT_TRUE(contacts);
    ASSERT_TRUE(contacts->exists());
    EXPECT_TRUE(contacts->isFile());
    EXPECT_TRUE(contacts->deviceControlsCopy());
    const uint32_t id = phone->objectIdForPath(kInternal, QStringLiteral("solvennawp/nroid_con.json"));
    ASSERT_NE(id, 0u);
    EXPECT_EQ(contacts->size(), phone->object(id)->size);

    const QByteArray bytes = contacts->fileContents();
    EXPECT_EQ(bytes, phone->contents(id));
    EXPECT_TRUE(bytes.contains("Mara Lindqvist"));
    EXPECT_EQ(entriesOf(temp.absolutePath()), before);

    // The same file found by walking from the drive, as the wizard looks for it.
    const VtrFileInfoPtr folder = phoneNode(QStringLiteral("E:\\"))->find(QStringLiteral("solvennawp"));
    ASSERT_TRUE(folder && folder->isFolder());
    const VtrFileInfoPtr found = folder->find(QStringLiteral("NROID_CON.JSON"));
    ASSERT_TRUE(found && found->exists());
    EXPECT_EQ(found->fileContents(), phone->contents(id));
}

TEST_F(AndroidRoadTest, ListingsSeeWhatThePhoneHasNowNotWhatItHadWhenOpened)
{
    // The companion app writes its marker and removes its contacts file while
    // the phone stays open on its one storage.
    VtrSymbianFileInfo::Ptr marker = phoneNode(QStringLiteral("E:\\solvennawp\\done.txt"));
    ASSERT_TRUE(marker);
    EXPECT_FALSE(marker->exists());
    const uint32_t folder = phone->objectIdForPath(kInternal, QStringLiteral("solvennawp"));
    const uint32_t contacts = phone->objectIdForPath(kInternal, QStringLiteral("solvennawp/nroid_con.json"));
    phone->addFile(kInternal, folder, QStringLiteral("done.txt"), "1");
    ASSERT_EQ(sim->deleteObject(handle, MtpObjectId(contacts)), 0);

    marker->refresh();
    EXPECT_TRUE(marker->exists());
    EXPECT_EQ(marker->fileContents(), QByteArray("1"));
    useStorage(kInternal); // the phone object "switches" to the storage it is on
    QStringList names;
    for (const VtrFileInfoPtr &child : phoneNode(QStringLiteral("E:\\solvennawp\\"))->folderContents())
        names << child->name();
    EXPECT_TRUE(names.contains(QStringLiteral("done.txt"))) << qPrintable(names.join(','));
    EXPECT_FALSE(names.contains(QStringLiteral("nroid_con.json"))) << qPrintable(names.join(','));
}

TEST_F(AndroidRoadTest, NamesTooLongForALocalFolderAreShortenedAndKeptApart)
{
    // 150 Cyrillic letters are 300 bytes of UTF-8: two such names that differ
    // only at their end, and one whose last letter is outside the basic plane.
    const QString stem = QString(150, QChar(0x0436));
    const QStringList names{stem + "A.mp3", stem + "B.mp3",
                            QString(120, QChar(0x0436)) + QString::fromUcs4(U"\U0001F3B5") + ".mp3"};
    const uint32_t folder = phone->objectIdForPath(kInternal, QStringLiteral("solvennawp"));
    for (const QString &name : names)
        phone->addFile(kInternal, folder, name, name.right(5).toUtf8());
    const VtrFileInfoPtr local = VtrMacFileInfo::fileInfoWithPath(localDir);
    QStringList copied;
    for (const VtrFileInfoPtr &child : phoneNode(QStringLiteral("E:\\solvennawp\\"))->folderContents()) {
        if (!child->name().endsWith(".mp3")) continue;
        VtrFileInfoPtr made;
        ASSERT_EQ(child->copyTo(local, false, nullptr, nullptr, &made), 0) << qPrintable(child->name());
        ASSERT_TRUE(made && made->exists());
        EXPECT_LE(QFile::encodeName(made->name()).size(), 255);
        EXPECT_TRUE(made->name().endsWith(".mp3"));
        EXPECT_EQ(QString::fromUtf8(made->name().toUtf8()), made->name());
        EXPECT_EQ(made->fileContents(), child->name().right(5).toUtf8());
        copied << made->name();
    }
    EXPECT_EQ(copied.size(), 3);
    copied.removeDuplicates();
    EXPECT_EQ(copied.size(), 3);
}

TEST_F(AndroidRoadTest, AFolderDeepInATreeIsListedAtTheCostOfItsNamesNotOfItsPath)
{
    // A folder 4,000 characters deep holding 1,000 photos: their nodes
    // share the folder's text rather than each keeping a copy of it.
    uint32_t folder = phone->objectIdForPath(kInternal, QStringLiteral("solvennawp"));
    QString path = QStringLiteral("E:\\solvennawp");
    for (int level = 0; level < 20; ++level) {
        const QString name = QString(199, QLatin1Char('a' + level));
        folder = phone->addFolder(kInternal, folder, name);
        path += QLatin1Char('\\') + name;
    }
    for (int i = 0; i < 1000; ++i)
        phone->addFile(kInternal, folder, QStringLiteral("IMG_%1.jpg").arg(i), "photo");
    mtp->setCaches();
    useStorage(kInternal);
    const VtrFileInfoPtr deep = phoneNode(path);
    ASSERT_TRUE(deep && deep->isFolder());

    const qint64 before = heapBytes();
    const VtrFileInfoList photos = deep->folderContents();
    const qint64 perPhoto = (heapBytes() - before) / 1000;
    ASSERT_EQ(photos.size(), 1000);
    EXPECT_EQ(photos.at(0)->path(), path + QStringLiteral("\\IMG_0.jpg"));
    EXPECT_LT(perPhoto, 4000) << "a node keeps its folder's path of " << path.size() << " characters";
}

TEST_F(AndroidRoadTest, MusicFolderOfTheCardCopiesWithNamesSizesAndDates)
{
    useStorage(kCard);
    const VtrFileInfoPtr music = phoneNode(QStringLiteral("E:\\Music"));
    ASSERT_TRUE(music && music->isFolder());
    const VtrFileInfoPtr target = VtrMacFileInfo::fileInfoWithPath(localDir)->createFolder(QStringLiteral("Music"));
    ASSERT_TRUE(target && target->exists());

    copyTree(music, target);

    int files = 0;
    expectSameTree(kCard, phone->objectIdForPath(kCard, QStringLiteral("Music")), localDir + QStringLiteral("/Music"),
                   &files);
    EXPECT_EQ(files, 5);
    EXPECT_EQ(entriesOf(localDir), QStringList{"Music"});
    // The phone kept no temporary copy either.
    EXPECT_EQ(phone->objectIdForPath(kCard, QStringLiteral("Music/TessalineCopyFile.tmp")), 0u);
}

TEST_F(AndroidRoadTest, UnpluggingMidCopyLeavesBothSidesAsTheyWere)
{
    useStorage(kCard);
    const QString tidePath = QStringLiteral("E:\\Music\\The Harbour Lights\\Northern Skies\\01 - Morning Tide.mp3");
    VtrSymbianFileInfo::Ptr tide = phoneNode(tidePath);
    ASSERT_TRUE(tide && tide->exists());
    const uint32_t tideId =
        phone->objectIdForPath(kCard, QStringLiteral("Music/The Harbour Lights/Northern Skies/01 - Morning Tide.mp3"));
    const QByteArray tideSha1 = phone->sha1(tideId);

    // Phone -> computer onto a file that is already there.
    const QString local = localDir + QStringLiteral("/01 - Morning Tide.mp3");
    testenv::writeFile(local, "the copy from last year");
    phone->unplugAfterBytes(1 << 20);
    VtrFileInfoPtr made;
    EXPECT_EQ(tide->copyTo(VtrMacFileInfo::fileInfoWithPath(local), false, nullptr, nullptr, &made), -206);
    EXPECT_EQ(made, nullptr);
    EXPECT_EQ(testenv::readFile(local), QByteArray("the copy from last year"));
    EXPECT_EQ(entriesOf(localDir), QStringList{"01 - Morning Tide.mp3"});

    // Computer -> phone onto the song that is there: the phone keeps it.
    phone->replug();
    phone->unplugAfterBytes(-1);
    useStorage(kCard);
    tide = phoneNode(tidePath);
    ASSERT_TRUE(tide && tide->exists());
    testenv::writeFile(local, QByteArray(3 << 20, 'n'));
    phone->unplugAfterBytes(1 << 20);
    EXPECT_NE(tide->copyFromFile(VtrMacFileInfo::fileInfoWithPath(local), false, nullptr, nullptr, &made), 0);
    EXPECT_EQ(made, nullptr);
    const uint32_t after =
        phone->objectIdForPath(kCard, QStringLiteral("Music/The Harbour Lights/Northern Skies/01 - Morning Tide.mp3"));
    ASSERT_NE(after, 0u);
    EXPECT_EQ(phone->sha1(after), tideSha1);
    EXPECT_EQ(
        phone->objectIdForPath(kCard, QStringLiteral("Music/The Harbour Lights/Northern Skies/TessalineCopyFile.tmp")),
        0u);
}

} // namespace
