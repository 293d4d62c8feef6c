#include "release/program/ProgramInstall.h"

#include "core/DefaultInstallFolder.h"
#include "core/host/HostControl.h"
#include "core/host/ScheduledTask.h"
#include "core/LanguageFile.h"
#include "core/Module.h"
#include "core/Strings.h"
#include "core/Text.h"
#include "release/folders/Folders.h"
#include "release/folders/NoLinks.h"
#include "release/program/InstalledMsi.h"
#include "release/program/ProgramCopy.h"
#include "release/program/RunningImage.h"

#include <filesystem>
#include <optional>

namespace Pd::Core
{
namespace
{

// Far above a translation of every text; a larger file is no language file.
constexpr std::uint64_t LargestLanguageFile = 4u << 20;

// The whole file of the handle, unless it is larger than LargestLanguageFile or cannot be read.
std::optional<std::string> ReadLanguageFile(HANDLE file)
{
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file, &size) || size.QuadPart < 0 ||
        static_cast<std::uint64_t>(size.QuadPart) > LargestLanguageFile)
        return std::nullopt;
    std::string contents(static_cast<std::size_t>(size.QuadPart), '\0');
    DWORD got = 0;
    if (!contents.empty() &&
        (!::ReadFile(file, contents.data(), static_cast<DWORD>(contents.size()), &got, nullptr) ||
         got != contents.size()))
        return std::nullopt;
    return contents;
}

// Copies the ".lng" files of the folder "language" beside the program. That folder is the user's
// to change: each file is opened without following a link and without sharing, and copied from
// what was read through that handle only when it is a language file; any other is skipped and
// told. A failing enumeration ends the walk, a file that cannot be copied nothing but itself.
void CopyLanguageFiles(const std::filesystem::path& programFolder, const std::filesystem::path& to,
                       const Detail::ProgramSetting& setting)
{
    const auto tell = [&setting](const std::wstring& line) {
        if (setting.log)
            setting.log(line);
    };
    const std::filesystem::path from = programFolder / L"language";
    std::error_code error;
    if (!std::filesystem::is_directory(from, error))
        return;
    std::filesystem::create_directories(to, error);
    std::filesystem::directory_iterator entries(from, error);
    for (; !error && entries != std::filesystem::directory_iterator(); entries.increment(error))
    {
        const std::filesystem::path& path = entries->path();
        if (path.extension() != L".lng")
            continue;
        auto opened =
            Install::OpenBelow(programFolder.wstring(), path.wstring(), GENERIC_READ, 0, OPEN_EXISTING);
        if (!opened)
        {
            tell(opened.error());
            continue;
        }
        const std::optional<std::string> contents = ReadLanguageFile(opened->Get());
        if (!contents || !IsLanguageCode(ToLower(path.stem().wstring())) || !IsLanguageFileText(*contents))
        {
            tell(FormatText(TextId::NotALanguageFile, path.wstring()));
            continue;
        }
        if (auto copied = ReplaceWithBackup(*contents, (to / path.filename()).wstring()); !copied)
            tell(copied.error());
    }
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

// The program (from its checked handle, when it is to be copied) and its language files into the
// default folder; recorded when the release lies in that folder too.
Pd::Result<> CopyAndRecord(const InstallFolder& installFolder, const std::wstring& installedExe,
                           const UniqueFile& program, InstallState& state,
                           const Detail::ProgramSetting& setting)
{
    const std::filesystem::path folder(setting.defaultFolder);
    if (program)
    {
        if (auto copied = ReplaceWithBackup(program.Get(), installedExe); !copied)
            return copied;
        CopyLanguageFiles(std::filesystem::path(setting.runningExe).parent_path(), folder / L"language",
                          setting);
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
