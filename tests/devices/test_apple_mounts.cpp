// Where the desktop shows an iPhone's media partition: a folder of its own
// FUSE mount named after the phone, or an ifuse mount whose command line names
// it; the phone is told by its UDID, which its USB serial number carries
// without the "-".
#include "devices/usb/AppleMediaMounts.h"

#include <gtest/gtest.h>

using vtr::apple::FuseProcess;
using vtr::apple::MediaMountProbes;

namespace {

// A phone of today (UDID with "-", serial without) and an older one.
const QString kUdid = QStringLiteral("00008030-001A2D3E0C11802E");
const QString kSerial = QStringLiteral("00008030001a2d3e0c11802e");
const QString kOldUdid = QStringLiteral("4e3d1f0a9b8c7d6e5f4a3b2c1d0e9f8a7b6c5d4e");

const QByteArray kTable =
    "27 1 254:0 / / rw,relatime shared:1 - ext4 /dev/vda rw\n"
    "60 27 0:52 / /run/user/1000/gvfs rw,nosuid,nodev,relatime shared:40 - fuse.gvfsd-fuse gvfsd-fuse "
    "rw,user_id=1000,group_id=1000\n"
    "61 27 0:53 / /home/anna/iPhone rw,nosuid,nodev,relatime - fuse.ifuse ifuse rw,user_id=1000,group_id=1000\n"
    "62 27 0:54 / /home/anna/old\\040phone rw,nosuid,nodev - fuse.ifuse ifuse rw,user_id=1000,group_id=1000\n"
    "63 27 0:55 / /home/anna/app rw,nosuid,nodev - fuse.ifuse ifuse rw,user_id=1000,group_id=1000\n"
    "64 27 0:56 / /home/anna/first rw,nosuid,nodev - fuse.ifuse ifuse rw,user_id=1000,group_id=1000\n";

MediaMountProbes probes(const QList<FuseProcess> &processes, const QStringList &attached)
{
    MediaMountProbes p;
    p.ifuseProcesses = [processes] { return processes; };
    p.listFolder = [](const QString &folder) -> std::optional<QStringList> {
        if (folder != QLatin1String("/run/user/1000/gvfs")) return std::nullopt;
        return QStringList{QStringLiteral("afc:host=") + kUdid, QStringLiteral("afc:host=") + kUdid + ",port=3",
                           QStringLiteral("afc:host=") + kOldUdid, QStringLiteral("smb-share:server=nas,share=music")};
    };
    p.attachedPhones = [attached] { return attached; };
    return p;
}

FuseProcess ifuse(const QStringList &arguments, const QString &cwd = QStringLiteral("/home/anna"))
{
    return {QStringList{QStringLiteral("ifuse")} + arguments, cwd};
}

} // namespace

TEST(AppleMediaMounts, TheDesktopsMountShowsEachPhoneInAFolderOfItsOwn)
{
    const vtr::MountTable table = vtr::MountTable::parse(kTable.left(kTable.indexOf("61 27")));
    const MediaMountProbes p = probes({}, {});
    // The serial lacks the UDID's "-" and may differ in letter case; the
    // folder with a port is an app's, not the media partition.
    const QStringList ours{QStringLiteral("/run/user/1000/gvfs/afc:host=") + kUdid};
    EXPECT_EQ(vtr::apple::mediaFoldersOfPhone(table, kSerial, p), ours);
    EXPECT_EQ(vtr::apple::mediaFoldersOfPhone(table, kSerial.toUpper(), p), ours);
    EXPECT_EQ(vtr::apple::mediaFoldersOfPhone(table, kOldUdid.toUpper(), p),
              QStringList{QStringLiteral("/run/user/1000/gvfs/afc:host=") + kOldUdid});
    EXPECT_TRUE(vtr::apple::mediaFoldersOfPhone(table, QStringLiteral("ffffffff0000000000000000"), p).isEmpty());
    EXPECT_TRUE(vtr::apple::mediaFoldersOfPhone(table, QString(), p).isEmpty());
    // A mount that cannot be listed (another user's, or gone) shows nothing.
    MediaMountProbes unlisted = p;
    unlisted.listFolder = [](const QString &) { return std::nullopt; };
    EXPECT_TRUE(vtr::apple::mediaFoldersOfPhone(table, kSerial, unlisted).isEmpty());
}

TEST(AppleMediaMounts, AnIfuseMountIsThePhoneItsCommandLineNames)
{
    const vtr::MountTable table = vtr::MountTable::parse(kTable);
    const QList<FuseProcess> processes{
        ifuse({QStringLiteral("iPhone"), QStringLiteral("-u"), kUdid}),
        ifuse({QStringLiteral("--udid=") + kOldUdid, QStringLiteral("-o"), QStringLiteral("allow_other"),
               QStringLiteral("/home/anna/old phone")},
              QString()),
        ifuse({QStringLiteral("/home/anna/app"), QStringLiteral("-u") + kUdid, QStringLiteral("--documents"),
               QStringLiteral("com.example.app")}),
        ifuse({QStringLiteral("-f"), QStringLiteral("/home/anna/first")}),
    };
    const QString gvfs = QStringLiteral("/run/user/1000/gvfs/afc:host=") + kUdid;
    // The mount without a UDID took the first phone: it is ours only while ours is the only one.
    EXPECT_EQ(vtr::apple::mediaFoldersOfPhone(table, kSerial, probes(processes, {kSerial})),
              (QStringList{gvfs, QStringLiteral("/home/anna/iPhone"), QStringLiteral("/home/anna/first")}));
    EXPECT_EQ(vtr::apple::mediaFoldersOfPhone(table, kSerial, probes(processes, {kSerial, kOldUdid})),
              (QStringList{gvfs, QStringLiteral("/home/anna/iPhone")}));
    EXPECT_EQ(vtr::apple::mediaFoldersOfPhone(table, kOldUdid, probes(processes, {kSerial, kOldUdid})),
              (QStringList{QStringLiteral("/run/user/1000/gvfs/afc:host=") + kOldUdid,
                           QStringLiteral("/home/anna/old phone")}));
    // No process serves a mount: nothing to tell it by.
    EXPECT_EQ(vtr::apple::mediaFoldersOfPhone(table, kSerial, probes({}, {kSerial})), QStringList{gvfs});

    // How a command line reads: joined and separate option values, the older
    // form with a device before the mount point, a relative mount point
    // without a known working folder.
    const auto mount = [](const QStringList &arguments, const QString &cwd = QStringLiteral("/w")) {
        const std::optional<vtr::apple::IfuseMount> m = vtr::apple::ifuseMountOf(ifuse(arguments, cwd));
        return m ? m->mountPoint + QLatin1Char('|') + m->udid : QStringLiteral("none");
    };
    EXPECT_EQ(mount({QStringLiteral("-uABC"), QStringLiteral("m/../n/")}), QStringLiteral("/w/n|ABC"));
    EXPECT_EQ(mount({QStringLiteral("--udid"), QStringLiteral("ABC"), QStringLiteral("/dev/x"), QStringLiteral("/m")}),
              QStringLiteral("/m|ABC"));
    EXPECT_EQ(mount({QStringLiteral("m")}, QString()), QStringLiteral("none"));
    EXPECT_EQ(mount({QStringLiteral("/m"), QStringLiteral("--root")}), QStringLiteral("none"));
    EXPECT_EQ(mount({QStringLiteral("--container"), QStringLiteral("/m")}), QStringLiteral("none"));
    EXPECT_EQ(mount({QStringLiteral("-o"), QStringLiteral("ro")}), QStringLiteral("none"));
}
