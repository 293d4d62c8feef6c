#include "release/windows/TovikControl.h"

#include "core/Handles.h"
#include "core/Json.h"
#include "core/Text.h"
#include "core/UserFolders.h"
#include "platform/PackageManager.h"
#include "platform/WebPage.h"
#include "release/folders/Folders.h"
#include "release/verify/ReleaseFiles.h"
#include "release/windows/Packages.h"

#include <windows.h>

#include <filesystem>
#include <optional>

namespace Pd::Install
{
namespace
{

constexpr DWORD ShutdownWaitMs = 60000;
constexpr std::uint64_t MaxReleaseFileBytes = 16 * 1024 * 1024;

// The folder a started client runs in, or empty for the shell's choice.
std::wstring CurrentDirectoryFor(const std::wstring& workingFolder)
{
    return !workingFolder.empty() && Core::IsFolder(workingFolder) ? workingFolder : std::wstring();
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
    const std::wstring localAppData = Core::UserKnownFolder(FOLDERID_LocalAppData).value_or(std::wstring());
    if (localAppData.empty())
        return {};
    std::wstring alias =
        localAppData + L"\\Microsoft\\WindowsApps\\" + TovikFamilyName + L"\\TovikClient.exe";
    return Core::PathExists(alias) ? alias : std::wstring();
}

bool RequestTovikShutdown(const std::wstring& workingFolder)
{
    const std::wstring alias = TovikClientAlias();
    return !alias.empty() &&
           Platform::OpenAsUser({alias, L"/shutdown", CurrentDirectoryFor(workingFolder)}).has_value();
}

void ShutdownTovik(const std::wstring& workingFolder, const Core::LogText& log)
{
    const std::optional<Guest::AndroidVm> vm = Guest::FindOwnAndroidVm().vm;
    UniqueHandle ended(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!vm || !ended)
        return;
    Guest::ComputeSystem watch = Guest::OpenComputeSystem(vm->id, ended.Get());
    if (!RequestTovikShutdown(workingFolder))
        return;
    if (log)
        log(Core::Text(TextId::ShuttingTovikDown));
    if (watch)
        ::WaitForSingleObject(ended.Get(), ShutdownWaitMs);
}

Guest::VmStop Stop(std::stop_token stop)
{
    std::optional<PackageInfo> package = FindInstalledPackage();
    if (!package)
        return Guest::VmStop::NotRunning;
    // The hook does not wait for the client: the VM's own end is what the stop waits for.
    return Guest::StopAndroidVm([&] { RequestTovikShutdown(package->installLocation); }, {}, stop);
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
        if (Platform::OpenAsUser({alias, L"/launch " + uri, CurrentDirectoryFor(workingFolder)}))
            return {};
    auto opened = Platform::OpenAsUser({uri, {}, {}});
    if (opened)
        return {};
    return Pd::Fail(Core::FormatText(TextId::OpeningFile, uri) + L": " + opened.error().text);
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
