#pragma once

#include "devices/camera/CameraDetector.h"
#include "devices/camera/CameraDevice.h"
#include "devices/usb/USBListener.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QVariantList>

#include <chrono>
#include <memory>
#include <mutex>

namespace vtr::camera {
class CameraSession;
}
namespace vtr::udev {
class UdevSource;
}

// Told when the camera list has changed (implemented by the controller).
class CameraConnectionProtocol
{
public:
    virtual ~CameraConnectionProtocol() = default;
    // Sent after every re-read of the camera list, on the main thread.
    virtual void camerasChanged() = 0;
};

// The process-wide list of attached cameras (iPhones presenting their camera
// roll over PTP), read through the camera library.
//
// The list is re-read on every USB arrival and removal (the connection
// listens itself once it has a delegate; the USB layer may also call
// deviceNotification() or the USBListenerDelegate messages directly) and by
// every connectedCameras(). A re-read opens the cameras that are new, marks
// those that have gone as gone (their camera and image objects then answer
// errors), replaces the held camera dictionaries and tells the delegate. A
// re-read that fails keeps the old list and tells nobody.
//
// The connection, its events and the delegate message belong to the main
// thread; the camera and image objects it hands out may be used on any
// thread (the camera library is reached only under each camera's lock).
class CameraConnection : public QObject, public USBListenerDelegate
{
    Q_OBJECT
public:
    // Notification types of deviceNotification(); others are ignored.
    static constexpr const char *kNotificationTypeDeviceAdded = "ICANotificationTypeDeviceAdded";
    static constexpr const char *kNotificationTypeDeviceRemoved = "ICANotificationTypeDeviceRemoved";

    // The one connection, made on first use (main thread), with the USB
    // camera detector. There is no other way to make one, except for tests
    // through a subclass.
    static CameraConnection *cameraConnection();
    ~CameraConnection() override;

    // Not owned. Setting one starts listening for USB events (once).
    void setDelegate(CameraConnectionProtocol *delegate);
    CameraConnectionProtocol *delegate() const { return _delegate; }

    // Re-reads the list and answers one new camera object per camera.
    QList<CameraDevicePtr> connectedCameras();
    // The first connected camera of vendor 1452 whose product is an iPhone's.
    CameraDevicePtr firstAppleDevice();
    CameraDevicePtr cameraWithVendorID(int vendorID, int productID);
    // The held camera dictionaries (the list's "devices"), without re-reading.
    QVariantList devices() const;

    // The USB layer's hook: an arrival or a removal. Re-reads are coalesced:
    // any number of events in one turn of the event loop cause one re-read.
    void deviceNotification(const QString &type);
    void usbDeviceAdded(const UsbDeviceHandle &device, quint16 vendor, quint16 product) override;
    void usbDeviceRemoved(const UsbDeviceHandle &device) override;

    // ---- configuration (before use) ----------------------------------------
    void setDetector(std::unique_ptr<vtr::camera::CameraDetector> detector);
    // The registry the connection's own USB listener reads (default: libudev).
    void setUdevSource(std::shared_ptr<vtr::udev::UdevSource> source);
    // Bounds every wait for a camera and every camera call without progress;
    // cameras opened later use it.
    void setTimeout(std::chrono::milliseconds timeout);
    std::chrono::milliseconds timeout() const { return m_timeout; }

    // The iPhone product identifiers (vendor 1452) firstAppleDevice() knows.
    static const QList<int> &appleDeviceProductIDs();

protected:
    explicit CameraConnection(std::unique_ptr<vtr::camera::CameraDetector> detector, QObject *parent = nullptr);

private:
    void registerForDeviceNotification();
    bool getDevices();
    bool getDeviceListPropertyDictionary();
    void scheduleReread(int delayMs);
    void notifyDelegate();

    std::unique_ptr<vtr::camera::CameraDetector> m_detector;
    std::shared_ptr<vtr::udev::UdevSource> m_udevSource;
    std::unique_ptr<USBListener> m_usbListener;
    CameraConnectionProtocol *_delegate = nullptr;
    std::chrono::milliseconds m_timeout{60000};

    // Guards the list and the sessions (re-reads come from the main thread,
    // connectedCameras() may come from elsewhere).
    mutable std::mutex m_mutex;
    QVariantList mDeviceListArray;
    QHash<QString, std::shared_ptr<vtr::camera::CameraSession>> m_sessions;
    QHash<quint64, std::shared_ptr<vtr::camera::CameraSession>> m_sessionsByHandle;
    bool m_rereadPending = false; // main thread only
    int m_openRetries = 0;        // guarded by m_mutex
};
