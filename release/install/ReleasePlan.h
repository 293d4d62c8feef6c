// What an install must fetch: per component of the manifest, whether it is needed (not
// installed with the same download digest, or missing on disk), and the bytes it will take.
#pragma once

#include "release/base/InstallState.h"
#include "release/manifest/Manifest.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace Pd::Core
{

struct WindowsInfo;

struct PlannedComponent
{
    std::reference_wrapper<const Component> component; // inside the manifest, which outlives the plan
    bool needed = true;
};

struct ReleasePlan
{
    std::vector<PlannedComponent> items; // manifest order, without the optional ones left out
    std::uint64_t downloadBytes = 0;     // packed bytes of the needed components
    std::uint64_t diskBytes = 0;         // unpacked bytes of the needed components
};

// Optional components are planned only for "tovikpatch" on Windows build 28000 or later.
ReleasePlan PlanRelease(const Manifest& manifest, const InstallState& state, std::uint32_t windowsBuild,
                        const InstallFolder& installFolder);
// The same with the build of a Windows report, as the window and the command line have it.
ReleasePlan PlanRelease(const Manifest& manifest, const InstallState& state, const WindowsInfo& windows,
                        const InstallFolder& installFolder);

// Whether a component's files are on disk: with a record of what it placed, every file of that
// record must exist; without one, a file or disk target must exist and an archive counts as
// present unless it is "windows" and its folder lacks "AppxManifest.xml".
bool ComponentPresent(const InstallFolder& installFolder, const Component& component,
                      const InstallState& state = {});

} // namespace Pd::Core
