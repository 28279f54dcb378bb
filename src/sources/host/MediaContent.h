#pragma once

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

}  // namespace vtr
