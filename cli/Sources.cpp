#include "cli/Sources.h"

#include "core/InstallFolder.h"
#include "core/Paths.h"
#include "core/Settings.h"
#include "core/Strings.h"

#include <fmt/xchar.h>

#include <windows.h>

namespace Pd::Cli
{
namespace
{

constexpr std::wstring_view GitHubManifest =
    L"https://github.com/ormel/peldra/releases/download/components/manifest.json";
constexpr std::wstring_view MirrorManifest = L"https://mirror.ormel.example/android/manifest.json";
constexpr std::wstring_view LocalManifest = L"http://localhost/peldra/manifest.json";

} // namespace

std::wstring ManifestUrlForSource(std::wstring_view source)
{
    std::wstring word = Core::ToLower(source);
    if (word == L"github")
        return std::wstring(GitHubManifest);
    if (word == L"mirror")
        return std::wstring(MirrorManifest);
    if (word.empty() || word == L"local")
        return std::wstring(LocalManifest);
    return std::wstring(source);
}

std::wstring ManifestUrlForStoredSource(std::wstring_view storedSource, std::wstring_view customManifest)
{
    if (storedSource == L"custom")
        return std::wstring(customManifest);
    return ManifestUrlForSource(storedSource);
}

std::wstring ResolveManifestUrl(const Args& args)
{
    if (!args.source.empty())
        return ManifestUrlForSource(args.source);
    std::wstring stored = Core::ReadUserString(L"Source", L"github");
    std::wstring custom = stored == L"custom" ? Core::ReadUserString(L"CustomManifest", L"") : L"";
    return ManifestUrlForStoredSource(stored, custom);
}

Result<std::wstring> ResolveInstallFolder(const Args& args)
{
    if (!args.dir.empty())
    {
        std::wstring folder = Core::NormalizeFolder(args.dir);
        if (folder.empty())
            return Fail(fmt::format(L"--dir {} is not a folder path that can be used", args.dir));
        return folder;
    }
    std::wstring stored = Core::ReadUserString(L"InstallFolder", L"");
    if (!stored.empty())
        return stored;
    return Core::DefaultInstallFolder();
}

} // namespace Pd::Cli
