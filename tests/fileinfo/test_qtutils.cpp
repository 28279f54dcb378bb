#include "fileinfo/VtrQTUtils.h"

#include "foundation/Log.h"

#include "TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QProcess>
#include <QSet>
#include <QStandardPaths>
#include <QXmlStreamReader>
#include <QtEndian>

#include <chrono>
#include <future>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

quint32 fcc(const char *c)
{
    return qFromBigEndian<quint32>(reinterpret_cast<const uchar *>(c));
}

// Replaces the type of the first sample entry of that type (behind an
// "stsd" box header) with another: how a protected file differs from a
// plain one.
QByteArray patchSampleEntry(QByteArray data, const QByteArray &from, const QByteArray &to)
{
    for (qsizetype at = data.indexOf("stsd"); at >= 0; at = data.indexOf("stsd", at + 4)) {
        const qsizetype type = at + 16; // version+flags, entry count, entry size
        if (data.mid(type, 4) == from) {
            data.replace(type, 4, to);
            return data;
        }
    }
    ADD_FAILURE() << "no sample entry " << from.constData();
    return data;
}

// Media made by ffmpeg once for the whole suite: tiny and quick.
class QTUtilsMedia : public ::testing::Test
{
protected:
    static inline QString dir;
    static inline bool available = false;

    // Runs ffmpeg with `args` (split at spaces; $P is the test pattern, $S a tone) writing `name`.
    static bool ffmpeg(QString args, const char *name)
    {
        args.replace("$P", "-f lavfi -i testsrc=size=64x48:rate=10:duration=0.5")
            .replace("$S", "-f lavfi -i sine=frequency=440:duration=");
        QProcess p;
        p.start("ffmpeg",
                QStringList{"-hide_banner", "-loglevel", "error", "-y"} + args.split(' ') + QStringList{file(name)});
        return p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    }

    static void SetUpTestSuite()
    {
        if (QStandardPaths::findExecutable("ffmpeg").isEmpty()) return;
        dir = testenv::makeTempDir("media");
        auto out = file;
        available =
            ffmpeg("$S0.3 -c:a libmp3lame -b:a 32k", "sine.mp3") && ffmpeg("$S0.3 -c:a aac -b:a 32k", "sine.m4a") &&
            ffmpeg("$P $S0.5 -c:v libx264 -preset ultrafast -profile:v baseline -pix_fmt yuv420p -c:a aac -b:a 32k "
                   "-shortest",
                   "pattern.mp4") &&
            ffmpeg("$P -c:v mpeg4", "pattern.mov") &&
            ffmpeg("$P -f lavfi -i testsrc=size=32x24:rate=10:duration=0.5 -map 0:v -map 1:v -c:v mpeg4", "two.mov") &&
            ffmpeg("$P -frames:v 1", "frame.png") && ffmpeg("$P -frames:v 1", "frame.jpg");
        if (!available) return;
        const QByteArray m4a = testenv::readFile(out("sine.m4a"));
        const QByteArray mp4 = testenv::readFile(out("pattern.mp4"));
        testenv::writeFile(out("book.m4b"), m4a);
        testenv::writeFile(out("protected.m4b"), patchSampleEntry(m4a, "mp4a", "drms"));
        testenv::writeFile(out("protected.m4a"), patchSampleEntry(m4a, "mp4a", "drms"));
        testenv::writeFile(out("clip.m4v"), mp4);
        testenv::writeFile(out("protected.m4v"), patchSampleEntry(mp4, "avc1", "drmi"));
        testenv::writeFile(out("soundonly.mp4"), m4a);
        testenv::writeFile(out("soundonly.wmv"), m4a);
        testenv::writeFile(out("truncated.mp4"), mp4.left(mp4.size() / 2));
        testenv::writeFile(out("truncated.m4b"), m4a.left(m4a.size() / 2));
        testenv::writeFile(out("garbage.mp3"), "this is not sound");
    }

    void SetUp() override
    {
        if (!available) GTEST_SKIP() << "ffmpeg is not installed or could not make the media";
    }

