#pragma once

#include <QString>

#include <ostream>

// Failure messages show texts as text, not as arrays of characters.
inline void PrintTo(const QString &s, std::ostream *os)
{
    *os << '"' << s.toStdString() << '"';
}
