#pragma once

#include "fileinfo/VtrBaseFileInfo.h"
#include "migration/PhoneReads.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

class MigrationStatusProtocol;
class MobileDeviceInterface;
class iAppImporter;

// The base of everything that carries one kind of the person's data from the
// old phone: it keeps the old phone (a proxy that stays valid when the phone
// goes) and owns the private folder its backup lands in, removed with it.
class DataMigrator
{
public:
    // initWithMobileDevice:
    explicit DataMigrator(std::shared_ptr<MobileDeviceInterface> oldDevice);
    virtual ~DataMigrator();
    DataMigrator(const DataMigrator &) = delete;
    DataMigrator &operator=(const DataMigrator &) = delete;

    std::shared_ptr<MobileDeviceInterface> mobileDevice() const { return m_device; }

    // Copies the kind's data from the old phone into a fresh private folder
    // (an earlier backup is dropped first), reporting through `status`.
    // Throws VtrException when the phone cannot be read; whatever was backed
    // up before stays listed.
    virtual void backupOldDeviceWithStatus(MigrationStatusProtocol *status) = 0;

    // Asked between files and between chunks on the working thread: true
    // ends the work with VtrException "StopSyncException" (a running copy
    // removes its temporary file first). Empty: never.
    void setCancelCheck(std::function<bool()> check) { m_cancel = std::move(check); }

protected:
    // A new empty private folder for this backup (the previous one removed).
    QString freshBackupFolder();
    void removeBackupFolder();
    QString backupFolder() const { return m_backupFolder; }
    void throwIfCancelled() const;
    bool isCancelled() const { return m_cancel && m_cancel(); }
    // The old phone was held and has gone.
    bool phoneIsGone() const;
    // Second tries of reads from the old phone, stopped by this migrator's
    // cancel check and by the phone going.
    PhoneReads phoneReads() const;
    // Reads `what` ("\"a.mp3\"") from the phone as phoneReads() does; false,
    // logged, when it could not be read even on a second try.
    bool readTwice(const QString &what, const std::function<bool()> &read) const;

private:
    std::shared_ptr<MobileDeviceInterface> m_device;
    QString m_backupFolder;
    std::function<bool()> m_cancel;
};

// One file of the old phone's media, found by the family's migrator and
// fetched into the backup folder.
struct MediaSourceItem
{
    QString name;                 // the file's name on the phone
    qint64 size = 0;              // expected bytes (0 when unknown)
    QStringList playlistNames;    // music: the playlists it belongs to
    QString title;                // music: shown in playlists; empty: the name
    int durationSeconds = -1;
    // Writes the file into `folder` (a local folder) under a unique name and
    // answers the new file; throws VtrException when the phone fails.
    // `progress` (may be null) is told how far the file has come, and may
    // ask for the read to stop.
    std::function<VtrFileInfoPtr(const VtrFileInfoPtr &folder, FileInfoCopyProgress *progress)> fetch;
    // Set for an entry the listing found but leaves out (no fetch): why, for
    // the log. A hidden file is left out on purpose; anything else could not
    // be read and counts as not moved.
    QString leftOut;
    bool hidden = false;
    // Set with `leftOut` for an entry this computer has no file of to send
    // (an iPhone's song missing from the music library): not moved, though
    // nothing failed to be read; the migrator's note says why.
    bool noFileHere = false;
    // The file of this computer the phone's file is read from (an iPhone's
    // song comes from the music library's own file); empty for the phone's.
    QString localFile;
};

// One backed-up file.
struct MediaItem
{
    QString path;                 // in the backup folder; empty when only counted
    QString name;                 // its name there (unique ignoring case)
    qint64 size = 0;
    QStringList playlistNames;
    QString title;
    int durationSeconds = -1;
    QString localFile;            // as the source item's
};

// What music, photo and video migrators share: the backup of the family's
// items, the first-fit choice within a byte budget, and the copy into the
// new phone's folder for the kind with the hand-off to an importer.
class MediaMigrator : public DataMigrator
{
public:
    using DataMigrator::DataMigrator;

    // The collections the kinds are filed into the desktop's library as
    // ("%@": the program's folder name), and a collection's name from its
    // format: the start looks at their folders before anything is filed.
    static constexpr char kMusicCollectionFormat[] = "%@ Imported Music";
    static constexpr char kPhotosCollectionFormat[] = "%@ Imported Photos";
    static constexpr char kVideosCollectionFormat[] = "%@ Imported Videos";
    static QString collectionNameOf(const QString &format);

    void backupOldDeviceWithStatus(MigrationStatusProtocol *status) override;
    // Lists the kind on the old phone as the backup would, fetching nothing:
    // a kind that is not moved is counted without its files being written
    // anywhere. Its items then have no path, and none of them is to copy.
    void countOldDeviceWithStatus(MigrationStatusProtocol *status);

