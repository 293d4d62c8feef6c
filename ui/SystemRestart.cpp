#include "ui/SystemRestart.h"

#include "core/StartProgram.h"
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
    return Pd::Core::StartProgram(start.application, start.commandLine, CREATE_NO_WINDOW).has_value();
}

} // namespace Pd::Ui
