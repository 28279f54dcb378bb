#include "devices/phone/MobileDevice.h"

#include "devices/command/HandheldDeviceProtocol.h"
#include "devices/mtp/MTPDevice.h"
#include "devices/mtp/MtpLibrary.h"
#include "devices/usb/VolumeDetection.h"
#include "fileinfo/VtrMacFileInfo.h"
#include "foundation/Log.h"
#include "platform/Descriptor.h"
#include "platform/Folders.h"
#include "platform/MainThread.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QThreadPool>
#include <QTimer>
#include <QUrl>

namespace {

const QString kStorageIDKey = QStringLiteral("storageID");
const QString kStorageTypeKey = QStringLiteral("type");
constexpr int kInternalStorage = 0;
constexpr int kRemovableStorage = 1;

std::mutex &staticsMutex()
{
    static std::mutex mutex;
    return mutex;
}

MobileDevice::VolumeNameLookup &volumeNameLookup()
{
    static MobileDevice::VolumeNameLookup lookup;
    return lookup;
}

QString &deviceImagesFolderOverride()
{
    static QString folder;
    return folder;
}

struct GenericImageCache
{
    bool loaded = false;
    QString folder;
    QImage image;
};

GenericImageCache &genericImageCache()
{
    static GenericImageCache cache;
    return cache;
}

QString volumeNameForPath(const QString &path)
{
    MobileDevice::VolumeNameLookup lookup;
    {
        std::lock_guard<std::mutex> lock(staticsMutex());
        lookup = volumeNameLookup();
    }
    if (lookup) return lookup(path);
    return VolumeDetection::sharedManager()->copyDaVolumeNameForPath(path);
}

// The picture's file name from its URL: one plain name, or null. The name
// becomes a file in the picture cache, so nothing that could leave it passes.
QString imageFileNameForURL(const QUrl &url)
{
    const QString name = url.fileName(QUrl::FullyDecoded);
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..") ||
        name.contains(QLatin1Char('/')) || name.contains(QChar(0)))
        return QString();
    return name;
}

QImage loadValidImage(const QString &path)
{
    if (!QFileInfo(path).isFile()) return QImage();
    QImage image(path);
    return image;
}

} // namespace

// ============================================================================
// Creation and destruction
// ============================================================================

MobileDevice::MobileDevice(quint16 vendorID, quint16 productID, const QVariantMap &deviceInfo,
                           MobileDeviceDelegate *delegate)
    : m_vendorID(vendorID), m_productID(productID), m_info(deviceInfo), m_delegate(delegate)
{}

std::shared_ptr<MobileDevice> MobileDevice::create(const UsbDeviceHandle &device, USBListener *usbListener,
                                                   quint16 vendorID, quint16 productID, const QString &usbProductString,
                                                   const QVariantMap &deviceInfo, MobileDeviceDelegate *delegate,
                                                   std::shared_ptr<MtpLibrary> library)
{
    std::shared_ptr<MobileDevice> phone = createUnopened(device, usbListener, vendorID, productID, usbProductString,
                                                         deviceInfo, delegate, std::move(library));
    if (!phone || !phone->openMTP(device)) return nullptr;
    return phone;
}

std::shared_ptr<MobileDevice> MobileDevice::createUnopened(const UsbDeviceHandle &device, USBListener *usbListener,
                                                           quint16 vendorID, quint16 productID,
                                                           const QString &usbProductString,
                                                           const QVariantMap &deviceInfo,
                                                           MobileDeviceDelegate *delegate,
                                                           std::shared_ptr<MtpLibrary> library)
{
    std::shared_ptr<MobileDevice> phone(new MobileDevice(vendorID, productID, deviceInfo, delegate),
                                        &MobileDevice::destroyOnMainThread);
    phone->m_productString = usbProductString;
    if (!phone->attach(device, usbListener, std::move(library))) return nullptr;
    return phone;
}

