#pragma once

#include "devices/phone/MobileDeviceInterface.h"
#include "devices/usb/USBListener.h"

#include <QImage>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <QVariantMap>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

class MTPDevice;
class MtpLibrary;
class QThreadPool;

// A phone the system works with: the old phone on USB (Android, iPhone or
// BlackBerry) and, as WindowsPhone7LocalDevice, the new phone's folder tree.
// It keeps the phone's USB identity and device-list entry, tracks whether the
// phone can be reached (mounted volumes, MTP), owns the phone's MTP connection
// and answers where storages and the export, media, music, playlist, photo,
// video and bookmark folders are.
//
// Ownership and lifetime:
// - Made by create() and held through std::shared_ptr (the controller, the
//   old-device proxy and whoever works on the phone); the object is always
//   destroyed on the main thread (a last reference dropped elsewhere hands the
//   destruction to the main thread's event loop).
// - The USB listener is watched, not owned; the removal registration is
//   withdrawn when the phone goes.
// - The PlatformDevice is not owned and must outlive the phone.
// - The MTP device is shared with the PlatformDevice it is attached to. The
//   libmtp handle belongs to the phone: on destruction the phone first
//   detaches it from the MTP device under that device's lock (a copy still
//   running on a worker ends with an error at its next block; the detach
//   returns only after the last library call on the handle has returned),
//   then disconnects the PlatformDevice when it still serves this phone (that
//   waits for the PlatformDevice's lock, i.e. for the worker's current
//   operation, which by then fails fast) and only then releases the handle.
//   The MTP device object itself stays valid for whoever still holds it.
class MobileDevice : public MobileDeviceInterface,
                     public USBListenerDelegate,
                     public std::enable_shared_from_this<MobileDevice>
{
    Q_OBJECT
public:
    // Picture downloads of one phone at a time.
    static constexpr int kMaxImageDownloads = 4;
    // A picture download is abandoned after this long or beyond this size.
    static constexpr int kImageDownloadTimeoutMs = 60000;
    static constexpr qint64 kMaxImageDownloadBytes = 16 * 1024 * 1024;

    // The old phone that arrived as `device`. Registers with `usbListener`
    // for the device's removal, reads its serial number, takes its name from
    // the entry ("BlackBerry" for vendor 4042) and, for every phone that is
    // not an Apple device, opens its MTP connection: the raw MTP device with
    // the same IDs and, when the handle knows them, the same bus and device
    // number. nullptr when the registration fails or the matching MTP device
    // opens without any storage. A phone whose MTP device is not found (or
    // does not open) exists without MTP. `library` null: mtpSharedLibrary().
    static std::shared_ptr<MobileDevice> create(const UsbDeviceHandle &device, USBListener *usbListener,
                                                quint16 vendorID, quint16 productID, const QString &usbProductString,
                                                const QVariantMap &deviceInfo, MobileDeviceDelegate *delegate,
                                                std::shared_ptr<MtpLibrary> library = nullptr);
    // create() in two halves, for a caller that must not wait for the phone:
    // createUnopened() does everything but opening MTP (the removal
    // registration included, so call it on the main thread); openMTP() then
    // opens the connection, which may take seconds, on a worker, before the
    // phone is shared with any other thread. openMTP() is false when the
    // matched device has no storage. A phone removed while it opens keeps no
    // MTP connection: what was opened is released before openMTP() returns.
    static std::shared_ptr<MobileDevice> createUnopened(const UsbDeviceHandle &device, USBListener *usbListener,
                                                        quint16 vendorID, quint16 productID,
                                                        const QString &usbProductString, const QVariantMap &deviceInfo,
                                                        MobileDeviceDelegate *delegate,
                                                        std::shared_ptr<MtpLibrary> library = nullptr);
    bool openMTP(const UsbDeviceHandle &device);
    // The phone's USB device went away (any thread).
    bool wasRemoved() const { return m_removed.load(); }
    ~MobileDevice() override;

    // ---- identity ---------------------------------------------------------------
    quint16 vendorID() const override { return m_vendorID; }
    quint16 productID() const override { return m_productID; }
    QString productString() const override { return m_productString; }
    QString serialNumber() const override { return m_serialNumber; }
    QString name() const override;
    void setName(const QString &name) override;
    QVariantMap info() const override { return m_info; }
    MobileDeviceDelegate *delegate() const override { return m_delegate.load(); }
    void setDelegate(MobileDeviceDelegate *delegate) override { m_delegate.store(delegate); }
    int deviceType() const override;
    bool isAndroidDevice() const override { return deviceType() == kDeviceTypeAndroid; }
    bool isAppleDevice() const override { return m_vendorID == kAppleVendorID; }
    bool isBlackBerry() const override { return m_vendorID == kBlackBerryVendorID; }
    bool isMotorolaDevice() const override { return m_vendorID == kMotorolaVendorID; }
    bool isWindowsPhone7Device() const override { return deviceType() == kDeviceTypeWindowsPhone7; }
    bool matchesVendorID(quint16 vendorID, const quint16 *productID, const QString &productString) const override;

    // ---- reachability -----------------------------------------------------------
    bool isConnected() const override;
    bool hasMTPConnection() const override { return m_mtpDevice != nullptr; }
    void addMountedPath(const QString &path) override;
    void removeMountedPath(const QString &path) override;
    bool hasMountedPath(const QString &path) const override;
    // In the order they were added.
    QStringList mountedPaths() const;

    // ---- MTP ----------------------------------------------------------------------
    bool mtpHasInternalStorage() const override;
    bool mtpHasExternalStorage() const override;
    bool mtpUseInternalStorage() override;
    bool mtpUseExternalStorage() override;
    std::optional<QVariantList> mtpPlaylists() override;
    // The MTP connection; nullptr without one.
    std::shared_ptr<MTPDevice> mtpDevice() const { return m_mtpDevice; }

    // ---- command interface -----------------------------------------------------------
    HandheldDeviceProtocol *platformDevice() const override { return m_platformDevice.load(); }
    // Acts only for a phone with an MTP connection and another value: the
    // current platform device is disconnected; the new one is connected and
    // given the MTP device and the device-list entry. Announces isConnected.
    // Waits for an operation a worker has under way on the current platform
    // device (a copy included), as switching the storage in use waits for
    // the MTP device; only the teardown ends a running copy first.
    void setPlatformDevice(HandheldDeviceProtocol *platformDevice) override;

    // ---- folders ------------------------------------------------------------------
    // One local file info per mounted volume, then the platform device's card
    // node when it has one.
    VtrFileInfoList storageFileInfos() override;
    // The first mounted volume whose disk name contains "Motorola", else the
    // first mounted volume, else the platform device's card node (for an MTP
    // phone the root of the storage in use), else nullptr.
    VtrFileInfoPtr preferredStorageInfo() override;
    // ".solvennato" in the preferred storage; "Vantrel" in it; "Music",
    // "Playlists", "Photos", "Videos" in that.
    VtrFileInfoPtr preferredMigrationExportFolder() override;
    VtrFileInfoPtr preferredMediaFolder() override;
    VtrFileInfoPtr preferredMusicFolder() override;
    VtrFileInfoPtr preferredPlaylistsFolder() override;
    VtrFileInfoPtr preferredPhotosFolder() override;
    VtrFileInfoPtr preferredVideosFolder() override;
    // "Vantrel" in each storage; "Bookmark" in each of those.
    VtrFileInfoList mediaFolders() override;
    VtrFileInfoList bookmarkFolders() override;

    // The disk name of a mounted volume (VolumeDetection's by default); tests
    // put their own in place (an empty function restores the default).
    using VolumeNameLookup = std::function<QString(const QString &path)>;
    static void setVolumeNameLookup(VolumeNameLookup lookup);

    // ---- picture ------------------------------------------------------------------
    // Loaded lazily: the entry without "largeImageURL" gets the generic
    // picture; otherwise a picture of the URL's file name in the picture
    // cache or among the shipped pictures, else a download is started (once
    // per file name) and null is answered until imageChanged.
    QImage image() override;
    // "<data folder>/Images": downloaded pictures by file name.
    static QString imageCacheFolder();
    // The shipped pictures ("<name>.png", "Generic_device_image.png"):
    // ":/DeviceImages" unless overridden (an empty text restores it).
    static QString deviceImagesFolder();
    static void setDeviceImagesFolderOverride(const QString &folder);
    // The generic picture, read once per folder and kept; null when missing.
    static QImage genericImage();

    // ---- camera -------------------------------------------------------------------
    std::shared_ptr<CameraDevice> camera() const override;
    void setCamera(std::shared_ptr<CameraDevice> camera) override;

    // ---- USBListenerDelegate ------------------------------------------------------
    // The phone's USB device went away: tells the delegate (main thread).
    void usbDeviceRemoved(const UsbDeviceHandle &device) override;

protected:
    // A phone that is not on USB (the new-phone target): no listener, no MTP.
    MobileDevice(quint16 vendorID, quint16 productID, const QVariantMap &deviceInfo, MobileDeviceDelegate *delegate);

    // A folder named `name` in `parent`, made when missing; when it cannot be
    // made, the item of that name (which is then not an existing folder).
    static VtrFileInfoPtr folderIn(const VtrFileInfoPtr &parent, const QString &name);
    // Destroys on the main thread (see the class comment).
    static void destroyOnMainThread(MobileDevice *device);

private:
    bool attach(const UsbDeviceHandle &device, USBListener *usbListener, std::shared_ptr<MtpLibrary> library);
    // 0 with or without an MTP device; -1 when the matched device has no storage.
    int setupMTPConnection(const UsbDeviceHandle &device);
    // The first storage dictionary of that "type" (0 internal, 1 card).
    std::optional<QVariantMap> mtpStorageOfType(int type) const;
    bool mtpUseStorageOfType(int type);
    void teardownMTPConnection();

    void setImage(const QImage &image);
    void loadImageURL(const QUrl &url, const QString &fileName);
    void downloadImage(const QUrl &url, const QString &fileName);

    const quint16 m_vendorID;
    const quint16 m_productID;
    const QVariantMap m_info;
    QString m_productString;
    QString m_serialNumber;
    std::atomic<MobileDeviceDelegate *> m_delegate;
    QPointer<USBListener> m_usbListener;
    std::shared_ptr<MtpLibrary> m_library;
    std::shared_ptr<MTPDevice> m_mtpDevice;
    std::atomic<HandheldDeviceProtocol *> m_platformDevice{nullptr};
    std::atomic<bool> m_removed{false};

    mutable std::mutex m_mutex;
    // Guarded by m_mutex.
    QString m_name;
    QStringList m_mountedPaths;
    bool m_hasMountedPathSet = false;
    QImage m_image;
    QStringList m_imagesLoaded;
    std::shared_ptr<CameraDevice> m_camera;

    std::unique_ptr<QThreadPool> m_imageLoadingQueue;
    std::atomic<bool> m_cancelImageLoading{false};
};
