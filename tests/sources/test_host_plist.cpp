// Runs again under odd time zones (scripts/test.sh): it reads or writes dates.
#include "sources/host/LibraryLocation.h"
#include "sources/host/MediaLibraryHost.h"
#include "sources/host/PropertyListXml.h"
#include "sources/itunes/SyntheticLibrary.h"

#include "TestEnvironment.h"
#include "ZoneScope.h"
#include "support/LibraryTestFiles.h"

#include <QDateTime>
#include <QDir>
#include <QFile>

#include <gtest/gtest.h>
#include <sys/stat.h>

using vtr::PropertyListError;
using vtr::XmlPropertyListReader;
using vtr::XmlPropertyListWriter;

namespace {

const QString kSamples = QStringLiteral(VTR_SHARED_DATA_DIR "/samples/");

QByteArray wrap(const QByteArray &body)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE plist PUBLIC \"-//Apple Computer//DTD PLIST "
           "1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n<plist version=\"1.0\">\n" +
           body + "\n</plist>\n";
}

QVariant read(const QByteArray &body, PropertyListError *error = nullptr)
{
    return XmlPropertyListReader::readData(wrap(body), error).value_or(QVariant(QStringLiteral("<failed>")));
}

}  // namespace

TEST(HostPlist, ReadsEveryLibrarySampleInPlace)
{
    VTR_REQUIRE_SAMPLE(QStringLiteral("itunes-xml"));
    struct Case
    {
        const char *file;
        qsizetype tracks;
        qsizetype playlists;
    };
    const Case cases[] = {
        {"itunes-xml/beets-itunes_library_unix.xml", 3, 2},
        {"itunes-xml/beets-itunes_library_windows.xml", 3, 2},
        {"itunes-xml/libpytunes-Test Library.xml", 402, 11},
        {"itunes-xml/cervantesvive-iTunes Music Library-windows.xml", -1, -1},
        {"itunes-xml/cervantesvive-iTunes Music Library-mac.xml", 55, 14},
    };
    for (const Case &c : cases) {
        PropertyListError error;
        const auto map = XmlPropertyListReader::readDictionaryFile(kSamples + QLatin1String(c.file), &error);
        ASSERT_TRUE(map) << c.file << ": " << error.toString().toStdString();
        EXPECT_FALSE(map->value(QStringLiteral("Library Persistent ID")).toString().isEmpty()) << c.file;
        if (c.tracks >= 0) {
            EXPECT_EQ(map->value(QStringLiteral("Tracks")).toMap().size(), c.tracks) << c.file;
            EXPECT_EQ(map->value(QStringLiteral("Playlists")).toList().size(), c.playlists) << c.file;
        }
    }
    const auto albums = XmlPropertyListReader::readDictionaryFile(kSamples + "iphoto-albumdata/patsplat-plist-AlbumData.xml");
    ASSERT_TRUE(albums);
    EXPECT_EQ(albums->value(QStringLiteral("List of Albums")).toList().size(), 4);
}

TEST(HostPlist, DecodesEntitiesNonAsciiAndLineEndsOfRealFiles)
{
    VTR_REQUIRE_SAMPLE(QStringLiteral("itunes-xml"));
    const auto unix = XmlPropertyListReader::readDictionaryFile(kSamples + "itunes-xml/beets-itunes_library_unix.xml");
    ASSERT_TRUE(unix);
    QStringList names;
    for (const QVariant &t : unix->value(QStringLiteral("Tracks")).toMap())
        names.append(t.toMap().value(QStringLiteral("Name")).toString());
    EXPECT_TRUE(names.contains(QString::fromUtf8("❦ (Ripe & Ruin)"))) << names.join(QLatin1Char('|')).toStdString();

    const auto windows =
        XmlPropertyListReader::readDictionaryFile(kSamples + "itunes-xml/cervantesvive-iTunes Music Library-windows.xml");
    ASSERT_TRUE(windows);
    QStringList playlists;
    for (const QVariant &p : windows->value(QStringLiteral("Playlists")).toList())
        playlists.append(p.toMap().value(QStringLiteral("Name")).toString());
    EXPECT_TRUE(playlists.contains(QString::fromUtf8("90’s Music")));
    for (const QString &name : playlists)
        EXPECT_FALSE(name.contains(QLatin1Char('\r')));
}

