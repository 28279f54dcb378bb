#pragma once

// The simulated phone of each family the program offers (the Android phone
// of the MTP simulator's fixture, the iPhone and the BlackBerry of
// app/data), loaded into a wizard with the real jobs, ready to be plugged in.

#include "support/RealJobs.h"

#include "app/SimulatedPhone.h"
#include "devices/camera/CameraConnection.h"
#include "devices/camera/CameraDetector.h"
#include "devices/mtp/sim/SimulatedMtpLibrary.h"
#include "devices/phone/MobileDevice.h"

#include "TestEnvironment.h"

#include <gtest/gtest.h>

#include <memory>

namespace e2e {

enum Family { kAndroid = 1, kIPhone = 2, kBlackBerry = 3 };

struct FamilyPhone
{
    struct Camera final : CameraConnection
    {
        Camera() : CameraConnection(std::make_unique<vtr::camera::FixedCameraDetector>()) {}
    };

    explicit FamilyPhone(int family) : family(family)
    {
        if (family == kIPhone) camera = std::make_unique<Camera>();
        run = std::make_unique<RealJobs>(camera.get());
        if (family == kAndroid) {
            mtp = run->h.phones.addFixture(testenv::sourcePath(QStringLiteral("devices/data/mtp/android_phone.json")));
            return;
        }
        QString error;
        simulated = vtrapp::SimulatedPhone::load(
            testenv::sourcePath(family == kIPhone ? QStringLiteral("app/data/simulated_iphone.json")
                                                  : QStringLiteral("app/data/simulated_blackberry.json")),
            &error);
        EXPECT_TRUE(simulated) << qPrintable(error);
        if (!simulated) return;
        EXPECT_TRUE(simulated->materialize(testenv::makeTempDir(QStringLiteral("phone")), &error)) << qPrintable(error);
        if (camera) camera->setUdevSource(run->h.phones.usb());
        simulated->attach(run->h.wizard(), camera.get());
    }

    // Plugs the phone in; waits until the wizard holds it.
    bool plug()
    {
        if (mtp) return run->h.plug(*mtp);
        if (!simulated) return false;
        simulated->plug(*run->h.phones.usb());
        NS_AppController *w = &run->h.wizard();
        if (family == kIPhone)
            return WizardHarness::waitFor([w] { return w->oldDevice() && w->oldDevice()->camera() != nullptr; });
        return WizardHarness::waitFor([w] { return w->isOldDeviceConnected(); });
    }

    int family;
    std::unique_ptr<Camera> camera;
    std::unique_ptr<RealJobs> run;
    std::unique_ptr<vtrapp::SimulatedPhone> simulated;
    MtpSimPhone *mtp = nullptr;
};

}  // namespace e2e
