#include "app/AppController.h"

#include "app/DeviceListNotification.h"
#include "app/MountWatcher.h"
#include "app/TutorialPanel.h"
#include "devices/phone/MobileDevice.h"
#include "devices/command/PlatformDevice.h"
#include "devices/camera/CameraDevice.h"
#include "devices/usb/VolumeDetection.h"
#include "fileinfo/VtrMacFileInfo.h"
#include "foundation/Log.h"
#include "platform/MainThread.h"
#include "platform/Strings.h"

#include <QCoreApplication>
#include <QWidget>

AppController::AppController(AppControllerServices services, QObject *parent)
    : QObject(parent), m_services(std::move(services))
{
    if (!m_services.alerts || !m_services.host)
        throw VtrException(QStringLiteral("NSInvalidArgumentException"),
                           QStringLiteral("The controller needs an alert presenter and a host environment."));
}

AppController::~AppController()
{
    beginClosing();
    stopUSBListening();
    stopMassStorageListening();
    setConnectedMobileDevice(nullptr);
    m_oldDevice.reset();
    m_newDevice.reset();
    m_platformDevice.reset();
    m_tutorialPlayer.reset();
    delete m_view.data();
}

QObject *AppController::oldDeviceObject() const { return m_oldDevice.get(); }
QObject *AppController::newDeviceObject() const { return m_newDevice.get(); }

void AppController::setOldDevice(std::shared_ptr<MobileDevice> device)
{
    if (device == m_oldDevice) return;
    m_oldDevice = std::move(device);
    Q_EMIT oldDeviceChanged();
    if (m_oldDevice) {
        oldDeviceConnected();
        findCameraForOldDevice();
    } else {
        oldDeviceDisconnected();
    }
}

void AppController::setNewDevice(std::shared_ptr<MobileDevice> device)
{
    if (device == m_newDevice) return;
    m_newDevice = std::move(device);
    Q_EMIT newDeviceChanged();
}

bool AppController::canMigrateMediaNow() const
{
    if (!m_oldDevice) return false;
    if (!m_oldDevice->isBlackBerry()) return true;
    return m_oldDevice->isConnected();
}

void AppController::setShowNewDeviceInfo(bool show)
{
    if (show == m_showNewDeviceInfo) return;
    m_showNewDeviceInfo = show;
    Q_EMIT showNewDeviceInfoChanged();
}

PlatformDevice *AppController::platformDevice()
{
    if (!m_platformDevice) m_platformDevice = std::make_unique<PlatformDevice>();
    return m_platformDevice.get();
}

void AppController::setConnectedMobileDevice(MobileDevice *device)
{
    if (device == m_connectedMobileDevice) return;
    if (m_connectedMobileDevice) m_connectedMobileDevice->setPlatformDevice(nullptr);
    m_connectedMobileDevice = device;
    if (device) device->setPlatformDevice(platformDevice());
}

bool AppController::isiTunesInstalled() const
{
    return m_services.host->isApplicationInstalled(QLatin1String(vtrapp::kITunesIdentifier));
}

bool AppController::isBlackBerryDesktopManagerInstalled() const
{
    return m_services.host->isApplicationInstalled(QLatin1String(vtrapp::kBlackBerryDesktopIdentifier));
}

bool AppController::launchITunesInBackground(bool background)
{
    return m_services.host->launchApplication(QLatin1String(vtrapp::kITunesIdentifier), background);
}

void AppController::startUSBListening()
{
    if (m_usbListener) return;
    m_usbListener = std::make_unique<USBListener>(this, m_services.udevSource);
    if (!m_usbListener->startListeningForDevices(true, false))
        VTR_LOG(2, QStringLiteral("USB listening could not be started."));
}

void AppController::stopUSBListening()
{
    if (!m_usbListener) return;
    m_usbListener->stopListening();
    m_usbListener.reset();
}

void AppController::startMassStorageListening()
{
    if (m_mountWatcher || !m_services.watchMounts) return;
    m_mountWatcher = std::make_unique<MountWatcher>();
    connect(m_mountWatcher.get(), &MountWatcher::mounted, this, &AppController::volumeMountNotification);
    connect(m_mountWatcher.get(), &MountWatcher::unmounted, this, &AppController::volumeUnmountNotification);
}

