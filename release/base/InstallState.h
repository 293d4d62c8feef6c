// The state file "peldra.json" of an install folder: which release is installed, from which
// manifest, the download digest of every installed component, and which names directly under
// the folder belong to each component (and to the keys "release" and "host"), and every file and
// folder each of them placed there.
#pragma once

#include "core/Result.h"
#include "release/base/InstallFolder.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace Pd::Core
{

struct InstallState
{
    std::wstring version;
    std::wstring source;
    std::map<std::wstring, std::wstring> components;           // id -> packedSha256
    std::map<std::wstring, std::vector<std::wstring>> entries; // key -> names under the folder
    // key -> every file and folder the install created for it, relative to the install folder,
    // a folder with a trailing backslash. A key of entries without a list here was written by an
    // older version: the uninstall then goes by its names alone.
    std::map<std::wstring, std::vector<std::wstring>> placed;

    // The step of an install run that began and has not ended yet (UnfinishedInstall,
    // UnfinishedUpdate, UnfinishedProgram); empty once the run has got through. Written only when
    // set.
    std::wstring unfinished;

    // The folders (relative, trailing backslash; empty for the install folder itself) into which
    // a run is unpacking an archive right now: a run cut off leaves staged "*.new" files there
    // that no record names yet. Written only when not empty.
    std::vector<std::wstring> staging;

    // How many folders the first install created, counting up from the install folder itself
    // (1: the folder, 3: the folder and the two above it). Unknown in a state of an older
    // version, which the uninstall treats as before: the folder goes when it is empty.
    std::optional<std::uint32_t> createdFolders;

    // True when every component has an entry list (a state of an older version may lack them).
    bool HasAllEntries() const;

    bool operator==(const InstallState&) const = default;
};

// The install run's steps that leave the folder half done when they are cut off: downloading and
// unpacking, which place nothing final (staged files and downloads only); switching the new files
// in until the records and release files agree with them; and copying the program and setting up
// its background host.
inline constexpr const wchar_t* UnfinishedInstall = L"install";
inline constexpr const wchar_t* UnfinishedUpdate = L"update";
inline constexpr const wchar_t* UnfinishedProgram = L"program";
// An uninstall that began removing: the files the record lists may be gone in part.
inline constexpr const wchar_t* UnfinishedUninstall = L"uninstall";

// Writes "peldra.json.new" and moves it over "peldra.json".
Result<> WriteState(const InstallFolder& installFolder, const InstallState& state);

// Never fails: a missing or damaged file reads as the empty state.
InstallState ReadState(const InstallFolder& installFolder);

} // namespace Pd::Core
