#include "devices/usb/UsbDeviceHandle.h"

#include "devices/usb/UdevSource.h"

namespace vtr::usb {

bool parseUsbId(const QString &text, quint16 *value)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty() || trimmed.size() > 4) return false;
    bool ok = false;
    const uint parsed = trimmed.toUInt(&ok, 16);
    if (!ok || parsed > 0xFFFF) return false;
    if (value) *value = quint16(parsed);
    return true;
}

UsbDeviceHandle handleForNode(const vtr::udev::UdevNode &node, const vtr::udev::UdevNode *device)
{
    const vtr::udev::UdevNode &source = device ? *device : node;
    UsbDeviceHandle handle;
    handle.syspath = node.syspath;
    handle.busNumber = source.attribute(QStringLiteral("busnum")).toInt();
    handle.deviceNumber = source.attribute(QStringLiteral("devnum")).toInt();
    parseUsbId(source.attribute(QStringLiteral("idVendor")), &handle.vendorID);
    parseUsbId(source.attribute(QStringLiteral("idProduct")), &handle.productID);
    handle.product = source.attributes.value(QStringLiteral("product"));
    handle.serial = source.attributes.value(QStringLiteral("serial"));
    return handle;
}

} // namespace vtr::usb
