// The music an old iPhone holds: its songs read from its mounted media folder
// (where the desktop shows the phone, found by its UDID) or through the
// phone's file service, and the library tracks behind them, or those of a
// sync selection.
#include "devices/afc/FakeAfcService.h"
#include "devices/usb/VolumeDetection.h"
#include "fileinfo/MountTable.h"
#include "fileinfo/VtrMacFileInfo.h"
#include "foundation/Log.h"
#include "platform/VtrException.h"
#include "sources/host/LibraryLocation.h"
#include "sources/host/PropertyListXml.h"
#include "sources/iphone/iPhoneMusic.h"
#include "sources/itunes/VtrITunes.h"

#include "TestEnvironment.h"
#include "support/LibraryTestFiles.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <unistd.h>

using vtr::iphone::PhoneTrack;

namespace {

// An MP3 file of a few silent frames with ID3 text frames ("TIT2" title,
// "TPE1" artist, "TPE2" album artist, "TALB" album, "TCON" genre).
QByteArray mp3(const QList<std::pair<QByteArray, QByteArray>> &frames) { return libtest::taggedMp3(frames); }

QStringList describe(const QList<PhoneTrack> &tracks)
{
    QStringList out;
    for (const PhoneTrack &t : tracks)
        out.append(QFileInfo(t.path).fileName() + QLatin1Char('|') + t.name + QLatin1Char('|') + t.artist
                   + QLatin1Char('|') + t.album + QLatin1Char('|') + t.genre);
    return out;
}

// What the walk logs while it lives.
class LoggedLines
{
public:
    LoggedLines()
    {
        LogSetSystemLogSink([this](const QString &line) { m_text += line + QLatin1Char('\n'); });
    }
    ~LoggedLines() { LogSetSystemLogSink({}); }
    const QString &text() const { return m_text; }

private:
    QString m_text;
};

QList<qint64> ids(const iTunesInfo::ItemList &tracks)
{
    QList<qint64> out;
    for (const auto &t : tracks) out.append(t->itemID());
    return out;
}

} // namespace

TEST(IPhoneMusic, ThePhonesSongsAreTheTaggedSoundFilesOfItsMediaFolder)
{
    const QString other = testenv::makeTempDir(QStringLiteral("card"));
    testenv::writeFile(other + QStringLiteral("/Music/song.mp3"), mp3({{"TIT2", "Loose"}}));
    const VtrFileInfoPtr card = VtrMacFileInfo::fileInfoWithPath(other);
    EXPECT_FALSE(vtr::iphone::phoneTracksInMediaFolders({card}).has_value()) << "no iPhone media folder";
    EXPECT_FALSE(vtr::iphone::phoneTracksInMediaFolders({}).has_value());

    const QString media = testenv::makeTempDir(QStringLiteral("media"));
    const QString music = media + QStringLiteral("/iTunes_Control/Music");
    testenv::writeFile(music + QStringLiteral("/F01/BCDE.mp3"),
                       mp3({{"TIT2", "Blue"}, {"TPE1", "Nina"}, {"TALB", "Live"}, {"TCON", "Jazz"}}));
    testenv::writeFile(music + QStringLiteral("/F00/ABCD.mp3"), mp3({{"TIT2", "Rain"}, {"TPE2", "Various"}}));
    testenv::writeFile(music + QStringLiteral("/F02/CDEF.mp3"), mp3({}));
    testenv::writeFile(music + QStringLiteral("/F02/notes.txt"), "not a song");
    ASSERT_TRUE(QDir().mkpath(music + QStringLiteral("/F03")));
    ASSERT_TRUE(QFile::link(other + QStringLiteral("/Music/song.mp3"), music + QStringLiteral("/F03/LINK.mp3")));

    const auto tracks = vtr::iphone::phoneTracksInMediaFolders({card, VtrMacFileInfo::fileInfoWithPath(media)});
    ASSERT_TRUE(tracks.has_value());
    EXPECT_EQ(describe(*tracks), (QStringList{QStringLiteral("ABCD.mp3|Rain|Various||"),
                                              QStringLiteral("BCDE.mp3|Blue|Nina|Live|Jazz"),
                                              QStringLiteral("CDEF.mp3||||")}))
        << "in path order; a link out of the folder is not followed";
}

