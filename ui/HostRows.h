// The rows of the "This PC" card: what each says, its tone and its note, from the window's facts.
#pragma once

#include "core/TextId.h"
#include "release/windows/WindowsInfo.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace Pd::Ui
{

enum class Tone : int
{
    Good = 0,
    Attention = 1,
    Bad = 2,
    Neutral = 3,
};

struct HostRow
{
    TextId label{};
    std::wstring value;
    Tone tone = Tone::Neutral;
    std::wstring note;
    bool reservesRegister = false; // leaves room for the Register button on its right
};

struct HostFacts
{
    const Pd::Core::WindowsInfo* windows = nullptr; // null until a release check returned them
    bool packageFromInstallFolder = false;          // the package's folder is the install folder
    bool releaseChecked = false;
    std::uint64_t bluetoothAdapter = 0;
    std::uint32_t releaseState = 0;
    bool bridgeOn = false;
    bool connected = false;
    bool startWithWindows = false;
    bool showsRegistration = false;
    bool registrationRequested = false;
    bool playRegistered = false;
    std::optional<std::wstring> helloBridgeHolder; // a program other than Peldra holding its name
};

std::vector<HostRow> HostRows(const HostFacts& facts);

} // namespace Pd::Ui
