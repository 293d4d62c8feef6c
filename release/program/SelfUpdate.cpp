#include "release/program/SelfUpdate.h"

#include "core/DefaultInstallFolder.h"
#include "core/ErrorText.h"
#include "core/Handles.h"
#include "core/host/HostControl.h"
#include "core/StartProgram.h"
#include "core/Strings.h"
#include "core/Text.h"
#include "release/base/OpenPath.h"
#include "release/base/RunLock.h"
#include "release/download/Net.h"
#include "release/folders/Folders.h"
#include "release/manifest/Trust.h"

#include <windows.h>

#include <fmt/xchar.h>

#include <algorithm>
#include <mutex>
#include <vector>

namespace Pd::Core
{
namespace
{

constexpr int DownloadAttempts = 5;

// The package of the last self-update, held open with read sharing only until the next one or the
// end of the process: others may read it (the installer does), nobody may change or delete it.
struct KeptPackage
{
    std::mutex mutex;
    UniqueFile file;
};

KeptPackage& Kept()
{
    static KeptPackage kept;
    return kept;
}

bool IsVersionForFileName(std::wstring_view version)
{
    return !version.empty() && version.size() <= 32 &&
           std::ranges::all_of(version, [](wchar_t c) { return (c >= L'0' && c <= L'9') || c == L'.'; });
}

// Deletes the packages earlier updates left in the download folder, except the one this update
// downloads into (a partial download of it is resumed).
void RemoveOldPackages(const std::wstring& folder, const std::wstring& packageName)
{
    WIN32_FIND_DATAW data{};
    UniqueFind find(::FindFirstFileW((folder + L"\\*").c_str(), &data));
    if (!find)
        return;
    std::vector<std::wstring> old;
    do
    {
        const std::wstring name = data.cFileName;
        // A partial package may have its download's validator beside it.
        std::wstring_view package = name;
        if (package.ends_with(L".validator"))
            package.remove_suffix(10);
        if (package.starts_with(L"Peldra-") && package.ends_with(L".msi") &&
            !Core::EqualsIgnoringCase(package, packageName))
            old.push_back(folder + L"\\" + name);
    } while (::FindNextFileW(find.Get(), &data));
    // A listing that broke off part-way ends the clean-up: the update does not depend on it.
    if (::GetLastError() != ERROR_NO_MORE_FILES)
        return;
    find.Reset();
    for (const std::wstring& path : old)
        ::DeleteFileW(path.c_str());
}

} // namespace

namespace Detail
{

std::wstring PackageFileName(std::wstring_view version)
{
    return L"Peldra-" + std::wstring(IsVersionForFileName(version) ? version : L"update") + L".msi";
}

std::wstring InstallerCommandLine(const std::wstring& commandProcessor, const std::wstring& systemFolder,
                                  const std::wstring& package, const std::wstring& downloadFolder,
                                  const std::wstring& installedProgram)
{
    return fmt::format(LR"("{0}" /d /s /c "start "" /wait "{1}\msiexec.exe" /i "{2}" /passive /norestart & )"
                       LR"(del /f /q "{2}" & rd "{3}" 2>nul & start "" "{4}"")",
                       commandProcessor, systemFolder, package, downloadFolder, installedProgram);
}

SelfUpdateSetting CurrentUpdateSetting()
{
    return {DefaultInstallFolder(), SystemFolder(), [] { Host::Stop(); },
            [] { static_cast<void>(Host::EnsureRunning()); }};
}

Pd::Result<> SelfUpdateWith(const AppInfo& app, const Net::ByteProgress& progress, const LogText& log,
                            std::stop_token stop, const SelfUpdateSetting& setting)
{
    const std::wstring downloadFolder = setting.defaultFolder + L"\\.download";
    const std::wstring packageName = PackageFileName(app.version);
    const std::wstring package = downloadFolder + L"\\" + packageName;

    RemoveOldPackages(downloadFolder, packageName);
    if (auto downloaded =
            Net::Download(app.url, package, app.size, app.sha256, DownloadAttempts, progress, log, stop);
        !downloaded)
        return downloaded;

    {
        std::lock_guard lock(Kept().mutex);
        UniqueFile& kept = Kept().file;
        kept.Reset();
        kept =
            Install::OpenPath(package, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
        if (!kept)
            return Fail(ErrorText(FormatText(TextId::OpeningFile, package), ::GetLastError()));
        if (VerifyPublisher(package, kept.Get()) != SignatureState::Official)
        {
            kept.Reset();
            ::DeleteFileW(package.c_str());
            return Fail(Text(TextId::SetupNotSigned));
        }
    }

    const std::wstring commandProcessor = setting.systemFolder + L"\\cmd.exe";
    std::wstring commandLine = InstallerCommandLine(commandProcessor, setting.systemFolder, package,
                                                    downloadFolder, setting.defaultFolder + L"\\Peldra.exe");
    setting.stopHost();

    if (auto started = StartProgram(commandProcessor, std::move(commandLine), CREATE_NO_WINDOW); !started)
    {
        setting.startHost();
        return Fail(ErrorText(Text(TextId::StartingPeldraSetup), started.error()));
    }
    return {};
}

void ReleaseKeptPackage()
{
    std::lock_guard lock(Kept().mutex);
    Kept().file.Reset();
}

} // namespace Detail

Pd::Result<> SelfUpdate(const AppInfo& app, const Net::ByteProgress& progress, const LogText& log,
                        std::stop_token stop)
{
    auto lock = RunLock::Acquire(log, stop);
    if (!lock)
        return std::unexpected(lock.error());
    return Detail::SelfUpdateWith(app, progress, log, stop, Detail::CurrentUpdateSetting());
}

} // namespace Pd::Core
