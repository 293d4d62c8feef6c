#include "host/hello/Frames.h"

namespace Pd::Bio
{

std::array<std::uint8_t, FrameHeaderSize> EncodeFrame(FrameHeader header)
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

FrameHeader DecodeFrameHeader(std::span<const std::uint8_t, FrameHeaderSize> bytes)
{
    FrameHeader header;
    header.magic = static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
                   static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
    header.kind = bytes[4];
    header.value = bytes[5];
    header.length = static_cast<std::uint16_t>(bytes[6] | bytes[7] << 8);
    return header;
}

std::expected<FrameHeader, FrameError> ReadFrame(const ReadExactly& read)
{
    std::array<std::uint8_t, FrameHeaderSize> bytes{};
    if (!read(bytes))
        return std::unexpected(FrameError{});
    FrameHeader header = DecodeFrameHeader(bytes);
    if (header.magic != FrameMagic || header.length > MaxFramePayload)
        return std::unexpected(FrameError{FrameProblem::Invalid, header});
    std::array<std::uint8_t, MaxFramePayload> payload{};
    if (header.length > 0 && !read(std::span(payload).first(header.length)))
        return std::unexpected(FrameError{FrameProblem::Closed, header});
    return header;
}

} // namespace Pd::Bio
