#pragma once

#include "app/NS_AppController.h"
#include "app/WizardInterfaces.h"

// What the wizard does in the states whose real work is not in this build:
// every step reports its phases and completes, so the wizard can be walked
// from the intro to the end. The real environment checks, jobs and Live
// upload take their seats through the controller's setters.
namespace vtrapp {

class StandInLiveUploadDriver final : public LiveUploadDriver
{
public:
    void checkAndWarnCalendarContactCounts(NS_AppController &controller) override;
    void startNextLiveUpload(NS_AppController &controller) override;
};

// The companion app through the devices layer's installer.
NS_AppController::CompanionAppFactory defaultCompanionAppFactory();

}  // namespace vtrapp
