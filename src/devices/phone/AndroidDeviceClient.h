#pragma once

#include "devices/phone/MobileDeviceInterface.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVariantList>

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>

// Installs the companion app on an Android phone through the Android debug
// bridge (Debian's `adb`), and reads the files the app leaves in the folder
// "solvennawp" at the top of the phone's storage: "nroid_done.txt" (it has
// finished) and "nroid_apps.txt" (one installed app a line: name, comma,
// identifier).
//
// Every `adb` run is a child process with standard output and error joined,
// an empty standard input and a time-out: a run that does not end in time is
// killed (with everything it started in its process group) and counts as
// failed. Calls block their caller until the runs have ended.
//
// The companion app package is looked for as "SolvennaWindowsPhone.apk" in the
// resource folder; without it pushApk() answers false.
class AndroidDeviceClient
{
public:
    // `device` is the old phone: normally the controller's proxy for it, so
    // the client follows the phone the proxy points at (and answers false and
    // std::nullopt while it points at none). It asks only the phone's
    // storages: hasMTPConnection(), mtpUseInternalStorage(),
    // mtpUseExternalStorage(), preferredStorageInfo(), storageFileInfos(),
    // isConnected() and serialNumber().
    explicit AndroidDeviceClient(std::shared_ptr<MobileDeviceInterface> device);
    ~AndroidDeviceClient();
    AndroidDeviceClient(const AndroidDeviceClient &) = delete;
    AndroidDeviceClient &operator=(const AndroidDeviceClient &) = delete;

    std::shared_ptr<MobileDeviceInterface> device() const;
    void setDevice(std::shared_ptr<MobileDeviceInterface> device);

    // Installs the app (starting it unless the user default
    // "skipDeviceClientLaunch" is set) and stops the bridge's server; true
    // when the installation succeeded or the app was installed already.
    bool pushApk();
    // The app's completion marker exists on the phone.
    bool apkIsDone();
    // The same look, telling a phone that could not be read from one whose
    // app has not finished: the phone is gone, the look failed, or the
    // storage looked in lists nothing at all (a phone's storage always holds
    // folders of its own; a failed listing answers empty).
    enum class Progress { Done, NotYet, PhoneUnreadable };
    Progress apkProgress();
    // The phone's apps as {"itemName", "itemId"} dictionaries in file order,
    // the companion app itself left out; std::nullopt when the list cannot be
    // found or read.
    std::optional<QVariantList> findAndroidApps();

    // ---- settings (process-wide, any thread) ---------------------------------
    // The `adb` program; empty restores the default (`adb` on the PATH).
    static void setAdbPath(const QString &path);
    static QString adbPath();
    // Where the companion app package lies (also the runs' working folder);
    // empty restores the default, "../share/solvennawindowsphone" beside the
    // application's folder.
    static void setResourceFolder(const QString &folder);
    static QString resourceFolder();
    // The package's path; null when it is missing.
    static QString apkPath();
    // Longest time one run may take (default two minutes).
    static void setToolTimeout(std::chrono::milliseconds timeout);
    static std::chrono::milliseconds toolTimeout();

    // The app's package and activity, and the names of its files.
    static constexpr const char *kStartActivity = "com.vantrel.solvennawp/.SolvennaWPActivity";
    static constexpr const char *kCompanionFolder = "solvennawp";
    static constexpr const char *kDoneFileName = "nroid_done.txt";
    static constexpr const char *kAppsFileName = "nroid_apps.txt";

    // The app items of a list file's text (exposed for the list format's tests).
    static QVariantList appItemsFromText(const QString &text);

private:
    struct ToolRun
    {
        bool started = false;
        bool finished = false; // ended by itself within the time-out
        int exitCode = -1;
        QByteArray output;
    };
    ToolRun runTool(const QStringList &arguments);
    // `phoneShowedAnything` (when given) becomes true once a storage looked
    // in showed the app's folder or anything else.
    VtrFileInfoPtr findCompanionFile(const QString &name, bool *phoneShowedAnything = nullptr);

    mutable std::mutex m_mutex;
    std::shared_ptr<MobileDeviceInterface> _device;
};
