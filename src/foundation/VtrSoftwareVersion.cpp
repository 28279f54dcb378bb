#include "VtrSoftwareVersion.h"

#include <QStringList>

#include <limits>

namespace {

// The leading integer of a text: white space, an optional sign, digits.
// Values beyond the int range stop at its ends.
int leadingInt(const QString &text)
{
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && text.at(i).isSpace())
        ++i;
    bool negative = false;
    if (i < n && (text.at(i) == QLatin1Char('-') || text.at(i) == QLatin1Char('+'))) {
        negative = text.at(i) == QLatin1Char('-');
        ++i;
    }
    qint64 value = 0;
    const qint64 limit = qint64(std::numeric_limits<int>::max()) + (negative ? 1 : 0);
    for (; i < n && text.at(i) >= QLatin1Char('0') && text.at(i) <= QLatin1Char('9'); ++i) {
        value = value * 10 + (text.at(i).unicode() - '0');
        if (value > limit) value = limit;
    }
    return int(negative ? -value : value);
}

int compareInts(int a, int b)
{
    return a < b ? -1 : (a > b ? 1 : 0);
}

} // namespace

VtrSoftwareVersion::VtrSoftwareVersion(int majorVersion, int minorVersion, int bugFix)
    : m_majorVersion(majorVersion), m_minorVersion(minorVersion), m_bugFix(bugFix)
{}

VtrSoftwareVersion::VtrSoftwareVersion(const QString &text)
{
    setVersionString(text);
}

VtrSoftwareVersion VtrSoftwareVersion::softwareVersionWithMajorVersion(int majorVersion, int minorVersion, int bugFix)
{
    return VtrSoftwareVersion(majorVersion, minorVersion, bugFix);
}

VtrSoftwareVersion VtrSoftwareVersion::softwareVersionWithString(const QString &text)
{
    return VtrSoftwareVersion(text);
}

void VtrSoftwareVersion::setVersionString(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char('.'));
    m_majorVersion = parts.size() > 0 ? leadingInt(parts.at(0)) : 0;
    m_minorVersion = parts.size() > 1 ? leadingInt(parts.at(1)) : 0;
    m_bugFix = parts.size() > 2 ? leadingInt(parts.at(2)) : 0;
}

QString VtrSoftwareVersion::versionString() const
{
    return QStringLiteral("%1.%2.%3").arg(m_majorVersion).arg(m_minorVersion).arg(m_bugFix);
}

void VtrSoftwareVersion::setVersionWithMajorVersion(int majorVersion, int minorVersion, int bugFix)
{
    m_majorVersion = majorVersion;
    m_minorVersion = minorVersion;
    m_bugFix = bugFix;
}

int VtrSoftwareVersion::compare(const VtrSoftwareVersion &other) const
{
    if (int c = compareInts(m_majorVersion, other.m_majorVersion)) return c;
    if (int c = compareInts(m_minorVersion, other.m_minorVersion)) return c;
    return compareInts(m_bugFix, other.m_bugFix);
}
