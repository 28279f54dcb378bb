#pragma once

#include "devices/phone/MobileDevice.h"

#include <memory>

// The new Windows Phone as the wizard fills it: not on USB at all, but the
// folder "Solvenna to Windows Phone" in the user's home folder, with "Music",
// "Playlists", "Photos", "Videos", "Bookmark" and "Migration Info" in it.
// Every folder is made when asked for and answered as a local file info
// (VtrMacFileInfo); a folder in it is never one reached through a link. Vendor and product 0, name "Windows Phone 7", always
// connected, device type 4.
class WindowsPhone7LocalDevice : public MobileDevice
{
    Q_OBJECT
public:
    // Destroyed on the main thread, like every phone.
    static std::shared_ptr<WindowsPhone7LocalDevice> create(const QVariantMap &deviceInfo,
                                                            MobileDeviceDelegate *delegate);
    WindowsPhone7LocalDevice(const QVariantMap &deviceInfo, MobileDeviceDelegate *delegate);
    ~WindowsPhone7LocalDevice() override;

    int deviceType() const override { return kDeviceTypeWindowsPhone7; }
    bool isConnected() const override { return true; }

    // The folder "Solvenna to Windows Phone" in the home folder.
    static QString storageFolderPath();

    // The one storage folder.
    VtrFileInfoList storageFileInfos() override;
    VtrFileInfoPtr preferredStorageInfo() override;
    // "Migration Info" in the storage folder.
    VtrFileInfoPtr preferredMigrationExportFolder() override;
    // The storage folder itself.
    VtrFileInfoPtr preferredMediaFolder() override;
    // "Music", "Playlists", "Photos", "Videos" in the storage folder.
    VtrFileInfoPtr preferredMusicFolder() override;
    VtrFileInfoPtr preferredPlaylistsFolder() override;
    VtrFileInfoPtr preferredPhotosFolder() override;
    VtrFileInfoPtr preferredVideosFolder() override;
    // The media folder; "Bookmark" in the storage folder.
    VtrFileInfoList mediaFolders() override;
    VtrFileInfoList bookmarkFolders() override;

private:
    VtrFileInfoPtr storageFolder();
    // `name` in the storage folder, made when missing; nullptr when a link
    // or another user's folder stands there.
    VtrFileInfoPtr folderInStorage(const QString &name);
};
