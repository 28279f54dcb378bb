#pragma once

// Header-only: for test folders that link the device library.

#include "devices/mtp/sim/SimulatedMtpLibrary.h"
#include "devices/usb/FakeUdevSource.h"

#include <QString>

#include <memory>

// A phone plugged into a test: a fake USB registry (made the process's
// default, so USB look-ups see it) and a simulated MTP library holding the
// phones. Hand usb() to the code's USB listener and mtp() to whatever opens
// phones; then plug() makes a USB arrival. The default registry is restored
// when the helper goes.
class PhoneArrival
{
public:
    static constexpr const char *kBus = "/sys/devices/pci0000:00/usb1";

    PhoneArrival()
        : m_usb(std::make_shared<vtr::udev::FakeUdevSource>()), m_mtp(std::make_shared<SimulatedMtpLibrary>())
    {
        m_usb->addNode(vtr::udev::FakeUdevSource::plainNode(QString::fromLatin1(kBus), QStringLiteral("usb"),
                                                            QStringLiteral("usb_device")));
        vtr::udev::setDefaultSource(m_usb);
    }
    ~PhoneArrival() { vtr::udev::setDefaultSource(nullptr); }
    PhoneArrival(const PhoneArrival &) = delete;
    PhoneArrival &operator=(const PhoneArrival &) = delete;

    std::shared_ptr<vtr::udev::FakeUdevSource> usb() const { return m_usb; }
    std::shared_ptr<SimulatedMtpLibrary> mtp() const { return m_mtp; }

    // An MTP phone from a fixture, ready to be plugged (nullptr when the
    // fixture is invalid).
    MtpSimPhone *addFixture(const QString &path) { return m_mtp->addPhoneFromFile(path); }

    // A USB arrival; answers the device's registry path.
    QString plug(quint16 vendor, quint16 product, const QString &productName = QString(),
                 const QString &serial = QString(), int bus = 1, int devnum = 2)
    {
        const QString sysname = QStringLiteral("1-%1").arg(++m_ports);
        const vtr::udev::UdevNode node = vtr::udev::FakeUdevSource::usbDevice(
            QString::fromLatin1(kBus), sysname, vendor, product, productName, serial, bus, devnum);
        m_usb->plug(node);
        return node.syspath;
    }
    // The arrival of a simulated MTP phone with its own identity.
    QString plug(MtpSimPhone &phone)
    {
        const MtpSimIdentity id = phone.identity();
        return plug(id.vendorId, id.productId, id.productName, id.serialNumber, int(id.busLocation), id.devnum);
    }
    void unplug(const QString &syspath) { m_usb->unplug(syspath); }

private:
    std::shared_ptr<vtr::udev::FakeUdevSource> m_usb;
    std::shared_ptr<SimulatedMtpLibrary> m_mtp;
    int m_ports = 0;
};
