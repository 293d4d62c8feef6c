// The uninstall run: stops the background host and its task, shuts Tovik down and removes its
// package, deletes the release and program files, Magisk and the settings shortcut, and, when
// everything is to go, the Android data, Tovik's leftovers in Windows, the bridges' registrations,
// the program's data folder and registry keys, and the Windows features the install turned on.
// It never removes what belongs to a Tovik registration this program did not make or that
// another Windows account holds. It cannot be cancelled.
#pragma once

#include "core/Result.h"
#include "release/base/Callbacks.h"
#include "release/base/InstallState.h"
#include "release/windows/Packages.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace Pd::Core
{

enum class Removal : std::int32_t
{
    KeepData = 0,   // the package goes with its app data kept, and everything else stays in Windows
    Everything = 1, // the command line's --all
};

struct RemovalOutcome
{
    bool restartNeeded = false;         // switching Virtual Machine Platform off asked for a restart
    std::vector<std::wstring> failures; // paths that stayed and error texts, each also logged
};

// Fails only when there is nothing of the program in the folder or the Start menu ("Peldra is not
// installed in ...", nothing changed) or when the package cannot be removed; every other failure is collected
// in the outcome and the run goes on. The progress and log callbacks must be set.
Result<RemovalOutcome> Uninstall(const InstallFolder& installFolder, Removal removal,
                                 const Callbacks& callbacks);

// Deletes the files the state file names (and the program's own records) from the folder, then
// the state file, then the folder when the install made it and nothing else is left in it.
void RemoveReleaseFiles(const InstallFolder& folder, const InstallState& state, const Callbacks& callbacks,
                        RemovalOutcome& outcome, bool ownInstallerPackage);

// Deletes the program and its language files from the default install folder when the release
// lay elsewhere.
void RemoveProgramFiles(const InstallFolder& folder, const Callbacks& callbacks, RemovalOutcome& outcome);

// Deletes Android's remembered language list from its data folder, so that a later install
// fills it anew; failures are ignored.
void ForgetLanguageList(const std::wstring& dataFolder);

namespace Detail
{
// What the run works with besides the package manager and the registry, replaceable by tests.
struct UninstallSetting
{
    std::wstring runningExe;
    InstallFolder defaultFolder;
    std::wstring programDataFolder;
    std::function<bool()> ownInstallerPackage;
    std::function<bool()> hostRunning;
    std::function<bool()> taskRegistered;
    std::function<void()> stopHost;
    std::function<Result<>(bool)> setTaskRegistered;
};
UninstallSetting CurrentUninstallSetting();
Result<RemovalOutcome> UninstallWith(const InstallFolder& installFolder, Removal removal,
                                     const Callbacks& callbacks, const UninstallSetting& setting);
// What the removal of the release's files did in their folder. The line that sums it up comes once
// the state file was tried too, so that it counts everything that stayed there.
struct FolderRemoval
{
    bool actedOn = false;          // the folder's own files said what goes
    bool programScheduled = false; // the running program goes at the next restart
    bool packageGone = false;      // Tovik was removed from Windows before: what stays is of no package
    std::uint64_t sizeBefore = 0;
    std::size_t deleted = 0; // entries that were there and went
    std::size_t stayed = 0;  // failures noted for the folder
};
FolderRemoval RemoveReleaseFilesWith(const InstallFolder& folder, const InstallState& state,
                                     const Callbacks& callbacks, RemovalOutcome& outcome,
                                     bool ownInstallerPackage, const UninstallSetting& setting,
                                     bool packageGone = false);
// The state file, the line that sums up the folder's removal, then the folder and those above it
// that the install made.
void RemoveStateAndFolderWith(const InstallFolder& folder, const InstallState& state,
                              const Callbacks& callbacks, RemovalOutcome& outcome, bool ownInstallerPackage,
                              const FolderRemoval& releaseFiles, const UninstallSetting& setting);
void RemoveProgramFilesWith(const InstallFolder& folder, const Callbacks& callbacks, RemovalOutcome& outcome,
                            const UninstallSetting& setting);

// Removes a file or folder with retries; when that fails the path stays in the outcome's failures
// and the reason goes to the log at warning level.
void RemoveOrNote(const std::wstring& path, const Callbacks& callbacks, RemovalOutcome& outcome);
} // namespace Detail

} // namespace Pd::Core
