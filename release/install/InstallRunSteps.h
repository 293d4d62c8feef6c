// The working values that the install run's first half (checks, download, unpack) hands to its
// second half (switch-over, records, registration), and that second half.
#pragma once

#include "release/base/InstallState.h"
#include "release/install/InstallRun.h"
#include "release/install/ProgressTracker.h"
#include "release/install/ReleasePlan.h"
#include "release/unpack/StagedFiles.h"
#include "release/windows/WindowsInfo.h"

#include <map>
#include <set>
#include <string>
#include <vector>

namespace Pd::Core
{

struct RunValues
{
    explicit RunValues(const Callbacks& callbacks) : tracker(callbacks) {}

    WindowsInfo windows;
    InstallState state;
    ReleasePlan plan;
    std::int32_t needed = 0;
    bool otherAccount = false;
    Install::StagedFiles staged;                               // in unpack order
    Install::StagedFiles releaseFiles;                         // "release.json", "release.cat"
    bool switched = false;                                     // the switch-over replaced a file
    std::map<std::wstring, std::vector<std::wstring>> entries; // component id -> its entry list
    std::map<std::wstring, std::vector<std::wstring>> placed;  // component id -> what it created
    std::map<std::wstring, std::vector<std::wstring>> earlier; // component id -> earlier runs' record
    // Components an older state names by their entries only: the uninstall removes those names
    // whole, so they get a record only once the exact one is known.
    std::set<std::wstring> namesOnly;
    std::vector<const Component*> digests; // unpacked files with a sha256
    ProgressTracker tracker;
};

// Steps 14 on: switch-over, records, features, registration, program copy, shortcut.
Result<Outcome> FinishInstall(const Manifest& manifest, const Options& options, const Callbacks& callbacks,
                              RunValues& run, const Detail::ProgramSetting& program);

// The state's record of a component: what earlier runs placed and is still there, joined with
// what this run placed so far.
void RecordPlaced(const Options& options, RunValues& run, const std::wstring& id);

// "<folder>\.download" and the download of a component in it.
std::wstring DownloadFolder(const InstallFolder& installFolder);
std::wstring DownloadPath(const InstallFolder& installFolder, const Component& component);

// The canceled run's error text.
std::wstring CanceledText();

// Asks the front end; no answer is no.
bool Ask(const Callbacks& callbacks, const std::wstring& question);

} // namespace Pd::Core
