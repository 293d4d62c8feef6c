// The frames of the Windows Hello bridge: an 8-byte little-endian header (magic, kind, value,
// payload length) and a payload that is read and dropped. Platform-free: bytes in and out.
#pragma once

#include "host/frames/FrameHeader.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <functional>
#include <span>

namespace Pd::Bio
{

inline constexpr std::uint32_t FrameMagic = 0x50464B54; // "TKFP" on the wire
inline constexpr std::uint16_t MaxFramePayload = 512;

// The kinds the bridge acts on; every other kind is read whole and dropped.
enum class FrameKind : std::uint8_t
{
    Verify = 3,       // Android asks; Windows answers with VerifyResult + 1
    Availability = 4, // Windows tells: 0 available, 3 not available
    Cancel = 5,       // Android cancels the running verification
};

// Fills the whole buffer from the peer, or returns false when the stream ended or failed first.
using ReadExactly = std::function<bool(std::span<std::uint8_t> buffer)>;

enum class FrameProblem
{
    Closed,  // the stream ended or failed, possibly inside a frame
    Invalid, // a wrong magic or a payload above MaxFramePayload: the header says which
};

struct FrameError
{
    FrameProblem problem = FrameProblem::Closed;
    FrameHeader header; // as read, for an invalid frame
};

// Reads one frame: its header, then its payload, which is dropped. An invalid header is reported
// before any payload is read.
std::expected<FrameHeader, FrameError> ReadFrame(const ReadExactly& read);

} // namespace Pd::Bio
