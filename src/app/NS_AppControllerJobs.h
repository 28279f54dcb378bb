#pragma once

#include "app/MediaTransfer.h"
#include "app/WizardInterfaces.h"
#include "fileinfo/VtrBaseFileInfo.h"
#include "migration/MediaMigrators.h"

#include <QByteArray>
#include <QString>
#include <QVariantMap>

#include <array>
#include <functional>
#include <memory>

class ContactDatabase;
class EventDatabase;
class TaskDatabase;
class NoteDatabase;
class PIMDatabaseDelegate;
class FunctionJob;
class MobileDeviceInterface;
class iAppImporter;

// The wizard's long work: the PIM gathering of state 12, the media backup of
// state 13 and the media copy of state 19, each on a BackgroundJob whose
// completion moves the wizard on or ends it with its alert. The migrators
// and readers live here from their state until the next run replaces them,
// and are the controller's manifest sources.
class NS_AppControllerJobs final : public WizardJobs
{
public:
    NS_AppControllerJobs();
    ~NS_AppControllerJobs() override;

    void createMediaMigrators(NS_AppController &controller, int family) override;
    void scanApps(NS_AppController &controller) override;
    void startTransferPIMFromOldDevice(NS_AppController &controller) override;
    void backupOldDevice(NS_AppController &controller) override;
    void startTransferMediaToNewDevice(NS_AppController &controller) override;
    bool generate(NS_AppController &controller) override;
    bool generateRunning() const { return m_generateJob != nullptr; }

    MediaWork mediaWork(int kind) const override;
    bool hasMediaToCopy(const NS_AppController &controller) const override;

    // The budgets of the copy for a volume with this much free space (the
    // copy counts the space earlier copies take as free): the space after
    // the reserve, and for each included kind its budget (below zero when
    // the reserve is not there), how many of its items fit it, how many
    // there are and the bytes they need; and the bytes of those that fit.
    struct Estimate
    {
        qint64 spaceForMedia = 0;
        std::array<qint64, 3> space{};
        std::array<qint64, 3> need{};
        std::array<int, 3> numToCopy{};
        std::array<int, 3> total{};
        std::array<qint64, 3> toCopy{};
    };
    Estimate estimateWithSpaceOnDevice(qint64 freeSpaceOnVolume, bool includeMusic, bool includePhotos,
                                       bool includeVideos) const;

    const FamilyMediaMigrators &migrators() const { return m_migrators; }
    // Replaces a family's migrators (tests hand in their own).
    void setMigrators(NS_AppController &controller, FamilyMediaMigrators migrators);

    // The media options of the copy: "music"/"photos"/"videos" for the ticked
    // kinds and their "spaceFor..." budgets. The copy clears earlier copies
    // only for the kinds of which it copies something, as far as its copies
    // replace them; kinds that do not fit wholly are named in an alert (the
    // copy goes on).
    QVariantMap prepareMediaOptions(NS_AppController &controller);

    // The importer of a kind for this pair of phones (none for an iPhone).
    static std::unique_ptr<iAppImporter> importerFor(vtrmedia::Kind kind, const MobileDeviceInterface &oldDevice,
                                                     const MobileDeviceInterface &newDevice);
    // A file the companion app left in "solvennawp" on the phone; null when
    // there is none.
    static QByteArray oldDeviceDataFromFileNamed(MobileDeviceInterface &device, const QString &name);
    // The companion app's file of that name on the phone; nullptr when there is none.
    static VtrFileInfoPtr oldDeviceFileNamed(MobileDeviceInterface &device, const QString &name);

