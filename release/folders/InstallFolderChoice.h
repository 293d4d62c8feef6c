// The install folder of an elevated run, in one place for every command, the window and the host.
// A folder other than the default one is acted on only when the user names it for this command
// (--dir, or the window's folder picker) or an elevated install recorded it where only
// administrators write (MachineRecords.h), and the folder there is still the one recorded (same
// volume and file id). The per-user InstallFolder value and the package registration's install
// location are written by any program of the user: they are hints, shown and never acted on;
// only a run that is known not to be elevated and only shows may follow the per-user value.
#pragma once

#include "core/Result.h"
#include "release/base/InstallFolder.h"
#include "release/base/MachineRecords.h"

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
    Record,
    Default,
    Hint, // the per-user value, for a run known not to be elevated that only shows
};

struct FolderChoice
{
    Core::InstallFolder folder;
    FolderFrom from = FolderFrom::Default;
    std::wstring notice; // names a folder that is not acted on and the one that is; empty if none
};

// The folder for this run: `typed` when given, else the recorded folder, else the default one. A
// per-user value that names another folder than the record is named in the notice; one that
// names another folder than the default, with no record, fails the choice, as does a record
// whose folder was replaced: the user then names the folder with --dir.
Result<FolderChoice> ResolveInstallFolder(std::wstring_view typed, FolderUse use);

// The window's and the host's folder, which they always need: ResolveInstallFolder with nothing
// typed, or the default folder with the refusal as its notice.
FolderChoice FolderToShow();

// Records the folder an elevated install went to (its long form, volume and file id).
Result<> RecordInstallFolder(const Core::InstallFolder& folder);

// Forgets the record when it names this folder (its install was removed).
void ForgetInstallFolder(const Core::InstallFolder& folder);

namespace Detail
{

enum class RecordCheck
{
    None,     // no record, or its folder is gone: nothing of it to act on
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
};

// The rule itself, from facts gathered before.
Result<FolderChoice> ChooseInstallFolder(const FolderFacts& facts, FolderUse use);

RecordCheck CheckRecordedFolder(const Core::RecordedFolder& record);

} // namespace Detail

} // namespace Pd::Install
