#include "devices/phone/MobileDeviceProxy.h"

#include "devices/phone/MobileDevice.h"

MobileDeviceProxy::MobileDeviceProxy(QObject *parent) : MobileDeviceInterface(parent) {}

MobileDeviceProxy::~MobileDeviceProxy()
{
    std::shared_ptr<MobileDevice> old;
    std::lock_guard<std::mutex> lock(m_mutex);
    for (QMetaObject::Connection &connection : m_connections)
        QObject::disconnect(connection);
    old = std::move(m_object);
}

std::shared_ptr<MobileDevice> MobileDeviceProxy::object() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_object;
}

void MobileDeviceProxy::setObject(std::shared_ptr<MobileDevice> object)
{
    std::shared_ptr<MobileDevice> old;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (object == m_object) return;
        for (QMetaObject::Connection &connection : m_connections)
            QObject::disconnect(connection);
        if (object) {
            // The phone emits on the main thread, where the proxy lives too.
            m_connections[0] = connect(object.get(), &MobileDeviceInterface::isConnectedChanged, this,
                                       &MobileDeviceInterface::isConnectedChanged);
            m_connections[1] = connect(object.get(), &MobileDeviceInterface::hasMTPConnectionChanged, this,
                                       &MobileDeviceInterface::hasMTPConnectionChanged);
            m_connections[2] =
                connect(object.get(), &MobileDeviceInterface::imageChanged, this, &MobileDeviceInterface::imageChanged);
        }
        // The old phone is released outside the lock: its destruction may
        // take a while (it waits for its MTP device).
        old = std::exchange(m_object, std::move(object));
    }
    postChangeNotice(static_cast<ChangeSignal>(&MobileDeviceProxy::objectChanged));
    postChangeNotice(&MobileDeviceInterface::isConnectedChanged);
    postChangeNotice(&MobileDeviceInterface::hasMTPConnectionChanged);
    postChangeNotice(&MobileDeviceInterface::imageChanged);
}

// Every forwarded call: the phone's answer, or the "nil" answer without one.
#define VTR_FORWARD(call, nilAnswer)                                                                                   \
    do {                                                                                                               \
        if (const std::shared_ptr<MobileDevice> target = object()) return target->call;                                \
        return nilAnswer;                                                                                              \
    } while (false)
#define VTR_FORWARD_VOID(call)                                                                                         \
    do {                                                                                                               \
        if (const std::shared_ptr<MobileDevice> target = object()) target->call;                                       \
    } while (false)

quint16 MobileDeviceProxy::vendorID() const
{
    VTR_FORWARD(vendorID(), 0);
}

quint16 MobileDeviceProxy::productID() const
{
    VTR_FORWARD(productID(), 0);
}

QString MobileDeviceProxy::productString() const
{
    VTR_FORWARD(productString(), QString());
}

QString MobileDeviceProxy::serialNumber() const
{
    VTR_FORWARD(serialNumber(), QString());
}

QString MobileDeviceProxy::name() const
{
    VTR_FORWARD(name(), QString());
}

void MobileDeviceProxy::setName(const QString &name)
{
    VTR_FORWARD_VOID(setName(name));
}

QVariantMap MobileDeviceProxy::info() const
{
    VTR_FORWARD(info(), QVariantMap());
}

MobileDeviceDelegate *MobileDeviceProxy::delegate() const
{
    VTR_FORWARD(delegate(), nullptr);
}

void MobileDeviceProxy::setDelegate(MobileDeviceDelegate *delegate)
{
    VTR_FORWARD_VOID(setDelegate(delegate));
}

int MobileDeviceProxy::deviceType() const
{
    VTR_FORWARD(deviceType(), 0);
}

bool MobileDeviceProxy::isAndroidDevice() const
{
    VTR_FORWARD(isAndroidDevice(), false);
}

bool MobileDeviceProxy::isAppleDevice() const
{
    VTR_FORWARD(isAppleDevice(), false);
}

bool MobileDeviceProxy::isBlackBerry() const
{
    VTR_FORWARD(isBlackBerry(), false);
}

bool MobileDeviceProxy::isMotorolaDevice() const
{
    VTR_FORWARD(isMotorolaDevice(), false);
}

