#include "release/program/ProgramInstall.h"

#include "core/DefaultInstallFolder.h"
#include "core/host/HostControl.h"
#include "core/host/ScheduledTask.h"
#include "core/Module.h"
#include "release/folders/Folders.h"
#include "release/program/InstalledMsi.h"
#include "release/program/ProgramCopy.h"
#include "release/program/RunningImage.h"

#include <filesystem>

namespace Pd::Core
{
namespace
{

// The program, its language folder and the language files in it, as the state file records them.
std::vector<std::wstring> ProgramRecord(const std::filesystem::path& folder)
{
    std::vector<std::wstring> record = {L"Peldra.exe", L"language\\"};
    std::error_code error;
    std::filesystem::directory_iterator entries(folder / L"language", error);
    for (; !error && entries != std::filesystem::directory_iterator(); entries.increment(error))
        if (entries->path().extension() == L".lng")
            record.push_back(L"language\\" + entries->path().filename().wstring());
    return record;
}

// The program (from its checked handle, when it is to be copied) into the default folder; recorded
// with the language files there when the release lies in that folder too. No language file is
// taken from beside the running program: that folder (Downloads, say) is open to every program
// of the user, and each account's elevated host would show what it says; the installer package
// puts the shipped ones in place.
Pd::Result<> CopyAndRecord(const InstallFolder& installFolder, const std::wstring& installedExe,
                           const UniqueFile& program, InstallState& state,
                           const Detail::ProgramSetting& setting)
{
    const std::filesystem::path folder(setting.defaultFolder);
    if (program)
    {
        if (auto copied = ReplaceWithBackup(program.Get(), installedExe); !copied)
            return copied;
    }
    if (SameFile(installFolder.Path(), setting.defaultFolder))
    {
        state.entries[L"host"] = {L"Peldra.exe", L"language"};
        state.placed[L"host"] = ProgramRecord(folder);
        if (auto written = WriteState(installFolder, state); !written)
            return written;
    }
    return {};
}

} // namespace

namespace Detail
{

ProgramSetting CurrentSetting()
{
    return {ModulePath(),
            DefaultInstallFolder(),
            [] { return Install::FindInstalledMsi().has_value(); },
            [](bool on) { return Host::SetTaskRegistered(on); },
            [] { Host::Stop(); },
            [] { return Host::EnsureRunning(); },
            {},
            {}};
}

Pd::Result<> InstallProgramWith(const InstallFolder& installFolder, InstallState& state, bool withHost,
                                const ProgramSetting& setting)
{
    const std::filesystem::path folder(setting.defaultFolder);
    const std::wstring installedExe = (folder / L"Peldra.exe").wstring();

    // The program is proven to be the one running before anything changes: another program put at
    // its path is neither copied nor registered, and the host is left as it is.
    UniqueFile program;
    if (!SameFile(setting.runningExe, installedExe) && !setting.installedByPackage())
    {
        auto opened = setting.openRunningExe ? setting.openRunningExe(setting.runningExe)
                                             : OpenRunningProgram(setting.runningExe);
        if (!opened)
            return std::unexpected(opened.error());
        program = std::move(*opened);
    }
    std::error_code ignored;
    std::filesystem::create_directories(folder, ignored);

    // A host running from the copy would keep the old program aside as "Peldra.exe.old" until the
    // next restart: it ends first, and comes back whatever happens below.
    if (withHost)
        setting.stopHost();
    Pd::Result<> copied = CopyAndRecord(installFolder, installedExe, program, state, setting);
    if (!withHost)
        return copied;
    Pd::Result<> done = copied ? setting.setTaskRegistered(true) : copied;
    Pd::Result<> started = setting.startHost();
    return done ? started : done;
}

} // namespace Detail

Pd::Result<> InstallProgram(const InstallFolder& installFolder, InstallState& state, bool withHost)
{
    return Detail::InstallProgramWith(installFolder, state, withHost, Detail::CurrentSetting());
}

} // namespace Pd::Core
