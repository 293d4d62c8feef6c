// The install folder of an elevated run, in one place for every command, the window and the host.
// A folder other than the default one is acted on only when the user names it for this command
// (--dir, or the window's folder picker) or an elevated run recorded it where only administrators
// write (MachineRecords.h), and the folder there is still the one recorded (same volume and file
// id). The per-user InstallFolder value and the package registration's install location are
// written by any program of the user: they are hints that may narrow what a run does (refuse,
// name a folder, explain), never widen it; only a run that is known not to be elevated and only
// shows may follow the per-user value.
#pragma once

#include "core/Result.h"
#include "release/base/InstallFolder.h"
#include "release/base/MachineRecords.h"

#include <optional>
#include <string>
#include <string_view>

namespace Pd::Install
{

// What a caller does with the folder: install into it, remove or check the install there, or
// only show it. An install's folder must pass today's rules; an existing install is taken
// wherever its folder can be named (InstallFolderRules.h).
enum class FolderUse
{
    Install,
    Existing,
    Show,
};

enum class FolderFrom
{
    Typed,
    Record,  // where the last elevated install went
    Chosen,  // the folder chosen in the elevated window, or the last install's
    Default,
    Hint,    // the per-user value, for a run known not to be elevated that only shows
    Found,   // an install a hint names, shown and not acted on until the user chooses it
};

// Who says how to go on: the command line names --dir, the window "Change install folder…".
enum class Asker
{
    CommandLine,
    Window,
};

struct FolderChoice
{
    Core::InstallFolder folder;
    FolderFrom from = FolderFrom::Default;
    std::wstring notice; // names a folder that is not acted on and the one that is; empty if none
    // The notice refuses: this run acts on no folder until the user names or chooses one (an
    // install the hints name that no elevated run recorded, or a recorded folder replaced).
    bool blocked = false;
};

// Records the folder an elevated install went to (its long form, volume and file id), as the
// install's folder and as the one chosen for the next install.
Result<> RecordInstallFolder(const Core::InstallFolder& folder);

// Records the folder the user chose in the elevated window for the next install (with its
// identity when it exists); it lasts until the user chooses again or installs elsewhere.
Result<> RecordChosenFolder(const Core::InstallFolder& folder);

// The folder's volume and file id as a record would hold them; none when it cannot be opened as a
// folder.
std::optional<Core::RecordedFolder> IdentifyInstallFolder(const Core::InstallFolder& folder);

// Whether Peldra registered Tovik from the recorded install folder that has this identity now,
// though the registration names the folder's path of then (it was renamed since): nothing else
// is at that path.
bool RegisteredFromRecordedFolder(const std::wstring& location,
                                  const std::optional<Core::RecordedFolder>& identity);

// The install in the folder was removed: forgets the install record when it names the folder with
// this identity (taken before the folder went), and the per-user value when it names the folder.
void ForgetInstallFolder(const Core::InstallFolder& folder,
                         const std::optional<Core::RecordedFolder>& identity);

namespace Detail
{

enum class RecordCheck
{
    None,     // no record, or its folder is gone (or was not there yet when it was recorded)
    Same,     // its folder is still the one recorded
    Replaced, // another folder is there now, or it cannot be checked
};

struct FolderFacts
{
    std::wstring typed;
    std::wstring recorded;
    RecordCheck record = RecordCheck::None;
    std::wstring stored; // the per-user InstallFolder value
    std::wstring defaultFolder;
    bool knownNotElevated = false;
    std::wstring chosen{}; // the chosen folder's record; empty when none
    RecordCheck choice = RecordCheck::None;
    bool storedHoldsInstall = false; // a state file is in the folder the per-user value names
    std::wstring registered{};       // the development-mode package's install location
    bool registeredHoldsInstall = false;
    Asker asker = Asker::CommandLine;
};

// The rule itself, from facts gathered before.
Result<FolderChoice> ChooseInstallFolder(const FolderFacts& facts, FolderUse use);

RecordCheck CheckRecordedFolder(const Core::RecordedFolder& record);

} // namespace Detail

} // namespace Pd::Install
