#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QPair>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace platform {
class Descriptor;
}

// What the media-library host needs to find a file it filed before, fast:
// look-ups by path, by file identity and by name and content, never a walk
// over everything it has filed.
namespace vtr {

// How a file looked when last read or written: a file that changed since has
// another stamp (modification time to the nanosecond, size, inode).
struct FileStamp
{
    bool exists = false;
    qint64 size = 0, seconds = 0, nanoseconds = 0;
    quint64 device = 0, inode = 0;
    bool operator==(const FileStamp &) const = default;
};
FileStamp fileStampOf(const QString &path);

// A file this run copied into a folder of the new phone's, as the copy left
// it: that folder, open by the descriptor it was checked by when the copies
// began (shared by the copies of the folder), the file's name in it, and its
// stamp right after the copy. Only that very file, unchanged, reached
// through that descriptor and no link, is the copy: whatever stands at its
// path is not.
struct CopiedFile
{
    std::shared_ptr<const platform::Descriptor> folder;
    QString folderPath;
    QString name;
    FileStamp stamp;
    QString path() const { return folderPath + QLatin1Char('/') + name; }
};

// The files one library has filed, each under the identifier the library
// gives it (a track ID, an image key).
class FiledFiles
{
public:
    // How a file's stamp, and so its identity, is read: tests stand in for
    // files on two disks that share an inode number.
    using StampReader = FileStamp (*)(const QString &path);
    explicit FiledFiles(StampReader stampOf = fileStampOf) : m_stampOf(stampOf) {}

    // `fresh`: filed by the import under way. Such a file is found by path
    // and identity at once but by content only after settle(): two equal
    // songs of one import are both filed. A path already known (a name
    // taken over from a file since removed) is added again for its new file.
    void add(const QString &id, const QString &path, bool fresh);
    // The file `copy` filed as `id` was copied from `source`: while `source`
    // stays as it was (its stamp) and the same file (device and inode) is
    // still filed as `id` under that path, `source` is answered with `id`. A
    // copy is a file of its own, so its identity cannot tell.
    void addSource(const QString &id, const QString &source, const QString &copy);
    // The same with `source`'s stamp as the caller read it (by descriptor).
    void addSource(const QString &id, const QString &source, const FileStamp &stamp, const QString &copy);
    void settle();
    QString idOfPath(const QString &path) const { return m_byPath.value(path); }
    // `source` is itself a filed file (by its path or its identity: device and
    // inode), or the unchanged source of one. Nothing is read.
    QString idOfFiled(const QString &source);
    // The same with `source`'s stamp as the caller read it: nothing is
    // looked at by `source`'s path.
    QString idOfFiled(const QString &source, const FileStamp &stamp);

    // Where a new file stands in `folder`, the folder it would be filed into.
    struct Placement
    {
        // Already filed as this: the same file (device and inode) anywhere,
        // a copy filed from it while it is unchanged, or, in the folder, a
        // file filed there before, of any name, that still holds the same
        // bytes (the new phone's folder makes a copy's name unique, "-<n>",
        // and a phone's own names may end so too).
        QString id;
        // Else a file of its name and bytes that lies in the folder without
        // a record: this one is it. Neither: it is still to be filed.
        QString path;
    };
    Placement placementOf(const QString &source, const QString &folder, const QString &fileName);
    // The same for a source whose stamp and digest the caller reads (by
    // descriptor): `source`'s path only names it.
    Placement placementOf(const QString &source, const FileStamp &stamp, const std::function<QByteArray()> &digest,
                          const QString &folder, const QString &fileName);
    // The digest placementOf() compares files by.
    static QByteArray digestOf(int fd);

private:
    using FileKey = QPair<quint64, quint64>;
    struct Entry
    {
        QString path, id;
    };
    // The files filed into one folder, sorted as far as a look-up needed: by
    // size, then by digest (each file read once, and again only once it
    // changed), with the stamp it had when read.
    struct Hashed
    {
        Entry entry;
        FileStamp stamp;
    };
    struct Group
    {
        QList<Entry> unsized;
        QHash<qint64, QList<Entry>> unhashed;
        QHash<qint64, QHash<QByteArray, QList<Hashed>>> hashed;
    };
    Group &groupOf(const QString &path);
    QString idOfFile(const FileStamp &stamp);
    QString idByContent(const QString &folder, qint64 size, const std::function<QByteArray()> &digest);

    struct Source
    {
        FileStamp stamp, copyStamp;
        QString id, copy;
    };

    StampReader m_stampOf;
    QHash<QString, QString> m_byPath;
    QHash<QString, Source> m_bySource;                // by the source's path
    std::optional<QHash<FileKey, QString>> m_byFile;  // paths by identity, made when first needed
    QHash<QString, Group> m_groups;                   // by folder
    QList<Entry> m_fresh;
};

}  // namespace vtr
