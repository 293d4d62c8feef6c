// Runs one uninstall in a process of its own, so that a test can run it from inside the install
// folder as the installed program would run: the running executable is then one of the files
// to delete.
//
//   UninstallDriver.exe <install folder> <keep|all>
// Writes the error or every failure as a line to standard error; exits 0 on success without
// failures, 3 on success with failures, 1 when the run failed.
#include "core/release/Uninstall.h"
#include "core/Strings.h"

#include <windows.h>

#include <objbase.h>

#include <cstdio>
#include <string>

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3)
        return 2;
    ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    const Pd::Core::Removal removal =
        std::wstring(argv[2]) == L"all" ? Pd::Core::Removal::Everything : Pd::Core::Removal::KeepData;
    Pd::Core::Callbacks callbacks{[](const Pd::Core::Progress&) {}, [](Pd::Level, const std::wstring&) {},
                                  [](const std::wstring&) { return false; }};
    auto outcome = Pd::Core::Uninstall(argv[1], removal, callbacks);
    if (!outcome)
    {
        std::fprintf(stderr, "%s\n", Pd::Core::ToUtf8(outcome.error()).c_str());
        return 1;
    }
    for (const std::wstring& failure : outcome->failures)
        std::fprintf(stderr, "%s\n", Pd::Core::ToUtf8(failure).c_str());
    return outcome->failures.empty() ? 0 : 3;
}
