// The working values of one uninstall run and the steps it is made of, in the order it takes them.
#pragma once

#include "core/TextId.h"
#include "release/base/MachineRecords.h"
#include "release/uninstall/Leftovers.h"
#include "release/uninstall/Uninstall.h"

#include <optional>
#include <string>

namespace Pd::Core
{

struct UninstallValues
{
    InstallFolder folder;                        // the folder given
    std::optional<RecordedFolder> identity;      // its volume and file id before anything went
    std::optional<Install::PackageInfo> package; // this account's Tovik
    bool ours = false; // registered in development mode from the folder (or from its recorded path)
    InstallState state;                          // of the folder
    bool stateFile = false;                      // "peldra.json" exists in the folder
    bool leftovers = false;                      // the folder holds what only an install leaves
    std::optional<Install::PackageUser> other;   // another account holds Tovik from the folder
    std::wstring dataFolder;                     // the Android data of this account
    bool hostRan = false;
    bool taskExisted = false;
    Detail::FolderRemoval releaseFiles; // what went of the release's files, and what stayed
    RemovalOutcome outcome;

    // Appends a failure to the outcome and logs it at warning level.
    void Report(const Callbacks& callbacks, const std::wstring& text);
};

// Reports one stage; position -1 while working, 1000 at the end.
void UninstallStage(const Callbacks& callbacks, TextId text, std::int32_t position = -1);

// Which folder, whose Tovik, and whether anything of the program is there at all.
Result<> FindInstalled(const InstallFolder& installFolder, Removal removal, const Callbacks& callbacks,
                       UninstallValues& run);

// The host goes, and its task unless another account's Tovik needs it.
void StopHostAndTask(const Callbacks& callbacks, const Detail::UninstallSetting& setting,
                     UninstallValues& run);

// Shuts Tovik down and removes the package, when it is ours; a failure ends the run.
Result<> RemoveTovikPackage(Removal removal, const Callbacks& callbacks, UninstallValues& run);

// From here on the folder may hold part of the release: the state file says so until it goes.
void MarkRemoving(const Callbacks& callbacks, UninstallValues& run);

// Magisk, the release and program files, and the settings shortcut.
void RemoveFiles(const Callbacks& callbacks, const Detail::UninstallSetting& setting, UninstallValues& run);

// The state file, then the folder when the install made it and nothing else is in it, then the
// folders above it that the install made, when empty. Last, so that a run cut off before can be
// finished: with Removal 1, a folder left without a full record is a failure.
void RemoveStateAndFolder(Removal removal, const Callbacks& callbacks,
                          const Detail::UninstallSetting& setting, UninstallValues& run);

// Whether the folder holds what an install leaves besides its state file: downloads, a state
// being written, the release's proof, or Tovik's own release folder.
bool HasInstallLeftovers(const InstallFolder& folder);

// The paths the state file shows the install placed in the folder.
Install::OwnedPaths OwnedPathsOf(const InstallFolder& folder, const InstallState& state);

// The Android data and what Tovik left in Windows, unless a Tovik that stays owns them.
void RemoveAndroidLeftovers(const Callbacks& callbacks, UninstallValues& run);

// Developer mode and Virtual Machine Platform go back off where nothing else needs them.
void SwitchFeaturesOff(const Callbacks& callbacks, UninstallValues& run);

// The bridges' registrations and the program's data folder.
void RemoveBridgesAndData(const Callbacks& callbacks, const Detail::UninstallSetting& setting,
                          UninstallValues& run);

// The program's own registry keys.
void DeleteProgramKeys(const Callbacks& callbacks);

} // namespace Pd::Core
