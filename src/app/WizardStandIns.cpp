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

void DefaultWizardSummaries::buildCheckboxTitles(NS_AppController &controller, bool canMigrateMedia)
{
    // A setter called by an observer while the titles are stored does not
    // rebuild them again.
    if (m_building) return;
    m_building = true;
    QVariantMap titles;
    for (const char *kind : {"calendars", "contacts", "notes", "tasks", "apps"}) {
        const QString key = QString::fromLatin1(kind);
        QString title = key;
        title[0] = title[0].toUpper();
        titles.insert(key, vtrLocalized(title));
        titles.insert(key + QStringLiteral("Info"), vtrLocalized(title));
    }
    struct Media { const char *key; const char *title; const char *cannot; };
    const Media media[] = {{"music", "Music", "Music - cannot transfer music for this device"},
                           {"photos", "Photos", "Photos - cannot transfer photos for this device"},
                           {"videos", "Videos", "Videos - cannot transfer videos for this device"}};
    for (const Media &m : media) {
        titles.insert(QString::fromLatin1(m.key), vtrLocalized(m.title));
        titles.insert(QString::fromLatin1(m.key) + QStringLiteral("Info"),
                      vtrLocalized(canMigrateMedia ? m.title : m.cannot));
    }
    controller.setCheckboxTitles(titles);
    m_building = false;
}

void DefaultWizardSummaries::prepopulateSummary(NS_AppController &c)
{
    c.setAppsSummaryDone(QString());
    c.setCalendarSummaryDone(QString());
    c.setContactsSummaryDone(QString());
    c.setMusicSummaryDone(QString());
    c.setPhotosSummaryDone(QString());
    c.setVideosSummaryDone(QString());
    c.setAppsSummary(c.appsEnabled() && c.appsValue()
                         ? vtrLocalized("%d Apps").replace(QStringLiteral("%d"), QString::number(appListCount()))
                         : vtrLocalized("Skipping Apps"));
    auto line = [](bool chosen, const char *yes, const char *no) { return vtrLocalized(chosen ? yes : no); };
    c.setContactsSummary(line(c.contactsEnabled() && c.contactsValue(), "Contacts", "Skipping Contacts"));
    c.setCalendarSummary(line(c.calendarsEnabled() && c.calendarsValue(), "Calendars", "Skipping Calendars"));
    c.setMusicSummary(line(c.musicEnabled() && c.musicValue(), "Music", "Skipping Music"));
    c.setVideosSummary(line(c.videosEnabled() && c.videosValue(), "Videos", "Skipping Videos"));
    c.setPhotosSummary(line(c.photosEnabled() && c.photosValue(), "Photos", "Skipping Photos"));
    c.updateTimeEstimate();
}

void DefaultWizardSummaries::postpopulateSummary(NS_AppController &c)
{
    if (!(c.appsEnabled() && c.appsValue())) c.setAppsSummary(vtrLocalized("Skipped Apps"));
    if (!(c.contactsEnabled() && c.contactsValue())) c.setContactsSummary(vtrLocalized("Skipped Contacts"));
    if (!(c.calendarsEnabled() && c.calendarsValue())) c.setCalendarSummary(vtrLocalized("Skipped Calendars"));
    if (!(c.musicEnabled() && c.musicValue())) c.setMusicSummary(vtrLocalized("Skipped Music"));
    if (!(c.videosEnabled() && c.videosValue())) c.setVideosSummary(vtrLocalized("Skipped Videos"));
    if (!(c.photosEnabled() && c.photosValue())) c.setPhotosSummary(vtrLocalized("Skipped Photos"));
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
