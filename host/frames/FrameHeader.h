// The 8-byte little-endian frame header that the Windows Hello and elevation bridges share:
// magic, kind, value, payload length. Each bridge has its own magic and kinds.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace Pd::Bio
{

inline constexpr std::size_t FrameHeaderSize = 8;

struct FrameHeader
{
    std::uint32_t magic = 0;
    std::uint8_t kind = 0;
    std::uint8_t value = 0;
    std::uint16_t length = 0;

    bool operator==(const FrameHeader&) const = default;
};

inline std::array<std::uint8_t, FrameHeaderSize> EncodeFrameHeader(const FrameHeader& header)
{
    return {static_cast<std::uint8_t>(header.magic),
            static_cast<std::uint8_t>(header.magic >> 8),
            static_cast<std::uint8_t>(header.magic >> 16),
            static_cast<std::uint8_t>(header.magic >> 24),
            header.kind,
            header.value,
            static_cast<std::uint8_t>(header.length),
            static_cast<std::uint8_t>(header.length >> 8)};
}

inline FrameHeader DecodeFrameHeader(std::span<const std::uint8_t, FrameHeaderSize> bytes)
{
    return {static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
                static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24,
            bytes[4], bytes[5], static_cast<std::uint16_t>(bytes[6] | bytes[7] << 8)};
}

} // namespace Pd::Bio
