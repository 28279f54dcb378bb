#include "app/WizardStandIns.h"

#include "app/BackgroundJob.h"
#include "devices/phone/AndroidDeviceClient.h"
#include "foundation/Log.h"
#include "platform/Strings.h"

namespace vtrapp {
namespace {

// Reports each phase as started and done on a job's thread, then moves on.
void runPhases(NS_AppController &controller, const QList<QString> &phases, const QString &what)
{
    VTR_LOG(4, QStringLiteral("%1 is not part of this build; the step completes at once.").arg(what));
    NS_AppController *c = &controller;
    controller.runJob(new FunctionJob([c, phases](FunctionJob &) {
                          for (const QString &phase : phases) {
                              c->setStatusNow(QString(), phase, 0.0);
                              c->setStatusNow(QString(), phase, 1.0);
                          }
                          return BackgroundJob::successResult();
                      }),
                      [c](const QVariantMap &) { c->gotoNextState(); });
}

QList<QString> chosenMedia(const NS_AppController &c)
{
    QList<QString> phases;
    if (c.musicEnabled() && c.musicValue()) phases.append(vtrphase::Music);
    if (c.photosEnabled() && c.photosValue()) phases.append(vtrphase::Photos);
    if (c.videosEnabled() && c.videosValue()) phases.append(vtrphase::Videos);
    return phases;
}

}  // namespace

// Moves on from the event loop, as a finished job would, not from inside the
// state's own work.
static void advanceSoon(NS_AppController &controller)
{
    NS_AppController *c = &controller;
    controller.performAfterDelay(QStringLiteral("gotoNextState"), 300, [c] { c->gotoNextState(); });
}

void StandInWizardJobs::scanApps(NS_AppController &controller) { advanceSoon(controller); }

void StandInWizardJobs::startTransferPIMFromOldDevice(NS_AppController &controller)
{
    QList<QString> phases;
    if (controller.contactsValue()) phases.append(vtrphase::Contacts);
    if (controller.calendarsValue()) phases.append(vtrphase::Events);
    runPhases(controller, phases, QStringLiteral("Reading contacts and calendars"));
}

void StandInWizardJobs::backupOldDevice(NS_AppController &controller)
{
    runPhases(controller, chosenMedia(controller) << vtrphase::Misc, QStringLiteral("Backing up media"));
}

void StandInWizardJobs::startTransferMediaToNewDevice(NS_AppController &controller)
{
    runPhases(controller, chosenMedia(controller), QStringLiteral("Copying media"));
}

void StandInLiveUploadDriver::checkAndWarnCalendarContactCounts(NS_AppController &controller)
{
    controller.gotoNextState();
}

void StandInLiveUploadDriver::startNextLiveUpload(NS_AppController &controller)
{
    VTR_LOG(4, QStringLiteral("The Windows Live upload is not part of this build; the step completes at once."));
    controller.setLivePIMState(2);
    advanceSoon(controller);
}

namespace {
class DeviceCompanionApp final : public CompanionApp
{
public:
    explicit DeviceCompanionApp(std::shared_ptr<MobileDeviceInterface> device) : m_client(std::move(device)) {}
    bool pushApk() override { return m_client.pushApk(); }
    bool apkIsDone() override { return m_client.apkIsDone(); }

private:
    AndroidDeviceClient m_client;
};
}  // namespace

NS_AppController::CompanionAppFactory defaultCompanionAppFactory()
{
    return [](std::shared_ptr<MobileDeviceInterface> device) -> std::shared_ptr<CompanionApp> {
        return std::make_shared<DeviceCompanionApp>(std::move(device));
    };
}

}  // namespace vtrapp
