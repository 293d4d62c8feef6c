// The LE security functions: AES-128 on values in air order (least significant byte first),
// the legacy-pairing confirm value c1, and the system's random generator.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace Pd::Bt
{

using Block = std::array<std::uint8_t, 16>;

// e(key, plaintext) with key, plaintext and result in air order. Throws std::runtime_error
// "AES-128 unavailable" when the system cipher cannot be used.
Block Aes128Encrypt(const Block& key, const Block& plaintext);

// c1 = e(k, e(k, r XOR p1) XOR p2) with p1 = iat, rat, request, response and
// p2 = ra, ia, padding; the addresses are 48-bit values, every vector in air order.
Block PairingConfirm(const Block& key, const Block& random, std::span<const std::uint8_t, 7> request,
                     std::span<const std::uint8_t, 7> response, std::uint8_t iat, std::uint64_t ia,
                     std::uint8_t rat, std::uint64_t ra);

// Fills the bytes from the system's preferred random generator. Throws std::runtime_error
// "BCryptGenRandom failed" when it fails.
void RandomBytes(std::span<std::uint8_t> out);

} // namespace Pd::Bt
