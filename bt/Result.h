// The result of Bluetooth operations that can fail: a value, or the text of what went wrong, in
// UTF-8 for the log. A failure in the bridge ends in a log line (and the protocol's own error to
// Android), never in a message to the user.
#pragma once

#include <expected>
#include <string>
#include <utility>

namespace Pd::Bt
{

template <typename T = void> using Result = std::expected<T, std::string>;

// `return Fail(text);` from any function returning a Bt::Result.
inline std::unexpected<std::string> Fail(std::string text)
{
    return std::unexpected<std::string>(std::move(text));
}

} // namespace Pd::Bt
