#pragma once

#include "app/WizardInterfaces.h"

#include <QList>
#include <QString>

#include <memory>

class HostEnvironment;
class iOSBackup;
struct DesktopMtpHandler;

// The computer checks of the welcome state (the photo library, the internet,
// a desktop program holding the phone), of the library folders once the old
// phone's family is known, and of the iPhone advice (iCloud), each with its
// alert. They ask the host-environment interface; what may
// wait (the internet, the process list) is asked on a background job, so the
// window stays live while they run.
class HostEnvironmentChecks final : public EnvironmentChecks
{
public:
    // `host` is not owned and must outlive the checks.
    explicit HostEnvironmentChecks(HostEnvironment &host) : m_host(host) {}
    void runWelcomeChecks(NS_AppController &controller) override;
    void runICloudCheck(NS_AppController &controller) override;
    bool runLibraryChecks(NS_AppController &controller, int family) override;

private:
    static void showWelcomeAnswers(NS_AppController &controller, bool online, const QList<DesktopMtpHandler> &handlers);

    HostEnvironment &m_host;
};

namespace vtrenv {

// Why files cannot be put into `path` (a folder, existing or to be made):
// the nearest existing folder on the way that this user cannot write, with
// the system's reason ("Permission denied"); or what stands there instead of
// a folder: a file, or a link whose target is missing or is not a folder (a
// disk that is not plugged in), the cause then saying where the link points;
// a chain of links is followed to its end (at most 40 links, as the system
// does), naming the link whose target is missing and that target, and a loop
// of links is said to be one. A link to a folder is where the person keeps
// that folder. A folder that another user owns and keeps shut is said to be
// theirs (its modes are not the person's to change), with whether the person
// may rename it where it is. Empty when nothing stands in the way.
struct WriteProblem
{
    // Link: a link where an item of this program's own belongs, whatever
    // it points to (ownItemProblem()). Damaged: a library file of ours that
    // does not read as one.
    enum class Standing { Unwritable, File, LinkToNothing, LinkToFile, LinkLoop, AnotherUsers, Link, Damaged };
    QString folder;
    QString cause;
    Standing standing = Standing::Unwritable;
    // Where the chain of links ends, and its last link (the folder itself
    // when it is the only one).
    QString linkTarget = QString();
    QString lastLink = QString();
    // The user whose folder it is, and whether the folder holding it lets
    // the person give it another name.
    QString owner = QString();
    bool renamable = false;
    // The item is a file (a record), not a folder: the remedy says so.
    bool file = false;
    bool isEmpty() const { return cause.isEmpty(); }
};
WriteProblem writeProblem(const QString &path);
// Why the item `path`, a folder (with `file`, a file) that this program keeps
// as its own, cannot be used: a link in its place, wherever it points (the
// folders of the new phone's folder, the data folder and what it keeps are
// never used through one); another user's item, whatever its modes; an item
// of another kind (a file where a folder belongs); or an item of this user's
// that cannot be written (a file that cannot be read and written). Empty
// when it is missing (it is made when needed) or can be used.
WriteProblem ownItemProblem(const QString &path, bool file = false);
// "The folder "<folder>" cannot be used: <cause>." (or "... cannot be
// written: ..." for an item of this user's that cannot be written).
QString describeOwnItemProblem(const WriteProblem &problem);
// What stands in the way of the start, of the program's own items: each
// folder of the new phone's folder (those of the media only with `media`),
// the data folder, its copy records of those folders, and with `filed` the
// media library's own files there, one that is damaged too. What lies below
// an item in the way is not looked at.
QList<WriteProblem> ownItemsInTheWay(bool media, bool filed);
// The media library's folders that a run files the kinds `music`, `photos`
// and `videos` into and that stand in the way, as ownItemProblem() says:
// each kind's collection folder in its media folder, and the "Playlists"
// folders of the music and the videos. A media folder that is missing or
// cannot be made is said on its own (writeProblem()).
QList<WriteProblem> libraryItemsInTheWay(bool music, bool photos, bool videos);
// One of them as a line: what it is, and what to do about it.
QString ownItemLine(const WriteProblem &problem);
// What a run that goes on with `problem` (one of the above) does, as it
// happens, as a sentence: "If you continue, ...".
// With `filed`, the run files into the media library.
QString continuingWith(const WriteProblem &problem, bool filed);
// What the person can do about `problem`, as the start of a sentence: "Make
// the folder writable", or move the file that is in the way, or bring back
// what the link points to, or remove a link that leads round a loop; for
// another user's folder, ask that user or an administrator to make it the
// person's, or rename it so that a new one is made; remove a link that stands
// where a folder of the program's own belongs.
QString remedyFor(const WriteProblem &problem);
// "The folder "<folder>" cannot be written: <cause>." naming, when the folder
// that stands in the way is another, the one that was wanted too.
QString describeWriteProblem(const WriteProblem &problem, const QString &wanted);
// Why the music library cannot take music: `folder`, one of the library's
// folders, cannot be made (`problem`). The videos or pictures folder is named
// as one that the music library needs.
QString describeMusicLibraryProblem(const WriteProblem &problem, const QString &folder);
// A sentence as a part of a line: "The folder ... cannot be written: ..."
// reads "the folder ... cannot be written: ..." after "Not moved: ".
QString asClause(QString sentence);
// The first of the media library's folders (music, videos, pictures) that
// cannot be made because a folder on its way cannot be written; empty when
// none is. Without all three the library files no music and no video.
QString blockedLibraryFolder();

// What the start-up checks told the person, kept on the controller for the
// steps after them: a library folder that cannot be made, or an item of the
// program's own that cannot be used, is said once, and
// a data kind the checks turned off says why on the choose page. `kind` is
// "music", "photos" or "videos".
void noteLibraryProblemTold(NS_AppController &controller, const QString &folder);
bool libraryProblemTold(const NS_AppController &controller, const QString &folder);
void setTurnedOffReason(NS_AppController &controller, const char *kind, const QString &reason);
QString turnedOffReason(const NS_AppController &controller, const char *kind);
// A kind turned off that is still counted on the old phone, so that its
// line at the end tells how much of it stayed behind and why: the music that
// the library cannot take, the photos without a photo library.
void noteReadThoughTurnedOff(NS_AppController &controller, const char *kind, bool read = true);
bool readThoughTurnedOff(const NS_AppController &controller, const char *kind);

// Processes under `procRoot` ("/proc") whose open descriptors lead to a USB
// device node under `usbRoot` ("/dev/bus/usb") and whose program is one of the
// desktop MTP handlers (GNOME's gvfs MTP backend, KDE's MTP daemon and
// workers). This process is never one of them. By process number.
QList<DesktopMtpHandler> desktopMtpHandlers(const QString &procRoot, const QString &usbRoot);

// What the person is told about one handler: which program holds the phone
// and how to let it go.
QString mtpHandlerAdvice(const DesktopMtpHandler &handler);

// The accounts file names an iCloud account with contacts or calendars
// switched on. A missing or damaged file answers false.
bool userHasICloudPIM(const QString &accountsPlistPath);

// Whether a TCP connection to `hostAndPort` ("name" or "name:port"; no port:
// `defaultPort`) opens within `timeoutMs`. Blocks: never on the main thread.
bool canConnect(const QString &hostAndPort, quint16 defaultPort, int timeoutMs);

// The host probed when the system cannot say whether it is online: the
// Windows Live host setting "LiveAPIHost" ("apis.live.net").
QString liveHost();

// The newest current backup of the phone with this serial number (compared
// ignoring case); of equal dates the first listed. nullptr without a serial
// number or a backup.
std::shared_ptr<iOSBackup> oldBackup(const QString &serialNumber);

}  // namespace vtrenv
