// Runs one install or uninstall in a process of its own, for the tests that kill a run part-way
// or run the uninstall from inside the install folder, as the installed program would.
//
//   ReleaseDriver.exe install <manifest address> <install folder> <download|unpack|switch|none> <event>
//     Installs without registering. "download" halts at the first byte report of a download,
//     "unpack" at the first byte report of an archive's unpacking (earlier components staged),
//     "switch" when the switch-over begins (everything staged, nothing committed); when it halts
//     it sets the named event and waits to be killed.
//   ReleaseDriver.exe uninstall <install folder>
//     Uninstalls and keeps the Android data; exits 3 when the run collected failures.
// Errors and failures go to standard error, a line each; 1 is a failed run.
#include "core/ComApartment.h"
#include "core/Strings.h"
#include "core/Text.h"
#include "release/download/ManifestLoader.h"
#include "release/install/InstallRun.h"
#include "release/uninstall/Uninstall.h"

#include <windows.h>

#include <cstdio>
#include <string>

namespace
{

int Fail(const std::wstring& error)
{
    std::fprintf(stderr, "%s\n", Pd::Core::ToUtf8(error).c_str());
    return 1;
}

int Install(const std::wstring& address, const std::wstring& folder, const std::wstring& halt,
            const std::wstring& event)
{
    auto manifest = Pd::Core::LoadManifest(address, {}, 10'000, 20'000);
    if (!manifest)
        return Fail(manifest.error());
    auto haltHere = [&] {
        if (HANDLE signal = ::OpenEventW(EVENT_MODIFY_STATE, FALSE, event.c_str()))
            ::SetEvent(signal);
        ::Sleep(INFINITE);
    };
    const std::wstring switching = Pd::Core::Text(Pd::TextId::SwitchingToNewRelease);
    Pd::Core::Callbacks callbacks{[&](const Pd::Core::Progress& progress) {
                                      if (halt == L"download" && progress.stage.starts_with(L"Downloading") &&
                                          progress.bytesDone > 0)
                                          haltHere();
                                      if (halt == L"unpack" && progress.stage.starts_with(L"Unpacking") &&
                                          progress.stage.ends_with(L" files") && progress.bytesDone > 0)
                                          haltHere();
                                      if (halt == L"switch" && progress.stage == switching)
                                          haltHere();
                                  },
                                  {},
                                  [](const std::wstring&) { return true; }};
    auto outcome =
        Pd::Core::Run(*manifest, {Pd::Core::InstallFolder::From(folder), false, false}, callbacks, {});
    return outcome ? 0 : Fail(outcome.error().text);
}

int Uninstall(const std::wstring& folder)
{
    Pd::Core::ComApartment apartment(Pd::Core::Apartment::Multithreaded);
    Pd::Core::Callbacks callbacks{[](const Pd::Core::Progress&) {}, [](Pd::Level, const std::wstring&) {},
                                  [](const std::wstring&) { return false; }};
    auto outcome =
        Pd::Core::Uninstall(Pd::Core::InstallFolder::From(folder), Pd::Core::Removal::KeepData, callbacks);
    if (!outcome)
        return Fail(outcome.error());
    for (const std::wstring& failure : outcome->failures)
        Fail(failure);
    return outcome->failures.empty() ? 0 : 3;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    const std::wstring mode = argc > 1 ? argv[1] : L"";
    if (mode == L"install" && argc == 6)
        return Install(argv[2], argv[3], argv[4], argv[5]);
    if (mode == L"uninstall" && argc == 3)
        return Uninstall(argv[2]);
    return 2;
}
