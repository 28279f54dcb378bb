#pragma once

#include "devices/usb/UdevSource.h"

#include <QMap>

#include <deque>
#include <mutex>

// An in-memory device registry with the same interface as libudev, for tests
// and for running without hardware. Monitors get a real file descriptor (an
// eventfd) so that the listener's socket notifier works as it does on udev.
namespace vtr::udev {

class FakeUdevSource final : public UdevSource
{
public:
    FakeUdevSource();
    ~FakeUdevSource() override;

    // Builds a USB device node below `parentSyspath` (a bus or hub); the
    // syspath is parent + "/" + sysname. Vendor and product are written as
    // sysfs does (four lower-case hexadecimal digits).
    static UdevNode usbDevice(const QString &parentSyspath, const QString &sysname, quint16 vendor, quint16 product,
                              const QString &productName = QString(), const QString &serial = QString(), int busnum = 1,
                              int devnum = 2);
    static UdevNode usbInterface(const UdevNode &device, int number, int protocol, int interfaceClass = 8);
    static UdevNode plainNode(const QString &syspath, const QString &subsystem, const QString &devtype = QString());

    // Adds (or replaces) a node without telling monitors: a device present before listening.
    void addNode(const UdevNode &node);
    // Adds a node and reports "add" to the monitors.
    void plug(const UdevNode &node);
    // Removes a node and all below it, reporting "remove" for each (children first).
    void unplug(const QString &syspath);
    // Reports an event without changing the tree.
    void emitEvent(const QString &action, const UdevNode &node);

    // Makes createMonitor() answer null (for start failures).
    void setMonitorsFail(bool fail);
    int monitorCount() const;

    QStringList enumerate(const QString &subsystem, const QString &devtype) override;
    std::optional<UdevNode> node(const QString &syspath) override;
    std::optional<UdevNode> blockDevice(dev_t devnum) override;
    std::unique_ptr<UdevMonitor> createMonitor(const QString &subsystem, const QStringList &devtypes) override;

    struct MonitorState;

private:
    void deliver(const UdevEvent &event);

    mutable std::mutex m_mutex;
    QMap<QString, UdevNode> m_nodes;
    std::vector<std::weak_ptr<MonitorState>> m_monitors;
    bool m_monitorsFail = false;
};

} // namespace vtr::udev
