// What the end-to-end tests of the background host do on the Windows side:
//   HostDriver setting <bluetooth|tray> <on|off>   changes a host setting through the setters the
//                                                  window and the command line use (the value,
//                                                  then Reload or a host start); 1 and the error
//                                                  text when the setter fails
//   HostDriver stop                                asks the session's host to end and waits for it,
//                                                  as install, uninstall and self-update do
//   HostDriver presence                            prints none, running or unreachable
//   HostDriver detached <ms> <exe> [words...]      starts exe as the install starts the host:
//                                                  detached, no window, no console, no handles;
//                                                  ends with its exit code, or 259 after
//                                                  terminating one still running after ms
//   HostDriver detached-stop <ms> <exe> [words...]  the same, and asks the host to end the moment
//                                                  it holds the session (during its release check)
#include "core/Handles.h"
#include "core/host/HostControl.h"
#include "core/host/HostSettings.h"

#include <windows.h>

#include <cstdio>
#include <string>
#include <string_view>

namespace
{

int ChangeSetting(std::wstring_view name, std::wstring_view value)
{
    bool on = value == L"on";
    Pd::Result<> result = name == L"tray" ? Pd::Host::SetTrayEnabled(on) : Pd::Host::SetBluetoothEnabled(on);
    if (result)
        return 0;
    std::fwprintf(stderr, L"%ls\n", result.error().c_str());
    return 1;
}

int StartDetached(DWORD waitMs, bool stopOnceRunning, int count, wchar_t** words)
{
    std::wstring commandLine;
    for (int at = 0; at < count; ++at)
        commandLine += (at ? L" \"" : L"\"") + std::wstring(words[at]) + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(words[0], commandLine.data(), nullptr, nullptr, FALSE,
                          CREATE_NO_WINDOW | DETACHED_PROCESS, nullptr, nullptr, &startup, &process))
        return 1;
    Pd::UniqueHandle thread(process.hThread), child(process.hProcess);
    if (stopOnceRunning)
    {
        // Polled from here rather than from the test, so that the stop comes within milliseconds.
        while (Pd::Host::FindHost() != Pd::Host::HostPresence::Running &&
               ::WaitForSingleObject(child.Get(), 5) == WAIT_TIMEOUT)
        {
        }
        Pd::Host::Stop();
    }
    if (::WaitForSingleObject(child.Get(), waitMs) != WAIT_OBJECT_0)
    {
        ::TerminateProcess(child.Get(), STILL_ACTIVE);
        return STILL_ACTIVE;
    }
    DWORD code = 1;
    ::GetExitCodeProcess(child.Get(), &code);
    return static_cast<int>(code);
}

} // namespace

int wmain(int count, wchar_t** words)
{
    std::wstring_view command = count > 1 ? words[1] : L"";
    if (command == L"setting" && count == 4)
        return ChangeSetting(words[2], words[3]);
    if (command == L"stop" && count == 2)
        return Pd::Host::Stop(), 0;
    if (command == L"presence" && count == 2)
    {
        Pd::Host::HostPresence presence = Pd::Host::FindHost();
        std::printf("%s\n", presence == Pd::Host::HostPresence::Running       ? "running"
                            : presence == Pd::Host::HostPresence::Unreachable ? "unreachable"
                                                                              : "none");
        return 0;
    }
    if ((command == L"detached" || command == L"detached-stop") && count >= 4)
        return StartDetached(static_cast<DWORD>(std::wcstoul(words[2], nullptr, 10)),
                             command == L"detached-stop", count - 3, words + 3);
    std::fwprintf(stderr, L"usage: HostDriver setting <bluetooth|tray> <on|off> | stop | presence | "
                          L"detached[-stop] <ms> <exe> [words...]\n");
    return 2;
}
