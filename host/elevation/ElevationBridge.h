// The elevation bridge: Android's elevation daemon asks Windows for root rights over a Hyper-V
// socket; the user confirms each request with Windows Hello. At the start of each connection the
// bridge hands over the verified Magisk APK (in Magisk mode) and the settings' state byte, and it
// keeps MagiskInAndroid and MagiskOffPending in line with what Android reports.
#pragma once

#include "host/elevation/Frames.h"

#include <winsock2.h>

#include <stop_token>
#include <string>
#include <string_view>

namespace Pd::Bio::Elevation
{

// Serves Android until stopped; returns at once, logged, without administrator rights.
void RunBridge(std::stop_token stop, Mode mode);

// Serves one connection until reading fails.
void HandleClient(SOCKET socket, const Mode& mode);

// Command text for a prompt: hidden characters become "?", and at 300 UTF-16 units the text is
// cut and ends in "…".
std::wstring SanitizeForDisplay(std::string_view utf8);

// "root", "adb shell", "an unknown app", or the first 200 bytes of the app name with every byte
// outside a-z, A-Z, 0-9 and ",-.:_" shown as "?".
std::wstring DescribeCaller(const Request& request);

// Sends the verified Magisk APK when it still matches its digest; logs why it did not otherwise.
void SendMagiskApk(SOCKET socket);

} // namespace Pd::Bio::Elevation
