#pragma once

#include <QString>

// A three-part software version (major.minor.bugfix), made from or rendered
// as dotted text and compared number by number.
class VtrSoftwareVersion
{
public:
    VtrSoftwareVersion() = default;
    VtrSoftwareVersion(int majorVersion, int minorVersion, int bugFix);
    explicit VtrSoftwareVersion(const QString &text);

    static VtrSoftwareVersion softwareVersionWithMajorVersion(int majorVersion, int minorVersion, int bugFix);
    static VtrSoftwareVersion softwareVersionWithString(const QString &text);

    // Each "."-separated part gives one number: leading white space and a sign
    // are allowed, then the leading digits count ("1b2" is 1; none is 0).
    // Missing parts are 0, parts after the third are ignored.
    void setVersionString(const QString &text);
    // "major.minor.bugfix".
    QString versionString() const;
    void setVersionWithMajorVersion(int majorVersion, int minorVersion, int bugFix);

    // -1, 0 or 1, comparing major, then minor, then bug-fix numbers.
    int compare(const VtrSoftwareVersion &other) const;

    int majorVersion() const { return m_majorVersion; }
    void setMajorVersion(int v) { m_majorVersion = v; }
    int minorVersion() const { return m_minorVersion; }
    void setMinorVersion(int v) { m_minorVersion = v; }
    int bugFix() const { return m_bugFix; }
    void setBugFix(int v) { m_bugFix = v; }

private:
    int m_majorVersion = 0;
    int m_minorVersion = 0;
    int m_bugFix = 0;
};