    // copyToDevice:numBytesToFill:withStatus:iAppImporter: copies the items
    // that fit `numBytesToFill` into the target's folder for the kind under
    // unique names (the target's file system ignores letter case), each
    // through a temporary file, and then files them with `importer` (may be
    // null). A file already copied stays when a later one fails. A file
    // that a run which could not record its copies left at a copy's name (or
    // that name made unique), a plain file of this user's with exactly the
    // bytes the copy is to have, is taken for that copy and recorded, not
    // copied again beside it (CopiesAlreadyThere). Throws VtrException when
    // a file cannot be written.
    void copyToDevice(const std::shared_ptr<MobileDeviceInterface> &target, qint64 numBytesToFill,
                      MigrationStatusProtocol *status, iAppImporter *importer);

    // First fit in list order; none for a budget of zero or less.
    QList<MediaItem> itemsThatFitInBytes(qint64 numBytes) const;
    qint64 sizeOfItemsToCopy() const;
    int numItemsToCopy() const;
    // Any thread: a backup in progress publishes its items when it ends.
    QList<MediaItem> items() const;
    // What the last copy wrote (after copyToDevice).
    const VtrFileInfoList &copiedFiles() const { return m_copied; }
    // Entries of the last backup that could not be read even on a second
    // try, and hidden files it left out on purpose.
    int numItemsNotMoved() const;
    int numHiddenItemsLeftOut() const;
    // Of the entries not moved, those that came from the phone but could not
    // be written into the backup folder on this computer, and a note saying
    // how many and why (the system's words for the first); empty when none.
    int numItemsNotWritten() const;
    QString notWrittenNote() const;
    // Of the entries not moved, those this computer has no file of.
    int numItemsWithoutAFileHere() const;
    // What the last copy met at its files' (and playlists') names in the new
    // phone's folder and left there, being no plain file of this user's (a
    // link, a folder, another user's file): the copy took the next free name
    // beside it. Each with what it is, in the person's words, and that name.
    struct InTheWay
    {
        QString path;
        QString what;   // "a link"
        QString taken;  // the copy's name
    };
    QList<InTheWay> itemsInTheWay() const;

    // For the migration report and the summaries; empty before a backup.
    virtual QVariantMap manifestInfo() const = 0;

    // The target's folder for the kind; the files of it that an earlier run
    // copied (recorded per folder in the data folder; the user defaults held
    // the records of earlier versions, which are read too) are removed while
    // their contents are still the very ones it wrote, whatever their time
    // says. Anything else under a recorded name is the person's and stays, as
    // does every file recorded without its contents (an older run's names, an
    // older version's run that ended before it read a copy back). A copy is
    // recorded with the contents it is to have before it takes its name, so
    // that one finished just before the run ended is still known. A file
    // that cannot be removed stays recorded. Reads every file it removes.
    // With SoleCopies::Keep, a copy that is this computer's only one (no
    // other copy recorded beside it, or that one gone or changed) stays too,
    // as it is, and stays recorded; with SoleCopies::RemoveThoseCounted (the
    // person let go of those they were told of), so does one that
    // earlierCopiesIn() did not count. A copy that one of `madeAgain` (the
    // items this run copies, from the phone it moves) brings again, by name,
    // size and contents, is no sole copy: the same phone gave it (a run of it
    // killed, or its walk before its one-step transfer). With a `room` of
    // zero or more (the bytes this run's copies into the folder take when
    // they are only a part of the kind), no more go than make that room:
    // first those whose names the copies take, then those this computer
    // holds elsewhere too, then the others, each group in the order it was
    // recorded; the rest stay as they are, and stay recorded. Answers how
    // many copies of ours stayed.
    enum class SoleCopies { Remove, Keep, RemoveThoseCounted };
    static int clearEarlierCopies(const VtrFileInfoPtr &folder, SoleCopies sole = SoleCopies::Remove,
                                  const QList<MediaItem> &madeAgain = {}, qint64 room = -1);
    // Tests: `hook` runs with an earlier copy's path once it is found to be
    // ours and right before it is removed (empty: none).
    static void setBeforeEarlierCopyRemovedForTesting(std::function<void(const QString &path)> hook);
    // Tests stand in for another user who moves a folder of the new phone's
    // aside once its copies are in it and puts something in its place:
    // `hook` (empty: none) runs with the folder's path right after a kind's
    // copies into it are made, before anything is filed.
    static void setAfterCopyForTesting(std::function<void(const QString &folder)> hook);
    // What clearEarlierCopies() would remove, as far as the files' status
    // tells (their contents are not read: an estimate, quick enough for the
    // window's thread): all of it, and what of it is this computer's only copy.
    struct EarlierCopies
    {
        int files = 0;
        qint64 bytes = 0;
        int soleFiles = 0;
        qint64 soleBytes = 0;
        // The bytes of the items of `madeAgain` (those only counted too)
        // that an earlier copy here brings again, by name and size, and that
        // this computer holds elsewhere as well: a library that filed such a
        // copy has them already.
        qint64 heldElsewhereBytes = 0;
    };
    static EarlierCopies earlierCopiesIn(const VtrFileInfoPtr &folder, const QList<MediaItem> &madeAgain = {});
    static qint64 bytesOfEarlierCopies(const VtrFileInfoPtr &folder) { return earlierCopiesIn(folder).bytes; }
    // Adds the named files of `folder`, as they are now, to the record of
    // what this program put there.
    static void recordCopies(const VtrFileInfoPtr &folder, const QStringList &names);
    // Adds to that record where else on this computer each named copy is
    // (name -> a file of the same contents outside the new phone's folder),
    // as both are now: a library's file it was filed as, or the file it was
    // read from.
    static void recordOtherCopies(const VtrFileInfoPtr &folder, const QHash<QString, QString> &others);
    // Removes the unfinished temporary files that interrupted copies left in
    // the new phone's storage folder and its folders (never through a link),
    // and gives an earlier copy that a clearing had set aside when the
    // program ended its name again (or the next free one), for the next
    // clearing to decide on.
    static void removeUnfinishedCopies(const VtrFileInfoPtr &storage);

protected:
    // The family's items on the old phone, in the order they are to be copied.
    virtual QList<MediaSourceItem> sourceItems() = 0;
    virtual QString phase() const = 0;
    // "music", "photos" or "videos" as the status texts say it.
    virtual QString kindWord() const = 0;
    virtual VtrFileInfoPtr targetFolder(MobileDeviceInterface &target) const = 0;
    // After the files are in place (music writes its playlists here).
    virtual void didCopy(MobileDeviceInterface &target, const QList<MediaItem> &items, const VtrFileInfoList &files);
    // Hands the copied files to the importer (photos and videos: one call).
    virtual void importCopies(iAppImporter &importer, const QList<MediaItem> &items, const VtrFileInfoList &files);
    virtual QString collectionFormat() const = 0;  // "%@ Imported Photos"
    QString collectionName() const;
    // The serial number of the phone the last backup read (empty: none known).
    QString phoneOfBackup() const;

