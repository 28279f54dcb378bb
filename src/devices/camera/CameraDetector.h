#pragma once

#include <QString>
#include <QtGlobal>

#include <memory>
#include <optional>
#include <vector>

namespace vtr::camera {

// Where the camera library reaches one camera, and the USB identity of the
// device behind it.
struct CameraPort
{
    // The camera library's model name ("Apple iPhone", "Directory Browse").
    QString model;
    // The camera library's port path ("usb:001,005", "disk:/some/folder").
    QString port;
    quint16 vendorID = 0;
    quint16 productID = 0;
    // The USB device's "product" and "serial"; null when it has none.
    QString productName;
    QString serial;

    // One camera at one port: the same key across list re-reads means the
    // same attached camera (a re-plugged one gets a new port).
    QString key() const { return model + QLatin1Char('\n') + port; }
};

// Lists the cameras attached now.
class CameraDetector
{
public:
    virtual ~CameraDetector() = default;
    // std::nullopt when the list could not be read (the caller keeps its old one).
    virtual std::optional<std::vector<CameraPort>> detectCameras() = 0;
};

// The cameras the camera library finds on USB, each matched to its USB device
// (bus and device number of the port) for identifiers, product name and serial.
std::unique_ptr<CameraDetector> makeUsbCameraDetector();

// A fixed list, for tests and for running without hardware; replaceable at
// any time (the next re-read sees the new list).
class FixedCameraDetector final : public CameraDetector
{
public:
    explicit FixedCameraDetector(std::vector<CameraPort> ports = {}) : m_ports(std::move(ports)) {}
    void setPorts(std::vector<CameraPort> ports) { m_ports = std::move(ports); }
    // Makes the next reads fail.
    void setFails(bool fails) { m_fails = fails; }
    std::optional<std::vector<CameraPort>> detectCameras() override
    {
        if (m_fails) return std::nullopt;
        return m_ports;
    }

private:
    std::vector<CameraPort> m_ports;
    bool m_fails = false;
};

} // namespace vtr::camera
