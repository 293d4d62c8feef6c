// The two invocations of the program by its own Windows Installer package, which runs them with
// administrator rights under the system account: stopping the background host in every Windows
// session ("msi stop-hosts"), and running the uninstall as a given user in that user's session
// ("msi uninstall <SID> [--all]"), without a second elevation prompt.
#pragma once

#include "core/Handles.h"

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace Pd::Install
{

// Sets the Stop event of the host of every session and waits for their mutexes, 10 s in all.
// The exit code of "msi stop-hosts": 1 when a host did not stop in time, else 0 (no host: 0).
int StopHostsInAllSessions();

// Runs "<this program> uninstall --yes --from-setup [--all]" as the user in the user's session
// and waits for it. The exit code of "msi uninstall": 2 for a SID that cannot be read, 1008
// (ERROR_NO_TOKEN) when no session of the user has a token, the Windows error when the program
// cannot be started, else the program's own exit code (1 when it cannot be read).
std::uint32_t RunUninstallInUserSession(const std::wstring& sid, bool removeEverything);

// The ids of the local machine's sessions, in Windows' order; empty when they cannot be listed.
std::vector<DWORD> ListSessionIds();

// Enables a privilege on the process token; true when Windows reports it enabled.
bool EnablePrivilege(const wchar_t* name);

// The primary token of the user's session, active sessions first, and that session's id; for a
// split administrator account the full token. Empty when no session of the user has a token.
UniqueHandle FindUserToken(PSID user, DWORD& sessionId);

namespace Detail
{
// "Global\Session\<id>\Peldra.Host": the host mutex of a session, seen from any session.
std::wstring SessionHostMutexName(DWORD session);

// Stops the hosts behind these mutex names (their events are the names with ".Stop"), waiting
// for all of them against one deadline; true when one of them did not stop in time.
bool StopHostsNamed(const std::vector<std::wstring>& mutexNames, DWORD waitMs);

// How the sessions are seen: their ids, whether one is active, and its user's token.
struct SessionAccess
{
    std::function<std::vector<DWORD>()> sessions;
    std::function<bool(DWORD)> isActive;
    std::function<UniqueHandle(DWORD)> userToken;
};
SessionAccess CurrentSessions();
UniqueHandle FindUserTokenWith(PSID user, DWORD& sessionId, const SessionAccess& access);

// The linked full token of a limited token of a split administrator account; any other token, or
// one whose linked token cannot be read, comes back as it is.
UniqueHandle FullToken(UniqueHandle token);

std::wstring UserUninstallCommandLine(const std::wstring& program, bool removeEverything);
std::uint32_t RunUninstallWith(const std::wstring& sid, bool removeEverything, const std::wstring& program,
                               const SessionAccess& access);
} // namespace Detail

} // namespace Pd::Install
