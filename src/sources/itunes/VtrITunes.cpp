#include "sources/itunes/VtrITunes.h"

#include "fileinfo/VtrFileInfo.h"
#include "fileinfo/VtrMacFileInfo.h"
#include "foundation/Log.h"
#include "platform/Strings.h"
#include "platform/UserDefaults.h"
#include "sources/host/BackgroundRead.h"
#include "sources/host/LibraryIcons.h"
#include "sources/host/LibraryLocation.h"
#include "sources/host/MediaLibraryHost.h"
#include "sources/host/VtrAppleScriptExecutor.h"

#include <QDir>
#include <QFileInfo>
#include <QUrl>


namespace {

const QString kMusicLibraryName = QStringLiteral("iTunes Music Library.xml");
const QString kLibraryName = QStringLiteral("iTunes Library.xml");

QDateTime modificationDate(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() ? info.lastModified().toUTC() : QDateTime();
}

QString firstText(const QVariant &array)
{
    const QVariantList list = array.toList();
    return list.isEmpty() ? QString() : list.first().toString();
}

QString expandTilde(const QString &path)
{
    if (path == QLatin1String("~")) return QDir::homePath();
    if (path.startsWith(QLatin1String("~/"))) return QDir::homePath() + path.mid(1);
    return path;
}

}  // namespace

void VtrITunes::load(const QString &path)
{
    vtr::PropertyListError error;
    m_playlistData = vtr::XmlPropertyListReader::readDictionaryFile(path, &error);
    if (!m_playlistData) {
        m_loadError = error.toString();
        VtrDebugLog(QStringLiteral("VtrITunes could not read \"%1\": %2").arg(path, m_loadError));
    }
}

void VtrITunes::initWithoutProgress()
{
    VtrDebugLog(QStringLiteral("VtrITunes getting playlists"));
    initWithFile(defaultPlaylistDataXMLFile());
}

void VtrITunes::initWithFile(const QString &path)
{
    m_playlistData.reset();
    m_playlistModDate = QDateTime();
    m_loadError.clear();
    m_playlistDataPath = path;
    VtrDebugLog(QStringLiteral("VtrITunes getting playlists: %1").arg(m_playlistDataPath));
    if (m_playlistDataPath.isEmpty()) {
        m_loadError = vtrLocalized("No music library file was found.");
        return;
    }
    m_playlistModDate = modificationDate(m_playlistDataPath);
    load(m_playlistDataPath);
}

void VtrITunes::initWithProgress(const std::function<void(const QString &)> &progress)
{
    VtrDebugLog(QStringLiteral("VtrITunes getting playlists"));
    m_playlistData.reset();
    m_loadError.clear();
    m_playlistDataPath = defaultPlaylistDataXMLFile();
    if (m_playlistDataPath.isEmpty()) return;
    VtrDebugLog(QStringLiteral("VtrITunes getting playlists: %1").arg(m_playlistDataPath));
    m_playlistModDate = modificationDate(m_playlistDataPath);
    const QString path = m_playlistDataPath;
    m_parsing = true;
    vtr::runWhileServingEvents([this, path] { load(path); },
                               [&progress] {
                                   if (progress) progress(vtrLocalized("Reading iTunes playlists..."));
                               },
                               std::chrono::milliseconds(100));
    m_parsing = false;
}

bool VtrITunes::playlistDataChanged()
{
    const QString now = defaultPlaylistDataXMLFile();
    if (now.compare(m_playlistDataPath, Qt::CaseInsensitive) != 0) return true;
    const QDateTime date = modificationDate(now);
    if (!date.isValid() && !m_playlistModDate.isValid()) return false;
    if (!date.isValid() || !m_playlistModDate.isValid()) return true;
    return date != m_playlistModDate;
}

QString VtrITunes::libraryID() const
{
    return m_playlistData ? m_playlistData->value(QStringLiteral("Library Persistent ID")).toString() : QString();
}

QVariantList VtrITunes::playlists() const
{
    return m_playlistData ? m_playlistData->value(QStringLiteral("Playlists")).toList() : QVariantList();
}

QVariantMap VtrITunes::tracks() const
{
    return m_playlistData ? m_playlistData->value(QStringLiteral("Tracks")).toMap() : QVariantMap();
}

QString VtrITunes::musicFolderLocation() const
{
    return m_playlistData ? m_playlistData->value(QStringLiteral("Music Folder")).toString() : QString();
}

QStringList VtrITunes::playlistNames() const
{
    QStringList names;
    for (const QVariant &p : playlists())
        names.append(p.toMap().value(QStringLiteral("Name")).toString());
    return names;
}

QVariantList VtrITunes::playlistNamesAndIDs() const
{
    QVariantList result;
    for (const QVariant &p : playlists()) {
        const QVariantMap m = p.toMap();
        result.append(QVariantMap{{QStringLiteral("Name"), m.value(QStringLiteral("Name"))},
                                  {QStringLiteral("Playlist Persistent ID"),
                                   m.value(QStringLiteral("Playlist Persistent ID"))}});
    }
    return result;
}

