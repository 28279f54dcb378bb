#include "devices/camera/CameraConnection.h"

#include "devices/camera/CameraSession.h"
#include "foundation/Log.h"
#include "platform/MainThread.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QTimer>

using vtr::camera::CameraPort;
using vtr::camera::CameraSession;

namespace {

constexpr int kAppleVendorID = 1452;
// A camera that could not be opened right after it arrived (still starting,
// briefly held by another program) is tried again this often, this long apart.
constexpr int kOpenRetries = 3;
constexpr int kOpenRetryDelayMs = 2000;

QVariantMap cameraDictionary(CameraSession &session)
{
    const CameraPort &port = session.port();
    QVariantMap camera;
    // The USB product name is what the user knows the phone by ("iPhone");
    // the camera library's model name stands in when the device has none.
    camera.insert(QStringLiteral("ICAUserAssignedDeviceNameKey"),
                  port.productName.isEmpty() ? port.model : port.productName);
    const bool opened = session.isOpen();
    int storages = 0;
    // A camera busy with a transfer presents its storage; no need to wait for it.
    const int storageResult = opened ? session.storageCount(&storages, false) : vtr::camera::kCameraGone;
    camera.insert(QStringLiteral("deviceIsPasscodeLocked"),
                  vtr::camera::cameraIsPasscodeLocked(opened, storageResult, storages));
    if (session.lastObjectCount() >= 0)
        camera.insert(QStringLiteral("ICANumberOfDownloadableObjectsKey"), session.lastObjectCount());
    camera.insert(QStringLiteral("idVendor"), int(port.vendorID));
    camera.insert(QStringLiteral("idProduct"), int(port.productID));
    if (!port.serial.isEmpty()) camera.insert(QStringLiteral("ICADeviceSerialNumberString"), port.serial);
    camera.insert(QStringLiteral("icao"), QVariant::fromValue<qulonglong>(session.handle()));
    return camera;
}

} // namespace

CameraConnection *CameraConnection::cameraConnection()
{
    // Lives for the process, like the camera library's own state.
    static CameraConnection *instance = [] {
        auto *connection = new CameraConnection(vtr::camera::makeUsbCameraDetector());
        // Its events and messages belong to the main thread, whoever asked first.
        if (QCoreApplication *app = QCoreApplication::instance()) connection->moveToThread(app->thread());
        return connection;
    }();
    return instance;
}

CameraConnection::CameraConnection(std::unique_ptr<vtr::camera::CameraDetector> detector, QObject *parent)
    : QObject(parent), m_detector(std::move(detector))
{}

CameraConnection::~CameraConnection()
{
    m_usbListener.reset();
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const auto &session : std::as_const(m_sessions))
        session->detach();
}

const QList<int> &CameraConnection::appleDeviceProductIDs()
{
    static const QList<int> ids = {4752, 4753, 4754, 4755, 4756, 4758, 4759, 4761, 4762, 4764, 4766};
    return ids;
}

void CameraConnection::setDetector(std::unique_ptr<vtr::camera::CameraDetector> detector)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_detector = std::move(detector);
}

void CameraConnection::setUdevSource(std::shared_ptr<vtr::udev::UdevSource> source)
{
    m_udevSource = std::move(source);
}

void CameraConnection::setTimeout(std::chrono::milliseconds timeout)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_timeout = timeout;
}

void CameraConnection::setDelegate(CameraConnectionProtocol *delegate)
{
    _delegate = delegate;
    registerForDeviceNotification();
}

void CameraConnection::registerForDeviceNotification()
{
    if (m_usbListener) return;
    m_usbListener = std::make_unique<USBListener>(this, m_udevSource);
    // Reports the devices present now, so the first re-read follows at once.
    if (!m_usbListener->startListeningForDevices(true, false))
        VTR_LOG(1, QStringLiteral("Camera list: USB events are not available; the list is read on request only."));
}

void CameraConnection::usbDeviceAdded(const UsbDeviceHandle &device, quint16, quint16)
{
    if (m_usbListener && m_usbListener->isListening()) m_usbListener->listenForDeviceRemoval(device, this);
    deviceNotification(QString::fromLatin1(kNotificationTypeDeviceAdded));
}

