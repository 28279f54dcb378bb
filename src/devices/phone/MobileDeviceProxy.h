#pragma once

#include "devices/phone/MobileDeviceInterface.h"

#include <QMetaObject>

#include <memory>
#include <mutex>

class MobileDevice;

// Stands in front of the current old phone, so that views, migrators and the
// Android installer keep one object while the phone behind it changes. Every
// operation goes to the phone it points at; without one it answers as the
// MobileDeviceInterface comment says for "nil" (false, 0, null, empty)
// instead of failing, because views and migrators still hold the proxy after
// the phone went away.
//
// The proxy re-emits the phone's change notices as its own, and announces
// every notice once when it is pointed at another phone (or at none).
//
// Threads: the target may be read and set from any thread. Each forwarded
// call holds a reference to the phone for its duration, so a phone replaced
// meanwhile is not destroyed under the call.
class MobileDeviceProxy final : public MobileDeviceInterface
{
    Q_OBJECT
public:
    explicit MobileDeviceProxy(QObject *parent = nullptr);
    ~MobileDeviceProxy() override;

    std::shared_ptr<MobileDevice> object() const;
    void setObject(std::shared_ptr<MobileDevice> object);

    quint16 vendorID() const override;
    quint16 productID() const override;
    QString productString() const override;
    QString serialNumber() const override;
    QString name() const override;
    void setName(const QString &name) override;
    QVariantMap info() const override;
    MobileDeviceDelegate *delegate() const override;
    void setDelegate(MobileDeviceDelegate *delegate) override;
    int deviceType() const override;
    bool isAndroidDevice() const override;
    bool isAppleDevice() const override;
    bool isBlackBerry() const override;
    bool isMotorolaDevice() const override;
    bool isWindowsPhone7Device() const override;
    bool matchesVendorID(quint16 vendorID, const quint16 *productID, const QString &productString) const override;

    bool isConnected() const override;
    bool hasMTPConnection() const override;
    void addMountedPath(const QString &path) override;
    void removeMountedPath(const QString &path) override;
    bool hasMountedPath(const QString &path) const override;

    bool mtpHasInternalStorage() const override;
    bool mtpHasExternalStorage() const override;
    bool mtpUseInternalStorage() override;
    bool mtpUseExternalStorage() override;
    std::optional<QVariantList> mtpPlaylists() override;

    HandheldDeviceProtocol *platformDevice() const override;
    void setPlatformDevice(HandheldDeviceProtocol *platformDevice) override;

    VtrFileInfoList storageFileInfos() override;
    VtrFileInfoPtr preferredStorageInfo() override;
    VtrFileInfoPtr preferredMigrationExportFolder() override;
    VtrFileInfoPtr preferredMediaFolder() override;
    VtrFileInfoPtr preferredMusicFolder() override;
    VtrFileInfoPtr preferredPlaylistsFolder() override;
    VtrFileInfoPtr preferredPhotosFolder() override;
    VtrFileInfoPtr preferredVideosFolder() override;
    VtrFileInfoList mediaFolders() override;
    VtrFileInfoList bookmarkFolders() override;

    QImage image() override;
    std::shared_ptr<CameraDevice> camera() const override;
    void setCamera(std::shared_ptr<CameraDevice> camera) override;

Q_SIGNALS:
    // The proxy points at another phone (or at none).
    void objectChanged();

private:
    mutable std::mutex m_mutex;
    std::shared_ptr<MobileDevice> m_object;
    QMetaObject::Connection m_connections[3];
};
