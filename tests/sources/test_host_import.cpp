#include "fileinfo/VtrMacFileInfo.h"
#include "platform/VtrException.h"
#include "sources/host/HostScript.h"
#include "sources/host/MediaLibraryHost.h"
#include "sources/host/PropertyListXml.h"
#include "sources/host/VtrAppleScriptExecutor.h"
#include "sources/iphoto/VtrIPhoto.h"
#include "sources/iphoto/iPhotoInfo.h"
#include "sources/itunes/VtrITunes.h"
#include "sources/itunes/iTunesInfo.h"

#include "TestEnvironment.h"
#include "support/LibraryTestFiles.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>

#include <gtest/gtest.h>

namespace {

VtrFileInfoList makeTracks(const QString &folder, int count)
{
    VtrFileInfoList files;
    for (int i = 0; i < count; ++i) {
        const QString path = QStringLiteral("%1/Track %2.wav").arg(folder).arg(i, 2, 10, QLatin1Char('0'));
        testenv::writeFile(path, libtest::silentWav());
        files.append(VtrMacFileInfo::fileInfoWithPath(path));
    }
    return files;
}

QStringList playlistEntries(const QString &m3u8)
{
    QFile file(m3u8);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << m3u8.toStdString();
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    EXPECT_FALSE(lines.isEmpty());
    if (!lines.isEmpty()) {
        EXPECT_EQ(lines.first(), QStringLiteral("#EXTM3U"));
    }
    QStringList entries;
    for (const QString &line : lines)
        if (!line.startsWith(QLatin1Char('#'))) entries.append(line);
    return entries;
}

bool ffprobeReads(const QString &path)
{
    QProcess probe;
    probe.start(QStringLiteral("ffprobe"), {QStringLiteral("-v"), QStringLiteral("error"), path});
    return probe.waitForFinished(20000) && probe.exitStatus() == QProcess::NormalExit && probe.exitCode() == 0;
}

int scriptErrorNumber(const std::optional<QVariantMap> &error)
{
    return error ? error->value(QStringLiteral("NSAppleScriptErrorNumber")).toInt() : 0;
}

}  // namespace

TEST(HostScriptExecutor, TagsAreReplacedAsTextsNeverAsCode)
{
    const struct
    {
        QString script;
        QString value;
        QString expected;
    } cases[] = {
        // Every occurrence, only in the exact letter case.
        {QStringLiteral("set a to \"(T:X)\"\nset b to \"(T:X)(t:x)\""), QStringLiteral("v"),
         QStringLiteral("set a to \"v\"\nset b to \"v(t:x)\"")},
        // Quotes, back slashes and line breaks stay part of the text.
        {QStringLiteral("return \"(T:X)\""), QStringLiteral("a\"b\\c\nd"), QStringLiteral("return \"a\\\"b\\\\c\\nd\"")},
        // Outside a text the value becomes a text of its own.
        {QStringLiteral("return (T:X)"), QStringLiteral("configured"), QStringLiteral("return \"configured\"")},
        // A tag after a comment's quote is still outside any text.
        {QStringLiteral("-- \"\nreturn (T:X)"), QStringLiteral("x"), QStringLiteral("-- \"\nreturn \"x\"")},
    };
    for (const auto &c : cases) {
        VtrAppleScriptExecutor executor(c.script);
        executor.replaceTag(QStringLiteral("(T:X)"), c.value);
        EXPECT_EQ(executor.script(), c.expected);
    }

    // A value that spells another tag is never replaced again.
    VtrAppleScriptExecutor executor(QStringLiteral("return \"(T:A)|(T:B)\""));
    executor.replaceTag(QStringLiteral("(T:A)"), QStringLiteral("(T:B)"));
    executor.replaceTag(QStringLiteral("(T:B)"), QStringLiteral("b"));
    EXPECT_EQ(executor.script(), QStringLiteral("return \"(T:B)|b\""));
    EXPECT_FALSE(executor.execute(false));
    EXPECT_EQ(executor.result().toString(), QStringLiteral("(T:B)|b"));
}