bool MobileDevice::openMTP(const UsbDeviceHandle &device)
{
    if (isAppleDevice() || !m_library || m_mtpDevice) return true;
    return setupMTPConnection(device) == 0;
}

bool MobileDevice::attach(const UsbDeviceHandle &device, USBListener *usbListener, std::shared_ptr<MtpLibrary> library)
{
    m_usbListener = usbListener;
    if (!usbListener || usbListener->listenForDeviceRemoval(device, this) != 0) {
        VTR_LOG(1, QStringLiteral("Cannot watch the removal of USB device %1").arg(device.syspath));
        return false;
    }
    m_serialNumber = device.serial;
    m_name = m_vendorID == kBlackBerryVendorID ? QStringLiteral("BlackBerry")
                                               : m_info.value(QStringLiteral("deviceName")).toString();
    if (!isAppleDevice()) m_library = library ? std::move(library) : mtpSharedLibrary();
    return true;
}

void MobileDevice::destroyOnMainThread(MobileDevice *device)
{
    if (!device) return;
    if (platform::isMainThread() || !QCoreApplication::instance())
        delete device;
    else
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [device] { delete device; }, Qt::QueuedConnection);
}

MobileDevice::~MobileDevice()
{
    if (m_usbListener) m_usbListener->stopListeningForDelegate(this);

    m_cancelImageLoading.store(true);
    std::unique_ptr<QThreadPool> queue;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        queue = std::move(m_imageLoadingQueue);
    }
    if (queue) {
        queue->clear();
        queue->waitForDone();
    }
    teardownMTPConnection();
}

void MobileDevice::teardownMTPConnection()
{
    HandheldDeviceProtocol *platformDevice = m_platformDevice.exchange(nullptr);
    if (!m_mtpDevice) return;
    // Asked before anything changes, and without the platform device's lock
    // (a worker may hold it for a whole copy): it may serve another phone by
    // now, and then it is left alone.
    const bool servesThisPhone = platformDevice && platformDevice->mtp() == m_mtpDevice;
    // First the MTP device lets go of the handle: a transfer still running on
    // a worker is cancelled at its next block, and detach() returns after the
    // last library call on the handle. The worker then leaves the platform
    // device soon, and whatever it asks next finds no live handle.
    LIBMTP_mtpdevice_t *handle = m_mtpDevice->detach();
    // Only now the platform device forgets the phone: it waits for the
    // operation in progress, which is no longer a whole copy. Its reference
    // to the MTP device stays, so a worker inside it keeps a valid object.
    if (servesThisPhone) platformDevice->disconnect();
    if (handle) m_mtpDevice->library().releaseDevice(handle);
    m_mtpDevice.reset();
}

// ============================================================================
// MTP
// ============================================================================

