#include "release/folders/ThisPc.h"

#include "core/Strings.h"

#include <windows.h>

#include <array>
#include <cstdint>
#include <optional>

namespace Pd::Install
{
namespace
{

std::optional<std::uint32_t> Digit(wchar_t c, std::uint32_t base)
{
    std::uint32_t value = 0;
    if (c >= L'0' && c <= L'9')
        value = c - L'0';
    else if (c >= L'a' && c <= L'f')
        value = c - L'a' + 10;
    else if (c >= L'A' && c <= L'F')
        value = c - L'A' + 10;
    else
        return std::nullopt;
    return value < base ? std::optional(value) : std::nullopt;
}

// One part of an IPv4 address as Windows reads it: decimal, octal with a leading 0, hex with 0x.
std::optional<std::uint32_t> Ipv4Part(std::wstring_view part)
{
    std::uint32_t base = 10;
    if (part.size() > 2 && part[0] == L'0' && (part[1] == L'x' || part[1] == L'X'))
    {
        base = 16;
        part.remove_prefix(2);
    }
    else if (part.size() > 1 && part[0] == L'0')
    {
        base = 8;
        part.remove_prefix(1);
    }
    if (part.empty())
        return std::nullopt;
    std::uint64_t value = 0;
    for (wchar_t c : part)
    {
        const auto digit = Digit(c, base);
        if (!digit || (value = value * base + *digit) > 0xFFFFFFFFu)
            return std::nullopt;
    }
    return static_cast<std::uint32_t>(value);
}

// The first byte of an IPv4 address in one to four parts, the last filling the bytes left.
std::optional<std::uint32_t> Ipv4FirstByte(std::wstring_view text)
{
    std::array<std::uint32_t, 4> parts{};
    std::size_t count = 0;
    for (std::size_t at = 0;; ++count)
    {
        const std::size_t end = std::min(text.find(L'.', at), text.size());
        const auto part = count < parts.size() ? Ipv4Part(text.substr(at, end - at)) : std::nullopt;
        if (!part)
            return std::nullopt;
        parts[count] = *part;
        if (end == text.size())
            break;
        at = end + 1;
    }
    if (count == 0)
        return parts[0] >> 24;
    for (std::size_t index = 0; index < count; ++index)
        if (parts[index] > 0xFF)
            return std::nullopt;
    const std::uint32_t lastLimit = 0xFFFFFFFFu >> (8 * count);
    return parts[count] > lastLimit ? std::nullopt : std::optional(parts[0]);
}

// The 16 bytes of an IPv6 address ("::" once at most, a dotted IPv4 tail allowed); no zone.
std::optional<std::array<std::uint8_t, 16>> Ipv6Bytes(std::wstring_view text)
{
    std::array<std::uint16_t, 8> head{};
    std::array<std::uint16_t, 8> tail{};
    std::size_t heads = 0;
    std::size_t tails = 0;
    const std::size_t gap = text.find(L"::");
    const bool hasGap = gap != std::wstring_view::npos;
    const auto groups = [](std::wstring_view part, std::array<std::uint16_t, 8>& into, std::size_t& count) {
        if (part.empty())
            return true;
        for (std::size_t at = 0;;)
        {
            const std::size_t end = std::min(part.find(L':', at), part.size());
            const std::wstring_view group = part.substr(at, end - at);
            if (end == part.size() && group.find(L'.') != std::wstring_view::npos)
            {
                // A dotted IPv4 address as the last two groups: four decimal parts.
                std::uint32_t value = 0;
                std::size_t dots = 0;
                for (std::size_t from = 0;; ++dots)
                {
                    const std::size_t stop = std::min(group.find(L'.', from), group.size());
                    std::uint32_t byte = 0;
                    if (stop == from || stop - from > 3)
                        return false;
                    for (wchar_t c : group.substr(from, stop - from))
                    {
                        const auto digit = Digit(c, 10);
                        if (!digit)
                            return false;
                        byte = byte * 10 + *digit;
                    }
                    if (byte > 255 || dots > 3)
                        return false;
                    value = (value << 8) | byte;
                    if (stop == group.size())
                        break;
                    from = stop + 1;
                }
                if (dots != 3 || count + 2 > into.size())
                    return false;
                into[count++] = static_cast<std::uint16_t>(value >> 16);
                into[count++] = static_cast<std::uint16_t>(value & 0xFFFF);
                return true;
            }
            if (group.empty() || group.size() > 4 || count >= into.size())
                return false;
            std::uint16_t value = 0;
            for (wchar_t c : group)
            {
                const auto digit = Digit(c, 16);
                if (!digit)
                    return false;
                value = static_cast<std::uint16_t>(value * 16 + *digit);
            }
            into[count++] = value;
            if (end == part.size())
                return true;
            at = end + 1;
        }
    };
    if (!groups(hasGap ? text.substr(0, gap) : text, head, heads) ||
        (hasGap && !groups(text.substr(gap + 2), tail, tails)))
        return std::nullopt;
    if (hasGap ? heads + tails > 7 : heads != 8)
        return std::nullopt;
    std::array<std::uint8_t, 16> bytes{};
    const auto put = [&bytes](std::size_t index, std::uint16_t value) {
        bytes[2 * index] = static_cast<std::uint8_t>(value >> 8);
        bytes[2 * index + 1] = static_cast<std::uint8_t>(value & 0xFF);
    };
    for (std::size_t index = 0; index < heads; ++index)
        put(index, head[index]);
    for (std::size_t index = 0; index < tails; ++index)
        put(8 - tails + index, tail[index]);
    return bytes;
}

bool IsIpv6Loopback(std::wstring text)
{
    // The name Windows gives an IPv6 address in a path: '-' for ':' and 's' for the zone's '%'.
    constexpr std::wstring_view literal = L".ipv6-literal.net";
    if (text.size() > literal.size() &&
        Core::EqualsIgnoringCase(std::wstring_view(text).substr(text.size() - literal.size()), literal))
    {
        text.resize(text.size() - literal.size());
        for (wchar_t& c : text)
            c = c == L'-' ? L':' : (c == L's' || c == L'S') ? L'%' : c;
    }
    if (text.size() > 2 && text.front() == L'[' && text.back() == L']')
        text = text.substr(1, text.size() - 2);
    text = text.substr(0, text.find(L'%'));
    const auto bytes = Ipv6Bytes(text);
    if (!bytes)
        return false;
    const auto zeroUpTo = [&](std::size_t end) {
        for (std::size_t index = 0; index < end; ++index)
            if ((*bytes)[index] != 0)
                return false;
        return true;
    };
    // ::1, or the IPv4 loopback network mapped into IPv6 (::ffff:127.x.y.z).
    return (zeroUpTo(15) && (*bytes)[15] == 1) ||
           (zeroUpTo(10) && (*bytes)[10] == 0xFF && (*bytes)[11] == 0xFF && (*bytes)[12] == 127);
}

} // namespace

std::vector<std::wstring> ThisPcNames()
{
    std::vector<std::wstring> names;
    for (const COMPUTER_NAME_FORMAT format :
         {ComputerNameNetBIOS, ComputerNameDnsHostname, ComputerNameDnsFullyQualified,
          ComputerNamePhysicalNetBIOS, ComputerNamePhysicalDnsHostname,
          ComputerNamePhysicalDnsFullyQualified})
    {
        DWORD size = 0;
        ::GetComputerNameExW(format, nullptr, &size);
        std::wstring name(size, L'\0');
        if (size == 0 || !::GetComputerNameExW(format, name.data(), &size))
            continue;
        name.resize(size);
        if (!name.empty())
            names.push_back(std::move(name));
    }
    return names;
}

bool IsThisPc(std::wstring_view server, const std::vector<std::wstring>& names)
{
    while (!server.empty() && server.back() == L'.')
        server.remove_suffix(1);
    if (server.empty() || Core::EqualsIgnoringCase(server, L"localhost"))
        return true;
    for (const std::wstring& name : names)
        if (Core::EqualsIgnoringCase(server, name))
            return true;
    if (const auto first = Ipv4FirstByte(server); first && *first == 127)
        return true;
    return IsIpv6Loopback(std::wstring(server));
}

} // namespace Pd::Install
