#include "sources/host/MediaLibraryHost.h"

#include "fileinfo/VtrFileInfo.h"
#include "fileinfo/VtrMacFileInfo.h"
#include "fileinfo/VtrQTUtils.h"
#include "platform/Folders.h"
#include "platform/Strings.h"
#include "platform/VtrException.h"
#include "sources/host/LibraryLocation.h"
#include "sources/host/PropertyListXml.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSet>
#include <QTimeZone>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Seconds between 1970 and the reference date of the photo library's
// "…AsTimerInterval" values (1 January 2001 GMT).
constexpr qint64 kReferenceDateOffset = 978307200;
constexpr qint64 kFirstAlbumID = 1000;
constexpr qint64 kLibraryAlbumID = 999000;

using Failure = MediaLibraryHost::Failure;

// The same file, by (device, inode): a linked import shares the source's.
bool sameFile(const QString &a, const QString &b)
{
    struct stat sa
    {
    }, sb{};
    return ::stat(QFile::encodeName(a).constData(), &sa) == 0 && ::stat(QFile::encodeName(b).constData(), &sb) == 0 &&
           sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

QString randomPersistentID()
{
    return QString::number(QRandomGenerator::global()->generate64(), 16).toUpper().rightJustified(16, QLatin1Char('0'));
}

QString userFolder(quint32 type)
{
    return VtrFileInfo::findFolderPath(VtrFileInfo::kUserDomain, type, true);
}

// A name from a script becomes one valid file name: no "/" or NUL, never
// empty, never hidden (so never "." or "..").
QString folderNameFor(const QString &name)
{
    QString clean = VtrMacFileInfo::makeNameOSCompliant(name.trimmed());
    clean.replace(QLatin1Char('\n'), QLatin1Char(' ')).replace(QLatin1Char('\r'), QLatin1Char(' '));
    if (clean.isEmpty() || clean.startsWith(QLatin1Char('.'))) clean.prepend(QLatin1Char('_'));
    return clean;
}

// Through a temporary file in the same folder: a reader never sees half a
// library, and a failed write leaves the old one.
void writeAtomically(const QString &path, const QByteArray &bytes, const QString &what)
{
    const QFileInfo target(path);
    auto folder = VtrMacFileInfo::fileInfoCreateFolderWithFullPath(target.absolutePath());
    auto file = folder ? folder->createFile(target.fileName(), bytes, QVariantMap(), false, nullptr, nullptr) : nullptr;
    if (!file || !file->exists() || file->size() != bytes.size())
        throw Failure{-61, vtrLocalized("The %1 could not be written to \"%2\".").arg(what, path)};
}

QVariantMap loadLibraryFile(const QString &path, const QString &what)
{
    if (!QFileInfo::exists(path)) return {};
    vtr::PropertyListError error;
    auto map = vtr::XmlPropertyListReader::readDictionaryFile(path, &error);
    if (!map)
        throw Failure{-2700, vtrLocalized("The %1 \"%2\" is damaged: %3").arg(what, path, error.toString())};
    return *map;
}

qint64 nextNumber(QVariantMap &library, const QString &counterKey, qint64 first)
{
    const qint64 next = qMax(library.value(counterKey).toLongLong(), first);
    library.insert(counterKey, next + 1);
    return next;
}

QString kindForExtension(const QString &extension, bool video)
{
    const QString ext = extension.toLower();
    if (ext == QLatin1String("mp3")) return QStringLiteral("MPEG audio file");
    if (ext == QLatin1String("m4a") || ext == QLatin1String("aac")) return QStringLiteral("AAC audio file");
    if (ext == QLatin1String("m4p")) return QStringLiteral("Protected AAC audio file");
    if (ext == QLatin1String("wav")) return QStringLiteral("WAV audio file");
    if (ext == QLatin1String("aif") || ext == QLatin1String("aiff")) return QStringLiteral("AIFF audio file");
    if (video) return QStringLiteral("MPEG-4 video file");
    return ext.toUpper() + QStringLiteral(" audio file");
}

}  // namespace

MediaLibraryHost &MediaLibraryHost::shared()
{
    static MediaLibraryHost host;
    return host;
}

