#include "app/NS_AppControllerJobs.h"

#include "app/BackgroundJob.h"
#include "app/NS_AppController.h"
#include "devices/phone/MobileDevice.h"
#include "devices/phone/MobileDeviceProxy.h"
#include "devices/phone/WindowsPhone7LocalDevice.h"
#include "fileinfo/VtrMacFileInfo.h"
#include "foundation/Log.h"
#include "foundation/MigrationStatus.h"
#include "migration/iAppImporter.h"
#include "pim/ContactDatabase.h"
#include "pim/EventDatabase.h"
#include "pim/NoteDatabase.h"
#include "pim/PIMDatabaseDelegate.h"
#include "pim/TaskDatabase.h"
#include "platform/Strings.h"
#include "platform/VtrException.h"
#include "sources/host/MediaLibraryHost.h"

#include <QDir>
#include <QFileInfo>

namespace {

const char *const kKindKeys[] = {"music", "photos", "videos"};
const char *const kSpaceKeys[] = {"spaceForMusic", "spaceForPhotos", "spaceForVideos"};

const QString &phaseOf(vtrmedia::Kind kind)
{
    static const QString *const phases[] = {&vtrphase::Music, &vtrphase::Photos, &vtrphase::Videos};
    return *phases[kind];
}

bool kindTicked(const NS_AppController &c, vtrmedia::Kind kind)
{
    switch (kind) {
    case vtrmedia::Music: return c.musicEnabled() && c.musicValue();
    case vtrmedia::Photos: return c.photosEnabled() && c.photosValue();
    case vtrmedia::Videos: break;
    }
    return c.videosEnabled() && c.videosValue();
}

std::shared_ptr<MediaMigrator> migratorOf(const FamilyMediaMigrators &m, vtrmedia::Kind kind)
{
    switch (kind) {
    case vtrmedia::Music: return m.music;
    case vtrmedia::Photos: return m.photos;
    case vtrmedia::Videos: break;
    }
    return m.videos;
}

VtrFileInfoPtr targetFolderOf(MobileDeviceInterface &device, vtrmedia::Kind kind)
{
    switch (kind) {
    case vtrmedia::Music: return device.preferredMusicFolder();
    case vtrmedia::Photos: return device.preferredPhotosFolder();
    case vtrmedia::Videos: break;
    }
    return device.preferredVideosFolder();
}

class ManifestOf final : public ManifestInfoSource
{
public:
    explicit ManifestOf(std::function<QVariantMap()> read) : m_read(std::move(read)) {}
    QVariantMap manifestInfo() const override { return m_read(); }

private:
    std::function<QVariantMap()> m_read;
};

template <typename T>
std::shared_ptr<ManifestInfoSource> manifestOf(const std::shared_ptr<T> &object)
{
    if (!object) return nullptr;
    return std::make_shared<ManifestOf>([object] { return object->manifestInfo(); });
}

// The fatal end of a job: one "Quit" button, the product and the reason.
void fatalJobAlert(NS_AppController &c, const QString &title, const QVariantMap &result)
{
    AlertRequest request;
    request.messageText = title;
    request.informativeText = vtrLocalized("You will have to restart %@ and try again.\n\n(%@)");
    request.informativeText.replace(request.informativeText.indexOf(QStringLiteral("%@")), 2,
                                    QStringLiteral("Solvenna to Windows Phone"));
    request.informativeText.replace(request.informativeText.indexOf(QStringLiteral("%@")), 2,
                                    BackgroundJob::resultReason(result));
    request.buttons = {vtrLocalized("Quit")};
    request.beep = true;
    request.style = AlertRequest::Style::Critical;
    c.runAlert(request);
    c.terminate();
}

// A job's migrator answers to the job's stop flag only while the job runs.
struct CancelCheckRelease
{
    std::shared_ptr<MediaMigrator> migrator;
    ~CancelCheckRelease()
    {
        if (migrator) migrator->setCancelCheck({});
    }
};

QVariantMap failure(const VtrException &e, const QString &message = QString())
{
    return BackgroundJob::failureResult(e, message);
}

// The readers hand their Windows Live bodies and progress to the controller.
}  // namespace

