#include "devices/phone/WindowsPhone7LocalDevice.h"

#include "fileinfo/VtrMacFileInfo.h"
#include "foundation/Log.h"
#include "platform/Folders.h"

std::shared_ptr<WindowsPhone7LocalDevice> WindowsPhone7LocalDevice::create(const QVariantMap &deviceInfo,
                                                                           MobileDeviceDelegate *delegate)
{
    return std::shared_ptr<WindowsPhone7LocalDevice>(
        new WindowsPhone7LocalDevice(deviceInfo, delegate),
        [](WindowsPhone7LocalDevice *device) { MobileDevice::destroyOnMainThread(device); });
}

WindowsPhone7LocalDevice::WindowsPhone7LocalDevice(const QVariantMap &deviceInfo, MobileDeviceDelegate *delegate)
    : MobileDevice(0, 0, deviceInfo, delegate)
{
    setName(QStringLiteral("Windows Phone 7"));
}

WindowsPhone7LocalDevice::~WindowsPhone7LocalDevice() = default;

QString WindowsPhone7LocalDevice::storageFolderPath()
{
    return platform::homeFolder() + QLatin1Char('/') + QLatin1String(platform::kAppFolderName);
}

VtrFileInfoPtr WindowsPhone7LocalDevice::storageFolder()
{
    const QString path = storageFolderPath();
    if (VtrFileInfoPtr folder = VtrMacFileInfo::fileInfoCreateFolderWithFullPath(path)) return folder;
    VTR_LOG(1, QStringLiteral("Cannot make the folder %1").arg(path));
    return VtrMacFileInfo::fileInfoWithPath(path);
}

VtrFileInfoList WindowsPhone7LocalDevice::storageFileInfos()
{
    return {storageFolder()};
}

VtrFileInfoPtr WindowsPhone7LocalDevice::preferredStorageInfo()
{
    const VtrFileInfoList storages = storageFileInfos();
    return storages.isEmpty() ? nullptr : storages.last();
}

VtrFileInfoPtr WindowsPhone7LocalDevice::preferredMigrationExportFolder()
{
    return folderIn(storageFolder(), QStringLiteral("Migration Info"));
}

VtrFileInfoPtr WindowsPhone7LocalDevice::preferredMediaFolder()
{
    return storageFolder();
}

VtrFileInfoPtr WindowsPhone7LocalDevice::preferredMusicFolder()
{
    return folderIn(storageFolder(), QStringLiteral("Music"));
}

VtrFileInfoPtr WindowsPhone7LocalDevice::preferredPlaylistsFolder()
{
    return folderIn(storageFolder(), QStringLiteral("Playlists"));
}

VtrFileInfoPtr WindowsPhone7LocalDevice::preferredPhotosFolder()
{
    return folderIn(storageFolder(), QStringLiteral("Photos"));
}

VtrFileInfoPtr WindowsPhone7LocalDevice::preferredVideosFolder()
{
    return folderIn(storageFolder(), QStringLiteral("Videos"));
}

VtrFileInfoList WindowsPhone7LocalDevice::mediaFolders()
{
    return {preferredMediaFolder()};
}

VtrFileInfoList WindowsPhone7LocalDevice::bookmarkFolders()
{
    return {folderIn(storageFolder(), QStringLiteral("Bookmark"))};
}
