#include "app/NS_AppControllerJobs.h"

#include "app/BackgroundJob.h"
#include "app/EnvironmentChecks.h"
#include "app/NS_AppController.h"
#include "devices/phone/MobileDevice.h"
#include "devices/phone/MobileDeviceProxy.h"
#include "devices/phone/WindowsPhone7LocalDevice.h"
#include "fileinfo/VtrMacFileInfo.h"
#include "foundation/Log.h"
#include "foundation/MigrationStatus.h"
#include "foundation/Saturating.h"
#include "migration/PhoneReads.h"
#include "migration/iAppImporter.h"
#include "pim/ContactDatabase.h"
#include "pim/EventDatabase.h"
#include "pim/NoteDatabase.h"
#include "pim/PIMDatabaseDelegate.h"
#include "pim/TaskDatabase.h"
#include "pim/store/SyncStore.h"
#include "platform/Folders.h"
#include "platform/Strings.h"
#include "platform/VtrException.h"
#include "sources/host/MediaLibraryHost.h"
#include "sources/iphone/iPhoneMusic.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStorageInfo>

#include <algorithm>
#include <limits>
#include <mutex>

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

const char *const kKindKeys[] = {"music", "photos", "videos"};
const char *const kSpaceKeys[] = {"spaceForMusic", "spaceForPhotos", "spaceForVideos"};
// The kinds whose earlier copies the copy clears before it starts.
const char *const kClearKeys[] = {"clearMusic", "clearPhotos", "clearVideos"};
// The kinds whose earlier copies this computer has nowhere else the person
// let the clearing take.
const char *const kRemoveSoleCopiesKey = "removeSoleCopies";

// Reads of the old phone's files: a second try unless the phone has gone.
PhoneReads readsFrom(const MobileDeviceInterface &oldDevice)
{
    return {{}, [&oldDevice] { return !oldDevice.isConnected(); }};
}

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

// Asks whether the earlier copies in the new phone's folder that this
// computer holds nowhere else (`sole`: files per kind) may go; true: yes.
bool removeSoleCopies(NS_AppController &c, const QString &folder, const std::array<int, 3> &sole)
{
    static const char *const one[] = {"1 song", "1 photo", "1 video"};
    static const char *const many[] = {"%1 songs", "%1 photos", "%1 videos"};
    QStringList kinds;
    int files = 0;
    for (const vtrmedia::Kind k : {vtrmedia::Music, vtrmedia::Photos, vtrmedia::Videos}) {
        if (sole[k] <= 0) continue;
        kinds << (sole[k] == 1 ? vtrLocalized(one[k]) : vtrLocalized(many[k]).arg(sole[k]));
        files += sole[k];
    }
    AlertRequest request;
    request.messageText = vtrLocalized("Files of an earlier transfer are only in your new device's folder.");
    const QString what = kinds.join(QStringLiteral(", "));
    request.informativeText =
        (files == 1 ? vtrLocalized("1 file (%1) that an earlier transfer put into \"%2\" is nowhere else on this "
                                   "computer.")
                          .arg(what, QDir::cleanPath(folder))
                    : vtrLocalized("%1 files (%2) that an earlier transfer put into \"%3\" are nowhere else on this "
                                   "computer.")
                          .arg(QString::number(files), what, QDir::cleanPath(folder))) +
        QStringLiteral("\n\n") + vtrLocalized("This transfer removes them to make room, unless you keep them.");
    request.buttons = {vtrLocalized("Keep Them"), vtrLocalized("Remove Them")};
    request.cancelButton = 0;
    request.beep = true;
    // A wizard that closes meanwhile keeps them.
    int answer = 0;
    c.runOnMainAndWait([&] { answer = c.runAlert(request); });
    VTR_LOG(2, QStringLiteral("%1 files of an earlier transfer in \"%2\" have no other copy on this computer (%3): "
                              "the person %4.")
                   .arg(files)
                   .arg(folder, what, answer == 1 ? QStringLiteral("lets them go") : QStringLiteral("keeps them")));
    return answer == 1;
}

// A sentence of the log or the report as a part of a summary line: "The
// songs ... library." reads "the songs ... library" after "Done (".
QString asClause(const QString &sentence) { return vtrenv::asClause(sentence); }

// Why the library cannot take a kind's files, as the system says it: the
// kind's own library folder cannot be written, or (music and videos, whose
// library needs all of its folders) another of them cannot be made.
QString libraryFolderProblem(vtrmedia::Kind kind)
{
    static const QStandardPaths::StandardLocation own[] = {QStandardPaths::MusicLocation, QStandardPaths::PicturesLocation,
                                                           QStandardPaths::MoviesLocation};
    QString folder = QStandardPaths::writableLocation(own[kind]);
    vtrenv::WriteProblem problem = folder.isEmpty() ? vtrenv::WriteProblem() : vtrenv::writeProblem(folder);
    if (problem.isEmpty() && kind != vtrmedia::Photos) {
        folder = vtrenv::blockedLibraryFolder();
        if (!folder.isEmpty()) problem = vtrenv::writeProblem(folder);
    }
    return problem.isEmpty() ? QString() : asClause(vtrenv::describeWriteProblem(problem, folder));
}

// Why the library's folders that refused files (a collection's, an album's)
// cannot be filed into, each with what to do about it; empty when none of
// them stands in the way now.
QString refusedFoldersProblem(const iAppImporter &importer)
{
    QStringList said;
    for (const QString &folder : importer.refusedFolders()) {
        const vtrenv::WriteProblem problem = vtrenv::ownItemProblem(folder);
        if (!problem.isEmpty())
            said << asClause(vtrenv::describeOwnItemProblem(problem)) + QStringLiteral(". ") + vtrenv::remedyFor(problem);
    }
    return said.join(QStringLiteral("; "));
}

// The playlists whose files the library could not write, by the folder they
// belong in: which they are, why, and what to do, after which the next
// transfer writes them.
QStringList unwrittenPlaylistsNotes(const iAppImporter &importer, vtrmedia::Kind kind)
{
    const QList<MediaLibraryHost::UnwrittenPlaylist> &unwritten = importer.unwrittenPlaylists();
    QStringList folders;
    for (const MediaLibraryHost::UnwrittenPlaylist &p : unwritten)
        if (!folders.contains(p.folder)) folders << p.folder;
    QStringList notes;
    for (const QString &folder : std::as_const(folders)) {
        QStringList names;
        for (const MediaLibraryHost::UnwrittenPlaylist &p : unwritten)
            if (p.folder == folder) names << QStringLiteral("\"%1\"").arg(p.name);
        const bool one = names.size() == 1;
        const QString last = names.takeLast();
        const QString named = one ? last : vtrLocalized("%1 and %2").arg(names.join(QStringLiteral(", ")), last);
        QString note = kind == vtrmedia::Videos
                           ? (one ? vtrLocalized("the playlist %1 could not be added to your video library")
                                  : vtrLocalized("the playlists %1 could not be added to your video library"))
                           : (one ? vtrLocalized("the playlist %1 could not be added to your music library")
                                  : vtrLocalized("the playlists %1 could not be added to your music library"));
        note = note.arg(named);
        if (const vtrenv::WriteProblem problem = vtrenv::ownItemProblem(folder); !problem.isEmpty())
            note += QStringLiteral(": ") + asClause(vtrenv::describeOwnItemProblem(problem)) + QStringLiteral(". ") +
                    vtrenv::remedyFor(problem) +
                    (one ? vtrLocalized(", then transfer again to add it") : vtrLocalized(", then transfer again to add them"));
        else if (!importer.playlistsFailure().isEmpty())
            note += QStringLiteral(": ") + asClause(importer.playlistsFailure());
        notes << note;
    }
    return notes;
}

