#pragma once

#include "devices/mtp/MtpLibrary.h"

#include <functional>

// A walk over a storage's objects, one folder at a time with
// getFilesAndFolders: the only listing that sees what an uncached device
// holds now. Parents come before their children, children in the phone's
// order (a pre-order depth-first walk).
//
// Phones are not trusted to form a tree: a folder is entered at most once
// (a cycle of parents cannot loop) and never deeper than maxDepth.
struct MtpObjectWalk
{
    static constexpr int kDefaultMaxDepth = 64;

    // Called for each object with its depth (0 for the top level) and the
    // folder whose listing held it (LIBMTP_FILES_AND_FOLDERS_ROOT for the top
    // level; the record's own parent_id is what the phone claims). The record
    // belongs to the walk (copy what you keep). Answer false to stop the walk.
    using Visitor = std::function<bool(const LIBMTP_file_t &object, int depth, MtpObjectId listedUnder)>;

    // storageId 0 walks every storage of the device's storage list, one
    // after the other (phones differ in what they answer to "all storages";
    // only a device without a storage list is asked for storage 0 at once).
    // Answers false when the visitor stopped the walk, true otherwise (also
    // when the phone listed nothing).
    //
    // A folder the phone fails to list is left out and the walk goes on;
    // `failure` (when given) then tells why, the first failure's words.
    static bool walk(MtpLibrary &library, LIBMTP_mtpdevice_t *device, MtpStorageId storageId, const Visitor &visit,
                     int maxDepth = kDefaultMaxDepth, QString *failure = nullptr);

    // Copies of every object the walk meets, as one linked list (folders
    // included when asked), in walk order.
    static LIBMTP_file_t *collect(MtpLibrary &library, LIBMTP_mtpdevice_t *device, MtpStorageId storageId,
                                  bool includeFolders, QString *failure = nullptr);

    // The folder tree of a storage (top-level folders linked by `sibling`,
    // each folder's children under `child`, both in walk order), as
    // LIBMTP_Get_Folder_List_For_Storage gives it; nullptr for none.
    static LIBMTP_folder_t *folderTree(MtpLibrary &library, LIBMTP_mtpdevice_t *device, MtpStorageId storageId,
                                       QString *failure = nullptr);

    // One folder's children (LIBMTP_FILES_AND_FOLDERS_ROOT: the storage's top
    // level); nullptr with why in `failure` when the phone failed to list
    // them, nullptr and `failure` empty when there are none.
    static MtpFileList listFolder(MtpLibrary &library, LIBMTP_mtpdevice_t *device, MtpStorageId storageId,
                                  MtpObjectId parentId, QString *failure);
};
