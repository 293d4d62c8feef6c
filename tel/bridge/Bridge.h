// The telephony bridge: Android's radio interface talks to the PC's mobile broadband modem over
// a Hyper-V socket, for the background host.
#pragma once

#include "tel/at/Modem.h"

#include <winsock2.h>

#include <windows.h>

#include <stop_token>

namespace Pd::Tel
{

// Serves until the stop token is triggered; returns at once when the PC has no modem.
void RunBridge(std::stop_token stop);

// Serves one connection until a receive returns 0 or fails (the loop's handler).
void RunSession(Modem& modem, SOCKET socket, std::stop_token stop);

} // namespace Pd::Tel
