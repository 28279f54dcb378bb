#include "devices/camera/CameraDevice.h"

#include "devices/camera/CameraSession.h"
#include "foundation/Log.h"

namespace {
const QString kNameKey = QStringLiteral("ICAUserAssignedDeviceNameKey");
const QString kLockedKey = QStringLiteral("deviceIsPasscodeLocked");
const QString kCountKey = QStringLiteral("ICANumberOfDownloadableObjectsKey");
const QString kVendorKey = QStringLiteral("idVendor");
const QString kProductKey = QStringLiteral("idProduct");
const QString kSerialKey = QStringLiteral("ICADeviceSerialNumberString");
const QString kDataKey = QStringLiteral("data");
} // namespace

CameraDevice::CameraDevice(QVariantMap info, std::shared_ptr<vtr::camera::CameraSession> session)
    : _info(std::move(info)), m_session(std::move(session))
{}

QVariantMap CameraDevice::info() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return _info;
}

QString CameraDevice::name() const
{
    return info().value(kNameKey).toString();
}

bool CameraDevice::isLocked() const
{
    return info().value(kLockedKey).toBool();
}

int CameraDevice::vendorID() const
{
    return info().value(kVendorKey).toInt();
}

int CameraDevice::productID() const
{
    return info().value(kProductKey).toInt();
}

QString CameraDevice::serialNumber() const
{
    return info().value(kSerialKey).toString();
}

int CameraDevice::numImages()
{
    if (_waitForFullInfo() == vtr::camera::kCameraOK) return int(fullInfo().value(kDataKey).toList().size());
    return info().value(kCountKey).toInt();
}

QVariantMap CameraDevice::fullInfo() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return _fullInfo;
}

int CameraDevice::_waitForFullInfo()
{
    // One reader at a time; the fields stay readable while it runs.
    std::lock_guard<std::mutex> fetching(m_fetchMutex);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (_gotFullInfo) return _gotFullInfoErr;
    }
    QVariantList objects;
    const int result = m_session ? m_session->listObjects(&objects) : vtr::camera::kCameraGone;
    if (result < vtr::camera::kCameraOK) {
        // Not kept: a busy or slow camera may answer the next time.
        VTR_LOG(1, QStringLiteral("Could not list the objects of the camera \"%1\": %2")
                       .arg(name(), vtr::camera::cameraResultText(result)));
        return result;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    _fullInfo.insert(kDataKey, objects);
    _info.insert(kCountKey, int(objects.size()));
    _gotFullInfoErr = vtr::camera::kCameraOK;
    _gotFullInfo = true;
    return _gotFullInfoErr;
}

std::optional<QList<CameraImagePtr>> CameraDevice::images()
{
    if (_waitForFullInfo() != vtr::camera::kCameraOK) return std::nullopt;
    QList<CameraImagePtr> result;
    const QVariantList objects = fullInfo().value(kDataKey).toList();
    result.reserve(objects.size());
    for (const QVariant &object : objects)
        result.append(std::make_shared<CameraImage>(object.toMap(), m_session));
    return result;
}
