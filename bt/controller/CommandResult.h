// What a command handler gives the dispatch: its return parameters, or the HCI status it failed
// with, which the dispatch answers in the command's own form.
#pragma once

#include "bt/hci/Bytes.h"
#include "bt/hci/Events.h"

#include <cstdint>
#include <expected>

namespace Pd::Bt
{

using CommandResult = std::expected<Bytes, std::uint8_t>;

// `return Refuse(status);` from a command handler.
inline std::unexpected<std::uint8_t> Refuse(std::uint8_t status)
{
    return std::unexpected<std::uint8_t>(status);
}

// The failure of a command whose parameters are shorter than what it reads: handlers check the
// length before they read, so that no read throws.
inline std::unexpected<std::uint8_t> ParametersTooShort()
{
    return Refuse(Hci::Status::InvalidParameters);
}

} // namespace Pd::Bt
