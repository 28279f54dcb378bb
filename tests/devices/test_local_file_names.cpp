// Names from a phone or a camera, and the numbered names that make them
// unique, made short enough for a local folder: counted as the bytes a local
// file system stores.
#include "devices/LocalFileNames.h"

#include <gtest/gtest.h>

TEST(LocalFileNames, LengthsAreTheBytesOfUtf8AndShortenedNamesFit)
{
    const QString note = QString::fromUcs4(U"\U0001F3B5"); // outside the 16-bit range
    for (const QString &text : {QStringLiteral("a"), QStringLiteral("\u00e9"), QStringLiteral("\u266b"), note,
                                QStringLiteral("Caf\u00e9 \u266b ") + note + QStringLiteral(".mp3")})
        EXPECT_EQ(vtr::utf8Length(text), text.toUtf8().size()) << text.toStdString();
    EXPECT_EQ(vtr::utf8Length(QString(QChar(0xD83C))), 3) << "a lone surrogate is written as a replacement character";

    for (const QString &character : {QStringLiteral("a"), QStringLiteral("\u00e9"), QStringLiteral("\u266b"), note}) {
        SCOPED_TRACE(character.toStdString());
        const QString name = vtr::fitLocalNameLength(character.repeated(300) + QStringLiteral(".mp3"));
        const qsizetype bytes = name.toUtf8().size();
        EXPECT_LE(bytes, vtr::kMaxLocalNameBytes);
        EXPECT_GT(bytes, vtr::kMaxLocalNameBytes - 4) << "no more is taken off than must be";
        EXPECT_TRUE(name.endsWith(QStringLiteral(".mp3")));
        EXPECT_FALSE(name.toUcs4().contains(0xFFFD)) << "no character is cut in half";
    }
    const QString fits = note.repeated(62) + QStringLiteral(".mp3"); // 252 bytes
    EXPECT_EQ(vtr::fitLocalNameLength(fits), fits);
    const QString reserved = vtr::fitLocalNameLength(note.repeated(100) + QStringLiteral(".mp3"), 10);
    EXPECT_LE(reserved.toUtf8().size(), vtr::kMaxLocalNameBytes - 10);

    // A name made unique by its number fits as well, number and extension kept.
    EXPECT_EQ(vtr::numberedName(QStringLiteral("x"), QStringLiteral("txt"), 2), QStringLiteral("x-2.txt"));
    for (const QString &character : {QStringLiteral("a"), QStringLiteral("\u00e9"), QStringLiteral("\u266b"), note}) {
        SCOPED_TRACE(character.toStdString());
        const QString name = vtr::numberedName(character.repeated(300), QStringLiteral("mp3"), 10000);
        const qsizetype bytes = name.toUtf8().size();
        EXPECT_LE(bytes, vtr::kMaxLocalNameBytes);
        EXPECT_GT(bytes, vtr::kMaxLocalNameBytes - character.toUtf8().size());
        EXPECT_TRUE(name.endsWith(QStringLiteral("-10000.mp3")));
        EXPECT_FALSE(name.toUcs4().contains(0xFFFD));
    }
    const QString odd = vtr::numberedName(note, QString(300, u'e'), 1);
    EXPECT_TRUE(odd.startsWith(note + QStringLiteral("-1.e")) && odd.toUtf8().size() == vtr::kMaxLocalNameBytes);
}
