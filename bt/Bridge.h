// The Bluetooth bridge's entry: serves Android's Bluetooth stack over a Hyper-V socket with an
// emulated HCI controller, for the background host and the command line's bluetooth command.
#pragma once

#include <cstdint>
#include <stop_token>

namespace Pd::Bt
{

enum class BridgeResult : std::int32_t
{
    Stopped = 0,
    AdministratorRequired = 1,
    NoAdapter = 2,
};

// Runs until the stop token is triggered, or returns at once when the process is not elevated
// or Windows has no Bluetooth adapter.
BridgeResult RunBridge(std::stop_token stop);

// The address of Windows' default Bluetooth adapter; 0 when there is none or it cannot be read.
std::uint64_t DefaultAdapter();

} // namespace Pd::Bt
