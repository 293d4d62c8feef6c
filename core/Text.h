// Every user-visible text by its name (core/TextId.h), in the current language, with the built-in
// English texts of the string table as the fallback. The numeric forms serve language files and
// tests, which handle ids as numbers.
#pragma once

#include "core/TextId.h"

#include <fmt/xchar.h>

#include <cstdint>
#include <string>
#include <vector>

namespace Pd::Core
{

// The text of an id in the current language; an empty or missing translation gives the
// built-in text. Never fails.
std::wstring Text(std::uint32_t id);

// The built-in English text, or "#<id>" when the id has none.
std::wstring DefaultText(std::uint32_t id);

// The built-in English text, empty when there is none.
std::wstring BuiltinText(std::uint32_t id);

// Every id with a non-empty built-in text, ascending.
const std::vector<std::uint32_t>& BuiltinTextIds();

// Which wording a text takes: the current language's, or the built-in English one whatever
// language is current (for what a translation must not be able to change).
enum class Wording
{
    Current,
    Builtin,
};

namespace Detail
{
std::wstring FormatTextWith(std::uint32_t id, Wording wording, fmt::wformat_args args);
} // namespace Detail

// Formats the text of an id with "{}" fields. A translation whose fields do not fit the
// arguments falls back to the English text; if that fails too, the unformatted text is returned.
template <typename... Args> std::wstring FormatText(std::uint32_t id, const Args&... args)
{
    return Detail::FormatTextWith(id, Wording::Current, fmt::make_wformat_args(args...));
}

// The same by name.
inline std::wstring Text(TextId id)
{
    return Text(static_cast<std::uint32_t>(id));
}
template <typename... Args> std::wstring FormatText(TextId id, const Args&... args)
{
    return FormatText(static_cast<std::uint32_t>(id), args...);
}

// The same in the given wording.
inline std::wstring Text(TextId id, Wording wording)
{
    const auto number = static_cast<std::uint32_t>(id);
    return wording == Wording::Builtin ? DefaultText(number) : Text(number);
}
template <typename... Args> std::wstring FormatText(Wording wording, TextId id, const Args&... args)
{
    return Detail::FormatTextWith(static_cast<std::uint32_t>(id), wording, fmt::make_wformat_args(args...));
}

} // namespace Pd::Core
