// The playlist writers: M3U text read back by an independent reader, the
// iriver file byte by byte against its layout, MTP playlist objects on a
// simulated phone, the settings, and the writer a phone's configuration picks.

#include "../devices/support/PlatformDeviceFake.h"

#include "devices/mtp/MTPDevice.h"
#include "devices/mtp/sim/SimulatedMtpLibrary.h"
#include "migration/VtrMusicPlaylistKinds.h"

#include "TestEnvironment.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>

#include <gtest/gtest.h>

using namespace pdtest;

namespace {

// The longest name below the root that still fits an iriver entry.
constexpr int kMaxIriverRoom = VtrMusicPlaylist_iriver::kMaxPathUnits - 1;

const QList<VtrPlaylistTrack> kTracks{
    {"E:\\Music\\Björk\\Homogenic\\01 Hunter.mp3", "Hunter", 255},
    {"E:\\Music\\Sigur Rós\\Ágætis byrjun\\02 Svefn-g-englar.mp3", "", -1},
    {"E:\\Music\\東京事変\\教育\\03 林檎の唄.mp3", "林檎の唄, live", 200},
};

// Reads an M3U file the way another program would, with Python's own UTF-8
// decoder and line splitting: [[seconds, title, path], ...], or an empty
// array when the file is not an extended M3U. Null when Python is missing.
std::optional<QJsonArray> readM3UWithPython(const QByteArray &bytes)
{
    if (QStandardPaths::findExecutable("python3").isEmpty()) return std::nullopt;
    const QString path = testenv::makeTempDir("m3u") + "/list.m3u";
    testenv::writeFile(path, bytes);
    const char *script = R"PY(
import json, sys
data = open(sys.argv[1], "rb").read()
text = data.decode("utf-8")            # strict: any bad byte fails
lines = text.splitlines()
out = []
if lines and lines[0] == "#EXTM3U":
    info = None
    for line in lines[1:]:
        if line.startswith("#EXTINF:"):
            seconds, _, title = line[len("#EXTINF:"):].partition(",")
            info = (int(seconds), title)
        elif line and not line.startswith("#"):
            out.append([info[0], info[1], line])
            info = None
print(json.dumps(out))
)PY";
    QProcess python;
    python.start("python3", {"-c", script, path});
    if (!python.waitForFinished(30000) || python.exitCode() != 0) {
        ADD_FAILURE() << python.readAllStandardError().constData();
        return QJsonArray();
    }
    return QJsonDocument::fromJson(python.readAllStandardOutput()).array();
}

// Big-endian writers of the test's own, to check the file against the
// documented layout independently of the writer's code.
void putBE32(QByteArray &bytes, int at, quint32 value)
{
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = char((value >> (24 - 8 * i)) & 0xff);
}
void putBE16(QByteArray &bytes, int at, quint16 value)
{
    bytes[at] = char(value >> 8);
    bytes[at + 1] = char(value & 0xff);
}

QByteArray expectedIriverFile(const QStringList &references)
{
    QByteArray file(512 * (1 + references.size()), '\0');
    putBE32(file, 0, quint32(references.size()));
    const QByteArray signature("iriver UMS PLA");
    for (int i = 0; i < signature.size(); ++i)
        file[4 + i] = signature[i];
    for (int n = 0; n < references.size(); ++n) {
        const int block = 512 * (n + 1);
        const QString &reference = references[n];
        putBE16(file, block, quint16(reference.lastIndexOf('\\') + 2));
        for (int i = 0; i < reference.size(); ++i)
            putBE16(file, block + 2 + 2 * i, reference[i].unicode());
    }
    return file;
}

} // namespace

// ---- settings and references ------------------------------------------------------------------------

