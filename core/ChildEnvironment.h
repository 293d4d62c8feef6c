// The environment of every program this process starts (dism, msiexec, cmd for the self-update,
// shutdown, the host). An elevated process got its own environment from the user's profile:
// TEMP and TMP below the user's Local AppData and whatever HKCU "Environment" holds, all of which
// any program of the user can set. A child that stages or loads files through such a variable
// (DISM may stage its host and provider DLLs in %TEMP%) would then run as administrator what the
// user's programs put there. So no child inherits it: each gets a block made here, from what
// Windows reports and the machine-wide folders, and nothing else.
//
//   variable            value                                who needs it
//   SystemRoot, windir  GetSystemWindowsDirectoryW           every child: Winsock, RPC and the
//                                                            registrations written as
//                                                            %SystemRoot%\...; DISM's log in
//                                                            %windir%\Logs
//   SystemDrive         the drive of that folder             HKLM values written as
//                                                            %SystemDrive%\... (ProgramData's)
//   TEMP, TMP           <Windows>\Temp                       DISM's scratch and staging,
//                                                            msiexec, GetTempPathW in each child
//   PATH                System32                             what the children start by name;
//                                                            none of them runs WMI's or
//                                                            PowerShell's tools, so their folders
//                                                            are left out
//   ComSpec             System32\cmd.exe                     cmd.exe, which runs a second
//                                                            interpreter from it
//   ProgramFiles,       the known folders (HKLM)             in-process classes registered below
//   CommonProgramFiles                                       them by name, loaded in the host
//   ProgramData,        the known folder (HKLM)              machine-wide state of Windows'
//   ALLUSERSPROFILE                                          components (the second is its old
//                                                            name)
//   USERPROFILE         the token's profile (HKLM's          the host and the window the
//                       ProfileList)                         self-update starts find the user's
//                                                            known folders through it
//
// A known folder or profile that Windows cannot tell is left out. Programs started with the
// user's own unelevated token keep the user's environment: they run with the user's rights only.
#pragma once

#include <cstdint>
#include <expected>
#include <string>
#include <vector>

namespace Pd::Core
{

struct ChildVariable
{
    std::wstring name;
    std::wstring value;
};

// The variables above, or the Windows error when the Windows or system folder is unknown.
std::expected<std::vector<ChildVariable>, std::uint32_t> ChildVariables();

// ChildVariables as a block for CreateProcessW with CREATE_UNICODE_ENVIRONMENT.
std::expected<std::wstring, std::uint32_t> ChildEnvironmentBlock();

// Adds a variable of this process that every child gets as it stands, unless the block above has
// one of that name. Only the simulated build calls it, while its statics are made, for the switch
// that makes its children simulated too.
void PassOnToChildren(const wchar_t* name);

namespace Detail
{
// "name=value\0" for each variable, sorted by name without regard to case, and a closing "\0";
// of two variables with one name, the earlier stands.
std::wstring EnvironmentBlock(const std::vector<ChildVariable>& variables);
} // namespace Detail

} // namespace Pd::Core