TEST(HostPlist, ValueTypes)
{
    const QVariantMap m = read("<dict><key>big</key><integer>9007199254740993</integer>"
                               "<key>neg</key><integer>-9223372036854775808</integer>"
                               "<key>unsigned</key><integer>18446744073709551615</integer>"
                               "<key>real</key><real>2.5</real><key>t</key><true/><key>f</key><false />"
                               "<key>date</key><date>2011-02-03T04:05:06Z</date>"
                               "<key>data</key><data>\n  aGVs\n  bG8=\n</data>"
                               "<key>text</key><string>a &lt;b&gt; &amp; &#x263A; &#65;</string>"
                               "<key>cdata</key><string>x<![CDATA[<y>]]>z</string>"
                               "<key>empty</key><string/><key>list</key><array><string>1</string><dict/></array>"
                               "<!-- a comment --></dict>")
                              .toMap();
    EXPECT_EQ(m.value("big").typeId(), QMetaType::LongLong);
    EXPECT_EQ(m.value("big").toLongLong(), 9007199254740993LL);
    EXPECT_EQ(m.value("neg").toLongLong(), std::numeric_limits<qint64>::min());
    EXPECT_EQ(m.value("unsigned").toULongLong(), std::numeric_limits<quint64>::max());
    EXPECT_DOUBLE_EQ(m.value("real").toDouble(), 2.5);
    EXPECT_TRUE(m.value("t").toBool());
    EXPECT_EQ(m.value("f").typeId(), QMetaType::Bool);
    EXPECT_FALSE(m.value("f").toBool());
    EXPECT_EQ(m.value("date").toDateTime(), QDateTime(QDate(2011, 2, 3), QTime(4, 5, 6), Qt::UTC));
    EXPECT_EQ(m.value("data").toByteArray(), QByteArray("hello"));
    EXPECT_EQ(m.value("text").toString(), QString::fromUtf8("a <b> & ☺ A"));
    EXPECT_EQ(m.value("cdata").toString(), QStringLiteral("x<y>z"));
    EXPECT_TRUE(m.value("empty").toString().isEmpty());
    EXPECT_EQ(m.value("list").toList().size(), 2);
}

TEST(HostPlist, DatesAreTheSameInstantInEveryZoneAndRealsKeepEveryDigit)
{
    constexpr qint64 kInstant = 1296705906;  // 2011-02-03T04:05:06Z
    for (const char *zone : {"Pacific/Chatham", "America/Sao_Paulo", "Asia/Kathmandu", "UTC"}) {
        ZoneScope scope(zone);
        const QVariant date = read("<dict><key>d</key><date>2011-02-03T04:05:06Z</date></dict>").toMap().value("d");
        EXPECT_EQ(date.toDateTime().toSecsSinceEpoch(), kInstant) << zone;
        const QDateTime local = QDateTime::fromSecsSinceEpoch(kInstant, Qt::LocalTime);
        EXPECT_TRUE(XmlPropertyListWriter::toXml(QVariantMap{{"d", local}}).contains("<date>2011-02-03T04:05:06Z</date>"))
            << zone;
    }
    for (const double real : {0.1 + 0.2, 1.0 / 3, 123456789.123456789, 6.02214076e23, 4.9406564584124654e-324}) {
        const auto back = XmlPropertyListReader::readData(XmlPropertyListWriter::toXml(QVariantMap{{"r", real}}));
        ASSERT_TRUE(back);
        EXPECT_EQ(back->toMap().value("r").toDouble(), real) << XmlPropertyListWriter::toXml(QVariantMap{{"r", real}}).constData();
    }
}

