#include "devices/devicelist/DeviceListCrypto.h"

namespace vtr {
namespace {

QByteArray paddedKey(const QByteArray &keyData)
{
    QByteArray key = keyData.left(int(kAES256KeyLength));
    key.append(QByteArray(int(kAES256KeyLength) - key.size(), '\0'));
    return key;
}

QByteArray run(bool encrypt, const QByteArray &data, const QByteArray &keyData)
{
    const QByteArray key = paddedKey(keyData);
    std::vector<std::uint8_t> out;
    if (!aes256CbcZeroIv(encrypt, reinterpret_cast<const std::uint8_t *>(key.constData()),
                         reinterpret_cast<const std::uint8_t *>(data.constData()), std::size_t(data.size()), out))
        return QByteArray();
    // A successful decryption of one padding block yields no bytes: that is an
    // empty result, not a failure.
    QByteArray result(reinterpret_cast<const char *>(out.data()), qsizetype(out.size()));
    if (result.isNull()) result = QByteArray("");
    return result;
}

} // namespace

QByteArray AES256EncryptWithKeyData(const QByteArray &data, const QByteArray &keyData)
{
    return run(true, data, keyData);
}

QByteArray AES256DecryptWithKeyData(const QByteArray &data, const QByteArray &keyData)
{
    return run(false, data, keyData);
}

QByteArray AES256EncryptWithKey(const QByteArray &data, const QString &key)
{
    return run(true, data, key.toUtf8());
}

QByteArray AES256DecryptWithKey(const QByteArray &data, const QString &key)
{
    return run(false, data, key.toUtf8());
}

QByteArray deviceListKeyData()
{
    return QByteArray(kDeviceListKey, int(kAES256KeyLength));
}

} // namespace vtr
