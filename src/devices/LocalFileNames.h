#pragma once

#include "foundation/VtrString.h"

#include <QString>

namespace vtr {

// A name from a phone or camera made short enough for a local folder: when
// its UTF-8 form is longer than kMaxLocalNameBytes, characters go from the
// end of the base name (never half of a surrogate pair) until it fits with
// `reserveBytes` to spare, and a short extension is kept. A name that fits is
// answered as it is.
QString fitLocalNameLength(const QString &name, qsizetype reserveBytes = 0);

} // namespace vtr
