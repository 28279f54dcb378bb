#include "sources/iphoto/VtrIPhotoItem.h"

#include "fileinfo/VtrFileInfo.h"
#include "fileinfo/VtrMacFileInfo.h"
#include "fileinfo/VtrQTUtils.h"
#include "foundation/VtrString.h"
#include "sources/host/LibraryIcons.h"
#include "sources/host/TriState.h"

#include <QFileInfo>
#include <QSet>

namespace {

constexpr qint64 kLibraryAlbumID = 999000;
constexpr qint64 kLastImportAlbumID = 999001;
constexpr qint64 kReferenceDateOffset = 978307200;  // 2001-01-01 in Unix seconds

QDateTime fromReferenceSeconds(const QVariant &value)
{
    if (!value.isValid()) return QDateTime();
    return QDateTime::fromMSecsSinceEpoch(qint64((value.toDouble() + kReferenceDateOffset) * 1000.0), Qt::UTC);
}

VtrFileInfoPtr fileInfoFor(const QString &path)
{
    if (path.isEmpty()) return nullptr;
    return VtrMacFileInfo::fileInfoWithPath(path);
}

}  // namespace

VtrIPhotoItem::VtrIPhotoItem(const QVariantMap &info) : m_info(info), m_type(typeForInfo(info)) {}

VtrIPhotoItem::~VtrIPhotoItem()
{
    for (const auto &child : m_children)
        if (child->m_parent == this) child->m_parent = nullptr;
    for (const auto &photo : m_photos)
        photo->m_albumsAndEvents.removeAll(this);
}

VtrIPhotoItemPtr VtrIPhotoItem::folder(Type type, const QString &name)
{
    auto item = std::make_shared<VtrIPhotoItem>(QVariantMap{{QStringLiteral("AlbumName"), name}});
    item->m_type = type;
    return item;
}

VtrIPhotoItemPtr VtrIPhotoItem::withImages(const QVariantMap &info, const QHash<QString, VtrIPhotoItemPtr> &images)
{
    auto item = withInfo(info);
    for (const QVariant &key : info.value(QStringLiteral("KeyList")).toList()) {
        const VtrIPhotoItemPtr photo = images.value(key.toString());
        if (!photo || item->m_photos.contains(photo)) continue;
        item->m_photos.append(photo);
        photo->m_albumsAndEvents.append(item.get());
    }
    return item;
}

VtrIPhotoItemPtr VtrIPhotoItem::withFaces(const QVariantMap &info, const QHash<QString, VtrIPhotoItemPtr> &faces)
{
    auto item = withInfo(info);
    for (const QVariant &entry : info.value(QStringLiteral("Faces")).toList()) {
        const VtrIPhotoItemPtr face = faces.value(entry.toMap().value(QStringLiteral("face key")).toString());
        if (face && !face->m_photos.contains(item)) face->m_photos.append(item);
    }
    return item;
}

VtrIPhotoItem::Type VtrIPhotoItem::typeForInfo(const QVariantMap &info)
{
    const QString media = info.value(QStringLiteral("MediaType")).toString();
    if (media == QLatin1String("Image")) return Photo;
    if (media == QLatin1String("Movie")) return Movie;
    if (info.contains(QStringLiteral("AlbumId"))) {
        const qint64 id = info.value(QStringLiteral("AlbumId")).toLongLong();
        const QString type = info.value(QStringLiteral("Album Type")).toString();
        if (id == kLastImportAlbumID) return LastImport;
        if (type == QLatin1String("Regular") || id == kLibraryAlbumID) return Album;
        static const QHash<QString, Type> kinds{{QStringLiteral("Smart"), SmartAlbum},
                                                {QStringLiteral("Special Roll"), SpecialRoll},
                                                {QStringLiteral("Special Month"), SpecialMonth},
                                                {QStringLiteral("Shelf"), Shelf},
                                                {QStringLiteral("Selected Event Album"), SelectedEventAlbum},
                                                {QStringLiteral("Published"), Published},
                                                {QStringLiteral("Subscribed"), Subscribed},
                                                {QStringLiteral("Book"), Book},
                                                {QStringLiteral("Folder"), Folder}};
        return kinds.value(type, UnknownAlbumType);
    }
    if (info.contains(QStringLiteral("RollID"))) return Event;
    if (info.contains(QStringLiteral("name"))) return Face;
    return NotInited;
}

QString VtrIPhotoItem::typeText(Type type)
{
    static const char *const kTexts[] = {"not inited", "photo", "movie", "album", "smart album", "special roll",
                                         "special month", "shelf", "selected event album", "last import", "published",
                                         "subscribed", "book", "folder", "unknown album type", "event", "face"};
    if (type >= AlbumsGroup) return QStringLiteral("group");
    return QLatin1String(kTexts[type]);
}

