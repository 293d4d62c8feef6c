#include "core/release/program/ProgramInstall.h"

#include "core/host/HostControl.h"
#include "core/host/ScheduledTask.h"
#include "core/InstallFolder.h"
#include "core/Module.h"
#include "core/release/folders/Folders.h"
#include "core/release/program/InstalledMsi.h"
#include "core/release/program/ProgramCopy.h"

#include <filesystem>

namespace Pd::Core
{
namespace
{

// Copies the ".lng" files of the folder "language" beside the program; single failures and a
// failing enumeration end nothing but the walk.
void CopyLanguageFiles(const std::filesystem::path& from, const std::filesystem::path& to)
{
    std::error_code error;
    if (!std::filesystem::is_directory(from, error))
        return;
    std::filesystem::create_directories(to, error);
    std::filesystem::directory_iterator entries(from, error);
    for (; !error && entries != std::filesystem::directory_iterator(); entries.increment(error))
        if (entries->path().extension() == L".lng")
            static_cast<void>(
                ReplaceWithBackup(entries->path().wstring(), (to / entries->path().filename()).wstring()));
}

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

// The program and its language files into the default folder, unless they run from there or
// the installer package owns them; recorded when the release lies in that folder too.
Pd::Result<> CopyAndRecord(const std::wstring& installFolder, const std::wstring& installedExe,
                           InstallState& state, const Detail::ProgramSetting& setting)
{
    const std::filesystem::path folder(setting.defaultFolder);
    if (!SameFile(setting.runningExe, installedExe) && !setting.installedByPackage())
    {
        if (auto copied = ReplaceWithBackup(setting.runningExe, installedExe); !copied)
            return copied;
        CopyLanguageFiles(std::filesystem::path(setting.runningExe).parent_path() / L"language",
                          folder / L"language");
    }
    if (SameFile(installFolder, setting.defaultFolder))
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
            {}};
}

Pd::Result<> InstallProgramWith(const std::wstring& installFolder, InstallState& state, bool withHost,
                                const ProgramSetting& setting)
{
    const std::filesystem::path folder(setting.defaultFolder);
    std::error_code ignored;
    std::filesystem::create_directories(folder, ignored);

    const std::wstring installedExe = (folder / L"Peldra.exe").wstring();
    // A host running from the copy would keep the old program aside as "Peldra.exe.old" until the
    // next restart: it ends first, and comes back whatever happens below.
    if (withHost)
        setting.stopHost();
    Pd::Result<> copied = CopyAndRecord(installFolder, installedExe, state, setting);
    if (!withHost)
        return copied;
    Pd::Result<> done = copied ? setting.setTaskRegistered(true) : copied;
    Pd::Result<> started = setting.startHost();
    return done ? started : done;
}

} // namespace Detail

Pd::Result<> InstallProgram(const std::wstring& installFolder, InstallState& state, bool withHost)
{
    return Detail::InstallProgramWith(installFolder, state, withHost, Detail::CurrentSetting());
}

} // namespace Pd::Core
