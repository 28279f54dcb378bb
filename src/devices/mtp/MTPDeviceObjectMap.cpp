#include "devices/mtp/MTPDeviceObjectMap.h"

#include "foundation/Log.h"
#include "foundation/VtrDate.h"
#include "foundation/VtrString.h"

#include <QDateTime>
#include <QStringList>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string_view>
#include <vector>

namespace {

const QString kTypeKey = QStringLiteral("type");
const QString kFilenameKey = QStringLiteral("filename");
const QString kParentIdKey = QStringLiteral("parent_id");
const QString kStorageIdKey = QStringLiteral("storage_id");
const QString kFalse = QStringLiteral("FALSE");

// True when every byte is printable ASCII that Windows accepts in a name and
// the name does not end in "." or " ": such a name is its own clean form, and
// most names a phone lists are like that.
bool isPlainWindowsName(const char *name, size_t length)
{
    if (length == 0) return false;
    for (size_t i = 0; i < length; ++i) {
        const unsigned char c = static_cast<unsigned char>(name[i]);
        if (c < 0x20 || c > 0x7E) return false;
        switch (c) {
        case '\\':
        case '/':
        case ':':
        case '*':
        case '?':
        case '"':
        case '<':
        case '>':
        case '|':
            return false;
        default:
            break;
        }
    }
    const char last = name[length - 1];
    return last != '.' && last != ' ';
}

bool isSeparator(QChar c)
{
    return c == u'\\' || c == u'/';
}

// How many leading characters the two have in common, compared block-wise
// (a deep tree's paths are long and mostly shared).
qsizetype commonPrefixLength(QStringView a, QStringView b)
{
    const qsizetype n = std::min(a.size(), b.size());
    constexpr qsizetype kBlock = 64;
    qsizetype at = 0;
    while (at + kBlock <= n && std::memcmp(a.data() + at, b.data() + at, kBlock * sizeof(QChar)) == 0)
        at += kBlock;
    while (at < n && a[at] == b[at])
        ++at;
    return at;
}

QString describe(const LIBMTP_file_t &object)
{
    return QStringLiteral("%1 \"%2\"").arg(object.item_id).arg(QString::fromUtf8(object.filename));
}

} // namespace

const QString &MTPDeviceObjectMap::drive()
{
    static const QString drive = QStringLiteral("E:\\");
    return drive;
}

MTPDeviceObjectMap::MTPDeviceObjectMap(MtpStorageId storageId, qsizetype expectedCount) : m_storageId(storageId)
{
    if (expectedCount > 0) m_index.reserve(size_t(expectedCount));
    uint32_t number = 0;
    m_root = newEntry(&number);
    m_root->kind = Kind::Root;
    m_root->storageId = storageId;
    m_index.insert(0u, number);
}

MTPDeviceObjectMap::~MTPDeviceObjectMap() = default;

// ---- the ID index ---------------------------------------------------------------

size_t MTPDeviceObjectMap::IdIndex::home(uint32_t id) const
{
    // Phones number objects mostly in sequence: neighbours within a run of
    // 1024 IDs get neighbouring slots (one cache line serves several), while
    // the runs themselves are spread by Fibonacci hashing, so that strided or
    // scattered IDs do not pile up either.
    const uint32_t run = uint32_t((id >> 10) * 2654435769u) >> (32 - m_bits);
    return (size_t(run) + (id & 1023u)) & (m_slots.size() - 1);
}

void MTPDeviceObjectMap::IdIndex::reserve(size_t count)
{
    size_t capacity = 16;
    while (capacity < count * 2)
        capacity *= 2;
    if (capacity > m_slots.size()) rehash(capacity);
}

void MTPDeviceObjectMap::IdIndex::rehash(size_t capacity)
{
    std::vector<Slot> old;
    old.swap(m_slots);
    m_slots.assign(capacity, Slot());
    m_bits = 0;
    while ((size_t(1) << m_bits) < capacity)
        ++m_bits;
    m_size = 0;
    for (const Slot &slot : old)
        if (slot.number) insert(slot.id, slot.number);
}

uint32_t MTPDeviceObjectMap::IdIndex::find(uint32_t id) const
{
    if (m_slots.empty()) return 0;
    const size_t mask = m_slots.size() - 1;
    for (size_t i = home(id);; i = (i + 1) & mask) {
        const Slot &slot = m_slots[i];
        if (!slot.number) return 0;
        if (slot.id == id) return slot.number;
    }
}

