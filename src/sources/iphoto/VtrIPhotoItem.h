#pragma once

#include "fileinfo/VtrBaseFileInfo.h"

#include <QDateTime>
#include <QHash>
#include <QImage>
#include <QList>
#include <QString>
#include <QVariantMap>

#include <memory>

class VtrIPhotoItem;
using VtrIPhotoItemPtr = std::shared_ptr<VtrIPhotoItem>;

// Told after an item's selection has been stored.
class IPhotoSelectionObserver
{
public:
    virtual ~IPhotoSelectionObserver() = default;
    virtual void photoItemSelectionChanged(VtrIPhotoItem *item) = 0;
};

// One node of the photo library tree: a photo, a movie, an album of some
// kind, an event, a face or a grouping folder, with a three-state selection
// (1 on, 0 off, -1 mixed, -2 not set: take the parent's) that runs down to
// children and up to parents.
//
// Children are owned (shared: the model's lists hold them too); the parent
// link and the albums and events of a photo are plain pointers into the same
// tree.
class VtrIPhotoItem : public std::enable_shared_from_this<VtrIPhotoItem>
{
public:
    enum Type {
        NotInited = 0, Photo, Movie, Album, SmartAlbum, SpecialRoll, SpecialMonth, Shelf, SelectedEventAlbum,
        LastImport, Published, Subscribed, Book, Folder, UnknownAlbumType, Event, Face,
        AlbumsGroup, EventsGroup, FacesGroup, OtherGroup, SubscriptionsGroup, PublishedGroup, RecentGroup,
        KeepsakesGroup
    };

    // initWithInfo:
    explicit VtrIPhotoItem(const QVariantMap &info);
    // initFolderWithType:andName:
    static VtrIPhotoItemPtr folder(Type type, const QString &name);
    static VtrIPhotoItemPtr withInfo(const QVariantMap &info) { return std::make_shared<VtrIPhotoItem>(info); }
    // An album or roll holding the photos its "KeyList" names.
    static VtrIPhotoItemPtr withImages(const QVariantMap &info, const QHash<QString, VtrIPhotoItemPtr> &images);
    // A photo, added to the photos of each face its "Faces" name.
    static VtrIPhotoItemPtr withFaces(const QVariantMap &info, const QHash<QString, VtrIPhotoItemPtr> &faces);
    ~VtrIPhotoItem();
    VtrIPhotoItem(const VtrIPhotoItem &) = delete;
    VtrIPhotoItem &operator=(const VtrIPhotoItem &) = delete;

    // Coded form: "_iPhotoInfo", "_iPhotoItemType", "_selectedForSync", "_photos".
    QVariantMap encode() const;
    static VtrIPhotoItemPtr decode(const QVariantMap &coded);

    void setSelectionObserver(IPhotoSelectionObserver *observer) { m_observer = observer; }

    void addChild(const VtrIPhotoItemPtr &child);
    const QList<VtrIPhotoItemPtr> &children() const { return m_children; }
    const QList<VtrIPhotoItemPtr> &photos() const { return m_photos; }
    const QList<VtrIPhotoItem *> &albumsAndEvents() const { return m_albumsAndEvents; }
    VtrIPhotoItem *parent() const { return m_parent; }
    Type type() const { return m_type; }
    static QString typeText(Type type);
    const QVariantMap &info() const { return m_info; }

    QString itemID() const;
    QString name() const;
    QString displayName() const;
    QDateTime creationDate() const;
    QDateTime modificationDate() const;
    VtrFileInfoPtr origFileInfo() const;
    VtrFileInfoPtr editedFileInfo() const;
    VtrFileInfoPtr thumbnailFileInfo() const;
    VtrFileInfoPtr photoFileInfo() const;
    bool isLibrary() const;
    bool isWritable() const;
    bool isMovie() const;
    bool isStillImage() const;
    bool isFolder() const;
    // Newer modification dates first: negative when this one is newer.
    int compareModificationDates(const VtrIPhotoItem &other) const;
    QImage image() const;
    QString description() const;

    int selectedForSync();
    void setSelectedForSync(int value);
    void childChangedState();

private:
    static Type typeForInfo(const QVariantMap &info);
    void store(int value);

    QVariantMap m_info;
    Type m_type = NotInited;
    int m_selectedForSync = -2;
    QList<VtrIPhotoItem *> m_albumsAndEvents;
    QList<VtrIPhotoItemPtr> m_photos;
    VtrIPhotoItem *m_parent = nullptr;
    QList<VtrIPhotoItemPtr> m_children;
    bool m_changingState = false;
    IPhotoSelectionObserver *m_observer = nullptr;
};

// The selection of one image under one parent.
class iPhotoImageState
{
public:
    explicit iPhotoImageState(VtrIPhotoItemPtr image) : m_image(std::move(image)) {}
    const VtrIPhotoItemPtr &image() const { return m_image; }
    void setImage(VtrIPhotoItemPtr image) { m_image = std::move(image); }
    int selectedForSync() const { return m_selectedForSync; }
    void setSelectedForSync(int value) { m_selectedForSync = value; }
    VtrIPhotoItem *parent() const { return m_parent; }
    void setParent(VtrIPhotoItem *parent) { m_parent = parent; }
    bool parentSelectedForSyncing() const { return m_parent && m_parent->selectedForSync() == 1; }
    bool parentIsLibrary() const { return m_parent && m_parent->isLibrary(); }
    bool canSync() const { return parentSelectedForSyncing() || parentIsLibrary(); }
    QVariantMap encode() const;

private:
    VtrIPhotoItemPtr m_image;
    int m_selectedForSync = 0;
    VtrIPhotoItem *m_parent = nullptr;
};