class PIMStowage final : public PIMDatabaseDelegate, public MigrationStatusProtocol
{
public:
    explicit PIMStowage(NS_AppController &c) : m_c(c) {}
    void stowContacts(const QVariantList &contacts, const QVariantList &groups) override
    {
        m_c.stowContacts(contacts, groups);
    }
    void stowCalendars(const QVariantList &calendars) override { m_c.stowCalendars(calendars); }
    void stowNotes(const QVariantList &notes) override { m_c.stowNotes(notes); }
    void stowTasks(const QVariantList &tasks) override { m_c.stowTasks(tasks); }
    void setStatus(const QString &s, const QString &p, double v) override { m_c.setStatus(s, p, v); }
    void setStatusNow(const QString &s, const QString &p, double v) override { m_c.setStatusNow(s, p, v); }

private:
    NS_AppController &m_c;
};

NS_AppControllerJobs::NS_AppControllerJobs()
{
    libraryHostConfigured = [] { return MediaLibraryHost::shared().isConfigured(); };
    freeSpaceOfTarget = [](const VtrFileInfoPtr &storage) { return storage ? storage->freeSpaceOnVolume() : 0; };
    openITunes = [](NS_AppController &c) {
        AlertRequest request;
        request.messageText = vtrLocalized("iTunes has not been configured yet.");
        request.informativeText =
            vtrLocalized("Configure iTunes then click \"OK\" to finish moving music or click \"Skip Music\" move on "
                         "and not move music to your new device.");
        request.buttons = {vtrLocalized("OK"), vtrLocalized("Skip Music")};
        request.beep = true;
        return c.runAlert(request) == 0;
    };
    // An unfinished copy that a folder turned read-only kept goes at the
    // next start, once the folder can be written again.
    MediaMigrator::removeUnfinishedCopies(
        VtrMacFileInfo::fileInfoWithPath(WindowsPhone7LocalDevice::storageFolderPath()));
}

NS_AppControllerJobs::~NS_AppControllerJobs() = default;

// ---- migrators -------------------------------------------------------------------------------------------

void NS_AppControllerJobs::createMediaMigrators(NS_AppController &controller, int family)
{
    setMigrators(controller, createMediaMigratorsForFamily(family, controller.oldDeviceProxy()));
}

void NS_AppControllerJobs::setMigrators(NS_AppController &controller, FamilyMediaMigrators migrators)
{
    m_migrators = std::move(migrators);
    controller.setManifestSource(NS_AppController::ManifestKind::Music, manifestOf(m_migrators.music));
    controller.setManifestSource(NS_AppController::ManifestKind::Photos, manifestOf(m_migrators.photos));
    controller.setManifestSource(NS_AppController::ManifestKind::Videos, manifestOf(m_migrators.videos));
}

void NS_AppControllerJobs::scanApps(NS_AppController &controller)
{
    // The app list is prepared by the summaries; this step only moves on,
    // from the event loop rather than from inside the state's own work.
    NS_AppController *c = &controller;
    controller.performAfterDelay(QStringLiteral("scanAppsDone"), 0, [c] { c->gotoNextState(); });
}

// ---- state 12: contacts, calendars, to-dos ----------------------------------------------------------------

QByteArray NS_AppControllerJobs::oldDeviceDataFromFileNamed(MobileDeviceInterface &device, const QString &name)
{
    const VtrFileInfoPtr file = oldDeviceFileNamed(device, name);
    return file ? file->fileContents() : QByteArray();
}

