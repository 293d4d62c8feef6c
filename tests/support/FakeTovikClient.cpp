// A stand-in for Tovik's client executable that the tests place at the client's alias path. It
// appends each start as a JSON line ("commandLine", "currentFolder", and its "process" id, by which
// a test waits for it to end) to "TovikClient.log" beside itself and, on "/shutdown" with a
// simulated PC, asks the simulated Android to shut down, as the real client asks the real one.
#include "core/Json.h"
#include "core/Strings.h"
#include "platform/sim/SimComputeCore.h"
#include "platform/sim/Simulation.h"

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <string>

int main()
{
    const std::wstring commandLine = ::GetCommandLineW();
    wchar_t exe[MAX_PATH * 2] = {};
    ::GetModuleFileNameW(nullptr, exe, MAX_PATH * 2);
    wchar_t folder[MAX_PATH * 2] = {};
    ::GetCurrentDirectoryW(MAX_PATH * 2, folder);

    std::wstring line = L"{\"commandLine\":";
    Pd::Json::AppendQuoted(commandLine, line);
    line += L",\"currentFolder\":";
    Pd::Json::AppendQuoted(folder, line);
    line += L",\"process\":" + std::to_wstring(::GetCurrentProcessId()) + L"}\n";
    {
        std::ofstream log(std::filesystem::path(exe).parent_path() / L"TovikClient.log",
                          std::ios::binary | std::ios::app);
        log << Pd::Core::ToUtf8(line);
    }
    if (commandLine.find(L" /shutdown") != std::wstring::npos)
        if (auto simulation = Pd::Platform::Sim::ActiveScenarioFolder())
            Pd::Platform::Sim::RequestGuestShutdown(*simulation);
    return 0;
}