    static QString file(const char *name) { return dir + QLatin1Char('/') + QLatin1String(name); }
    static VtrFileInfo info(const char *name) { return VtrFileInfo(file(name)); }
};

// ---- tables

// What each extension is, is checked against shared-mime-info below; here how the lists relate.
TEST(QTUtilsTables, ListsAreDisjointLowerCaseAndWithoutDuplicates)
{
    const QStringList audio = VtrQTUtils::audioFileExtensions();
    const QStringList movies = VtrQTUtils::movieFileExtensions();
    const QStringList stills = VtrQTUtils::stillImageExtensions();
    const QStringList media = VtrQTUtils::mediaFileExtensions(true);
    for (const QString &e : audio)
        EXPECT_FALSE(movies.contains(e)) << e.toStdString();
    for (const char *e : {"m4b", "wma"})
        EXPECT_FALSE(movies.contains(QLatin1String(e))) << e;
    for (const char *e : {"mp3", "m4b", "mov"})
        EXPECT_TRUE(media.contains(QLatin1String(e))) << e;
    ASSERT_FALSE(stills.isEmpty());
    EXPECT_EQ(stills.last(), "gif");
    EXPECT_EQ(VtrQTUtils::stillImageTypes(), stills);
    for (const QStringList &list : {audio, movies, media, stills, VtrQTUtils::movieFileTypes()}) {
        EXPECT_EQ(QSet<QString>(list.cbegin(), list.cend()).size(), list.size()) << "no duplicates";
        for (const QString &e : list)
            EXPECT_EQ(e, e.toLower());
    }
    VtrQTUtils::initialize();
    VtrQTUtils::initialize();
    EXPECT_EQ(VtrQTUtils::movieFileExtensions(), movies);
}

// Every extension maps to a MIME type of the right family in Debian's
// shared-mime-info, so the tables name real formats.
TEST(QTUtilsTables, ExtensionsAgreeWithSharedMimeInfo)
{
    QFile xml("/usr/share/mime/packages/freedesktop.org.xml");
    if (!xml.open(QIODevice::ReadOnly)) GTEST_SKIP() << "shared-mime-info is not installed";
    QHash<QString, QSet<QString>> typesOf;
    QXmlStreamReader reader(&xml);
    QString current;
    while (!reader.atEnd()) {
        reader.readNext();
        if (!reader.isStartElement()) continue;
        if (reader.name() == QLatin1String("mime-type")) current = reader.attributes().value("type").toString();
        if (reader.name() == QLatin1String("glob")) {
            const QString pattern = reader.attributes().value("pattern").toString().toLower();
            if (pattern.startsWith(QLatin1String("*.")) && !pattern.mid(2).contains(QLatin1Char('*')))
                typesOf[pattern.mid(2)].insert(current);
        }
    }
    ASSERT_FALSE(reader.hasError()) << reader.errorString().toStdString();
    ASSERT_GT(typesOf.size(), 100);

    // Formats that shared-mime-info has no glob for: MPEG-1/2 elementary
    // video streams, raw DV, MPEG layer I, protected AAC, Core Audio.
    const QSet<QString> unlisted{"m1v", "m2v", "dif", "mp1", "m4p", "caf"};
    auto check = [&](const QStringList &list, const QString &family) {
        for (const QString &e : list) {
            const QSet<QString> types = typesOf.value(e);
            if (types.isEmpty()) {
                EXPECT_TRUE(unlisted.contains(e)) << e.toStdString() << " has no MIME type";
                continue;
            }
            const bool ok = std::any_of(types.cbegin(), types.cend(),
                                        [&](const QString &t) { return t.startsWith(family + QLatin1Char('/')); });
            EXPECT_TRUE(ok) << e.toStdString() << " is not " << family.toStdString();
        }
    };
    check(VtrQTUtils::audioFileExtensions(), "audio");
    check(VtrQTUtils::movieFileExtensions(), "video");
    check(VtrQTUtils::stillImageExtensions(), "image");
    QStringList commonSound = VtrQTUtils::mediaFileExtensions(true);
    for (const QString &m : VtrQTUtils::movieFileExtensions())
        commonSound.removeAll(m);
    check(commonSound, "audio");
}

