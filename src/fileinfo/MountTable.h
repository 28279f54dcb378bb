#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

// The mount table of this process (/proc/self/mountinfo): which file systems
// are mounted where, and which of them sit on a USB disk. Local file infos use
// it to find the volume an item lies on; volume detection watches the same
// file (POLLPRI on an open descriptor) to learn about mounts and unmounts.

namespace vtr {

// One line of mountinfo. Text fields are unescaped ("\040" is a space).
struct MountEntry
{
    int mountId = 0;
    int parentId = 0;
    quint32 major = 0; // st_dev of the mounted file system
    quint32 minor = 0;
    QString root;         // the mounted folder inside its file system
    QString mountPoint;   // where it is mounted, an absolute path
    QString mountOptions; // per-mount options ("rw,relatime")
    QStringList optionalFields;
    QString fsType;
    QString source; // "/dev/sdb1", "tmpfs", ...
    QString superOptions;

    // "ro" among the per-mount or the file system's options.
    bool isReadOnly() const;
    // Backed by a device of its own (a disk or partition); virtual and
    // network file systems have anonymous device numbers (major 0).
    bool isBlockBacked() const { return major != 0; }
    // major:minor as one device number, what stat(2) gives as st_dev for
    // items on this file system.
    quint64 deviceNumber() const;
};

class MountTable
{
public:
    MountTable() = default;

    // Parses mountinfo text; a line that does not have the mountinfo shape is
    // skipped (never a partial entry).
    static MountTable parse(const QByteArray &text);
    // Undoes the kernel's octal escapes ("\040", "\011", "\012", "\134");
    // anything else is kept as it is. The result is decoded as file-name bytes.
    static QString unescapeField(const QByteArray &field);

    const QList<MountEntry> &entries() const { return m_entries; }
    bool isEmpty() const { return m_entries.isEmpty(); }

    // The entry visible at `mountPoint` exactly (the last one mounted there);
    // nullptr when nothing is mounted there.
    const MountEntry *entryAt(const QString &mountPoint) const;
    // The file system that holds `absolutePath`, by path: the entry with the
    // longest mount point that equals the path or is a prefix of it ending at
    // a "/"; the last one listed wins among equals. nullptr for a relative
    // path or an empty table.
    const MountEntry *entryForPath(const QString &absolutePath) const;
    // Every mount point, in table order, without duplicates.
    QStringList mountPoints() const;

    // The table of this process. Read once and kept until the kernel reports a
    // change of the mount table (checked with a zero-time poll on each call),
    // so asking is cheap. Thread-safe. An unreadable table answers an empty one.
    static std::shared_ptr<const MountTable> current();
    // Tests: answer tables parsed from `text` instead of the real one;
    // std::nullopt restores the real table.
    static void setOverrideText(const std::optional<QByteArray> &text);
    // Lines current() lists after the kernel's (or the override's): the FUSE
    // mount a simulated phone presents, where nothing is mounted for real.
    // Empty: none.
    static void setAddedLines(const QByteArray &lines);
    // The table in the mountinfo file at `path` (read on every call; an
    // unreadable file gives an empty table), or current() for an empty path.
    // Lets a caller be pointed at a fixture file of its own.
    static std::shared_ptr<const MountTable> read(const QString &path);

private:
    QList<MountEntry> m_entries;
};

// The USB device above a block device (its nearest "usb_device" ancestor).
struct UsbDeviceIds
{
    quint16 vendorId = 0;
    quint16 productId = 0;
    bool hasVendorId = false;
    bool hasProductId = false;
    QString syspath; // udev syspath of the USB device
};

// Answers the USB device above the block device major:minor, or nullopt when
// there is none (or the device is unknown).
using UsbAncestorLookup = std::function<std::optional<UsbDeviceIds>(quint32 major, quint32 minor)>;

// The libudev answer (sysfs parents of the block device).
std::optional<UsbDeviceIds> usbAncestorOfBlockDevice(quint32 major, quint32 minor);

// The block device behind an entry whose source is a device node: the node's
// device number when it exists, else the entry's own major:minor (never for
// sources outside "/dev/" or major 0).
std::optional<std::pair<quint32, quint32>> blockDeviceOfEntry(const MountEntry &entry);

// The mount points of `table` whose source is a block device with a USB
// ancestor (the computer's "/Volumes/" phone and disk volumes), in table order.
QStringList usbVolumeMountPoints(const MountTable &table, const UsbAncestorLookup &lookup = usbAncestorOfBlockDevice);

} // namespace vtr
