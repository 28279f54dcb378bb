// The desktop's own media library seen through whole wizard runs: what a
// transfer files into the music, videos and pictures folders is there once
// however often the person runs the wizard and Generate, every sound format
// included; playlists whose folder was in the way come with the first run
// after it is set right; and a music library brought from another computer
// cannot make the wizard read, let alone copy, a file outside its own folders.

#include "support/EndToEnd.h"
#include "support/FamilyPhone.h"
#include "support/RealJobs.h"

#include "app/WizardStandIns.h"
#include "devices/phone/WindowsPhone7LocalDevice.h"
#include "platform/UserDefaults.h"
#include "sources/host/LibraryLocation.h"
#include "sources/host/MediaLibraryHost.h"
#include "sources/host/PropertyListXml.h"
#include "sources/itunes/VtrITunes.h"

#include "TestEnvironment.h"
#include "TestFolders.h"
#include "support/LibraryTestFiles.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <unistd.h>

// The camera library's driver modules, as in the other end-to-end runs.
extern "C" __attribute__((visibility("default"), used)) const char *__asan_default_options()
{
    return "fast_unwind_on_malloc=0";
}

namespace {

using e2e::sha1OfFile;

// Content hash -> the files below `folder` that hold it.
QMultiMap<QByteArray, QString> contentsBelow(const QString &folder)
{
    QMultiMap<QByteArray, QString> found;
    QDirIterator it(folder, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        found.insert(sha1OfFile(path), path);
    }
    return found;
}

void expectEachContentOnce(const QString &folder)
{
    const QMultiMap<QByteArray, QString> found = contentsBelow(folder);
    for (const QByteArray &hash : found.uniqueKeys())
        EXPECT_EQ(found.count(hash), 1) << QStringList(found.values(hash)).join(QLatin1Char(' ')).toStdString();
}

QString storage() { return WindowsPhone7LocalDevice::storageFolderPath(); }

constexpr int kSummaryState = 14;

// The music of the phone's fixture as it lands in the desktop's music folder.
const QString kMusicCollection = QStringLiteral("Solvenna to Windows Phone Imported Music");

struct AndroidRun : AndroidFixtureRun
{
    AndroidRun()
    {
        h.wizard().setCompanionAppFactory([](std::shared_ptr<MobileDeviceInterface>) {
            return std::shared_ptr<CompanionApp>(std::make_shared<FakeCompanionApp>());
        });
    }
};

TEST(EndToEndLibrary, TwoRunsAndAGenerateFileEverySongPhotoAndVideoOnce)
{
    testenv::removeTree(storage());
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run);
        AndroidRun wizard;
        ASSERT_TRUE(wizard.walk(-1));
        ASSERT_TRUE(wizard.h.terminated);
    }
    {
        AndroidRun wizard;
        ASSERT_TRUE(wizard.walk(kSummaryState));
        ASSERT_TRUE(wizard.idle());
        NS_AppController &w = wizard.h.wizard();
        w.setMusicValue(true);
        w.setPhotosValue(true);
        w.setVideosValue(true);
        w.setTransferInfo({});
        w.generate();
        ASSERT_TRUE(WizardHarness::waitFor([&] { return !w.transferInfo().isEmpty(); }, 120000));
        ASSERT_TRUE(wizard.idle());
    }

    // Every sound format of the phone reached the music folder, once.
    const QString music = MediaLibraryHost::musicFolder() + QLatin1Char('/') + kMusicCollection;
    QStringList suffixes;
    for (const QFileInfo &f : QDir(music).entryInfoList(QDir::Files)) suffixes.append(f.suffix().toLower());
    EXPECT_TRUE(suffixes.contains(QStringLiteral("flac"))) << suffixes.join(' ').toStdString();
    EXPECT_TRUE(suffixes.contains(QStringLiteral("ogg"))) << suffixes.join(' ').toStdString();
    for (const QString &folder : {MediaLibraryHost::musicFolder(), MediaLibraryHost::videosFolder(),
                                  MediaLibraryHost::picturesFolder(), storage() + QStringLiteral("/Music"),
                                  storage() + QStringLiteral("/Photos"), storage() + QStringLiteral("/Videos")}) {
        SCOPED_TRACE(folder.toStdString());
        EXPECT_FALSE(QDir(folder).isEmpty());
        expectEachContentOnce(folder);
    }
    // Each playlist names each song once, and every song it names is there.
    const QDir playlists(MediaLibraryHost::playlistsFolder());
    int entries = 0;
    for (const QFileInfo &f : playlists.entryInfoList({QStringLiteral("*.m3u8")}, QDir::Files)) {
        QStringList names;
        for (const QString &line : QString::fromUtf8(testenv::readFile(f.filePath())).split('\n', Qt::SkipEmptyParts))
            if (!line.startsWith('#')) names.append(line);
        EXPECT_EQ(QSet<QString>(names.cbegin(), names.cend()).size(), names.size()) << f.fileName().toStdString();
        for (const QString &name : names) EXPECT_TRUE(QFile::exists(playlists.filePath(name))) << name.toStdString();
        entries += int(names.size());
    }
    EXPECT_GT(entries, 0);
}

