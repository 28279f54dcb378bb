#pragma once

#include "PhoneArrival.h"
#include "ScriptedAlertPresenter.h"
#include "app/NS_AppController.h"

#include <QHash>
#include <QList>
#include <QStringList>

#include <atomic>

#include <functional>
#include <memory>

// The computer as a test wants it: programs installed or not, no browser.
class FakeHost final : public HostEnvironment
{
public:
    QHash<QString, QString> installed;
    QList<QUrl> opened;
    bool hasBrowser = true;
    QStringList launched;  // "identifier" or "identifier (background)"
    int beeps = 0;
    QString applicationPath(const QString &identifier) const override { return installed.value(identifier.toLower()); }
    bool launchApplication(const QString &identifier, bool background) override
    {
        launched.append(background ? identifier + QStringLiteral(" (background)") : identifier);
        return true;
    }
    bool openUrl(const QUrl &url) override
    {
        opened.append(url);
        return hasBrowser;
    }
    void beep() override { ++beeps; }
};

// The jobs, the Live upload and the checks of the later states: each records
// its call and, unless held, moves the wizard on as a finished job would
// (queued, or at once from inside the state's work when `synchronous`).
class FakeWork final : public WizardJobs, public LiveUploadDriver, public EnvironmentChecks
{
public:
    QStringList calls;
    bool hold = false;
    bool synchronous = false;
    QString throwIn;  // a call that throws a VtrException
    std::function<void(NS_AppController &, const QString &)> onCall;

    void createMediaMigrators(NS_AppController &, int family) override { calls << QStringLiteral("migrators %1").arg(family); }
    void scanApps(NS_AppController &c) override { step(c, QStringLiteral("scanApps")); }
    void startTransferPIMFromOldDevice(NS_AppController &c) override { step(c, QStringLiteral("pim")); }
    void backupOldDevice(NS_AppController &c) override { step(c, QStringLiteral("backup")); }
    void startTransferMediaToNewDevice(NS_AppController &c) override { step(c, QStringLiteral("media")); }
    void checkAndWarnCalendarContactCounts(NS_AppController &c) override { step(c, QStringLiteral("liveLimits")); }
    void startNextLiveUpload(NS_AppController &c) override { step(c, QStringLiteral("liveUpload")); }
    void runWelcomeChecks(NS_AppController &) override { calls << QStringLiteral("welcomeChecks"); }
    void runICloudCheck(NS_AppController &) override { calls << QStringLiteral("iCloudCheck"); }
    bool runLibraryChecks(NS_AppController &, int family) override
    {
        calls << QStringLiteral("libraryChecks %1").arg(family);
        return true;
    }

private:
    void step(NS_AppController &c, const QString &name);
};

// A kind whose summary is whatever the test says.
class FixedManifest final : public ManifestInfoSource
{
public:
    explicit FixedManifest(QVariantMap info) : m_info(std::move(info)) {}
    QVariantMap manifestInfo() const override { return m_info; }

private:
    QVariantMap m_info;
};

// Set by the test on the main thread, read by the wizard's jobs: atomic.
class FakeCompanionApp final : public CompanionApp
{
public:
    std::atomic<bool> pushResult{true};
    std::atomic<bool> doneResult{true};
    // Not done and the phone shows nothing.
    std::atomic<bool> unreadable{false};
    std::atomic<int> pushes{0};
    std::atomic<int> polls{0};
    bool pushApk() override
    {
        ++pushes;
        return pushResult;
    }
    bool apkIsDone() override
    {
        ++polls;
        return doneResult;
    }
    Progress apkProgress() override
    {
        if (apkIsDone()) return Progress::Done;
        return unreadable ? Progress::PhoneUnreadable : Progress::NotYet;
    }
};

// One wizard controller with fakes in every seam, phones through the fake USB
// registry and the MTP simulator, and a record of the states it entered.
class WizardHarness
{
public:
    // `camera`: the camera connection the controller is delegate of (none
    // by default).
    explicit WizardHarness(CameraConnection *camera = nullptr);
    ~WizardHarness();

    // What a controller under test is made with: these fakes, no mount
    // watching, no cross-fades.
    static AppControllerServices testServices(AlertPresenter &alerts, HostEnvironment &host, PhoneArrival &phones,
                                              std::function<void()> terminate);

    NS_AppController &wizard() { return *m_controller; }
    ScriptedAlertPresenter alerts;
    FakeHost host;
    PhoneArrival phones;
    FakeWork *work = nullptr;  // owned by the controller
    std::shared_ptr<FakeCompanionApp> companion = std::make_shared<FakeCompanionApp>();
    QList<int> visited;
    bool terminated = false;

    // Spins the event loop until `done` holds; false after `timeoutMs`, a
    // guard only: a loaded machine may take many times the usual while.
    static bool waitFor(const std::function<bool()> &done, int timeoutMs = 60000);
    // Spins the event loop for a while.
    static void spin(int ms);

    // Plugs a phone of each family; waits until the controller holds it.
    bool plugAndroid();
    bool plugIPhone();
    bool plugBlackBerry();
    QString lastSyspath() const { return m_lastSyspath; }

    // Plugs a simulated MTP phone; waits until the controller holds it.
    bool plug(MtpSimPhone &phone);

    // Presses Next whenever it is offered, and Quit at the end, until the
    // wizard ends or `stop` holds; false after `timeoutMs`.
    bool pressOn(const std::function<bool()> &stop, int timeoutMs);

    // Enters state 2 and plugs `plug`'s phone, then presses on until the
    // wizard ends or `stopAt` is entered.
    bool walk(const std::function<bool()> &plug, int stopAt = -1, int timeoutMs = 10000);

private:
    bool waitForPhone();
    std::unique_ptr<NS_AppController> m_controller;
    QString m_lastSyspath;
};
