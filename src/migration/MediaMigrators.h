#pragma once

#include "migration/DataMigrator.h"

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

// Where a family finds the media of a kind on the old phone.
using MediaFinder = QList<MediaSourceItem> (*)(MobileDeviceInterface &device, MediaKind kind, const PhoneReads &reads);
QList<MediaSourceItem> androidMediaItems(MobileDeviceInterface &device, MediaKind kind, const PhoneReads &reads);
QList<MediaSourceItem> cameraMediaItems(MobileDeviceInterface &device, MediaKind kind, const PhoneReads &reads);
QList<MediaSourceItem> volumeMediaItems(MobileDeviceInterface &device, MediaKind kind, const PhoneReads &reads);

template <typename Base, MediaKind kKind, MediaFinder kFind>
class FamilyMediaMigrator final : public Base
{
public:
    using Base::Base;

protected:
    QList<MediaSourceItem> sourceItems() override { return kFind(*this->mobileDevice(), kKind, this->phoneReads()); }
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
class AppleMusicMigrator final : public MusicMigrator
{
public:
    using MusicMigrator::MusicMigrator;
    // The library file to read; empty: the person's (tests name their own).
    void setLibraryFile(const QString &path) { m_libraryFile = path; }
    // A sync-state dictionary of the library (see iTunesInfo::syncState()).
    void setSyncSelection(const QVariantMap &state) { m_syncSelection = state; }

    // With "note" when the phone's songs could not be told, or some of them
    // were not found in the library.
    QVariantMap manifestInfo() const override;

protected:
    // Throws VtrException "iTunes XML file not found" when there is no
    // readable music library.
    QList<MediaSourceItem> sourceItems() override;

private:
    void setNote(const QString &note);

    QString m_libraryFile;
    std::optional<QVariantMap> m_syncSelection;
    mutable std::mutex m_noteMutex;
    QString m_note;
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