    // Asked (on the main thread) before music goes to a library host that
    // is not set up: true to look again, false to skip music. Tests replace it.
    std::function<bool(NS_AppController &)> openITunes;
    // Whether the computer's media library is set up.
    std::function<bool()> libraryHostConfigured;
    // Free bytes on the volume of the new phone's storage folder.
    std::function<qint64(const VtrFileInfoPtr &storage)> freeSpaceOfTarget;
    // The most that volume could have free for this user: all of it but
    // what only the system may use.
    std::function<qint64(const VtrFileInfoPtr &storage)> sizeOfTarget;

private:
    // What a copy of a kind wrote (the migrators' copied files as they lie
    // in the new phone's folders); the media summaries and the report count
    // these once a copy has run.
    struct CopyTally
    {
        bool ran = false;
        int count = 0;
        qint64 bytes = 0;
        // Of those, the copies of earlier runs that stayed beside this run's.
        int earlier = 0;
    };
    // A value for each media kind, for any thread.
    template <typename T> class PerKind;

    // One kind's copy; records what became of it with the controller.
    // `stayed`: the earlier copies of ours its folder holds before it.
    void transferKind(NS_AppController &controller, vtrmedia::Kind kind, qint64 budget, bool askForLibraryHost,
                      const MediaMigrator::EarlierCopies &stayed);
    // The kinds of `options` one after the other. A kind that fails ends the
    // transfer: its line says why, the kinds after it say they never had
    // their turn, and the failure is thrown on with the named cause; a
    // stopped job throws as it is.
    void copyMedia(NS_AppController &controller, const QVariantMap &options, FunctionJob &job, bool askForLibraryHost,
                   bool reportOthers);
    void tallyCopy(vtrmedia::Kind kind, const MediaMigrator::EarlierCopies &stayed);
    // The budgets for `free` bytes free and the earlier copies in the ticked
    // kinds' folders (`earlier`, bytes by kind): as many of those as the
    // copies replace count as free.
    Estimate estimateMakingRoom(qint64 free, std::array<qint64, 3> earlier, const std::array<bool, 3> &ticked) const;
    // How much more to free on the disk of the new phone's `folder` for the
    // next run to move all of the media (`budgets`: what each kind needs;
    // `stopped`: the kinds the library folders stop, still to be backed up)
    // with `free` bytes free there once the earlier copies are cleared
    // (`earlier`: those of each kind's folder), after this run has copied
    // within `spaces` and written all else it writes there.
    qint64 bytesToFreeForAll(const NS_AppController &controller, const QString &folder, qint64 free,
                             const vtrmedia::Budgets &budgets, const std::array<bool, 3> &stopped,
                             const std::array<MediaMigrator::EarlierCopies, 3> &earlier,
                             const std::array<qint64, 3> &spaces) const;
    // The items of `kind` this run copies, within `budget` (negative: all of
    // them): earlier copies of the same files from this phone are made again,
    // so they are no copies this computer would lose.
    QList<MediaItem> madeAgain(vtrmedia::Kind kind, qint64 budget = -1) const;
    // Fresh readers for a run; they are the manifest sources afterwards.
    void createReaders(NS_AppController &controller, bool contacts, bool events);
    static void readContacts(MobileDeviceInterface &oldDevice, const std::shared_ptr<MobileDeviceInterface> &newDevice,
                             ContactDatabase &db, PIMDatabaseDelegate &stowage);
    static void readEvents(MobileDeviceInterface &oldDevice, const std::shared_ptr<MobileDeviceInterface> &newDevice,
                           EventDatabase &db, PIMDatabaseDelegate &stowage);

    FamilyMediaMigrators m_migrators;
    std::shared_ptr<ContactDatabase> m_contacts;
    std::shared_ptr<EventDatabase> m_events;
    std::shared_ptr<TaskDatabase> m_tasks;
    std::shared_ptr<NoteDatabase> m_notes;
    FunctionJob *m_generateJob = nullptr;  // owned by the controller while it runs
    std::shared_ptr<class PIMStowage> m_stowage;
    std::shared_ptr<PerKind<CopyTally>> m_tallies;
    // Why a kind's backup failed (empty: it did not); read when it is copied.
    std::shared_ptr<PerKind<QString>> m_backupFailures;
};