int MobileDevice::setupMTPConnection(const UsbDeviceHandle &device)
{
    MtpLibrary &library = *m_library;
    LIBMTP_raw_device_t *rawDevices = nullptr;
    int count = 0;
    const LIBMTP_error_number_t error = library.detectRawDevices(&rawDevices, &count);
    struct RawListGuard
    {
        MtpLibrary &library;
        LIBMTP_raw_device_t *list;
        ~RawListGuard()
        {
            if (list) library.freeRawDevices(list);
        }
    } guard{library, rawDevices};
    if (error != LIBMTP_ERROR_NONE || !rawDevices || count <= 0) {
        VTR_LOG(0, QStringLiteral("No MTP device found for %1:%2 (%3)").arg(m_vendorID).arg(m_productID).arg(error));
        return 0;
    }

    // Two phones of one model carry the same IDs: the bus and device number
    // tell which raw device is the USB device that arrived.
    const bool knowsPlace = device.busNumber > 0 && device.deviceNumber > 0;
    LIBMTP_mtpdevice_t *opened = nullptr;
    for (int i = 0; i < count && !opened; ++i) {
        LIBMTP_raw_device_t &raw = rawDevices[i];
        if (raw.device_entry.vendor_id != m_vendorID || raw.device_entry.product_id != m_productID) continue;
        if (knowsPlace && (raw.bus_location != uint32_t(device.busNumber) || int(raw.devnum) != device.deviceNumber))
            continue;
        opened = library.openRawDeviceUncached(&raw);
        if (!opened)
            VTR_LOG(
                1,
                QStringLiteral("Cannot open the MTP device at bus %1 device %2").arg(raw.bus_location).arg(raw.devnum));
    }
    if (!opened) return 0;
    // Pulled while it opened: the handle is ours alone still, and goes.
    const auto removedMeanwhile = [&] {
        if (!m_removed.load()) return false;
        VTR_LOG(2, QStringLiteral("The MTP device %1:%2 went away while it opened").arg(m_vendorID).arg(m_productID));
        library.releaseDevice(opened);
        return true;
    };
    if (removedMeanwhile()) return 0;

    if (!opened->storage) library.getStorage(opened, LIBMTP_STORAGE_SORTBY_NOTSORTED);
    if (removedMeanwhile()) return 0;
    if (!opened->storage) {
        VTR_LOG(1, QStringLiteral("The MTP device %1:%2 has no storage").arg(m_vendorID).arg(m_productID));
        library.releaseDevice(opened);
        return -1;
    }

    auto mtpDevice = std::make_shared<MTPDevice>(m_vendorID, m_productID, m_library);
    mtpDevice->setMTPDevice(opened);
    uint32_t chosen = 0;
    for (const QVariant &value : mtpDevice->storages()) {
        const QVariantMap storage = value.toMap();
        const uint32_t id = storage.value(kStorageIDKey).toUInt();
        if (id == 0) continue;
        if (chosen == 0) chosen = id;
        if (storage.value(kStorageTypeKey).toInt() == kRemovableStorage) {
            chosen = id;
            break;
        }
    }
    mtpDevice->setStorageID(chosen);
    m_mtpDevice = std::move(mtpDevice);
    postChangeNotice(&MobileDeviceInterface::hasMTPConnectionChanged);
    return 0;
}

std::optional<QVariantMap> MobileDevice::mtpStorageOfType(int type) const
{
    if (!m_mtpDevice) return std::nullopt;
    for (const QVariant &value : m_mtpDevice->storages()) {
        const QVariantMap storage = value.toMap();
        if (storage.value(kStorageTypeKey).toInt() == type) return storage;
    }
    return std::nullopt;
}

bool MobileDevice::mtpHasInternalStorage() const
{
    return mtpStorageOfType(kInternalStorage).has_value();
}

bool MobileDevice::mtpHasExternalStorage() const
{
    return mtpStorageOfType(kRemovableStorage).has_value();
}

bool MobileDevice::mtpUseStorageOfType(int type)
{
    const std::optional<QVariantMap> storage = mtpStorageOfType(type);
    if (!storage) return false;
    m_mtpDevice->setStorageID(storage->value(kStorageIDKey).toUInt());
    // Its listings and drives were of the other storage.
    if (HandheldDeviceProtocol *platformDevice = m_platformDevice.load())
        platformDevice->setMTPDeviceObject(m_mtpDevice);
    return true;
}

bool MobileDevice::mtpUseInternalStorage()
{
    return mtpUseStorageOfType(kInternalStorage);
}

bool MobileDevice::mtpUseExternalStorage()
{
    return mtpUseStorageOfType(kRemovableStorage);
}

std::optional<QVariantList> MobileDevice::mtpPlaylists()
{
    if (!m_mtpDevice) return std::nullopt;
    return m_mtpDevice->devicePlaylists();
}

void MobileDevice::setPlatformDevice(HandheldDeviceProtocol *platformDevice)
{
    HandheldDeviceProtocol *current = m_platformDevice.load();
    if (platformDevice == current || !hasMTPConnection()) return;
    if (current) current->disconnect();
    m_platformDevice.store(platformDevice);
    if (platformDevice) {
        platformDevice->connect();
        platformDevice->setMTPDeviceObject(m_mtpDevice);
        platformDevice->setDeviceConfiguration(m_info);
    }
    postChangeNotice(&MobileDeviceInterface::isConnectedChanged);
}