// ---- classification by extension

TEST(QTUtilsClassify, CaseOfTheExtensionDoesNotMatter)
{
    const QString dir = testenv::makeTempDir();
    struct Case
    {
        const char *ext;
        bool movie;
        bool still;
    } cases[] = {{"mov", true, false},  {"mp4", true, false},  {"3gp", true, false},  {"wmv", true, false},
                 {"jpg", false, true},  {"jpeg", false, true}, {"png", false, true},  {"heic", false, true},
                 {"heif", false, true}, {"webp", false, true}, {"gif", false, true},  {"mp3", false, false},
                 {"m4a", false, false}, {"wav", false, false}, {"pdf", false, false}, {"txt", false, false}};
    for (const Case &c : cases) {
        const QString lower = QString::fromLatin1(c.ext);
        for (const QString &ext : {lower, lower.toUpper(), lower.left(1).toUpper() + lower.mid(1)}) {
            const VtrFileInfo item(dir + QStringLiteral("/file.") + ext);
            EXPECT_EQ(VtrQTUtils::isMovieFile(item, nullptr), c.movie) << ext.toStdString();
            EXPECT_EQ(VtrQTUtils::isStillImageFile(item), c.still) << ext.toStdString();
            EXPECT_EQ(VtrQTUtils::isMovieFile(VtrFileInfo(dir + QStringLiteral("/x")), ext, nullptr), c.movie);
        }
    }
    EXPECT_FALSE(VtrQTUtils::isMovieFile(VtrFileInfo(dir + QStringLiteral("/noextension")), nullptr));
    EXPECT_FALSE(VtrQTUtils::isMovieFile(VtrFileInfo(dir + QStringLiteral("/.mov")), nullptr));
}

TEST_F(QTUtilsMedia, SoundExtensionIsAudioOnlyWithoutOpeningTheFile)
{
    // The file's bytes are not sound at all: an answer from its contents would be "not audio only".
    const QString upper = dir + QStringLiteral("/GARBAGE.MP3");
    QFile::copy(file("garbage.mp3"), upper);
    for (const QString &path : {file("garbage.mp3"), upper}) {
        bool audioOnly = false;
        EXPECT_TRUE(VtrQTUtils::isMovieFile(VtrFileInfo(path), &audioOnly));
        EXPECT_TRUE(audioOnly);
        EXPECT_FALSE(VtrQTUtils::isMovieFile(VtrFileInfo(path), nullptr));
    }
    bool audioOnly = true;
    EXPECT_FALSE(VtrQTUtils::isMovieFile(VtrFileInfo(dir + QStringLiteral("/doc.pdf")), &audioOnly));
    EXPECT_FALSE(audioOnly);
}

TEST_F(QTUtilsMedia, AudioOnlyIsLearnedFromTheTracks)
{
    struct Case
    {
        const char *name;
        bool audioOnly;
    } cases[] = {{"pattern.mp4", false},
                 {"pattern.mov", false},
                 {"soundonly.mp4", true},
                 // wmv is never inspected; a file that does not open counts by its extension
                 {"soundonly.wmv", false},
                 {"truncated.mp4", false}};
    for (const Case &c : cases) {
        bool audioOnly = !c.audioOnly;
        EXPECT_TRUE(VtrQTUtils::isMovieFile(info(c.name), &audioOnly)) << c.name;
        EXPECT_EQ(audioOnly, c.audioOnly) << c.name;
    }
    // Through a symbolic link the target's extension decides.
    const QString link = dir + QStringLiteral("/link-without-extension");
    ASSERT_EQ(::symlink(QFile::encodeName(file("soundonly.mp4")).constData(), QFile::encodeName(link).constData()), 0);
    bool audioOnly = false;
    EXPECT_TRUE(VtrQTUtils::isMovieFile(VtrFileInfo(link), &audioOnly));
    EXPECT_TRUE(audioOnly);

    EXPECT_TRUE(VtrQTUtils::isStillImageFile(info("frame.png")));
    EXPECT_TRUE(VtrQTUtils::isStillImageFile(info("frame.jpg")));
    EXPECT_FALSE(VtrQTUtils::isMovieFile(info("frame.png"), nullptr));
}