// What stood at copies' names in the new phone's folder and stays there,
// each with the name its copy took, and what to do: the first few by name.
QString itemsInTheWayNote(const QList<MediaMigrator::InTheWay> &items)
{
    if (items.isEmpty()) return QString();
    constexpr int kNamed = 3;
    QStringList named;
    for (const MediaMigrator::InTheWay &item : items.mid(0, kNamed))
        named << vtrLocalized("\"%1\" (%2) stays where its copy belongs, and the copy is \"%3\"")
                     .arg(item.path, item.what, item.taken);
    if (items.size() > kNamed) named << vtrLocalized("%1 more stay beside their copies").arg(items.size() - kNamed);
    return named.join(QStringLiteral(", ")) +
           (items.size() == 1 ? vtrLocalized("; remove or move it, then transfer again to give the copy its name")
                              : vtrLocalized("; remove or move them, then transfer again to give the copies their "
                                             "names"));
}

// What of a kind stayed behind, in the person's words: entries of the old
// phone that could not be read or were hidden, why the migrator took fewer
// than the phone holds, copies the library would not file and why, and what
// of the filing the library could not save. `copied`: the copies made.
QStringList whatStayedBehind(const MediaMigrator &migrator, const iAppImporter *importer, vtrmedia::Kind kind,
                             int copied)
{
    QStringList notes;
    if (const int unread =
            migrator.numItemsNotMoved() - migrator.numItemsNotWritten() - migrator.numItemsWithoutAFileHere();
        unread > 0)
        notes << vtrLocalized("%1 could not be read from your old phone").arg(unread);
    if (const QString notWritten = migrator.notWrittenNote(); !notWritten.isEmpty()) notes << notWritten;
    if (const int hidden = migrator.numHiddenItemsLeftOut(); hidden > 0)
        notes << (hidden == 1 ? vtrLocalized("1 hidden file was skipped")
                              : vtrLocalized("%1 hidden files were skipped").arg(hidden));
    const QString note = migrator.manifestInfo().value(QStringLiteral("note")).toString();
    if (!note.isEmpty()) notes << asClause(note);
    static const char *const libraries[] = {"%1 could not be added to your music library",
                                            "%1 could not be added to your photo library",
                                            "%1 could not be added to your video library"};
    const qsizetype noRoom = importer ? importer->refusedForLackOfSpace() : 0;
    if (noRoom > 0) {
        // The disk is the one that holds the kind's library folder, which
        // may be another than the home folder's.
        static QString (*const folders[])() = {&MediaLibraryHost::musicFolder, &MediaLibraryHost::picturesFolder,
                                               &MediaLibraryHost::videosFolder};
        const QString folder = folders[kind]();
        notes << vtrLocalized(libraries[kind]).arg(noRoom) + QStringLiteral(": ") +
                     (folder.isEmpty() ? vtrLocalized("there is not enough space on this computer's disk")
                                       : vtrLocalized("there is not enough space on the disk that holds \"%1\"")
                                             .arg(QDir::cleanPath(folder)));
    }
    // The copies that another user could have moved aside, replaced or
    // changed: what stands at their names is not filed in their stead.
    const qsizetype notCopies = importer ? importer->refusedAsNoLongerTheCopy() : 0;
    if (notCopies > 0) {
        const QString folder = migrator.copiedFiles().isEmpty()
                                   ? QString()
                                   : QFileInfo(migrator.copiedFiles().constFirst()->path()).path();
        notes << vtrLocalized(libraries[kind]).arg(notCopies) + QStringLiteral(": ") +
                     vtrLocalized("the files at their names in \"%1\" are no longer the copies this transfer "
                                  "made: they were moved, replaced or changed after the copy")
                         .arg(folder);
    }
    const qsizetype refused = importer ? importer->refusedFiles().size() - noRoom - notCopies : 0;
    // A library that cannot be had at all refuses the copies without naming them.
    const bool noLibrary = importer && refused == 0 && noRoom == 0 && copied > 0 && kind != vtrmedia::Photos &&
                           !MediaLibraryHost::shared().isConfigured();
    if (refused > 0 || noLibrary) {
        QString note = vtrLocalized(libraries[kind]).arg(noLibrary ? copied : refused);
        if (const QString why = libraryFolderProblem(kind); !why.isEmpty()) note += QStringLiteral(": ") + why;
        else if (const QString folders = refusedFoldersProblem(*importer); !folders.isEmpty())
            note += QStringLiteral(": ") + folders;
        notes << note;
    }
    if (importer && !importer->filingFailure().isEmpty()) notes << asClause(importer->filingFailure());
    if (importer) notes += unwrittenPlaylistsNotes(*importer, kind);
    if (const QString inTheWay = itemsInTheWayNote(migrator.itemsInTheWay()); !inTheWay.isEmpty()) notes << inTheWay;
    return notes;
}

class ManifestOf final : public ManifestInfoSource
{
public:
    explicit ManifestOf(std::function<QVariantMap()> read, std::function<QVariantMap()> held = {})
        : m_read(std::move(read)), m_held(std::move(held))
    {
    }
    QVariantMap manifestInfo() const override { return m_read(); }
    QVariantMap heldInfo() const override { return m_held ? m_held() : m_read(); }

private:
    std::function<QVariantMap()> m_read;
    std::function<QVariantMap()> m_held;
};

template <typename T>
std::shared_ptr<ManifestInfoSource> manifestOf(const std::shared_ptr<T> &object)
{
    if (!object) return nullptr;
    return std::make_shared<ManifestOf>([object] { return object->manifestInfo(); });
}

// What the person has to do after a job's fatal end; "%@" stands for the
// reason.
QString restartTheProduct()
{
    QString text = vtrLocalized("You will have to restart %@ and try again.\n\n(%@)");
    return text.replace(text.indexOf(QStringLiteral("%@")), 2, QStringLiteral("Solvenna to Windows Phone"));
}

