#include "app/EnvironmentChecks.h"

#include "app/AppServices.h"
#include "app/BackgroundJob.h"
#include "app/NS_AppController.h"
#include "devices/phone/MobileDeviceInterface.h"
#include "devices/phone/WindowsPhone7LocalDevice.h"
#include "foundation/Log.h"
#include "migration/CopyRecords.h"
#include "migration/DataMigrator.h"
#include "platform/Folders.h"
#include "platform/Strings.h"
#include "platform/UserDefaults.h"
#include "sources/host/MediaLibraryHost.h"
#include "sources/iphone/PropertyList.h"
#include "sources/iphone/iOSBackup.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QNetworkInformation>
#include <QSet>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QVariantList>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <utility>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kConnectTimeoutMs = 3000;
constexpr quint16 kHttpsPort = 443;

// The programs of the desktops that open MTP phones for their file managers.
struct KnownHandler
{
    const char *program;
    const char *advice;
};
const KnownHandler kKnownHandlers[] = {
    {"gvfsd-mtp",
     "The desktop's file manager (the GNOME virtual file system, program \"%1\", process %2) has opened your phone. "
     "Eject the phone in the file manager's side bar, or close every window that shows it, then press Next. "
     "If it keeps the phone, end it with \"kill %2\"."},
    {"kiod5",
     "The KDE device service (program \"%1\", process %2) has opened your phone for Dolphin. Close every Dolphin "
     "window that shows the phone, then end the service with \"kquitapp5 kiod5\" (or \"kill %2\")."},
    {"kiod6",
     "The KDE device service (program \"%1\", process %2) has opened your phone for Dolphin. Close every Dolphin "
     "window that shows the phone, then end the service with \"kquitapp6 kiod6\" (or \"kill %2\")."},
    {"kioworker",
     "A KDE file worker (program \"%1\", process %2) has opened your phone. Close every Dolphin window that shows "
     "the phone; if the worker stays, end it with \"kill %2\"."},
    {"kioslave5",
     "A KDE file worker (program \"%1\", process %2) has opened your phone. Close every Dolphin window that shows "
     "the phone; if the worker stays, end it with \"kill %2\"."},
};

const KnownHandler *knownHandler(const QString &program)
{
    for (const KnownHandler &h : kKnownHandlers)
        if (program == QLatin1String(h.program)) return &h;
    return nullptr;
}

QString readFirstLine(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return QString();
    return QString::fromLocal8Bit(file.readLine(4096)).trimmed();
}

// The program of a process: "comm", or for a KDE worker started through a
// launcher, the worker named on its command line.
QString programOf(const QString &processFolder)
{
    const QString comm = readFirstLine(processFolder + QStringLiteral("/comm"));
    if (knownHandler(comm)) return comm;
    QFile cmdline(processFolder + QStringLiteral("/cmdline"));
    if (cmdline.open(QIODevice::ReadOnly)) {
        const QByteArray first = cmdline.read(4096).split('\0').value(0);
        const QString name = QFileInfo(QString::fromLocal8Bit(first)).fileName();
        if (knownHandler(name)) return name;
    }
    return comm;
}

// Continue or Quit; true when the person quit (the run ends).
bool alertQuits(NS_AppController &controller, const QString &title, const QString &text, bool beep = false)
{
    AlertRequest request;
    request.messageText = title;
    request.informativeText = text;
    request.buttons = {vtrLocalized("Continue"), vtrLocalized("Quit")};
    request.cancelButton = 0;
    request.beep = beep;
    if (controller.runAlert(request) != 1) return false;
    controller.terminate();
    return true;
}

}  // namespace

// ---- the Linux answers of the host-environment interface -----------------------------------

bool HostEnvironment::isPhotoLibraryAvailable() const
{
    // Imported photos are filed by the media-library host into album folders
    // of the pictures folder, which it must have or make and which must take
    // them; its music and videos folders are none of the photos' business.
    // Asked before the phone's family is known, so it makes nothing: an
    // iPhone's photos never go there.
    const QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    return !pictures.isEmpty() && vtrenv::writeProblem(pictures).isEmpty();
}

int HostEnvironment::networkReachability() const
{
    QNetworkInformation *info = QNetworkInformation::instance();
    if (!info && QCoreApplication::instance() && QNetworkInformation::loadBackendByFeatures(QNetworkInformation::Feature::Reachability))
        info = QNetworkInformation::instance();
    if (!info) return -1;
    switch (info->reachability()) {
    case QNetworkInformation::Reachability::Online: return 1;
    case QNetworkInformation::Reachability::Disconnected:
    case QNetworkInformation::Reachability::Local:
    case QNetworkInformation::Reachability::Site: return 0;
    case QNetworkInformation::Reachability::Unknown: break;
    }
    return -1;
}

bool HostEnvironment::canReachHost(const QString &hostAndPort, int timeoutMs) const
{
    return vtrenv::canConnect(hostAndPort, kHttpsPort, timeoutMs);
}

QList<DesktopMtpHandler> HostEnvironment::desktopMtpHandlers() const
{
    return vtrenv::desktopMtpHandlers(QStringLiteral("/proc"), QStringLiteral("/dev/bus/usb"));
}

QString HostEnvironment::iCloudAccountsFile() const
{
    return platform::UserDefaults::value(QStringLiteral("MobileMeAccountsPath")).toString();
}

// ---- the checks ------------------------------------------------------------------------------

