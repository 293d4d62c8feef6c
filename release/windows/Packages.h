// The Tovik package as the Windows package manager knows it: whether the current account has
// it registered, whether another account holds it, and the current account's other
// development-mode packages. None of these reports an error: a failed query and an absent
// package give the same answer.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace Pd::Install
{

// Tovik's package family name: its identity name, "_", its publisher's id.
inline constexpr const wchar_t* TovikPackageName = L"TovikPackage";
inline constexpr const wchar_t* TovikFamilyName = L"TovikPackage_tv9kp7a3nqe2r";

// The current account's registration of Tovik.
struct PackageInfo
{
    std::wstring fullName;
    std::wstring version; // "major.minor.build.revision" in decimal
    std::wstring installLocation;
    bool developmentMode = false; // registered from an unpacked folder (not from a package file)
};

// Another account's registration of Tovik.
struct PackageUser
{
    std::wstring account;         // the account's name without its domain, or its SID text
    std::wstring installLocation; // empty when it cannot be read
};

// The first package of the current account in Tovik's family (family names compared exactly).
std::optional<PackageInfo> FindInstalledPackage();

// The first other account that holds Tovik, unless the current account holds it too. Needs
// administrator rights to see other accounts; without them the result is empty.
std::optional<PackageUser> FindPackageUsers();

// The current account's SID as text; empty on failure.
std::wstring CurrentUserSid();

// Identity names of the current account's development-mode packages other than Tovik, in the
// package manager's order. A failure part-way returns the names read before it.
std::vector<std::wstring> OtherDevelopmentPackages();

} // namespace Pd::Install
