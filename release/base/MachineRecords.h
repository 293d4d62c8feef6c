// What an elevated run recorded for the user where only administrators write: beside the root
// record ("RootConfirmed-<SID>") in the machine's settings key (HKEY_LOCAL_MACHINE
// "Software\Ormel\Peldra"), one value a record, named with the user's SID. The per-user values of
// the same names (HKCU) are kept for what reads them, but any program of the user can write them,
// so an elevated run decides from these records only. This file is their one reader and writer.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace Pd::Core
{

// A folder recorded for the user: its long form, and the volume serial number and file id it had
// then, so that a folder put in its place later is not taken for it. A folder that did not exist
// yet when it was recorded (a folder chosen for an install to create) has neither (both zero).
struct RecordedFolder
{
    std::wstring path;
    std::uint64_t volume = 0;
    std::array<std::uint8_t, 16> fileId{};
    bool Identified() const;
    bool SameIdentity(const RecordedFolder& other) const;
    bool operator==(const RecordedFolder&) const = default;
};

enum class FolderRecord
{
    Installed, // "InstallFolder-<SID>": where the last elevated install went; updates and the
               // uninstall act there
    Chosen,    // "ChosenFolder-<SID>": the folder the user chose in the elevated window (or the
               // last install went to), where an install goes when no folder is typed
};

// The record; none when there is none, it cannot be read or its text is not one this program
// writes.
std::optional<RecordedFolder> ReadRecordedFolder(FolderRecord record = FolderRecord::Installed);

// Records the folder; false when it cannot be written (no administrator rights).
bool WriteRecordedFolder(const RecordedFolder& folder, FolderRecord record = FolderRecord::Installed);

// Deletes the record.
void ForgetRecordedFolder(FolderRecord record = FolderRecord::Installed);

// The Windows features an install turned on for the user ("EnabledDeveloperMode-<SID>",
// "EnabledVirtualMachinePlatform-<SID>"): only those may the uninstall turn off again.
enum class RecordedFeature
{
    DeveloperMode,
    VirtualMachinePlatform,
};

// The per-user value of the same meaning (the name without the SID).
const wchar_t* FeatureValueName(RecordedFeature feature);

bool FeatureRecorded(RecordedFeature feature);

// Records that the install turned the feature on; false when it cannot be written.
bool RecordFeature(RecordedFeature feature);

void ForgetFeature(RecordedFeature feature);

} // namespace Pd::Core