TEST(Playlist, SettingsAreKeptAndShapeTheReferences)
{
    AnsweredDevice d;
    auto writer = VtrMusicPlaylist_m3u::playlistWithDevice(&d.device);
    EXPECT_EQ(writer->device(), &d.device);
    EXPECT_TRUE(writer->supportsMultiplePlaylists());
    EXPECT_TRUE(writer->usesRelativePaths());
    EXPECT_EQ(writer->fileExtension(), "m3u");
    writer->setFileExtension(".m3u8");
    EXPECT_EQ(writer->fileExtension(), "m3u8");
    writer->setFileExtension(QString());
    EXPECT_EQ(writer->fileExtension(), "m3u");

    const QString list = "E:\\Playlists\\Mine\\x.m3u";
    EXPECT_EQ(writer->trackReference("E:\\Music\\a.mp3", list), "..\\..\\Music\\a.mp3");
    EXPECT_EQ(writer->trackReference("e:\\playlists\\mine\\b.mp3", list), "b.mp3");
    EXPECT_EQ(writer->trackReference("E:\\Playlists\\c.mp3", list), "..\\c.mp3");
    EXPECT_EQ(writer->trackReference("C:\\Music\\a.mp3", list), "\\Music\\a.mp3"); // another drive
    writer->setUsesRelativePaths(false);
    EXPECT_EQ(writer->trackReference("E:\\Music\\a.mp3", list), "\\Music\\a.mp3");

    EXPECT_EQ(writer->playlistPathForName("Rock/Pop: Best?", "E:\\Lists"), "E:\\Lists\\Rock_Pop_ Best_.m3u");
    EXPECT_EQ(writer->playlistPathForName("  ", "E:\\Lists\\"), "E:\\Lists\\Playlist.m3u");
    EXPECT_EQ(writer->playlistPathForName("..", "E:\\Lists"), "E:\\Lists\\._.m3u");
    EXPECT_EQ(VtrMusicPlaylist_iriver::playlistWithDevice(&d.device)->fileExtension(), "pla");
    EXPECT_EQ(VtrMusicPlaylist_mtp::playlistWithDevice(&d.device)->fileExtension(), "pla");
}

// ---- M3U ----------------------------------------------------------------------------------------------------

TEST(Playlist, M3UIsUtf8TextThatAnotherReaderUnderstands)
{
    AnsweredDevice d;
    auto writer = VtrMusicPlaylist_m3u::playlistWithDevice(&d.device);
    const VtrFileInfoPtr node = writer->writePlaylist("Mixtape Ünïcödé", kTracks, "E:\\Playlists");
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->path(), "E:\\Playlists\\Mixtape Ünïcödé.m3u");
    EXPECT_TRUE(d.answerer.commandsNamed("FS_MK_DIR")
                    .contains(QVariantMap{{"command", "FS_MK_DIR"}, {"dir", "E:\\Playlists\\"}}));
    const QByteArray bytes = d.answerer.files.value("E:\\Playlists\\Mixtape Ünïcödé.m3u");
    EXPECT_EQ(bytes, writer->playlistData(kTracks, node->path()));

    // A plain line check first.
    EXPECT_FALSE(bytes.startsWith("\xEF\xBB\xBF"));
    const QStringList lines = QString::fromUtf8(bytes).split("\r\n");
    EXPECT_EQ(lines,
              (QStringList{"#EXTM3U", "#EXTINF:255,Hunter", "..\\Music\\Björk\\Homogenic\\01 Hunter.mp3",
                           "#EXTINF:-1,02 Svefn-g-englar", "..\\Music\\Sigur Rós\\Ágætis byrjun\\02 Svefn-g-englar.mp3",
                           "#EXTINF:200,林檎の唄, live", "..\\Music\\東京事変\\教育\\03 林檎の唄.mp3", ""}));

    const std::optional<QJsonArray> read = readM3UWithPython(bytes);
    if (!read) GTEST_SKIP() << "python3 is not available";
    ASSERT_EQ(read->size(), 3);
    EXPECT_EQ((*read)[0].toArray(), (QJsonArray{255, "Hunter", "..\\Music\\Björk\\Homogenic\\01 Hunter.mp3"}));
    EXPECT_EQ((*read)[1].toArray(),
              (QJsonArray{-1, "02 Svefn-g-englar", "..\\Music\\Sigur Rós\\Ágætis byrjun\\02 Svefn-g-englar.mp3"}));
    EXPECT_EQ((*read)[2].toArray(), (QJsonArray{200, "林檎の唄, live", "..\\Music\\東京事変\\教育\\03 林檎の唄.mp3"}));
}

