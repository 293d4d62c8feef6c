// The commands of the command line: each takes the console and the parsed arguments and returns
// its exit code.
#pragma once

#include "cli/Args.h"
#include "cli/Console.h"
#include "cli/ExitCode.h"

#include <string_view>

namespace Pd::Cli
{

// The refusal of the commands that change the system.
inline constexpr std::wstring_view NeedsAdministratorText =
    L"run this from an elevated (administrator) prompt";

// "Peldra 0.1.2" on the output stream.
ExitCode Version(Console& console, const Args& args);

// status: Windows, Virtual Machine Platform, developer mode, the installed Tovik and the host's
// settings; always 0.
ExitCode Status(Console& console, const Args& args);

// check: the release manifest and what an install would download; 3 when it cannot be read.
ExitCode Check(Console& console, const Args& args);

// install: downloads, verifies, unpacks and registers the release; questions are answered from
// --yes. 3 without administrator rights or a readable manifest, 4 when it was cancelled,
// 5 when Windows must restart.
ExitCode Install(Console& console, const Args& args);

// uninstall [--all]: without --yes only says what would go (4); with it, hands over to the
// program's own installer package when there is one (unless --from-setup, the package's own call),
// or removes the release in place; 1 when items stayed behind, 5 when Windows must restart.
ExitCode Uninstall(Console& console, const Args& args);

// bluetooth [--list-vms]: the Bluetooth bridge until Ctrl+C (administrator); 3 when it cannot serve.
ExitCode Bluetooth(Console& console, const Args& args);

// hello [--check|--test|remember ...]: the Windows Hello bridge until Ctrl+C (administrator), the
// availability check (3 when unavailable) or a test prompt (0 verified, 4 canceled, 1 otherwise).
ExitCode Hello(Console& console, const Args& args);

// hello remember [off|5|30|lock] [--yes]: shows or stores how long a confirmation is remembered;
// 2 for another word, 4 when a remembering value lacks --yes, 1 when it cannot be stored.
ExitCode HelloRemember(Console& console, const Args& args);

// verify [folder]: whether the installed release (or the one in folder) is official and
// unchanged: 0 yes, 1 no, 3 nothing installed.
ExitCode Verify(Console& console, const Args& args);

// stop: shuts Tovik down and frees its memory (administrator).
ExitCode StopTovik(Console& console, const Args& args);

// launch: starts Android with its store, or its settings when the release has no store.
ExitCode Launch(Console& console, const Args& args);

// settings: opens Android's own settings.
ExitCode OpenSettings(Console& console, const Args& args);

// register: asks the background host to register this PC with Google Play, starting Android
// first when it has not handed over its device id yet.
ExitCode Register(Console& console, const Args& args);

// elevation [on|off | su on|off | magisk on|off]: the root settings of the host's elevation
// bridge; without a word, the settings. 2 for a usage mistake, 1 when a setter or the Magisk
// download fails, 3 when no Magisk release is found.
ExitCode Elevation(Console& console, const Args& args);

// modem: the messages in the PC's modem and the emulated modem's answers to probe lines; 3 when
// the PC has no mobile broadband modem.
ExitCode Modem(Console& console, const Args& args);

// lng-export <file>: the translator's template with every built-in text.
ExitCode ExportLanguage(Console& console, const Args& args);

// lng-check [file]: coverage and placeholder check of one language file or of every file in the
// language folder.
ExitCode CheckLanguages(Console& console, const Args& args);

} // namespace Pd::Cli
