#include "sources/iphoto/VtrIPhoto.h"

#include "fileinfo/VtrFileInfo.h"
#include "fileinfo/VtrMacFileInfo.h"
#include "foundation/Log.h"
#include "platform/Strings.h"
#include "platform/UserDefaults.h"
#include "sources/host/BackgroundRead.h"
#include "sources/host/LibraryLocation.h"
#include "sources/host/MediaLibraryHost.h"
#include "sources/host/PropertyListXml.h"
#include "sources/host/VtrAppleScriptExecutor.h"

#include <QDir>
#include <QFileInfo>

namespace {

const QString kAlbumDataName = QStringLiteral("AlbumData.xml");

QString preferencesFile(const QString &name)
{
    const QString prefs =
        VtrFileInfo::findFolderPath(VtrFileInfo::kUserDomain, VtrFileInfo::kPreferencesFolderType, false);
    if (prefs.isEmpty()) return QString();
    const QString path = QDir(prefs).filePath(name);
    return QFileInfo::exists(path) ? path : QString();
}

QVariantMap readPreferences(const QString &name)
{
    const QString path = preferencesFile(name);
    if (path.isEmpty()) return {};
    return vtr::XmlPropertyListReader::readDictionaryFile(path).value_or(QVariantMap());
}

QString expandTilde(const QString &path)
{
    if (path.startsWith(QLatin1String("~/")) || path == QLatin1String("~")) return QDir::homePath() + path.mid(1);
    return path;
}

int majorVersion()
{
    return VtrIPhoto::iPhotoVersion().section(QLatin1Char('.'), 0, 0).toInt();
}

QStringList pathsOf(const VtrFileInfoList &files)
{
    QStringList paths;
    for (const VtrFileInfoPtr &file : files)
        paths.append(file ? file->path() : QString());
    return paths;
}

}  // namespace

// ---------------------------------------------------------------------------
// Library location

QString VtrIPhoto::picturesFolderPath()
{
    const QString path =
        VtrFileInfo::findFolderPath(VtrFileInfo::kUserDomain, VtrFileInfo::kPictureDocumentsFolderType, false);
    if (path.isEmpty()) {
        VtrDebugLog(QStringLiteral("Couldn't find the user's Pictures folder."));
        return QString();
    }
    return path;
}

QVariantMap VtrIPhoto::iPhotoPrefs()
{
    return readPreferences(QStringLiteral("com.apple.iPhoto.plist"));
}

QString VtrIPhoto::iPhotoVersion()
{
    MediaLibraryHost &host = MediaLibraryHost::shared();
    return host.isConfigured() ? host.photosVersion() : QString();
}

bool VtrIPhoto::hasIPhoto() { return !iPhotoVersion().isNull(); }
bool VtrIPhoto::hasIPhoto5OrLater() { return hasIPhoto() && majorVersion() > 4; }
bool VtrIPhoto::hasIPhoto7OrLater() { return hasIPhoto() && majorVersion() > 6; }
bool VtrIPhoto::hasIPhoto8OrLater() { return hasIPhoto() && majorVersion() > 7; }

bool VtrIPhoto::hasIPhotoLibrary()
{
    const auto file = VtrIPhotoAlbumData::defaultAlbumDataXMLFileInfo();
    return file && file->exists();
}

QString VtrIPhoto::currentIPhotoLibraryPath()
{
    const QString brought = expandTilde(platform::UserDefaults::value(QLatin1String(kLibraryFolderDefaultKey)).toString());
    if (!brought.isEmpty() && QFileInfo(brought).isDir()) return brought;
    const QVariantList recent = readPreferences(QStringLiteral("com.apple.iApps.plist"))
                                    .value(QStringLiteral("iPhotoRecentDatabases"))
                                    .toList();
    if (!recent.isEmpty()) {
        const QString file = vtr::localPathForLibraryLocation(expandTilde(recent.first().toString()));
        if (!file.isEmpty()) return QFileInfo(file).absolutePath();
    }
    const QString root = iPhotoPrefs().value(QStringLiteral("RootDirectory")).toString();
    return root.isEmpty() ? QString() : expandTilde(root);
}

