#include "foundation/VtrBase64.h"

#include <QRandomGenerator>
#include <QStringList>

#include <gtest/gtest.h>

using vtr::base64EncodingWithLineLength;
using vtr::dataWithBase64EncodedString;

TEST(Base64, ShortInputsBothWays)
{
    EXPECT_EQ(base64EncodingWithLineLength("abc", 0), "YWJj");
    EXPECT_EQ(base64EncodingWithLineLength("ab", 0), "YWI=");
    EXPECT_EQ(base64EncodingWithLineLength("a", 0), "YQ==");
    EXPECT_EQ(base64EncodingWithLineLength(QByteArray(), 80), "");
    for (const char *s : {"abc", "ab", "a"})
        EXPECT_EQ(dataWithBase64EncodedString(base64EncodingWithLineLength(s, 0)), QByteArray(s));
    EXPECT_EQ(dataWithBase64EncodedString(QString()), QByteArray());
    EXPECT_EQ(dataWithBase64EncodedString(QString("")), QByteArray());
}

TEST(Base64, DecodingSkipsStraysAndStopsAtPadding)
{
    EXPECT_EQ(dataWithBase64EncodedString(QString("YWJj\nYWJj")), "abcabc");
    EXPECT_EQ(dataWithBase64EncodedString(QString(" Y W\r\nJ j\t!")), "abc");
    EXPECT_EQ(dataWithBase64EncodedString(QString("YQ==YWJj")), "a");
    EXPECT_EQ(dataWithBase64EncodedString(QString("=YWJj")), "");
    // A non-ASCII text (even after the padding) decodes to nothing.
    EXPECT_EQ(dataWithBase64EncodedString(QString::fromUtf8("YWJj\u00e9")), "");
    EXPECT_EQ(dataWithBase64EncodedString(QString::fromUtf8("YQ==\u00e9")), "");
    EXPECT_EQ(dataWithBase64EncodedString(QByteArray("YWJj\xc3\xa9")), "");
}

TEST(Base64, UnpaddedFinalGroupsDecode)
{
    // A final group of 2 or 3 characters carries 1 or 2 whole bytes, padded
    // or not; a lone sixth of a byte carries nothing.
    EXPECT_EQ(dataWithBase64EncodedString(QString("YWJjYWI")), "abcab");
    EXPECT_EQ(dataWithBase64EncodedString(QString("YWJjYQ")), "abca");
    EXPECT_EQ(dataWithBase64EncodedString(QString("YWJjYWI=")), "abcab");
    EXPECT_EQ(dataWithBase64EncodedString(QString("YWJjY")), "abc");
    // A mark at the second place: one byte with the value's six bits on top.
    EXPECT_EQ(dataWithBase64EncodedString(QString("YWJjY===")), QByteArray("abc") + char(24 << 2));
    QByteArray all;
    for (int i = 0; i < 256; ++i)
        all.append(char(i));
    for (int n = 0; n < 40; ++n) {
        QString text = base64EncodingWithLineLength(all.left(n), 0);
        text.remove('=');
        EXPECT_EQ(dataWithBase64EncodedString(text), all.left(n)) << n;
    }
}

TEST(Base64, LinesAreWholeGroups)
{
    const QByteArray sixty(60, 'x');
    const QString a = base64EncodingWithLineLength(sixty, 80);
    EXPECT_EQ(a.size(), 81);
    EXPECT_TRUE(a.endsWith('\n'));
    EXPECT_EQ(a.indexOf('\n'), 80);

    const QString b = base64EncodingWithLineLength(QByteArray(61, 'x'), 80);
    EXPECT_EQ(b.size(), 85);
    EXPECT_EQ(b.indexOf('\n'), 80);
    EXPECT_TRUE(b.endsWith("eA=="));

    const QString c = base64EncodingWithLineLength(QByteArray(30, 'x'), 10); // 40 chars in lines of 12
    EXPECT_EQ(c.split('\n'), QStringList({"eHh4eHh4eHh4", "eHh4eHh4eHh4", "eHh4eHh4eHh4", "eHh4"}));
    EXPECT_FALSE(c.contains('\r'));
}

TEST(Base64, AgreesWithQtAndRoundTripsRandomData)
{
    QRandomGenerator rng(12345);
    for (int i = 0; i < 300; ++i) {
        QByteArray data(int(rng.bounded(0, 400)), Qt::Uninitialized);
        for (char &c : data)
            c = char(rng.bounded(256));
        const quint32 line = rng.bounded(4) == 0 ? 0 : quint32(rng.bounded(1, 100));
        const QString text = base64EncodingWithLineLength(data, line);
        QString flat = text;
        flat.remove('\n');
        ASSERT_EQ(flat, QString::fromLatin1(data.toBase64())) << i;
        ASSERT_EQ(dataWithBase64EncodedString(text), data) << i;
        if (line != 0) {
            for (const QString &l : text.split('\n', Qt::SkipEmptyParts)) {
                ASSERT_LE(l.size(), int((line + 3) / 4 * 4));
            }
        }
    }
    for (int c = 0; c < 256; ++c)
        EXPECT_EQ(vtr::isCharacterPartOfBase64Encoding(uchar(c)),
                  QByteArray("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/").contains(char(c)))
            << c;
}
