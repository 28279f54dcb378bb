#pragma once

#include "fileinfo/GuardedMediaInput.h"

#include <QString>

namespace vtr {

enum class MediaContent
{
    None,   // not sound or video: a picture, text, anything else, or unreadable
    Sound,  // sound tracks only (a cover picture does not make it a video)
    Video,  // at least one moving-picture track
};

// What the file holds, judged by its bytes alone: its name and extension are
// never consulted. Only a regular file is opened (a FIFO or device is never
// read), and a format recognised only with low confidence counts as none.
// VtrMovie is not used here: it lets the name help pick the reader.
MediaContent mediaContentOf(const QString &path);

// The same judgement as mediaContentOf(), with the file's tags read from the
// same opening (empty or -1 where it says nothing or cannot be read).
MediaContent mediaContentOf(const QString &path, MediaTags *tags);

// The same judgement of the regular file open as `fd` (read by position,
// the descriptor stays the caller's), whose name is `name`.
MediaContent mediaContentOf(int fd, const QString &name, MediaTags *tags);

}  // namespace vtr
