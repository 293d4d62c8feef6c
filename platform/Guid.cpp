#include "platform/Guid.h"

#include "core/Hex.h"

#include <fmt/xchar.h>

namespace Pd::Platform
{
namespace
{

// Reads `digits` hexadecimal digits at `position` and moves past them.
std::optional<unsigned long long> ReadHex(std::wstring_view text, size_t& position, size_t digits)
{
    unsigned long long value = 0;
    for (size_t i = 0; i < digits; ++i, ++position)
    {
        int digit = Core::HexValue(text[position]);
        if (digit < 0)
            return std::nullopt;
        value = value << 4 | static_cast<unsigned>(digit);
    }
    return value;
}

} // namespace

std::wstring GuidText(const GUID& g, bool braces)
{
    std::wstring text = fmt::format(L"{:08X}-{:04X}-{:04X}-{:02X}{:02X}-{:02X}{:02X}{:02X}{:02X}{:02X}{:02X}",
                                    g.Data1, g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3],
                                    g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return braces ? L"{" + text + L"}" : text;
}

std::optional<GUID> ParseGuid(std::wstring_view text)
{
    if (text.size() != 38 || text.front() != L'{' || text.back() != L'}')
        return std::nullopt;
    for (size_t dash : {9u, 14u, 19u, 24u})
        if (text[dash] != L'-')
            return std::nullopt;
    size_t position = 1;
    GUID guid{};
    auto data1 = ReadHex(text, position, 8);
    ++position;
    auto data2 = ReadHex(text, position, 4);
    ++position;
    auto data3 = ReadHex(text, position, 4);
    ++position;
    if (!data1 || !data2 || !data3)
        return std::nullopt;
    guid.Data1 = static_cast<unsigned long>(*data1);
    guid.Data2 = static_cast<unsigned short>(*data2);
    guid.Data3 = static_cast<unsigned short>(*data3);
    for (int i = 0; i < 8; ++i)
    {
        if (i == 2)
            ++position; // the dash between the fourth and fifth groups
        auto byte = ReadHex(text, position, 2);
        if (!byte)
            return std::nullopt;
        guid.Data4[i] = static_cast<unsigned char>(*byte);
    }
    return guid;
}

} // namespace Pd::Platform
