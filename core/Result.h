// The common result of operations that can fail: a value, or the complete user-facing text
// of what went wrong.
#pragma once

#include <expected>
#include <string>
#include <utility>

namespace Pd
{

template <typename T = void> using Result = std::expected<T, std::wstring>;

// `return Pd::Fail(text);` from any function returning a Pd::Result.
inline std::unexpected<std::wstring> Fail(std::wstring text)
{
    return std::unexpected<std::wstring>(std::move(text));
}

} // namespace Pd
