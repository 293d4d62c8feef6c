// Files the program writes in the user's own folders: the program log in the data folder and the
// Start menu's shortcut. The host, the tray and the window run elevated, and the user's
// unelevated programs can replace any of these folders with a link: nothing is created or
// written through a link, junction or mount point it did not make (the checks of NoLinks.h,
// from the user's profile folder down, and the handle's own path before a byte is written).
// The folders themselves come from Core::UserKnownFolder, which keeps an elevated process in the
// user's profile folder.
#pragma once

#include "core/Handles.h"
#include "core/Result.h"

#include <cstdio>
#include <string>
#include <string_view>

namespace Pd::Install
{

// The folder from which links are refused for a path in a per-user known folder: the user's
// profile (Core::UserProfileFolder) when the known folder lies in it, else the known folder
// itself (a redirected one, which only an unelevated process accepts).
std::wstring UserFolderRoot(const std::wstring& knownFolder);

// The program log's opener (Core::SetLogFileOpener): "bluetooth.log" in the data folder, which
// is created when missing; a log file with more than one name (hard links) is not written. A refusal also
// goes to the Application event log, since the background host has no console.
std::FILE* OpenDataFolderLog(std::string& problem);

// OpenDataFolderLog for the log folder below root.
std::FILE* OpenLogBelow(const std::wstring& root, const std::wstring& logFolder, std::string& problem);

} // namespace Pd::Install
