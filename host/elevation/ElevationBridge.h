// The elevation bridge: Android's elevation daemon asks Windows for root rights over a Hyper-V
// socket; the user confirms each request with Windows Hello. At the start of each connection the
// bridge hands over the verified Magisk APK (in Magisk mode) and the settings' state byte, and it
// keeps MagiskInAndroid and MagiskOffPending in line with what Android reports.
#pragma once

#include "core/Text.h"
#include "host/elevation/Frames.h"

#include <winsock2.h>

#include <cstddef>
#include <stop_token>
#include <string>
#include <string_view>

namespace Pd::Bio::Elevation
{

// Serves Android until stopped; returns at once, logged, without administrator rights.
void RunBridge(std::stop_token stop, Mode mode);

// Serves one connection until reading fails.
void HandleClient(SOCKET socket, const Mode& mode);

// A command as the prompt shows it.
struct ShownCommand
{
    std::wstring text;
    bool cut = false;           // the text ends in "…" where it was cut
    std::size_t characters = 0; // of the whole command (an invalid byte counts as one)
};

// Command text for a prompt: printable ASCII and the visible letters of the Latin, Greek and
// Cyrillic blocks show as themselves, a single space or a run of up to three as spaces; every
// other character is escaped ("\x0A", "\u3000", a backslash as "\\"), a run of more than three
// spaces, or of two or more of one escaped character, is shown once with its count ("\x20×40");
// an invalid byte shows as "\xNN". At 300 UTF-16 units the text is cut, never inside an escape,
// and ends in "…".
ShownCommand SanitizeForDisplay(std::string_view utf8);

// " (cut: N characters in all)" for a cut command, else empty.
std::wstring CutNote(const ShownCommand& shown, Core::Wording wording = Core::Wording::Current);

// "root", "adb shell", "an unknown app", or the first 200 bytes of the app name with every byte
// outside a-z, A-Z, 0-9 and ",-.:_" shown as "?".
std::wstring DescribeCaller(const Request& request, Core::Wording wording = Core::Wording::Current);

// The request's command in quotes with its cut note, or "an interactive shell".
std::wstring DescribeCommand(const Request& request, Core::Wording wording = Core::Wording::Current);

// The prompt of a root request: which app asks, its uid and the command, in the built-in wording
// and the current language's (core/SecurityPrompt.h).
std::wstring RootRequestText(const Request& request);

// Sends the verified Magisk APK when it still matches its digest; logs why it did not otherwise.
void SendMagiskApk(SOCKET socket);

} // namespace Pd::Bio::Elevation