TEST(IPhoneMusic, NoLinkOfTheMediaFolderIsFollowedOntoThisComputer)
{
    // The person's own files, where the phone's links point.
    const QString home = testenv::makeTempDir(QStringLiteral("home"));
    testenv::writeFile(home + QStringLiteral("/.ssh/id_rsa.mp3"), mp3({{"TIT2", "Key"}}));
    testenv::writeFile(home + QStringLiteral("/Music/mine.mp3"), mp3({{"TIT2", "Mine"}}));
    const auto mediaFolder = [](const QString &hint) {
        const QString media = testenv::makeTempDir(hint);
        EXPECT_TRUE(QDir().mkpath(media + QStringLiteral("/iTunes_Control")));
        return media;
    };
    // The music folder, the control folder (exactly named and in other
    // letters) and folders and songs within the music folder are links.
    const QString musicLink = mediaFolder(QStringLiteral("music-link"));
    ASSERT_TRUE(QFile::link(home + QStringLiteral("/.ssh"), musicLink + QStringLiteral("/iTunes_Control/Music")));
    const QString controlLink = testenv::makeTempDir(QStringLiteral("control-link"));
    ASSERT_TRUE(QFile::link(home, controlLink + QStringLiteral("/iTunes_Control")));
    const QString caseLink = testenv::makeTempDir(QStringLiteral("case-link"));
    ASSERT_TRUE(QFile::link(home, caseLink + QStringLiteral("/ITUNES_CONTROL")));
    const QString inside = mediaFolder(QStringLiteral("inside"));
    const QString music = inside + QStringLiteral("/iTunes_Control/Music");
    testenv::writeFile(music + QStringLiteral("/F00/OURS.mp3"), mp3({{"TIT2", "Ours"}}));
    ASSERT_TRUE(QFile::link(home + QStringLiteral("/Music"), music + QStringLiteral("/F01")));
    ASSERT_TRUE(QFile::link(home + QStringLiteral("/Music/mine.mp3"), music + QStringLiteral("/F00/MINE.mp3")));

    libtest::OpenWatch watch({home, home + QStringLiteral("/.ssh"), home + QStringLiteral("/Music")});
    ASSERT_TRUE(watch.watching());
    const LoggedLines log;
    VtrFileInfoList storages;
    for (const QString &media : {musicLink, controlLink, caseLink, inside})
        storages.append(VtrMacFileInfo::fileInfoWithPath(media));
    const auto tracks = vtr::iphone::phoneTracksInMediaFolders(storages);
    EXPECT_FALSE(watch.opened()) << "a file of this computer was opened through the phone's link";
    ASSERT_TRUE(tracks.has_value());
    EXPECT_EQ(describe(*tracks), QStringList{QStringLiteral("OURS.mp3|Ours|||")});
    EXPECT_TRUE(log.text().contains(QStringLiteral("%1: 1 links").arg(musicLink))) << log.text().toStdString();
    EXPECT_TRUE(log.text().contains(QStringLiteral("%1: 2 links").arg(inside))) << log.text().toStdString();
    EXPECT_FALSE(vtr::iphone::phoneTracksInMediaFolders({storages.at(1), storages.at(2)}).has_value());
}

TEST(IPhoneMusic, AMusicFolderLinkedToTheRootIsNotWalked)
{
    const QString media = testenv::makeTempDir(QStringLiteral("media"));
    ASSERT_TRUE(QDir().mkpath(media + QStringLiteral("/iTunes_Control")));
    ASSERT_TRUE(QFile::link(QStringLiteral("/"), media + QStringLiteral("/iTunes_Control/Music")));
    const LoggedLines log;
    EXPECT_FALSE(vtr::iphone::phoneTracksInMediaFolders({VtrMacFileInfo::fileInfoWithPath(media)}).has_value());
    EXPECT_TRUE(log.text().contains(QStringLiteral("1 links"))) << log.text().toStdString();
}

