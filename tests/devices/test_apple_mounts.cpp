// Where the desktop shows an iPhone's media partition: a folder of its own
// FUSE mount named after the phone, or an ifuse mount whose command line names
// it; the phone is told by its UDID, which its USB serial number carries
// without the "-".
#include "devices/usb/AppleMediaMounts.h"
#include "devices/usb/FakeUdevSource.h"

#include "TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>

#include <unistd.h>

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
    p.userId = 1000;
    p.runtimeFolder = QStringLiteral("/run/user/1000");
    return p;
}

// A process of the user of the probes (1000) unless another is named.
FuseProcess ifuse(const QStringList &arguments, qint64 owner = 1000)
{
    return {QStringList{QStringLiteral("ifuse")} + arguments, owner};
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
    // The first was started in /home/anna with a relative mount point; the
    // daemon has moved to "/" since, as every FUSE daemon in the background.
    const QList<FuseProcess> processes{
        ifuse({QStringLiteral("iPhone"), QStringLiteral("-u"), kUdid}),
        ifuse({QStringLiteral("--udid=") + kOldUdid, QStringLiteral("-o"), QStringLiteral("allow_other"),
               QStringLiteral("/home/anna/old phone")}),
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
    // (kept relative: the mount table tells where it is).
    const auto mount = [](const QStringList &arguments) {
        const std::optional<vtr::apple::IfuseMount> m = vtr::apple::ifuseMountOf(ifuse(arguments));
        return m ? m->mountPoint + QLatin1Char('|') + m->udid : QStringLiteral("none");
    };
    EXPECT_EQ(mount({QStringLiteral("-uABC"), QStringLiteral("m/../n/")}), QStringLiteral("n|ABC"));
    EXPECT_EQ(mount({QStringLiteral("--udid"), QStringLiteral("ABC"), QStringLiteral("/dev/x"), QStringLiteral("/m")}),
              QStringLiteral("/m|ABC"));
    EXPECT_EQ(mount({QStringLiteral("m")}), QStringLiteral("m|"));
    EXPECT_EQ(mount({QStringLiteral("/m"), QStringLiteral("--root")}), QStringLiteral("none"));
    EXPECT_EQ(mount({QStringLiteral("--container"), QStringLiteral("/m")}), QStringLiteral("none"));
    EXPECT_EQ(mount({QStringLiteral("-o"), QStringLiteral("ro")}), QStringLiteral("none"));
}

TEST(AppleMediaMounts, ARelativeMountPointIsFoundThroughTheMountTable)
{
    // The kernel lists the point the daemon made absolute before it moved to
    // "/"; a kernel without subtypes names the program as the source only.
    const vtr::MountTable table = vtr::MountTable::parse(
        "61 27 0:53 / /home/anna/phones/iPhone rw - fuse ifuse rw,user_id=1000,group_id=1000\n"
        "62 27 0:54 / /home/anna/old\\040phone rw - fuse.ifuse ifuse rw,user_id=1000,group_id=1000\n");
    const auto folders = [&](const QList<FuseProcess> &processes, const QString &serial = kSerial) {
        return vtr::apple::mediaFoldersOfPhone(table, serial, probes(processes, {kSerial}));
    };
    const QStringList iPhone{QStringLiteral("/home/anna/phones/iPhone")};
    EXPECT_EQ(folders({ifuse({QStringLiteral("iPhone"), QStringLiteral("-u"), kUdid})}), iPhone);
    EXPECT_EQ(folders({ifuse({QStringLiteral("./phones/iPhone/"), QStringLiteral("-u"), kUdid})}), iPhone);
    EXPECT_EQ(folders({ifuse({QStringLiteral("iPhone")})}), iPhone) << "the only phone attached";
    EXPECT_TRUE(folders({ifuse({QStringLiteral("Phone"), QStringLiteral("-u"), kUdid}),
                         ifuse({QStringLiteral("../iPhone"), QStringLiteral("-u"), kUdid})})
                    .isEmpty())
        << "names match whole";
    EXPECT_TRUE(folders({ifuse({QStringLiteral("iPhone"), QStringLiteral("-u"), kOldUdid})}).isEmpty());
    EXPECT_EQ(folders({ifuse({QStringLiteral("old phone"), QStringLiteral("-u"), kOldUdid})}, kOldUdid),
              QStringList{QStringLiteral("/home/anna/old phone")});

    // Two mounts end in the same name: the relative point could be either.
    const vtr::MountTable two = vtr::MountTable::parse(
        "61 27 0:53 / /home/anna/iPhone rw - fuse.ifuse ifuse rw,user_id=1000,group_id=1000\n"
        "62 27 0:54 / /media/shared/iPhone rw - fuse.ifuse ifuse rw,user_id=1001,group_id=1001,allow_other\n");
    const QList<FuseProcess> processes{ifuse({QStringLiteral("iPhone"), QStringLiteral("-u"), kUdid})};
    EXPECT_TRUE(vtr::apple::mediaFoldersOfPhone(two, kSerial, probes(processes, {kSerial})).isEmpty());
}

TEST(AppleMediaMounts, OnlyTheVisibleMountsOfThisUserCount)
{
    const QString ours = QStringLiteral("/run/user/1000/gvfs/afc:host=") + kUdid;
    MediaMountProbes p = probes({ifuse({QStringLiteral("/mnt/iPhone"), QStringLiteral("-u"), kUdid})}, {kSerial});
    p.listFolder = [](const QString &) -> std::optional<QStringList> {
        return QStringList{QStringLiteral("afc:host=") + kUdid};
    };
    // Another user's desktop mount that every user may read, one of theirs
    // made in our runtime folder, one of ours outside it, another user's
    // ifuse mount of our phone.
    const vtr::MountTable others = vtr::MountTable::parse(
        "60 27 0:52 / /run/user/1001/gvfs rw,nosuid,nodev - fuse.gvfsd-fuse gvfsd-fuse "
        "rw,user_id=1001,group_id=1001,allow_other\n"
        "61 27 0:53 / /run/user/1000/gvfs rw,nosuid,nodev - fuse.gvfsd-fuse gvfsd-fuse "
        "rw,user_id=1001,group_id=1001,allow_other\n"
        "62 27 0:54 / /srv/gvfs rw,nosuid,nodev - fuse.gvfsd-fuse gvfsd-fuse rw,user_id=1000,group_id=1000\n"
        "63 27 0:55 / /mnt/iPhone rw - fuse.ifuse ifuse rw,user_id=1001,group_id=1001,allow_other\n");
    EXPECT_TRUE(vtr::apple::mediaFoldersOfPhone(others, kSerial, p).isEmpty());
    MediaMountProbes nobody = p;
    nobody.userId = -1;
    EXPECT_TRUE(vtr::apple::mediaFoldersOfPhone(vtr::MountTable::parse(kTable), kSerial, nobody).isEmpty());

    // The desktop's mount again over an older one at the same point (its
    // daemon restarted): the phone's folder is there once.
    const QByteArray line = "rw,nosuid,nodev - fuse.gvfsd-fuse gvfsd-fuse rw,user_id=1000,group_id=1000\n";
    const vtr::MountTable stacked = vtr::MountTable::parse("60 27 0:52 / /run/user/1000/gvfs " + line +
                                                           "64 60 0:56 / /run/user/1000/gvfs " + line);
    EXPECT_EQ(vtr::apple::mediaFoldersOfPhone(stacked, kSerial, p), QStringList{ours});
}

TEST(AppleMediaMounts, AnotherUsersIfuseCommandLineTellsNothing)
{
    // Our own mounts: of the older phone, and one made without naming a phone
    // while both phones are attached (so whose it is cannot be told).
    const vtr::MountTable table = vtr::MountTable::parse(kTable);
    const QList<FuseProcess> ours{
        ifuse({QStringLiteral("/home/anna/old phone"), QStringLiteral("-u"), kOldUdid}),
        ifuse({QStringLiteral("/home/anna/first")}),
    };
    // Other users' processes (and one whose user is unknown) claim our mounts
    // for our phone, listed before our own.
    QList<FuseProcess> claimed;
    for (const QString &point : {QStringLiteral("/home/anna/old phone"), QStringLiteral("/home/anna/first"),
                                 QStringLiteral("/home/anna/iPhone")})
        claimed.append(ifuse({QStringLiteral("-u"), kUdid, point}, 1001));
    claimed.append(ifuse({QStringLiteral("-u"), kUdid, QStringLiteral("/home/anna/iPhone")}, -1));
    const QString gvfs = QStringLiteral("/run/user/1000/gvfs/afc:host=") + kUdid;
    const QStringList attached{kSerial, kOldUdid};
    EXPECT_EQ(vtr::apple::mediaFoldersOfPhone(table, kSerial, probes(claimed + ours, attached)), QStringList{gvfs});
    EXPECT_EQ(vtr::apple::mediaFoldersOfPhone(table, kOldUdid, probes(claimed + ours, attached)),
              (QStringList{QStringLiteral("/run/user/1000/gvfs/afc:host=") + kOldUdid,
                           QStringLiteral("/home/anna/old phone")}));
    // Our own command line for the same mount does count.
    const FuseProcess mine = ifuse({QStringLiteral("/home/anna/iPhone"), QStringLiteral("-u"), kUdid});
    EXPECT_EQ(vtr::apple::mediaFoldersOfPhone(table, kSerial, probes(claimed + QList<FuseProcess>{mine}, attached)),
              (QStringList{gvfs, QStringLiteral("/home/anna/iPhone")}));
}

TEST(AppleMediaMounts, TheSystemsIfuseProcessesCarryTheirOwners)
{
    // A program that waits for its input and is called "ifuse".
    const QString program = testenv::makeTempDir(QStringLiteral("bin")) + QStringLiteral("/ifuse");
    ASSERT_TRUE(QFile::copy(QStringLiteral("/bin/cat"), program));
    QProcess process;
    process.start(program, {QStringLiteral("-u"), QStringLiteral("-")});
    ASSERT_TRUE(process.waitForStarted());
    const QList<FuseProcess> found = vtr::apple::systemMediaMountProbes().ifuseProcesses();
    process.closeWriteChannel();
    EXPECT_TRUE(process.waitForFinished());
    const auto it = std::find_if(found.cbegin(), found.cend(),
                                 [&](const FuseProcess &p) { return p.arguments.value(0) == program; });
    ASSERT_NE(it, found.cend());
    EXPECT_EQ(it->arguments, (QStringList{program, QStringLiteral("-u"), QStringLiteral("-")}));
    EXPECT_EQ(it->owner, qint64(::getuid()));
}

TEST(AppleMediaMounts, TheDesktopsMountIsFoundThroughARuntimeFolderThatIsALink)
{
    // The runtime folder named through a link above it (as "/var/run" leads
    // to "/run"); the kernel lists the desktop's mount where the link leads.
    const QString base = QFileInfo(testenv::makeTempDir(QStringLiteral("run"))).canonicalFilePath();
    const QString real = base + QStringLiteral("/run/user");
    ASSERT_TRUE(QDir().mkpath(real + QStringLiteral("/gvfs/afc:host=") + kUdid));
    ASSERT_TRUE(QFile::setPermissions(real, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    ASSERT_TRUE(QFile::link(base + QStringLiteral("/run"), base + QStringLiteral("/var-run")));
    const QByteArray before = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(base + QStringLiteral("/var-run/user")));
    const MediaMountProbes p = vtr::apple::systemMediaMountProbes();
    qputenv("XDG_RUNTIME_DIR", before);
    const vtr::MountTable table = vtr::MountTable::parse(
        "60 27 0:52 / " + QFile::encodeName(real) + "/gvfs rw,nosuid,nodev - fuse.gvfsd-fuse gvfsd-fuse rw,user_id=" +
        QByteArray::number(::getuid()) + ",group_id=0\n");
    EXPECT_EQ(vtr::apple::mediaFoldersOfPhone(table, kSerial, p),
              QStringList{real + QStringLiteral("/gvfs/afc:host=") + kUdid});
}

TEST(AppleMediaMounts, ThePhonesAttachedAreTheAppleDevicesWithAUdid)
{
    // A newer iPhone's serial has 24 digits, an older one's 40; the ifuse
    // mount made without naming a phone is the attached phone's.
    for (const QString &serial : {kSerial, kOldUdid}) {
        auto usb = std::make_shared<vtr::udev::FakeUdevSource>();
        const QString bus = QStringLiteral("/sys/devices/pci0000:00/usb1");
        usb->addNode(vtr::udev::FakeUdevSource::usbDevice(bus, QStringLiteral("1-1"), 0x05ac, 0x12a8,
                                                          QStringLiteral("iPhone"), serial));
        usb->addNode(vtr::udev::FakeUdevSource::usbDevice(bus, QStringLiteral("1-2"), 0x05ac, 0x0250,
                                                          QStringLiteral("Keyboard"), QStringLiteral("none")));
        usb->addNode(vtr::udev::FakeUdevSource::usbDevice(bus, QStringLiteral("1-3"), 0x18d1, 0x4ee1,
                                                          QStringLiteral("Pixel"), kSerial + QLatin1Char('0')));
        vtr::udev::setDefaultSource(usb);
        MediaMountProbes p = vtr::apple::systemMediaMountProbes();
        const QStringList attached = p.attachedPhones();
        vtr::udev::setDefaultSource(nullptr);
        EXPECT_EQ(attached, QStringList{serial});
        p.attachedPhones = [attached] { return attached; };
        p.ifuseProcesses = [] { return QList<FuseProcess>{ifuse({QStringLiteral("/home/anna/first")})}; };
        p.userId = 1000;
        EXPECT_EQ(vtr::apple::mediaFoldersOfPhone(vtr::MountTable::parse(kTable), serial, p),
                  QStringList{QStringLiteral("/home/anna/first")});
    }
    for (const char *udid : {"00008030-001A2D3E0C11802E", "00008030001a2d3e0c11802e",
                             "4e3d1f0a9b8c7d6e5f4a3b2c1d0e9f8a7b6c5d4e"})
        EXPECT_TRUE(vtr::apple::looksLikeUdid(QLatin1String(udid))) << udid;
    for (const char *other : {"0000803-0001A2D3E0C11802E", "00008030-001A2D3E0C11802", "00008030-001A2D3E0C11802G",
                              "4e3d1f0a-9b8c7d6e5f4a3b2c1d0e9f8a7b6c5d4e", ""})
        EXPECT_FALSE(vtr::apple::looksLikeUdid(QLatin1String(other))) << other;
}
