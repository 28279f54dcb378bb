#include "support/WizardHarness.h"

#include "devices/phone/MobileDevice.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QThread>
#include <QTimer>

void FakeWork::step(NS_AppController &c, const QString &name)
{
    calls << name;
    if (onCall) onCall(c, name);
    if (name == throwIn) throw VtrException(QStringLiteral("TestException"), QStringLiteral("The %1 step failed.").arg(name));
    if (hold) return;
    if (synchronous)
        c.gotoNextState();
    else
        QTimer::singleShot(0, &c, [&c] { c.gotoNextState(); });
}

WizardHarness::WizardHarness(CameraConnection *camera)
{
    NS_AppController::resetStatusThrottle();
    AppControllerServices services = testServices(alerts, host, phones, [this] { terminated = true; });
    services.cameraConnection = camera;
    host.installed.insert(QStringLiteral("com.apple.itunes"), QStringLiteral("/usr/bin/true"));
    m_controller = std::make_unique<NS_AppController>(services);
    auto fake = std::make_unique<FakeWork>();
    work = fake.get();
    m_controller->setJobs(std::move(fake));
    // The same object serves the other seams; the controller owns one copy.
    struct LiveForward final : LiveUploadDriver
    {
        FakeWork *w;
        void checkAndWarnCalendarContactCounts(NS_AppController &c) override { w->checkAndWarnCalendarContactCounts(c); }
        void startNextLiveUpload(NS_AppController &c) override { w->startNextLiveUpload(c); }
    };
    struct ChecksForward final : EnvironmentChecks
    {
        FakeWork *w;
        void runWelcomeChecks(NS_AppController &c) override { w->runWelcomeChecks(c); }
        void runICloudCheck(NS_AppController &c) override { w->runICloudCheck(c); }
        bool runLibraryChecks(NS_AppController &c, int family) override { return w->runLibraryChecks(c, family); }
    };
    auto live = std::make_unique<LiveForward>();
    live->w = work;
    m_controller->setLiveUploadDriver(std::move(live));
    auto checks = std::make_unique<ChecksForward>();
    checks->w = work;
    m_controller->setEnvironmentChecks(std::move(checks));
    auto companionApp = companion;
    m_controller->setCompanionAppFactory([companionApp](std::shared_ptr<MobileDeviceInterface>) { return companionApp; });
    QObject::connect(m_controller.get(), &NS_AppController::stateEntered, [this](int s) { visited.append(s); });
}

AppControllerServices WizardHarness::testServices(AlertPresenter &alerts, HostEnvironment &host, PhoneArrival &phones,
                                                  std::function<void()> terminate)
{
    AppControllerServices services;
    services.alerts = &alerts;
    services.host = &host;
    services.udevSource = phones.usb();
    services.mtpLibrary = phones.mtp();
    services.watchMounts = false;
    services.sceneFadeMs = 0;
    services.terminate = std::move(terminate);
    return services;
}

WizardHarness::~WizardHarness()
{
    m_controller.reset();
    // Phones are destroyed on the main thread's event loop.
    spin(20);
}

bool WizardHarness::waitFor(const std::function<bool()> &done, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return true;
}

void WizardHarness::spin(int ms)
{
    waitFor([] { return false; }, ms);
}

bool WizardHarness::waitForPhone()
{
    return waitFor([this] { return m_controller->isOldDeviceConnected(); });
}

bool WizardHarness::plug(MtpSimPhone &phone)
{
    m_lastSyspath = phones.plug(phone);
    return waitForPhone();
}

bool WizardHarness::plugAndroid()
{
    MtpSimPhone *phone =
        phones.addFixture(QStringLiteral(VTR_TEST_SOURCE_DIR "/devices/data/mtp/android_phone.json"));
    return phone && plug(*phone);
}

bool WizardHarness::plugIPhone()
{
    m_lastSyspath = phones.plug(1452, 4752, QStringLiteral("iPhone"), QStringLiteral("IPHONESERIAL1"));
    return waitForPhone();
}

bool WizardHarness::plugBlackBerry()
{
    m_lastSyspath = phones.plug(4042, 32769, QStringLiteral("RIM BlackBerry Device"), QStringLiteral("BB0001"));
    return waitForPhone();
}

bool WizardHarness::pressOn(const std::function<bool()> &stop, int timeoutMs)
{
    return waitFor(
        [&] {
            if (terminated || stop()) return true;
            QPushButton *next = m_controller->nextButton();
            if (!next->isHidden() && next->isEnabled() && m_controller->pendingPerformCount() == 0 &&
                m_controller->runningJobCount() == 0)
                next->click();
            QPushButton *quit = m_controller->quitButton();
            if (!quit->isHidden() && quit->isEnabled()) quit->click();
            return false;
        },
        timeoutMs);
}

bool WizardHarness::walk(const std::function<bool()> &plug, int stopAt, int timeoutMs)
{
    m_controller->setState(NS_AppController::kStateGetStarted);
    if (!plug()) return false;
    return pressOn([&] { return stopAt >= 0 && m_controller->currentState() == stopAt; }, timeoutMs);
}