QVariantList VtrITunes::playlistNamesIDsTypesAndCount() const
{
    static const char *const kTypeKeys[] = {"Master", "Folder", "Videos", "Podcasts", "Party Shuffle", "Purchased Music"};
    QVariantList result;
    for (const QVariant &p : playlists()) {
        const QVariantMap m = p.toMap();
        QString type;
        for (const char *key : kTypeKeys)
            if (m.contains(QLatin1String(key))) {
                type = QLatin1String(key);
                break;
            }
        if (type.isEmpty())
            type = m.contains(QStringLiteral("Smart Info")) ? QStringLiteral("Smart Playlist") : QStringLiteral("Regular");
        QVariantMap entry{{QStringLiteral("Name"), m.value(QStringLiteral("Name"))},
                          {QStringLiteral("Playlist Persistent ID"), m.value(QStringLiteral("Playlist Persistent ID"))},
                          {QStringLiteral("Type"), type},
                          {QStringLiteral("Number of Tracks"),
                           quint64(m.value(QStringLiteral("Playlist Items")).toList().size())}};
        if (m.contains(QStringLiteral("Parent Persistent ID")))
            entry.insert(QStringLiteral("Parent Persistent ID"), m.value(QStringLiteral("Parent Persistent ID")));
        result.append(entry);
    }
    return result;
}

QString VtrITunes::addTracks(const VtrFileInfoList &files, const QString &playlistName, const QString &templateFolder,
                             const std::function<void()> &tickle)
{
    QStringList paths;
    for (const VtrFileInfoPtr &file : files)
        paths.append(file ? file->path() : QString());
    return vtr::runTemplateForEachFile(paths, QStringLiteral("iTunesImport.applescript"), templateFolder,
                                       QStringLiteral("(MusicScript:FolderPath)"),
                                       {{QStringLiteral("(MusicScript:PlaylistName)"), playlistName}}, tickle);
}

QString VtrITunes::defaultPlaylistDataXMLFile()
{
    const QString brought = platform::UserDefaults::value(QLatin1String(kLibraryFileDefaultKey)).toString();
    if (!brought.isEmpty() && QFileInfo::exists(expandTilde(brought))) return expandTilde(brought);

    const QString prefs = VtrFileInfo::findFolderPath(VtrFileInfo::kUserDomain, VtrFileInfo::kPreferencesFolderType, false);
    const QString iApps = prefs.isEmpty() ? QString() : QDir(prefs).filePath(QStringLiteral("com.apple.iApps.plist"));
    if (!iApps.isEmpty() && QFileInfo::exists(iApps)) {
        if (auto map = vtr::XmlPropertyListReader::readDictionaryFile(iApps)) {
            const QString path = firstText(map->value(QStringLiteral("iTunesRecentDatabasePaths")));
            if (!path.isEmpty()) return expandTilde(path);
            const QString url = firstText(map->value(QStringLiteral("iTunesRecentDatabases")));
            if (!url.isEmpty()) {
                const QString local = vtr::localPathForLibraryLocation(url);
                if (!local.isEmpty()) return local;
            }
        }
    }

    const QString music = VtrFileInfo::findFolderPath(VtrFileInfo::kUserDomain, VtrFileInfo::kMusicDocumentsFolderType, false);
    if (!music.isEmpty()) {
        const QDir folder(QDir(music).filePath(QStringLiteral("iTunes")));
        for (const QString &name : {kMusicLibraryName, kLibraryName})
            if (QFileInfo::exists(folder.filePath(name))) return folder.filePath(name);
    }
    const QString documents = VtrFileInfo::findFolderPath(VtrFileInfo::kUserDomain, VtrFileInfo::kDocumentsFolderType, false);
    if (!documents.isEmpty()) {
        const QString path = QDir(documents).filePath(QStringLiteral("iTunes/") + kMusicLibraryName);
        if (QFileInfo::exists(path)) return path;
    }
    const QString own = MediaLibraryHost::musicLibraryFilePath();
    return MediaLibraryHost::isOwnLibraryFileThere(own) ? own : QString();
}

QString VtrITunes::iTunesMusicFolder()
{
    const QString path = defaultPlaylistDataXMLFile();
    if (path.isEmpty()) return QString();
    VtrITunes library;
    library.m_playlistDataPath = path;
    library.load(path);
    const QString location = library.musicFolderLocation();
    if (location.isEmpty()) return QString();
    return vtr::localPathForLibraryLocation(location, path, location);
}

VtrFileInfoPtr VtrITunes::iTunesAppFileInfo()
{
    return VtrMacFileInfo::fileInfoWithPath(MediaLibraryHost::musicLibraryFilePath());
}

QImage VtrITunes::iTunesAppImage()
{
    return vtr::libraryIcon(QStringLiteral("iTunesLibrary"));
}

QString VtrITunes::ITunesVersion()
{
    MediaLibraryHost &host = MediaLibraryHost::shared();
    return host.isConfigured() ? host.musicVersion() : QString();
}

bool VtrITunes::hasITunes()
{
    return !ITunesVersion().isNull() && !defaultPlaylistDataXMLFile().isEmpty();
}

QString VtrITunes::templateFolder()
{
    return QStringLiteral(":/medialibrary/templates");
}