bool MobileDeviceProxy::isWindowsPhone7Device() const
{
    VTR_FORWARD(isWindowsPhone7Device(), false);
}

bool MobileDeviceProxy::matchesVendorID(quint16 vendorID, const quint16 *productID, const QString &productString) const
{
    VTR_FORWARD(matchesVendorID(vendorID, productID, productString), false);
}

bool MobileDeviceProxy::isConnected() const
{
    VTR_FORWARD(isConnected(), false);
}

bool MobileDeviceProxy::hasMTPConnection() const
{
    VTR_FORWARD(hasMTPConnection(), false);
}

void MobileDeviceProxy::addMountedPath(const QString &path)
{
    VTR_FORWARD_VOID(addMountedPath(path));
}

void MobileDeviceProxy::removeMountedPath(const QString &path)
{
    VTR_FORWARD_VOID(removeMountedPath(path));
}

bool MobileDeviceProxy::hasMountedPath(const QString &path) const
{
    VTR_FORWARD(hasMountedPath(path), false);
}

bool MobileDeviceProxy::mtpHasInternalStorage() const
{
    VTR_FORWARD(mtpHasInternalStorage(), false);
}

bool MobileDeviceProxy::mtpHasExternalStorage() const
{
    VTR_FORWARD(mtpHasExternalStorage(), false);
}

bool MobileDeviceProxy::mtpUseInternalStorage()
{
    VTR_FORWARD(mtpUseInternalStorage(), false);
}

bool MobileDeviceProxy::mtpUseExternalStorage()
{
    VTR_FORWARD(mtpUseExternalStorage(), false);
}

std::optional<QVariantList> MobileDeviceProxy::mtpPlaylists()
{
    VTR_FORWARD(mtpPlaylists(), std::nullopt);
}

HandheldDeviceProtocol *MobileDeviceProxy::platformDevice() const
{
    VTR_FORWARD(platformDevice(), nullptr);
}

void MobileDeviceProxy::setPlatformDevice(HandheldDeviceProtocol *platformDevice)
{
    VTR_FORWARD_VOID(setPlatformDevice(platformDevice));
}

VtrFileInfoList MobileDeviceProxy::storageFileInfos()
{
    VTR_FORWARD(storageFileInfos(), VtrFileInfoList());
}

VtrFileInfoPtr MobileDeviceProxy::preferredStorageInfo()
{
    VTR_FORWARD(preferredStorageInfo(), nullptr);
}

VtrFileInfoPtr MobileDeviceProxy::preferredMigrationExportFolder()
{
    VTR_FORWARD(preferredMigrationExportFolder(), nullptr);
}

VtrFileInfoPtr MobileDeviceProxy::preferredMediaFolder()
{
    VTR_FORWARD(preferredMediaFolder(), nullptr);
}

VtrFileInfoPtr MobileDeviceProxy::preferredMusicFolder()
{
    VTR_FORWARD(preferredMusicFolder(), nullptr);
}

VtrFileInfoPtr MobileDeviceProxy::preferredPlaylistsFolder()
{
    VTR_FORWARD(preferredPlaylistsFolder(), nullptr);
}

VtrFileInfoPtr MobileDeviceProxy::preferredPhotosFolder()
{
    VTR_FORWARD(preferredPhotosFolder(), nullptr);
}

VtrFileInfoPtr MobileDeviceProxy::preferredVideosFolder()
{
    VTR_FORWARD(preferredVideosFolder(), nullptr);
}

VtrFileInfoList MobileDeviceProxy::mediaFolders()
{
    VTR_FORWARD(mediaFolders(), VtrFileInfoList());
}

VtrFileInfoList MobileDeviceProxy::bookmarkFolders()
{
    VTR_FORWARD(bookmarkFolders(), VtrFileInfoList());
}

QImage MobileDeviceProxy::image()
{
    VTR_FORWARD(image(), QImage());
}

std::shared_ptr<CameraDevice> MobileDeviceProxy::camera() const
{
    VTR_FORWARD(camera(), nullptr);
}

void MobileDeviceProxy::setCamera(std::shared_ptr<CameraDevice> camera)
{
    VTR_FORWARD_VOID(setCamera(std::move(camera)));
}

#undef VTR_FORWARD
#undef VTR_FORWARD_VOID