namespace {

// The new phone's folder, or the home folder it goes into, must take files:
// said first, in those words, rather than as a missing photo program later.
// The media stay chosen: their lines at the end say that they failed and why.
bool folderForNewPhoneQuits(NS_AppController &controller, const vtrenv::WriteProblem &problem)
{
    if (problem.isEmpty()) return false;
    const QString target = WindowsPhone7LocalDevice::storageFolderPath();
    const bool home = problem.folder == QDir::cleanPath(platform::homeFolder());
    return alertQuits(controller,
                      home ? vtrLocalized("Your home folder cannot be written.")
                           : vtrLocalized("The folder for your new phone cannot be written."),
                      vtrenv::describeWriteProblem(problem, target) + QStringLiteral("\n\n") +
                          vtrLocalized("Your music, photos and videos are copied into \"%1\". %2 and start "
                                       "again; if you continue, they cannot be moved.")
                              .arg(QDir::cleanPath(target), vtrenv::remedyFor(problem)),
                      true);
}

// The library's other folders that stand in the way, each with what to do
// about it, as lines to go with the one an alert is about: every one is named
// at once, so that the person sets them all right in one round. A pictures
// folder that is there counts only for the photos, which say it themselves.
QString otherFoldersInTheWay(NS_AppController &controller, const QString &named,
                             const std::function<bool(const vtrenv::WriteProblem &)> &saidAlready)
{
    QStringList lines;
    for (const auto location :
         {QStandardPaths::MusicLocation, QStandardPaths::MoviesLocation, QStandardPaths::PicturesLocation}) {
        const QString folder = QDir::cleanPath(QStandardPaths::writableLocation(location));
        if (folder.isEmpty() || folder == QDir::cleanPath(named) || vtrenv::libraryProblemTold(controller, folder))
            continue;
        if (location == QStandardPaths::PicturesLocation && QFileInfo(folder).isDir()) continue;
        const vtrenv::WriteProblem problem = vtrenv::writeProblem(folder);
        if (problem.isEmpty() || saidAlready(problem)) continue;
        vtrenv::noteLibraryProblemTold(controller, folder);
        lines.append(vtrenv::describeWriteProblem(problem, folder) + QLatin1Char(' ') + vtrenv::remedyFor(problem) +
                     QLatin1Char('.'));
    }
    return lines.isEmpty() ? QString() : QStringLiteral("\n") + lines.join(QLatin1Char('\n'));
}

// A library folder that cannot be made, said once at the start for the kinds
// it stops: music is then not moved (the library takes no music without it)
// and videos reach the new phone without being filed; photos need only their
// own folder.
bool libraryFolderQuits(NS_AppController &controller, const QString &folder, const vtrenv::WriteProblem &problem,
                        const QString &others)
{
    const bool music = folder == QDir::cleanPath(QStandardPaths::writableLocation(QStandardPaths::MusicLocation));
    const bool videos = folder == QDir::cleanPath(QStandardPaths::writableLocation(QStandardPaths::MoviesLocation));
    const QString title = music    ? vtrLocalized("Your music cannot be added to your music library.")
                          : videos ? vtrLocalized("Your videos cannot be added to your video library.")
                                   : vtrLocalized("Your music and videos cannot be added to your libraries.");
    const QString what = vtrLocalized("Your music is not moved, and your videos are copied to your new phone "
                                      "without being added to your video library. %1 and start again to move them, "
                                      "or continue to move the rest.")
                             .arg(vtrenv::remedyFor(problem));
    vtrenv::noteLibraryProblemTold(controller, folder);
    return alertQuits(controller, title,
                      vtrenv::describeWriteProblem(problem, folder) + others + QStringLiteral("\n\n") + what, true);
}

// Where the desktop keeps pictures, which the library host makes when it
// files the first photos there: looking at it makes nothing, since an
// iPhone's photos never go there.
QString picturesFolderPath()
{
    return QDir::cleanPath(QStandardPaths::writableLocation(QStandardPaths::PicturesLocation));
}

const char kStoppedByLibrary[] = "vtrStoppedByLibrary";

void setKindOn(NS_AppController &controller, const QString &kind, bool on)
{
    if (kind == QLatin1String("music")) {
        controller.setMusicEnabled(on);
        controller.setMusicValue(on);
    } else if (kind == QLatin1String("photos")) {
        controller.setPhotosEnabled(on);
        controller.setPhotosValue(on);
    } else if (kind == QLatin1String("videos")) {
        controller.setVideosEnabled(on);
        controller.setVideosValue(on);
    }
}

// A kind that a folder in the way stops is offered no more, with its reason,
// and is still counted on the old phone for its line at the end.
void stopKind(NS_AppController &controller, const char *kind, const QString &reason)
{
    setKindOn(controller, QLatin1String(kind), false);
    vtrenv::setTurnedOffReason(controller, kind, reason);
    vtrenv::noteReadThoughTurnedOff(controller, kind);
    QStringList stopped = controller.property(kStoppedByLibrary).toStringList();
    stopped.append(QLatin1String(kind));
    controller.setProperty(kStoppedByLibrary, stopped);
}

void turnOnKindsTheLibraryStopped(NS_AppController &controller)
{
    for (const QString &kind : controller.property(kStoppedByLibrary).toStringList()) {
        const QByteArray name = kind.toLatin1();
        setKindOn(controller, kind, true);
        vtrenv::setTurnedOffReason(controller, name.constData(), QString());
        vtrenv::noteReadThoughTurnedOff(controller, name.constData(), false);
    }
    controller.setProperty(kStoppedByLibrary, QVariant());
}

// The new phone's folders that hold a media kind's copies, by name, with the
// kind and what continuing does to it when the folder is in the way.
const struct NewPhoneKindFolder
{
    const char *folder, *kind, *continuing;
} kNewPhoneKindFolders[] = {{"Music", "music", "If you continue, your music is not moved."},
                            {"Photos", "photos", "If you continue, your photos are not moved."},
                            {"Videos", "videos", "If you continue, your videos are not moved."}};

QString newPhoneKindFolder(const NewPhoneKindFolder &k)
{
    return QDir::cleanPath(WindowsPhone7LocalDevice::storageFolderPath()) + QLatin1Char('/') + QLatin1String(k.folder);
}

// An item in the way as a line of the start's alert; for a folder of the new
// phone's that holds a kind, with what continuing does to that kind, in
// whichever alert the line goes.
// The kind ("music", "photos" or "videos") that the library folder `path`
// takes in, or nothing for any other item.
QString kindFiledInto(const QString &path);

QString ownItemLineSayingWhatContinuingDoes(const vtrenv::WriteProblem &problem)
{
    for (const NewPhoneKindFolder &k : kNewPhoneKindFolders)
        if (problem.folder == newPhoneKindFolder(k))
            return vtrenv::ownItemLine(problem) + QLatin1Char(' ') + vtrLocalized(k.continuing);
    return vtrenv::ownItemLine(problem);
}

// A folder of the new phone's that the start named (a link, a file or another
// user's folder in its place, or one that cannot be written) holds its kind's
// copies: that kind alone is left out, with its reason, as the alert said,
// and the others move. One that comes in the way only later ends the copy
// there. What stands in place of the new phone's folder itself is every
// kind's, said on its own.
void leaveOutKindsInTheWay(NS_AppController &controller)
{
    if (!vtrenv::ownItemProblem(WindowsPhone7LocalDevice::storageFolderPath()).isEmpty()) return;
    const bool offered[] = {controller.musicEnabled(), controller.photosEnabled(), controller.videosEnabled()};
    for (int i = 0; i < 3; ++i) {
        const NewPhoneKindFolder &k = kNewPhoneKindFolders[i];
        const vtrenv::WriteProblem problem = vtrenv::ownItemProblem(newPhoneKindFolder(k));
        if (offered[i] && !problem.isEmpty() && vtrenv::libraryProblemTold(controller, problem.folder))
            stopKind(controller, k.kind, vtrenv::ownItemLine(problem));
    }
}

// A music or videos folder that is there but cannot be written stops
// nothing: the files still reach the new phone, only the library cannot
// add them. The person hears it at the start, as for the folders that stop
// a kind, rather than first on the last page; `ours` goes with it.
bool unfiledKindsQuit(NS_AppController &controller,
                      const std::function<bool(const vtrenv::WriteProblem &)> &saidAlready, bool musicStopped,
                      QString *ours)
{
    QStringList reasons;
    bool music = false, videos = false;
    const std::pair<QStandardPaths::StandardLocation, bool *> folders[] = {{QStandardPaths::MusicLocation, &music},
                                                                         {QStandardPaths::MoviesLocation, &videos}};
    for (const auto &[location, concerned] : folders) {
        // Music that does not move is not copied unfiled either.
        if (musicStopped && concerned == &music) continue;
        const QString folder = QDir::cleanPath(QStandardPaths::writableLocation(location));
        // A folder that is missing is one the library makes, or cannot make.
        if (folder.isEmpty() || !QFileInfo(folder).isDir()) continue;
        const vtrenv::WriteProblem problem = vtrenv::writeProblem(folder);
        if (problem.isEmpty() || saidAlready(problem) || vtrenv::libraryProblemTold(controller, folder)) continue;
        vtrenv::noteLibraryProblemTold(controller, folder);
        reasons.append(vtrenv::describeWriteProblem(problem, folder) + QLatin1Char(' ') + vtrenv::remedyFor(problem) +
                       QLatin1Char('.'));
        *concerned = true;
    }
    if (reasons.isEmpty()) return false;
    const QString title = music && videos ? vtrLocalized("Your music and videos cannot be added to your libraries.")
                          : music         ? vtrLocalized("Your music cannot be added to your music library.")
                                          : vtrLocalized("Your videos cannot be added to your video library.");
    const QString what =
        music && videos
            ? vtrLocalized("Your music and videos are copied to your new phone without being added to your libraries. "
                           "Once the folders take files, start again to add them, or continue.")
        : music ? vtrLocalized("Your music is copied to your new phone without being added to your music library. "
                               "Once the folder takes files, start again to add it, or continue.")
                : vtrLocalized("Your videos are copied to your new phone without being added to your video library. "
                               "Once the folder takes files, start again to add them, or continue.");
    return alertQuits(controller, title,
                      reasons.join(QLatin1Char('\n')) + std::exchange(*ours, QString()) + QStringLiteral("\n\n") + what,
                      true);
}

// The library's folders that stop a kind or leave it unfiled, each said
// once at the start; `ours`, the program's own folders in the way, goes with
// the first alert. False when the person quit.
bool libraryFoldersLetTheRunGoOn(NS_AppController &controller, QString *ours)
{
    const vtrenv::WriteProblem target = vtrenv::writeProblem(WindowsPhone7LocalDevice::storageFolderPath());
    // The same folder in the way of the new phone's folder was said at the
    // start: the copy meets it and its lines say it.
    const auto saidAlready = [&target](const vtrenv::WriteProblem &p) { return !target.isEmpty() && p.folder == target.folder; };
    const QString picturesFolder = picturesFolderPath();
    const vtrenv::WriteProblem pictures = controller.photosEnabled() && !picturesFolder.isEmpty()
                                              ? vtrenv::writeProblem(picturesFolder)
                                              : vtrenv::WriteProblem();
    const QString blocked = QDir::cleanPath(vtrenv::blockedLibraryFolder());
    const vtrenv::WriteProblem blockedProblem = blocked.isEmpty() ? vtrenv::WriteProblem() : vtrenv::writeProblem(blocked);
    // The music library stops at the photos' folder: said with the photos.
    const bool libraryToo = !pictures.isEmpty() && !saidAlready(pictures) && !blockedProblem.isEmpty() &&
                            blockedProblem.folder == pictures.folder;
    if (!pictures.isEmpty() && !saidAlready(pictures)) {
        const QString reason = vtrenv::describeWriteProblem(pictures, picturesFolder);
        if (!vtrenv::libraryProblemTold(controller, picturesFolder)) {
            vtrenv::noteLibraryProblemTold(controller, picturesFolder);
            // The music it stops needs the library's other folders too.
            const QString others =
                libraryToo ? otherFoldersInTheWay(controller, picturesFolder, saidAlready) : QString();
            if (alertQuits(controller, vtrLocalized("The folder for your photos cannot be written."),
                           reason + others + std::exchange(*ours, QString()) + QStringLiteral("\n\n") +
                               (libraryToo
                                    ? vtrLocalized("Your music is not moved either, and your videos are copied to "
                                                   "your new phone without being added to your video library. ")
                                    : QString()) +
                               vtrLocalized("You can continue if you would like to transfer other data, or quit "
                                            "and %1.")
                                   .arg(vtrenv::asClause(vtrenv::remedyFor(pictures)))))
                return false;
        }
        stopKind(controller, "photos", reason);
    }
    // The music library needs all of its folders: one that cannot be made
    // stops the music, and is said for the kinds it stops unless it was
    // said already. The folders that leave the music or videos unfiled are
    // said with it, or on their own.
    const bool musicStopped = !blockedProblem.isEmpty() && !saidAlready(blockedProblem);
    if (saidAlready(blockedProblem)) {
        vtrenv::noteLibraryProblemTold(controller, blocked);
    } else if (musicStopped) {
        if (libraryToo) {
            vtrenv::noteLibraryProblemTold(controller, blocked);
        } else if (!vtrenv::libraryProblemTold(controller, blocked)) {
            if (libraryFolderQuits(controller, blocked, blockedProblem,
                                   otherFoldersInTheWay(controller, blocked, saidAlready) +
                                       std::exchange(*ours, QString())))
                return false;
        }
        stopKind(controller, "music", vtrenv::describeMusicLibraryProblem(blockedProblem, blocked));
    }
    return !unfiledKindsQuit(controller, saidAlready, musicStopped, ours);
}

}  // namespace

