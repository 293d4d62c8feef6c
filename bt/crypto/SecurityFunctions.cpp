#include "bt/crypto/SecurityFunctions.h"

#include "bt/crypto/SystemCipher.h"

#include <algorithm>
#include <stdexcept>

namespace Pd::Bt
{
namespace
{

Block Reversed(const Block& block)
{
    Block reversed;
    std::reverse_copy(block.begin(), block.end(), reversed.begin());
    return reversed;
}

Block Xor(const Block& a, const Block& b)
{
    Block result;
    for (std::size_t i = 0; i < result.size(); ++i)
        result[i] = a[i] ^ b[i];
    return result;
}

} // namespace

Block Aes128Encrypt(const Block& key, const Block& plaintext)
{
    // AES takes its key and block most significant byte first; LE values travel the other way.
    Block ciphertext;
    if (!Detail::EncryptAesBlock(Reversed(key), Reversed(plaintext), ciphertext))
        throw std::runtime_error("AES-128 unavailable");
    return Reversed(ciphertext);
}

Block PairingConfirm(const Block& key, const Block& random, std::span<const std::uint8_t, 7> request,
                     std::span<const std::uint8_t, 7> response, std::uint8_t iat, std::uint64_t ia,
                     std::uint8_t rat, std::uint64_t ra)
{
    Block p1{};
    p1[0] = iat;
    p1[1] = rat;
    std::copy(request.begin(), request.end(), p1.begin() + 2);
    std::copy(response.begin(), response.end(), p1.begin() + 9);

    Block p2{};
    for (int i = 0; i < 6; ++i)
    {
        p2[i] = static_cast<std::uint8_t>(ra >> (8 * i));
        p2[6 + i] = static_cast<std::uint8_t>(ia >> (8 * i));
    }
    return Aes128Encrypt(key, Xor(Aes128Encrypt(key, Xor(random, p1)), p2));
}

void RandomBytes(std::span<std::uint8_t> out)
{
    if (!Detail::FillRandom(out))
        throw std::runtime_error("BCryptGenRandom failed");
}

} // namespace Pd::Bt