VtrFileInfoPtr NS_AppControllerJobs::oldDeviceFileNamed(MobileDeviceInterface &device, const QString &name)
{
    auto lookIn = [&name](const VtrFileInfoPtr &storage) -> VtrFileInfoPtr {
        if (!storage) return nullptr;
        const VtrFileInfoPtr folder = storage->find(QStringLiteral("solvennawp"));
        if (!folder || !folder->isFolder()) return nullptr;
        const VtrFileInfoPtr file = folder->find(name);
        return file && file->exists() && file->isFile() ? file : nullptr;
    };
    VtrFileInfoPtr file;
    if (device.hasMTPConnection()) {
        if (device.mtpUseInternalStorage()) file = lookIn(device.preferredStorageInfo());
        if (!file && device.mtpUseExternalStorage()) file = lookIn(device.preferredStorageInfo());
    } else {
        for (const VtrFileInfoPtr &storage : device.storageFileInfos())
            if ((file = lookIn(storage))) break;
    }
    return file;
}

// An Android phone's companion app left its lists on the phone; the other
// families are read through the synchronisation store.
void NS_AppControllerJobs::readContacts(MobileDeviceInterface &oldDevice,
                                        const std::shared_ptr<MobileDeviceInterface> &newDevice,
                                        ContactDatabase &db, PIMDatabaseDelegate &stowage)
{
    db.setTargetDevice(newDevice);
    if (!oldDevice.isAndroidDevice()) {
        db.runDatabaseDump();
        return;
    }
    // The file is read a line at a time: it may hold very many contacts.
    const VtrFileInfoPtr file = oldDeviceFileNamed(oldDevice, QStringLiteral("nroid_con.json"));
    stowage.stowContacts(file ? db.windowsLiveContactsFromFile(file).value_or(QVariantList())
                              : db.windowsLiveContactsWithData(QByteArray()).value_or(QVariantList()),
                         {});
}

void NS_AppControllerJobs::readEvents(MobileDeviceInterface &oldDevice,
                                      const std::shared_ptr<MobileDeviceInterface> &newDevice, EventDatabase &db,
                                      PIMDatabaseDelegate &stowage)
{
    db.setTargetDevice(newDevice);
    if (!oldDevice.isAndroidDevice()) {
        db.runDatabaseDump();
        return;
    }
    const QByteArray data = oldDeviceDataFromFileNamed(oldDevice, QStringLiteral("nroid_cal.json"));
    stowage.stowCalendars(db.windowsLiveCalendarsAndEventsWithData(data).value_or(QVariantList()));
}

void NS_AppControllerJobs::createReaders(NS_AppController &controller, bool contacts, bool events)
{
    m_stowage = std::make_shared<PIMStowage>(controller);
    m_contacts = std::make_shared<ContactDatabase>(m_stowage.get());
    m_events = std::make_shared<EventDatabase>(m_stowage.get());
    m_tasks = std::make_shared<TaskDatabase>(m_stowage.get());
    m_notes = std::make_shared<NoteDatabase>(m_stowage.get());
    controller.setManifestSource(NS_AppController::ManifestKind::Contacts, contacts ? manifestOf(m_contacts) : nullptr);
    controller.setManifestSource(NS_AppController::ManifestKind::Events, events ? manifestOf(m_events) : nullptr);
    controller.setManifestSource(NS_AppController::ManifestKind::Tasks, manifestOf(m_tasks));
    controller.setManifestSource(NS_AppController::ManifestKind::Notes, manifestOf(m_notes));
}

