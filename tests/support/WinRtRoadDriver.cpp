// The install's registration step, driven through the real Windows Runtime adapters (the test
// classes stand for Windows' own under Wine), for what the shipped exe cannot reach there:
//   WinRtRoadDriver register <release folder>   dependencies added from the folder, the folder
//                                               registered in development mode, Tovik's settings
//                                               seeded; prints each log line, each setting's
//                                               presence afterwards and the test classes' calls;
//                                               1 and "[FAIL] <text>" when a step fails
#include "core/release/PackageDeployment.h"
#include "core/release/Packages.h"
#include "core/release/TovikControl.h"
#include "platform/PackageManager.h"

#include <windows.h>

#include <cstdio>
#include <string>

namespace
{

int Register(const std::wstring& folder)
{
    const Pd::Core::LogText log = [](const std::wstring& line) { std::wprintf(L"log: %ls\n", line.c_str()); };
    Pd::Result<> done = Pd::Install::InstallDependencies(folder, log);
    if (done)
        done = Pd::Install::RegisterPackage(folder, log);
    if (!done)
    {
        std::wprintf(L"[FAIL] %ls\n", done.error().c_str());
        return 1;
    }
    Pd::Install::SeedTovikSettings();
    for (const wchar_t* name : {L"DeveloperModeEnabled", L"OptionalDiagnosticDataEnabled"})
    {
        auto present = Pd::Platform::Packages()->HasSettingValue(Pd::Install::TovikFamilyName, name);
        std::wprintf(L"setting %ls %ls\n", name,
                     !present   ? L"unreadable"
                     : *present ? L"present"
                                : L"absent");
    }
    wchar_t calls[8192];
    const DWORD length = ::GetEnvironmentVariableW(L"PD_TEST_CALLS", calls, 8192);
    std::wprintf(L"calls:\n%ls", length < 8192 ? std::wstring(calls, length).c_str() : L"");
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc == 3 && std::wstring(argv[1]) == L"register")
        return Register(argv[2]);
    std::fwprintf(stderr, L"usage: WinRtRoadDriver register <release folder>\n");
    return 2;
}
