#include "tel/at/AtText.h"

#include <fmt/format.h>

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

std::string LineField(std::string_view text, bool quoted)
{
    std::string field(text);
    for (char& c : field)
        if (IsControl(c) || (quoted && c == '"'))
            c = '?';
    return field;
}

std::string Printable(std::string_view text)
{
    std::string shown;
    for (char c : text)
    {
        if (IsControl(c) || c == '\\')
            shown += fmt::format("\\x{:02x}", static_cast<unsigned char>(c));
        else
            shown += c;
    }
    return shown;
}

} // namespace Pd::Tel
