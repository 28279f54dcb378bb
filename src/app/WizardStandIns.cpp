#include "app/WizardStandIns.h"

#include "app/BackgroundJob.h"
#include "devices/phone/AndroidDeviceClient.h"
#include "fileinfo/VtrBaseFileInfo.h"
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
    explicit DeviceCompanionApp(std::shared_ptr<MobileDeviceInterface> device)
        : m_device(device), m_client(std::move(device))
    {}
    bool pushApk() override { return m_client.pushApk(); }
    bool apkIsDone() override { return m_client.apkIsDone(); }
    Progress apkProgress() override
    {
        if (m_client.apkIsDone()) return Progress::Done;
        // A phone's storage always holds folders of its own: one that lists
        // nothing at all could not be read (a failed listing answers empty).
        if (!m_device || !m_device->isConnected()) return Progress::PhoneUnreadable;
        for (const VtrFileInfoPtr &storage : m_device->storageFileInfos())
            if (storage && !storage->folderContents().isEmpty()) return Progress::NotYet;
        return Progress::PhoneUnreadable;
    }

private:
    std::shared_ptr<MobileDeviceInterface> m_device;
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
