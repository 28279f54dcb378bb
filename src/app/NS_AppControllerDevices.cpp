#include "app/BackgroundJob.h"
#include "app/NS_AppController.h"
#include "devices/command/PlatformDevice.h"
#include "devices/phone/MobileDevice.h"
#include "devices/phone/MobileDeviceProxy.h"
#include "devices/usb/UsbLookups.h"
#include "foundation/Log.h"
#include "platform/MainThread.h"
#include "platform/Strings.h"

#include <QThread>
#include <QTimer>

#include <algorithm>

void NS_AppController::usbDeviceAdded(const UsbDeviceHandle &device, quint16 vendor, quint16 product)
{
    guarded("usbDeviceAdded", [&] {
        if (oldDevice() || m_arrivingPhone) {
            VTR_LOG(4, QStringLiteral("We already have a source device connected."));
            return;
        }
        const QString name = usbProductNameForDevice(vendor, product);
        VtrDeviceList *list = VtrDeviceList::deviceList();
        const QString section = QStringLiteral("SupportSourceDevices");
        std::optional<QVariantMap> entry = list->infoForDeviceWithUSBVendorID(vendor, product, name, section);
        if (!entry) entry = list->infoForDeviceWithUSBVendorID(vendor, 0, name, section);

        const bool otherVendor = vendor != MobileDeviceInterface::kBlackBerryVendorID &&
                                 vendor != MobileDeviceInterface::kAppleVendorID;
        if (vendor == MobileDeviceInterface::kAppleVendorID && !entry) return;
        if (otherVendor) {
            entry = list->infoForDeviceWithUSBVendorID(vendor, product, name);
            if (!entry) {
                entry = list->infoForDeviceWithUSBVendorID(vendor, 0, QString());
                if (!entry) return;
                const QString serial = usbSerialNumberForDevice(vendor, product);
                if (!serial.isEmpty()) {
                    entry->insert(QStringLiteral("serialNumber"), serial);
                    entry->insert(QStringLiteral("productID"), int(product));
                }
            }
            // The phone's own USB name says best which phone it is.
            if (!name.isEmpty()) entry->insert(QStringLiteral("deviceName"), name);
        }
        const auto couldNotConnect = [this, otherVendor] {
            if (!otherVendor) return;
            AlertRequest request;
            request.messageText = vtrLocalized("Could not connect to phone");
            request.informativeText = vtrLocalized(
                "Solvenna to Windows Phone could not connect to your phone. Please ensure the device is unlocked "
                "and the USB cable is connected properly.");
            request.buttons = {vtrLocalized("Ok")};
            request.cancelButton = 0;
            runAlert(request);
        };
        // Here only what must be on this thread: the removal registration.
        std::shared_ptr<MobileDevice> phone = MobileDevice::createUnopened(
            device, usbListener(), vendor, product, name, entry.value_or(QVariantMap()), this, m_services.mtpLibrary);
        if (!phone) {
            couldNotConnect();
            return;
        }
        if (phone->isAppleDevice()) {
            adoptOldDevice(phone, false);
            return;
        }
        // Opening MTP and attaching the command interface talk to the phone
        // (each may take seconds): they run on a job, and the wizard learns
        // of the phone only when it can be used.
        m_arrivingPhone = phone;
        PlatformDevice *commands = otherVendor ? platformDevice() : nullptr;
        // A phone that fails while it is detected or opened often opens at
        // the next try; one of another vendor is used only over MTP.
        const int attempts = std::max(1, m_openAttempts);
        const int delayMs = m_openRetryDelayMs;
        runJob(new FunctionJob([phone, device, commands, otherVendor, attempts, delayMs](FunctionJob &job) {
                   QVariantMap result = BackgroundJob::successResult();
                   bool opened = false;
                   for (int attempt = 1; attempt <= attempts; ++attempt) {
                       opened = phone->openMTP(device) && (!otherVendor || phone->hasMTPConnection());
                       if (opened || phone->wasRemoved() || job.isCancelled()) break;
                       VTR_LOG(2, QStringLiteral("The phone did not open (attempt %1 of %2).").arg(attempt).arg(attempts));
                       for (int waited = 0; attempt < attempts && waited < delayMs && !phone->wasRemoved() &&
                                            !job.isCancelled();
                            waited += 20)
                           QThread::msleep(20);
                       // Stopped or pulled in the pause: a try could only wait out the phone's time-out.
                       if (phone->wasRemoved() || job.isCancelled()) break;
                   }
                   result.insert(QStringLiteral("opened"), opened);
                   if (opened && commands && phone->hasMTPConnection() && !phone->wasRemoved())
                       phone->setPlatformDevice(commands);
                   return result;
               }),
               [this, phone, otherVendor, couldNotConnect](const QVariantMap &result) {
                   // A phone pulled while it was being opened is forgotten.
                   if (m_arrivingPhone != phone) return;
                   m_arrivingPhone.reset();
                   if (!result.value(QStringLiteral("opened")).toBool()) {
                       couldNotConnect();
                       return;
                   }
                   adoptOldDevice(phone, otherVendor && phone->hasMTPConnection());
               });
    });
}

