// Small text helpers used everywhere: UTF-8/UTF-16 conversion, lower case, byte sizes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace Pd::Core
{

// UTF-16 to UTF-8 without a byte-order mark; invalid input is replaced as Windows replaces it.
std::string ToUtf8(std::wstring_view text);

// UTF-8 to UTF-16; an invalid sequence becomes U+FFFD, so any bytes give a text.
std::wstring FromUtf8(std::string_view text);

// Lower-cases the letters A to Z unit by unit; everything else stays as it is.
std::wstring ToLower(std::wstring_view text);

// A byte count for display: "{:.1f} KB" below 1 MiB, "{:.1f} MB" below 1 GiB, else "{:.2f} GB".
std::wstring FormatBytes(std::uint64_t bytes);

} // namespace Pd::Core