// ============================================================================
// Identity
// ============================================================================

QString MobileDevice::name() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_name;
}

void MobileDevice::setName(const QString &name)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_name = name;
}

int MobileDevice::deviceType() const
{
    switch (m_vendorID) {
    case kAppleVendorID:
        return kDeviceTypeApple;
    case kBlackBerryVendorID:
        return kDeviceTypeBlackBerry;
    default:
        return kDeviceTypeAndroid;
    }
}

bool MobileDevice::matchesVendorID(quint16 vendorID, const quint16 *productID, const QString &productString) const
{
    if (vendorID != m_vendorID) return false;
    if (productID && *productID != m_productID) return false;
    if (productString.isNull()) return true;
    // QString treats null and empty as equal; a phone without a product
    // string matches no given one.
    return !m_productString.isNull() && productString == m_productString;
}

// ============================================================================
// Reachability
// ============================================================================

bool MobileDevice::isConnected() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return !m_mountedPaths.isEmpty() || m_mtpDevice != nullptr;
}

void MobileDevice::addMountedPath(const QString &path)
{
    if (path.isNull()) return;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_hasMountedPathSet = true;
        if (!m_mountedPaths.contains(path)) m_mountedPaths.append(path);
    }
    postChangeNotice(&MobileDeviceInterface::isConnectedChanged);
}

void MobileDevice::removeMountedPath(const QString &path)
{
    if (path.isNull()) return;
    bool nowEmpty = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_hasMountedPathSet) return;
        m_mountedPaths.removeOne(path);
        nowEmpty = m_mountedPaths.isEmpty();
    }
    if (nowEmpty) postChangeNotice(&MobileDeviceInterface::isConnectedChanged);
}

bool MobileDevice::hasMountedPath(const QString &path) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_mountedPaths.contains(path);
}

QStringList MobileDevice::mountedPaths() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_mountedPaths;
}

// ============================================================================
// Folders
// ============================================================================

void MobileDevice::setVolumeNameLookup(VolumeNameLookup lookup)
{
    std::lock_guard<std::mutex> lock(staticsMutex());
    volumeNameLookup() = std::move(lookup);
}

VtrFileInfoPtr MobileDevice::folderIn(const VtrFileInfoPtr &parent, const QString &name)
{
    if (!parent) return nullptr;
    // A file's find() and createFolder() work beside it: a file standing
    // where the parent folder belongs must not scatter folders into its own
    // parent.
    if (parent->exists() && !parent->isFolder()) {
        VTR_LOG(1, QStringLiteral("Cannot make the folder \"%1\": %2 is no folder").arg(name, parent->path()));
        if (dynamic_cast<VtrMacFileInfo *>(parent.get()))
            return VtrMacFileInfo::fileInfoWithPath(parent->path() + QLatin1Char('/') + name);
        return nullptr;
    }
    if (VtrFileInfoPtr folder = parent->createFolder(name)) return folder;
    VTR_LOG(1, QStringLiteral("Cannot make the folder \"%1\" in %2").arg(name, parent->path()));
    return parent->find(name);
}

VtrFileInfoList MobileDevice::storageFileInfos()
{
    VtrFileInfoList storages;
    for (const QString &path : mountedPaths())
        storages.append(VtrMacFileInfo::fileInfoWithPath(path));
    if (HandheldDeviceProtocol *platformDevice = m_platformDevice.load())
        if (VtrFileInfoPtr card = platformDevice->cardInfo()) storages.append(card);
    return storages;
}

VtrFileInfoPtr MobileDevice::preferredStorageInfo()
{
    VtrFileInfoPtr first;
    for (const QString &path : mountedPaths()) {
        VtrFileInfoPtr storage = VtrMacFileInfo::fileInfoWithPath(path);
        if (volumeNameForPath(path).contains(QLatin1String("Motorola"))) return storage;
        if (!first) first = storage;
    }
    if (first) return first;
    if (HandheldDeviceProtocol *platformDevice = m_platformDevice.load()) return platformDevice->cardInfo();
    return nullptr;
}

