// The program copies itself into the default install folder, so that the background host and its
// scheduled task run from there.
#pragma once

#include "core/Handles.h"
#include "core/Result.h"
#include "release/base/InstallState.h"

#include <functional>
#include <string>

namespace Pd::Core
{

// Copies the running program into the default install folder, unless it
// already runs from there or the program's own installer package is installed. When the release's
// install folder is the default one, the state file records "Peldra.exe" and "language" under
// "host". With withHost the host's scheduled task is registered and the host restarted from there.
// The program is copied only from the file proven to be the one running (OpenRunningProgram):
// when that proof fails, nothing is copied, recorded or registered and the host is left alone.
// Language files beside the running program are not copied (only the installer package puts
// language files into the default folder).
Pd::Result<> InstallProgram(const InstallFolder& installFolder, InstallState& state, bool withHost);

namespace Detail
{
// What InstallProgram works with, replaceable by the tests: where the program runs from and
// goes to, whether its installer package is installed, and the host controls.
struct ProgramSetting
{
    std::wstring runningExe;
    std::wstring defaultFolder;
    std::function<bool()> installedByPackage;
    std::function<Pd::Result<>(bool)> setTaskRegistered;
    std::function<void()> stopHost;
    std::function<Pd::Result<>()> startHost;
    // The install folder volume's free bytes; FreeSpace when not set.
    std::function<std::uint64_t(const std::wstring&)> freeSpace;
    // Opens runningExe for the copy; OpenRunningProgram when not set.
    std::function<Pd::Result<UniqueFile>(const std::wstring&)> openRunningExe;
};
ProgramSetting CurrentSetting();
Pd::Result<> InstallProgramWith(const InstallFolder& installFolder, InstallState& state, bool withHost,
                                const ProgramSetting& setting);
} // namespace Detail

} // namespace Pd::Core