TEST(HostPlist, DamagedDocumentsFailWithAReasonAndLine)
{
    const struct
    {
        const char *body;
        const char *reason;
    } cases[] = {
        {"<dict><key>a</key><integer>12x</integer></dict>", "64-bit integer"},
        {"<dict><key>a</key><integer>99999999999999999999999</integer></dict>", "64-bit integer"},
        {"<dict><key>a</key></dict>", "has no value"},
        {"<dict><string>a</string></dict>", "where a <key> was expected"},
        {"<dict><key>a</key><string>b</strin></dict>", "Mismatched closing tag"},
        {"<dict><key>a</key><frobnicate/></dict>", "Unknown element"},
        {"<dict><key>a</key><string>&bogus;</string></dict>", "unknown entity"},
        {"<dict><key>a</key><date>2011-13-45T00:00:00Z</date></dict>", "valid date"},
        {"<array><string>a</string></dict>", "Mismatched closing tag"},
        {"<dict><key>a</key><data>!!!</data></dict>", "Base64"},
        {"<dict/><dict/>", "Expected </plist>"},
    };
    for (const auto &c : cases) {
        PropertyListError error;
        EXPECT_FALSE(XmlPropertyListReader::readData(wrap(c.body), &error)) << c.body;
        EXPECT_TRUE(error.reason.contains(QLatin1String(c.reason), Qt::CaseInsensitive))
            << c.body << " -> " << error.reason.toStdString();
        EXPECT_EQ(error.line, 4) << c.body;
    }
    PropertyListError error;
    QByteArray deep;
    for (int i = 0; i < 1000; ++i)
        deep += "<array>";
    EXPECT_FALSE(XmlPropertyListReader::readData(wrap(deep), &error));
    EXPECT_TRUE(error.reason.contains(QLatin1String("nested too deeply")));
}

TEST(HostPlist, EveryTruncationOfALibraryIsAnErrorNeverAHalfModel)
{
    QVariantMap library = vtr::syntheticMusicLibrary(3, 2);
    const QByteArray whole = XmlPropertyListWriter::toXml(library);
    ASSERT_TRUE(XmlPropertyListReader::readData(whole));
    for (qsizetype cut = 0; cut < whole.size() - 10; cut += 7) {
        PropertyListError error;
        const auto value = XmlPropertyListReader::readData(QByteArrayView(whole.constData(), cut), &error);
        ASSERT_FALSE(value) << "cut at " << cut;
        EXPECT_FALSE(error.reason.isEmpty());
    }
}

TEST(HostPlist, WriterRoundTripsThroughAFileReadInBlocks)
{
    // Large enough that tokens straddle the reader's block boundaries.
    const QVariantMap library = vtr::syntheticMusicLibrary(3000, 40);
    const QString path = testenv::makeTempDir() + QStringLiteral("/lib.xml");
    testenv::writeFile(path, XmlPropertyListWriter::toXml(library));
    PropertyListError error;
    const auto back = XmlPropertyListReader::readDictionaryFile(path, &error);
    ASSERT_TRUE(back) << error.toString().toStdString();
    EXPECT_EQ(*back, library);

    testenv::writeFile(path, "<plist version=\"1.0\"><array/></plist>");
    EXPECT_FALSE(XmlPropertyListReader::readDictionaryFile(path, &error));
    EXPECT_FALSE(XmlPropertyListReader::readFile(path + QStringLiteral(".missing"), &error));
    EXPECT_TRUE(error.reason.contains(QLatin1String("could not be opened")));
}

