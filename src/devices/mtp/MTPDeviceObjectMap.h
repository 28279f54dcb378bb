#pragma once

#include "devices/mtp/MtpLibrary.h"
#include "foundation/Log.h"

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringView>
#include <QVariantMap>

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <utility>
#include <vector>

// The MTP device's picture of one storage: a tree of entries reached by
// Windows-style paths below the single drive "E:\", and an index of the same
// entries by MTP object ID (the root under ID 0).
//
// Names the phone gives are data: every name is made a valid Windows file
// name before it becomes a key, a folder's children are kept apart from its
// own fields, and the tree stays a tree whatever the phone lists:
// - an object whose ID is already in the map is left out (the first kept);
// - of two objects whose names clash in one folder (the same name, or two
//   names that clean into one) the first keeps the name and the later one
//   takes the folder's next free name "<name>-N.<extension>", except that a
//   folder always keeps its name over a file (the companion app's folder is
//   found by it), the file taking the free name: two objects of the phone
//   are two entries;
// - an object whose name is empty, or whose ID is 0 or 0xFFFFFFFF, is left out.
// Everything left out or renamed is logged (a rename once for the phone: see
// RenameLog). Every entry in the index can be reached by its path, and the
// path of an entry leads back to it.
//
// Not thread-safe, look-ups included (they remember the last path): the MTP
// device guards it with its lock.
class MTPDeviceObjectMap
{
public:
    // Removed: an entry that left the map (its storage is kept until the map goes).
    enum class Kind : quint8 { Root, Folder, File, Removed };

    struct Entry;

    // The children of a folder by name: a flat open-addressing table of entry
    // pointers (the names live in the entries), cheap to fill and to release.
    class Children
    {
    public:
        Entry *value(QStringView name, Entry *fallback = nullptr) const;
        qsizetype size() const { return qsizetype(m_size); }
        bool isEmpty() const { return m_size == 0; }

        // The children in no particular order.
        class const_iterator
        {
        public:
            using iterator_category = std::forward_iterator_tag;
            using value_type = Entry *;
            using difference_type = std::ptrdiff_t;
            using pointer = Entry *const *;
            using reference = Entry *const &;
            const_iterator() = default;
            reference operator*() const { return *m_at; }
            const_iterator &operator++()
            {
                ++m_at;
                skipFree();
                return *this;
            }
            const_iterator operator++(int)
            {
                const_iterator old = *this;
                ++*this;
                return old;
            }
            bool operator==(const const_iterator &other) const { return m_at == other.m_at; }
            bool operator!=(const const_iterator &other) const { return m_at != other.m_at; }

        private:
            friend class Children;
            const_iterator(Entry *const *at, Entry *const *end) : m_at(at), m_end(end) { skipFree(); }
            void skipFree()
            {
                while (m_at != m_end && !*m_at)
                    ++m_at;
            }
            Entry *const *m_at = nullptr;
            Entry *const *m_end = nullptr;
        };
        const_iterator begin() const;
        const_iterator end() const;
        const_iterator cbegin() const { return begin(); }
        const_iterator cend() const { return end(); }

    private:
        friend class MTPDeviceObjectMap;
        // The slot of the child named `name` (whose hash is `hash`), and
        // whether it holds one; otherwise the free slot where it would go.
        std::pair<Entry **, bool> slotFor(const QString &name, uint32_t hash);
        void added() { ++m_size; }
        void erase(const Entry *entry);
        void grow();
        std::vector<Entry *> m_slots;
        size_t m_size = 0;
    };

    struct Entry
    {
        Kind kind = Kind::File;
        LIBMTP_filetype_t filetype = LIBMTP_FILETYPE_UNKNOWN;
        MtpObjectId objectId; // "folder_id" or "item_id"; 0 for the root
        MtpObjectId parentId; // 0 for the top level
        MtpStorageId storageId;
        uint32_t nameHash = 0; // of `filename`, for the parent's table
        uint64_t size = 0;
        qint64 modificationTime = 0; // seconds since 1970; 0 = unknown
        QString filename;            // the valid Windows name, also the key in the parent
        Entry *parent = nullptr;
        Children children; // folders and the root only

        bool isFile() const { return kind == Kind::File; }
        bool isFolder() const { return kind == Kind::Folder; }
        bool isRoot() const { return kind == Kind::Root; }
        bool holdsChildren() const { return kind == Kind::Root || kind == Kind::Folder; }
    };

    // The drive every path of the map begins with.
    static const QString &drive(); // "E:\"

    // The names a phone's maps gave objects in place of the names they share.
    // A phone's map is built again and again in one run: each such name is
    // logged once while this lives; of those new to it, the first of a build
    // are written and the others counted until lines.finish().
    struct RenameLog
    {
        QSet<QString> told;
        LogRepeats lines{1, [](qsizetype more) {
            return QStringLiteral("%1 more objects of the phone share a name in their folder and are named with a "
                                  "number")
                .arg(more);
        }};
    };

    // `expectedCount`: how many entries the map will likely hold (the size of
    // the last map of the storage), to size the index once.
    explicit MTPDeviceObjectMap(MtpStorageId storageId, qsizetype expectedCount = 0);
    ~MTPDeviceObjectMap();
    MTPDeviceObjectMap(const MTPDeviceObjectMap &) = delete;
    MTPDeviceObjectMap &operator=(const MTPDeviceObjectMap &) = delete;
    // Without one, every rename is logged.
    void setRenameLog(RenameLog *log) { m_renameLog = log; }

