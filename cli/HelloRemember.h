// How long a Windows Hello confirmation is remembered for fingerprint requests, in words.
#pragma once

#include <cstdint>
#include <string>

namespace Pd::Cli
{

// The per-user HelloRemember value: 0 asks every time, 0xFFFFFFFF lasts until Windows is locked,
// anything else is a number of minutes.
inline constexpr std::uint32_t HelloRememberUntilLocked = 0xFFFFFFFF;

// "off (Windows Hello asks every time)", "until Windows is locked" or "for N minutes".
std::wstring HelloRememberText(std::uint32_t value);

} // namespace Pd::Cli
