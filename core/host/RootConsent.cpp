#include "core/host/RootConsent.h"

#include "core/Elevation.h"
#include "core/host/HostSettings.h"
#include "core/Settings.h"

#include <windows.h>

#include <cstdint>
#include <string>

namespace Pd::Host
{
namespace
{

constexpr std::uint32_t RootBit = 1;
constexpr std::uint32_t SuBit = 2;
constexpr std::uint32_t MagiskBit = 4;

// Empty when the user cannot be told: nothing is then recorded, and nothing counts as confirmed.
std::wstring MachineValueName(const wchar_t* prefix)
{
    const std::wstring user = Core::ProcessUserSid();
    return user.empty() ? std::wstring() : prefix + user;
}

std::wstring ConfirmedValueName()
{
    return MachineValueName(L"RootConfirmed-");
}

std::wstring ChoicesValueName()
{
    return MachineValueName(L"RootChoices-");
}

std::uint32_t ReadMachineDword(const std::wstring& name)
{
    std::uint32_t value = 0;
    DWORD size = sizeof(value);
    if (name.empty() || ::RegGetValueW(HKEY_LOCAL_MACHINE, Core::SettingsKey, name.c_str(), RRF_RT_REG_DWORD,
                                       nullptr, &value, &size) != ERROR_SUCCESS)
        return 0;
    return value;
}

std::uint8_t WideningBits(const RootWidening& widening)
{
    return static_cast<std::uint8_t>((widening.root ? 1 : 0) | (widening.appsAsk ? 2 : 0) |
                                     (widening.androidPrompt ? 4 : 0));
}

// Everything the settings allow, as a widening from nothing.
RootWidening AllowedBy(const RootSettings& settings)
{
    return {settings.root, settings.root && (settings.su || settings.magisk),
            settings.root && settings.magisk};
}

} // namespace

RootSettings StoredRootSettings()
{
    return {ElevationEnabled(), ElevationSuEnabled(), ElevationMagiskEnabled()};
}

void WriteStoredRootSettings(const RootSettings& settings)
{
    Core::WriteUserDword(L"Elevation", settings.root ? 1 : 0);
    Core::WriteUserDword(L"ElevationSu", settings.su ? 1 : 0);
    Core::WriteUserDword(L"ElevationMagisk", settings.magisk ? 1 : 0);
}

RootSettings ConfirmedRootSettings()
{
    const std::uint32_t bits = ReadMachineDword(ConfirmedValueName());
    return {(bits & RootBit) != 0, (bits & SuBit) != 0, (bits & MagiskBit) != 0};
}

long RecordConfirmedRootSettings(const RootSettings& settings)
{
    const std::wstring name = ConfirmedValueName();
    const std::uint32_t bits =
        (settings.root ? RootBit : 0) | (settings.su ? SuBit : 0) | (settings.magisk ? MagiskBit : 0);
    if (name.empty())
        return ERROR_INVALID_SID;
    return ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, Core::SettingsKey, name.c_str(), REG_DWORD, &bits,
                             sizeof(bits));
}

std::uint32_t CountedRootChoices()
{
    return ReadMachineDword(ChoicesValueName());
}

long CountRootChoice()
{
    const std::wstring name = ChoicesValueName();
    if (name.empty())
        return ERROR_INVALID_SID;
    const std::uint32_t count = ReadMachineDword(name) + 1; // wraps: only a change counts
    return ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, Core::SettingsKey, name.c_str(), REG_DWORD, &count,
                             sizeof(count));
}

RootSettings RecordAfterChoice(const RootSettings& confirmed, RootChoice choice)
{
    RootSettings record = confirmed;
    switch (choice.setting)
    {
    case RootSetting::Root:
        record.root = choice.on;
        break;
    case RootSetting::Su:
        record.su = choice.on;
        break;
    case RootSetting::Magisk:
        record.magisk = choice.on;
        break;
    }
    return record;
}

RootSettings CommonRootSettings(const RootSettings& a, const RootSettings& b)
{
    return {a.root && b.root, a.su && b.su, a.magisk && b.magisk};
}

RootWidening WideningOf(const RootSettings& from, const RootSettings& to)
{
    const RootWidening before = AllowedBy(from);
    const RootWidening after = AllowedBy(to);
    return {after.root && !before.root, after.appsAsk && !before.appsAsk,
            after.androidPrompt && !before.androidPrompt};
}

bool DeclinedWidenings::Cover(const RootWidening& widening) const
{
    const std::uint8_t asked = WideningBits(widening);
    for (unsigned declined = 1; declined < 8; ++declined)
        if ((bits_ & (1u << declined)) != 0 && (asked & declined) == declined)
            return true;
    return false;
}

void DeclinedWidenings::Add(const RootWidening& widening)
{
    if (const std::uint8_t bits = WideningBits(widening); bits != 0)
        bits_ = static_cast<std::uint8_t>(bits_ | (1u << bits));
}

RootChangeStep DecideRootChange(const RootSettings& confirmed, const RootSettings& stored, bool elevated,
                                bool declinedBefore, const std::function<bool()>& confirm)
{
    if (!elevated || !Widens(confirmed, stored))
        return RootChangeStep::Adopt;
    if (declinedBefore)
        return RootChangeStep::WriteBack;
    return confirm && confirm() ? RootChangeStep::Adopt : RootChangeStep::WriteBack;
}

} // namespace Pd::Host
