// The elevation bridge's wire format: 8-byte little-endian frame headers, the root request record,
// the answer, state and Magisk APK frames. Bytes in and out, no Windows: fuzzed natively.
#pragma once

#include "host/frames/FrameHeader.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace Pd::Bio::Elevation
{

inline constexpr std::uint32_t Magic = 0x56454B54; // "TKEV"
inline constexpr std::uint16_t MaxPayload = 2048;  // the most Android may send in one frame
inline constexpr std::uint32_t MaxApkSize = 0x4000000;

enum class Kind : std::uint8_t
{
    Request = 1,   // Android: a root request
    Answer = 2,    // Windows: the answer to a request
    Cancel = 3,    // Android: cancel a request
    State = 4,     // Windows: the settings' state byte; Android: its Magisk mode
    MagiskApk = 5, // Windows: the APK; Android: whether it stored it
};

enum class Answer : std::uint8_t
{
    Granted = 1,
    Denied = 2,
    NotSetUp = 3, // Windows Hello is not set up
    Busy = 4,
};

// The settings one run of the bridge serves; fixed for its life.
struct Mode
{
    bool su = false;               // su for root apps
    bool magisk = false;           // Magisk mode on
    bool magiskTurningOff = false; // Magisk mode being turned off while root is off
    bool operator==(const Mode&) const = default;
};

// State byte bits.
inline constexpr std::uint8_t StateCarriesMagisk = 0x80;
inline constexpr std::uint8_t StateMagiskOn = 0x02;
inline constexpr std::uint8_t StateSu = 0x01;

std::uint8_t StateByte(const Mode& mode, bool magiskOffPending);

// A header Android may send: the right magic and a payload of at most MaxPayload bytes.
bool Acceptable(const FrameHeader& header);

// A root request (kind 1 payload). Strings hold the raw UTF-8 bytes as received.
struct Request
{
    bool valid = false; // every field up to the command's bytes was complete
    std::uint32_t id = 0;
    std::uint32_t uid = 0;
    std::string app;
    std::string command; // empty: an interactive shell
};

Request ParseRequest(std::string_view payload);

// The request id of a cancel (kind 3) payload; none when it is shorter than 4 bytes.
std::optional<std::uint32_t> ParseCancel(std::string_view payload);

std::array<std::uint8_t, 12> AnswerFrame(Answer answer, std::uint32_t requestId);
std::array<std::uint8_t, FrameHeaderSize> StateFrame(std::uint8_t state);
// The header of the APK frame and the APK's size; the APK's bytes follow.
std::array<std::uint8_t, 12> ApkFrameStart(std::uint32_t size);

// "granted", "denied", "refused (Windows Hello is not set up)" or "refused (busy)".
std::string_view AnswerLogWord(Answer answer);

} // namespace Pd::Bio::Elevation
