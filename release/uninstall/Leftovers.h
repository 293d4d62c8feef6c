// What Windows keeps of Tovik after its package is gone: registry entries of the current user
// that name the package or a file the install placed, and shortcuts on the Start menu, the desktop and
// the taskbar. The clean-up deletes them, counts what it deleted and hands every failure to the
// caller's reporter. Every registry operation here works under HKEY_CURRENT_USER.
//
// winreg.h's macros rename the helpers RegDeleteTree and RegDeleteValue below to RegDeleteTreeW and
// RegDeleteValueW (everywhere alike, since this header includes windows.h). An unqualified call of
// the system function inside them would therefore call the helper itself: they call the system
// functions by their explicit W names in the global scope.
#pragma once

#include "release/base/Callbacks.h"

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace Pd::Install
{

struct LeftoverCounts
{
    std::uint32_t shortcuts = 0;
    std::uint32_t registryKeys = 0;
    std::uint32_t registryValues = 0;

    bool operator==(const LeftoverCounts&) const = default;
};

// Receives one complete failure text.
using FailureReporter = Core::LogText;

// The package family name followed by "!": how the app user model ids of Tovik's apps begin.
std::wstring AppPrefix();

// What the install recorded as its own, as full paths: files, matched as themselves, and the
// names an older state file recorded, matched with everything below them. Lying in the install
// folder alone never makes a path the program's: other programs may live below it.
struct OwnedPaths
{
    std::vector<std::wstring> files;
    std::vector<std::wstring> trees;

    // Whether the path is one of them (letter case aside). A registry name may carry a suffix
    // after the path (".FriendlyAppName"), and spell its backslashes as `separator`.
    bool Holds(const std::wstring& path) const;
    bool NamedBy(const std::wstring& registryName, const std::wstring& separator = L"\\") const;
};

// Deletes Tovik's registry entries and shortcuts. Entries that only a path ties to Tovik are
// matched against the paths the install owns.
LeftoverCounts CleanTovikLeftovers(const OwnedPaths& owned, const FailureReporter& report);

// Local AppData\Packages\<family name>: the Android data of the current account (not checked to
// exist); empty when Local AppData cannot be resolved.
std::wstring TovikDataFolder();

// Names of a key's subkeys and values, in enumeration order; empty when the key does not open.
// Entries that fail to enumerate are skipped.
std::vector<std::wstring> RegSubkeyNames(const std::wstring& key);
std::vector<std::wstring> RegValueNames(const std::wstring& key);

// A REG_SZ or REG_EXPAND_SZ value as stored (not expanded, cut at the first NUL); empty when it
// is missing, empty, of another type or unreadable. A null name reads the default value.
std::wstring RegReadString(const std::wstring& key, const wchar_t* valueName);

// One clean-up under way: what it deleted so far, and where its failures go.
struct LeftoverCleanup
{
    LeftoverCounts counts;
    FailureReporter report;
};

// Deletes a key with everything below it and counts one key; a missing key is no failure.
void RegDeleteTree(LeftoverCleanup& cleanup, const std::wstring& key);

// Deletes one value and counts it; a missing key or value is no failure.
void RegDeleteValue(LeftoverCleanup& cleanup, const std::wstring& key, const std::wstring& name);

// Deletes every subkey whose name starts with the prefix (letter case aside); an empty prefix
// deletes nothing.
void RegDeleteMatchingSubkeys(LeftoverCleanup& cleanup, const std::wstring& key, const std::wstring& prefix);

// Deletes the shortcuts in a folder (and below it when recursive) that point to Tovik.
void DeleteTovikShortcuts(LeftoverCleanup& cleanup, const std::wstring& folder, bool recursive,
                          const OwnedPaths& owned);

// Whether a shortcut file points to Tovik: its target names the package family, or is a path the
// install owns, or is Tovik's client started with a "tovik://" address. A shortcut that cannot
// be loaded does not. The calling thread has COM initialised.
bool ShortcutPointsToTovik(const std::wstring& shortcutPath, const OwnedPaths& owned);

namespace Detail
{
// Where the shortcuts are looked for, and how the shell hears that associations changed.
struct LeftoverPlaces
{
    std::wstring programs;   // recursive
    std::wstring desktop;    // top level only
    std::wstring userPinned; // recursive
    std::function<void()> associationsChanged;
};
LeftoverPlaces CurrentPlaces();
LeftoverCounts CleanTovikLeftoversIn(const OwnedPaths& owned, const FailureReporter& report,
                                     const LeftoverPlaces& places);
} // namespace Detail

} // namespace Pd::Install
