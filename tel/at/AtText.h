// Small text helpers of the AT command engine: ASCII case rules, string constants in double
// quotes, and making outside text safe to put into an answer line.
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

// Whether every double quote of the line has its closing one.
bool QuotesClosed(std::string_view text);

// The position of the first `wanted` that stands outside double quotes (a string constant may hold
// any ';', ',' or '=' without them separating anything); npos when there is none.
std::size_t FindUnquoted(std::string_view text, std::string_view wanted);

// The text without the blanks that only format a command line: those outside string constants.
// A run of blanks between two digits stays one blank, so that "1 2" is no number at all rather
// than 12.
std::string WithoutBlanks(std::string_view text);

// The text with every control character (and, for a quoted field, every '"') replaced by '?', so
// that a value from Windows or the network can neither end an answer line nor its quotes.
std::string LineField(std::string_view text, bool quoted = false);

} // namespace Pd::Tel