void HostEnvironmentChecks::runWelcomeChecks(NS_AppController &controller)
{
    const vtrenv::WriteProblem target = vtrenv::writeProblem(WindowsPhone7LocalDevice::storageFolderPath());
    if (folderForNewPhoneQuits(controller, target)) return;
    // A pictures folder that cannot be written matters only to a phone whose
    // photos are filed there: said once its family is known. Without one
    // the computer has no photo library at all.
    const QString picturesFolder = picturesFolderPath();
    if (controller.photosEnabled() && (picturesFolder.isEmpty() || vtrenv::writeProblem(picturesFolder).isEmpty()) &&
        !m_host.isPhotoLibraryAvailable()) {
        if (alertQuits(controller, vtrLocalized("iPhoto Not Found"),
                       vtrLocalized("Solvenna to Windows Phone could not locate iPhoto on your computer. iPhoto is "
                                    "required to import photos to your new device. You can continue if you would like "
                                    "to transfer other data, or quit and install iPhoto.")))
            return;
        controller.setPhotosValue(false);
        controller.setPhotosEnabled(false);
        vtrenv::setTurnedOffReason(controller, "photos", vtrLocalized("there is no photo library on this computer to add them to."));
        vtrenv::noteReadThoughTurnedOff(controller, "photos");
    }
    // The network and the process list may take a moment: asked on a job,
    // answered in the same order once both are known.
    const int known = m_host.networkReachability();
    HostEnvironment *host = &m_host;
    auto answers = std::make_shared<QList<DesktopMtpHandler>>();
    NS_AppController *c = &controller;
    controller.runJob(new FunctionJob([host, known, answers](FunctionJob &) {
                          QVariantMap result = BackgroundJob::successResult();
                          const bool online = known >= 0 ? known == 1 : host->canReachHost(vtrenv::liveHost(), kConnectTimeoutMs);
                          result.insert(QStringLiteral("online"), online);
                          *answers = host->desktopMtpHandlers();
                          return result;
                      }),
                      [c, answers](const QVariantMap &result) {
                          // A failed probe counts as no internet.
                          showWelcomeAnswers(*c, result.value(QStringLiteral("online")).toBool(), *answers);
                      });
}

