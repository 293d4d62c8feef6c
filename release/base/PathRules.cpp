#include "release/base/PathRules.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace Pd::Install
{
namespace
{

constexpr wchar_t Replacement = 0xFFFD;

wchar_t AsciiUpper(wchar_t c)
{
    return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c;
}

bool IsDeviceDigit(wchar_t c)
{
    return (c >= L'0' && c <= L'9') || c == 0x00B9 || c == 0x00B2 || c == 0x00B3;
}

// Length of the UTF-8 sequence a lead byte starts and the smallest code point it may encode
// (anything smaller is an overlong form); 0 for a byte that starts no sequence.
struct Lead
{
    int length;
    char32_t minimum;
    char32_t bits;
};

Lead ReadLead(std::uint8_t byte)
{
    if (byte < 0x80)
        return {1, 0, byte};
    if ((byte & 0xE0) == 0xC0)
        return {2, 0x80, static_cast<char32_t>(byte & 0x1F)};
    if ((byte & 0xF0) == 0xE0)
        return {3, 0x800, static_cast<char32_t>(byte & 0x0F)};
    if ((byte & 0xF8) == 0xF0)
        return {4, 0x10000, static_cast<char32_t>(byte & 0x07)};
    return {0, 0, 0};
}

} // namespace

bool HasForbiddenCharacter(std::wstring_view component)
{
    return std::ranges::any_of(component, [](wchar_t c) {
        return c < 0x20 || std::wstring_view(L":*?\"<>|").find(c) != std::wstring_view::npos;
    });
}

bool IsReservedName(std::wstring_view component)
{
    if (component.empty() || component == L"." || component == L"..")
        return false;
    if (component.back() == L'.' || component.back() == L' ')
        return true;
    std::wstring base(component.substr(0, component.find(L'.')));
    while (!base.empty() && base.back() == L' ')
        base.pop_back();
    std::ranges::transform(base, base.begin(), AsciiUpper);
    for (std::wstring_view device : {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"})
        if (base == device)
            return true;
    return base.size() == 4 && (base.starts_with(L"COM") || base.starts_with(L"LPT")) &&
           IsDeviceDigit(base[3]);
}

std::wstring Utf16FromUtf8(std::string_view utf8)
{
    std::wstring result;
    result.reserve(utf8.size());
    std::size_t i = 0;
    while (i < utf8.size())
    {
        Lead lead = ReadLead(static_cast<std::uint8_t>(utf8[i]));
        char32_t code = lead.bits;
        int taken = 1;
        bool valid = lead.length > 0;
        while (valid && taken < lead.length)
        {
            if (i + taken >= utf8.size() || (static_cast<std::uint8_t>(utf8[i + taken]) & 0xC0) != 0x80)
                valid = false;
            else
                code = (code << 6) | (static_cast<std::uint8_t>(utf8[i + taken++]) & 0x3F);
        }
        if (valid && (code < lead.minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)))
            valid = false;
        if (!valid)
        {
            // The lead byte alone is replaced; the bytes after it are read again on their own.
            result.push_back(Replacement);
            ++i;
            continue;
        }
        if (code >= 0x10000)
        {
            code -= 0x10000;
            result.push_back(static_cast<wchar_t>(0xD800 + (code >> 10)));
            result.push_back(static_cast<wchar_t>(0xDC00 + (code & 0x3FF)));
        }
        else
        {
            result.push_back(static_cast<wchar_t>(code));
        }
        i += taken;
    }
    return result;
}

std::expected<std::wstring, std::wstring> RelativeEntryPath(std::string_view utf8Name)
{
    std::wstring name = Utf16FromUtf8(utf8Name);
    std::ranges::replace(name, L'/', L'\\');
    std::wstring result;
    std::size_t start = 0;
    while (start <= name.size())
    {
        std::size_t end = std::min(name.find(L'\\', start), name.size());
        std::wstring_view component = std::wstring_view(name).substr(start, end - start);
        start = end + 1;
        if (component.empty() || component == L".")
            continue;
        if (component == L".." || HasForbiddenCharacter(component) || IsReservedName(component))
            return std::unexpected(name);
        if (!result.empty())
            result.push_back(L'\\');
        result.append(component);
    }
    return result;
}

} // namespace Pd::Install