QString MediaLibraryHost::musicFolder()
{
    return userFolder(VtrFileInfo::kMusicDocumentsFolderType);
}

QString MediaLibraryHost::videosFolder()
{
    return userFolder(VtrFileInfo::kMovieDocumentsFolderType);
}

QString MediaLibraryHost::picturesFolder()
{
    return userFolder(VtrFileInfo::kPictureDocumentsFolderType);
}

QString MediaLibraryHost::playlistsFolder()
{
    const QString music = musicFolder();
    return music.isEmpty() ? QString() : QDir(music).filePath(QStringLiteral("Playlists"));
}

QString MediaLibraryHost::musicLibraryFilePath()
{
    return QDir(platform::dataFolder()).filePath(QStringLiteral("iTunes Music Library.xml"));
}

QString MediaLibraryHost::albumDataFilePath()
{
    return QDir(platform::dataFolder()).filePath(QStringLiteral("AlbumData.xml"));
}

QString MediaLibraryHost::musicVersion() const
{
    std::lock_guard lock(m_lock);
    return m_musicVersion;
}

QString MediaLibraryHost::photosVersion() const
{
    std::lock_guard lock(m_lock);
    return m_photosVersion;
}

void MediaLibraryHost::setVersionsForTesting(const QString &music, const QString &photos)
{
    std::lock_guard lock(m_lock);
    m_musicVersion = music;
    m_photosVersion = photos;
}

bool MediaLibraryHost::isConfigured() const
{
    return !musicFolder().isEmpty() && !videosFolder().isEmpty() && !picturesFolder().isEmpty();
}

// ---------------------------------------------------------------------------
// Library files. They are read again before every operation, so a library
// changed by another process (or a test that starts afresh) is never
// overwritten with an old copy.

QVariantMap &MediaLibraryHost::music()
{
    QVariantMap library = loadLibraryFile(musicLibraryFilePath(), vtrLocalized("music library file"));
    if (library.isEmpty()) {
        const QString folder = musicFolder();
        if (folder.isEmpty()) throw Failure{-43, vtrLocalized("There is no music folder.")};
        library.insert(QStringLiteral("Major Version"), 1);
        library.insert(QStringLiteral("Minor Version"), 1);
        library.insert(QStringLiteral("Application Version"), m_musicVersion);
        library.insert(QStringLiteral("Features"), 5);
        library.insert(QStringLiteral("Show Content Ratings"), true);
        library.insert(QStringLiteral("Music Folder"), vtr::libraryLocationForLocalPath(folder, true));
        library.insert(QStringLiteral("Library Persistent ID"), randomPersistentID());
        library.insert(QStringLiteral("Tracks"), QVariantMap());
        QVariantMap master{{QStringLiteral("Name"), QStringLiteral("Library")},
                           {QStringLiteral("Master"), true},
                           {QStringLiteral("Visible"), false},
                           {QStringLiteral("All Items"), true},
                           {QStringLiteral("Playlist ID"), nextNumber(library, QStringLiteral("Next ID"), 100)},
                           {QStringLiteral("Playlist Persistent ID"), randomPersistentID()},
                           {QStringLiteral("Playlist Items"), QVariantList()}};
        library.insert(QStringLiteral("Playlists"), QVariantList{master});
    }
    m_music = std::move(library);
    return *m_music;
}

QVariantMap &MediaLibraryHost::photos()
{
    QVariantMap library = loadLibraryFile(albumDataFilePath(), vtrLocalized("photo library file"));
    if (library.isEmpty()) {
        const QString folder = picturesFolder();
        if (folder.isEmpty()) throw Failure{-43, vtrLocalized("There is no pictures folder.")};
        library.insert(QStringLiteral("Major Version"), 2);
        library.insert(QStringLiteral("Minor Version"), 0);
        library.insert(QStringLiteral("Application Version"), m_photosVersion);
        library.insert(QStringLiteral("Archive Path"), folder);
        QVariantMap master{{QStringLiteral("AlbumId"), kLibraryAlbumID},
                           {QStringLiteral("AlbumName"), QStringLiteral("Photos")},
                           {QStringLiteral("Master"), true},
                           {QStringLiteral("KeyList"), QVariantList()},
                           {QStringLiteral("PhotoCount"), 0}};
        library.insert(QStringLiteral("List of Albums"), QVariantList{master});
        library.insert(QStringLiteral("List of Rolls"), QVariantList());
        library.insert(QStringLiteral("Master Image List"), QVariantMap());
    }
    m_photos = std::move(library);
    return *m_photos;
}

