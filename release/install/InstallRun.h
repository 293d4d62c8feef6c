// The install run: installs or updates one release of Tovik into an install folder, from the
// checks through download, unpacking, switch-over and records to the package registration, the
// program copy and the Start-menu shortcut. It runs on the caller's thread and reports through
// the callbacks.
#pragma once

#include "core/Level.h"
#include "core/Result.h"
#include "release/base/Callbacks.h"
#include "release/base/InstallFolder.h"
#include "release/manifest/Manifest.h"
#include "release/program/ProgramInstall.h"

#include <cstdint>
#include <expected>
#include <set>
#include <stop_token>
#include <string>
#include <vector>

namespace Pd::Core
{

struct Options
{
    InstallFolder installFolder;
    bool registerPackage = true; // false stops once the release files are in place
    bool keepDownloads = false;  // true leaves the downloaded files in "<folder>\.download"
};

struct Outcome
{
    bool restartNeeded = false;         // enabling Virtual Machine Platform asked for a restart
    std::int32_t componentsUpdated = 0; // the components the plan marked as needed
};

// A run that did not get through: the complete text for the user, and whether it was cancelled
// (a question answered no, which always ends the run, or a stop request). Callers tell a
// cancellation by the flag, never by the text, which is in the user's language.
struct RunFailure
{
    std::wstring text;
    bool canceled = false;
};

// Installs the release. A question declined, or the stop token triggered at one of the run's own
// checks, ends it with "Canceled."; every other failure is a complete text for the user.
std::expected<Outcome, RunFailure> Run(const Manifest& manifest, const Options& options,
                                       const Callbacks& callbacks, std::stop_token stop);

// Passes one line to the log callback, if there is one.
void LogLine(const Callbacks& callbacks, Pd::Level level, const std::wstring& text);

// "<id> files" for an archive, else the target's file name.
std::wstring ComponentDisplayName(const Component& component);

// The names directly under the install folder that a component owns: the target's first path
// element, or for an archive unpacked into the folder itself every first element of its entries.
std::vector<std::wstring> ComponentEntries(const Component& component,
                                           const std::set<std::wstring>& archiveNames);

namespace Detail
{
// Run with the program copy's setting of the caller's making (where the program runs from and
// goes to, and the host controls).
Result<Outcome> RunWith(const Manifest& manifest, const Options& options, const Callbacks& callbacks,
                        std::stop_token stop, const ProgramSetting& program);
} // namespace Detail

} // namespace Pd::Core
