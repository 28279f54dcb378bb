#include "devices/usb/UdevSource.h"

#include <libudev.h>

#include <mutex>

namespace vtr::udev {

const QStringList &usbAttributeNames()
{
    static const QStringList names = {
        QStringLiteral("idVendor"),
        QStringLiteral("idProduct"),
        QStringLiteral("product"),
        QStringLiteral("serial"),
        QStringLiteral("manufacturer"),
        QStringLiteral("busnum"),
        QStringLiteral("devnum"),
        QStringLiteral("speed"),
        QStringLiteral("bInterfaceProtocol"),
        QStringLiteral("bInterfaceClass"),
        // SCSI devices: what the disk reports as its maker and model.
        QStringLiteral("vendor"),
        QStringLiteral("model"),
    };
    return names;
}

namespace {

struct UdevDeleter
{
    void operator()(::udev *u) const { udev_unref(u); }
    void operator()(udev_device *d) const { udev_device_unref(d); }
    void operator()(udev_enumerate *e) const { udev_enumerate_unref(e); }
    void operator()(udev_monitor *m) const { udev_monitor_unref(m); }
};

template <typename T> using UdevPtr = std::unique_ptr<T, UdevDeleter>;

QString text(const char *s)
{
    return s ? QString::fromUtf8(s) : QString();
}

UdevNode nodeOf(udev_device *device, bool readAttributes)
{
    UdevNode node;
    node.syspath = text(udev_device_get_syspath(device));
    node.subsystem = text(udev_device_get_subsystem(device));
    node.devtype = text(udev_device_get_devtype(device));
    node.sysname = text(udev_device_get_sysname(device));
    node.driver = text(udev_device_get_driver(device));
    node.devnum = udev_device_get_devnum(device);
    // The parent is owned by the child: no unref.
    if (udev_device *parent = udev_device_get_parent(device))
        node.parentSyspath = text(udev_device_get_syspath(parent));
    if (readAttributes) {
        for (const QString &name : usbAttributeNames()) {
            const char *value = udev_device_get_sysattr_value(device, name.toUtf8().constData());
            if (value) node.attributes.insert(name, QString::fromUtf8(value).trimmed());
        }
    }
    return node;
}

class LibUdevMonitor final : public UdevMonitor
{
public:
    LibUdevMonitor(UdevPtr<::udev> context, UdevPtr<udev_monitor> monitor)
        : m_udev(std::move(context)), m_monitor(std::move(monitor))
    {}
    int fd() const override { return udev_monitor_get_fd(m_monitor.get()); }
    std::optional<UdevEvent> receive() override
    {
        UdevPtr<udev_device> device(udev_monitor_receive_device(m_monitor.get()));
        if (!device) return std::nullopt;
        UdevEvent event;
        event.action = text(udev_device_get_action(device.get()));
        // A removed device has no sysfs entry left to read.
        event.node = nodeOf(device.get(), event.action != QLatin1String("remove"));
        if (event.action == QLatin1String("remove")) {
            // The event's own properties still name the bus position.
            const QString bus = text(udev_device_get_property_value(device.get(), "BUSNUM"));
            const QString dev = text(udev_device_get_property_value(device.get(), "DEVNUM"));
            if (!bus.isEmpty()) event.node.attributes.insert(QStringLiteral("busnum"), bus);
            if (!dev.isEmpty()) event.node.attributes.insert(QStringLiteral("devnum"), dev);
        }
        return event;
    }

private:
    UdevPtr<::udev> m_udev;
    UdevPtr<udev_monitor> m_monitor;
};

// libudev contexts are not safe for concurrent use: one lock serialises the
// look-ups, which are short.
class LibUdevSource final : public UdevSource
{
public:
    LibUdevSource() : m_udev(udev_new()) {}

    QStringList enumerate(const QString &subsystem, const QString &devtype) override
    {
        std::lock_guard lock(m_mutex);
        QStringList result;
        if (!m_udev) return result;
        UdevPtr<udev_enumerate> e(udev_enumerate_new(m_udev.get()));
        if (!e) return result;
        udev_enumerate_add_match_subsystem(e.get(), subsystem.toUtf8().constData());
        if (!devtype.isEmpty()) udev_enumerate_add_match_property(e.get(), "DEVTYPE", devtype.toUtf8().constData());
        if (udev_enumerate_scan_devices(e.get()) < 0) return result;
        udev_list_entry *entry = nullptr;
        udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(e.get()))
        {
            result.append(text(udev_list_entry_get_name(entry)));
        }
        result.sort();
        return result;
    }

    std::optional<UdevNode> node(const QString &syspath) override
    {
        std::lock_guard lock(m_mutex);
        if (!m_udev || syspath.isEmpty()) return std::nullopt;
        UdevPtr<udev_device> device(udev_device_new_from_syspath(m_udev.get(), syspath.toUtf8().constData()));
        if (!device) return std::nullopt;
        return nodeOf(device.get(), true);
    }

    std::optional<UdevNode> blockDevice(dev_t devnum) override
    {
        std::lock_guard lock(m_mutex);
        if (!m_udev || devnum == 0) return std::nullopt;
        UdevPtr<udev_device> device(udev_device_new_from_devnum(m_udev.get(), 'b', devnum));
        if (!device) return std::nullopt;
        return nodeOf(device.get(), true);
    }

    std::unique_ptr<UdevMonitor> createMonitor(const QString &subsystem, const QStringList &devtypes) override
    {
        // Every monitor has its own context: it lives on the main thread while
        // look-ups may run elsewhere.
        UdevPtr<::udev> context(udev_new());
        if (!context) return nullptr;
        UdevPtr<udev_monitor> monitor(udev_monitor_new_from_netlink(context.get(), "udev"));
        if (!monitor) return nullptr;
        const QByteArray sub = subsystem.toUtf8();
        if (devtypes.isEmpty()) {
            if (udev_monitor_filter_add_match_subsystem_devtype(monitor.get(), sub.constData(), nullptr) < 0)
                return nullptr;
        }
        for (const QString &devtype : devtypes) {
            if (udev_monitor_filter_add_match_subsystem_devtype(monitor.get(), sub.constData(),
                                                                devtype.toUtf8().constData()) < 0)
                return nullptr;
        }
        if (udev_monitor_enable_receiving(monitor.get()) < 0) return nullptr;
        return std::make_unique<LibUdevMonitor>(std::move(context), std::move(monitor));
    }

private:
    std::mutex m_mutex;
    UdevPtr<::udev> m_udev;
};

std::mutex g_defaultMutex;
std::shared_ptr<UdevSource> g_default;

} // namespace

std::shared_ptr<UdevSource> makeLibUdevSource()
{
    return std::make_shared<LibUdevSource>();
}

std::shared_ptr<UdevSource> defaultSource()
{
    std::lock_guard lock(g_defaultMutex);
    if (!g_default) g_default = makeLibUdevSource();
    return g_default;
}

void setDefaultSource(std::shared_ptr<UdevSource> source)
{
    std::lock_guard lock(g_defaultMutex);
    g_default = std::move(source);
}

} // namespace vtr::udev
