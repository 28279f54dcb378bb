#pragma once

#include "app/AppServices.h"
#include "devices/phone/MobileDeviceInterface.h"
#include "devices/devicelist/VtrDeviceList.h"
#include "devices/camera/CameraConnection.h"
#include "devices/usb/USBListener.h"
#include "foundation/MigrationStatus.h"
#include "platform/VtrException.h"

#include <QObject>
#include <QPointer>
#include <QWidget>
#include <QVariantList>
#include <QVariantMap>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

class MobileDevice;
class MountWatcher;
class MtpLibrary;
class PlatformDevice;
class QWidget;
class TutorialPlayer;

namespace vtr::udev {
class UdevSource;
}

// What the controller works with, handed in by whoever makes it: the
// application's start-up gives the real ones, tests give fakes.
struct AppControllerServices
{
    AlertPresenter *alerts = nullptr;  // not owned; required
    HostEnvironment *host = nullptr;   // not owned; required
    // The USB device registry; null: libudev.
    std::shared_ptr<vtr::udev::UdevSource> udevSource;
    // Null: no camera roll (tests); the application passes the shared one.
    CameraConnection *cameraConnection = nullptr;
    // The MTP library to initialise and to open phones with; null: the
    // process's shared one.
    std::shared_ptr<MtpLibrary> mtpLibrary;
    // Ask the maker's host for a newer device list after set-up.
    bool checkDeviceListUpdate = false;
    // Watch the mount table (tests drive volumes through the hooks instead).
    bool watchMounts = true;
    // Ends the application; empty: QCoreApplication::exit(0).
    std::function<void()> terminate;
    // Length of a scene cross-fade; 0 switches at once.
    int sceneFadeMs = 250;
};