void NS_AppControllerJobs::startTransferPIMFromOldDevice(NS_AppController &controller)
{
    const bool contacts = controller.contactsValue();
    const bool events = controller.calendarsValue();
    const bool tasks = controller.tasksValue();
    createReaders(controller, contacts, events);

    NS_AppController *c = &controller;
    const std::shared_ptr<MobileDeviceInterface> oldDevice = controller.oldDeviceProxy();
    const std::shared_ptr<MobileDeviceInterface> newDevice = controller.newDevice();
    auto contactsDb = m_contacts;
    auto eventsDb = m_events;
    auto tasksDb = m_tasks;
    auto stowage = m_stowage;
    auto *job = new FunctionJob([=](FunctionJob &) -> QVariantMap {
        QString errorText;
        try {
            if (contacts) {
                errorText = vtrLocalized("An error occurred while reading your contacts from the device.");
                c->setStatusNow(QString(), vtrphase::Contacts, -2.0);
                readContacts(*oldDevice, newDevice, *contactsDb, *stowage);
                c->setStatusNow(QString(), vtrphase::Contacts, 1.0);
            }
            if (events) {
                errorText = vtrLocalized("An error occurred while reading your calendars from the device.");
                c->setStatusNow(QString(), vtrphase::Events, -2.0);
                readEvents(*oldDevice, newDevice, *eventsDb, *stowage);
                c->setStatusNow(QString(), vtrphase::Events, 1.0);
            }
            if (tasks) {
                errorText = vtrLocalized("An error occurred while reading your tasks from the device.");
                c->setStatusNow(QString(), vtrphase::Tasks, -2.0);
                tasksDb->setTargetDevice(newDevice);
                tasksDb->runDatabaseDump();
                c->setStatusNow(QString(), vtrphase::Tasks, 1.0);
            }
        } catch (const VtrException &e) {
            return failure(e, errorText);
        }
        return BackgroundJob::successResult();
    });
    job->setWaitsForCompletion(true);
    controller.runJob(job, [c](const QVariantMap &result) {
        if (BackgroundJob::resultSucceeded(result)) {
            c->gotoNextState();
            return;
        }
        // A failure outside the three steps' own exceptions names no step.
        QString title = result.value(QStringLiteral("errorMsg")).toString();
        if (title.isEmpty()) title = vtrLocalized("An error occurred while reading your data from the device.");
        fatalJobAlert(*c, title, result);
    });
}

// ---- state 13: the media backup -----------------------------------------------------------------------------

void NS_AppControllerJobs::backupOldDevice(NS_AppController &controller)
{
    NS_AppController *c = &controller;
    struct Kind
    {
        std::shared_ptr<MediaMigrator> migrator;
        bool ticked;
        QString phase;
        QString title;
    };
    QList<Kind> kinds;
    for (const vtrmedia::Kind k : {vtrmedia::Music, vtrmedia::Photos, vtrmedia::Videos})
        kinds.append({migratorOf(m_migrators, k), kindTicked(controller, k), phaseOf(k),
                      vtrLocalized(QStringLiteral("An error occurred while backing up %1. If you continue, all of your "
                                                  "data might not transfer to your new device.")
                                       .arg(QLatin1String(kKindKeys[k])))});
    auto *job = new FunctionJob([c, kinds](FunctionJob &job) -> QVariantMap {
        for (const Kind &kind : kinds) {
            if (!kind.ticked || !kind.migrator) {
                c->setStatusNow(QString(), kind.phase, 0.0);
                continue;
            }
            kind.migrator->setCancelCheck([&job] { return job.isCancelled(); });
            try {
                kind.migrator->backupOldDeviceWithStatus(c);
                kind.migrator->setCancelCheck({});
                c->setStatusNow(QString(), kind.phase, 1.0);
            } catch (const VtrException &e) {
                kind.migrator->setCancelCheck({});
                if (job.isCancelled()) throw;
                if (c->showAlertOnMainThread(kind.title, e) == 0) {
                    c->runOnMainAndWait([c] { c->terminate(); });
                    return BackgroundJob::failureResult(e);
                }
            }
        }
        return BackgroundJob::successResult();
    });
    controller.runJob(job, [c](const QVariantMap &result) {
        if (c->isTerminated()) return;
        if (!BackgroundJob::resultSucceeded(result)) {
            fatalJobAlert(*c, vtrLocalized("An error occurred while backing up your old device."), result);
            return;
        }
        c->setStatusNow(vtrLocalized("Done."), vtrphase::Misc, 1.0);
        c->gotoNextState();
    });
}

// ---- state 19: the media copy -----------------------------------------------------------------------------

