#include "devices/usb/USBListener.h"

#include "devices/usb/UdevSource.h"

#include <QPointer>
#include <QSocketNotifier>

using vtr::udev::UdevNode;

void USBListenerDelegate::usbDeviceAdded(const UsbDeviceHandle &, quint16, quint16) {}
void USBListenerDelegate::usbInterfaceAdded(const UsbDeviceHandle &, quint16, quint16, quint8) {}
void USBListenerDelegate::usbDeviceRemoved(const UsbDeviceHandle &) {}
void USBListenerDelegate::usbInterfaceRemoved(const UsbDeviceHandle &) {}

USBListener::USBListener(USBListenerDelegate *delegate, std::shared_ptr<vtr::udev::UdevSource> source, QObject *parent)
    : QObject(parent), m_source(std::move(source))
{
    m_delegates.push_back(delegate);
}

USBListener::~USBListener()
{
    stopListening();
}

bool USBListener::isListening() const
{
    return m_monitor != nullptr;
}

bool USBListener::startListeningForDevices(bool devices, bool interfaces)
{
    if (!m_monitor) {
        m_activeSource = m_source ? m_source : vtr::udev::defaultSource();
        // Both kinds are always subscribed: removal registrations need the
        // other kind's departures too. Arrivals are filtered by the flags.
        std::unique_ptr<vtr::udev::UdevMonitor> monitor =
            m_activeSource ? m_activeSource->createMonitor(
                                 QStringLiteral("usb"), {QStringLiteral("usb_device"), QStringLiteral("usb_interface")})
                           : nullptr;
        if (!monitor || monitor->fd() < 0) {
            stopListening();
            return false;
        }
        m_monitor = std::move(monitor);
        ++m_generation;
        m_notifier = new QSocketNotifier(m_monitor->fd(), QSocketNotifier::Read);
        connect(m_notifier, &QSocketNotifier::activated, this, [this] { monitorReadable(); });
    }
    m_devices = m_devices || devices;
    m_interfaces = m_interfaces || interfaces;
    const quint64 generation = m_generation;
    QPointer<USBListener> self(this);

    // The subscription exists before the listing, so nothing that arrives in
    // between is missed; m_known drops the second report of such a device.
    if (devices) {
        std::vector<UdevNode> present;
        for (const QString &syspath : m_activeSource->enumerate(QStringLiteral("usb"), QStringLiteral("usb_device")))
            if (auto node = m_activeSource->node(syspath)) present.push_back(std::move(*node));
        deviceAdded(present);
        if (!self || m_generation != generation) return true;
    }
    if (interfaces) {
        std::vector<UdevNode> present;
        for (const QString &syspath : m_activeSource->enumerate(QStringLiteral("usb"), QStringLiteral("usb_interface")))
            if (auto node = m_activeSource->node(syspath)) present.push_back(std::move(*node));
        interfaceAdded(present);
    }
    return true;
}

void USBListener::stopListening()
{
    ++m_generation;
    retireNotifier();
    m_monitor.reset();
    m_activeSource.reset();
    m_registrations.clear();
    m_known.clear();
    m_devices = false;
    m_interfaces = false;
}

void USBListener::retireNotifier()
{
    if (!m_notifier) return;
    QSocketNotifier *notifier = m_notifier;
    m_notifier = nullptr;
    notifier->disconnect(this);
    notifier->setEnabled(false);
    // Inside its own activation the notifier must outlive the signal.
    if (m_dispatchDepth > 0)
        notifier->deleteLater();
    else
        delete notifier;
}

void USBListener::stopListeningForDelegate(USBListenerDelegate *delegate)
{
    if (!delegate) return;
    for (USBListenerDelegate *&slot : m_delegates)
        if (slot == delegate) slot = nullptr;
}

std::size_t USBListener::slotFor(USBListenerDelegate *delegate)
{
    for (std::size_t i = 0; i < m_delegates.size(); ++i)
        if (m_delegates[i] == delegate) return i;
    m_delegates.push_back(delegate);
    return m_delegates.size() - 1;
}

int USBListener::listenForDeviceRemoval(const UsbDeviceHandle &device, USBListenerDelegate *delegate)
{
    if (!m_monitor || !device.isValid() || !delegate) return -1;
    // A device that has already gone would never be reported again.
    if (!m_activeSource->node(device.syspath)) return -1;
    m_registrations.push_back(Registration{device, slotFor(delegate), false});
    return 0;
}

int USBListener::listenForDeviceRemoval(const UsbDeviceHandle &device)
{
    if (!m_monitor || !device.isValid()) return -1;
    if (!m_activeSource->node(device.syspath)) return -1;
    m_registrations.push_back(Registration{device, 0, false});
    return 0;
}

