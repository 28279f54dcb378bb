// The device-list cipher: AES-256-CBC, PKCS#7, all-zero IV.
#include "devices/devicelist/DeviceListCrypto.h"

#include <QProcess>
#include <QStandardPaths>

#include <gtest/gtest.h>

namespace {

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(QByteArray(text));
}

// NIST SP 800-38A, F.2.5 and F.2.6 (CBC-AES256).
const QByteArray kKey = hex("603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4");
const QByteArray kIv = hex("000102030405060708090a0b0c0d0e0f");
const QByteArray kPlain = hex("6bc1bee22e409f96e93d7e117393172a"
                              "ae2d8a571e03ac9c9eb76fac45af8e51"
                              "30c81c46a35ce411e5fbc1191a0a52ef"
                              "f69f2445df4f9b17ad2b417be66c3710");
const QByteArray kCipher = hex("f58c4c04d6e5f1ba779eabfb5f7bfbd6"
                               "9cfc4e967edb808d679f777bc6702c7d"
                               "39f23369a9d9bacfa530e26304231461"
                               "b2eb05e2c39be9fcda6c19078c6a9d1b");

// With a zero IV the first block is enciphered as it is; folding the vector's
// IV into it gives the vector's chain.
QByteArray withIvFolded(const QByteArray &plain)
{
    QByteArray folded = plain;
    for (int i = 0; i < 16; ++i)
        folded[i] = char(folded[i] ^ kIv[i]);
    return folded;
}

TEST(AES256, MatchesTheNistCbcVectors)
{
    const QByteArray encrypted = vtr::AES256EncryptWithKeyData(withIvFolded(kPlain), kKey);
    // Four blocks of the vector, then one block of padding.
    ASSERT_EQ(encrypted.size(), 80);
    EXPECT_EQ(encrypted.left(64).toHex(), kCipher.toHex());

    const QByteArray decrypted = vtr::AES256DecryptWithKeyData(encrypted, kKey);
    EXPECT_EQ(decrypted.toHex(), withIvFolded(kPlain).toHex());
    // Decryption alone, block by block: the vector's cipher text followed by
    // the padding block gives the vector's plain text back.
    const QByteArray chained = vtr::AES256DecryptWithKeyData(kCipher + encrypted.mid(64), kKey);
    EXPECT_EQ(withIvFolded(chained).toHex(), kPlain.toHex());
}

TEST(AES256, KeysArePaddedOrCutToThirtyTwoBytes)
{
    const QByteArray data("device list");
    const QByteArray shortKey("secret");
    const QByteArray padded = shortKey + QByteArray(32 - shortKey.size(), '\0');
    EXPECT_EQ(vtr::AES256EncryptWithKeyData(data, shortKey), vtr::AES256EncryptWithKeyData(data, padded));
    EXPECT_EQ(vtr::AES256EncryptWithKeyData(data, kKey + QByteArray("ignored")),
              vtr::AES256EncryptWithKeyData(data, kKey));
    EXPECT_NE(vtr::AES256EncryptWithKeyData(data, shortKey), vtr::AES256EncryptWithKeyData(data, kKey));

    // Text keys: their UTF-8 bytes, at most 32 of them.
    const QString textKey = QStringLiteral("schlüssel");
    EXPECT_EQ(vtr::AES256EncryptWithKey(data, textKey), vtr::AES256EncryptWithKeyData(data, textKey.toUtf8()));
    const QString longKey = QString(40, QLatin1Char('k'));
    EXPECT_EQ(vtr::AES256DecryptWithKey(vtr::AES256EncryptWithKey(data, longKey), QString(32, QLatin1Char('k'))), data);

    const QByteArray builtIn = vtr::deviceListKeyData();
    ASSERT_EQ(builtIn.size(), 32);
    EXPECT_EQ(builtIn.at(0), '\0');
    for (int i = 1; i < 32; ++i)
        EXPECT_TRUE(builtIn.at(i) > 0x20 && builtIn.at(i) < 0x7F) << i;
}

TEST(AES256, RoundTripsEveryLengthAndRefusesDamagedCipherText)
{
    for (int length : {0, 1, 15, 16, 17, 31, 32, 1000}) {
        const QByteArray data(length, char('a' + length % 26));
        const QByteArray encrypted = vtr::AES256EncryptWithKeyData(data, kKey);
        EXPECT_EQ(encrypted.size(), (length / 16 + 1) * 16) << length;
        const QByteArray decrypted = vtr::AES256DecryptWithKeyData(encrypted, kKey);
        EXPECT_FALSE(decrypted.isNull()) << length;
        EXPECT_EQ(decrypted, data) << length;
    }
    const QByteArray encrypted = vtr::AES256EncryptWithKeyData(QByteArray(100, 'x'), kKey);
    EXPECT_TRUE(vtr::AES256DecryptWithKeyData(encrypted.left(encrypted.size() - 1), kKey).isNull());
    EXPECT_TRUE(vtr::AES256DecryptWithKeyData(QByteArray(), kKey).isNull());
    // The wrong key leaves a padding that does not check out.
    EXPECT_TRUE(vtr::AES256DecryptWithKeyData(encrypted, vtr::deviceListKeyData()).isNull());
}

// The routine agrees with the OpenSSL command line in both directions.
TEST(AES256, AgreesWithOpensslEnc)
{
    const QString openssl = QStandardPaths::findExecutable(QStringLiteral("openssl"));
    if (openssl.isEmpty()) GTEST_SKIP() << "no openssl command";
    const QByteArray key = vtr::deviceListKeyData();
    const QByteArray data = QByteArray("{\"revision\":1,\"SupportedDevices\":{}}").repeated(7);
    auto run = [&](const QStringList &mode, const QByteArray &input) {
        QProcess process;
        process.start(openssl, QStringList{QStringLiteral("enc")} + mode +
                                   QStringList{QStringLiteral("-aes-256-cbc"), QStringLiteral("-K"),
                                               QString::fromLatin1(key.toHex()), QStringLiteral("-iv"),
                                               QString(32, QLatin1Char('0'))});
        process.write(input);
        process.closeWriteChannel();
        EXPECT_TRUE(process.waitForFinished(30000));
        EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().constData();
        return process.readAllStandardOutput();
    };
    const QByteArray ours = vtr::AES256EncryptWithKeyData(data, key);
    EXPECT_EQ(run({QStringLiteral("-e")}, data).toHex(), ours.toHex());
    EXPECT_EQ(run({QStringLiteral("-d")}, ours), data);
}

} // namespace