void NS_AppController::adoptOldDevice(const std::shared_ptr<MobileDevice> &phone, bool connected)
{
    m_oldDeviceProxy->setObject(phone);
    setOldDevice(phone);
    // Already attached: this only records the phone as the connected one.
    if (connected && oldDevice() == phone) setConnectedMobileDevice(phone.get());
    checkMountedPathsForDevices();
}

void NS_AppController::deviceWasDisconnected(MobileDevice *device)
{
    guarded("deviceWasDisconnected", [&] {
        if (m_arrivingPhone.get() == device) {
            m_arrivingPhone.reset();
            return;
        }
        if (oldDevice() && oldDevice().get() == device) {
            const int state = currentState();
            if (state >= 10 && state <= 13 && runningJobCount() > 0) {
                // A job may be inside a call on this phone, and a phone is
                // not taken from under a running command: the job meets the
                // missing phone at its next call and ends with its error;
                // the teardown and the alert follow its end.
                if (m_removalAfterJobs) return;
                m_removalAfterJobs = true;
                VTR_LOG(2, QStringLiteral("The old phone went away while a job was running; the job ends first."));
                for (BackgroundJob *job : findChildren<BackgroundJob *>(Qt::FindDirectChildrenOnly)) job->cancel();
                // Should a job hang inside the phone, the person is still told.
                QTimer::singleShot(m_removalJobWaitMs, this, [this] {
                    if (!m_removalAfterJobs || isTerminated()) return;
                    VTR_LOG(2, QStringLiteral("A job did not end after the old phone went away."));
                    guarded("removal", [this] { userRemovedOldDeviceAtBadTime(); });
                });
                return;
            }
            forgetOldDevice(device);
            return;
        }
        if (connectedMobileDevice() == device) setConnectedMobileDevice(nullptr);
        if (newDevice() && newDevice().get() == device) {
            setNewDevice(nullptr);
            checkNewDeviceConnected();
        }
    });
}

void NS_AppController::forgetOldDevice(MobileDevice *device)
{
    if (connectedMobileDevice() == device) setConnectedMobileDevice(nullptr);
    const int state = currentState();
    // Bound to this controller: dropped if it goes first.
    if (state >= 11 && state <= 13)
        QMetaObject::invokeMethod(
            this, [this] { guarded("removal", [this] { userRemovedOldDeviceAtBadTime(); }); }, Qt::QueuedConnection);
    setOldDevice(nullptr);
    m_oldDeviceProxy->setObject(nullptr);
}

void NS_AppController::oldDeviceRemovedAfterJobs()
{
    if (!m_removalAfterJobs) return;
    m_removalAfterJobs = false;
    if (const std::shared_ptr<MobileDevice> phone = oldDevice()) forgetOldDevice(phone.get());
}

void NS_AppController::oldDeviceConnected()
{
    guarded("oldDeviceConnected", [this] {
        switch (currentState()) {
        case 2: gotoNextStateUnguarded(); break;
        case 3: setStateUnguarded(2); break;
        case 6:
        case 7:
        case 9:
            nextButtonSetEnabled(m_oldDeviceProxy->isAndroidDevice() ? m_oldDeviceProxy->isConnected() : true);
            break;
        case 8:
            // A phone that arrives again is looked at afresh.
            m_unreadablePolls = m_notFoundPolls = 0;
            m_pollAlertShown = false;
            pollForApkDoneAndAdvance();
            break;
        default: break;
        }
    });
}

void NS_AppController::oldDeviceDisconnected()
{
    guarded("oldDeviceDisconnected", [this] {
        switch (currentState()) {
        case 2:
        case 6:
        case 7:
        case 9: nextButtonSetEnabled(false); break;
        case 3:
        case 4:
        case 5: setStateUnguarded(2); break;
        case 8:
            cancelPerform(QStringLiteral("pollForApkDoneAndAdvance"));
            nextButtonSetEnabled(false);
            break;
        case 10:
        case 11:
        case 12:
        case 13: userRemovedOldDeviceAtBadTime(); break;
        default: break;
        }
    });
}
