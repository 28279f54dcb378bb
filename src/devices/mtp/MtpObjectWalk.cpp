#include "devices/mtp/MtpObjectWalk.h"

#include <cstdlib>
#include <cstring>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace {

struct WalkState
{
    MtpLibrary &library;
    LIBMTP_mtpdevice_t *device;
    MtpStorageId storageId;
    const MtpObjectWalk::Visitor &visit;
    int maxDepth;
    std::unordered_set<uint32_t> entered; // folders by number
    QString failure;                      // the first listing that failed
};

// Answers false when the visitor asked to stop.
bool walkFolder(WalkState &state, MtpObjectId parentId, int depth)
{
    QString failure;
    MtpFileList children = MtpObjectWalk::listFolder(state.library, state.device, state.storageId, parentId, &failure);
    if (state.failure.isEmpty()) state.failure = failure;
    for (LIBMTP_file_t *object = children.get(); object; object = object->next) {
        if (!state.visit(*object, depth, parentId)) return false;
        if (object->filetype != LIBMTP_FILETYPE_FOLDER) continue;
        if (depth + 1 > state.maxDepth) continue;
        // A phone may list a folder twice or put it under its own child.
        const MtpObjectId folder = mtpObjectId(*object);
        if (folder.isNull() || folder == MtpLibrary::kTopLevelParent) continue;
        if (!state.entered.insert(folder.raw()).second) continue;
        if (!walkFolder(state, folder, depth + 1)) return false;
    }
    return true;
}

} // namespace

MtpFileList MtpObjectWalk::listFolder(MtpLibrary &library, LIBMTP_mtpdevice_t *device, MtpStorageId storageId,
                                      MtpObjectId parentId, QString *failure)
{
    // What failed before is another call's.
    library.takeErrors(device);
    MtpFileList children(library.getFilesAndFolders(device, storageId, parentId));
    if (!children && failure) *failure = library.takeErrors(device).join(QStringLiteral("; "));
    return children;
}

bool MtpObjectWalk::walk(MtpLibrary &library, LIBMTP_mtpdevice_t *device, MtpStorageId storageId, const Visitor &visit,
                         int maxDepth, QString *failure)
{
    if (!device) return true;
    std::vector<MtpStorageId> storages;
    if (!storageId.isNull()) {
        storages.push_back(storageId);
    } else {
        // Copied first: a call during the walk may rebuild the list.
        for (const LIBMTP_devicestorage_t *s = device->storage; s; s = s->next)
            storages.push_back(MtpStorageId(s->id));
        if (storages.empty()) storages.push_back(MtpStorageId());
    }
    for (MtpStorageId storage : storages) {
        WalkState state{library, device, storage, visit, maxDepth, {}, {}};
        const bool completed = walkFolder(state, MtpLibrary::kFilesAndFoldersRoot, 0);
        if (failure && failure->isEmpty()) *failure = state.failure;
        if (!completed) return false;
    }
    return true;
}

LIBMTP_file_t *MtpObjectWalk::collect(MtpLibrary &library, LIBMTP_mtpdevice_t *device, MtpStorageId storageId,
                                      bool includeFolders, QString *failure)
{
    LIBMTP_file_t *head = nullptr;
    LIBMTP_file_t **tail = &head;
    walk(library, device, storageId, [&](const LIBMTP_file_t &object, int, MtpObjectId) {
        if (object.filetype == LIBMTP_FILETYPE_FOLDER && !includeFolders) return true;
        LIBMTP_file_t *copy = mtpCopyFile(&object);
        if (!copy) return true;
        *tail = copy;
        tail = &copy->next;
        return true;
    }, kDefaultMaxDepth, failure);
    return head;
}

LIBMTP_folder_t *MtpObjectWalk::folderTree(MtpLibrary &library, LIBMTP_mtpdevice_t *device, MtpStorageId storageId,
                                           QString *failure)
{
    struct Links
    {
        LIBMTP_folder_t *folder;
        LIBMTP_folder_t *lastChild;
    };
    std::unordered_map<uint32_t, Links> byId;
    LIBMTP_folder_t *top = nullptr;
    LIBMTP_folder_t *lastTop = nullptr;

    walk(library, device, storageId, [&](const LIBMTP_file_t &object, int, MtpObjectId listedUnder) {
        if (object.filetype != LIBMTP_FILETYPE_FOLDER) return true;
        // The first listing of a folder wins (the walk enters a folder once).
        if (byId.count(object.item_id)) return true;
        LIBMTP_folder_t *folder = LIBMTP_new_folder_t();
        if (!folder) return true;
        folder->folder_id = object.item_id;
        folder->parent_id = object.parent_id;
        folder->storage_id = object.storage_id;
        folder->name = object.filename ? strdup(object.filename) : nullptr;
        folder->sibling = nullptr;
        folder->child = nullptr;
        // Linked where the listing found it, whatever parent the record claims.
        auto parent = byId.find(listedUnder.raw());
        if (parent != byId.end() && parent->second.folder != folder) {
            if (parent->second.lastChild)
                parent->second.lastChild->sibling = folder;
            else
                parent->second.folder->child = folder;
            parent->second.lastChild = folder;
        } else {
            if (lastTop)
                lastTop->sibling = folder;
            else
                top = folder;
            lastTop = folder;
        }
        byId.emplace(object.item_id, Links{folder, nullptr});
        return true;
    }, kDefaultMaxDepth, failure);
    return top;
}