void MediaLibraryHost::saveMusic()
{
    m_music->insert(QStringLiteral("Date"), QDateTime::currentDateTimeUtc());
    writeAtomically(musicLibraryFilePath(), vtr::XmlPropertyListWriter::toXml(*m_music),
                    vtrLocalized("music library file"));
}

void MediaLibraryHost::savePhotos()
{
    writeAtomically(albumDataFilePath(), vtr::XmlPropertyListWriter::toXml(*m_photos),
                    vtrLocalized("photo library file"));
}

// Links the file into the folder under a free name, or copies it there
// through a temporary file when the two are on different file systems.
QString MediaLibraryHost::fileIntoFolder(const QString &source, const QString &folder)
{
    auto destinationFolder = VtrMacFileInfo::fileInfoCreateFolderWithFullPath(folder);
    if (!destinationFolder) throw Failure{-48, vtrLocalized("The folder \"%1\" could not be made.").arg(folder)};
    const QString name = destinationFolder->uniqueFilename(folderNameFor(QFileInfo(source).fileName()));
    if (name.isEmpty()) throw Failure{-48, vtrLocalized("No free file name in \"%1\".").arg(folder)};
    const QString target = QDir(folder).filePath(name);
    if (::link(QFile::encodeName(source).constData(), QFile::encodeName(target).constData()) == 0) return target;
    try {
        VtrMacFileInfo::fileInfoWithPath(source)->copyToFile(VtrMacFileInfo::fileInfoWithPath(target), nullptr,
                                                             nullptr);
    } catch (const VtrException &e) {
        throw Failure{-36, vtrLocalized("\"%1\" could not be copied: %2").arg(source, e.reason())};
    }
    return target;
}

std::optional<qint64> MediaLibraryHost::trackForFile(const QString &path)
{
    const QVariantMap tracks = m_music->value(QStringLiteral("Tracks")).toMap();
    for (auto it = tracks.cbegin(); it != tracks.cend(); ++it) {
        const QString local =
            vtr::localPathForLibraryLocation(it.value().toMap().value(QStringLiteral("Location")).toString());
        if (!local.isEmpty() && sameFile(local, path)) return it.key().toLongLong();
    }
    return std::nullopt;
}

