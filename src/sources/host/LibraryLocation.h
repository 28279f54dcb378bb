#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// Track and photo locations in library files are file URLs written by another
// computer: "file://localhost/Users/...", "file:///home/...", or a Windows
// drive "file://localhost/C:/Users/...", percent-escaped. These turn them into
// local paths and back.
namespace vtr {

// The local file a location names, or a null string when it names none here
// (not a file URL, another host, a drive path that cannot be placed, any ".."
// component). A path that does not exist here is looked for again below the
// folder that holds the library file: the part after the library's music
// folder (`musicFolderLocation`, itself a location) inside a folder of the
// music folder's name next to the library file, or directly next to it. When
// nothing is found a local-style path is still returned (it is reported
// missing by whoever opens it); a drive path gives null.
QString localPathForLibraryLocation(const QString &location, const QString &libraryFilePath = QString(),
                                    const QString &musicFolderLocation = QString());

// The folders the tracks of one library file may lie in, worked out once for
// all its tracks: the library's own music folder where it exists here, the
// folder that holds the library file and a folder named like the music
// folder beside it. "/", the home folder and the folders above it are never
// such a folder.
struct LibraryTrackFolders
{
    QString libraryFilePath;
    QString musicFolderLocation;
    QStringList roots;  // canonical
    // Folders not there yet (the host makes its own when it first files
    // into them): looked at again for each track until they are.
    QStringList later;
    // The media-library host's own library: it names only what the host
    // filed and judged, so its files' content is not looked at again.
    bool own = false;
};
// `ownFolders` is given for the host's own library only: the folders it
// files into, which count as well (MediaLibraryHost::trackFoldersOf).
LibraryTrackFolders libraryTrackFolders(const QString &libraryFilePath, const QString &musicFolderLocation,
                                        const std::optional<QStringList> &ownFolders = std::nullopt);

// The file a track of a library file names, for reading or copying: found
// as localPathForLibraryLocation() finds it, then taken only when, with every
// link resolved, it is a regular file inside one of `folders`. A library
// from another computer is trusted no further: its file must be sound or
// video by its content. Null otherwise.
QString trackFileForLibraryLocation(const QString &location, const LibraryTrackFolders &folders);

// "file://localhost/..." with every byte outside the unreserved set escaped,
// as the library writers spell it; folders end with "/".
QString libraryLocationForLocalPath(const QString &path, bool isFolder = false);

}  // namespace vtr