// The fatal end of a job: one "Quit" button, what to do and the reason.
// A job that ends after the person quit says nothing more.
void fatalJobAlert(NS_AppController &c, const QString &title, const QVariantMap &result,
                   QString restart = restartTheProduct())
{
    if (c.isTerminated()) return;
    c.fatalAlert(title, restart.replace(QStringLiteral("%@"), BackgroundJob::resultReason(result)));
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

const char *const kFolderNames[] = {"Music", "Photos", "Videos"};

// A number of bytes as the person reads it, rounded up to a tenth of its
// unit: freeing what it says is always enough. A disk's size is rounded
// down: it never holds more than it says.
QString bytesText(qint64 bytes, bool up = true)
{
    static const char *const units[] = {"%1 KB", "%1 MB", "%1 GB"};
    bytes = std::max<qint64>(bytes, 0);
    qint64 unit = 1024;
    int u = 0;
    while (u < 2 && bytes >= unit * 1024) {
        unit *= 1024;
        ++u;
    }
    const qint64 tenths = bytes / unit * 10 + ((bytes % unit) * 10 + (up ? unit - 1 : 0)) / unit;
    return vtrLocalized(units[u]).arg(QStringLiteral("%1.%2").arg(tenths / 10).arg(tenths % 10));
}

// The mount point of the disk that holds `path` (or would, once made).
QString diskOf(const QString &path)
{
    QString existing = QDir::cleanPath(path);
    while (!QFileInfo::exists(existing) && existing != QFileInfo(existing).path())
        existing = QFileInfo(existing).path();
    const QStorageInfo disk(existing);
    return disk.isValid() ? disk.rootPath() : existing;
}

// The file system statistics of the disk that holds `path` (or would, once
// made); false when there are none.
bool statsOfDiskOf(const QString &path, struct statvfs *vfs)
{
    QString existing = QDir::cleanPath(path);
    while (!QFileInfo::exists(existing) && existing != QFileInfo(existing).path())
        existing = QFileInfo(existing).path();
    return ::statvfs(QFile::encodeName(existing).constData(), vfs) == 0;
}

// What a run writes besides the copies and their library's copies, on the
// disk that holds the data folder: for each file it copies, its records (a
// line naming it, one naming its other copy) and its lines in playlists,
// some 600 bytes; for each file a library takes, its entry in the library's
// files, some 1,500 bytes; once, the small files it makes, a block each: the
// report, the device list, the library's files and playlists, the settings.
// (The log goes to standard error.)
constexpr qint64 kRecordsPerFile = 1024;
constexpr qint64 kLibraryEntryPerFile = 2048;
constexpr qint64 kBookkeepingPerRun = 64 * 1024;

// The program's temporary folder, which holds the old phone's backups; empty
// when there is none.
QString temporaryFolderPath()
{
    try {
        return platform::temporaryFolder();
    } catch (const VtrException &) {
        return QString();
    }
}

// "music", "music and videos", "music, photos and videos".
QString listOfKinds(QStringList kinds)
{
    if (kinds.size() < 2) return kinds.value(0);
    const QString last = kinds.takeLast();
    return vtrLocalized("%1 and %2").arg(kinds.join(QStringLiteral(", ")), last);
}

// The new phone's folder for a kind, by path, whether or not it could be made.
QString intendedFolderOf(MobileDeviceInterface &target, vtrmedia::Kind kind)
{
    if (const VtrFileInfoPtr folder = targetFolderOf(target, kind)) return folder->path();
    const VtrFileInfoPtr storage = target.preferredStorageInfo();
    return storage ? QDir(storage->path()).filePath(QLatin1String(kFolderNames[kind])) : QString();
}

// Why a kind's copy failed, naming the folder: what stands in the way of
// writing there as the system says it, else the copy's own reason.
QString copyFailureReason(MobileDeviceInterface &target, vtrmedia::Kind kind, const VtrException &e)
{
    const QString folder = intendedFolderOf(target, kind);
    if (folder.isEmpty()) return e.reason();
    // The new phone's own folders hold what is copied into them: a link in
    // one's place (to the person's music, say), or another user's folder, is
    // not used as it, where a library folder of the person's may well be one.
    // The new phone's folder itself is one of them, and is looked at first,
    // by the name the person knows it by.
    const QString top = dynamic_cast<WindowsPhone7LocalDevice *>(&target)
                            ? QDir::cleanPath(WindowsPhone7LocalDevice::storageFolderPath())
                            : QFileInfo(QDir::cleanPath(folder)).path();
    for (const QString &path : {top, QDir::cleanPath(folder)}) {
        struct stat st;
        if (::lstat(QFile::encodeName(path).constData(), &st) != 0) break;
        if (S_ISLNK(st.st_mode))
            return vtrLocalized("\"%1\" is a link: nothing is copied through it. Remove the link, then transfer again.")
                .arg(path);
        if (S_ISDIR(st.st_mode) && st.st_uid != ::geteuid())
            return vtrLocalized("\"%1\" belongs to another user: nothing is copied into it. Rename it or have it "
                                "removed, then transfer again.")
                .arg(path);
    }
    const vtrenv::WriteProblem problem = vtrenv::writeProblem(folder);
    if (!problem.isEmpty()) {
        QString reason = vtrenv::describeWriteProblem(problem, folder);
        const QString leftover = e.userInfo().value(QStringLiteral("leftover")).toString();
        if (!leftover.isEmpty())
            reason += QLatin1Char(' ') + vtrLocalized("The unfinished copy \"%1\" could not be removed; it is removed "
                                                      "once the folder can be written again.")
                                             .arg(leftover);
        return reason;
    }
    if (e.reason().contains(folder)) return e.reason();
    return vtrLocalized("Copying into \"%1\" failed: %2").arg(QDir::cleanPath(folder), e.reason());
}


// Nothing read of a kind from the person's own store, and a source that
// could not be asked: the line says so and why rather than count nothing.
void noteUnreachableStore(NS_AppController &c, const QString &phase, syncstore::SyncDataKind kind, bool nothingRead)
{
    if (!nothingRead) return;
    const QStringList why = syncstore::SyncManager::sharedManager()->unreachableSources(kind);
    if (why.isEmpty()) return;
    c.setKindResult(phase, NS_AppController::Outcome::NotMoved,
                    (kind == syncstore::SyncDataKind::Contacts ? vtrLocalized("your address books could not be reached (%1)")
                                                               : vtrLocalized("your calendars could not be reached (%1)"))
                        .arg(why.join(QStringLiteral("; "))),
                    true);
}

void noteUnreachableContacts(NS_AppController &c, const MobileDeviceInterface &oldDevice)
{
    if (!oldDevice.isAndroidDevice())
        noteUnreachableStore(c, vtrphase::Contacts, syncstore::SyncDataKind::Contacts, c.contacts().isEmpty());
}

void noteUnreachableCalendars(NS_AppController &c, const MobileDeviceInterface &oldDevice)
{
    if (!oldDevice.isAndroidDevice())
        noteUnreachableStore(c, vtrphase::Events, syncstore::SyncDataKind::Calendars, c.calendars().isEmpty());
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

template <typename T>
class NS_AppControllerJobs::PerKind
{
public:
    T get(vtrmedia::Kind kind) const
    {
        std::lock_guard lock(m_mutex);
        return m_values[kind];
    }
    void set(vtrmedia::Kind kind, T value)
    {
        std::lock_guard lock(m_mutex);
        m_values[kind] = std::move(value);
    }
    void clear()
    {
        std::lock_guard lock(m_mutex);
        m_values = {};
    }

private:
    mutable std::mutex m_mutex;
    std::array<T, 3> m_values{};
};

NS_AppControllerJobs::NS_AppControllerJobs()
    : m_tallies(std::make_shared<PerKind<CopyTally>>()), m_backupFailures(std::make_shared<PerKind<QString>>())
{
    libraryHostConfigured = [] { return MediaLibraryHost::shared().isConfigured(); };
    freeSpaceOfTarget = [](const VtrFileInfoPtr &storage) { return storage ? storage->freeSpaceOnVolume() : 0; };
    sizeOfTarget = [](const VtrFileInfoPtr &storage) {
        struct statvfs vfs;
        if (!storage || !statsOfDiskOf(storage->path(), &vfs)) return std::numeric_limits<qint64>::max();
        // The blocks only the system may use are never free for this user.
        const quint64 blocks = quint64(vfs.f_blocks) - (quint64(vfs.f_bfree) - quint64(vfs.f_bavail));
        const quint64 unit = std::max<quint64>(vfs.f_frsize, 1);
        return blocks > quint64(std::numeric_limits<qint64>::max()) / unit ? std::numeric_limits<qint64>::max()
                                                                            : qint64(blocks * unit);
    };
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

QList<MediaItem> NS_AppControllerJobs::madeAgain(vtrmedia::Kind kind, qint64 budget) const
{
    const std::shared_ptr<MediaMigrator> migrator = migratorOf(m_migrators, kind);
    if (!migrator) return {};
    return budget < 0 ? migrator->items() : migrator->itemsThatFitInBytes(budget);
}

void NS_AppControllerJobs::setMigrators(NS_AppController &controller, FamilyMediaMigrators migrators)
{
    m_migrators = std::move(migrators);
    m_tallies->clear();
    m_backupFailures->clear();
    const std::pair<NS_AppController::ManifestKind, vtrmedia::Kind> kinds[] = {
        {NS_AppController::ManifestKind::Music, vtrmedia::Music},
        {NS_AppController::ManifestKind::Photos, vtrmedia::Photos},
        {NS_AppController::ManifestKind::Videos, vtrmedia::Videos}};
    for (const auto &[manifest, kind] : kinds) {
        const std::shared_ptr<MediaMigrator> migrator = migratorOf(m_migrators, kind);
        if (!migrator) {
            controller.setManifestSource(manifest, nullptr);
            continue;
        }
        // The migrator's summary, with the count and size of what the last
        // copy put into the new phone's folder once one has run.
        controller.setManifestSource(manifest, std::make_shared<ManifestOf>([migrator, tallies = m_tallies, kind] {
            QVariantMap info = migrator->manifestInfo();
            const CopyTally tally = tallies->get(kind);
            if (info.isEmpty() || !tally.ran) return info;
            static const char *const countKeys[] = {"song_cnt", "photo_cnt", "video_cnt"};
            static const char *const titles[][2] = {{"Song", "Songs"}, {"Photo", "Photos"}, {"Video", "Videos"}};
            // What the folder holds of ours: earlier runs' copies that stayed too.
            info.insert(QLatin1String(countKeys[kind]), tally.count);
            info.insert(QStringLiteral("title"), vtrLocalized(titles[kind][tally.count == 1 ? 0 : 1]));
            info.insert(QStringLiteral("data_size"), tally.bytes);
            if (kind == vtrmedia::Music && tally.count == tally.earlier) {
                // No song reached the phone: no playlist was written for one.
                info.insert(QStringLiteral("playlist_cnt"), 0);
                info.insert(QStringLiteral("playlist_title"), vtrLocalized("Playlists"));
            }
            return info;
        }, [migrator] { return migrator->manifestInfo(); }));
    }
}

WizardJobs::MediaWork NS_AppControllerJobs::mediaWork(int kind) const
{
    const std::shared_ptr<MediaMigrator> migrator = kind >= 0 && kind < 3 ? migratorOf(m_migrators, vtrmedia::Kind(kind)) : nullptr;
    if (!migrator) return {};
    return {migrator->sizeOfItemsToCopy(), migrator->numItemsToCopy()};
}

bool NS_AppControllerJobs::hasMediaToCopy(const NS_AppController &controller) const
{
    for (const vtrmedia::Kind k : {vtrmedia::Music, vtrmedia::Photos, vtrmedia::Videos}) {
        const std::shared_ptr<MediaMigrator> migrator = migratorOf(m_migrators, k);
        if (kindTicked(controller, k) && migrator && migrator->numItemsToCopy() > 0) return true;
    }
    return false;
}

NS_AppControllerJobs::Estimate NS_AppControllerJobs::estimateWithSpaceOnDevice(qint64 freeSpaceOnVolume,
                                                                              bool includeMusic, bool includePhotos,
                                                                              bool includeVideos) const
{
    Estimate out;
    vtrmedia::Budgets budgets;
    const bool included[] = {includeMusic, includePhotos, includeVideos};
    for (const vtrmedia::Kind k : {vtrmedia::Music, vtrmedia::Photos, vtrmedia::Videos}) {
        const std::shared_ptr<MediaMigrator> migrator = migratorOf(m_migrators, k);
        out.total[k] = migrator ? migrator->numItemsToCopy() : 0;
        budgets[k].included = included[k];
        budgets[k].need = out.need[k] = migrator ? migrator->sizeOfItemsToCopy() : 0;
    }
    const qint64 available = freeSpaceOnVolume - vtrmedia::kReservedBytes;
    out.spaceForMedia = std::max<qint64>(available, 0);
    vtrmedia::shareBudget(available, budgets);
    for (const vtrmedia::Kind k : {vtrmedia::Music, vtrmedia::Photos, vtrmedia::Videos}) {
        out.space[k] = budgets[k].space;
        const std::shared_ptr<MediaMigrator> migrator = migratorOf(m_migrators, k);
        if (!included[k] || !migrator) continue;
        const QList<MediaItem> fit = migrator->itemsThatFitInBytes(budgets[k].space);
        out.numToCopy[k] = int(fit.size());
        for (const MediaItem &item : fit) out.toCopy[k] = vtr::saturatingAdd(out.toCopy[k], item.size);
    }
    return out;
}

NS_AppControllerJobs::Estimate NS_AppControllerJobs::estimateMakingRoom(qint64 free, std::array<qint64, 3> earlier,
                                                                       const std::array<bool, 3> &ticked) const
{
    // A kind copied whole replaces all of its earlier copies; one copied in
    // part no more of them than its copies take, and one of which nothing
    // is copied none. Counted all as free, they may promise room that the
    // earlier copies left in place still take: then less of them counts,
    // until the copies fit in what is free beyond the reserve and what the
    // earlier copies give. After a few rounds a kind copied in part counts
    // as giving nothing, which ends them within three more.
    constexpr int kRounds = 32;
    const qint64 beyondReserve = std::max<qint64>(0, free - vtrmedia::kReservedBytes);
    for (int round = 0;; ++round) {
        qint64 counted = 0;
        for (const qint64 bytes : earlier) counted = vtr::saturatingAdd(counted, bytes);
        const Estimate e =
            estimateWithSpaceOnDevice(vtr::saturatingAdd(free, counted), ticked[0], ticked[1], ticked[2]);
        qint64 copies = 0, given = 0;
        bool less = false;
        for (const vtrmedia::Kind k : {vtrmedia::Music, vtrmedia::Photos, vtrmedia::Videos}) {
            if (!ticked[k]) continue;
            const bool whole = e.total[k] > 0 && e.numToCopy[k] == e.total[k];
            const qint64 gives = whole ? earlier[k] : std::min(earlier[k], e.toCopy[k]);
            copies = vtr::saturatingAdd(copies, e.toCopy[k]);
            given = vtr::saturatingAdd(given, gives);
            const qint64 counts = round < kRounds || whole ? gives : 0;
            if (counts < earlier[k]) {
                earlier[k] = counts;
                less = true;
            }
        }
        if (copies - given <= beyondReserve || !less) return e;
    }
}

qint64 NS_AppControllerJobs::bytesToFreeForAll(const NS_AppController &controller, const QString &folder, qint64 free,
                                               const vtrmedia::Budgets &budgets, const std::array<bool, 3> &stopped,
                                               const std::array<MediaMigrator::EarlierCopies, 3> &earlier,
                                               const std::array<qint64, 3> &spaces) const
{
    // Files take whole blocks of the disk.
    const QString disk = diskOf(folder);
    struct statvfs vfs;
    const qint64 block = statsOfDiskOf(folder, &vfs) && vfs.f_frsize > 0 ? qint64(vfs.f_frsize) : 4096;
    const auto onDisk = [block](qint64 size) {
        size = std::max<qint64>(size, 0);
        return size > std::numeric_limits<qint64>::max() - block ? size : (size + block - 1) / block * block;
    };
    const auto blocksOf = [&onDisk](const QList<MediaItem> &items) {
        qint64 blocks = 0;
        for (const MediaItem &item : items) blocks = vtr::saturatingAdd(blocks, onDisk(item.size));
        return blocks;
    };
    const auto bytesOf = [](const QList<MediaItem> &items) {
        qint64 bytes = 0;
        for (const MediaItem &item : items) bytes = vtr::saturatingAdd(bytes, std::max<qint64>(item.size, 0));
        return bytes;
    };
    const auto here = [&disk](const QString &path) { return !path.isEmpty() && diskOf(path) == disk; };
    const bool backupsHere = here(temporaryFolderPath());
    const bool bookkeepingHere = here(platform::dataFolder());
    static QString (*const libraryFolders[])() = {&MediaLibraryHost::musicFolder, &MediaLibraryHost::picturesFolder,
                                                  &MediaLibraryHost::videosFolder};
    const std::shared_ptr<MobileDeviceInterface> oldDevice = controller.oldDeviceProxy();
    const std::shared_ptr<MobileDeviceInterface> target = controller.newDevice();
    // The next run's budget weighs the copies' bytes against what is free
    // beyond the reserve once the earlier copies are cleared: this run's
    // copies give back their bytes then, not their blocks; the library's
    // copies of what this run files, the backup of the kinds the folders
    // stop and this run's records stay. What the next run files and
    // records itself comes after its copies: it needs room, and the reserve
    // is not kept for it.
    qint64 leftByThisRun = bookkeepingHere ? kBookkeepingPerRun : 0;
    // All that both runs write on that disk beyond the copies' bytes.
    qint64 leftByBoth = bookkeepingHere ? 2 * kBookkeepingPerRun : 0;
    const auto add = [](qint64 &sum, qint64 bytes) { sum = vtr::saturatingAdd(sum, bytes); };
    for (const vtrmedia::Kind k : {vtrmedia::Music, vtrmedia::Photos, vtrmedia::Videos}) {
        const std::shared_ptr<MediaMigrator> migrator = migratorOf(m_migrators, k);
        if (!budgets[k].included || !migrator) continue;
        const QList<MediaItem> items = migrator->items();
        const QList<MediaItem> copied = stopped[k] ? QList<MediaItem>() : migrator->itemsThatFitInBytes(spaces[k]);
        const qint64 blocks = blocksOf(items), copiedBlocks = blocksOf(copied);
        const qint64 copiedSlack = copiedBlocks - std::min(copiedBlocks, bytesOf(copied));
        add(leftByThisRun, copiedSlack);
        add(leftByBoth, vtr::saturatingAdd(copiedSlack, blocks - std::min(blocks, budgets[k].need)));
        // A kind the folders stop is backed up first.
        if (stopped[k] && backupsHere) {
            add(leftByThisRun, blocks);
            add(leftByBoth, blocks);
        }
        // A library on that disk takes a copy of each file it does not hold
        // yet: of this run's copies now, unless a folder of it is in the
        // way, and of the rest in the next run, once the folders are set
        // right.
        const bool filing = oldDevice && target && importerFor(k, *oldDevice, *target);
        const bool filedNow = filing && libraryFolderProblem(k).isEmpty();
        if (filing && here(libraryFolders[k]())) {
            if (filedNow) {
                const qint64 held =
                    onDisk(MediaMigrator::earlierCopiesIn(targetFolderOf(*target, k), copied).heldElsewhereBytes);
                add(leftByThisRun, copiedBlocks - std::min(copiedBlocks, held));
            }
            add(leftByBoth, blocks - std::min(blocks, onDisk(earlier[k].heldElsewhereBytes)));
        }
        if (bookkeepingHere) {
            add(leftByThisRun, qint64(copied.size()) * (kRecordsPerFile + (filedNow ? kLibraryEntryPerFile : 0)));
            add(leftByBoth,
                qint64(copied.size() + items.size()) * (kRecordsPerFile + (filing ? kLibraryEntryPerFile : 0)));
        }
    }
    // Enough for the next run's budget, and room for all that run writes.
    qint64 need = 0;
    for (const vtrmedia::KindBudget &b : budgets)
        if (b.included) add(need, std::max<qint64>(b.need, 0));
    const qint64 room = vtr::saturatingAdd(vtr::saturatingAdd(need, leftByBoth), -std::max<qint64>(free, 0));
    return std::max(vtrmedia::spaceToFree(vtr::saturatingAdd(free, -leftByThisRun), budgets), room);
}

void NS_AppControllerJobs::tallyCopy(vtrmedia::Kind kind, const MediaMigrator::EarlierCopies &stayed)
{
    const std::shared_ptr<MediaMigrator> migrator = migratorOf(m_migrators, kind);
    CopyTally tally;
    tally.ran = true;
    tally.count = tally.earlier = stayed.files;
    tally.bytes = stayed.bytes;
    if (migrator)
        for (const VtrFileInfoPtr &file : migrator->copiedFiles()) {
            // What is in the folder now, not what was meant to be.
            const QFileInfo copy(file ? file->path() : QString());
            if (!copy.isFile()) continue;
            ++tally.count;
            tally.bytes += copy.size();
        }
    m_tallies->set(kind, tally);
}

void NS_AppControllerJobs::scanApps(NS_AppController &controller)
{
    // The app list is prepared by the summaries; this step only moves on,
    // from the event loop rather than from inside the state's own work.
    NS_AppController *c = &controller;
    controller.performAfterDelay(QStringLiteral("scanAppsDone"), 0, [c] { c->scanAppsDone(); });
}

// ---- state 12: contacts, calendars, to-dos ----------------------------------------------------------------

QByteArray NS_AppControllerJobs::oldDeviceDataFromFileNamed(MobileDeviceInterface &device, const QString &name)
{
    const VtrFileInfoPtr file = oldDeviceFileNamed(device, name);
    if (!file) return QByteArray();
    // A file that is there but comes back empty was not read: once more,
    // then the step fails rather than move nothing without a word.
    QByteArray contents;
    if (!readsFrom(device).twice(QStringLiteral("Reading \"%1\" from the old phone").arg(name), [&] {
            contents = file->fileContents();
            return !contents.isEmpty() || file->size() <= 0;
        }))
        throw VtrException(QStringLiteral("DeviceException"),
                           vtrLocalized("The file \"%1\" could not be read from your old phone.").arg(name));
    return contents;
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
    if (!file) {
        stowage.stowContacts(db.windowsLiveContactsWithData(QByteArray()).value_or(QVariantList()), {});
        return;
    }
    // A read that fails is tried once more before the step fails.
    std::optional<QVariantList> bodies;
    readsFrom(oldDevice).twice(QStringLiteral("Reading \"nroid_con.json\" from the old phone"), [&] {
        bodies = db.windowsLiveContactsFromFile(file);
        return true;
    });
    stowage.stowContacts(bodies.value_or(QVariantList()), {});
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
    // The file is read a line at a time: it may hold very many events.
    const VtrFileInfoPtr file = oldDeviceFileNamed(oldDevice, QStringLiteral("nroid_cal.json"));
    if (!file) {
        stowage.stowCalendars(db.windowsLiveCalendarsAndEventsWithData(QByteArray()).value_or(QVariantList()));
        return;
    }
    // A read that fails is tried once more before the step fails.
    std::optional<QVariantList> bodies;
    readsFrom(oldDevice).twice(QStringLiteral("Reading \"nroid_cal.json\" from the old phone"), [&] {
        bodies = db.windowsLiveCalendarsAndEventsFromFile(file);
        return true;
    });
    stowage.stowCalendars(bodies.value_or(QVariantList()));
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
    // What is read may be written into the new phone's "Migration Info".
    if (contacts || events || tasks) controller.removeManifestReport();

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
                noteUnreachableContacts(*c, *oldDevice);
                c->setStatusNow(QString(), vtrphase::Contacts, 1.0);
            }
            if (events) {
                errorText = vtrLocalized("An error occurred while reading your calendars from the device.");
                c->setStatusNow(QString(), vtrphase::Events, -2.0);
                readEvents(*oldDevice, newDevice, *eventsDb, *stowage);
                noteUnreachableCalendars(*c, *oldDevice);
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
        // Stopped at the start, yet counted: its line at the end tells it.
        bool stopped;
        QString phase;
        QString title;
    };
    QList<Kind> kinds;
    for (const vtrmedia::Kind k : {vtrmedia::Music, vtrmedia::Photos, vtrmedia::Videos})
        kinds.append({migratorOf(m_migrators, k), kindTicked(controller, k),
                      !controller.stoppedKindReason(phaseOf(k)).isEmpty(), phaseOf(k),
                      vtrLocalized(QStringLiteral("An error occurred while backing up %1. If you continue, all of your "
                                                  "data might not transfer to your new device.")
                                       .arg(QLatin1String(kKindKeys[k])))});
    m_backupFailures->clear();
    std::shared_ptr<PerKind<QString>> failures = m_backupFailures;
    auto *job = new FunctionJob([c, kinds, failures](FunctionJob &job) -> QVariantMap {
        const LogRun logRun;
        for (int index = 0; index < kinds.size(); ++index) {
            const Kind &kind = kinds[index];
            if (!(kind.ticked || kind.stopped) || !kind.migrator) {
                c->setStatusNow(QString(), kind.phase, 0.0);
                continue;
            }
            kind.migrator->setCancelCheck([&job] { return job.isCancelled(); });
            try {
                // What does not move is counted from the phone's listing:
                // fetching it would fill the disk the chosen kinds need.
                if (kind.ticked) kind.migrator->backupOldDeviceWithStatus(c);
                else kind.migrator->countOldDeviceWithStatus(nullptr);
                kind.migrator->setCancelCheck({});
                c->setStatusNow(QString(), kind.phase, 1.0);
            } catch (const VtrException &e) {
                kind.migrator->setCancelCheck({});
                if (job.isCancelled()) throw;
                // Nothing of it was to move: there is nothing to ask. Its
                // line counts what could be read.
                if (!kind.ticked) {
                    VTR_LOG(2, QStringLiteral("The %1 not moved could not be counted: %2")
                                   .arg(QLatin1String(kKindKeys[index]), e.reason()));
                    c->setStatusNow(QString(), kind.phase, 1.0);
                    continue;
                }
                // The music of an iPhone comes from this computer's library,
                // not from the phone: the line must not blame the phone.
                // A phone that refuses this computer says so itself.
                QString failure = vtrLocalized("it could not be read from your old phone: %1").arg(e.reason());
                if (e.name() == QStringLiteral("iTunes XML file not found"))
                    failure = vtrLocalized("the music library could not be read: %1").arg(e.reason());
                else if (e.name() == QLatin1String(vtr::iphone::kPhoneNotTrustedException) && !e.reason().isEmpty())
                    failure = e.reason().at(0).toLower() + e.reason().mid(1);
                failures->set(vtrmedia::Kind(index), failure);
                if (c->showAlertOnMainThread(kind.title, e) == 0) {
                    c->runOnMainAndWait([c] { c->terminate(); });
                    return BackgroundJob::failureResult(e);
                }
            }
        }
        return BackgroundJob::successResult();
    });
    controller.runJob(job, [c](const QVariantMap &result) {
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
    std::array<bool, 3> ticked{};
    std::array<MediaMigrator::EarlierCopies, 3> earlier{};
    std::array<qint64, 3> reclaimable{};
    for (const vtrmedia::Kind k : {vtrmedia::Music, vtrmedia::Photos, vtrmedia::Videos}) {
        if (!kindTicked(controller, k)) continue;
        options.insert(QLatin1String(kKindKeys[k]), true);
        ticked[k] = true;
        if (target) earlier[k] = MediaMigrator::earlierCopiesIn(targetFolderOf(*target, k), madeAgain(k));
        reclaimable[k] = earlier[k].bytes;
    }
    if (options.isEmpty() || !target) return options;

    // The space the earlier copies take counts as free as far as this run's
    // copies replace them: they are cleared before the copy.
    const qint64 free = freeSpaceOfTarget(target->preferredStorageInfo());
    Estimate estimate = estimateMakingRoom(free, reclaimable, ticked);
    // Of those, what this computer holds nowhere else goes only with the
    // person's word; kept, it is no free space. A kind copied in part asks
    // only when its earlier copies held elsewhere too make too little room.
    std::array<int, 3> sole{};
    for (const vtrmedia::Kind k : {vtrmedia::Music, vtrmedia::Photos, vtrmedia::Videos})
        if (ticked[k] && estimate.numToCopy[k] > 0 &&
            (estimate.numToCopy[k] == estimate.total[k] ||
             estimate.toCopy[k] > earlier[k].bytes - earlier[k].soleBytes))
            sole[k] = earlier[k].soleFiles;
    std::array<bool, 3> letGo{};
    if (sole != std::array<int, 3>{}) {
        const VtrFileInfoPtr storage = target->preferredStorageInfo();
        const QString folder = storage ? storage->path() : WindowsPhone7LocalDevice::storageFolderPath();
        const bool removeThem = removeSoleCopies(controller, folder, sole);
        QVariantList kinds;
        for (const vtrmedia::Kind k : {vtrmedia::Music, vtrmedia::Photos, vtrmedia::Videos}) {
            if (sole[k] <= 0) continue;
            kinds.append(int(k));
            letGo[k] = removeThem;
            if (!removeThem) reclaimable[k] -= earlier[k].soleBytes;
        }
        if (removeThem)
            options.insert(QLatin1String(kRemoveSoleCopiesKey), kinds);
        else
            estimate = estimateMakingRoom(free, reclaimable, ticked);
    }

    QStringList starved, partly;
    for (const vtrmedia::Kind k : {vtrmedia::Music, vtrmedia::Photos, vtrmedia::Videos}) {
        if (!ticked[k]) continue;
        options.insert(QLatin1String(kSpaceKeys[k]), estimate.space[k]);
        // Only a kind of which something is copied clears earlier copies.
        if (estimate.numToCopy[k] > 0) options.insert(QLatin1String(kClearKeys[k]), true);
        if (estimate.numToCopy[k] < estimate.total[k])
            (estimate.numToCopy[k] == 0 ? starved : partly).append(vtrLocalized(QString::fromLatin1(kKindKeys[k])));
    }
    if (!starved.isEmpty() || !partly.isEmpty()) {
        // The new phone's folder lies on this computer's disk: the person is
        // told which, and how much to free there for all of the media. A
        // kind that a library folder stops counts as the phone lists it:
        // once the folder is set right it is chosen too, its earlier copies
        // are cleared for it, and its backup takes room on the disk that
        // holds the temporary folder. What this computer holds nowhere else
        // counts as free only where the person let it go.
        vtrmedia::Budgets budgets;
        std::array<bool, 3> stopped{};
        QStringList covered;
        qint64 freeThen = free;
        for (const vtrmedia::Kind k : {vtrmedia::Music, vtrmedia::Photos, vtrmedia::Videos}) {
            const std::shared_ptr<MediaMigrator> migrator = migratorOf(m_migrators, k);
            stopped[k] = !ticked[k] && migrator && !controller.stoppedKindReason(phaseOf(k)).isEmpty();
            if (!ticked[k] && !stopped[k]) continue;
            qint64 need = estimate.need[k];
            if (stopped[k]) {
                need = 0;
                for (const MediaItem &item : migrator->items())
                    need = vtr::saturatingAdd(need, std::max<qint64>(item.size, 0));
                earlier[k] = MediaMigrator::earlierCopiesIn(targetFolderOf(*target, k), migrator->items());
            }
            freeThen = vtr::saturatingAdd(freeThen, earlier[k].bytes - (letGo[k] ? 0 : earlier[k].soleBytes));
            budgets[k] = {true, need, 0};
            covered.append(vtrLocalized(QString::fromLatin1(kKindKeys[k])));
        }
        const VtrFileInfoPtr storage = target->preferredStorageInfo();
        const QString folder = storage ? storage->path() : WindowsPhone7LocalDevice::storageFolderPath();
        const qint64 more = bytesToFreeForAll(controller, folder, freeThen, budgets, stopped, earlier, estimate.space);
        const qint64 whole = sizeOfTarget(storage);
        QStringList kinds;
        if (!starved.isEmpty())
            kinds << vtrLocalized("These kinds will not be copied: %@.")
                         .replace(QStringLiteral("%@"), starved.join(QStringLiteral(", ")));
        if (!partly.isEmpty())
            kinds << vtrLocalized("Only a part of these will be copied: %@.")
                         .replace(QStringLiteral("%@"), partly.join(QStringLiteral(", ")));
        AlertRequest request;
        request.messageText = vtrLocalized("There is not enough space on your new device for all of your media.");
        // Freeing can give the disk no more free space than it holds.
        const QString advice =
            vtr::saturatingAdd(std::max<qint64>(free, 0), more) > whole
                ? vtrLocalized("Your new device's folder \"%1\" is on this computer's disk \"%2\". The whole disk "
                               "holds %3: too little for all of your %4 together with the %5 that is always left "
                               "free on it, however much is freed there.")
                      .arg(QDir::cleanPath(folder), diskOf(folder), bytesText(whole, false), listOfKinds(covered),
                           bytesText(vtrmedia::kReservedBytes))
                : vtrLocalized("Your new device's folder \"%1\" is on this computer's disk \"%2\", where %3 is always "
                               "left free. Free %4 more on that disk, then transfer again to move all of your %5.")
                      .arg(QDir::cleanPath(folder), diskOf(folder), bytesText(vtrmedia::kReservedBytes),
                           bytesText(more), listOfKinds(covered));
        request.informativeText = kinds.join(QLatin1Char('\n')) + QStringLiteral("\n\n") + advice;
        request.buttons = {vtrLocalized("OK")};
        request.cancelButton = 0;
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
                                        bool askForLibraryHost, const MediaMigrator::EarlierCopies &stayed)
{
    static const char *const collecting[] = {"Collecting music information...", "Collecting photos information...",
                                             "Collecting videos information..."};
    const QString &phase = phaseOf(kind);
    controller.setKindResult(phase, NS_AppController::Outcome::Pending);
    controller.setStatusNow(vtrLocalized(collecting[kind]), phase, 0.0);
    const std::shared_ptr<MediaMigrator> migrator = migratorOf(m_migrators, kind);
    const std::shared_ptr<MobileDeviceInterface> target = controller.newDevice();
    if (!migrator || !target) {
        controller.setKindResult(phase, NS_AppController::Outcome::NotMoved,
                                 vtrLocalized("there is no old or new phone to copy between"));
        return;
    }
    const std::shared_ptr<MobileDeviceInterface> oldDevice = controller.oldDeviceProxy();
    std::unique_ptr<iAppImporter> importer = importerFor(kind, *oldDevice, *target);
    if (kind == vtrmedia::Music && importer && askForLibraryHost && !libraryHostConfigured()) {
        // A library folder that cannot be made is no library to set up:
        // asking after every OK would blame the wrong thing. The person is
        // told the cause once, unless the copy meets the same cause first
        // (the new phone's folder lies under the same folder) and says it.
        const QString blocked = vtrenv::blockedLibraryFolder();
        const vtrenv::WriteProblem problem = vtrenv::writeProblem(blocked);
        const vtrenv::WriteProblem ahead = vtrenv::writeProblem(intendedFolderOf(*target, kind));
        if (!blocked.isEmpty() && (ahead.folder != problem.folder || ahead.cause != problem.cause)) {
            const QString reason = vtrenv::describeMusicLibraryProblem(problem, blocked);
            VTR_LOG(2, QStringLiteral("Music is not filed: %1").arg(reason));
            // Said at the start already, for the kinds it stops.
            if (!vtrenv::libraryProblemTold(controller, blocked)) {
                controller.runOnMainAndWait([&controller, &reason, &problem] {
                    AlertRequest request;
                    request.messageText = vtrLocalized("Your music cannot be added to your music library.");
                    request.informativeText = reason + QStringLiteral("\n\n") +
                                              vtrLocalized("Your music is not moved. %1 and start again to move it.")
                                                  .arg(vtrenv::remedyFor(problem));
                    request.buttons = {vtrLocalized("OK")};
                    request.cancelButton = 0;
                    request.beep = true;
                    controller.runAlert(request);
                });
            }
            m_tallies->set(kind, {true, stayed.files, stayed.bytes, stayed.files});
            controller.setKindResult(phase, NS_AppController::Outcome::NotMoved, asClause(reason));
            return;
        }
        while (blocked.isEmpty() && !libraryHostConfigured()) {
            bool again = false;
            if (!controller.runOnMainAndWait([&] { again = openITunes(controller); }) || !again) {
                VTR_LOG(2, QStringLiteral("Couldn't access iTunes. Skipping music."));
                m_tallies->set(kind, {true, stayed.files, stayed.bytes, stayed.files});
                controller.setKindResult(phase, NS_AppController::Outcome::NotMoved,
                                         vtrLocalized("the music library is not set up"));
                return;
            }
        }
    }
    const int items = migrator->numItemsToCopy();
    const QList<MediaItem> fit = migrator->itemsThatFitInBytes(budget);
    const int fitting = int(fit.size());
    // What of the kind was left out for want of space, in bytes.
    qint64 fitted = 0;
    for (const MediaItem &item : fit) fitted = vtr::saturatingAdd(fitted, item.size);
    const qint64 leftOut = migrator->sizeOfItemsToCopy() - fitted;
    try {
        migrator->copyToDevice(target, budget, &controller, importer.get());
    } catch (const VtrException &) {
        tallyCopy(kind, stayed);
        throw;
    }
    tallyCopy(kind, stayed);
    const int copied = m_tallies->get(kind).count - stayed.files;
    const QString unread = m_backupFailures->get(kind);
    if (items > 0 && fitting == 0) {
        // What the folder holds of earlier runs stays there.
        QString reason = vtrLocalized("there is not enough space on your new device");
        if (stayed.files > 0)
            reason += QStringLiteral("; ") + (stayed.files == 1 ? vtrLocalized("1 copied by an earlier transfer stays "
                                                                               "in your new device's folder")
                                                                : vtrLocalized("%1 copied by an earlier transfer stay "
                                                                               "in your new device's folder")
                                                                      .arg(stayed.files));
        controller.setKindResult(phase, NS_AppController::Outcome::NotMoved, reason);
    } else if (!unread.isEmpty() && copied == 0) {
        controller.setKindResult(phase, NS_AppController::Outcome::Failed, unread, true);
    } else {
        QStringList notes;
        if (copied < fitting) notes << vtrLocalized("%1 could not be copied").arg(fitting - copied);
        if (fitting < items)
            notes << vtrLocalized("%1 did not fit on your new device: %2").arg(items - fitting).arg(bytesText(leftOut));
        notes += whatStayedBehind(*migrator, importer.get(), kind, copied);
        if (!unread.isEmpty()) notes << vtrLocalized("some could not be read from your old phone");
        // Nothing to copy is done only when the old phone held nothing:
        // what it held that could not be had was not moved. A file that did
        // not arrive is not moved either, whatever else did.
        const bool nothingTaken = items == 0 && copied == 0 && !notes.isEmpty();
        const bool someStayed =
            copied < fitting || fitting < items || migrator->numItemsNotMoved() > 0 || !unread.isEmpty();
        // The count is what the folder holds of ours, earlier runs' copies too.
        if (stayed.files > 0 && !nothingTaken)
            notes << (stayed.files == 1 ? vtrLocalized("1 of them copied by an earlier transfer")
                                        : vtrLocalized("%1 of them copied by an earlier transfer").arg(stayed.files));
        controller.setKindResult(phase,
                                 nothingTaken ? NS_AppController::Outcome::NotMoved
                                 : someStayed ? NS_AppController::Outcome::Partial
                                              : NS_AppController::Outcome::Written,
                                 notes.join(QStringLiteral("; ")));
    }
}

void NS_AppControllerJobs::copyMedia(NS_AppController &controller, const QVariantMap &options, FunctionJob &job,
                                     bool askForLibraryHost, bool reportOthers)
{
    NS_AppController *c = &controller;
    static const char *const titles[] = {"An error occurred while copying music to your new device.",
                                         "An error occurred while copying photos to your new device.",
                                         "An error occurred while copying videos to your new device."};
    const vtrmedia::Kind kinds[] = {vtrmedia::Music, vtrmedia::Photos, vtrmedia::Videos};
    // The budget counted the earlier copies' space as free as far as each
    // kind's copies replace them: they go before the first copy, all of a
    // kind copied whole, of a kind copied in part no more than make room for
    // its copies, none of a kind of which nothing is copied; never what this
    // computer holds nowhere else unless the person let it go. Each is read
    // whole before it is removed, which is no work for the window's thread.
    const QVariantList letGo = options.value(QLatin1String(kRemoveSoleCopiesKey)).toList();
    std::array<MediaMigrator::EarlierCopies, 3> stayed{};
    if (const std::shared_ptr<MobileDeviceInterface> target = c->newDevice())
        for (const vtrmedia::Kind k : kinds) {
            if (!options.contains(QLatin1String(kKindKeys[k]))) continue;
            const VtrFileInfoPtr folder = targetFolderOf(*target, k);
            if (options.contains(QLatin1String(kClearKeys[k]))) {
                const QList<MediaItem> copies = madeAgain(k, options.value(QLatin1String(kSpaceKeys[k])).toLongLong());
                const std::shared_ptr<MediaMigrator> migrator = migratorOf(m_migrators, k);
                qint64 room = -1;
                if (migrator && copies.size() < migrator->numItemsToCopy()) {
                    room = 0;
                    for (const MediaItem &item : copies) room = vtr::saturatingAdd(room, item.size);
                }
                const int left = MediaMigrator::clearEarlierCopies(
                    folder,
                    letGo.contains(int(k)) ? MediaMigrator::SoleCopies::RemoveThoseCounted
                                           : MediaMigrator::SoleCopies::Keep,
                    copies, room);
                // An earlier run's playlists name its songs: they go with them,
                // whether or not this phone brings playlists, and stay with any
                // that stays.
                if (k == vtrmedia::Music && left == 0)
                    MediaMigrator::clearEarlierCopies(target->preferredPlaylistsFolder());
            }
            stayed[k] = MediaMigrator::earlierCopiesIn(folder);
        }
    for (const vtrmedia::Kind k : kinds) {
        if (!options.contains(QLatin1String(kKindKeys[k]))) {
            if (reportOthers) c->setStatusNow(QString(), phaseOf(k), 0.0);
            continue;
        }
        const std::shared_ptr<MediaMigrator> migrator = migratorOf(m_migrators, k);
        if (migrator) migrator->setCancelCheck([&job] { return job.isCancelled(); });
        const CancelCheckRelease release{migrator};
        try {
            transferKind(*c, k, options.value(QLatin1String(kSpaceKeys[k])).toLongLong(), askForLibraryHost,
                         stayed[k]);
            c->setStatusNow(QString(), phaseOf(k), 1.0);
        } catch (const VtrException &e) {
            if (job.isCancelled()) throw;
            // A kind that fails ends the whole transfer; what was copied
            // stays. Its line says why, the kinds after it that they never
            // had their turn, and the job ends with the named cause.
            const std::shared_ptr<MobileDeviceInterface> target = c->newDevice();
            const QString reason = target ? copyFailureReason(*target, k, e) : e.reason();
            VTR_LOG(1, QStringLiteral("%1 %2").arg(QLatin1String(titles[k]), reason));
            c->setKindResult(phaseOf(k), NS_AppController::Outcome::Failed, reason);
            c->setStatusNow(QString(), phaseOf(k), 1.0);
            for (const vtrmedia::Kind later : kinds)
                if (later > k && options.contains(QLatin1String(kKindKeys[later])))
                    c->setKindResult(phaseOf(later), NS_AppController::Outcome::NotMoved,
                                     vtrLocalized("the transfer ended before their turn"));
            c->runOnMainAndWait([c, k, reason] {
                static const char *const captions[] = {"Copying music failed: %1", "Copying photos failed: %1",
                                                       "Copying videos failed: %1"};
                c->setSingleProgressText(vtrLocalized(captions[k]).arg(reason));
            });
            throw VtrException(e.name(), reason, e.userInfo());
        }
    }
}

void NS_AppControllerJobs::startTransferMediaToNewDevice(NS_AppController &controller)
{
    const QVariantMap options = prepareMediaOptions(controller);
    if (!options.isEmpty()) controller.removeManifestReport();
    NS_AppController *c = &controller;
    auto *job = new FunctionJob([this, c, options](FunctionJob &job) -> QVariantMap {
        const LogRun logRun;
        try {
            copyMedia(*c, options, job, true, true);
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
        c->showKindOutcomes();
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
    // Its own report is written at its end, when it gets there.
    controller.removeManifestReport();

    // The overall bar follows the bytes each kind copies within its budget.
    QHash<QString, double> plan;
    for (const vtrmedia::Kind k : {vtrmedia::Music, vtrmedia::Photos, vtrmedia::Videos}) {
        const std::shared_ptr<MediaMigrator> migrator = migratorOf(m_migrators, k);
        if (!media.contains(QLatin1String(kKindKeys[k])) || !migrator) continue;
        qint64 bytes = 0;
        const QList<MediaItem> fitting = migrator->itemsThatFitInBytes(media.value(QLatin1String(kSpaceKeys[k])).toLongLong());
        for (const MediaItem &item : fitting) bytes += item.size;
        plan.insert(phaseOf(k), NS_AppController::secondsForWork(bytes, fitting.size()));
    }
    controller.setWorkPlan(plan);
    // The records are read on this road and go nowhere: a Windows Phone
    // takes them only through Windows Live, which this road does not use.
    // What could not be read says so instead, and a kind with nothing in it
    // had nothing to go anywhere. Once read, its line counts what there is,
    // as the wizard's own road does.
    const bool contactsChosen = controller.contactsEnabled() && contacts;
    const bool eventsChosen = controller.calendarsEnabled() && events;
    auto wasRead = [](NS_AppController &c, const QString &phase, bool chosen) {
        if (!chosen) return;
        if (c.kindResult(phase).outcome == NS_AppController::Outcome::Pending && !c.kindHeldNothing(phase))
            c.setKindResult(phase, NS_AppController::Outcome::NotMoved,
                            vtrLocalized("the one-step transfer does not upload to Windows Live"));
        c.setStatusNow(QString(), phase, 1.0);
    };

    NS_AppController *c = &controller;
    auto contactsDb = m_contacts;
    auto eventsDb = m_events;
    auto stowage = m_stowage;
    auto *job = new FunctionJob([=, this](FunctionJob &job) -> QVariantMap {
        const LogRun logRun;
        try {
            // Calendars come before contacts on this road.
            if (events) {
                readEvents(*oldDevice, newDevice, *eventsDb, *stowage);
                noteUnreachableCalendars(*c, *oldDevice);
                wasRead(*c, vtrphase::Events, eventsChosen);
            }
            if (contacts) {
                readContacts(*oldDevice, newDevice, *contactsDb, *stowage);
                noteUnreachableContacts(*c, *oldDevice);
                wasRead(*c, vtrphase::Contacts, contactsChosen);
            }
            // This road never stops to ask for the media library host.
            copyMedia(*c, media, job, false, false);
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
            c->showKindOutcomes();
            fatalJobAlert(*c, vtrLocalized("An error occurred while transferring to your new device."), result,
                          vtrLocalized("You will have to restart Solvenna and try again.\n\n(%@)"));
            return;
        }
        c->generateFinished(c->buildManifestReport());
    });
    return true;
}
