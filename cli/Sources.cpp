#include "cli/Sources.h"

#include "core/InstallFolder.h"
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

Result<std::wstring> ResolveInstallFolder(const Args& args, FolderUse use)
{
    const auto read =
        use == FolderUse::Install ? Install::InstallFolderFromText : Install::InstalledFolderFromText;
    if (!args.dir.empty())
        return read(args.dir);
    std::wstring stored = Core::ReadUserString(L"InstallFolder", L"");
    if (!stored.empty())
        return read(stored);
    return Core::DefaultInstallFolder();
}

} // namespace Pd::Cli
