// Small text helpers of the AT command engine: ASCII case rules and making outside text safe to
// put into an answer line or a log line.
#pragma once

#include <string>
#include <string_view>

namespace Pd::Tel
{

constexpr char UpperAscii(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// Whether the text begins with the prefix, compared by the ASCII upper-case rule.
bool StartsWithNoCase(std::string_view text, std::string_view prefix);

// The text with every control character (and, for a quoted field, every '"') replaced by '?', so
// that a value from Windows or the network can neither end an answer line nor its quotes.
std::string LineField(std::string_view text, bool quoted = false);

// The text for a log line: control characters and '\' shown as \xNN.
std::string Printable(std::string_view text);

} // namespace Pd::Tel
