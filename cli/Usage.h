// The usage text of the command line (also shown by the window) and the help words.
#pragma once

#include <string>
#include <string_view>

namespace Pd::Cli
{

// The whole usage text, with the default install folder named in the --dir entry.
std::wstring UsageText();

// The same for a given default install folder.
std::wstring UsageText(std::wstring_view defaultInstallFolder);

// True for "help", "--help", "-help", "-h", "-?", "/?", "/h" and "/help" in any letter case.
bool IsHelpWord(std::wstring_view word);

} // namespace Pd::Cli
