// The record of the copies this program made into the new phone's folders:
// which files there are ours, as we wrote them, so that a later run clears
// them and nothing else.

#pragma once

#include "fileinfo/VtrBaseFileInfo.h"
#include "migration/ContentReads.h"
#include "platform/Descriptor.h"
#include "sources/host/FiledFiles.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <mutex>
#include <sys/stat.h>

namespace vtr::migration {

// The key of a folder's record: its path, cleaned.
QString recordKeyFor(const VtrFileInfoPtr &folder);

// What identifies a file this program wrote: its name in the folder, its
// size and status then, and its contents. Only a file whose contents are
// still the recorded ones is ours: a person may edit a copy in place and put
// its time back, and the folder may have been moved away and back.
struct CopyIdentity
{
    QString name;
    vtr::FileStamp stamp;  // size -1: not recorded
    QByteArray sha256;     // empty: not recorded (never cleared)
    bool nameOnly = false; // an older run recorded the name and nothing else
    // A playlist of ours: the phone's playlist it holds and that phone
    // (empty: not recorded, as by versions before).
    QString playlist;
    QString phone;
};

vtr::FileStamp stampOf(const struct stat &st);

// Where else on this computer a copy is: a file of the same contents that a
// library filed it as, or that it was read from, as both were when recorded.
// Its lines have no "name": a version that does not know them skips them.
struct OtherCopy
{
    QString name;                   // the copy's, in the folder
    quint64 device = 0, inode = 0;  // the copy's
    QString path;                   // the other file
    vtr::FileStamp stamp;           // the other file's
};

// The records of our copies, one file per folder copied into, in the data
// folder: a first line naming the folder, then one line per file, appended
// before each copy takes its name (with the contents it is to have) and
// again once it is in place, then one line naming the other copy of each
// file this computer holds, so that a run stopped at any moment leaves
// every finished copy recorded and no file
// grows costlier to record than the one before. A later line for a name
// stands for the file under that name now. Only clearing a folder rewrites
// its record, once.
class RecordFiles
{
public:
    static RecordFiles &shared();

    std::mutex mutex;  // held while a record file is read, rewritten or appended to

    // The folder of the records, by descriptor: a folder of ours in the
    // data folder, never reached through a link; the records in it are
    // opened, written and removed through it alone.
    static platform::Descriptor openFolder(bool make, QString *why = nullptr);
    static QByteArray fileFor(const QString &key);
    static QByteArray headerFor(const QString &key);

    // Every identity recorded for the folder `key`, the latest per name, in
    // the order the names were first recorded: the user defaults' record of
    // earlier versions first, then the file's lines; and into `others` the
    // latest other copy recorded per name.
    QList<CopyIdentity> read(const QString &key, QHash<QString, OtherCopy> *others = nullptr);

    // The record of `key` holds `ids` only (none: it goes), and of other
    // copies `others`; the user defaults' record of it goes too. False,
    // logged, when it could not be written: the old record stays.
    bool replace(const QString &key, const QList<CopyIdentity> &ids, const QList<OtherCopy> &others = {});
};

// Adds lines to the record of one folder.
class RecordAppender
{
public:
    explicit RecordAppender(const QString &key) : m_key(key) {}
    ~RecordAppender();
    RecordAppender(const RecordAppender &) = delete;
    RecordAppender &operator=(const RecordAppender &) = delete;

    void append(const CopyIdentity &id);
    void appendLine(const QByteArray &line);

    // On the disk before the run is done (one wait per run, not per file).
    void flush();

private:
    bool open();
    void writeAll(const QByteArray &bytes);

    QString m_key;
    int m_fd = -1;
    bool m_failed = false;
};

enum class Check { Status, Contents };

// The file `id` names in `folder` as it is now, when it is still the file
// we wrote: a plain file of the recorded size and contents. `seen` is its
// status as checked. Checking the contents reads the whole file; checking
// the status alone (the file as we left it: size, time, device and inode)
// is only good for an estimate, since an edit can put the time back.
bool stillOurs(const QString &folder, const CopyIdentity &id, struct stat *seen, Check check = Check::Contents);

// Records the copies of one run into one folder as they are made. A copy is
// recorded under the name it is to take, with the contents it is to have,
// before it takes that name: a run that ends at any moment after (stopped,
// killed, the computer going off once the record is on the disk) leaves it
// known as ours, and the next run clears it rather than taking it for the
// person's and copying it again beside it. Once in place it is recorded as
// it stands. A copy whose contents were not known beforehand is read back.
class CopyRecord
{
public:
    explicit CopyRecord(const VtrFileInfoPtr &folder) : m_folder(folder->path()), m_appender(recordKeyFor(folder)) {}

    ~CopyRecord() { m_appender.flush(); }
    CopyRecord(const CopyRecord &) = delete;
    CopyRecord &operator=(const CopyRecord &) = delete;

    void add(const QStringList &names);

    // Before a copy onto the free name `name` (empty: there is none); a
    // playlist's with the phone's playlist it holds and that phone.
    void expect(const QString &name, const Contents &contents, const QString &playlist = {},
                const QString &phone = {});

    // After it: the copy stands at `name`, or failed (empty).
    void copied(const QString &name);

    void finish() { m_appender.flush(); }

private:
    QString m_folder;
    RecordAppender m_appender;
    QString m_expected;
    Contents m_contents;
    QString m_playlist;
    QString m_phone;
};

// The files an earlier run copied into a folder of the new phone while its
// records could not be kept (a data folder of another user's or a link,
// a record file that could not be written): such a file is a plain file of
// this user's at a copy's name, or at that name made unique ("-<n>"), that
// holds exactly the bytes the copy is to have. It is taken for that copy
// rather than copied again beside it; each file is taken once in a run, and
// a file of other bytes (the person's, at a copy's name) stays as it is.
// Only a file of the copy's size is read, and each one once.
class CopiesAlreadyThere
{
public:
    // Lists the folder `folder` (a folder of ours: never through a link).
    // What its record names is the record's to clear or keep, not taken.
    explicit CopiesAlreadyThere(const VtrFileInfoPtr &folder);

    // The name of such a file for a copy to be named `name` with `contents`,
    // the file at that very name first. Empty: none.
    QString take(const QString &name, const Contents &contents);

private:
    struct Group
    {
        QList<QString> unsized;                     // names not looked at yet
        QHash<qint64, QList<QString>> unhashed;     // by size
        QHash<QByteArray, QList<QString>> hashed;   // by size and contents
    };
    static QString stemOf(const QString &name);
    // The files of the group `stem` that hold `contents` (null: none).
    QList<QString> *sameIn(const QString &stem, const Contents &contents);

    platform::Descriptor m_dir;
    QSet<QString> m_recorded;
    QHash<QString, Group> m_groups;  // by the name without its "-<n>", case-folded
};

}  // namespace vtr::migration
