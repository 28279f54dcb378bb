#include "foundation/VtrSoftwareVersion.h"

#include <gtest/gtest.h>

namespace {

struct Parsed
{
    const char *text;
    int major, minor, bugFix;
};

TEST(SoftwareVersion, TextGivesThreeNumbers)
{
    const Parsed cases[] = {
        {"10.5.8", 10, 5, 8},
        {"2", 2, 0, 0},
        {"1.2.3.4", 1, 2, 3},
        {"3.1b2", 3, 1, 0},
        {"", 0, 0, 0},
        {" 4. -1.+7", 4, -1, 7},
        {"x.y.z", 0, 0, 0},
        {"1..3", 1, 0, 3},
        {"99999999999.1", 2147483647, 1, 0},
        {"-99999999999", -2147483647 - 1, 0, 0},
    };
    for (const Parsed &c : cases) {
        SCOPED_TRACE(c.text);
        const VtrSoftwareVersion v(QString::fromLatin1(c.text));
        EXPECT_EQ(v.majorVersion(), c.major);
        EXPECT_EQ(v.minorVersion(), c.minor);
        EXPECT_EQ(v.bugFix(), c.bugFix);
    }
    EXPECT_EQ(VtrSoftwareVersion(QString()).versionString(), "0.0.0");
    EXPECT_EQ(VtrSoftwareVersion::softwareVersionWithString("10.5.8").versionString(), "10.5.8");
    EXPECT_EQ(VtrSoftwareVersion::softwareVersionWithString("1.2.3.4").versionString(), "1.2.3");

    VtrSoftwareVersion v(9, 9, 9);
    v.setVersionString("7");
    EXPECT_EQ(v.versionString(), "7.0.0"); // a shorter text resets the missing parts
}

TEST(SoftwareVersion, ComparesNumbersNotText)
{
    using V = VtrSoftwareVersion;
    EXPECT_EQ(V("1.2.3").compare(V("1.2.4")), -1);
    EXPECT_EQ(V("1.2.4").compare(V("1.2.3")), 1);
    EXPECT_EQ(V("1.10.0").compare(V("1.9.9")), 1);
    EXPECT_EQ(V("2.0.0").compare(V("10.0.0")), -1);
    EXPECT_EQ(V("1.2").compare(V(1, 2, 0)), 0);
    EXPECT_EQ(V(-1, 0, 0).compare(V(0, 0, 0)), -1);
    EXPECT_EQ(V(1, 0, -5).compare(V(1, 0, 0)), -1);
}

} // namespace
