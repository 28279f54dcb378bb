#pragma once

#include "devices/camera/CameraImage.h"

#include <QList>
#include <QString>
#include <QVariantMap>

#include <memory>
#include <mutex>
#include <optional>

namespace vtr::camera {
class CameraSession;
}

// One camera (an iPhone presenting its camera roll) as the connection listed
// it. Made anew by every CameraConnection::connectedCameras(); holds the
// camera's session, shared with the connection and with its images.
//
// The camera dictionary's keys: "ICAUserAssignedDeviceNameKey" (the USB
// product name, else the camera library's model name), "deviceIsPasscodeLocked"
// (opened but no storage presented), "ICANumberOfDownloadableObjectsKey" (the
// object count, once the objects have been listed), "idVendor", "idProduct"
// (int), "ICADeviceSerialNumberString" (when the device has a serial number),
// "icao" (the session's handle).
//
// The full information (the list of objects) is read on first need, on the
// calling thread, and kept by this object once read (a failed read is tried
// again on the next need); any thread may ask.
class CameraDevice
{
public:
    CameraDevice(QVariantMap info, std::shared_ptr<vtr::camera::CameraSession> session);

    QVariantMap info() const;
    QString name() const;
    bool isLocked() const;
    // The number of downloadable objects (lists them when not yet done); 0
    // when they cannot be listed.
    int numImages();
    int vendorID() const;
    int productID() const;
    QString serialNumber() const;

    // The camera's objects in camera order; std::nullopt when they could not
    // be listed (camera gone, locked, time-out).
    std::optional<QList<CameraImagePtr>> images();

    // Reads the full information when not yet done; answers the result of
    // that read (0, or the camera library's result code).
    int _waitForFullInfo();
    QVariantMap fullInfo() const;

private:
    std::mutex m_fetchMutex;
    mutable std::mutex m_mutex;
    QVariantMap _info;
    QVariantMap _fullInfo;
    bool _gotFullInfo = false;
    int _gotFullInfoErr = 0;
    std::shared_ptr<vtr::camera::CameraSession> m_session;
};

using CameraDevicePtr = std::shared_ptr<CameraDevice>;