void CameraConnection::usbDeviceRemoved(const UsbDeviceHandle &)
{
    deviceNotification(QString::fromLatin1(kNotificationTypeDeviceRemoved));
}

void CameraConnection::deviceNotification(const QString &type)
{
    if (type != QLatin1String(kNotificationTypeDeviceAdded) && type != QLatin1String(kNotificationTypeDeviceRemoved))
        return;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_openRetries = 0;
    }
    scheduleReread(0);
}

void CameraConnection::scheduleReread(int delayMs)
{
    if (delayMs == 0) {
        if (m_rereadPending) return;
        m_rereadPending = true;
    }
    // Queued to this object's (the main) thread; dropped with the connection.
    QMetaObject::invokeMethod(
        this,
        [this, delayMs] {
            const auto reread = [this, delayMs] {
                if (delayMs == 0) m_rereadPending = false;
                getDeviceListPropertyDictionary();
            };
            if (delayMs == 0)
                reread();
            else
                QTimer::singleShot(delayMs, this, reread);
        },
        Qt::QueuedConnection);
}

bool CameraConnection::getDevices()
{
    return getDeviceListPropertyDictionary();
}

bool CameraConnection::getDeviceListPropertyDictionary()
{
    bool someNotOpened = false;
    bool retry = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_detector) return false;
        const std::optional<std::vector<CameraPort>> detected = m_detector->detectCameras();
        if (!detected) return false;

        QHash<QString, std::shared_ptr<CameraSession>> sessions;
        QVariantList cameras;
        for (const CameraPort &port : *detected) {
            const QString key = port.key();
            if (sessions.contains(key)) continue;
            std::shared_ptr<CameraSession> session = m_sessions.value(key);
            if (!session || !session->isOpen()) {
                if (session) session->detach();
                session = std::make_shared<CameraSession>(port, m_timeout);
                if (session->open() != vtr::camera::kCameraOK) someNotOpened = true;
            }
            sessions.insert(key, session);
            cameras.append(cameraDictionary(*session));
        }
        for (auto it = m_sessions.constBegin(); it != m_sessions.constEnd(); ++it)
            if (!sessions.contains(it.key())) it.value()->detach();

        m_sessions = sessions;
        m_sessionsByHandle.clear();
        for (const auto &session : std::as_const(sessions))
            m_sessionsByHandle.insert(session->handle(), session);
        mDeviceListArray = cameras;

        if (!someNotOpened) {
            m_openRetries = 0;
        } else if (m_openRetries < kOpenRetries) {
            ++m_openRetries;
            retry = true;
        }
    }

    if (retry) scheduleReread(kOpenRetryDelayMs);
    notifyDelegate();
    return true;
}

void CameraConnection::notifyDelegate()
{
    if (platform::isMainThread()) {
        if (_delegate) _delegate->camerasChanged();
        return;
    }
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (_delegate) _delegate->camerasChanged();
        },
        Qt::QueuedConnection);
}

QVariantList CameraConnection::devices() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return mDeviceListArray;
}

QList<CameraDevicePtr> CameraConnection::connectedCameras()
{
    getDevices();
    std::lock_guard<std::mutex> lock(m_mutex);
    QList<CameraDevicePtr> cameras;
    cameras.reserve(mDeviceListArray.size());
    for (const QVariant &entry : std::as_const(mDeviceListArray)) {
        const QVariantMap info = entry.toMap();
        cameras.append(std::make_shared<CameraDevice>(
            info, m_sessionsByHandle.value(info.value(QStringLiteral("icao")).toULongLong())));
    }
    return cameras;
}

CameraDevicePtr CameraConnection::firstAppleDevice()
{
    for (const CameraDevicePtr &camera : connectedCameras())
        if (camera->vendorID() == kAppleVendorID && appleDeviceProductIDs().contains(camera->productID()))
            return camera;
    return nullptr;
}

CameraDevicePtr CameraConnection::cameraWithVendorID(int vendorID, int productID)
{
    for (const CameraDevicePtr &camera : connectedCameras())
        if (camera->vendorID() == vendorID && camera->productID() == productID) return camera;
    return nullptr;
}