qint64 MediaLibraryHost::addOneMediaFile(const QString &path, const QString &collection)
{
    const QString source = QFileInfo(path).canonicalFilePath();
    if (source.isEmpty()) throw Failure{-43, vtrLocalized("The file \"%1\" does not exist.").arg(path)};
    // A file the media reader cannot open counts by its extension alone.
    bool audioOnly = !VtrQTUtils::movieFileExtensions().contains(QFileInfo(source).suffix(), Qt::CaseInsensitive);
    const VtrFileInfo info(source);
    if (!VtrQTUtils::isMovieFile(info, &audioOnly))
        throw Failure{-1700, vtrLocalized("\"%1\" is not a music or video file.").arg(path)};
    const bool video = !audioOnly;
    const QString root = video ? videosFolder() : musicFolder();
    if (root.isEmpty()) throw Failure{-43, vtrLocalized("There is no music or videos folder.")};

    // A file that already sits in the collection folder (an import that ran
    // before) is the same track.
    if (auto existing = trackForFile(source)) return *existing;
    const QString target = fileIntoFolder(source, QDir(root).filePath(folderNameFor(collection)));

    const QFileInfo file(target);
    const qint64 trackID = nextNumber(*m_music, QStringLiteral("Next ID"), 100);
    const QDateTime now = QDateTime::currentDateTimeUtc();
    QVariantMap track{{QStringLiteral("Track ID"), trackID},
                      {QStringLiteral("Name"), file.completeBaseName()},
                      {QStringLiteral("Kind"), kindForExtension(file.suffix(), video)},
                      {QStringLiteral("Size"), file.size()},
                      {QStringLiteral("Date Modified"), file.lastModified().toUTC()},
                      {QStringLiteral("Date Added"), now},
                      {QStringLiteral("Persistent ID"), randomPersistentID()},
                      {QStringLiteral("Track Type"), QStringLiteral("File")},
                      {QStringLiteral("Album"), collection},
                      {QStringLiteral("Location"), vtr::libraryLocationForLocalPath(target)}};
    if (video) {
        track.insert(QStringLiteral("Has Video"), true);
        track.insert(QStringLiteral("Movie"), true);
    }
    QVariantMap tracks = m_music->value(QStringLiteral("Tracks")).toMap();
    tracks.insert(QString::number(trackID), track);
    m_music->insert(QStringLiteral("Tracks"), tracks);

    QVariantList playlists = m_music->value(QStringLiteral("Playlists")).toList();
    for (QVariant &p : playlists) {
        QVariantMap playlist = p.toMap();
        if (!playlist.value(QStringLiteral("Master")).toBool()) continue;
        QVariantList items = playlist.value(QStringLiteral("Playlist Items")).toList();
        items.append(QVariantMap{{QStringLiteral("Track ID"), trackID}});
        playlist.insert(QStringLiteral("Playlist Items"), items);
        p = playlist;
    }
    m_music->insert(QStringLiteral("Playlists"), playlists);
    return trackID;
}

QList<qint64> MediaLibraryHost::addMediaFiles(const QString &path, const QString &collection)
{
    std::lock_guard lock(m_lock);
    music();
    QList<qint64> ids;
    const QFileInfo info(path);
    if (info.isDir()) {
        const QStringList names = QDir(path).entryList(QDir::Files | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase);
        for (const QString &name : names) {
            bool audioOnly = false;
            if (VtrQTUtils::isMovieFile(VtrFileInfo(QDir(path).filePath(name)), &audioOnly))
                ids.append(addOneMediaFile(QDir(path).filePath(name), collection));
        }
    } else {
        ids.append(addOneMediaFile(path, collection));
    }
    saveMusic();
    return ids;
}

namespace {

MediaLibraryHost::Playlist playlistFromMap(const QVariantMap &map)
{
    MediaLibraryHost::Playlist p;
    p.playlistID = map.value(QStringLiteral("Playlist ID")).toLongLong();
    p.persistentID = map.value(QStringLiteral("Playlist Persistent ID")).toString();
    p.name = map.value(QStringLiteral("Name")).toString();
    p.folder = map.value(QStringLiteral("Folder")).toBool();
    p.master = map.value(QStringLiteral("Master")).toBool();
    return p;
}

}  // namespace

QList<MediaLibraryHost::Playlist> MediaLibraryHost::playlists()
{
    std::lock_guard lock(m_lock);
    QList<Playlist> result;
    for (const QVariant &p : music().value(QStringLiteral("Playlists")).toList())
        result.append(playlistFromMap(p.toMap()));
    return result;
}

std::optional<MediaLibraryHost::Playlist> MediaLibraryHost::findPlaylist(const QString &name, bool folder)
{
    for (const Playlist &p : playlists())
        if (!p.master && p.folder == folder && p.name.compare(name, Qt::CaseInsensitive) == 0) return p;
    return std::nullopt;
}

std::optional<MediaLibraryHost::Playlist> MediaLibraryHost::playlistWithPersistentID(const QString &persistentID)
{
    for (const Playlist &p : playlists())
        if (p.persistentID == persistentID) return p;
    return std::nullopt;
}

