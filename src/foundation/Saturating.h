#pragma once

#include <QtGlobal>

#include <limits>

namespace vtr {

// a + b, held at the ends of qint64 instead of wrapping: the sizes a phone
// lists are whatever it says, and a total of them must still order them.
constexpr qint64 saturatingAdd(qint64 a, qint64 b)
{
    qint64 sum = 0;
    if (!__builtin_add_overflow(a, b, &sum)) return sum;
    return b > 0 ? std::numeric_limits<qint64>::max() : std::numeric_limits<qint64>::min();
}

} // namespace vtr
