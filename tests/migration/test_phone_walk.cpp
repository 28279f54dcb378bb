// The migrators' walk and backup of a simulated phone through the whole road
// (MTP device, platform device, phone file objects): nested folders as deep
// as a path on this computer can reach, and no deeper.

#include "devices/command/PlatformDevice.h"
#include "devices/mtp/MTPDevice.h"
#include "devices/mtp/sim/SimulatedMtpLibrary.h"
#include "migration/MediaMigrators.h"

#include "TestEnvironment.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

constexpr uint32_t kStorage = 0x00010001;

// The photos migrator of a phone holding a chain of `depth` nested folders,
// the one at depth d named `nameAt(d)`; the root and each folder hold the
// photo "IMG_<its depth>.jpg".
class ChainPhonePhotos final : public PhotosMigrator
{
public:
    ChainPhonePhotos(int depth, const std::function<QString(int)> &nameAt) : PhotosMigrator(nullptr)
    {
        MtpSimPhone &phone = sim->addPhone();
        MtpSimStorageSpec storage;
        storage.id = kStorage;
        phone.addStorage(storage);
        uint32_t folder = 0;
        for (int d = 0; d <= depth; ++d) {
            phone.addFile(kStorage, folder, QStringLiteral("IMG_%1.jpg").arg(d), "photo");
            if (d < depth) folder = phone.addFolder(kStorage, folder, nameAt(d + 1));
        }
        LIBMTP_raw_device_t *raw = nullptr;
        int count = 0;
        sim->detectRawDevices(&raw, &count);
        handle = sim->openRawDeviceUncached(&raw[0]);
        sim->freeRawDevices(raw);
        mtp->setMTPDevice(handle, kStorage);
        platform.connect();
        platform.setMTPDeviceObject(mtp);
    }
    ~ChainPhonePhotos() override
    {
        platform.setMTPDeviceObject(nullptr);
        mtp->detach();
        sim->releaseDevice(handle);
    }
    std::shared_ptr<SimulatedMtpLibrary> sim = std::make_shared<SimulatedMtpLibrary>();

protected:
    QList<MediaSourceItem> sourceItems() override
    {
        return mediaFilesBelow({platform.deviceFileInfoWithPath(QStringLiteral("E:\\"))}, MediaKind::Photos);
    }

private:
    LIBMTP_mtpdevice_t *handle = nullptr;
    std::shared_ptr<MTPDevice> mtp = std::make_shared<MTPDevice>(0x04e8, 0x6642, sim);
    PlatformDevice platform;
};

TEST(PhoneWalk, FoldersWhosePathsAreTooLongForThisComputerStayOnThePhoneCounted)
{
    // A folder's path is "E:", then a separator and a name per level, and
    // may be 4095 bytes long. Each case names the depth whose folder path is
    // exactly that; 2,000 levels below it must not be looked at.
    const std::pair<int, std::function<QString(int)>> cases[] = {
        // 20 levels of 100 two-byte letters, then 72 bytes: bytes count.
        {21, [](int d) { return d <= 20 ? QString(100, QChar(0x0436)) : QString(d == 21 ? 72 : 1, u'a'); }},
        // One letter a level: 2,046 levels, walked without the call stack.
        {2046, [](int) { return QStringLiteral("a"); }},
    };
    for (const auto &[deepest, nameAt] : cases) {
        SCOPED_TRACE(deepest);
        ChainPhonePhotos photos(deepest + 2000, nameAt);
        const int listings = photos.sim->callCount("LIBMTP_Get_Files_And_Folders");
        photos.backupOldDeviceWithStatus(nullptr);

        // The photos down to the deepest folder walked; the folder below it
        // is one entry not moved. Each folder walked is listed once.
        QStringList names;
        for (const MediaItem &item : photos.items())
            names << item.name;
        EXPECT_EQ(names.size(), deepest + 1);
        EXPECT_TRUE(names.contains(QStringLiteral("IMG_%1.jpg").arg(deepest)));
        EXPECT_FALSE(names.contains(QStringLiteral("IMG_%1.jpg").arg(deepest + 1)));
        EXPECT_EQ(photos.numItemsNotMoved(), 1);
        EXPECT_EQ(photos.sim->callCount("LIBMTP_Get_Files_And_Folders") - listings, deepest + 1);
    }
}

} // namespace
