// Opening pages, files, folders and programs for the user. An elevated process must never open
// them in its own token: a per-user file association, or a per-user program, would then run with
// administrator rights. Kept behind the seam so that a simulated PC records what it was asked to
// open instead of starting a browser or a folder window.
#pragma once

#include "platform/Platform.h"

#include <functional>
#include <string>

namespace Pd::Platform
{

// What the shell is asked to open: an address, file, folder or program, a program's arguments,
// and the folder it starts in (empty for none).
struct ShellRequest
{
    std::wstring target;
    std::wstring arguments;
    std::wstring folder;
};

// Opens it through the desktop shell, so that it runs with the user's normal rights. Only a
// process that is not elevated falls back to an ordinary shell execution with the verb "open"
// when the desktop shell does not take it; an elevated one then fails. The error carries the
// Windows error of the fallback, or says that nothing is opened with administrator rights.
Outcome<> OpenAsUser(const ShellRequest& request);

// OpenAsUser for a web address.
Outcome<> OpenWebPage(const std::wstring& address);

namespace Detail
{
// The scheme of an address ("tovik" of "tovik://..."); empty for a path ("C:\\...") or no address.
std::wstring SchemeOf(const std::wstring& target);

// The decision of OpenAsUser, with the two ways to open: the desktop shell's (true when it took
// the request) and the process's own (0, or the Windows error).
using ShellRoute = std::function<DWORD(const ShellRequest& request)>;
Outcome<> OpenAsUserWith(const ShellRequest& request, bool elevated,
                         const std::function<bool(const ShellRequest&)>& desktop, const ShellRoute& own);
} // namespace Detail

} // namespace Pd::Platform
