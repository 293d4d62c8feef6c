// Which of the main window's commands may run now, decided from one snapshot of its state.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace Pd::Ui
{

struct CommandState
{
    bool busy = false;           // an operation runs on the worker
    bool checking = false;       // a release check runs on the worker
    bool uninstalling = false;   // the running operation is the uninstall
    bool facts = false;          // the Windows facts of a release check have arrived
    std::uint32_t build = 0;     // Windows build of those facts
    bool package = false;        // the facts name an installed Tovik package
    bool manifest = false;       // a release manifest was read
    std::wstring variant;        // its variant text
    std::wstring minimumProgram; // its app record's minimum program version, or empty
    std::wstring programVersion; // the running program's version
    bool installFolderExists = false;
    bool stateFileInFolder = false;
    bool logHasEntries = false;
    std::uint64_t bluetoothAdapter = 0;
    bool bridgeOn = false;
    bool bluetoothLogExists = false;
    bool elevation = false;
    bool elevationMagisk = false;
    bool appUpdate = false; // a newer program is offered
};

// The enabled rule of the command's row (ui/MainCommandTable.h); an id without a row is enabled.
bool IsCommandEnabled(unsigned id, const CommandState& state);

// A release variant that brings Google Play: at least six characters holding "Google".
bool VariantHasGoogle(std::wstring_view variant);

} // namespace Pd::Ui
