// The music an old iPhone holds: its songs read from its mounted media folder
// and the library tracks behind them, or those of a sync selection.
#include "fileinfo/VtrMacFileInfo.h"
#include "sources/host/LibraryLocation.h"
#include "sources/host/PropertyListXml.h"
#include "sources/iphone/iPhoneMusic.h"
#include "sources/itunes/VtrITunes.h"

#include "TestEnvironment.h"
#include "support/LibraryTestFiles.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

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
