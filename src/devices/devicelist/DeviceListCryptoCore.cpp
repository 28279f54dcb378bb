// Kept free of Qt: the build-time tool that encrypts the shipped device list
// compiles this file on its own.
#include "devices/devicelist/DeviceListCrypto.h"

#include <openssl/evp.h>

#include <limits>
#include <memory>

namespace vtr {

bool aes256CbcZeroIv(bool encrypt, const std::uint8_t *key, const std::uint8_t *input, std::size_t length,
                     std::vector<std::uint8_t> &out)
{
    out.clear();
    // EVP takes int lengths; a device list is nowhere near that size.
    if (length > std::size_t(std::numeric_limits<int>::max() - 32)) return false;
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(), &EVP_CIPHER_CTX_free);
    if (!ctx) return false;
    const std::uint8_t iv[16] = {};
    if (EVP_CipherInit_ex(ctx.get(), EVP_aes_256_cbc(), nullptr, key, iv, encrypt ? 1 : 0) != 1) return false;
    EVP_CIPHER_CTX_set_padding(ctx.get(), 1);
    std::vector<std::uint8_t> buffer(length + 16);
    int produced = 0;
    if (length > 0 && EVP_CipherUpdate(ctx.get(), buffer.data(), &produced, input, static_cast<int>(length)) != 1)
        return false;
    int last = 0;
    if (EVP_CipherFinal_ex(ctx.get(), buffer.data() + produced, &last) != 1) return false;
    buffer.resize(std::size_t(produced) + std::size_t(last));
    out = std::move(buffer);
    return true;
}

} // namespace vtr