VtrFileInfoPtr VtrIPhotoAlbumData::defaultAlbumDataXMLFileInfo()
{
    QString library = VtrIPhoto::currentIPhotoLibraryPath();
    if (library.isEmpty() || !QFileInfo(library).isDir()) {
        const QString pictures = VtrIPhoto::picturesFolderPath();
        if (pictures.isEmpty()) VtrDebugLog(QStringLiteral("Couldn't find '~/Pictures'?"));
        library = pictures.isEmpty() ? QString() : QDir(pictures).filePath(QStringLiteral("iPhoto Library"));
    }
    if (library.isEmpty() || !QFileInfo(library).isDir()) {
        // No library of another computer: the host's own, when it has one.
        const QString own = MediaLibraryHost::albumDataFilePath();
        if (MediaLibraryHost::isOwnLibraryFileThere(own)) return VtrMacFileInfo::fileInfoWithPath(own);
        VtrDebugLog(QStringLiteral("Couldn't find iPhoto Library."));
        return nullptr;
    }
    return VtrMacFileInfo::fileInfoWithPath(QDir(library).filePath(kAlbumDataName));
}

QDateTime VtrIPhotoAlbumData::albumDataXMLFileModDate()
{
    const auto file = defaultAlbumDataXMLFileInfo();
    return file && file->exists() ? file->modificationDate() : QDateTime();
}

QUrl VtrIPhotoAlbumData::defaultAlbumDataXMLFileURL() const
{
    const auto file = defaultAlbumDataXMLFileInfo();
    return file ? QUrl::fromLocalFile(file->path()) : QUrl();
}

// ---------------------------------------------------------------------------
// Album data

VtrIPhotoAlbumData::VtrIPhotoAlbumData(const IPhotoProgress &progress)
{
    m_includeRolls = VtrIPhoto::hasIPhoto7OrLater();
    vtr::runWhileServingEvents(
        [this] {
            const auto file = defaultAlbumDataXMLFileInfo();
            if (!file || !file->exists()) {
                m_loadError = vtrLocalized("No photo library file was found.");
                return;
            }
            m_lastModDateOfXMLFile = file->modificationDate();
            parseAlbumDataFile(file->path());
        },
        [&progress] {
            if (progress) progress(vtrLocalized("Reading iPhoto albums..."));
        },
        std::chrono::milliseconds(10));
}

void VtrIPhotoAlbumData::parseAlbumDataFile(const QString &path)
{
    vtr::PropertyListError error;
    const auto data = vtr::XmlPropertyListReader::readDictionaryFile(QFileInfo(path).canonicalFilePath(), &error);
    if (!data) {
        m_loadError = error.toString();
        VtrDebugLog(QStringLiteral("Couldn't read \"%1\": %2").arg(path, m_loadError));
        return;
    }
    m_masterImageList = data->value(QStringLiteral("Master Image List")).toMap();
    for (const QVariant &entry : data->value(QStringLiteral("List of Albums")).toList()) {
        const QVariantMap a = entry.toMap();
        if (!a.contains(QStringLiteral("AlbumName"))) continue;
        QVariantMap album{{QStringLiteral("Name"), a.value(QStringLiteral("AlbumName"))},
                          {QStringLiteral("ID"), a.value(QStringLiteral("AlbumId"))},
                          {QStringLiteral("Num Photos"), a.value(QStringLiteral("PhotoCount"))},
                          {QStringLiteral("Type"), a.value(QStringLiteral("Album Type"), QStringLiteral("Regular"))}};
        if (a.contains(QStringLiteral("Parent"))) album.insert(QStringLiteral("Parent"), a.value(QStringLiteral("Parent")));
        album.insert(a);
        m_albums.append(album);
    }
    if (!m_includeRolls) return;
    for (const QVariant &entry : data->value(QStringLiteral("List of Rolls")).toList()) {
        const QVariantMap r = entry.toMap();
        if (!r.contains(QStringLiteral("RollName"))) continue;
        QVariantMap roll{{QStringLiteral("Name"), r.value(QStringLiteral("RollName"))},
                         {QStringLiteral("Type"), QStringLiteral("FilmRoll")},
                         {QStringLiteral("Num Photos"), r.value(QStringLiteral("PhotoCount"), 0)}};
        if (r.contains(QStringLiteral("RollID"))) roll.insert(QStringLiteral("ID"), r.value(QStringLiteral("RollID")));
        if (r.contains(QStringLiteral("Parent"))) roll.insert(QStringLiteral("Parent"), r.value(QStringLiteral("Parent")));
        roll.insert(r);
        m_rolls.append(roll);
    }
}

