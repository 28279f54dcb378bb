#pragma once

#include "devices/usb/UsbDeviceHandle.h"

#include <QObject>
#include <QSet>

#include <memory>
#include <vector>

class QSocketNotifier;

namespace vtr::udev {
class UdevMonitor;
class UdevSource;
struct UdevNode;
} // namespace vtr::udev

// What a listener reports. Every message has an empty default, so a delegate
// implements only the ones it wants (the others are "not answered").
class USBListenerDelegate
{
public:
    virtual ~USBListenerDelegate() = default;
    // A device present when listening started, or arriving later.
    virtual void usbDeviceAdded(const UsbDeviceHandle &device, quint16 vendor, quint16 product);
    virtual void usbInterfaceAdded(const UsbDeviceHandle &interface, quint16 vendor, quint16 product, quint8 protocol);
    // A device (interface) this delegate registered for has gone.
    virtual void usbDeviceRemoved(const UsbDeviceHandle &device);
    virtual void usbInterfaceRemoved(const UsbDeviceHandle &interface);
};

// Tells its delegates when USB devices or interfaces arrive and when registered
// ones leave. Reports arrive on the thread that started listening (the main
// thread) through its event loop, so they also arrive while a modal dialog runs.
//
// Delegates are not owned. Slot 0 is the delegate given at creation and hears of
// every arrival; a removal registration appends its delegate once, and the slot
// keeps its index for life: stopListeningForDelegate() empties it, never removes
// it. A delegate must call stopListeningForDelegate() before it goes away.
class USBListener : public QObject
{
    Q_OBJECT
public:
    // `source` null: the process's default registry (libudev).
    explicit USBListener(USBListenerDelegate *delegate, std::shared_ptr<vtr::udev::UdevSource> source = nullptr,
                         QObject *parent = nullptr);
    ~USBListener() override;

    // Subscribes to arrivals and reports the devices (interfaces) already
    // present before it returns. False when a requested kind could not be
    // subscribed; the listener is then stopped.
    bool startListeningForDevices(bool devices, bool interfaces);
    // Ends every arrival and removal report of this listener.
    void stopListening();
    bool isListening() const;
    void stopListeningForDelegate(USBListenerDelegate *delegate);

    // Asks for one usbDeviceRemoved() to `delegate` (slot 0 when omitted) when
    // `device` goes. 0 on success, -1 when not listening or without a device.
    int listenForDeviceRemoval(const UsbDeviceHandle &device, USBListenerDelegate *delegate);
    int listenForDeviceRemoval(const UsbDeviceHandle &device);
    void listenForInterfaceRemoval(const UsbDeviceHandle &interface);

    // The slots, for inspection (null entries are emptied slots).
    std::vector<USBListenerDelegate *> delegates() const { return m_delegates; }

private:
    struct Registration
    {
        UsbDeviceHandle handle;
        std::size_t slot = 0;
        bool isInterface = false;
    };

    void deviceAdded(const std::vector<vtr::udev::UdevNode> &nodes);
    void interfaceAdded(const std::vector<vtr::udev::UdevNode> &nodes);
    void handleRemoval(const QString &syspath);
    void monitorReadable();
    void retireNotifier();
    std::size_t slotFor(USBListenerDelegate *delegate);

    std::vector<USBListenerDelegate *> m_delegates;
    std::shared_ptr<vtr::udev::UdevSource> m_source;
    std::shared_ptr<vtr::udev::UdevSource> m_activeSource;
    std::shared_ptr<vtr::udev::UdevMonitor> m_monitor;
    QSocketNotifier *m_notifier = nullptr;
    bool m_devices = false;
    bool m_interfaces = false;
    // Arrivals already reported: the subscription starts before the present
    // devices are listed, so one device can show up in both.
    QSet<QString> m_known;
    std::vector<Registration> m_registrations;
    // Incremented by every stop and start, so that a report loop notices a
    // delegate that stopped or restarted the listener.
    quint64 m_generation = 0;
    int m_dispatchDepth = 0;
};

// One-shot scan results.
class USBScanResult
{
public:
    USBScanResult(UsbDeviceHandle service, quint16 vendor, quint16 product, quint8 protocol)
        : m_service(std::move(service)), m_vendorID(vendor), m_productID(product), m_protocol(protocol)
    {}
    const UsbDeviceHandle &serviceObject() const { return m_service; }
    quint16 vendorID() const { return m_vendorID; }
    quint16 productID() const { return m_productID; }
    quint8 protocol() const { return m_protocol; }
    // "USBScanResult: vendor=%x product=%x protocol=%x io_service_t=<registry path>".
    QString description() const;

private:
    UsbDeviceHandle m_service;
    quint16 m_vendorID;
    quint16 m_productID;
    quint8 m_protocol;
};

class PrivateUSBScannerClass : public USBListenerDelegate
{
public:
    void usbDeviceAdded(const UsbDeviceHandle &device, quint16 vendor, quint16 product) override;
    void usbInterfaceAdded(const UsbDeviceHandle &interface, quint16 vendor, quint16 product, quint8 protocol) override;
    std::vector<USBScanResult> devices() const { return m_devices; }
    std::vector<USBScanResult> interfaces() const { return m_interfaces; }

private:
    std::vector<USBScanResult> m_devices;
    std::vector<USBScanResult> m_interfaces;
};
