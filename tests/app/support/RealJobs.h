#pragma once

#include "support/WizardHarness.h"

#include "app/NS_AppControllerJobs.h"
#include "app/WizardStandIns.h"

#include "TestEnvironment.h"

#include <memory>

// The welcome checks pass without asking the machine: these runs are about the
// jobs, and the real checks would look for the internet and desktop programs.
class NoEnvironmentChecks final : public EnvironmentChecks
{
public:
    void runWelcomeChecks(NS_AppController &) override {}
    void runICloudCheck(NS_AppController &) override {}
    bool runLibraryChecks(NS_AppController &, int) override { return true; }
};

// A wizard with the real jobs in its seat; the Live upload and the checks are
// the application's stand-ins (the harness's fakes went with its jobs object).
// Music is filed into the library host without asking.
struct RealJobs
{
    explicit RealJobs(CameraConnection *camera = nullptr) : h(camera)
    {
        auto real = std::make_unique<NS_AppControllerJobs>();
        jobs = real.get();
        jobs->libraryHostConfigured = [] { return true; };
        h.wizard().setJobs(std::move(real));
        h.work = nullptr;
        h.wizard().setLiveUploadDriver(std::make_unique<vtrapp::StandInLiveUploadDriver>());
        h.wizard().setEnvironmentChecks(std::make_unique<NoEnvironmentChecks>());
    }
    // Enters state 2, plugs the phone and presses on to the end.
    bool runToEnd(const std::function<bool()> &plug) { return h.walk(plug, -1, 120000) && h.terminated; }
    // No job left running.
    bool idle() { return WizardHarness::waitFor([&] { return h.wizard().runningJobCount() == 0; }, 20000); }

    WizardHarness h;
    NS_AppControllerJobs *jobs = nullptr;
};

// The real jobs with the simulated Android phone of the repository's fixture.
struct AndroidFixtureRun : RealJobs
{
    AndroidFixtureRun()
        : phone(h.phones.addFixture(testenv::sourcePath(QStringLiteral("devices/data/mtp/android_phone.json"))))
    {
    }
    // Enters state 2, plugs the phone and presses on until `stopAt` is
    // entered or the wizard ends.
    bool walk(int stopAt) { return phone && h.walk([&] { return h.plug(*phone); }, stopAt, 120000); }
    // The same, to the end.
    bool runToEnd() { return phone && RealJobs::runToEnd([&] { return h.plug(*phone); }); }

    MtpSimPhone *phone;
};
