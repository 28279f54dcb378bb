#include "foundation/VtrString.h"

#include <gtest/gtest.h>

#include <QThread>

#include <vector>

using namespace vtr;

namespace {

QStringList list(std::initializer_list<const char *> items)
{
    QStringList out;
    for (const char *item : items)
        out.append(QString::fromUtf8(item));
    return out;
}

QString S(const char *utf8)
{
    return QString::fromUtf8(utf8);
}

} // namespace

TEST(PosixPathRules, ComponentsKeepLeadingAndTrailingRoot)
{
    EXPECT_EQ(posixPathComponents(S("/tmp/scratch")), list({"/", "tmp", "scratch"}));
    EXPECT_EQ(posixPathComponents(S("tmp//scratch/")), list({"tmp", "scratch", "/"}));
    EXPECT_EQ(posixPathComponents(S("/")), list({"/"}));
    EXPECT_TRUE(posixPathComponents(QString()).isEmpty());
}

TEST(PosixPathRules, LastComponentAndDeletion)
{
    EXPECT_EQ(posixLastPathComponent(S("/tmp/scratch.tiff")), S("scratch.tiff"));
    EXPECT_EQ(posixLastPathComponent(S("/tmp/")), S("tmp"));
    EXPECT_EQ(posixLastPathComponent(S("scratch///")), S("scratch"));
    EXPECT_EQ(posixLastPathComponent(S("/")), S("/"));
    EXPECT_EQ(posixLastPathComponent(S("")), S(""));

    EXPECT_EQ(posixDeletingLastPathComponent(S("/tmp/scratch.tiff")), S("/tmp"));
    EXPECT_EQ(posixDeletingLastPathComponent(S("/tmp/lock/")), S("/tmp"));
    EXPECT_EQ(posixDeletingLastPathComponent(S("/tmp")), S("/"));
    EXPECT_EQ(posixDeletingLastPathComponent(S("/")), S("/"));
    EXPECT_EQ(posixDeletingLastPathComponent(S("scratch.tiff")), S(""));
}

TEST(PosixPathRules, Extensions)
{
    EXPECT_EQ(posixPathExtension(S("/tmp/scratch.tiff")), S("tiff"));
    EXPECT_EQ(posixPathExtension(S("/tmp/.profile")), S(""));
    EXPECT_EQ(posixPathExtension(S("a.b/c")), S(""));
    EXPECT_EQ(posixPathExtension(S("..")), S(""));
    EXPECT_EQ(posixPathExtension(S("scratch.bundle/")), S("bundle"));

    EXPECT_EQ(posixDeletingPathExtension(S("/tmp/scratch.tiff")), S("/tmp/scratch"));
    EXPECT_EQ(posixDeletingPathExtension(S("scratch..tiff")), S("scratch."));
    EXPECT_EQ(posixDeletingPathExtension(S(".tiff")), S(".tiff"));
    EXPECT_EQ(posixDeletingPathExtension(S("/tmp/")), S("/tmp"));
    EXPECT_EQ(posixDeletingPathExtension(S("/")), S("/"));

    EXPECT_EQ(posixAppendPathExtension(S("/tmp/scratch.old"), S("tiff")), S("/tmp/scratch.old.tiff"));
    EXPECT_EQ(posixAppendPathExtension(S("/tmp/"), S("tiff")), S("/tmp.tiff"));
    EXPECT_TRUE(posixAppendPathExtension(S("/"), S("tiff")).isNull());
    EXPECT_TRUE(posixAppendPathExtension(S("a"), S("b/c")).isNull());
}

TEST(PosixPathRules, BelowAFolderIsBelowItsSeparator)
{
    EXPECT_TRUE(isPathBelow(S("/media/u/CARD/x.jpg"), S("/media/u/CARD")));
    EXPECT_TRUE(isPathBelow(S("/media/u/CARD/x.jpg"), S("/media/u/CARD/")));
    // A sibling volume whose name begins with the card's.
    EXPECT_FALSE(isPathBelow(S("/media/u/CARD2/x.jpg"), S("/media/u/CARD")));
    EXPECT_FALSE(isPathBelow(S("/media/u/CARD"), S("/media/u/CARD")));
    EXPECT_FALSE(isPathBelow(S("/media/u/card/x.jpg"), S("/media/u/CARD")));
    EXPECT_FALSE(isPathBelow(S("/x"), QString()));
}

