// The Start-menu shortcut that opens Android's settings through the Tovik client's alias: the
// install run creates it, the uninstall deletes it. The calling thread has COM initialised.
#pragma once

#include "core/Result.h"

#include <string>
#include <vector>

namespace Pd::Install
{

// The arguments that make a shortcut the settings shortcut.
inline constexpr const wchar_t* SettingsShortcutArguments = L"/launch tovik://com.android.settings";

// Full paths of the shortcuts directly in the Start menu's programs folder whose arguments are
// the settings shortcut's (letter case aside).
std::vector<std::wstring> FindTovikSettingsShortcuts();

// Replaces every settings shortcut by "<Programs>\<name>.lnk" with the name as its description,
// the icon file's second icon, and Android's settings as its app id.
Result<> CreateTovikSettingsShortcut(const std::wstring& name, const std::wstring& iconPath);

} // namespace Pd::Install
