// Making Windows know a Tovik release folder: the packages its AppxManifest.xml depends on are
// installed from package files shipped in the folder, the manifest is registered in development
// mode, and a registered Tovik package is removed with or without its app data.
#pragma once

#include "core/Result.h"
#include "platform/Platform.h"
#include "release/base/Callbacks.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace Pd::Install
{

// One package dependency of a manifest.
struct Dependency
{
    std::wstring name;
    std::wstring minVersion;

    bool operator==(const Dependency&) const = default;
};

// A dotted version of up to four 16-bit parts as one number, the first part highest; missing
// parts count as 0 and reading stops at the first character that is neither digit nor point.
std::uint64_t PackageVersionValue(std::wstring_view text);

// The dependencies of an AppxManifest.xml in document order (PackageDependency elements with a
// Name and a MinVersion); none when it cannot be read.
std::vector<Dependency> ReadPackageDependencies(const std::wstring& manifestPath);

// The finished deployment's result: success, or the error text of the step and the HRESULT with
// the deployment's own text before Windows' text for the code.
Result<> WaitDeployment(const Platform::Outcome<>& deployment, const std::wstring& step);

// Adds every dependency the current account lacks at its minimum version from the package file
// "<name>_x64.appx" in the release folder; stops at the first one that cannot be had. A failed
// addition's error begins with the dependency's name.
Result<> InstallDependencies(const std::wstring& releaseFolder, const Core::LogText& log);

// Registers the release folder's AppxManifest.xml in development mode, once.
Result<> RegisterPackage(const std::wstring& releaseFolder, const Core::LogText& log);

// Removes the current account's package, keeping its app data or not.
Result<> RemovePackage(const std::wstring& packageFullName, bool keepData);

} // namespace Pd::Install