bool VtrIPhotoAlbumData::xmlFileHasChanged() const
{
    return albumDataXMLFileModDate() != m_lastModDateOfXMLFile;
}

QVariantList VtrIPhotoAlbumData::albums() const
{
    QVariantList result = m_albums;
    if (!m_includeRolls) return result;
    const QString events = vtrLocalized("Events");
    result.append(QVariantMap{{QStringLiteral("Name"), events},
                              {QStringLiteral("AlbumName"), events},
                              {QStringLiteral("ID"), kEventsAlbumID},
                              {QStringLiteral("AlbumId"), kEventsAlbumID},
                              {QStringLiteral("Type"), QStringLiteral("Events Folder")},
                              {QStringLiteral("Album Type"), QStringLiteral("Events Folder")}});
    for (const QVariant &r : m_rolls) {
        QVariantMap roll = r.toMap();
        roll.insert(QStringLiteral("Parent"), kEventsAlbumID);
        result.append(roll);
    }
    return result;
}

QVariantList VtrIPhotoAlbumData::writableAlbums() const
{
    QVariantList result;
    for (const QVariant &a : m_albums)
        if (a.toMap().value(QStringLiteral("Type")).toString().compare(QLatin1String("Regular"), Qt::CaseInsensitive) == 0)
            result.append(a);
    return result;
}

std::optional<QVariantMap> VtrIPhotoAlbumData::albumWithNameOrID(const QVariant &nameOrID, const QVariantList &albums)
{
    const bool isText = nameOrID.typeId() == QMetaType::QString;
    bool isNumber = false;
    const double number = isText ? 0 : nameOrID.toDouble(&isNumber);
    if (!isText && !isNumber) return std::nullopt;
    for (const QVariant &a : albums) {
        const QVariantMap album = a.toMap();
        if (isText ? album.value(QStringLiteral("Name")).toString() == nameOrID.toString()
                   : (album.contains(QStringLiteral("ID")) && album.value(QStringLiteral("ID")).toDouble() == number))
            return album;
    }
    return std::nullopt;
}

QVariantMap VtrIPhotoAlbumData::imagesWithAlbumNamesOrIDs(const QVariantList &namesOrIDs) const
{
    QVariantMap result;
    if (m_masterImageList.isEmpty()) return result;
    const QVariantList all = albums();
    qint64 index = 1;
    for (const QVariant &nameOrID : namesOrIDs) {
        const auto album = albumWithNameOrID(nameOrID, all);
        if (!album) continue;
        for (const QVariant &k : album->value(QStringLiteral("KeyList")).toList()) {
            const QString key = k.toString();
            if (result.contains(key) || !m_masterImageList.contains(key)) continue;
            QVariantMap image = m_masterImageList.value(key).toMap();
            image.insert(QStringLiteral("photo index"), index++);
            result.insert(key, image);
        }
    }
    return result;
}

std::optional<QVariantMap> VtrIPhotoAlbumData::findPhoto(const QVariantMap &description) const
{
    const QString name = description.value(QStringLiteral("file name")).toString();
    const QVariant size = description.value(QStringLiteral("file size"));
    const QDateTime created = description.value(QStringLiteral("file creation date")).toDateTime();
    if ((name.isEmpty() && !size.isValid() && !created.isValid()) || m_masterImageList.isEmpty()) return std::nullopt;
    for (const QVariant &i : m_masterImageList) {
        const QVariantMap image = i.toMap();
        const QString path = image.value(QStringLiteral("ImagePath")).toString();
        if (path.isEmpty()) continue;
        if (!name.isEmpty() && QFileInfo(path).fileName().compare(name, Qt::CaseInsensitive) != 0) continue;
        const QFileInfo file(QFileInfo(path).canonicalFilePath());
        if (!file.exists()) continue;
        if (size.isValid() && qint32(file.size()) != size.toInt()) continue;
        if (created.isValid()) {
            const QDateTime birth = file.birthTime();
            if (birth.isValid() && birth != created) continue;
        }
        return image;
    }
    return std::nullopt;
}