QVariantMap NS_AppControllerJobs::prepareMediaOptions(NS_AppController &controller)
{
    QVariantMap options;
    const std::shared_ptr<MobileDeviceInterface> target = controller.newDevice();
    if (target) MediaMigrator::removeUnfinishedCopies(target->preferredStorageInfo());
    vtrmedia::Budgets budgets;
    qint64 reclaimable = 0;
    for (const vtrmedia::Kind k : {vtrmedia::Music, vtrmedia::Photos, vtrmedia::Videos}) {
        if (!kindTicked(controller, k)) continue;
        options.insert(QLatin1String(kKindKeys[k]), true);
        budgets[k].included = true;
        const std::shared_ptr<MediaMigrator> migrator = migratorOf(m_migrators, k);
        budgets[k].need = migrator ? migrator->sizeOfItemsToCopy() : 0;
        if (target) reclaimable += MediaMigrator::bytesOfEarlierCopies(targetFolderOf(*target, k));
    }
    if (options.isEmpty() || !target) return options;

    // The space the earlier copies take counts as free: they are cleared
    // before the copy, but only for the kinds that get any budget.
    const VtrFileInfoPtr storage = target->preferredStorageInfo();
    const qint64 free = freeSpaceOfTarget(storage);
    vtrmedia::shareBudget(free + reclaimable - vtrmedia::kReservedBytes, budgets);

    QStringList starved;
    for (const vtrmedia::Kind k : {vtrmedia::Music, vtrmedia::Photos, vtrmedia::Videos}) {
        if (!budgets[k].included) continue;
        options.insert(QLatin1String(kSpaceKeys[k]), budgets[k].space);
        if (budgets[k].space <= 0 && budgets[k].need > 0)
            starved.append(vtrLocalized(QString::fromLatin1(kKindKeys[k])));
        else
            MediaMigrator::clearEarlierCopies(targetFolderOf(*target, k));
    }
    if (!starved.isEmpty()) {
        AlertRequest request;
        request.messageText = vtrLocalized("There is not enough space on your new device for all of your media.");
        request.informativeText =
            vtrLocalized("These kinds will not be copied: %@.").replace(QStringLiteral("%@"), starved.join(QStringLiteral(", ")));
        request.buttons = {vtrLocalized("OK")};
        request.style = AlertRequest::Style::Informational;
        controller.runAlert(request);
    }
    return options;
}

std::unique_ptr<iAppImporter> NS_AppControllerJobs::importerFor(vtrmedia::Kind kind,
                                                                const MobileDeviceInterface &oldDevice,
                                                                const MobileDeviceInterface &newDevice)
{
    if (oldDevice.isAppleDevice() || !newDevice.isWindowsPhone7Device()) return nullptr;
    if (kind == vtrmedia::Photos) return std::make_unique<iPhotoImporter>();
    return std::make_unique<iTunesImporter>();
}

void NS_AppControllerJobs::transferKind(NS_AppController &controller, vtrmedia::Kind kind, qint64 budget,
                                        bool askForLibraryHost)
{
    static const char *const collecting[] = {"Collecting music information...", "Collecting photos information...",
                                             "Collecting videos information..."};
    controller.setStatusNow(vtrLocalized(collecting[kind]), phaseOf(kind), 0.0);
    const std::shared_ptr<MediaMigrator> migrator = migratorOf(m_migrators, kind);
    const std::shared_ptr<MobileDeviceInterface> target = controller.newDevice();
    if (!migrator || !target) return;
    const std::shared_ptr<MobileDeviceInterface> oldDevice = controller.oldDeviceProxy();
    std::unique_ptr<iAppImporter> importer = importerFor(kind, *oldDevice, *target);
    if (kind == vtrmedia::Music && importer && askForLibraryHost) {
        while (!libraryHostConfigured()) {
            bool again = false;
            if (!controller.runOnMainAndWait([&] { again = openITunes(controller); }) || !again) {
                VTR_LOG(2, QStringLiteral("Couldn't access iTunes. Skipping music."));
                return;
            }
        }
    }
    migrator->copyToDevice(target, budget, &controller, importer.get());
}

