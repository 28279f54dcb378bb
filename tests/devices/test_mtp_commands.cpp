// The command dictionaries shared by the phone's command interface and its
// answerers.

#include "devices/command/DeviceCommands.h"
#include "devices/command/HandheldDeviceProtocol.h"
#include "platform/VtrException.h"

#include <gtest/gtest.h>

#include <type_traits>

using namespace DeviceCommands;

static_assert(std::is_abstract_v<HandheldDeviceProtocol>);

TEST(DeviceCommands, FileCommandsCarryTheirArgumentsAsText)
{
    EXPECT_EQ(fsOpenFile(QStringLiteral("E:\\Music\\a.mp3"), true),
              (QVariantMap{{"command", "FS_OPEN_FILE"}, {"filename", "E:\\Music\\a.mp3"}, {"overwrite", "TRUE"}}));
    EXPECT_EQ(fsOpenFile(QStringLiteral("E:\\a"), false).value("overwrite"), QVariant("FALSE"));
    EXPECT_EQ(fsCloseFile(), (QVariantMap{{"command", "FS_CLOSE_FILE"}}));
    EXPECT_EQ(fsGetDriveList(), (QVariantMap{{"command", "FS_GET_DRIVE_LIST"}}));
    // Offsets beyond 4 GiB stay exact.
    EXPECT_EQ(fsReadFile(5LL * 1024 * 1024 * 1024, 524288), (QVariantMap{{"command", "FS_READ_FILE"},
                                                                         {"from", "5368709120"},
                                                                         {"count", "524288"},
                                                                         {"use_marf_if_possible", "TRUE"}}));
    EXPECT_EQ(fsWriteFile(0, QVariant()), (QVariantMap{{"command", "FS_WRITE_FILE"}, {"from", "0"}}));
    EXPECT_EQ(fsWriteFile(10, QStringLiteral("QUJD")).value("data"), QVariant("QUJD"));
    EXPECT_EQ(fsWriteFile(10, QByteArray("\x00\x01", 2)).value("data").toByteArray(), QByteArray("\x00\x01", 2));
    EXPECT_EQ(fsGetDir(QStringLiteral("E:\\")), (QVariantMap{{"command", "FS_GET_DIR"}, {"dir", "E:\\"}}));
    EXPECT_EQ(fsMkDir(QStringLiteral("E:\\New\\")).value("command"), QVariant("FS_MK_DIR"));
    EXPECT_EQ(fsDeleteFile(QStringLiteral("E:\\a")).value("filename"), QVariant("E:\\a"));
    EXPECT_EQ(fsRmDir(QStringLiteral("E:\\Old\\")).value("dir"), QVariant("E:\\Old\\"));
    EXPECT_EQ(fsMoveFile(QStringLiteral("E:\\a"), QStringLiteral("E:\\b")),
              (QVariantMap{{"command", "FS_MOVE_FILE"}, {"from", "E:\\a"}, {"to", "E:\\b"}}));
    EXPECT_EQ(fsSetMod(QStringLiteral("E:\\a"), QStringLiteral("20130301120000")),
              (QVariantMap{{"command", "FS_SET_MOD"}, {"filename", "E:\\a"}, {"time", "20130301120000"}}));
    // The command name wins over an argument of the same key.
    EXPECT_EQ(makeCommand(kStartSync, {{"command", "X"}, {"PLATFORM", "MAC"}}).value("command"),
              QVariant("START_SYNC"));
}

TEST(DeviceCommands, CommandNamesAreKnownByKind)
{
    EXPECT_EQ(fileSystemCommandNames().size(), 11);
    EXPECT_EQ(syncCommandNames().size(), 33);
    EXPECT_TRUE(isFileSystemCommand(QStringLiteral("FS_RM_DIR")));
    EXPECT_FALSE(isFileSystemCommand(QStringLiteral("fs_rm_dir")));
    EXPECT_FALSE(isFileSystemCommand(QStringLiteral("START_SYNC")));
    for (const QString &name : fileSystemCommandNames())
        EXPECT_FALSE(syncCommandNames().contains(name));
}

TEST(DeviceCommands, ValuesReadAsTheyTravel)
{
    EXPECT_TRUE(isTrueText(QStringLiteral("TRUE")));
    EXPECT_TRUE(isTrueText(QStringLiteral("true")));
    EXPECT_TRUE(isTrueText(true));
    EXPECT_FALSE(isTrueText(QStringLiteral("FALSE")));
    EXPECT_FALSE(isTrueText(QStringLiteral("yes")));
    EXPECT_FALSE(isTrueText(QVariant()));

    bool ok = false;
    EXPECT_EQ(parseNumberText(QStringLiteral(" 5368709120 "), &ok), 5368709120LL);
    EXPECT_TRUE(ok);
    EXPECT_EQ(parseNumberText(qint64(42), &ok), 42);
    EXPECT_TRUE(ok);
    EXPECT_EQ(parseNumberText(QStringLiteral("12abc"), &ok), 0);
    EXPECT_FALSE(ok);
    EXPECT_EQ(parseNumberText(QVariant(), &ok), 0);
    EXPECT_FALSE(ok);

    const QVariantMap drive{{"id", "E"}};
    EXPECT_TRUE(valueAsList(QVariant()).isEmpty());
    EXPECT_EQ(valueAsList(drive), QVariantList{drive});
    EXPECT_EQ(valueAsList(QVariantList{drive, drive}).size(), 2);
    EXPECT_EQ(valueAsList(QStringLiteral("x")), QVariantList{QStringLiteral("x")});
}

namespace {

std::pair<QString, QString> thrown(const QVariantMap &reply)
{
    try {
        throwForErrorReply(reply);
    } catch (const VtrException &e) {
        return {e.name(), e.reason()};
    }
    return {};
}

} // namespace

TEST(DeviceCommands, ErrorRepliesBecomeTheirExceptionsInOrder)
{
    EXPECT_EQ(thrown({{"fatal", "boom"}, {"cancel", "c"}, {"error", "e"}}),
              std::make_pair(QStringLiteral("StopPluginException"), QStringLiteral("Fatal device error: boom")));
    EXPECT_EQ(thrown({{"cancel", "user"}, {"error", "e"}}),
              std::make_pair(QStringLiteral("StopSyncException"), QStringLiteral("Device canceled sync: user")));
    EXPECT_EQ(thrown(makeErrorReply(kError, QStringLiteral("kXMLCommandReadFile is not implemented."))),
              std::make_pair(QStringLiteral("DeviceException"),
                             QStringLiteral("Device error: kXMLCommandReadFile is not implemented.")));
    // A reply's text is data: "%1" in it is not a placeholder.
    EXPECT_EQ(thrown({{"error", "%1 and %2"}}).second, QStringLiteral("Device error: %1 and %2"));
    // Empty texts, warnings and notes are no errors.
    EXPECT_EQ(thrown({{"fatal", ""}, {"error", ""}, {"warning", "w"}, {"note", "n"}, {"result", ""}}),
              std::make_pair(QString(), QString()));
    EXPECT_EQ(makeResultReply(QString()).value(kResult), QVariant(QString()));
}