// ---- protection

TEST_F(QTUtilsMedia, ProtectedSampleEntriesAreDetected)
{
    // "m4p" by its name; only audio books and "m4v" videos are opened.
    for (const char *name : {"missing.m4p", "missing.M4P", "protected.m4b", "protected.m4v"})
        EXPECT_TRUE(VtrQTUtils::isProtectedFile(info(name))) << name;
    for (const char *name : {"book.m4b", "clip.m4v", "protected.m4a", "truncated.m4b", "missing.m4b"})
        EXPECT_FALSE(VtrQTUtils::isProtectedFile(info(name))) << name;
    EXPECT_FALSE(VtrQTUtils::isProtectedFile(VtrFileInfo()));
}

TEST_F(QTUtilsMedia, WorksOnAnyThreadWithoutTheMainThread)
{
    // The main thread waits without running its event loop: a hand-off to it
    // would never come back.
    auto result = std::async(std::launch::async, [] {
        return VtrQTUtils::isProtectedFile(info("protected.m4b")) &&
               VtrQTUtils::infoForMovieAtPath(file("pattern.mp4")).value("numVideoTracks").toInt() == 1;
    });
    ASSERT_EQ(result.wait_for(std::chrono::seconds(60)), std::future_status::ready);
    EXPECT_TRUE(result.get());
}

// ---- movie information