TEST(PosixPathRules, AppendingAndJoining)
{
    EXPECT_EQ(posixAppendPathComponent(S("/tmp"), S("scratch.tiff")), S("/tmp/scratch.tiff"));
    EXPECT_EQ(posixAppendPathComponent(S("/tmp/"), S("scratch.tiff")), S("/tmp/scratch.tiff"));
    EXPECT_EQ(posixAppendPathComponent(S("/"), S("scratch.tiff")), S("/scratch.tiff"));
    EXPECT_EQ(posixAppendPathComponent(S(""), S("a//b/")), S("a/b"));
    EXPECT_EQ(posixAppendPathComponent(S("/tmp"), S("")), S("/tmp"));
    EXPECT_EQ(posixAppendPathComponent(S("a"), S("/b")), S("a/b"));

    EXPECT_EQ(posixPathWithComponents(list({"/", "tmp", "x"})), S("/tmp/x"));
    EXPECT_EQ(posixPathWithComponents(list({"tmp", "", "x/"})), S("tmp/x"));
    EXPECT_EQ(posixPathWithComponents({}), S(""));
}

TEST(WindowsPaths, Decomposition)
{
    QString drive, rest;
    decomposeWindowsPath(S("e:\\Music\\x.mp3"), &drive, &rest);
    EXPECT_EQ(drive, S("E:\\"));
    EXPECT_EQ(rest, S("Music\\x.mp3"));

    decomposeWindowsPath(S("Music/x.mp3"), &drive, &rest);
    EXPECT_EQ(drive, S(""));
    EXPECT_EQ(rest, S("Music\\x.mp3"));

    decomposeWindowsPath(S("E:"), &drive, &rest);
    EXPECT_EQ(drive, S(""));
    EXPECT_EQ(rest, S("E:"));

    decomposeWindowsPath(S("E:\\"), &drive, &rest);
    EXPECT_EQ(drive, S("E:\\"));
    EXPECT_FALSE(rest.isNull());
    EXPECT_EQ(rest, S(""));

    decomposeWindowsPath(QString(), &drive, &rest);
    EXPECT_FALSE(rest.isNull());
    EXPECT_TRUE(drive.isEmpty() && rest.isEmpty());

    // Either out-argument may be absent.
    decomposeWindowsPath(S("C:\\a"), nullptr, &rest);
    EXPECT_EQ(rest, S("a"));
    decomposeWindowsPath(S("C:\\a"), &drive, nullptr);
    EXPECT_EQ(drive, S("C:\\"));
}

TEST(WindowsPaths, ConversionKeepsDriveRootsAndDropsOneTrailingSeparator)
{
    EXPECT_EQ(pathFromWindowsPath(S("C:\\")), S("C:/"));
    EXPECT_EQ(pathFromWindowsPath(S("C:\\Music\\")), S("C:/Music"));
    EXPECT_EQ(pathFromWindowsPath(S("\\")), S("/"));
    EXPECT_EQ(pathFromWindowsPath(S("")), S(""));
    EXPECT_EQ(pathFromWindowsPath(S("a\\\\")), S("a/"));
    EXPECT_EQ(windowsPathFromPath(S("/a/b/")), S("\\a\\b\\"));
}

