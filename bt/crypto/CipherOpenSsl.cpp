// AES-128 and random bytes through OpenSSL's libcrypto: the native test build's stand-in for
// the Windows cryptography API.
#include "bt/crypto/SystemCipher.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <memory>

namespace Pd::Bt::Detail
{

bool EncryptAesBlock(const std::array<std::uint8_t, 16>& key, const std::array<std::uint8_t, 16>& block,
                     std::array<std::uint8_t, 16>& out) noexcept
{
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> context(EVP_CIPHER_CTX_new(),
                                                                            &EVP_CIPHER_CTX_free);
    if (!context || EVP_EncryptInit_ex(context.get(), EVP_aes_128_ecb(), nullptr, key.data(), nullptr) != 1 ||
        EVP_CIPHER_CTX_set_padding(context.get(), 0) != 1)
        return false;
    int written = 0;
    if (EVP_EncryptUpdate(context.get(), out.data(), &written, block.data(),
                          static_cast<int>(block.size())) != 1)
        return false;
    int finalWritten = 0;
    if (EVP_EncryptFinal_ex(context.get(), out.data() + written, &finalWritten) != 1)
        return false;
    return written + finalWritten == static_cast<int>(out.size());
}

bool FillRandom(std::span<std::uint8_t> out) noexcept
{
    return out.empty() || RAND_bytes(out.data(), static_cast<int>(out.size())) == 1;
}

} // namespace Pd::Bt::Detail
