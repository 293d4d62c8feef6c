#include "release/manifest/Updates.h"

#include "core/Settings.h"
#include "core/Version.h"
#include "release/base/InstallState.h"
#include "release/manifest/Versions.h"

#include <chrono>

namespace Pd::Core
{
namespace
{

// A release version newer than the installed one; empty when nothing is installed.
bool NewerThanInstalled(const std::wstring& version, const InstallFolder& installFolder)
{
    const InstallState state = ReadState(installFolder);
    return !version.empty() && !state.version.empty() && CompareVersions(version, state.version) > 0;
}

} // namespace

std::optional<AppInfo> AppUpdate(const Manifest& manifest)
{
    if (!manifest.isSigned || !manifest.app)
        return std::nullopt;
    if (CompareVersions(manifest.app->version, ProgramVersion) > 0)
        return manifest.app;
    return std::nullopt;
}

bool RecordUpdates(const Manifest& manifest, const InstallFolder& installFolder)
{
    if (!manifest.isSigned)
        return false;
    const auto app = AppUpdate(manifest);
    const std::wstring newApp = app ? app->version : L"";
    const std::wstring newRelease =
        NewerThanInstalled(manifest.version, installFolder) ? manifest.version : L"";
    const bool changed =
        newApp != ReadUserString(L"UpdateApp", L"") || newRelease != ReadUserString(L"UpdateRelease", L"");
    WriteUserString(L"UpdateApp", newApp);
    WriteUserString(L"UpdateRelease", newRelease);
    const auto seconds =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
            .count();
    WriteUserString(L"UpdateChecked", std::to_wstring(seconds));
    return changed;
}

UpdateVersions PendingUpdates(const InstallFolder& installFolder)
{
    UpdateVersions pending;
    const std::wstring app = ReadUserString(L"UpdateApp", L"");
    if (!app.empty() && CompareVersions(app, ProgramVersion) > 0)
        pending.app = app;
    const std::wstring release = ReadUserString(L"UpdateRelease", L"");
    if (NewerThanInstalled(release, installFolder))
        pending.release = release;
    return pending;
}

} // namespace Pd::Core