// The base of the wizard's controller: the old phone, the new phone and the
// one command interface, USB and volume listening, the iPhone camera search,
// the device-list hooks, the failure alert of a background job and the
// Windows Live bodies the PIM readers hand over. The wizard's behaviour lives
// in NS_AppController, which overrides the hooks.
class AppController : public QObject,
                      public MigrationStatusProtocol,
                      public CameraConnectionProtocol,
                      public VtrDeviceListProtocol,
                      public USBListenerDelegate,
                      public MobileDeviceDelegate
{
    Q_OBJECT
    Q_PROPERTY(QObject *oldDevice READ oldDeviceObject NOTIFY oldDeviceChanged)
    Q_PROPERTY(QObject *newDevice READ newDeviceObject NOTIFY newDeviceChanged)
    Q_PROPERTY(bool showNewDeviceInfo READ showNewDeviceInfo WRITE setShowNewDeviceInfo NOTIFY showNewDeviceInfoChanged)
public:
    explicit AppController(AppControllerServices services, QObject *parent = nullptr);
    ~AppController() override;

    const AppControllerServices &services() const { return m_services; }

    // Root view, put into the main window by the application delegate. The
    // controller deletes it unless the window has done so already.
    QWidget *view() const { return m_view; }
    QWidget *controlView() const { return m_controlView; }

    // ---- status protocol (empty here) -----------------------------------------
    void setStatus(const QString &, const QString &, double) override {}
    void setStatusNow(const QString &, const QString &, double) override {}

    // ---- phones -----------------------------------------------------------------
    std::shared_ptr<MobileDevice> oldDevice() const { return m_oldDevice; }
    // Sends oldDeviceConnected() then the camera search after a phone,
    // oldDeviceDisconnected() after none; the same phone again does nothing.
    void setOldDevice(std::shared_ptr<MobileDevice> device);
    bool isOldDeviceConnected() const { return m_oldDevice != nullptr; }
    std::shared_ptr<MobileDevice> newDevice() const { return m_newDevice; }
    void setNewDevice(std::shared_ptr<MobileDevice> device);
    int oldDeviceType() const { return m_oldDeviceType; }
    QString oldDeviceSerialNumber() const { return m_oldDeviceSerialNumber; }
    bool canMigrateMediaNow() const;

    bool showNewDeviceInfo() const { return m_showNewDeviceInfo; }
    void setShowNewDeviceInfo(bool show);

    // The one command interface, made on first use.
    PlatformDevice *platformDevice();
    MobileDevice *connectedMobileDevice() const { return m_connectedMobileDevice; }
    void setConnectedMobileDevice(MobileDevice *device);

    // ---- installed programs --------------------------------------------------------
    bool isiTunesInstalled() const;
    bool isBlackBerryDesktopManagerInstalled() const;
    bool launchITunesInBackground(bool background);

    // ---- listening -----------------------------------------------------------------
    void startUSBListening();
    void stopUSBListening();
    USBListener *usbListener() const { return m_usbListener.get(); }
    void startMassStorageListening();
    void stopMassStorageListening();
    MountWatcher *mountWatcher() const { return m_mountWatcher.get(); }
    // The workspace's notifications: a file system came or went at `path`.
    void volumeMountNotification(const QString &path);
    void volumeUnmountNotification(const QString &path);
    // Offers every mounted, writable USB volume to the phones.
    void checkMountedPathsForDevices();
    // Gives the volume at `path` to the new phone or else the old phone when
    // its USB identity matches; true when one took it.
    bool checkNewPath(const QString &path);

    // ---- camera ------------------------------------------------------------------
    void camerasChanged() override;
    void findCameraForOldDevice();

    // ---- device list -------------------------------------------------------------
    void deviceListWasUpdated() override;

    // ---- tutorial videos (TutorialPanel.cpp) -----------------------------------------
    // Plays the video of this file name in the movie panel; an empty name
    // does nothing.
    void playVideoNamed(const QString &fileName);
    // The window listing the tutorial videos.
    void showVideosWindow();
    TutorialPlayer *tutorialPlayer();

    // ---- alerts ------------------------------------------------------------------
    // Every alert of the wizard goes through here (main thread), so that the
    // wizard's delayed messages wait while one is open.
    int runAlert(const AlertRequest &request);
    bool isAlertOpen() const { return m_alertDepth > 0; }
    // A background job's failure: "OK" / "Quit" with the exception's reason;
    // 1 for "OK", 0 for "Quit". Any thread; blocks until answered.
    int showAlertOnMainThread(const QString &message, const VtrException &exception);

    // ---- Windows Live bodies (PIMDatabaseDelegate) ---------------------------------
    void stowContacts(const QVariantList &contacts, const QVariantList &groups);
    void stowCalendars(const QVariantList &calendars);
    void stowNotes(const QVariantList &notes);
    void stowTasks(const QVariantList &tasks);
    QVariantList contacts() const;
    QVariantList groups() const;
    QVariantList calendars() const;
    QVariantList notes() const;
    QVariantList tasks() const;
    QVariantMap transferInfo() const { return m_transferInfo; }
    void setTransferInfo(const QVariantMap &info) { m_transferInfo = info; }

    // Runs `work` on the main thread and waits for it (directly when called
    // there). A controller going away releases every waiting thread without
    // running its work: false then. Background jobs report through this, so
    // a job never holds up the application's end.
    bool runOnMainAndWait(const std::function<void()> &work);
    // From now on nothing waits for the main thread any more.
    void beginClosing();

    // Runs `work`, catching whatever it throws (every notification handler
    // goes through it). Here the failure is logged; the wizard also shows it.
    virtual void guarded(const char *where, const std::function<void()> &work);

    // Ends the application (after the wizard's last state, a confirmed Quit or
    // a fatal alert). Later wizard work does nothing.
    void terminate();
    bool isTerminated() const { return m_terminated; }

Q_SIGNALS:
    void oldDeviceChanged();
    void newDeviceChanged();
    void showNewDeviceInfoChanged();

protected:
    // Hooks of the wizard controller.
    virtual void oldDeviceConnected() {}
    virtual void oldDeviceDisconnected() {}
    virtual void checkNewDeviceConnected() {}
    // The last open alert has closed.
    virtual void alertsClosed() {}
    // The old phone went while a job was running: the job's failure alerts
    // are answered "OK" without asking, so that it ends soon.
    virtual bool oldDeviceGoneDuringJob() const { return false; }

    AppControllerServices m_services;
    QPointer<QWidget> m_view;
    QWidget *m_controlView = nullptr;

    int m_oldDeviceType = 0;
    QString m_oldDeviceSerialNumber;

private:
    QObject *oldDeviceObject() const;
    QObject *newDeviceObject() const;
    bool mountedPath(const QString &path, quint16 *vendor, quint16 *product, bool *writable) const;

    std::unique_ptr<USBListener> m_usbListener;
    std::unique_ptr<MountWatcher> m_mountWatcher;
    std::unique_ptr<PlatformDevice> m_platformDevice;
    std::unique_ptr<TutorialPlayer> m_tutorialPlayer;
    MobileDevice *m_connectedMobileDevice = nullptr;
    std::shared_ptr<MobileDevice> m_newDevice;
    std::shared_ptr<MobileDevice> m_oldDevice;
    bool m_showNewDeviceInfo = false;
    bool m_findingCamera = false;
    int m_alertDepth = 0;
    bool m_terminated = false;
    std::atomic<bool> m_closing{false};
    std::mutex m_mainWaitMutex;
    std::condition_variable m_mainWait;

    mutable std::mutex m_stowMutex;
    QVariantList m_contacts, m_groups, m_calendars, m_notes, m_tasks;
    QVariantMap m_transferInfo;
};
