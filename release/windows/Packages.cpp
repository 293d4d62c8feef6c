#include "release/windows/Packages.h"

#include "core/Handles.h"
#include "core/Strings.h"
#include "platform/Account.h"
#include "platform/PackageManager.h"

#include <windows.h>

#include <sddl.h>

#include <fmt/xchar.h>

namespace Pd::Install
{
namespace
{

std::wstring VersionText(const Platform::PackageVersion& version)
{
    return fmt::format(L"{}.{}.{}.{}", version.major, version.minor, version.build, version.revision);
}

// The account name (without domain) of a SID text; the SID text itself when it has none.
std::wstring AccountName(const std::wstring& sidText)
{
    PSID sid = nullptr;
    if (!::ConvertStringSidToSidW(sidText.c_str(), &sid))
        return sidText;
    UniqueLocal owner(sid);
    wchar_t name[256];
    wchar_t domain[256];
    DWORD nameLength = static_cast<DWORD>(std::size(name));
    DWORD domainLength = static_cast<DWORD>(std::size(domain));
    SID_NAME_USE use{};
    if (!::LookupAccountSidW(nullptr, sid, name, &nameLength, domain, &domainLength, &use))
        return sidText;
    return name;
}

} // namespace

std::optional<PackageInfo> FindInstalledPackage()
{
    Platform::PackageWalk walk = Platform::Packages()->FindPackagesForCurrentUser();
    for (const Platform::Package& package : walk.packages)
    {
        if (package.familyName != TovikFamilyName)
            continue;
        if (!package.installLocation)
            return std::nullopt; // never a partly filled record
        return PackageInfo{package.fullName, VersionText(package.version), *package.installLocation,
                           package.developmentMode};
    }
    return std::nullopt;
}

std::wstring CurrentUserSid()
{
    return Platform::ProcessUserSid();
}

std::optional<PackageUser> FindPackageUsers()
{
    std::wstring me = CurrentUserSid();
    std::shared_ptr<Platform::PackageManager> manager = Platform::Packages();
    Platform::PackageWalk walk = manager->FindPackagesByFamilyName(TovikFamilyName);
    if (walk.stoppedBy)
        return std::nullopt;
    std::optional<PackageUser> first;
    for (const Platform::Package& package : walk.packages)
    {
        auto users = manager->FindUsers(package.fullName);
        if (!users)
            return std::nullopt;
        for (const std::wstring& sid : *users)
        {
            if (Core::EqualsIgnoringCase(sid, me))
                return std::nullopt; // the current account holds it as well
            if (!first)
                first = PackageUser{AccountName(sid), package.installLocation.value_or(L"")};
        }
    }
    return first;
}

std::vector<std::wstring> OtherDevelopmentPackages()
{
    std::vector<std::wstring> names;
    for (const Platform::Package& package : Platform::Packages()->FindPackagesForCurrentUser().packages)
        if (package.developmentMode && package.familyName != TovikFamilyName)
            names.push_back(package.name);
    return names;
}

} // namespace Pd::Install
