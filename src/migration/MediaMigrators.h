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

class AndroidMusicMigrator final : public MusicMigrator
{
public:
    using MusicMigrator::MusicMigrator;

protected:
    QList<MediaSourceItem> sourceItems() override;
};

class AndroidPhotosMigrator final : public PhotosMigrator
{
public:
    using PhotosMigrator::PhotosMigrator;

protected:
    QList<MediaSourceItem> sourceItems() override;
};

class AndroidVideoMigrator final : public VideoMigrator
{
public:
    using VideoMigrator::VideoMigrator;

protected:
    QList<MediaSourceItem> sourceItems() override;
};

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

class ApplePhotosMigrator final : public PhotosMigrator
{
public:
    using PhotosMigrator::PhotosMigrator;

protected:
    QList<MediaSourceItem> sourceItems() override;
};

class AppleVideoMigrator final : public VideoMigrator
{
public:
    using VideoMigrator::VideoMigrator;

protected:
    QList<MediaSourceItem> sourceItems() override;
};

class BlackBerryMusicMigrator final : public MusicMigrator
{
public:
    using MusicMigrator::MusicMigrator;

protected:
    QList<MediaSourceItem> sourceItems() override;
};

class BlackBerryPhotosMigrator final : public PhotosMigrator
{
public:
    using PhotosMigrator::PhotosMigrator;

protected:
    QList<MediaSourceItem> sourceItems() override;
};

class BlackBerryVideoMigrator final : public VideoMigrator
{
public:
    using VideoMigrator::VideoMigrator;

protected:
    QList<MediaSourceItem> sourceItems() override;
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
