// One H4 connection with Android's Bluetooth stack: the bytes of a connected socket go through
// the deframer to a fresh emulated controller, whose packets go back whole on the same socket.
#pragma once

#include <winsock2.h>

#include <cstdint>
#include <stop_token>

namespace Pd::Bt
{

// Serves the connection until the peer closes it, receiving fails (also when the service loop
// shuts the socket down on stop) or the framing breaks. Keeps "Local\Peldra.Bluetooth.Connected"
// set meanwhile. Never closes the socket and never throws.
void RunSession(SOCKET socket, std::uint64_t adapterAddress, std::stop_token stop) noexcept;

} // namespace Pd::Bt