void HostEnvironmentChecks::showWelcomeAnswers(NS_AppController &controller, bool online,
                                               const QList<DesktopMtpHandler> &handlers)
{
    if (!online &&
        alertQuits(controller, vtrLocalized("No Internet Connection"),
                   vtrLocalized("Solvenna to Windows Phone requires an internet connection to migrate your Contacts "
                                "and Calendar information, and to recommend Apps. You can still migrate your Music, "
                                "Photos and Videos offline.")))
        return;
    if (handlers.isEmpty()) return;
    for (const DesktopMtpHandler &handler : handlers)
        VTR_LOG(3, QStringLiteral("%1 (process %2) holds %3.").arg(handler.program).arg(handler.pid).arg(handler.deviceNode));
    QStringList advice;
    for (const DesktopMtpHandler &handler : handlers) advice.append(vtrenv::mtpHandlerAdvice(handler));
    advice.removeDuplicates();
    AlertRequest request;
    request.messageText = vtrLocalized("Another program is using your phone");
    request.informativeText =
        advice.join(QStringLiteral("\n\n")) + QStringLiteral("\n\n") +
        vtrLocalized("While another program holds the phone, Solvenna to Windows Phone cannot read it. If the "
                     "program opens the phone again when you plug it in, release it the same way.");
    request.buttons = {vtrLocalized("OK")};
    request.cancelButton = 0;
    request.style = AlertRequest::Style::Informational;
    controller.runAlert(request);
}

bool HostEnvironmentChecks::runLibraryChecks(NS_AppController &controller, int family)
{
    // Decided anew for each phone: what one family's filing stopped does not
    // hold for the next.
    turnOnKindsTheLibraryStopped(controller);
    // An iPhone's media are never filed into the desktop's folders (its songs
    // come from the music library, its photos and videos go to the new phone
    // alone): no library folder stops or concerns them. The new phone's
    // folders and the data folder concern every family.
    const bool media = controller.canMigrateMedia();
    const bool filed = media && family != MobileDeviceInterface::kDeviceTypeApple;
    // Said with the first of the library's alerts, or in one of their own:
    // every folder in the way is named at once, so that one round of the
    // remedies lets the next run move everything. The library's own folders
    // count only for the kinds it is to take: a media folder that stops the
    // music leaves the music and the videos unfiled, said with that folder.
    QList<vtrenv::WriteProblem> problems = vtrenv::ownItemsInTheWay(media, filed);
    if (filed) {
        const bool libraryTakesMusic = vtrenv::blockedLibraryFolder().isEmpty();
        problems += vtrenv::libraryItemsInTheWay(libraryTakesMusic && controller.musicEnabled(),
                                                 controller.photosEnabled(),
                                                 libraryTakesMusic && controller.videosEnabled());
    }
    QString ours;
    QStringList continuing;
    QStringList leftOut;
    for (const vtrenv::WriteProblem &problem : std::as_const(problems))
        for (const NewPhoneKindFolder &k : kNewPhoneKindFolders)
            if (problem.folder == newPhoneKindFolder(k)) leftOut.append(QLatin1String(k.kind));
    for (const vtrenv::WriteProblem &problem : std::as_const(problems)) {
        if (vtrenv::libraryProblemTold(controller, problem.folder)) continue;
        vtrenv::noteLibraryProblemTold(controller, problem.folder);
        // A folder whose kind is left out says so on its own line; the
        // others' closing words are said once, after all the lines.
        // What a library folder of a kind that is left out would do to that
        // kind is not said: the kind is not moved at all.
        const QString line = ownItemLineSayingWhatContinuingDoes(problem);
        ours += QLatin1Char('\n') + line;
        if (line == vtrenv::ownItemLine(problem) && !leftOut.contains(kindFiledInto(problem.folder)))
            continuing.append(vtrenv::continuingWith(problem, filed));
    }
    // What going on does is said with them, in whichever alert they go.
    continuing.removeDuplicates();
    if (!ours.isEmpty())
        ours += QStringLiteral("\n\n") +
                (vtrLocalized("Do what each line says and start again to move everything.") + QLatin1Char(' ') +
                 continuing.join(QLatin1Char(' ')))
                    .trimmed();
    if (filed && !libraryFoldersLetTheRunGoOn(controller, &ours)) return false;
    if (!ours.isEmpty() &&
        alertQuits(controller, vtrLocalized("Folders that your transfer needs cannot be used."), ours.mid(1), true))
        return false;
    if (media) leaveOutKindsInTheWay(controller);
    return !controller.isTerminated();
}

void HostEnvironmentChecks::runICloudCheck(NS_AppController &controller)
{
    if (!vtrenv::userHasICloudPIM(m_host.iCloudAccountsFile())) return;
    AlertRequest request;
    request.messageText = vtrLocalized("iCloud Enabled");
    request.informativeText = vtrLocalized(
        "Solvenna to Windows Phone has detected that iCloud is enabled for Contacts or Calendars. Migrating Contacts "
        "and Calendars from iCloud is not currently supported.");
    request.buttons = {vtrLocalized("Continue")};
    request.cancelButton = 0;
    controller.runAlert(request);
}

// ---- helpers ---------------------------------------------------------------------------------

