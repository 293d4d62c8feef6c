// Confirming root settings that widen what the host was last confirmed for (core/host/RootConsent.h):
// with Windows Hello when it is set up, else with a dialog of this process's own. The process
// asking is elevated, so a program with the user's normal rights cannot click in its dialog.
#pragma once

#include "core/host/RootConsent.h"
#include "host/hello/WindowsHello.h"

#include <windows.h>

#include <functional>
#include <stop_token>
#include <string>

namespace Pd::Bio
{

// A dialog of the caller's own that shows the text and tells whether the user agreed.
using OwnDialog = std::function<bool(const std::wstring& text)>;

// What the confirmation says turns on between `from` and `to`, in the built-in wording and the
// current language's (core/SecurityPrompt.h).
std::wstring RootChangeText(const Host::RootSettings& from, const Host::RootSettings& to);

// Asks the user for the change from `from` to `to`: Windows Hello's prompt, or `ownDialog` where
// Windows Hello is not available. A busy Windows Hello, or a stop request, declines.
bool ConfirmRootChange(const Host::RootSettings& from, const Host::RootSettings& to, std::stop_token stop,
                       const OwnDialog& ownDialog);

// For the tray, the window and the command line, before they store the user's choice: true when
// it widens nothing that was confirmed, or the user confirmed it here. What is asked and recorded
// is the confirmed settings with the choice (Host::RecordAfterChoice), never a value another
// program preset beside it: the host asks for such a value by name. A setting turned on is counted
// (Host::CountRootChoice), so that the host asks again for what it saw declined. A process without
// administrator rights neither asks, records nor counts: the host then asks itself, but only once
// for each widening the user declined there.
bool ConfirmRootSettings(Host::RootChoice choice, std::stop_token stop, const OwnDialog& ownDialog);

// A yes/no message box of this process; a stop request answers No. No is the default button and
// Yes has no access key, so no single key says Yes, and the box takes no input in its first
// second (YesDelayMs), so that a click or key meant for another window cannot answer it.
bool AskInMessageBox(HWND owner, const std::wstring& text, std::stop_token stop);
inline constexpr UINT YesDelayMs = 1000;

namespace Detail
{
// The route of ConfirmRootChange: Windows Hello's verification when it is available (and still
// is when it answers), the own dialog when it is not set up or cannot be asked.
bool ConfirmWith(Availability availability, const std::function<VerifyResult()>& verify,
                 const std::function<bool()>& ownDialog);
} // namespace Detail

} // namespace Pd::Bio