VtrFileInfoPtr MobileDevice::preferredMigrationExportFolder()
{
    return folderIn(preferredStorageInfo(), QStringLiteral(".solvennato"));
}

VtrFileInfoPtr MobileDevice::preferredMediaFolder()
{
    return folderIn(preferredMigrationExportFolder(), QStringLiteral("Vantrel"));
}

VtrFileInfoPtr MobileDevice::preferredMusicFolder()
{
    return folderIn(preferredMediaFolder(), QStringLiteral("Music"));
}

VtrFileInfoPtr MobileDevice::preferredPlaylistsFolder()
{
    return folderIn(preferredMediaFolder(), QStringLiteral("Playlists"));
}

VtrFileInfoPtr MobileDevice::preferredPhotosFolder()
{
    return folderIn(preferredMediaFolder(), QStringLiteral("Photos"));
}

VtrFileInfoPtr MobileDevice::preferredVideosFolder()
{
    return folderIn(preferredMediaFolder(), QStringLiteral("Videos"));
}

VtrFileInfoList MobileDevice::mediaFolders()
{
    VtrFileInfoList folders;
    for (const VtrFileInfoPtr &storage : storageFileInfos())
        if (VtrFileInfoPtr folder = folderIn(storage, QStringLiteral("Vantrel"))) folders.append(folder);
    return folders;
}

VtrFileInfoList MobileDevice::bookmarkFolders()
{
    VtrFileInfoList folders;
    for (const VtrFileInfoPtr &media : mediaFolders())
        if (VtrFileInfoPtr folder = folderIn(media, QStringLiteral("Bookmark"))) folders.append(folder);
    return folders;
}

// ============================================================================
// Camera and removal
// ============================================================================

std::shared_ptr<CameraDevice> MobileDevice::camera() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_camera;
}

void MobileDevice::setCamera(std::shared_ptr<CameraDevice> camera)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_camera = std::move(camera);
}

void MobileDevice::usbDeviceRemoved(const UsbDeviceHandle &)
{
    m_removed.store(true);
    // The delegate may drop the last reference to this phone.
    const std::shared_ptr<MobileDevice> keepAlive = weak_from_this().lock();
    if (MobileDeviceDelegate *delegate = m_delegate.load()) delegate->deviceWasDisconnected(this);
}

// ============================================================================
// Picture
// ============================================================================

QString MobileDevice::imageCacheFolder()
{
    return platform::dataFolder() + QStringLiteral("/Images");
}

QString MobileDevice::deviceImagesFolder()
{
    std::lock_guard<std::mutex> lock(staticsMutex());
    const QString folder = deviceImagesFolderOverride();
    return folder.isEmpty() ? QStringLiteral(":/DeviceImages") : folder;
}

void MobileDevice::setDeviceImagesFolderOverride(const QString &folder)
{
    std::lock_guard<std::mutex> lock(staticsMutex());
    deviceImagesFolderOverride() = folder;
}

QImage MobileDevice::genericImage()
{
    const QString folder = deviceImagesFolder();
    std::lock_guard<std::mutex> lock(staticsMutex());
    GenericImageCache &cache = genericImageCache();
    if (!cache.loaded || cache.folder != folder) {
        cache.image = loadValidImage(folder + QStringLiteral("/Generic_device_image.png"));
        cache.folder = folder;
        cache.loaded = true;
    }
    return cache.image;
}

void MobileDevice::setImage(const QImage &image)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_image = image;
    }
    // Also reached from inside image(): a view's slot must not re-enter it.
    postChangeNoticeLater(&MobileDeviceInterface::imageChanged);
}

