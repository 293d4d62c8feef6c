// What each platform provides for the security functions: one AES-128 block in the cipher's
// own byte order (most significant first), and random bytes. The product uses the system's
// cryptography API; the native test build uses a well-kept library.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace Pd::Bt::Detail
{

// Encrypts one block in ECB mode; false when the cipher cannot be used.
bool EncryptAesBlock(const std::array<std::uint8_t, 16>& key, const std::array<std::uint8_t, 16>& block,
                     std::array<std::uint8_t, 16>& out) noexcept;

// False when the random generator fails.
bool FillRandom(std::span<std::uint8_t> out) noexcept;

} // namespace Pd::Bt::Detail