    MtpStorageId storageId() const { return m_storageId; }
    Entry *root() const { return m_root; }
    // Entries, the root included.
    qsizetype count() const { return qsizetype(m_index.size()); }

    // "E:\" (any letter case of the drive) gives the root; each further
    // component selects the child of exactly that name. nullptr for any
    // missing step, a path without the drive, or another drive. Separators
    // are "\" or "/"; a run of them inside the path counts as one and one
    // at its end is ignored, but one right after the drive or two at the end
    // name no entry.
    //
    // The steps the last look-up resolved are kept, and a look-up resolves
    // only what it does not share with the last one: listing a tree folder
    // by folder (each folder after its parent, or a file and then its
    // folder) takes one step per object, however deep the tree.
    Entry *entryForPath(const QString &path) const;
    // Child look-ups made by entryForPath so far (to check the work above).
    quint64 pathSteps() const { return m_pathSteps; }
    Entry *entryForId(MtpObjectId objectId) const;
    // "E:\Music\a.mp3"; "E:\" for the root; empty for an ID not in the map.
    QString pathForEntry(const Entry *entry) const;
    QString pathForId(MtpObjectId objectId) const;

    // Adds an object the phone listed in `parent` (an entry of this map that
    // holds children). `modificationTime` replaces the record's time (the
    // caller may have fetched it). nullptr when the object was left out.
    Entry *addObject(Entry *parent, const LIBMTP_file_t &object, qint64 modificationTime);
    // Adds an entry for an object we made ourselves (same rules).
    Entry *addEntry(Entry *parent, Kind kind, MtpObjectId objectId, const QString &phoneName,
                    LIBMTP_filetype_t filetype, uint64_t size, qint64 modificationTime);
    // Removes the entry with everything below it (not the root).
    void remove(Entry *entry);

    // The entry's own fields as the command replies use them (no children):
    // root {"parent_id", "storage_id"}; folder {"folder_id", "parent_id",
    // "storage_id", "filename", "type" "dir"}; file {"item_id", "parent_id",
    // "storage_id", "filename", "filetype", "type" "file", "mod", "size",
    // "readonly", "hidden", "system"}.
    static QVariantMap fields(const Entry &entry);
    // ST2 text of a modification time, in GMT ("19700101000000" for 0).
    static QString modText(qint64 modificationTime);
    // The name a phone's name becomes in the map.
    static QString cleanName(const QString &phoneName);
    static QString cleanName(const char *phoneName);
    static uint32_t nameHash(QStringView name);
    // The clean name the phone gave the entry's object: its filename, unless
    // a clash gave it a free name.
    QString cleanPhoneName(const Entry &entry) const;

private:
    // A new entry and its number (for the index).
    Entry *newEntry(uint32_t *number);
    // Gives back the entry newEntry() made last.
    void dropNewestEntry();
    // `name` is clean already.
    Entry *insertEntry(Entry *parent, Kind kind, MtpObjectId objectId, QString name, LIBMTP_filetype_t filetype,
                       uint64_t size, qint64 modificationTime);
    // The next name after `name` that no child of `parent` holds.
    QString freeName(const Entry *parent, const QString &name);
    // Puts `entry` (whose clean name is held by another child) under a free name.
    void placeUnderFreeName(Entry *parent, Entry *entry, const QString &name);
    // Whether the free name `renamed` took is to be logged now.
    bool tellsRename(const Entry &renamed);

    const MtpStorageId m_storageId;
    Entry *m_root = nullptr;
    // Object ID -> entry number: one flat open-addressing table of 8-byte
    // slots (linear probing, at most half full), so that neither building
    // nor releasing a map of tens of thousands of objects allocates or frees
    // per object, and the table of such a map stays in the processor's cache.
    class IdIndex
    {
    public:
        size_t size() const { return m_size; }
        void reserve(size_t count);
        // The entry number of the ID; 0 for none (numbers start at 1).
        uint32_t find(uint32_t id) const;
        // False (nothing changed) when the ID is there already.
        bool insert(uint32_t id, uint32_t number);
        void erase(uint32_t id);

    private:
        struct Slot
        {
            uint32_t id = 0;
            uint32_t number = 0; // 0: free
        };
        size_t home(uint32_t id) const;
        void rehash(size_t capacity);
        std::vector<Slot> m_slots;
        size_t m_size = 0;
        unsigned m_bits = 0;
    };

    Entry *entryByNumber(uint32_t number) const;

    // The last path looked up and the entries of its leading components that
    // were found: steps[0] is the root, steps[i] the entry of component i,
    // which ends at ends[i] in `path` (ends[0] is the end of the drive).
    // An entry that left the map since then is not trusted (see entryForPath).
    struct PathCursor
    {
        QString path;
        std::vector<Entry *> steps;
        std::vector<qsizetype> ends;
    };
    mutable PathCursor m_cursor;
    mutable quint64 m_pathSteps = 0;

    // Entries live in blocks (stable addresses, few allocations); the index
    // holds those still in the map.
    static constexpr size_t kBlockSize = 1024;
    std::vector<std::unique_ptr<Entry[]>> m_blocks;
    size_t m_usedInLastBlock = 0;
    IdIndex m_index;
    // The clean names of the entries that hold a free name instead, by
    // object ID, and the next number to try per folder and name: a folder of
    // ten thousand "cover.jpg" names them in linear time.
    QHash<uint32_t, QString> m_phoneNames;
    QHash<std::pair<const Entry *, QString>, uint32_t> m_nextNumber;
    RenameLog *m_renameLog = nullptr;
};
