#include "fileinfo/MountTable.h"

#include "TestEnvironment.h"

#include <gtest/gtest.h>

#include <QFile>

#include <sys/sysmacros.h>

namespace {

// Lines as the kernel writes them, with the escapes it uses for spaces, tabs,
// newlines and backslashes in paths.
const QByteArray kFixture =
    "22 27 0:21 / /proc rw,relatime - proc proc rw\n"
    "27 1 254:0 / / rw,relatime shared:1 - ext4 /dev/vda rw,discard\n"
    "30 27 0:27 / /tmp rw,nosuid,nodev - tmpfs tmpfs rw,size=1024k\n"
    "41 27 8:17 / /run/media/anna/MY\\040PHONE rw,nosuid,nodev,relatime shared:90 master:3 - vfat /dev/vtrtest-sdb1 "
    "rw,fmask=0022,codepage=437\n"
    "42 27 8:33 / /media/anna/back\\134slash\\011tab ro,relatime - exfat /dev/vtrtest-sdc1 rw\n"
    "43 27 8:49 /sub /mnt/bind rw - ext4 /dev/vtrtest-sdd1 rw\n"
    "this line is not mountinfo\n"
    "44 27 0:50 / relative rw - tmpfs tmpfs rw\n"
    "45 27 8:65 / /run/media/anna/MY\\040PHONE rw - ext4 /dev/vtrtest-sde1 rw\n";

TEST(MountTable, ParsesFieldsAndEscapes)
{
    const vtr::MountTable table = vtr::MountTable::parse(kFixture);
    // The malformed line and the relative mount point are skipped.
    ASSERT_EQ(table.entries().size(), 7);

    const vtr::MountEntry &phone = table.entries().at(3);
    EXPECT_EQ(phone.mountId, 41);
    EXPECT_EQ(phone.parentId, 27);
    EXPECT_EQ(phone.major, 8u);
    EXPECT_EQ(phone.minor, 17u);
    EXPECT_EQ(phone.root, QStringLiteral("/"));
    EXPECT_EQ(phone.mountPoint, QStringLiteral("/run/media/anna/MY PHONE"));
    EXPECT_EQ(phone.optionalFields, (QStringList{QStringLiteral("shared:90"), QStringLiteral("master:3")}));
    EXPECT_EQ(phone.fsType, QStringLiteral("vfat"));
    EXPECT_EQ(phone.source, QStringLiteral("/dev/vtrtest-sdb1"));
    EXPECT_EQ(phone.superOptions, QStringLiteral("rw,fmask=0022,codepage=437"));
    EXPECT_FALSE(phone.isReadOnly());

    const vtr::MountEntry &odd = table.entries().at(4);
    EXPECT_EQ(odd.mountPoint, QStringLiteral("/media/anna/back\\slash\ttab"));
    EXPECT_TRUE(odd.isReadOnly());
    EXPECT_EQ(table.entries().at(5).root, QStringLiteral("/sub"));
}

TEST(MountTable, UnescapeKeepsWhatIsNotAnEscape)
{
    EXPECT_EQ(vtr::MountTable::unescapeField("a\\040b"), QStringLiteral("a b"));
    EXPECT_EQ(vtr::MountTable::unescapeField("a\\04"), QStringLiteral("a\\04"));
    EXPECT_EQ(vtr::MountTable::unescapeField("a\\9999"), QStringLiteral("a\\9999"));
    EXPECT_EQ(vtr::MountTable::unescapeField("tail\\"), QStringLiteral("tail\\"));
    EXPECT_EQ(vtr::MountTable::unescapeField("caf\\303\\251"), QStringLiteral("caf\u00e9"));
}

TEST(MountTable, EntryForPathTakesTheDeepestVisibleMount)
{
    const vtr::MountTable table = vtr::MountTable::parse(kFixture);
    const vtr::MountEntry *entry = table.entryForPath(QStringLiteral("/run/media/anna/MY PHONE/DCIM/a.jpg"));
    ASSERT_NE(entry, nullptr);
    // Two mounts on the same point: the later one is on top.
    EXPECT_EQ(entry->mountId, 45);
    EXPECT_EQ(table.entryForPath(QStringLiteral("/run/media/anna/MY PHONE"))->mountId, 45);
    // A prefix must end at a separator.
    EXPECT_EQ(table.entryForPath(QStringLiteral("/run/media/anna/MY PHONEX"))->mountPoint, QStringLiteral("/"));
    EXPECT_EQ(table.entryForPath(QStringLiteral("/tmp"))->fsType, QStringLiteral("tmpfs"));
    EXPECT_EQ(table.entryForPath(QStringLiteral("/tmpx/y"))->mountPoint, QStringLiteral("/"));
    EXPECT_EQ(table.entryForPath(QStringLiteral("relative/path")), nullptr);
    EXPECT_EQ(vtr::MountTable().entryForPath(QStringLiteral("/a")), nullptr);
    EXPECT_EQ(table.entryAt(QStringLiteral("/nowhere")), nullptr);
    EXPECT_EQ(table.mountPoints().count(QStringLiteral("/run/media/anna/MY PHONE")), 1);
}

TEST(MountTable, UsbVolumesAreBlockDevicesWithAUsbAncestor)
{
    const vtr::MountTable table = vtr::MountTable::parse(kFixture);
    QList<QPair<quint32, quint32>> asked;
    const vtr::UsbAncestorLookup lookup = [&](quint32 major, quint32 minor) -> std::optional<vtr::UsbDeviceIds> {
        asked.append({major, minor});
        if (major == 8 && (minor == 17 || minor == 65 || minor == 33)) {
            vtr::UsbDeviceIds ids;
            ids.vendorId = 0x0FCE;
            ids.hasVendorId = true;
            return ids;
        }
        return std::nullopt;
    };
    const QStringList points = vtr::usbVolumeMountPoints(table, lookup);
    // /run/media/.../MY PHONE once (its visible mount is USB too) and the exfat disk.
    EXPECT_EQ(points, (QStringList{QStringLiteral("/media/anna/back\\slash\ttab"),
                                   QStringLiteral("/run/media/anna/MY PHONE")}));
    // proc and tmpfs are never asked about.
    for (const auto &pair : asked)
        EXPECT_NE(pair.first, 0u);
    EXPECT_TRUE(vtr::usbVolumeMountPoints(table, vtr::UsbAncestorLookup()).isEmpty());
}

TEST(MountTable, CurrentFollowsTheOverride)
{
    vtr::MountTable::setOverrideText(kFixture);
    EXPECT_EQ(vtr::MountTable::current()->entries().size(), 7);
    vtr::MountTable::setOverrideText(QByteArray("1 0 0:1 / / rw - rootfs rootfs rw\n"));
    EXPECT_EQ(vtr::MountTable::current()->entries().size(), 1);
    vtr::MountTable::setOverrideText(std::nullopt);

    // The real table of this process always has a root.
    const auto real = vtr::MountTable::current();
    ASSERT_NE(real->entryForPath(QStringLiteral("/")), nullptr);
    // Asking again without a change gives the same snapshot.
    EXPECT_EQ(vtr::MountTable::current().get(), real.get());
}

// A caller pointed at a fixture file reads it on every call; no path means
// the process's own table.
TEST(MountTable, ReadTakesAFileOrTheCurrentTable)
{
    const QString path = testenv::makeTempDir(QStringLiteral("mounts")) + QStringLiteral("/mountinfo");
    testenv::writeFile(path, kFixture);
    const auto table = vtr::MountTable::read(path);
    ASSERT_EQ(table->entries().size(), 7);
    const vtr::MountEntry &phone = table->entries().at(3);
    EXPECT_TRUE(phone.isBlockBacked());
    EXPECT_EQ(phone.deviceNumber(), quint64(makedev(8, 17)));
    EXPECT_FALSE(table->entries().at(0).isBlockBacked()); // proc

    testenv::writeFile(path, "30 27 0:27 / /tmp rw - tmpfs tmpfs rw\n");
    EXPECT_EQ(vtr::MountTable::read(path)->entries().size(), 1);
    EXPECT_EQ(table->entries().size(), 7); // an earlier answer is a snapshot
    EXPECT_TRUE(vtr::MountTable::read(path + QStringLiteral(".missing"))->isEmpty());
    EXPECT_EQ(vtr::MountTable::read(QString()).get(), vtr::MountTable::current().get());
}

} // namespace