TEST(HostScriptExecutor, HarmlessErrorsCountAsSuccessOthersAreReported)
{
    const struct
    {
        const char *script;
        int number;  // 0: success
    } cases[] = {
        {"error \"late\" number -1712", 0},
        {"error \"unhandled\" number -1708", 0},
        {"error \"gone\" number -609", 0},
        {"error \"wrapped\" number 63824", 0},  // -1712 in the low 16 bits
        {"error \"bad\" number -50", -50},
        {"return nothing", -2753},
        {"set x to", -2741},
        {"tell media library", -2741},
        {"return \"open", -2741},
        {"return version of music", 0},
    };
    for (const auto &c : cases) {
        VtrAppleScriptExecutor executor(QString::fromUtf8(c.script));
        int tickles = 0;
        const auto error = executor.execute(true, [&tickles] { ++tickles; });
        EXPECT_EQ(scriptErrorNumber(error), c.number) << c.script;
        EXPECT_GE(tickles, 1) << c.script;
    }
}

TEST(HostScriptExecutor, ASyntaxErrorAnywhereRunsNothing)
{
    const QString dir = testenv::makeTempDir();
    const VtrFileInfoList files = makeTracks(dir, 1);
    VtrAppleScriptExecutor executor(QStringLiteral("add file \"%1\" to collection \"C\"\nset").arg(files.first()->path()));
    EXPECT_EQ(scriptErrorNumber(executor.execute(false)), -2741);
    EXPECT_FALSE(QFile::exists(MediaLibraryHost::musicLibraryFilePath()));
}

TEST(HostScriptExecutor, AWaitThatTimesOutIsAFailure)
{
    VtrAppleScriptExecutor::setTimeout(std::chrono::milliseconds(300));
    VtrAppleScriptExecutor executor(QStringLiteral("delay 2"));
    int tickles = 0;
    const auto error = executor.execute(true, [&tickles] { ++tickles; });
    VtrAppleScriptExecutor::setTimeout(std::chrono::minutes(10));
    EXPECT_EQ(scriptErrorNumber(error), VtrAppleScriptExecutor::kTimedOutError);
    EXPECT_GE(tickles, 2);
}

TEST(HostScriptExecutor, TemplateFiles)
{
    const QString dir = testenv::makeTempDir();
    testenv::writeFile(dir + QStringLiteral("/empty.applescript"), QByteArray());
    try {
        VtrAppleScriptExecutor::withFile(dir + QStringLiteral("/empty.applescript"));
        ADD_FAILURE() << "an empty template was accepted";
    } catch (const VtrException &e) {
        EXPECT_EQ(e.name(), QStringLiteral("VtrAppleScriptExecutor"));
        EXPECT_EQ(e.reason(), QStringLiteral("Couldn't read AppleScript template file \"%1\".").arg(dir + "/empty.applescript"));
    }
    EXPECT_THROW(VtrAppleScriptExecutor::withFile(dir + QStringLiteral("/missing")), VtrException);

    for (const char *name : {"iTunesImport.applescript", "iPhotoImport.applescript", "iPhotoImport2.applescript"}) {
        auto executor = VtrAppleScriptExecutor::withFile(VtrITunes::templateFolder() + QLatin1Char('/') + name);
        EXPECT_NO_THROW(vtr::checkHostScript(executor->script())) << name;
    }
    const VtrFileInfoList one = makeTracks(dir, 1);
    EXPECT_EQ(VtrITunes::addTracks(one, QStringLiteral("P"), dir, {}),
              QStringLiteral("Couldn't find AppleScript template file \"iTunesImport.applescript\"."));
    EXPECT_EQ(VtrIPhoto::addPhotos({}, QStringLiteral("A"), dir, {}),
              QStringLiteral("Couldn't find AppleScript template file \"iPhotoImport.applescript\"."));
    EXPECT_TRUE(VtrIPhoto::addPhotos({}, QStringLiteral("A"), VtrITunes::templateFolder(), {}).isNull());
}

