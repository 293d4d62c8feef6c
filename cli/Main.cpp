// Process entry of Peldra.exe: hardens the process, splits the command line and starts the mode
// its words ask for.
#include "cli/Installer.h"
#include "cli/Mode.h"
#include "cli/Run.h"
#include "core/Handles.h"
#include "core/Language.h"
#include "host/background/BackgroundHost.h"

#include <windows.h>

#include <shellapi.h>

#include <string>
#include <vector>

namespace
{

// Before anything else runs: DLLs load from the system folder only, a corrupted heap ends the
// process, and Windows shows no error boxes of its own.
void HardenProcess()
{
    ::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    ::HeapSetInformation(nullptr, HeapEnableTerminationOnCorruption, nullptr, 0);
    UINT previous = ::SetErrorMode(0);
    ::SetErrorMode(previous | SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    HardenProcess();

    int count = 0;
    Pd::UniqueLocal argumentBlock(::CommandLineToArgvW(::GetCommandLineW(), &count));
    auto* arguments = static_cast<wchar_t**>(argumentBlock.Get());
    bool split = arguments != nullptr;
    std::vector<std::wstring> words;
    for (int at = 0; split && at < count; ++at)
        words.emplace_back(arguments[at]);

    switch (Pd::Cli::ChooseMode(words, split))
    {
    case Pd::Cli::Mode::Installer:
        return Pd::Cli::RunInstaller(words);
    case Pd::Cli::Mode::BackgroundHost:
        Pd::Core::ApplyLanguageSetting();
        return Pd::Host::RunBackground();
    // Until the main window exists this mode reaches the command line, which answers with its usage.
    case Pd::Cli::Mode::Window:
    case Pd::Cli::Mode::CommandLine:
        break;
    }
    return Pd::Cli::Run(split ? count : 0, arguments);
}
