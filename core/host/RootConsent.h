// Which root settings the user has confirmed. Elevation, ElevationSu and ElevationMagisk are
// per-user values that any program of the user can write; the settings last confirmed are kept
// beside them in the machine's settings key (HKEY_LOCAL_MACHINE "Software\Ormel\Peldra",
// "RootConfirmed-<user's SID>"), which only administrators can write. The host serves root only
// with settings that widen nothing beyond the confirmed ones; a wider change is confirmed first
// (by the program that makes it, or by the host), and a declined one is written back.
#pragma once

#include <cstdint>
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

// Records the settings as confirmed: the registry status, ERROR_ACCESS_DENIED without
// administrator rights, ERROR_INVALID_SID when the user cannot be told.
long RecordConfirmedRootSettings(const RootSettings& settings);

// How often the user turned a root setting on in an elevated Peldra (its window, its tray, a
// command line with administrator rights): "RootChoices-<user's SID>" beside the record, which
// only administrators write, so another program of the user cannot make it change. 0 when none
// are counted.
std::uint32_t CountedRootChoices();

// Counts one more choice: the registry status, ERROR_ACCESS_DENIED without administrator rights.
long CountRootChoice();

// One setting the user turned on or off in Peldra's own command line, tray or window.
enum class RootSetting
{
    Root,   // Elevation
    Su,     // ElevationSu
    Magisk, // ElevationMagisk
};
struct RootChoice
{
    RootSetting setting;
    bool on;
};

// What is recorded as confirmed once the user's choice is carried out: the confirmed settings
// with the chosen one set, computed from the choice alone, never from the per-user values, which
// any program of the user may have rewritten meanwhile. Turning off is their minimum; turning on
// confirms that one setting (asked first when it widens), never a bit that was preset beside it.
RootSettings RecordAfterChoice(const RootSettings& confirmed, RootChoice choice);

// Each setting on only where both have it on: what a change that widens nothing may record,
// since a bit set while root is off was never asked for.
RootSettings CommonRootSettings(const RootSettings& a, const RootSettings& b);

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

// The widenings the user declined in the host's prompt. A widening that includes everything of
// one declined is not asked again: it would repeat a question the user said no to. There are
// only a few distinct widenings, so all of them fit for the host's life.
class DeclinedWidenings
{
public:
    bool Cover(const RootWidening& widening) const;
    void Add(const RootWidening& widening);
    void Clear() { bits_ = 0; }

private:
    std::uint8_t bits_ = 0; // bit n: the widening numbered n (root 1, apps ask 2, Android's prompt 4)
};

enum class RootChangeStep
{
    Adopt,     // serve the stored settings (and record them as confirmed)
    WriteBack, // keep the confirmed settings and write them back over the stored ones
};

// The host's decision for stored settings that differ from the confirmed ones: a widening
// change is asked through `confirm` (called only then), unless the user declined it before
// (`declinedBefore`): it is then written back without asking, so that a program that rewrites the
// values cannot bring prompt after prompt. A host without administrator rights serves
// no root requests, so it adopts without asking.
RootChangeStep DecideRootChange(const RootSettings& confirmed, const RootSettings& stored, bool elevated,
                                bool declinedBefore, const std::function<bool()>& confirm);

} // namespace Pd::Host
