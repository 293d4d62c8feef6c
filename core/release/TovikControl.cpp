#include "core/release/TovikControl.h"

#include "core/ErrorText.h"
#include "core/Json.h"
#include "core/release/Folders.h"
#include "core/release/KnownFolder.h"
#include "core/release/Packages.h"
#include "core/release/ReleaseFiles.h"
#include "core/Text.h"
#include "platform/PackageManager.h"

#include <windows.h>

#include <shellapi.h>

#include <filesystem>
#include <optional>

namespace Pd::Install
{
namespace
{

constexpr DWORD ShutdownWaitMs = 60000;
constexpr std::uint64_t MaxReleaseFileBytes = 16 * 1024 * 1024;

// The folder as a new process's current directory, or null to inherit the caller's.
const wchar_t* CurrentDirectoryFor(const std::wstring& workingFolder)
{
    if (workingFolder.empty())
        return nullptr;
    if (!Core::IsFolder(workingFolder))
        return nullptr;
    return workingFolder.c_str();
}

// Starts the client with its arguments; the process handle, or none.
UniqueHandle StartClient(const std::wstring& alias, const std::wstring& arguments,
                         const std::wstring& workingFolder, DWORD flags)
{
    std::wstring commandLine = L"\"" + alias + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(alias.c_str(), commandLine.data(), nullptr, nullptr, FALSE, flags, nullptr,
                          CurrentDirectoryFor(workingFolder), &startup, &process))
        return {};
    UniqueHandle thread(process.hThread);
    return UniqueHandle(process.hProcess);
}

std::wstring InstallLocation()
{
    std::optional<PackageInfo> package = FindInstalledPackage();
    return package ? package->installLocation : std::wstring();
}

} // namespace

std::wstring ReleaseVariant(std::string_view releaseJson)
{
    auto release = Json::ParseUtf8(releaseJson);
    return release ? release->TextOr(L"variant", L"") : std::wstring();
}

std::wstring TovikClientAlias()
{
    const std::wstring localAppData = KnownFolderPath(FOLDERID_LocalAppData, 0);
    if (localAppData.empty())
        return {};
    std::wstring alias =
        localAppData + L"\\Microsoft\\WindowsApps\\" + TovikFamilyName + L"\\TovikClient.exe";
    return Core::PathExists(alias) ? alias : std::wstring();
}

UniqueHandle StartTovikShutdown(const std::wstring& workingFolder)
{
    const std::wstring alias = TovikClientAlias();
    if (alias.empty())
        return {};
    return StartClient(alias, L"/shutdown", workingFolder, CREATE_NO_WINDOW);
}

void ShutdownTovik(const std::wstring& workingFolder, const Core::LogText& log)
{
    UniqueHandle process = StartTovikShutdown(workingFolder);
    if (!process)
        return;
    if (log)
        log(Core::Text(17011));
    ::WaitForSingleObject(process.Get(), ShutdownWaitMs);
}

Guest::VmStop Stop()
{
    std::optional<PackageInfo> package = FindInstalledPackage();
    if (!package)
        return Guest::VmStop::NotRunning;
    UniqueHandle request;
    // The hook does not wait for the client: the VM's own end is what the stop waits for.
    return Guest::StopAndroidVm([&] { request = StartTovikShutdown(package->installLocation); });
}

void SeedTovikSettings()
{
    auto packages = Platform::Packages();
    for (const wchar_t* name : {L"DeveloperModeEnabled", L"OptionalDiagnosticDataEnabled"})
    {
        auto present = packages->HasSettingValue(TovikFamilyName, name);
        if (!present)
            return;
        if (!*present && !packages->InsertSettingValue(TovikFamilyName, name, false))
            return;
    }
}

Result<> LaunchTovikUri(const std::wstring& workingFolder, const std::wstring& target)
{
    const std::wstring uri = L"tovik://" + target;
    if (const std::wstring alias = TovikClientAlias(); !alias.empty())
        if (StartClient(alias, L"/launch " + uri, workingFolder, 0))
            return {};
    SHELLEXECUTEINFOW execute{};
    execute.cbSize = sizeof(execute);
    execute.fMask = SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    execute.lpVerb = L"open";
    execute.lpFile = uri.c_str();
    execute.nShow = SW_SHOWNORMAL;
    if (::ShellExecuteExW(&execute))
        return {};
    return Pd::Fail(Core::ErrorText(Core::FormatText(18015, uri), ::GetLastError()));
}

Result<> OpenTovikStore()
{
    const std::wstring folder = InstallLocation();
    std::wstring target = SettingsTarget;
    if (!folder.empty())
    {
        const std::string release = Core::ReadFileBytes(
            (std::filesystem::path(folder) / L"release.json").wstring(), MaxReleaseFileBytes);
        if (ReleaseVariant(release).find(L"Google") != std::wstring::npos)
            target = StoreTarget;
    }
    return LaunchTovikUri(folder, target);
}

Result<> OpenTovikSettings()
{
    return LaunchTovikUri(InstallLocation(), SettingsTarget);
}

} // namespace Pd::Install