qint64 VtrIPhotoAlbumData::idFromName(const QString &name) const
{
    if (name.isNull()) return -1;
    for (const QVariant &a : m_albums) {
        const QVariantMap album = a.toMap();
        if (album.value(QStringLiteral("Name")).toString().compare(name, Qt::CaseInsensitive) == 0)
            return album.value(QStringLiteral("ID")).toLongLong();
    }
    return -1;
}

QString VtrIPhotoAlbumData::nameFromID(qint64 id) const
{
    for (const QVariantList *list : {&m_albums, &m_rolls})
        for (const QVariant &a : *list) {
            const QVariantMap album = a.toMap();
            if (album.contains(QStringLiteral("ID")) && album.value(QStringLiteral("ID")).toLongLong() == id)
                return album.value(QStringLiteral("Name")).toString();
        }
    return QString();
}

// ---------------------------------------------------------------------------
// Library access

bool VtrIPhoto::albumsChanged() const
{
    return !m_albumData || m_albumData->xmlFileHasChanged();
}

VtrIPhotoAlbumData &VtrIPhoto::albumData(const IPhotoProgress &progress)
{
    if (albumsChanged()) m_albumData = std::make_unique<VtrIPhotoAlbumData>(progress);
    return *m_albumData;
}

QVariantList VtrIPhoto::albumsWithProgress(const IPhotoProgress &progress)
{
    return albumData(progress).albums();
}

QVariantList VtrIPhoto::importableAlbumsWithProgress(const IPhotoProgress &progress)
{
    QVariantList result;
    for (const QVariant &a : albumData(progress).albums()) {
        const QVariant type = a.toMap().value(QStringLiteral("Type"));
        if (!type.isValid() || type.toString() == QLatin1String("Library") || type.toString() == QLatin1String("Regular"))
            result.append(a);
    }
    return result;
}

int VtrIPhoto::numberOfAlbums()
{
    return int(albumData().albums().size());
}

QVariantMap VtrIPhoto::imagesWithAlbumNamesOrIDs(const QVariantList &namesOrIDs)
{
    return albumData().imagesWithAlbumNamesOrIDs(namesOrIDs);
}

qint64 VtrIPhoto::idWithAlbumOrEventName(const QString &name)
{
    return albumData().idFromName(name);
}

QString VtrIPhoto::nameWithAlbumOrEventID(qint64 id)
{
    return albumData().nameFromID(id);
}

std::optional<QVariantMap> VtrIPhoto::findPhoto(const QVariantMap &description)
{
    return albumData().findPhoto(description);
}

QString VtrIPhoto::addPhotos(const VtrFileInfoList &files, const QString &album, const QString &templateFolder,
                             const std::function<void()> &tickle)
{
    return vtr::runTemplateForEachFile(pathsOf(files), QStringLiteral("iPhotoImport.applescript"), templateFolder,
                                       QStringLiteral("(PhotosConduit:FolderPath)"),
                                       {{QStringLiteral("(PhotosConduit:AlbumName)"), album}}, tickle);
}

QString VtrIPhoto::addPhotosToAlbumID(const VtrFileInfoList &files, int albumID, const QString &templateFolder,
                                      const std::function<void()> &tickle)
{
    return vtr::runTemplateForEachFile(pathsOf(files), QStringLiteral("iPhotoImport2.applescript"), templateFolder,
                                       QStringLiteral("(PhotosConduit:FolderPath)"),
                                       {{QStringLiteral("(PhotosConduit:AlbumID)"), QString::number(albumID)}},
                                       tickle);
}
