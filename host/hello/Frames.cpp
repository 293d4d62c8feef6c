#include "host/hello/Frames.h"

namespace Pd::Bio
{

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