TEST(IPhoneMusic, TheWalkOfAMountedMediaFolderIsBoundedAndSaysWhatItLeftOut)
{
    const QString media = testenv::makeTempDir(QStringLiteral("media"));
    const QString music = media + QStringLiteral("/iTunes_Control/Music");
    for (const char *song : {"F00/A.mp3", "F00/B.mp3", "F01/C.mp3", "F02/sub/D.mp3", "F02/sub/deeper/E.mp3"})
        testenv::writeFile(music + QLatin1Char('/') + QLatin1String(song), mp3({{"TIT2", QByteArray(song).right(5)}}));
    const VtrFileInfoPtr folder = VtrMacFileInfo::fileInfoWithPath(media);
    {
        // As deep as the phone's file service is walked, no deeper.
        const LoggedLines log;
        const auto tracks = vtr::iphone::phoneTracksInMediaFolders({folder});
        ASSERT_TRUE(tracks.has_value());
        EXPECT_EQ(tracks->size(), 4);
        EXPECT_TRUE(log.text().contains(QStringLiteral("1 folders deeper than 2 levels"))) << log.text().toStdString();
    }
    const LoggedLines log;
    const auto tracks = vtr::iphone::phoneTracksInMediaFolders({folder}, {3, 2});
    ASSERT_TRUE(tracks.has_value());
    EXPECT_EQ(describe(*tracks), (QStringList{QStringLiteral("A.mp3|A.mp3|||"), QStringLiteral("B.mp3|B.mp3|||")}));
    EXPECT_TRUE(log.text().contains(QStringLiteral("after the first 2 songs"))) << log.text().toStdString();
}

// More names than the walk may list: the listing stops inside the full
// folder, whatever order the folder gives its names in, and the next folder
// is not looked into.
TEST(IPhoneMusic, AMountedFolderOfMoreNamesThanTheBoundIsListedOnlyUpToIt)
{
    const QString media = testenv::makeTempDir(QStringLiteral("media"));
    const QString music = media + QStringLiteral("/iTunes_Control/Music");
    for (int i = 0; i < 30; ++i)
        testenv::writeFile(music + QStringLiteral("/F00/A%1.mp3").arg(i, 2, 10, QLatin1Char('0')), mp3({}));
    testenv::writeFile(music + QStringLiteral("/F01/Z.mp3"), mp3({{"TIT2", "After"}}));
    const LoggedLines log;
    vtr::iphone::SongWalkBounds bounds;
    bounds.names = 10;
    const auto tracks = vtr::iphone::phoneTracksInMediaFolders({VtrMacFileInfo::fileInfoWithPath(media)}, bounds);
    ASSERT_TRUE(tracks.has_value());
    // "F00" and "F01", then 8 of the songs.
    EXPECT_EQ(tracks->size(), 8);
    for (const PhoneTrack &t : *tracks)
        EXPECT_TRUE(t.path.startsWith(music + QStringLiteral("/F00/"))) << t.path.toStdString();
    EXPECT_TRUE(log.text().contains(
        QStringLiteral("after the first 10 names listed (the listing stopped in %1/F00)").arg(music)))
        << log.text().toStdString();
}

TEST(IPhoneMusic, ASongWithManyNamesIsReadOnce)
{
    const QString media = testenv::makeTempDir(QStringLiteral("media"));
    const QString music = media + QStringLiteral("/iTunes_Control/Music");
    testenv::writeFile(music + QStringLiteral("/F00/A.mp3"), mp3({{"TIT2", "Once"}}));
    testenv::writeFile(music + QStringLiteral("/F01/B.mp3"), mp3({{"TIT2", "Other"}}));
    for (const char *name : {"F00/B.mp3", "F00/C.mp3", "F01/A.mp3", "F02/A.mp3"}) {
        ASSERT_TRUE(QDir().mkpath(QFileInfo(music + QLatin1Char('/') + QLatin1String(name)).path()));
        ASSERT_EQ(::link(QFile::encodeName(music + QStringLiteral("/F00/A.mp3")).constData(),
                         QFile::encodeName(music + QLatin1Char('/') + QLatin1String(name)).constData()),
                  0);
    }
    const LoggedLines log;
    const auto tracks = vtr::iphone::phoneTracksInMediaFolders({VtrMacFileInfo::fileInfoWithPath(media)});
    ASSERT_TRUE(tracks.has_value());
    EXPECT_EQ(describe(*tracks), (QStringList{QStringLiteral("A.mp3|Once|||"), QStringLiteral("B.mp3|Other|||")}));
    EXPECT_TRUE(log.text().contains(QStringLiteral("4 more names of songs already read"))) << log.text().toStdString();
}

