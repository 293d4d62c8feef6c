// The program updates itself with its own Windows Installer package: downloaded into the default
// install folder, checked for the publisher's signature, then installed by a command processor
// that outlives this process and starts the updated program.
#pragma once

#include "core/Result.h"
#include "release/base/Callbacks.h"
#include "release/manifest/Manifest.h"

#include <functional>
#include <stop_token>
#include <string>
#include <string_view>

namespace Pd::Core
{

// Downloads the package the app record names (resuming an earlier partial download), keeps it
// open so that it cannot be exchanged, checks its signature, stops the background host and starts
// the installer. On success the installer runs on by itself and the caller should end soon, so
// that the package can be deleted after the install. The stop token reaches the download only.
Pd::Result<> SelfUpdate(const AppInfo& app, const Net::ByteProgress& progress, const LogText& log,
                        std::stop_token stop);

namespace Detail
{
// "Peldra-<version>.msi", or "Peldra-update.msi" for a version that is not 1 to 32 digits and dots.
std::wstring PackageFileName(std::wstring_view version);

// The command processor's command line: wait for a passive install without restart, delete the
// package, remove the download folder when it is empty, start the installed program.
std::wstring InstallerCommandLine(const std::wstring& commandProcessor, const std::wstring& systemFolder,
                                  const std::wstring& package, const std::wstring& downloadFolder,
                                  const std::wstring& installedProgram);

// Where the update works and whom it asks to stop and start the background host.
struct SelfUpdateSetting
{
    std::wstring defaultFolder;
    std::wstring systemFolder;
    std::function<void()> stopHost;
    std::function<void()> startHost;
};
SelfUpdateSetting CurrentUpdateSetting();
Pd::Result<> SelfUpdateWith(const AppInfo& app, const Net::ByteProgress& progress, const LogText& log,
                            std::stop_token stop, const SelfUpdateSetting& setting);

// Closes the package this process keeps open, as the end of the process would.
void ReleaseKeptPackage();
} // namespace Detail

} // namespace Pd::Core
