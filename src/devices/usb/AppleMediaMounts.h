#pragma once

#include "fileinfo/MountTable.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

// Where this computer shows an iPhone's media partition (its songs live in
// "iTunes_Control/Music" there). An iPhone never mounts as a disk: the desktop
// reaches the partition through the phone's file service and shows it with
// FUSE, either as a folder "afc:host=<UDID>" of its own "fuse.gvfsd-fuse"
// mount (a folder that also names a port is another service of the phone,
// not its media), or as an "fuse.ifuse" mount, whose mount table line names
// no phone: the ifuse process's command line does ("-u <UDID>"; without one
// it took the first phone attached).
//
// Only mounts of this user count: another user's desktop mount, even one
// every user may read, shows that user's phone, not ours.
//
// Phones are told apart by their UDID, which the USB serial number carries
// without the "-" of newer UDIDs: compare udidKey()s.
namespace vtr::apple {

// The UDID as a key: without "-", in lower case.
QString udidKey(const QString &udidOrSerial);
// A text shaped like an iOS UDID: 40 hexadecimal digits, or 24 with or
// without a "-" after the eighth.
bool looksLikeUdid(const QString &text);

// A running ifuse process: its arguments (the program first) and the user
// it runs as (its real user ID; -1 when unknown). Its working folder tells
// nothing: a FUSE daemon in the background moves to "/".
struct FuseProcess
{
    QStringList arguments;
    qint64 owner = -1;
};

// What the detection asks of the system, so that tests can answer instead.
struct MediaMountProbes
{
    // The running ifuse processes, every user's.
    std::function<QList<FuseProcess>()> ifuseProcesses;
    // The names in a folder; nullopt when it cannot be listed (a mount of
    // another user, a desktop mount that is gone).
    std::function<std::optional<QStringList>(const QString &folder)> listFolder;
    // The UDIDs (USB serial numbers) of the iOS devices attached now.
    std::function<QStringList()> attachedPhones;
    // This user: a FUSE mount's "user_id=" must name it, and the desktop's
    // mount must lie below its runtime folder. -1 or an empty folder: no
    // mount is taken for ours.
    qint64 userId = -1;
    QString runtimeFolder;
};
// The answers of this computer: /proc, the file system, the USB registry.
MediaMountProbes systemMediaMountProbes();

// What an ifuse command line mounts: the mount point as the command line
// gives it (cleaned; a relative one stays relative, to be found in the mount
// table) and the phone's UDID (empty when it names none); nullopt when it
// mounts something other than the media partition (an app's folder, the root
// file system) or names no mount point.
struct IfuseMount
{
    QString mountPoint;
    QString udid;
};
std::optional<IfuseMount> ifuseMountOf(const FuseProcess &process);

// The folders of `table` that show the media partition of the phone whose
// USB serial number (or UDID) is `serial`, in table order: never another
// phone's, never another user's, never one hidden by a later mount at the
// same point. Only this user's ifuse processes tell which phone an ifuse
// mount shows: anyone may start one whose command line names any phone and
// any mount point. An ifuse process whose mount point is relative is matched to
// the one ifuse mount of the table whose point ends in it; where several do,
// none is taken.
QStringList mediaFoldersOfPhone(const MountTable &table, const QString &serial, const MediaMountProbes &probes);

} // namespace vtr::apple