TEST(HostLocation, LibraryLocationsBecomeLocalPathsOrNothing)
{
    const QString dir = testenv::makeTempDir();
    // A library brought from Windows: its media folder copied next to it.
    QDir(dir).mkpath(QStringLiteral("iTunes Media/Music/A B"));
    testenv::writeFile(dir + QStringLiteral("/iTunes Media/Music/A B/s.mp3"), "x");
    const QString libraryFile = dir + QStringLiteral("/iTunes Library.xml");
    const QString windowsMusic = QStringLiteral("file://localhost/C:/Users/p/Music/iTunes/iTunes%20Media/");

    const struct
    {
        QString location;
        QString music;
        QString expected;  // "" = null
    } cases[] = {
        {QStringLiteral("file://localhost/Users/p/a%20b.mp3"), {}, QStringLiteral("/Users/p/a b.mp3")},
        {QStringLiteral("file:///Users/p/%E2%9D%A6.mp3"), {}, QString::fromUtf8("/Users/p/❦.mp3")},
        {QStringLiteral("file:////Music/x.mp3"), {}, QStringLiteral("/Music/x.mp3")},
        {QStringLiteral("file://localhost/C:/Users/p/Music/iTunes/iTunes%20Media/Music/A%20B/s.mp3"), windowsMusic,
         dir + QStringLiteral("/iTunes Media/Music/A B/s.mp3")},
        {QStringLiteral("file://localhost/c:/users/p/music/itunes/itunes%20media/Music/A%20B/s.mp3"), windowsMusic,
         dir + QStringLiteral("/iTunes Media/Music/A B/s.mp3")},
        {QStringLiteral("file://localhost/G:/Music/x.mp3"), windowsMusic, {}},
        {QStringLiteral("file://localhost/Users/p/../../etc/passwd"), {}, {}},
        {QStringLiteral("file://localhost/Users/p/%2E%2E/%2e%2e/etc/passwd"), {}, {}},
        {QStringLiteral("file://localhost/C:/Users/p/Music/iTunes/iTunes%20Media/..%5C..%5Cx"), windowsMusic, {}},
        {QStringLiteral("http://example.com/stream.mp3"), {}, {}},
        {QStringLiteral("file://otherhost/share/x.mp3"), {}, {}},
        {QStringLiteral("file://localhost/a%00b"), {}, {}},
    };
    for (const auto &c : cases) {
        const QString got = vtr::localPathForLibraryLocation(c.location, libraryFile, c.music);
        if (c.expected.isEmpty())
            EXPECT_TRUE(got.isNull()) << c.location.toStdString() << " -> " << got.toStdString();
        else
            EXPECT_EQ(got, c.expected) << c.location.toStdString();
    }
    const QString odd = QString::fromUtf8("/tmp/a b/#%?\"é.mp3");
    EXPECT_EQ(vtr::localPathForLibraryLocation(vtr::libraryLocationForLocalPath(odd)), odd);
    EXPECT_TRUE(vtr::libraryLocationForLocalPath(QStringLiteral("/m"), true).endsWith(QLatin1String("/m/")));
}

