#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <sys/types.h>
#include <vector>

// The device registry behind USB listening and the volume look-ups. The
// application reads it through libudev; tests put a FakeUdevSource in its place.
namespace vtr::udev {

// One registry entry as read at one moment. Attributes are the sysfs
// attributes the system asks about (kUsbAttributeNames); a missing one is absent.
struct UdevNode
{
    QString syspath;
    QString subsystem;
    QString devtype;
    QString sysname;
    QString driver;
    // Block and character devices: the device number; 0 otherwise.
    dev_t devnum = 0;
    // Empty at the top of the tree.
    QString parentSyspath;
    QHash<QString, QString> attributes;

    QString attribute(const QString &name) const { return attributes.value(name); }
    bool isUsbDevice() const { return subsystem == QLatin1String("usb") && devtype == QLatin1String("usb_device"); }
    bool isUsbInterface() const
    {
        return subsystem == QLatin1String("usb") && devtype == QLatin1String("usb_interface");
    }
};

// The attributes read into UdevNode::attributes.
const QStringList &usbAttributeNames();

struct UdevEvent
{
    // "add", "remove", "change", "bind", ...
    QString action;
    UdevNode node;
};

// A subscription to registry events. fd() becomes readable when receive() has
// something; receive() never blocks.
class UdevMonitor
{
public:
    virtual ~UdevMonitor() = default;
    virtual int fd() const = 0;
    virtual std::optional<UdevEvent> receive() = 0;
};

class UdevSource
{
public:
    virtual ~UdevSource() = default;

    // Syspaths of the entries of a subsystem (and devtype, when not empty), in
    // syspath order.
    virtual QStringList enumerate(const QString &subsystem, const QString &devtype) = 0;
    virtual std::optional<UdevNode> node(const QString &syspath) = 0;
    // The block device with this device number.
    virtual std::optional<UdevNode> blockDevice(dev_t devnum) = 0;
    // Events of `subsystem` restricted to `devtypes` (all devtypes when empty);
    // null when the subscription cannot be made.
    virtual std::unique_ptr<UdevMonitor> createMonitor(const QString &subsystem, const QStringList &devtypes) = 0;
};

// The source every look-up uses: libudev unless a test installed another one.
// Safe to call from any thread.
std::shared_ptr<UdevSource> defaultSource();
// Installs `source` as the default; null restores libudev.
void setDefaultSource(std::shared_ptr<UdevSource> source);

std::shared_ptr<UdevSource> makeLibUdevSource();

} // namespace vtr::udev
