// A failed Windows call as the Bluetooth bridge logs it: its HRESULT and its text.
#pragma once

#include "core/Strings.h"
#include "platform/Platform.h"

#include <fmt/format.h>

#include <cstdint>
#include <string>

namespace Pd::Bt
{

inline std::string FailureText(const Platform::Error& error)
{
    return fmt::format("0x{:08X} {}", static_cast<std::uint32_t>(error.code), Core::ToUtf8(error.text));
}

} // namespace Pd::Bt