bool MTPDeviceObjectMap::IdIndex::insert(uint32_t id, uint32_t number)
{
    if ((m_size + 1) * 2 > m_slots.size()) rehash(std::max<size_t>(16, m_slots.size() * 2));
    const size_t mask = m_slots.size() - 1;
    for (size_t i = home(id);; i = (i + 1) & mask) {
        Slot &slot = m_slots[i];
        if (!slot.number) {
            slot.id = id;
            slot.number = number;
            ++m_size;
            return true;
        }
        if (slot.id == id) return false;
    }
}

void MTPDeviceObjectMap::IdIndex::erase(uint32_t id)
{
    if (m_slots.empty()) return;
    const size_t mask = m_slots.size() - 1;
    size_t hole = home(id);
    while (m_slots[hole].number && m_slots[hole].id != id)
        hole = (hole + 1) & mask;
    if (!m_slots[hole].number) return;
    // Backward shift: later members of the probe run move up into the hole
    // unless their home lies cyclically after it.
    for (size_t next = (hole + 1) & mask; m_slots[next].number; next = (next + 1) & mask) {
        const size_t want = home(m_slots[next].id);
        const bool stays = hole <= next ? (hole < want && want <= next) : (hole < want || want <= next);
        if (stays) continue;
        m_slots[hole] = m_slots[next];
        hole = next;
    }
    m_slots[hole] = Slot();
    --m_size;
}

// ---- children by name ------------------------------------------------------------

uint32_t MTPDeviceObjectMap::nameHash(QStringView name)
{
    const std::u16string_view units(name.utf16(), size_t(name.size()));
    const size_t hash = std::hash<std::u16string_view>{}(units);
    return uint32_t(hash ^ (hash >> 32));
}

MTPDeviceObjectMap::Entry *MTPDeviceObjectMap::Children::value(QStringView name, Entry *fallback) const
{
    if (m_size == 0) return fallback;
    const uint32_t hash = nameHash(name);
    const size_t mask = m_slots.size() - 1;
    for (size_t i = hash & mask;; i = (i + 1) & mask) {
        Entry *entry = m_slots[i];
        if (!entry) return fallback;
        if (entry->nameHash == hash && entry->filename == name) return entry;
    }
}

std::pair<MTPDeviceObjectMap::Entry **, bool> MTPDeviceObjectMap::Children::slotFor(const QString &name, uint32_t hash)
{
    if ((m_size + 1) * 2 > m_slots.size()) grow();
    const size_t mask = m_slots.size() - 1;
    for (size_t i = hash & mask;; i = (i + 1) & mask) {
        Entry *&entry = m_slots[i];
        if (!entry) return {&entry, false};
        if (entry->nameHash == hash && entry->filename == name) return {&entry, true};
    }
}

void MTPDeviceObjectMap::Children::grow()
{
    std::vector<Entry *> old;
    old.swap(m_slots);
    m_slots.assign(std::max<size_t>(8, old.size() * 2), nullptr);
    const size_t mask = m_slots.size() - 1;
    for (Entry *entry : old) {
        if (!entry) continue;
        size_t i = entry->nameHash & mask;
        while (m_slots[i])
            i = (i + 1) & mask;
        m_slots[i] = entry;
    }
}

void MTPDeviceObjectMap::Children::erase(const Entry *entry)
{
    if (m_size == 0) return;
    const size_t mask = m_slots.size() - 1;
    size_t hole = entry->nameHash & mask;
    while (m_slots[hole] && m_slots[hole] != entry)
        hole = (hole + 1) & mask;
    if (!m_slots[hole]) return;
    // Backward shift, as in the ID index.
    for (size_t next = (hole + 1) & mask; m_slots[next]; next = (next + 1) & mask) {
        const size_t want = m_slots[next]->nameHash & mask;
        const bool stays = hole <= next ? (hole < want && want <= next) : (hole < want || want <= next);
        if (stays) continue;
        m_slots[hole] = m_slots[next];
        hole = next;
    }
    m_slots[hole] = nullptr;
    --m_size;
}

MTPDeviceObjectMap::Children::const_iterator MTPDeviceObjectMap::Children::begin() const
{
    return const_iterator(m_slots.data(), m_slots.data() + m_slots.size());
}

