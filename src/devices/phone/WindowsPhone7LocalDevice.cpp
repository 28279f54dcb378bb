#include "devices/phone/WindowsPhone7LocalDevice.h"

#include "fileinfo/VtrMacFileInfo.h"
#include "foundation/Log.h"
#include "platform/Folders.h"

#include <QDir>
#include <QFile>

#include <sys/stat.h>
#include <unistd.h>

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

VtrFileInfoPtr WindowsPhone7LocalDevice::folderInStorage(const QString &name)
{
    const VtrFileInfoPtr storage = storageFolder();
    // What is copied into a folder of the new phone's must land in it: a
    // link in its place (to the person's own music, say) or another user's
    // folder is not one of its folders, and is not handed out as one.
    // The same holds for the new phone's folder itself, as the report finds it.
    for (const QString &path : {QDir::cleanPath(storageFolderPath()), QDir::cleanPath(storage->path()) + QLatin1Char('/') + name}) {
        struct stat st;
        if (::lstat(QFile::encodeName(path).constData(), &st) == 0 &&
            (S_ISLNK(st.st_mode) || (S_ISDIR(st.st_mode) && st.st_uid != ::geteuid()))) {
            VTR_LOG(1, QStringLiteral("\"%1\" is %2: nothing is written into it or through it.")
                           .arg(path, S_ISLNK(st.st_mode) ? QStringLiteral("a link") : QStringLiteral("another user's")));
            return nullptr;
        }
    }
    return folderIn(storage, name);
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
    return folderInStorage(QStringLiteral("Migration Info"));
}

VtrFileInfoPtr WindowsPhone7LocalDevice::preferredMediaFolder()
{
    return storageFolder();
}

VtrFileInfoPtr WindowsPhone7LocalDevice::preferredMusicFolder()
{
    return folderInStorage(QStringLiteral("Music"));
}

VtrFileInfoPtr WindowsPhone7LocalDevice::preferredPlaylistsFolder()
{
    return folderInStorage(QStringLiteral("Playlists"));
}

VtrFileInfoPtr WindowsPhone7LocalDevice::preferredPhotosFolder()
{
    return folderInStorage(QStringLiteral("Photos"));
}

VtrFileInfoPtr WindowsPhone7LocalDevice::preferredVideosFolder()
{
    return folderInStorage(QStringLiteral("Videos"));
}

VtrFileInfoList WindowsPhone7LocalDevice::mediaFolders()
{
    return {preferredMediaFolder()};
}

VtrFileInfoList WindowsPhone7LocalDevice::bookmarkFolders()
{
    if (VtrFileInfoPtr folder = folderInStorage(QStringLiteral("Bookmark"))) return {folder};
    return {};
}
