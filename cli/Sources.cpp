#include "cli/Sources.h"

#include "core/Settings.h"
#include "core/Strings.h"
#include "release/manifest/Versions.h"

namespace Pd::Cli
{

std::wstring ManifestUrlForSource(std::wstring_view source)
{
    std::wstring word = Core::ToLower(source);
    if (word == L"github")
        return Core::GithubManifestAddress();
    if (word == L"mirror")
        return Core::MirrorManifestAddress();
    if (word.empty() || word == L"local")
        return std::wstring(Core::LocalManifestAddress);
    return std::wstring(source);
}

std::wstring ResolveManifestUrl(const Args& args)
{
    if (!args.source.empty())
        return ManifestUrlForSource(args.source);
    return Core::ManifestSource();
}

Result<Core::InstallFolder> ResolveInstallFolder(Console& console, const Args& args, Install::FolderUse use)
{
    Result<Install::FolderChoice> choice = Install::ResolveInstallFolder(args.dir, use);
    if (!choice)
        return std::unexpected(std::move(choice.error()));
    if (!choice->notice.empty())
        console.Row(Level::Warning, choice->notice);
    return std::move(choice->folder);
}

} // namespace Pd::Cli
