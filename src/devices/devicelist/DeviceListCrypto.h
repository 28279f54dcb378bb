#pragma once

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <vector>

// AES-256 in CBC mode with PKCS#7 padding and an all-zero initialisation
// vector: the form of the device list on disk and on the wire. The cipher text
// stands alone (no header, length or checksum), so a damaged file shows up
// only as a padding failure or as text that is not JSON.
namespace vtr {

inline constexpr std::size_t kAES256KeyLength = 32;

// The key the device list is encrypted with: a zero byte followed by 31
// printable ASCII characters.
inline constexpr char kDeviceListKey[kAES256KeyLength + 1] = "\0SolvennaWP.DeviceList/Vantrel#7";

// The raw routine, free of Qt so that the build-time encryption tool can share
// it. `key` is taken as it is (exactly 32 bytes). Answers false (and leaves
// `out` empty) when the cipher fails, e.g. on a bad padding or a cipher text
// whose length is not a whole number of blocks.
bool aes256CbcZeroIv(bool encrypt, const std::uint8_t *key, const std::uint8_t *input, std::size_t length,
                     std::vector<std::uint8_t> &out);

// The receiver's bytes encrypted or decrypted. A null QByteArray on failure.
// The key data's first 32 bytes are used, zero-padded to 32 when shorter.
QByteArray AES256EncryptWithKeyData(const QByteArray &data, const QByteArray &keyData);
QByteArray AES256DecryptWithKeyData(const QByteArray &data, const QByteArray &keyData);
// The same with the key given as text: its UTF-8 bytes (at most 32), zero-padded.
QByteArray AES256EncryptWithKey(const QByteArray &data, const QString &key);
QByteArray AES256DecryptWithKey(const QByteArray &data, const QString &key);

// The built-in device-list key as data.
QByteArray deviceListKeyData();

} // namespace vtr