TEST_F(QTUtilsMedia, InformationOfAnH264MovieWithSound)
{
    const QVariantMap i = VtrQTUtils::infoForMovieAtPath(file("pattern.mp4"));
    EXPECT_FALSE(i.contains("error"));
    EXPECT_EQ(i.value("numVideoTracks").toUInt(), 1u);
    EXPECT_EQ(i.value("numAudioTracks").toUInt(), 1u);
    EXPECT_EQ(i.value("width").toDouble(), 64.0);
    EXPECT_EQ(i.value("height").toDouble(), 48.0);
    EXPECT_NEAR(i.value("frameRate").toDouble(), 10.0, 0.01);
    EXPECT_EQ(i.value("codecType").toUInt(), fcc("avc1"));
    EXPECT_EQ(i.value("h264Profile").toUInt(), 66u); // baseline
    EXPECT_TRUE(i.value("encoderName").toString().contains(QLatin1String("libx264")));
    EXPECT_EQ(i.value("audioSampleRate").toLongLong(), 44100);
    // 0.5 s of tiny frames: some tens of kilobits per second.
    EXPECT_GT(i.value("videoDataRate").toDouble(), 5.0);
    EXPECT_LT(i.value("videoDataRate").toDouble(), 500.0);
    EXPECT_GT(i.value("audioDataRate").toDouble(), 5.0);
    EXPECT_LT(i.value("audioDataRate").toDouble(), 100.0);

    quint32 codec = 0;
    double width = 0;
    int sampleRate = 0;
    VtrQTUtils::infoForMovieAtPath(file("pattern.mp4"), &codec, nullptr, nullptr, &sampleRate, &width, nullptr, nullptr,
                                   nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(codec, fcc("avc1"));
    EXPECT_EQ(sampleRate, 44100);
    EXPECT_EQ(width, 64.0);
}

TEST_F(QTUtilsMedia, InformationOfOtherKinds)
{
    const QVariantMap mov = VtrQTUtils::infoForMovieAtPath(file("pattern.mov"));
    EXPECT_EQ(mov.value("codecType").toUInt(), fcc("mp4v"));
    EXPECT_FALSE(mov.contains("h264Profile"));
    EXPECT_EQ(mov.value("numAudioTracks").toUInt(), 0u);
    EXPECT_EQ(mov.value("audioDataRate").toDouble(), 0.0);

    // Two video tracks: the counts and the natural size, nothing else.
    const QVariantMap two = VtrQTUtils::infoForMovieAtPath(file("two.mov"));
    EXPECT_EQ(two.value("numVideoTracks").toUInt(), 2u);
    EXPECT_EQ(two.value("width").toDouble(), 64.0);
    EXPECT_EQ(two.value("height").toDouble(), 48.0);
    for (const char *key : {"frameRate", "codecType", "videoDataRate", "audioDataRate", "encoderName"})
        EXPECT_FALSE(two.contains(key)) << key;

    // Sound only: no size; the cover-less MP3 has no video track.
    const QVariantMap mp3 = VtrQTUtils::infoForMovieAtPath(file("sine.mp3"));
    EXPECT_EQ(mp3.value("numVideoTracks").toUInt(), 0u);
    EXPECT_EQ(mp3.value("numAudioTracks").toUInt(), 1u);
    EXPECT_EQ(mp3.value("audioSampleRate").toLongLong(), 44100);
    EXPECT_NEAR(mp3.value("audioDataRate").toDouble(), 32.0, 1.0);
    EXPECT_FALSE(mp3.contains("width"));
}

TEST_F(QTUtilsMedia, TruncatedFileIsNotAMovie)
{
    QStringList logged;
    LogSetSystemLogSink([&](const QString &m) { logged.append(m); });
    const QVariantMap i = VtrQTUtils::infoForMovieAtPath(file("truncated.mp4"));
    EXPECT_TRUE(i.contains("error"));
    EXPECT_EQ(i.size(), 1);
    ASSERT_FALSE(logged.isEmpty());
    EXPECT_TRUE(logged.last().contains(
        QStringLiteral("Getting info for movie: opening movie file \"%1\" failed:").arg(file("truncated.mp4"))));

    QString error;
    EXPECT_EQ(VtrMovie::movieWithFile(file("truncated.mp4"), &error), nullptr);
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(VtrMovie::movieWithFile(dir + QStringLiteral("/missing.mov")), nullptr);

    // Any cut of a real movie or sound file answers without crashing.
    const QByteArray mp4 = testenv::readFile(file("pattern.mp4"));
    const QByteArray mp3 = testenv::readFile(file("sine.mp3"));
    const QString cut = dir + QStringLiteral("/cut.mp4");
    for (const QByteArray *whole : {&mp4, &mp3}) {
        for (qsizetype n : {qsizetype(0), qsizetype(8), qsizetype(40), whole->size() / 3, whole->size() - 1}) {
            testenv::writeFile(cut, whole->left(n));
            VtrQTUtils::infoForMovieAtPath(cut);
            bool audioOnly = false;
            VtrQTUtils::isMovieFile(VtrFileInfo(cut), &audioOnly);
            if (auto movie = VtrMovie::movieWithFile(cut)) VtrQTUtils::wavFromMovie(*movie);
        }
    }
    LogSetSystemLogSink(nullptr);
}

// ---- export

TEST_F(QTUtilsMedia, SoundBecomesAWaveFile)
{
    const auto movie = VtrMovie::movieWithFile(file("sine.mp3"));
    ASSERT_TRUE(movie);
    EXPECT_TRUE(VtrQTUtils::isMovieAudioOnly(*movie));
    const QByteArray wav = VtrQTUtils::wavFromMovie(*movie);
    ASSERT_GT(wav.size(), 44);
    EXPECT_TRUE(wav.startsWith("RIFF"));
    EXPECT_EQ(wav.mid(8, 8), QByteArray("WAVEfmt "));
    const auto *h = reinterpret_cast<const uchar *>(wav.constData());
    EXPECT_EQ(qFromLittleEndian<quint32>(h + 4), quint32(wav.size() - 8));
    EXPECT_EQ(qFromLittleEndian<quint16>(h + 20), 1); // PCM
    EXPECT_EQ(qFromLittleEndian<quint16>(h + 22), 1); // mono
    EXPECT_EQ(qFromLittleEndian<quint32>(h + 24), 44100u);
    EXPECT_EQ(qFromLittleEndian<quint16>(h + 34), 16);
    const quint32 dataBytes = qFromLittleEndian<quint32>(h + 40);
    EXPECT_EQ(dataBytes, quint32(wav.size() - 44));
    // 0.3 s of 16-bit samples, give or take the coder's padding.
    EXPECT_NEAR(double(dataBytes) / (44100 * 2), 0.3, 0.06);

    // The result reads back as sound.
    const auto back = VtrQTUtils::movieFromData(wav, "sound.wav");
    ASSERT_TRUE(back);
    EXPECT_EQ(back->numAudioTracks(), 1);

    // A movie without sound gives nothing.
    const auto silent = VtrMovie::movieWithFile(file("pattern.mov"));
    ASSERT_TRUE(silent);
    EXPECT_FALSE(VtrQTUtils::isMovieAudioOnly(*silent));
    EXPECT_TRUE(VtrQTUtils::wavFromMovie(*silent).isEmpty());
}

TEST_F(QTUtilsMedia, MoviesFromDataAreReadLikeFiles)
{
    EXPECT_EQ(VtrQTUtils::movieFromData(QByteArray(), "x.m4a"), nullptr);
    const auto m = VtrQTUtils::movieFromData(testenv::readFile(file("sine.m4a")), "x.m4a");
    ASSERT_TRUE(m);
    EXPECT_TRUE(VtrQTUtils::isMovieAudioOnly(*m));
    EXPECT_FALSE(VtrQTUtils::wavFromMovie(*m).isEmpty());
    const auto v = VtrQTUtils::movieFromData(testenv::readFile(file("pattern.mp4")), "x.mp4");
    ASSERT_TRUE(v);
    EXPECT_EQ(v->numVideoTracks(), 1);
    EXPECT_EQ(v->numAudioTracks(), 1);
    EXPECT_EQ(VtrQTUtils::movieFromData(QByteArray("junk"), "x.mp4"), nullptr);
}

TEST_F(QTUtilsMedia, ExportsWriteCompleteFilesOrLeaveTheOldOne)
{
    EXPECT_EQ(VtrQTUtils::movieExportComponentWithSubtype(fcc("xxxx")), nullptr);
    const VtrMovieExportComponent *wave = VtrQTUtils::movieExportComponentWithSubtype(fcc("WAVE"));
    ASSERT_NE(wave, nullptr);
    EXPECT_EQ(wave->subtype, fcc("WAVE"));

    const auto movie = VtrMovie::movieWithFile(file("pattern.mp4"));
    ASSERT_TRUE(movie);
    const QString out = testenv::makeTempDir() + QStringLiteral("/export");
    for (const char *kind : {"MooV", "mpg4", "3gpp"}) {
        const QString path = out + QLatin1Char('.') + QLatin1String(kind);
        ASSERT_TRUE(VtrQTUtils::exportMovie(*movie, path, QByteArray(), fcc(kind))) << kind;
        const QVariantMap i = VtrQTUtils::infoForMovieAtPath(path);
        EXPECT_EQ(i.value("numVideoTracks").toUInt(), 1u) << kind;
        EXPECT_EQ(i.value("numAudioTracks").toUInt(), 1u) << kind;
        EXPECT_EQ(i.value("width").toDouble(), 64.0) << kind;
    }
    const QString wav = out + QStringLiteral(".wav");
    ASSERT_TRUE(VtrQTUtils::exportMovie(*movie, wav, QByteArray(), fcc("WAVE")));
    EXPECT_TRUE(testenv::readFile(wav).startsWith("RIFF"));

    // Failures leave an existing file as it was and no temporary file behind.
    const QString keep = out + QStringLiteral("-keep.wav");
    testenv::writeFile(keep, "old contents");
    const auto silent = VtrMovie::movieWithFile(file("pattern.mov"));
    EXPECT_FALSE(VtrQTUtils::exportMovie(*silent, keep, QByteArray(), fcc("WAVE")));
    EXPECT_FALSE(VtrQTUtils::exportMovie(*movie, keep, QByteArray(), fcc("xxxx")));
    EXPECT_EQ(testenv::readFile(keep), QByteArray("old contents"));
    const QString folder = QFileInfo(keep).absolutePath();
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden).filter(".vtr"), QStringList());
}