TEST(HostImport, FiftyTracksWithThreePlaylistsLandPlayAndReadBack)
{
    const QString source = testenv::makeTempDir(QStringLiteral("from-phone"));
    const VtrFileInfoList tracks = makeTracks(source, 50);
    const QString collection = QStringLiteral("Solvenna to Windows Phone Imported Music");
    int tickles = 0;
    const auto tickle = [&tickles] { ++tickles; };
    const QString imported = VtrITunes::addTracks(tracks, collection, VtrITunes::templateFolder(), tickle);
    ASSERT_TRUE(imported.isNull()) << imported.toStdString();
    EXPECT_GE(tickles, 50);

    const struct
    {
        QString name;
        int first, count;
    } playlists[] = {{QStringLiteral("Road"), 0, 20},
                     {QString::fromUtf8("Café \"Night\" \\ mix"), 15, 20},
                     {QStringLiteral("Workout"), 40, 10}};
    for (const auto &p : playlists)
        ASSERT_TRUE(VtrITunes::addTracks(tracks.mid(p.first, p.count), p.name, VtrITunes::templateFolder(), {}).isNull());

    // Files: linked once into the collection's folder, never again.
    const QDir folder(QDir(MediaLibraryHost::musicFolder()).filePath(collection));
    EXPECT_EQ(folder.entryList(QDir::Files).size(), 50);
    EXPECT_EQ(QDir(MediaLibraryHost::musicFolder()).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size(), 2)
        << "the collection and Playlists";

    // Playlists: each entry is a file a desktop player's parser reads.
    const QDir playlistFolder(MediaLibraryHost::playlistsFolder());
    EXPECT_EQ(playlistEntries(playlistFolder.filePath(collection + QStringLiteral(".m3u8"))).size(), 50);
    for (const auto &p : playlists) {
        const QStringList entries = playlistEntries(playlistFolder.filePath(p.name + QStringLiteral(".m3u8")));
        ASSERT_EQ(entries.size(), p.count) << p.name.toStdString();
        for (const QString &entry : entries) {
            EXPECT_FALSE(QDir::isAbsolutePath(entry));
            EXPECT_TRUE(ffprobeReads(playlistFolder.filePath(entry))) << entry.toStdString();
        }
    }

    // The re-read library shows what the import did.
    auto library = std::make_shared<VtrITunes>();
    library->initWithoutProgress();
    EXPECT_EQ(library->playlistDataPath(), MediaLibraryHost::musicLibraryFilePath());
    iTunesInfo model;
    model.set_iTunes(library, false, true);
    EXPECT_EQ(model.tracks().size(), 50);
    ASSERT_TRUE(model.library());
    EXPECT_EQ(model.library()->numTracks(), 50);
    for (const auto &p : playlists) {
        const VtrITunesItemPtr item = model.playlistWithName(p.name, false, nullptr);
        ASSERT_TRUE(item) << p.name.toStdString();
        EXPECT_EQ(item->numTracks(), p.count);
    }
    for (const auto &t : model.tracks())
        EXPECT_TRUE(QFile::exists(t->localPath())) << t->location().toStdString();
    EXPECT_FALSE(library->playlistDataChanged());
}

