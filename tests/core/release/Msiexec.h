// The Wine prefix's own msiexec, run quietly to install or remove a test package.
#pragma once

#include "core/Handles.h"

#include <windows.h>

#include <string>

namespace PdTest
{

// Runs "msiexec <arguments> /qn", waits up to 2 minutes and returns its exit code.
inline DWORD RunMsiexec(const std::wstring& arguments)
{
    std::wstring command = L"msiexec.exe " + arguments + L" /qn";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &process))
        return ::GetLastError();
    Pd::UniqueHandle thread(process.hThread);
    Pd::UniqueHandle handle(process.hProcess);
    ::WaitForSingleObject(handle.Get(), 120'000);
    DWORD code = 1;
    ::GetExitCodeProcess(handle.Get(), &code);
    return code;
}

} // namespace PdTest