// Tags that lie past the first bytes the reader asks for: a song whose
// first tag is long (a lyric, a comment) before its title.
TEST(IPhoneMusic, TagsFarIntoASongAreRead)
{
    // ID3 2.3: frame sizes are plain numbers, the tag's size is 7 bits a byte.
    QByteArray body;
    const QList<std::pair<QByteArray, QByteArray>> frames{
        {"TCOM", QByteArray(200 * 1024, 'c')}, {"TIT2", "Far"}, {"TPE1", "Nina"}};
    for (const auto &[id, value] : frames) {
        const QByteArray text = '\0' + value;
        body += id;
        for (int shift : {24, 16, 8, 0}) body.append(char((text.size() >> shift) & 0xFF));
        body += QByteArray(2, '\0') + text;
    }
    QByteArray song("ID3\x03\x00\x00", 6);
    for (int shift : {21, 14, 7, 0}) song.append(char((body.size() >> shift) & 0x7F));
    song += body + (QByteArray("\xff\xfb\x90\x00", 4) + QByteArray(413, '\0')).repeated(12);

    const QString media = testenv::makeTempDir(QStringLiteral("media"));
    const QString path = media + QStringLiteral("/iTunes_Control/Music/F00/LONG.mp3");
    testenv::writeFile(path, song);
    const auto tracks = vtr::iphone::phoneTracksInMediaFolders({VtrMacFileInfo::fileInfoWithPath(media)});
    ASSERT_TRUE(tracks.has_value());
    EXPECT_EQ(describe(*tracks), QStringList{QStringLiteral("LONG.mp3|Far|Nina||")});
    EXPECT_EQ(describe({vtr::iphone::phoneTrackForFile(path)}), QStringList{QStringLiteral("LONG.mp3|Far|Nina||")});
}

namespace {

const QString kUdid = QStringLiteral("00008030-001A2D3E0C11802E");
const QString kSerial = QStringLiteral("00008030001A2D3E0C11802E");
const QString kSongs = QStringLiteral("/iTunes_Control/Music");

// The phone's file service answers from memory, and the desktop's mounts are
// what a test lists beside the real ones.
class PhoneSongs : public ::testing::Test
{
protected:
    void SetUp() override { vtr::afc::setSharedAfcService(m_service); }
    void TearDown() override
    {
        vtr::afc::setSharedAfcService(nullptr);
        vtr::MountTable::setAddedLines({});
        VolumeDetection::sharedManager()->setMediaMountProbesForTesting(std::nullopt);
    }
    static QByteArray mountLine(int id, const QString &point, const char *type)
    {
        return QByteArray::number(id) + " 1 0:" + QByteArray::number(id) + " / " +
               QFile::encodeName(point).replace(" ", "\\040") + " rw,nosuid,nodev - " + type + " " +
               QByteArray(type).mid(5) + " rw,user_id=" + QByteArray::number(::getuid()) + ",group_id=1000\n";
    }
    static QStringList names(const std::optional<QList<PhoneTrack>> &tracks)
    {
        QStringList out;
        for (const PhoneTrack &t : tracks.value_or(QList<PhoneTrack>())) out.append(t.name);
        return out;
    }
    std::shared_ptr<vtr::afc::FakeAfcService> m_service = std::make_shared<vtr::afc::FakeAfcService>();
};

} // namespace

