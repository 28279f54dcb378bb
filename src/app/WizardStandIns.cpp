#include "app/WizardStandIns.h"

#include "app/BackgroundJob.h"
#include "devices/phone/AndroidDeviceClient.h"
#include "foundation/Log.h"
#include "foundation/MigrationStatus.h"
#include "platform/Strings.h"

namespace vtrapp {

// Moves on from the event loop, as a finished job would, not from inside the
// state's own work.
static void advanceSoon(NS_AppController &controller)
{
    NS_AppController *c = &controller;
    controller.performAfterDelay(QStringLiteral("gotoNextState"), 300, [c] { c->gotoNextState(); });
}

void StandInLiveUploadDriver::checkAndWarnCalendarContactCounts(NS_AppController &controller)
{
    controller.gotoNextState();
}

void StandInLiveUploadDriver::startNextLiveUpload(NS_AppController &controller)
{
    VTR_LOG(4, QStringLiteral("The Windows Live upload is not part of this run; the step completes at once."));
    // The kinds were read, and go nowhere: their lines say so and why.
    const struct
    {
        bool chosen;
        const QString &phase;
    } kinds[] = {{controller.contactsEnabled() && controller.contactsValue(), vtrphase::Contacts},
                 {controller.calendarsEnabled() && controller.calendarsValue(), vtrphase::Events}};
    for (const auto &kind : kinds) {
        if (!kind.chosen) continue;
        // A kind that could not be read keeps saying why; one with nothing
        // in it has nothing that could have gone anywhere.
        if (controller.kindResult(kind.phase).outcome == NS_AppController::Outcome::Pending &&
            !controller.kindHeldNothing(kind.phase))
            controller.setKindResult(kind.phase, NS_AppController::Outcome::NotMoved,
                                     vtrLocalized("Windows Live is not used with a simulated phone."));
        controller.setStatusNow(QString(), kind.phase, 1.0);
    }
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
    Progress apkProgress() override
    {
        switch (m_client.apkProgress()) {
        case AndroidDeviceClient::Progress::Done: return Progress::Done;
        case AndroidDeviceClient::Progress::NotYet: return Progress::NotYet;
        case AndroidDeviceClient::Progress::PhoneUnreadable: break;
        }
        return Progress::PhoneUnreadable;
    }

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
