#include "bt/crypto/SecurityFunctions.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace
{

using Pd::Bt::Block;

// A 128-bit value written most significant byte first, as the sample data prints it, in air
// order (least significant byte first).
Block AirOrder(const std::string& hex)
{
    Block block{};
    for (std::size_t i = 0; i < 16; ++i)
        block[15 - i] = static_cast<std::uint8_t>(std::stoi(hex.substr(2 * i, 2), nullptr, 16));
    return block;
}

TEST(PairingConfirm, MatchesTheC1SampleData)
{
    // Pairing Request 0x07071000000101 and Response 0x05000800000302 in the order they travel.
    const std::uint8_t request[7] = {0x01, 0x01, 0x00, 0x00, 0x10, 0x07, 0x07};
    const std::uint8_t response[7] = {0x02, 0x03, 0x00, 0x00, 0x08, 0x00, 0x05};
    Block confirm = Pd::Bt::PairingConfirm(Block{}, AirOrder("5783D52156AD6F0E6388274EC6702EE0"), request,
                                           response, 1, 0xA1A2A3A4A5A6, 0, 0xB1B2B3B4B5B6);
    EXPECT_EQ(confirm, AirOrder("1E1E3FEF878988EAD2A74DC5BEF13B86"));
}

TEST(RandomBytes, FillsTheWholeBufferWithFreshBytes)
{
    std::array<std::uint8_t, 64> first{};
    std::array<std::uint8_t, 64> second{};
    Pd::Bt::RandomBytes(first);
    Pd::Bt::RandomBytes(second);
    EXPECT_NE(first, second);
    // 64 random bytes that end in 16 zero bytes happen once in 2^128 runs: a short fill.
    EXPECT_FALSE(std::all_of(first.end() - 16, first.end(), [](std::uint8_t b) { return b == 0; }));
}

} // namespace