TEST_F(PhoneSongs, TheDesktopsAndIfusesMountsOfThisPhoneGiveItsSongs)
{
    // The desktop mounts its phones in the runtime folder.
    const QDir runtime(QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation));
    ASSERT_TRUE(runtime.mkpath(QStringLiteral("gvfs")));
    const QString gvfs = QFileInfo(runtime.filePath(QStringLiteral("gvfs"))).canonicalFilePath();
    const QString other = gvfs + QStringLiteral("/afc:host=4e3d1f0a9b8c7d6e5f4a3b2c1d0e9f8a7b6c5d4e");
    testenv::writeFile(other + kSongs + QStringLiteral("/F00/AAAA.mp3"), mp3({{"TIT2", "Not ours"}}));
    vtr::MountTable::setAddedLines(mountLine(9001, gvfs, "fuse.gvfsd-fuse"));
    EXPECT_FALSE(vtr::iphone::phoneTracks(kSerial, {}).has_value()) << "another phone's mount only";
    ASSERT_TRUE(QDir().mkpath(gvfs + QStringLiteral("/afc:host=") + kUdid + QStringLiteral("/iTunes_Control/iTunes")));
    const auto none = vtr::iphone::phoneTracks(kSerial, {});
    EXPECT_TRUE(none.has_value() && none->isEmpty()) << "the phone's partition holds no synced song";

    // The desktop mounts the phone once it trusts this computer.
    testenv::writeFile(gvfs + QStringLiteral("/afc:host=") + kUdid + kSongs + QStringLiteral("/F07/QWER.mp3"),
                       mp3({{"TIT2", "Ours"}}));
    EXPECT_EQ(names(vtr::iphone::phoneTracks(kSerial, {})), QStringList{QStringLiteral("Ours")});
    EXPECT_EQ(names(vtr::iphone::phoneTracks(kSerial.toLower(), {})), QStringList{QStringLiteral("Ours")});

    // An ifuse mount named by its command line, the desktop's mount gone.
    const QString ifuse = testenv::makeTempDir(QStringLiteral("my iphone"));
    testenv::writeFile(ifuse + kSongs + QStringLiteral("/F01/ZXCV.mp3"), mp3({{"TIT2", "Mounted by hand"}}));
    vtr::MountTable::setAddedLines(mountLine(9002, ifuse, "fuse.ifuse"));
    vtr::apple::MediaMountProbes probes = vtr::apple::systemMediaMountProbes();
    probes.ifuseProcesses = [ifuse] {
        return QList<vtr::apple::FuseProcess>{
            {{QStringLiteral("ifuse"), QStringLiteral("-u"), kUdid, ifuse}, qint64(::getuid())}};
    };
    VolumeDetection::sharedManager()->setMediaMountProbesForTesting(probes);
    EXPECT_EQ(names(vtr::iphone::phoneTracks(kSerial, {})), QStringList{QStringLiteral("Mounted by hand")});
    EXPECT_EQ(m_service->openings(), 1) << "the file service is asked only without a mount";
}

TEST_F(PhoneSongs, WithoutAMountThePhonesFileServiceListsItsSongs)
{
    vtr::afc::FakeAfcService::Phone phone;
    phone.files.insert(kSongs.mid(1) + QStringLiteral("/F01/BCDE.mp3"), mp3({{"TIT2", "Blue"}, {"TPE1", "Nina"}}));
    phone.files.insert(kSongs.mid(1) + QStringLiteral("/F00/ABCD.mp3"), mp3({{"TIT2", "Rain"}, {"TCON", "Jazz"}}));
    phone.files.insert(kSongs.mid(1) + QStringLiteral("/F00/notes.txt"), "not a song");
    phone.files.insert(QStringLiteral("iTunes_Control/Artwork/ART.mp3"), mp3({{"TIT2", "Elsewhere"}}));
    m_service->setPhone(kUdid, phone);
    const auto tracks = vtr::iphone::phoneTracks(kSerial, {});
    ASSERT_TRUE(tracks.has_value());
    EXPECT_EQ(describe(*tracks), (QStringList{QStringLiteral("ABCD.mp3|Rain|||Jazz"),
                                              QStringLiteral("BCDE.mp3|Blue|Nina||")}));

    // A phone without synced songs holds none; one the service does not know
    // leaves its songs unknown.
    m_service->setPhone(kUdid, {});
    const auto none = vtr::iphone::phoneTracks(kSerial, {});
    EXPECT_TRUE(none.has_value() && none->isEmpty());
    EXPECT_FALSE(vtr::iphone::phoneTracks(QStringLiteral("ffffffff0000000000000000"), {}).has_value());
}

