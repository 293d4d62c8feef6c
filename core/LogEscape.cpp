#include "core/LogEscape.h"

#include <fmt/format.h>

#include <utility>

namespace Pd::Core
{

std::pair<std::size_t, char32_t> DecodeUtf8(std::string_view text)
{
    const auto lead = static_cast<unsigned char>(text[0]);
    const std::size_t length = lead < 0x80             ? 1
                               : (lead & 0xE0) == 0xC0 ? 2
                               : (lead & 0xF0) == 0xE0 ? 3
                               : (lead & 0xF8) == 0xF0 ? 4
                                                       : 0;
    if (length == 0 || length > text.size())
        return {0, 0};
    char32_t character = length == 1 ? lead : lead & (0x7F >> length);
    for (std::size_t at = 1; at < length; ++at)
    {
        const auto next = static_cast<unsigned char>(text[at]);
        if ((next & 0xC0) != 0x80)
            return {0, 0};
        character = character << 6 | (next & 0x3F);
    }
    static constexpr char32_t Least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (character < Least[length] || character > 0x10FFFF || (character >= 0xD800 && character <= 0xDFFF))
        return {0, 0};
    return {length, character};
}

bool IsHiddenCharacter(char32_t c)
{
    return c <= 0x1F || (c >= 0x7F && c <= 0x9F) || c == 0x061C || (c >= 0x200B && c <= 0x200F) ||
           (c >= 0x2028 && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069) || c == 0xFEFF;
}

std::string EscapeForLog(std::string_view text, std::size_t maxCharacters)
{
    std::string out;
    for (std::size_t count = 0; !text.empty(); ++count)
    {
        if (count == maxCharacters)
            return out + "\xE2\x80\xA6";
        auto [length, character] = DecodeUtf8(text);
        if (length == 0)
            out += fmt::format("\\x{:02X}", static_cast<unsigned char>(text[0]));
        else if (character < 0x80 && IsHiddenCharacter(character))
            out += fmt::format("\\x{:02X}", static_cast<unsigned>(character));
        else if (IsHiddenCharacter(character))
            out += fmt::format("\\u{:04X}", static_cast<unsigned>(character));
        else if (character == '\\')
            out += "\\\\";
        else
            out += text.substr(0, length);
        text.remove_prefix(length == 0 ? 1 : length);
    }
    return out;
}

std::string EscapeQuotedForLog(std::string_view text, std::size_t maxCharacters)
{
    std::string out;
    for (char c : EscapeForLog(text, maxCharacters))
        c == '"' ? out += "\\x22" : out += c;
    return out;
}

} // namespace Pd::Core