TEST(WindowsPaths, ComponentsAndLastComponent)
{
    EXPECT_EQ(windowsPathComponents(S("E:\\Music\\x.mp3")), list({"E:\\", "Music", "x.mp3"}));
    EXPECT_EQ(windowsPathComponents(S("\\Music\\")), list({"/", "Music"}));
    EXPECT_EQ(windowsPathComponents(S("E:\\")), list({"E:\\"}));
    EXPECT_TRUE(windowsPathComponents(S("")).isEmpty());

    EXPECT_EQ(windowsLastPathComponent(S("E:\\")), S(""));
    EXPECT_EQ(windowsLastPathComponent(S("E:\\Music\\")), S("Music"));
    EXPECT_EQ(windowsLastPathComponent(S("E:\\Music\\x.mp3")), S("x.mp3"));
    EXPECT_EQ(windowsLastPathComponent(S("e:/Music//x.mp3/\\")), S("x.mp3"));
    EXPECT_EQ(windowsLastPathComponent(S("E:\\\\")), S("/"));
    EXPECT_EQ(windowsLastPathComponent(S("x")), S("x"));
    EXPECT_EQ(windowsPathExtension(S("E:\\Music\\x.MP3")), S("MP3"));
    EXPECT_EQ(windowsPathExtension(S("E:\\a.b\\c")), S(""));
}

TEST(WindowsPaths, ComponentsRoundTripWithoutDoubledSeparator)
{
    const QString path = S("E:\\Music\\Album\\x.mp3");
    EXPECT_EQ(windowsPathWithComponents(windowsPathComponents(path)), path);
    EXPECT_EQ(windowsPathWithComponents(list({"Music", "x.mp3"})), S("Music\\x.mp3"));
}

TEST(WindowsPaths, AppendingAndDeleting)
{
    EXPECT_EQ(windowsStringByAppendingPathComponent(S("E:\\"), S("Music")), S("E:\\Music"));
    EXPECT_EQ(windowsStringByAppendingPathComponent(S("E:\\Music"), S("a/b")), S("E:\\Music\\a\\b"));
    // An empty rest takes the component exactly as given.
    EXPECT_EQ(windowsStringByAppendingPathComponent(S("E:\\"), S("a/b")), S("E:\\a/b"));
    EXPECT_EQ(windowsStringByAppendingPathComponent(S(""), S("a/b")), S("a/b"));

    EXPECT_EQ(windowsStringByDeletingLastPathComponent(S("E:\\Music\\x.mp3")), S("E:\\Music"));
    EXPECT_EQ(windowsStringByDeletingLastPathComponent(S("E:\\Music")), S("E:\\"));
    EXPECT_EQ(windowsStringByDeletingLastPathComponent(S("E:\\")), S("E:\\"));
    EXPECT_EQ(windowsStringByDeletingLastPathComponent(S("Music\\..")), S("Music"));

    EXPECT_EQ(windowsStringByAppendingPathExtension(S("E:\\Music\\x"), S("mp3")), S("E:\\Music\\x.mp3"));
    EXPECT_EQ(windowsStringByDeletingPathExtension(S("E:\\Music\\x.mp3")), S("E:\\Music\\x"));
    EXPECT_EQ(windowsStringByDeletingPathExtension(S("E:\\Music\\..")), S("E:\\Music\\.."));
}

TEST(ValidNames, FilenameReplacesReservedControlsAndTrailingDotOrSpace)
{
    EXPECT_EQ(windowsValidFilename(S("a:b?.txt ")), S("a_b_.txt_"));
    EXPECT_EQ(windowsValidFilename(S("x.")), S("x_"));
    EXPECT_EQ(windowsValidFilename(S("abc..")), S("abc._"));
    EXPECT_EQ(windowsValidFilename(S("\\/:*?\"<>|")), S("_________"));
    EXPECT_EQ(windowsValidFilename(S("a\tb\x1f")), S("a_b_"));
    EXPECT_EQ(windowsValidFilename(S("")), S(""));
    EXPECT_EQ(windowsValidFilename(S("Café")), S("Café"));
}

TEST(ValidNames, NulIsReplacedInBothSets)
{
    const QString withNul = S("a") + QChar(0) + S("b");
    EXPECT_EQ(windowsValidFilename(withNul), S("a_b"));
    EXPECT_EQ(windowsValidPathname(S("E:\\") + withNul), S("E:\\a_b"));
    EXPECT_TRUE(windowsFilenameCharacterSet().contains(0));
    EXPECT_TRUE(windowsPathnameCharacterSet().contains(0));
    EXPECT_FALSE(windowsPathnameCharacterSet().contains(U'\\'));
    EXPECT_FALSE(stringByMakingValidFilename(withNul).contains(QChar(0)));
}