void AppController::stopMassStorageListening() { m_mountWatcher.reset(); }

void AppController::volumeMountNotification(const QString &path)
{
    guarded("volumeMountNotification", [&] {
        if (!path.isEmpty()) checkNewPath(path);
    });
}

void AppController::volumeUnmountNotification(const QString &path)
{
    guarded("volumeUnmountNotification", [&] {
        if (path.isEmpty()) return;
        if (m_newDevice && m_newDevice->hasMountedPath(path)) {
            m_newDevice->removeMountedPath(path);
            runOnMainAndWait([this] { checkNewDeviceConnected(); });
        } else if (m_oldDevice && m_oldDevice->hasMountedPath(path)) {
            // The path goes first: the reactions ask the phone whether it
            // can still be reached.
            m_oldDevice->removeMountedPath(path);
            oldDeviceDisconnected();
        }
    });
}

void AppController::checkMountedPathsForDevices()
{
    // Every USB volume: a phone the device list does not name (a BlackBerry
    // is taken all the same) still owns its volumes.
    for (const QString &path : VolumeDetection::sharedManager()->volumeRoots()) {
        if (VolumeDetection::volumeWriteableAtPath(path)) checkNewPath(path);
    }
}

bool AppController::mountedPath(const QString &path, quint16 *vendor, quint16 *product, bool *writable) const
{
    *vendor = 0;
    *product = 0;
    if (writable) *writable = VolumeDetection::volumeWriteableAtPath(path);
    VolumeRefNum volume = 0;
    if (VtrDeviceList::deviceList()->pathToVRefNum(path, &volume) != 0) return false;
    return VtrDeviceList::deviceList()->vendorProductIDForVolume(volume, vendor, product);
}

bool AppController::checkNewPath(const QString &path)
{
    quint16 vendor = 0;
    quint16 product = 0;
    bool writable = false;
    if (!mountedPath(path, &vendor, &product, &writable)) return false;
    if (m_newDevice && m_newDevice->matchesVendorID(vendor, &product, QString())) {
        if (!writable) return false;
        m_newDevice->addMountedPath(path);
        runOnMainAndWait([this] { checkNewDeviceConnected(); });
        return true;
    }
    if (m_oldDevice && m_oldDevice->matchesVendorID(vendor, &product, QString())) {
        if (VtrMacFileInfo::readOnlyVolumeAtPath(path)) return false;
        m_oldDevice->addMountedPath(path);
        runOnMainAndWait([this] { oldDeviceConnected(); });
        return true;
    }
    return false;
}

void AppController::camerasChanged()
{
    guarded("camerasChanged", [this] {
        if (m_oldDevice) findCameraForOldDevice();
    });
}

void AppController::findCameraForOldDevice()
{
    if (m_findingCamera || !m_services.cameraConnection || !m_oldDevice) return;
    m_findingCamera = true;
    const QList<CameraDevicePtr> cameras = m_services.cameraConnection->connectedCameras();
    for (const CameraDevicePtr &camera : cameras) {
        if (camera && camera->vendorID() == MobileDeviceInterface::kAppleVendorID && m_oldDevice &&
            m_oldDevice->isAppleDevice() && m_oldDevice->productID() == quint16(camera->productID())) {
            m_oldDevice->setCamera(camera);
            oldDeviceConnected();
            break;
        }
    }
    m_findingCamera = false;
}

void AppController::deviceListWasUpdated()
{
    guarded("deviceListWasUpdated", [] {
        VolumeDetection::sharedManager()->loadDeviceList();
        vtrapp::postDeviceListNotification();
        VolumeDetection::sharedManager()->setDeviceList(VtrDeviceList::deviceList()->vendorsInfo());
    });
}

void AppController::guarded(const char *where, const std::function<void()> &work)
{
    try {
        work();
    } catch (const VtrException &e) {
        VTR_LOG(2, QStringLiteral("%1: %2").arg(QString::fromLatin1(where), e.reason()));
    } catch (const std::exception &e) {
        VTR_LOG(2, QStringLiteral("%1: %2").arg(QString::fromLatin1(where), QString::fromUtf8(e.what())));
    } catch (...) {
        VTR_LOG(2, QStringLiteral("%1: an unknown error").arg(QString::fromLatin1(where)));
    }
}

