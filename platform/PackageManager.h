// The Windows package manager (a Windows Runtime service): the queries the Tovik package
// lookup needs, the deployments that register, add and remove packages, and a package family's
// local settings values. Synchronous; every failure is an HRESULT with a text.
#pragma once

#include "platform/Platform.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace Pd::Platform
{

struct PackageVersion
{
    std::uint16_t major = 0;
    std::uint16_t minor = 0;
    std::uint16_t build = 0;
    std::uint16_t revision = 0;
};

// One registered package, as the package manager describes it.
struct Package
{
    std::wstring name;       // identity name, e.g. "TovikPackage"
    std::wstring familyName; // name, "_", publisher id
    std::wstring fullName;   // name, version, architecture, resource id, publisher id
    PackageVersion version;
    std::wstring architecture;                   // "x64", "x86", "arm64", "neutral", ...
    std::optional<std::wstring> installLocation; // none when it cannot be read
    bool developmentMode = false;                // registered from an unpacked folder
};

// A walk over packages in the order the package manager returns them. A failure part-way
// keeps the packages read before it and names the failure.
struct PackageWalk
{
    std::vector<Package> packages;
    std::optional<Error> stoppedBy;
};

// Deployment options, as the package manager's flags.
inline constexpr std::uint32_t ForceApplicationShutdown = 0x1;
inline constexpr std::uint32_t DevelopmentMode = 0x2;
inline constexpr std::uint32_t ForceUpdateFromAnyVersion = 0x40000;
// Removal option: the package's app data stays for a later registration.
inline constexpr std::uint32_t PreserveApplicationData = 0x1000;

class PackageManager
{
public:
    virtual ~PackageManager() = default;

    // The current account's packages (FindPackagesByUserSecurityId with an empty id).
    virtual PackageWalk FindPackagesForCurrentUser() = 0;

    // The packages of one family as registered for any account (needs administrator rights).
    virtual PackageWalk FindPackagesByFamilyName(const std::wstring& familyName) = 0;

    // The security identifiers (as text) of the accounts that have a package registered.
    virtual Outcome<std::vector<std::wstring>> FindUsers(const std::wstring& packageFullName) = 0;

    // Deployments block until Windows has finished. A failure carries the deployment result's
    // extended error code and error text (as its detail), or the error that kept the operation
    // from starting.
    // AddPackageAsync of a package file.
    virtual Outcome<> AddPackage(const std::wstring& packagePath, std::uint32_t options) = 0;
    // RegisterPackageAsync of an unpacked folder's AppxManifest.xml.
    virtual Outcome<> RegisterPackage(const std::wstring& manifestPath, std::uint32_t options) = 0;
    // RemovePackageWithOptionsAsync for the current account.
    virtual Outcome<> RemovePackage(const std::wstring& packageFullName, std::uint32_t options) = 0;

    // The package family's local settings values (ApplicationData's LocalSettings.Values).
    virtual Outcome<bool> HasSettingValue(const std::wstring& familyName, const std::wstring& name) = 0;
    virtual Outcome<> InsertSettingValue(const std::wstring& familyName, const std::wstring& name,
                                         bool value) = 0;
};

// The simulator's package manager when simulating; otherwise Windows' own (through the Windows
// Runtime), which answers "class not registered" where the system has no package manager.
std::shared_ptr<PackageManager> Packages();

} // namespace Pd::Platform
