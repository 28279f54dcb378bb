#pragma once

#include "migration/DataMigrator.h"

#include <memory>

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
// the companion app's folder are left out).
QList<MediaSourceItem> mediaFilesBelow(const VtrFileInfoList &folders, MediaKind kind);

// Where a family finds the media of a kind on the old phone.
using MediaFinder = QList<MediaSourceItem> (*)(MobileDeviceInterface &device, MediaKind kind);
QList<MediaSourceItem> androidMediaItems(MobileDeviceInterface &device, MediaKind kind);
QList<MediaSourceItem> cameraMediaItems(MobileDeviceInterface &device, MediaKind kind);
QList<MediaSourceItem> volumeMediaItems(MobileDeviceInterface &device, MediaKind kind);

template <typename Base, MediaKind kKind, MediaFinder kFind>
class FamilyMediaMigrator final : public Base
{
public:
    using Base::Base;

protected:
    QList<MediaSourceItem> sourceItems() override { return kFind(*this->mobileDevice(), kKind); }
};

using AndroidMusicMigrator = FamilyMediaMigrator<MusicMigrator, MediaKind::Music, androidMediaItems>;
using AndroidPhotosMigrator = FamilyMediaMigrator<PhotosMigrator, MediaKind::Photos, androidMediaItems>;
using AndroidVideoMigrator = FamilyMediaMigrator<VideoMigrator, MediaKind::Videos, androidMediaItems>;
using ApplePhotosMigrator = FamilyMediaMigrator<PhotosMigrator, MediaKind::Photos, cameraMediaItems>;
using AppleVideoMigrator = FamilyMediaMigrator<VideoMigrator, MediaKind::Videos, cameraMediaItems>;
using BlackBerryMusicMigrator = FamilyMediaMigrator<MusicMigrator, MediaKind::Music, volumeMediaItems>;
using BlackBerryPhotosMigrator = FamilyMediaMigrator<PhotosMigrator, MediaKind::Photos, volumeMediaItems>;
using BlackBerryVideoMigrator = FamilyMediaMigrator<VideoMigrator, MediaKind::Videos, volumeMediaItems>;

// The iPhone's music is what the computer's music library syncs to it.
class AppleMusicMigrator final : public MusicMigrator
{
public:
    using MusicMigrator::MusicMigrator;
    // The library file to read; empty: the person's (tests name their own).
    void setLibraryFile(const QString &path) { m_libraryFile = path; }

protected:
    QList<MediaSourceItem> sourceItems() override;

private:
    QString m_libraryFile;
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