TEST(ValidNames, AsciiOnlyLeavesOnlyAsciiAndCleansSubstitutes)
{
    const QString result = windowsValidFilenameUsingASCIIOnly(S("Café 日本.mp3"), true);
    for (QChar c : result)
        EXPECT_LT(c.unicode(), 0x7F) << result.toStdString();
    EXPECT_FALSE(result.contains(QLatin1Char('?')));
    EXPECT_TRUE(result.startsWith(S("Cafe ")));
    EXPECT_TRUE(result.endsWith(S(".mp3")));
}

TEST(ValidNames, TranscodingNonAscii)
{
    EXPECT_EQ(windowsValidFilenameByTranscodingNonASCIIChars(S("Café: Live.")), S("CafU00E9_ Live_"));
    EXPECT_EQ(windowsValidFilenameByTranscodingNonASCIIChars(S("a ")), S("a "));
    EXPECT_EQ(windowsValidFilenameByTranscodingNonASCIIChars(QString(QChar(0x7F))), S("U007F"));
    // Each UTF-16 unit of a pair is spelled on its own.
    EXPECT_EQ(windowsValidFilenameByTranscodingNonASCIIChars(S("\U0001F600")), S("UD83DUDE00"));

    EXPECT_EQ(stringByTranscodingNonASCIIChars(S("a\nü:")), S("aU000AU00FC:"));
    EXPECT_EQ(stringByTranscodingNonASCIIChars(QString(QChar(0))), S("U0000"));
}

TEST(ValidNames, Pathname)
{
    EXPECT_EQ(windowsValidPathname(S("E:\\a:b\\c?")), S("E:\\a_b\\c_"));
    EXPECT_EQ(windowsValidPathname(S("e:/a|b")), S("E:\\a_b"));
    EXPECT_EQ(windowsValidPathname(S("E:")), S("E_"));
}

TEST(ValidNames, MakingValidFilenameComposesAndDropsSeparators)
{
    const QString decomposed = S("Cafe\u0301 a:b/c");
    EXPECT_EQ(stringByMakingValidFilename(decomposed), S("Café abc"));
    const QString lone = S("a") + QChar(0xD800);
    EXPECT_EQ(stringByMakingValidFilename(lone), lone);
}

TEST(ValidNames, DotFileNames)
{
    EXPECT_TRUE(isDotFileName(S(".")));
    EXPECT_TRUE(isDotFileName(S("..")));
    EXPECT_TRUE(isDotFileName(S(".x")));
    EXPECT_FALSE(isDotFileName(S("..x")));
    EXPECT_FALSE(isDotFileName(S("x")));
    EXPECT_FALSE(isDotFileName(S("")));
}

TEST(ValidNames, ImageExtensions)
{
    EXPECT_EQ(stringByDeletingImageExtension(S("photo.JPG")), S("photo"));
    EXPECT_EQ(stringByDeletingImageExtension(S("photo.png")), S("photo"));
    EXPECT_EQ(stringByDeletingImageExtension(S("song.mp3")), S("song.mp3"));
    EXPECT_EQ(stringByDeletingImageExtension(S(".png")), S(".png"));
}

TEST(ValidNames, CharacterSetsAreSharedAcrossThreads)
{
    std::vector<const VtrCharacterSet *> seen(4, nullptr);
    std::vector<std::unique_ptr<QThread>> threads;
    for (size_t i = 0; i < seen.size(); ++i)
        threads.emplace_back(QThread::create([&seen, i] {
            seen[i] = &windowsFilenameCharacterSet();
            EXPECT_EQ(windowsValidFilename(S("a:b")), S("a_b"));
        }));
    for (auto &t : threads)
        t->start();
    for (auto &t : threads)
        t->wait();
    for (const VtrCharacterSet *set : seen)
        EXPECT_EQ(set, &windowsFilenameCharacterSet());
}
