// The migrators' walk of a phone's storage through the whole road (MTP
// device, platform device, phone file objects) and its backup: nested
// folders as deep as a path on this computer can reach, and no deeper.

#include "devices/command/PlatformDevice.h"
#include "devices/mtp/MTPDevice.h"
#include "devices/mtp/sim/SimulatedMtpLibrary.h"
#include "migration/MediaMigrators.h"

#include "TestEnvironment.h"

#include <gtest/gtest.h>

#include <QSet>

#include <functional>

namespace {

constexpr uint32_t kStorage = 0x00010001;

// The photos of the whole storage, as the Android family walks it.
class PhonePhotos final : public PhotosMigrator
{
public:
    explicit PhonePhotos(PlatformDevice &device) : PhotosMigrator(nullptr), m_device(device) {}

protected:
    QList<MediaSourceItem> sourceItems() override
    {
        return mediaFilesBelow({m_device.deviceFileInfoWithPath(QStringLiteral("E:\\"))}, MediaKind::Photos);
    }

private:
    PlatformDevice &m_device;
};

// A chain of `depth` nested folders, the one at depth d named by
// `nameAt(d)`; the root and every folder hold one photo.
struct ChainPhone
{
    std::shared_ptr<SimulatedMtpLibrary> sim = std::make_shared<SimulatedMtpLibrary>();
    LIBMTP_mtpdevice_t *handle = nullptr;
    std::shared_ptr<MTPDevice> mtp;
    PlatformDevice platform;

    ChainPhone(int depth, const std::function<QString(int)> &nameAt)
    {
        MtpSimPhone &phone = sim->addPhone();
        MtpSimStorageSpec storage;
        storage.id = kStorage;
        phone.addStorage(storage);
        uint32_t folder = 0;
        for (int d = 1; d <= depth + 1; ++d) {
            phone.addFile(kStorage, folder, QStringLiteral("IMG_%1.jpg").arg(d - 1), "photo");
            if (d <= depth) folder = phone.addFolder(kStorage, folder, nameAt(d));
        }
        LIBMTP_raw_device_t *raw = nullptr;
        int count = 0;
        sim->detectRawDevices(&raw, &count);
        handle = sim->openRawDeviceUncached(&raw[0]);
        sim->freeRawDevices(raw);
        mtp = std::make_shared<MTPDevice>(0x04e8, 0x6642, sim);
        mtp->setMTPDevice(handle, kStorage);
        platform.connect();
        platform.setMTPDeviceObject(mtp);
    }
    ~ChainPhone()
    {
        platform.setMTPDeviceObject(nullptr);
        mtp->detach();
        sim->releaseDevice(handle);
    }
};

TEST(PhoneWalk, FoldersWhosePathsAreTooLongForThisComputerStayOnThePhoneCounted)
{
    // A folder's path is "E:" and a separator and a name per level; 4095
    // bytes is the longest a path here may be. Each case: the depth whose
    // folder is the deepest walked (its path exactly 4095 bytes), below it a
    // long chain that must not be looked at.
    struct Case
    {
        const char *what;
        int deepest;
        std::function<QString(int)> nameAt;
    };
    const Case cases[] = {
        // 20 levels of 100 two-byte letters (200 bytes), then 72 bytes:
        // bytes count, not letters.
        {"two-byte names", 21,
         [](int d) {
             return d <= 20 ? QString(100, QChar(0x0436)) : d == 21 ? QString(72, u'a') : QStringLiteral("F");
         }},
        // One letter a level: 2,046 levels.
        {"one-letter names", 2046, [](int) { return QStringLiteral("a"); }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        ChainPhone phone(c.deepest + 2000, c.nameAt);
        const int listingsBefore = phone.sim->callCount("LIBMTP_Get_Files_And_Folders");
        PhonePhotos photos(phone.platform);
        photos.backupOldDeviceWithStatus(nullptr);

        // The root's photo and one in each folder walked; the first folder
        // too deep is one entry not moved.
        EXPECT_EQ(photos.numItemsToCopy(), c.deepest + 1);
        QSet<QString> names;
        for (const MediaItem &item : photos.items())
            names.insert(item.name);
        EXPECT_TRUE(names.contains(QStringLiteral("IMG_%1.jpg").arg(c.deepest)));
        EXPECT_FALSE(names.contains(QStringLiteral("IMG_%1.jpg").arg(c.deepest + 1)));
        EXPECT_EQ(photos.numItemsNotMoved(), 1);
        // Each folder walked is listed once, and none below.
        EXPECT_EQ(phone.sim->callCount("LIBMTP_Get_Files_And_Folders") - listingsBefore, c.deepest + 1);
    }
}

} // namespace
