#include "core/Strings.h"

#include <fmt/xchar.h>

#include <windows.h>

#include <climits>

namespace Pd::Core
{
namespace
{

// The Windows conversions take int lengths: longer texts are not something this program handles.
int CheckedLength(std::size_t size)
{
    return size > static_cast<std::size_t>(INT_MAX) ? -1 : static_cast<int>(size);
}

} // namespace

std::string ToUtf8(std::wstring_view text)
{
    int length = CheckedLength(text.size());
    if (length <= 0)
        return {};
    int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    if (size <= 0)
        return {};
    std::string result(static_cast<std::size_t>(size), '\0');
    size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), length, result.data(), size, nullptr, nullptr);
    result.resize(static_cast<std::size_t>(size > 0 ? size : 0));
    return result;
}

std::wstring FromUtf8(std::string_view text)
{
    int length = CheckedLength(text.size());
    if (length <= 0)
        return {};
    int size = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), length, nullptr, 0);
    if (size <= 0)
        return {};
    std::wstring result(static_cast<std::size_t>(size), L'\0');
    size = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), length, result.data(), size);
    result.resize(static_cast<std::size_t>(size > 0 ? size : 0));
    return result;
}

std::wstring ToLower(std::wstring_view text)
{
    std::wstring result(text);
    for (wchar_t& unit : result)
        if (unit >= L'A' && unit <= L'Z')
            unit = static_cast<wchar_t>(unit - L'A' + L'a');
    return result;
}

bool EqualsIgnoringCase(std::wstring_view a, std::wstring_view b)
{
    if (a.size() != b.size())
        return false;
    return a.empty() || ::CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                                               static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

bool StartsWithIgnoringCase(std::wstring_view text, std::wstring_view prefix)
{
    return text.size() >= prefix.size() && EqualsIgnoringCase(text.substr(0, prefix.size()), prefix);
}

bool ContainsIgnoringCase(std::wstring_view text, std::wstring_view part)
{
    for (std::size_t start = 0; start + part.size() <= text.size(); ++start)
        if (EqualsIgnoringCase(text.substr(start, part.size()), part))
            return true;
    return false;
}

bool EqualsAsciiIgnoringCase(std::wstring_view a, std::wstring_view b)
{
    return a.size() == b.size() && ToLower(a) == ToLower(b);
}

std::wstring FormatBytes(std::uint64_t bytes)
{
    constexpr std::uint64_t MiB = 1024ull * 1024;
    constexpr std::uint64_t GiB = MiB * 1024;
    double value = static_cast<double>(bytes);
    if (bytes < MiB)
        return fmt::format(L"{:.1f} KB", value / 1024.0);
    if (bytes < GiB)
        return fmt::format(L"{:.1f} MB", value / static_cast<double>(MiB));
    return fmt::format(L"{:.2f} GB", value / static_cast<double>(GiB));
}

} // namespace Pd::Core
