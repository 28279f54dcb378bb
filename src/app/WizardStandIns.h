#pragma once

#include "app/NS_AppController.h"
#include "app/WizardInterfaces.h"

// What the wizard does in the states whose real work is not in this build:
// every step reports its phases and completes, so the wizard can be walked
// from the intro to the end. The real environment checks, jobs, Live upload
// and summaries take their seats through the controller's setters.
namespace vtrapp {

class StandInWizardJobs final : public WizardJobs
{
public:
    void createMediaMigrators(NS_AppController &, int) override {}
    void scanApps(NS_AppController &controller) override;
    void startTransferPIMFromOldDevice(NS_AppController &controller) override;
    void backupOldDevice(NS_AppController &controller) override;
    void startTransferMediaToNewDevice(NS_AppController &controller) override;
};

class StandInLiveUploadDriver final : public LiveUploadDriver
{
public:
    void checkAndWarnCalendarContactCounts(NS_AppController &controller) override;
    void startNextLiveUpload(NS_AppController &controller) override;
};

// The check-box titles and the two summary passes.
class DefaultWizardSummaries final : public WizardSummaries
{
public:
    void buildCheckboxTitles(NS_AppController &controller, bool canMigrateMedia) override;
    void prepopulateSummary(NS_AppController &controller) override;
    void postpopulateSummary(NS_AppController &controller) override;
    int appListCount() const override { return 0; }
    bool shouldDoIPhoneAppReferral() const override { return false; }
    bool shouldDoBlackberryAppReferral() const override { return false; }
    bool shouldDoAndroidAppReferral() const override { return false; }

private:
    bool m_building = false;
};

// The companion app through the devices layer's installer.
NS_AppController::CompanionAppFactory defaultCompanionAppFactory();

}  // namespace vtrapp