QVariantMap VtrIPhotoItem::encode() const
{
    QVariantList photos;
    for (const auto &p : m_photos)
        photos.append(p->encode());
    return {{QStringLiteral("_iPhotoInfo"), m_info},
            {QStringLiteral("_iPhotoItemType"), int(m_type)},
            {QStringLiteral("_selectedForSync"), m_selectedForSync},
            {QStringLiteral("_photos"), photos}};
}

VtrIPhotoItemPtr VtrIPhotoItem::decode(const QVariantMap &coded)
{
    auto item = withInfo(coded.value(QStringLiteral("_iPhotoInfo")).toMap());
    item->m_type = Type(coded.value(QStringLiteral("_iPhotoItemType")).toInt());
    item->m_selectedForSync = coded.value(QStringLiteral("_selectedForSync"), -2).toInt();
    for (const QVariant &p : coded.value(QStringLiteral("_photos")).toList())
        item->m_photos.append(decode(p.toMap()));
    return item;
}

QVariantMap iPhotoImageState::encode() const
{
    return {{QStringLiteral("_selectedForSync"), m_selectedForSync},
            {QStringLiteral("_image"), m_image ? m_image->encode() : QVariantMap()}};
}

void VtrIPhotoItem::addChild(const VtrIPhotoItemPtr &child)
{
    m_children.append(child);
    child->m_parent = this;
}

QString VtrIPhotoItem::itemID() const
{
    if (m_type == Face) return m_info.value(QStringLiteral("key")).toString();
    for (const char *key : {"AlbumId", "RollID"}) {
        const QVariant v = m_info.value(QLatin1String(key));
        if (v.isValid()) return v.toString();
    }
    return QString(QLatin1String(""));
}

QString VtrIPhotoItem::name() const
{
    QString result;
    switch (m_type) {
    case Face: result = m_info.value(QStringLiteral("name")).toString(); break;
    case Event: result = m_info.value(QStringLiteral("RollName")).toString(); break;
    case Photo:
    case Movie: {
        const QString caption = m_info.value(QStringLiteral("Caption")).toString();
        if (!caption.isEmpty()) {
            result = vtr::stringByDeletingImageExtension(caption);
            break;
        }
        for (const char *key : {"ImagePath", "OriginalPath"}) {
            const QString path = m_info.value(QLatin1String(key)).toString();
            if (!path.isEmpty()) {
                result = QFileInfo(path).completeBaseName();
                break;
            }
        }
        break;
    }
    default: result = m_info.value(QStringLiteral("AlbumName")).toString();
    }
    return result.isNull() ? QString(QLatin1String("")) : result;
}

QString VtrIPhotoItem::displayName() const
{
    if (m_type >= AlbumsGroup) return name();
    return QStringLiteral("%1 (%2)").arg(name()).arg(m_photos.size());
}

QDateTime VtrIPhotoItem::creationDate() const
{
    return fromReferenceSeconds(m_info.value(QStringLiteral("DateAsTimerInterval")));
}

QDateTime VtrIPhotoItem::modificationDate() const
{
    return fromReferenceSeconds(m_info.value(QStringLiteral("ModDateAsTimerInterval")));
}

VtrFileInfoPtr VtrIPhotoItem::origFileInfo() const { return fileInfoFor(m_info.value(QStringLiteral("OriginalPath")).toString()); }
VtrFileInfoPtr VtrIPhotoItem::editedFileInfo() const { return fileInfoFor(m_info.value(QStringLiteral("ImagePath")).toString()); }
VtrFileInfoPtr VtrIPhotoItem::thumbnailFileInfo() const { return fileInfoFor(m_info.value(QStringLiteral("ThumbPath")).toString()); }

VtrFileInfoPtr VtrIPhotoItem::photoFileInfo() const
{
    const VtrFileInfoPtr edited = editedFileInfo();
    return edited && edited->exists() ? edited : origFileInfo();
}

bool VtrIPhotoItem::isLibrary() const { return m_info.value(QStringLiteral("Master")).toBool(); }

bool VtrIPhotoItem::isWritable() const
{
    return isLibrary() || m_info.value(QStringLiteral("Album Type")).toString() == QLatin1String("Regular");
}

bool VtrIPhotoItem::isMovie() const
{
    const VtrFileInfoPtr file = photoFileInfo();
    if (!file) return false;
    return VtrQTUtils::isMovieFile(VtrFileInfo(file->path()), file->extension(), nullptr);
}

bool VtrIPhotoItem::isStillImage() const
{
    static const QSet<QString> extensions = [] {
        QSet<QString> set;
        for (const QString &e : VtrQTUtils::stillImageExtensions())
            set.insert(e.toLower());
        return set;
    }();
    const VtrFileInfoPtr file = photoFileInfo();
    return file && extensions.contains(file->extension().toLower());
}

