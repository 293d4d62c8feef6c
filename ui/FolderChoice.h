// Small decisions of the main window's commands that need no window.
#pragma once

#include "core/Result.h"

#include <optional>
#include <string>
#include <vector>

namespace Pd::Ui
{

// The install folder for a folder the user picked: the folder itself when it is empty or already
// holds "peldra.json", else its subfolder "Peldra", so that an install never spreads over a
// folder of other files. A folder whose state cannot be read counts as not empty.
std::wstring InstallFolderForChoice(const std::wstring& picked);

// Opens the install folder for the user, with the user's normal rights. The folder comes from the
// user's settings, which any program of the user can change: only an existing folder is opened,
// never a file or program, and a refusal names what is there.
Pd::Result<> OpenInstallFolder(const std::wstring& folder);

// The parent of a path: up to its last separator, without trailing separators.
std::wstring ParentFolder(const std::wstring& path);

// Empty when the first value is an https:// address or a loopback http address with a path,
// else the error text to show.
std::optional<std::wstring> ValidateManifestUrl(const std::vector<std::wstring>& values);

} // namespace Pd::Ui
