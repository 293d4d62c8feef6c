// check: reads the release manifest and shows what an install would download.
#include "cli/Check.h"

#include "cli/Commands.h"
#include "cli/ReleaseTarget.h"
#include "cli/Sources.h"
#include "core/Strings.h"
#include "core/Version.h"
#include "release/base/InstallState.h"
#include "release/manifest/Versions.h"
#include "release/windows/WindowsInfo.h"

#include <fmt/xchar.h>

#include <algorithm>

namespace Pd::Cli
{
namespace
{

std::wstring_view ReleaseKind(const Core::Manifest& manifest)
{
    if (manifest.isSigned)
        return L"official (publisher signature)";
    if (!manifest.catalogBytes.empty())
        return L"unofficial (signature not valid for this manifest)";
    return L"unofficial (not signed)";
}

} // namespace

std::wstring CheckText(const Core::Manifest& manifest, const Core::ReleasePlan& plan,
                       std::wstring_view address, std::wstring_view folder)
{
    std::wstring text =
        fmt::format(L"{} {}  {}  {}\n", manifest.name, manifest.version, manifest.android, manifest.variant);
    text += fmt::format(L"Source  {}\n", address);
    text += fmt::format(L"Folder  {}\n", folder);
    text += fmt::format(L"Release {}\n", ReleaseKind(manifest));
    if (const auto& app = manifest.app)
    {
        if (manifest.isSigned && Core::CompareVersions(app->version, ProgramVersion) > 0)
            text += fmt::format(L"Update  Peldra {} is available (this is {}); the window installs it: "
                                L"Help > Update Peldra\n",
                                app->version, ProgramVersion);
        if (!app->minimum.empty() && Core::CompareVersions(ProgramVersion, app->minimum) < 0)
            text += fmt::format(L"Needs   Peldra {} or newer to install this release\n", app->minimum);
    }
    text += L"\n";
    for (const Core::PlannedComponent& item : plan.items)
    {
        const Core::Component& component = item.component.get();
        text += fmt::format(L"  {:<11} {:<22} {:>10} -> {:>10}  {}\n", component.id, component.target,
                            Core::FormatBytes(component.packedSize), Core::FormatBytes(component.size),
                            item.needed ? L"download" : L"installed");
    }
    text += L"\n";
    return text;
}

ExitCode Check(Console& console, const Args& args)
{
    std::wstring address = ResolveManifestUrl(args);
    auto target = LoadReleaseTarget(console, args, address);
    if (!target)
        return target.error();
    const Core::InstallFolder& folder = target->folder;
    Core::ReleasePlan plan =
        Core::PlanRelease(target->manifest, Core::ReadState(folder), Core::QueryWindows(), folder);

    console.EndProgress();
    console.Write(Stream::Output, CheckText(target->manifest, plan, address, folder.Path()));
    bool anythingToFetch = std::ranges::any_of(plan.items, [](const auto& item) { return item.needed; });
    if (!anythingToFetch)
        console.Row(Level::Success, L"up to date");
    else
        console.Write(Stream::Output,
                      fmt::format(L"To download: {}, unpacked: {}\n", Core::FormatBytes(plan.downloadBytes),
                                  Core::FormatBytes(plan.diskBytes)));
    return ExitCode::Ok;
}

} // namespace Pd::Cli
