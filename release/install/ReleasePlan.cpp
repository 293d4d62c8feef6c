#include "release/install/ReleasePlan.h"

#include "release/install/InstallRecords.h"
#include "release/windows/WindowsInfo.h"

#include <filesystem>

namespace Pd::Core
{
namespace
{

bool Exists(const std::filesystem::path& path)
{
    std::error_code error;
    return std::filesystem::exists(path, error);
}

bool IsPlanned(const Component& component, std::uint32_t windowsBuild)
{
    return !component.optional || (component.id == L"tovikpatch" && windowsBuild >= 28000);
}

} // namespace

ReleasePlan PlanRelease(const Manifest& manifest, const InstallState& state, std::uint32_t windowsBuild,
                        const InstallFolder& installFolder)
{
    ReleasePlan plan;
    for (const Component& component : manifest.components)
    {
        if (!IsPlanned(component, windowsBuild))
            continue;
        auto installed = state.components.find(component.id);
        bool needed = installed == state.components.end() || installed->second != component.packedSha256 ||
                      !ComponentPresent(installFolder, component, state);
        plan.items.push_back({component, needed});
        if (needed)
        {
            plan.downloadBytes += component.packedSize;
            plan.diskBytes += component.size;
        }
    }
    return plan;
}

ReleasePlan PlanRelease(const Manifest& manifest, const InstallState& state, const WindowsInfo& windows,
                        const InstallFolder& installFolder)
{
    return PlanRelease(manifest, state, windows.build, installFolder);
}

bool ComponentPresent(const InstallFolder& installFolder, const Component& component,
                      const InstallState& state)
{
    if (const auto record = state.placed.find(component.id); record != state.placed.end())
    {
        bool recordedFiles = false;
        for (const std::wstring& placed : record->second)
            if (IsSafeRecord(placed) && !IsFolderRecord(placed))
            {
                if (!Exists(std::filesystem::path(installFolder.Path()) / placed))
                    return false;
                recordedFiles = true;
            }
        if (recordedFiles)
            return true;
    }
    std::filesystem::path target = std::filesystem::path(installFolder.Path()) / component.target;
    if (component.kind == ComponentKind::Archive)
        return Exists(target / L"AppxManifest.xml") || component.id != L"windows";
    return Exists(target);
}

} // namespace Pd::Core
