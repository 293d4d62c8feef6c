// The Windows Hello bridge: Android's fingerprint service asks Windows Hello to verify the user
// over a Hyper-V socket, for the background host and the command line's hello command.
#pragma once

#include <winsock2.h>

#include <windows.h>

#include "guest/AndroidVm.h"

#include <stop_token>

namespace Pd::Bio::Hello
{

// Serves until the stop token is triggered. 1 when administrator rights are missing; 0 otherwise,
// also at once when another process of this session serves Windows Hello.
int RunBridge(std::stop_token stop);

// Serves one connection to the VM until reading fails or a bad frame arrives (the loop's handler).
void HandleClient(SOCKET socket, const Guest::AndroidVm& vm, std::stop_token stop);

} // namespace Pd::Bio::Hello
