#include "tel/at/AtText.h"

#include <algorithm>

namespace Pd::Tel
{
namespace
{

bool IsControl(char c)
{
    auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7F;
}

} // namespace

bool StartsWithNoCase(std::string_view text, std::string_view prefix)
{
    if (text.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (UpperAscii(text[i]) != UpperAscii(prefix[i]))
            return false;
    return true;
}

bool QuotesClosed(std::string_view text)
{
    return std::ranges::count(text, '"') % 2 == 0;
}

std::size_t FindUnquoted(std::string_view text, std::string_view wanted)
{
    bool quoted = false;
    for (std::size_t at = 0; at < text.size(); ++at)
    {
        if (text[at] == '"')
            quoted = !quoted;
        else if (!quoted && text.substr(at).starts_with(wanted))
            return at;
    }
    return std::string_view::npos;
}

std::string WithoutBlanks(std::string_view text)
{
    auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
    std::string kept;
    kept.reserve(text.size());
    bool quoted = false;
    for (std::size_t at = 0; at < text.size(); ++at)
    {
        char c = text[at];
        if (c == '"')
            quoted = !quoted;
        if (quoted || c != ' ')
        {
            kept.push_back(c);
            continue;
        }
        std::size_t next = text.find_first_not_of(' ', at);
        if (next != std::string_view::npos && !kept.empty() && isDigit(kept.back()) && isDigit(text[next]))
            kept.push_back(' ');
        at = (next == std::string_view::npos ? text.size() : next) - 1;
    }
    return kept;
}

std::string LineField(std::string_view text, bool quoted)
{
    std::string field(text);
    for (char& c : field)
        if (IsControl(c) || (quoted && c == '"'))
            c = '?';
    return field;
}

} // namespace Pd::Tel