TEST_F(PhoneSongs, TheFileServiceListsNoMoreNamesThanTheBound)
{
    vtr::afc::FakeAfcService::Phone phone;
    for (int i = 0; i < 30; ++i)
        phone.files.insert(kSongs.mid(1) + QStringLiteral("/F00/A%1.mp3").arg(i, 2, 10, QLatin1Char('0')),
                           mp3({{"TIT2", QByteArray::number(i)}}));
    phone.files.insert(kSongs.mid(1) + QStringLiteral("/F01/Z.mp3"), mp3({{"TIT2", "After"}}));
    m_service->setPhone(kUdid, phone);
    const LoggedLines log;
    vtr::iphone::SongWalkBounds bounds;
    bounds.names = 10;
    // "F00" and "F01", then the first 8 names of "F00"; "F01" is not listed.
    EXPECT_EQ(names(vtr::iphone::phoneTracks(kSerial, {}, bounds)),
              (QStringList{"0", "1", "2", "3", "4", "5", "6", "7"}));
    EXPECT_TRUE(log.text().contains(QStringLiteral("read through its file service: everything after the first 10 "
                                                   "names listed (the listing stopped in iTunes_Control/Music/F00)")))
        << log.text().toStdString();
}

TEST_F(PhoneSongs, APhoneThatRefusesThisComputerOrFailsMidwayIsNamed)
{
    const auto reason = [&](vtr::afc::Refusal refusal) -> QString {
        m_service->setPhone(kUdid, {refusal, {}, {}});
        try {
            vtr::iphone::phoneTracks(kSerial, {});
        } catch (const VtrException &e) {
            EXPECT_EQ(e.name(), QLatin1String(vtr::iphone::kPhoneNotTrustedException));
            return e.reason();
        }
        return QStringLiteral("no exception");
    };
    EXPECT_TRUE(reason(vtr::afc::Refusal::Locked).contains(QStringLiteral("Unlock it")));
    for (const auto refusal : {vtr::afc::Refusal::Locked, vtr::afc::Refusal::TrustPending, vtr::afc::Refusal::TrustDenied})
        EXPECT_TRUE(reason(refusal).contains(QStringLiteral("tap \"Trust\""))) << int(refusal);

    // A song whose reading fails in its middle is unreadable with the
    // phone's reason; the next one is read all the same.
    vtr::afc::FakeAfcService::Phone phone;
    const QString song = kSongs.mid(1) + QStringLiteral("/F00/ABCD.mp3");
    phone.files.insert(song, libtest::taggedMp3({{"TIT2", "Rain"}}, 400));
    phone.failAfter.insert(song, 100);
    phone.files.insert(kSongs.mid(1) + QStringLiteral("/F00/BCDE.mp3"), mp3({{"TIT2", "Sun"}}));
    m_service->setPhone(kUdid, phone);
    const auto tracks = vtr::iphone::phoneTracks(kSerial, {});
    ASSERT_TRUE(tracks.has_value() && tracks->size() == 2);
    EXPECT_EQ(tracks->at(0).unreadable, QStringLiteral("the connection to the phone was lost"));
    EXPECT_TRUE(tracks->at(1).unreadable.isEmpty());
    EXPECT_EQ(tracks->at(1).name, QStringLiteral("Sun"));
}

class IPhoneMusicChoice : public ::testing::Test
{
protected:
    // A library in a folder of its own, its files in its music folder; a
    // track without "file" has no file here.
    void SetUp() override
    {
        m_folder = testenv::makeTempDir(QStringLiteral("library"));
        QVariantMap tracks;
        const auto add = [&](int id, QVariantMap fields, bool file = true) {
            const QString path = m_folder + QStringLiteral("/Music/%1.mp3").arg(id);
            if (file) testenv::writeFile(path, mp3({}));
            fields.insert(QStringLiteral("Track ID"), id);
            fields.insert(QStringLiteral("Persistent ID"), QStringLiteral("P%1").arg(id));
            fields.insert(QStringLiteral("Location"), vtr::libraryLocationForLocalPath(path));
            tracks.insert(QString::number(id), fields);
        };
        const QVariantMap song{{"Name", "Song"}, {"Artist", "Nina"}, {"Album", "Blue"}, {"Genre", "Jazz"}};
        add(1, song);
        add(2, song);
        add(3, song, false);
        add(4, {{"Name", "Other"}, {"Artist", "Bo"}});
        add(5, {{"Name", "Clip"}, {"Has Video", true}});
        add(6, {{"Name", "Locked"}, {"Protected", true}});
        add(7, {{"Name", "Extra"}});
        const QVariantList playlists{
            QVariantMap{{"Name", "Library"}, {"Master", true}, {"Playlist Persistent ID", "LIB"},
                        {"Playlist Items", QVariantList{QVariantMap{{"Track ID", 7}}}}},
            QVariantMap{{"Name", "Mix"}, {"Playlist Persistent ID", "MIX"},
                        {"Playlist Items", QVariantList{QVariantMap{{"Track ID", 7}}, QVariantMap{{"Track ID", 6}}}}}};
        const QVariantMap library{{"Library Persistent ID", "LIBID"},
                                  {"Music Folder", vtr::libraryLocationForLocalPath(m_folder + "/Music", true)},
                                  {"Tracks", tracks},
                                  {"Playlists", playlists}};
        const QString file = m_folder + QStringLiteral("/iTunes Music Library.xml");
        testenv::writeFile(file, vtr::XmlPropertyListWriter::toXml(library));
        auto itunes = std::make_shared<VtrITunes>();
        itunes->initWithFile(file);
        m_model.set_iTunes(itunes, false, true);
    }