void NS_AppControllerJobs::startTransferMediaToNewDevice(NS_AppController &controller)
{
    const QVariantMap options = prepareMediaOptions(controller);
    NS_AppController *c = &controller;
    auto *job = new FunctionJob([this, c, options](FunctionJob &job) -> QVariantMap {
        try {
            for (const vtrmedia::Kind k : {vtrmedia::Music, vtrmedia::Photos, vtrmedia::Videos}) {
                if (!options.contains(QLatin1String(kKindKeys[k]))) {
                    c->setStatusNow(QString(), phaseOf(k), 0.0);
                    continue;
                }
                const std::shared_ptr<MediaMigrator> migrator = migratorOf(m_migrators, k);
                if (migrator) migrator->setCancelCheck([&job] { return job.isCancelled(); });
                const CancelCheckRelease release{migrator};
                transferKind(*c, k, options.value(QLatin1String(kSpaceKeys[k])).toLongLong(), true);
                c->setStatusNow(QString(), phaseOf(k), 1.0);
            }
        } catch (const VtrException &e) {
            return failure(e);
        }
        return BackgroundJob::successResult();
    });
    job->setWaitsForCompletion(true);
    controller.runJob(job, [c](const QVariantMap &result) {
        if (BackgroundJob::resultSucceeded(result)) {
            c->gotoNextState();
            return;
        }
        fatalJobAlert(*c, vtrLocalized("An error occurred while transferring media to your new device."), result);
    });
}

// ---- the one-step transfer -------------------------------------------------------------------------------

bool NS_AppControllerJobs::generate(NS_AppController &controller)
{
    // The button is off while a job runs; a second press queued before that
    // must not start a second copy into the same folders.
    if (m_generateJob) return false;
    const std::shared_ptr<MobileDeviceInterface> newDevice = controller.newDevice();
    const std::shared_ptr<MobileDeviceInterface> oldDevice = controller.oldDeviceProxy();
    if (!newDevice || !oldDevice) return false;
    const bool contacts = controller.contactsValue();
    const bool events = controller.calendarsValue();
    const QVariantMap media = prepareMediaOptions(controller);
    createReaders(controller, contacts, events);

    NS_AppController *c = &controller;
    auto contactsDb = m_contacts;
    auto eventsDb = m_events;
    auto stowage = m_stowage;
    auto *job = new FunctionJob([=, this](FunctionJob &job) -> QVariantMap {
        try {
            // Calendars come before contacts on this road.
            if (events) readEvents(*oldDevice, newDevice, *eventsDb, *stowage);
            if (contacts) readContacts(*oldDevice, newDevice, *contactsDb, *stowage);
            for (const vtrmedia::Kind k : {vtrmedia::Music, vtrmedia::Photos, vtrmedia::Videos}) {
                if (!media.contains(QLatin1String(kKindKeys[k]))) continue;
                const std::shared_ptr<MediaMigrator> migrator = migratorOf(m_migrators, k);
                if (migrator) migrator->setCancelCheck([&job] { return job.isCancelled(); });
                const CancelCheckRelease release{migrator};
                // This road never stops to ask for the media library host.
                transferKind(*c, k, media.value(QLatin1String(kSpaceKeys[k])).toLongLong(), false);
            }
            c->setStatusNow(vtrLocalized("Finishing..."), vtrphase::Misc, 0.99);
        } catch (const VtrException &e) {
            return failure(e);
        }
        return BackgroundJob::successResult();
    });
    job->setWaitsForCompletion(true);
    m_generateJob = job;
    controller.runJob(job, [this, c](const QVariantMap &result) {
        m_generateJob = nullptr;
        if (!BackgroundJob::resultSucceeded(result)) {
            fatalJobAlert(*c, vtrLocalized("An error occurred while transferring to your new device."), result);
            return;
        }
        const QString reportError = c->buildManifestReport();
        if (!reportError.isEmpty()) {
            AlertRequest request;
            request.messageText = reportError;
            request.informativeText = vtrLocalized("Your data was moved; only the report of what was moved is missing.");
            request.buttons = {vtrLocalized("OK")};
            request.style = AlertRequest::Style::Warning;
            c->runAlert(request);
        }
        c->nextButtonSetEnabled(true);
    });
    return true;
}
