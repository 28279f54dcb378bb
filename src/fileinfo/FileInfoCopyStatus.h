#pragma once

#include <QtGlobal>

// Result of every copy and move operation and of a ranged write: 0 done, a
// negative number a failure. Device layers pass their own codes through
// unchanged, so this is a plain signed 32-bit number, not a closed enum.
using FileInfoCopyStatus = qint32;

// Done.
inline constexpr FileInfoCopyStatus kFileInfoCopyOK = 0;
// The kind cannot perform this copy; kinds also use it for a move or a write
// that failed in their store.
inline constexpr FileInfoCopyStatus kFileInfoCopyKindCannot = -1;
// Bad arguments: the source is missing or not a file, the destination is
// neither a folder nor a file, or source and destination are the same item.
inline constexpr FileInfoCopyStatus kFileInfoCopyBadArguments = -50;
// The source does not exist.
inline constexpr FileInfoCopyStatus kFileInfoCopySourceMissing = -200;
// The source is not a file.
inline constexpr FileInfoCopyStatus kFileInfoCopySourceNotFile = -201;
// The temporary file was not created in the destination folder.
inline constexpr FileInfoCopyStatus kFileInfoCopyTempFileNotCreated = -202;
// The source did not open for reading.
inline constexpr FileInfoCopyStatus kFileInfoCopySourceNotOpened = -203;
// The temporary (or destination) file did not open for writing; also: no
// free unique name could be found for the destination.
inline constexpr FileInfoCopyStatus kFileInfoCopyDestinationNotOpened = -204;
// A ranged read of the source gave no data.
inline constexpr FileInfoCopyStatus kFileInfoCopyReadFailed = -205;
// An exception interrupted the copy (only when no other code had been set).
inline constexpr FileInfoCopyStatus kFileInfoCopyException = -206;
// Writing the contents to the destination failed (also: a failed device
// transfer, or the final move of the finished temporary file).
inline constexpr FileInfoCopyStatus kFileInfoCopyWriteFailed = -207;
// The existing item at the destination is not a file.
inline constexpr FileInfoCopyStatus kFileInfoCopyDestinationNotFile = -208;
// Too little free space: below the source's size plus the folder's reserve.
inline constexpr FileInfoCopyStatus kFileInfoCopyNoSpace = -209;
// The copy was cancelled.
inline constexpr FileInfoCopyStatus kFileInfoCopyCancelled = -210;
// The destination path is longer than its kind allows.
inline constexpr FileInfoCopyStatus kFileInfoCopyPathTooLong = -211;
// An item appeared under the name a move must not replace.
inline constexpr FileInfoCopyStatus kFileInfoCopyDestinationTaken = -212;
// Not supported by this kind.
inline constexpr FileInfoCopyStatus kFileInfoCopyNotSupported = -220;
