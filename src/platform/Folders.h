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

// Creates `path` (and parents) when missing and makes sure that it is a real
// folder owned by this user with mode 0700. Returns false when it is unsafe.
bool ensurePrivateFolder(const QString &path, QString *error = nullptr);

}  // namespace platform
