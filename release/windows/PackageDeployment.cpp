#include "release/windows/PackageDeployment.h"

#include "core/ErrorText.h"
#include "core/Strings.h"
#include "core/Text.h"
#include "core/XmlTags.h"
#include "platform/PackageManager.h"
#include "release/base/OpenPath.h"
#include "release/manifest/Manifest.h"
#include "release/verify/ReleaseFiles.h"

#include <windows.h>

#include <fmt/xchar.h>

#include <cwctype>
#include <filesystem>
#include <optional>

namespace Pd::Install
{
namespace
{

// A package manifest is a few kilobytes; anything far larger is no manifest.
constexpr std::uint64_t MaxManifestBytes = 16 * 1024 * 1024;

constexpr std::uint32_t AddOptions = Platform::ForceApplicationShutdown | Platform::ForceUpdateFromAnyVersion;
constexpr std::uint32_t RegisterOptions =
    Platform::ForceApplicationShutdown | Platform::DevelopmentMode | Platform::ForceUpdateFromAnyVersion;

std::wstring VersionText(const Platform::PackageVersion& version)
{
    return fmt::format(L"{}.{}.{}.{}", version.major, version.minor, version.build, version.revision);
}

// The highest version of the named x64 package that the current account has. A failed walk
// keeps what it found before the failure.
std::optional<std::wstring> InstalledVersion(const std::wstring& name)
{
    std::optional<std::wstring> best;
    std::uint64_t bestValue = 0;
    for (const Platform::Package& package : Platform::Packages()->FindPackagesForCurrentUser().packages)
    {
        if (package.name != name || package.architecture != L"x64")
            continue;
        std::wstring version = VersionText(package.version);
        std::uint64_t value = PackageVersionValue(version);
        if (!best || value > bestValue)
        {
            best = std::move(version);
            bestValue = value;
        }
    }
    return best;
}

// The name comes from a file of the release and becomes a file name: one plain path segment.
bool IsSafePackageFileName(const std::wstring& name)
{
    return name.find_first_of(L"\\/") == std::wstring::npos && Core::IsSafeTarget(name);
}

} // namespace

std::uint64_t PackageVersionValue(std::wstring_view text)
{
    std::uint64_t value = 0;
    int parts = 0;
    std::size_t position = 0;
    while (true)
    {
        std::uint32_t part = 0;
        while (position < text.size() && text[position] >= L'0' && text[position] <= L'9')
            part = (part * 10 + static_cast<std::uint32_t>(text[position++] - L'0')) & 0xFFFF;
        value = value << 16 | part;
        ++parts;
        if (parts == 4 || position >= text.size() || text[position] != L'.')
            break;
        ++position;
    }
    return value << (16 * (4 - parts));
}

std::vector<Dependency> ReadPackageDependencies(const std::wstring& manifestPath)
{
    const std::wstring text = Core::FromUtf8(Core::ReadFileBytes(manifestPath, MaxManifestBytes));
    std::vector<Dependency> dependencies;
    for (std::wstring_view tag : Core::StartTags(text, L"PackageDependency"))
    {
        auto name = Core::TagAttribute(tag, L"Name");
        auto minVersion = Core::TagAttribute(tag, L"MinVersion");
        if (name && !name->empty() && minVersion && !minVersion->empty())
            dependencies.push_back({std::wstring(*name), std::wstring(*minVersion)});
    }
    return dependencies;
}

Result<> WaitDeployment(const Platform::Outcome<>& deployment, const std::wstring& step)
{
    if (deployment)
        return {};
    // Windows' text for the code is generic; the deployment's own text says what went wrong.
    const Platform::Error& error = deployment.error();
    std::wstring detail = error.detail;
    while (!detail.empty() && std::iswspace(detail.back()))
        detail.pop_back();
    if (!detail.empty() && detail.back() != L'.')
        detail.push_back(L'.');
    return Pd::Fail(
        Core::ErrorText(detail.empty() ? step : Core::FormatText(TextId::WindowsSays, step, detail),
                        static_cast<std::uint32_t>(error.code)));
}

Result<> InstallDependencies(const std::wstring& releaseFolder, const Core::LogText& log)
{
    const std::filesystem::path folder(releaseFolder);
    for (const Dependency& dependency : ReadPackageDependencies((folder / L"AppxManifest.xml").wstring()))
    {
        std::optional<std::wstring> installed = InstalledVersion(dependency.name);
        if (installed && PackageVersionValue(*installed) >= PackageVersionValue(dependency.minVersion))
        {
            if (log)
                log(Core::FormatText(TextId::ReleaseInstalled, dependency.name, *installed));
            continue;
        }
        if (!IsSafePackageFileName(dependency.name))
            return Pd::Fail(
                Core::FormatText(TextId::PackageMissingFromRelease, dependency.name, dependency.minVersion));
        const std::filesystem::path file = folder / (dependency.name + L"_x64.appx");
        const DWORD attributes = Install::EntryAttributes(file.wstring());
        if (attributes == INVALID_FILE_ATTRIBUTES)
        {
            const DWORD error = ::GetLastError();
            if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND)
                return Pd::Fail(
                    Core::ErrorText(Core::FormatText(TextId::ReadingFile, file.wstring()), error));
        }
        if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
            return Pd::Fail(
                Core::FormatText(TextId::PackageMissingFromRelease, dependency.name, dependency.minVersion));
        if (log)
            log(Core::FormatText(TextId::InstallingRelease, dependency.name, dependency.minVersion));
        if (auto added =
                WaitDeployment(Platform::Packages()->AddPackage(file.wstring(), AddOptions), dependency.name);
            !added)
            return added;
    }
    return {};
}

Result<> RegisterPackage(const std::wstring& releaseFolder, const Core::LogText& log)
{
    const std::wstring manifest = (std::filesystem::path(releaseFolder) / L"AppxManifest.xml").wstring();
    if (log)
        log(Core::FormatText(TextId::RegisteringPackage, manifest));
    return WaitDeployment(Platform::Packages()->RegisterPackage(manifest, RegisterOptions),
                          Core::Text(TextId::RegisteringTovikPackage));
}

Result<> RemovePackage(const std::wstring& packageFullName, bool keepData)
{
    const std::uint32_t options = keepData ? Platform::PreserveApplicationData : 0;
    return WaitDeployment(Platform::Packages()->RemovePackage(packageFullName, options),
                          Core::Text(TextId::RemovingTovikPackage));
}

} // namespace Pd::Install
