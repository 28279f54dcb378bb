#pragma once

#include "fileinfo/VtrBaseFileInfo.h"

#include <QDateTime>
#include <QMap>
#include <QString>

#include <map>
#include <memory>
#include <mutex>

namespace vtr {
// Without one trailing "/": "/Music/" gives "/Music", "/" gives "", and ""
// or a path without a trailing "/" stays as it is.
QString standardizePath(const QString &path);
} // namespace vtr

// What the system remembers about the files of one phone volume, known by the
// volume's UUID: for each recorded file its "sync mod date" (the date that
// reconciliation gives the file back) and its "device mod date" (the file's
// date on the device when it was recorded, which tells whether it changed
// since). Paths are device paths; look-ups ignore case.
//
// State file: "<uuid>.uuid" in "Device File Systems" of the per-user data
// folder (platform::dataFolder()); "/" and NUL in the UUID become "_" and an
// over-long UUID is replaced by its SHA-1. The file is JSON in UTF-8:
//   {"format": "vantrel.device-volume-state", "version": 1, "uuid": "<uuid>",
//    "info": <node>}
// where the root <node> is a folder node without "name" and every node is
//   {"type": 1 (folder) | 0 (file),
//    "name": "<the path component, upper-cased>",
//    "children": {"<UPPER-CASED NAME>": <node>, ...}          (folders)
//    "sync mod date": "2024-05-06T07:08:09.010Z",            (files, optional)
//    "device mod date": "2024-05-06T07:08:09.010Z"}          (files, optional)
// Dates are ISO 8601 in UTC with milliseconds. A file that cannot be parsed is
// logged and the record starts empty (the next write replaces it). Writes go
// through a temporary file and a rename, so a crash leaves the old state.
//
// Failures to reach the state file throw VtrException "DeviceVolumeInfo". The
// record is guarded by its own lock, so it may be shared between threads.
class DeviceVolumeInfo
{
public:
    // A new record with a fresh UUID and an empty tree; nothing is read.
    DeviceVolumeInfo();
    // The record of `uuid`, read from its state file (an empty tree when there
    // is none). A null or empty UUID gives a fresh record as above.
    explicit DeviceVolumeInfo(const QString &uuid);
    // Writes the state; a failure is logged, never thrown.
    ~DeviceVolumeInfo();
    DeviceVolumeInfo(const DeviceVolumeInfo &) = delete;
    DeviceVolumeInfo &operator=(const DeviceVolumeInfo &) = delete;

    QString uuid() const { return _uuid; }

    // Finds or creates the file's node, stores both dates, writes the state.
    void setFileAtPath(const QString &path, const QDateTime &syncModDate, const QDateTime &deviceModDate);
    // Finds or creates the file's node; when its "device mod date" differs
    // from `deviceModDate` by kForgetAfterSeconds or more, both dates are
    // forgotten and the state is written.
    void updateFileAtPath(const QString &path, const QDateTime &deviceModDate);
    // The node's "sync mod date"; invalid when there is none.
    QDateTime modificationDateForItemAtPath(const QString &path);
    // Record only (written with the next write).
    void renameItemAtPath(const QString &path, const QString &newName);
    void removeItemAtPath(const QString &path);
    // Gives each recorded file whose device date still matches its item on the
    // volume back its sync date, drops everything it settled or that is gone,
    // then writes the state. A node named "/" stands for the volume's root.
    void reconcileWithVolume(const VtrFileInfoPtr &volumeRoot);

    // The UUID of the first marker ("<uuid>.uuid", no "_" in the name) in the
    // list; null when none.
    static QString uuidInFiles(const VtrFileInfoList &files);
    // The marker in "Migration Info"/"filesystem" of a volume root; null when
    // either folder is missing.
    static QString uuidForFileInfo(const VtrFileInfoPtr &volumeRoot);
    static QString stateFolderPath();
    static QString stateFilePath(const QString &uuid);

    // Dates this far apart (1 hour, 2 minutes and 1 second: beyond any time
    // zone or daylight-saving shift) mean the file has changed.
    static constexpr qint64 kForgetAfterSeconds = 3721;

    // For tests and diagnostics: whether a node exists and is a folder.
    bool hasNodeAtPath(const QString &path);

private:
    struct Node
    {
        bool folder = false;
        QString name;
        std::map<QString, std::unique_ptr<Node>> children;
        QDateTime syncModDate;
        QDateTime deviceModDate;
    };

    Node *fileAtPath(const QString &path, bool createIfNeeded, bool remove, const QString &newName);
    void readStateFromDisk();
    void writeStateToDisk();
    bool reconcileItem(Node &node, const VtrFileInfoPtr &item);

    QString _uuid;
    Node _info;
    std::mutex _lock;
};

// The records of one device's volumes, by drive string ("E:\"). The map owns
// its records; callers may keep the records they are given.
class DeviceVolumes
{
public:
    using InfoPtr = std::shared_ptr<DeviceVolumeInfo>;

    DeviceVolumes() = default;

    InfoPtr infoWithDriveStr(const QString &drive);
    // The record of the drive of a Windows-style path.
    InfoPtr infoWithPath(const QString &windowsPath);
    // The record whose UUID equals `uuid` ignoring case; nullptr for an empty
    // UUID or none found.
    InfoPtr infoWithUUID(const QString &uuid);
    // The record of `uuid` when one is known (under any drive); otherwise a new
    // record (a fresh UUID for a null one) entered under `drive`, replacing
    // what was there.
    InfoPtr infoWithVolumePath(const QString &drive, const QString &uuid);
    InfoPtr infoWithPath(const QString &windowsPath, const QString &uuid);

private:
    struct Entry
    {
        QString drivePath;
        QString uuid;
        InfoPtr info;
    };

    std::mutex _lock;
    QMap<QString, Entry> _info;
};
