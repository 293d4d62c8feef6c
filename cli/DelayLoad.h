// The delay-loaded system DLLs of Peldra.exe (cmake/DelayImports.cmake); cli/DelayLoad.cpp holds
// the helper that binds their functions on first call.
#pragma once

namespace Pd::Cli
{

// Loads every delay-loaded DLL from System32 now, for the rest of the process: a later load of
// one by name then finds it, be it ours or one that a system DLL makes by the ordinary search
// (Wine's winhttp loads crypt32 so, whatever the process's DLL directories are). A DLL that is
// missing is left to the first call of one of its functions, which names it.
void LoadDelayLoadedDlls();

} // namespace Pd::Cli