MediaLibraryHost::Playlist MediaLibraryHost::createPlaylist(const QString &name, bool folder)
{
    std::lock_guard lock(m_lock);
    if (name.trimmed().isEmpty()) throw Failure{-1700, vtrLocalized("A playlist needs a name.")};
    QVariantMap &library = music();
    QVariantMap playlist{{QStringLiteral("Name"), name},
                         {QStringLiteral("All Items"), true},
                         {QStringLiteral("Playlist ID"), nextNumber(library, QStringLiteral("Next ID"), 100)},
                         {QStringLiteral("Playlist Persistent ID"), randomPersistentID()},
                         {QStringLiteral("Playlist Items"), QVariantList()}};
    if (folder) playlist.insert(QStringLiteral("Folder"), true);
    QVariantList playlists = library.value(QStringLiteral("Playlists")).toList();
    playlists.append(playlist);
    library.insert(QStringLiteral("Playlists"), playlists);
    if (!folder) writePlaylistFile(playlist);
    saveMusic();
    return playlistFromMap(playlist);
}

void MediaLibraryHost::addTracksToPlaylist(const QList<qint64> &trackIDs, const QString &playlistPersistentID)
{
    std::lock_guard lock(m_lock);
    QVariantMap &library = music();
    const QVariantMap tracks = library.value(QStringLiteral("Tracks")).toMap();
    QVariantList playlists = library.value(QStringLiteral("Playlists")).toList();
    for (QVariant &p : playlists) {
        QVariantMap playlist = p.toMap();
        if (playlist.value(QStringLiteral("Playlist Persistent ID")).toString() != playlistPersistentID) continue;
        if (playlist.value(QStringLiteral("Folder")).toBool())
            throw Failure{-10000, vtrLocalized("Tracks cannot be added to the folder \"%1\".")
                                      .arg(playlist.value(QStringLiteral("Name")).toString())};
        QVariantList items = playlist.value(QStringLiteral("Playlist Items")).toList();
        QSet<qint64> present;
        for (const QVariant &item : items)
            present.insert(item.toMap().value(QStringLiteral("Track ID")).toLongLong());
        for (qint64 id : trackIDs) {
            if (!tracks.contains(QString::number(id)))
                throw Failure{-1728, vtrLocalized("There is no track %1.").arg(id)};
            if (present.contains(id)) continue;
            present.insert(id);
            items.append(QVariantMap{{QStringLiteral("Track ID"), id}});
        }
        playlist.insert(QStringLiteral("Playlist Items"), items);
        p = playlist;
        library.insert(QStringLiteral("Playlists"), playlists);
        writePlaylistFile(playlist);
        saveMusic();
        return;
    }
    throw Failure{-1728, vtrLocalized("There is no playlist %1.").arg(playlistPersistentID)};
}

// "Playlists/<name>.m3u8": extended M3U in UTF-8 with paths relative to the
// playlist file, so the music folder can be moved or shared as a whole.
void MediaLibraryHost::writePlaylistFile(const QVariantMap &playlist)
{
    const QString folder = playlistsFolder();
    if (folder.isEmpty()) throw Failure{-43, vtrLocalized("There is no music folder.")};
    const QVariantMap tracks = m_music->value(QStringLiteral("Tracks")).toMap();
    QByteArray text = "#EXTM3U\n";
    const QDir base(folder);
    for (const QVariant &item : playlist.value(QStringLiteral("Playlist Items")).toList()) {
        const QVariantMap track = tracks.value(item.toMap().value(QStringLiteral("Track ID")).toString()).toMap();
        const QString local = vtr::localPathForLibraryLocation(track.value(QStringLiteral("Location")).toString());
        if (local.isEmpty()) continue;
        QString title = track.value(QStringLiteral("Name")).toString();
        title.replace(QLatin1Char('\n'), QLatin1Char(' ')).replace(QLatin1Char('\r'), QLatin1Char(' '));
        const qint64 seconds = track.value(QStringLiteral("Total Time")).toLongLong() / 1000;
        text += "#EXTINF:" + QByteArray::number(seconds > 0 ? seconds : -1) + ',' + title.toUtf8() + '\n';
        text += base.relativeFilePath(local).toUtf8() + '\n';
    }
    const QString fileName = folderNameFor(playlist.value(QStringLiteral("Name")).toString());
    writeAtomically(base.filePath(fileName + QStringLiteral(".m3u8")), text, vtrLocalized("playlist"));
}

// ---------------------------------------------------------------------------
// Photos

