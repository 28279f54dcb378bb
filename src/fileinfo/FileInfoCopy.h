#pragma once

#include "fileinfo/VtrBaseFileInfo.h"

#include <QString>

#include <functional>

// The "temporary file, then rename" step shared by every copy that writes a
// file of any kind: the generic chunked copy, and the kinds whose device does
// the transfer itself (a phone file copied to the computer).
//
// While a copy runs, its temporary file ("TessalineCopyFile.tmp" in the
// destination's folder) is registered as in use for this process: later
// copies into that folder remove only leftovers that no running copy owns.
namespace vtr {

// True for the temporary copy file's name in any letter case.
bool isTemporaryCopyFileName(const QString &name);

// True while a copy in this process writes the temporary file at `path`
// (compared ignoring case and a trailing separator). A listing hook that meets
// the temporary file removes it only when this answers false.
bool isTemporaryCopyFileInUse(const QString &path);

// Registers `path` as the temporary file of a running copy for the lifetime
// of the object; acquired() is false when another copy already holds it.
class TemporaryCopyFileLease
{
public:
    explicit TemporaryCopyFileLease(const QString &path);
    ~TemporaryCopyFileLease();
    TemporaryCopyFileLease(const TemporaryCopyFileLease &) = delete;
    TemporaryCopyFileLease &operator=(const TemporaryCopyFileLease &) = delete;
    bool acquired() const { return m_acquired; }

private:
    QString m_key;
    bool m_acquired = false;
};

// The local file code notes here what the system answered when one of its
// calls failed (the errno value and the item the call was about), so that a
// copy that fails can say why; each thread keeps its own.
void noteSystemFailure(int error, const QString &path);

// Why the last copyThroughTemporaryFile() on this thread failed, as far as
// the system said: `error` (0 when no call's answer was noted) concerns
// `path`; `folder` is the folder the copy wrote into, and `leftover` the
// unfinished temporary file when it could not be removed (a folder that
// turned read-only keeps it until it can be written again).
struct CopyFailure
{
    int error = 0;
    QString path;
    QString folder;
    QString leftover;
};
CopyFailure lastCopyFailure();
// Forgets the last failure on this thread: work that may fail before it
// reaches a copy then tells its own failure from an earlier copy's.
void forgetLastCopyFailure();

// True when the entry `name` of `folder` may be a copy's temporary file: a
// plain file of this user under the temporary copy file's name in any letter
// case. Listings leave it out and leave it in place: a folder listed may be
// a phone's or a card's, whose file of that name is not ours to remove.
bool isTemporaryCopyFile(const QString &folder, const QString &name);

// As isTemporaryCopyFile(), for a folder this program copies into: such a
// file is removed unless a running copy of this process owns it; `*removed`
// says whether it was.
bool clearTemporaryCopyFile(const QString &folder, const QString &name, bool *removed = nullptr);

// Removes the temporary copy file that an interrupted copy left in `folder`
// as clearTemporaryCopyFile() does. True when one was removed.
bool removeLeftoverTemporaryCopyFile(const QString &folder);

struct TemporaryFileCopyOptions
{
    // Bytes the new file will need; with a value >= 0 the destination's free
    // space must be at least this plus its folder's reserve, else -209.
    qint64 requiredBytes = -1;
    // Passed to the creation of the temporary file.
    FileInfoProgress *progress = nullptr;
    void *userData = nullptr;
    // An item that must never be removed as a "leftover" (the copy's source).
    VtrFileInfoPtr protectedItem;
    // The caller has just found the destination to be a file or missing:
    // step 1's test of its kind is left out.
    bool destinationChecked = false;
    // The destination's folder when the caller has it at hand; otherwise
    // destination->parentFolder().
    VtrFileInfoPtr folder;
    // Set when the destination is a unique name made from this one: the final
    // move never replaces an item that appeared there meanwhile, but takes
    // the folder's next unique name for this one instead.
    QString uniqueNameBase;
};

// Tests stand in here for another user who puts an item at the temporary
// file's name after a leftover went and before the copy creates the file:
// `hook` (empty: none) runs with the temporary file's path right before its
// creation.
void setBeforeTemporaryFileCreatedForTesting(std::function<void(const QString &path)> hook);
// Runs that hook (when one is set) for the temporary file at `path`: a copy
// that makes the temporary file by its own means calls it right before.
void beforeTemporaryFileCreated(const QString &path);

// Fills the temporary file (already created, empty) and answers a status.
using FillTemporaryFile = std::function<FileInfoCopyStatus(const VtrFileInfoPtr &temporaryFile)>;

// Writes a new file at `destination` (a file path, existing or not) so that
// the destination is replaced only by a complete file (an existing item there
// that is not a file: -208, unless options.destinationChecked):
//  1. the destination's parent folder holds the temporary file (no parent, or
//     a destination that is the temporary file itself: -202);
//  2. the temporary file is leased (another copy running there: -202) and a
//     leftover one is removed (still there afterwards: -202);
//  3. the free space on the parent folder's volume is checked (see
//     TemporaryFileCopyOptions, -209);
//  4. the temporary file is created, as a new file of its own (an item that
//     stands at its name, or nothing made: -202);
//  5. `fill` writes it; a non-zero status, or an exception (-206), removes
//     the temporary file and is returned; the destination is untouched;
//  6. the temporary file is moved onto the destination (moveTo, or
//     moveToFreeName with the next unique name while names are taken, when
//     options.uniqueNameBase is set); a failed move removes the temporary
//     file and answers -207.
// On success *outNewItem (when given) is the moved file info, which now
// stands for the destination; on failure it is nullptr. Exceptions that are
// not std::exception pass to the caller after the temporary file is removed.
FileInfoCopyStatus copyThroughTemporaryFile(const VtrFileInfoPtr &destination, const TemporaryFileCopyOptions &options,
                                            const FillTemporaryFile &fill, VtrFileInfoPtr *outNewItem);

} // namespace vtr