MTPDeviceObjectMap::Children::const_iterator MTPDeviceObjectMap::Children::end() const
{
    return const_iterator(m_slots.data() + m_slots.size(), m_slots.data() + m_slots.size());
}

// ---- entries ----------------------------------------------------------------------

MTPDeviceObjectMap::Entry *MTPDeviceObjectMap::newEntry(uint32_t *number)
{
    if (m_blocks.empty() || m_usedInLastBlock == kBlockSize) {
        m_blocks.push_back(std::make_unique<Entry[]>(kBlockSize));
        m_usedInLastBlock = 0;
    }
    *number = uint32_t((m_blocks.size() - 1) * kBlockSize + m_usedInLastBlock + 1);
    return &m_blocks.back()[m_usedInLastBlock++];
}

MTPDeviceObjectMap::Entry *MTPDeviceObjectMap::entryByNumber(uint32_t number) const
{
    if (number == 0) return nullptr;
    const size_t index = number - 1;
    return &m_blocks[index / kBlockSize][index % kBlockSize];
}

void MTPDeviceObjectMap::dropNewestEntry()
{
    if (m_blocks.empty() || m_usedInLastBlock == 0) return;
    --m_usedInLastBlock;
    m_blocks.back()[m_usedInLastBlock] = Entry();
}

QString MTPDeviceObjectMap::cleanName(const QString &phoneName)
{
    return vtr::windowsValidFilename(phoneName);
}

QString MTPDeviceObjectMap::cleanName(const char *phoneName)
{
    if (!phoneName) return QString();
    const size_t length = std::strlen(phoneName);
    if (isPlainWindowsName(phoneName, length)) return QString::fromLatin1(phoneName, qsizetype(length));
    return vtr::windowsValidFilename(QString::fromUtf8(phoneName, qsizetype(length)));
}

MTPDeviceObjectMap::Entry *MTPDeviceObjectMap::entryForPath(const QString &path) const
{
    // The syntax of vtr::windowsPathComponents, read in place: splitting a
    // path into a list of names costs as much as the path is long, for every
    // folder of a deep tree.
    const qsizetype size = path.size();
    if (size < 3 || path.at(1) != u':' || !isSeparator(path.at(2)) || path.at(0).toUpper() != u'E') return nullptr;
    if (size > 3 && isSeparator(path.at(3))) return nullptr;
    if (size > 4 && isSeparator(path.at(size - 1)) && isSeparator(path.at(size - 2))) return nullptr;

    // What this path shares with the last one: whole components only (the
    // shared text ends where the cursor's component ends and this path's
    // component ends too).
    PathCursor &cursor = m_cursor;
    if (cursor.steps.empty()) {
        cursor.steps.push_back(m_root);
        cursor.ends.push_back(3);
    }
    const qsizetype shared = commonPrefixLength(path, cursor.path);
    size_t kept = size_t(std::upper_bound(cursor.ends.begin(), cursor.ends.end(), shared) - cursor.ends.begin());
    if (kept == 0) kept = 1; // the drive, checked above
    while (kept > 1 && cursor.ends[kept - 1] < size && !isSeparator(path.at(cursor.ends[kept - 1])))
        --kept;
    // An entry that left the map took everything below it along (and entries
    // never move), so the deepest entry kept vouches for those above it.
    while (kept > 1 && cursor.steps[kept - 1]->kind == Kind::Removed)
        --kept;
    cursor.steps.resize(kept);
    cursor.ends.resize(kept);
    cursor.path = path;

    Entry *entry = cursor.steps.back();
    qsizetype at = cursor.ends.back();
    for (;;) {
        while (at < size && isSeparator(path.at(at)))
            ++at;
        if (at == size) return entry;
        qsizetype end = at;
        while (end < size && !isSeparator(path.at(end)))
            ++end;
        if (!entry->holdsChildren()) return nullptr;
        ++m_pathSteps;
        entry = entry->children.value(QStringView(path).sliced(at, end - at), nullptr);
        if (!entry) return nullptr;
        cursor.steps.push_back(entry);
        cursor.ends.push_back(end);
        at = end;
    }
}

MTPDeviceObjectMap::Entry *MTPDeviceObjectMap::entryForId(MtpObjectId objectId) const
{
    return entryByNumber(m_index.find(objectId.raw()));
}