namespace {

MediaLibraryHost::Album albumFromMap(const QVariantMap &map)
{
    return {map.value(QStringLiteral("AlbumId")).toLongLong(), map.value(QStringLiteral("AlbumName")).toString(),
            map.value(QStringLiteral("Album Type")).toString()};
}

qint64 secondsSinceReferenceDate(const QDateTime &date)
{
    return date.toSecsSinceEpoch() - kReferenceDateOffset;
}

}  // namespace

QList<MediaLibraryHost::Album> MediaLibraryHost::albums()
{
    std::lock_guard lock(m_lock);
    QList<Album> result;
    for (const QVariant &a : photos().value(QStringLiteral("List of Albums")).toList())
        result.append(albumFromMap(a.toMap()));
    return result;
}

std::optional<MediaLibraryHost::Album> MediaLibraryHost::findAlbum(const QString &name)
{
    for (const Album &a : albums())
        if (a.type == QLatin1String("Regular") && a.name == name) return a;
    return std::nullopt;
}

MediaLibraryHost::Album MediaLibraryHost::createAlbum(const QString &name)
{
    std::lock_guard lock(m_lock);
    if (name.trimmed().isEmpty()) throw Failure{-1700, vtrLocalized("An album needs a name.")};
    QVariantMap &library = photos();
    QVariantMap album{{QStringLiteral("AlbumId"), nextNumber(library, QStringLiteral("Next Album ID"), kFirstAlbumID)},
                      {QStringLiteral("AlbumName"), name},
                      {QStringLiteral("Album Type"), QStringLiteral("Regular")},
                      {QStringLiteral("GUID"), randomPersistentID()},
                      {QStringLiteral("KeyList"), QVariantList()},
                      {QStringLiteral("PhotoCount"), 0}};
    QVariantList list = library.value(QStringLiteral("List of Albums")).toList();
    list.append(album);
    library.insert(QStringLiteral("List of Albums"), list);
    savePhotos();
    return albumFromMap(album);
}

QString MediaLibraryHost::addOnePhoto(const QString &path, QVariantMap &album)
{
    const QString source = QFileInfo(path).canonicalFilePath();
    if (source.isEmpty()) throw Failure{-43, vtrLocalized("The file \"%1\" does not exist.").arg(path)};
    const VtrFileInfo info(source);
    const bool still = VtrQTUtils::isStillImageFile(info);
    if (!still && !VtrQTUtils::isMovieFile(info, nullptr))
        throw Failure{-1700, vtrLocalized("\"%1\" is not a picture or movie.").arg(path)};

    QVariantMap images = m_photos->value(QStringLiteral("Master Image List")).toMap();
    const QString albumFolder =
        QDir(picturesFolder()).filePath(folderNameFor(album.value(QStringLiteral("AlbumName")).toString()));
    QString key;
    for (auto it = images.cbegin(); it != images.cend() && key.isEmpty(); ++it) {
        const QString imagePath = it.value().toMap().value(QStringLiteral("ImagePath")).toString();
        if (sameFile(imagePath, source)) key = it.key();
    }
    if (key.isEmpty()) {
        const QString target = fileIntoFolder(source, albumFolder);
        const QFileInfo file(target);
        key = QString::number(nextNumber(*m_photos, QStringLiteral("Next Image Key"), 1));
        const qint64 modified = secondsSinceReferenceDate(file.lastModified().toUTC());
        images.insert(key, QVariantMap{{QStringLiteral("MediaType"), still ? QStringLiteral("Image") : QStringLiteral("Movie")},
                                       {QStringLiteral("Caption"), file.completeBaseName()},
                                       {QStringLiteral("ImagePath"), target},
                                       {QStringLiteral("OriginalPath"), target},
                                       {QStringLiteral("GUID"), randomPersistentID()},
                                       {QStringLiteral("DateAsTimerInterval"), double(modified)},
                                       {QStringLiteral("ModDateAsTimerInterval"), double(modified)},
                                       {QStringLiteral("Roll"), album.value(QStringLiteral("AlbumId"))}});
        m_photos->insert(QStringLiteral("Master Image List"), images);
    }
    QVariantList keys = album.value(QStringLiteral("KeyList")).toList();
    if (!keys.contains(key)) keys.append(key);
    album.insert(QStringLiteral("KeyList"), keys);
    album.insert(QStringLiteral("PhotoCount"), keys.size());
    return key;
}

