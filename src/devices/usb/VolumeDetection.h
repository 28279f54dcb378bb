#pragma once

#include "devices/usb/AppleMediaMounts.h"
#include "devices/usb/UsbLookups.h"

#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <optional>

// Phones that show their storage as a USB disk appear as mounted volumes. This
// answers what is asked about such a volume: the USB device behind it, its
// entry in the plain device list ("DeviceList.json" with the user's additions,
// later replaced by the current section of the encrypted list), and the
// volume's facts.
//
// The Mac's "/Volumes/" are the mount points of block devices with a USB
// device above them (udisks mounts them below /run/media/$USER or
// /media/$USER); tests set the roots or the mount table directly.
//
// A volume's identifier is the local file info's (VtrMacFileInfo::uuid()); a
// scan hands the phone volumes it finds to the local file infos
// (VtrMacFileInfo::updateMountedDeviceVolumesWithPaths()).
class VolumeDetection
{
public:
    // The one instance, created on first use (thread-safe); releaseManager()
    // destroys it.
    static VolumeDetection *sharedManager();
    static void releaseManager();

    VolumeDetection();

    // (Re)reads the plain list: the working copy in the data folder unless the
    // shipped copy (VtrDeviceList::resourceFolder()) is newer (it then replaces the working copy), plus the user's
    // additions.
    void loadDeviceList();
    // Replaces the held section (vendor ID text -> vendor object -> product ID text -> entry).
    void setDeviceList(const QVariantMap &section);
    // The held section, loading the list first when none is held. Empty: none.
    QVariantMap deviceListDictionary();
    bool hasDeviceList() const { return m_hasList; }
    QStringList motorolaExcludedUSBProductStrings() const { return QStringList(); }

    // Writable according to statvfs; false when the path cannot be examined.
    static bool volumeWriteableAtPath(const QString &path);
    bool volumeWriteable(const QString &path) const { return volumeWriteableAtPath(path); }
    // The path is the mount point of a USB volume (which can be unmounted).
    bool volumeUnmountable(const QString &path) const;

    int pathToVRefNum(const QString &path, VolumeRefNum *volume) const;
    bool vendorProductIDForVolume(VolumeRefNum volume, quint16 *vendor, quint16 *product) const;
    void volumePathToVendorAndProductID(const QString &path, quint16 *vendor, quint16 *product) const;
    bool volumeCanBeRemoved(const QString &path);

    // Copies of entries with "vendorID" and "productID" added.
    std::optional<QVariantMap> productDictionaryForVendorID(quint16 vendor, quint16 product);
    // Only below a USB volume root. The entry for the volume's IDs, else the
    // vendor's (product 0), else the list's (0, 0). Answering an entry makes
    // the volume's identifier (getIdentifierForVolume), as does
    // volumeCanBeRemoved() when it answers false.
    std::optional<QVariantMap> productDictionaryForVolume(const QString &path);
    std::optional<QVariantMap> productDictionaryForVolumeName(const QString &name);
    // The entry itself (not extended) when the held section has it.
    bool isMountedVolumeSavedVendorID(quint16 vendor, quint16 product, QVariantMap *outDeviceInfo);
    // `outDeviceInfo` becomes the entry, or an empty map when there is none.
    bool isDeviceVolumeForPath(const QString &path, QVariantMap *outDeviceInfo, quint16 *outVendor = nullptr,
                               quint16 *outProduct = nullptr);
    // Mounted volumes that pass isDeviceVolumeForPath(), in mount order; the
    // list (also an empty one) replaces VtrMacFileInfo's mounted device volumes.
    QStringList scanRemoveableVolumesForDevices();
    bool isVolumeMountedForVendorID(quint16 vendor, quint16 product);
    // The identifier of the volume holding `path` (VtrMacFileInfo::uuid(): a
    // marker on the volume, else the one stored under the volume's name, made
    // when there is none); null outside the USB volume roots. `create` is not
    // consulted.
    QString getIdentifierForVolume(const QString &path, bool create);

    // Facts of the volume holding `path`.
    QString volumeName(const QString &path) const;
    qint64 volumeSize(const QString &path) const;
    qint64 volumeFreespace(const QString &path) const;
    short volumeLUN(const QString &path) const;
    // The disk's maker and model as it reports them (what the Mac called the
    // media name), else the volume name, else "<untitled>"; null when the path
    // is not on a disk.
    QString copyDaVolumeNameForPath(const QString &path) const;

    bool addProductDictionaryForVendorID(quint16 vendor, quint16 product, const QVariantMap &productDictionary);

    // The USB volume mount points ("/Volumes/..."): from the mount table
    // unless set.
    QStringList volumeRoots() const;
    // The folders where this computer shows the media partition of the
    // iPhone whose USB serial number is `serial` (the desktop's or ifuse's
    // FUSE mounts, see AppleMediaMounts.h), as they are now: a desktop mounts
    // them only once the person has let the phone trust this computer.
    QStringList appleMediaFolders(const QString &serial) const;
    void setMediaMountProbesForTesting(std::optional<vtr::apple::MediaMountProbes> probes)
    {
        m_probes = std::move(probes);
    }
    void setVolumeRootsForTesting(const QStringList &roots) { m_rootsOverride = roots; }
    void setMountTablePathForTesting(const QString &path) { m_mountTablePath = path; }

private:
    bool isVolumePath(const QString &path) const;
    std::optional<QVariantMap> entry(quint16 vendor, quint16 product);

    QVariantMap m_section;
    bool m_hasList = false;
    QStringList m_rootsOverride;
    QString m_mountTablePath;
    std::optional<vtr::apple::MediaMountProbes> m_probes;
};