namespace {

// The system gives up on a path after this many links.
constexpr int kMaxLinks = 40;

// Where a chain of links that begins at `link` ends, taken one link at a
// time: the first link's target, the last link and its target, and whether
// that target is a folder or missing (`error`), or the chain comes back to a
// link it passed or goes on beyond what the system follows.
struct LinkChain
{
    QString firstTarget;
    QString lastLink;
    QString end;
    int error = 0;
    bool folder = false;
    bool loop = false;
    bool tooMany = false;
};

LinkChain followLinks(const QString &link)
{
    LinkChain chain;
    QString current = link;
    QSet<QString> seen{link};
    for (int links = 1;; ++links) {
        chain.lastLink = current;
        QByteArray raw(4096, Qt::Uninitialized);
        const ssize_t length = ::readlink(QFile::encodeName(current).constData(), raw.data(), size_t(raw.size()));
        if (length < 0) {
            chain.error = errno;
            chain.end = current;
            return chain;
        }
        raw.truncate(length);
        // A relative target is read from the link's folder, as the system
        // reads it (".." after a link included); it is named cleaned.
        const QString target = QFile::decodeName(raw);
        const QString path =
            QDir::isAbsolutePath(target) ? target : QFileInfo(current).path() + QLatin1Char('/') + target;
        chain.end = QDir::cleanPath(path);
        if (chain.firstTarget.isEmpty()) chain.firstTarget = chain.end;
        struct stat st;
        if (::lstat(QFile::encodeName(path).constData(), &st) != 0) {
            chain.error = errno;
            chain.tooMany = chain.error == ELOOP;
            return chain;
        }
        if (!S_ISLNK(st.st_mode)) {
            chain.folder = S_ISDIR(st.st_mode);
            return chain;
        }
        chain.loop = seen.contains(chain.end);
        chain.tooMany = links >= kMaxLinks;
        if (chain.loop || chain.tooMany) return chain;
        seen.insert(chain.end);
        current = path;
    }
}

// The name of the user `uid`, or the number where it has none.
QString userName(uid_t uid)
{
    struct passwd entry;
    struct passwd *found = nullptr;
    QByteArray buffer(16384, Qt::Uninitialized);
    if (::getpwuid_r(uid, &entry, buffer.data(), size_t(buffer.size()), &found) == 0 && found && found->pw_name &&
        *found->pw_name)
        return QString::fromLocal8Bit(found->pw_name);
    return QString::number(uid);
}

// Whether this user may give the entry `path` (`entry` its own status, not
// its link's target's) another name in the folder that holds it: that folder
// takes changes from this user, and when it is sticky it or the entry is this
// user's. A mount point cannot be renamed at all.
bool renamableWhereItIs(const QString &path, const struct stat &entry)
{
    const QString parent = QFileInfo(path).path();
    struct stat holder;
    if (parent == path || ::stat(QFile::encodeName(parent).constData(), &holder) != 0) return false;
    if (holder.st_dev != entry.st_dev || ::access(QFile::encodeName(parent).constData(), W_OK | X_OK) != 0) return false;
    return (holder.st_mode & S_ISVTX) == 0 || holder.st_uid == ::geteuid() || entry.st_uid == ::geteuid();
}

// A library file of ours that does not read as one stops its library:
// nothing is filed into it until it is moved aside, and it is kept as it is
// for the person to look at.
vtrenv::WriteProblem damagedLibraryFile(const QString &file)
{
    const std::optional<vtr::PropertyListError> damage = MediaLibraryHost::shared().libraryFileDamage(file);
    if (!damage) return {};
    QString what = vtrenv::asClause(damage->reason);
    if (damage->line > 0) what += vtrLocalized(", line %1").arg(damage->line);
    vtrenv::WriteProblem problem{QDir::cleanPath(file), vtrLocalized("it is damaged (%1)").arg(what),
                                 vtrenv::WriteProblem::Standing::Damaged};
    problem.file = true;
    return problem;
}

// The folders of the media library that a run files into, by the kind that
// needs each, as the library host names them; looking makes none of them.
// Videos go into the videos folder, and so does a playlist of videos alone.
enum class LibraryItem { MusicCollection, PhotosCollection, VideosCollection, MusicPlaylists, VideosPlaylists };
struct LibraryFolder
{
    LibraryItem item;
    QString path;
};
QList<LibraryFolder> libraryFolders(bool music, bool photos, bool videos)
{
    const auto at = [](QStandardPaths::StandardLocation location, const QString &name) {
        const QString folder = QStandardPaths::writableLocation(location);
        return folder.isEmpty() ? QString() : QDir::cleanPath(QDir(folder).filePath(name));
    };
    const auto collection = [](QStandardPaths::StandardLocation location, const char *format) {
        const QString folder = QStandardPaths::writableLocation(location);
        return folder.isEmpty() ? QString()
                                : QDir::cleanPath(MediaLibraryHost::collectionFolder(
                                      folder, MediaMigrator::collectionNameOf(QLatin1String(format))));
    };
    QList<LibraryFolder> folders;
    if (music) {
        folders.append({LibraryItem::MusicCollection,
                        collection(QStandardPaths::MusicLocation, MediaMigrator::kMusicCollectionFormat)});
        folders.append({LibraryItem::MusicPlaylists, at(QStandardPaths::MusicLocation, QStringLiteral("Playlists"))});
    }
    if (photos)
        folders.append({LibraryItem::PhotosCollection,
                        collection(QStandardPaths::PicturesLocation, MediaMigrator::kPhotosCollectionFormat)});
    if (videos) {
        folders.append({LibraryItem::VideosCollection,
                        collection(QStandardPaths::MoviesLocation, MediaMigrator::kVideosCollectionFormat)});
        folders.append({LibraryItem::VideosPlaylists, at(QStandardPaths::MoviesLocation, QStringLiteral("Playlists"))});
    }
    folders.removeIf([](const LibraryFolder &folder) { return folder.path.isEmpty(); });
    return folders;
}

QString kindFiledInto(const QString &path)
{
    for (const LibraryFolder &folder : libraryFolders(true, true, true)) {
        if (folder.path != path) continue;
        switch (folder.item) {
        case LibraryItem::MusicCollection:
        case LibraryItem::MusicPlaylists: return QStringLiteral("music");
        case LibraryItem::PhotosCollection: return QStringLiteral("photos");
        case LibraryItem::VideosCollection:
        case LibraryItem::VideosPlaylists: return QStringLiteral("videos");
        }
    }
    return {};
}

}  // namespace

