// Names of the background host's kernel objects in the caller's session. The host creates
// them; the controls, the window and the command line only open them.
#pragma once

namespace Pd::Host
{

inline constexpr const wchar_t* HostMutexName = L"Local\\Peldra.Host";          // exists while a host runs
inline constexpr const wchar_t* StopEventName = L"Local\\Peldra.Host.Stop";     // manual reset
inline constexpr const wchar_t* ReloadEventName = L"Local\\Peldra.Host.Reload"; // auto reset
inline constexpr const wchar_t* RegisterEventName = L"Local\\Peldra.Host.Register"; // auto reset

} // namespace Pd::Host