// ---- settings containers

TEST(QTUtilsSettings, H264SettingsAreFilledIn)
{
    auto atom = [](const QByteArray &c, const char(&type)[5]) {
        const QTSettings s(c);
        return s.atomInfoWithType(fcc(type)).value_or(QVariantMap()).value("data").toByteArray();
    };
    auto be = [](const QByteArray &d, int at = 0) {
        return qFromBigEndian<quint32>(reinterpret_cast<const uchar *>(d.constData()) + at);
    };
    const QByteArray t = QTSettings::h264Template();
    const QByteArray s = QTSettings::h264SettingsWithWidth(320, 240, 29.97, 1000, 96000, 22050);
    EXPECT_EQ(s.size(), t.size());
    EXPECT_EQ(be(atom(s, "wdth")), 320u << 16);
    EXPECT_EQ(be(atom(s, "iwdt")), 320u);
    EXPECT_EQ(be(atom(s, "hegt")), 240u << 16);
    EXPECT_EQ(be(atom(s, "ihgt")), 240u);
    EXPECT_EQ(be(atom(s, "arat")), 96000u);
    EXPECT_EQ(be(atom(s, "drat")), 1000u * 1000 / 8);
    EXPECT_EQ(atom(s, "drat").mid(4), atom(t, "drat").mid(4));
    EXPECT_EQ(be(atom(s, "tprl"), 4), quint32(std::lround(29.97 * 65536)));
    EXPECT_EQ(atom(s, "tprl").left(4), atom(t, "tprl").left(4));
    EXPECT_EQ(atom(s, "tprl").mid(8), atom(t, "tprl").mid(8));

    const struct
    {
        int rate;
        quint32 written;
    } rates[] = {{22050, 32000}, {32000, 32000}, {32001, 44100}, {44100, 44100}, {44101, 48000}};
    for (const auto &r : rates)
        EXPECT_EQ(be(atom(QTSettings::h264SettingsWithWidth(-1, -1, -1, -1, -1, r.rate), "asrt")), r.written << 16)
            << r.rate;
    // Nothing given: the template unchanged.
    EXPECT_EQ(QTSettings::h264SettingsWithWidth(-1, -1, -1.0, -1, -1, 0), t);
}