    QString m_folder;
    iTunesInfo m_model;
};

TEST_F(IPhoneMusicChoice, TheLibraryTrackBehindEachSong)
{
    const auto song = [](const char *name, const char *artist = "", const char *album = "", const char *genre = "") {
        return PhoneTrack{QStringLiteral("/phone/%1.mp3").arg(QLatin1String(name)), QString::fromUtf8(name),
                          QString::fromUtf8(artist), QString::fromUtf8(album), QString::fromUtf8(genre)};
    };
    const QList<PhoneTrack> phone{
        song("Song", "Nina", "Blue", "Jazz"), // 3 is newest, but its file is not here: 2
        song("Song", "Nina", "Blue", "Jazz"), // the same song twice is offered once
        song("Other"),                        // tags the phone lacks match anything
        song("Other", "Someone"),             // another artist: not in the library
        song("song", "Nina"),                 // names match exactly
        song("Clip"),                         // on the phone, but no music
        song("Locked"),
        PhoneTrack{QStringLiteral("/phone/F00/XYZW.mp3"), {}, {}, {}, {}}, // no name answers no track
    };
    const auto choice = vtr::iphone::libraryTracksOnPhone(m_model, phone, std::nullopt);
    EXPECT_TRUE(choice.known);
    EXPECT_EQ(ids(choice.tracks), (QList<qint64>{2, 4}));
    EXPECT_EQ(choice.notInLibrary, (QStringList{QStringLiteral("Other"), QStringLiteral("song"),
                                                QStringLiteral("XYZW.mp3")}));

    const auto empty = vtr::iphone::libraryTracksOnPhone(m_model, QList<PhoneTrack>{}, std::nullopt);
    EXPECT_TRUE(empty.known) << "a phone without songs is known to hold none";
    EXPECT_TRUE(empty.tracks.isEmpty());
}

TEST_F(IPhoneMusicChoice, TheSyncSelectionOfThisLibraryOnly)
{
    const QVariantMap selection{{"iTunes Library ID", "LIBID"},
                                {"playlists", QVariantList{QVariantMap{{"playlist persistent id", "MIX"}}}}};
    QVariantMap elsewhere = selection;
    elsewhere.insert(QStringLiteral("iTunes Library ID"), QStringLiteral("OTHER"));

    const auto unknown = vtr::iphone::libraryTracksOnPhone(m_model, std::nullopt, elsewhere);
    EXPECT_FALSE(unknown.known) << "a selection made for another library tells nothing";
    EXPECT_TRUE(unknown.tracks.isEmpty());
    EXPECT_FALSE(vtr::iphone::libraryTracksOnPhone(m_model, std::nullopt, std::nullopt).known);

    const auto chosen = vtr::iphone::libraryTracksOnPhone(m_model, std::nullopt, selection);
    EXPECT_TRUE(chosen.known);
    EXPECT_EQ(ids(chosen.tracks), QList<qint64>{7}) << "the protected track of the playlist stays";

    const QList<PhoneTrack> phone{{QStringLiteral("/phone/a.mp3"), QStringLiteral("Other"), {}, {}, {}}};
    EXPECT_EQ(ids(vtr::iphone::libraryTracksOnPhone(m_model, phone, selection).tracks), (QList<qint64>{4, 7}));
}
