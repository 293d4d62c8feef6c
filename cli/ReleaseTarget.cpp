#include "cli/ReleaseTarget.h"

#include "cli/Sources.h"
#include "release/download/ManifestLoader.h"

namespace Pd::Cli
{

std::expected<ReleaseTarget, ExitCode> LoadReleaseTarget(Console& console, const Args& args,
                                                         const std::wstring& address)
{
    // The folder first: one that cannot be used is refused without waiting for the network.
    Result<Core::InstallFolder> folder = ResolveInstallFolder(console, args);
    if (!folder)
    {
        console.Row(Level::Error, folder.error());
        return std::unexpected(ExitCode::Failed);
    }
    Result<Core::Manifest> manifest = Core::LoadManifest(
        address, {}, 10000, 20000, [&console](const std::wstring& line) { console.Row(Level::Info, line); });
    if (!manifest)
    {
        console.Row(Level::Error, manifest.error());
        return std::unexpected(ExitCode::Unavailable);
    }
    return ReleaseTarget{std::move(*manifest), std::move(*folder)};
}

} // namespace Pd::Cli