    QVariantMap manifestWith(const char *countKey, const char *one, const char *many) const;
    // A copy meant for `name` in `folder` took `taken`: what stands at
    // `name` is noted when it is in the way (itemsInTheWay()).
    void noteWhatStoodInTheWay(const QString &folder, const QString &name, const QString &taken);

private:
    void readOldDevice(MigrationStatusProtocol *status, bool fetch);

    mutable std::mutex m_itemsMutex;
    QDateTime m_backupTime;
    QList<MediaItem> m_items;
    bool m_countedOnly = false;
    int m_notMoved = 0;
    int m_hidden = 0;
    int m_notWritten = 0;
    int m_noFileHere = 0;
    QString m_notWrittenWhy;
    QString m_notWrittenWhere;
    QString m_phone;
    VtrFileInfoList m_copied;
    QList<InTheWay> m_inTheWay;
};

class MusicMigrator : public MediaMigrator
{
public:
    using MediaMigrator::MediaMigrator;
    QVariantMap manifestInfo() const override;
    // The playlists of the backed-up tracks, by name in first-met order.
    QStringList playlistNames() const;

protected:
    QString phase() const override;
    QString kindWord() const override { return QStringLiteral("music files"); }
    VtrFileInfoPtr targetFolder(MobileDeviceInterface &target) const override;
    void didCopy(MobileDeviceInterface &target, const QList<MediaItem> &items, const VtrFileInfoList &files) override;
    void importCopies(iAppImporter &importer, const QList<MediaItem> &items, const VtrFileInfoList &files) override;
    QString collectionFormat() const override { return QLatin1String(kMusicCollectionFormat); }
};

class PhotosMigrator : public MediaMigrator
{
public:
    using MediaMigrator::MediaMigrator;
    QVariantMap manifestInfo() const override;

protected:
    QString phase() const override;
    QString kindWord() const override { return QStringLiteral("photos"); }
    VtrFileInfoPtr targetFolder(MobileDeviceInterface &target) const override;
    QString collectionFormat() const override { return QLatin1String(kPhotosCollectionFormat); }
};

class VideoMigrator : public MediaMigrator
{
public:
    using MediaMigrator::MediaMigrator;
    QVariantMap manifestInfo() const override;

protected:
    QString phase() const override;
    QString kindWord() const override { return QStringLiteral("videos"); }
    VtrFileInfoPtr targetFolder(MobileDeviceInterface &target) const override;
    QString collectionFormat() const override { return QLatin1String(kVideosCollectionFormat); }
};