TEST(HostImport, FailuresAreReportedAndNamesStayNames)
{
    const QString source = testenv::makeTempDir(QStringLiteral("odd"));
    const QString oddName = source + QStringLiteral("/We \"said\" \\ no\nway.wav");
    testenv::writeFile(oddName, libtest::silentWav());
    EXPECT_TRUE(VtrITunes::addTracks({VtrMacFileInfo::fileInfoWithPath(oddName)}, QStringLiteral("Odd\n\"list\""),
                                     VtrITunes::templateFolder(), {})
                    .isNull());
    EXPECT_TRUE(MediaLibraryHost::shared().findPlaylist(QStringLiteral("Odd\n\"list\""), false));

    const QString missing = VtrITunes::addTracks({VtrMacFileInfo::fileInfoWithPath(source + QStringLiteral("/gone.mp3"))},
                                                 QStringLiteral("Odd"), VtrITunes::templateFolder(), {});
    EXPECT_TRUE(missing.contains(QLatin1String("does not exist"))) << missing.toStdString();

    // A damaged library file is reported, never overwritten.
    const QByteArray damaged = "<plist><dict><key>Tracks</key>";
    testenv::writeFile(MediaLibraryHost::musicLibraryFilePath(), damaged);
    const QString error = VtrITunes::addTracks({VtrMacFileInfo::fileInfoWithPath(oddName)}, QStringLiteral("Odd"),
                                               VtrITunes::templateFolder(), {});
    EXPECT_TRUE(error.contains(QLatin1String("damaged"))) << error.toStdString();
    EXPECT_EQ(testenv::readFile(MediaLibraryHost::musicLibraryFilePath()), damaged);
    EXPECT_FALSE(iTunesInfo::playlistWithName(QStringLiteral("New"), true));
    VtrITunes library;
    library.initWithoutProgress();
    EXPECT_FALSE(library.playlistData());
    EXPECT_TRUE(library.loadError().contains(QLatin1String("ends inside"))) << library.loadError().toStdString();
    QFile::remove(MediaLibraryHost::musicLibraryFilePath());
}

TEST(HostImport, TwentyPhotosIntoAnAlbumReadBack)
{
    // The photo importer hands over one folder of links to the copied photos.
    const QString copied = testenv::makeTempDir(QStringLiteral("copied"));
    const QString links = testenv::makeTempDir(QStringLiteral("links"));
    for (int i = 0; i < 20; ++i) {
        QImage image(8, 8, QImage::Format_RGB32);
        image.fill(QColor::fromHsv(i * 18, 200, 200));
        const QString path = QStringLiteral("%1/IMG_%2.png").arg(copied).arg(i, 4, 10, QLatin1Char('0'));
        ASSERT_TRUE(image.save(path));
        ASSERT_TRUE(QFile::link(path, QStringLiteral("%1/IMG_%2.png").arg(links).arg(i, 4, 10, QLatin1Char('0'))));
    }
    const QString album = QStringLiteral("Solvenna to Windows Phone Imported Photos");
    ASSERT_TRUE(VtrIPhoto::addPhotos({VtrMacFileInfo::fileInfoWithPath(links)}, album, VtrITunes::templateFolder(), {})
                    .isNull());
    const QDir folder(QDir(MediaLibraryHost::picturesFolder()).filePath(album));
    EXPECT_EQ(folder.entryList(QDir::Files).size(), 20);
    for (const QFileInfo &f : folder.entryInfoList(QDir::Files))
        EXPECT_FALSE(f.isSymLink());

    VtrIPhoto photos;
    const qint64 id = photos.idWithAlbumOrEventName(album);
    ASSERT_GT(id, 0);
    EXPECT_EQ(photos.imagesWithAlbumNamesOrIDs({album}).size(), 20);
    // Adding by number puts the same photos in once.
    ASSERT_TRUE(VtrIPhoto::addPhotosToAlbumID({VtrMacFileInfo::fileInfoWithPath(links)}, int(id),
                                              VtrITunes::templateFolder(), {})
                    .isNull());
    EXPECT_FALSE(VtrIPhoto::addPhotosToAlbumID({VtrMacFileInfo::fileInfoWithPath(links)}, 4242,
                                               VtrITunes::templateFolder(), {})
                     .isNull());

    iPhotoInfo model;
    ASSERT_TRUE(model.library());
    EXPECT_EQ(model.photos().size(), 20);
    const VtrIPhotoItemPtr item = model.writableAlbumWithID(QString::number(id));
    ASSERT_TRUE(item);
    EXPECT_EQ(item->photos().size(), 20);
    EXPECT_EQ(item->name(), album);
    ASSERT_EQ(model.events().size(), 1);
    EXPECT_EQ(model.events().first()->children().size(), 1);
}
