// One radio-interface connection served over any byte stream: received bytes go through the AT
// session, and the modem's message and change handlers reach it while the connection lasts.
// Platform-free: the Windows side gives the socket's receive, send and shutdown.
#pragma once

#include "tel/at/AtSession.h"
#include "tel/at/Modem.h"

#include <cstddef>
#include <functional>
#include <span>

namespace Pd::Tel
{

// Bytes asked of one receive.
constexpr std::size_t ReceiveSize = 1024;

struct Stream
{
    // Fills the buffer's front; the byte count, or 0 or less when the connection ended.
    std::function<int(std::span<char> buffer)> receive;
    AtSession::Send send;
    // Makes sends still going on, and every later one, fail at once.
    std::function<void()> shutdown;
};

// Serves the connection until a receive ends it or the peer is cut off. The handlers given to
// the modem are removed before it returns; one the modem still calls later does nothing, and one
// running as the connection ends is waited for.
void ServeStream(Modem& modem, const Stream& stream);

} // namespace Pd::Tel