int AppController::runAlert(const AlertRequest &request)
{
    ++m_alertDepth;
    int answer = 0;
    try {
        answer = m_services.alerts->runAlert(request);
    } catch (...) {
        --m_alertDepth;
        throw;
    }
    if (--m_alertDepth == 0) alertsClosed();
    return answer;
}

bool AppController::runOnMainAndWait(const std::function<void()> &work)
{
    if (platform::isMainThread()) {
        work();
        return true;
    }
    if (m_closing.load()) return false;
    // Queued, running, or over (run or dropped). Work that has started may
    // write into the waiting caller's stack: once it runs, the caller waits
    // for its end even when closing begins meanwhile.
    enum Stage { Queued, Running, Ran, Dropped };
    auto stage = std::make_shared<Stage>(Queued);
    QMetaObject::invokeMethod(
        this,
        [this, work, stage] {
            {
                std::lock_guard lock(m_mainWaitMutex);
                if (m_closing.load()) {
                    *stage = Dropped;
                } else {
                    *stage = Running;
                }
            }
            if (*stage == Running) {
                guarded("main-thread call", work);
                std::lock_guard lock(m_mainWaitMutex);
                *stage = Ran;
            }
            m_mainWait.notify_all();
        },
        Qt::QueuedConnection);
    std::unique_lock lock(m_mainWaitMutex);
    m_mainWait.wait(lock, [&] { return *stage == Ran || *stage == Dropped || (*stage == Queued && m_closing.load()); });
    return *stage == Ran;
}

void AppController::beginClosing()
{
    {
        std::lock_guard lock(m_mainWaitMutex);
        m_closing.store(true);
    }
    m_mainWait.notify_all();
}

int AppController::showAlertOnMainThread(const QString &message, const VtrException &exception)
{
    // A controller going away answers "Quit".
    int result = 0;
    runOnMainAndWait([&] {
        if (oldDeviceGoneDuringJob()) {
            VTR_LOG(2, QStringLiteral("%1 (%2)").arg(message, exception.reason()));
            result = 1;
            return;
        }
        AlertRequest request;
        request.messageText = message;
        request.informativeText = exception.reason();
        request.buttons = {vtrLocalized("OK"), vtrLocalized("Quit")};
        request.cancelButton = 0;
        request.beep = true;
        // Index 0 is "OK" (answer 1), index 1 "Quit" (answer 0).
        result = runAlert(request) == 0 ? 1 : 0;
    });
    return result;
}

void AppController::stowContacts(const QVariantList &contacts, const QVariantList &groups)
{
    std::lock_guard lock(m_stowMutex);
    m_contacts = contacts;
    m_groups = groups;
}

void AppController::stowCalendars(const QVariantList &calendars)
{
    std::lock_guard lock(m_stowMutex);
    m_calendars = calendars;
}

void AppController::stowNotes(const QVariantList &notes)
{
    std::lock_guard lock(m_stowMutex);
    m_notes = notes;
}

void AppController::stowTasks(const QVariantList &tasks)
{
    std::lock_guard lock(m_stowMutex);
    m_tasks = tasks;
}

QVariantList AppController::contacts() const { std::lock_guard lock(m_stowMutex); return m_contacts; }
QVariantList AppController::groups() const { std::lock_guard lock(m_stowMutex); return m_groups; }
QVariantList AppController::calendars() const { std::lock_guard lock(m_stowMutex); return m_calendars; }
QVariantList AppController::notes() const { std::lock_guard lock(m_stowMutex); return m_notes; }
QVariantList AppController::tasks() const { std::lock_guard lock(m_stowMutex); return m_tasks; }

void AppController::terminate()
{
    if (m_terminated) return;
    m_terminated = true;
    VTR_LOG(4, QStringLiteral("The application ends."));
    if (m_services.terminate)
        m_services.terminate();
    else
        QCoreApplication::exit(0);
}
