#pragma once

#include "devices/usb/UsbLookups.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVariantList>
#include <QVariantMap>

#include <memory>
#include <mutex>
#include <optional>

class QNetworkAccessManager;

// What the device list tells the one who asked for an update. Every hook has a
// default, so an implementer overrides only what it answers.
class VtrDeviceListProtocol
{
public:
    virtual ~VtrDeviceListProtocol() = default;
    virtual bool askUserIfOKToConnectToInternet() { return true; }
    virtual void displayDownloadingDeviceListUI() {}
    virtual void teardownDownloadDeviceListUI() {}
    // A newer list has become current (sent before it is written to disk).
    virtual void deviceListWasUpdated() {}
    // Declared for completeness; the device list never sends it.
    virtual bool cancelDeviceListDownload() { return false; }
};

// The phones the system knows, keyed by USB vendor and product ID (decimal
// texts), in the document form the shipped and downloaded "Settings.slvn"
// carry: top-level "revision", sections of vendor objects of product entries,
// "MotorolaUSBProductStringsToDeviceNames", "excludedDeviceNames", "Bluetooth".
//
// The document is replaced whole, never edited in place, under a lock: a
// reader (a USB arrival handled while the update check waits for the network)
// sees either the old or the new list, never a mixture. Values that reach a
// path or a URL elsewhere ("largeImageURL", the folder paths of the media
// settings) are checked when a document is read; a bad value is dropped.
class VtrDeviceList
{
public:
    // The process-wide list, created on first use (main thread).
    static VtrDeviceList *deviceList();

    // The section of default look-ups; "SupportedDevices" until set.
    static QString supportedDevicesKeyname();
    static void setSupportedDevicesKeyname(const QString &name);

    // Where the shipped "Settings.slvn" and "DeviceList.json" are: the lists
    // compiled into the program (":/devices") unless overridden (empty restores).
    static QString resourceFolder();
    static void setResourceFolderOverride(const QString &folder);

    // The maker's web host: user default "MakerWebHost" (a host, optionally
    // with ":port"), "www.vantrel.com" when unset.
    static QString webHost();
    // "http://" + host + "/DeviceList/SolvennaToWindowsPhone/v2/Settings.slvn".
    static QUrl updateURL();

    VtrDeviceList();
    ~VtrDeviceList();
    VtrDeviceList(const VtrDeviceList &) = delete;
    VtrDeviceList &operator=(const VtrDeviceList &) = delete;

    // The merged document: shipped or downloaded (the higher "revision") plus
    // the user's additions in the current section.
    QVariantMap load() const;
    void reload();
    // The current document (a copy; cheap, the map is shared).
    QVariantMap info() const;

    // Decrypted and parsed document; nullopt when it does not decrypt or is not a JSON object.
    std::optional<QVariantMap> deviceListFromData(const QByteArray &data) const;
    // nullopt also when the file does not exist.
    std::optional<QVariantMap> deviceListFromFile(const QString &path) const;
    // "Settings.slvn" and "UnsupportedDeviceList.json" in the data folder
    // (which is created); null when the folder cannot be made (logged).
    QString appSupportDeviceListFile() const;
    QString appSupportUserDeviceListFile() const;

    // The current section; empty when the document has none.
    QVariantMap vendorsInfo() const;
    QVariant bluetoothMap() const;
    QVariantMap usbProductStringsToDeviceNames() const;
    QVariantList excludedDeviceNames() const;

    // Downloads the list from the web host and makes it current when its
    // "revision" is higher. Returns when the download has ended; the calling
    // (main) thread's events are handled meanwhile. A call made while one runs
    // returns at once.
    void checkForUpdateWithDelegate(VtrDeviceListProtocol *delegate, bool useUI);
    bool isCheckingForUpdate() const { return m_checking; }

    // The product entry of (vendor, product) in `section`, extended with
    // "vendorID", "productID", "serialNumber" (when the attached device has one)
    // and "usbProductString" (when `productString` is not empty); nullopt when
    // the product string is an excluded name, the entry is missing, or its
    // "validDevices" do not name the product string.
    std::optional<QVariantMap> infoForDeviceWithUSBVendorID(int vendor, int product, const QString &productString,
                                                            const QString &section) const;
    std::optional<QVariantMap> infoForDeviceWithUSBVendorID(int vendor, int product,
                                                            const QString &productString) const;
    // The entry of the USB device behind a mounted volume.
    std::optional<QVariantMap> infoForDeviceAtPath(const QString &path) const;
    // Records a product in the user's additions ("UnsupportedDeviceList.json").
    bool addProductDictionaryForVendorID(quint16 vendor, quint16 product, const QVariantMap &productDictionary);

    // VolumeSupport.
    // Mounted block-device volumes whose USB device has an entry (empty when
    // none); the list (also an empty one) replaces VtrMacFileInfo's mounted
    // device volumes.
    QStringList supportedMountedLocalVolumePaths() const;
    // 0 with the volume of `path` stored, else the errno of the look-up.
    int pathToVRefNum(const QString &path, VolumeRefNum *volume) const;
    bool vendorProductIDForVolume(VolumeRefNum volume, quint16 *vendor, quint16 *product) const;

    // Tests point the mount table elsewhere (empty: /proc/self/mountinfo).
    void setMountTablePathForTesting(const QString &path) { m_mountTablePath = path; }

private:
    void setInfo(QVariantMap info);

    mutable std::mutex m_infoMutex;
    QVariantMap m_info;
    bool m_checking = false;
    std::unique_ptr<QNetworkAccessManager> m_network;
    QString m_mountTablePath;
};

namespace vtr {

// The "revision" of a document: an integer or a numeric text; 0 when missing
// or unreadable.
qint64 deviceListRevision(const QVariantMap &document);
// The document with every value that would reach a path or a URL checked:
// "largeImageURL" must be an http(s) URL naming a plain file; the folder paths
// of "musicInfo", "photosInfo", ... must stay below their media folder; a value
// that fails is removed (and logged).
QVariantMap sanitizedDeviceListDocument(const QVariantMap &document);
// A downloaded body larger than this is refused.
inline constexpr qint64 kMaxDeviceListDownload = 16 * 1024 * 1024;

} // namespace vtr