namespace vtrenv {

QList<WriteProblem> libraryItemsInTheWay(bool music, bool photos, bool videos)
{
    QList<WriteProblem> problems;
    for (const LibraryFolder &folder : libraryFolders(music, photos, videos))
        if (WriteProblem problem = ownItemProblem(folder.path); !problem.isEmpty()) problems.append(problem);
    return problems;
}

QString continuingWith(const WriteProblem &problem, bool filed)
{
    const QString item = problem.folder;
    const auto within = [&item](const QString &folder) {
        const QString clean = QDir::cleanPath(folder);
        return item == clean || item.startsWith(clean + QLatin1Char('/'));
    };
    if (within(WindowsPhone7LocalDevice::storageFolderPath()))
        return vtrLocalized("If you continue, what needs the new phone's folders named above is not moved.");
    const QString data = QDir::cleanPath(platform::dataFolder());
    if (problem.standing == WriteProblem::Standing::Damaged)
        return item == QDir::cleanPath(MediaLibraryHost::albumDataFilePath())
                   ? vtrLocalized("If you continue, your photos are copied to your new phone without being added to "
                                  "your photo library, and the damaged file stays as it is.")
                   : vtrLocalized("If you continue, your music and videos are copied to your new phone without being "
                                  "added to your music library, and the damaged file stays as it is.");
    // What is filed still lands in the library's folders: only the library
    // files do not list it. Copies that are not recorded are never cleared.
    if (item == data && filed)
        return vtrLocalized("If you continue, your data is moved all the same, but the library files are not kept, "
                            "so they do not list what is added to your library's folders, and the copies are not "
                            "recorded, so a later transfer leaves them in place.");
    if (within(data) && (item == QDir::cleanPath(MediaLibraryHost::musicLibraryFilePath()) ||
                         item == QDir::cleanPath(MediaLibraryHost::albumDataFilePath())))
        return vtrLocalized("If you continue, your data is moved and added to your library's folders all the same, "
                            "but the library file named above stays as it is and does not list what is added.");
    if (within(data))
        return vtrLocalized("If you continue, your data is moved all the same, but the copies are not recorded, so a "
                            "later transfer leaves them in place.");
    for (const LibraryFolder &folder : libraryFolders(true, true, true)) {
        if (folder.path != item) continue;
        switch (folder.item) {
        case LibraryItem::MusicCollection:
            return vtrLocalized("If you continue, your music is copied to your new phone without being added to your "
                                "music library.");
        case LibraryItem::PhotosCollection:
            return vtrLocalized("If you continue, your photos are copied to your new phone without being added to "
                                "your photo library.");
        case LibraryItem::VideosCollection:
            return vtrLocalized("If you continue, your videos are copied to your new phone without being added to "
                                "your video library.");
        case LibraryItem::MusicPlaylists:
            return vtrLocalized("If you continue, your music is added to your music library without its playlists.");
        case LibraryItem::VideosPlaylists:
            return vtrLocalized("If you continue, your videos are added to your video library without their "
                                "playlist.");
        }
    }
    return vtrLocalized("If you continue, what needs these folders is not moved.");
}

WriteProblem writeProblem(const QString &path)
{
    using Standing = WriteProblem::Standing;
    const auto systemReason = [](int error) { return QString::fromLocal8Bit(std::strerror(error)); };
    QString folder = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    // Up to the nearest part of the path that is there: that is where the
    // rest would have to be made. A link counts as there even when it leads
    // nowhere: what it stands for cannot be made past it.
    QByteArray native = QFile::encodeName(folder);
    struct stat here;
    while (::lstat(native.constData(), &here) != 0) {
        const QString parent = QFileInfo(folder).path();
        if (parent == folder) return {folder, systemReason(errno)};
        folder = parent;
        native = QFile::encodeName(folder);
    }
    if (S_ISLNK(here.st_mode)) {
        // A link to a folder is where the person keeps it; one to nothing
        // (a disk that is not plugged in) or to a file is in the way.
        const LinkChain chain = followLinks(folder);
        // The first link's target, and the link of the chain whose target
        // is what is wrong when that is another.
        QString cause = vtrLocalized("it is a link to \"%1\"").arg(chain.firstTarget);
        if (chain.lastLink != folder)
            cause += vtrLocalized(", and the link \"%1\" points to \"%2\"").arg(chain.lastLink, chain.end);
        if (chain.loop)
            return {folder, vtrLocalized("it is a link that leads round a loop of links"), Standing::LinkLoop,
                    chain.end, chain.lastLink};
        if (chain.tooMany)
            return {folder, vtrLocalized("it leads through more than %1 links, or round a loop of them").arg(kMaxLinks),
                    Standing::LinkLoop, chain.end, chain.lastLink};
        if (chain.error == ENOENT || chain.error == ENOTDIR)
            return {folder, cause + vtrLocalized(", which is missing"), Standing::LinkToNothing, chain.end,
                    chain.lastLink};
        if (chain.error != 0)
            return {folder, cause + vtrLocalized(", which cannot be reached: %1").arg(systemReason(chain.error)),
                    Standing::LinkToNothing, chain.end, chain.lastLink};
        if (!chain.folder)
            return {folder, cause + vtrLocalized(", which is not a folder"), Standing::LinkToFile, chain.end,
                    chain.lastLink};
    } else if (!S_ISDIR(here.st_mode)) {
        return {folder, systemReason(ENOTDIR), Standing::File};
    }
    if (::access(native.constData(), W_OK | X_OK) != 0) {
        const int error = errno;
        // Only its owner may change its modes: the person can have it made
        // theirs, or rename it where they may (a new one is made then).
        struct stat target;
        if (error != EACCES || ::stat(native.constData(), &target) != 0 || target.st_uid == ::geteuid())
            return {folder, systemReason(error)};
        const QString owner = userName(target.st_uid);
        return {folder, vtrLocalized("it belongs to another user, \"%1\"").arg(owner), Standing::AnotherUsers,
                QString(), QString(), target.st_uid == 0 ? QString() : owner, renamableWhereItIs(folder, here)};
    }
    return {};
}

WriteProblem ownItemProblem(const QString &path, bool file)
{
    using Standing = WriteProblem::Standing;
    const QString item = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    const QByteArray native = QFile::encodeName(item);
    struct stat st;
    // A missing item is made when it is needed; one that cannot be made is
    // the folder on its way, said on its own.
    if (::lstat(native.constData(), &st) != 0) return {};
    WriteProblem problem{item, QString()};
    problem.file = file;
    if (S_ISLNK(st.st_mode)) {
        problem.linkTarget = followLinks(item).firstTarget;
        problem.cause = vtrLocalized("it is a link to \"%1\"").arg(problem.linkTarget);
        problem.standing = Standing::Link;
    } else if (st.st_uid != ::geteuid()) {
        const QString owner = userName(st.st_uid);
        problem.cause = vtrLocalized("it belongs to another user, \"%1\"").arg(owner);
        problem.standing = Standing::AnotherUsers;
        problem.owner = st.st_uid == 0 ? QString() : owner;
        problem.renamable = renamableWhereItIs(item, st);
    } else if (file ? !S_ISREG(st.st_mode) : !S_ISDIR(st.st_mode)) {
        problem.cause = file ? vtrLocalized("it is not a plain file") : QString::fromLocal8Bit(std::strerror(ENOTDIR));
        problem.standing = Standing::File;
    } else if (::access(native.constData(), file ? R_OK | W_OK : W_OK | X_OK) != 0) {
        problem.cause = QString::fromLocal8Bit(std::strerror(errno));
    }
    return problem;
}

QString describeOwnItemProblem(const WriteProblem &problem)
{
    if (problem.isEmpty()) return QString();
    if (problem.standing == WriteProblem::Standing::Unwritable)
        return (problem.file ? vtrLocalized("The file \"%1\" cannot be read and written: %2.")
                             : vtrLocalized("The folder \"%1\" cannot be written: %2."))
            .arg(problem.folder, problem.cause);
    return (problem.file ? vtrLocalized("The file \"%1\" cannot be used: %2.")
                         : vtrLocalized("The folder \"%1\" cannot be used: %2."))
        .arg(problem.folder, problem.cause);
}

QString ownItemLine(const WriteProblem &problem)
{
    return describeOwnItemProblem(problem) + QLatin1Char(' ') + remedyFor(problem) + QLatin1Char('.');
}

QList<WriteProblem> ownItemsInTheWay(bool media, bool filed)
{
    QList<WriteProblem> problems;
    const auto say = [&problems](const WriteProblem &problem) {
        if (problem.isEmpty()) return false;
        problems.append(problem);
        return true;
    };
    // The new phone's folders, as the copies and the report use them.
    const QString storage = QDir::cleanPath(WindowsPhone7LocalDevice::storageFolderPath());
    QStringList folders;
    if (media) folders = {QStringLiteral("Music"), QStringLiteral("Playlists"), QStringLiteral("Photos"), QStringLiteral("Videos")};
    folders.append(QStringLiteral("Migration Info"));
    // The new phone's folder itself first: nothing is copied through a link
    // in its place, nor into another user's folder, and what lies below
    // either is not looked at. What the start said of it already (a file in
    // its place, or a folder that cannot be written) is not said again.
    const WriteProblem top = ownItemProblem(storage);
    const bool topSaid = top.standing == WriteProblem::Standing::File || !writeProblem(storage).isEmpty();
    if (!top.isEmpty() && top.standing != WriteProblem::Standing::Unwritable && !topSaid) say(top);
    if (top.isEmpty())
        for (const QString &name : std::as_const(folders)) say(ownItemProblem(storage + QLatin1Char('/') + name));
    // The data folder and the folder of the records are made private when
    // they are opened: only what stands in their place is in the way. A
    // record that cannot be read and appended to keeps no copy known.
    const QString data = QDir::cleanPath(platform::dataFolder());
    const auto inTheWay = [](WriteProblem problem) {
        if (problem.standing == WriteProblem::Standing::Unwritable) problem = WriteProblem();
        return problem;
    };
    if (say(inTheWay(ownItemProblem(data)))) return problems;
    if (filed)
        for (const QString &file : {MediaLibraryHost::musicLibraryFilePath(), MediaLibraryHost::albumDataFilePath()})
            if (!say(inTheWay(ownItemProblem(file, true)))) say(damagedLibraryFile(file));
    if (!media) return problems;
    const QString records = data + QStringLiteral("/Copy records");
    if (say(inTheWay(ownItemProblem(records)))) return problems;
    for (const QString &name : std::as_const(folders)) {
        if (name == QLatin1String("Migration Info")) continue;
        const QString key = storage + QLatin1Char('/') + name;
        say(ownItemProblem(records + QLatin1Char('/') +
                               QFile::decodeName(vtr::migration::RecordFiles::fileFor(key)),
                           true));
    }
    return problems;
}

QString remedyFor(const WriteProblem &problem)
{
    switch (problem.standing) {
    case WriteProblem::Standing::Unwritable: break;
    case WriteProblem::Standing::File:
        if (problem.file) return vtrLocalized("Move \"%1\" out of the way").arg(problem.folder);
        return vtrLocalized("Move the file that is in the way of the folder");
    case WriteProblem::Standing::Link: return vtrLocalized("Remove the link \"%1\"").arg(problem.folder);
    case WriteProblem::Standing::Damaged:
        return vtrLocalized("Move \"%1\" aside, and a new one is made").arg(problem.folder);
    case WriteProblem::Standing::LinkToNothing:
        if (!problem.lastLink.isEmpty() && problem.lastLink != problem.folder)
            return vtrLocalized("Plug in the disk that holds \"%1\" or remove the link \"%2\"")
                .arg(problem.linkTarget, problem.lastLink);
        return vtrLocalized("Plug in the disk that holds \"%1\" or remove the link").arg(problem.linkTarget);
    case WriteProblem::Standing::LinkToFile: return vtrLocalized("Point the link to a folder or remove it");
    case WriteProblem::Standing::LinkLoop:
        return vtrLocalized("Remove the link \"%1\"").arg(problem.folder);
    case WriteProblem::Standing::AnotherUsers: {
        // The administrator is the one to ask of a folder of the system's own.
        const QString ask =
            problem.file
                ? (problem.owner.isEmpty()
                       ? vtrLocalized("Ask an administrator to make the file \"%1\" yours").arg(problem.folder)
                       : vtrLocalized("Ask \"%1\" or an administrator to make the file \"%2\" yours")
                             .arg(problem.owner, problem.folder))
            : problem.owner.isEmpty()
                ? vtrLocalized("Ask an administrator to make the folder \"%1\" yours").arg(problem.folder)
                : vtrLocalized("Ask \"%1\" or an administrator to make the folder \"%2\" yours")
                      .arg(problem.owner, problem.folder);
        return problem.renamable ? ask + vtrLocalized(", or rename it so that a new one is made") : ask;
    }
    }
    return problem.file ? vtrLocalized("Make the file readable and writable") : vtrLocalized("Make the folder writable");
}

QString describeWriteProblem(const WriteProblem &problem, const QString &wanted)
{
    if (problem.isEmpty()) return QString();
    const QString cleanWanted = QDir::cleanPath(wanted);
    if (cleanWanted == problem.folder)
        return vtrLocalized("The folder \"%1\" cannot be written: %2.").arg(problem.folder, problem.cause);
    return vtrLocalized("The folder \"%1\" cannot be made, because the folder \"%2\" cannot be written: %3.")
        .arg(cleanWanted, problem.folder, problem.cause);
}

QString describeMusicLibraryProblem(const WriteProblem &problem, const QString &folder)
{
    if (problem.isEmpty()) return QString();
    const QString cleanFolder = QDir::cleanPath(folder);
    if (cleanFolder == QDir::cleanPath(QStandardPaths::writableLocation(QStandardPaths::MusicLocation)))
        return describeWriteProblem(problem, cleanFolder);
    if (cleanFolder == problem.folder)
        return vtrLocalized("The music library needs the folder \"%1\", which cannot be written: %2.")
            .arg(cleanFolder, problem.cause);
    return vtrLocalized("The music library needs the folder \"%1\", which cannot be made, because the folder \"%2\" "
                        "cannot be written: %3.")
        .arg(cleanFolder, problem.folder, problem.cause);
}

QString asClause(QString sentence)
{
    sentence = sentence.trimmed();
    if (sentence.endsWith(QLatin1Char('.'))) sentence.chop(1);
    // "The" becomes "the"; a name such as "iPhone" or "MP3" stays as it is.
    if (sentence.size() > 1 && sentence.at(0).isUpper() && sentence.at(1).isLower())
        sentence[0] = sentence.at(0).toLower();
    return sentence;
}

QString blockedLibraryFolder()
{
    for (const auto location : {QStandardPaths::MusicLocation, QStandardPaths::MoviesLocation,
                                QStandardPaths::PicturesLocation}) {
        const QString folder = QStandardPaths::writableLocation(location);
        if (!folder.isEmpty() && !QFileInfo(folder).isDir() && !writeProblem(folder).isEmpty()) return folder;
    }
    return QString();
}

namespace {
const char kLibraryProblemTold[] = "vtrLibraryProblemTold";
QByteArray turnedOffKey(const char *kind) { return QByteArray("vtrTurnedOff_") + kind; }
QByteArray readAnywayKey(const char *kind) { return QByteArray("vtrReadThoughTurnedOff_") + kind; }
}  // namespace

void noteLibraryProblemTold(NS_AppController &controller, const QString &folder)
{
    QStringList told = controller.property(kLibraryProblemTold).toStringList();
    told.append(QDir::cleanPath(folder));
    controller.setProperty(kLibraryProblemTold, told);
}

bool libraryProblemTold(const NS_AppController &controller, const QString &folder)
{
    return controller.property(kLibraryProblemTold).toStringList().contains(QDir::cleanPath(folder));
}

void setTurnedOffReason(NS_AppController &controller, const char *kind, const QString &reason)
{
    controller.setProperty(turnedOffKey(kind).constData(), reason);
}

QString turnedOffReason(const NS_AppController &controller, const char *kind)
{
    return controller.property(turnedOffKey(kind).constData()).toString();
}

void noteReadThoughTurnedOff(NS_AppController &controller, const char *kind, bool read)
{
    controller.setProperty(readAnywayKey(kind).constData(), read);
}

bool readThoughTurnedOff(const NS_AppController &controller, const char *kind)
{
    return controller.property(readAnywayKey(kind).constData()).toBool();
}

QList<DesktopMtpHandler> desktopMtpHandlers(const QString &procRoot, const QString &usbRoot)
{
    QList<DesktopMtpHandler> found;
    const QString prefix = QDir::cleanPath(usbRoot) + QLatin1Char('/');
    const qint64 self = ::getpid();
    QStringList pids = QDir(procRoot).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    std::sort(pids.begin(), pids.end(), [](const QString &a, const QString &b) { return a.toLongLong() < b.toLongLong(); });
    for (const QString &name : pids) {
        bool numeric = false;
        const qint64 pid = name.toLongLong(&numeric);
        if (!numeric || pid == self) continue;
        const QString folder = procRoot + QLatin1Char('/') + name;
        const QString program = programOf(folder);
        if (!knownHandler(program)) continue;
        // Another user's descriptors cannot be read: such a process is not
        // reported (it cannot hold a device this user opened either).
        const QDir fds(folder + QStringLiteral("/fd"));
        for (const QString &fd : fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
            const QString target = QFile::symLinkTarget(fds.filePath(fd));
            if (!target.startsWith(prefix)) continue;
            found.append(DesktopMtpHandler{pid, program, target});
            break;
        }
    }
    return found;
}

QString mtpHandlerAdvice(const DesktopMtpHandler &handler)
{
    const KnownHandler *known = knownHandler(handler.program);
    const char *text = known ? known->advice
                             : "The program \"%1\" (process %2) has opened your phone. Quit it, then press Next.";
    return vtrLocalized(text).arg(handler.program).arg(handler.pid);
}

bool userHasICloudPIM(const QString &accountsPlistPath)
{
    if (accountsPlistPath.isEmpty()) return false;
    const QVariantMap plist = vtr::plist::dictionaryFromFile(accountsPlistPath);
    for (const QVariant &accountValue : plist.value(QStringLiteral("Accounts")).toList()) {
        const QVariantMap account = accountValue.toMap();
        if (account.value(QStringLiteral("AccountDescription")).toString() != QLatin1String("iCloud")) continue;
        for (const QVariant &serviceValue : account.value(QStringLiteral("Services")).toList()) {
            const QVariantMap service = serviceValue.toMap();
            const QString id = service.value(QStringLiteral("ServiceID")).toString();
            if ((id == QLatin1String("com.apple.Dataclass.Contacts") ||
                 id == QLatin1String("com.apple.Dataclass.Calendars")) &&
                service.value(QStringLiteral("Enabled")).toBool())
                return true;
        }
    }
    return false;
}

bool canConnect(const QString &hostAndPort, quint16 defaultPort, int timeoutMs)
{
    QString host = hostAndPort.trimmed();
    quint16 port = defaultPort;
    const int colon = host.lastIndexOf(QLatin1Char(':'));
    if (colon > 0 && !host.contains(QLatin1Char(']'), Qt::CaseSensitive)) {
        bool ok = false;
        const uint value = host.mid(colon + 1).toUInt(&ok);
        if (!ok || value == 0 || value > 65535) return false;
        port = quint16(value);
        host.truncate(colon);
    }
    if (host.isEmpty()) return false;
    // A socket without an event loop of its own: the waits below drive it.
    QTcpSocket socket;
    socket.connectToHost(host, port);
    const bool connected = socket.waitForConnected(timeoutMs);
    socket.abort();
    return connected;
}

QString liveHost()
{
    const QString host = platform::UserDefaults::value(QStringLiteral("LiveAPIHost")).toString().trimmed();
    return host.isEmpty() ? QStringLiteral("apis.live.net") : host;
}

std::shared_ptr<iOSBackup> oldBackup(const QString &serialNumber)
{
    if (serialNumber.isEmpty()) return nullptr;
    std::shared_ptr<iOSBackup> newest;
    for (const iOSBackup::Ptr &backup : iOSBackup::iOSBackups()) {
        if (!backup || !backup->isCurrentBackup()) continue;
        if (backup->deviceID().compare(serialNumber, Qt::CaseInsensitive) != 0) continue;
        if (!newest || backup->lastBackupDate() > newest->lastBackupDate()) newest = backup;
    }
    return newest;
}

}  // namespace vtrenv