TEST(HostLocation, ABroughtLibraryNamesOnlySoundAndVideoInsideItsOwnFolders)
{
    // The person's own file elsewhere, which no library location may reach.
    const QString outside = testenv::makeTempDir(QStringLiteral("outside"));
    const QString secret = outside + QStringLiteral("/secret.wav");
    testenv::writeFile(secret, libtest::silentWav());
    libtest::OpenWatch watch(secret);
    ASSERT_TRUE(watch.watching());

    // A library brought from a Mac with its media folder beside it.
    const QString brought = testenv::makeTempDir(QStringLiteral("brought"));
    const QString libraryFile = brought + QStringLiteral("/iTunes Music Library.xml");
    const QString macMusic = QStringLiteral("file://localhost/Users/p/Music/iTunes/iTunes%20Music/");
    const QString media = brought + QStringLiteral("/iTunes Music/A");
    testenv::writeFile(media + QStringLiteral("/song.wav"), libtest::silentWav());
    testenv::writeFile(media + QStringLiteral("/text.mp3"), "named like a song");
    // A one-track Standard MIDI file: no movie reader takes it.
    testenv::writeFile(media + QStringLiteral("/tune.mid"),
                       QByteArray("MThd\0\0\0\x06\0\0\0\x01\0\x60MTrk\0\0\0\x04\0\xff\x2f\0", 26));
    ASSERT_TRUE(QFile::link(secret, media + QStringLiteral("/link.wav")));
    ASSERT_EQ(::mkfifo(QFile::encodeName(media + QStringLiteral("/pipe.mp3")).constData(), 0600), 0);
    // A folder of the person's own that the library names as its music folder,
    // and one whose name only begins like it.
    const QString ownMusic = testenv::makeTempDir(QStringLiteral("own-music"));
    testenv::writeFile(ownMusic + QStringLiteral("/own.wav"), libtest::silentWav());
    testenv::writeFile(ownMusic + QStringLiteral("2/beside.wav"), libtest::silentWav());
    const QString aboveHome = QFileInfo(QDir::homePath()).absolutePath();

    const auto trackFile = [](const QString &location, const QString &library, const QString &music) {
        return vtr::trackFileForLibraryLocation(location, MediaLibraryHost::trackFoldersOf(library, music));
    };
    const auto mac = [&macMusic](const char *rest) { return macMusic + QLatin1String(rest); };
    const auto here = [](const QString &path) { return vtr::libraryLocationForLocalPath(path); };
    const struct
    {
        QString location, music, expected;  // expected "" = refused
    } cases[] = {
        {mac("A/song.wav"), macMusic, media + QStringLiteral("/song.wav")},
        {mac("A/text.mp3"), macMusic, {}},   // not sound by its content
        {mac("A/tune.mid"), macMusic, media + QStringLiteral("/tune.mid")},
        {mac("A/link.wav"), macMusic, {}},   // a link out of the brought folder
        {mac("A/pipe.mp3"), macMusic, {}},   // not a file
        {QStringLiteral("file:///etc/passwd"), macMusic, {}},
        {here(secret), macMusic, {}},        // anywhere else on this computer
        {here(ownMusic + QStringLiteral("/own.wav")), here(ownMusic), ownMusic + QStringLiteral("/own.wav")},
        {here(ownMusic + QStringLiteral("2/beside.wav")), here(ownMusic), {}},
        {here(secret), QStringLiteral("file:///"), {}},  // "/" is no music folder
        {here(secret), here(QDir::homePath()), {}},      // nor is the home folder
        {here(secret), here(aboveHome), {}},             // nor one above it
    };
    for (const auto &c : cases) {
        const QString got = trackFile(c.location, libraryFile, c.music);
        EXPECT_EQ(got, c.expected.isEmpty() ? QString() : QFileInfo(c.expected).canonicalFilePath())
            << c.location.toStdString();
    }
    // A library file in the home folder itself gives what was brought in
    // the folder beside it, not whatever else the home folder holds.
    const QString homeLibrary = QDir::homePath() + QStringLiteral("/iTunes Music Library.xml");
    testenv::writeFile(QDir::homePath() + QStringLiteral("/iTunes Music/A/song.wav"), libtest::silentWav());
    testenv::writeFile(QDir::homePath() + QStringLiteral("/loose.wav"), libtest::silentWav());
    EXPECT_EQ(trackFile(mac("A/song.wav"), homeLibrary, macMusic),
              QFileInfo(QDir::homePath() + QStringLiteral("/iTunes Music/A/song.wav")).canonicalFilePath());
    EXPECT_TRUE(trackFile(here(QDir::homePath() + QStringLiteral("/loose.wav")), homeLibrary, macMusic).isNull());
    EXPECT_FALSE(watch.opened()) << "the file outside was read";

    // The host's own library names what the host filed, as it filed it.
    MediaLibraryHost &host = MediaLibraryHost::shared();
    const QString phone = testenv::makeTempDir(QStringLiteral("phone"));
    testenv::writeFile(phone + QStringLiteral("/clip.mp4"), "a video by its name");
    const qint64 id = host.addMediaFiles(phone + QStringLiteral("/clip.mp4"), QStringLiteral("Imported")).first();
    const auto library = vtr::XmlPropertyListReader::readDictionaryFile(MediaLibraryHost::musicLibraryFilePath());
    ASSERT_TRUE(library);
    const QVariantMap track = library->value(QStringLiteral("Tracks")).toMap().value(QString::number(id)).toMap();
    EXPECT_EQ(trackFile(track.value(QStringLiteral("Location")).toString(), MediaLibraryHost::musicLibraryFilePath(),
                        library->value(QStringLiteral("Music Folder")).toString()),
              QFileInfo(MediaLibraryHost::videosFolder() + QStringLiteral("/Imported/clip.mp4")).canonicalFilePath());
}
