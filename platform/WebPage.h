// Opening a web address in the user's browser. Kept behind the seam so that a simulated PC
// records the pages it was asked to open instead of starting a browser.
#pragma once

#include "platform/Platform.h"

#include <string>

namespace Pd::Platform
{

// Opens the address through the desktop shell with the user's normal rights, falling back to
// an ordinary shell execution with the verb "open" when the shell does not take it. Fails when
// neither opened it; the error carries the Windows error of the fallback.
Outcome<> OpenWebPage(const std::wstring& address);

} // namespace Pd::Platform