QImage MobileDevice::image()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_image.isNull()) return m_image;
    }
    const QString urlText = m_info.value(QStringLiteral("largeImageURL")).toString();
    if (urlText.isEmpty() && !m_info.contains(QStringLiteral("largeImageURL"))) {
        const QImage generic = genericImage();
        if (!generic.isNull()) setImage(generic);
        return generic;
    }
    const QUrl url(urlText);
    const QString fileName = imageFileNameForURL(url);
    if (fileName.isNull()) return QImage();

    // The cache is the data folder's, read as it is written: by its descriptor.
    QImage picture;
    if (const std::optional<QByteArray> cached =
            platform::readDataFile({QStringLiteral("Images")}, fileName, kMaxImageDownloadBytes))
        picture = QImage::fromData(*cached);
    if (picture.isNull())
        picture = loadValidImage(deviceImagesFolder() + QLatin1Char('/') + QFileInfo(fileName).completeBaseName() +
                                 QStringLiteral(".png"));
    if (!picture.isNull()) {
        setImage(picture);
        return picture;
    }
    loadImageURL(url, fileName);
    return QImage();
}

void MobileDevice::loadImageURL(const QUrl &url, const QString &fileName)
{
    QThreadPool *queue = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_cancelImageLoading.load()) return;
        for (const QString &requested : std::as_const(m_imagesLoaded))
            if (requested.compare(fileName, Qt::CaseInsensitive) == 0) return;
        m_imagesLoaded.append(fileName);
        if (!m_imageLoadingQueue) {
            m_imageLoadingQueue = std::make_unique<QThreadPool>();
            m_imageLoadingQueue->setMaxThreadCount(kMaxImageDownloads);
        }
        queue = m_imageLoadingQueue.get();
    }
    // The destructor waits for the queue, so the operation may use `this`.
    queue->start([this, url, fileName] { downloadImage(url, fileName); });
}

void MobileDevice::downloadImage(const QUrl &url, const QString &fileName)
{
    QByteArray bytes;
    bool fetched = false;
    const QString scheme = url.scheme().toLower();
    if (scheme == QLatin1String("http") || scheme == QLatin1String("https")) {
        QNetworkAccessManager network;
        QNetworkRequest request(url);
        request.setTransferTimeout(kImageDownloadTimeoutMs);
        std::unique_ptr<QNetworkReply> reply(network.get(request));
        QEventLoop loop;
        QTimer cancelPoll;
        cancelPoll.setInterval(50);
        QObject::connect(&cancelPoll, &QTimer::timeout, &loop, [&] {
            if (m_cancelImageLoading.load()) reply->abort();
        });
        QObject::connect(reply.get(), &QNetworkReply::readyRead, &loop, [&] {
            bytes += reply->readAll();
            if (bytes.size() > kMaxImageDownloadBytes) reply->abort();
        });
        QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
        cancelPoll.start();
        if (!reply->isFinished()) loop.exec();
        bytes += reply->readAll();
        fetched = reply->error() == QNetworkReply::NoError && bytes.size() <= kMaxImageDownloadBytes;
        if (!fetched)
            VTR_LOG(1,
                    QStringLiteral("The picture %1 could not be loaded: %2").arg(url.toString(), reply->errorString()));
    }
    if (m_cancelImageLoading.load()) return;

    QImage picture;
    if (fetched) picture = QImage::fromData(bytes);
    if (!picture.isNull()) {
        // Only a picture that loads is kept, so a bad answer is asked again
        // next time instead of standing in the cache.
        // By descriptor, never through a link at its name or in the cache
        // folder's place.
        QString why;
        const platform::Descriptor folder(platform::openDataFolder({QStringLiteral("Images")}, &why));
        if (!folder.isOpen() || !platform::replaceFileIn(folder.get(), imageCacheFolder(), fileName, bytes, &why))
            VTR_LOG(1, QStringLiteral("Cannot keep the picture %1: %2").arg(fileName, why));
    } else {
        picture = genericImage();
    }
    // The picture and its notice reach views on the main thread.
    QMetaObject::invokeMethod(
        this, [this, picture] { setImage(picture); }, Qt::QueuedConnection);
}
