// AES-128 and random bytes through the Windows cryptography API (CNG).
#include "bt/crypto/SystemCipher.h"

#include "core/Handles.h"

#include <bcrypt.h>

namespace Pd::Bt::Detail
{
namespace
{

using UniqueKey = Unique<BCRYPT_KEY_HANDLE, &::BCryptDestroyKey>;

bool Succeeded(NTSTATUS status)
{
    return status >= 0;
}

} // namespace

bool EncryptAesBlock(const std::array<std::uint8_t, 16>& key, const std::array<std::uint8_t, 16>& block,
                     std::array<std::uint8_t, 16>& out) noexcept
{
    // A provider per block: LE Encrypt and pairing are rare, and nothing is shared between threads.
    UniqueAlgorithm algorithm;
    if (!Succeeded(::BCryptOpenAlgorithmProvider(algorithm.Put(), BCRYPT_AES_ALGORITHM, nullptr, 0)))
        return false;
    auto* mode = reinterpret_cast<PUCHAR>(const_cast<wchar_t*>(BCRYPT_CHAIN_MODE_ECB));
    if (!Succeeded(::BCryptSetProperty(algorithm.Get(), BCRYPT_CHAINING_MODE, mode,
                                       sizeof(BCRYPT_CHAIN_MODE_ECB), 0)))
        return false;
    UniqueKey aesKey;
    if (!Succeeded(::BCryptGenerateSymmetricKey(algorithm.Get(), aesKey.Put(), nullptr, 0,
                                                const_cast<PUCHAR>(key.data()), key.size(), 0)))
        return false;
    std::array<std::uint8_t, 16> input = block;
    ULONG written = 0;
    if (!Succeeded(::BCryptEncrypt(aesKey.Get(), input.data(), input.size(), nullptr, nullptr, 0, out.data(),
                                   out.size(), &written, 0)))
        return false;
    return written == out.size();
}

bool FillRandom(std::span<std::uint8_t> out) noexcept
{
    return Succeeded(::BCryptGenRandom(nullptr, out.data(), static_cast<ULONG>(out.size()),
                                       BCRYPT_USE_SYSTEM_PREFERRED_RNG));
}

} // namespace Pd::Bt::Detail