QString MTPDeviceObjectMap::pathForEntry(const Entry *entry) const
{
    if (!entry) return QString(QLatin1String(""));
    // Measured first, then filled from its end: one allocation however deep.
    qsizetype length = drive().size() - 1;
    const Entry *top = entry;
    // The links form a tree by construction; the bound is a second guard.
    for (size_t steps = 0; top && !top->isRoot() && steps <= size_t(m_index.size()); ++steps) {
        length += top->filename.size() + 1;
        top = top->parent;
    }
    if (!top || !top->isRoot()) return QString(QLatin1String(""));
    if (entry->isRoot()) return drive();
    QString path(length, Qt::Uninitialized);
    QChar *out = path.data() + length;
    for (const Entry *step = entry; !step->isRoot(); step = step->parent) {
        out -= step->filename.size();
        std::copy(step->filename.cbegin(), step->filename.cend(), out);
        if (!step->parent->isRoot()) *--out = u'\\';
    }
    std::copy(drive().cbegin(), drive().cend(), path.data());
    return path;
}

QString MTPDeviceObjectMap::pathForId(MtpObjectId objectId) const
{
    return pathForEntry(entryForId(objectId));
}

MTPDeviceObjectMap::Entry *MTPDeviceObjectMap::addObject(Entry *parent, const LIBMTP_file_t &object,
                                                         qint64 modificationTime)
{
    const bool folder = object.filetype == LIBMTP_FILETYPE_FOLDER;
    QString name = cleanName(object.filename);
    if (name.isEmpty()) {
        VTR_LOG(1, QStringLiteral("MTP object %1 has no name; left out").arg(object.item_id));
        return nullptr;
    }
    Entry *entry = insertEntry(parent, folder ? Kind::Folder : Kind::File, mtpObjectId(object), std::move(name),
                               object.filetype, object.filesize, modificationTime);
    if (!entry && LogIsCategoryEnabled(1)) {
        VTR_LOG(1, QStringLiteral("MTP object %1 left out of the map").arg(describe(object)));
    }
    return entry;
}

MTPDeviceObjectMap::Entry *MTPDeviceObjectMap::addEntry(Entry *parent, Kind kind, MtpObjectId objectId,
                                                        const QString &phoneName, LIBMTP_filetype_t filetype,
                                                        uint64_t size, qint64 modificationTime)
{
    return insertEntry(parent, kind, objectId, cleanName(phoneName), filetype, size, modificationTime);
}

MTPDeviceObjectMap::Entry *MTPDeviceObjectMap::insertEntry(Entry *parent, Kind kind, MtpObjectId objectId, QString name,
                                                           LIBMTP_filetype_t filetype, uint64_t size,
                                                           qint64 modificationTime)
{
    if (!parent || !parent->holdsChildren() || (kind != Kind::Folder && kind != Kind::File)) return nullptr;
    if (objectId.isNull() || objectId == MtpLibrary::kTopLevelParent || name.isEmpty()) return nullptr;

    // One look-up per table: a map build makes tens of thousands of these.
    uint32_t number = 0;
    Entry *entry = newEntry(&number);
    if (!m_index.insert(objectId.raw(), number)) {
        dropNewestEntry();
        VTR_LOG(
            1, QStringLiteral("MTP object %1 is listed more than once; the first listing is kept").arg(objectId.raw()));
        return nullptr;
    }

    entry->kind = kind;
    entry->filetype = kind == Kind::Folder ? LIBMTP_FILETYPE_FOLDER : filetype;
    entry->objectId = objectId;
    entry->parentId = parent->objectId;
    entry->storageId = m_storageId;
    entry->size = kind == Kind::File ? size : 0;
    entry->modificationTime = modificationTime;
    entry->parent = parent;

    const uint32_t hash = nameHash(name);
    auto [childSlot, taken] = parent->children.slotFor(name, hash);
    if (!taken) {
        parent->children.added();
        *childSlot = entry;
        entry->nameHash = hash;
        entry->filename = std::move(name);
        return entry;
    }
    Entry *holder = *childSlot;
    if (kind == Kind::Folder && holder->isFile()) {
        *childSlot = entry;
        entry->nameHash = hash;
        entry->filename = name;
        placeUnderFreeName(parent, holder, name);
        // The last path looked up may end at the file under its old name.
        m_cursor = PathCursor();
        if (tellsRename(*holder))
            VTR_LOG(1, QStringLiteral("MTP folder %1 \"%2\" takes the name of the file %3, which is named \"%4\"")
                           .arg(QString::number(objectId.raw()), name, QString::number(holder->objectId.raw()),
                                holder->filename));
        return entry;
    }
    placeUnderFreeName(parent, entry, name);
    if (tellsRename(*entry))
        VTR_LOG(1, QStringLiteral("MTP object %1 \"%2\" has the name of object %3; it is named \"%4\"")
                       .arg(QString::number(objectId.raw()), name, QString::number(holder->objectId.raw()),
                            entry->filename));
    return entry;
}

