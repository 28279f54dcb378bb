#include "devices/usb/FakeUdevSource.h"

#include <algorithm>
#include <sys/eventfd.h>
#include <unistd.h>

namespace vtr::udev {

struct FakeUdevSource::MonitorState
{
    QString subsystem;
    QStringList devtypes;
    int fd = -1;
    std::mutex mutex;
    std::deque<UdevEvent> queue;

    bool accepts(const UdevNode &node) const
    {
        return node.subsystem == subsystem && (devtypes.isEmpty() || devtypes.contains(node.devtype));
    }
};

namespace {

class FakeMonitor final : public UdevMonitor
{
public:
    explicit FakeMonitor(std::shared_ptr<FakeUdevSource::MonitorState> state) : m_state(std::move(state)) {}
    ~FakeMonitor() override
    {
        std::lock_guard lock(m_state->mutex);
        ::close(m_state->fd);
        m_state->fd = -1;
    }
    int fd() const override { return m_state->fd; }
    std::optional<UdevEvent> receive() override
    {
        std::lock_guard lock(m_state->mutex);
        if (m_state->queue.empty()) return std::nullopt;
        eventfd_t value = 0;
        // Semaphore mode: one read consumes one event.
        (void)eventfd_read(m_state->fd, &value);
        UdevEvent event = std::move(m_state->queue.front());
        m_state->queue.pop_front();
        return event;
    }

private:
    std::shared_ptr<FakeUdevSource::MonitorState> m_state;
};

bool isBelow(const QString &path, const QString &root)
{
    return path == root || path.startsWith(root + QLatin1Char('/'));
}

} // namespace

FakeUdevSource::FakeUdevSource() = default;
FakeUdevSource::~FakeUdevSource() = default;

UdevNode FakeUdevSource::usbDevice(const QString &parentSyspath, const QString &sysname, quint16 vendor,
                                   quint16 product, const QString &productName, const QString &serial, int busnum,
                                   int devnum)
{
    UdevNode node =
        plainNode(parentSyspath + QLatin1Char('/') + sysname, QStringLiteral("usb"), QStringLiteral("usb_device"));
    node.parentSyspath = parentSyspath;
    node.driver = QStringLiteral("usb");
    node.attributes.insert(QStringLiteral("idVendor"), QStringLiteral("%1").arg(vendor, 4, 16, QLatin1Char('0')));
    node.attributes.insert(QStringLiteral("idProduct"), QStringLiteral("%1").arg(product, 4, 16, QLatin1Char('0')));
    if (!productName.isNull()) node.attributes.insert(QStringLiteral("product"), productName);
    if (!serial.isNull()) node.attributes.insert(QStringLiteral("serial"), serial);
    node.attributes.insert(QStringLiteral("busnum"), QString::number(busnum));
    node.attributes.insert(QStringLiteral("devnum"), QString::number(devnum));
    node.attributes.insert(QStringLiteral("speed"), QStringLiteral("480"));
    return node;
}

UdevNode FakeUdevSource::usbInterface(const UdevNode &device, int number, int protocol, int interfaceClass)
{
    const QString sysname = QStringLiteral("%1:1.%2").arg(device.sysname).arg(number);
    UdevNode node =
        plainNode(device.syspath + QLatin1Char('/') + sysname, QStringLiteral("usb"), QStringLiteral("usb_interface"));
    node.parentSyspath = device.syspath;
    node.attributes.insert(QStringLiteral("bInterfaceProtocol"),
                           QStringLiteral("%1").arg(protocol, 2, 16, QLatin1Char('0')));
    node.attributes.insert(QStringLiteral("bInterfaceClass"),
                           QStringLiteral("%1").arg(interfaceClass, 2, 16, QLatin1Char('0')));
    return node;
}

UdevNode FakeUdevSource::plainNode(const QString &syspath, const QString &subsystem, const QString &devtype)
{
    UdevNode node;
    node.syspath = syspath;
    node.subsystem = subsystem;
    node.devtype = devtype;
    node.sysname = syspath.section(QLatin1Char('/'), -1);
    const int slash = syspath.lastIndexOf(QLatin1Char('/'));
    if (slash > 0) node.parentSyspath = syspath.left(slash);
    return node;
}

void FakeUdevSource::addNode(const UdevNode &node)
{
    std::lock_guard lock(m_mutex);
    m_nodes.insert(node.syspath, node);
}

void FakeUdevSource::plug(const UdevNode &node)
{
    addNode(node);
    deliver(UdevEvent{QStringLiteral("add"), node});
}

void FakeUdevSource::unplug(const QString &syspath)
{
    std::vector<UdevNode> removed;
    {
        std::lock_guard lock(m_mutex);
        for (auto it = m_nodes.begin(); it != m_nodes.end();) {
            if (isBelow(it.key(), syspath)) {
                removed.push_back(it.value());
                it = m_nodes.erase(it);
            } else {
                ++it;
            }
        }
    }
    // Deepest first, as the kernel reports interfaces before their device.
    std::sort(removed.begin(), removed.end(),
              [](const UdevNode &a, const UdevNode &b) { return a.syspath.size() > b.syspath.size(); });
    for (UdevNode &node : removed) {
        // A removed entry has no attributes left beyond the bus position.
        QHash<QString, QString> kept;
        for (const char *name : {"busnum", "devnum"}) {
            const QString key = QLatin1String(name);
            if (node.attributes.contains(key)) kept.insert(key, node.attributes.value(key));
        }
        node.attributes = kept;
        deliver(UdevEvent{QStringLiteral("remove"), node});
    }
}

void FakeUdevSource::emitEvent(const QString &action, const UdevNode &node)
{
    deliver(UdevEvent{action, node});
}

void FakeUdevSource::deliver(const UdevEvent &event)
{
    std::vector<std::shared_ptr<MonitorState>> targets;
    {
        std::lock_guard lock(m_mutex);
        for (auto it = m_monitors.begin(); it != m_monitors.end();) {
            if (auto state = it->lock()) {
                targets.push_back(std::move(state));
                ++it;
            } else {
                it = m_monitors.erase(it);
            }
        }
    }
    for (const auto &state : targets) {
        std::lock_guard lock(state->mutex);
        if (state->fd < 0 || !state->accepts(event.node)) continue;
        state->queue.push_back(event);
        (void)eventfd_write(state->fd, 1);
    }
}

void FakeUdevSource::setMonitorsFail(bool fail)
{
    std::lock_guard lock(m_mutex);
    m_monitorsFail = fail;
}

int FakeUdevSource::monitorCount() const
{
    std::lock_guard lock(m_mutex);
    int count = 0;
    for (const auto &weak : m_monitors)
        if (auto state = weak.lock(); state && state->fd >= 0) ++count;
    return count;
}

QStringList FakeUdevSource::enumerate(const QString &subsystem, const QString &devtype)
{
    std::lock_guard lock(m_mutex);
    QStringList result;
    for (const UdevNode &node : std::as_const(m_nodes))
        if (node.subsystem == subsystem && (devtype.isEmpty() || node.devtype == devtype)) result.append(node.syspath);
    return result; // QMap keeps syspath order
}

std::optional<UdevNode> FakeUdevSource::node(const QString &syspath)
{
    std::lock_guard lock(m_mutex);
    auto it = m_nodes.constFind(syspath);
    if (it == m_nodes.constEnd()) return std::nullopt;
    UdevNode node = it.value();
    // As in sysfs, a parent that is not a registry entry is skipped over.
    while (!node.parentSyspath.isEmpty() && !m_nodes.contains(node.parentSyspath)) {
        const int slash = node.parentSyspath.lastIndexOf(QLatin1Char('/'));
        node.parentSyspath = slash > 0 ? node.parentSyspath.left(slash) : QString();
    }
    return node;
}

std::optional<UdevNode> FakeUdevSource::blockDevice(dev_t devnum)
{
    QString found;
    {
        std::lock_guard lock(m_mutex);
        for (const UdevNode &node : std::as_const(m_nodes))
            if (node.subsystem == QLatin1String("block") && node.devnum == devnum && devnum != 0) {
                found = node.syspath;
                break;
            }
    }
    if (found.isEmpty()) return std::nullopt;
    return node(found);
}

std::unique_ptr<UdevMonitor> FakeUdevSource::createMonitor(const QString &subsystem, const QStringList &devtypes)
{
    std::lock_guard lock(m_mutex);
    if (m_monitorsFail) return nullptr;
    auto state = std::make_shared<MonitorState>();
    state->subsystem = subsystem;
    state->devtypes = devtypes;
    state->fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC | EFD_SEMAPHORE);
    if (state->fd < 0) return nullptr;
    m_monitors.push_back(state);
    return std::make_unique<FakeMonitor>(state);
}

} // namespace vtr::udev