// The playlist files of the library's two "Playlists" folders, each checked
// to name only files that are there.
QStringList playlistFiles()
{
    QStringList files;
    for (const QString &folder : {MediaLibraryHost::playlistsFolder(), MediaLibraryHost::videoPlaylistsFolder()})
        for (const QFileInfo &f : QDir(folder).entryInfoList({QStringLiteral("*.m3u8")}, QDir::Files)) {
            files << f.filePath();
            for (const QString &line : QString::fromUtf8(testenv::readFile(f.filePath())).split('\n', Qt::SkipEmptyParts))
                if (!line.startsWith('#')) {
                    EXPECT_TRUE(QFile::exists(QDir(folder).filePath(line))) << line.toStdString();
                }
        }
    return files;
}

// A run of the family's phone to its end, on the walk or the one-step road,
// as a new start of the program: its music and videos lines.
std::optional<QStringList> transfer(int family, bool oneStep)
{
    MediaLibraryHost::shared().forgetLibrariesForTesting();
    e2e::FamilyPhone phone(family);
    NS_AppController &w = phone.run->h.wizard();
    if (phone.mtp) e2e::useFinishedCompanionApp(w, *phone.mtp);
    const int stop = oneStep ? kSummaryState : NS_AppController::kStateFinalSummary;
    if (!phone.run->h.walk([&] { return phone.plug(); }, stop, 120000) || !phone.run->idle()) return std::nullopt;
    if (oneStep) {
        w.setMusicValue(true);
        w.setPhotosValue(true);
        w.setVideosValue(true);
        w.setTransferInfo({});
        w.generate();
        if (!WizardHarness::waitFor([&] { return !w.transferInfo().isEmpty() && w.runningJobCount() == 0; }, 120000))
            return std::nullopt;
    }
    return QStringList{w.musicSummary() + w.musicSummaryDone(), w.videosSummary() + w.videosSummaryDone()};
}

// A library "Playlists" folder in the way: the Android phone's on the
// one-step road with the music's another user's, the BlackBerry's on the walk
// with the videos' a link. The first run names the playlists not written,
// the folder and what to do; once that is done, the next run writes them
// although it brings nothing new, and the library holds the playlists a clean
// home gets, which a third run leaves as they are.
TEST(EndToEndLibrary, PlaylistsWhoseFolderWasInTheWayComeOnceItIsSetRight)
{
    const QString elsewhere = testenv::makeTempDir(QStringLiteral("lists"));
    const uid_t other = ::geteuid() == 65534 ? 65533 : 65534;
    const struct
    {
        int family;
        bool oneStep;
        int line;  // of the kind whose playlists are in the way: 0 music, 1 videos
        const char *held;
        qsizetype clean, inTheWay;  // playlist files of a clean home, and of them in the folder in the way
    } cases[] = {{e2e::kAndroid, true, 0, "6 Songs and 2 Playlists", 4, 3}, {e2e::kBlackBerry, false, 1, "1 Video", 2, 1}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.family);
        testenv::removeTree(storage());
        for (const QString &folder :
             {MediaLibraryHost::musicFolder(), MediaLibraryHost::videosFolder(), MediaLibraryHost::picturesFolder()})
            testenv::removeTree(folder);
        QFile::remove(MediaLibraryHost::musicLibraryFilePath());
        QFile::remove(MediaLibraryHost::albumDataFilePath());
        const QString folder =
            c.line == 0 ? MediaLibraryHost::playlistsFolder() : MediaLibraryHost::videoPlaylistsFolder();
        QString remedy;
        std::function<bool()> mend;
        if (c.line == 0) {
            // Only root can leave a folder of another user's.
            ASSERT_TRUE(QDir().mkpath(folder));
            if (::chown(QFile::encodeName(folder).constData(), other, other) != 0) {
                std::printf("== not root (%s): a music \"Playlists\" of another user's is not tried\n",
                            std::strerror(errno));
                continue;
            }
            remedy = QStringLiteral("rename it so that a new one is made, then transfer again to add them");
            mend = [&folder] { return QDir().rename(folder, folder + QStringLiteral(" (theirs)")); };
        } else {
            ASSERT_TRUE(QDir().mkpath(QFileInfo(folder).path()) && QFile::link(elsewhere, folder));
            remedy = QStringLiteral("Remove the link \"%1\", then transfer again to add it").arg(folder);
            mend = [&folder] { return QFile::remove(folder); };
        }

        const std::optional<QStringList> first = transfer(c.family, c.oneStep);
        ASSERT_TRUE(first);
        const QString line = first->at(c.line);
        EXPECT_TRUE(line.startsWith(QLatin1String(c.held) + QStringLiteral(" - Done (the playlist")) &&
                    line.contains(QStringLiteral("could not be added to your %1 library: the folder \"%2\" cannot be used")
                                      .arg(c.line == 0 ? QStringLiteral("music") : QStringLiteral("video"), folder)) &&
                    line.contains(remedy))
            << line.toStdString();
        EXPECT_EQ(playlistFiles().size(), c.clean - c.inTheWay);
        EXPECT_TRUE(QDir(folder).isEmpty());
        ASSERT_TRUE(mend());
        for (int run = 2; run <= 3; ++run) {
            SCOPED_TRACE(run);
            const std::optional<QStringList> next = transfer(c.family, c.oneStep);
            ASSERT_TRUE(next);
            EXPECT_EQ(next->at(c.line).toStdString(), c.held + std::string(" - Done"));
            EXPECT_EQ(playlistFiles().size(), c.clean) << playlistFiles().join(' ').toStdString();
        }
        EXPECT_TRUE(QDir(elsewhere).isEmpty());
    }
}