TEST(QTUtilsSettings, ParsingCopesWithDamagedContainers)
{
    const QByteArray t = QTSettings::h264Template();
    QTSettings whole(t);
    EXPECT_NE(whole.atomWithType(fcc("wdth")), 0);
    EXPECT_FALSE(whole.atomInfoWithType(fcc("none")));
    EXPECT_EQ(whole.atomWithType(fcc("none")), 0);
    EXPECT_FALSE(whole.setAtomData(whole.atomWithType(fcc("wdth")), QByteArray(3, 'x')));
    for (qsizetype n = 0; n < t.size(); n += 7) {
        QTSettings cut(t.left(n));
        (void)cut.atomWithType(fcc("tprl"));
    }
    QByteArray lying = t;
    qToBigEndian<quint32>(0xFFFFFFF0u, reinterpret_cast<uchar *>(lying.data()) + 12);
    EXPECT_EQ(QTSettings(lying).atomWithType(fcc("wdth")), 0);
    QStringList logged;
    LogSetSystemLogSink([&](const QString &m) { logged.append(m); });
    VtrQTUtils::dumpAtomInfo(0, 0, t);
    LogSetSystemLogSink(nullptr);
    EXPECT_TRUE(logged.contains("1 child of type 'vide'"));
    EXPECT_TRUE(logged.contains("    1 child of type 'wdth'"));
    EXPECT_TRUE(logged.contains("          1: 02 80 00 00"));
}

TEST(QTUtilsMetadata, NothingIsKept)
{
    const VtrFileInfo item(testenv::makeTempDir() + QStringLiteral("/a.mp3"));
    VtrQTUtils::setMetadata({{"title", "x"}}, item);
    EXPECT_TRUE(VtrQTUtils::metadataForFile(item).isEmpty());
}

} // namespace
