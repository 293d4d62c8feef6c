#include "platform/sim/ScenarioReaders.h"

#include "core/Hex.h"

#include <fmt/xchar.h>

namespace Pd::Platform::Sim
{

std::unexpected<std::wstring> Wrong(std::wstring_view where, std::wstring_view expected)
{
    return Pd::Fail(L"scenario.json: \"" + std::wstring(where) + L"\" must be " + std::wstring(expected));
}

Pd::Result<> ReadText(const Json::Value& object, std::wstring_view name, std::wstring& target)
{
    const Json::Value& value = object.Member(name);
    if (value.kind == Json::Kind::Null)
        return {};
    if (value.kind != Json::Kind::String)
        return Wrong(name, L"a text");
    target = value.text;
    return {};
}

Pd::Result<> ReadBool(const Json::Value& object, std::wstring_view name, bool& target)
{
    const Json::Value& value = object.Member(name);
    if (value.kind == Json::Kind::Null)
        return {};
    if (!value.AsBool())
        return Wrong(name, L"true or false");
    target = *value.AsBool();
    return {};
}

Pd::Result<> ReadTexts(const Json::Value& object, std::wstring_view name, std::vector<std::wstring>& target)
{
    const Json::Value& list = object.Member(name);
    if (list.kind == Json::Kind::Null)
        return {};
    if (list.kind != Json::Kind::Array)
        return Wrong(name, L"an array of texts");
    std::vector<std::wstring> texts;
    for (const Json::Value& item : list.Items())
    {
        if (item.kind != Json::Kind::String)
            return Wrong(name, L"an array of texts");
        texts.push_back(item.text);
    }
    target = std::move(texts);
    return {};
}

Pd::Result<> ReadSigned(const Json::Value& object, std::wstring_view name, std::int32_t low,
                        std::int32_t high, std::int32_t& target)
{
    const Json::Value& value = object.Member(name);
    if (value.kind == Json::Kind::Null)
        return {};
    std::wstring_view digits = value.kind == Json::Kind::Number ? std::wstring_view(value.text) : L"";
    bool negative = digits.starts_with(L'-');
    if (negative)
        digits.remove_prefix(1);
    bool valid = !digits.empty() && digits.size() <= 6;
    std::int32_t magnitude = 0;
    for (std::size_t i = 0; valid && i < digits.size(); ++i)
    {
        valid = digits[i] >= L'0' && digits[i] <= L'9';
        magnitude = magnitude * 10 + (digits[i] - L'0');
    }
    std::int32_t number = negative ? -magnitude : magnitude;
    if (!valid || number < low || number > high)
        return Wrong(name, fmt::format(L"a whole number from {} to {}", low, high));
    target = number;
    return {};
}

std::optional<std::uint32_t> ParseHexPort(std::wstring_view text)
{
    if (text.starts_with(L"0x") || text.starts_with(L"0X"))
        text.remove_prefix(2);
    if (text.empty() || text.size() > 8)
        return std::nullopt;
    std::uint32_t value = 0;
    for (wchar_t c : text)
    {
        int digit = Core::HexValue(c);
        if (digit < 0)
            return std::nullopt;
        value = value << 4 | static_cast<std::uint32_t>(digit);
    }
    return value;
}

Pd::Result<std::vector<std::uint8_t>> HexBytes(std::wstring_view hex, std::wstring_view name)
{
    if (hex.size() % 2 != 0)
        return Wrong(name, L"pairs of hexadecimal digits");
    std::vector<std::uint8_t> bytes;
    for (std::size_t at = 0; at < hex.size(); at += 2)
    {
        auto byte = ParseHexPort(hex.substr(at, 2));
        if (!byte)
            return Wrong(name, L"pairs of hexadecimal digits");
        bytes.push_back(static_cast<std::uint8_t>(*byte));
    }
    return bytes;
}

Pd::Result<> ReadHexBytes(const Json::Value& object, std::wstring_view name,
                          std::vector<std::uint8_t>& target)
{
    std::wstring hex;
    if (auto read = ReadText(object, name, hex); !read)
        return read;
    auto bytes = HexBytes(hex, name);
    if (!bytes)
        return std::unexpected(bytes.error());
    target = std::move(*bytes);
    return {};
}

std::optional<HRESULT> ParseFailureHresult(std::wstring_view text)
{
    if (text.size() != 10 || !text.starts_with(L"0x"))
        return std::nullopt;
    std::optional<std::uint32_t> code = ParseHexPort(text);
    if (!code || *code < 0x80000000u)
        return std::nullopt;
    return static_cast<HRESULT>(*code);
}

Pd::Result<> ReadHresult(const Json::Value& object, std::wstring_view name, std::optional<HRESULT>& target)
{
    const Json::Value& value = object.Member(name);
    if (value.kind == Json::Kind::Null)
        return {};
    if (value.kind != Json::Kind::String || !(target = ParseFailureHresult(value.text)))
        return Wrong(name, L"a failure HRESULT as 0x and 8 hex digits");
    return {};
}

Pd::Result<> ReadBluetoothAddress(const Json::Value& object, std::wstring_view name, std::uint64_t& target)
{
    std::wstring text;
    if (auto read = ReadText(object, name, text); !read)
        return read;
    if (text.empty())
        return {};
    if (text.size() != 12)
        return Wrong(name, L"a Bluetooth address of 12 hexadecimal digits");
    std::uint64_t address = 0;
    for (wchar_t c : text)
    {
        int digit = Core::HexValue(c);
        if (digit < 0)
            return Wrong(name, L"a Bluetooth address of 12 hexadecimal digits");
        address = address << 4 | static_cast<std::uint64_t>(digit);
    }
    target = address;
    return {};
}

} // namespace Pd::Platform::Sim
