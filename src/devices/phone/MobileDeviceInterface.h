#pragma once

#include "fileinfo/VtrBaseFileInfo.h"

#include <QImage>
#include <QObject>
#include <QString>
#include <QVariantList>
#include <QVariantMap>

#include <memory>
#include <optional>

class CameraDevice;
class HandheldDeviceProtocol;
class MobileDevice;

// Told when a phone's USB device went away. Not owned by the phone.
class MobileDeviceDelegate
{
public:
    virtual ~MobileDeviceDelegate() = default;
    // On the main thread, while the phone is kept alive for the call: the
    // delegate may drop its last reference to the phone from here.
    virtual void deviceWasDisconnected(MobileDevice *device);
};

// Everything the wizard, the migrators, the PIM exporters and the Android
// installer ask of a phone. MobileDevice (the old phone on USB and, through
// WindowsPhone7LocalDevice, the new phone's folder tree) and MobileDeviceProxy
// (which stands in front of the current old phone) implement it, so a holder
// of this interface need not know which of them it has.
//
// "Nil" answers (what a proxy without a phone gives): false, 0, a null
// QString, an empty QVariantMap, nullptr, an empty list, a null QImage,
// std::nullopt.
//
// Change notices are the signals below; they are emitted on the main thread
// only (a change made on a worker is announced there later), so views may
// connect directly. A notice says "may have changed": read the value again.
//
// Threads: any thread may ask; the folder queries and the MTP storage switch
// reach the phone through its PlatformDevice, whose calls come one at a time.
class MobileDeviceInterface : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool isConnected READ isConnected NOTIFY isConnectedChanged)
    Q_PROPERTY(bool hasMTPConnection READ hasMTPConnection NOTIFY hasMTPConnectionChanged)
    Q_PROPERTY(QImage image READ image NOTIFY imageChanged)
public:
    // deviceType() values.
    static constexpr int kDeviceTypeAndroid = 1;
    static constexpr int kDeviceTypeApple = 2;
    static constexpr int kDeviceTypeBlackBerry = 3;
    static constexpr int kDeviceTypeWindowsPhone7 = 4;
    // USB vendors with a family of their own.
    static constexpr quint16 kAppleVendorID = 1452;
    static constexpr quint16 kBlackBerryVendorID = 4042;
    static constexpr quint16 kMotorolaVendorID = 8888;

    ~MobileDeviceInterface() override;

    // ---- identity ---------------------------------------------------------------
    virtual quint16 vendorID() const = 0;
    virtual quint16 productID() const = 0;
    // The USB product string; null when the device has none.
    virtual QString productString() const = 0;
    // The USB serial number; null when the device has none.
    virtual QString serialNumber() const = 0;
    // Display name; null when the device-list entry gave none.
    virtual QString name() const = 0;
    virtual void setName(const QString &name) = 0;
    // A copy of the device-list entry.
    virtual QVariantMap info() const = 0;
    virtual MobileDeviceDelegate *delegate() const = 0;
    virtual void setDelegate(MobileDeviceDelegate *delegate) = 0;
    // One of the kDeviceType values (0 for a proxy without a phone).
    virtual int deviceType() const = 0;
    virtual bool isAndroidDevice() const = 0;
    virtual bool isAppleDevice() const = 0;
    virtual bool isBlackBerry() const = 0;
    virtual bool isMotorolaDevice() const = 0;
    virtual bool isWindowsPhone7Device() const = 0;
    // The vendor must equal; the product too unless `productID` is null; a
    // null `productString` matches any, another must equal the phone's
    // exactly (a phone without one never matches it).
    virtual bool matchesVendorID(quint16 vendorID, const quint16 *productID, const QString &productString) const = 0;

    // ---- reachability -----------------------------------------------------------
    // A mounted volume of the phone is recorded or an MTP connection exists.
    virtual bool isConnected() const = 0;
    virtual bool hasMTPConnection() const = 0;
    // A null path is ignored. Compared by exact string equality.
    virtual void addMountedPath(const QString &path) = 0;
    virtual void removeMountedPath(const QString &path) = 0;
    virtual bool hasMountedPath(const QString &path) const = 0;

    // ---- MTP storages -------------------------------------------------------------
    virtual bool mtpHasInternalStorage() const = 0;
    virtual bool mtpHasExternalStorage() const = 0;
    // Switch the MTP session to the first internal (removable card) storage;
    // false, storage unchanged, when the phone has none or no MTP.
    virtual bool mtpUseInternalStorage() = 0;
    virtual bool mtpUseExternalStorage() = 0;
    // The phone's playlists (MTPDevice::devicePlaylists); nullopt without MTP.
    // Throws VtrException when the phone failed to list them.
    virtual std::optional<QVariantList> mtpPlaylists() = 0;

    // ---- command interface -----------------------------------------------------------
    // Not owned: the controller keeps the one PlatformDevice for the run.
    virtual HandheldDeviceProtocol *platformDevice() const = 0;
    virtual void setPlatformDevice(HandheldDeviceProtocol *platformDevice) = 0;

    // ---- folders (each made when asked for; a folder that cannot be made is
    // answered as a file info that is not an existing folder) -----------------
    virtual VtrFileInfoList storageFileInfos() = 0;
    virtual VtrFileInfoPtr preferredStorageInfo() = 0;
    virtual VtrFileInfoPtr preferredMigrationExportFolder() = 0;
    virtual VtrFileInfoPtr preferredMediaFolder() = 0;
    virtual VtrFileInfoPtr preferredMusicFolder() = 0;
    virtual VtrFileInfoPtr preferredPlaylistsFolder() = 0;
    virtual VtrFileInfoPtr preferredPhotosFolder() = 0;
    virtual VtrFileInfoPtr preferredVideosFolder() = 0;
    virtual VtrFileInfoList mediaFolders() = 0;
    virtual VtrFileInfoList bookmarkFolders() = 0;

    // ---- picture and camera -------------------------------------------------------------
    // The product picture; null while it is still being fetched (imageChanged
    // follows) or when there is none.
    virtual QImage image() = 0;
    virtual std::shared_ptr<CameraDevice> camera() const = 0;
    virtual void setCamera(std::shared_ptr<CameraDevice> camera) = 0;

Q_SIGNALS:
    void isConnectedChanged();
    void hasMTPConnectionChanged();
    void imageChanged();

protected:
    explicit MobileDeviceInterface(QObject *parent = nullptr);

    using ChangeSignal = void (MobileDeviceInterface::*)();
    // Emits `signal` on the main thread: at once when called there, else
    // queued to it (dropped if this object is gone by then).
    void postChangeNotice(ChangeSignal signal);
    // Always queued, also on the main thread: for notices raised inside a
    // getter, so that no view re-enters it from its own slot.
    void postChangeNoticeLater(ChangeSignal signal);
};
