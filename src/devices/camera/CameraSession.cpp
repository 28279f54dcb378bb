#include "devices/camera/CameraSession.h"

#include "devices/usb/UsbLookups.h"
#include "fileinfo/VtrBaseFileInfo.h"
#include "foundation/Log.h"
#include "platform/Descriptor.h"
#include "platform/Folders.h"

#include <gphoto2/gphoto2.h>

#include <QFile>
#include <QRegularExpression>

#include <algorithm>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vtr::camera {

namespace {

// Folders below this depth are not walked: a camera's tree is shallow, and a
// driver that presents a loop must not keep the walk going for ever.
constexpr int kMaxFolderDepth = 32;

std::mutex g_libraryMutex;
std::atomic<quint64> g_nextSessionHandle{1};

qint64 nowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The drivers' descriptions, loaded once (loading opens every driver module).
// Call with the library mutex held.
CameraAbilitiesList *abilitiesList()
{
    static CameraAbilitiesList *list = [] {
        CameraAbilitiesList *loaded = nullptr;
        if (gp_abilities_list_new(&loaded) < GP_OK) return static_cast<CameraAbilitiesList *>(nullptr);
        if (gp_abilities_list_load(loaded, nullptr) < GP_OK) {
            gp_abilities_list_free(loaded);
            return static_cast<CameraAbilitiesList *>(nullptr);
        }
        return loaded;
    }();
    return list;
}

// Names of one listing, in the order every listing of this system uses.
QStringList listNames(CameraList *list)
{
    QStringList names;
    const int count = gp_list_count(list);
    for (int i = 0; i < count; ++i) {
        const char *name = nullptr;
        if (gp_list_get_name(list, i, &name) >= GP_OK && name) names.append(QString::fromUtf8(name));
    }
    VtrBaseFileInfo::sortFileNames(names);
    return names;
}

QString childFolder(const QString &folder, const QString &name)
{
    return folder.endsWith(QLatin1Char('/')) ? folder + name : folder + QLatin1Char('/') + name;
}

// A name the library can address as one level of a camera path.
bool isUsableName(const QString &name)
{
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") &&
           !name.contains(QLatin1Char('/')) && !name.contains(QChar(0));
}

// The camera library's folder driver serves a folder of this computer as a
// camera (the simulated iPhone's camera roll) and leaves out every entry
// whose name begins with a dot, where a phone's own driver lists what the
// phone holds. The hidden plain files of the driver's `folder` are read from
// the folder itself, by descriptor and never through a link, with their
// sizes, so that the roll's hidden files are told as a phone's are; none of
// them is ever downloaded. Empty for any other driver.
QList<std::pair<QString, qint64>> filesTheFolderDriverHides(const CameraPort &port, const QString &folder)
{
    static const QLatin1String disk("disk:");
    QList<std::pair<QString, qint64>> hidden;
    if (port.model != QLatin1String("Directory Browse") || !port.port.startsWith(disk)) return hidden;
    platform::Descriptor dir(
        ::open(QFile::encodeName(port.port.mid(disk.size())).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    for (const QString &step : folder.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (!dir.isOpen()) break;
        dir = platform::Descriptor(::openat(dir.get(), QFile::encodeName(step).constData(),
                                            O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    }
    if (!dir.isOpen()) return hidden;
    platform::forEachEntryIn(dir.get(), [&](const char *name) {
        struct stat st;
        if (name[0] == '.' && ::fstatat(dir.get(), name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode))
            hidden.append({QFile::decodeName(name), qint64(st.st_size)});
    });
    return hidden;
}

GPContextFeedback cancelCallback(GPContext *, void *data)
{
    return static_cast<CameraSession *>(data)->shouldCancel() ? GP_CONTEXT_FEEDBACK_CANCEL : GP_CONTEXT_FEEDBACK_OK;
}

unsigned int progressStartCallback(GPContext *, float, const char *, void *data)
{
    static_cast<CameraSession *>(data)->noteProgress();
    return 1;
}

void progressUpdateCallback(GPContext *, unsigned int, float, void *data)
{
    static_cast<CameraSession *>(data)->noteProgress();
}

void progressStopCallback(GPContext *, unsigned int, void *data)
{
    static_cast<CameraSession *>(data)->noteProgress();
}

void errorCallback(GPContext *, const char *text, void *)
{
    if (text) VTR_LOG(1, QStringLiteral("Camera: %1").arg(QString::fromUtf8(text)));
}

class UsbCameraDetector final : public CameraDetector
{
public:
    std::optional<std::vector<CameraPort>> detectCameras() override
    {
        CameraList *list = nullptr;
        if (gp_list_new(&list) < GP_OK) return std::nullopt;
        int result = GP_OK;
        {
            std::lock_guard<std::mutex> lock(g_libraryMutex);
            GPContext *context = gp_context_new();
            result = gp_camera_autodetect(list, context);
            gp_context_unref(context);
        }
        if (result < GP_OK) {
            VTR_LOG(1, QStringLiteral("Camera detection failed: %1").arg(cameraResultText(result)));
            gp_list_free(list);
            return std::nullopt;
        }

        const std::vector<USBScanResult> usbDevices = usbScanDevices();
        static const QRegularExpression usbPort(QStringLiteral("^usb:(\\d+),(\\d+)$"));
        std::vector<CameraPort> ports;
        const int count = gp_list_count(list);
        for (int i = 0; i < count; ++i) {
            const char *model = nullptr;
            const char *path = nullptr;
            if (gp_list_get_name(list, i, &model) < GP_OK || gp_list_get_value(list, i, &path) < GP_OK) continue;
            if (!model || !path) continue;
            CameraPort port;
            port.model = QString::fromUtf8(model);
            port.port = QString::fromUtf8(path);
            // Phones reach us over USB only; disk and network "cameras" are not theirs.
            const QRegularExpressionMatch match = usbPort.match(port.port);
            if (!match.hasMatch()) continue;
            const int bus = match.captured(1).toInt();
            const int device = match.captured(2).toInt();
            for (const USBScanResult &usb : usbDevices) {
                const UsbDeviceHandle &handle = usb.serviceObject();
                if (handle.busNumber != bus || handle.deviceNumber != device) continue;
                port.vendorID = usb.vendorID();
                port.productID = usb.productID();
                port.productName = handle.product;
                port.serial = handle.serial;
                break;
            }
            ports.push_back(port);
        }
        gp_list_free(list);
        return ports;
    }
};

} // namespace

std::unique_ptr<CameraDetector> makeUsbCameraDetector()
{
    return std::make_unique<UsbCameraDetector>();
}

QString cameraResultText(int result)
{
    const char *text = gp_result_as_string(result);
    return text ? QString::fromUtf8(text) : QString::number(result);
}

bool cameraIsPasscodeLocked(bool opened, int storageResult, int storageCount)
{
    return opened && storageResult >= GP_OK && storageCount == 0;
}

// ---- session ----------------------------------------------------------------------------------

CameraSession::CameraSession(CameraPort port, std::chrono::milliseconds timeout)
    : m_port(std::move(port)), m_timeout(timeout), m_handle(g_nextSessionHandle.fetch_add(1))
{
    m_context = gp_context_new();
    if (m_context) {
        gp_context_set_cancel_func(m_context, cancelCallback, this);
        gp_context_set_progress_funcs(m_context, progressStartCallback, progressUpdateCallback, progressStopCallback,
                                      this);
        gp_context_set_error_func(m_context, errorCallback, nullptr);
    }
}

CameraSession::~CameraSession()
{
    {
        std::lock_guard<std::timed_mutex> lock(m_mutex);
        releaseLocked();
    }
    if (m_context) gp_context_unref(m_context);
}

void CameraSession::releaseLocked()
{
    if (!m_camera) return;
    std::lock_guard<std::mutex> library(g_libraryMutex);
    noteProgress();
    if (m_opened) gp_camera_exit(m_camera, m_context);
    gp_camera_unref(m_camera);
    m_camera = nullptr;
    m_opened = false;
}

int CameraSession::open()
{
    std::unique_lock<std::timed_mutex> lock(m_mutex, std::defer_lock);
    if (!lock.try_lock_for(m_timeout)) return kCameraTimedOut;
    if (m_detached) return kCameraGone;
    if (m_opened) return kCameraOK;
    if (!m_context) return GP_ERROR_NO_MEMORY;

    std::lock_guard<std::mutex> library(g_libraryMutex);
    CameraAbilitiesList *abilities = abilitiesList();
    if (!abilities) return GP_ERROR_LIBRARY;
    const QByteArray model = m_port.model.toUtf8();
    const int modelIndex = gp_abilities_list_lookup_model(abilities, model.constData());
    if (modelIndex < GP_OK) return modelIndex;
    CameraAbilities cameraAbilities;
    int result = gp_abilities_list_get_abilities(abilities, modelIndex, &cameraAbilities);
    if (result < GP_OK) return result;

    GPPortInfoList *ports = nullptr;
    result = gp_port_info_list_new(&ports);
    if (result < GP_OK) return result;
    result = gp_port_info_list_load(ports);
    int portIndex = result;
    const QByteArray path = m_port.port.toUtf8();
    if (result >= GP_OK) portIndex = gp_port_info_list_lookup_path(ports, path.constData());
    GPPortInfo portInfo = nullptr;
    if (portIndex >= GP_OK)
        result = gp_port_info_list_get_info(ports, portIndex, &portInfo);
    else
        result = portIndex;

    Camera *camera = nullptr;
    if (result >= GP_OK) result = gp_camera_new(&camera);
    if (result >= GP_OK) result = gp_camera_set_abilities(camera, cameraAbilities);
    if (result >= GP_OK) result = gp_camera_set_port_info(camera, portInfo);
    m_lastActivityMs = nowMs();
    m_timedOut = false;
    if (result >= GP_OK) result = gp_camera_init(camera, m_context);
    gp_port_info_list_free(ports);
    if (result < GP_OK) {
        if (camera) gp_camera_unref(camera);
        VTR_LOG(1, QStringLiteral("Could not open the camera \"%1\" at %2: %3")
                       .arg(m_port.model, m_port.port, cameraResultText(result)));
        return result;
    }
    m_camera = camera;
    m_opened = true;
    return kCameraOK;
}

void CameraSession::detach()
{
    m_detached = true;
    // A running call releases the camera itself once it returns.
    std::unique_lock<std::timed_mutex> lock(m_mutex, std::try_to_lock);
    if (lock.owns_lock()) releaseLocked();
}

bool CameraSession::shouldCancel()
{
    if (m_detached) return true;
    const int fd = m_watchFd.load();
    if (fd >= 0) {
        struct stat st;
        if (::fstat(fd, &st) == 0 && qint64(st.st_size) != m_watchSize) {
            m_watchSize = qint64(st.st_size);
            noteProgress();
        }
    }
    if (nowMs() - m_lastActivityMs.load() > qint64(m_timeout.count())) {
        m_timedOut = true;
        return true;
    }
    return false;
}

void CameraSession::noteProgress()
{
    m_lastActivityMs = nowMs();
}

template <typename Fn> int CameraSession::withCamera(bool waitForLock, Fn &&fn)
{
    std::unique_lock<std::timed_mutex> lock(m_mutex, std::defer_lock);
    const bool locked = waitForLock ? lock.try_lock_for(m_timeout) : lock.try_lock();
    if (!locked) return kCameraTimedOut;
    if (m_detached) {
        releaseLocked();
        return kCameraGone;
    }
    if (!m_opened || !m_camera) return kCameraGone;
    m_timedOut = false;
    noteProgress();
    int result = fn(m_camera, m_context);
    m_watchFd = -1;
    if (result == GP_ERROR_CANCEL && m_timedOut) result = kCameraTimedOut;
    if (m_detached) {
        releaseLocked();
        if (result < GP_OK) result = kCameraGone;
    }
    return result;
}

int CameraSession::storageCount(int *count, bool waitForLock)
{
    if (count) *count = 0;
    return withCamera(waitForLock, [&](Camera *camera, GPContext *context) {
        CameraStorageInformation *infos = nullptr;
        int number = 0;
        const int result = gp_camera_get_storageinfo(camera, &infos, &number, context);
        if (infos) std::free(infos);
        if (result >= GP_OK && count) *count = number;
        return result;
    });
}

quint64 CameraSession::objectHandleFor(const QString &folder, const QString &name)
{
    const QString path = childFolder(folder, name);
    std::lock_guard<std::mutex> lock(m_objectsMutex);
    const auto found = m_handleForPath.constFind(path);
    if (found != m_handleForPath.constEnd()) return found.value();
    const quint64 handle = m_nextObjectHandle++;
    m_handleForPath.insert(path, handle);
    m_locations.insert(handle, ObjectLocation{folder, name});
    return handle;
}

bool CameraSession::hasObject(quint64 objectHandle) const
{
    std::lock_guard<std::mutex> lock(m_objectsMutex);
    return m_locations.contains(objectHandle);
}

int CameraSession::walkFolder(const QString &folder, int depth, QVariantList &out)
{
    const QByteArray folderBytes = folder.toUtf8();
    CameraList *list = nullptr;
    int result = gp_list_new(&list);
    if (result < GP_OK) return result;

    result = gp_camera_folder_list_files(m_camera, folderBytes.constData(), list, m_context);
    QStringList files;
    if (result >= GP_OK) files = listNames(list);
    gp_list_reset(list);
    QHash<QString, qint64> hiddenSizes;
    if (result >= GP_OK) {
        for (const auto &[name, size] : filesTheFolderDriverHides(m_port, folder)) hiddenSizes.insert(name, size);
        if (!hiddenSizes.isEmpty()) {
            files += hiddenSizes.keys();
            VtrBaseFileInfo::sortFileNames(files);
        }
    }
    QStringList folders;
    if (result >= GP_OK) {
        result = gp_camera_folder_list_folders(m_camera, folderBytes.constData(), list, m_context);
        if (result >= GP_OK) folders = listNames(list);
    }
    gp_list_free(list);
    if (result < GP_OK) return result;
    noteProgress();

    for (const QString &name : std::as_const(files)) {
        if (!isUsableName(name)) continue;
        QVariantMap object;
        object.insert(QStringLiteral("icao"), QVariant::fromValue<qulonglong>(objectHandleFor(folder, name)));
        object.insert(QStringLiteral("ifil"), name);
        if (const auto hidden = hiddenSizes.constFind(name); hidden != hiddenSizes.cend()) {
            object.insert(QStringLiteral("isiz"), *hidden);
            out.append(object);
            continue;
        }
        CameraFileInfo info;
        const QByteArray nameBytes = name.toUtf8();
        result = gp_camera_file_get_info(m_camera, folderBytes.constData(), nameBytes.constData(), &info, m_context);
        if (result == GP_ERROR_CANCEL) return result;
        qint64 size = 0;
        if (result >= GP_OK) {
            if (info.file.fields & GP_FILE_INFO_SIZE) size = qint64(info.file.size);
            if (info.file.fields & GP_FILE_INFO_WIDTH) object.insert(QStringLiteral("0100"), float(info.file.width));
            if (info.file.fields & GP_FILE_INFO_HEIGHT) object.insert(QStringLiteral("0101"), float(info.file.height));
            if ((info.file.fields & GP_FILE_INFO_MTIME) && info.file.mtime > 0)
                object.insert(QStringLiteral("mtime"), qint64(info.file.mtime));
        } else {
            // One unreadable entry does not hide the rest of the roll.
            VTR_LOG(1, QStringLiteral("No information on the camera file \"%1\" in \"%2\": %3")
                           .arg(name, folder, cameraResultText(result)));
        }
        object.insert(QStringLiteral("isiz"), size);
        out.append(object);
        noteProgress();
    }

    if (depth >= kMaxFolderDepth) return GP_OK;
    for (const QString &name : std::as_const(folders)) {
        if (!isUsableName(name)) continue;
        result = walkFolder(childFolder(folder, name), depth + 1, out);
        if (result < GP_OK) return result;
    }
    return GP_OK;
}

int CameraSession::listObjects(QVariantList *objects)
{
    return withCamera(true, [&](Camera *camera, GPContext *) {
        // Forget what the library remembers of earlier listings: the roll may
        // have changed since.
        gp_filesystem_reset(camera->fs);
        QVariantList found;
        const int result = walkFolder(QStringLiteral("/"), 0, found);
        if (result >= GP_OK) {
            m_lastObjectCount = int(found.size());
            if (objects) *objects = found;
        }
        return result;
    });
}

int CameraSession::download(quint64 objectHandle, int fd)
{
    ObjectLocation location;
    {
        std::lock_guard<std::mutex> lock(m_objectsMutex);
        const auto found = m_locations.constFind(objectHandle);
        if (found == m_locations.constEnd()) return kCameraNotFound;
        location = found.value();
    }
    return withCamera(true, [&](Camera *camera, GPContext *context) {
        // The library closes the descriptor it is given; the caller keeps its own.
        const int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
        if (copy < 0) return kCameraOSFailure;
        CameraFile *file = nullptr;
        int result = gp_file_new_from_fd(&file, copy);
        if (result < GP_OK) {
            ::close(copy);
            return result;
        }
        struct stat st;
        m_watchSize = ::fstat(fd, &st) == 0 ? qint64(st.st_size) : 0;
        m_watchFd = fd;
        const QByteArray folder = location.folder.toUtf8();
        const QByteArray name = location.name.toUtf8();
        result = gp_camera_file_get(camera, folder.constData(), name.constData(), GP_FILE_TYPE_NORMAL, file, context);
        m_watchFd = -1;
        gp_file_unref(file);
        return result;
    });
}

} // namespace vtr::camera
