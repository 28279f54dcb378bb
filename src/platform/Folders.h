#pragma once

#include <QString>

// The per-user folders of the application. Each one follows the XDG
// variables (so a test that points HOME and XDG_* elsewhere is isolated) and
// can also be overridden directly with a setter; an empty override restores
// the default.
namespace platform {

inline constexpr const char *kAppFolderName = "Solvenna to Windows Phone";

QString homeFolder();
// $XDG_DATA_HOME/Solvenna to Windows Phone (the Mac's Application Support folder).
QString dataFolder();
// $XDG_STATE_HOME/Solvenna to Windows Phone (logs).
QString stateFolder();
// $XDG_CACHE_HOME/Solvenna to Windows Phone/tmp: private (0700), never a symlink.
// Created on demand; throws VtrException("TemporaryFolderException", ...) when
// the folder exists but is unsafe (a symlink, another owner) or cannot be made.
QString temporaryFolder();

void setHomeFolderOverride(const QString &path);
void setDataFolderOverride(const QString &path);
void setStateFolderOverride(const QString &path);
void setTemporaryFolderOverride(const QString &path);

// What a removal of temporary items did.
struct TemporaryRemoval
{
    qint64 removed = 0;  // entries removed (files, links and folders)
    qint64 kept = 0;     // entries that could not be removed, or lay beyond the bounds
};

// Removes the folder tree at `path` without following a link anywhere: a
// link is removed as a link, never what it names; nothing on another file
// system is entered. At most `maxEntries` entries, `maxDepth` levels deep.
TemporaryRemoval removeTreeWithoutFollowingLinks(const QString &path, qint64 maxEntries = 10'000'000,
                                                 int maxDepth = 256);

// Removes what earlier runs left in temporaryFolder(): only the entries named
// as this program names its temporary items (backup folders, unpacked
// archives, copies of phone files...), each as removeTreeWithoutFollowingLinks
// does. A running wizard's items carry the same names: call it only while
// the single-instance lock is held. A folder that is missing or not safe is
// left as it is (and not made).
TemporaryRemoval removeLeftoversOfEarlierRuns();
// Whether `name` is one this program gives items in temporaryFolder().
bool isOwnTemporaryName(const QString &name);

// Creates `path` (and parents) when missing and makes sure that it is a real
// folder owned by this user with mode 0700. Returns false when it is unsafe.
bool ensurePrivateFolder(const QString &path, QString *error = nullptr);

}  // namespace platform
