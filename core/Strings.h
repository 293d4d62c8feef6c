// Small text helpers used everywhere: UTF-8/UTF-16 conversion, lower case, letter-case-blind
// comparison, byte sizes.
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

// Equal as Windows compares file, registry and account names: unit by unit after its upper-case
// mapping, in every script ("\u00C4" equals "\u00E4"), with no other folding ("\u00DF" is not "SS",
// "/" is not "\\").
bool EqualsIgnoringCase(std::wstring_view a, std::wstring_view b);

// Whether the text begins with, or holds anywhere, the other text under the same rule.
bool StartsWithIgnoringCase(std::wstring_view text, std::wstring_view prefix);
bool ContainsIgnoringCase(std::wstring_view text, std::wstring_view part);

// Equal when only the letters A to Z differ in case: for protocol tokens such as URL schemes,
// where a non-ASCII letter never matches an ASCII one.
bool EqualsAsciiIgnoringCase(std::wstring_view a, std::wstring_view b);

// A byte count for display: "{:.1f} KB" below 1 MiB, "{:.1f} MB" below 1 GiB, else "{:.2f} GB".
std::wstring FormatBytes(std::uint64_t bytes);

} // namespace Pd::Core
