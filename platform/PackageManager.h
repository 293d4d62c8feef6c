// The Windows package manager (a Windows Runtime service): the queries the Tovik package
// lookup needs. Synchronous; every failure is an HRESULT with a text. Later: registration and
// removal join this interface.
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
};

// The simulator's package manager when simulating; otherwise one that answers every call with
// "class not registered", since this build has no Windows Runtime binding.
std::shared_ptr<PackageManager> Packages();

} // namespace Pd::Platform
