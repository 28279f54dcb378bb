#pragma once

#include "devices/usb/USBListener.h"

#include <QString>
#include <QtGlobal>

#include <vector>

// Small questions about attached USB devices and mounted volumes, answered
// from the device registry (the default udev source). Any thread may ask.

// A mounted volume's identity: the device number (st_dev) of its file system.
// It takes the place of the Mac's 16-bit volume reference number.
using VolumeRefNum = quint64;

// "serial" of the first attached device with these identifiers; null when no
// device matches or it has none.
QString usbSerialNumberForDevice(quint16 vendor, quint16 product);
// "product" of the first attached device with these identifiers; null when none.
QString usbProductNameForDevice(quint16 vendor, quint16 product);
// The registry name of the first matching device: its product string, or an
// empty string when it has none; null when no device matches.
QString usbDeviceNameForDevice(quint16 vendor, quint16 product);
bool isUSBVendorAttached(quint16 vendor);
// Product ID of the first attached device of the vendor; 0 when none.
quint16 productIDForUSBVendor(quint16 vendor);
bool isUSBDeviceAttached(quint16 vendor, quint16 product);
// 0 low (1.5 Mbit/s), 1 full (12), 2 high (480), 3 super (5000), 4 super-plus
// (10000 and more); 0 when the speed cannot be read; 255 when no such device.
quint8 usbDeviceSpeed(quint16 vendor, quint16 product);

// The SCSI logical unit number of the disk behind a volume. `lun` is set to 0
// first; true when the number was read.
bool volumeSCSIInfo(VolumeRefNum volume, quint16 *lun);
// The USB vendor and product identifiers of the device behind a volume: the
// first USB device above the volume's block device. Both outputs (which may be
// null) are set to 0 first; true when they were read.
bool usbIDsForVolume(VolumeRefNum volume, quint16 *vendor, quint16 *product);
// The volume (file system device number) holding `path`: 0 on success, else
// the errno of stat(2).
int pathToVolumeRefNum(const QString &path, VolumeRefNum *volume);

// What is attached now (empty when nothing).
std::vector<USBScanResult> usbScanDevices();
std::vector<USBScanResult> usbScanInterfaces();
