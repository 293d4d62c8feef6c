// The relay's connection to the MMS server, made through the access point's interface.
#pragma once

#include "platform/HvSocket.h"
#include "tel/apn/ApnConnection.h"

#include <chrono>
#include <span>
#include <stop_token>

namespace Pd::Tel
{

// As long as Windows itself tries one address.
inline constexpr std::chrono::milliseconds MmsConnectLimit{21000};

// A TCP socket bound to the access point's address and pinned to its interface, connected to
// the first of the addresses that answers within the limit; empty when none does or stop is
// requested. The socket is left blocking.
Platform::UniqueSocket ConnectThroughApn(const ApnConnection& apn, std::span<const SOCKADDR_INET> addresses,
                                         std::stop_token stop,
                                         std::chrono::milliseconds limit = MmsConnectLimit);

} // namespace Pd::Tel