TEST(EndToEndLibrary, ABroughtLibraryCannotReachAFileOutsideItsFolders)
{
    testenv::removeTree(storage());
    // The person's own file, and a library that names it four ways.
    const QString outside = testenv::makeTempDir(QStringLiteral("outside"));
    const QString secret = outside + QStringLiteral("/voice memo.wav");
    testenv::writeFile(secret, libtest::silentWav() + "private");
    libtest::OpenWatch watch(secret);
    ASSERT_TRUE(watch.watching());

    const QString brought = testenv::makeTempDir(QStringLiteral("brought"));
    const QString media = brought + QStringLiteral("/iTunes Music/Album");
    testenv::writeFile(media + QStringLiteral("/song.wav"), libtest::silentWav());
    testenv::writeFile(media + QStringLiteral("/words.mp3"), "a text file named as a song");
    ASSERT_TRUE(QFile::link(secret, media + QStringLiteral("/memo.wav")));
    const QString macMusic = QStringLiteral("file://localhost/Users/p/Music/iTunes/iTunes%20Music/");
    const QStringList locations{macMusic + QStringLiteral("Album/song.wav"), macMusic + QStringLiteral("Album/words.mp3"),
                                macMusic + QStringLiteral("Album/memo.wav"), vtr::libraryLocationForLocalPath(secret),
                                QStringLiteral("file:///etc/passwd")};
    QVariantMap tracks;
    QVariantList items;
    for (qsizetype i = 0; i < locations.size(); ++i) {
        const int id = 100 + int(i);
        tracks.insert(QString::number(id), QVariantMap{{"Track ID", id},
                                                       {"Name", QStringLiteral("Track %1").arg(i)},
                                                       {"Location", locations.at(i)},
                                                       {"Track Type", "File"}});
        items.append(QVariantMap{{"Track ID", id}});
    }
    const QVariantMap library{
        {"Library Persistent ID", "BROUGHT"},
        {"Music Folder", macMusic},
        {"Tracks", tracks},
        {"Playlists", QVariantList{QVariantMap{{"Name", "Library"}, {"Master", true}, {"Playlist Items", items}},
                                   QVariantMap{{"Name", "Everything"}, {"Playlist Persistent ID", "E"},
                                               {"Playlist Items", items}}}}};
    const QString libraryFile = brought + QStringLiteral("/iTunes Music Library.xml");
    testenv::writeFile(libraryFile, vtr::XmlPropertyListWriter::toXml(library));
    platform::UserDefaults::setValue(QLatin1String(VtrITunes::kLibraryFileDefaultKey), libraryFile);

    // The iPhone whose music comes from that library: a song of each track's
    // name, where the desktop shows the phone, so that every track is looked up.
    e2e::DesktopMount desktop;
    for (qsizetype i = 0; i < locations.size(); ++i)
        testenv::writeFile(desktop.phoneFolder() + QStringLiteral("/iTunes_Control/Music/F00/S%1.mp3").arg(i),
                           libtest::taggedMp3({{"TIT2", QStringLiteral("Track %1").arg(i).toUtf8()}}));
    e2e::IPhoneCamera camera({{QStringLiteral("DCIM/100APPLE/IMG_0001.JPG"), QByteArray(1000, 'a')}});
    RealJobs run(camera.connection.get());
    run.h.walk([&] { return camera.plug(run.h); }, -1, 120000);
    platform::UserDefaults::remove(QLatin1String(VtrITunes::kLibraryFileDefaultKey));
    ASSERT_TRUE(run.h.terminated);

    // Nothing but the brought song can be on the new phone, and the file
    // outside was never opened.
    const QByteArray song = sha1OfFile(media + QStringLiteral("/song.wav"));
    const QMultiMap<QByteArray, QString> copied = contentsBelow(storage() + QStringLiteral("/Music"));
    EXPECT_TRUE(copied.contains(song)) << "the phone's songs were looked up";
    for (auto it = copied.cbegin(); it != copied.cend(); ++it)
        EXPECT_EQ(it.key(), song) << it.value().toStdString();
    EXPECT_FALSE(watch.opened()) << "the file outside the library's folders was read";
}

}  // namespace
