#pragma once

#include <QString>

namespace vtr {

// Bytes of the UTF-8 form of `text`, counted without making it. A lone
// surrogate counts as the three bytes of a replacement character: never
// fewer than an encoder writes for it.
qsizetype utf8Length(QStringView text);

// Longest file name (in UTF-8 bytes) the common Linux file systems take.
inline constexpr qsizetype kMaxLocalNameBytes = 255;

// A name from a phone or camera made short enough for a local folder: when
// its UTF-8 form is longer than kMaxLocalNameBytes, characters go from the
// end of the base name (never half of a surrogate pair) until it fits with
// `reserveBytes` to spare, and a short extension is kept. A name that fits is
// answered as it is.
QString fitLocalNameLength(const QString &name, qsizetype reserveBytes = 0);

} // namespace vtr