bool MTPDeviceObjectMap::tellsRename(const Entry &renamed)
{
    if (!m_renameLog) return true;
    const QString key = QStringLiteral("%1/%2/").arg(m_storageId.raw()).arg(renamed.objectId.raw()) + renamed.filename;
    if (m_renameLog->told.contains(key)) return false;
    m_renameLog->told.insert(key);
    return m_renameLog->lines.admit();
}

QString MTPDeviceObjectMap::freeName(const Entry *parent, const QString &name)
{
    const QString base = vtr::posixDeletingPathExtension(name);
    const QString extension = vtr::posixPathExtension(name);
    uint32_t &next = m_nextNumber[std::pair<const Entry *, QString>(parent, name)];
    for (;;) {
        next = std::max<uint32_t>(next, 1);
        QString candidate = vtr::numberedName(base, extension, next++);
        if (!parent->children.value(candidate)) return candidate;
    }
}

void MTPDeviceObjectMap::placeUnderFreeName(Entry *parent, Entry *entry, const QString &name)
{
    QString free = freeName(parent, name);
    // A file a folder moved on keeps the phone's name it had.
    if (!m_phoneNames.contains(entry->objectId.raw())) m_phoneNames.insert(entry->objectId.raw(), name);
    const uint32_t hash = nameHash(free);
    Entry **slot = parent->children.slotFor(free, hash).first;
    parent->children.added();
    *slot = entry;
    entry->nameHash = hash;
    entry->filename = std::move(free);
}

QString MTPDeviceObjectMap::cleanPhoneName(const Entry &entry) const
{
    return m_phoneNames.value(entry.objectId.raw(), entry.filename);
}

void MTPDeviceObjectMap::remove(Entry *entry)
{
    if (!entry || entry->isRoot()) return;
    if (entry->parent) {
        entry->parent->children.erase(entry);
    }
    std::vector<Entry *> pending{entry};
    while (!pending.empty()) {
        Entry *current = pending.back();
        pending.pop_back();
        for (Entry *child : std::as_const(current->children))
            pending.push_back(child);
        m_index.erase(current->objectId.raw());
        if (!m_phoneNames.isEmpty()) m_phoneNames.remove(current->objectId.raw());
        current->kind = Kind::Removed;
        current->parent = nullptr;
        current->children = {};
        current->filename = QString();
    }
}

QString MTPDeviceObjectMap::modText(qint64 modificationTime)
{
    return vtr::st2StringWithoutTimezone(QDateTime::fromSecsSinceEpoch(modificationTime, Qt::UTC));
}

QVariantMap MTPDeviceObjectMap::fields(const Entry &entry)
{
    QVariantMap map;
    map.insert(kParentIdKey, uint(entry.parentId.raw()));
    map.insert(kStorageIdKey, uint(entry.storageId.raw()));
    switch (entry.kind) {
    case Kind::Root:
    case Kind::Removed:
        break;
    case Kind::Folder:
        map.insert(QStringLiteral("folder_id"), uint(entry.objectId.raw()));
        map.insert(kFilenameKey, entry.filename);
        map.insert(kTypeKey, QStringLiteral("dir"));
        break;
    case Kind::File:
        map.insert(QStringLiteral("item_id"), uint(entry.objectId.raw()));
        map.insert(kFilenameKey, entry.filename);
        map.insert(QStringLiteral("filetype"), int(entry.filetype));
        map.insert(kTypeKey, QStringLiteral("file"));
        map.insert(QStringLiteral("mod"), modText(entry.modificationTime));
        map.insert(QStringLiteral("size"), QString::number(quint64(entry.size)));
        map.insert(QStringLiteral("readonly"), kFalse);
        map.insert(QStringLiteral("hidden"), kFalse);
        map.insert(QStringLiteral("system"), kFalse);
        break;
    }
    return map;
}
