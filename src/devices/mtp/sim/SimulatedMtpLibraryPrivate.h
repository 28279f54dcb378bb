#pragma once

// Inner state of the simulator, shared by its implementation files only.

#include "devices/mtp/sim/SimulatedMtpLibrary.h"

#include <QCryptographicHash>

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include <map>
#include <string>
#include <utility>

namespace mtpsim {

struct Object
{
    uint32_t id = 0;
    uint32_t storageId = 0;
    uint32_t parentId = 0;
    std::string name;
    bool folder = false;
    LIBMTP_filetype_t filetype = LIBMTP_FILETYPE_UNKNOWN;
    qint64 size = 0;
    time_t mtime = 0;
    bool dateInListing = true;
    // Contents: stored bytes, or generated from the seed, or (for a large
    // received file) only their SHA-1.
    bool hasContents = false;
    QByteArray contents;
    QByteArray digestOnly;
    uint32_t patternSeed = 0;
    std::optional<MtpSimTrackInfo> track;
    QString listName;
    std::vector<uint32_t> references;
    QString albumArtist;
    QString albumComposer;
    QString albumGenre;
    QByteArray artwork;
};

struct Storage
{
    MtpSimStorageSpec spec;
    uint64_t freeSpace = 0;
    bool freeSpaceFollowsObjects = false;
};

// Children lists: the top level of a storage is keyed (storage, 0), a
// folder's children (0, folder ID).
using ChildKey = std::pair<uint32_t, uint32_t>;

// Generated contents (MtpSimPhone::patternByte) from `offset` on.
void fillPattern(uint32_t seed, qint64 offset, unsigned char *out, qint64 length);

inline ChildKey childKey(uint32_t storageId, uint32_t parentId)
{
    return parentId == 0 ? ChildKey{storageId, 0} : ChildKey{0, parentId};
}

LIBMTP_filetype_t filetypeForName(const std::string &name);
bool isValidNewName(const char *name);

} // namespace mtpsim

struct MtpSimPhone::Data
{
    int index = 0;
    MtpSimIdentity identity;
    MtpSimOptions options;
    // Stable C texts for raw device entries.
    std::string vendorName;
    std::string productName;
    std::vector<mtpsim::Storage> storages;
    std::map<uint32_t, mtpsim::Object> objects;
    std::map<mtpsim::ChildKey, std::vector<uint32_t>> children;
    uint32_t nextObjectId = 1;
    uint32_t nextStorageId = 0x00010001;
    bool syncActive = false;
    int syncStarts = 0;
    bool unplugged = false;
    qint64 unplugAfter = -1; // remaining bytes before the phone goes away
    qint64 bytesTransferred = 0;

    mtpsim::Storage *storage(uint32_t id);
    mtpsim::Storage *storageOrFirst(uint32_t id);
    mtpsim::Object *find(uint32_t id);
    std::vector<uint32_t> &childList(uint32_t storageId, uint32_t parentId);
    bool nameTaken(uint32_t storageId, uint32_t parentId, const std::string &name, uint32_t except) const;
    bool isInSubtree(uint32_t rootId, uint32_t candidate) const;
    uint32_t allocateId();
    // Inserts a complete object; false when its place does not exist.
    bool insert(mtpsim::Object object, bool chargeSpace);
    // Removes an object and everything below it, giving their space back.
    void removeSubtree(uint32_t id);
    void detachFromParent(const mtpsim::Object &object);
    void touch() { ++identity.contentRevision; }
    time_t now() const;
    QByteArray contentsOf(const mtpsim::Object &object) const;
    // Bytes [offset, offset+length) of the object's contents.
    void readContents(const mtpsim::Object &object, qint64 offset, unsigned char *out, qint64 length) const;
};

// ---- the library's state ----------------------------------------------------------

namespace mtpsim {

struct OpenDevice
{
    LIBMTP_mtpdevice_t *handle = nullptr;
    MtpSimPhone *phone = nullptr;
    std::atomic<int> active{0};
    bool released = false;
    // What failed since takeErrors() was last asked (the library's error stack).
    QStringList errors;
};

struct FaultRule
{
    QString function;
    int skip = 0;      // calls still to let through
    int remaining = 1; // calls still to fail; -1 for all
};

// Frees a storage list the simulator built.
void freeStorageList(LIBMTP_devicestorage_t *list);

} // namespace mtpsim

struct SimulatedMtpLibrary::Impl
{
    // All simulated state. Recursive: a transfer callback may call the
    // simulator again on the same thread (which is reported as an overlap).
    mutable std::recursive_mutex mutex;
    std::vector<std::unique_ptr<MtpSimPhone>> phones;
    // Open handles; never freed before the library is, so a stale handle
    // stays recognisable.
    mutable std::mutex handlesMutex;
    std::map<const LIBMTP_mtpdevice_t *, std::unique_ptr<mtpsim::OpenDevice>> handles;
    bool wholeListingsEmpty = false;
    bool logEnabled = true;
    std::vector<mtpsim::FaultRule> faults;
    QList<CallRecord> log;
    quint64 sequence = 0;
    std::atomic<int> concurrentCalls{0};
    std::atomic<int> invalidHandleCalls{0};
};