bool VtrIPhotoItem::isFolder() const
{
    return m_type == Folder || m_type >= AlbumsGroup;
}

int VtrIPhotoItem::compareModificationDates(const VtrIPhotoItem &other) const
{
    const QDateTime a = modificationDate(), b = other.modificationDate();
    return a > b ? -1 : (a < b ? 1 : 0);
}

QImage VtrIPhotoItem::image() const
{
    if (isLibrary()) return vtr::libraryIcon(QStringLiteral("iPhotoLibrary"));
    if (m_info.value(QStringLiteral("AlbumId")).toLongLong() == kLastImportAlbumID)
        return vtr::libraryIcon(QStringLiteral("iPhotoLastImport"));
    if (m_info.value(QStringLiteral("AlbumName")).toString() == QLatin1String("Flagged"))
        return vtr::libraryIcon(QStringLiteral("iPhotoFlagged"));
    if (m_type == Photo || m_type == Movie) {
        for (const char *key : {"ThumbPath", "ImagePath", "OriginalPath"}) {
            const VtrFileInfoPtr file = fileInfoFor(m_info.value(QLatin1String(key)).toString());
            if (file && file->exists()) return file->icon();
        }
        return QImage();
    }
    QString name;
    switch (m_type) {
    case Album:
    case Shelf: name = QStringLiteral("iPhotoRegularAlbum"); break;
    case SmartAlbum: name = QStringLiteral("iPhotoSmartAlbum"); break;
    case SpecialRoll: name = QStringLiteral("iPhotoSpecialRoll"); break;
    case SpecialMonth: name = QStringLiteral("iPhotoCalendar"); break;
    case Book: name = QStringLiteral("iPhotoBook"); break;
    case Folder:
    case OtherGroup:
    case SubscriptionsGroup:
    case PublishedGroup:
    case RecentGroup:
    case KeepsakesGroup: name = QStringLiteral("iPhotoFolder"); break;
    case Event: name = QStringLiteral("iPhotoEventOutline"); break;
    case Face: name = QStringLiteral("iPhotoFaces"); break;
    case AlbumsGroup: name = QStringLiteral("iPhotoAlbums"); break;
    case EventsGroup: name = QStringLiteral("iPhotoEvent"); break;
    case FacesGroup: name = QStringLiteral("iPhotoFacesFolder"); break;
    case Published:
    case Subscribed: {
        const QString service = m_info.value(QStringLiteral("PublishServiceKey")).toString();
        name = service == QLatin1String("MobileMe")   ? QStringLiteral("iPhotoCloud")
               : service == QLatin1String("Flickr")   ? QStringLiteral("iPhotoFlickr")
               : service == QLatin1String("Facebook") ? QStringLiteral("iPhotoFacebook")
                                                      : QStringLiteral("iPhotoSubscribedAlbum");
        break;
    }
    default: return QImage();
    }
    return vtr::libraryIcon(name);
}

QString VtrIPhotoItem::description() const
{
    const QString id = itemID();
    if (id.isEmpty()) return QStringLiteral("%1 - %2").arg(name(), typeText(m_type));
    return QStringLiteral("%1 - %2 [id=%3]").arg(name(), typeText(m_type), id);
}

// ---------------------------------------------------------------------------
// Selection

int VtrIPhotoItem::selectedForSync()
{
    if (m_selectedForSync == -2) m_selectedForSync = (m_parent && m_parent->selectedForSync() == 1) ? 1 : 0;
    return m_selectedForSync;
}

void VtrIPhotoItem::store(int value)
{
    m_selectedForSync = value;
    if (m_observer) m_observer->photoItemSelectionChanged(this);
}

void VtrIPhotoItem::setSelectedForSync(int value)
{
    if (m_changingState || selectedForSync() == value) return;
    m_changingState = true;
    const int chosen = vtr::chosenSelection(m_selectedForSync, value, m_children, [](const VtrIPhotoItem &) { return true; });
    store(chosen);
    for (const auto &child : m_children)
        child->setSelectedForSync(chosen);
    if (chosen == 1 && vtr::tallySelections(m_children).isMixed()) store(-1);
    if (m_parent) m_parent->childChangedState();
    m_changingState = false;
}

void VtrIPhotoItem::childChangedState()
{
    if (m_changingState) return;
    bool on = false, off = false;
    int result = 1;
    for (const auto &child : m_children) {
        const int s = child->selectedForSync();
        if (s == -1) {
            result = -1;
            break;
        }
        on |= s == 1;
        off |= s == 0;
        if (on && off) {
            result = -1;
            break;
        }
        if (s != 1) result = 0;
    }
    if (result == selectedForSync()) return;
    m_changingState = true;
    store(result);
    if (m_parent) m_parent->childChangedState();
    m_changingState = false;
}
