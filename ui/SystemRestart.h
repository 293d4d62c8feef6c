// Restarting Windows from the elevated window: shutdown.exe of the system folder, started by its
// full path without the shell, whose verbs and program lookup the user's own settings can change.
#pragma once

#include <string>

namespace Pd::Ui
{

// A program to start: the file, and the command line with that file quoted as its first word.
struct ProgramStart
{
    std::wstring application;
    std::wstring commandLine;
    bool operator==(const ProgramStart&) const = default;
};

// "shutdown.exe /r /t 0" in the system folder; an empty application when the folder is unknown.
ProgramStart RestartCommand(const std::wstring& systemFolder);

// Starts the restart; false when it did not start.
bool RestartWindows();

} // namespace Pd::Ui
