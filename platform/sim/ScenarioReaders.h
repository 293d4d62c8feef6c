// What the readers of scenario.json's sections are written with. Every reader of an optional
// member leaves its target as it is when the member is absent or null; every error names the key
// that is wrong ("scenario.json: \"<key>\" must be ...").
#pragma once

#include "core/Json.h"
#include "core/Result.h"

#include <windows.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace Pd::Platform::Sim
{

// The error for a key whose value is not what it must be.
std::unexpected<std::wstring> Wrong(std::wstring_view where, std::wstring_view expected);

Pd::Result<> ReadText(const Json::Value& object, std::wstring_view name, std::wstring& target);
Pd::Result<> ReadBool(const Json::Value& object, std::wstring_view name, bool& target);

// A whole number from 0 to T's maximum: the value itself, or the object's member.
template <typename T>
Pd::Result<> ReadWholeNumber(const Json::Value& value, std::wstring_view name, T& target)
{
    if (value.kind == Json::Kind::Null)
        return {};
    std::optional<std::uint64_t> number = value.AsUInt64();
    if (!number || *number > std::numeric_limits<T>::max())
        return Wrong(name, L"a whole number in range");
    target = static_cast<T>(*number);
    return {};
}

template <typename T> Pd::Result<> ReadNumber(const Json::Value& object, std::wstring_view name, T& target)
{
    return ReadWholeNumber(object.Member(name), name, target);
}

// Appends each item of the array as `read` (returning a Pd::Result<T>) reads it; a value that is
// no array has none.
template <typename T, typename Read>
Pd::Result<> ReadEach(const Json::Value& list, std::vector<T>& target, Read read)
{
    for (const Json::Value& entry : list.Items())
    {
        auto item = read(entry);
        if (!item)
            return std::unexpected(item.error());
        target.push_back(std::move(*item));
    }
    return {};
}

// An array of texts, which replaces the target.
Pd::Result<> ReadTexts(const Json::Value& object, std::wstring_view name, std::vector<std::wstring>& target);

// A whole number that may be negative, within the bounds (which have at most 6 digits).
Pd::Result<> ReadSigned(const Json::Value& object, std::wstring_view name, std::int32_t low,
                        std::int32_t high, std::int32_t& target);

// "544B4254" or "0x544B4254": up to 8 hexadecimal digits.
std::optional<std::uint32_t> ParseHexPort(std::wstring_view text);

// Bytes written as pairs of hexadecimal digits.
Pd::Result<std::vector<std::uint8_t>> HexBytes(std::wstring_view hex, std::wstring_view name);
Pd::Result<> ReadHexBytes(const Json::Value& object, std::wstring_view name,
                          std::vector<std::uint8_t>& target);

// "0x80070057": a failure HRESULT in the scenario's form.
std::optional<HRESULT> ParseFailureHresult(std::wstring_view text);

// A failure HRESULT in the scenario's form; absent leaves none.
Pd::Result<> ReadHresult(const Json::Value& object, std::wstring_view name, std::optional<HRESULT>& target);

// "001A7DDA7113": a Bluetooth address as 12 hexadecimal digits; absent or empty leaves 0.
Pd::Result<> ReadBluetoothAddress(const Json::Value& object, std::wstring_view name, std::uint64_t& target);

} // namespace Pd::Platform::Sim
