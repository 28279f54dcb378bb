#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace vtr {

// The cover pictures stored inside a sound or video file (ID3 pictures,
// MP4 cover atoms, FLAC pictures), as encoded image bytes in file order.
// Empty for a file that holds none or cannot be read.
QList<QByteArray> embeddedPictures(const QString &path);

}  // namespace vtr