QStringList MediaLibraryHost::addPhotosLocked(const QString &path, qint64 albumID)
{
    QVariantList albums = m_photos->value(QStringLiteral("List of Albums")).toList();
    qsizetype index = -1, masterIndex = -1;
    for (qsizetype i = 0; i < albums.size(); ++i) {
        const QVariantMap a = albums.at(i).toMap();
        if (a.value(QStringLiteral("AlbumId")).toLongLong() == albumID &&
            a.value(QStringLiteral("Album Type")).toString() == QLatin1String("Regular"))
            index = i;
        if (a.value(QStringLiteral("Master")).toBool()) masterIndex = i;
    }
    if (index < 0) throw Failure{-1728, vtrLocalized("There is no album %1.").arg(albumID)};
    QVariantMap album = albums.at(index).toMap();

    QStringList files;
    if (QFileInfo(path).isDir()) {
        for (const QString &name : QDir(path).entryList(QDir::Files | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase)) {
            const QString file = QDir(path).filePath(name);
            const VtrFileInfo info(QFileInfo(file).canonicalFilePath());
            if (VtrQTUtils::isStillImageFile(info) || VtrQTUtils::isMovieFile(info, nullptr)) files.append(file);
        }
    } else {
        files.append(path);
    }
    QStringList keys;
    for (const QString &file : files)
        keys.append(addOnePhoto(file, album));
    albums[index] = album;

    // Every picture is also in the library album and in an event named
    // after the album it came with.
    if (masterIndex >= 0) {
        QVariantMap master = albums.at(masterIndex).toMap();
        QVariantList all = master.value(QStringLiteral("KeyList")).toList();
        for (const QString &key : keys)
            if (!all.contains(key)) all.append(key);
        master.insert(QStringLiteral("KeyList"), all);
        master.insert(QStringLiteral("PhotoCount"), all.size());
        albums[masterIndex] = master;
    }
    m_photos->insert(QStringLiteral("List of Albums"), albums);
    QVariantList rolls = m_photos->value(QStringLiteral("List of Rolls")).toList();
    qsizetype rollIndex = -1;
    for (qsizetype i = 0; i < rolls.size(); ++i)
        if (rolls.at(i).toMap().value(QStringLiteral("RollID")).toLongLong() == albumID) rollIndex = i;
    QVariantMap roll = rollIndex >= 0 ? rolls.at(rollIndex).toMap()
                                      : QVariantMap{{QStringLiteral("RollID"), albumID},
                                                    {QStringLiteral("RollName"), album.value(QStringLiteral("AlbumName"))},
                                                    {QStringLiteral("RollDateAsTimerInterval"),
                                                     double(secondsSinceReferenceDate(QDateTime::currentDateTimeUtc()))}};
    QVariantList rollKeys = roll.value(QStringLiteral("KeyList")).toList();
    for (const QString &key : keys)
        if (!rollKeys.contains(key)) rollKeys.append(key);
    roll.insert(QStringLiteral("KeyList"), rollKeys);
    roll.insert(QStringLiteral("PhotoCount"), rollKeys.size());
    if (rollIndex >= 0)
        rolls[rollIndex] = roll;
    else
        rolls.append(roll);
    m_photos->insert(QStringLiteral("List of Rolls"), rolls);
    savePhotos();
    return keys;
}

QStringList MediaLibraryHost::addPhotos(const QString &path, const QString &albumName)
{
    std::lock_guard lock(m_lock);
    const Album album = findAlbum(albumName).value_or(Album{});
    const qint64 id = album.albumID ? album.albumID : createAlbum(albumName).albumID;
    photos();
    return addPhotosLocked(path, id);
}

QStringList MediaLibraryHost::addPhotosToAlbumID(const QString &path, qint64 albumID)
{
    std::lock_guard lock(m_lock);
    photos();
    return addPhotosLocked(path, albumID);
}
