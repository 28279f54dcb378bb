#pragma once

#include <QMetaType>
#include <QString>
#include <QtGlobal>

namespace vtr::udev {
struct UdevNode;
}

// A USB device (or interface) as the listener reports it: where it sits in the
// registry and the identifying properties read when it arrived. It is a value:
// it stays valid after the device has gone (a removal report carries the handle
// that was registered), it only no longer names a present device.
struct UsbDeviceHandle
{
    // The registry path; empty for "no device".
    QString syspath;
    int busNumber = 0;
    int deviceNumber = 0;
    // "idVendor", "idProduct" (of the device, also for an interface).
    quint16 vendorID = 0;
    quint16 productID = 0;
    // "product" and "serial"; null when the device has none.
    QString product;
    QString serial;

    bool isValid() const { return !syspath.isEmpty(); }
    friend bool operator==(const UsbDeviceHandle &a, const UsbDeviceHandle &b) { return a.syspath == b.syspath; }
    friend bool operator!=(const UsbDeviceHandle &a, const UsbDeviceHandle &b) { return !(a == b); }
};

Q_DECLARE_METATYPE(UsbDeviceHandle)

namespace vtr::usb {

// A 16-bit identifier written by sysfs as hexadecimal ("05ac"). False when
// missing or not a number in range.
bool parseUsbId(const QString &text, quint16 *value);
// A handle for a registry node of a device (or of an interface, whose device
// identifiers are taken from its parent `device`, which may be null).
UsbDeviceHandle handleForNode(const vtr::udev::UdevNode &node, const vtr::udev::UdevNode *device = nullptr);

} // namespace vtr::usb