void USBListener::listenForInterfaceRemoval(const UsbDeviceHandle &interface)
{
    if (!m_monitor || !interface.isValid()) return;
    if (!m_activeSource->node(interface.syspath)) return;
    m_registrations.push_back(Registration{interface, 0, true});
}

void USBListener::deviceAdded(const std::vector<UdevNode> &nodes)
{
    const quint64 generation = m_generation;
    QPointer<USBListener> self(this);
    for (const UdevNode &node : nodes) {
        quint16 vendor = 0;
        quint16 product = 0;
        if (!vtr::usb::parseUsbId(node.attribute(QStringLiteral("idVendor")), &vendor) ||
            !vtr::usb::parseUsbId(node.attribute(QStringLiteral("idProduct")), &product))
            continue;
        if (m_known.contains(node.syspath)) continue;
        m_known.insert(node.syspath);
        // Slot 0 is read for every report: a delegate that stopped listening
        // during an earlier report hears nothing more.
        if (USBListenerDelegate *delegate = m_delegates.front())
            delegate->usbDeviceAdded(vtr::usb::handleForNode(node), vendor, product);
        if (!self || m_generation != generation) return;
    }
}

void USBListener::interfaceAdded(const std::vector<UdevNode> &nodes)
{
    const quint64 generation = m_generation;
    QPointer<USBListener> self(this);
    for (const UdevNode &node : nodes) {
        const std::optional<UdevNode> device = m_activeSource->node(node.parentSyspath);
        if (!device) continue;
        quint16 vendor = 0;
        quint16 product = 0;
        if (!vtr::usb::parseUsbId(device->attribute(QStringLiteral("idVendor")), &vendor) ||
            !vtr::usb::parseUsbId(device->attribute(QStringLiteral("idProduct")), &product))
            continue;
        bool ok = false;
        const uint protocol = node.attribute(QStringLiteral("bInterfaceProtocol")).toUInt(&ok, 16);
        if (!ok || protocol > 0xFF) continue;
        if (m_known.contains(node.syspath)) continue;
        m_known.insert(node.syspath);
        if (USBListenerDelegate *delegate = m_delegates.front())
            delegate->usbInterfaceAdded(vtr::usb::handleForNode(node, &*device), vendor, product, quint8(protocol));
        if (!self || m_generation != generation) return;
    }
}

void USBListener::handleRemoval(const QString &syspath)
{
    m_known.remove(syspath);
    // Each registration is answered once and then forgotten.
    std::vector<Registration> due;
    for (auto it = m_registrations.begin(); it != m_registrations.end();) {
        if (it->handle.syspath == syspath) {
            due.push_back(std::move(*it));
            it = m_registrations.erase(it);
        } else {
            ++it;
        }
    }
    const quint64 generation = m_generation;
    QPointer<USBListener> self(this);
    for (const Registration &registration : due) {
        USBListenerDelegate *delegate =
            registration.slot < m_delegates.size() ? m_delegates[registration.slot] : nullptr;
        if (!delegate) continue;
        if (registration.isInterface)
            delegate->usbInterfaceRemoved(registration.handle);
        else
            delegate->usbDeviceRemoved(registration.handle);
        if (!self || m_generation != generation) return;
    }
}

void USBListener::monitorReadable()
{
    std::shared_ptr<vtr::udev::UdevMonitor> monitor = m_monitor;
    if (!monitor) return;
    const quint64 generation = m_generation;
    QPointer<USBListener> self(this);
    ++m_dispatchDepth;
    while (std::optional<vtr::udev::UdevEvent> event = monitor->receive()) {
        const UdevNode &node = event->node;
        if (event->action == QLatin1String("add")) {
            if (node.isUsbDevice() && m_devices)
                deviceAdded({node});
            else if (node.isUsbInterface() && m_interfaces)
                interfaceAdded({node});
        } else if (event->action == QLatin1String("remove")) {
            handleRemoval(node.syspath);
        }
        if (!self) return;
        if (m_generation != generation) break;
    }
    --m_dispatchDepth;
}

QString USBScanResult::description() const
{
    return QStringLiteral("USBScanResult: vendor=%1 product=%2 protocol=%3 io_service_t=%4")
        .arg(QString::number(m_vendorID, 16), QString::number(m_productID, 16), QString::number(m_protocol, 16),
             m_service.syspath);
}

void PrivateUSBScannerClass::usbDeviceAdded(const UsbDeviceHandle &device, quint16 vendor, quint16 product)
{
    m_devices.emplace_back(device, vendor, product, quint8(0));
}

void PrivateUSBScannerClass::usbInterfaceAdded(const UsbDeviceHandle &interface, quint16 vendor, quint16 product,
                                               quint8 protocol)
{
    m_interfaces.emplace_back(interface, vendor, product, protocol);
}
