// Runs one install (without registering) in a process of its own, so that a test can kill it at
// a chosen moment: "download" halts at the first byte report of a download, "switch" when the
// switch-over begins (everything staged, nothing committed), "none" runs to the end. When it
// halts it sets the named event and waits to be killed.
//
//   InstallDriver.exe <manifest address> <install folder> <download|switch|none> <event name>
#include "core/release/InstallRun.h"
#include "core/release/ManifestLoader.h"
#include "core/Strings.h"
#include "core/Text.h"

#include <windows.h>

#include <cstdio>
#include <string>

int wmain(int argc, wchar_t** argv)
{
    if (argc != 5)
        return 2;
    const std::wstring halt = argv[3];
    const std::wstring event = argv[4];
    auto manifest = Pd::Core::LoadManifest(argv[1], {}, 10'000, 20'000);
    if (!manifest)
    {
        std::fputs(Pd::Core::ToUtf8(manifest.error()).c_str(), stderr);
        return 1;
    }
    auto haltHere = [&] {
        if (HANDLE signal = ::OpenEventW(EVENT_MODIFY_STATE, FALSE, event.c_str()))
            ::SetEvent(signal);
        ::Sleep(INFINITE);
    };
    const std::wstring switching = Pd::Core::Text(16032);
    Pd::Core::Callbacks callbacks{[&](const Pd::Core::Progress& progress) {
                                      if (halt == L"download" && progress.stage.starts_with(L"Downloading") &&
                                          progress.bytesDone > 0)
                                          haltHere();
                                      if (halt == L"switch" && progress.stage == switching)
                                          haltHere();
                                  },
                                  {},
                                  [](const std::wstring&) { return true; }};
    auto outcome = Pd::Core::Run(*manifest, {argv[2], false, false}, callbacks, {});
    if (!outcome)
    {
        std::fputs(Pd::Core::ToUtf8(outcome.error()).c_str(), stderr);
        return 1;
    }
    return 0;
}