TEST(Playlist, OnePlaylistOnlyWhenThePhoneKeepsOne)
{
    AnsweredDevice d;
    auto writer = VtrMusicPlaylist_m3u::playlistWithDevice(&d.device);
    writer->setUsesRelativePaths(false);
    const QList<VtrPlaylistContents> playlists{{"First", {kTracks[0], kTracks[1]}},
                                               {"Second", {kTracks[1], kTracks[2]}}};
    EXPECT_EQ(writer->writePlaylists(playlists, "E:\\Lists").size(), 2);

    writer->setSupportsMultiplePlaylists(false);
    d.answerer.files.clear();
    const VtrFileInfoList written = writer->writePlaylists(playlists, "E:\\Lists");
    ASSERT_EQ(written.size(), 1);
    EXPECT_EQ(written[0]->name(), "First.m3u");
    const QStringList lines = QString::fromUtf8(d.answerer.files.value("E:\\Lists\\First.m3u")).split("\r\n");
    EXPECT_EQ(lines.filter(QRegularExpression("^\\\\Music")),
              (QStringList{"\\Music\\Björk\\Homogenic\\01 Hunter.mp3",
                           "\\Music\\Sigur Rós\\Ágætis byrjun\\02 Svefn-g-englar.mp3",
                           "\\Music\\東京事変\\教育\\03 林檎の唄.mp3"}));
}

TEST(Playlist, APhoneFailureLeavesThePlaylistOut)
{
    AnsweredDevice d;
    d.answerer.intercept = [](const QVariantMap &c, const QByteArray &) -> std::optional<QVariant> {
        if (c.value("command") == "FS_OPEN_FILE") throw VtrException("DeviceException", "Device error: full");
        return std::nullopt;
    };
    auto writer = VtrMusicPlaylist_m3u::playlistWithDevice(&d.device);
    EXPECT_EQ(writer->writePlaylist("x", kTracks, "E:\\Lists"), nullptr);
}

// ---- iriver ---------------------------------------------------------------------------------------------------

TEST(Playlist, IriverFileMatchesItsLayoutByteForByte)
{
    AnsweredDevice d;
    auto writer = VtrMusicPlaylist_iriver::playlistWithDevice(&d.device);
    writer->setUsesRelativePaths(false);
    QList<VtrPlaylistTrack> tracks = kTracks;
    // A path that leaves no room for its terminating zero is left out.
    tracks.insert(1, {"E:\\" + QString(300, QChar(u'x')) + ".mp3", "", -1});
    tracks.append({"E:\\" + QString(kMaxIriverRoom, QChar(u'y')), "", -1});
    const VtrFileInfoPtr node = writer->writePlaylist("Fahrt ins Blaue", tracks, "E:\\Playlists");
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->name(), "Fahrt ins Blaue.pla");
    const QByteArray bytes = d.answerer.files.value("E:\\Playlists\\Fahrt ins Blaue.pla");

    const QStringList references{
        "\\Music\\Björk\\Homogenic\\01 Hunter.mp3", "\\Music\\Sigur Rós\\Ágætis byrjun\\02 Svefn-g-englar.mp3",
        "\\Music\\東京事変\\教育\\03 林檎の唄.mp3", "\\" + QString(kMaxIriverRoom, QChar(u'y'))};
    const QByteArray expected = expectedIriverFile(references);
    ASSERT_EQ(bytes.size(), expected.size());
    for (int i = 0; i < bytes.size(); ++i)
        ASSERT_EQ(quint8(bytes[i]), quint8(expected[i])) << "byte " << i;

    // Spot checks of the layout itself.
    EXPECT_EQ(bytes.left(4), QByteArray("\x00\x00\x00\x04", 4));
    EXPECT_EQ(bytes.mid(4, 14), QByteArray("iriver UMS PLA"));
    EXPECT_EQ(bytes.mid(512, 2), QByteArray("\x00\x18", 2)); // "01 Hunter.mp3" starts at unit 24
    EXPECT_EQ(bytes.mid(514, 4), QByteArray("\x00\\\x00M", 4));

    // Relative references take the same layout.
    writer->setUsesRelativePaths(true);
    EXPECT_EQ(writer->playlistData({kTracks[0]}, "E:\\Playlists\\a.pla"),
              expectedIriverFile({"..\\Music\\Björk\\Homogenic\\01 Hunter.mp3"}));
    EXPECT_EQ(writer->playlistData({}, "E:\\a.pla"), expectedIriverFile({}));
}
