// What the simulated package manager reads of a package's AppxManifest.xml: its identity and
// the packages it depends on. A simulated package file (.appx) holds its manifest's text.
#pragma once

#include "core/Result.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace Pd::Platform::Sim
{

// Up to four dotted parts, each an unsigned 16-bit number, the first in the highest bits.
using PackageVersionNumber = std::uint64_t;
PackageVersionNumber ReadPackageVersion(std::wstring_view text);

struct AppxDependency
{
    std::wstring name;
    PackageVersionNumber minVersion = 0;
};

struct AppxIdentity
{
    std::wstring name;
    std::wstring publisher;
    std::uint16_t version[4] = {};
    std::wstring architecture = L"neutral";
    std::vector<AppxDependency> dependencies;
};

// Reads the identity of a manifest text; an error when it has no Identity element with a Name.
Pd::Result<AppxIdentity> ParseAppxManifest(std::wstring_view text);

// The manifest file (at most 1 MiB, UTF-8); an error names what went wrong.
Pd::Result<AppxIdentity> ReadAppxManifest(const std::filesystem::path& file);

} // namespace Pd::Platform::Sim
