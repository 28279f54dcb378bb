#include "devices/usb/UsbLookups.h"

#include "devices/usb/UdevSource.h"

#include <QFile>

#include <cerrno>
#include <optional>
#include <sys/stat.h>

using vtr::udev::UdevNode;

namespace {

// The first attached USB device for which `match` holds.
template <typename Match> std::optional<UdevNode> firstDevice(Match match)
{
    const std::shared_ptr<vtr::udev::UdevSource> source = vtr::udev::defaultSource();
    if (!source) return std::nullopt;
    for (const QString &syspath : source->enumerate(QStringLiteral("usb"), QStringLiteral("usb_device"))) {
        std::optional<UdevNode> node = source->node(syspath);
        if (!node) continue;
        quint16 vendor = 0;
        quint16 product = 0;
        if (!vtr::usb::parseUsbId(node->attribute(QStringLiteral("idVendor")), &vendor) ||
            !vtr::usb::parseUsbId(node->attribute(QStringLiteral("idProduct")), &product))
            continue;
        if (match(vendor, product)) return node;
    }
    return std::nullopt;
}

std::optional<UdevNode> firstDevice(quint16 vendor, quint16 product)
{
    return firstDevice([&](quint16 v, quint16 p) { return v == vendor && p == product; });
}

// Walks from the block device of a volume towards the root until `stop` holds.
template <typename Stop> std::optional<UdevNode> ancestorOfVolume(VolumeRefNum volume, Stop stop)
{
    const std::shared_ptr<vtr::udev::UdevSource> source = vtr::udev::defaultSource();
    if (!source || volume == 0) return std::nullopt;
    std::optional<UdevNode> node = source->blockDevice(dev_t(volume));
    // A registry is a tree; the bound only guards against a broken one.
    for (int depth = 0; node && depth < 64; ++depth) {
        if (stop(*node)) return node;
        if (node->parentSyspath.isEmpty()) break;
        node = source->node(node->parentSyspath);
    }
    return std::nullopt;
}

} // namespace

QString usbSerialNumberForDevice(quint16 vendor, quint16 product)
{
    const std::optional<UdevNode> node = firstDevice(vendor, product);
    if (!node) return QString();
    const QString serial = node->attributes.value(QStringLiteral("serial"));
    return serial.isEmpty() ? QString() : serial;
}

QString usbProductNameForDevice(quint16 vendor, quint16 product)
{
    const std::optional<UdevNode> node = firstDevice(vendor, product);
    if (!node) return QString();
    return node->attributes.value(QStringLiteral("product"));
}

QString usbDeviceNameForDevice(quint16 vendor, quint16 product)
{
    const std::optional<UdevNode> node = firstDevice(vendor, product);
    if (!node) return QString();
    const QString name = node->attributes.value(QStringLiteral("product"));
    return name.isNull() ? QStringLiteral("") : name;
}

bool isUSBVendorAttached(quint16 vendor)
{
    return firstDevice([&](quint16 v, quint16) { return v == vendor; }).has_value();
}

quint16 productIDForUSBVendor(quint16 vendor)
{
    const std::optional<UdevNode> node = firstDevice([&](quint16 v, quint16) { return v == vendor; });
    quint16 product = 0;
    if (node) vtr::usb::parseUsbId(node->attribute(QStringLiteral("idProduct")), &product);
    return product;
}

bool isUSBDeviceAttached(quint16 vendor, quint16 product)
{
    return firstDevice(vendor, product).has_value();
}

quint8 usbDeviceSpeed(quint16 vendor, quint16 product)
{
    const std::optional<UdevNode> node = firstDevice(vendor, product);
    if (!node) return 255;
    bool ok = false;
    const double mbits = node->attribute(QStringLiteral("speed")).toDouble(&ok);
    if (!ok) return 0;
    if (mbits < 12) return 0;
    if (mbits < 480) return 1;
    if (mbits < 5000) return 2;
    if (mbits < 10000) return 3;
    return 4;
}

bool volumeSCSIInfo(VolumeRefNum volume, quint16 *lun)
{
    if (lun) *lun = 0;
    // The SCSI device of a disk is named host:channel:target:lun.
    const std::optional<UdevNode> scsi = ancestorOfVolume(volume, [](const UdevNode &node) {
        return node.subsystem == QLatin1String("scsi") && node.devtype == QLatin1String("scsi_device");
    });
    if (!scsi) return false;
    const QStringList parts = scsi->sysname.split(QLatin1Char(':'));
    if (parts.size() != 4) return false;
    bool ok = false;
    const uint number = parts.at(3).toUInt(&ok);
    if (!ok || number > 0xFFFF) return false;
    if (lun) *lun = quint16(number);
    return true;
}

bool usbIDsForVolume(VolumeRefNum volume, quint16 *vendor, quint16 *product)
{
    if (vendor) *vendor = 0;
    if (product) *product = 0;
    const std::optional<UdevNode> device =
        ancestorOfVolume(volume, [](const UdevNode &node) { return node.isUsbDevice(); });
    if (!device) return false;
    quint16 v = 0;
    quint16 p = 0;
    const bool haveVendor = vtr::usb::parseUsbId(device->attribute(QStringLiteral("idVendor")), &v);
    const bool haveProduct = vtr::usb::parseUsbId(device->attribute(QStringLiteral("idProduct")), &p);
    if (vendor) *vendor = v;
    if (product) *product = p;
    return haveVendor || haveProduct;
}

int pathToVolumeRefNum(const QString &path, VolumeRefNum *volume)
{
    if (volume) *volume = 0;
    struct stat st
    {
    };
    if (path.isEmpty()) return ENOENT;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0) return errno ? errno : EIO;
    if (volume) *volume = VolumeRefNum(st.st_dev);
    return 0;
}

namespace {

std::vector<USBScanResult> scan(bool devices)
{
    PrivateUSBScannerClass scanner;
    USBListener listener(&scanner);
    if (!listener.startListeningForDevices(devices, !devices)) return {};
    listener.stopListening();
    return devices ? scanner.devices() : scanner.interfaces();
}

} // namespace

std::vector<USBScanResult> usbScanDevices()
{
    return scan(true);
}

std::vector<USBScanResult> usbScanInterfaces()
{
    return scan(false);
}
