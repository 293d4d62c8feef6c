// Who holds the Windows Hello bridge's name. One process per session serves Windows Hello, the
// one that created "Local\Peldra.HelloBridge" first; any program of the user can create that name
// before the host does and so keep the bridge from running. The host says so in its log, and
// status and the window say so from here.
#pragma once

#include <optional>
#include <string>

namespace Pd::Bio::Hello
{

inline constexpr const wchar_t* InstanceMutexName = L"Local\\Peldra.HelloBridge";

// The owner (SID text, or "unknown") of the bridge's mutex when a process other than an elevated
// Peldra made it; none when nobody holds it or Peldra's own bridge does. An unelevated caller
// cannot read the owner of Peldra's own (its list lets the user only wait on it), and takes such
// a mutex for Peldra's; an elevated caller reads every owner of its own user's objects.
std::optional<std::wstring> ForeignBridgeHolder();

} // namespace Pd::Bio::Hello
