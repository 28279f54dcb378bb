#include "sources/host/LibraryLocation.h"

#include "sources/host/MediaContent.h"

#include <QDir>
#include <QFileInfo>
#include <QUrl>

#include <algorithm>

namespace vtr {

namespace {

struct DecodedLocation
{
    bool valid = false;
    bool drive = false;  // the first component is a drive ("C:")
    QStringList components;
};

DecodedLocation decode(const QString &location)
{
    DecodedLocation result;
    if (!location.startsWith(QLatin1String("file:"), Qt::CaseInsensitive)) return result;
    QString rest = location.mid(5);
    if (!rest.startsWith(QLatin1String("//"))) return result;
    rest = rest.mid(2);
    if (rest.startsWith(QLatin1String("localhost/"), Qt::CaseInsensitive))
        rest = rest.mid(9);
    else if (!rest.startsWith(QLatin1Char('/')))
        return result;  // a file on another host
    const QString path = QString::fromUtf8(QByteArray::fromPercentEncoding(rest.toUtf8()));
    if (path.contains(QChar(0))) return result;
    // Windows writers may leave back slashes inside a component.
    const QStringList parts = QString(path).replace(QLatin1Char('\\'), QLatin1Char('/')).split(QLatin1Char('/'));
    for (const QString &part : parts) {
        if (part.isEmpty() || part == QLatin1String(".")) continue;
        if (part == QLatin1String("..")) return result;  // never climbs out of what it names
        result.components.append(part);
    }
    result.drive = !result.components.isEmpty() && result.components.first().size() == 2 &&
                   result.components.first().at(1) == QLatin1Char(':') && result.components.first().at(0).isLetter();
    result.valid = true;
    return result;
}

bool startsWithComponents(const DecodedLocation &path, const DecodedLocation &prefix)
{
    if (prefix.components.isEmpty() || path.components.size() <= prefix.components.size()) return false;
    const Qt::CaseSensitivity cs = (path.drive || prefix.drive) ? Qt::CaseInsensitive : Qt::CaseSensitive;
    for (qsizetype i = 0; i < prefix.components.size(); ++i)
        if (path.components.at(i).compare(prefix.components.at(i), cs) != 0) return false;
    return true;
}

// Where a location's file may be: the path it names here, then below the
// folder of the library file (in a folder of the music folder's name, or
// directly).
QStringList candidatePaths(const DecodedLocation &decoded, const QString &libraryFilePath,
                           const QString &musicFolderLocation)
{
    QStringList candidates;
    if (!decoded.drive) candidates.append(QLatin1Char('/') + decoded.components.join(QLatin1Char('/')));
    if (!libraryFilePath.isEmpty() && !musicFolderLocation.isEmpty()) {
        const DecodedLocation music = decode(musicFolderLocation);
        if (music.valid && startsWithComponents(decoded, music)) {
            const QString relative = decoded.components.mid(music.components.size()).join(QLatin1Char('/'));
            const QDir libraryFolder = QFileInfo(libraryFilePath).absoluteDir();
            candidates.append(QDir::cleanPath(
                libraryFolder.filePath(music.components.last() + QLatin1Char('/') + relative)));
            candidates.append(QDir::cleanPath(libraryFolder.filePath(relative)));
        }
    }
    return candidates;
}

bool isInside(const QString &path, const QString &folder)
{
    return path.startsWith(folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/'));
}

// A folder whose files a library may name: it exists, and it is not "/",
// the home folder or one above it (which would open every file).
QString trustedFolder(const QString &path)
{
    const QString canonical = QFileInfo(path).canonicalFilePath();
    if (canonical.isEmpty() || !QFileInfo(canonical).isDir() || canonical == QLatin1String("/")) return QString();
    const QString home = QFileInfo(QDir::homePath()).canonicalFilePath();
    if (!home.isEmpty() && (canonical == home || isInside(home, canonical))) return QString();
    return canonical;
}

}  // namespace

QString localPathForLibraryLocation(const QString &location, const QString &libraryFilePath,
                                    const QString &musicFolderLocation)
{
    const DecodedLocation decoded = decode(location);
    if (!decoded.valid || decoded.components.isEmpty()) return QString();
    const QStringList candidates = candidatePaths(decoded, libraryFilePath, musicFolderLocation);
    for (const QString &candidate : candidates)
        if (QFileInfo::exists(candidate)) return candidate;
    return decoded.drive ? QString() : candidates.first();
}

LibraryTrackFolders libraryTrackFolders(const QString &libraryFilePath, const QString &musicFolderLocation,
                                        const std::optional<QStringList> &ownFolders)
{
    LibraryTrackFolders folders{libraryFilePath, musicFolderLocation, {}, {}, ownFolders.has_value()};
    if (libraryFilePath.isEmpty()) return folders;
    const QDir libraryFolder = QFileInfo(libraryFilePath).absoluteDir();
    QStringList wanted{libraryFolder.path()};
    const DecodedLocation music = decode(musicFolderLocation);
    if (music.valid && !music.components.isEmpty()) {
        // The music folder brought beside the library file counts even where
        // the file lies in the home folder itself.
        wanted.append(libraryFolder.filePath(music.components.last()));
        if (!music.drive) wanted.append(QLatin1Char('/') + music.components.join(QLatin1Char('/')));
    }
    wanted += ownFolders.value_or(QStringList());
    for (const QString &folder : std::as_const(wanted)) {
        const QString root = trustedFolder(folder);
        if (!root.isEmpty())
            folders.roots.append(root);
        else if (!QFileInfo::exists(folder))
            folders.later.append(folder);
    }
    return folders;
}

QString trackFileForLibraryLocation(const QString &location, const LibraryTrackFolders &folders)
{
    const DecodedLocation decoded = decode(location);
    if (!decoded.valid || decoded.components.isEmpty() || folders.libraryFilePath.isEmpty()) return QString();
    QStringList roots = folders.roots;
    for (const QString &folder : folders.later)
        if (const QString root = trustedFolder(folder); !root.isEmpty()) roots.append(root);
    for (const QString &candidate : candidatePaths(decoded, folders.libraryFilePath, folders.musicFolderLocation)) {
        // Links are resolved first: a link inside a folder may point anywhere.
        const QString file = QFileInfo(candidate).canonicalFilePath();
        if (file.isEmpty() || !QFileInfo(file).isFile()) continue;
        if (std::none_of(roots.cbegin(), roots.cend(), [&file](const QString &root) { return isInside(file, root); }))
            continue;
        if (!folders.own && mediaContentOf(file) == MediaContent::None) continue;
        return file;
    }
    return QString();
}

QString libraryLocationForLocalPath(const QString &path, bool isFolder)
{
    QString clean = QDir::cleanPath(path);
    if (isFolder && !clean.endsWith(QLatin1Char('/'))) clean += QLatin1Char('/');
    return QStringLiteral("file://localhost") + QString::fromLatin1(clean.toUtf8().toPercentEncoding("/"));
}

}  // namespace vtr
