#include "ui/SystemRestart.h"

#include "core/Handles.h"
#include "release/folders/Folders.h"

#include <windows.h>

namespace Pd::Ui
{

ProgramStart RestartCommand(const std::wstring& systemFolder)
{
    if (systemFolder.empty())
        return {};
    const std::wstring program = systemFolder + L"\\shutdown.exe";
    return {program, L"\"" + program + L"\" /r /t 0"};
}

bool RestartWindows()
{
    ProgramStart start = RestartCommand(Pd::Core::SystemFolder());
    if (start.application.empty())
        return false;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(start.application.c_str(), start.commandLine.data(), nullptr, nullptr, FALSE,
                          CREATE_NO_WINDOW, nullptr, nullptr, &startup, &process))
        return false;
    UniqueHandle thread(process.hThread), started(process.hProcess);
    return true;
}

} // namespace Pd::Ui
