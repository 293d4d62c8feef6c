#include "cli/Sources.h"

#include "core/DefaultInstallFolder.h"
#include "core/Settings.h"
#include "core/Strings.h"
#include "release/folders/InstallFolderRules.h"
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

Result<Core::InstallFolder> ResolveInstallFolder(const Args& args, FolderUse use)
{
    const auto read =
        use == FolderUse::Install ? Install::InstallFolderFromText : Install::InstalledFolderFromText;
    const std::wstring stored = args.dir.empty() ? Core::ReadUserString(L"InstallFolder", L"") : L"";
    if (args.dir.empty() && stored.empty())
        return Core::InstallFolder::From(Core::DefaultInstallFolder());
    Result<std::wstring> typed = read(args.dir.empty() ? stored : args.dir);
    if (!typed)
        return std::unexpected(std::move(typed.error()));
    return Core::InstallFolder::From(*typed);
}

} // namespace Pd::Cli
