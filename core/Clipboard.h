// Text to the clipboard.
#pragma once

#include <windows.h>

#include <string_view>

namespace Pd::Core
{

// Puts the text on the clipboard as CF_UNICODETEXT; true only when every clipboard call succeeded.
// The clipboard keeps data only from an owner window: without one (a null owner) a hidden window
// of the calling thread owns it for the call. An opening that another program holds up is tried
// again for a moment.
bool CopyToClipboard(HWND owner, std::wstring_view text);

} // namespace Pd::Core
