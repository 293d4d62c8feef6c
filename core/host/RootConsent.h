// Which root settings the user has confirmed. Elevation, ElevationSu and ElevationMagisk are
// per-user values that any program of the user can write; the settings last confirmed are kept
// beside them in the machine's settings key (HKEY_LOCAL_MACHINE "Software\Ormel\Peldra",
// "RootConfirmed-<user's SID>"), which only administrators can write. The host serves root only
// with settings that widen nothing beyond the confirmed ones; a wider change is confirmed first
// (by the program that makes it, or by the host), and a declined one is written back.
#pragma once

#include <functional>

namespace Pd::Host
{

struct RootSettings
{
    bool root = false;   // Elevation
    bool su = false;     // ElevationSu
    bool magisk = false; // ElevationMagisk
    bool operator==(const RootSettings&) const = default;
};

// The three per-user values as they are stored now.
RootSettings StoredRootSettings();

// Writes the three per-user values; failed writes are ignored.
void WriteStoredRootSettings(const RootSettings& settings);

// The settings last confirmed; all off when none are recorded.
RootSettings ConfirmedRootSettings();

// Records the settings as confirmed; false when they cannot be written (no administrator rights).
bool RecordConfirmedRootSettings(const RootSettings& settings);

// What `to` allows that `from` does not. Turning things off, or Magisk off with su on (Windows
// Hello's prompt again, for the same apps), adds nothing.
struct RootWidening
{
    bool root = false;          // root for Android apps
    bool appsAsk = false;       // every app sees su: ours, or Magisk's own
    bool androidPrompt = false; // Magisk's prompt inside Android decides instead of Windows Hello's
    bool Any() const { return root || appsAsk || androidPrompt; }
};
RootWidening WideningOf(const RootSettings& from, const RootSettings& to);

inline bool Widens(const RootSettings& from, const RootSettings& to)
{
    return WideningOf(from, to).Any();
}

enum class RootChangeStep
{
    Adopt,     // serve the stored settings (and record them as confirmed)
    WriteBack, // keep the confirmed settings and write them back over the stored ones
};

// The host's decision for stored settings that differ from the confirmed ones: a widening
// change is asked through `confirm` (called only then); a host without administrator rights
// serves no root requests, so it adopts without asking.
RootChangeStep DecideRootChange(const RootSettings& confirmed, const RootSettings& stored, bool elevated,
                                const std::function<bool()>& confirm);

} // namespace Pd::Host
