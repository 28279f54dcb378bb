#pragma once

#include "migration/DataMigrator.h"
#include "platform/VtrException.h"

#include <memory>
#include <mutex>
#include <optional>

// The media migrators of each old-phone family. Where each finds its media:
// - Android: the phone's storages over MTP through its platform device (each
//   storage in turn, internal first), the playlists the phone keeps;
// - iPhone: photos and videos from its camera connection, music from the
//   computer's music library (the iPhone's music is synced from there);
// - BlackBerry: the files of its mounted volumes.
// A file counts as music, photo or video by its extension.

enum class MediaKind { Music, Photos, Videos };

// True when a file of this name is of that kind.
bool isMediaFileOfKind(const QString &fileName, MediaKind kind);

// The media files below the folders, in listing order (hidden folders and
// the companion app's folder are left out). A folder below them that cannot
// be listed is tried again as `reads` says.
QList<MediaSourceItem> mediaFilesBelow(const VtrFileInfoList &folders, MediaKind kind, const PhoneReads &reads = {});

// Where a family finds the media of a kind on the old phone. `note` (may be
// null) is given what the kind's line and the report must say of the phone
// beyond the files found, such as playlists that could not be read. Throws
// VtrException when the phone does not list its storage: it has not shown
// that it holds nothing.
using MediaFinder = QList<MediaSourceItem> (*)(MobileDeviceInterface &device, MediaKind kind, const PhoneReads &reads,
                                               QString *note);
QList<MediaSourceItem> androidMediaItems(MobileDeviceInterface &device, MediaKind kind, const PhoneReads &reads,
                                         QString *note = nullptr);
QList<MediaSourceItem> cameraMediaItems(MobileDeviceInterface &device, MediaKind kind, const PhoneReads &reads,
                                        QString *note = nullptr);
QList<MediaSourceItem> volumeMediaItems(MobileDeviceInterface &device, MediaKind kind, const PhoneReads &reads,
                                        QString *note = nullptr);

// A migrator whose summary may carry a "note": what its counts do not tell.
template <typename Base>
class NotedMediaMigrator : public Base
{
public:
    using Base::Base;
    QVariantMap manifestInfo() const override
    {
        QVariantMap info = Base::manifestInfo();
        const std::lock_guard lock(m_noteMutex);
        if (!info.isEmpty() && !m_note.isEmpty()) info.insert(QStringLiteral("note"), m_note);
        return info;
    }

protected:
    void setNote(const QString &note)
    {
        const std::lock_guard lock(m_noteMutex);
        m_note = note;
    }

private:
    mutable std::mutex m_noteMutex;
    QString m_note;
};

template <typename Base, MediaKind kKind, MediaFinder kFind>
class FamilyMediaMigrator final : public NotedMediaMigrator<Base>
{
public:
    using NotedMediaMigrator<Base>::NotedMediaMigrator;

protected:
    QList<MediaSourceItem> sourceItems() override
    {
        this->setNote(QString());
        QString note;
        try {
            QList<MediaSourceItem> items = kFind(*this->mobileDevice(), kKind, this->phoneReads(), &note);
            this->setNote(note);
            return items;
        } catch (const VtrException &e) {
            // The report says why the kind holds nothing.
            this->setNote(e.reason());
            throw;
        }
    }
};

using AndroidMusicMigrator = FamilyMediaMigrator<MusicMigrator, MediaKind::Music, androidMediaItems>;
using AndroidPhotosMigrator = FamilyMediaMigrator<PhotosMigrator, MediaKind::Photos, androidMediaItems>;
using AndroidVideoMigrator = FamilyMediaMigrator<VideoMigrator, MediaKind::Videos, androidMediaItems>;
using ApplePhotosMigrator = FamilyMediaMigrator<PhotosMigrator, MediaKind::Photos, cameraMediaItems>;
using AppleVideoMigrator = FamilyMediaMigrator<VideoMigrator, MediaKind::Videos, cameraMediaItems>;
using BlackBerryMusicMigrator = FamilyMediaMigrator<MusicMigrator, MediaKind::Music, volumeMediaItems>;
using BlackBerryPhotosMigrator = FamilyMediaMigrator<PhotosMigrator, MediaKind::Photos, volumeMediaItems>;
using BlackBerryVideoMigrator = FamilyMediaMigrator<VideoMigrator, MediaKind::Videos, volumeMediaItems>;

// The iPhone's music is what the computer's music library synced to it: the
// library tracks behind the songs on the phone (read from the phone's media
// folders where this computer has them mounted) and those of a sync
// selection. Where neither can be had, no track of the library is offered,
// and the log and the manifest's "note" say why.
class AppleMusicMigrator final : public NotedMediaMigrator<MusicMigrator>
{
public:
    using NotedMediaMigrator<MusicMigrator>::NotedMediaMigrator;
    // The library file to read; empty: the person's (tests name their own).
    void setLibraryFile(const QString &path) { m_libraryFile = path; }
    // A sync-state dictionary of the library (see iTunesInfo::syncState()).
    void setSyncSelection(const QVariantMap &state) { m_syncSelection = state; }

protected:
    // Throws VtrException "iTunes XML file not found" when there is no
    // readable music library.
    QList<MediaSourceItem> sourceItems() override;

private:
    QString m_libraryFile;
    std::optional<QVariantMap> m_syncSelection;
};

// The three migrators of a family (1 Android, 2 Apple, 3 BlackBerry); all
// null for another.
struct FamilyMediaMigrators
{
    std::shared_ptr<MusicMigrator> music;
    std::shared_ptr<PhotosMigrator> photos;
    std::shared_ptr<VideoMigrator> videos;
};
FamilyMediaMigrators createMediaMigratorsForFamily(int family, const std::shared_ptr<MobileDeviceInterface> &oldDevice);
